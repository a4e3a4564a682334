# fuzz_commands.tcl ?COUNT? ?SEED? ?PLUGIN? - random malformed invocations
# of the viewer's, the builder's and the plugin's commands, in one viewer.
# Each must succeed or fail with a message that says something; a failed
# one must leave the canvases, their items, the fonts and the nodes as
# they were. Prints the tally; exits 1 on any fault.
lassign $argv count seed plugin
if {$count eq ""} { set count 10000 }
if {$seed eq ""} { set seed [clock seconds] }
expr {srand($seed)}
if {$plugin ne ""} { plugin load $plugin }
viewport create v [channel create main]
canvas create base -bg {0 0 0.3}
canvas add base text 1 1 -text hi
node create n0 -shape box
image create img -file [file join [file dirname [info script]] .. .. examples media tiles.png]

proc any {list} { lindex $list [expr {int(rand() * [llength $list])}] }

set words {{} "" x -x - -1 0 1 2 7 0.5 1e39 -1e39 3.4e38 inf -inf nan NaN 2147483648 -2147483649
    4294967297 1e308 -1e308 {1 2} {1 2 3} {1 2 3 4} {a b c} "\{" "\"" "\}" none colstart {row col}
    {colstart rowend} stretch fixed sphere flat background scene foreground base n0 img default
    nowhere {0 0 0} {1 1 1} {-1 0 0} {2 0 0} {nan 0 0} {inf 1 1} 0x10 -0 1.5e-45}
lappend words [string repeat x 10000] [string repeat "{" 50] "caf\u00e9" "\u4f60\u597d" "\U1F600" \
    "a\x00b" "\ud800" [string repeat "\u4f60\u03a9x\t\n" 40000]

set canvas_opts {-layer -node -mapping -org -colvec -rowvec -cols -rows -anchor -lock -size -scale
    -bg -gain -opacity -proj -radius -parent -exclude -bogus}
set item_opts {-fill -outline -bg -opacity -scale -offset -width -hidden -text -font -anchor -size
    -smooth -start -end -image -flip -file -pattern -fps -loop -paused -rate -position -duration -play
    -canvas -bogus}
set types {text line rect circle arc polygon image video canvas node star {}}

proc names_now {} {
    set items {}
    foreach c [canvas names] { lappend items [canvas items $c] }
    list [canvas names] $items [font names] [node names]
}

proc options {opts n} {
    set l {}
    for {set i 0} {$i < $n} {incr i} {
        lappend l [any $opts]
        if {rand() < 0.9} { lappend l [any $::words] }
    }
    return $l
}

proc items_of {c} {
    if {[catch {canvas items $c} l]} { return {} }
    return $l
}

# Nested fan-out: canvas A shows canvas B N times more (loops refused).
proc fanout {a b n} {
    for {set i 0} {$i < $n} {incr i} { canvas add $a canvas -canvas $b }
}

proc random_command {} {
    set c [any [canvas names]]
    set w [any $::words]
    switch [expr {int(rand() * 17)}] {
        0 { return [list canvas create [any [list $w c[expr {int(rand()*50)}]]] {*}[options $::canvas_opts [expr {int(rand()*4)}]]] }
        1 { return [list canvas configure [any [list $c $w]] {*}[options $::canvas_opts [expr {int(rand()*4)}]]] }
        2 {
            set coords {}
            for {set i [expr {int(rand()*5)}]} {$i > 0} {incr i -1} { lappend coords [any $::words] }
            return [list canvas add [any [list $c $w]] [any $::types] {*}$coords {*}[options $::item_opts [expr {int(rand()*3)}]]]
        }
        3 { return [list canvas itemconfigure $c [any [linsert [items_of $c] end $w]] {*}[options $::item_opts [expr {int(rand()*3)}]]] }
        4 { return [list canvas itemdelete $c [any [linsert [items_of $c] end $w]]] }
        5 { return [list canvas delete [any [list $c $w]]] }
        6 { return [list canvas [any {names items type cget itemcget bogus}] $w {*}[lrange $::words 0 [expr {int(rand()*2)}]]] }
        7 { return [list font create f[expr {int(rand()*5)}] {*}[options {-file -size -first -last -bogus} [expr {int(rand()*3)}]]] }
        8 { return [list image create [any {i1 img}] {*}[options {-file -bogus} [expr {int(rand()*2)}]]] }
        9 { return [list node [any {create configure index names bogus}] [any [list n[expr {int(rand()*5)}] $w]] {*}[options {-shape -size -color -pos -rot -layer -type -hidden -parent} [expr {int(rand()*3)}]]] }
        10 { return [list viewport [any {create configure names}] [any [list v $w]] {*}[options {-rect -size -fov -frustum -far -eye -look -up -clear -off} [expr {int(rand()*3)}]]] }
        11 { return [list frame {*}[lrange [list [any {1 0 -1 2147483648 x {}}]] 0 [expr {int(rand()*2)-1}]]] }
        12 { return [list pixel [any $::words] [any $::words]] }
        13 { return [list qvp_drawcanvas [any {enable disable Disable {}}] {*}[lrange [list [any $::words]] 0 [expr {int(rand()*2)-1}]]] }
        14 { return [list snapshot [any {{} /nonexistent/x.png /dev/full}]] }
        15 { return [list fanout $c [any [list {*}[canvas names] $w]] [expr {int(rand() * 5)}]] }
        default { return [list channel [any {create names bogus}] [any [list $w main]] {*}[options {-size} [expr {int(rand()*2)}]]] }
    }
}

set ok 0; set errors 0; set faults 0
for {set i 0} {$i < $count} {incr i} {
    set cmd [random_command]
    set before [names_now]
    if {[catch {uplevel #0 $cmd} msg]} {
        incr errors
        if {[string trim $msg] eq ""} {
            incr faults
            puts "FAULT empty message: [string range $cmd 0 200]"
        }
        if {[names_now] ne $before} {
            incr faults
            puts "FAULT half-made change: [string range $cmd 0 200] -> $msg"
        }
    } else {
        incr ok
    }
}
puts "fuzz_commands: $count commands (seed $seed): $ok succeeded, $errors refused, $faults faults"
exit [expr {$faults ? 1 : 0}]
