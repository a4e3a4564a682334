// canvas_frame.cpp - the stack of open canvas frames: a canvas opens its
// frame (origin, column and row steps) and every element vertex inside
// it is placed by column and row (VertexColRow, or glColRow for callers
// of the GL-style interface); nested canvases push their frames over it.
// Opening the first frame or font also opens the host drawing state every
// canvas draws in (gl_state.cpp).
#include <stdlib.h>
#include <string.h>

#include "dc_services.h"
#include "dc_frame.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"

namespace {

// A frame: its origin and its column and row steps.
struct Frame {
    double org[3], dcol[3], drow[3];
};

// The open frames, innermost last; pushed by glFontDisplay2DBegin. Frames
// deeper than the stack are counted but not kept (nested canvases are
// bounded well below this).
const int kMaxFrames = 64;
Frame g_frames[kMaxFrames];
int g_frame_depth = 0;

// The innermost kept frame, all 0 when none is open; set by point_frame
// as frames open and close.
Frame g_now = {};

// Makes the innermost kept frame the one glColRow reads.
void point_frame() {
    if (g_frame_depth == 0) g_now = Frame{};
    else g_now = g_frames[(g_frame_depth > kMaxFrames ? kMaxFrames : g_frame_depth) - 1];
}

}  // namespace

// Opens a canvas frame: origin ORG, column step COL_VEC / NCOLS, row step
// ROW_VEC / NROWS, nesting over any open one (frames deeper than the
// stack are counted, not kept), and opens the drawing state.
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows) {
    OpenDrawingState();
    if (g_frame_depth < kMaxFrames) {
        Frame &f = g_frames[g_frame_depth];
        // The counts are single precision, as a canvas record holds them.
        double cols = (double)(float)ncols, rows = (double)(float)nrows;
        for (int i = 0; i < 3; i++) {
            f.org[i] = org[i];
            f.dcol[i] = col_vec[i] / cols;
            f.drow[i] = row_vec[i] / rows;
        }
    }
    g_frame_depth++;
    point_frame();
}

// Closes the innermost canvas frame; the one around it is in force again.
void glFontDisplay2DEnd(void) {
    if (g_frame_depth > 0) g_frame_depth--;
    point_frame();
    CloseDrawingState();
}

// Issues the vertex of column C, row R of the open frame (the origin
// alone when none is open).
void glColRow(double c, double r) {
    const double *o = g_now.org, *gldcol = g_now.dcol, *gldrow = g_now.drow;
    glVertex3d((o[0] + gldcol[0] * c) + gldrow[0] * r, (o[1] + gldcol[1] * c) + gldrow[1] * r,
               (o[2] + gldcol[2] * c) + gldrow[2] * r);
}

// The point is summed in double precision, as glColRow sums it, and
// rounded to float where GL would round it.
void VertexColRow(double c, double r) {
    const double *o = g_now.org, *gldcol = g_now.dcol, *gldrow = g_now.drow;
    VertexAt((float)((o[0] + gldcol[0] * c) + gldrow[0] * r), (float)((o[1] + gldcol[1] * c) + gldrow[1] * r),
             (float)((o[2] + gldcol[2] * c) + gldrow[2] * r));
}

int InnermostFrame(double org[3], double col[3], double row[3]) {
    memcpy(org, g_now.org, sizeof g_now.org);
    memcpy(col, g_now.dcol, sizeof g_now.dcol);
    memcpy(row, g_now.drow, sizeof g_now.drow);
    return g_frame_depth > 0;
}

void ResetCanvasFrames(void) {
    g_frame_depth = 0;
    point_frame();
}
