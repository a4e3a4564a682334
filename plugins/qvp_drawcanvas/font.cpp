// font.cpp - the texture font engine: fonts loaded once per process into
// the display's GL context and text laid out in the open canvas frame's
// column and row grid (canvas_frame.cpp).
//
// Text is UTF-8, shaped per run (shaping.cpp) when the font has a face:
// a glyph that is a table code's plain glyph is drawn from the font's
// shared table, any other from this process's glyph store (glyphs.cpp).
// A font without a face draws the codes of its table as they stand and
// skips the rest without advancing. Nothing outside char_list is read.
#include <GL/glu.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "dc_services.h"
#include "dc_frame.h"
#include "dc_text.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"

namespace {

// The font bound by glFontBegin, null when none; cleared by glFontEnd.
QVP_CANVAS_FONTDEF *glFont = nullptr;

// Fonts found unusable in this process, so that each is reported once;
// filled by font_usable.
const int kMaxBadFonts = 64;
const QVP_CANVAS_FONTDEF *bad_fonts[kMaxBadFonts];
int bad_font_cnt = 0;

// Why font F from the shared scene cannot be uploaded and drawn, or null
// when it can: its glyph table and pixels must exist, its texture size
// lie in 1..the GL maximum, its codes run 0 <= first <= last, and its
// table and pixels fill their arena blocks when they are arena blocks.
const char *font_fault(const QVP_CANVAS_FONTDEF *f) {
    if (!f->texdata) return "no pixels";
    if (!TextureSizeFits(f->w, f->h)) return "texture size out of range";
    if (f->first_char < 0 || f->first_char > f->last_char) return "bad code range";
    size_t glyphs = (size_t)f->last_char - (size_t)f->first_char + 1;
    if (!SharedBlockHolds(f, f->char_list, sizeof(QVP_CANVAS_CHARDEF) * glyphs)) return "code range wider than its glyph table";
    if (!SharedBlockHolds(f, f->texdata, (size_t)f->w * (size_t)f->h * 2)) return "pixels smaller than its texture size";
    return nullptr;
}

// 1 when F may be drawn; otherwise reports it, once per font, and 0.
int font_usable(const QVP_CANVAS_FONTDEF *f) {
    const char *why = font_fault(f);
    if (!why) return 1;
    for (int i = 0; i < bad_font_cnt; i++)
        if (bad_fonts[i] == f) return 0;
    if (bad_font_cnt < kMaxBadFonts) bad_fonts[bad_font_cnt++] = f;
    char msg[QVP_TEXT_BUF];
    snprintf(msg, sizeof msg, "font \"%.79s\" cannot be used (%s): its text is not drawn", f->name, why);
    QVF_LogWarningF(msg, QVP_SOURCE, __LINE__);
    return 0;
}

// One laid-out cell: its box (first corner BP, advance BA, a row down),
// and its glyph's quad (first corner P, across A, down D) with the
// texture and corners of the glyph (TEX 0: a tab, or a glyph of no ink,
// which only gets a box); INK the part of the quad its ink needs, as
// fractions of A and D (QVP_GLYPH's ink_box), and TEXELS the quad's size
// in texels.
struct Cell {
    float bp[3], ba[3];
    float p[3], a[3], d[3];
    GLuint tex;
    int colour;
    float tx1, ty1, tx2, ty2;
    float ink[4];
    float texels[2];
};

// Text is laid out and drawn this many cells at a time, so that any
// length of text needs no memory beyond this one buffer.
const int kChunkCells = 512;
Cell g_cells[kChunkCells];

// A text's frame: origin O, column and row steps DC and DR, start COL and
// ROW, glyph scales, the font's advance factor S; INKLESS_OUT: a glyph
// whose cell has no ink gets no quad (true unless the quads would write
// depth or stencil, where even a clear one leaves its mark).
struct TextFrame {
    float o[3], dc[3], dr[3];
    double col, row, cscale, rscale;
    float s;
    bool inkless_out;
};

// Where the layout of one string stands between chunks.
struct Pen {
    QVP_TEXT_CURSOR cur;
    float p[3];
    float k;              // the line counter, starting at the text's row
    bool missed;          // a glyph that should draw could not be had
};

void pen_start(Pen &pen, const char *string, const TextFrame &f) {
    TextCursorStart(&pen.cur, glFont, string);
    for (int i = 0; i < 3; i++) pen.p[i] = (float)((double)f.o[i] + (double)f.dc[i] * f.col + (double)f.dr[i] * f.row);
    pen.k = (float)f.row;
    pen.missed = false;
}

// Lays out the next cells of PEN's string into g_cells, as many as fit;
// returns how many (0 at the end of the string). A newline starts the
// next line and makes no cell; a tab's cell is four columns wide; a
// glyph's cell is its advance wide (kerning included), its quad its box
// moved by its offset from the pen.
int layout_cells(Pen &pen, const TextFrame &f) {
    int n = 0;
    while (n < kChunkCells) {
        const QVP_ITEM *it = TextCursorNext(&pen.cur);
        if (!it) break;
        Cell &c = g_cells[n];
        if (it->kind == QVP_ITEM_NEWLINE) {
            pen.k = pen.k + 1.0f;
            for (int i = 0; i < 3; i++)
                pen.p[i] = (float)((double)f.o[i] + (double)f.dc[i] * f.col + (double)f.dr[i] * f.row +
                                   (double)f.dr[i] * ((double)pen.k - f.row) * f.rscale);
            continue;
        }
        memcpy(c.bp, pen.p, sizeof c.bp);
        if (it->kind == QVP_ITEM_TAB) {
            for (int i = 0; i < 3; i++) c.ba[i] = (float)((double)(f.dc[i] * 4.0f) * f.cscale);
            c.tex = 0;
        } else {
            if (it->missed) {
                pen.missed = true;
                continue;
            }
            const QVP_GLYPH &g = it->g;
            float wd = f.s * it->adv, qw = f.s * g.bw, qx = f.s * (g.bx + it->xoff), qy = g.by - it->yoff;
            for (int i = 0; i < 3; i++) {
                c.ba[i] = (float)((double)(wd * f.dc[i]) * f.cscale);
                c.p[i] = pen.p[i];
                if (qx != 0.0f) c.p[i] += (float)((double)(qx * f.dc[i]) * f.cscale);
                if (qy != 0.0f) c.p[i] += (float)((double)(qy * f.dr[i]) * f.rscale);
                c.a[i] = (float)((double)(qw * f.dc[i]) * f.cscale);
                c.d[i] = (float)((double)(f.dr[i] * g.bh) * f.rscale);
            }
            c.tex = g.tex;
            c.colour = g.colour;
            c.tx1 = g.tx1;
            c.ty1 = g.ty1;
            c.tx2 = g.tx2;
            c.ty2 = g.ty2;
            bool ink = g.ink != 0;
            if (it->table >= 0) {
                ink = FontTableInk(glFont, (uint32_t)it->table, c.ink) != 0;
                c.texels[0] = fabsf(g.tx2 - g.tx1) * (float)glFont->w;
                c.texels[1] = fabsf(g.ty2 - g.ty1) * (float)glFont->h;
            } else {
                memcpy(c.ink, g.ink_box, sizeof c.ink);
                memcpy(c.texels, g.texels, sizeof c.texels);
            }
            // A space, say: its cell keeps its box but draws no quad.
            if (f.inkless_out && !ink) c.tex = 0;
        }
        for (int i = 0; i < 3; i++) pen.p[i] += c.ba[i];
        n++;
    }
    pen.missed |= pen.cur.missed != 0;
    return n;
}

// Glyph quads go to GL as one vertex array per run of one texture:
// texture coordinates and position of each corner (GL_T2F_V3F), four
// corners a cell. Filled by add_glyph, drawn by flush_glyphs; the one
// buffer serves every text of the process.
float g_quads[kChunkCells * 4 * 5];
int g_quad_cells = 0;

void corner(float *v, float s, float t, const Cell &c, bool across, bool below) {
    v[0] = s;
    v[1] = t;
    for (int i = 0; i < 3; i++) v[2 + i] = c.p[i] + (across ? c.a[i] : 0.0f) + (below ? c.d[i] : 0.0f);
}

// Set by SetInkBoxesOff: every glyph drawn as its whole cell.
bool g_ink_boxes_off = false;
// Glyph quads laid out as ink boxes; counted by add_glyph.
long g_ink_cells = 0;

// Adds C's quad: all of it, or with INK only the part its ink needs (the
// same texture coordinates at the same points, so the same picture
// where the rest is transparent and leaves no mark).
void add_glyph(const Cell &c, bool ink) {
    float *v = g_quads + (size_t)g_quad_cells++ * 20;
    Cell b = c;
    float s1 = c.tx1, s2 = c.tx2, t1 = c.ty1, t2 = c.ty2;
    // The whole cell's corners are kept as they are, not recomputed.
    if (ink && !(c.ink[0] == 0.0f && c.ink[1] == 0.0f && c.ink[2] == 1.0f && c.ink[3] == 1.0f)) {
        g_ink_cells++;
        for (int i = 0; i < 3; i++) {
            b.p[i] = c.p[i] + c.a[i] * c.ink[0] + c.d[i] * c.ink[1];
            b.a[i] = c.a[i] * (c.ink[2] - c.ink[0]);
            b.d[i] = c.d[i] * (c.ink[3] - c.ink[1]);
        }
        s1 = c.tx1 + (c.tx2 - c.tx1) * c.ink[0], s2 = c.tx1 + (c.tx2 - c.tx1) * c.ink[2];
        t1 = c.ty1 + (c.ty2 - c.ty1) * c.ink[1], t2 = c.ty1 + (c.ty2 - c.ty1) * c.ink[3];
    }
    corner(v, s1, t1, b, false, false);
    corner(v + 5, s1, t2, b, false, true);
    corner(v + 10, s2, t2, b, true, true);
    corner(v + 15, s2, t1, b, true, false);
}

// The area of the quads of the first N cells (those with texels to go
// by) in frame F; not ok when the frame spans no plane.
QVP_INK_AREA ink_area_of(int n, const TextFrame &f) {
    QVP_INK_AREA a = {0, {1e300, 1e300}, {-1e300, -1e300}, 1e300, 1e300};
    double g11 = 0, g12 = 0, g22 = 0;
    for (int i = 0; i < 3; i++)
        g11 += (double)f.dc[i] * f.dc[i], g12 += (double)f.dc[i] * f.dr[i], g22 += (double)f.dr[i] * f.dr[i];
    double det = g11 * g22 - g12 * g12;
    if (!(det > 1e-12 * g11 * g22) || !(g11 > 0) || !(g22 > 0)) return a;
    // A point's plane coordinates, through the inverse Gram matrix.
    auto take = [&](const float *q) {
        double r1 = 0, r2 = 0;
        for (int i = 0; i < 3; i++) {
            r1 += ((double)q[i] - f.o[i]) * f.dc[i];
            r2 += ((double)q[i] - f.o[i]) * f.dr[i];
        }
        double u = (g22 * r1 - g12 * r2) / det, v = (g11 * r2 - g12 * r1) / det;
        a.lo[0] = std::min(a.lo[0], u), a.hi[0] = std::max(a.hi[0], u);
        a.lo[1] = std::min(a.lo[1], v), a.hi[1] = std::max(a.hi[1], v);
    };
    for (int k = 0; k < n; k++) {
        const Cell &c = g_cells[k];
        if (!c.tex || !(c.texels[0] > 0) || !(c.texels[1] > 0)) continue;
        double la = 0, ld = 0;
        for (int i = 0; i < 3; i++) la += (double)c.a[i] * c.a[i], ld += (double)c.d[i] * c.d[i];
        if (!(la > 0) || !(ld > 0)) continue;
        float far[3];
        for (int i = 0; i < 3; i++) far[i] = c.p[i] + c.a[i] + c.d[i];
        take(c.p);
        take(far);
        a.su = std::min(a.su, sqrt(la) / c.texels[0]);
        a.sv = std::min(a.sv, sqrt(ld) / c.texels[1]);
        a.ok = 1;
    }
    return a;
}

// A and B of one frame together (either may not be ok).
void ink_area_join(QVP_INK_AREA &a, const QVP_INK_AREA &b) {
    if (!b.ok) return;
    if (!a.ok) {
        a = b;
        return;
    }
    for (int i = 0; i < 2; i++) a.lo[i] = std::min(a.lo[i], b.lo[i]), a.hi[i] = std::max(a.hi[i], b.hi[i]);
    a.su = std::min(a.su, b.su);
    a.sv = std::min(a.sv, b.sv);
}

// Whether, drawn under the current matrices and viewport, texture
// filtering reads no mipmap level past 1 anywhere in area A of frame F:
// the scale of texels to pixels stays under 2 at its corners and centre,
// taken as the largest sum of derivatives GL may use for it, with room
// for rounding (2%) and, under a projection, for derivatives taken over
// pixel quads (10%). Reads the matrices and viewport from GL.
bool ink_area_holds(const QVP_INK_AREA &a, const TextFrame &f) {
    if (!a.ok) return false;
    GLfloat mv[16], pr[16];
    GLint vp[4];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    glGetFloatv(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    double m[16];  // pr * mv, column-major
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) {
            double v = 0;
            for (int k = 0; k < 4; k++) v += (double)pr[k * 4 + r] * mv[c * 4 + k];
            m[c * 4 + r] = v;
        }
    const bool projective = m[3] != 0 || m[7] != 0 || m[11] != 0;
    const double room = projective ? 1.10 : 1.02;
    double lc = 0, lr = 0;
    for (int i = 0; i < 3; i++) lc += (double)f.dc[i] * f.dc[i], lr += (double)f.dr[i] * f.dr[i];
    lc = sqrt(lc), lr = sqrt(lr);
    auto clip = [&](const double *x, double w, double *out) {
        for (int r = 0; r < 4; r++) out[r] = m[r] * x[0] + m[4 + r] * x[1] + m[8 + r] * x[2] + m[12 + r] * w;
    };
    for (int k = 0; k < 5; k++) {
        double u = k == 4 ? (a.lo[0] + a.hi[0]) / 2 : (k & 1) ? a.hi[0] : a.lo[0];
        double v = k == 4 ? (a.lo[1] + a.hi[1]) / 2 : (k >> 1) ? a.hi[1] : a.lo[1];
        double x[3], eu[3], ev[3];
        for (int i = 0; i < 3; i++) {
            x[i] = (double)f.o[i] + u * f.dc[i] + v * f.dr[i];
            eu[i] = f.dc[i] / lc * a.su;
            ev[i] = f.dr[i] / lr * a.sv;
        }
        double p[4], du[4], dv[4];
        clip(x, 1, p);
        clip(eu, 0, du);
        clip(ev, 0, dv);
        if (!(p[3] > 0)) return false;
        // Pixels per texel step: d(x / w), scaled to the viewport.
        double w2 = p[3] * p[3], sx = vp[2] * 0.5, sy = vp[3] * 0.5;
        double xu = sx * (du[0] * p[3] - p[0] * du[3]) / w2, xv = sx * (dv[0] * p[3] - p[0] * dv[3]) / w2;
        double yu = sy * (du[1] * p[3] - p[1] * du[3]) / w2, yv = sy * (dv[1] * p[3] - p[1] * dv[3]) / w2;
        double det = fabs(xu * yv - xv * yu);
        if (!(det > 0)) return false;
        // Texels per pixel: the columns of the inverse, summed.
        double rho = std::max(fabs(yv) + fabs(yu), fabs(xv) + fabs(xu)) / det;
        if (!(rho * room < 2.0)) return false;
    }
    return true;
}

// The kept text the glyph runs being drawn are recorded into, null when
// none; set by glFontScaledTextOut2D around one text.
QVP_KEPT_TEXT *g_recording = nullptr;

// Draws the quads added since the last flush with TEX, the bound
// texture, and adds them to the text being recorded.
void flush_glyphs(GLuint tex) {
    if (g_quad_cells == 0) return;
    if (g_recording && !KeptTextAdd(g_recording, tex, g_quads, g_quad_cells)) {
        KeptTextDone(g_recording, 0);
        g_recording = nullptr;
    }
    QVF_StateInterleavedArrays(GL_T2F_V3F, 0, g_quads);
    glDrawArrays(GL_QUADS, 0, g_quad_cells * 4);
    QVF_StateClientArray(GL_VERTEX_ARRAY, 0);
    QVF_StateClientArray(GL_TEXTURE_COORD_ARRAY, 0);
    g_quad_cells = 0;
}

// The bound font's texture filters: those a text element gave it last
// when known, else read back (binding the font's texture).
void font_filters(GLint *min_filter, GLint *mag_filter) {
    GLuint font_tex = (GLuint)glFont->tex_obj;
    int smooth;
    if (KnownFontFilters(font_tex, &smooth)) {
        *min_filter = smooth ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST;
        *mag_filter = smooth ? GL_LINEAR : GL_NEAREST;
        return;
    }
    BindTexture2D(font_tex);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter);
    // Either pair a text element sets is remembered as if it had set it.
    NoteFontFilters(font_tex, *min_filter, *mag_filter);
}

