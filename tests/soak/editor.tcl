# editor.tcl - the editor of the kill soak: makes the fixed canvases of
# fixed.tcl once, then adds, changes and deletes canvases and elements of
# every kind for ever, printing a count after each round.
viewport create v [channel create main]
set media [file join [file dirname [info script]] .. .. examples media]
catch {image create img -file [file join $media tiles.png]}
source [file join [file dirname [info script]] fixed.tcl]
make_fixed
set n 0
while 1 {
    set c soak[expr {$n % 4}]
    catch {canvas delete $c}
    canvas create $c -layer [lindex {background scene foreground scene} [expr {$n % 4}]] \
        -org [list [expr {$n % 5 - 2}] 0 0] -bg {0.2 0.2 0.3}
    canvas add $c text 10 5 -text "round $n"
    canvas add $c line {0 0 5 5 10 0}
    set r [canvas add $c rect 1 1 4 4 -fill {1 0 0}]
    canvas add $c circle 5 5 2 -outline {0 1 0}
    canvas add $c arc 0 0 6 6 -start 0 -end 270
    canvas add $c polygon {0 0 6 0 3 5 1 2} -fill {0 0 1}
    canvas add $c image 0 0 4 4 -image img
    set v [canvas add $c video 6 0 10 4 -pattern 1 -size {16 8}]
    canvas add $c node soaknode
    canvas itemconfigure $c $r -fill {1 1 0}
    canvas itemconfigure $c $v -flip col
    canvas configure $c -opacity 0.8 -gain {1 0.9 0.8}
    canvas itemdelete $c $r
    frame
    puts [incr n]
    flush stdout
}
