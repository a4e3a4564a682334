/* qvp_canvas.h - the canvas records shared by the qvp_drawcanvas plugin
 * and the components that define canvases, elements and fonts.
 *
 * The records live in a scene's shared-memory arena and are read by
 * every display process on the scene, so their layout is fixed for a
 * 64-bit platform (natural alignment, fields in this order); the static
 * assertions at the end pin it. Pointers are plain addresses, valid in
 * every process because every process maps the arena at one address.
 * Everything reachable from QVP_CANVAS_INFO is guarded by its
 * access_lock.
 *
 * Canvas coordinates: column c and row r of a canvas lie at
 * org + c * col_vec / ncols + r * row_vec / nrows, and an element point
 * (x, y) is first scaled and shifted: column x * scale.x + offset.x,
 * row y * scale.y + offset.y. */
#ifndef QVP_CANVAS_H
#define QVP_CANVAS_H

#include "qvp_structs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Element types (QVP_CANVAS_ELEMENT.type); an element has exactly one. */
#define ELEMENT_TEXT      0x0
#define ELEMENT_LINE      0x1
#define ELEMENT_CIRCLE    0x2
#define ELEMENT_RECTANGLE 0x4
#define ELEMENT_POLYGON   0x8
#define ELEMENT_NODE      0x10
#define ELEMENT_CANVAS    0x20
#define ELEMENT_IMAGE     0x40
#define ELEMENT_ARC       0x80
#define ELEMENT_VIDEO     0x100

/* Element attrib bits. */
#define ATTRIB_HIDDEN 0x1

/* Anchor bits of a canvas or a text element: which edge of the box lies
 * at the anchor point; neither bit of a direction centres it. */
#define ANCHOR_COL_START 0x1
#define ANCHOR_COL_END   0x2
#define ANCHOR_ROW_START 0x8
#define ANCHOR_ROW_END   0x10

/* Lock bits of QVP_CANVAS_DISPLAYDEF.locked. */
#define LOCK_ROW_AXIS    0x200
#define LOCK_COL_AXIS    0x400
#define LOCK_SCREEN_SIZE 0x800

/* Projections of QVP_CANVAS_DISPLAYDEF.proj. */
#define PROJ_FLAT   0
#define PROJ_SPHERE 1

/* Placement codes of QVP_CANVAS_DISPLAYDEF.id (0 and up: a node index). */
#define CANVAS_ID_MAPPED -2
#define CANVAS_ID_WORLD  -1

/* Canvas scale modes (QVP_CANVAS.scale); any other value stretches. */
#define CANVAS_SCALE_FIXED  0x0
#define CANVAS_SCALE_WIDTH  0x80
#define CANVAS_SCALE_HEIGHT 0x100

typedef struct QVP_CANVAS_FONTDEF QVP_CANVAS_FONTDEF;
typedef struct QVP_CANVAS QVP_CANVAS;
typedef struct QVP_CANVAS_ELEMENT QVP_CANVAS_ELEMENT;

/* One glyph. dx and dy are the advance and height in font units, where
 * one line of text is one unit high; tx1,ty1 is the glyph's top-left
 * texture coordinate and tx2,ty2 its bottom-right. */
typedef struct QVP_CANVAS_CHARDEF {
    float dx, dy;
    float tx1, ty1, tx2, ty2;
} QVP_CANVAS_CHARDEF;

/* One texture font: w x h texels of luminance then alpha, one glyph per
 * code first_char..last_char. */
struct QVP_CANVAS_FONTDEF {
    char name[80];
    char path[160];
    int tex_obj;                    /* GL texture name in every display */
    int w, h;
    int first_char, last_char;
    float scale[2];                 /* scale[0] multiplies every dx */
    QVP_CANVAS_CHARDEF *char_list;
    char *texdata;
    QVP_CANVAS_FONTDEF *pnext;
};

/* What a font made by the canvas builder carries beyond its table of
 * codes first_char..last_char: in the same arena block, right behind the
 * QVP_CANVAS_FONTDEF (which keeps its layout), so that it is made whole
 * before the font is linked. With it a display rasterises code points
 * outside the table from the font's face (path) on first use into atlas
 * pages of its own. Found through QVP_FontExtension. */