// Draws colour glyphs in their own colours: white at the current alpha
// while COLOUR, the colour before put back when it ends.
struct OwnColours {
    GLfloat saved[4];
    bool on = false;
    void set(bool colour) {
        if (colour == on) return;
        if (colour) {
            glGetFloatv(GL_CURRENT_COLOR, saved);
            SetColour(1.0f, 1.0f, 1.0f, saved[3]);
        } else {
            SetColour(saved[0], saved[1], saved[2], saved[3]);
        }
        on = colour;
    }
};

// The glyphs of the first N cells: those of the font's own texture (bound
// by glFontBegin) in one run, then those of each glyph page in a run of
// their own, the page given the font texture's filters (colour pages in
// their own colours); the font's texture is bound again afterwards.
void draw_glyph_cells(int n, bool ink) {
    GLuint font_tex = (GLuint)glFont->tex_obj;
    BindTexture2D(font_tex);
    bool others = false;
    for (int k = 0; k < n; k++) {
        if (g_cells[k].tex == font_tex) add_glyph(g_cells[k], ink);
        else others |= g_cells[k].tex != 0;
    }
    flush_glyphs(font_tex);
    if (!others) return;
    GLint min_filter = GL_LINEAR_MIPMAP_LINEAR, mag_filter = GL_LINEAR;
    font_filters(&min_filter, &mag_filter);
    OwnColours own;
    for (int first = 0; first < n; first++) {
        GLuint t = g_cells[first].tex;
        if (t == 0 || t == font_tex) continue;
        BindTexture2D(t);
        own.set(PrepareGlyphTexture(t, min_filter, mag_filter) != 0);
        for (int k = first; k < n; k++)
            if (g_cells[k].tex == t) {
                add_glyph(g_cells[k], ink);
                g_cells[k].tex = 0;
            }
        flush_glyphs(t);
    }
    own.set(false);
    BindTexture2D(font_tex);
}

