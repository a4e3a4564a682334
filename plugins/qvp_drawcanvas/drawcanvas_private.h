/* drawcanvas_private.h - state and functions shared by the areas of the
 * qvp_drawcanvas plugin. One set of globals per display process. */
#ifndef DRAWCANVAS_PRIVATE_H
#define DRAWCANVAS_PRIVATE_H

#include <GL/gl.h>
#include <GL/glext.h>
#include <stdint.h>
#include <stddef.h>
#include <tcl.h>

#include "qvp_canvas.h"
#include "qvp_canvas_roots.h"
#include "qvp_double.h"
#include "qvp_os.h"
#include "tarn.h"

/* Source name of every log line of the plugin. */
#define QVP_SOURCE "qvp_drawcanvas"

/* Texts with values are formatted into buffers of this size. */
#define QVP_TEXT_BUF 300

/* Node type bits that keep every canvas on such a node from being drawn
 * (the host's marks of nodes that are not shown as geometry). */
#define kNodeTypesNeverShown 0x30000000

/* Frame buffers of every video element, the size of its frames[] ring. */
#define QVP_VIDEO_FRAMES 6

/* Slots of each texture cache (images, video, offscreen canvases). */
#define QVP_CACHE_SLOTS 10

/* ---- process state and services (services.cpp; set up by plugin.cpp) ---- */

extern QVS_TARN *tarn;
extern QVS_TARN_FEATURES *tarn_features;
extern QVP_CANVAS_INFO *pinfo;
extern QVP_CANVAS_PROC_INFO *pprocinfo;
extern QVS_DOUBLE_DATA *double_data;
extern GLint stencil_bits;
extern int max_image_objs;
extern int max_video_objs;
extern int max_canvas_objs;
extern int draw_canvas;
extern int draw_scene;
extern int draw_background;
extern int draw_foreground;
extern int *doing_internal_pass;
extern GLuint canvas_fbo;

void LockCanvasInfo(void);
void UnlockCanvasInfo(void);

/* realloc for the plugin's own growing tables: the one place where the
 * plugin asks for memory. */
void *PluginRealloc(void *p, size_t size);

/* A texture name for the plugin's own textures (caches, glyph pages),
 * below the names fonts are given (QVP_CANVAS_FIRST_TEX_OBJ and up).
 * glGenTextures cannot be used for them: once a font's name is bound it
 * hands out names above it, which later fonts are given too. */
GLuint NewTextureName(void);

/* Checks on what shared records claim.
 * SharedBlockHolds: 1 when record OWNER may read BYTES at P. A record
 * that is an arena block reads only from live arena blocks at least that
 * large, so that a payload read as another type than it was made for
 * (a type changed under it) meets no wild pointer; a record made outside
 * the arena is trusted, unless P starts an arena block that is smaller.
 * SharedStringFits: 1 when string S of OWNER ends inside its arena block,
 * or lies outside the arena with an owner outside it too.
 * TextureSizeFits: 1 when a W x H texture lies in 1..GL's maximum size on
 * both axes. */
int SharedBlockHolds(const void *owner, const void *p, size_t bytes);
int SharedStringFits(const void *owner, const char *s);
int TextureSizeFits(int w, int h);

/* The current display's run time; 0 without a display. */
double DisplayRunTime(void);

/* The current GL colour as the plugin last set it; inside an open
 * drawing state (canvas_frame.cpp), where no host code runs, a colour
 * equal to it is not sent again (each glColor outside glBegin costs Mesa
 * a flush). Forgotten whenever the drawing state is pushed or popped,
 * since the pop brings back a colour the plugin did not set; outside it
 * every colour is sent. */
extern float tracked_colour[4];
extern int colour_known;
extern int set_drawing_state;
inline void SetColour(float r, float g, float b, float a) {
    if (colour_known && set_drawing_state > 0 && tracked_colour[0] == r && tracked_colour[1] == g && tracked_colour[2] == b &&
        tracked_colour[3] == a)
        return;
    QVF_StateColor4f(r, g, b, a);
    tracked_colour[0] = r, tracked_colour[1] = g, tracked_colour[2] = b, tracked_colour[3] = a;
    colour_known = 1;
}
inline void ForgetColour(void) { colour_known = 0; }

