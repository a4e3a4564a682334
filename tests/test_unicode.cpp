// test_unicode.cpp - text beyond 8 bits: UTF-8 decoding, glyphs drawn
// from a font's face outside its table, fallback fonts, kerning, bad
// byte sequences, shaping (joining, reordering, marks), right-to-left
// order, colour emoji, and what a steady frame of such text costs.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "alloc_watch.h"
#include "render_fixture.h"
#include "spawn_util.h"
#include "test_util.h"

namespace {

const char *const kCjkFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
const char *const kNoto = "/usr/share/fonts/truetype/noto/";

uint32_t decode_one(const char *s, size_t *len) {
    size_t i = 0;
    uint32_t cp = NextCodePoint((const unsigned char *)s, &i);
    *len = i;
    return cp;
}

TEST(Utf8, Decode_ValidSequencesAndWhatIsNot) {
    struct {
        const char *bytes;
        uint32_t cp;
        size_t len;
    } cases[] = {
        {"A", 'A', 1},
        {"\xc3\xa9", 0xE9, 2},                      // é
        {"\xce\xa9", 0x3A9, 2},                     // Ω
        {"\xe4\xbd\xa0", 0x4F60, 3},                // 你
        {"\xf0\x9f\x98\x80", 0x1F600, 4},           // an emoji
        {"\xed\xa0\xbd\xed\xb8\x80", 0x1F600, 6},   // the same as Tcl 8.6 writes it
        {"\xc0\x80", 0, 2},                         // Tcl's NUL
        // Not UTF-8: the first byte alone, as its Latin-1 code.
        {"\xc0\xaf", 0xC0, 1},                      // overlong '/'
        {"\xe0\x80\xaf", 0xE0, 1},                  // overlong, three bytes
        {"\xed\xa0\x80", 0xED, 1},                  // a lone high surrogate
        {"\xed\xb0\x80", 0xED, 1},                  // a lone low surrogate
        {"\xf4\x90\x80\x80", 0xF4, 1},              // above U+10FFFF
        {"\xe4\xbd", 0xE4, 1},                      // cut short by the end
        {"\xe9t\xe9", 0xE9, 1},                     // Latin-1 text "été"
        {"\x80", 0x80, 1},
    };
    for (auto &k : cases) {
        size_t len = 0;
        EXPECT_EQ(decode_one(k.bytes, &len), k.cp) << k.bytes;
        EXPECT_EQ(len, k.len) << k.bytes;
    }
}

class Unicode : public Render {
protected:
    // Advance in font units of code point CP in FONT, from its table or
    // from its face.
    float dx(QVP_CANVAS_FONTDEF *f, uint32_t cp) {
        if (cp >= (uint32_t)f->first_char && cp <= (uint32_t)f->last_char) return f->char_list[cp - f->first_char].dx;
        const QVP_GLYPH *g = FontExtraGlyph(f, cp);
        return g ? g->dx : -1;
    }
    double measure(QVP_CANVAS_FONTDEF *f, const char *s) {
        double rows = 0, cols = 0;
        QVF_PushDrawingState();
        glFontBegin(f);
        glFontTextBBox2D((char *)s, &rows, &cols);
        glFontEnd();
        QVF_PopDrawingState();
        return cols;
    }
    QVP_CANVAS_FONTDEF *font(const char *name, const std::string &file, const std::string &fallback = "",
                             bool kerning = true) {
        qvpc::FontDesc d;
        d.name = name;
        d.file = file;
        d.fallback = fallback;
        d.kerning = kerning;
        std::string err;
        QVP_CANVAS_FONTDEF *f = qvpc::CreateFont(d, err);
        EXPECT_NE(f, nullptr) << err;
        return f;
    }
    // Pixels in canvas rows R0..R1, columns C0..C1 whose green channel is
    // above 128 (glyphs are drawn white on black).
    int ink(int c0, int r0, int c1, int r1) {
        int n = 0;
        for (int r = r0; r <= r1; r++)
            for (int c = c0; c <= c1; c++) {
                unsigned char px[4];
                QVH_ReadPixel(c, 149 - r, px);
                n += px[1] > 128;
            }
        return n;
    }
    bool have_cjk() {
        struct stat st;
        return stat(kCjkFile, &st) == 0;
    }
    // A Noto font of fonts-noto-core or fonts-noto-color-emoji, made
    // under NAME (null when the file is not installed).
    QVP_CANVAS_FONTDEF *noto(const char *name, const char *file, const std::string &fallback = "") {
        std::string path = std::string(kNoto) + file;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return nullptr;
        return font(name, path, fallback);
    }
    // What S lays out in F, item by item in display order.
    std::vector<QVP_ITEM> items(QVP_CANVAS_FONTDEF *f, const char *s) {
        std::vector<QVP_ITEM> out;
        QVF_PushDrawingState();
        glFontBegin(f);
        QVP_TEXT_CURSOR c;
        TextCursorStart(&c, f, s);
        for (const QVP_ITEM *it; (it = TextCursorNext(&c));) out.push_back(*it);
        glFontEnd();
        QVF_PopDrawingState();
        return out;
    }
    // The plain glyph index of CP in F's chain.
    uint32_t gid(QVP_CANVAS_FONTDEF *f, uint32_t cp) {
        const QVP_GLYPH *g = FontExtraGlyph(f, cp);
        return g ? g->index : 0;
    }
};

TEST_F(Unicode, Text_MeasuresCodePointsNotBytes) {
    // "café": four glyphs; "Wörld"; Greek and Cyrillic from the face.
    const char *s = "caf\xc3\xa9 \xce\xa9\xd0\x96";
    float want = dx(font_, 'c') + dx(font_, 'a') + dx(font_, 'f') + dx(font_, 0xE9) + dx(font_, ' ') +
                 dx(font_, 0x3A9) + dx(font_, 0x416);
    ASSERT_GT(dx(font_, 0x3A9), 0.3f) << "Omega comes from the face";
    ASSERT_GT(dx(font_, 0x416), 0.3f) << "Zhe comes from the face";
    EXPECT_NEAR(measure(font_, s), want, 1e-5);
    // Latin-1 bytes that are not UTF-8 still draw as themselves.
    EXPECT_NEAR(measure(font_, "\xe9t\xe9"), 2 * dx(font_, 0xE9) + dx(font_, 't'), 1e-5);
    // Tabs and newlines count as before: "Ω\tΩ\nΩ" is 2 rows.
    double rows = 0, cols = 0;
    QVF_PushDrawingState();
    glFontBegin(font_);
    glFontTextBBox2D((char *)"\xce\xa9\t\xce\xa9\n\xce\xa9", &rows, &cols);
    glFontEnd();
    QVF_PopDrawingState();
    EXPECT_EQ(rows, 2);
    EXPECT_NEAR(cols, 2 * dx(font_, 0x3A9) + 4, 1e-5);
}

TEST_F(Unicode, Text_GreekAndCyrillicDrawWhereTheyAreMeasured) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    // "ЖΩ" 40 rows high from column 20: ink in each glyph's cell, none
    // past the measured width.
    text(c, "\xd0\x96\xce\xa9", 20, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    int zhe = (int)(dx(font_, 0x416) * 40), omega = (int)(dx(font_, 0x3A9) * 40);
    EXPECT_GT(ink(21, 45, 20 + zhe - 2, 75), 50) << "Zhe";
    EXPECT_GT(ink(20 + zhe + 2, 45, 20 + zhe + omega - 2, 75), 50) << "Omega";
    EXPECT_EQ(ink(20 + zhe + omega + 3, 40, 199, 80), 0);
    EXPECT_EQ(ink(0, 40, 17, 80), 0);
}

// Glyphs rasterised from the face into a page just now, drawn smooth and
// minified (a 32-px font at 8 rows): the page's smaller levels hold them
// too, so the text has about the ink the same size of table glyphs has.
TEST_F(Unicode, Text_NewFaceGlyphsMinifiedSmoothHaveInk) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    text(c, "\xd0\x96\xce\xa9\xd0\x96\xce\xa9\xd0\x96\xce\xa9", 20, 40, 8, ANCHOR_COL_START | ANCHOR_ROW_START);
    text(c, "MWMWMW", 20, 80, 8, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    int face = ink(18, 38, 199, 50), table = ink(18, 78, 199, 90);
    EXPECT_GT(table, 10) << "table glyphs minified";
    // Like ink for like glyphs: a page without its smaller levels samples
    // as solid cells (296 pixels against 33, seen 2026-12-08).
    EXPECT_GT(face, table / 3) << "face glyphs minified: " << face << " against " << table;
    EXPECT_LT(face, 3 * table) << "face glyphs minified: " << face << " against " << table;
}

// Glyph quads drawn over their ink boxes leave the picture as whole cells
// leave it: table and face glyphs, magnified and minified (a 32-pixel
// font drawn 12 to 45 pixels high, around the minification where level 1
// is the last read), laid out and kept; and a kept text of ink boxes
// that is later drawn smaller (a wider view) is laid out again with whole
// cells where filtering would read further.
TEST_F(Unicode, InkBoxes_SamePictureAsWholeCells) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    const float sizes[] = {12, 19, 21, 30, 45};
    float row = 2;
    for (float size : sizes) {
        text(c, "Tqj@ gW|_,", 4, row, size, ANCHOR_COL_START | ANCHOR_ROW_START);
        row += size + 2;
    }
    if (have_cjk()) {
        font("cjk", kCjkFile);
        QVP_CANVAS_FONTDEF *latin = font("latin", "", "cjk");
        QVP_CANVAS_ELEMENT *e = text(c, "\xe4\xbd\xa0\xe5\xa5\xbd A\xe4\xb8\xad", 110, 2, 20, ANCHOR_COL_START | ANCHOR_ROW_START);
        e->data.text.pfont = latin;
        e = text(c, "\xe4\xbd\xa0\xe5\xa5\xbd", 110, 40, 34, ANCHOR_COL_START | ANCHOR_ROW_START);
        e->data.text.pfont = latin;
    }
    auto picture = [] { return read_window_rgba(200, 150); };
    auto wide = [&](bool on) {
        float k = on ? 1.7f : 1.0f;
        vp_->rleft = -0.5f * k; vp_->rright = 0.5f * k; vp_->rbottom = -0.375f * k; vp_->rtop = 0.375f * k;
    };
    // Laid out (frame 1), kept (frame 3), kept and drawn smaller (frame 4).
    std::vector<unsigned char> got[3], want[3];
    for (int off = 0; off < 2; off++) {
        SetInkBoxesOff(off);
        long before = InkBoxCells();
        auto &out = off ? want : got;
        wide(false);
        QVH_RunFrames(1);
        out[0] = picture();
        QVH_RunFrames(2);
        out[1] = picture();
        wide(true);
        QVH_RunFrames(1);
        out[2] = picture();
        if (!off) EXPECT_GT(InkBoxCells() - before, 20) << "no glyph was drawn as its ink box";
        else EXPECT_EQ(InkBoxCells(), before);
    }
    SetInkBoxesOff(0);
    const char *when[3] = {"laid out", "kept", "kept, drawn smaller"};
    for (int k = 0; k < 3; k++) {
        int differ = 0, worst = 0, wx = 0, wy = 0;
        for (int i = 0; i < 200 * 150 * 4; i++) {
            int d = abs((int)got[k][(size_t)i] - (int)want[k][(size_t)i]);
            differ += d > 0;
            if (d > worst) worst = d, wx = i / 4 % 200, wy = i / 4 / 200;
        }
        EXPECT_LE(worst, 1) << when[k] << ": " << differ << " channels differ, the most by " << worst << " at x " << wx
                            << ", y " << wy << " (" << glGetString(GL_RENDERER) << ")";
    }
}

