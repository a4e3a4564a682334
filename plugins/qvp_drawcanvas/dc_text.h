/* dc_text.h - text: the glyph store (glyphs.cpp), shaped runs
 * (shaping.cpp), the font engine (font.cpp) and kept texts
 * (kept_text.cpp). */
#ifndef DC_TEXT_H
#define DC_TEXT_H

#include "dc_services.h"

/* ---- glyph store (glyphs.cpp) ---- */

/* The code point that starts at byte *I of zero-terminated S, *I moved
 * past it. UTF-8, with Tcl's two-byte U+0000 and its surrogate pairs in
 * three bytes each; a byte that starts no valid sequence (overlong, a
 * lone surrogate, cut short, 8-bit text) is its own Latin-1 code. Never
 * reads past the terminator. */
uint32_t NextCodePoint(const unsigned char *s, size_t *i);

/* A glyph ready to draw: the texture it lies in (0: it draws nothing),
 * its advance DX in font units, its texture corners (top left, bottom
 * right), and the box its quad covers: from (BX, BY) below and right of
 * the pen's top left, BW across and BH down, in font units (a table
 * glyph's box is its cell: 0, 0, DX, 1). A face glyph's box holds both
 * its advance cell and its ink, so marks and overhangs are not cut.
 * INDEX: its glyph index in its face; COLOUR: drawn in its own colours
 * (a colour page), not tinted by the text's. INK_BOX: where its ink is,
 * padded by what filtering of mipmap levels 0 and 1 reaches, as fractions
 * of its box (from s, from t, to s, to t; 0, 0, 1, 1 when not known);
 * TEXELS: its box's size in texels (0 for a table glyph). */
typedef struct QVP_GLYPH {
    GLuint tex;
    float dx;
    float tx1, ty1, tx2, ty2;
    float bx, by, bw, bh;
    uint32_t index;
    int ink;     /* some texel of its cell is not transparent */
    int colour;
    float ink_box[4];
    float texels[2];
} QVP_GLYPH;

/* A face a font draws from, as the glyph store holds it: the font, its
 * shaper (a HarfBuzz font at the font's pixel size), font units per
 * shaper unit, whether it kerns and whether its glyphs are in colour. */
typedef struct QVP_FACE {
    const QVP_CANVAS_FONTDEF *font;
    struct hb_font_t *shaper;
    double unit;
    int kerning;
    int colour;
} QVP_FACE;

/* Fonts a code is looked for in past the font drawn, along fallbacks. */
#define QVP_FALLBACK_DEPTH 4

/* The faces FONT draws from, its own first, then its chain of fallbacks
 * (each font's own, at most QVP_FALLBACK_DEPTH past FONT, a loop cut
 * where it meets a face already in FACES); at most MOST. 0 when FONT has
 * no face (no extension, or one that cannot be opened). */
int FontFaces(const QVP_CANVAS_FONTDEF *font, const QVP_FACE **faces, int most);

/* Glyph INDEX of FACE, rasterised into a page on first use (index 0:
 * the face's missing-glyph box). Null when it cannot be made. May bind a
 * page texture: call it outside glBegin/glEnd. */
const QVP_GLYPH *FaceGlyph(const QVP_FACE *face, uint32_t index);

/* Logs, once per code and font (up to a bound), that FACE's font has no
 * glyph for CP. */
void FaceNoteMissing(const QVP_FACE *face, uint32_t cp);

/* The glyph of CP, a code point outside FONT's table, from the first
 * face of FONT's chain that maps it, or FONT's missing-glyph box (logged
 * once per code). Null when FONT has no face or the glyph cannot be
 * made. As FaceGlyph, it may bind a page texture. */
const QVP_GLYPH *FontExtraGlyph(const QVP_CANVAS_FONTDEF *font, uint32_t cp);

/* 1 when some texel of the cell of table code CP of FONT (a font that
 * passed its checks) has alpha above 0, or when that is not known;
 * worked out once per code and process from the font's pixels. Sets BOX
 * to the ink box of the cell, as a QVP_GLYPH's INK_BOX. */
int FontTableInk(const QVP_CANVAS_FONTDEF *font, uint32_t cp, float box[4]);

/* With page texture TEX bound: makes its mipmaps if glyphs were added
 * since, and gives it these filters. Returns 1 for a colour page, else
 * 0 (also for textures that are not pages, which it leaves alone). */
int PrepareGlyphTexture(GLuint tex, GLint min_filter, GLint mag_filter);

/* ---- shaped text (shaping.cpp) ---- */

/* What a text lays out, item by item in display order: a glyph, a tab
 * or a line break. ADV: the pen's advance, XOFF/YOFF the glyph's offset
 * from the pen (YOFF upwards), in font units before the font's scale;
 * TABLE: the code whose cell in the font's own table G is, else -1;
 * MISSED: a glyph that should draw could not be had (memory). */
enum { QVP_ITEM_GLYPH, QVP_ITEM_TAB, QVP_ITEM_NEWLINE };
typedef struct QVP_ITEM {
    QVP_GLYPH g;
    float adv, xoff, yoff;
    int kind;
    int table;
    int missed;
} QVP_ITEM;