#define QVP_FONTEXT_MAGIC 0x51464e54u   /* "QFNT" */
typedef struct QVP_CANVAS_FONTEXT {
    unsigned int magic;
    int pixels;                     /* FreeType pixel size of the face */
    int line_px;                    /* one line, one font unit, in texels */
    int ascent_px;                  /* the baseline below a line's top */
    int face_index;                 /* face of a collection file */
    int kerning;                    /* 1: kerning pairs from the face */
    QVP_CANVAS_FONTDEF *fallback;   /* glyphs for codes this face lacks */
    int strike_px;                  /* a face of fixed sizes only (colour
                                       emoji): the size of the strike drawn
                                       from, scaled to pixels; 0: scalable */
} QVP_CANVAS_FONTEXT;

typedef struct QVP_CANVAS_TRACEVAR {
    char varname[80];
    QVP_CANVAS_ELEMENT *element;
    struct QVP_CANVAS_TRACEVAR *pnext;
} QVP_CANVAS_TRACEVAR;

typedef struct QVP_CANVAS_ELEMENT_TAG {
    unsigned int hash_id;
    char name[80];
    struct QVP_CANVAS_ELEMENT_TAG *pnext;
} QVP_CANVAS_ELEMENT_TAG;

/* Root record of a scene: scene data "QVP_CANVAS_INFO". */
typedef struct QVP_CANVAS_INFO {
    char font_dir[200];
    QVP_CANVAS_FONTDEF *default_font;
    QVS_SMLOCK *access_lock;
    int tex_obj;                    /* next font texture name to hand out */
    QVP_CANVAS *list;
    QVP_CANVAS_FONTDEF *fonts;
} QVP_CANVAS_INFO;

/* Per-process record: process data "QVP_CANVAS_PROC_INFO". */
typedef struct QVP_CANVAS_PROC_INFO {
    int element_id;
    int is_locked;                  /* nesting count of access_lock */
    int defined_fonts_size;
    int defined_fonts_cnt;
    QVP_CANVAS_FONTDEF **defined_fonts;  /* fonts loaded in this process */
    QVP_CANVAS_TRACEVAR *tracevar_list;
} QVP_CANVAS_PROC_INFO;

/* Placement of a canvas. */
typedef struct QVP_CANVAS_DISPLAYDEF {
    int id;                         /* -2 mapped, -1 world, >= 0 node */
    int locked;                     /* LOCK_* bits */
    char mapping[80];
    double org[3];
    float ncols;
    float nrows;
    double col_vec[3];              /* whole width */
    double row_vec[3];              /* whole height */
    int proj;
    double radius;
} QVP_CANVAS_DISPLAYDEF;

typedef struct QVP_CANVAS_VIEW {
    QVS_VIEWPORT *pview;
    struct QVP_CANVAS_VIEW *pnext;
} QVP_CANVAS_VIEW;

typedef struct QVP_CANVAS_COORD {
    float x, y;
} QVP_CANVAS_COORD;

typedef struct QVP_CANVAS_TEXT {
    float col, row;
    float col_s, row_s;
    int justify;
    int anchor;
    int smooth;
    int buff_size;
    char *buff;
    QVP_CANVAS_FONTDEF *pfont;
} QVP_CANVAS_TEXT;

typedef struct QVP_CANVAS_LINE {
    int pnt_list_size;
    int pnt_list_cnt;
    QVP_CANVAS_COORD *pnt_list;
} QVP_CANVAS_LINE;

typedef QVP_CANVAS_LINE QVP_CANVAS_POLYGON;

typedef struct QVP_CANVAS_RECTANGLE {
    QVP_CANVAS_COORD corners[2];
} QVP_CANVAS_RECTANGLE;

typedef struct QVP_CANVAS_CIRCLE {
    QVP_CANVAS_COORD cen;
    float rad;
} QVP_CANVAS_CIRCLE;

typedef struct QVP_CANVAS_ARC {
    QVP_CANVAS_COORD corners[2];
    float start_ang, end_ang;       /* degrees */
} QVP_CANVAS_ARC;

typedef struct QVP_CANVAS_IMAGE {
    QVP_CANVAS_COORD corners[2];
    char name[300];
    int w, h;
    unsigned char *data;
    int flip_axis;                  /* 0x2 columns, 0x1 rows */
    int tw, th;
    unsigned char *tdata;           /* tw x th RGBA */
} QVP_CANVAS_IMAGE;