// A shared text whose block holds no terminating NUL (written over, or
// made by a faulty producer) is not drawn at all: the display never reads
// past the block. With its NUL back it draws.
TEST_F(Unicode, Text_SharedBufferWithoutItsEndIsNotDrawn) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "M", 20, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    size_t block = QVF_GetArenaBlockSize(e->data.text.buff);
    ASSERT_GE(block, 2u);
    char *b = e->data.text.buff;
    memset(b, 'M', block);
    QVH_RunFrames(1);
    EXPECT_EQ(ink(0, 0, 199, 149), 0) << "a text without its end is drawn";
    b[3] = 0;
    QVH_RunFrames(1);
    EXPECT_GT(ink(18, 38, 199, 85), 100) << "MMM";
}

TEST_F(Unicode, Fallback_CjkFromAnotherFontAndTheMissingBox) {
    if (!have_cjk()) GTEST_SKIP() << kCjkFile << " is missing (scripts/setup installs fonts-wqy-microhei)";
    QVP_CANVAS_FONTDEF *cjk = font("cjk", kCjkFile);
    QVP_CANVAS_FONTDEF *latin = font("latin", "", "cjk");
    ASSERT_TRUE(cjk && latin);
    // 你 from the fallback's face, "A" from the Latin font's table.
    float ni = dx(cjk, 0x4F60);
    ASSERT_GT(ni, 0.5f);
    EXPECT_NEAR(measure(latin, "A\xe4\xbd\xa0"), dx(latin, 'A') + ni, 1e-5);
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "\xe4\xbd\xa0\xe5\xa5\xbd", 20, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    e->data.text.pfont = latin;
    QVH_LogClear();
    QVH_RunFrames(2);
    int w = (int)(ni * 40);
    EXPECT_GT(ink(21, 42, 20 + w - 2, 78), 80) << "you";
    EXPECT_GT(ink(20 + w + 2, 42, 20 + 2 * w - 2, 78), 80) << "good";
    EXPECT_FALSE(log_has("no glyph"));
    // Without a fallback the default font draws its missing-glyph box,
    // and says so once, however many frames draw it.
    e->data.text.pfont = font_;
    QVH_RunFrames(3);
    EXPECT_GT(ink(20, 40, 60, 80), 20) << "the box is drawn";
    int n = 0;
    for (int i = 0; i < QVH_LogCount(); i++) n += strstr(QVH_LogGet(i)->text, "no glyph for U+4F60") != nullptr;
    EXPECT_EQ(n, 1);
}

