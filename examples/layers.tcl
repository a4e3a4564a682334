# layers.tcl - one world canvas in each layer. The background canvas lies
# behind the host's background nodes, the scene canvas is depth-tested
# against the scene, and the foreground canvas is drawn over everything.
source [file join [file dirname [info script]] common.tcl]
node create sun -shape sphere -size {2 2 2} -pos {-3 3 -12} -layer background -color {1 0.8 0.3}
node create box -shape box -size {1.5 1.5 1.5} -pos {1 -0.5 1} -color {0.8 0.2 0.2}

canvas create back -layer background -org {0 2 -12} -colvec {16 0 0} -rowvec {0 -4 0} \
    -cols 32 -rows 8 -bg {0.1 0.15 0.35}
canvas add back text 16 4 -text "background layer" -size {4 4}
canvas create middle -layer scene -org {0 0 0} -colvec {4 0 0} -rowvec {0 -1.5 0} \
    -cols 16 -rows 6 -bg {0.1 0.35 0.1}
canvas add middle text 8 3 -text "scene layer" -size {2.5 2.5}
canvas create front -layer foreground -org {1 -0.5 2} -colvec {3 0 0} -rowvec {0 -0.75 0} \
    -cols 12 -rows 3 -bg {0.4 0.1 0.4} -opacity 0.8
canvas add front text 6 1.5 -text "foreground" -size {2 2}
finish
