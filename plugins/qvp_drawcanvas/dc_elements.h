/* dc_elements.h - elements: each kind's drawing (element.cpp,
 * shapes.cpp, media.cpp, nested.cpp) and the texture caches of images
 * and video. */
#ifndef DC_ELEMENTS_H
#define DC_ELEMENTS_H

#include "dc_frame.h"

/* ---- element renderer (element.cpp, shapes.cpp, media.cpp, nested.cpp) ---- */

/* Draws one element of PCAN inside PCAN's open canvas frame: its
 * effective opacity, the blend bracket, then the kind's drawing below. */
void DrawCanvasElement(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm);

/* What every kind uses: colour C times the canvas gain with OPACITY as
 * alpha, and element point (X, Y) through the element's scale and
 * offset as a canvas vertex. */
void ElementColour(const QVP_CANVAS *pcan, const float *c, float opacity);
inline void ElementVertex(const QVP_CANVAS_ELEMENT *pelm, double x, double y) {
    VertexColRow(pelm->scale.x * x + pelm->offset.x, pelm->scale.y * y + pelm->offset.y);
}

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

/* Picks the slot for a drawing among the first N SLOTS of a texture
 * cache (records with an ID, 0 when free, and a TIME): the
 * slot MATCH accepts (a hit, *HIT set), else a free one (texture name
 * 0), else the one drawn longest ago that is not later than NOW (the
 * highest index among equal times). FIRST_FREE keeps the first free slot
 * seen, otherwise the last. -1 when there is none: no slot in use, or
 * every slot later than NOW. */
template <class Slot, class Match>
int ChooseCacheSlot(int n, const Slot *slots, double now, bool first_free, Match match, bool *hit) {
    int free_slot = -1, candidate = -1;
    double candidate_time = now;
    *hit = false;
    for (int i = 0; i < n; i++) {
        if (slots[i].id == 0 && (!first_free || free_slot < 0)) {
            free_slot = i;
            continue;
        }
        if (match(i)) {
            *hit = true;
            return i;
        }
        if (!(slots[i].time > candidate_time)) {
            candidate = i;
            candidate_time = slots[i].time;
        }
    }
    return free_slot >= 0 ? free_slot : candidate;
}

/* Bytes of an image name in an image cache slot. */
#define QVP_IMAGE_NAME_SLOT 260

/* A slot of the image cache: its texture name (0: free), the pixels and
 * name of the image it holds, and when it was drawn last. */
typedef struct QVP_IMAGE_SLOT {
    GLuint id;
    unsigned char *data;
    char fname[QVP_IMAGE_NAME_SLOT];
    double time;
} QVP_IMAGE_SLOT;

/* A slot of the video cache: its texture name (0: free), the element it
 * shows, the texture's size, the clip's name, the frame latched for this
 * display frame and its pixels, and when it was drawn last. */
typedef struct QVP_VIDEO_SLOT {
    GLuint id;
    QVP_CANVAS_ELEMENT *element;
    int size[2];
    char *fname;
    int cur_frame;
    unsigned char *data;
    double time;
} QVP_VIDEO_SLOT;


#endif