// 2026-12-08: a font first drawn as another font's fallback was made
// without a fallback of its own, for the life of the process, so it drew
// its own CJK as boxes; drawn the other way round, fallbacks chained.
// They chain, in either order: "lat" takes 你 from "cjk", and so does
// "lat2" (-fallback lat) through "lat".
TEST_F(Unicode, Fallback_ChainsWhicheverFontIsDrawnFirst) {
    if (!have_cjk()) GTEST_SKIP() << kCjkFile << " is missing (scripts/setup installs fonts-wqy-microhei)";
    QVP_CANVAS_FONTDEF *cjk = font("cjk", kCjkFile);
    QVP_CANVAS_FONTDEF *lat = font("lat", "", "cjk");
    QVP_CANVAS_FONTDEF *lat2 = font("lat2", "", "lat");
    ASSERT_TRUE(cjk && lat && lat2);
    const char *ni = "\xe4\xbd\xa0";
    for (int lat2_first = 0; lat2_first < 2; lat2_first++) {
        ResetGlyphStore();
        if (lat2_first) measure(lat2, ni);
        double via_lat = measure(lat, ni), via_lat2 = measure(lat2, ni);
        EXPECT_NEAR(via_lat, dx(cjk, 0x4F60), 1e-5) << (lat2_first ? "lat2 drawn first" : "lat drawn first");
        EXPECT_NEAR(via_lat2, dx(cjk, 0x4F60), 1e-5) << "through lat's fallback";
        EXPECT_LT(measure(font_, ni), via_lat - 0.1) << "the default font, without a fallback, draws the smaller box";
    }
}

// 2026-12-08: only the first 32 missing codes of a font were ever named.
// Each is named once, up to 256 codes; then one line says more are
// missing, and nothing more is logged however the texts change.
TEST_F(Unicode, Missing_EachCodeNamedOnceThenOneLine) {
    std::string text;
    for (uint32_t cp = 0x30000; cp < 0x30000 + 300; cp++)
        for (int twice = 0; twice < 2; twice++) {
            text += (char)(0xF0 | (cp >> 18));
            text += (char)(0x80 | ((cp >> 12) & 0x3F));
            text += (char)(0x80 | ((cp >> 6) & 0x3F));
            text += (char)(0x80 | (cp & 0x3F));
        }
    QVH_LogClear();
    measure(font_, text.c_str());
    measure(font_, text.c_str());
    int named = 0, more = 0;
    for (int i = 0; i < QVH_LogCount(); i++) {
        named += strstr(QVH_LogGet(i)->text, "no glyph for U+3") != nullptr;
        more += strstr(QVH_LogGet(i)->text, "more codes have no glyph") != nullptr;
    }
    EXPECT_EQ(named, 256);
    EXPECT_EQ(more, 1);
}