/* The font texture whose filters a text element set last and whether
 * they were the smooth ones; a text of the same font and smoothness sets
 * none again. Filters are the texture's own state, which no pop of a
 * drawing state gives back: kept across drawing states, forgotten when
 * the font is uploaded again and by ResetServices. */
extern GLuint filtered_tex;
extern int filtered_smooth;
/* The 2-D texture the plugin bound last and whether it is still bound;
 * inside an open drawing state a bind of the bound texture is not sent
 * again. Every bind of the plugin goes through BindTexture2D. */
extern GLuint tracked_texture;
extern int texture_known;
inline void BindTexture2D(GLuint tex) {
    if (texture_known && set_drawing_state > 0 && tracked_texture == tex) return;
    QVF_StateBindTexture2D(tex);
    tracked_texture = tex;
    texture_known = 1;
}
inline void ForgetTrackedState(void) {
    colour_known = 0;
    texture_known = 0;
}

/* The last stencil value a layer-pass canvas marked with since the
 * stencil was last cleared by the plugin; 0 when the stencil may hold
 * anything (ForgetStencil: after every hand-over to the host, which may
 * clear or draw into it, and after the view pass's marks). */
extern int stencil_ref;
inline void ForgetStencil(void) { stencil_ref = 0; }

/* The host's own step of the phase in progress (QVF_ExecuteCore), after
 * which the stencil is not the plugin's any more. */
void ExecuteCoreForgettingStencil(void);

/* A cache size as asked (a plugin option) held to 0..QVP_CACHE_SLOTS. */
int CacheSlotsInUse(int asked);

/* ---- plugin frame (plugin.cpp) ---- */

int DRAWCANVAS_cmd(ClientData cd, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);

/* ---- frame passes (passes.cpp, mapping.cpp) ---- */

void UpdateScene(void);
void UpdateView(void);
void UpdateChannel(void);
void DrawBackground(void);
void DrawScene(void);
void DrawForeground(void);
void DrawView(void);


/* ---- canvas-to-display mapping (mapping.cpp) ---- */

/* 1-based place of QVV_channel in the display's channel list; 0 when it
 * is not there. */
int ChannelNumber(void);

/* Draw mapped canvas PCAN over the current GL viewport (set by the
 * caller, with the 0..1 orthographic projection), its axes adapted by
 * its scale mode to the viewport's or the channel's reference size and
 * restored bit for bit afterwards. The channel variant draws with no
 * current viewport. A zero size on either side draws nothing. */
void DrawCanvasViewport(QVP_CANVAS *pcan, int use_depth);
void DrawCanvasChannel(QVP_CANVAS *pcan, int use_depth);

/* ---- canvas renderer (canvas.cpp) ---- */

/* Draws one canvas in depth mode USE_DEPTH (0 plain, 1 layer pass, 2 and
 * 3 the view pass's drawing and marking). The caller holds the canvas
 * lock and has loaded the canvas's base frame into the modelview. */
void DrawCanvas(QVP_CANVAS *pcan, int use_depth);

/* DrawCanvas of canvas PCAN as RECORD describes it (a process-local copy
 * with some fields changed for this draw); PCAN is who is being drawn. */
void DrawCanvasAs(QVP_CANVAS *pcan, const QVP_CANVAS *record, int use_depth);


/* Canvases nest at most this deep below the one a pass draws. */
#define QVP_MAX_NESTING 16

/* 1 while PCAN is being drawn (it or a canvas it shows is in progress). */
int CanvasBeingDrawn(const QVP_CANVAS *pcan);

/* Number of canvases being drawn, one inside the other. */
int CanvasDrawDepth(void);

/* Loads the frame of a world (ID -1) or node-placed canvas into the
 * current GL matrix: the host's model-view, or MV*G of display node ID,
 * in double precision when the host offers it. */
void LoadCanvasBaseFrame(int id);

/* 1 when ID names a display node that is shown and of no excluded type. */
int CanvasNodeShown(int id);

/* The scale mode's factors for the x (HS) and y (VS) extent of a canvas
 * drawn at W x H pixels whose layout was made for a reference size of
 * DW x DH: fixed keeps the reference's proportions on both axes, height
 * fits the height (x follows it), width fits the width; any other mode
 * stretches (1, 1). In the precision T the caller computes in (the
 * mapped overlays in float, the screen lock in double). */
