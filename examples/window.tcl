# window.tcl - a canvas as a window onto scene nodes. The window holds
# node elements for the box and the sphere: they leave the ordinary
# drawing of the view and are seen only through the window's area, with
# a tag canvas placed on the box drawn over it. The same nodes outside
# the window's frame are not drawn at all.
source [file join [file dirname [info script]] common.tcl]
node create box -shape box -size {1.6 1.6 1.6} -pos {-0.3 0 -1.5} -rot {30 20 0} -color {0.85 0.25 0.2}
node create sphere -shape sphere -size {1.4 1.4 1.4} -pos {1.4 0.3 -2.5} -color {0.3 0.7 0.4}
node create pillar -shape box -size {0.4 3 0.4} -pos {-2.6 -0.5 -1} -color {0.6 0.6 0.7}

canvas create window -layer scene -org {0.3 0.3 1} -colvec {3 0 0} -rowvec {0 -2.2 0} \
    -cols 30 -rows 22
canvas add window rect 0 0 30 22 -fill none -outline {1 1 1} -width 3
canvas add window node box
canvas add window node sphere
canvas create tag -layer none -node box -org {0 0 0.81} -colvec {1.4 0 0} -rowvec {0 -0.35 0} \
    -cols 14 -rows 4 -bg {0 0 0}
canvas add tag text 7 2 -text "on the box" -size {2 2.4}
finish
