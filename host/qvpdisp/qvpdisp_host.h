/* qvpdisp_host.h - libqvpdisp's interface for host programs: opening the
 * headless display, laying out channels and viewports, and running
 * frames. Plugins reach the display through qvp_externs.h and the QVV_
 * globals. */
#ifndef QVPDISP_HOST_H
#define QVPDISP_HOST_H

#include <stddef.h>
#include "qvp_double.h"
#include "qvp_structs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the process's display: a headless GL "window" of W x H pixels
 * (an EGL pbuffer with a compatibility-profile context, RGBA8, 24 depth
 * and 8 stencil bits), current on this thread. A scene must be open.
 * With DOUBLE_PRECISION the display offers "QVS_DOUBLE_DATA". Returns the
 * display (also QVV_display), or null with ERR filled and a log line. */
QVS_DISPLAY *QVH_OpenDisplay(const char *name, int w, int h, int double_precision,
                             char *err, size_t errlen);

/* As QVH_OpenDisplay, but the "window" is a real one, W x H and titled
 * TITLE, on the X server $DISPLAY names, through EGL's X11 platform with
 * the same kind of context. Frames are drawn into its back buffer;
 * QVH_PresentFrame shows them. Fails at once, with a message that names
 * DISPLAY, when there is no X server to talk to. */
QVS_DISPLAY *QVH_OpenDisplayWindow(const char *name, int w, int h, int double_precision,
                                   const char *title, char *err, size_t errlen);

/* 1 when the display is a window. */
int QVH_DisplayIsWindow(void);

/* Shows the last frame in the window and sets the window's _QVP_FRAME
 * property to the frame count. Afterwards the back buffer's contents are
 * undefined: snapshot a frame before presenting it. 0 without a window. */
int QVH_PresentFrame(void);

/* What happened to the window since the last poll. */
typedef struct QVH_WINDOW_EVENTS {
    int close;          /* closed by the window manager */
    char keys[64];      /* keys typed; Escape as 033 */
    int w, h;           /* new size, 0 when unchanged */
} QVH_WINDOW_EVENTS;

/* Fills EV; returns 0 without a window. An X error (the window was
 * destroyed under the display, say) is logged once and reported as a
 * close. */
int QVH_PollWindow(QVH_WINDOW_EVENTS *ev);

/* HOOK runs when the window's X server goes away, just before Xlib ends
 * the process (it cannot draw on): the place to remove what the process
 * made. Null for none. */
void QVH_SetDisplayLostHook(void (*hook)(const char *why));

/* Makes the display W x H (after its window was resized): viewports
 * without a rectangle of their own, and nominal sizes that were the
 * window's, follow. */
void QVH_ResizeDisplay(int w, int h);

/* Releases the GL context and every display record. */
void QVH_CloseDisplay(void);

/* GL_RENDERER of the open display, for messages. */
const char *QVH_Renderer(void);

/* Adds a channel of nominal size DW x DH (0 for the window's size).
 * Returns null (with a log line) when the name is empty or taken. */
QVS_CHANNEL *QVH_AddChannel(const char *name, int dw, int dh);
QVS_CHANNEL *QVH_FindChannel(const char *name);

/* Adds a viewport to CHANNEL covering the whole window, with a 60 degree
 * horizontal field of view, the eye at (0 0 10) looking at the origin
 * with +y up, and a black clear colour. */
QVS_VIEWPORT *QVH_AddViewport(QVS_CHANNEL *channel, const char *name);
QVS_VIEWPORT *QVH_FindViewport(const char *name);

/* Recomputes a viewport's frustum (rleft..rnear) after its fov, frustum
 * or rectangle changed. */
void QVH_UpdateViewport(QVS_VIEWPORT *vp);

/* Renders N frames by the frame loop; a frame with no channel first
 * makes one channel with one full-window viewport. */
void QVH_RunFrames(int n);

/* Calls FN(run_time, DATA) at the start of every frame, after run_time
 * advanced and before phase 1 (video producers hang here). Null
 * removes it. */
void QVH_SetFrameHook(void (*fn)(double run_time, void *data), void *data);

/* Writes the whole window, as last rendered, to a PNG file, opaque
 * (alpha 255) unless KEEP_ALPHA keeps the framebuffer's alpha. Returns 1,
 * or 0 with ERR filled. */
int QVH_Snapshot(const char *path, char *err, size_t errlen);
int QVH_SnapshotAlpha(const char *path, int keep_alpha, char *err, size_t errlen);

/* Reads the whole window, as last rendered, into RGBA (width x height x 4
 * bytes, top row first), opaque unless KEEP_ALPHA. 0 without a display. */
int QVH_ReadFrame(unsigned char *rgba, int keep_alpha);

/* Reads window pixel (X, Y), origin lower left, as RGBA 0-255. Returns 0
 * when it lies outside the window. */
int QVH_ReadPixel(int x, int y, unsigned char rgba[4]);

/* The display's double-precision record, or null when single. */
QVS_DOUBLE_DATA *QVH_DoubleData(void);

/* The global matrix of NODE as last computed (identity when invalid). */
void QVH_NodeGlobalMatd(int node, double m[4][4]);

/* Frees node layers made by QVF_AllocateNodeLayers, their lists with
 * them; nothing for null. */
void QVH_FreeNodeLayers(QVS_NODE_LAYERS *layers);

/* Depth of QVF_PushDrawingState nesting. */
int QVH_DrawingStateDepth(void);

/* With ON, every QVF_PopDrawingState compares the display's shadow of
 * the drawing state with GL (glGet) before and after it restores, and
 * logs each group that differs: a GL call inside a drawing state that
 * went round the QVF_State setters. Off by default (it costs a full
 * read of the state a pop); QVP_CHECK_DRAWING_STATE=1 turns it on too.
 * QVH_DrawingStateMismatches: the differences found since the display
 * opened. */
void QVH_SetDrawingStateCheck(int on);
long QVH_DrawingStateMismatches(void);

/* Recomputes node global matrices and the display's node table now (the
 * frame loop does it every frame before phase 1). */
void QVH_SyncNodes(void);

#ifdef __cplusplus
}
#endif

#endif
