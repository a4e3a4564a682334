// demo.cpp - the built-in demo scene of qvp_viewer, written as the Tcl
// script a user would write: nodes in every layer, text canvases in
// every layer and every placement mode, a board of every shape kind, and
// an image beside a playing video, a nested inset, a window onto a node
// and a curved canvas, seen from two viewports, under a channel HUD and
// a label per viewport.
#include <unistd.h>

#include <string>

#include "viewer.h"

std::string viewer_exe_dir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    buf[n] = '\0';
    std::string path(buf);
    return path.substr(0, path.rfind('/'));
}

namespace {

// The pictures the demo shows: the source tree's when it is there, else
// where the install put them, from the viewer's own folder.
std::string media_dir() {
    std::string dir = viewer_exe_dir();
    if (access(QVP_MEDIA_DIR, F_OK) == 0 || dir.empty()) return QVP_MEDIA_DIR;
    return dir + "/" QVP_MEDIA_FROM_BIN;
}
const char *kNodes = R"TCL(
channel create main
viewport create left main -rect {0 0 320 480} -clear {0.08 0.09 0.12} \
    -eye {0 2 12} -look {0 0 0}
viewport create right main -rect {320 0 320 480} -clear {0.12 0.10 0.08} \
    -eye {9 5 9} -look {0 0 0}

node create floor -shape quad -size {14 14 0} -rot {0 -90 0} -pos {0 -2 0} \
    -color {0.25 0.3 0.25}
node create sun -shape sphere -size {3 3 3} -pos {-9 6 -18} -layer background \
    -color {0.95 0.75 0.3}
node create redbox -shape box -size {2 2 2} -pos {-2.5 0 0} -rot {30 0 0} \
    -color {0.85 0.2 0.15}
node create ball -shape sphere -size {2.4 2.4 2.4} -pos {2.5 0 0} \
    -color {0.2 0.6 0.9}
node create moon -shape sphere -size {0.8 0.8 0.8} -parent ball -pos {0 2 0} \
    -color {0.9 0.9 0.7}
node create marker -shape box -size {0.4 0.4 0.4} -pos {0 3 0} -layer foreground \
    -color {1 0.8 0.1}
)TCL";

const char *kCanvases = R"TCL(
# Background layer, in the world: a backdrop behind everything, the
# background node (the sun) included.
canvas create banner -layer background -org {0 4 -14} -colvec {20 0 0} \
    -rowvec {0 -3 0} -cols 40 -rows 6 -bg {0.1 0.12 0.3}
canvas add banner text 20 3 -text "qvp_drawcanvas demo" -size {4 4} -fill {1 1 1}

# Scene layer, in the world: a sign standing on the floor, depth-tested.
canvas create sign -layer scene -org {0 -1 -3} -colvec {4 0 0} -rowvec {0 -1 0} \
    -cols 16 -rows 4 -bg {0.1 0.3 0.1}
canvas add sign text 8 2 -text "scene layer, world" -size {1.6 1.6} -fill {0.9 1 0.6}

# Scene layer, on a node: rides on the red box's top face.
canvas create boxlabel -layer scene -node redbox -org {0 1.01 0} \
    -colvec {1.8 0 0} -rowvec {0 0 1.8} -cols 6 -rows 6 -bg {0.5 0.05 0.05}
canvas add boxlabel text 3 3 -text "on\nnode" -size {2 2} -fill {1 1 1}

# Foreground layer, on the moon, screen-aligned and kept at a fixed share
# of the viewport whatever the distance.
canvas create moontag -layer foreground -node moon -org {0 0 0} -colvec {1 0 0} \
    -rowvec {0 -1 0} -cols 10 -rows 15 -anchor {colstart rowend} \
    -lock {row col screen} -size 0.18 -bg {0 0 0} -opacity 0.75
canvas add moontag text 5 7.5 -text "fixed\nsize" -size {3 2} -fill {0.4 0.9 1}

# Scene layer, turning about its row axis (vertical) toward each viewer.
canvas create pivot -layer scene -org {-2.5 2.6 0} -colvec {3 0 0} -rowvec {0 -0.75 0} \
    -cols 12 -rows 3 -lock row -bg {0.35 0.25 0.05}
canvas add pivot text 6 1.5 -text "row axis" -size {2 2} -fill {1 0.9 0.5}

# Scene layer, turning about its column axis (horizontal) toward each viewer.
canvas create tilt -layer scene -org {2.5 -1.2 3} -colvec {3 0 0} -rowvec {0 -0.75 0} \
    -cols 12 -rows 3 -lock col -bg {0.25 0.05 0.3}
canvas add tilt text 6 1.5 -text "column axis" -size {2 2} -fill {1 0.8 1}

# Foreground layer, screen-aligned in the world, with a colour gain.
canvas create hud -layer foreground -org {-4 -3.6 0} -colvec {6.5 0 0} \
    -rowvec {0 -0.75 0} -cols 26 -rows 3 -anchor {colstart rowstart} \
    -lock {row col} -bg {0.2 0.2 0.2} -gain {1 0.85 0.6}
canvas add hud text 1 1.5 -text "foreground, screen-aligned" -anchor colstart -size {2 2} -fill {1 1 1}

# Scene layer, in the world: every shape kind on one board.
canvas create shapes -layer scene -org {-3.5 4.9 -1} -colvec {3.3 0 0} -rowvec {0 -2.06 0} \
    -cols 96 -rows 60 -bg {0.22 0.24 0.32}
