// bench_text.cpp - glyphs per second, side by side in one process on one
// 1920 x 1080 EGL display: the plugin's font engine as a canvas draws
// text, FTGL's texture font with the same face and size, the engine's
// layout as whole cells written by hand in immediate mode and from one
// static VBO, and the very quads the engine draws (captured from it: ink
// boxes) the same two ways. The engine and its own quads must give the
// same picture to the bit, whole cells within 2 a channel, or the bench
// stops (QVP_BENCH_PICTURES=DIR writes the four pictures there). Each
// draw is finished before the next, rasterised and with
// GL_RASTERIZER_DISCARD (the submission cost alone), interleaved, REPS
// times; the table gives the median and the spread (min..max) of each,
// and the ratios of the time a draw takes. A fifth run
// draws as many CJK glyphs through a fallback font, against the ASCII
// run of the font engine, and further runs draw Arabic, Devanagari and a
// mixed-direction line (Hebrew, Latin and numbers) of the same glyph
// count, shaped, against it; the first layout of each script (shaping
// and all) is timed per 1,000 glyphs. With --sweep
// it measures each method at 100 to 30,000 glyphs (1 to 300 lines of
// 100) instead and prints one tab-separated line per count and method,
// for scripts/plot_glyphs.
//
//   bench_text [--reps N] [--draws K] [--sweep]
#define GL_GLEXT_PROTOTYPES 1
#include <FTGL/ftgl.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "got_patch.h"
#include "bench_world.h"
#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"


