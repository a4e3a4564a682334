// glyphs.cpp - text beyond a font's table of codes: UTF-8 decoding, and
// the per-process glyph store that rasterises the code points a font's
// table lacks from the font's face (or its fallback font's) on first use
// into atlas pages of this display, with the face's kerning pairs.
//
// Everything here is per process and grows only when a text shows a
// code point for the first time: a steady frame looks glyphs up in a
// hash table and allocates nothing.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>

#include "drawcanvas_testing.h"
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
const uint32_t kEmpty = 0xFFFFFFFFu;
// Missing codes of one font named in the log, each once.
const int kMostMissingNamed = 256;
const uint32_t kUnknownIndex = 0xFFFFFFFFu;

struct Page {
    GLuint tex;
    int x, y;            // where the next cell goes on the current shelf
    bool dirty;          // level 0 changed since its mipmaps were made
    GLint min_filter, mag_filter;
};

struct Slot {
    uint32_t cp;         // kEmpty when free
    QVP_GLYPH glyph;
};

// One font's glyphs in this process. Bounds: one slot and one atlas
// cell per code point the face (or, kept under this font's code too, its
// fallback) maps, made the first time it is drawn and kept while the
// font lives; codes neither maps share one missing box and take neither.
// So however a show's texts change, a store never grows past its face's
// character map (pages of kPageSize squared texels, as many as its cells
// fill), and a text of codes already drawn adds nothing.
struct FontStore {
    const QVP_CANVAS_FONTDEF *font;
    FT_Face face;        // null when the font has no face to draw from
    int line_px, ascent_px;
    bool kerning;
    FontStore *fallback;
    uint32_t *table_index;  // FreeType index of each table code, lazily
    int table_n;
    unsigned char *table_ink;  // per table code: 0 not known, 1 ink, 2 none
    int ink_n;
    Slot *slots;         // open addressing on the code point; only codes
                         // the face maps, so at most its glyphs
    QVP_GLYPH missing;   // the face's missing-glyph box, made once
    bool has_missing;
    int slot_cap, slot_used;
    Page *pages;
    int page_n;
    // Codes reported as missing, by open addressing (kEmpty free; none
    // while missing_n is 0): at most kMostMissingNamed, then one line
    // says more are missing and no more are named.
    uint32_t missing_logged[2 * kMostMissingNamed];
    int missing_n;
    // Kerning of glyph pairs asked before, direct-mapped on the pair
    // (a left index of 0 marks an empty entry: glyph 0 never kerns).
    struct {
        uint32_t left, right;
        float units;
    } kern_cache[1024];
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

// Opens the face named by F's path at its extension's size; null (with
// one log line) when it cannot be opened.
FT_Face open_face(const QVP_CANVAS_FONTDEF *f, const QVP_CANVAS_FONTEXT *x) {
    if (!x || strnlen(f->path, sizeof f->path) >= sizeof f->path || !f->path[0]) return nullptr;
    if (!g_ft && FT_Init_FreeType(&g_ft) != 0) return nullptr;
    FT_Face face = nullptr;
    if (FT_New_Face(g_ft, f->path, x->face_index, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, (FT_UInt)x->pixels) != 0) {
        if (face) FT_Done_Face(face);
        log_font(f, "its face cannot be opened: only the codes of its table are drawn");
        return nullptr;
    }
    return face;
}

FontStore *find_store(const QVP_CANVAS_FONTDEF *f) {
    if (g_last && g_last->font == f) return g_last;
    for (int i = 0; i < g_store_n; i++)
        if (g_stores[i]->font == f) return g_last = g_stores[i];
    return nullptr;
}

// Fonts a code is looked for in past the font drawn, along fallbacks.
const int kFallbackDepth = 4;

// Makes F's store, with its fallback's store when F names one (made
// first if it is not there yet: each store has its own fallback, however
// the fonts come to be drawn, and a loop of fallbacks meets the store
// being made). Null when memory runs out.
FontStore *make_store(const QVP_CANVAS_FONTDEF *f) {
    void *grown = PluginRealloc(g_stores, sizeof *g_stores * (size_t)(g_store_n + 1));
    FontStore *s = (FontStore *)PluginRealloc(nullptr, sizeof(FontStore));
    if (s) memset(s, 0, sizeof *s);
    if (grown) g_stores = (FontStore **)grown;
    if (!grown || !s) {
        free(s);
        return nullptr;
    }
    g_stores[g_store_n++] = s;
    s->font = f;
    const QVP_CANVAS_FONTEXT *x = QVP_FontExtension(f);
    if (x && x->pixels >= 1 && x->pixels <= 1024 && x->line_px >= 1 && x->line_px <= 4096) {
        s->face = open_face(f, x);
        s->line_px = x->line_px;
        s->ascent_px = x->ascent_px;
        s->kerning = x->kerning != 0;
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

uint32_t hash_of(uint32_t cp) { return cp * 2654435761u; }

Slot *slot_for(FontStore *s, uint32_t cp) {
    if (!s->slot_cap) return nullptr;
    for (uint32_t k = hash_of(cp) & (uint32_t)(s->slot_cap - 1);; k = (k + 1) & (uint32_t)(s->slot_cap - 1))
        if (s->slots[k].cp == cp || s->slots[k].cp == kEmpty) return &s->slots[k];
}

// Makes room for one more glyph (the table stays at most half full).
bool grow_slots(FontStore *s) {
    if ((s->slot_used + 1) * 2 <= s->slot_cap) return true;
    int cap = s->slot_cap ? s->slot_cap * 2 : 256;
    Slot *old = s->slots;
    int old_cap = s->slot_cap;
    Slot *fresh = (Slot *)PluginRealloc(nullptr, sizeof(Slot) * (size_t)cap);
    if (!fresh) return false;
    for (int i = 0; i < cap; i++) fresh[i].cp = kEmpty;
    s->slots = fresh;
    s->slot_cap = cap;
    for (int i = 0; i < old_cap; i++)
        if (old[i].cp != kEmpty) *slot_for(s, old[i].cp) = old[i];
    free(old);
    return true;
}

// A fresh page texture of transparent white-less texels.
bool add_page(FontStore *s) {
    void *grown = PluginRealloc(s->pages, sizeof(Page) * (size_t)(s->page_n + 1));
    if (!grown) return false;
    s->pages = (Page *)grown;
    size_t bytes = (size_t)kPageSize * kPageSize * 2;
    unsigned char *zero = (unsigned char *)PluginRealloc(nullptr, bytes);
    if (!zero) return false;
    memset(zero, 0, bytes);
    Page &p = s->pages[s->page_n];
    memset(&p, 0, sizeof p);
    p.tex = NewTextureName();
    BindTexture2D(p.tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    p.mag_filter = GL_LINEAR;
    p.min_filter = GL_LINEAR_MIPMAP_LINEAR;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE_ALPHA, kPageSize, kPageSize, 0, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,
                 zero);
    free(zero);
    p.dirty = true;
    s->page_n++;
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
        log_font(s->font, "more codes have no glyph; they are drawn as its missing-glyph box and no longer named");
        return;
    }
    s->missing_logged[k] = cp;
    s->missing_n++;
    char what[120];
    snprintf(what, sizeof what, "no glyph for U+%04X: drawn as its missing-glyph box", (unsigned)cp);
    log_font(s->font, what);
}

// Renders glyph INDEX of S's face into a cell of one of its pages and
// fills *G; G->tex stays 0 for a glyph of no advance. The caller keeps
// the texture binding it needs (this binds the page).
bool rasterise(FontStore *s, FT_UInt index, QVP_GLYPH *g) {
    memset(g, 0, sizeof *g);
    g->index = index;
    g->owner = s;
    if (FT_Load_Glyph(s->face, index, FT_LOAD_RENDER) != 0) return false;
    int adv = (int)((s->face->glyph->advance.x + 32) >> 6);
    if (adv <= 0) return true;
    if (adv > kPageSize - 2 * kPad || s->line_px > kPageSize - 2 * kPad) return false;
    g->dx = (float)adv / (float)s->line_px;
    if (s->page_n == 0 && !add_page(s)) return false;
    Page *p = &s->pages[s->page_n - 1];
    int cw = adv + 2 * kPad, chh = s->line_px + 2 * kPad;
    if (p->x + cw > kPageSize) {
        p->x = 0;
        p->y += chh;
    }
    if (p->y + chh > kPageSize) {
        if (!add_page(s)) return false;
        p = &s->pages[s->page_n - 1];
    }
    size_t bytes = (size_t)adv * (size_t)s->line_px * 2;
    if (bytes > g_cell_size) {
        void *grown = PluginRealloc(g_cell, bytes);
        if (!grown) return false;
        g_cell = (unsigned char *)grown;
        g_cell_size = bytes;
    }
    // As in the font's table: luminance white over the cell, alpha the
    // coverage, ink clipped to the cell.
    for (size_t k = 0; k < bytes; k += 2) {
        g_cell[k] = 255;
        g_cell[k + 1] = 0;
    }
    FT_Bitmap &bm = s->face->glyph->bitmap;
    // A face glyph that is not grey coverage is drawn as its empty cell,
    // which still counts as ink (it is not worth the risk of a bad guess).
    g->ink = bm.pixel_mode != FT_PIXEL_MODE_GRAY;
    if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
        int ox = s->face->glyph->bitmap_left, oy = s->ascent_px - s->face->glyph->bitmap_top;
        for (int y = 0; y < (int)bm.rows; y++) {
            int ty = oy + y;
            if (ty < 0 || ty >= s->line_px) continue;
            for (int x = 0; x < (int)bm.width; x++) {
                int tx = ox + x;
                if (tx >= 0 && tx < adv) {
                    unsigned char a = bm.buffer[y * bm.pitch + x];
                    g_cell[((size_t)ty * adv + tx) * 2 + 1] = a;
                    g->ink |= a != 0;
                }
            }
        }
    }
    int cx = p->x + kPad, cy = p->y + kPad;
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    BindTexture2D(p->tex);
    glTexSubImage2D(GL_TEXTURE_2D, 0, cx, cy, adv, s->line_px, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE, g_cell);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    p->dirty = true;
    p->x += cw;
    g->tex = p->tex;
    g->tx1 = (float)cx / kPageSize;
    g->ty1 = (float)cy / kPageSize;
    g->tx2 = (float)(cx + adv) / kPageSize;
    g->ty2 = (float)(cy + s->line_px) / kPageSize;
    return true;
}

// The glyph of CP from S's face alone; null when S has no face or the
// glyph cannot be made. *FOUND says whether the face maps CP.
const QVP_GLYPH *face_glyph(FontStore *s, uint32_t cp, bool want_missing, bool *found) {
    *found = false;
    if (!s->face) return nullptr;
    Slot *k = slot_for(s, cp);
    if (k && k->cp == cp) {
        *found = k->glyph.index != 0;
        return &k->glyph;
    }
    FT_UInt index = FT_Get_Char_Index(s->face, cp);
    *found = index != 0;
    if (!index) {
        // Unmapped codes share one box and take no slot: texts of ever
        // new unmapped codes grow neither the table nor the pages.
        if (!want_missing) return nullptr;
        if (!s->has_missing && rasterise(s, 0, &s->missing)) s->has_missing = true;
        return s->has_missing ? &s->missing : nullptr;
    }
    if (!grow_slots(s)) return nullptr;
    QVP_GLYPH g;
    if (!rasterise(s, index, &g)) return nullptr;
    k = slot_for(s, cp);
    k->cp = cp;
    k->glyph = g;
    s->slot_used++;
    return &k->glyph;
}

}  // namespace

