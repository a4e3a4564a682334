/* drawcanvas_testing.h - hooks the tests use to run the plugin many
 * times in one process and to look inside it. Not part of what a host
 * sees. */
#ifndef DRAWCANVAS_TESTING_H
#define DRAWCANVAS_TESTING_H

#include "dc_services.h"

/* Puts every plugin-wide global back to its value at load, emptying the
 * texture caches (a new GL context follows). */
void ResetPluginState(void);

/* The pieces ResetPluginState resets, one area each. */
void ResetPassState(void);      /* the next DrawView looks DOING_INTERNAL_PASS up again */
void ResetOffscreenCache(void);
void ResetElementCaches(void);
void ResetFontEngine(void);     /* closes every frame, forgets the bound font */
void ResetGlyphStore(void);     /* forgets every page, face and glyph */
void ResetServices(void);       /* texture names from 1 again, no refusals */

/* Kept texts: bounds of TEXTS texts and BYTES bytes (0: the usual
 * ones), emptying the table; SetKeptTextsOff(1) keeps nothing, so that
 * every text is laid out (what benchmarks compare against). */
void SetKeptTextBounds(int texts, size_t bytes);
void SetKeptTextsOff(int off);

/* SetInkBoxesOff(1) draws every glyph as its whole cell (the picture
 * ink boxes must not change; benchmarks compare against it), and
 * InkBoxCells counts the glyph quads laid out as ink boxes since the
 * process began. */
void SetInkBoxesOff(int off);
long InkBoxCells(void);

/* SetKeptTextsGrow(1) takes the table's bounds away: it doubles when
 * full and keeps texts however long they go undrawn. Only for showing
 * that the long-show soak fails without the bounds. */
void SetKeptTextsGrow(int grow);

/* What the kept-text table holds: texts seen or kept, those complete,
 * the bound on texts, bytes held and their bound, the longest probe
 * since it was made, the texts only seen (no copy of their string), and
 * the frames since the least recently drawn was drawn. */
typedef struct KeptTextStats {
    int entries, complete, most;
    size_t bytes, bytes_most;
    int longest_probe;
    int seen_only, oldest_age;
} KeptTextStats;
KeptTextStats GetKeptTextStats(void);

/* 1 when a text of string address STR is in the table (complete, when
 * COMPLETE_ONLY). */
int KeptTextHolds(const char *str, int complete_only);

/* Kept tessellations: slots holding one, slots made, their bound, and
 * the bytes of the slots' buffers. */
typedef struct TessStats {
    int used, slots, most;
    size_t bytes;
} TessStats;
TessStats GetTessStats(void);

/* The glyph store of FONT in this process: slots holding a glyph, slots
 * made, atlas pages, and whether its missing box was made; zeros before
 * the font is first drawn. */
typedef struct GlyphStoreStats {
    int slots_used, slot_cap, pages, has_missing;
} GlyphStoreStats;
GlyphStoreStats GetGlyphStoreStats(const QVP_CANVAS_FONTDEF *font);

/* Shaped runs kept in this process: entries, bytes, their bounds, and
 * how many runs were shaped since the last reset. */
typedef struct ShapeCacheStats {
    int entries, most;
    size_t bytes, most_bytes;
    long shaped;
} ShapeCacheStats;
ShapeCacheStats GetShapeCacheStats(void);
void ResetShapeCache(void);


/* The image, video and offscreen texture caches, QVP_CACHE_SLOTS slots
 * each, to read. */
struct QVP_IMAGE_SLOT;
struct QVP_VIDEO_SLOT;
struct QVP_OFFSCREEN_SLOT;
const struct QVP_IMAGE_SLOT *ImageCacheSlots(void);
const struct QVP_VIDEO_SLOT *VideoCacheSlots(void);
const struct QVP_OFFSCREEN_SLOT *OffscreenCacheSlots(void);

/* The polygon fill's point buffer: the points it has room for, and that
 * room made exactly N points (0 frees it); 0 when memory is short. */
int PolygonPointsRoom(void);
int SetPolygonPointsRoom(int n);

/* Entries of the table of canvases the node pass collects. */
int NodeCanvasSlots(void);

/* PluginRealloc refuses this many calls next, as a full heap would,
 * after letting plugin_realloc_passes calls through first. */
extern int plugin_realloc_refusals;
extern int plugin_realloc_passes;

/* Replaces the platform lookup used by ResolveGLEntryPoints; null puts
 * the platform's back. */
void SetGLProcLookup(QVP_GLPROC_LOOKUP lookup);

#endif
