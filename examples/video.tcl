# video.tcl - two videos playing side by side: the synthetic pattern
# (its frame number drawn in it) and a clip decoded through FFmpeg, each
# shown after two seconds of display time. The pattern also plays
# mirrored on a second element, taking a cache slot of its own.
source [file join [file dirname [info script]] common.tcl]

canvas create screens -layer scene -org {0 0.3 0} -colvec {8 0 0} -rowvec {0 -3 0} \
    -cols 160 -rows 60 -bg {0.05 0.05 0.05}
canvas add screens video 4 6 76 54 -pattern 1 -size {160 120} -fps 25
canvas add screens video 84 6 156 54 -file [file join $media orbit.mkv]
canvas create mirror -layer scene -org {0 -1.8 0} -colvec {2.4 0 0} -rowvec {0 -0.9 0} \
    -cols 48 -rows 18
canvas add mirror video 0 0 48 18 -pattern 1 -size {160 120} -fps 25 -flip col
frame 120
finish
