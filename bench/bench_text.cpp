// bench_text.cpp - glyphs per second, side by side in one process on one
// 1920 x 1080 EGL display: the plugin's font engine as a canvas draws
// text, FTGL's texture font with the same face and size, the same quads
// written by hand in immediate mode, and the same quads from one static
// VBO. Each is measured rasterised and with GL_RASTERIZER_DISCARD (the
// submission cost alone), interleaved, REPS times; the table gives the
// median and the spread (min..max) of each, and the ratios. A fifth run
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
#include "bench_world.h"
#include "canvas_builder.h"
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

// The quads of every glyph of the text in the default font, as the font
// engine lays them out: x, y, s, t per corner.
std::vector<float> glyph_quads(const QVP_CANVAS_FONTDEF *f) {
    std::vector<float> q;
    for (int l = 0; l < (int)g_lines.size(); l++) {
        double x = 0, y = kH - kRowPx * l;
        for (unsigned char ch : g_lines[(size_t)l]) {
            if (ch < f->first_char || ch > f->last_char) continue;
            const QVP_CANVAS_CHARDEF &g = f->char_list[ch - f->first_char];
            double w = g.dx * f->scale[0] * kRowPx, h = g.dy * kRowPx;
            float v[4][4] = {{(float)x, (float)y, g.tx1, g.ty1},
                             {(float)x, (float)(y - h), g.tx1, g.ty2},
                             {(float)(x + w), (float)(y - h), g.tx2, g.ty2},
                             {(float)(x + w), (float)y, g.tx2, g.ty1}};
            for (auto &c : v) q.insert(q.end(), c, c + 4);
            x += w;
        }
    }
    return q;
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

// Glyphs per second of every method, REPS times, DRAWS draws each time,
// rasterised and with the rasteriser off, the methods interleaved.
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
                }
                glFinish();
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
    std::vector<float> quads = glyph_quads(font);
    GLuint vbo = 0;
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(quads.size() * sizeof(float)), quads.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    double org[3] = {0, (double)kH, 0}, colv[3] = {(double)kW, 0, 0}, rowv[3] = {0, -(double)kH, 0};
    std::vector<Method> methods = {
        {"qvp_drawcanvas font engine",
         [&] {
             // As a canvas frame draws a text element: one column and row
             // per pixel, rows down.
             glFontDisplay2DBegin(org, colv, rowv, kW, kH);
             glFontBegin(font);
             glColor4f(1, 1, 1, 1);
             for (int l = 0; l < g_nlines; l++)
                 glFontScaledTextOut2D(&g_lines[(size_t)l][0], 0, kRowPx * l, kRowPx, kRowPx, nullptr);
             glFontEnd();
             glFontDisplay2DEnd();
         }, {}, {}},
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
    if (sweep) {
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
    printf("\nfont engine / FTGL: %.2fx rasterised, %.2fx rasteriser off\n",
           BenchMedian(methods[0].raster) / BenchMedian(methods[1].raster), BenchMedian(methods[0].discard) / BenchMedian(methods[1].discard));
    printf("font engine / hand-written quads: %.2fx rasterised, %.2fx rasteriser off\n",
           BenchMedian(methods[0].raster) / BenchMedian(methods[2].raster), BenchMedian(methods[0].discard) / BenchMedian(methods[2].discard));
    if (mixed)
        printf("CJK through a fallback / ASCII, font engine: %.2fx rasterised, %.2fx rasteriser off\n",
               BenchMedian(methods[4].raster) / BenchMedian(methods[0].raster),
               BenchMedian(methods[4].discard) / BenchMedian(methods[0].discard));
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
