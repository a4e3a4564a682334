# edits.tcl N - N edits at full speed on build.tcl's canvases: options
# changed round the rectangle, circle and text, and every 100th edit an
# element added and the one before it deleted.
set n [lindex $argv 0]
set ids [lrange [canvas items board] 0 2]
set extra {}
for {set i 0} {$i < $n} {incr i} {
    if {$i % 100 == 99} {
        if {$extra ne ""} { canvas itemdelete board $extra }
        set extra [canvas add board circle [expr {20 + $i % 120}] 80 4 -fill white]
        continue
    }
    canvas itemconfigure board [lindex $ids [expr {$i % 3}]] -opacity [expr {0.5 + ($i % 50) / 100.0}]
}
