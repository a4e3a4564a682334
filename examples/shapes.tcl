# shapes.tcl - every shape kind on one canvas facing the viewer: filled
# and outlined rectangles, circles (one an ellipse by its scale), arcs
# and pie slices (one with a negative sweep), a polyline, a concave
# polygon and a self-crossing star.
source [file join [file dirname [info script]] common.tcl]

canvas create board -layer scene -org {0 0.5 0} -colvec {8 0 0} -rowvec {0 -5 0} \
    -cols 160 -rows 100 -bg {0.12 0.12 0.16}
# Rectangles: fill only, outline only, both.
canvas add board rect 8 8 38 30 -fill {0.9 0.3 0.2}
canvas add board rect 46 8 76 30 -fill none -outline {1 1 1} -width 3
canvas add board rect 84 8 114 30 -fill {0.2 0.5 0.9} -outline {1 0.9 0.3} -width 4
# Circles: a disc, a ring, and an ellipse twice as wide as high.
canvas add board circle 135 19 11 -fill {0.3 0.8 0.4}
canvas add board circle 18 52 10 -fill none -outline {0.9 0.8 0.2} -width 3
canvas add board circle 26 52 10 -fill {0.8 0.4 0.9} -scale {2 1}
# Arcs: a pie slice, the long way round (a negative sweep), an open arc.
canvas add board arc 76 40 104 66 -start 0 -end 90 -fill {1 0.6 0.1}
canvas add board arc 110 40 138 66 -start 90 -end 0 -fill {0.3 0.7 1} -outline {1 1 1} -width 2
canvas add board arc 142 40 156 66 -start 200 -end 340 -fill none -outline {1 0.4 0.6} -width 3
# A polyline, a concave polygon (a U) and a self-crossing star.
canvas add board line {8 90 24 72 40 90 56 72 72 90} -fill {1 1 0.4} -width 3
canvas add board polygon {80 72 112 72 112 96 102 96 102 82 90 82 90 96 80 96} \
    -fill {0.2 0.8 0.7} -outline {1 1 1} -width 2
canvas add board polygon {138 70 146 96 124 80 152 80 130 96} -fill {0.95 0.85 0.3}
finish
