// bench_frame.cpp - what a frame of canvases costs: the text layout of
// the font engine, whole frames with text canvases in every layer on the
// headless display against the same frames without canvases, and a
// 1,000-point polygon with and without changes to its points. After
// google-benchmark's table it prints the ratios of its runs (canvases
// against the empty frame, a polygon moved every frame against one kept).
#include <benchmark/benchmark.h>
#include <math.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "bench_world.h"
#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"


namespace {

// One scene, display and plugin for the whole run.
struct World {
    std::string name;
    World() {
        std::string e;
        if (!OpenBenchWorld("bench", 640, 480, 0, name, e)) fprintf(stderr, "bench_frame: %s\n", e.c_str());
        QVH_RunFrames(1);
    }
    ~World() { CloseBenchWorld(name); }
};
World &world() {
    static World w;
    return w;
}

void add_canvases(int n) {
    const int layers[] = {0x200, 0x400, 0x800};
    for (int i = 0; i < n; i++) {
        QVP_CANVAS desc;
        qvpc::DefaultCanvas(desc);
        snprintf(desc.name, sizeof desc.name, "c%d", i);
        desc.draw_layer = layers[i % 3];
        desc.disp.org[0] = (i % 5) - 2;
        desc.disp.org[1] = (i / 5 % 4) - 1.5;
        desc.bcol[0] = 0.2f;
        std::string err;
        QVP_CANVAS *c = qvpc::CreateCanvas(desc, {}, err);
        qvpc::ElementDesc e;
        qvpc::DefaultElement(e, ELEMENT_TEXT);
        e.text = "The quick brown fox\njumps over the lazy dog";
        qvpc::AddElement(c, e, err);
    }
}

void remove_canvases() {
    std::string err;
    for (QVP_CANVAS *c : qvpc::Canvases()) qvpc::DeleteCanvas(c, err);
}

void BM_Frame(benchmark::State &state) {
    world();
    add_canvases((int)state.range(0));
    for (auto _ : state) QVH_RunFrames(1);
    remove_canvases();
    state.SetLabel(std::to_string(state.range(0)) + " text canvases");
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(30)->Unit(benchmark::kMillisecond);

// A 1,000-point concave polygon (a star) redrawn every frame: with its
// points unchanged (its tessellation is kept) and moved every frame (it is
// tessellated anew).
void BM_Polygon(benchmark::State &state) {
    world();
    QVP_CANVAS desc;
    qvpc::DefaultCanvas(desc);
    snprintf(desc.name, sizeof desc.name, "poly");
    desc.draw_layer = 0x800;
    std::string err;
    QVP_CANVAS *c = qvpc::CreateCanvas(desc, {}, err);
    qvpc::ElementDesc e;
    qvpc::DefaultElement(e, ELEMENT_POLYGON);
    for (int i = 0; i < 1000; i++) {
        double a = i * 6.283185307 / 1000, r = i % 2 ? 2 : 4.5;
        e.points.push_back({(float)(10 + r * cos(a)), (float)(5 + r * sin(a))});
    }
    QVP_CANVAS_ELEMENT *el = qvpc::AddElement(c, e, err);
    bool moving = state.range(0) != 0;
    int k = 0;
    for (auto _ : state) {
        if (moving) el->data.poly.pnt_list[0].x = 10.0f + (float)(++k % 2) * 0.01f;
        QVH_RunFrames(1);
    }
    qvpc::DeleteCanvas(c, err);
    state.SetLabel(moving ? "points move every frame" : "points unchanged");
}
BENCHMARK(BM_Polygon)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_TextBBox(benchmark::State &state) {
    world();
    std::string err;
    QVP_CANVAS_FONTDEF *f = qvpc::DefaultFont(err);
    char text[] = "The quick brown fox\tjumps over\nthe lazy dog 0123456789";
    glFontBegin(f);
    double rows, cols;
    for (auto _ : state) {
        glFontTextBBox2D(text, &rows, &cols);
        benchmark::DoNotOptimize(cols);
    }
    glFontEnd();
}
BENCHMARK(BM_TextBBox);

// The console table, keeping each run's wall time per iteration (in the
// run's own unit, the same for the runs compared) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_Color : OO_None) {}
    std::map<std::string, double> wall;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                wall[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto ratio = [&](const char *a, const char *b, const char *what) {
        auto x = rep.wall.find(a), y = rep.wall.find(b);
        if (x != rep.wall.end() && y != rep.wall.end() && y->second > 0)
            printf("%s: %.2fx (%s / %s, wall time)\n", what, x->second / y->second, a, b);
    };
    printf("\n");
    ratio("BM_Frame/30", "BM_Frame/0", "a frame of 30 text canvases against the empty frame");
    ratio("BM_Polygon/1", "BM_Polygon/0", "a 1,000-point polygon moved every frame against one kept");
    benchmark::Shutdown();
    return 0;
}