template <class T>
void ScaleModeFactors(int mode, T dw, T w, T dh, T h, T &hs, T &vs) {
    hs = vs = 1;
    if (mode == CANVAS_SCALE_FIXED) {
        hs = dw / w;
        vs = dh / h;
    } else if (mode == CANVAS_SCALE_HEIGHT) {
        hs = (dw / w) * (h / dh);
    } else if (mode == CANVAS_SCALE_WIDTH) {
        vs = (dh / h) * (w / dw);
    }
}

/* ---- offscreen canvas textures (offscreen.cpp) ---- */

/* What the texture pass of one DrawCanvas call saved for its finish. */
typedef struct QVP_OFFSCREEN {
    GLfloat mview[16], proj[16];
    GLint prev_draw_fbo, prev_read_fbo;
    GLint cview[4];
    GLuint texid;
} QVP_OFFSCREEN;

/* Sets up the texture pass of curved node canvas PCAN (a process-local
 * copy of the record; KEY, the shared record, names its cache slot):
 * drawing goes into a cached texture, *USE_DEPTH becomes 0 and the copy
 * is rewritten to the unit square until the finish. Returns 1 when set up;
 * 0 when the canvas is to be drawn flat instead (no slot, no framebuffer
 * object, or inside another canvas's texture pass); -1 when it draws
 * nothing (a radius that is not positive). Nothing is changed unless 1. */
int OffscreenSetup(const QVP_CANVAS *key, QVP_CANVAS *pcan, int *use_depth, QVP_OFFSCREEN *os);

/* Puts back PREV_DISP, PREV_OPACITY and PREV_ANCHOR and the GL state OS
 * saved, and draws the texture onto the canvas's surface. */
void OffscreenFinish(QVP_CANVAS *pcan, const QVP_CANVAS_DISPLAYDEF *prev_disp, float prev_opacity, int prev_anchor,
                     int prev_use_depth, const QVP_OFFSCREEN *os);


extern GLuint canvas_ids[QVP_CACHE_SLOTS];
extern const QVP_CANVAS *canvas_ptrs[QVP_CACHE_SLOTS];
extern int canvas_sizes[QVP_CACHE_SLOTS][2];
extern double canvas_times[QVP_CACHE_SLOTS];

/* ---- element renderer (element.cpp, shapes.cpp, media.cpp, nested.cpp) ---- */

/* Draws one element of PCAN inside PCAN's open canvas frame: its
 * effective opacity, the blend bracket, then the kind's drawing below. */
void DrawCanvasElement(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm);

/* What every kind uses: colour C times the canvas gain with OPACITY as
 * alpha, and element point (X, Y) through the element's scale and
 * offset as a canvas vertex. */
void ElementColour(const QVP_CANVAS *pcan, const float *c, float opacity);
inline void ElementVertex(const QVP_CANVAS_ELEMENT *pelm, double x, double y);  /* below, after glColRow */

/* Each kind of element at the effective OPACITY (shapes.cpp: polylines,
 * rectangles, circles, arcs, polygons; media.cpp: images and video;
 * nested.cpp: canvas elements). */
