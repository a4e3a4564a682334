/* canvas_builder.h - the canvas builder: makes and edits canvases, their
 * elements, fonts and images in the shared scene, and runs the video
 * producers. It writes only through the records of qvp_canvas.h, holds
 * the canvas lock (with the same per-process nesting as the plugin)
 * while it changes any list or record, and publishes every new record
 * with one pointer store.
 *
 * Errors come back as false or null with a message in `err`; nothing is
 * changed then. */
#ifndef QVP_CANVAS_BUILDER_H
#define QVP_CANVAS_BUILDER_H

#include <math.h>

#include <string>
#include <vector>

#include "qvp_canvas.h"

namespace qvpc {

/* Finds the scene's canvas root and this process's record, creating
 * them as the plugin does when they are missing. Needs an open scene. */
bool Attach(std::string &err);
QVP_CANVAS_INFO *Info();
QVP_CANVAS_PROC_INFO *ProcInfo();

/* Holds the canvas lock for its lifetime: signals suspended, the shared
 * lock taken at the outermost level of this process's nesting. */
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
};

/* ---- fonts ---- */

/* The font file used when none is named. */
extern const char *const kDefaultFontFile;

struct FontDesc {
    std::string name;
    std::string file;       /* empty: the default font */
    int pixels = 32;        /* rasterised line height in texels */
    int first = 32, last = 255;   /* the shared table; 0..1114111 */
    std::string fallback;           /* font for codes this face lacks */
    bool kerning = true;            /* kerning pairs from the face */
};

/* Rasterises a font's codes first..last into a luminance-alpha atlas in
 * the arena and links it into Info()->fonts, with the extension that
 * lets displays draw every other code point of its face (and of its
 * fallback font) on first use. Glyph advances dx are in line units: one line
 * of text is 1 high, so text with row_s 1 is one row tall and a glyph
 * is dx columns wide at col_s 1. Codes with no glyph in the face get an
 * empty cell of the face's missing-glyph advance. */
QVP_CANVAS_FONTDEF *CreateFont(const FontDesc &desc, std::string &err);
QVP_CANVAS_FONTDEF *FindFont(const std::string &name);
/* The font named "default" (DejaVu Sans, 32 px), made on first use. */
QVP_CANVAS_FONTDEF *DefaultFont(std::string &err);

/* ---- images ---- */

/* Reads a PNG file into RGBA rows, top row first. */
bool ReadPng(const std::string &path, int &w, int &h, std::vector<unsigned char> &rgba, std::string &err);

/* An image loaded into the arena. The registry of names is per process;
 * the pixels are shared through the elements that show them. */
struct Image {
    std::string name;
    std::string file;
    int w = 0, h = 0;
    unsigned char *rgba = nullptr;   /* in the arena */
};
const Image *LoadImage(const std::string &name, const std::string &path, std::string &err);
const Image *FindImage(const std::string &name);

/* The images this process loaded, by name. */
std::vector<std::string> ImageNames();

/* The image whose pixels are at RGBA, or null. */
const Image *FindImageByPixels(const void *rgba);

/* Frees image NAME and its pixels; refused while an element of any
 * canvas shows it (ERR names the canvas and element). */
bool DeleteImage(const std::string &name, std::string &err);

/* Frees the pixels of images whose loading process has ended (killed or
 * not) once no element of any canvas shows them, and returns the bytes
 * freed. Loads and attaches sweep at once (NOW); deletes, edits and the
 * viewer's frames sweep at most every half second. */
size_t CollectImages(bool now);

/* ---- canvases ---- */

/* The defaults of a new canvas: scene layer, world placement, centred on
 * the origin, 20 columns by 10 rows spanning 4 by 2 units with rows
 * running down, white foreground, no background, gain 1, opacity 1. */
void DefaultCanvas(QVP_CANVAS &c);

/* Makes a canvas named DESC.name from DESC's placement and colours (its
 * list pointers are ignored) and appends it to the scene's list.
 * EXCLUDE becomes its no_views list. Fails when the name is taken. */
QVP_CANVAS *CreateCanvas(const QVP_CANVAS &desc, const std::vector<QVS_VIEWPORT *> &exclude, std::string &err);
QVP_CANVAS *FindCanvas(const std::string &name);
std::vector<QVP_CANVAS *> Canvases();

/* Replaces the placement and colour fields of C with DESC's; with
 * SET_EXCLUDE, also its no_views list (one pointer store). The fields
 * are written one by one in place, since other records point at C: a
 * reader after an editor died mid-edit may meet old and new fields. */
bool ConfigureCanvas(QVP_CANVAS *c, const QVP_CANVAS &desc, bool set_exclude,
                     const std::vector<QVS_VIEWPORT *> &exclude, std::string &err);

/* The names of the viewports C excludes, as they were when excluded. It
 * reads only what the scene holds, so it is safe in any process. */
std::vector<std::string> ExcludedViewports(const QVP_CANVAS *c);

/* ---- canvases waiting for their node ----
 *
 * A canvas placed on a scene node that this scene does not have yet is
 * made all the same and waits, not drawn, until the node appears (a
 * node's layout script may run after its mirror replays). These are the
 * process's own: the process that made or configured it places it. At
 * most kMostWaiting canvases wait at once. */
const int kMostWaiting = 4096;

/* Makes C wait for node NODE, to be drawn in LAYER once placed; C is not
 * drawn meanwhile. Logs "canvas C waits for node NODE" once per wait.
 * False (nothing changed) when kMostWaiting canvases wait already. */
