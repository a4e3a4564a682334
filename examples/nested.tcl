# nested.tcl - canvases shown by canvas elements. The outer card shows
# an inset at the inset's own place in the world, faded by the element's
# opacity; the inset shows a badge on the ball node, so opacities
# multiply down the nesting (0.8 x 0.9). A canvas with a parent is drawn
# only through the element that shows it.
source [file join [file dirname [info script]] common.tcl]
node create ball -shape sphere -size {1.2 1.2 1.2} -pos {2 -0.5 0} -color {0.2 0.6 0.9}

canvas create card -layer scene -org {0 1.2 0} -colvec {6 0 0} -rowvec {0 -2 0} \
    -cols 60 -rows 20 -bg {0.15 0.2 0.35}
canvas add card text 30 4 -text "outer card" -size {4 4}
canvas create inset -parent card -org {-1.5 0.6 0.2} -colvec {3 0 0} -rowvec {0 -1 0} \
    -cols 30 -rows 10 -bg {0.95 0.9 0.6}
canvas add inset text 15 5 -text "inset at 0.8" -size {3 3} -fill {0.2 0.1 0}
canvas add card canvas -canvas inset -opacity 0.8
canvas create badge -parent inset -node ball -org {0 0 0.7} -colvec {1.6 0 0} -rowvec {0 -0.5 0} \
    -cols 16 -rows 5 -bg {1 1 1}
canvas add badge text 8 2.5 -text "0.8 x 0.9" -size {2.5 2.5} -fill {0 0 0}
canvas add inset canvas -canvas badge -opacity 0.9
finish