void DrawLine(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawRectangle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawCircle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawArc(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawPolygon(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawImage(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawVideo(QVP_CANVAS_ELEMENT *pelm, float opacity);
void DrawNested(QVP_CANVAS_ELEMENT *pelm, float opacity);

/* Empty the polygon vertex buffer and tessellation cache, the image and
 * video caches, and the nested-draw budget (ResetElementCaches: all three). */
void ResetShapeCaches(void);
void ResetMediaCaches(void);
void ResetNestedBudget(void);

/* Loads the scene's projection (in the precision the host offers) and an
 * identity model-view, and sets the GL viewport to the current viewport's
 * rectangle when there is one (passes.cpp). */
void LoadSceneProjection(void);

/* Copies video element PELM's cur_frame into the first cache slot that
 * holds PELM; nothing when none does. The caller holds the canvas lock
 * (media.cpp, beside the video cache it writes). */
void LatchVideoFrame(QVP_CANVAS_ELEMENT *pelm);

/* Picks the slot for a drawing among the first N of a texture cache: the
 * slot MATCH accepts (a hit, *HIT set), else a free one (texture name
 * 0), else the one drawn longest ago that is not later than NOW (the
 * highest index among equal times). FIRST_FREE keeps the first free slot
 * seen, otherwise the last. -1 when there is none: no slot in use, or
 * every slot later than NOW. */
template <class Match>
int ChooseCacheSlot(int n, const GLuint *ids, const double *times, double now, bool first_free, Match match,
                    bool *hit) {
    int free_slot = -1, candidate = -1;
    double candidate_time = now;
    *hit = false;
    for (int i = 0; i < n; i++) {
        if (ids[i] == 0 && (!first_free || free_slot < 0)) {
            free_slot = i;
            continue;
        }
        if (match(i)) {
            *hit = true;
            return i;
        }
        if (!(times[i] > candidate_time)) {
            candidate = i;
            candidate_time = times[i];
        }
    }
    return free_slot >= 0 ? free_slot : candidate;
}

/* Bytes of an image name in an image cache slot. */
#define QVP_IMAGE_NAME_SLOT 260

extern GLuint image_ids[QVP_CACHE_SLOTS];
extern unsigned char *image_datas[QVP_CACHE_SLOTS];
extern char image_fnames[QVP_CACHE_SLOTS][QVP_IMAGE_NAME_SLOT];
extern double image_times[QVP_CACHE_SLOTS];
extern GLuint video_ids[QVP_CACHE_SLOTS];
extern QVP_CANVAS_ELEMENT *video_elements[QVP_CACHE_SLOTS];
extern int video_sizes[QVP_CACHE_SLOTS][2];
extern char *video_fnames[QVP_CACHE_SLOTS];
extern int video_cur_frames[QVP_CACHE_SLOTS];
extern unsigned char *video_datas[QVP_CACHE_SLOTS];
extern double video_times[QVP_CACHE_SLOTS];
extern GLdouble (*points)[3];
extern int points_size;

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
 * worked out once per code and process from the font's pixels. With BOX,
 * sets it to the ink box of the cell as a QVP_GLYPH's INK_BOX. */
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

/* ---- the canvas frame stack (canvas_frame.cpp) ---- */

/* Open frames and fonts: the first opens the host drawing state (pushed,
 * lighting and culling off, textures and source-alpha blending on), the
 * last closes it. */
extern int set_drawing_state;
void OpenDrawingState(void);
void CloseDrawingState(void);

/* The innermost open frame's display definition (null when none) and
 * its column and row steps. */
extern QVP_CANVAS_DISPLAYDEF *pdispdef;
extern double gldcol[3];
extern double gldrow[3];

/* Opens a canvas frame over any open one; closes the innermost; issues
 * the vertex at column C, row R of the innermost. */
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows);
void glFontDisplay2DEnd(void);
void glColRow(double c, double r);

/* Primitives from one reused vertex array, no GL call per vertex:
 * VertexBegin starts one (TEXTURED: each vertex takes the coordinate
 * VertexTexCoord set last), VertexAt and VertexColRow (column C, row R of
 * the innermost frame, as glColRow would issue it) add vertices, and
 * VertexEnd draws them with one glDrawArrays in MODE, leaving the client
 * arrays disabled. A primitive that finds no memory is logged and not
 * drawn. Never between glBegin and glEnd. */
void VertexBegin(int textured);
void VertexTexCoord(float s, float t);
void VertexAt(float x, float y, float z);
void VertexColRow(double c, double r);
void VertexEnd(GLenum mode);

/* Closes every frame and the drawing state count (a new context), and
 * frees the vertex array. */
void ResetCanvasFrames(void);

/* ---- font engine (font.cpp) ---- */

extern QVP_CANVAS_FONTDEF *glFont;

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

/* ---- GL support (glsupport.cpp) ---- */

/* Logs the fallback warning; stands in for every unresolved entry point. */
void Dummy(void);

/* Resolves the extension entry-point table (with the display's GL
 * context current) and generates canvas_fbo. */
void ResolveGLEntryPoints(void);



void LogGLErrors_F(int report, const char *f, int l);
char *FCheckForCompleteness(const char *msg, int line);

/* Every GL entry point the plugin resolves at start-up: its pointer type,
 * its GL name (the variable is TARN_ and the name) and the fallback the
 * variable holds until it is resolved or when the driver lacks it. One
 * list: the variables, their declarations and the resolving table are
 * all made from it. */
#define QVP_GL_ENTRY_POINTS(X) \
    X(PFNGLISRENDERBUFFEREXTPROC, glIsRenderbufferEXT, fallback_b_u) \
    X(PFNGLBINDRENDERBUFFEREXTPROC, glBindRenderbufferEXT, fallback_v_eu) \
    X(PFNGLDELETERENDERBUFFERSEXTPROC, glDeleteRenderbuffersEXT, fallback_v_scu) \
    X(PFNGLGENRENDERBUFFERSEXTPROC, glGenRenderbuffersEXT, fallback_v_su) \
    X(PFNGLRENDERBUFFERSTORAGEEXTPROC, glRenderbufferStorageEXT, fallback_v_eess) \
    X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, glGetRenderbufferParameterivEXT, fallback_v_eeip) \
    X(PFNGLISFRAMEBUFFEREXTPROC, glIsFramebufferEXT, fallback_b_u) \
    X(PFNGLBINDFRAMEBUFFEREXTPROC, glBindFramebufferEXT, fallback_v_eu) \
    X(PFNGLDELETEFRAMEBUFFERSEXTPROC, glDeleteFramebuffersEXT, fallback_v_scu) \
    X(PFNGLGENFRAMEBUFFERSEXTPROC, glGenFramebuffersEXT, fallback_v_su) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, glCheckFramebufferStatusEXT, fallback_e_e) \
    X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, glFramebufferTexture1DEXT, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, glFramebufferTexture2DEXT, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, glFramebufferTexture3DEXT, fallback_v_eeeuii) \
    X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, glFramebufferRenderbufferEXT, fallback_v_eeeu) \
    X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, glGetFramebufferAttachmentParameterivEXT, fallback_v_eeeip) \
    X(PFNGLGENERATEMIPMAPEXTPROC, glGenerateMipmapEXT, fallback_v_e) \
    X(PFNGLBLITFRAMEBUFFEREXTPROC, glBlitFramebufferEXT, fallback_v_blit) \
    X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, glFramebufferRenderbufferARB, fallback_v_eeeu) \
    X(PFNGLDELETERENDERBUFFERSPROC, glDeleteRenderbuffersARB, fallback_v_scu) \
    X(PFNGLGENRENDERBUFFERSPROC, glGenRenderbuffersARB, fallback_v_su) \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebufferARB, fallback_v_eu) \
    X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffersARB, fallback_v_scu) \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffersARB, fallback_v_su) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatusARB, fallback_e_e) \
    X(PFNGLFRAMEBUFFERTEXTURE1DPROC, glFramebufferTexture1DARB, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2DARB, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE3DPROC, glFramebufferTexture3DARB, fallback_v_eeeuii) \
    X(PFNGLFRAMEBUFFERTEXTURELAYERPROC, glFramebufferTextureLayerARB, fallback_v_eeuii) \
    X(PFNGLBINDRENDERBUFFERPROC, glBindRenderbufferARB, fallback_v_eu) \
    X(PFNGLRENDERBUFFERSTORAGEPROC, glRenderbufferStorageARB, fallback_v_eess) \
    X(PFNGLBLITFRAMEBUFFERPROC, glBlitFramebufferARB, fallback_v_blit) \
    X(PFNGLDRAWBUFFERSARBPROC, glDrawBuffersARB, fallback_v_sce) \
    X(PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC, glRenderbufferStorageMultisampleARB, fallback_v_esess)

#define QVP_GL_DECLARE(type, name, fallback) extern type TARN_##name;
QVP_GL_ENTRY_POINTS(QVP_GL_DECLARE)
#undef QVP_GL_DECLARE

/* Inline: every vertex of every shape comes through here. */
inline void ElementVertex(const QVP_CANVAS_ELEMENT *pelm, double x, double y) {
    VertexColRow(pelm->scale.x * x + pelm->offset.x, pelm->scale.y * y + pelm->offset.y);
}

#endif
