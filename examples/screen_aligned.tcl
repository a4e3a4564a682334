# screen_aligned.tcl - a canvas with both lock axes stands parallel to the
# screen at its origin's depth, whichever way the viewer looks at it.
source [file join [file dirname [info script]] common.tcl]
viewport configure view -eye {7 4 7}
node create post -shape box -size {0.2 3 0.2} -pos {0 -0.5 0} -color {0.6 0.6 0.6}
canvas create label -org {0 1.3 0} -colvec {3 0 0} -rowvec {0 -1 0} -cols 12 -rows 4 \
    -lock {row col} -anchor rowend -bg {0 0 0} -opacity 0.85
canvas add label text 6 2 -text "always\nface-on" -size {2 2} -fill {1 1 0.6}
canvas create flat -org {0 -1.9 0} -colvec {3 0 0} -rowvec {0 0 1} -cols 12 -rows 4 -bg {0.3 0.1 0.1}
canvas add flat text 6 2 -text "lying flat" -size {2 2}
finish
