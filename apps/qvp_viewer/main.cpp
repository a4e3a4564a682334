// main.cpp - qvp_viewer: opens a scene and a display (headless, or a live
// window), embeds a Tcl interpreter with the host's commands, then runs a
// script or builds the built-in demo, and writes its snapshot, records
// its frames or shows them live.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "cluster.h"
#include "tarn.h"
#include "viewer.h"

namespace {

// The interpreter; created in main, read by InstallPluginCmd.
Tcl_Interp *g_interp = nullptr;
// Scene name to unlink at exit (empty when kept or attached); set in main.
std::string g_remove_at_exit;

const char *kUsage =
    "usage: qvp_viewer ?-scene NAME? ?-display NAME? ?-size WxH? ?-double? ?-o FILE.png? ?-alpha?\n"
    "                  ?-frames N? ?-window? ?-i? ?-fps N? ?-record FILE.mp4|FILE.png? ?-quiet?\n"
    "                  ?-redis HOST:PORT -stream NAME ?-redis-auth FILE? ?-compact N??\n"
    "                  ?-arena MiB? ?-keep? ?-remove? ?-novisual? ?script.tcl ?arg ...??\n";

int install_plugin_cmd(const char *name, Tcl_ObjCmdProc *proc, ClientData data) {
    if (!g_interp || !name || !proc) return 0;
    return Tcl_CreateObjCommand(g_interp, name, proc, data, nullptr) != nullptr;
}

void shutdown_all() {
    static bool done = false;
    if (done) return;
    done = true;
    qvpcl::StopPublishing();
    QVH_ShutdownPlugins();
    QVH_CloseDisplay();
    QVH_CloseScene();
    if (!g_remove_at_exit.empty()) QVH_RemoveScene(g_remove_at_exit.c_str());
}

// Runs stop_async at the interpreter's next safe point; made in main.
Tcl_AsyncHandler g_stop_async = nullptr;

// Ends the viewer as a normal exit would (the scene it made removed),
// with the shell's status for death by the signal.
[[noreturn]] void stop_on_signal() {
    int sig = viewer_stop_signal;
    fprintf(stderr, "qvp_viewer: stopped by %s\n", strsignal(sig));
    shutdown_all();
    fflush(stdout);
    _exit(128 + sig);
}

// Only notes the signal: the frame in progress is finished first. A
// second one ends the process at once.
void on_signal(int sig) {
    viewer_stop_signal = sig;
    signal(sig, SIG_DFL);
    if (g_stop_async) Tcl_AsyncMark(g_stop_async);
}

int stop_async(ClientData, Tcl_Interp *, int code) {
    if (viewer_stop_signal) stop_on_signal();
    return code;
}

// The X server went away under the window: Xlib ends the process after
// this, so only the scene this viewer made is removed (nothing may talk
// to the display any more).
void display_lost(const char *why) {
    fprintf(stderr, "qvp_viewer: %s\n", why);
    if (!g_remove_at_exit.empty()) QVH_RemoveScene(g_remove_at_exit.c_str());
    _exit(1);
}

// Tcl's exit: shut the host down cleanly, then leave with the status.
void exit_proc(ClientData status) {
    shutdown_all();
    fflush(stdout);
    _exit((int)(intptr_t)status);
}

[[noreturn]] void die(const std::string &msg) {
    fprintf(stderr, "qvp_viewer: %s\n", msg.c_str());
    shutdown_all();
    exit(1);
}

// "viewer-PID-" and 16 random hex digits.
std::string private_scene_name() {
    unsigned char r[8] = {0};
    if (getrandom(r, sizeof r, 0) != (ssize_t)sizeof r) {
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        memcpy(r, &t.tv_nsec, sizeof t.tv_nsec < sizeof r ? sizeof t.tv_nsec : sizeof r);
    }
    char hex[17];
    for (int i = 0; i < 8; i++) snprintf(hex + 2 * i, 3, "%02x", r[i]);
    return "viewer-" + std::to_string(getpid()) + "-" + hex;
}

}  // namespace

