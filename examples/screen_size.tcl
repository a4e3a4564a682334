# screen_size.tcl - canvases with the screen-size lock keep a share of the
# viewport on screen however far away they are; the unlocked ones shrink
# with distance.
source [file join [file dirname [info script]] common.tcl]
foreach {name x z} {near -2.5 4 mid 0 -4 far 5 -20} {
    node create $name -pos [list $x 0 $z]
    canvas create fixed$name -node $name -org {-0.2 0 0} -colvec {1 0 0} -rowvec {0 -1 0} \
        -cols 10 -rows 10 -anchor colend -lock {row col screen} -size 0.15 -bg {0.1 0.3 0.5}
    canvas add fixed$name text 5 5 -text $name -size {3 3}
    canvas create plain$name -node $name -org {0.2 0 0} -colvec {1 0 0} -rowvec {0 -1 0} \
        -cols 10 -rows 10 -anchor colstart -lock {row col} -bg {0.5 0.2 0.1}
    canvas add plain$name text 5 5 -text $name -size {3 3}
}
finish