/* Walks a zero-terminated text's items. A font with a face has each
 * line's runs (split at tabs, and every QVP_SHAPE_MOST code points of a
 * long line) put in display order by the bidirectional algorithm, split
 * by face and script, and shaped; a font without one draws each code of
 * its table as it stands. Shaped runs are kept per process (bounded), so
 * a text shaped before is only looked up. */
#define QVP_SHAPE_MOST 1024
typedef struct QVP_TEXT_CURSOR {
    const QVP_CANVAS_FONTDEF *font;
    const unsigned char *str;
    size_t i;
    int faces;            /* the font has a face: items come from runs */
    int rtl;              /* the line's direction: its first strong code */
    int line_start;
    const QVP_ITEM *run;  /* the run being walked, and where */
    int run_n, run_k;
    int after;            /* the item after the run: tab, newline or none */
    int missed;           /* a run could not be had (memory) */
    QVP_ITEM one;         /* the item handed out when not from a run */
} QVP_TEXT_CURSOR;
void TextCursorStart(QVP_TEXT_CURSOR *c, const QVP_CANVAS_FONTDEF *font, const char *s);
const QVP_ITEM *TextCursorNext(QVP_TEXT_CURSOR *c);


/* ---- font engine (font.cpp) ---- */

/* The font glFontBegin bound, null when none (or when it was unusable). */
const QVP_CANVAS_FONTDEF *BoundFont(void);

void glFontBegin(QVP_CANVAS_FONTDEF *Font);
void glFontEnd(void);
void glFontScaledTextOut2D(char *String, double col, double row, double cscale, double rscale, float *bcol);
void glFontTextOut2D(char *String, double col, double row, float *bcol);
void glFontTextBBox2D(char *String, double *row_size, double *col_size);
void glFontTextOut(char *String, double x, double y, double z);



/* ---- kept texts (kept_text.cpp) ---- */

/* What a text's layout depends on: the string (its address and length;
 * its bytes are compared too), the font (record, texture, glyph table)
 * and the text's frame (origin, column and row steps, start column and
 * row, scales, advance factor, whether cells without ink are left out).
 * Zeroed before it is filled. */
typedef struct QVP_TEXT_KEY {
    const char *str;
    size_t len;
    const QVP_CANVAS_FONTDEF *font;
    GLuint font_tex;
    const void *char_list;
    double frame[15];
} QVP_TEXT_KEY;

/* Cells FIRST .. FIRST + CELLS - 1 of a kept text, drawn with TEX bound. */
typedef struct QVP_TEXT_RUN {
    GLuint tex;
    int first, cells;
} QVP_TEXT_RUN;

/* Floats of one kept cell: four corners of texture s, t and x, y, z
 * (GL_T2F_V3F). */
#define kKeptCellFloats 20

/* Where a text's ink boxes lie in its frame's plane: columns LO[0] to
 * HI[0] along the column step and rows LO[1] to HI[1] along the row step
 * from the frame's origin, and the shortest object length of a texel
 * across (SU) and down (SV) among their quads; OK 0: no ink boxes. */
typedef struct QVP_INK_AREA {
    int ok;
    double lo[2], hi[2];
    double su, sv;
} QVP_INK_AREA;

/* A text kept as it was laid out: its key and a copy of its string, its
 * quads and their runs in drawing order; FP fingerprints the key and the
 * string it was last seen with; INK where its quads are ink boxes (drawn
 * from it only while filtering there reads no mipmap level past 1). Only
 * a complete one is drawn. */
typedef struct QVP_KEPT_TEXT {
    QVP_TEXT_KEY key;
    uint64_t fp;
    char *text;
    int text_cap;
    float *quads;
    int cells, cell_cap;
    QVP_TEXT_RUN *runs;
    int nruns, run_cap;
    int frame;
    int complete;
    QVP_INK_AREA ink;
} QVP_KEPT_TEXT;

/* The complete kept text of KEY whose copy still reads as KEY's string,
 * or null. Then *RECORD is a slot to record KEY's layout into (emptied,
 * with the string copied) when KEY was seen with this string the last
 * time it was drawn, and null when it was not or no room can be made: a
 * text is kept from its second unchanged drawing, so texts that change
 * every frame cost a fingerprint, not a copy. */
const QVP_KEPT_TEXT *FindKeptText(const QVP_TEXT_KEY *key, QVP_KEPT_TEXT **record);

/* KeptTextAdd appends a run of CELLS cells of QUADS drawn with TEX to a
 * record (0 when it cannot: the caller then ends the record incomplete);
 * KeptTextDone ends a record, COMPLETE or not. */
int KeptTextAdd(QVP_KEPT_TEXT *t, GLuint tex, const float *quads, int cells);
void KeptTextDone(QVP_KEPT_TEXT *t, int complete);

/* Lets go of the texts not drawn in the last kKeptFramesIdle frames up
 * to FRAME; the scene update calls it once a frame. */
void AgeKeptTexts(int frame);

/* Lets go of the buffers of kept tessellations not drawn in the last
 * kTessFramesIdle frames up to FRAME, looking at a few slots each call;
 * the scene update calls it once a frame. */
void AgeTessellations(int frame);

/* Complete kept texts now; frees them all (a new context, page textures
 * gone). */
int KeptTextCount(void);
void ResetKeptTexts(void);

#endif
