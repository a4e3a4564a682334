# mapping_displays.tcl PLUGIN first|second - run by two viewers on one
# scene, the first with -display alpha, the second with -display beta.
# Each draws the overlay named for its own display and the DEFAULT one,
# never the other display's. The second also reads the first's exclusions.
source [file join [file dirname [info script]] lib.tcl]
lassign $argv plugin role
plugin load $plugin
viewport create view [channel create main] -clear {0 0 0}
proc third {name mapping col rgb} {
    canvas create $name -mapping $mapping -org [list [expr {$col / 3.0}] 1 0] \
        -colvec {0.3333 0 0} -rowvec {0 -1 0} -anchor {colstart rowstart} -scale stretch -bg $rgb
}
if {$role eq "first"} {
    third a alpha:channel1 0 {1 0 0}
    third all DEFAULT:channel1 1 {0 0 1}
    third b beta:channel1.view 2 {0 1 0}
    canvas create ex -layer none -exclude view
    frame
    check_pixel "alpha's overlay" 20 30 {255 0 0}
    check_pixel "the DEFAULT overlay" 80 30 {0 0 255}
    check_pixel "not beta's" 140 30 {0 0 0}
} else {
    frame
    check_pixel "not alpha's" 20 30 {0 0 0}
    check_pixel "the DEFAULT overlay" 80 30 {0 0 255}
    check_pixel "beta's overlay" 140 30 {0 255 0}
    # 2026-12-06: the query followed the first viewer's viewport pointer
    # and crashed holding the canvas lock.
    check "another viewer's exclusions, by name" [dict get [canvas configure ex] -exclude] view
    scene remove
}
done
