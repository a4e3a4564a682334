// glyphs.cpp - UTF-8 decoding, and the per-process glyph store: each
// font's face (and its chain of fallbacks) with its shaper, and the
// glyphs shaping asks for, rasterised by glyph index on first use into
// atlas pages of this display: luminance-alpha pages for coverage,
// RGBA pages for colour glyphs (emoji strikes, colour layers).
//
// Everything here is per process and grows only when a text shows a
// glyph for the first time: a steady frame looks glyphs up in a hash
// table and allocates nothing.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ot.h>
#include <hb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "dc_services.h"
#include "dc_glstate.h"
#include "dc_text.h"
#include "drawcanvas_testing.h"
#include "lru_index.h"
#include "qvp_externs.h"

uint32_t NextCodePoint(const unsigned char *s, size_t *i) {
    const unsigned char *p = s + *i;
    unsigned b = p[0];
    auto cont = [&](int k) { return (p[k] & 0xC0) == 0x80; };
    if (b < 0x80) {
        *i += 1;
        return b;
    }
    if (b == 0xC0 && p[1] == 0x80) {  // how Tcl writes U+0000 inside a string
        *i += 2;
        return 0;
    }
    if (b >= 0xC2 && b <= 0xDF && cont(1)) {
        *i += 2;
        return (b & 0x1F) << 6 | (p[1] & 0x3F);
    }
    if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
        uint32_t cp = (b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
            *i += 3;
            return cp;
        }
        // A high surrogate followed by a low one, each in three bytes, is
        // how Tcl 8.6 writes a code point above U+FFFF.
        if (cp >= 0xD800 && cp <= 0xDBFF && p[3] == 0xED && (p[4] & 0xF0) == 0xB0 && cont(5)) {
            uint32_t lo = 0xD000 | (p[4] & 0x3F) << 6 | (p[5] & 0x3F);
            *i += 6;
            return 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        }
    } else if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        uint32_t cp = (b & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            *i += 4;
            return cp;
        }
    }
    // Not UTF-8 (overlong, a lone surrogate, cut short, or plain 8-bit
    // text): the byte stands for its Latin-1 code.
    *i += 1;
    return b;
}

namespace {

const int kPageSize = 1024;  // texels on a side of an atlas page
const int kPad = 2;          // empty texels round each glyph cell
// Texels an ink box is padded by before its first texel of ink, texel LO
// of the texture, and past its last, texel HI - 1: what bilinear
// filtering of mipmap levels 0 and 1 reaches (half a texel at level 0;
// at level 1 of a texture of even sides, where texel j of level 1 is
// made of texels 2j and 2j + 1 and is read from 2j - 1 to 2j + 3, one or
// two texels by the ink's place in its pair). The cells' gaps (2 * kPad
// here and in the font's table) are 4 texels, so at those levels no ink
// of a neighbour reaches into a cell either.
inline int ink_pad_before(int lo) { return (lo & 1) ? 2 : 1; }
inline int ink_pad_after(int hi) { return (hi & 1) ? 2 : 1; }
const uint32_t kEmpty = 0xFFFFFFFFu;
// Glyph entries a store starts with.
const int kGlyphsFirst = 128;
// Missing codes of one font named in the log, each once.
const int kMostMissingNamed = 256;

struct Page {
    GLuint tex;
    int x, y, row_h;     // where the next cell goes, and the shelf's height
    bool dirty;          // level 0 changed since its mipmaps were made
    bool colour;         // RGBA texels in their own colours
    GLint min_filter, mag_filter;
};

// What the texels of a table code's cell hold: KNOWN 0 not worked out
// yet, 1 some ink, 2 none; BOX the ink, padded for filtering (as
// ink_fractions pads it) and held to the cell, as fractions of the cell from (tx1, ty1) to (tx2, ty2).
struct TableInk {
    unsigned char known;
    float box[4];
};

// Fractions of a cell of N texels from texel ORIGIN of its texture that
// the ink [LO, HI) (texels of the texture) padded for filtering covers,
// held to 0..1 (all of it when there is no ink to go by).
void ink_fractions(int lo, int hi, int origin, int n, float *from, float *to) {
    if (n <= 0 || hi <= lo) {
        *from = 0.0f, *to = 1.0f;
        return;
    }
    *from = std::max(0.0f, (float)(lo - ink_pad_before(lo) - origin) / (float)n);
    *to = std::min(1.0f, (float)(hi + ink_pad_after(hi) - origin) / (float)n);
}

struct GlyphEntry {
    uint32_t index;      // the glyph index
    QVP_GLYPH glyph;
};

// One font's face in this process. Bounds: one slot and one atlas cell
// per glyph of the face that a text has shown, made the first time and
// kept while the font lives; so however a show's texts change, a store
// never grows past its face's glyph count (pages of kPageSize squared
// texels, as many as its cells fill), and a text of glyphs drawn before
// adds nothing.
struct FontStore {
    QVP_FACE info;       // first: a QVP_FACE pointer is its store's
    FT_Face face;        // null when the font has no face to draw from
    int line_px, ascent_px;
    int strike_px;       // the strike rasterised (0: the face scales)
    double k;            // rasterised pixels to the font's pixels
    FontStore *fallback;
    TableInk *table_ink; // per table code, worked out on first use
    int ink_n;
    LruIndex index;      // glyph index -> entry of glyphs; bound: the
    GlyphEntry *glyphs;  // face's glyph count, grown from kGlyphsFirst

