# stencil_marks.tcl FILLERS - canvases of one layer pass mark the stencil
# with values of their own instead of clearing it each (2026-12-07): an
# earlier canvas's mark must never let a later canvas's elements through
# where that later canvas's background lost the depth test. A marker in
# front of the box marks the box's left half; after FILLERS canvases a
# green canvas behind the box must show only round the box. 254 fillers
# use every value up, so the last canvas's value comes round again.
source [file join [file dirname [info script]] lib.tcl]
set fillers [lindex $argv 0]
plugin load $qvp_plugin
viewport create v [channel create main] -eye {0 0 10} -look {0 0 0} -clear {0 0 0}
node create box -shape box -size {2 2 0.5} -pos {0 0 1} -color {0 0 1}
canvas create marker -layer scene -org {-1 1 3} -colvec {1 0 0} -rowvec {0 -2 0} -cols 1 -rows 1 \
    -anchor {colstart rowstart} -bg none
for {set i 0} {$i < $fillers} {incr i} {
    canvas create filler$i -layer scene -org {3 3 0} -colvec {0.5 0 0} -rowvec {0 -0.5 0} -cols 1 -rows 1 \
        -anchor {colstart rowstart} -bg none
}
canvas create back -layer scene -org {-3 3 0} -colvec {6 0 0} -rowvec {0 -6 0} -cols 6 -rows 6 \
    -anchor {colstart rowstart} -bg none
canvas add back rect 0 0 6 6 -fill green
frame 2
# The window is 160 x 60; the box covers about x 72..88, y 22..38.
check_pixel "box, marked half" 76 30 {0 0 255} 2
check_pixel "box, unmarked half" 84 30 {0 0 255} 2
check_pixel "round the box" 60 30 {0 255 0} 2
check_pixel "round the box, right" 100 30 {0 255 0} 2
done