canvas add shapes rect 4 4 28 22 -fill {0.9 0.3 0.2} -outline {1 1 1} -width 2
canvas add shapes circle 46 13 9 -fill {0.3 0.8 0.4}
canvas add shapes circle 76 13 8 -fill none -outline {0.9 0.8 0.2} -width 3 -scale {1 1}
canvas add shapes arc 4 28 30 56 -start 0 -end 270 -fill {1 0.6 0.1}
canvas add shapes arc 32 28 58 56 -start 200 -end 340 -fill none -outline {1 0.4 0.6} -width 3
canvas add shapes line {34 52 42 40 50 52 58 40} -fill {1 1 0.4} -width 2
canvas add shapes polygon {62 30 92 30 92 56 84 56 84 40 70 40 70 56 62 56} \
    -fill {0.2 0.8 0.7} -outline {1 1 1} -width 2
)TCL";

// A faded inset nested in the shapes board, and a window through which
// a node is seen that is hidden everywhere else, with a tag on the node.
const char *kWindows = R"TCL(
canvas create inset -parent shapes -org {-2.75 3.45 -0.9} -colvec {1.8 0 0} -rowvec {0 -0.6 0} \
    -cols 25 -rows 10 -bg {0.95 0.95 1}
canvas add inset text 12.5 5 -text "nested, faded" -size {3 5} -fill {0.1 0.1 0.4}
canvas add shapes canvas -canvas inset -opacity 0.7

node create gem -shape sphere -size {1.8 1.8 1.8} -pos {-3.6 -0.9 1.5} -color {0.8 0.3 0.9}
canvas create window -layer scene -org {-4.9 0.5 3.5} -colvec {2.2 0 0} -rowvec {0 -2 0} \
    -cols 22 -rows 20 -anchor {colstart rowstart}
canvas add window rect 0 0 22 20 -fill none -outline {1 1 1} -width 2
canvas add window node gem
canvas create gemtag -layer none -node gem -org {0 0 0.95} -colvec {1.4 0 0} -rowvec {0 -0.4 0} \
    -cols 14 -rows 4 -bg {0 0 0}
canvas add gemtag text 7 2 -text "through a window" -size {1.6 2.4} -fill {1 1 1}
)TCL";

// A canvas bent onto a sphere of radius 6 about the pivot node, as on a
// dome: drawn flat into a texture, then shown on the sphere patch.
const char *kCurved = R"TCL(
node create pivot -shape none -pos {0 0 0}
canvas create curved -node pivot -proj sphere -radius 6 -org {0 7.6 -6} -colvec {10 0 0} \
    -rowvec {0 -1.3 0} -cols 50 -rows 6 -bg {0.1 0.25 0.3}
canvas add curved text 25 3 -text "curved onto a sphere of radius 6" -size {3.2 3.2} -fill {0.8 1 1}
)TCL";

// Overlays mapped by name: a HUD over the whole of the first channel of
// any display, and a label in each viewport, sized in the pixels of
// their reference size.
const char *kOverlays = R"TCL(
canvas create hud_channel -mapping DEFAULT:channel1 -org {0.5 0.985 0} -colvec {0.5 0 0} \
    -rowvec {0 -0.06 0} -cols 40 -rows 2 -anchor rowstart -scale height -bg {0 0 0} -opacity 0.6
canvas add hud_channel text 20 1 -text "channel HUD: DEFAULT:channel1" -size {1.6 1.6} -fill {1 1 0.6}
foreach v {left right} {
    canvas create label_$v -mapping DEFAULT.$v -org {0.03 0.03 0} -colvec {0.5 0 0} \
        -rowvec {0 -0.05 0} -cols 20 -rows 2 -anchor {colstart rowend} -scale fixed \
        -bg {0.15 0.3 0.5}
    canvas add label_$v text 1 1 -text "viewport $v" -anchor colstart -size {1.6 1.6} -fill {1 1 1}
}
)TCL";

// The image and the video, when the demo's picture is where the build
// put it.
const char *kMedia = R"TCL(
canvas create screens -layer scene -org {0.2 4.9 -1} -colvec {3.3 0 0} -rowvec {0 -2.06 0} \
    -cols 96 -rows 60 -bg {0.22 0.24 0.32}
image create tiles -file [file join $qvp_media tiles.png]
canvas add screens image 3 6 45 54 -image tiles
canvas add screens video 50 12 93 48 -pattern 1 -size {160 120} -fps 25
frame 30
)TCL";
}  // namespace

int viewer_build_demo(Tcl_Interp *interp, const std::string &plugin_path) {
    int rc = Tcl_Eval(interp, kNodes);
    if (rc != TCL_OK) return rc;
    if (!plugin_path.empty()) {
        if (access(plugin_path.c_str(), R_OK) != 0) return rc;
        std::string cmd = "plugin load {" + plugin_path + "}";
        rc = Tcl_Eval(interp, cmd.c_str());
        if (rc != TCL_OK) return rc;
    }
    rc = Tcl_Eval(interp, kCanvases);
    if (rc == TCL_OK) rc = Tcl_Eval(interp, kWindows);
    if (rc == TCL_OK) rc = Tcl_Eval(interp, kCurved);
    if (rc == TCL_OK) rc = Tcl_Eval(interp, kOverlays);
    if (rc != TCL_OK) return rc;
    Tcl_SetVar2Ex(interp, "qvp_media", nullptr, Tcl_NewStringObj(media_dir().c_str(), -1), TCL_GLOBAL_ONLY);
    return Tcl_Eval(interp, kMedia);
}