std::string viewer_plugin_path() {
    std::string dir = viewer_exe_dir();
    if (dir.empty()) return "qvp_drawcanvas.so";
    // Beside the viewer in a build folder; where the install put it else.
    std::string beside = dir + "/qvp_drawcanvas.so", installed = dir + "/" QVP_PLUGIN_FROM_BIN "/qvp_drawcanvas.so";
    return access(beside.c_str(), F_OK) == 0 || access(installed.c_str(), F_OK) != 0 ? beside : installed;
}

int main(int argc, char **argv) {
    // A private scene gets a name nobody can guess and is made afresh
    // (never attached), so that no other user can have made it first.
    std::string scene = private_scene_name();
    bool private_scene = true;
    std::string display = "display";
    bool keep = false, remove_first = false, dbl = false, novisual = false, window = false, interactive = false;
    int w = 640, h = 480, frames = -1, fps = 60;
    size_t arena = 0;
    std::string out, record, redis, stream, redis_auth;
    long compact = qvpcl::kCompactEvery;
    ViewerOutput output;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        std::string a = argv[i];
        bool has_val = i + 1 < argc;
        if (a == "-scene" && has_val) { scene = argv[++i]; private_scene = false; }
        else if (a == "-display" && has_val) {
            display = argv[++i];
            if (display.empty() || display.size() > 79 || display.find(':') != std::string::npos)
                die("bad -display \"" + display + "\": want 1 to 79 characters and no ':' (overlays are mapped by DISPLAY:CHANNEL)");
        }
        else if (a == "-size" && has_val) {
            if (sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 1 || h < 1) die(std::string("bad -size \"") + argv[i] + "\": want WxH");
        } else if (a == "-double") dbl = true;
        else if (a == "-o" && has_val) out = argv[++i];
        else if (a == "-frames" && has_val) {
            char *end;
            errno = 0;
            long long v = strtoll(argv[++i], &end, 10);
            if (*end || !*argv[i] || errno || v < 0 || v > INT_MAX)
                die(std::string("bad -frames \"") + argv[i] + "\": want 0 to " + std::to_string(INT_MAX));
            frames = (int)v;
        } else if (a == "-arena" && has_val) {
            char *end;
            long mib = strtol(argv[++i], &end, 10);
            if (*end || mib < 1 || mib > 65536) die(std::string("bad -arena \"") + argv[i] + "\": want MiB, 1 to 65536");
            arena = (size_t)mib << 20;
        } else if (a == "-fps" && has_val) {
            char *end;
            long v = strtol(argv[++i], &end, 10);
            if (*end || v < 1 || v > 1000) die(std::string("bad -fps \"") + argv[i] + "\": want 1 to 1000");
            fps = (int)v;
        } else if (a == "-record" && has_val) {
            record = argv[++i];
            if (record.empty()) die("-record wants a file name");
        } else if (a == "-redis" && has_val) redis = argv[++i];
        else if (a == "-redis-auth" && has_val) redis_auth = argv[++i];
        else if (a == "-compact" && has_val) {
            char *end;
            compact = strtol(argv[++i], &end, 10);
            if (*end || compact < 0) die(std::string("bad -compact \"") + argv[i] + "\": want a number of entries, 0 for never");
        }
        else if (a == "-stream" && has_val) stream = argv[++i];
        else if (a == "-window") window = true;
        else if (a == "-i") interactive = true;
        else if (a == "-alpha") output.keep_alpha = true;
        else if (a == "-quiet") output.quiet = true;
        else if (a == "-keep") keep = true;
        else if (a == "-remove") remove_first = true;
        else if (a == "-novisual") novisual = true;
        else if (a == "-h" || a == "-help" || a == "--help") { fputs(kUsage, stdout); return 0; }
        else { fprintf(stderr, "qvp_viewer: unknown or incomplete option \"%s\"\n%s", a.c_str(), kUsage); return 2; }
    }
    const char *script = i < argc ? argv[i++] : nullptr;

    if (!record.empty() && frames < 1) die("-record wants -frames N (N at least 1)");
    if (!record.empty() && window) die("-record and -window do not go together: record headless");
    if (!record.empty() && interactive) die("-record and -i do not go together");
    // A window on a terminal takes commands as tclsh does; -i asks for
    // that without a window.
    bool prompt = isatty(0) && (window || interactive);
    if (interactive && !isatty(0)) die("-i wants a terminal on stdin (pipe a script to the viewer instead: qvp_viewer /dev/stdin)");
    // Without an X server a window cannot open: say so before any scene is made.
    if (window && (!getenv("DISPLAY") || !*getenv("DISPLAY")))
        die("-window needs an X display: DISPLAY is not set (run under an X session or xvfb-run)");
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = on_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
    // A write to a dead X server or Redis gets EPIPE and takes the normal
    // error path (the lost-display hook) rather than ending the process
    // with the scene left behind.
    signal(SIGPIPE, SIG_IGN);
    QVH_SetDisplayLostHook(display_lost);
    if (remove_first) QVH_RemoveScene(scene.c_str());
    char err[512];
    int open_flags = private_scene ? QVH_SCENE_CREATE : QVH_SCENE_CREATE | QVH_SCENE_ATTACH;
    if (!QVH_OpenScene(scene.c_str(), arena, open_flags, err, sizeof err)) die(err);
    // A scene this viewer made goes with it unless -keep asks otherwise;
    // attached viewers never remove it.
    if (QVH_SceneCreatedHere() && !keep) g_remove_at_exit = scene;
    if (int gone = QVH_SceneCreatorGone())
        fprintf(stderr,
                "qvp_viewer: warning: scene \"%s\" was made by process %d, which died without closing it; "
                "if nothing else uses it, run with -remove to start it afresh\n",
                scene.c_str(), gone);
    std::string title = "qvp_viewer: " + scene;
    if (window ? !QVH_OpenDisplayWindow(display.c_str(), w, h, dbl, title.c_str(), err, sizeof err)
               : !QVH_OpenDisplay(display.c_str(), w, h, dbl, err, sizeof err))
        die(err);
    output.out = out;
    viewer_keep_alpha = output.keep_alpha;

    Tcl_FindExecutable(argv[0]);
    g_interp = Tcl_CreateInterp();
    g_stop_async = Tcl_AsyncCreate(stop_async, nullptr);
    // A signal while the display opened found no handler to mark: the
    // script would never have been told.
    if (viewer_stop_requested()) stop_on_signal();
    if (Tcl_Init(g_interp) != TCL_OK) {
        // Without init.tcl the interpreter still runs plain scripts.
        fprintf(stderr, "qvp_viewer: warning: %s\n", Tcl_GetStringResult(g_interp));
    }
    Tcl_SetExitProc(exit_proc);
    viewer_register_commands(g_interp);
    QvpCanvasRegisterCommands(g_interp);
    // Video producers follow the display's run_time, so that a snapshot
    // after N frames is always the same; in a cluster it is the clock
    // every node's video follows.
    if (!redis.empty() || !stream.empty()) {
        if (redis.empty() || stream.empty()) die("cluster mode wants both -redis HOST:PORT and -stream NAME");
        std::string why;
        if (!qvpcl::UseRedisAuth(redis_auth, why) || !qvpcl::StartPublishing(redis, stream, why, compact)) die(why);
        QVH_SetFrameHook(
            [](double t, void *) {
                qvpc::TickVideo(t);
                qvpc::CollectImages(false);
                qvpc::PlaceWaitingCanvases();
                qvpcl::PublishClock(t);
            },
            nullptr);
    } else {
        QVH_SetFrameHook(
            [](double t, void *) {
                qvpc::TickVideo(t);
                qvpc::CollectImages(false);
                qvpc::PlaceWaitingCanvases();
            },
            nullptr);
    }

    QVS_TARN *tarn = (QVS_TARN *)QVF_AddDataToProcess("QVS_TARN", sizeof(QVS_TARN));
    tarn->tkwin = novisual ? nullptr : (void *)QVV_display;
    tarn->InstallPluginCmd = install_plugin_cmd;
    tarn->interp = g_interp;
    QVS_TARN_FEATURES *feat = (QVS_TARN_FEATURES *)QVF_AddDataToProcess("QVS_TARN_FEATURES", sizeof(QVS_TARN_FEATURES));
    feat->no_visual = novisual ? 1 : 0;

    Tcl_Obj *av = Tcl_NewListObj(0, nullptr);
    for (int k = i; k < argc; k++) Tcl_ListObjAppendElement(nullptr, av, Tcl_NewStringObj(argv[k], -1));
    Tcl_SetVar2Ex(g_interp, "argv", nullptr, av, TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(g_interp, "argc", nullptr, Tcl_NewIntObj(argc - i), TCL_GLOBAL_ONLY);
    // Scripts load the plugin that sits beside the viewer with $qvp_plugin.
    Tcl_SetVar2Ex(g_interp, "qvp_plugin", nullptr, Tcl_NewStringObj(viewer_plugin_path().c_str(), -1), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(g_interp, "argv0", nullptr, Tcl_NewStringObj(script ? script : argv[0], -1), TCL_GLOBAL_ONLY);

    int rc = script ? Tcl_EvalFile(g_interp, script) : viewer_build_demo(g_interp, viewer_plugin_path());
    if (viewer_stop_requested()) stop_on_signal();
    int status = 0;
    if (rc == TCL_OK) {
        std::string why;
        if (!record.empty()) {
            if (script) viewer_warn_blank("recording", false);
            if (!viewer_record(record, frames, fps, output, why)) die(why);
            if (viewer_stop_requested()) stop_on_signal();
            if (!output.quiet) printf("qvp_viewer: %d frames recorded to %s\n", frames, record.c_str());
        } else if (window) {
            if (prompt) viewer_prompt_start(g_interp);
            status = viewer_live(frames, fps, output);
        } else if (prompt) {
            viewer_prompt_start(g_interp);
            viewer_prompt_loop(fps);
        } else {
            int n = script ? frames : (frames > 0 ? frames : 1);
            Progress progress("frame", n, output.quiet);
            for (int k = 1; k <= n && !viewer_stop_requested(); k++) {
                QVH_RunFrames(1);
                progress.Step(k);
            }
        }
        if (viewer_stop_requested()) stop_on_signal();
        if (!script && out.empty() && !window) out = "demo.png";
        if (!out.empty() && !window && script) viewer_warn_blank("snapshot", true);
        if (!out.empty() && !window && !QVH_SnapshotAlpha(out.c_str(), output.keep_alpha, err, sizeof err)) die(err);
        if (!script && !window && record.empty() && !output.quiet) printf("qvp_viewer: demo written to %s\n", out.c_str());
    }
    if (rc != TCL_OK) {
        const char *info = Tcl_GetVar(g_interp, "errorInfo", TCL_GLOBAL_ONLY);
        fprintf(stderr, "qvp_viewer: %s\n%s\n", Tcl_GetStringResult(g_interp), info ? info : "");
        // The demo's records are already there when its scene outlived
        // an earlier run.
        if (!script && !QVH_SceneCreatedHere())
            fprintf(stderr, "qvp_viewer: scene \"%s\" was there before this run; -remove starts it afresh\n",
                    scene.c_str());
        shutdown_all();
        return 1;
    }
    shutdown_all();
    return status;
}
