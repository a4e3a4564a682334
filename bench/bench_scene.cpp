// bench_scene.cpp - what a frame of the reference scene costs, against
// the GL floor of the same geometry, and how much of a display's frame
// the canvas lock is held while another process edits canvases.
//
// Frames are timed side by side in one process on one display: the
// plugin's frame and the floor's frame (gl_floor.h), each rasterised and
// with GL_RASTERIZER_DISCARD on, interleaved, REPS times; the table gives
// the median and the spread (min..max) of the time per frame. Then an
// editor process (this program again) edits a canvas RATE times a second
// while the display draws the scene, and the display's time under the
// lock is put against its frame time.
//
//   bench_scene [--reps N] [--frames K] [--lock-seconds S] [--rate R] [--pictures DIR]
//   bench_scene --profile plugin|floor[-off] K   (K frames of one, nothing else, -off with the
//                                             rasteriser off: for perf)
//   bench_scene --editor SCENE RATE SECONDS    (the editor; started by the benchmark)
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "alloc_watch.h"
#include "bench_util.h"
#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "gl_floor.h"
#include "got_patch.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "reference_scene.h"

extern char **environ;

namespace {

/* ---- the callbacks of each way of drawing ---- */

template <int P, void (*F)()>
void captured() {
    FloorEnter(P);
    F();
    FloorLeave(P);
}

template <int P>
void floor_callback() {
    FloorReplay(P);
}

struct Phase {
    int code;
    void (*plugin)();
    void (*capture)();
    void (*floor)();
};

#define QVP_BENCH_PHASE(code, fn) {code, fn, captured<code, fn>, floor_callback<code>}
const Phase kPhases[] = {
    QVP_BENCH_PHASE(QVP_PHASE_UPDATE_SCENE, UpdateScene),
    QVP_BENCH_PHASE(QVP_PHASE_DRAW_SCENE, DrawScene),
    QVP_BENCH_PHASE(QVP_PHASE_DRAW_FOREGROUND, DrawForeground),
    QVP_BENCH_PHASE(QVP_PHASE_DRAW_BACKGROUND, DrawBackground),
    QVP_BENCH_PHASE(QVP_PHASE_DRAW_VIEW, DrawView),
    QVP_BENCH_PHASE(QVP_PHASE_UPDATE_VIEW, UpdateView),
    QVP_BENCH_PHASE(QVP_PHASE_UPDATE_CHANNEL, UpdateChannel),
};

enum Mode { PLUGIN, CAPTURE, FLOOR, FLOOR_PUSHES, FLOOR_IMMEDIATE, HOST_ALONE, kModeCount };
const char *kModeNames[] = {"qvp_drawcanvas",           "capture",
                            "GL floor (static VBO)",    "floor + drawing-state pushes",
                            "floor in immediate mode", "host alone (no canvases)"};

// The host handle the callbacks are installed under; any unique address.
char g_handle;

void install(Mode m) {
    FloorSetVariant(m == FLOOR_PUSHES, m == FLOOR_IMMEDIATE);
    if (m == FLOOR_PUSHES || m == FLOOR_IMMEDIATE) m = FLOOR;
    QVH_ClearCallbacks();
    if (m == HOST_ALONE) return;
    for (const Phase &p : kPhases)
        QVF_InstallPluginFunction(&g_handle, m == PLUGIN ? p.plugin : m == CAPTURE ? p.capture : p.floor, p.code);
}

// Seconds per frame over K frames.
double time_frames(int k, bool discard) {
    if (discard) glEnable(GL_RASTERIZER_DISCARD);
    double t0 = BenchNow();
    QVH_RunFrames(k);
    double t = (BenchNow() - t0) / k;
    if (discard) glDisable(GL_RASTERIZER_DISCARD);
    return t;
}

std::vector<unsigned char> read_frame() {
    std::vector<unsigned char> px((size_t)640 * 480 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

/* ---- the lock ---- */

// Time under the canvas lock and waiting for it, in this process; summed
// by the lock stand-ins while the lock benchmark runs.
double g_lock_held = 0, g_lock_wait = 0, g_lock_since = 0;
long g_lock_takes = 0;
int (*real_SetLock)(QVS_SMLOCK *);
int (*real_UnsetLock)(QVS_SMLOCK *);

extern "C" int timed_SetLock(QVS_SMLOCK *l) {
    double t0 = BenchNow();
    int r = real_SetLock(l);
    g_lock_since = BenchNow();
    g_lock_wait += g_lock_since - t0;
    g_lock_takes++;
    return r;
}

// How long each take held the lock (a pass of the display's walk), the
// first kPassesMost of a run; room made before the run, filled by
// timed_UnsetLock.
const size_t kPassesMost = 1 << 16;
std::vector<double> g_passes;

extern "C" int timed_UnsetLock(QVS_SMLOCK *l) {
    double held = BenchNow() - g_lock_since;
    g_lock_held += held;
    if (g_passes.size() < kPassesMost) g_passes.push_back(held);
    return real_UnsetLock(l);
}

// The editor: attaches to SCENE and edits canvas "edited" RATE times a
// second for SECONDS, alternately moving it and changing its text.
// Prints the number of edits made and the median, 99th percentile and
// longest time an edit took, lock wait included, in microseconds.
int run_editor(const char *scene, double rate, double seconds) {
    char buf[512];
    QVH_LogToStderr(0);
    if (!QVH_OpenScene(scene, 0, QVH_SCENE_ATTACH, buf, sizeof buf)) {
        fprintf(stderr, "bench_scene editor: %s\n", buf);
        return 1;
    }
    std::string err;
    if (!qvpc::Attach(err)) {
        fprintf(stderr, "bench_scene editor: %s\n", err.c_str());
        return 1;
    }
    QVP_CANVAS *c = qvpc::FindCanvas("edited");
    QVP_CANVAS_ELEMENT *e = c ? c->elements : nullptr;
    if (!c || !e) {
        fprintf(stderr, "bench_scene editor: no canvas \"edited\" with an element\n");
        return 1;
    }
    int id = e->id;
    long n = 0;
    std::vector<double> took;
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    double end = BenchNow() + seconds;
    long step = (long)(1e9 / rate);
    while (BenchNow() < end) {
        double t0 = BenchNow();
        if (n % 2 == 0) {
            QVP_CANVAS desc = *c;
            desc.disp.org[0] = -2 + (double)(n % 200) * 0.02;
            if (!qvpc::ConfigureCanvas(c, desc, false, {}, err)) break;
        } else {
            QVP_CANVAS_ELEMENT *el = qvpc::FindElement(c, id);
            if (!el) break;
            qvpc::ElementDesc d = qvpc::DescOf(el);
            d.text = "edit " + std::to_string(n);
            if (!qvpc::ConfigureElement(c, el, d, err)) break;
        }
        took.push_back(BenchNow() - t0);
        n++;
        next.tv_nsec += step;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            next.tv_sec++;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::sort(took.begin(), took.end());
    auto at = [&](double q) { return took.empty() ? 0 : took[(size_t)(q * (double)(took.size() - 1))] * 1e6; };
    printf("%ld %.1f %.1f %.1f\n", n, at(0.5), at(0.99), at(1.0));
    QVH_CloseScene();
    return 0;
}

struct Options {
    int reps = 9, frames = 10;
    double lock_seconds = 5, rate = 1000;
    std::string pictures;
    std::string profile;  // "plugin" or "floor": draw only that, frames times
};

// Adds the canvas the editor edits; false when the scene refused it.
bool add_edited_canvas() {
    std::string err;
    if (!ReferenceSceneEval("canvas create edited -layer foreground -org {-2 -3 2} -colvec {4 0 0} "
                            "-rowvec {0 -0.5 0} -cols 20 -rows 2 -bg {0.3 0 0}\n"
                            "canvas add edited text 10 1 -text {edit 0} -fill {1 1 1}",
                            err)) {
        fprintf(stderr, "bench_scene: %s\n", err.c_str());
        return false;
    }
    return true;
}

// Draws the scene for the editor's run, rasterised or with the rasteriser
// off, and prints the lock's share of the display's frames.
bool lock_benchmark(const Options &o, bool discard) {
    std::string err;
    install(PLUGIN);
    QVH_RunFrames(3);
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return false;
    self[len] = '\0';
    std::string rate = std::to_string(o.rate), secs = std::to_string(o.lock_seconds);
    const char *argv[] = {self, "--editor", ReferenceSceneName().c_str(), rate.c_str(), secs.c_str(), nullptr};
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    pid_t pid;
    if (posix_spawn(&pid, self, &fa, nullptr, (char *const *)argv, environ) != 0) {
        fprintf(stderr, "bench_scene: cannot start the editor\n");
        return false;
    }
    close(fds[1]);
    std::vector<GotHook> hooks = {{"QVF_SetLock", (void *)timed_SetLock, (void **)&real_SetLock},
                                  {"QVF_UnsetLock", (void *)timed_UnsetLock, (void **)&real_UnsetLock}};
    if (GotPatch(hooks, err) == 0) {
        fprintf(stderr, "bench_scene: cannot watch the lock: %s\n", err.c_str());
        return false;
    }
    // The display draws while the editor runs, leaving it a moment to start.
    usleep(200000);
    double t0 = BenchNow();
    long frames = 0;
    g_lock_held = g_lock_wait = 0;
    g_lock_takes = 0;
    g_passes.clear();
    g_passes.reserve(kPassesMost);
    std::vector<double> per_frame;
    if (discard) glEnable(GL_RASTERIZER_DISCARD);
    while (BenchNow() - t0 < o.lock_seconds - 0.5) {
        double h0 = g_lock_held, f0 = BenchNow();
        QVH_RunFrames(1);
        per_frame.push_back((g_lock_held - h0) / (BenchNow() - f0));
        frames++;
    }
    if (discard) glDisable(GL_RASTERIZER_DISCARD);
    double total = BenchNow() - t0;
    GotRestore();
    char out[128] = {0};
    ssize_t got = read(fds[0], out, sizeof out - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long edits = 0;
    double med = 0, p99 = 0, worst = 0;
    if (got > 0) sscanf(out, "%ld %lf %lf %lf", &edits, &med, &p99, &worst);
    std::sort(per_frame.begin(), per_frame.end());
    printf("\nlock, %s: the editor made %ld edits in %.1f s (%.0f a second); the display drew %ld frames in %.2f s\n",
           discard ? "rasteriser off" : "rasterised", edits, o.lock_seconds, edits / o.lock_seconds, frames, total);
    printf("  canvas lock held: %.3f ms a frame, %.3f%% of the frame time (worst frame %.3f%%)\n",
           g_lock_held / frames * 1e3, 100 * g_lock_held / total, 100 * per_frame.back());
    printf("  waiting for it:   %.3f ms a frame, %.3f%%; %.1f lock takes a frame\n", g_lock_wait / frames * 1e3,
           100 * g_lock_wait / total, (double)g_lock_takes / frames);
    printf("  an edit took (lock wait included): median %.0f us, 99th percentile %.0f us, longest %.0f us\n", med, p99,
           worst);
    // The display holds the lock for each pass of its walk, so an edit
    // waits at most for the pass in progress.
    std::sort(g_passes.begin(), g_passes.end());
    if (!g_passes.empty()) {
        double pmed = g_passes[g_passes.size() / 2] * 1e6, plong = g_passes.back() * 1e6;
        printf("  a pass held the lock: median %.0f us, longest %.0f us; an edit's 99th percentile is %.2f of the "
               "longest pass (%s one pass)\n",
               pmed, plong, p99 / plong, p99 <= plong ? "within" : "OVER");
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Says why the benchmark stops, closes the scene, and gives the exit status.
int give_up(const std::string &why) {
    fprintf(stderr, "bench_scene: %s\n", why.c_str());
    ReferenceSceneClose();
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "--editor") == 0) return run_editor(argv[2], atof(argv[3]), atof(argv[4]));
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool v = i + 1 < argc;
        if (a == "--reps" && v) o.reps = atoi(argv[++i]);
        else if (a == "--frames" && v) o.frames = atoi(argv[++i]);
        else if (a == "--lock-seconds" && v) o.lock_seconds = atof(argv[++i]);
        else if (a == "--rate" && v) o.rate = atof(argv[++i]);
        else if (a == "--pictures" && v) o.pictures = argv[++i];
        else if (a == "--profile" && i + 2 < argc) {
            o.profile = argv[++i];
            o.frames = atoi(argv[++i]);
        }
        else {
            fprintf(stderr, "usage: bench_scene [--reps N] [--frames K] [--lock-seconds S] [--rate R] [--pictures DIR]\n"
                            "       bench_scene --profile plugin|floor|plugin-off|floor-off K\n");
            return 2;
        }
    }
    if (o.reps < 1 || o.frames < 1 || o.lock_seconds < 1 || o.rate <= 0) {
        fprintf(stderr, "bench_scene: reps and frames want 1 or more, lock seconds 1 or more, a rate above 0\n");
        return 2;
    }
    std::string err;
    if (!ReferenceSceneOpen(err)) return give_up(err);
    ReferenceSceneOnFrame(FloorFrame);

    // One steady frame captured, then the floor built from it.
    install(CAPTURE);
    if (!FloorCaptureBegin(err)) return give_up(err);
    QVH_RunFrames(1);
    if (!FloorCaptureEnd(err)) return give_up(err);
    // Every floor variant must draw the plugin's picture: each is compared
    // with the plugin's frame.
    const Mode pictured[] = {PLUGIN, FLOOR, FLOOR_PUSHES, FLOOR_IMMEDIATE};
    const char *kPictureFiles[] = {"/scene-plugin.png", "/scene-floor.png", "/scene-floor-pushes.png",
                                   "/scene-floor-immediate.png"};
    std::vector<unsigned char> pictures[4];
    long differ[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; k++) {
        install(pictured[k]);
        QVH_RunFrames(2);
        pictures[k] = read_frame();
        if (!o.pictures.empty()) {
            char buf[512];
            std::string path = o.pictures + kPictureFiles[k];
            if (!QVH_Snapshot(path.c_str(), buf, sizeof buf)) fprintf(stderr, "bench_scene: %s\n", buf);
        }
        if (const char *why = FloorFailed())
            return give_up(std::string(kModeNames[pictured[k]]) + " does not replay the frame: " + why);
        for (size_t i = 0; k > 0 && i < pictures[0].size(); i += 4)
            for (int c = 0; c < 3; c++)
                if (abs(pictures[0][i + c] - pictures[k][i + c]) > 2) {
                    differ[k]++;
                    break;
                }
        // The video's picture moves on every frame (0.4% of the pixels);
        // much more means the floor is not drawing what the plugin draws.
        if (differ[k] > 640 * 480 / 100)
            return give_up(std::string(kModeNames[pictured[k]]) + "'s frame differs from the plugin's in " +
                           std::to_string(differ[k]) + " pixels");
    }

    // GL calls of one steady frame, through every GL entry point the
    // program imports (the host's own frame and its pushes included).
    long calls[kModeCount] = {0}, host_calls[kModeCount] = {0};
    {
        std::string cerr;
        if (GotCountAll("gl", cerr) > 0) {
            for (Mode m : {PLUGIN, FLOOR, FLOOR_PUSHES, FLOOR_IMMEDIATE, HOST_ALONE}) {
                install(m);
                QVH_RunFrames(2);
                GotCountReset();
                QVH_RunFrames(1);
                calls[m] = GotCountTotal(1);
                if (getenv("QVP_BENCH_CALLS")) {
                    fprintf(stderr, "GL calls of one frame, %s:\n", kModeNames[m]);
                    GotCountPrint(stderr, -1);
                }
                host_calls[m] = GotCountTotal(0);
            }
            GotRestore();
        } else {
            fprintf(stderr, "bench_scene: GL calls not counted: %s\n", cerr.c_str());
        }
    }

    // Heap allocations per steady frame of each way, by whose code.
    const Mode counted[] = {PLUGIN, FLOOR, FLOOR_IMMEDIATE};
    std::string alloc_lines;
    for (Mode m : counted) {
        if (!AllocWatchWorks()) break;
        install(m);
        QVH_RunFrames(2);
        AllocWatchStart();
        QVH_RunFrames(5);
        AllocReport r = AllocWatchStop();
        long lib = 0;
        for (auto &kv : r.libraries) lib += kv.second;
        char line[256];
        snprintf(line, sizeof line, "  %-30s project %ld, libraries %ld (%s)\n", kModeNames[m], r.project / 5,
                 lib / 5, r.Summary().c_str());
        alloc_lines += line;
    }
    if (!o.profile.empty()) {
        install(o.profile.rfind("floor", 0) == 0 ? FLOOR : PLUGIN);
        bool off = o.profile.size() > 4 && o.profile.compare(o.profile.size() - 4, 4, "-off") == 0;
        if (off) glEnable(GL_RASTERIZER_DISCARD);
        double t0 = BenchNow();
        QVH_RunFrames(o.frames);
        if (off) glDisable(GL_RASTERIZER_DISCARD);
        printf("%s: %.3f ms a frame\n", o.profile.c_str(), (BenchNow() - t0) / o.frames * 1e3);
        ReferenceSceneClose();
        return 0;
    }
    FloorStats s = FloorGetStats();
    // [way][discard]: seconds per frame, one per repetition.
    const Mode ways[] = {PLUGIN, FLOOR, FLOOR_PUSHES, FLOOR_IMMEDIATE, HOST_ALONE};
    const int kWays = 5;
    std::vector<double> t[kWays][2];
    for (int r = 0; r < o.reps; r++)
        for (int w = 0; w < kWays; w++)
            for (int d = 0; d < 2; d++) {
                install(ways[w]);
                QVH_RunFrames(2);
                t[w][d].push_back(time_frames(o.frames, d != 0));
            }
    if (const char *why = FloorFailed()) return give_up(std::string("the floor does not replay the frame: ") + why);
    printf("reference scene: %d canvases, 640x480, 2 viewports, renderer %s\n", kReferenceCanvases,
           (const char *)glGetString(GL_RENDERER));
    printf("plugin frame: %ld calls of the GL kinds the capture follows, %ld primitives, %ld vertices, %ld hand-overs to the host\n", s.gl_calls,
           s.primitives, s.vertices, s.core_calls);
    printf("floor frame: %ld glDrawArrays, %ld state calls, %ld vertices in one VBO\n", s.floor_draws,
           s.state_changes, s.floor_vertices);
    printf("floor draws split from the one before by: texturing or another enable %ld, stencil %ld, texture %ld, "
           "triangles/lines %ld, line width %ld; %ld other steps\n",
           s.split_enables, s.split_stencil, s.split_texture, s.split_mode, s.split_line_width, s.floor_other_ops);
    printf("in the plugin's frame: %ld drawing-state pushes, %ld glClear\n", s.pushes, s.clears);
    printf("pixels that differ from the plugin's frame: floor %ld, floor + pushes %ld, floor in immediate mode %ld, of %d\n",
           differ[1], differ[2], differ[3], 640 * 480);
    if (calls[PLUGIN])
        printf("GL calls a frame, every entry point, by the canvases' code / by the host's libraries (its frame, "
               "pushes, pops and setters):\n  plugin %ld / %ld, floor %ld / %ld, floor + pushes %ld / %ld, floor in "
               "immediate mode %ld / %ld, host alone %ld / %ld\n",
               calls[PLUGIN], host_calls[PLUGIN], calls[FLOOR], host_calls[FLOOR], calls[FLOOR_PUSHES],
               host_calls[FLOOR_PUSHES], calls[FLOOR_IMMEDIATE], host_calls[FLOOR_IMMEDIATE], calls[HOST_ALONE],
               host_calls[HOST_ALONE]);
    printf("heap allocations per steady frame (5 frames' totals in brackets):\n%s", alloc_lines.c_str());
    printf("%d frames x %d repetitions, interleaved\n\n", o.frames, o.reps);
    printf("%-30s %26s %26s\n", "frame drawn by", "rasterised, ms/frame", "rasteriser off, ms/frame");
    for (int m = 0; m < kWays; m++) {
        auto mm = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            char b[64];
            snprintf(b, sizeof b, "%.3f (%.3f..%.3f)", BenchMedian(v) * 1e3, v.front() * 1e3, v.back() * 1e3);
            return std::string(b);
        };
        printf("%-30s %26s %26s\n", kModeNames[ways[m]], mm(t[m][0]).c_str(), mm(t[m][1]).c_str());
    }
    // Ratios of each repetition's own pair too: drift between repetitions cancels.
    auto paired = [&](int a, int b, int d) {
        std::vector<double> r;
        for (size_t i = 0; i < t[a][d].size(); i++) r.push_back(t[a][d][i] / t[b][d][i]);
        return BenchMedian(r);
    };
    printf("\nplugin / floor: %.2fx rasterised, %.2fx rasteriser off (medians of the pairs: %.2fx, %.2fx)\n",
           BenchMedian(t[0][0]) / BenchMedian(t[1][0]), BenchMedian(t[0][1]) / BenchMedian(t[1][1]), paired(0, 1, 0), paired(0, 1, 1));
    printf("plugin / (floor + pushes): %.2fx rasterised, %.2fx rasteriser off\n", BenchMedian(t[0][0]) / BenchMedian(t[2][0]),
           BenchMedian(t[0][1]) / BenchMedian(t[2][1]));
    printf("plugin / (floor in immediate mode): %.2fx rasterised, %.2fx rasteriser off\n",
           BenchMedian(t[0][0]) / BenchMedian(t[3][0]), BenchMedian(t[0][1]) / BenchMedian(t[3][1]));
    // The canvases' own share: each frame less the host's frame alone.
    auto over = [&](int w, int d) { return BenchMedian(t[w][d]) - BenchMedian(t[4][d]); };
    printf("canvases alone (frame less the host's): plugin %.3f / floor %.3f ms = %.2fx rasterised; "
           "%.3f / %.3f ms = %.2fx rasteriser off\n",
           over(0, 0) * 1e3, over(1, 0) * 1e3, over(0, 0) / over(1, 0), over(0, 1) * 1e3, over(1, 1) * 1e3,
           over(0, 1) / over(1, 1));
    fflush(stdout);

    bool ok = add_edited_canvas() && lock_benchmark(o, false) && lock_benchmark(o, true);
    ReferenceSceneClose();
    return ok ? 0 : 1;
}