// Whether a quad, even a clear one, would change the depth or stencil
// buffer as it is drawn now.
bool quads_leave_marks() {
    GLboolean depth_writes = GL_FALSE;
    if (glIsEnabled(GL_DEPTH_TEST)) glGetBooleanv(GL_DEPTH_WRITEMASK, &depth_writes);
    if (depth_writes) return true;
    if (!glIsEnabled(GL_STENCIL_TEST)) return false;
    GLint mask = 0, fail = GL_KEEP, zfail = GL_KEEP, pass = GL_KEEP;
    glGetIntegerv(GL_STENCIL_WRITEMASK, &mask);
    glGetIntegerv(GL_STENCIL_FAIL, &fail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &zfail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &pass);
    return mask != 0 && (fail != GL_KEEP || zfail != GL_KEEP || pass != GL_KEEP);
}

// Draws kept text T as its layout drew it: the same runs, in order, with
// the same textures and page filters. The last run's texture stays bound
// (the next text of the same pages then binds none); whoever needs the
// font's texture binds it (glFontBegin does).
void draw_kept(const QVP_KEPT_TEXT *t) {
    GLuint font_tex = (GLuint)glFont->tex_obj;
    GLint min_filter = GL_LINEAR_MIPMAP_LINEAR, mag_filter = GL_LINEAR;
    bool filters_read = false;
    OwnColours own;
    for (int k = 0; k < t->nruns; k++) {
        const QVP_TEXT_RUN &r = t->runs[k];
        if (r.tex != font_tex && !filters_read) {
            font_filters(&min_filter, &mag_filter);
            filters_read = true;
        }
        BindTexture2D(r.tex);
        own.set(r.tex != font_tex && PrepareGlyphTexture(r.tex, min_filter, mag_filter) != 0);
        QVF_StateInterleavedArrays(GL_T2F_V3F, 0, t->quads + (size_t)r.first * kKeptCellFloats);
        glDrawArrays(GL_QUADS, 0, r.cells * 4);
    }
    own.set(false);
    if (t->nruns) {
        QVF_StateClientArray(GL_VERTEX_ARRAY, 0);
        QVF_StateClientArray(GL_TEXTURE_COORD_ARRAY, 0);
    }
}

}  // namespace

