// bench_scaling.cpp - how frame time and memory grow: N small text
// canvases (10 to 10,000) and one text of L characters (10 to 4,000), on
// the headless display with the plugin linked in. Prints a table, and
// with --tsv the lines scripts/plot_scaling draws. With --adds [--check]
// it times N elements added to one canvas (1,000 to 20,000) instead;
// --check fails when an add at 20,000 costs over 3x an add at 1,000 (an
// add that walks the canvas costs some 17x there). With --nested [N]
// [--check] it draws one canvas N times (4,096, the nested budget) as N
// canvas elements of one holder, against N top-level canvases of the
// same content and placement; --check fails when a nested draw costs
// over 2x a top-level canvas's.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "bench_util.h"
#include "bench_world.h"
#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"


namespace {

double now_ms() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

size_t arena_used() { return QVF_GetArenaSize(QVV_scene->arena) - QVH_ArenaFreeBytes(); }

// Median frame time over FRAMES frames after two to settle; with
// DISCARD the rasteriser is off, leaving what reaching GL costs.
double frame_ms(int frames, bool discard = false) {
    if (discard) glEnable(GL_RASTERIZER_DISCARD);
    QVH_RunFrames(2);
    std::vector<double> t;
    for (int i = 0; i < frames; i++) {
        double t0 = now_ms();
        QVH_RunFrames(1);
        t.push_back(now_ms() - t0);
    }
    if (discard) glDisable(GL_RASTERIZER_DISCARD);
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

QVP_CANVAS *text_canvas(int i, const std::string &text, double x, double y, double w) {
    QVP_CANVAS desc;
    qvpc::DefaultCanvas(desc);
    snprintf(desc.name, sizeof desc.name, "s%d", i);
    desc.draw_layer = 0x800;
    desc.disp.org[0] = x;
    desc.disp.org[1] = y;
    desc.disp.col_vec[0] = w;
    desc.disp.row_vec[1] = -w / 2;
    desc.bcol[0] = 0.2f;
    std::string err;
    QVP_CANVAS *c = qvpc::CreateCanvas(desc, {}, err);
    if (!c) {
        fprintf(stderr, "bench_scaling: %s\n", err.c_str());
        exit(1);
    }
    qvpc::ElementDesc e;
    qvpc::DefaultElement(e, ELEMENT_TEXT);
    e.text = text;
    if (!qvpc::AddElement(c, e, err)) {
        fprintf(stderr, "bench_scaling: %s\n", err.c_str());
        exit(1);
    }
    return c;
}

void remove_all() {
    std::string err;
    for (QVP_CANVAS *c : qvpc::Canvases()) qvpc::DeleteCanvas(c, err);
}

// Times N elements added to one fresh canvas, in microseconds per add
// (the best of three, the canvas deleted after each).
double adds_us(int n) {
    double best = 1e30;
    for (int round = 0; round < 3; round++) {
        QVP_CANVAS *c = text_canvas(0, "first", 0, 0, 1);
        qvpc::ElementDesc e;
        qvpc::DefaultElement(e, ELEMENT_TEXT);
        e.text = "x";
        std::string err;
        double t0 = now_ms();
        for (int i = 0; i < n; i++)
            if (!qvpc::AddElement(c, e, err)) {
                fprintf(stderr, "bench_scaling: %s\n", err.c_str());
                exit(1);
            }
        best = std::min(best, (now_ms() - t0) * 1e3 / n);
        remove_all();
    }
    return best;
}

// --adds: the cost of one add against the canvas's size.
int adds(bool check) {
    printf("%-10s %12s\n", "elements", "us an add");
    double first = 0, last = 0;
    for (int n : {1000, 5000, 20000}) {
        double us = adds_us(n);
        if (n == 1000) first = us;
        last = us;
        printf("%-10d %12.2f\n", n, us);
    }
    printf("an add at 20,000 elements / at 1,000: %.2fx\n", last / first);
    if (check && last > 3 * first) {
        printf("FAIL: adding an element grows with the canvas\n");
        return 1;
    }
    return 0;
}

// --nested: N nested draws of one small text canvas (one canvas element
// each, all in one holder) against N top-level canvases that draw the
// same: frame time less the empty display's, per draw.
int nested(int n, bool check) {
    QVH_RunFrames(1);
    double empty = frame_ms(9), empty_off = frame_ms(9, true);
    std::string err;
    QVP_CANVAS *child = text_canvas(0, "nested 42", -1, 1, 0.07);
    QVP_CANVAS *holder = text_canvas(1, "holder", -4, 3, 0.07);
    child->draw_layer = 0;  // drawn only through the holder
    qvpc::ElementDesc ce;
    qvpc::DefaultElement(ce, ELEMENT_CANVAS);
    ce.rec.data.can = child;
    for (int i = 0; i < n; i++)
        if (!qvpc::AddElement(holder, ce, err)) {
            fprintf(stderr, "bench_scaling: %s\n", err.c_str());
            exit(1);
        }
    double nested_ms = frame_ms(9) - empty, nested_off = frame_ms(9, true) - empty_off;
    remove_all();
    text_canvas(1, "holder", -4, 3, 0.07);
    for (int i = 0; i < n; i++) text_canvas(2 + i, "nested 42", -1, 1, 0.07);
    double top_ms = frame_ms(9) - empty, top_off = frame_ms(9, true) - empty_off;
    remove_all();
    printf("%d draws of a small text canvas, renderer %s\n", n, QVH_Renderer());
    printf("%-24s %12s %12s %14s %12s\n", "drawn as", "frame ms", "us a draw", "raster off ms", "us a draw");
    printf("%-24s %12.3f %12.2f %14.3f %12.2f\n", "nested (canvas elements)", nested_ms, nested_ms * 1e3 / n, nested_off,
           nested_off * 1e3 / n);
    printf("%-24s %12.3f %12.2f %14.3f %12.2f\n", "top-level canvases", top_ms, top_ms * 1e3 / n, top_off, top_off * 1e3 / n);
    printf("nested / top-level: %.2fx rasterised, %.2fx rasteriser off\n", nested_ms / top_ms, nested_off / top_off);
    if (check && nested_off > 2 * top_off) {
        printf("FAIL: a nested canvas costs over twice a top-level one\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    bool tsv = argc > 1 && strcmp(argv[1], "--tsv") == 0;
    bool add_check = argc > 2 && strcmp(argv[2], "--check") == 0;
    // --count N [FRAMES]: N canvases only, FRAMES frames of them (for perf).
    int only = argc > 2 && strcmp(argv[1], "--count") == 0 ? atoi(argv[2]) : 0;
    int frames = only && argc > 3 ? atoi(argv[3]) : 9;
    std::string name, e;
    if (!OpenBenchWorld("bench-scaling", 640, 480, (size_t)256 << 20, name, e)) {
        fprintf(stderr, "bench_scaling: %s\n", e.c_str());
        return 1;
    }
    if (argc > 1 && strcmp(argv[1], "--nested") == 0) {
        int n = argc > 2 && argv[2][0] != '-' ? atoi(argv[2]) : 4096;
        bool check = strcmp(argv[argc - 1], "--check") == 0;
        int rc = nested(n > 0 ? n : 4096, check);
        CloseBenchWorld(name);
        return rc;
    }
    if (argc > 1 && strcmp(argv[1], "--adds") == 0) {
        int rc = adds(add_check);
        CloseBenchWorld(name);
        return rc;
    }
    QVH_RunFrames(1);
    double empty = frame_ms(frames), empty_off = frame_ms(frames, true);
    size_t arena0 = arena_used();
    long rss0 = BenchRssKib();
    if (!tsv)
        printf("frame of the display alone: %.3f ms (rasteriser off %.3f ms); renderer %s\n\n%-14s %10s %12s %10s %12s %10s %10s\n",
               empty, empty_off, QVH_Renderer(), "text canvases", "frame ms", "ms a canvas", "raster off", "ms a canvas",
               "arena KiB", "RSS KiB");
    std::vector<int> counts = {10, 30, 100, 200, 400, 1000, 3000, 10000};
    if (only > 0) counts = {only};
    for (int n : counts) {
        // A grid of canvases of one size over the view (each the same
        // work for the rasteriser, however many), each "canvas NNNNN".
        int side = 1;
        while (side * side < n) side++;
        for (int i = 0; i < n; i++)
            text_canvas(i, "canvas " + std::to_string(i), -4 + 8.0 * (i % side) / side, 3 - 6.0 * (i / side) / side, 0.07);
        double ms = frame_ms(frames), off = frame_ms(frames, true);
        size_t arena = arena_used() - arena0;
        long rss = BenchRssKib() - rss0;
        if (tsv) printf("canvases\t%d\t%.4f\t%.4f\t%zu\t%ld\n", n, ms - empty, off - empty_off, arena / 1024, rss);
        else
            printf("%-14d %10.3f %12.5f %10.3f %12.5f %10zu %10ld\n", n, ms, (ms - empty) / n, off, (off - empty_off) / n,
                   arena / 1024, rss);
        remove_all();
    }
    if (only > 0) {
        CloseBenchWorld(name);
        return 0;
    }
    if (!tsv)
        printf("\n%-14s %10s %12s %10s %12s\n", "characters", "frame ms", "us a char", "raster off", "us a char");
    for (int len : {10, 100, 1000, 4000}) {
        std::string text;
        for (int i = 0; i < len; i++) text += (i % 60 == 59) ? '\n' : (char)('a' + i % 26);
        text_canvas(0, text, -4, 3, 8);
        double ms = frame_ms(frames), off = frame_ms(frames, true);
        if (tsv) printf("characters\t%d\t%.4f\t%.4f\n", len, ms - empty, off - empty_off);
        else printf("%-14d %10.3f %12.3f %10.3f %12.3f\n", len, ms, (ms - empty) * 1e3 / len, off, (off - empty_off) * 1e3 / len);
        remove_all();
    }
    CloseBenchWorld(name);
    return 0;
}