// A heap that runs out at any point of a frame, in the way of SQLite's
// fault simulation: the 1st, 2nd, ... allocation of a frame that makes a
// glyph store, its slots, a page and a kept text is refused in turn.
// Each time the frame ends with the canvas lock free, and the next frame,
// with memory back, draws the text whole.
TEST_F(Unicode, Faults_EveryAllocationOfAFrameRefusedInTurn) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    text(c, "\xd0\x96\xce\xa9 \xd0\x96", 20, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    int whole = ink(0, 35, 199, 85);
    ASSERT_GT(whole, 100);
    int refused = 0;
    for (int nth = 0; nth < 64; nth++) {
        ResetGlyphStore();
        SetKeptTextBounds(0, 0);
        plugin_realloc_passes = nth;
        plugin_realloc_refusals = 1;
        QVH_RunFrames(1);
        bool reached = plugin_realloc_refusals == 0;
        plugin_realloc_refusals = plugin_realloc_passes = 0;
        EXPECT_EQ(pprocinfo->is_locked, 0) << "allocation " << nth << " refused";
        QVH_RunFrames(1);
        EXPECT_EQ(ink(0, 35, 199, 85), whole) << "the frame after allocation " << nth << " was refused";
        if (!reached) break;  // the frame makes fewer allocations than that
        refused++;
    }
    EXPECT_GE(refused, 3) << "the frame's allocations were reached";
}

