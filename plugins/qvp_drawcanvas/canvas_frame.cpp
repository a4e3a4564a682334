// canvas_frame.cpp - the stack of open canvas frames: a canvas opens its
// frame (origin, column and row steps) and every element vertex inside
// it is placed by column and row (VertexColRow, or glColRow for callers
// of the GL-style interface); nested canvases push their frames over it.
// Opening the first frame or font also opens the host drawing state every
// canvas draws in. Here too is the one vertex array that shapes, media
// quads and sphere patches are drawn from.
#include <stdlib.h>
#include <string.h>

#include "dc_services.h"
#include "dc_frame.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"

// Open glFontBegin and glFontDisplay2DBegin calls; the first opens a host
// drawing state and the last closes it.
int set_drawing_state = 0;

// The innermost open frame's display definition (null when none) and its
// column and row steps.
QVP_CANVAS_DISPLAYDEF *pdispdef = nullptr;
double gldcol[3] = {0, 0, 0};
double gldrow[3] = {0, 0, 0};


namespace {

struct Frame {
    QVP_CANVAS_DISPLAYDEF disp;
    double dcol[3], drow[3];
};

// The open frames, innermost last; pushed by glFontDisplay2DBegin. Frames
// deeper than the stack are counted but not kept (nested canvases are
// bounded well below this).
const int kMaxFrames = 64;
Frame g_frames[kMaxFrames];
int g_frame_depth = 0;

}  // namespace

void OpenDrawingState(void) {
    if (set_drawing_state == 0) {
        QVF_PushDrawingState();
        ForgetTrackedState();
        QVF_StateEnable(GL_LIGHTING, 0);
        QVF_StateEnable(GL_TEXTURE_2D, 1);
        QVF_StateBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        QVF_StateEnable(GL_BLEND, 1);
        QVF_StateEnable(GL_CULL_FACE, 0);
    }
    set_drawing_state++;
}

void CloseDrawingState(void) {
    set_drawing_state--;
    if (set_drawing_state == 0) {
        QVF_PopDrawingState();
        ForgetTrackedState();
    }
}

namespace {

// Makes the innermost kept frame the one glColRow reads.
void point_frame() {
    if (g_frame_depth == 0) {
        pdispdef = nullptr;
        return;
    }
    Frame &f = g_frames[(g_frame_depth > kMaxFrames ? kMaxFrames : g_frame_depth) - 1];
    pdispdef = &f.disp;
    memcpy(gldcol, f.dcol, sizeof gldcol);
    memcpy(gldrow, f.drow, sizeof gldrow);
}

}  // namespace

// Opens a canvas frame: origin ORG, column step COL_VEC / NCOLS, row step
// ROW_VEC / NROWS, nesting over any open one (frames deeper than the
// stack are counted, not kept), and opens the drawing state.
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows) {
    OpenDrawingState();
    if (g_frame_depth < kMaxFrames) {
        Frame &f = g_frames[g_frame_depth];
        memset(&f.disp, 0, sizeof f.disp);
        memcpy(f.disp.org, org, sizeof f.disp.org);
        memcpy(f.disp.col_vec, col_vec, sizeof f.disp.col_vec);
        memcpy(f.disp.row_vec, row_vec, sizeof f.disp.row_vec);
        f.disp.ncols = (float)ncols;
        f.disp.nrows = (float)nrows;
        for (int i = 0; i < 3; i++) {
            f.dcol[i] = col_vec[i] / (double)f.disp.ncols;
            f.drow[i] = row_vec[i] / (double)f.disp.nrows;
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
    double o[3] = {0, 0, 0};
    if (pdispdef) memcpy(o, pdispdef->org, sizeof o);
    glVertex3d((o[0] + gldcol[0] * c) + gldrow[0] * r, (o[1] + gldcol[1] * c) + gldrow[1] * r,
               (o[2] + gldcol[2] * c) + gldrow[2] * r);
}

namespace {

// The vertex array every shape, image quad and sphere patch is written
// into: GL_T2F_V3F vertices when textured, GL_V3F otherwise. Grown by
// room_for (never shrunk) and kept for the process; emptied by
// VertexBegin, drawn by VertexEnd.
float *g_verts = nullptr;
int g_vert_cap = 0;        // vertices of the widest format it holds
int g_vert_n = 0;
bool g_textured = false;   // the primitive being written has coordinates
bool g_overflow = false;   // a vertex found no room: the primitive is dropped
float g_s = 0, g_t = 0;    // the texture coordinate of the next vertex

float *room_for() {
    if (g_vert_n >= g_vert_cap) {
        if (g_overflow || g_vert_cap > (1 << 24)) {
            g_overflow = true;
            return nullptr;
        }
        int cap = g_vert_cap ? 2 * g_vert_cap : 1024;
        void *grown = PluginRealloc(g_verts, sizeof(float) * 5 * (size_t)cap);
        if (!grown) {
            g_overflow = true;
            return nullptr;
        }
        g_verts = (float *)grown;
        g_vert_cap = cap;
    }
    return g_verts + (size_t)g_vert_n++ * (g_textured ? 5 : 3);
}

}  // namespace

void VertexBegin(int textured) {
    g_vert_n = 0;
    g_textured = textured != 0;
    g_overflow = false;
}

void VertexTexCoord(float s, float t) {
    g_s = s;
    g_t = t;
}

void VertexAt(float x, float y, float z) {
    float *v = room_for();
    if (!v) return;
    if (g_textured) {
        *v++ = g_s;
        *v++ = g_t;
    }
    v[0] = x, v[1] = y, v[2] = z;
}

// The point is summed in double precision, as glColRow sums it, and
// rounded to float where GL would round it.
void VertexColRow(double c, double r) {
    double o[3] = {0, 0, 0};
    if (pdispdef) memcpy(o, pdispdef->org, sizeof o);
    VertexAt((float)((o[0] + gldcol[0] * c) + gldrow[0] * r), (float)((o[1] + gldcol[1] * c) + gldrow[1] * r),
             (float)((o[2] + gldcol[2] * c) + gldrow[2] * r));
}

void VertexEnd(GLenum mode) {
    if (g_overflow) {
        QVF_LogWarningF("out of memory for a shape's vertices: the shape is not drawn", QVP_SOURCE, __LINE__);
    } else if (g_vert_n > 0) {
        QVF_StateInterleavedArrays(g_textured ? GL_T2F_V3F : GL_V3F, 0, g_verts);
        glDrawArrays(mode, 0, g_vert_n);
        QVF_StateClientArray(GL_VERTEX_ARRAY, 0);
        if (g_textured) QVF_StateClientArray(GL_TEXTURE_COORD_ARRAY, 0);
    }
    g_vert_n = 0;
}

void ResetCanvasFrames(void) {
    set_drawing_state = 0;
    pdispdef = nullptr;
    g_frame_depth = 0;
    free(g_verts);
    g_verts = nullptr;
    g_vert_cap = g_vert_n = 0;
}