// Makes FONT the bound font and binds its texture, uploading it (with
// mipmaps) the first time this process uses it, and opens the drawing
// state. A font without glyphs, or one that fails its checks, is
// reported and binds nothing; glFontEnd must follow either way.
void glFontBegin(QVP_CANVAS_FONTDEF *Font) {
    OpenDrawingState();
    if (Font->char_list) {
        glFont = Font;
    } else {
        glFont = nullptr;
        QVF_LogWarningF("No font defined!!!\n", QVP_SOURCE, __LINE__);
    }
    if (!glFont) return;
    if (!font_usable(glFont)) {
        glFont = nullptr;
        return;
    }
    bool loaded = false;
    for (int i = 0; i < pprocinfo->defined_fonts_cnt; i++)
        if (pprocinfo->defined_fonts[i] == glFont) loaded = true;
    if (!loaded) {
        ForgetFontFilters();  // the upload sets the texture's filters afresh
        BindTexture2D((GLuint)glFont->tex_obj);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        QVF_StateTexEnvMode(GL_MODULATE);
        // Rows of two-byte texels are packed: a width of 1 would read
        // past the pixels with GL's default alignment of 4.
        GLint alignment = 4;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        QVF_StatePixelStore(GL_UNPACK_ALIGNMENT, 1);
        gluBuild2DMipmaps(GL_TEXTURE_2D, 2, glFont->w, glFont->h, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,
                          glFont->texdata);
        QVF_StatePixelStore(GL_UNPACK_ALIGNMENT, alignment);
        if (pprocinfo->defined_fonts_cnt >= pprocinfo->defined_fonts_size) {
            int size = pprocinfo->defined_fonts_size + 100;
            void *grown = PluginRealloc(pprocinfo->defined_fonts, sizeof(QVP_CANVAS_FONTDEF *) * (size_t)size);
            if (grown) {
                pprocinfo->defined_fonts = (QVP_CANVAS_FONTDEF **)grown;
                pprocinfo->defined_fonts_size = size;
            } else {
                // The texture is loaded; it is loaded again next time.
                QVF_LogWarningF("out of memory for the loaded-font list", QVP_SOURCE, __LINE__);
            }
        }
        if (pprocinfo->defined_fonts_cnt < pprocinfo->defined_fonts_size)
            pprocinfo->defined_fonts[pprocinfo->defined_fonts_cnt++] = glFont;
    }
    BindTexture2D((GLuint)glFont->tex_obj);
}

