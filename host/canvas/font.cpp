// font.cpp - texture fonts: FreeType rasterises codes first..last of a
// face into one luminance-alpha atlas in the arena.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "builder_internal.h"
#include "qvp_externs.h"
#include "qvp_host.h"

namespace qvpc {

const char *const kDefaultFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

namespace {

// The FreeType library of this process; made on first use.
FT_Library g_ft = nullptr;

struct Cell {
    int x, y, advance;
};

// Lays out N cells of width W[i]+2*PAD and height CH in rows of ATLAS_W
// texels; returns the height used.
int layout(const std::vector<int> &adv, int cell_h, int atlas_w, int pad, std::vector<Cell> &cells) {
    int x = 0, y = 0;
    cells.clear();
    for (int a : adv) {
        int w = a + 2 * pad;
        if (x + w > atlas_w) {
            x = 0;
            y += cell_h + 2 * pad;
        }
        cells.push_back(Cell{x + pad, y + pad, a});
        x += w;
    }
    return y + cell_h + 2 * pad;
}

}  // namespace

namespace {

// FreeType's own text for error FE.
const char *ft_error_text(FT_Error fe) {
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}};
    static const struct {
        int code;
        const char *text;
    } kErrors[] =
#include FT_ERRORS_H
    for (int i = 0; kErrors[i].text; i++)
        if (kErrors[i].code == fe) return kErrors[i].text;
    return "unknown FreeType error";
}

// Selects FACE's fixed size nearest at or above PIXELS (else its
// largest) and returns its size in pixels; 0 when it has none.
int select_strike(FT_Face face, int pixels) {
    int best = -1;
    for (int i = 0; i < face->num_fixed_sizes; i++) {
        int ppem = (int)((face->available_sizes[i].y_ppem + 32) >> 6);
        if (ppem <= 0) continue;
        int have = best < 0 ? 0 : (int)((face->available_sizes[best].y_ppem + 32) >> 6);
        // The smallest strike at least as large, else the largest.
        bool better = best < 0 || (have < pixels ? ppem > have : ppem >= pixels && ppem < have);
        if (better) best = i;
    }
    if (best < 0 || FT_Select_Size(face, best) != 0) return 0;
    return (int)((face->available_sizes[best].y_ppem + 32) >> 6);
}

}  // namespace

