# scene.tcl - a still scene for the window tests: a viewport placed in
# fractions of the window, one in pixels, a box and a mapped overlay
# whose background a second process changes.
plugin load $qvp_plugin
viewport create left [channel create main] -frac {0 0 0.5 1} -clear {0.1 0.1 0.3}
viewport create right main -rect {160 0 160 240} -clear {0.3 0.1 0.1}
node create box -shape box -size {3 3 3} -color {0 0.8 0}
canvas create panel -mapping DEFAULT.left -org {0.1 0.9 0} -colvec {0.8 0 0} -rowvec {0 -0.4 0} \
    -cols 10 -rows 4 -bg {1 0.5 0} -anchor {colstart rowstart}
canvas add panel rect 1 1 4 3 -fill white