// Forgets the bound font and closes the drawing state glFontBegin opened.
void glFontEnd(void) {
    glFont = nullptr;
    CloseDrawingState();
}

// Draws STRING from column COL, row ROW of the open frame with the bound
// font, glyphs scaled by CSCALE across and RSCALE down; a newline starts
// the next line, a tab advances 4 columns. With BCOL, a box of that
// colour goes behind each glyph cell. Nothing without a bound font.
void glFontScaledTextOut2D(char *String, double col, double row, double cscale, double rscale, float *bcol) {
    if (!glFont || !String) return;
    TextFrame f = {{0, 0, 0}, {1, 0, 0}, {0, -1, 0}, col, row, cscale, rscale, glFont->scale[0], !quads_leave_marks()};
    double org[3], dcol[3], drow[3];
    if (InnermostFrame(org, dcol, drow)) {
        for (int i = 0; i < 3; i++) {
            f.o[i] = (float)org[i];
            f.dc[i] = (float)dcol[i];
            f.dr[i] = (float)drow[i];
        }
    }
    // A text without boxes that was laid out before in this frame and
    // font is drawn from what that layout made.
    QVP_TEXT_KEY key;
    if (!bcol) {
        memset(&key, 0, sizeof key);
        key.str = String;
        key.len = strlen(String);
        key.font = glFont;
        key.font_tex = (GLuint)glFont->tex_obj;
        key.char_list = glFont->char_list;
        const double frame[15] = {f.o[0], f.o[1], f.o[2], f.dc[0], f.dc[1], f.dc[2], f.dr[0], f.dr[1],
                                  f.dr[2], col,    row,    cscale, rscale,  f.s,     (double)f.inkless_out};
        memcpy(key.frame, frame, sizeof frame);
        if (const QVP_KEPT_TEXT *kept = FindKeptText(&key, &g_recording)) {
            if (!kept->ink.ok || ink_area_holds(kept->ink, f)) {
                draw_kept(kept);
                return;
            }
            // Its ink boxes would now lose texels that filtering reads (it
            // is drawn smaller): laid out and recorded again.
            KeptTextDone((QVP_KEPT_TEXT *)kept, 0);
            FindKeptText(&key, &g_recording);
        }
    }
    QVP_INK_AREA inked = {0, {0, 0}, {0, 0}, 0, 0};
    float down[3];
    for (int i = 0; i < 3; i++) down[i] = (float)((double)f.dr[i] * rscale);
    Pen pen;
    pen_start(pen, String, f);
    // Each chunk of cells gets its boxes, then its glyphs; a text of up
    // to a chunk is one box pass and one glyph pass.
    for (bool first = true;; first = false) {
        int n = layout_cells(pen, f);
        if (n == 0 && !first) break;
        if (bcol) {
            GLfloat saved[4];
            glGetFloatv(GL_CURRENT_COLOR, saved);
            QVF_StateEnable(GL_TEXTURE_2D, 0);
            if (saved[3] >= 0.999f) QVF_StateEnable(GL_BLEND, 0);
            QVF_StateDepthFunc(GL_LEQUAL);
            SetColour(bcol[0], bcol[1], bcol[2], 1);
            VertexBegin(0);
            for (int k = 0; k < n; k++) {
                const float *p = g_cells[k].bp, *a = g_cells[k].ba;
                VertexAt(p[0], p[1], p[2]);
                VertexAt(p[0] + down[0], p[1] + down[1], p[2] + down[2]);
                VertexAt(p[0] + a[0] + down[0], p[1] + a[1] + down[1], p[2] + a[2] + down[2]);
                VertexAt(p[0] + a[0], p[1] + a[1], p[2] + a[2]);
            }
            VertexEnd(GL_QUADS);
            QVF_StateEnable(GL_TEXTURE_2D, 1);
            QVF_StateEnable(GL_BLEND, 1);
            SetColour(saved[0], saved[1], saved[2], saved[3]);
        }
        // Ink boxes where the quads leave no mark and mipmap levels past
        // 1 are not read, so that what they leave out is transparent.
        bool ink = false;
        if (f.inkless_out && n > 0 && !g_ink_boxes_off) {
            QVP_INK_AREA a = ink_area_of(n, f);
            ink = ink_area_holds(a, f);
            if (ink) ink_area_join(inked, a);
        }
        draw_glyph_cells(n, ink);
        if (n < kChunkCells) break;
    }
    if (g_recording) {
        g_recording->ink = inked;
        KeptTextDone(g_recording, !pen.missed);
    }
    g_recording = nullptr;
}

