# viewer_exit.tcl - `exit N` ends the viewer with status N.
exit 3
