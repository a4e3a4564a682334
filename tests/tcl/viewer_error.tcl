# viewer_error.tcl - a script error exits with status 1.
proc inner {} { error "deliberate failure" }
inner