// glFontScaledTextOut2D at scale 1.
void glFontTextOut2D(char *String, double col, double row, float *bcol) {
    glFontScaledTextOut2D(String, col, row, 1.0, 1.0, bcol);
}

// The size of STRING in the bound font before scaling: *ROW_SIZE lines
// and *COL_SIZE columns (its widest line); 0 by 0 without a bound font.
void glFontTextBBox2D(char *String, double *row_size, double *col_size) {
    *col_size = 0;
    if (!String || !*String || !glFont) {
        *row_size = 0;
        return;
    }
    *row_size = 1;
    float x = 0, max = 0;
    float s = glFont->scale[0];
    QVP_TEXT_CURSOR cur;
    TextCursorStart(&cur, glFont, String);
    for (const QVP_ITEM *it; (it = TextCursorNext(&cur));) {
        if (it->kind == QVP_ITEM_NEWLINE) {
            *row_size += 1;
            x = 0;
            continue;
        }
        x += it->kind == QVP_ITEM_TAB ? 4.0f : s * it->adv;
        if (x > max) max = x;
    }
    *col_size = max;
    // Shaping may have bound a glyph page.
    BindTexture2D((GLuint)glFont->tex_obj);
}

// Draws STRING on one line from the point (X, Y, Z) along +x, glyphs
// hanging down from Y, in font units (no newlines or tabs); nothing
// without a bound font.
void glFontTextOut(char *String, double x, double y, double z) {
    if (!glFont || !String) return;
    GLuint bound = (GLuint)glFont->tex_obj;
    bool open = false;
    OwnColours own;
    QVP_TEXT_CURSOR cur;
    TextCursorStart(&cur, glFont, String);
    for (;;) {
        // Shaping a run may bind and upload: the quads so far go first.
        if (open && !(cur.run && cur.run_k < cur.run_n)) {
            VertexEnd(GL_QUADS);
            open = false;
        }
        const QVP_ITEM *it = TextCursorNext(&cur);
        if (!it) break;
        if (it->kind != QVP_ITEM_GLYPH || it->missed) continue;
        const QVP_GLYPH &g = it->g;
        if (g.tex && (g.tex != bound || !open)) {
            if (open) VertexEnd(GL_QUADS);
            BindTexture2D(g.tex);
            bool colour = false;
            if (g.tex != (GLuint)glFont->tex_obj)
                colour = PrepareGlyphTexture(g.tex, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR) != 0;
            own.set(colour);
            bound = g.tex;
            VertexBegin(1);
            open = true;
        }
        if (g.tex) {
            float h = it->table >= 0 ? glFont->char_list[it->table - glFont->first_char].dy : g.bh;
            float x0 = (float)(x + g.bx + it->xoff), x1 = x0 + g.bw;
            float y0 = (float)(y - g.by + it->yoff), y1 = y0 - h;
            VertexTexCoord(g.tx1, g.ty1);
            VertexAt(x0, y0, (float)z);
            VertexTexCoord(g.tx1, g.ty2);
            VertexAt(x0, y1, (float)z);
            VertexTexCoord(g.tx2, g.ty2);
            VertexAt(x1, y1, (float)z);
            VertexTexCoord(g.tx2, g.ty1);
            VertexAt(x1, y0, (float)z);
        }
        x = x + it->adv;
    }
    if (open) VertexEnd(GL_QUADS);
    own.set(false);
    if (bound != (GLuint)glFont->tex_obj) BindTexture2D((GLuint)glFont->tex_obj);
}

void SetInkBoxesOff(int off) {
    g_ink_boxes_off = off != 0;
    ResetKeptTexts();
}

long InkBoxCells(void) { return g_ink_cells; }

void ResetFontEngine(void) {
    g_ink_boxes_off = false;
    bad_font_cnt = 0;
    glFont = nullptr;
    ResetCanvasFrames();
}

const QVP_CANVAS_FONTDEF *BoundFont(void) { return glFont; }
