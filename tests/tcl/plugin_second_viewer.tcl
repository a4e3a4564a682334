# plugin_second_viewer.tcl PLUGIN first|second - run by two viewers on one
# scene in turn: both load the plugin; the second finds the first's nodes.
source [file join [file dirname [info script]] lib.tcl]
lassign $argv plugin role
check "load ($role)" [plugin load $plugin] 1
if {$role eq "first"} {
    node create shared -shape box -color {0 1 0}
} else {
    check "node from the first viewer" [node index shared] 0
    frame
    check_pixel "its node drawn here" 80 30 {0 255 0}
    scene remove
}
done