namespace {

// The glyph of CP in S's face or, when the face lacks it, along S's chain
// of fallbacks (each font's own -fallback, at most kFallbackDepth fonts
// past S, so a loop of fallbacks ends). A glyph found down the chain is
// kept under S's code too, so the next look-up is one probe. With
// WANT_MISSING, S's missing-glyph box when no font of the chain has it.
const QVP_GLYPH *chain_glyph(FontStore *s, uint32_t cp, int depth, bool want_missing, bool *found) {
    *found = false;
    if (!s || !s->face) return nullptr;
    Slot *k = slot_for(s, cp);
    if (k && k->cp == cp) {
        *found = k->glyph.index != 0;
        return &k->glyph;
    }
    if (s->fallback && depth < kFallbackDepth && !FT_Get_Char_Index(s->face, cp)) {
        const QVP_GLYPH *g = chain_glyph(s->fallback, cp, depth + 1, false, found);
        if (g && *found) {
            if (!grow_slots(s)) return g;
            k = slot_for(s, cp);
            k->cp = cp;
            k->glyph = *g;
            s->slot_used++;
            return &k->glyph;
        }
    }
    return face_glyph(s, cp, want_missing, found);
}

}  // namespace

const QVP_GLYPH *FontExtraGlyph(const QVP_CANVAS_FONTDEF *font, uint32_t cp) {
    FontStore *s = store_of(font);
    if (!s || !s->face) return nullptr;
    bool found;
    const QVP_GLYPH *g = chain_glyph(s, cp, 0, true, &found);
    if (g && !found) note_missing(s, cp);
    return g;
}

