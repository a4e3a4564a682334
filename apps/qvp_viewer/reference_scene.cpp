// reference_scene.cpp - the reference scene of reference_scene.h.
#include "reference_scene.h"

#include <tcl.h>
#include <unistd.h>

#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "viewer.h"

extern "C" int QVF_InitializePluginCB(QVS_PLUGIN *plugin);

// The viewer's commands ask where its module lies; here the plugin is
// linked in, so nowhere.
std::string viewer_plugin_path() { return ""; }

namespace {

// Set by ReferenceSceneOpen, cleared by ReferenceSceneClose.
std::string g_name;
Tcl_Interp *g_interp = nullptr;
// Display frames since the scene was opened; counted by the frame hook.
long g_frames = 0;
// Set by ReferenceSceneOnFrame.
void (*g_on_frame)() = nullptr;

// The small canvases beyond the demo's: a name tag and one shape each,
// the shape kinds in turn, in the world, turning about either axis or
// both, on the ball node, and at a fixed share of the viewport.
const char *kMore = R"TCL(
set shapes {
    {rect 1 3.5 5 6.5 -fill {0.9 0.4 0.2} -outline {1 1 1} -width 1}
    {circle 3 5 1.6 -fill {0.3 0.8 0.5} -outline {1 1 0.5} -width 1}
    {arc 1 3.4 5 6.8 -start 0 -end 270 -fill {1 0.7 0.2}}
    {line {1 6.5 3 3.5 5 6.5 7 3.5 9 6.5} -fill {1 1 0.4} -width 2}
    {polygon {1 3.5 7 3.5 7 6.5 5 6.5 5 5 3 5 3 6.5 1 6.5} -fill {0.2 0.7 0.8}}
}
set locks {{} row col {row col} node {row col screen}}
for {set i 0} {$i < $count} {incr i} {
    set layer [lindex {scene background foreground} [expr {$i % 3}]]
    set x [expr {($i % 17) * 1.25 - 10.5}]
    set y [expr {($i / 17) * 0.75 - 1.8}]
    set opts [list -layer $layer -org [list $x $y -7] -colvec {1.1 0 0} -rowvec {0 -0.6 0} \
        -cols 11 -rows 7 -bg [list 0.1 [expr {0.1 + ($i % 7) * 0.05}] 0.3]]
    switch -- [lindex $locks [expr {$i % 6}]] {
        row { lappend opts -lock row }
        col { lappend opts -lock col }
        {row col} { lappend opts -lock {row col} }
        node { set opts [list -layer scene -node ball -org [list [expr {$x * 0.2}] [expr {$y * 0.2 + 1.4}] 1.3] \
                   -colvec {0.4 0 0} -rowvec {0 -0.25 0} -cols 11 -rows 7 -bg {0.3 0.1 0.1}] }
        {row col screen} { lappend opts -lock {row col screen} -size 0.05 -anchor {colstart rowstart} }
    }
    canvas create more$i {*}$opts
    canvas add more$i text 5.5 1.6 -text "canvas $i" -size {1.4 1.4} -fill {1 1 1}
    canvas add more$i {*}[lindex $shapes [expr {$i % 5}]]
}
)TCL";

bool eval(const char *script, std::string &err) {
    if (Tcl_Eval(g_interp, script) == TCL_OK) return true;
    err = Tcl_GetStringResult(g_interp);
    return false;
}

}  // namespace

bool ReferenceSceneOpen(std::string &err) {
    char buf[512];
    g_name = "refscene-" + std::to_string(getpid());
    QVH_LogToStderr(0);
    if (!QVH_OpenScene(g_name.c_str(), (size_t)256 << 20, QVH_SCENE_CREATE, buf, sizeof buf) ||
        !QVH_OpenDisplay("bench", 640, 480, 0, buf, sizeof buf)) {
        err = buf;
        return false;
    }
    g_interp = Tcl_CreateInterp();
    viewer_register_commands(g_interp);
    QvpCanvasRegisterCommands(g_interp);
    g_frames = 0;
    // One video frame per display frame, whatever the display's time step.
    QVH_SetFrameHook(
        [](double, void *) {
            qvpc::TickVideo((double)++g_frames / 25.0);
            if (g_on_frame) g_on_frame();
        },
        nullptr);
    static char arg0[] = "qvp_drawcanvas.so";
    static char *argv[] = {arg0, nullptr};
    static QVS_PLUGIN plugin;
    plugin = QVS_PLUGIN{};
    plugin.argc = 1;
    plugin.argv = argv;
    if (!QVF_InitializePluginCB(&plugin)) {
        err = "the plugin did not start";
        return false;
    }
    if (viewer_build_demo(g_interp, "") != TCL_OK) {
        err = Tcl_GetStringResult(g_interp);
        return false;
    }
    int have = (int)qvpc::Canvases().size();
    Tcl_SetVar2Ex(g_interp, "count", nullptr, Tcl_NewIntObj(kReferenceCanvases - have), TCL_GLOBAL_ONLY);
    if (!eval(kMore, err)) return false;
    if ((int)qvpc::Canvases().size() != kReferenceCanvases) {
        err = "the scene has " + std::to_string(qvpc::Canvases().size()) + " canvases, not " +
              std::to_string(kReferenceCanvases);
        return false;
    }
    QVH_RunFrames(5);
    return true;
}

void ReferenceSceneClose() {
    QVH_SetFrameHook(nullptr, nullptr);
    g_on_frame = nullptr;
    if (g_interp) Tcl_DeleteInterp(g_interp);
    g_interp = nullptr;
    QVH_CloseDisplay();
    QVH_CloseScene();
    if (!g_name.empty()) QVH_RemoveScene(g_name.c_str());
    g_name.clear();
}

const std::string &ReferenceSceneName() { return g_name; }

void ReferenceSceneOnFrame(void (*fn)()) { g_on_frame = fn; }

bool ReferenceSceneEval(const char *script, std::string &err) { return g_interp && eval(script, err); }
