# lib.tcl - a tiny checker for the viewer's script tests. Each failed
# check prints what was expected and what came, and the script ends with
# `done`, which exits 1 when anything failed.
set ::failures 0
set ::checks 0

proc check {what got want} {
    incr ::checks
    if {$got ne $want} {
        incr ::failures
        puts stderr "FAIL $what: expected {$want} got {$got}"
    }
}

# Checks that SCRIPT fails with a message matching PATTERN (glob).
proc check_error {what script pattern} {
    incr ::checks
    if {![catch {uplevel 1 $script} msg]} {
        incr ::failures
        puts stderr "FAIL $what: no error"
    } elseif {![string match $pattern $msg]} {
        incr ::failures
        puts stderr "FAIL $what: message {$msg} does not match {$pattern}"
    }
}

# Checks that window pixel X Y is within TOL of the colour RGB (0-255).
proc check_pixel {what x y rgb {tol 0}} {
    incr ::checks
    set got [pixel $x $y]
    foreach g [lrange $got 0 2] w $rgb {
        if {abs($g - $w) > $tol} {
            incr ::failures
            puts stderr "FAIL $what: pixel ($x, $y) expected {$rgb} got {$got} (tol $tol)"
            return
        }
    }
}

proc done {} {
    puts "$::checks checks, $::failures failed"
    exit [expr {$::failures ? 1 : 0}]
}
