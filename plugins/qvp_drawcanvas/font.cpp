// font.cpp - the texture font engine: fonts loaded once per process into
// the display's GL context, text laid out in a canvas's column and row
// grid, and the stack of open canvas frames through which every element
// vertex is placed.
//
// A character code outside a font's first_char..last_char has no glyph:
// it is skipped without advancing, and nothing outside char_list is read.
#include <GL/glu.h>
#include <stdlib.h>
#include <string.h>

#include "drawcanvas_testing.h"
#include "qvp_externs.h"

// The font bound by glFontBegin, null when none; cleared by glFontEnd.
QVP_CANVAS_FONTDEF *glFont = nullptr;

// Open glFontBegin and glFontDisplay2DBegin calls; the first opens a host
// drawing state and the last closes it.
int set_drawing_state = 0;

// The innermost open frame's display definition (null when none) and its
// column and row steps.
QVP_CANVAS_DISPLAYDEF *pdispdef = nullptr;
double gldcol[3] = {0, 0, 0};
double gldrow[3] = {0, 0, 0};


namespace {

struct Frame {
    QVP_CANVAS_DISPLAYDEF disp;
    double dcol[3], drow[3];
};

// The open frames, innermost last; pushed by glFontDisplay2DBegin. Frames
// deeper than the stack are counted but not kept (nested canvases are
// bounded well below this).
const int kMaxFrames = 64;
Frame g_frames[kMaxFrames];
int g_frame_depth = 0;

void open_drawing_state() {
    if (set_drawing_state == 0) {
        QVF_PushDrawingState();
        glDisable(GL_LIGHTING);
        glEnable(GL_TEXTURE_2D);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_BLEND);
        glDisable(GL_CULL_FACE);
    }
    set_drawing_state++;
}

void close_drawing_state() {
    set_drawing_state--;
    if (set_drawing_state == 0) QVF_PopDrawingState();
}

void point_frame() {
    if (g_frame_depth == 0) {
        pdispdef = nullptr;
        return;
    }
    Frame &f = g_frames[(g_frame_depth > kMaxFrames ? kMaxFrames : g_frame_depth) - 1];
    pdispdef = &f.disp;
    memcpy(gldcol, f.dcol, sizeof gldcol);
    memcpy(gldrow, f.drow, sizeof gldrow);
}

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

// The glyph of code CH in the bound font, or null when it has none.
const QVP_CANVAS_CHARDEF *glyph_of(unsigned char ch) {
    if ((int)ch < glFont->first_char || (int)ch > glFont->last_char) return nullptr;
    return &glFont->char_list[ch - glFont->first_char];
}

// Lays out STRING from S as glFontScaledTextOut2D does and calls
// CELL(P, A, glyph) for every tab (glyph null) and glyph cell, with P the
// cell's first corner and A its advance.
template <class CellFn>
void layout_text(const char *string, const float o[3], const float dc[3], const float dr[3], double col, double row,
                 double cscale, double rscale, CellFn cell) {
    float p[3], a[3];
    for (int i = 0; i < 3; i++) p[i] = (float)((double)o[i] + (double)dc[i] * col + (double)dr[i] * row);
    float k = (float)row;
    float s = glFont->scale[0];
    size_t n = strlen(string);
    for (size_t c = 0; c < n; c++) {
        unsigned char ch = (unsigned char)string[c];
        const QVP_CANVAS_CHARDEF *g = nullptr;
        if (ch == 9) {
            for (int i = 0; i < 3; i++) a[i] = (float)((double)(dc[i] * 4.0f) * cscale);
        } else if (ch == 10) {
            k = k + 1.0f;
            for (int i = 0; i < 3; i++)
                p[i] = (float)((double)o[i] + (double)dc[i] * col + (double)dr[i] * row +
                               (double)dr[i] * ((double)k - row) * rscale);
            continue;
        } else {
            g = glyph_of(ch);
            if (!g) continue;
            float wd = s * g->dx;
            for (int i = 0; i < 3; i++) a[i] = (float)((double)(wd * dc[i]) * cscale);
        }
        cell(p, a, g);
        for (int i = 0; i < 3; i++) p[i] += a[i];
    }
}

}  // namespace

// Makes FONT the bound font and binds its texture, uploading it (with
// mipmaps) the first time this process uses it, and opens the drawing
// state. A font without glyphs, or one that fails its checks, is
// reported and binds nothing; glFontEnd must follow either way.
void glFontBegin(QVP_CANVAS_FONTDEF *Font) {
    open_drawing_state();
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
        glBindTexture(GL_TEXTURE_2D, (GLuint)glFont->tex_obj);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        // Rows of two-byte texels are packed: a width of 1 would read
        // past the pixels with GL's default alignment of 4.
        GLint alignment = 4;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gluBuild2DMipmaps(GL_TEXTURE_2D, 2, glFont->w, glFont->h, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,
                          glFont->texdata);
        glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
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
    glBindTexture(GL_TEXTURE_2D, (GLuint)glFont->tex_obj);
}

// Forgets the bound font and closes the drawing state glFontBegin opened.
void glFontEnd(void) {
    glFont = nullptr;
    close_drawing_state();
}

// Opens a canvas frame: origin ORG, column step COL_VEC / NCOLS, row step
// ROW_VEC / NROWS, nesting over any open one (frames deeper than the
// stack are counted, not kept), and opens the drawing state.
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows) {
    open_drawing_state();
    if (g_frame_depth < kMaxFrames) {
        Frame &f = g_frames[g_frame_depth];
        memset(&f.disp, 0, sizeof f.disp);
        memcpy(f.disp.org, org, sizeof f.disp.org);
        memcpy(f.disp.col_vec, col_vec, sizeof f.disp.col_vec);
        memcpy(f.disp.row_vec, row_vec, sizeof f.disp.row_vec);
        f.disp.ncols = (float)ncols;
        f.disp.nrows = (float)nrows;
        for (int i = 0; i < 3; i++) {
            f.dcol[i] = col_vec[i] / (double)f.disp.ncols;
            f.drow[i] = row_vec[i] / (double)f.disp.nrows;
        }
    }
    g_frame_depth++;
    point_frame();
}

