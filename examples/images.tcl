# images.tcl - one PNG shown four times with each flip (none, columns,
# rows, both; the arrow marks the picture's top), then darkened by the
# canvas gain on a second canvas, and faded by its opacity on a third.
source [file join [file dirname [info script]] common.tcl]
image create tiles -file [file join $media tiles.png]

canvas create flips -layer scene -org {-1.2 0.4 0} -colvec {6.4 0 0} -rowvec {0 -1.6 0} \
    -cols 160 -rows 40 -bg {0.15 0.15 0.2}
foreach {col flip} {0 {} 40 col 80 row 120 {col row}} {
    canvas add flips image [expr {$col + 2}] 2 [expr {$col + 38}] 38 -image tiles -flip $flip
}
canvas create dim -layer scene -org {-2.6 -1.6 0} -colvec {1.6 0 0} -rowvec {0 -1.6 0} \
    -cols 40 -rows 40 -gain {0.5 0.5 0.5}
canvas add dim image 2 2 38 38 -image tiles
canvas create faded -layer scene -org {0 -1.6 0} -colvec {1.6 0 0} -rowvec {0 -1.6 0} \
    -cols 40 -rows 40 -opacity 0.4
canvas add faded image 2 2 38 38 -image tiles
finish
