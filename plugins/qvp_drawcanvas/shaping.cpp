// shaping.cpp - what a text lays out: its lines cut into runs, each run
// put in display order by the Unicode bidirectional algorithm (FriBidi),
// split where the face or the script changes, and shaped by HarfBuzz, so
// that Arabic joins, Indic clusters reorder, marks sit on their bases,
// pairs kern and emoji sequences become one glyph.
//
// Shaped runs are kept per process in a bounded table keyed by the font,
// the line's direction and the run's bytes: a text drawn or measured
// again is looked up, not shaped. A font without a face has no shaper;
// its codes are drawn from its table as they stand.
#include <fribidi.h>
#include <hb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "dc_services.h"
#include "dc_text.h"
#include "drawcanvas_testing.h"
#include "lru_index.h"

namespace {

// Shaped runs kept: at most kShapeMost runs and kShapeBytes bytes of
// them, the least recently used let go first. A run is at most
// QVP_SHAPE_MOST code points, so one entry is at most some 100 KiB.
const int kShapeMost = 4096;
const size_t kShapeBytes = 4u << 20;

struct ShapedRun {
    const QVP_CANVAS_FONTDEF *font;
    int rtl;
    size_t len;        // bytes of the run, kept after the items
    int n;             // items
    size_t bytes;      // the whole allocation
    QVP_ITEM items[1];
};

// The kept runs and their index, and the runs shaped; made on the first
// run shaped, emptied by ResetShapeCache.
LruIndex g_index;
ShapedRun *g_runs[kShapeMost];
size_t g_bytes = 0;
long g_shaped = 0;

const unsigned char *run_bytes(const ShapedRun *r) { return (const unsigned char *)(r->items + r->n); }

uint64_t hash_run(const QVP_CANVAS_FONTDEF *font, int rtl, const unsigned char *s, size_t len) {
    uint64_t h = 1469598103934665603ull ^ (uint64_t)(uintptr_t)font ^ (uint64_t)rtl << 63;
    for (size_t i = 0; i < len; i++) h = (h ^ s[i]) * 1099511628211ull;
    return h ^ len;
}

void drop_run(int e) {
    g_bytes -= g_runs[e]->bytes;
    free(g_runs[e]);
    g_runs[e] = nullptr;
}

// Scratch of one run being shaped: its code points, their bidi types,
// levels, faces and scripts, and the items made; sized for the longest
// run, so shaping allocates only the items' room and HarfBuzz's own.
uint32_t g_cps[QVP_SHAPE_MOST];
FriBidiCharType g_types[QVP_SHAPE_MOST];
FriBidiBracketType g_brackets[QVP_SHAPE_MOST];
FriBidiLevel g_levels[QVP_SHAPE_MOST];
unsigned char g_face_of[QVP_SHAPE_MOST];
hb_script_t g_script[QVP_SHAPE_MOST];
QVP_ITEM *g_items = nullptr;
int g_items_cap = 0;
hb_buffer_t *g_buffer = nullptr;

bool room_for_items(int n) {
    if (n <= g_items_cap) return true;
    int cap = std::max(n, 2 * g_items_cap);
    void *grown = PluginRealloc(g_items, sizeof(QVP_ITEM) * (size_t)cap);
    if (!grown) return false;
    g_items = (QVP_ITEM *)grown;
    g_items_cap = cap;
    return true;
}

// Code points that belong to the code before them: marks, joiners,
// variation selectors, emoji modifiers and tags keep the face of their
// base, so a cluster is never split between fonts.
bool joins_before(hb_unicode_funcs_t *uf, uint32_t cp) {
    hb_unicode_general_category_t gc = hb_unicode_general_category(uf, cp);
    if (gc == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK || gc == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
        gc == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK)
        return true;
    return cp == 0x200C || cp == 0x200D || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0x1F3FB && cp <= 0x1F3FF) ||
           (cp >= 0xE0020 && cp <= 0xE007F) || (cp >= 0xE0100 && cp <= 0xE01EF);
}

