# common.tcl - shared start of the examples: loads the plugin beside the
# viewer and lays out one viewport looking at the origin. Each example
# writes its picture to the file named by its first argument, or to
# <example>.png.
plugin load $qvp_plugin
viewport create view [channel create main] -eye {0 1.5 10} -look {0 0 0} -clear {0.1 0.1 0.14}
node create floor -shape quad -size {12 12 0} -rot {0 -90 0} -pos {0 -2 0} -color {0.25 0.3 0.25}

proc finish {} {
    frame
    set out [lindex $::argv 0]
    if {$out eq ""} { set out [file rootname [file tail $::argv0]].png }
    snapshot $out
    puts "wrote $out"
}

# Pictures and clips the examples show.
set media [file join [file dirname [info script]] media]
