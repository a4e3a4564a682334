# build.tcl - the publishing node's canvases for the cluster tests: shapes,
# text, an image (its file travels by content) and a playing pattern.
canvas create board -org {0 0.5 0} -colvec {8 0 0} -rowvec {0 -5 0} -cols 160 -rows 100 -bg {0.12 0.12 0.16}
canvas add board rect 8 8 38 30 -fill {0.9 0.3 0.2}
canvas add board circle 135 19 11 -fill green
canvas add board text 80 60 -text "on every node" -size {8 8}
image create tiles -file [file join [file dirname [info script]] .. .. examples media tiles.png]
canvas add board image 46 40 76 70 -image tiles
canvas add board video 90 70 130 95 -pattern 1 -size {80 60}
canvas create inset -parent board -org {-3 -1 0} -colvec {2 0 0} -rowvec {0 -1 0} -cols 20 -rows 10 -bg navy
canvas add inset polygon {2 2 18 2 10 9} -fill gold
frame 10
