# overlays.tcl - one HUD design mapped onto channels of two real sizes,
# under each scale mode, side by side. Every channel has the reference
# size 320 x 120; the left ones are that size on screen, the right ones
# 240 x 100. Row by row: fixed (the reference pixel size), height (follows
# the channel's height, keeps its shape), width (follows the width,
# keeps its shape), stretch (follows both; the circle turns oval).
plugin load $qvp_plugin

proc hud {channel mode} {
    set c hud_$channel
    canvas create $c -mapping DEFAULT:channel$channel -org {0.03 0.92 0} -colvec {0.9 0 0} \
        -rowvec {0 -0.8 0} -cols 90 -rows 30 -anchor {colstart rowstart} -scale $mode \
        -bg {0.1 0.1 0.1} -opacity 0.85
    canvas add $c rect 1 1 89 29 -fill none -outline {1 1 1} -width 2
    canvas add $c circle 15 15 12 -fill {0.95 0.6 0.2}
    canvas add $c text 32 15 -text $mode -anchor colstart -size {9 9} -fill {1 1 1}
}

set n 0
foreach mode {fixed height width stretch} {
    set y [expr {480 - 120 * ([llength [canvas names]] / 2 + 1)}]
    foreach {x dy w h clear} {0 0 320 120 {0.16 0.2 0.3} 360 10 240 100 {0.3 0.2 0.16}} {
        incr n
        channel create ch$n -size {320 120}
        viewport create v$n ch$n -rect [list $x [expr {$y + $dy}] $w $h] -clear $clear
        hud $n $mode
    }
}
frame
set out [lindex $argv 0]
if {$out eq ""} { set out overlays.png }
snapshot $out
puts "wrote $out"
