# faults.tcl PLUGIN - regression checks for values once stored wrong,
# reference loops, a second plugin load and messages that did not say
# what was wrong (2026-12-06: each of these was accepted or unclear).
source [file join [file dirname [info script]] lib.tcl]
lassign $argv plugin
viewport create v [channel create main]
canvas create c

# Numbers that fit a double but not a float were stored as infinity.
foreach {what script} {
    cols {canvas configure c -cols 1e39}
    size {canvas configure c -size 1e39}
    gain {canvas configure c -gain {1e39 1 1}}
    coords {canvas add c rect 0 0 1e39 1}
    points {canvas add c line {0 0 1 -1e39}}
    scale {canvas add c rect 0 0 1 1 -scale {1e39 1}}
    offset {canvas add c rect 0 0 1 1 -offset {1 -1e39}}
    width {canvas add c rect 0 0 1 1 -width 1e39}
    start {canvas add c arc 0 0 1 1 -start 1e39}
    textsize {canvas add c text 1 1 -size {1e39 1}}
} {
    check_error "float range: $what" $script {*out of range (-3.4e38 to 3.4e38)}
}
check_error "fps" {canvas add c video 0 0 1 1 -pattern 1 -fps 1e300} {-fps runs from 0 (the file's own timing) up to 1000}
check "nothing stored" [canvas items c] {}

# 2026-12-05: the viewer stored non-finite numbers in nodes and viewports.
check_error "node position" {node create nf -pos {inf 0 0}} {-pos: inf is not a finite number}
check_error "viewport eye" {viewport create nf main -eye {0 nan 0}} {-eye: bad number "nan"}
check_error "viewport field of view" {viewport create nf main -fov {-inf 0}} {-fov: -inf is not a finite number}

# Integers wrapped.
check_error "frame count" {frame 2147483648} {frame: 2147483648 is out of range*}
check_error "pixel" {pixel 2147483648 0} {X: 2147483648 is out of range*}
check_error "node type" {node create n -type 2147483648} {-type: 2147483648 is out of range*}
check_error "item id" {canvas itemdelete c 4294967297} {*}
check "no node" [node names] {}

# Reference loops through more than one canvas.
canvas create a
canvas create b -parent a
check_error "parent loop" {canvas configure a -parent b} {canvas "b" descends from "a": parents cannot form a loop}
canvas create p
canvas create q
canvas add p canvas -canvas q
check_error "show loop" {canvas add q canvas -canvas p} {canvas "p" shows "q": canvases cannot show each other in a loop}
check "q shows nothing" [canvas items q] {}

# A second load of the same module drew every canvas twice.
check "first load" [plugin load $plugin] 1
check_error "second load" [list plugin load $plugin] {plugin * is already loaded*}
canvas create half -layer foreground -org {0 0 0} -colvec {20 0 0} -rowvec {0 -20 0} -bg {1 1 1} -opacity 0.5
frame
check_pixel "a half-white canvas blends once" 80 30 {128 128 128} 2

# Messages that did not say what was wrong.
set empty /tmp/faults-empty-[pid].ttf
close [open $empty w]
check_error "font from /dev/null" {font create f1 -file /dev/null} {cannot read font file "/dev/null": it is not a regular file}
check_error "font from a directory" {font create f2 -file /tmp} {cannot read font file "/tmp": it is a directory}
check_error "font from an empty file" [list font create f3 -file $empty] {FreeType cannot read font file "*": unknown file format}
file delete $empty
check_error "image from a directory" {image create i -file /tmp} {cannot read image "/tmp": it is a directory}
check_error "snapshot to a full device" {snapshot /dev/full} {cannot finish /dev/full: No space left on device}
check_error "snapshot to no name" {snapshot {}} {snapshot wants a file name, got an empty one}
check_error "unknown node subcommand" {node bogus x} {bad subcommand "bogus": must be configure, create, index, or names}
check_error "node names with a word too many" {node names extra} {wrong # args: should be "node names"}
check_error "a coordinate that is not finite" {canvas add c text -inf 5} {text coordinate: -inf is not a finite number}

done
