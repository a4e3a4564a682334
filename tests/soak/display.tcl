# display.tcl PLUGIN - a display of the kill soak: renders for ever,
# printing its frame count after each frame.
plugin load [lindex $argv 0]
viewport create v [channel create main] -eye {0 0 12}
set n 0
while 1 {
    frame
    puts [incr n]
    flush stdout
}
