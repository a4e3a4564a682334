# layout.tcl - a node's own layout, run on the mirror's scene: the node
# the publisher's "tag" canvas sits on, and a canvas of the node's own
# that no mirror may remove (not drawn, so that the pictures compare).
node create box -shape box -size {1 1 1} -pos {2.5 -0.5 0} -color {0.2 0.6 0.9}
canvas create local_hud -layer none -org {0 -1.5 0} -colvec {1 0 0} -rowvec {0 -0.3 0} -cols 10 -rows 3
canvas add local_hud text 5 1 -text "local" -size {2 2}
frame
