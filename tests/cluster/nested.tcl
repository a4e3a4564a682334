# nested.tcl - the publishing node's nested canvases for the mirror
# restart test: a child shown through a canvas element, a canvas with a
# parent, and a label on a scene node the mirror's node makes later.
node create box -shape box -size {1 1 1} -pos {2.5 -0.5 0} -color {0.2 0.6 0.9}
canvas create board -org {0 0.5 0} -colvec {8 0 0} -rowvec {0 -5 0} -cols 160 -rows 100 -bg {0.12 0.12 0.16}
canvas add board rect 8 8 38 30 -fill {0.9 0.3 0.2}
canvas create kid -layer none -org {0 0 0} -colvec {2 0 0} -rowvec {0 -1 0} -cols 40 -rows 20 -bg {0.7 0.2 0.5}
canvas add kid rect 4 4 20 12 -fill white
canvas add board canvas -canvas kid -offset {40 10}
canvas create inner -parent board -org {-3 -1 0} -colvec {2 0 0} -rowvec {0 -1 0} -cols 20 -rows 10 -bg navy
canvas add inner polygon {2 2 18 2 10 9} -fill gold
canvas create tag -node box -org {0 1 0.6} -colvec {1 0 0} -rowvec {0 -0.5 0} -cols 20 -rows 10 -bg {0 0.5 0}
canvas add tag text 10 5 -text "box" -size {4 4}
canvas add board text 80 60 -text "nested" -size {8 8}
frame 3
