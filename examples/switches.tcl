# switches.tcl - the qvp_drawcanvas command: the host's scene layer is
# switched off, so only the canvases and the background remain.
source [file join [file dirname [info script]] common.tcl]
node create box -shape box -size {2 2 2} -color {0.8 0.2 0.2}
canvas create note -org {0 2 0} -colvec {6 0 0} -rowvec {0 -1 0} -cols 24 -rows 4 -bg {0.2 0.2 0.2}
canvas add note text 12 2 -text "host scene switched off" -size {2 2}
qvp_drawcanvas disable SCENE
puts "off: [qvp_drawcanvas disable]"
finish
