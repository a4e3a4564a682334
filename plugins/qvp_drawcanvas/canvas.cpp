// canvas.cpp - the canvas renderer: whether a canvas is drawn here, its
// placement in space (anchor, facing the viewer, screen size), its depth
// and stencil mode, its background and the walk over its elements.
#include <math.h>
#include <string.h>

#include "dc_services.h"
#include "dc_frame.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

/* ---- GL matrix calls in either precision ---- */

void gl_load(const double *m) { glLoadMatrixd(m); }
void gl_load(const float *m) { glLoadMatrixf(m); }
void gl_mult(const double *m) { glMultMatrixd(m); }
void gl_mult(const float *m) { glMultMatrixf(m); }
void gl_rotate(double a, double x, double y, double z) { glRotated(a, x, y, z); }
void gl_rotate(float a, float x, float y, float z) { glRotatef(a, x, y, z); }
void gl_scale(double x, double y, double z) { glScaled(x, y, z); }
void gl_scale(float x, float y, float z) { glScalef(x, y, z); }

void inverse(double dst[4][4], double src[4][4]) { double_data->QVF_FastInverseMat(dst, src); }
void inverse(float dst[4][4], float src[4][4]) { QVF_FastInverseMat(dst, src); }

template <class T>
T length3(const T v[3]) {
    return (T)sqrt((double)(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
}

template <class T>
void cross3(T r[3], const T a[3], const T b[3]) {
    r[0] = a[1] * b[2] - a[2] * b[1];
    r[1] = a[2] * b[0] - a[0] * b[2];
    r[2] = a[0] * b[1] - a[1] * b[0];
}

template <class T>
T dot3(const T a[3], const T b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

template <class T>
void normalise(T v[3]) {
    T l = length3(v);
    if (l > 0)
        for (int i = 0; i < 3; i++) v[i] /= l;
}

// P through matrix M as a point (W 1) or a direction (W 0).
template <class T>
void transform(T r[3], const T p[3], const T m[4][4], bool point) {
    for (int j = 0; j < 3; j++) r[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + (point ? m[3][j] : 0);
}

// M = G*V: a node's global matrix G applied first, then the view V.
template <class T>
void node_times_view(T m[4][4], const T g[4][4], const T v[4][4]) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            T s = 0;
            for (int k = 0; k < 4; k++) s += g[i][k] * v[k][j];
            m[i][j] = s;
        }
}

/* The base frame of a locked canvas, recorded by place() and reloaded
 * when the canvas ends. */
struct BaseFrame {
    double d[4][4];
    float f[4][4];
};

// The frame a locked canvas turns in: a mapped canvas (and a canvas in
// an offscreen texture pass) takes the GL model-view as it stands, in
// either precision; the others the host's view, times their node's
// matrix when on a node.
void base_frame(const QVP_CANVAS *pcan, double m[4][4]) {
    int id = pcan->disp.id;
    if (id == CANVAS_ID_MAPPED) {
        glGetDoublev(GL_MODELVIEW_MATRIX, &m[0][0]);
    } else if (id >= 0 && id < QVV_display->node_count && double_data->processed_grelmat) {
        node_times_view<double>(m, double_data->processed_grelmat[id], double_data->QVV_modelview_matrix);
    } else {
        memcpy(m, double_data->QVV_modelview_matrix, sizeof(double) * 16);
    }
}

void base_frame(const QVP_CANVAS *, float m[4][4]) { glGetFloatv(GL_MODELVIEW_MATRIX, &m[0][0]); }

template <class T>
T (*base_of(BaseFrame &b))[4];
template <>
double (*base_of<double>(BaseFrame &b))[4] { return b.d; }
template <>
float (*base_of<float>(BaseFrame &b))[4] { return b.f; }

// Turns a locked canvas toward the viewer and scales it to the screen in
// precision T; ORG is the anchored origin and may move.
template <class T>
void lock_canvas(QVP_CANVAS *pcan, double org[3], BaseFrame &base) {
    const QVP_CANVAS_DISPLAYDEF &d = pcan->disp;
    T(*mview2)[4] = base_of<T>(base);
    base_frame(pcan, mview2);
    T dorg[3], cvec[3], rvec[3];
    for (int i = 0; i < 3; i++) {
        dorg[i] = (T)d.org[i];
        cvec[i] = (T)d.col_vec[i];
        rvec[i] = (T)d.row_vec[i];
    }
    int both = LOCK_ROW_AXIS | LOCK_COL_AXIS;
    if ((d.locked & both) == both) {
        // Screen-aligned: columns to the right, rows down, at the eye depth
        // of the origin.
        T row[3], col[3], torg[3];
        T rl = length3(rvec), cl = length3(cvec);
        for (int i = 0; i < 3; i++) {
            row[i] = -rvec[i] / rl;
            col[i] = cvec[i] / cl;
        }
        transform(torg, dorg, mview2, true);
        T minvert[4][4] = {{col[0], row[0], 0, 0}, {col[1], row[1], 0, 0}, {col[2], row[2], 0, 0}, {torg[0], torg[1], torg[2], 1}};
        for (int i = 0; i < 3; i++) org[i] -= d.org[i];
        gl_load(&minvert[0][0]);
    } else if (d.locked & both) {
        // Facing the viewer about one axis; the axis passes through the
        // frame's origin.
        T eye[3] = {-mview2[3][0], -mview2[3][1], -mview2[3][2]};
        normalise(eye);
        T trow[3], tcol[3];
        transform(trow, rvec, mview2, false);
        transform(tcol, cvec, mview2, false);
        normalise(trow);
        normalise(tcol);
        bool col_axis = (d.locked & LOCK_COL_AXIS) != 0;
        const T *along = col_axis ? tcol : trow;   // the axis kept
        const T *other = col_axis ? trow : tcol;   // the axis turned
        T s[3], tmp[3];
        cross3(s, eye, along);
        if (length3(s) > (T)1e-07) {
            normalise(s);
            cross3(tmp, s, other);
            T c = dot3(s, other);
            c = c > 1 ? 1 : c < -1 ? -1 : c;
            T ang = (T)(acos((double)c) * 180.0 / 3.1415926);
            if (!(dot3(tmp, along) < 0)) ang = -ang;
            const T *axis = col_axis ? cvec : rvec;
            gl_rotate(ang + (T)180, axis[0], axis[1], axis[2]);
        }
    }
    if (QVV_viewport && (d.locked & LOCK_SCREEN_SIZE)) {
        const QVS_VIEWPORT *vp = QVV_viewport;
        T view_xsize = (T)(vp->rright - vp->rleft), view_ysize = (T)(vp->rtop - vp->rbottom);
        T torg[3];
        transform(torg, dorg, mview2, true);
        T dist = length3(torg);
        if (dist < (T)1e-10) dist = (T)1e-10;
        T view_scale = (T)vp->rnear / dist;
        double hs, vs;
        ScaleModeFactors<double>(pcan->scale, vp->dw, vp->rw, vp->dh, vp->rh, hs, vs);
        T can_height = length3(rvec), can_width = length3(cvec);
        T row[3], col[3], n[3];
        for (int i = 0; i < 3; i++) {
            row[i] = rvec[i] / can_height;
            col[i] = cvec[i] / can_width;
        }
        cross3(n, col, row);
        T sw = (T)(pcan->size * hs * view_xsize / (can_width * view_scale));
        T sh = (T)(pcan->size * vs * view_ysize / (can_height * view_scale));
        T minvert[4][4] = {{col[0], row[0], n[0], 0}, {col[1], row[1], n[1], 0}, {col[2], row[2], n[2], 0}, {0, 0, 0, 1}};
        T rotmat[4][4];
        inverse(rotmat, minvert);
        gl_mult(&rotmat[0][0]);
        gl_scale(sw, sh, (T)1);
        gl_mult(&minvert[0][0]);
    }
}

// Anchors the origin and, for a locked canvas, turns and scales it.
void place(QVP_CANVAS *pcan, double org[3], BaseFrame &base) {
    const QVP_CANVAS_DISPLAYDEF &d = pcan->disp;
    for (int i = 0; i < 3; i++) {
        org[i] = d.org[i];
        // The end bits win on a flat canvas.
        if (pcan->anchor & ANCHOR_COL_END) org[i] -= d.col_vec[i];
        else if (!(pcan->anchor & ANCHOR_COL_START)) org[i] -= d.col_vec[i] / 2;
        if (pcan->anchor & ANCHOR_ROW_END) org[i] -= d.row_vec[i];
        else if (!(pcan->anchor & ANCHOR_ROW_START)) org[i] -= d.row_vec[i] / 2;
    }
    if (!d.locked) return;
    if (double_data) lock_canvas<double>(pcan, org, base);
    else lock_canvas<float>(pcan, org, base);
}

void unplace(const QVP_CANVAS_DISPLAYDEF &d, BaseFrame &base) {
    if (!d.locked) return;
    if (double_data) glLoadMatrixd(&base.d[0][0]);
    else glLoadMatrixf(&base.f[0][0]);
}

void canvas_quad(const double org[3], const QVP_CANVAS_DISPLAYDEF &d) {
    double p[4][3];
    for (int i = 0; i < 3; i++) {
        p[0][i] = org[i];
        p[1][i] = org[i] + d.row_vec[i];
        p[2][i] = org[i] + d.row_vec[i] + d.col_vec[i];
        p[3][i] = org[i] + d.col_vec[i];
    }
    QVF_StateEnable(GL_TEXTURE_2D, 0);
    VertexBegin(0);
    for (auto &v : p) VertexAt((float)v[0], (float)v[1], (float)v[2]);
    VertexEnd(GL_POLYGON);
    QVF_StateEnable(GL_TEXTURE_2D, 1);
}

// The stencil value the canvas being drawn marks its background with and
// its elements are confined to; set by depth_mode.
GLint element_ref = 1;

// The layer passes' marking: each canvas marks its background with a
// value of its own, 1, 2, 3 ... up to what the stencil holds (255 at
// most), so that no earlier canvas's mark can pass for its own; the
// stencil is cleared only when the values are used up or someone else
// may have written it (StencilMark 0, see ForgetStencil). The pixels are
// those of a clear per canvas: the elements land exactly where this
// canvas's background passed.
void layer_stencil_start() {
    // Another view or frame: the host has cleared the stencil since.
    static const QVS_VIEWPORT *marked_view = nullptr;
    static int marked_frame = -1;
    int frame = QVV_display ? QVV_display->frame_count : 0;
    if (QVV_viewport != marked_view || frame != marked_frame) ForgetStencil();
    marked_view = QVV_viewport;
    marked_frame = frame;
    GLint most = stencil_bits >= 8 ? 255 : (1 << stencil_bits) - 1;
    int last = StencilMark();
    if (last <= 0 || last >= most) {
        StencilWrites(1, 1, 1);
        SetStencilMark(element_ref = 1);
        return;
    }
    SetStencilMark(element_ref = last + 1);
    StencilWrites(element_ref, 0xff, 0);
}

void mark(QVP_CANVAS *pcan, const double org[3]) {
    if (stencil_bits) {
        StencilWrites(3, 0xff, 1);
        ForgetStencil();
    }
    DepthTested(0);
    ColourWrites(0);
    if (double_data) SetColour(pcan->rgb_gain[0], pcan->rgb_gain[1], pcan->rgb_gain[2], 1);
    else SetColour(1, 1, 1, 1);
    canvas_quad(org, pcan->disp);
    if (stencil_bits) {
        StencilConfines(3);
        QVF_StateDepthMask(1);
    }
    ColourWrites(1);
}

void depth_mode(const QVP_CANVAS *pcan, int use_depth) {
    element_ref = 1;
    if (use_depth == 1) {
        if (stencil_bits) layer_stencil_start();
        if (double_data) {
            // The scene layer tests depth and leaves depth writes as
            // the host had them.
            if (pcan->draw_layer == LAYER_SCENE) {
                QVF_StateDepthFunc(GL_LEQUAL);
                QVF_StateEnable(GL_DEPTH_TEST, 1);
            }
        } else {
            DepthTested(0);
        }
    } else if (use_depth == 2) {
        if (stencil_bits) {
            ForgetStencil();  // marks of 1 over the view pass's 3s
            QVF_StateEnable(GL_STENCIL_TEST, 1);
            QVF_StateStencilFunc(GL_EQUAL, 1, 1);
            QVF_StateStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
        }
        DepthTested(0);
    } else {
        DepthAndStencilOff();
    }
}

void background_and_elements(QVP_CANVAS *pcan, const double org[3], int use_depth) {
    bool no_colour = pcan->bcol[0] < 0;
    // Blending is on with the source-alpha function all through the frame
    // (the drawing state the frame opened): a translucent canvas or
    // element needs no switch of its own.
    if (no_colour) {
        // The quad still marks depth and stencil, invisibly.
        SetColour(1, 1, 1, 1);
        ColourWrites(0);
    } else {
        const float *b = pcan->bcol, *g = pcan->rgb_gain;
        SetColour(b[0] * g[0], b[1] * g[1], b[2] * g[2], pcan->opacity);
    }
    canvas_quad(org, pcan->disp);
    if (use_depth && stencil_bits) {
        // Elements land only where the background passed, untested.
        StencilConfines(element_ref);
        QVF_StateEnable(GL_DEPTH_TEST, 0);
        QVF_StateDepthMask(0);
    }
    if (no_colour) {
        if (double_data) ColourWritesNoAlpha();
        else ColourWrites(1);
    }
    QVP_WALK(QVP_CANVAS_ELEMENT, e, pcan->elements)
        if (!(e->attrib & ATTRIB_HIDDEN)) DrawCanvasElement(pcan, e);
}

// 1 when the canvas has a grid to draw in: columns and rows, and, when
// it turns or scales with the viewer, axes of some length (the turn
// divides by them).
bool has_geometry(const QVP_CANVAS_DISPLAYDEF &d) {
    if (!(d.ncols > 0) || !(d.nrows > 0)) return false;
    if (!d.locked) return true;
    double c = d.col_vec[0] * d.col_vec[0] + d.col_vec[1] * d.col_vec[1] + d.col_vec[2] * d.col_vec[2];
    double r = d.row_vec[0] * d.row_vec[0] + d.row_vec[1] * d.row_vec[1] + d.row_vec[2] * d.row_vec[2];
    return c > 0 && r > 0;
}

// Draws canvas SHARED as its process-local copy PCAN says, unless the
// current viewport is one it excludes or it has no geometry. Caches know
// the canvas by SHARED.
void draw_canvas_here(const QVP_CANVAS *shared, QVP_CANVAS *pcan, int use_depth) {
    if (QVV_viewport)
        QVP_WALK(QVP_CANVAS_VIEW, v, pcan->no_views)
            if (v->pview == QVV_viewport) return;
    if (!has_geometry(pcan->disp)) return;
    // A curved node canvas is drawn flat into a texture first; the
    // texture pass rewrites the local copy, and the finish puts back what
    // it finds here and shows the texture on the curved surface.
    QVP_CANVAS_DISPLAYDEF prev_disp = pcan->disp;
    float prev_opacity = pcan->opacity;
    int prev_anchor = pcan->anchor, prev_use_depth = use_depth;
    QVP_OFFSCREEN os;
    int offscreen = 0;
    if (pcan->disp.proj != PROJ_FLAT && pcan->disp.id >= 0) {
        offscreen = OffscreenSetup(shared, pcan, &use_depth, &os);
        if (offscreen < 0) return;
    }
    double org[3];
    BaseFrame base;
    place(pcan, org, base);
    if (use_depth == 3) {
        mark(pcan, org);
    } else {
        glFontDisplay2DBegin(org, pcan->disp.col_vec, pcan->disp.row_vec, (double)pcan->disp.ncols,
                             (double)pcan->disp.nrows);
        depth_mode(pcan, use_depth);
        if ((double)pcan->opacity > 0.001) background_and_elements(pcan, org, use_depth);
        glFontDisplay2DEnd();
    }
    unplace(pcan->disp, base);
    if (offscreen) OffscreenFinish(pcan, &prev_disp, prev_opacity, prev_anchor, prev_use_depth, &os);
}

// The canvases being drawn, outermost first: pushed and popped by
// DrawCanvas, read by nested canvas elements.
QVP_CANVAS *drawing[QVP_MAX_NESTING + 2];
int drawing_depth = 0;

}  // namespace

int CanvasBeingDrawn(const QVP_CANVAS *pcan) {
    for (int i = 0; i < drawing_depth; i++)
        if (drawing[i] == pcan) return 1;
    return 0;
}

int CanvasDrawDepth(void) { return drawing_depth; }

void DrawCanvas(QVP_CANVAS *pcan, int use_depth) { DrawCanvasAs(pcan, pcan, use_depth); }

void DrawCanvasAs(QVP_CANVAS *pcan, const QVP_CANVAS *record, int use_depth) {
    if (!draw_canvas || drawing_depth > QVP_MAX_NESTING) return;
    drawing[drawing_depth++] = pcan;
    // What drawing changes for a while (a texture pass's placement, an
    // overlay's axes, a nested canvas's fade) it changes in this copy: a
    // display killed mid-draw leaves every shared record as its builder
    // wrote it.
    QVP_CANVAS view = *record;
    draw_canvas_here(pcan, &view, use_depth);
    drawing_depth--;
#ifdef QVP_GL_CHECKS
    LogGLErrors_F(1, pcan->name, __LINE__);
#endif
}

int CanvasNodeShown(int id) {
    if (id < 0 || !QVV_display || id >= QVV_display->node_count) return 0;
    const QVS_LOCAL_NODE *n = &QVV_display->node_list[id];
    return !(n->attrib & QVP_ATTRIB_HIDDEN) && !(n->type & kNodeTypesNeverShown);
}

void LoadCanvasBaseFrame(int id) {
    if (double_data) {
        if (id < 0) {
            glLoadMatrixd(&double_data->QVV_modelview_matrix[0][0]);
            return;
        }
        double g[4][4], m[4][4];
        double_data->QVF_GetDisplayGlobalMat(id, g);
        node_times_view<double>(m, g, double_data->QVV_modelview_matrix);
        glLoadMatrixd(&m[0][0]);
        return;
    }
    if (id < 0) {
        glLoadMatrixf(&QVV_modelview_matrix[0][0]);
        return;
    }
    QVT_MATRIX g, m;
    QVF_GetDisplayGlobalMat(id, g);
    node_times_view<float>(m, g, QVV_modelview_matrix);
    glLoadMatrixf(&m[0][0]);
}