uint32_t FontTableIndex(const QVP_CANVAS_FONTDEF *font, uint32_t cp) {
    FontStore *s = store_of(font);
    if (!s || !s->face || !s->kerning || !FT_HAS_KERNING(s->face)) return 0;
    int n = font->last_char - font->first_char + 1;
    if (!s->table_index || s->table_n != n) {
        uint32_t *t = (uint32_t *)PluginRealloc(s->table_index, sizeof(uint32_t) * (size_t)n);
        if (!t) return 0;
        for (int i = 0; i < n; i++) t[i] = kUnknownIndex;
        s->table_index = t;
        s->table_n = n;
    }
    uint32_t &ix = s->table_index[cp - (uint32_t)font->first_char];
    if (ix == kUnknownIndex) ix = FT_Get_Char_Index(s->face, cp);
    return ix;
}

int FontTableInk(const QVP_CANVAS_FONTDEF *font, uint32_t cp) {
    FontStore *s = store_of(font);
    int n = font->last_char - font->first_char + 1;
    if (!s || cp < (uint32_t)font->first_char || cp > (uint32_t)font->last_char) return 1;
    if (!s->table_ink || s->ink_n != n) {
        unsigned char *t = (unsigned char *)PluginRealloc(s->table_ink, (size_t)n);
        if (!t) return 1;
        memset(t, 0, (size_t)n);
        s->table_ink = t;
        s->ink_n = n;
    }
    unsigned char &known = s->table_ink[cp - (uint32_t)font->first_char];
    if (!known) {
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
        // A cell of no texels, or one not finite, is left to draw.
        bool ink = !(x1 < x2 && y1 < y2) || !(s1 == s1 && s2 == s2 && t1 == t1 && t2 == t2);
        const unsigned char *px = (const unsigned char *)font->texdata;
        for (int y = y1; y < y2 && !ink; y++)
            for (int x = x1; x < x2 && !ink; x++) ink = px[((size_t)y * font->w + x) * 2 + 1] != 0;
        known = ink ? 1 : 2;
    }
    return known == 1;
}