bool WaitForNode(QVP_CANVAS *c, const std::string &node, int layer, std::string &err);
/* Forgets C's wait (placed elsewhere, or deleted). */
void StopWaiting(const QVP_CANVAS *c);
/* True when C waits, with the node and the layer it waits to be drawn in. */
bool WaitingFor(const QVP_CANVAS *c, std::string &node, int &layer);
/* Places every waiting canvas whose node now exists and returns how many
 * it placed; cheap when none waits (the viewer calls it each frame, the
 * mirror each turn). */
int PlaceWaitingCanvases();

/* Unlinks C and frees it with its elements. Refused while another
 * canvas shows it through a canvas element or names it as parent. */
bool DeleteCanvas(QVP_CANVAS *c, std::string &err);

/* ---- elements ---- */

/* Where a video element's frames come from. */
struct VideoSource {
    std::string file;       /* empty: the synthetic pattern */
    int w = 0, h = 0;       /* 0: the file's size (pattern: 160 x 120) */
    double fps = 0;         /* 0: the file's own timestamps (pattern: 25) */
    bool loop = true;
};

/* How a clip plays: it is at POSITION (seconds of the clip) at time AT
 * of its producer's clock and moves on at RATE unless PAUSED. AT is NaN
 * while the state waits for the producer's next tick to say when (a
 * clip just added, sought or resumed starts exactly at that tick). */
struct PlayState {
    double position = 0;
    double at = NAN;
    double rate = 1;
    bool paused = false;
};

/* A video element as every process of the scene sees it. */
struct VideoStatus {
    VideoSource src;
    PlayState play;
    double clock = NAN;     /* the producer's clock at its last tick */
    double duration = 0;    /* seconds; 0 while unknown, and for the pattern */
    double position = 0;    /* where the clip is at CLOCK, wrapped or held at the end */
};

/* The status of video element E; false when E carries none (not made by
 * this builder, or written over). The caller holds the canvas lock. */
bool GetVideoStatus(const QVP_CANVAS_ELEMENT *e, VideoStatus &out);

/* A change of a clip's play state: PAUSED 0 or 1 (-1 keeps it), RATE
 * above 0 (0 keeps it), a seek to POSITION (NaN keeps the position).
 * EXACT, when set, replaces the whole state (a mirror replays its
 * publisher's). */
struct PlayEdit {
    int paused = -1;
    double rate = 0;
    double position = NAN;
    const PlayState *exact = nullptr;
};

/* Applies EDIT to video element E of C, from any process of the scene:
 * the element record stays, its play state is replaced with one pointer
 * store. A seek or resume starts at the producer's next tick. False with
 * ERR set (nothing changed) for a bad value or an element that is gone. */
bool EditVideoPlay(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, const PlayEdit &edit, std::string &err);

/* Called by TickVideo, outside the canvas lock, each time a producer of
 * this process fixes when a waiting play state starts (a publisher sends
 * it on, so that its mirrors show the same frame). */
typedef void (*PlayAnchorHook)(const std::string &canvas, int id, const PlayState &s, void *data);
void SetPlayAnchorHook(PlayAnchorHook fn, void *data);

/* With ON, producers decode on threads of their own and TickVideo only
 * takes the frames that are ready (a live window never waits for a
 * seek); off (the default), TickVideo decodes the frame due before it
 * returns, so scripted frames are exact. */
void SetVideoDecodeInBackground(bool on);

/* Sends FFmpeg's warnings and errors to the host log ("FFmpeg: ..."),
 * its chatter nowhere; done once per process (opening a video file does
 * it too). */
void RouteFfmpegLog();

/* An element as the caller wants it: the record (its pointers and id
 * are ignored) plus the contents behind the pointers. */
struct ElementDesc {
    QVP_CANVAS_ELEMENT rec;
    std::string text;                       /* ELEMENT_TEXT */
    std::vector<QVP_CANVAS_COORD> points;   /* ELEMENT_LINE, ELEMENT_POLYGON */
    VideoSource video;                      /* ELEMENT_VIDEO */
};

/* An element description of TYPE with the defaults: white, opaque, scale 1,
 * offset 0, width 1; text in the default font, centred, smooth. */
void DefaultElement(ElementDesc &desc, int type);

/* Appends an element to C and returns it (its id is unique in C): the
 * next id of the scene, or WANT_ID when above 0 (refused when C has an
 * element of that id; a mirror gives elements the ids they got where
 * they were made). */
QVP_CANVAS_ELEMENT *AddElement(QVP_CANVAS *c, const ElementDesc &desc, std::string &err, int want_id = 0);
QVP_CANVAS_ELEMENT *FindElement(QVP_CANVAS *c, int id);

/* The description of element E as it stands. */
ElementDesc DescOf(const QVP_CANVAS_ELEMENT *e);

/* Replaces element E of C by a new record made from DESC (same type),
 * keeping its id and place in the list; E is freed. Returns the new
 * record, or null (E left as it was). */
QVP_CANVAS_ELEMENT *ConfigureElement(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, const ElementDesc &desc, std::string &err);

/* Unlinks E from C and frees it. */
bool DeleteElement(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, std::string &err);

/* ---- video producers ---- */

/* Advances every video producer of this process to display time T
 * (seconds): each decodes or draws the frame its play state puts at T
 * into one of its element's six buffers and sets cur_frame under the
 * canvas lock. */
void TickVideo(double t);

/* Number of producers running in this process. */
int VideoProducerCount();

/* Draws the synthetic pattern of frame N into a BGRA buffer. */
void DrawPattern(unsigned char *bgra, int w, int h, int row_size, int n);

}  // namespace qvpc

#endif
