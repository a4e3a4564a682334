/* dc_canvas.h - canvases: where a canvas goes on the display
 * (mapping.cpp), how one is drawn (canvas.cpp) and the offscreen
 * textures of curved canvases (offscreen.cpp). */
#ifndef DC_CANVAS_H
#define DC_CANVAS_H

#include "dc_services.h"
#include "dc_glstate.h"

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
    QVP_GL_TARGET target;
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


/* A slot of the offscreen texture cache: its texture name (0: free), the
 * shared canvas record it was drawn for, the texture's size, and when it
 * was drawn last. */
typedef struct QVP_OFFSCREEN_SLOT {
    GLuint id;
    const QVP_CANVAS *ptr;
    int size[2];
    double time;
} QVP_OFFSCREEN_SLOT;


#endif