const void *FontOwner(const QVP_CANVAS_FONTDEF *font) { return store_of(font); }

float FontKerning(const QVP_GLYPH *left, const QVP_GLYPH *right) {
    if (!left->index || !right->index || left->owner != right->owner || !left->owner) return 0.0f;
    FontStore *s = (FontStore *)left->owner;
    if (!s->kerning || !s->face || !FT_HAS_KERNING(s->face)) return 0.0f;
    auto &k = s->kern_cache[(left->index * 31u + right->index) & 1023u];
    if (k.left == left->index && k.right == right->index) return k.units;
    FT_Vector v;
    float units = 0.0f;
    if (FT_Get_Kerning(s->face, left->index, right->index, FT_KERNING_UNFITTED, &v) == 0)
        units = (float)v.x / 64.0f / (float)s->line_px;
    k.left = left->index;
    k.right = right->index;
    k.units = units;
    return units;
}

void PrepareGlyphTexture(GLuint tex, GLint min_filter, GLint mag_filter) {
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
            return;
        }
    }
}

GlyphStoreStats GetGlyphStoreStats(const QVP_CANVAS_FONTDEF *font) {
    GlyphStoreStats st = {0, 0, 0, 0};
    const FontStore *s = find_store(font);
    if (s) st = GlyphStoreStats{s->slot_used, s->slot_cap, s->page_n, s->has_missing};
    return st;
}

void ResetGlyphStore(void) {
    for (int i = 0; i < g_store_n; i++) {
        FontStore *s = g_stores[i];
        if (s->face) FT_Done_Face(s->face);
        free(s->table_index);
        free(s->table_ink);
        free(s->slots);
        free(s->pages);
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
