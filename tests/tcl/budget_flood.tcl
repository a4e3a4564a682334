# budget_flood.tcl - 20,000 canvas elements past the nested-draw budget,
# added one by one, then 10 frames: each frame is past the budget.
plugin load $qvp_plugin
viewport create v [channel create main] -eye {0 0 10} -look {0 0 0}
canvas create kid -layer none -cols 4 -rows 4 -bg {1 0 0}
canvas create board -layer foreground -cols 40 -rows 40
for {set i 0} {$i < 20000} {incr i} { canvas add board canvas -canvas kid }
frame 10
