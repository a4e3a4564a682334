// bench_soak.cpp - a long show on one headless display, with the plugin
// linked in: 200 labels whose canvases move every frame, 200 texts that
// change every frame, looping clips, and canvases (text, polygon, line,
// now and then an image or a clip) added and deleted every frame.
// What a run keeps: the kept texts of the canvases that come and go (each
// shown for 24 frames, then deleted), which only the table's bounds let
// go of.
//
// It reports frame time, resident memory, the arena's free bytes and the
// kept-text table every --report frames, and compares the end of the run
// with its start. With --check it fails (exit 1) when the last window's
// median frame is more than --slower times the first's, when resident
// memory grew by more than --rss-mib, or when the arena lost more than
// --arena-kib. A watchdog thread ends the run (exit 3, with the main
// thread's stack) when no frame finishes for --hang seconds, so a hung
// display fails the run instead of stalling it; --stall-at N makes one
// (a child process takes the canvas lock before frame N and keeps it).
//
// --ratio instead draws the same show in blocks with kept texts on and
// off by turns, checks the two draw the same picture, and prints the
// ratio of their median frames.
#include <execinfo.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "bench_world.h"
#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"

#ifndef QVP_PNGSUITE_DIR
#define QVP_PNGSUITE_DIR "tests/data/pngsuite"
#endif

namespace {

struct Options {
    long frames = 100000;
    long report = 10000;
    double hang_s = 30;
    bool check = false;
    double slower = 1.5;
    double rss_mib = 8;
    double arena_kib = 512;
    bool kept_off = false;
    bool kept_grow = false;
    bool ratio = false;
    long stall_at = -1;
};

// Frames finished and when the last one finished; written by the main
// thread after every frame, read by the watchdog.
std::atomic<long> g_done{0};
std::atomic<double> g_done_at{0};
pthread_t g_main;
// What the main thread does: 0 the show's edits, 1 the frame; set by
// one_frame.
std::atomic<int> g_drawing{0};
// The child that holds the canvas lock for --stall-at; killed by the
// watchdog.
std::atomic<pid_t> g_staller{0};

// SIGUSR1 from the watchdog: the main thread's stack, then the end.
void dump_stack(int) {
    void *frames[64];
    int n = backtrace(frames, 64);
    const char msg[] = "bench_soak: the main thread's stack:\n";
    if (write(2, msg, sizeof msg - 1) < 0) _exit(3);
    backtrace_symbols_fd(frames, n, 2);
    _exit(3);
}

void watchdog(double hang_s) {
    for (;;) {
        sleep(1);
        double idle = BenchNow() - g_done_at.load();
        if (idle < hang_s) continue;
        fprintf(stderr, "bench_soak: hang: no frame finished for %.0f s (after frame %ld, in its %s)\n", idle,
                g_done.load(), g_drawing.load() ? "drawing" : "edits");
        // The stack comes only where the main thread takes signals (the
        // canvas lock blocks them while it is awaited or held).
        pthread_kill(g_main, SIGUSR1);
        sleep(2);
        if (g_staller.load() > 0) kill(g_staller.load(), SIGKILL);
        _exit(3);
    }
}

void fail(const std::string &what) {
    fprintf(stderr, "bench_soak: %s\n", what.c_str());
    exit(1);
}

QVP_CANVAS place(const std::string &name, double x, double y, double w) {
    QVP_CANVAS d;
    qvpc::DefaultCanvas(d);
    snprintf(d.name, sizeof d.name, "%s", name.c_str());
    d.draw_layer = 0x800;
    d.disp.org[0] = x;
    d.disp.org[1] = y;
    d.disp.col_vec[0] = w;
    d.disp.row_vec[1] = -w / 2;
    return d;
}

QVP_CANVAS *make(const QVP_CANVAS &d) {
    std::string err;
    QVP_CANVAS *c = qvpc::CreateCanvas(d, {}, err);
    if (!c) fail("canvas " + std::string(d.name) + ": " + err);
    return c;
}

QVP_CANVAS_ELEMENT *add(QVP_CANVAS *c, qvpc::ElementDesc &e) {
    std::string err;
    QVP_CANVAS_ELEMENT *r = qvpc::AddElement(c, e, err);
    if (!r) fail(std::string("element in ") + c->name + ": " + err);
    return r;
}

QVP_CANVAS_ELEMENT *add_text(QVP_CANVAS *c, const std::string &text) {
    qvpc::ElementDesc e;
    qvpc::DefaultElement(e, ELEMENT_TEXT);
    e.text = text;
    return add(c, e);
}

void add_clip(QVP_CANVAS *c) {
    qvpc::ElementDesc e;
    qvpc::DefaultElement(e, ELEMENT_VIDEO);
    e.rec.data.video.corners[0] = {1, 1};
    e.rec.data.video.corners[1] = {19, 9};
    e.video.w = 64;
    e.video.h = 48;
    e.video.loop = true;
    add(c, e);
}

// The show: what moves and changes every frame, and the canvases that
// come and go.
struct Show {
    std::vector<QVP_CANVAS> label_desc;
    std::vector<QVP_CANVAS *> labels;
    std::vector<QVP_CANVAS *> counters;
    std::vector<QVP_CANVAS_ELEMENT *> counter_text;
    struct Churned {
        QVP_CANVAS *canvas;
        std::string image;  // empty when it shows none
    };
    std::deque<Churned> churn;
    long serial = 0;
    unsigned rng = 20261208;
    std::vector<std::string> pngs;