TEST_F(Unicode, Kerning_PairsNarrowerUnlessTurnedOff) {
    QVP_CANVAS_FONTDEF *plain = font("plain", "", "", false);
    ASSERT_NE(plain, nullptr);
    double pair = dx(font_, 'A') + dx(font_, 'V');
    EXPECT_LT(measure(font_, "AV"), pair - 0.02) << "the face kerns A and V";
    EXPECT_NEAR(measure(plain, "AV"), pair, 1e-5);
    // Pairs without kerning keep their advances, also those that share
    // a glyph with a kerned pair asked just before.
    EXPECT_NEAR(measure(font_, "HH"), 2 * dx(font_, 'H'), 1e-5);
    EXPECT_NEAR(measure(font_, "AH"), dx(font_, 'A') + dx(font_, 'H'), 1e-5);
    EXPECT_NEAR(measure(font_, "HV"), dx(font_, 'H') + dx(font_, 'V'), 1e-5);
    EXPECT_LT(measure(font_, "AV"), pair - 0.02);
    // Drawn: the kerned "AV" ends where it was measured.
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    text(c, "AV", 20, 40, 60, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    int kerned = (int)(measure(font_, "AV") * 60);
    EXPECT_EQ(ink(20 + kerned + 3, 40, 199, 100), 0);
}

TEST_F(Unicode, BadInput_DrawsWhatItCanAndNeverReadsPastTheText) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    const char *bad[] = {"\xc0\xaf\xe0\x80\xaf", "\xed\xa0\x80x\xed\xbf\xbf", "a\xc0\x80" "b", "\xf4\x90\x80\x80",
                         "\xe4\xbd", "\xff\xfe\xfd", "\xf0\x9f\x98"};
    for (const char *s : bad) text(c, s, 10, 20, 10, ANCHOR_COL_START | ANCHOR_ROW_START, 0.5f);
    // Tcl's NUL takes no room: "a\xc0\x80b" is as wide as "ab".
    EXPECT_NEAR(measure(font_, "a\xc0\x80" "b"), dx(font_, 'a') + dx(font_, 'b'), 1e-5);
    // A megabyte of mixed text on one element.
    std::string big;
    while (big.size() < (1u << 20)) big += "x\xce\xa9\xe4\xbd\xa0\t\n";
    text(c, big.c_str(), 0, 0, 1, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    EXPECT_EQ(pprocinfo->is_locked, 0);
    double cols = measure(font_, big.c_str());
    EXPECT_GT(cols, 4.0);
    EXPECT_LT(cols, 10.0) << "one short line, many times";
    // A megabyte of one line mixing directions: shaped in runs of at most
    // QVP_SHAPE_MOST codes, the kept runs within their bounds.
    std::string mixed;
    while (mixed.size() < (1u << 20)) mixed += "ab \xd7\xa9\xd7\x9c 12 \xd9\x85\xd8\xb1 ";
    text(c, mixed.c_str(), 0, 50, 1, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    EXPECT_EQ(pprocinfo->is_locked, 0);
    ShapeCacheStats st = GetShapeCacheStats();
    EXPECT_LE(st.bytes, st.most_bytes);
    EXPECT_GT(measure(font_, mixed.c_str()), 1000.0);
}

// Steady frames of shaped text (Arabic, Hebrew, Devanagari and colour
// emoji where their fonts are installed, CJK through a fallback) shape
// nothing and allocate nothing, with a box (laid out every frame) and
// without (kept).
TEST_F(Unicode, Frame_SteadyFramesOfEveryScriptAllocateNothing) {
    QVP_CANVAS_FONTDEF *f = font_;
    std::string chain;
    if (noto("emoji", "NotoColorEmoji.ttf")) chain = "emoji";
    if (noto("deva", "NotoSansDevanagari-Regular.ttf", chain)) chain = "deva";
    if (noto("arab", "NotoSansArabic-Regular.ttf", chain)) chain = "arab";
    if (have_cjk() && font("cjk0", kCjkFile, chain)) chain = "cjk0";
    if (!chain.empty()) f = font("latin", "", chain);
    ASSERT_NE(f, nullptr);
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    const char *mixed = "Gr\xc3\xbc\xc3\x9f" "e \xce\x9a\xce\xb1\xce\xbb \xd0\x9f\xd1\x80 \xe4\xbd\xa0 AV "
                        "\xd8\xb3\xd9\x84\xd8\xa7\xd9\x85 \xd7\xa9\xd7\x9c \xe0\xa4\x95\xe0\xa4\xbf "
                        "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd";
    for (float bg : {-1.0f, 0.3f}) {
        QVP_CANVAS_ELEMENT *e = text(c, mixed, 100, bg < 0 ? 40 : 100, 12, 0, bg);
        e->data.text.pfont = f;
    }
    QVH_RunFrames(3);
    long shaped = GetShapeCacheStats().shaped;
    QVH_RunFrames(3);
    EXPECT_EQ(GetShapeCacheStats().shaped, shaped) << "steady frames shape nothing";
    if (!AllocWatchWorks()) GTEST_SKIP() << "the sanitizer owns malloc";
    AllocWatchStart();
    QVH_RunFrames(5);
    AllocReport r = AllocWatchStop();
    EXPECT_EQ(r.project, 0) << r.project_stacks;
}

// 2026-12-07: the plugin took its cache and page texture names from
// glGenTextures, which hands out names above the first font's once that
// is bound: a font made later was given the same name, and its glyphs
// and the image overwrote each other.
TEST_F(Unicode, TextureNames_PluginTexturesNeverTakeAFontsName) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    text(c, "\xce\xa9", 10, 10, 20, ANCHOR_COL_START | ANCHOR_ROW_START);  // the default font and a glyph page
    QVH_RunFrames(1);
    QVP_CANVAS_FONTDEF *later = font("later", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf");
    ASSERT_NE(later, nullptr);
    const QVP_GLYPH *omega = FontExtraGlyph(font_, 0x3A9);
    ASSERT_NE(omega, nullptr);
    EXPECT_NE(omega->tex, (GLuint)later->tex_obj) << "the page and the later font share a texture";
    // The later font's Omega and the first one's both draw.
    QVP_CANVAS_ELEMENT *e = text(c, "\xce\xa9", 110, 10, 20, ANCHOR_COL_START | ANCHOR_ROW_START);
    e->data.text.pfont = later;
    QVH_RunFrames(1);
    EXPECT_GT(ink(10, 12, 30, 28), 20);
    EXPECT_GT(ink(110, 12, 130, 28), 20);
}

}  // namespace

namespace {

std::string utf8(uint32_t cp) {
    std::string s;
    if (cp < 0x80) s += (char)cp;
    else if (cp < 0x800) s += {(char)(0xC0 | cp >> 6), (char)(0x80 | (cp & 0x3F))};
    else if (cp < 0x10000)
        s += {(char)(0xE0 | cp >> 12), (char)(0x80 | (cp >> 6 & 0x3F)), (char)(0x80 | (cp & 0x3F))};
    else
        s += {(char)(0xF0 | cp >> 18), (char)(0x80 | (cp >> 12 & 0x3F)), (char)(0x80 | (cp >> 6 & 0x3F)),
              (char)(0x80 | (cp & 0x3F))};
    return s;
}

}  // namespace

// A glyph store at its bound, with a text that changes every frame: each
// code the face maps takes one slot and one atlas cell the first time it
// is drawn and nothing after, and the index stays at most half full.
// Regression (2026-12-07): every code the face did not map took a slot
// and an atlas cell of its own, so a text of ever new unmapped codes grew
// the store without end; they now share one missing box.
TEST_F(Unicode, Bounds_GlyphStoreHoldsEachCodeOnceWhateverTheText) {
    if (!have_cjk()) GTEST_SKIP() << kCjkFile << " is missing (scripts/setup installs fonts-wqy-microhei)";
    QVP_CANVAS_FONTDEF *cjk = font("cjk", kCjkFile);
    ASSERT_NE(cjk, nullptr);
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "x", 0, 0, 8, ANCHOR_COL_START | ANCHOR_ROW_START);
    e->data.text.pfont = cjk;
    // Shows N codes from FIRST for one frame, the element edited as an
    // editor would.
    auto show = [&](uint32_t first, int n) {
        qvpc::ElementDesc d = qvpc::DescOf(e);
        d.text.clear();
        for (int i = 0; i < n; i++) d.text += utf8(first + (uint32_t)i);
        std::string err;
        e = qvpc::ConfigureElement(c, e, d, err);
        ASSERT_NE(e, nullptr) << err;
        QVH_RunFrames(1);
    };
    const int frames = 50, per = 40;
    for (int f = 0; f < frames; f++) show(0x4E00 + (uint32_t)(per * f), per);
    GlyphStoreStats full = GetGlyphStoreStats(cjk);
    EXPECT_EQ(full.slots_used, frames * per) << "one slot per code drawn";
    EXPECT_LE(2 * full.slots_used, full.slot_cap) << "at most half full";
    EXPECT_GE(full.pages, 1);
    for (int f = frames - 1; f >= 0; f--) show(0x4E00 + (uint32_t)(per * f), per);
    GlyphStoreStats again = GetGlyphStoreStats(cjk);
    EXPECT_EQ(again.slots_used, full.slots_used) << "codes drawn before add nothing";
    EXPECT_EQ(again.pages, full.pages);
    // 2,000 codes of a private-use plane the face does not map, new every
    // frame: one missing box, no slot, no page, and the log names the
    // first 256 codes only.
    QVH_LogClear();
    for (int f = 0; f < frames; f++) show(0xF0000 + (uint32_t)(per * f), per);
    GlyphStoreStats unmapped = GetGlyphStoreStats(cjk);
    EXPECT_EQ(unmapped.slots_used, full.slots_used);
    EXPECT_EQ(unmapped.slot_cap, full.slot_cap);
    EXPECT_EQ(unmapped.pages, full.pages);
    EXPECT_EQ(unmapped.has_missing, 1);
    int lines = 0;
    for (int i = 0; i < QVH_LogCount(); i++) lines += strstr(QVH_LogGet(i)->text, "no glyph for") != nullptr;
    EXPECT_LE(lines, 256);
}

