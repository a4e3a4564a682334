# transport.tcl CLIP - two clips on the publishing node: one paused and
# then sought while paused, one sought while playing and sped up.
canvas create board -org {0 0.5 0} -colvec {8 0 0} -rowvec {0 -5 0} -cols 160 -rows 100 -bg {0.12 0.12 0.16}
set clip [lindex $argv 0]
set a [canvas add board video 10 10 70 90 -file $clip]
set b [canvas add board video 90 10 150 90 -file $clip -loop 1]
frame 20
canvas itemconfigure board $a -paused 1
frame 5
canvas itemconfigure board $a -position 0.51
canvas itemconfigure board $b -position 0.21 -rate 2
frame 7
