# clip.tcl - a moving picture for the recording tests: the video pattern
# (a new hue, bar and number every frame) over the whole window.
plugin load $qvp_plugin
viewport create v [channel create main] -clear {0 0 0}
canvas create clip -mapping DEFAULT:channel1 -org {0 1 0} -colvec {1 0 0} -rowvec {0 -1 0} \
    -cols 4 -rows 3 -anchor {colstart rowstart}
canvas add clip video 0 0 4 3 -pattern 1 -fps 10 -size {160 120}