QVP_CANVAS_FONTDEF *CreateFont(const FontDesc &desc, std::string &err) {
    if (!Attach(err)) return nullptr;
    if (desc.name.empty() || desc.name.size() >= 80) {
        err = "font names have 1 to 79 characters";
        return nullptr;
    }
    if (FindFont(desc.name)) {
        err = "font \"" + desc.name + "\" already exists";
        return nullptr;
    }
    std::string file = desc.file.empty() ? kDefaultFontFile : desc.file;
    if (file.size() >= 160) {
        err = "font file path longer than 159 characters";
        return nullptr;
    }
    if (desc.pixels < 4 || desc.pixels > 256) {
        err = "font size runs from 4 to 256 pixels";
        return nullptr;
    }
    if (desc.first < 0 || desc.last > 0x10FFFF || desc.first > desc.last) {
        err = "character codes run from 0 to 1114111, first not above last";
        return nullptr;
    }
    QVP_CANVAS_FONTDEF *fallback = nullptr;
    if (!desc.fallback.empty()) {
        fallback = FindFont(desc.fallback);
        if (!fallback) {
            err = "unknown fallback font \"" + desc.fallback + "\"";
            return nullptr;
        }
    }
    if (!g_ft && FT_Init_FreeType(&g_ft) != 0) {
        err = "cannot start FreeType";
        return nullptr;
    }
    std::string why;
    if (!regular_file(file, why)) {
        err = "cannot read font file \"" + file + "\": " + why;
        return nullptr;
    }
    FT_Face face = nullptr;
    FT_Error fe = FT_New_Face(g_ft, file.c_str(), 0, &face);
    if (fe != 0) {
        err = "FreeType cannot read font file \"" + file + "\": " + ft_error_text(fe);
        return nullptr;
    }
    // A face of fixed sizes only (a colour emoji font's bitmap strikes) is
    // drawn from its strike nearest above the size asked, scaled down.
    int strike = 0;
    if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)desc.pixels) != 0) {
        strike = select_strike(face, desc.pixels);
        if (strike <= 0) {
            FT_Done_Face(face);
            err = "font \"" + file + "\" has no usable size " + std::to_string(desc.pixels);
            return nullptr;
        }
    }
    // Strike pixels to the size asked.
    const double k = strike ? (double)desc.pixels / strike : 1.0;
    int asc = (int)ceil(face->size->metrics.ascender / 64.0 * k);
    int descent = (int)ceil(-face->size->metrics.descender / 64.0 * k);
    int line_h = std::max(1, asc + descent);
    int n = desc.last - desc.first + 1;
    // A table of every code point would need an atlas of some 100,000
    // texels square: refused before rasterising it.
    if (n > 65536) {
        FT_Done_Face(face);
        err = "font table of " + std::to_string(n) +
              " codes too large: a font keeps at most 65536 in its table and draws the rest on first use";
        return nullptr;
    }
    std::vector<int> adv(n);
    for (int i = 0; i < n; i++) {
        adv[i] = 0;
        if (FT_Load_Char(face, (FT_ULong)(desc.first + i), FT_LOAD_DEFAULT) == 0)
            adv[i] = (int)lround(face->glyph->advance.x / 64.0 * k);
    }
    const int pad = 2;
    // The glyphs of a colour face are drawn from the face in their own
    // colours: its table keeps the advances, over cells of no texels.
    const bool colour = strike || FT_HAS_COLOR(face);
    std::vector<int> cell_w = colour ? std::vector<int>((size_t)n, 0) : adv;
    const int cell_h = colour ? 1 : line_h;
    std::vector<Cell> cells;
    int aw = 64, ah = 0;
    for (;; aw *= 2) {
        int used = layout(cell_w, cell_h, aw, pad, cells);
        ah = 1;
        while (ah < used) ah *= 2;
        if (ah <= aw || aw >= 4096) break;
    }
    if (ah > 4096) {
        FT_Done_Face(face);
        err = "font too large for a 4096 x 4096 atlas";
        return nullptr;
    }
    QVP_CANVAS_FONTDEF *f = (QVP_CANVAS_FONTDEF *)QVH_Alloc(sizeof(QVP_CANVAS_FONTDEF) + sizeof(QVP_CANVAS_FONTEXT));
    QVP_CANVAS_CHARDEF *chars = f ? (QVP_CANVAS_CHARDEF *)QVH_Alloc(sizeof(QVP_CANVAS_CHARDEF) * (size_t)n) : nullptr;
    unsigned char *tex = chars ? (unsigned char *)QVH_Alloc((size_t)aw * ah * 2) : nullptr;
    if (!tex) {
        QVH_Free(chars);
        QVH_Free(f);
        FT_Done_Face(face);
        err = ArenaFull("font \"" + desc.name + "\"", sizeof(QVP_CANVAS_FONTDEF) + sizeof(QVP_CANVAS_FONTEXT) + sizeof(QVP_CANVAS_CHARDEF) * (size_t)n + (size_t)aw * ah * 2);
        return nullptr;
    }
    for (int i = 0; i < n; i++) {
        const Cell &c = cells[(size_t)i];
        QVP_CANVAS_CHARDEF &d = chars[i];
        d.dx = (float)adv[(size_t)i] / (float)line_h;
        d.dy = 1.0f;
        d.tx1 = (float)c.x / aw;
        d.ty1 = (float)c.y / ah;
        d.tx2 = (float)(c.x + c.advance) / aw;
        d.ty2 = (float)(c.y + cell_h) / ah;
        // Luminance is white everywhere in the cell; alpha is coverage.
        for (int y = 0; y < cell_h; y++)
            for (int x = 0; x < c.advance; x++) tex[((size_t)(c.y + y) * aw + c.x + x) * 2] = 255;
        if (colour) continue;
        if (FT_Load_Char(face, (FT_ULong)(desc.first + i), FT_LOAD_RENDER) != 0) continue;
        FT_Bitmap &bm = face->glyph->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) continue;
        int ox = face->glyph->bitmap_left, oy = asc - face->glyph->bitmap_top;
        for (int y = 0; y < (int)bm.rows; y++) {
            int ty = oy + y;
            if (ty < 0 || ty >= line_h) continue;
            for (int x = 0; x < (int)bm.width; x++) {
                int tx = ox + x;
                if (tx < 0 || tx >= c.advance) continue;
                tex[((size_t)(c.y + ty) * aw + c.x + tx) * 2 + 1] = bm.buffer[y * bm.pitch + x];
            }
        }
    }
    FT_Done_Face(face);
    snprintf(f->name, sizeof f->name, "%s", desc.name.c_str());
    snprintf(f->path, sizeof f->path, "%s", file.c_str());
    f->w = aw;
    f->h = ah;
    f->first_char = desc.first;
    f->last_char = desc.last;
    f->scale[0] = f->scale[1] = 1.0f;
    f->char_list = chars;
    f->texdata = (char *)tex;
    QVP_CANVAS_FONTEXT *x = (QVP_CANVAS_FONTEXT *)(f + 1);
    x->pixels = desc.pixels;
    x->line_px = line_h;
    x->ascent_px = asc;
    x->face_index = 0;
    x->kerning = desc.kerning ? 1 : 0;
    x->fallback = fallback;
    x->strike_px = strike;
    x->magic = QVP_FONTEXT_MAGIC;
    Lock lock;
    QVP_CANVAS_INFO *info = Info();
    f->tex_obj = info->tex_obj++;
    QVP_CANVAS_FONTDEF **pp = &info->fonts;
    while (*pp) pp = &(*pp)->pnext;
    __atomic_store_n(pp, f, __ATOMIC_RELEASE);
    if (!info->default_font && desc.name == "default") info->default_font = f;
    return f;
}

QVP_CANVAS_FONTDEF *FindFont(const std::string &name) {
    std::string err;
    if (!Attach(err)) return nullptr;
    Lock lock;
    QVP_WALK(QVP_CANVAS_FONTDEF, f, Info()->fonts)
        if (name == f->name) return f;
    return nullptr;
}

QVP_CANVAS_FONTDEF *DefaultFont(std::string &err) {
    QVP_CANVAS_FONTDEF *f = FindFont("default");
    if (f) return f;
    FontDesc desc;
    desc.name = "default";
    return CreateFont(desc, err);
}

}  // namespace qvpc
