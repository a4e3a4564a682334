# facing.tcl - canvases that turn toward the viewer about one axis: the
# row axis (a vertical sign turning like a door) and the column axis (a
# horizontal sign tilting like a visor).
source [file join [file dirname [info script]] common.tcl]
viewport configure view -eye {6 5 7}
canvas create door -org {-2 1 0} -colvec {3 0 0} -rowvec {0 -1 0} -cols 12 -rows 4 \
    -lock row -bg {0.35 0.25 0.05}
canvas add door text 6 2 -text "row axis" -size {2 2}
canvas create visor -org {2 1 0} -colvec {3 0 0} -rowvec {0 -1 0} -cols 12 -rows 4 \
    -lock col -bg {0.25 0.05 0.3}
canvas add visor text 6 2 -text "column axis" -size {2 2}
canvas create still -org {0 -1 0} -colvec {3 0 0} -rowvec {0 -1 0} -cols 12 -rows 4 -bg {0.1 0.2 0.3}
canvas add still text 6 2 -text "not locked" -size {2 2}
finish