    double rnd() {
        rng = rng * 1664525u + 1013904223u;
        return (rng >> 8) / 16777216.0;
    }

    void build() {
        for (const char *f : {"basn2c08.png", "basn6a08.png", "basn0g08.png", "basn3p08.png"})
            pngs.push_back(std::string(QVP_PNGSUITE_DIR) + "/" + f);
        for (int i = 0; i < 200; i++) {
            label_desc.push_back(place("label" + std::to_string(i), -4.5 + 0.45 * (i % 20), 3.2 - 0.35 * (i / 20), 0.02));
            labels.push_back(make(label_desc.back()));
            add_text(labels.back(), "label " + std::to_string(i));
        }
        for (int i = 0; i < 200; i++) {
            counters.push_back(make(place("count" + std::to_string(i), -4.5 + 0.45 * (i % 20), -0.3 - 0.3 * (i / 20), 0.02)));
            counter_text.push_back(add_text(counters.back(), "0"));
        }
        for (int i = 0; i < 4; i++) add_clip(make(place("clip" + std::to_string(i), 3.2, 3 - 1.2 * i, 0.06)));
        for (int i = 0; i < 24; i++) churn_one();
    }

    // Deletes the oldest churned canvas (and its image) past 24, and adds
    // one: eight texts, a polygon and a line, every 8th an image, every
    // 16th a clip.
    void churn_one() {
        std::string err;
        if (churn.size() >= 24) {
            Churned old = churn.front();
            churn.pop_front();
            if (!qvpc::DeleteCanvas(old.canvas, err)) fail("delete: " + err);
            if (!old.image.empty() && !qvpc::DeleteImage(old.image, err)) fail("delete image: " + err);
        }
        long n = serial++;
        QVP_CANVAS *c = make(place("churn" + std::to_string(n), -4 + 8 * rnd(), -3 + 6 * rnd(), 0.05));
        for (int k = 0; k < 8; k++) {
            QVP_CANVAS_ELEMENT *t = add_text(c, "churn " + std::to_string(n) + "." + std::to_string(k));
            t->data.text.row = 1 + k;
        }
        qvpc::ElementDesc poly;
        qvpc::DefaultElement(poly, ELEMENT_POLYGON);
        for (int k = 0; k < 5; k++) poly.points.push_back({(float)(20 * rnd()), (float)(10 * rnd())});
        poly.rec.fcol[1] = 0.5f;
        add(c, poly);
        qvpc::ElementDesc line;
        qvpc::DefaultElement(line, ELEMENT_LINE);
        for (int k = 0; k < 3; k++) line.points.push_back({(float)(20 * rnd()), (float)(10 * rnd())});
        add(c, line);
        Churned ch{c, ""};
        if (n % 8 == 0) {
            ch.image = "soak" + std::to_string(n);
            const qvpc::Image *im = qvpc::LoadImage(ch.image, pngs[(n / 8) % pngs.size()], err);
            if (!im) fail("image: " + err);
            qvpc::ElementDesc e;
            qvpc::DefaultElement(e, ELEMENT_IMAGE);
            QVP_CANVAS_IMAGE &m = e.rec.data.imag;
            m.corners[0] = {10, 1};
            m.corners[1] = {19, 9};
            snprintf(m.name, sizeof m.name, "%s", im->file.c_str());
            m.w = m.tw = im->w;
            m.h = m.th = im->h;
            m.data = m.tdata = im->rgba;
            add(c, e);
        }
        if (n % 16 == 0) add_clip(c);
        churn.push_back(ch);
    }

