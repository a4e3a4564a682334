# steady.tcl - a publisher's show of 400 frames, an edit each, paced at
# 10 ms, with an image; prints "started" first and the longest gap
# between frames last.
canvas create board -org {0 0.5 0} -colvec {8 0 0} -rowvec {0 -5 0} -cols 160 -rows 100 -bg {0.12 0.12 0.16}
set id [canvas add board rect 8 8 38 30 -fill {0.9 0.3 0.2}]
image create tiles -file [file join [file dirname [info script]] .. .. examples media tiles.png]
canvas add board image 46 40 76 70 -image tiles
puts started
flush stdout
set worst 0
set last [clock milliseconds]
for {set i 0} {$i < 400} {incr i} {
    canvas itemconfigure board $id -opacity [expr {0.5 + ($i % 50) / 100.0}]
    frame
    set now [clock milliseconds]
    if {$now - $last > $worst} { set worst [expr {$now - $last}] }
    set last $now
    after 10
}
puts "worst gap $worst ms"
