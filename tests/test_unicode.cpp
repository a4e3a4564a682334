// test_unicode.cpp - text beyond 8 bits: UTF-8 decoding, glyphs drawn
// from a font's face outside its table, fallback fonts, kerning, bad
// byte sequences, and what a steady frame of such text costs.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "alloc_watch.h"
#include "render_fixture.h"

namespace {

const char *const kCjkFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

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
}

TEST_F(Unicode, Frame_SteadyFramesOfEveryScriptAllocateNothing) {
    // CJK through a fallback where the font is installed.
    QVP_CANVAS_FONTDEF *f = font_;
    if (have_cjk()) {
        ASSERT_NE(font("cjk0", kCjkFile), nullptr);
        f = font("latin", "", "cjk0");
        ASSERT_NE(f, nullptr);
    }
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e =
        text(c, "Gr\xc3\xbc\xc3\x9f" "e \xce\x9a\xce\xb1\xce\xbb \xd0\x9f\xd1\x80 \xe4\xbd\xa0\xe5\xa5\xbd AV", 100, 75, 12, 0,
             0.3f);
    e->data.text.pfont = f;
    QVH_RunFrames(2);
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