    // The edits between frame F and the next.
    void step(long f) {
        std::string err;
        for (size_t i = 0; i < labels.size(); i++) {
            QVP_CANVAS d = label_desc[i];
            d.disp.org[0] += 0.05 * sin(0.01 * f + i);
            d.disp.org[1] += 0.05 * cos(0.013 * f + i);
            if (!qvpc::ConfigureCanvas(labels[i], d, false, {}, err)) fail("move: " + err);
        }
        for (size_t i = 0; i < counters.size(); i++) {
            qvpc::ElementDesc e = qvpc::DescOf(counter_text[i]);
            e.text = std::to_string(f * 7 + (long)i * 131);
            counter_text[i] = qvpc::ConfigureElement(counters[i], counter_text[i], e, err);
            if (!counter_text[i]) fail("text: " + err);
        }
        churn_one();
    }
};

void tick(double t, void *) { qvpc::TickVideo(t); }

// A child process that takes the canvas lock and keeps it, as an editor
// stopped in a debugger would: the next frame waits for ever, and the
// watchdog must end the run.
void stall() {
    int ready[2];
    if (pipe(ready) != 0) fail("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        qvpc::Lock hold;
        if (write(ready[1], "x", 1) != 1) _exit(1);
        for (;;) pause();
    }
    char c;
    if (pid < 0 || read(ready[0], &c, 1) != 1) fail("no child to hold the lock");
    g_staller.store(pid);
    printf("frame %ld: process %d holds the canvas lock\n", g_done.load(), (int)pid);
    fflush(stdout);
}

struct Sample {
    long frame;
    double median_ms;
    long rss;
    size_t heap;
    size_t arena_free;
    KeptTextStats kept;
};

void print_sample(const Sample &s) {
    printf("%9ld %10.3f %10ld %10zu %12zu %8d %8d %8d %10zu %8d %8d\n", s.frame, s.median_ms, s.rss, s.heap / 1024,
           s.arena_free, s.kept.entries, s.kept.complete, s.kept.seen_only, s.kept.bytes, s.kept.oldest_age,
           s.kept.longest_probe);
    fflush(stdout);
}

// One frame: the show's edits (an editor's work, not timed), then the
// frame (with STALL_FIRST, after a child took the canvas lock); the
// frame's time in ms.
double one_frame(Show &show, long f, bool stall_first = false) {
    g_drawing.store(0);
    show.step(f);
    if (stall_first) stall();
    g_drawing.store(1);
    double t0 = BenchNow();
    QVH_RunFrames(1);
    double ms = (BenchNow() - t0) * 1e3;
    g_done.store(f + 1);
    g_done_at.store(BenchNow());
    return ms;
}

// Draws the show as it stands with kept texts on (three frames, so that
// the texts are kept) and off, with time standing still; true when the
// two pictures are the same.
bool same_picture_kept_and_not() {
    int w = QVV_display->width, h = QVV_display->height;
    std::vector<unsigned char> on((size_t)w * h * 4), off(on.size());
    double step = QVV_display->time_step;
    QVV_display->time_step = 0;
    SetKeptTextsOff(0);
    QVH_RunFrames(3);
    bool kept = GetKeptTextStats().complete > 0;
    QVH_ReadFrame(on.data(), 0);
    SetKeptTextsOff(1);
    QVH_RunFrames(1);
    QVH_ReadFrame(off.data(), 0);
    SetKeptTextsOff(0);
    QVV_display->time_step = step;
    size_t differ = 0;
    for (size_t i = 0; i < on.size(); i++) differ += on[i] != off[i];
    printf("same picture with kept texts on and off: %s (%zu channels differ; %s texts kept)\n", differ ? "no" : "yes",
           differ, kept ? "some" : "no");
    return differ == 0 && kept;
}

// Kept texts on and off by turns in short blocks (the machine's load
// drifts over seconds), --frames frames each way in all.
int run_ratio(Show &show, const Options &o) {
    if (!same_picture_kept_and_not()) return 1;
    const int frames = 25, blocks = (int)std::max(4L, o.frames / frames);
    std::vector<double> on, off;
    long f = 1000000;
    for (int b = 0; b < 2 * blocks; b++) {
        bool kept = b % 2 == 0;
        SetKeptTextsOff(!kept);
        for (int i = 0; i < 3; i++) one_frame(show, f++);  // the stable texts kept again
        for (int i = 0; i < frames; i++) (kept ? on : off).push_back(one_frame(show, f++));
    }
    double m_on = BenchMedian(on), m_off = BenchMedian(off);
    printf("show under churn, %d blocks of %d frames each way: kept texts %.3f ms, none kept %.3f ms, ratio %.3fx\n",
           blocks, frames, m_on, m_off, m_on / m_off);
    return 0;
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool has = i + 1 < argc;
        if (a == "--frames" && has) o.frames = atol(argv[++i]);
        else if (a == "--report" && has) o.report = atol(argv[++i]);
        else if (a == "--hang" && has) o.hang_s = atof(argv[++i]);
        else if (a == "--slower" && has) o.slower = atof(argv[++i]);
        else if (a == "--rss-mib" && has) o.rss_mib = atof(argv[++i]);
        else if (a == "--arena-kib" && has) o.arena_kib = atof(argv[++i]);
        else if (a == "--check") o.check = true;
        else if (a == "--kept-off") o.kept_off = true;
        else if (a == "--kept-unbounded") o.kept_grow = true;
        else if (a == "--ratio") o.ratio = true;
        else if (a == "--stall-at" && has) o.stall_at = atol(argv[++i]);
        else return false;
    }
    return o.frames >= 100 && o.report >= 10 && o.hang_s > 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        fprintf(stderr,
                "usage: bench_soak ?--frames N? ?--report N? ?--hang S? ?--check? ?--slower X? ?--rss-mib M?\n"
                "                  ?--arena-kib K? ?--kept-off? ?--kept-unbounded? ?--ratio? ?--stall-at N?\n");
        return 2;
    }
    g_main = pthread_self();
    signal(SIGUSR1, dump_stack);
    g_done_at.store(BenchNow());
    std::thread(watchdog, o.hang_s).detach();

    std::string scene, err;
    if (!OpenBenchWorld("bench-soak", 480, 360, (size_t)128 << 20, scene, err)) fail(err);
    QVH_SetFrameHook(tick, nullptr);
    if (o.kept_off) SetKeptTextsOff(1);
    if (o.kept_grow) SetKeptTextsGrow(1);
    Show show;
    show.build();
    printf("renderer %s; %ld frames of 200 moving labels, 200 changing texts, 4 clips, a canvas added and deleted "
           "each frame%s\n",
           QVH_Renderer(), o.frames, o.kept_off ? "; kept texts off" : o.kept_grow ? "; kept texts unbounded" : "");
    if (o.ratio) {
        int rc = run_ratio(show, o);
        CloseBenchWorld(scene);
        return rc;
    }

    // The first window starts after the kept texts' idle age has passed
    // once, so that the table has reached what it holds in a steady show.
    const long warm = std::min(1000L, o.frames / 4), window = std::max(50L, std::min(1000L, o.frames / 10));
    printf("%9s %10s %10s %10s %12s %8s %8s %8s %10s %8s %8s\n", "frame", "median ms", "RSS KiB", "heap KiB", "arena free",
           "texts", "kept", "seen", "kept bytes", "oldest", "probe");
    std::vector<double> times;
    std::vector<Sample> samples;
    for (long f = 0; f < o.frames; f++) {
        times.push_back(one_frame(show, f, f == o.stall_at));
        long done = f + 1;
        bool first_window = done == warm + window, last = done == o.frames;
        if (done % o.report == 0 || first_window || last) {
            size_t n = std::min<size_t>(times.size(), (size_t)window);
            std::vector<double> recent(times.end() - n, times.end());
            Sample s{done, BenchMedian(recent), BenchRssKib(), mallinfo2().uordblks, QVH_ArenaFreeBytes(), GetKeptTextStats()};
            samples.push_back(s);
            print_sample(s);
        }
        if (times.size() > (size_t)2 * window) times.erase(times.begin(), times.end() - window);
    }
    const Sample *start = nullptr;
    for (const Sample &s : samples)
        if (s.frame == warm + window) start = &s;
    const Sample &end = samples.back();
    if (!start) start = &samples.front();
    double slower = end.median_ms / start->median_ms;
    double rss_mib = (end.rss - start->rss) / 1024.0;
    double arena_kib = ((double)start->arena_free - (double)end.arena_free) / 1024;
    printf("frame %ld -> %ld: median frame %.3f -> %.3f ms (%.2fx), RSS %+.1f MiB, arena free %+.0f KiB; longest "
           "kept-text probe %d\n",
           start->frame, end.frame, start->median_ms, end.median_ms, slower, rss_mib, -arena_kib,
           end.kept.longest_probe);
    CloseBenchWorld(scene);
    if (!o.check) return 0;
    bool ok = true;
    if (slower > o.slower) {
        fprintf(stderr, "bench_soak: frames grew slower: %.2fx (at most %.2fx)\n", slower, o.slower);
        ok = false;
    }
    if (rss_mib > o.rss_mib) {
        fprintf(stderr, "bench_soak: resident memory grew by %.1f MiB (at most %.1f)\n", rss_mib, o.rss_mib);
        ok = false;
    }
    if (arena_kib > o.arena_kib) {
        fprintf(stderr, "bench_soak: the arena lost %.0f KiB (at most %.0f)\n", arena_kib, o.arena_kib);
        ok = false;
    }
    return ok ? 0 : 1;
}
