# node_layout.tcl - a render node's own layout for cluster mode: the
# plugin, one channel with a viewport looking at the origin, and the
# scene node "stage" that published canvases may sit on (-node stage).
# Canvases come from the stream through qvp_mirror; this script makes
# none. Run it as the node's display:
#   qvp_mirror -scene node1 -redis HOST:PORT -stream st &
#   qvp_viewer -scene node1 -window examples/cluster/node_layout.tcl
plugin load $qvp_plugin
viewport create view [channel create main] -eye {0 1.5 10} -look {0 0 0} -clear {0.1 0.1 0.14}
node create stage -shape quad -size {12 12 0} -rot {0 -90 0} -pos {0 -2 0} -color {0.25 0.3 0.25}