namespace {

// Right to left: a Hebrew line reads from the right, its number in its
// own order, its brackets mirrored; in a Latin line the Hebrew word is
// reversed in place. Anchored at colstart, the line's ink begins at the
// anchor whatever the direction.
TEST_F(Unicode, Bidi_RightToLeftLinesInDisplayOrder) {
    QVP_CANVAS_FONTDEF *hebr = noto("hebr", "NotoSansHebrew-Regular.ttf");
    if (!hebr) GTEST_SKIP() << "fonts-noto-core is missing (scripts/setup installs it)";
    QVP_CANVAS_FONTDEF *f = font("lat", "", "hebr");
    // shin, space, (alef), space, 123: the first strong code is Hebrew.
    std::vector<QVP_ITEM> v = items(f, "\xd7\xa9 (\xd7\x90) 123");
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[0].g.index, gid(f, '1'));
    EXPECT_EQ(v[1].g.index, gid(f, '2'));
    EXPECT_EQ(v[2].g.index, gid(f, '3'));
    EXPECT_EQ(v[4].g.index, gid(f, '(')) << "the closing bracket, mirrored, opens on the left";
    EXPECT_EQ(v[5].g.index, gid(f, 0x5D0));
    EXPECT_EQ(v[6].g.index, gid(f, ')'));
    EXPECT_EQ(v[8].g.index, gid(f, 0x5E9)) << "the first letter is on the right";
    // A Latin line: "ab" then the word shin-lamed-vav reversed.
    v = items(f, "ab \xd7\xa9\xd7\x9c\xd7\x95");
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].g.index, gid(f, 'a'));
    EXPECT_EQ(v[3].g.index, gid(f, 0x5D5));
    EXPECT_EQ(v[5].g.index, gid(f, 0x5E9));
    // Each line has its own direction.
    v = items(f, "\xd7\xa9 1\nx \xd7\xa9");
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[0].g.index, gid(f, '1'));
    EXPECT_EQ(v[3].kind, QVP_ITEM_NEWLINE);
    EXPECT_EQ(v[4].g.index, gid(f, 'x'));
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d", 40, 40, 30, ANCHOR_COL_START | ANCHOR_ROW_START);
    e->data.text.pfont = f;
    QVH_RunFrames(1);
    EXPECT_EQ(ink(0, 30, 37, 80), 0) << "nothing left of the anchor";
    EXPECT_GT(ink(40, 30, 50, 80), 5) << "the ink starts at the anchor";
}

// Shaping: Arabic letters take their joined forms, a Devanagari vowel
// sign goes before its consonant and a conjunct is one glyph, and the
// advances are the shaped ones.
TEST_F(Unicode, Shaping_ArabicJoinsIndicReorders) {
    QVP_CANVAS_FONTDEF *arab = noto("arab", "NotoSansArabic-Regular.ttf");
    QVP_CANVAS_FONTDEF *deva = noto("deva", "NotoSansDevanagari-Regular.ttf");
    if (!arab || !deva) GTEST_SKIP() << "fonts-noto-core is missing (scripts/setup installs it)";
    uint32_t beh = gid(arab, 0x628);
    std::vector<QVP_ITEM> v = items(arab, "\xd8\xa8");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].g.index, beh) << "a lone letter is in its isolated form";
    v = items(arab, "\xd8\xa8\xd8\xa8\xd8\xa8");
    ASSERT_EQ(v.size(), 3u);
    for (int i = 0; i < 3; i++) EXPECT_NE(v[i].g.index, beh) << "letter " << i << " is joined";
    EXPECT_NE(v[0].g.index, v[2].g.index) << "final and initial forms differ";
    double joined = measure(arab, "\xd8\xa8\xd8\xa8\xd8\xa8"), sum = 0;
    for (const QVP_ITEM &it : v) sum += it.adv;
    EXPECT_NEAR(joined, sum, 1e-5) << "the measure is the shaped advances";
    EXPECT_LT(joined, 3 * measure(arab, "\xd8\xa8") - 0.05) << "joined forms are narrower";
    // ka + vowel sign i: the sign is drawn first.
    v = items(deva, "\xe0\xa4\x95\xe0\xa4\xbf");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_NE(v[0].g.index, gid(deva, 0x915));
    EXPECT_EQ(v[1].g.index, gid(deva, 0x915));
    // ka + virama + ssa: one conjunct glyph.
    EXPECT_EQ(items(deva, "\xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7").size(), 1u);
}

// Combining marks draw on their base: "e" + U+0301 is "é" (the font's own
// precomposed glyph), "q" + U+0301 puts the mark above the q, and a mark
// stays with its base's font even where the fallback also has it.
TEST_F(Unicode, Shaping_CombiningMarksSitOnTheirBase) {
    EXPECT_NEAR(measure(font_, "e\xcc\x81"), dx(font_, 0xE9), 1e-5);
    std::vector<QVP_ITEM> v = items(font_, "q\xcc\x81");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].g.index, gid(font_, 'q'));
    EXPECT_NEAR(v[1].adv, 0.0f, 1e-6) << "the mark takes no room";
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    text(c, "q", 20, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    text(c, "q\xcc\x81", 120, 40, 40, ANCHOR_COL_START | ANCHOR_ROW_START);
    QVH_RunFrames(1);
    // Above the q's x-height (rows 40..52 of a 40-row line).
    EXPECT_EQ(ink(15, 40, 60, 50), 0) << "the bare q";
    EXPECT_GT(ink(115, 40, 160, 50), 10) << "the accent over the q";
    QVP_CANVAS_FONTDEF *thai = noto("thai", "NotoSansThai-Regular.ttf");
    if (!thai) return;
    QVP_CANVAS_FONTDEF *f = font("lat", "", "thai");
    // ko kai + sara ii + mai ek: three glyphs in Thai's face, two marks.
    v = items(f, "\xe0\xb8\x81\xe0\xb8\xb5\xe0\xb9\x88");
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].g.index, gid(thai, 0xE01));
    EXPECT_NEAR(v[1].adv + v[2].adv, 0.0f, 1e-6);
    EXPECT_GT(v[1].g.tex, 0u) << "the marks draw";
}