// Whether code I of CPS is shown as an emoji by default (pictographs of
// the supplementary planes, flags) or asks to be (variation selector 16
// after it): a colour face of the chain that maps it is taken first,
// even when a face before it has a plain glyph.
bool emoji_presented(const uint32_t *cps, int n, int i) {
    uint32_t cp = cps[i];
    return (cp >= 0x1F000 && cp <= 0x1FAFF) || (i + 1 < n && cps[i + 1] == 0xFE0F);
}

bool mapped(const QVP_FACE *f, uint32_t cp) {
    hb_codepoint_t g = 0;
    return hb_font_get_nominal_glyph(f->shaper, cp, &g) && g;
}

// Appends the glyphs HarfBuzz makes of code points FIRST..FIRST+LEN-1 of
// g_cps (at level LEVEL, in face FACE, script SCRIPT) to g_items from
// *N, in display order. FONT's own table draws a glyph that is the plain
// glyph of a code of that table. False when memory runs out.
bool shape_one(const QVP_CANVAS_FONTDEF *font, const QVP_FACE *const *faces, int n_cps, int first, int len,
               int level, int face, hb_script_t script, int *n, bool *missed) {
    if (!g_buffer) g_buffer = hb_buffer_create();
    if (!hb_buffer_allocation_successful(g_buffer)) return false;
    hb_buffer_clear_contents(g_buffer);
    hb_buffer_add_codepoints(g_buffer, g_cps, n_cps, (unsigned)first, len);
    hb_buffer_set_direction(g_buffer, (level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(g_buffer, script);
    hb_buffer_set_language(g_buffer, hb_language_get_default());
    const QVP_FACE *f = faces[face];
    hb_feature_t no_kern = {HB_TAG('k', 'e', 'r', 'n'), 0, 0, (unsigned)-1};
    hb_shape(f->shaper, g_buffer, &no_kern, f->kerning ? 0 : 1);
    unsigned count = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(g_buffer, &count);
    const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(g_buffer, &count);
    if (!room_for_items(*n + (int)count)) return false;
    const QVP_FACE *own = faces[0];
    for (unsigned i = 0; i < count; i++) {
        QVP_ITEM &it = g_items[(*n)++];
        memset(&it, 0, sizeof it);
        it.kind = QVP_ITEM_GLYPH;
        it.table = -1;
        uint32_t cp = g_cps[info[i].cluster];
        uint32_t gid = info[i].codepoint;
        // What shaping did to the glyph's own advance (kerning, say).
        float delta = (float)((pos[i].x_advance - hb_font_get_glyph_h_advance(f->shaper, gid)) * f->unit);
        it.xoff = (float)(pos[i].x_offset * f->unit);
        it.yoff = (float)(pos[i].y_offset * f->unit);
        hb_codepoint_t plain = 0;
        if (f == own && !f->colour && cp >= (uint32_t)font->first_char && cp <= (uint32_t)font->last_char &&
            hb_font_get_nominal_glyph(f->shaper, cp, &plain) && plain == gid) {
            const QVP_CANVAS_CHARDEF &c = font->char_list[cp - (uint32_t)font->first_char];
            it.g.tex = (GLuint)font->tex_obj;
            it.g.dx = c.dx;
            it.g.tx1 = c.tx1;
            it.g.ty1 = c.ty1;
            it.g.tx2 = c.tx2;
            it.g.ty2 = c.ty2;
            it.g.bw = c.dx;
            it.g.bh = 1.0f;
            it.g.index = gid;
            it.g.ink = 1;
            it.table = (int)cp;
        } else {
            if (gid == 0) FaceNoteMissing(own, cp);
            const QVP_GLYPH *g = FaceGlyph(f, gid);
            if (g) it.g = *g;
            else it.missed = 1;
            *missed |= it.missed != 0;
        }
        it.adv = it.g.dx + delta;
        if (it.missed) it.adv = 0;
    }
    return true;
}

// Shapes the N code points in g_cps, a run of a line whose direction is
// RTL, into g_items; returns how many items, or -1 when memory ran out.
// *MISSED: a glyph could not be had.
int shape_cps(const QVP_CANVAS_FONTDEF *font, int n, int rtl, bool *missed) {
    const QVP_FACE *faces[QVP_FALLBACK_DEPTH + 1];
    int nf = FontFaces(font, faces, QVP_FALLBACK_DEPTH + 1);
    hb_unicode_funcs_t *uf = hb_unicode_funcs_get_default();
    // The face of each code: the first of the chain that maps it (the
    // font's own when none does); the script: its own, or that of the
    // code before for those common to scripts, then after for the first,
    // and Common for all of a run that has none of its own (emoji).
    for (int i = 0; i < n; i++) {
        int fi = -1;
        if (i > 0 && joins_before(uf, g_cps[i])) fi = g_face_of[i - 1];
        else if (emoji_presented(g_cps, n, i))
            for (int k = 0; k < nf && fi < 0; k++)
                if (faces[k]->colour && mapped(faces[k], g_cps[i])) fi = k;
        for (int k = 0; k < nf && fi < 0; k++)
            if (mapped(faces[k], g_cps[i])) fi = k;
        if (fi < 0) fi = 0;
        g_face_of[i] = (unsigned char)fi;
        g_script[i] = hb_unicode_script(uf, g_cps[i]);
    }
    auto vague = [](hb_script_t s) {
        return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
    };
    hb_script_t last = HB_SCRIPT_INVALID;
    for (int i = 0; i < n; i++) {
        if (!vague(g_script[i])) last = g_script[i];
        else if (last != HB_SCRIPT_INVALID) g_script[i] = last;
    }
    for (int i = n - 1; i >= 0; i--) {
        if (!vague(g_script[i])) last = g_script[i];
        else if (last != HB_SCRIPT_INVALID) g_script[i] = last;
        else g_script[i] = HB_SCRIPT_COMMON;  // a run of no script of its own
    }
    // Levels: all 0 for a left-to-right line of no right-to-left code.
    bool any_rtl = rtl != 0;
    fribidi_get_bidi_types(g_cps, n, g_types);
    for (int i = 0; i < n && !any_rtl; i++) any_rtl = FRIBIDI_IS_RTL(g_types[i]) != 0;
    if (any_rtl) {
        fribidi_get_bracket_types(g_cps, n, g_types, g_brackets);
        FriBidiParType dir = rtl ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
        if (!fribidi_get_par_embedding_levels_ex(g_types, g_brackets, n, &dir, g_levels)) return -1;
    } else {
        memset(g_levels, 0, sizeof(FriBidiLevel) * (size_t)n);
    }
    // Runs of one level, face and script, in logical order.
    static int starts[QVP_SHAPE_MOST + 1], order[QVP_SHAPE_MOST];
    int runs = 0;
    for (int i = 0; i < n; i++)
        if (i == 0 || g_levels[i] != g_levels[i - 1] || g_face_of[i] != g_face_of[i - 1] ||
            g_script[i] != g_script[i - 1])
            starts[runs++] = i;
    starts[runs] = n;
    // Display order: from the highest level down to the lowest odd one,
    // every stretch of runs at that level or above is reversed.
    int high = 0, low_odd = 255;
    for (int r = 0; r < runs; r++) {
        order[r] = r;
        int lv = g_levels[starts[r]];
        high = std::max(high, lv);
        if (lv & 1) low_odd = std::min(low_odd, lv);
    }
    for (int lv = high; lv >= low_odd && lv > 0; lv--)
        for (int r = 0; r < runs;) {
            if (g_levels[starts[order[r]]] < lv) {
                r++;
                continue;
            }
            int e = r;
            while (e < runs && g_levels[starts[order[e]]] >= lv) e++;
            std::reverse(order + r, order + e);
            r = e;
        }
    int items = 0;
    for (int r = 0; r < runs; r++) {
        int k = order[r];
        int first = starts[k], len = starts[k + 1] - first;
        if (!shape_one(font, faces, n, first, len, g_levels[first], g_face_of[first], g_script[first], &items, missed))
            return -1;
    }
    // A run that needs glyph pages takes its table glyphs from the pages
    // too (the same pixels, rasterised alike), so that it draws from as
    // few textures as it can: one, when one face has it all.
    bool paged = false;
    for (int i = 0; i < items && !paged; i++) paged = g_items[i].table < 0 && g_items[i].g.tex;
    for (int i = 0; i < items && paged; i++) {
        QVP_ITEM &it = g_items[i];
        if (it.table < 0) continue;
        const QVP_GLYPH *g = FaceGlyph(faces[0], it.g.index);
        if (!g) {
            *missed = true;
            continue;
        }
        float kern = it.adv - it.g.dx;
        it.g = *g;
        it.adv = g->dx + kern;
        it.table = -1;
    }
    return items;
}

// Keeps the N items of g_items as the run of bytes S..S+LEN of FONT at
// direction RTL; the kept copy, or null when it is not kept (too large,
// or memory is short), in which case g_items stays the caller's.
const ShapedRun *keep_run(const QVP_CANVAS_FONTDEF *font, int rtl, const unsigned char *s, size_t len, int n,
                          uint64_t hash) {
    size_t bytes = sizeof(ShapedRun) + sizeof(QVP_ITEM) * (size_t)(n > 0 ? n - 1 : 0) + len;
    if (bytes > kShapeBytes / 8) return nullptr;
    if (!g_index.Ready() && !g_index.Init(kShapeMost, PluginRealloc)) return nullptr;
    while (g_bytes + bytes > kShapeBytes && g_index.Oldest() >= 0) {
        int e = g_index.Oldest();
        g_index.Remove(e);
        drop_run(e);
    }
    ShapedRun *r = (ShapedRun *)PluginRealloc(nullptr, bytes);
    if (!r) return nullptr;
    int evicted = -1;
    int e = g_index.Insert(hash, &evicted);
    if (e < 0) {
        free(r);
        return nullptr;
    }
    if (evicted >= 0 && g_runs[evicted]) drop_run(evicted);
    r->font = font;
    r->rtl = rtl;
    r->len = len;
    r->n = n;
    r->bytes = bytes;
    memcpy(r->items, g_items, sizeof(QVP_ITEM) * (size_t)n);
    memcpy((unsigned char *)(r->items + r->n), s, len);
    g_runs[e] = r;
    g_bytes += bytes;
    return r;
}

// The items of the run S..S+LEN (no tab or newline in it) of FONT on a
// line of direction RTL: kept ones when it was shaped before, else shaped
// now (and kept when it can be). *N: how many; null when none can be had.
const QVP_ITEM *shaped_run(const QVP_CANVAS_FONTDEF *font, int rtl, const unsigned char *s, size_t len, int *n) {
    uint64_t hash = hash_run(font, rtl, s, len);
    if (g_index.Ready()) {
        int e = g_index.Find(hash, [&](int k) {
            const ShapedRun *r = g_runs[k];
            return r && r->font == font && r->rtl == rtl && r->len == len && !memcmp(run_bytes(r), s, len);
        });
        if (e >= 0) {
            g_index.Touch(e);
            *n = g_runs[e]->n;
            return g_runs[e]->items;
        }
    }
    // Control codes other than tab and newline draw nothing; Tcl's NUL
    // takes no room.
    int ncp = 0;
    for (size_t i = 0; i < len && ncp < QVP_SHAPE_MOST;) {
        uint32_t cp = NextCodePoint(s, &i);
        if (cp == 0 || cp < 32 || (cp >= 0x7F && cp < 0xA0)) continue;
        g_cps[ncp++] = cp;
    }
    bool missed = false;
    g_shaped++;
    int items = ncp ? shape_cps(font, ncp, rtl, &missed) : 0;
    if (items < 0) return nullptr;
    *n = items;
    if (!missed) {
        const ShapedRun *r = keep_run(font, rtl, s, len, items, hash);
        if (r) return r->items;
    }
    return g_items;
}

// Whether the line from S on (to its newline or end) reads right to
// left: its first strongly directed code does.
int line_rtl(const unsigned char *s) {
    for (size_t i = 0; s[i] && s[i] != '\n';) {
        FriBidiCharType t = fribidi_get_bidi_type(NextCodePoint(s, &i));
        if (t == FRIBIDI_TYPE_LTR) return 0;
        if (t == FRIBIDI_TYPE_RTL || t == FRIBIDI_TYPE_AL) return 1;
    }
    return 0;
}

// The item of table code CP of C's font, or null for a control code
// and for a code outside the table (a font without a face draws those
// not at all).
const QVP_ITEM *table_item(QVP_TEXT_CURSOR *c, uint32_t cp) {
    const QVP_CANVAS_FONTDEF *f = c->font;
    if (cp < 32 || (cp >= 0x7F && cp < 0xA0) || cp < (uint32_t)f->first_char || cp > (uint32_t)f->last_char)
        return nullptr;
    const QVP_CANVAS_CHARDEF &d = f->char_list[cp - (uint32_t)f->first_char];
    QVP_ITEM &it = c->one;
    memset(&it, 0, sizeof it);
    it.kind = QVP_ITEM_GLYPH;
    it.table = (int)cp;
    it.g.tex = (GLuint)f->tex_obj;
    it.g.dx = it.g.bw = d.dx;
    it.g.bh = 1.0f;
    it.g.tx1 = d.tx1;
    it.g.ty1 = d.ty1;
    it.g.tx2 = d.tx2;
    it.g.ty2 = d.ty2;
    it.g.ink = 1;
    it.adv = d.dx;
    return &it;
}

const QVP_ITEM *break_item(QVP_TEXT_CURSOR *c, int kind) {
    memset(&c->one, 0, sizeof c->one);
    c->one.kind = kind;
    c->one.table = -1;
    return &c->one;
}

}  // namespace

void TextCursorStart(QVP_TEXT_CURSOR *c, const QVP_CANVAS_FONTDEF *font, const char *s) {
    memset(c, 0, sizeof *c);
    c->font = font;
    c->str = (const unsigned char *)s;
    const QVP_FACE *face;
    c->faces = FontFaces(font, &face, 1) > 0;
    c->line_start = 1;
    c->after = -1;
}

const QVP_ITEM *TextCursorNext(QVP_TEXT_CURSOR *c) {
    for (;;) {
        if (c->run && c->run_k < c->run_n) return &c->run[c->run_k++];
        c->run = nullptr;
        if (c->after >= 0) {
            int kind = c->after;
            c->after = -1;
            c->line_start = kind == QVP_ITEM_NEWLINE;
            return break_item(c, kind);
        }
        if (!c->str[c->i]) return nullptr;
        if (!c->faces) {
            uint32_t cp = NextCodePoint(c->str, &c->i);
            if (cp == 9) return break_item(c, QVP_ITEM_TAB);
            if (cp == 10) return break_item(c, QVP_ITEM_NEWLINE);
            const QVP_ITEM *it = table_item(c, cp);
            if (it) return it;
            continue;
        }
        if (c->line_start) c->rtl = line_rtl(c->str + c->i);
        c->line_start = 0;
        // The run: up to a tab, a newline, the end or QVP_SHAPE_MOST codes.
        size_t start = c->i, end = start;
        int ncp = 0;
        while (c->str[end] && c->str[end] != '\t' && c->str[end] != '\n' && ncp < QVP_SHAPE_MOST) {
            NextCodePoint(c->str, &end);
            ncp++;
        }
        c->i = end;
        if (c->str[end] == '\t' || c->str[end] == '\n') {
            c->after = c->str[end] == '\t' ? QVP_ITEM_TAB : QVP_ITEM_NEWLINE;
            c->i++;
        }
        if (end > start) {
            int n = 0;
            c->run = shaped_run(c->font, c->rtl, c->str + start, end - start, &n);
            c->run_n = c->run ? n : 0;
            c->run_k = 0;
            c->missed |= !c->run;
        }
    }
}

ShapeCacheStats GetShapeCacheStats(void) {
    ShapeCacheStats st = {g_index.Count(), kShapeMost, g_bytes, kShapeBytes, g_shaped};
    return st;
}

void ResetShapeCache(void) {
    for (int e = 0; e < kShapeMost; e++)
        if (g_runs[e]) drop_run(e);
    g_index.Free();
    g_bytes = 0;
    g_shaped = 0;
    free(g_items);
    g_items = nullptr;
    g_items_cap = 0;
    hb_buffer_destroy(g_buffer);
    g_buffer = nullptr;
}