// Closes the innermost canvas frame; the one around it is in force again.
void glFontDisplay2DEnd(void) {
    if (g_frame_depth > 0) g_frame_depth--;
    point_frame();
    close_drawing_state();
}

// Issues the vertex of column C, row R of the open frame (the origin
// alone when none is open).
void glColRow(double c, double r) {
    double o[3] = {0, 0, 0};
    if (pdispdef) memcpy(o, pdispdef->org, sizeof o);
    glVertex3d((o[0] + gldcol[0] * c) + gldrow[0] * r, (o[1] + gldcol[1] * c) + gldrow[1] * r,
               (o[2] + gldcol[2] * c) + gldrow[2] * r);
}

// Draws STRING from column COL, row ROW of the open frame with the bound
// font, glyphs scaled by CSCALE across and RSCALE down; a newline starts
// the next line, a tab advances 4 columns. With BCOL, a box of that
// colour goes behind each glyph cell. Nothing without a bound font.
void glFontScaledTextOut2D(char *String, double col, double row, double cscale, double rscale, float *bcol) {
    if (!glFont || !String) return;
    float o[3] = {0, 0, 0}, dc[3] = {1, 0, 0}, dr[3] = {0, -1, 0};
    if (pdispdef) {
        for (int i = 0; i < 3; i++) {
            o[i] = (float)pdispdef->org[i];
            dc[i] = (float)(pdispdef->col_vec[i] / pdispdef->ncols);
            dr[i] = (float)(pdispdef->row_vec[i] / pdispdef->nrows);
        }
    }
    float down[3];
    for (int i = 0; i < 3; i++) down[i] = (float)((double)dr[i] * rscale);
    if (bcol) {
        GLfloat saved[4];
        glGetFloatv(GL_CURRENT_COLOR, saved);
        glDisable(GL_TEXTURE_2D);
        if (saved[3] >= 0.999f) glDisable(GL_BLEND);
        glDepthFunc(GL_LEQUAL);
        glBegin(GL_QUADS);
        glColor3f(bcol[0], bcol[1], bcol[2]);
        layout_text(String, o, dc, dr, col, row, cscale, rscale,
                    [&](const float p[3], const float a[3], const QVP_CANVAS_CHARDEF *) {
                        glVertex3f(p[0], p[1], p[2]);
                        glVertex3f(p[0] + down[0], p[1] + down[1], p[2] + down[2]);
                        glVertex3f(p[0] + a[0] + down[0], p[1] + a[1] + down[1], p[2] + a[2] + down[2]);
                        glVertex3f(p[0] + a[0], p[1] + a[1], p[2] + a[2]);
                    });
        glEnd();
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glColor4fv(saved);
    }
    glBegin(GL_QUADS);
    layout_text(String, o, dc, dr, col, row, cscale, rscale,
                [&](const float p[3], const float a[3], const QVP_CANVAS_CHARDEF *g) {
                    if (!g) return;  // a tab only advances
                    glTexCoord2f(g->tx1, g->ty1);
                    glVertex3f(p[0], p[1], p[2]);
                    glTexCoord2f(g->tx1, g->ty2);
                    glVertex3f(p[0] + down[0], p[1] + down[1], p[2] + down[2]);
                    glTexCoord2f(g->tx2, g->ty2);
                    glVertex3f(p[0] + a[0] + down[0], p[1] + a[1] + down[1], p[2] + a[2] + down[2]);
                    glTexCoord2f(g->tx2, g->ty1);
                    glVertex3f(p[0] + a[0], p[1] + a[1], p[2] + a[2]);
                });
    glEnd();
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
    for (const unsigned char *c = (const unsigned char *)String; *c; c++) {
        if (*c == 9) {
            x += 4;
        } else if (*c == 10) {
            *row_size += 1;
            x = 0;
            continue;
        } else {
            const QVP_CANVAS_CHARDEF *g = glyph_of(*c);
            if (!g) continue;
            x += s * g->dx;
        }
        if (x > max) max = x;
    }
    *col_size = max;
}

// Draws STRING on one line from the point (X, Y, Z) along +x, glyphs
// hanging down from Y, in font units (no newlines or tabs); nothing
// without a bound font.
void glFontTextOut(char *String, double x, double y, double z) {
    if (!glFont || !String) return;
    glBegin(GL_QUADS);
    for (const unsigned char *c = (const unsigned char *)String; *c; c++) {
        const QVP_CANVAS_CHARDEF *g = glyph_of(*c);
        if (!g) continue;
        glTexCoord2f(g->tx1, g->ty1);
        glVertex3d(x, y, z);
        glTexCoord2f(g->tx1, g->ty2);
        glVertex3d(x, y - g->dy, z);
        glTexCoord2f(g->tx2, g->ty2);
        glVertex3d(x + g->dx, y - g->dy, z);
        glTexCoord2f(g->tx2, g->ty1);
        glVertex3d(x + g->dx, y, z);
        x = x + g->dx;
    }
    glEnd();
}

void ResetFontEngine(void) {
    bad_font_cnt = 0;
    glFont = nullptr;
    set_drawing_state = 0;
    pdispdef = nullptr;
    g_frame_depth = 0;
}