// Colour emoji: Noto Color Emoji (bitmap strikes only) loads, sequences
// come out of the shaper as one glyph, the glyphs keep their own colours
// under a red fill, and opacity still applies.
TEST_F(Unicode, Emoji_ColourGlyphsSequencesAndOpacity) {
    QVP_CANVAS_FONTDEF *emoji = noto("emoji", "NotoColorEmoji.ttf");
    if (!emoji) GTEST_SKIP() << "fonts-noto-color-emoji is missing (scripts/setup installs it)";
    QVP_CANVAS_FONTDEF *f = font("lat", "", "emoji");
    const char *seqs[] = {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",  // thumb, medium skin tone
                          "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa",  // the flag of Germany
                          "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb",  // woman technologist
                          "\xf0\x9f\x98\x80"};  // grinning face, which DejaVu has in black
    for (const char *s : seqs) {
        std::vector<QVP_ITEM> v = items(f, s);
        ASSERT_EQ(v.size(), 1u) << s;
        EXPECT_TRUE(v[0].g.colour) << s;
        EXPECT_NE(v[0].g.index, 0u) << s;
    }
    // A colour font of one strike works at any size, down to the least.
    for (int px : {4, 256}) {
        qvpc::FontDesc d;
        d.name = "emoji" + std::to_string(px);
        d.file = std::string(kNoto) + "NotoColorEmoji.ttf";
        d.pixels = px;
        std::string err;
        QVP_CANVAS_FONTDEF *e = qvpc::CreateFont(d, err);
        ASSERT_NE(e, nullptr) << err;
        std::vector<QVP_ITEM> v = items(e, "\xf0\x9f\x98\x80");
        ASSERT_EQ(v.size(), 1u);
        EXPECT_TRUE(v[0].g.colour && v[0].g.tex) << px;
        EXPECT_NEAR(v[0].g.bh, 1.0f, 0.3f) << "scaled to the line at " << px << " px";
    }
    // U+1F7E5, a large red square: left half opaque, right half at 0.5.
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *sq = text(c, "\xf0\x9f\x9f\xa5", 20, 30, 80, ANCHOR_COL_START | ANCHOR_ROW_START);
    sq->data.text.pfont = f;
    QVP_CANVAS_ELEMENT *half = text(c, "\xf0\x9f\x9f\xa9", 110, 30, 80, ANCHOR_COL_START | ANCHOR_ROW_START);
    half->data.text.pfont = f;
    half->opacity = 0.5f;
    // The fill is blue: a tinted red square would come out black.
    sq->fcol[0] = half->fcol[0] = 0;
    sq->fcol[1] = half->fcol[1] = 0;
    QVH_RunFrames(1);
    unsigned char px[4];
    QVH_ReadPixel(20 + 35, 149 - 70, px);
    EXPECT_GT(px[0], 180) << "the red square is red";
    EXPECT_LT(px[2], 100);
    // U+1F7E9, the green square, at half opacity over black.
    QVH_ReadPixel(110 + 35, 149 - 70, px);
    EXPECT_LT(px[1], 160) << "half opacity";
    EXPECT_GT(px[1], 40);
    EXPECT_LT(px[0], px[1]) << "green";
}

// The kept shaped runs at their bound, with texts that change every
// frame: never more than 4,096 runs or 4 MiB, and a text shaped before
// that was let go is shaped again the same.
TEST_F(Unicode, Bounds_ShapedRunsWhenEveryTextChangesEveryFrame) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    std::vector<QVP_CANVAS_ELEMENT *> es;
    for (int i = 0; i < 50; i++) es.push_back(text(c, "x", 0, (float)i, 1, ANCHOR_COL_START | ANCHOR_ROW_START));
    std::vector<QVP_ITEM> first = items(font_, "AV run 0");
    for (int frame = 0; frame < 120; frame++) {
        for (int i = 0; i < 50; i++) {
            qvpc::ElementDesc d = qvpc::DescOf(es[(size_t)i]);
            d.text = "AV run " + std::to_string(frame * 50 + i) + std::string((size_t)(frame % 7) * 40, 'w');
            std::string err;
            es[(size_t)i] = qvpc::ConfigureElement(c, es[(size_t)i], d, err);
            ASSERT_NE(es[(size_t)i], nullptr) << err;
        }
        QVH_RunFrames(1);
        ShapeCacheStats st = GetShapeCacheStats();
        ASSERT_LE(st.entries, st.most);
        ASSERT_LE(st.bytes, st.most_bytes);
    }
    ShapeCacheStats st = GetShapeCacheStats();
    EXPECT_GE(st.shaped, 6000);
    EXPECT_GT(st.bytes, st.most_bytes / 2) << "the bound was reached";
    std::vector<QVP_ITEM> again = items(font_, "AV run 0");
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); i++) EXPECT_EQ(memcmp(&again[i], &first[i], sizeof first[i]), 0) << i;
}

}  // namespace