namespace {

const int kW = 1920, kH = 1080, kLines = 100, kCols = 100, kMostLines = 300;
const double kRowPx = 20;  // each line 20 px high; lines past the window are clipped

std::vector<std::string> g_lines;
// Lines each method draws: kLines, or the sweep's count of the moment.
int g_nlines = kLines;

// How many glyphs S lays out in FONT (shaping it).
int glyph_count(QVP_CANVAS_FONTDEF *font, const std::string &s) {
    QVP_TEXT_CURSOR c;
    TextCursorStart(&c, font, s.c_str());
    int n = 0;
    for (const QVP_ITEM *it; (it = TextCursorNext(&c));) n += it->kind == QVP_ITEM_GLYPH;
    return n;
}

// kMostLines lines of exactly kCols glyphs each in FONT, made of PIECES
// in turn (each line starting at another piece) and ended with FILLER,
// a code that is one glyph wherever it stands.
std::vector<std::string> script_lines(QVP_CANVAS_FONTDEF *font, const std::vector<std::string> &pieces,
                                      const std::string &filler) {
    std::vector<std::string> lines;
    for (int l = 0; l < kMostLines; l++) {
        std::string s;
        for (size_t k = (size_t)l;; k += 7) {
            std::string next = s + pieces[k % pieces.size()];
            if (glyph_count(font, next) > kCols) break;
            s = next;
        }
        while (glyph_count(font, s) < kCols) s += filler;
        lines.push_back(s);
    }
    return lines;
}

// Median time of the first layout of LINES in FONT (every shaped run let
// go before each repetition), in microseconds per 1,000 glyphs.
double first_layout_us(QVP_CANVAS_FONTDEF *font, std::vector<std::string> &lines, int reps) {
    std::vector<double> t;
    for (int r = 0; r < reps; r++) {
        ResetShapeCache();
        glFontBegin(font);
        double t0 = BenchNow();
        for (int l = 0; l < kLines; l++) {
            double rows, cols;
            glFontTextBBox2D(&lines[(size_t)l][0], &rows, &cols);
        }
        t.push_back((BenchNow() - t0) / (kLines * kCols) * 1e9);
        glFontEnd();
    }
    return BenchMedian(t);
}

void ortho() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kW, 0, kH, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The state every textured method draws in: texturing, blending by
// alpha, white; TEX bound unless it is -1 (FTGL binds its own).
void textured_white(int tex) {
    glEnable(GL_TEXTURE_2D);
    if (tex >= 0) glBindTexture(GL_TEXTURE_2D, (GLuint)tex);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
}

struct Method {
    const char *name;
    std::function<void()> draw;
    std::vector<double> raster, discard;  // glyphs per second, per repetition
};

/* ---- the quads the font engine draws, captured ---- */

// Every glyph quad one draw of the font engine sent (GL_T2F_V3F, four
// corners a quad), with the texture bound, filled by the stand-ins while
// capture_engine runs.
std::vector<float> g_engine_quads;
const void *g_engine_pointer = nullptr;
void (*real_StateInterleavedArrays)(unsigned, int, const void *);
void (*real_DrawArrays)(GLenum, GLint, GLsizei);

extern "C" void cap_StateInterleavedArrays(unsigned format, int stride, const void *p) {
    g_engine_pointer = format == GL_T2F_V3F && stride == 0 ? p : nullptr;
    real_StateInterleavedArrays(format, stride, p);
}

extern "C" void cap_DrawArrays(GLenum mode, GLint first, GLsizei count) {
    if (mode == GL_QUADS && g_engine_pointer) {
        const float *v = (const float *)g_engine_pointer + (size_t)first * 5;
        g_engine_quads.insert(g_engine_quads.end(), v, v + (size_t)count * 5);
    }
    real_DrawArrays(mode, first, count);
}

// Runs DRAW once with the engine's glyph draws captured: the quads it
// sent (in the frame's coordinates, which are window pixels here).
bool capture_engine(const std::function<void()> &draw, std::string &err) {
    g_engine_quads.clear();
    std::vector<GotHook> hooks = {
        {"QVF_StateInterleavedArrays", (void *)cap_StateInterleavedArrays, (void **)&real_StateInterleavedArrays},
        {"glDrawArrays", (void *)cap_DrawArrays, (void **)&real_DrawArrays}};
    if (GotPatch(hooks, err) == 0) return false;
    draw();
    GotRestore();
    return !g_engine_quads.empty();
}

std::vector<unsigned char> read_window() {
    std::vector<unsigned char> px((size_t)kW * kH * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

// Channels of A and B that differ by more than TOL.
long channels_differ(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b, int tol) {
    long n = 0;
    for (size_t i = 0; i < a.size(); i++) n += abs((int)a[i] - (int)b[i]) > tol;
    return n;
}

// Glyphs per second of every method, REPS times, DRAWS draws each time,
// rasterised and with the rasteriser off, the methods interleaved; each
// draw is finished (glFinish) before the next begins.
void measure(std::vector<Method> &methods, int reps, int draws) {
    int glyphs = g_nlines * kCols;
    for (Method &m : methods) m.raster.clear(), m.discard.clear();
    for (int r = 0; r < reps; r++) {
        for (int discard = 0; discard < 2; discard++) {
            for (Method &m : methods) {
                if (discard) glEnable(GL_RASTERIZER_DISCARD);
                ortho();
                double t0 = BenchNow();
                for (int k = 0; k < draws; k++) {
                    glPushAttrib(GL_ALL_ATTRIB_BITS);
                    m.draw();
                    glPopAttrib();
                    glFinish();
                }
                double gps = (double)glyphs * draws / (BenchNow() - t0);
                glDisable(GL_RASTERIZER_DISCARD);
                (discard ? m.discard : m.raster).push_back(gps);
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    int reps = 7, draws = 20;
    bool sweep = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--sweep") == 0) sweep = true;
        else if (strcmp(argv[i], "--reps") == 0 && i + 1 < argc) reps = atoi(argv[++i]);
        else if (strcmp(argv[i], "--draws") == 0 && i + 1 < argc) draws = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: bench_text [--reps N] [--draws K] [--sweep]\n");
            return 2;
        }
    }
    if (reps < 1 || draws < 1) {
        fprintf(stderr, "bench_text: reps and draws want 1 or more\n");
        return 2;
    }
    std::string scene, e;
    if (!OpenBenchWorld("bench-text", kW, kH, 0, scene, e)) {
        fprintf(stderr, "bench_text: %s\n", e.c_str());
        return 1;
    }
    QVP_CANVAS_FONTDEF *font = qvpc::DefaultFont(e);
    if (!font) {
        fprintf(stderr, "bench_text: %s\n", e.c_str());
        return 1;
    }
    for (int l = 0; l < kMostLines; l++) {
        std::string s;
        for (int c = 0; c < kCols; c++) s += (char)('!' + (l * 7 + c * 13) % 90);
        g_lines.push_back(s);
    }
    int glyphs = kLines * kCols;
    // The same count of CJK glyphs (400 different ones), drawn through a
    // Latin font whose fallback has them, when that font is installed.
    QVP_CANVAS_FONTDEF *mixed = nullptr;
    {
        qvpc::FontDesc cjk, latin;
        cjk.name = "cjk";
        cjk.file = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
        latin.name = "latin";
        latin.fallback = "cjk";
        if (qvpc::CreateFont(cjk, e)) mixed = qvpc::CreateFont(latin, e);
        if (!mixed) fprintf(stderr, "bench_text: no CJK run (%s)\n", e.c_str());
    }
    std::vector<std::string> cjk_lines;
    for (int l = 0; l < kMostLines; l++) {
        std::string s;
        for (int c = 0; c < kCols; c++) {
            unsigned cp = 0x4E00 + (unsigned)(l * 7 + c * 13) % 400;
            s += (char)(0xE0 | cp >> 12);
            s += (char)(0x80 | (cp >> 6 & 0x3F));
            s += (char)(0x80 | (cp & 0x3F));
        }
        cjk_lines.push_back(s);
    }

    FTTextureFont ftgl(qvpc::kDefaultFontFile);
    if (ftgl.Error() || !ftgl.FaceSize((unsigned)kRowPx)) {
        fprintf(stderr, "bench_text: FTGL cannot load %s\n", qvpc::kDefaultFontFile);
        return 1;
    }

    double org[3] = {0, (double)kH, 0}, colv[3] = {(double)kW, 0, 0}, rowv[3] = {0, -(double)kH, 0};
    auto engine = [&] {
        // As a canvas frame draws a text element: one column and row per
        // pixel, rows down.
        glFontDisplay2DBegin(org, colv, rowv, kW, kH);
        glFontBegin(font);
        glColor4f(1, 1, 1, 1);
        for (int l = 0; l < g_nlines; l++)
            glFontScaledTextOut2D(&g_lines[(size_t)l][0], 0, kRowPx * l, kRowPx, kRowPx, nullptr);
        glFontEnd();
        glFontDisplay2DEnd();
    };
    // The quads the engine draws (ink boxes, the cells of no ink left
    // out), for the hand-written methods that draw the same cells.
    glViewport(0, 0, kW, kH);
    ortho();
    engine();
    if (!capture_engine(engine, e)) {
        fprintf(stderr, "bench_text: cannot capture the font engine's quads (%s)\n", e.c_str());
        return 1;
    }
    std::vector<float> inked = g_engine_quads;
    const int inked_cells = (int)(inked.size() / 20);
    // The engine's layout as whole cells (kerning and all), every line the
    // sweep may draw: x, y, s, t per corner, kCols cells a line.
    SetInkBoxesOff(1);
    g_nlines = kMostLines;
    bool whole_ok = capture_engine(engine, e);
    g_nlines = kLines;
    SetInkBoxesOff(0);
    if (!whole_ok || g_engine_quads.size() != (size_t)kMostLines * kCols * 20) {
        fprintf(stderr, "bench_text: the engine's whole cells are not one a glyph (%zu quads)\n",
                g_engine_quads.size() / 20);
        return 1;
    }
    std::vector<float> quads;
    for (size_t i = 0; i < g_engine_quads.size(); i += 5) {
        const float *v = &g_engine_quads[i];
        float c[4] = {v[2], v[3], v[0], v[1]};
        quads.insert(quads.end(), c, c + 4);
    }
    GLuint vbo = 0;
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(quads.size() * sizeof(float)), quads.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLuint inked_vbo = 0;
    glGenBuffers(1, &inked_vbo);
    glBindBuffer(GL_ARRAY_BUFFER, inked_vbo);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(inked.size() * sizeof(float)), inked.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    std::vector<Method> methods = {
        {"qvp_drawcanvas font engine", engine, {}, {}},
        {"FTGL texture font",
         [&] {
             textured_white(-1);
             for (int l = 0; l < g_nlines; l++) {
                 glPushMatrix();
                 glTranslated(0, kH - kRowPx * (l + 1), 0);
                 ftgl.Render(g_lines[(size_t)l].c_str());
                 glPopMatrix();
             }
         }, {}, {}},
        {"immediate-mode quads",
         [&] {
             textured_white(font->tex_obj);
             glBegin(GL_QUADS);
             for (size_t i = 0; i < (size_t)g_nlines * kCols * 16; i += 4) {
                 glTexCoord2f(quads[i + 2], quads[i + 3]);
                 glVertex2f(quads[i], quads[i + 1]);
             }
             glEnd();
         }, {}, {}},
        {"one static VBO",
         [&] {
             textured_white(font->tex_obj);
             glBindBuffer(GL_ARRAY_BUFFER, vbo);
             glEnableClientState(GL_VERTEX_ARRAY);
             glEnableClientState(GL_TEXTURE_COORD_ARRAY);
             glVertexPointer(2, GL_FLOAT, 16, (void *)0);
             glTexCoordPointer(2, GL_FLOAT, 16, (void *)8);
             glDrawArrays(GL_QUADS, 0, g_nlines * kCols * 4);
             glDisableClientState(GL_VERTEX_ARRAY);
             glDisableClientState(GL_TEXTURE_COORD_ARRAY);
             glBindBuffer(GL_ARRAY_BUFFER, 0);
         }, {}, {}},
    };
    // The engine's own cells, by hand: the same quads, the same picture
    // (only at the count measured: the sweep leaves them out).
    const size_t kSameCells = methods.size();
    methods.push_back({"its cells, immediate mode",
                       [&] {
                           textured_white(font->tex_obj);
                           glBegin(GL_QUADS);
                           for (size_t i = 0; i < inked.size(); i += 5) {
                               glTexCoord2f(inked[i], inked[i + 1]);
                               glVertex3f(inked[i + 2], inked[i + 3], inked[i + 4]);
                           }
                           glEnd();
                       },
                       {}, {}});
    methods.push_back({"its cells, one static VBO",
                       [&] {
                           textured_white(font->tex_obj);
                           glBindBuffer(GL_ARRAY_BUFFER, inked_vbo);
                           glInterleavedArrays(GL_T2F_V3F, 0, (void *)0);
                           glDrawArrays(GL_QUADS, 0, inked_cells * 4);
                           glDisableClientState(GL_VERTEX_ARRAY);
                           glDisableClientState(GL_TEXTURE_COORD_ARRAY);
                           glBindBuffer(GL_ARRAY_BUFFER, 0);
                       },
                       {}, {}});
    if (mixed)
        methods.push_back({"font engine, CJK (fallback)",
                           [&] {
                               glFontDisplay2DBegin(org, colv, rowv, kW, kH);
                               glFontBegin(mixed);
                               glColor4f(1, 1, 1, 1);
                               for (int l = 0; l < g_nlines; l++)
                                   glFontScaledTextOut2D(&cjk_lines[(size_t)l][0], 0, kRowPx * l, kRowPx, kRowPx,
                                                         nullptr);
                               glFontEnd();
                               glFontDisplay2DEnd();
                           },
                           {}, {}});
    // Shaped scripts, where their fonts are installed: each as the font
    // engine draws it, the same count of glyphs as the ASCII run.
    struct Script {
        const char *name, *file;
        std::vector<std::string> pieces;
        std::string filler;
        QVP_CANVAS_FONTDEF *font;
        std::vector<std::string> lines;
        size_t method;
    };
    std::vector<Script> scripts = {
        {"Arabic", "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf",
         {"\xd8\xa8\xd8\xb3\xd9\x85", "\xd9\x83\xd8\xaa\xd8\xa8", "\xd8\xb9\xd9\x8a\xd9\x86",
          "\xd9\x86\xd8\xac\xd9\x85", "\xd9\x81\xd8\xb5\xd8\xad"},
         "\xd8\xb3", nullptr, {}, 0},
        {"Devanagari", "/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf",
         {"\xe0\xa4\x95\xe0\xa4\xbf", "\xe0\xa4\xa8\xe0\xa4\xae", "\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4\xe0\xa5\x87",
          "\xe0\xa4\xa6\xe0\xa5\x81", "\xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7", "\xe0\xa4\xac\xe0\xa4\xbe"},
         "\xe0\xa4\x95", nullptr, {}, 0},
        {"mixed direction", "",
         {"\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d", "abc", "2026", "\xd7\xa2\xd7\x95\xd7\x9c\xd7\x9d", "(x)", "42"},
         "x", nullptr, {}, 0},
    };
    for (Script &sc : scripts) {
        qvpc::FontDesc d;
        d.name = sc.name;
        d.file = sc.file;
        sc.font = qvpc::CreateFont(d, e);
        if (!sc.font) {
            fprintf(stderr, "bench_text: no %s run (%s)\n", sc.name, e.c_str());
            continue;
        }
        sc.lines = script_lines(sc.font, sc.pieces, sc.filler);
        sc.method = methods.size();
        Script *p = &sc;
        methods.push_back({sc.name,
                           [=] {
                               glFontDisplay2DBegin(const_cast<double *>(org), const_cast<double *>(colv),
                                                    const_cast<double *>(rowv), kW, kH);
                               glFontBegin(p->font);
                               glColor4f(1, 1, 1, 1);
                               for (int l = 0; l < g_nlines; l++)
                                   glFontScaledTextOut2D(&p->lines[(size_t)l][0], 0, kRowPx * l, kRowPx, kRowPx,
                                                         nullptr);
                               glFontEnd();
                               glFontDisplay2DEnd();
                           },
                           {}, {}});
    }
    glViewport(0, 0, kW, kH);
    // The font engine uploads its texture (and CJK glyphs) on first use.
    ortho();
    for (Method &m : methods) m.draw();
    glFinish();
    // The same picture: the engine's, its cells drawn by hand, and whole
    // cells (which differ only where the engine leaves a cell out or a
    // quad's corner lands a rounding away).
    std::vector<unsigned char> shot[4];
    const size_t shown[4] = {0, kSameCells, kSameCells + 1, 3};
    for (int k = 0; k < 4; k++) {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        ortho();
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        methods[shown[k]].draw();
        glPopAttrib();
        shot[k] = read_window();
        if (getenv("QVP_BENCH_PICTURES")) {
            char path[64], why[256];
            snprintf(path, sizeof path, "%s/text-%d.png", getenv("QVP_BENCH_PICTURES"), k);
            if (!QVH_Snapshot(path, why, sizeof why)) fprintf(stderr, "bench_text: %s\n", why);
        }
    }
    long same_imm = channels_differ(shot[0], shot[1], 0), same_vbo = channels_differ(shot[0], shot[2], 0);
    long whole = channels_differ(shot[0], shot[3], 2);
    if (same_imm || same_vbo || whole > (long)kW * kH / 1000) {
        fprintf(stderr, "bench_text: the pictures differ (its cells by hand %ld and %ld channels, whole cells %ld)\n",
                same_imm, same_vbo, whole);
        return 1;
    }
    if (sweep) {
        methods.erase(methods.begin() + (long)kSameCells, methods.begin() + (long)kSameCells + 2);
        printf("glyphs\tmethod\trasterised glyphs/s\trasteriser off glyphs/s\n");
        for (int lines : {1, 3, 10, 30, 100, 300}) {
            g_nlines = lines;
            // About 200,000 glyphs a measurement, at least one draw.
            int n = std::max(1, 200000 / (lines * kCols));
            measure(methods, reps, n);
            for (Method &m : methods)
                printf("%d\t%s\t%.0f\t%.0f\n", lines * kCols, m.name, BenchMedian(m.raster), BenchMedian(m.discard));
            fflush(stdout);
        }
        CloseBenchWorld(scene);
        return 0;
    }
    measure(methods, reps, draws);
    printf("%d glyphs (%d lines of %d), %.0f px lines, %dx%d, %d draws x %d repetitions, renderer %s\n\n", glyphs,
           kLines, kCols, kRowPx, kW, kH, draws, reps, QVH_Renderer());
    printf("%-28s %26s %26s\n", "method", "rasterised Mglyphs/s", "rasteriser off Mglyphs/s");
    for (Method &m : methods) {
        auto mm = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            char b[64];
            snprintf(b, sizeof b, "%.2f (%.2f..%.2f)", BenchMedian(v) / 1e6, v.front() / 1e6, v.back() / 1e6);
            return std::string(b);
        };
        printf("%-28s %26s %26s\n", m.name, mm(m.raster).c_str(), mm(m.discard).c_str());
    }
    // Time ratios (glyphs per second inverted): under 1 is faster.
    auto time_ratio = [&](size_t a, size_t b, bool off) {
        return off ? BenchMedian(methods[b].discard) / BenchMedian(methods[a].discard)
                   : BenchMedian(methods[b].raster) / BenchMedian(methods[a].raster);
    };
    printf("the engine draws %d quads for %d glyphs (cells of no ink left out, the rest over their ink); pictures: "
           "its cells by hand differ from it in %ld and %ld channels, whole cells in %ld channels (by more than 2)\n",
           inked_cells, glyphs, same_imm, same_vbo, whole);
    printf("time of a draw, font engine against:\n");
    printf("  its own cells, immediate mode:  %.2fx rasterised, %.2fx rasteriser off\n", time_ratio(0, kSameCells, false),
           time_ratio(0, kSameCells, true));
    printf("  its own cells, one static VBO:  %.2fx rasterised, %.2fx rasteriser off\n",
           time_ratio(0, kSameCells + 1, false), time_ratio(0, kSameCells + 1, true));
    printf("  whole cells, immediate mode:    %.2fx rasterised, %.2fx rasteriser off\n", time_ratio(0, 2, false),
           time_ratio(0, 2, true));
    printf("  whole cells, one static VBO:    %.2fx rasterised, %.2fx rasteriser off\n", time_ratio(0, 3, false),
           time_ratio(0, 3, true));
    printf("  FTGL (its own 20-pixel atlas):  %.2fx rasterised, %.2fx rasteriser off\n", time_ratio(0, 1, false),
           time_ratio(0, 1, true));
    if (mixed)
        printf("CJK through a fallback / ASCII, font engine: %.2fx rasterised, %.2fx rasteriser off\n",
               BenchMedian(methods[kSameCells + 2].raster) / BenchMedian(methods[0].raster),
               BenchMedian(methods[kSameCells + 2].discard) / BenchMedian(methods[0].discard));
    // Time per glyph against the ASCII run (glyphs/s are inverted).
    for (Script &sc : scripts)
        if (sc.font)
            printf("%s / ASCII, steady frames, time per glyph: %.2fx rasterised, %.2fx rasteriser off\n", sc.name,
                   BenchMedian(methods[0].raster) / BenchMedian(methods[sc.method].raster),
                   BenchMedian(methods[0].discard) / BenchMedian(methods[sc.method].discard));
    printf("\nfirst layout (shaping, glyphs rasterised before), median of %d:\n", reps);
    printf("  ASCII: %.1f us per 1,000 glyphs\n", first_layout_us(font, g_lines, reps));
    for (Script &sc : scripts)
        if (sc.font) printf("  %s: %.1f us per 1,000 glyphs\n", sc.name, first_layout_us(sc.font, sc.lines, reps));
    CloseBenchWorld(scene);
    return 0;
}
