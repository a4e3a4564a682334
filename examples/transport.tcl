# transport.tcl - one clip three ways, and a file sought: the synthetic
# pattern (its frame number drawn in it) playing, paused after half a
# second, and sought to 10 s at twice the speed; below, an FFmpeg clip
# paused on a frame sought by position, labelled with what itemcget reads.
source [file join [file dirname [info script]] common.tcl]

canvas create screens -layer scene -org {0 0.3 0} -colvec {9 0 0} -rowvec {0 -4.4 0} \
    -cols 180 -rows 88 -bg {0.05 0.05 0.05}
set play [canvas add screens video 4 4 58 44 -pattern 1 -size {160 120}]
set held [canvas add screens video 63 4 117 44 -pattern 1 -size {160 120}]
set fast [canvas add screens video 122 4 176 44 -pattern 1 -size {160 120}]
set clip [canvas add screens video 4 50 58 84 -file [file join $media orbit.mkv] -loop 0]

frame 30
canvas itemconfigure screens $held -paused 1
canvas itemconfigure screens $fast -position 10 -rate 2
canvas itemconfigure screens $clip -paused 1 -position 1.5
frame 60

proc label {col row text} {
    canvas add screens text $col $row -text $text -size {3.6 3.6} -fill {0.9 0.9 0.8}
}
proc at {id} { format %.2f [canvas itemcget screens $id -position] }
label 31 47 "playing: [at $play] s"
label 90 47 "paused: [at $held] s"
label 149 47 "-position 10 -rate 2: [at $fast] s"
label 118 62 "orbit.mkv paused, sought to 1.5 s"
label 118 70 "-position [at $clip] of -duration [format %.2f [canvas itemcget screens $clip -duration]] s"
finish
