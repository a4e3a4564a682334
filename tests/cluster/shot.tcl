# shot.tcl FILE - one frame of the scene this viewer attached to, as a
# display of that node draws it.
plugin load $qvp_plugin
viewport create view [channel create main] -eye {0 1.5 10} -look {0 0 0} -clear {0.1 0.1 0.14}
frame
snapshot [lindex $argv 0]
