# fixed.tcl - canvases the editor makes once and never edits: a curved
# canvas on a node (drawn through a texture), a nested canvas faded by
# its element, and an overlay mapped onto the channel. Displays draw
# them in every frame; after each kill check.tcl compares each record
# with what the editor wrote ($env(QVP_SOAK_FIXED) holds that).
set fixed_canvases {dome outer inner mapped}

proc make_fixed {} {
    catch {node create soaknode -shape box}
    if {"dome" in [canvas names]} return
    canvas create dome -layer scene -node soaknode -proj sphere -radius 6 -opacity 0.9 -bg {0.2 0.4 0.6}
    canvas add dome text 10 5 -text "dome"
    canvas create outer -layer scene -org {1 1 0} -bg {0.3 0.3 0.3}
    canvas create inner -parent outer -org {1 1 0.1} -bg {0.6 0.6 0.2} -anchor {colstart rowstart}
    canvas add inner circle 5 5 3 -fill {1 1 1}
    canvas add outer canvas -canvas inner -opacity 0.5
    canvas create mapped -mapping DEFAULT:channel1 -scale fixed -bg {0.1 0.5 0.1} -opacity 0.7
    canvas add mapped rect 1 1 5 5 -fill {1 0 0}
    if {[info exists ::env(QVP_SOAK_FIXED)] && ![file exists $::env(QVP_SOAK_FIXED)]} {
        set f [open $::env(QVP_SOAK_FIXED).part w]
        foreach c $::fixed_canvases { puts $f [list $c [canvas configure $c]] }
        close $f
        file rename $::env(QVP_SOAK_FIXED).part $::env(QVP_SOAK_FIXED)
    }
}

# "" when every fixed canvas reads as written, else what differs.
proc fixed_differences {} {
    if {![info exists ::env(QVP_SOAK_FIXED)] || ![file exists $::env(QVP_SOAK_FIXED)]} { return "" }
    set f [open $::env(QVP_SOAK_FIXED)]
    set want [read $f]
    close $f
    set diffs {}
    foreach line [split [string trim $want] \n] {
        lassign $line c was
        if {[catch {canvas configure $c} now]} { lappend diffs "$c: $now"; continue }
        if {$now ne $was} { lappend diffs "$c rewritten: was {$was} now {$now}" }
    }
    return [join $diffs "; "]
}