namespace {

// An ink mask cropped to its ink: W by H, 1 where a pixel is inked.
struct Mask {
    int w = 0, h = 0;
    std::vector<unsigned char> m;
};

// The ink (channel value above 127) of the W by H pixels PX (NCH
// channels each, rows top first), cropped to its bounding box.
Mask crop(const unsigned char *px, int w, int h, int nch) {
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (px[((size_t)y * w + x) * nch + (nch > 1 ? 1 : 0)] > 127 || px[((size_t)y * w + x) * nch] > 127) {
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
    Mask k;
    if (x1 < 0) return k;
    k.w = x1 - x0 + 1, k.h = y1 - y0 + 1;
    k.m.resize((size_t)k.w * k.h);
    for (int y = 0; y < k.h; y++)
        for (int x = 0; x < k.w; x++) {
            const unsigned char *p = px + ((size_t)(y0 + y) * w + x0 + x) * nch;
            k.m[(size_t)y * k.w + x] = p[0] > 127 || (nch > 1 && p[1] > 127);
        }
    return k;
}

// Intersection over union of A and B, B moved by up to 3 pixels each
// way for the best overlap (renderers round the pen differently).
double overlap(const Mask &a, const Mask &b) {
    double best = 0;
    for (int dy = -3; dy <= 3; dy++)
        for (int dx = -3; dx <= 3; dx++) {
            long both = 0, any = 0;
            int w = std::max(a.w, b.w + dx) + 3, h = std::max(a.h, b.h + dy) + 3;
            for (int y = -3; y < h; y++)
                for (int x = -3; x < w; x++) {
                    bool ia = x >= 0 && y >= 0 && x < a.w && y < a.h && a.m[(size_t)y * a.w + x];
                    int bx = x - dx, by = y - dy;
                    bool ib = bx >= 0 && by >= 0 && bx < b.w && by < b.h && b.m[(size_t)by * b.w + bx];
                    both += ia && ib;
                    any += ia || ib;
                }
            if (any) best = std::max(best, (double)both / (double)any);
        }
    return best;
}

class Scripts : public Unicode {
protected:
    // The display's ink of TEXT in F, one line of the font's own line
    // height in pixels (so glyphs are drawn at the font's pixel size).
    Mask shown(QVP_CANVAS_FONTDEF *f, const char *text) {
        const QVP_CANVAS_FONTEXT *x = QVP_FontExtension(f);
        QVP_CANVAS *c = canvas(("c" + std::to_string(n_++)).c_str(), LAYER_FOREGROUND, 0, 0, 0);
        QVP_CANVAS_ELEMENT *e = text_el(c, text, (float)x->line_px);
        e->data.text.pfont = f;
        QVH_RunFrames(1);
        std::vector<unsigned char> px(200 * 150 * 4);
        for (int y = 0; y < 150; y++)
            for (int xx = 0; xx < 200; xx++) QVH_ReadPixel(xx, 149 - y, &px[((size_t)y * 200 + xx) * 4]);
        std::string err;
        qvpc::DeleteCanvas(c, err);
        return crop(px.data(), 200, 150, 4);
    }
    QVP_CANVAS_ELEMENT *text_el(QVP_CANVAS *c, const char *s, float size) {
        return text(c, s, 4, 20, size, ANCHOR_COL_START | ANCHOR_ROW_START);
    }
    // Pillow's rendering of TEXT in FILE at PPEM, shaped through libraqm
    // or UNSHAPED; false when Pillow (or its raqm layout) is missing.
    bool reference(const std::string &file, int ppem, const char *text, bool unshaped, Mask *out) {
        std::string png = "/tmp/qvp-ref-" + std::to_string(getpid()) + ".png";
        std::vector<std::string> args = {"/usr/bin/python3", std::string(QVP_SOURCE_DIR) + "/tests/scripts/reference_text.py",
                                         file, std::to_string(ppem), text, png};
        if (unshaped) args.push_back("--unshaped");
        pid_t pid = spawn(args);
        if (pid < 0 || wait_child(pid, 30000) != 0) return false;
        int w = 0, h = 0;
        std::vector<unsigned char> rgba;
        std::string err;
        bool ok = qvpc::ReadPng(png, w, h, rgba, err);
        unlink(png.c_str());
        if (ok) *out = crop(rgba.data(), w, h, 4);
        return ok;
    }
    int n_ = 0;
};

// Each script as the display draws it against an independent renderer
// (Pillow through libraqm) of the same text in the same font at the same
// size, and against Pillow's unshaped layout (each code's own glyph in
// typed order): the display's ink must lie close to the shaped rendering
// and clearly closer to it than to the unshaped one.
TEST_F(Scripts, Reference_EachScriptMatchesAnIndependentShaper) {
    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    struct Case {
        const char *what, *file, *text;
        double margin;  // how much closer to the shaped rendering at least
    } cases[] = {
        {"Arabic", "NotoSansArabic-Regular.ttf", "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7", 0.1},
        {"Hebrew", "", "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d", 0.1},
        {"a mixed line with a number", "", "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 12", 0.1},
        {"Devanagari", "NotoSansDevanagari-Regular.ttf", "\xe0\xa4\x95\xe0\xa4\xbf\xe0\xa4\xa4\xe0\xa4\xbe\xe0\xa4\xac", 0.1},
        {"Thai", "NotoSansThai-Regular.ttf", "\xe0\xb8\x97\xe0\xb8\xb5\xe0\xb9\x88\xe0\xb8\x99\xe0\xb8\xb5\xe0\xb9\x88", 0.02},
        {"decomposed accents", "", "A\xcc\x81" "E\xcc\x80" "O\xcc\x82", 0.05},
    };
    int compared = 0;
    for (const Case &k : cases) {
        std::string file = k.file[0] ? std::string(kNoto) + k.file : dejavu;
        struct stat st;
        if (stat(file.c_str(), &st) != 0) continue;
        QVP_CANVAS_FONTDEF *f = font(("f" + std::to_string(compared++)).c_str(), file);
        ASSERT_NE(f, nullptr);
        Mask ours = shown(f, k.text), shaped, plain;
        ASSERT_GT(ours.w, 0) << k.what << " drew nothing";
        if (!reference(file, 32, k.text, false, &shaped) || !reference(file, 32, k.text, true, &plain))
            GTEST_SKIP() << "Pillow with libraqm is missing (scripts/setup installs python3-pil and libraqm0)";
        double to_shaped = overlap(ours, shaped), to_plain = overlap(ours, plain);
        EXPECT_GT(to_shaped, 0.7) << k.what << ": " << ours.w << "x" << ours.h << " against " << shaped.w << "x"
                                   << shaped.h;
        EXPECT_GT(to_shaped, to_plain + k.margin) << k.what << ": shaped " << to_shaped << ", unshaped " << to_plain;
        printf("%s: ink overlap %.3f with the shaped rendering, %.3f with the unshaped\n", k.what, to_shaped, to_plain);
    }
    if (!compared) GTEST_SKIP() << "fonts-noto-core is missing (scripts/setup installs it)";
}

}  // namespace
