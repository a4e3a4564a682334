# plugin_load.tcl PLUGIN - the plugin loads in the viewer with options,
# and its command answers from Tcl.
source [file join [file dirname [info script]] lib.tcl]
set plugin [lindex $argv 0]

check "load" [plugin load $plugin -image_objs 4] 1
check "enable" [qvp_drawcanvas enable] "CANVAS SCENE BACKGROUND FOREGROUND"
check "disable" [qvp_drawcanvas disable] ""
qvp_drawcanvas disable {scene Foreground}
check "disable after" [qvp_drawcanvas disable] "SCENE FOREGROUND"
check "enable after" [qvp_drawcanvas enable] "CANVAS BACKGROUND"
qvp_drawcanvas enable ALL
check_error "no argument" {qvp_drawcanvas} {wrong # args*}
# The callbacks run in every phase without disturbing the host's drawing.
node create box -shape box -size {3 3 3} -color {1 0 0}
frame 2
check_pixel "host scene drawn" 80 30 {255 0 0}
qvp_drawcanvas disable scene
frame
check_pixel "host scene step left out" 80 30 {0 0 0}
check "no warnings" [lsearch -all -glob [hostlog] {qvp_drawcanvas*}] {}
done
