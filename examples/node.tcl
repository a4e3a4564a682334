# node.tcl - canvases placed on scene nodes follow them: one lies on a
# turned box's face, one hangs on a child node.
source [file join [file dirname [info script]] common.tcl]
node create box -shape box -size {2 2 2} -rot {35 20 0} -color {0.7 0.25 0.2}
node create arm -parent box -pos {0 2 0}
canvas create face -node box -org {0 0 1.01} -colvec {1.8 0 0} -rowvec {0 -1.8 0} \
    -cols 6 -rows 6 -bg {0.95 0.9 0.8}
canvas add face text 3 3 -text "on\nthe\nbox" -size {1.8 1.8} -fill {0.2 0.1 0.1}
canvas create flag -node arm -org {0 0.5 0} -colvec {2 0 0} -rowvec {0 -0.5 0} \
    -cols 8 -rows 2 -bg {0.1 0.3 0.6}
canvas add flag text 4 1 -text "child node" -size {1.5 1.5}
finish
