# dome.tcl - the eye at the centre of a sphere of radius 10, with four
# canvases bent onto it: ahead, to the left, to the right and overhead,
# as on a dome display. Four viewports from the centre look ahead, left,
# right and up; each is labelled by an overlay mapped to its name.
plugin load $qvp_plugin
channel create main
foreach {name rect look up} {
    left  {0 240 320 240}   {-1 0 0} {0 1 0}
    ahead {320 240 320 240} {0 0 -1} {0 1 0}
    right {0 0 320 240}     {1 0 0}  {0 1 0}
    up    {320 0 320 240}   {0 1 0}  {0 0 -1}
} {
    viewport create $name main -rect $rect -fov {100 0} -eye {0 0 0} -look $look -up $up \
        -clear {0.05 0.05 0.08}
    canvas create label_$name -mapping DEFAULT.$name -org {0.02 0.02 0} -colvec {0.3 0 0} \
        -rowvec {0 -0.1 0} -cols 12 -rows 2 -anchor {colstart rowend} -bg {0 0 0} -opacity 0.7
    canvas add label_$name text 1 1 -text "looking $name" -anchor colstart -size {1.6 1.6}
}
node create centre -shape none

# Each canvas's columns run to the viewer's right and its rows down, so
# that it faces the centre; its -org is the middle of its patch.
proc dome {name org colvec rowvec bg text} {
    canvas create $name -node centre -proj sphere -radius 10 -org $org -colvec $colvec \
        -rowvec $rowvec -cols 40 -rows 24 -bg $bg
    canvas add $name rect 1 1 39 23 -fill none -outline {1 1 1} -width 16
    canvas add $name circle 8 12 5 -fill {1 0.8 0.2}
    canvas add $name text 24 12 -text $text -size {4 4}
}
dome front {0 0 -10} {10 0 0} {0 -6 0} {0.2 0.3 0.6} ahead
dome west {-10 0 0} {0 0 -10} {0 -6 0} {0.5 0.2 0.2} left
dome east {10 0 0} {0 0 10} {0 -6 0} {0.2 0.5 0.25} right
dome zenith {0 10 0} {-16 0 0} {0 0 10} {0.45 0.35 0.1} overhead
frame
set out [lindex $argv 0]
if {$out eq ""} { set out dome.png }
snapshot $out
puts "wrote $out"