typedef struct QVP_CANVAS_VIDEO {
    QVP_CANVAS_COORD corners[2];
    int w, h;
    int volume, muted, audio_track;
    char *name;
    void *media, *media_player, *event_mgr;
    int flip_axis;
    int looped, restart;
    int cur_frame;                  /* index into frames, -1 for none */
    int row_size;                   /* bytes per frame row */
    unsigned char *frames[6];       /* BGRA */
} QVP_CANVAS_VIDEO;

struct QVP_CANVAS_ELEMENT {
    int id;
    int type;
    int attrib;
    float fcol[3];
    float bcol[3];
    float opacity;
    QVP_CANVAS_COORD offset;
    QVP_CANVAS_COORD scale;
    float line_width;
    QVP_CANVAS_ELEMENT_TAG *tag_hash[16];
    union {
        QVP_CANVAS_TEXT text;
        QVP_CANVAS_LINE line;
        QVP_CANVAS_RECTANGLE rect;
        QVP_CANVAS_CIRCLE circ;
        QVP_CANVAS_POLYGON poly;
        QVP_CANVAS_IMAGE imag;
        QVP_CANVAS_ARC arc;
        QVP_CANVAS_VIDEO video;
        int node;
        void *can;
    } data;
    QVP_CANVAS_ELEMENT *pnext;
};

struct QVP_CANVAS {
    int draw_layer;
    QVS_NODE_LAYERS *layers;
    char name[120];
    int smooth;
    int anchor;
    int scale;
    float size;
    QVP_CANVAS_DISPLAYDEF disp;
    QVP_CANVAS_FONTDEF *pfont;
    QVP_CANVAS_VIEW *no_views;
    int node_cnt;
    QVP_CANVAS_ELEMENT *elements;
    QVP_CANVAS_ELEMENT *last_element;
    float fcol[3];
    float bcol[3];
    float rgb_gain[3];
    float opacity;
    QVP_CANVAS *parent;
    QVP_CANVAS *pnext;
};

#ifdef __cplusplus
}
#define QVP_CANVAS_ASSERT(c, m) static_assert(c, m)
#else
#define QVP_CANVAS_ASSERT(c, m) _Static_assert(c, m)
#endif

#include <stddef.h>
QVP_CANVAS_ASSERT(sizeof(void *) == 8, "canvas records need a 64-bit platform");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_INFO) == 240, "QVP_CANVAS_INFO layout");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_PROC_INFO) == 32, "QVP_CANVAS_PROC_INFO layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_INFO, access_lock) == 208, "access_lock offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_INFO, tex_obj) == 216, "tex_obj offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_INFO, list) == 224, "list offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_PROC_INFO, defined_fonts) == 16, "defined_fonts offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_DISPLAYDEF) == 184, "QVP_CANVAS_DISPLAYDEF layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_DISPLAYDEF, org) == 88, "disp.org offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_DISPLAYDEF, col_vec) == 120, "disp.col_vec offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_DISPLAYDEF, radius) == 176, "disp.radius offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS, disp) == 152, "canvas disp offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS, elements) == 360, "canvas elements offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS, opacity) == 412, "canvas opacity offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS) == 432, "QVP_CANVAS layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_ELEMENT, tag_hash) == 64, "element tag_hash offset");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_ELEMENT, data) == 192, "element data offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_IMAGE) == 360, "QVP_CANVAS_IMAGE layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_IMAGE, tdata) == 352, "image tdata offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_VIDEO) == 144, "QVP_CANVAS_VIDEO layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_VIDEO, frames) == 96, "video frames offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_TEXT) == 48, "QVP_CANVAS_TEXT layout");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_ELEMENT) == 560, "QVP_CANVAS_ELEMENT layout");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_FONTDEF) == 296, "QVP_CANVAS_FONTDEF layout");
QVP_CANVAS_ASSERT(offsetof(QVP_CANVAS_FONTDEF, char_list) == 272, "fontdef char_list offset");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_CHARDEF) == 24, "QVP_CANVAS_CHARDEF layout");
QVP_CANVAS_ASSERT(sizeof(QVP_CANVAS_FONTDEF) % 8 == 0, "the font extension follows the font aligned");

#endif