    QVP_GLYPH missing;   // glyph 0, the missing-glyph box, made once and
    bool has_missing;    // shared by every code no face maps
    Page *pages;
    int page_n;
    // Codes reported as missing, by open addressing (kEmpty free; none
    // while missing_n is 0): at most kMostMissingNamed, then one line
    // says more are missing and no more are named.
    uint32_t missing_logged[2 * kMostMissingNamed];
    int missing_n;
};

// The FreeType library of this process, the stores of the fonts drawn so
// far, and the scratch cell a glyph is rasterised into; made and grown
// by store_of and rasterise, emptied by ResetGlyphStore.
FT_Library g_ft = nullptr;
FontStore **g_stores = nullptr;
int g_store_n = 0;
FontStore *g_last = nullptr;
unsigned char *g_cell = nullptr;
size_t g_cell_size = 0;

void log_font(const QVP_CANVAS_FONTDEF *f, const char *what) {
    char msg[QVP_TEXT_BUF];
    snprintf(msg, sizeof msg, "font \"%.79s\": %s", f->name, what);
    QVF_LogWarningF(msg, QVP_SOURCE, __LINE__);
}

// Opens the face named by F's path at its extension's size (a face of
// fixed sizes at the strike it names) into S, with its shaper; S->face
// stays null (with one log line) when it cannot be opened.
void open_face(FontStore *s, const QVP_CANVAS_FONTDEF *f, const QVP_CANVAS_FONTEXT *x) {
    if (strnlen(f->path, sizeof f->path) >= sizeof f->path || !f->path[0]) return;
    if (!g_ft && FT_Init_FreeType(&g_ft) != 0) return;
    FT_Face face = nullptr;
    bool sized = false;
    if (FT_New_Face(g_ft, f->path, x->face_index, &face) == 0) {
        if (x->strike_px > 0) {
            for (int i = 0; i < face->num_fixed_sizes && !sized; i++)
                if ((int)((face->available_sizes[i].y_ppem + 32) >> 6) == x->strike_px)
                    sized = FT_Select_Size(face, i) == 0;
        } else {
            sized = FT_Set_Pixel_Sizes(face, 0, (FT_UInt)x->pixels) == 0;
        }
    }
    hb_blob_t *blob = sized ? hb_blob_create_from_file(f->path) : nullptr;
    hb_face_t *hface = blob ? hb_face_create(blob, (unsigned)x->face_index) : nullptr;
    hb_blob_destroy(blob);
    hb_font_t *shaper = hface && hb_face_get_glyph_count(hface) ? hb_font_create(hface) : nullptr;
    hb_face_destroy(hface);
    if (!shaper) {
        if (face) FT_Done_Face(face);
        log_font(f, "its face cannot be opened: only the codes of its table are drawn");
        return;
    }
    // Shaper units are 1/64 of a pixel at the font's size.
    hb_font_set_scale(shaper, x->pixels * 64, x->pixels * 64);
    hb_font_set_ppem(shaper, (unsigned)x->pixels, (unsigned)x->pixels);
    s->face = face;
    s->strike_px = x->strike_px > 0 ? x->strike_px : 0;
    s->k = s->strike_px ? (double)x->pixels / s->strike_px : 1.0;
    s->info.shaper = shaper;
    s->info.unit = 1.0 / (64.0 * s->line_px);
    s->info.kerning = x->kerning != 0;
    s->info.colour = FT_HAS_COLOR(face) || s->strike_px;
}

FontStore *find_store(const QVP_CANVAS_FONTDEF *f) {
    if (g_last && g_last->info.font == f) return g_last;
    for (int i = 0; i < g_store_n; i++)
        if (g_stores[i]->info.font == f) return g_last = g_stores[i];
    return nullptr;
}

// Makes F's store, with its fallback's store when F names one (made
// first if it is not there yet: each store has its own fallback, however
// the fonts come to be drawn, and a loop of fallbacks meets the store
// being made). Null when memory runs out.
FontStore *make_store(const QVP_CANVAS_FONTDEF *f) {
    void *grown = PluginRealloc(g_stores, sizeof *g_stores * (size_t)(g_store_n + 1));
    void *room = PluginRealloc(nullptr, sizeof(FontStore));
    FontStore *s = room ? new (room) FontStore() : nullptr;
    if (grown) g_stores = (FontStore **)grown;
    if (!grown || !s) {
        free(s);
        return nullptr;
    }
    g_stores[g_store_n++] = s;
    s->info.font = f;
    const QVP_CANVAS_FONTEXT *x = QVP_FontExtension(f);
    if (x && x->pixels >= 1 && x->pixels <= 1024 && x->line_px >= 1 && x->line_px <= 4096 && x->strike_px >= 0 &&
        x->strike_px <= 1024) {
        s->line_px = x->line_px;
        s->ascent_px = x->ascent_px;
        open_face(s, f, x);
        const QVP_CANVAS_FONTDEF *fb = x->fallback;
        if (fb && fb != f && SharedBlockHolds(f, fb, sizeof *fb)) {
            s->fallback = find_store(fb);
            if (!s->fallback) s->fallback = make_store(fb);
        }
    }
    return g_last = s;
}

FontStore *store_of(const QVP_CANVAS_FONTDEF *f) {
    FontStore *s = find_store(f);
    return s ? s : make_store(f);
}

uint64_t hash_of(uint32_t index) { return index * 0x9E3779B97F4A7C15ULL; }

// Makes room for one more glyph: the table starts at kGlyphsFirst and
// doubles up to the face's glyph count, so it never evicts (an atlas cell
// is never given back). False when it is at that bound or memory is short.
bool room_for_glyph(FontStore *s) {
    if (s->index.Ready() && s->index.Count() < s->index.Most()) return true;
    int bound = std::max(1, (int)std::min<FT_Long>(s->face->num_glyphs, 1 << 20));
    int most = std::min(bound, s->index.Ready() ? 2 * s->index.Most() : kGlyphsFirst);
    return LruReserve(s->index, &s->glyphs, most, PluginRealloc);
}

// A fresh page texture of clear texels, in colour or not.
bool add_page(FontStore *s, bool colour) {
    void *grown = PluginRealloc(s->pages, sizeof(Page) * (size_t)(s->page_n + 1));
    if (!grown) return false;
    s->pages = (Page *)grown;
    size_t bytes = (size_t)kPageSize * kPageSize * (colour ? 4 : 2);
    unsigned char *zero = (unsigned char *)PluginRealloc(nullptr, bytes);
    if (!zero) return false;
    memset(zero, 0, bytes);
    Page &p = s->pages[s->page_n];
    memset(&p, 0, sizeof p);
    p.tex = NewTextureName();
    p.colour = colour;
    BindTexture2D(p.tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    p.mag_filter = GL_LINEAR;
    p.min_filter = GL_LINEAR_MIPMAP_LINEAR;
    GLenum format = colour ? GL_RGBA : GL_LUMINANCE_ALPHA;
    glTexImage2D(GL_TEXTURE_2D, 0, (GLint)format, kPageSize, kPageSize, 0, format, GL_UNSIGNED_BYTE, zero);
    free(zero);
    p.dirty = true;
    s->page_n++;
    return true;
}

// The last page of S of the kind asked for, with room for a cell of W by
// H texels (a new page when the last is full); null when none can be had.
Page *page_for(FontStore *s, bool colour, int w, int h) {
    Page *p = nullptr;
    for (int i = s->page_n - 1; i >= 0 && !p; i--)
        if (s->pages[i].colour == colour) p = &s->pages[i];
    if (p && p->x + w > kPageSize) {
        p->x = 0;
        p->y += p->row_h;
        p->row_h = 0;
    }
    if (!p || p->y + h > kPageSize) {
        if (!add_page(s, colour)) return nullptr;
        p = &s->pages[s->page_n - 1];
    }
    return p;
}

// Renders glyph INDEX of S's face into a cell of one of its pages and
// fills *G; G->tex stays 0 for a glyph of neither advance nor ink. The
// cell holds the glyph's advance box and its ink box both. The caller
// keeps the texture binding it needs (this binds the page).
bool rasterise(FontStore *s, FT_UInt index, QVP_GLYPH *g) {
    memset(g, 0, sizeof *g);
    g->index = index;
    const bool colour = s->info.colour != 0;
    if (FT_Load_Glyph(s->face, index, colour ? FT_LOAD_COLOR : FT_LOAD_DEFAULT) != 0) return false;
    FT_GlyphSlot gs = s->face->glyph;
    if (gs->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(gs, FT_RENDER_MODE_NORMAL) != 0) return false;
    const FT_Bitmap &bm = gs->bitmap;
    // Rasterised pixels: the font's own, or a strike's (k to the font's).
    const double k = s->k;
    const int line = (int)lround(s->line_px / k), ascent = (int)lround(s->ascent_px / k);
    int adv = (int)((gs->advance.x + 32) >> 6);
    if (colour) g->dx = (float)(hb_font_get_glyph_h_advance(s->info.shaper, index) * s->info.unit);
    else g->dx = (float)adv / (float)s->line_px;
    bool grey = bm.pixel_mode == FT_PIXEL_MODE_GRAY, bgra = bm.pixel_mode == FT_PIXEL_MODE_BGRA;
    int left = gs->bitmap_left, top = ascent - gs->bitmap_top;
    int w = (grey || bgra) ? (int)bm.width : 0, h = (grey || bgra) ? (int)bm.rows : 0;
    if (adv <= 0 && (w == 0 || h == 0)) return true;
    int x0 = std::min(0, left), x1 = std::max(std::max(adv, 0), left + w);
    int y0 = std::min(0, top), y1 = std::max(line, top + h);
    int cw = x1 - x0, ch = y1 - y0;
    if (cw <= 0 || ch <= 0 || cw > kPageSize - 2 * kPad || ch > kPageSize - 2 * kPad) return false;
    const int bpp = colour ? 4 : 2;
    size_t bytes = (size_t)cw * (size_t)ch * bpp;
    if (bytes > g_cell_size) {
        void *grown = PluginRealloc(g_cell, bytes);
        if (!grown) return false;
        g_cell = (unsigned char *)grown;
        g_cell_size = bytes;
    }
    Page *p = page_for(s, colour, cw + 2 * kPad, ch + 2 * kPad);
    if (!p) return false;
    // As in the font's table: luminance white over the cell and alpha the
    // coverage; colour texels are straight (not premultiplied) RGBA.
    if (colour) memset(g_cell, 0, bytes);
    else
        for (size_t i = 0; i < bytes; i += 2) {
            g_cell[i] = 255;
            g_cell[i + 1] = 0;
        }
    // A face glyph that is neither coverage nor colour is drawn as its
    // empty cell, which still counts as ink (it is not worth the risk of
    // a bad guess).
    g->ink = !grey && !bgra;
    // The ink's texels within the cell, [ix0, ix1) by [iy0, iy1).
    int ix0 = cw, ix1 = 0, iy0 = ch, iy1 = 0;
    auto inked = [&](int x, int y) {
        int cx = left - x0 + x, cy = top - y0 + y;
        ix0 = std::min(ix0, cx), ix1 = std::max(ix1, cx + 1);
        iy0 = std::min(iy0, cy), iy1 = std::max(iy1, cy + 1);
        g->ink = 1;
    };
    for (int y = 0; y < h; y++) {
        const unsigned char *row = bm.buffer + (ptrdiff_t)y * bm.pitch;
        unsigned char *out = g_cell + ((size_t)(top - y0 + y) * cw + (size_t)(left - x0)) * bpp;
        for (int x = 0; x < w; x++) {
            if (grey && !colour) {
                out[x * 2 + 1] = row[x];
                if (row[x]) inked(x, y);
            } else if (grey) {
                out[x * 4] = out[x * 4 + 1] = out[x * 4 + 2] = 255;
                out[x * 4 + 3] = row[x];
                if (row[x]) inked(x, y);
            } else if (colour) {
                const unsigned char *b = row + x * 4;  // premultiplied BGRA
                unsigned a = b[3];
                unsigned char *o = out + x * 4;
                if (a) {
                    o[0] = (unsigned char)std::min(255u, (b[2] * 255u + a / 2) / a);
                    o[1] = (unsigned char)std::min(255u, (b[1] * 255u + a / 2) / a);
                    o[2] = (unsigned char)std::min(255u, (b[0] * 255u + a / 2) / a);
                }
                o[3] = (unsigned char)a;
                if (a) inked(x, y);
            } else {  // colour texels in a coverage face: their alpha
                out[x * 2 + 1] = row[x * 4 + 3];
                if (row[x * 4 + 3]) inked(x, y);
            }
        }
    }
    int cx = p->x + kPad, cy = p->y + kPad;
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    QVF_StatePixelStore(GL_UNPACK_ALIGNMENT, 1);
    BindTexture2D(p->tex);
    GLenum format = colour ? GL_RGBA : GL_LUMINANCE_ALPHA;
    glTexSubImage2D(GL_TEXTURE_2D, 0, cx, cy, cw, ch, format, GL_UNSIGNED_BYTE, g_cell);
    QVF_StatePixelStore(GL_UNPACK_ALIGNMENT, alignment);
    p->dirty = true;
    p->x += cw + 2 * kPad;
    p->row_h = std::max(p->row_h, ch + 2 * kPad);
    g->tex = p->tex;
    g->colour = colour;
    g->tx1 = (float)cx / kPageSize;
    g->ty1 = (float)cy / kPageSize;
    g->tx2 = (float)(cx + cw) / kPageSize;
    g->ty2 = (float)(cy + ch) / kPageSize;
    const double to_units = k / s->line_px;
    g->bx = (float)(x0 * to_units);
    g->by = (float)(y0 * to_units);
    g->bw = (float)(cw * to_units);
    g->bh = (float)(ch * to_units);
    // A cell of unknown texels (neither coverage nor colour) keeps all
    // of its quad.
    if (grey || bgra) {
        ink_fractions(cx + ix0, cx + ix1, cx, cw, &g->ink_box[0], &g->ink_box[2]);
        ink_fractions(cy + iy0, cy + iy1, cy, ch, &g->ink_box[1], &g->ink_box[3]);
    } else {
        g->ink_box[0] = g->ink_box[1] = 0.0f;
        g->ink_box[2] = g->ink_box[3] = 1.0f;
    }
    g->texels[0] = (float)cw;
    g->texels[1] = (float)ch;
    return true;
}

void note_missing(FontStore *s, uint32_t cp) {
    const uint32_t mask = 2 * kMostMissingNamed - 1;
    if (s->missing_n == 0)
        for (uint32_t &m : s->missing_logged) m = kEmpty;
    if (s->missing_n > kMostMissingNamed) return;
    uint32_t k = (cp * 2654435761u) & mask;
    for (; s->missing_logged[k] != kEmpty; k = (k + 1) & mask)
        if (s->missing_logged[k] == cp) return;
    if (s->missing_n == kMostMissingNamed) {
        s->missing_n++;
        log_font(s->info.font, "more codes have no glyph; they are drawn as its missing-glyph box and no longer named");
        return;
    }
    s->missing_logged[k] = cp;
    s->missing_n++;
    char what[120];
    snprintf(what, sizeof what, "no glyph for U+%04X: drawn as its missing-glyph box", (unsigned)cp);
    log_font(s->info.font, what);
}

}  // namespace

int FontFaces(const QVP_CANVAS_FONTDEF *font, const QVP_FACE **faces, int most) {
    int n = 0;
    for (FontStore *s = store_of(font); s && s->face && n < most && n <= QVP_FALLBACK_DEPTH; s = s->fallback) {
        for (int i = 0; i < n; i++)
            if (faces[i] == &s->info) return n;
        faces[n++] = &s->info;
    }
    return n;
}

const QVP_GLYPH *FaceGlyph(const QVP_FACE *face, uint32_t index) {
    FontStore *s = (FontStore *)face;
    if (!s->face) return nullptr;
    if (index == 0) {
        if (!s->has_missing && rasterise(s, 0, &s->missing)) s->has_missing = true;
        return s->has_missing ? &s->missing : nullptr;
    }
    uint64_t h = hash_of(index);
    int e = s->index.Find(h, [s, index](int i) { return s->glyphs[i].index == index; });
    if (e >= 0) return &s->glyphs[e].glyph;
    if (!room_for_glyph(s)) return nullptr;
    QVP_GLYPH g;
    if (!rasterise(s, index, &g)) return nullptr;
    int evicted;
    e = s->index.Insert(h, &evicted);
    s->glyphs[e] = GlyphEntry{index, g};
    return &s->glyphs[e].glyph;
}

void FaceNoteMissing(const QVP_FACE *face, uint32_t cp) { note_missing((FontStore *)face, cp); }

const QVP_GLYPH *FontExtraGlyph(const QVP_CANVAS_FONTDEF *font, uint32_t cp) {
    const QVP_FACE *faces[QVP_FALLBACK_DEPTH + 1];
    int n = FontFaces(font, faces, QVP_FALLBACK_DEPTH + 1);
    for (int i = 0; i < n; i++) {
        hb_codepoint_t index = 0;
        if (hb_font_get_nominal_glyph(faces[i]->shaper, cp, &index) && index) return FaceGlyph(faces[i], index);
    }
    if (!n) return nullptr;
    FaceNoteMissing(faces[0], cp);
    return FaceGlyph(faces[0], 0);
}

int FontTableInk(const QVP_CANVAS_FONTDEF *font, uint32_t cp, float box[4]) {
    static const float kWhole[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    memcpy(box, kWhole, sizeof kWhole);
    FontStore *s = store_of(font);
    int n = font->last_char - font->first_char + 1;
    if (!s || cp < (uint32_t)font->first_char || cp > (uint32_t)font->last_char) return 1;
    if (!s->table_ink || s->ink_n != n) {
        TableInk *t = (TableInk *)PluginRealloc(s->table_ink, sizeof(TableInk) * (size_t)n);
        if (!t) return 1;
        memset(t, 0, sizeof(TableInk) * (size_t)n);
        s->table_ink = t;
        s->ink_n = n;
    }
    TableInk &known = s->table_ink[cp - (uint32_t)font->first_char];
    if (!known.known) {
        memcpy(known.box, kWhole, sizeof kWhole);
        // The texels the cell's corners reach, rounded outwards (and one
        // more on each side, which filtering may read), held to the texture.
        const QVP_CANVAS_CHARDEF &c = font->char_list[cp - (uint32_t)font->first_char];
        auto lo = [](float t, int size) {
            double v = floor((double)t * size) - 1;
            return v < 0 ? 0 : v > size ? size : (int)v;
        };
        auto hi = [](float t, int size) {
            double v = ceil((double)t * size) + 1;
            return v < 0 ? 0 : v > size ? size : (int)v;
        };
        float s1 = std::min(c.tx1, c.tx2), s2 = std::max(c.tx1, c.tx2);
        float t1 = std::min(c.ty1, c.ty2), t2 = std::max(c.ty1, c.ty2);
        int x1 = lo(s1, font->w), x2 = hi(s2, font->w), y1 = lo(t1, font->h), y2 = hi(t2, font->h);
        // A cell of no texels, or one not finite, is left to draw whole.
        bool odd = !(x1 < x2 && y1 < y2) || !(s1 == s1 && s2 == s2 && t1 == t1 && t2 == t2);
        const unsigned char *px = (const unsigned char *)font->texdata;
        int ix0 = x2, ix1 = x1, iy0 = y2, iy1 = y1;
        for (int y = y1; y < y2 && !odd; y++)
            for (int x = x1; x < x2; x++)
                if (px[((size_t)y * font->w + x) * 2 + 1] != 0) {
                    ix0 = std::min(ix0, x), ix1 = std::max(ix1, x + 1);
                    iy0 = std::min(iy0, y), iy1 = std::max(iy1, y + 1);
                }
        bool ink = odd || ix0 < ix1;
        known.known = ink ? 1 : 2;
        // Texel bounds are the mipmaps' only for sides that are powers of
        // two (GLU scales others first).
        bool pot = (font->w & (font->w - 1)) == 0 && (font->h & (font->h - 1)) == 0;
        if (ink && !odd && pot && c.tx1 != c.tx2 && c.ty1 != c.ty2) {
            // Texel bounds to fractions from the cell's first corner,
            // whichever way its texture corners run.
            double w = font->w, h = font->h;
            auto frac = [](double texel, double from, double to) { return (float)((texel - from) / (to - from)); };
            float a = frac(ix0 - ink_pad_before(ix0), c.tx1 * w, c.tx2 * w);
            float b = frac(ix1 + ink_pad_after(ix1), c.tx1 * w, c.tx2 * w);
            float u = frac(iy0 - ink_pad_before(iy0), c.ty1 * h, c.ty2 * h);
            float v = frac(iy1 + ink_pad_after(iy1), c.ty1 * h, c.ty2 * h);
            known.box[0] = std::max(0.0f, std::min(a, b));
            known.box[2] = std::min(1.0f, std::max(a, b));
            known.box[1] = std::max(0.0f, std::min(u, v));
            known.box[3] = std::min(1.0f, std::max(u, v));
        }
    }
    memcpy(box, known.box, sizeof known.box);
    return known.known == 1;
}

int PrepareGlyphTexture(GLuint tex, GLint min_filter, GLint mag_filter) {
    for (int i = 0; i < g_store_n; i++) {
        FontStore *s = g_stores[i];
        for (int k = 0; k < s->page_n; k++) {
            Page &p = s->pages[k];
            if (p.tex != tex) continue;
            // The mipmaps are made once for all the glyphs added since.
            if (p.dirty) TARN_glGenerateMipmapEXT(GL_TEXTURE_2D);
            p.dirty = false;
            if (p.min_filter != min_filter) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, p.min_filter = min_filter);
            if (p.mag_filter != mag_filter) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, p.mag_filter = mag_filter);
            return p.colour;
        }
    }
    return 0;
}

GlyphStoreStats GetGlyphStoreStats(const QVP_CANVAS_FONTDEF *font) {
    GlyphStoreStats st = {0, 0, 0, 0};
    const FontStore *s = find_store(font);
    if (s) st = GlyphStoreStats{s->index.Count(), s->index.Stats().slots, s->page_n, s->has_missing};
    return st;
}

void ResetGlyphStore(void) {
    ResetShapeCache();
    for (int i = 0; i < g_store_n; i++) {
        FontStore *s = g_stores[i];
        if (s->face) FT_Done_Face(s->face);
        hb_font_destroy(s->info.shaper);
        free(s->table_ink);
        s->index.Free();
        free(s->glyphs);
        free(s->pages);
        s->~FontStore();
        free(s);
    }
    free(g_stores);
    g_stores = nullptr;
    g_store_n = 0;
    g_last = nullptr;
    free(g_cell);
    g_cell = nullptr;
    g_cell_size = 0;
}
