// display.cpp - the display: channels, viewports, the display's view of
// the scene nodes and their matrices, node layers, the drawing-state
// stack, and the frame loop that runs the phases.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <errno.h>
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "egl_context.h"
#include "qvp_double.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"

QVS_DISPLAY *QVV_display = nullptr;
QVS_CHANNEL *QVV_channel = nullptr;
QVS_VIEWPORT *QVV_viewport = nullptr;
QVS_NODE_LAYERS *QVV_node_layers = nullptr;
QVT_MATRIX QVV_modelview_matrix;
QVT_MATRIX QVV_projection_matrix;
int QVV_draw_layer = 0;
int QVV_did_render = 0;
int QVV_cleared_depth = 0;
QVS_GEOM_DATA **QVV_rendered_geoms = nullptr;

namespace {

const char *kSrc = "qvpdisp";

// Everything the open display owns beyond its public record; created by
// QVH_OpenDisplay, released by QVH_CloseDisplay.
struct DisplayState {
    QVS_DISPLAY disp;
    std::vector<QVS_LOCAL_NODE> nodes;
    std::vector<QVS_GEOM_DATA> geoms;
    std::vector<QVS_GEOM_DATA *> rendered;
    std::vector<double> gmat;           // 16 doubles per node
    std::vector<char> gmat_done;        // cycle guard while computing
    QVS_NODE_LAYERS *layers = nullptr;  // the display's own node layers
    QVS_DOUBLE_DATA *dd = nullptr;
    double view[4][4];                  // view matrix of the current viewport
    double proj[4][4];
    std::string renderer;
    struct timespec start;
};
DisplayState *g = nullptr;

// One saved drawing state; pushed by QVF_PushDrawingState.
struct SavedState {
    GLint matrix_mode;
    double mv[16], pr[16], tx[16];
};
std::vector<SavedState> g_state_stack;

// The frame hook; set by QVH_SetFrameHook.
void (*g_frame_hook)(double, void *) = nullptr;
void *g_frame_hook_data = nullptr;

void log_warn(const std::string &s) { QVF_LogWarningF(s.c_str(), kSrc, 0); }

void set_err(char *err, size_t len, const std::string &msg) {
    if (err && len) snprintf(err, len, "%s", msg.c_str());
    log_warn(msg);
}

void to_float(QVT_MATRIX dst, const double src[4][4]) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) dst[i][j] = (float)src[i][j];
}

// Rotation by DEG degrees about axis I (0 x, 1 y, 2 z), row-vector form.
void rot_axis(double m[4][4], int axis, double deg) {
    double a = deg * M_PI / 180.0, c = cos(a), s = sin(a);
    QVH_MatIdentity(m);
    int i = (axis + 1) % 3, j = (axis + 2) % 3;
    m[i][i] = c;
    m[i][j] = s;
    m[j][i] = -s;
    m[j][j] = c;
}

// Local matrix of a node: roll about z, pitch about x, heading about y,
// then the translation (row vectors: the first factor applies first).
void node_local(const QVS_NODE *n, double m[4][4]) {
    double r[4][4], p[4][4], h[4][4], t1[4][4], t2[4][4];
    rot_axis(r, 2, n->rot[2]);
    rot_axis(p, 0, n->rot[1]);
    rot_axis(h, 1, n->rot[0]);
    QVH_MatMul(t1, r, p);
    QVH_MatMul(t2, t1, h);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) m[i][j] = t2[i][j];
    m[3][0] = n->pos[0];
    m[3][1] = n->pos[1];
    m[3][2] = n->pos[2];
}

double (*gmat_at(int i))[4] { return (double(*)[4]) & g->gmat[(size_t)i * 16]; }

void compute_global(QVS_SCENE *s, int i, int depth) {
    if (g->gmat_done[(size_t)i]) return;
    double l[4][4];
    node_local(&s->node_list[i], l);
    int par = s->node_list[i].parent;
    if (par >= 0 && par < s->node_count && par != i && depth < 64) {
        compute_global(s, par, depth + 1);
        double r[4][4];
        QVH_MatMul(r, l, gmat_at(par));
        memcpy(gmat_at(i), r, sizeof r);
    } else {
        memcpy(gmat_at(i), l, sizeof l);
    }
    g->gmat_done[(size_t)i] = 1;
}

void frustum(double m[4][4], double l, double r, double b, double t, double n, double f) {
    memset(m, 0, sizeof(double) * 16);
    m[0][0] = 2 * n / (r - l);
    m[1][1] = 2 * n / (t - b);
    m[2][0] = (r + l) / (r - l);
    m[2][1] = (t + b) / (t - b);
    m[2][2] = -(f + n) / (f - n);
    m[2][3] = -1;
    m[3][2] = -2 * f * n / (f - n);
}

void look_at(double m[4][4], const double eye[3], const double at[3], const double up[3]) {
    double f[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
    double fl = sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    if (fl < 1e-12) { f[0] = 0; f[1] = 0; f[2] = -1; fl = 1; }
    for (double &v : f) v /= fl;
    double s[3] = {f[1] * up[2] - f[2] * up[1], f[2] * up[0] - f[0] * up[2], f[0] * up[1] - f[1] * up[0]};
    double sl = sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (sl < 1e-12) {  // up parallel to the view direction: pick another
        double alt[3] = {0, 0, 1};
        if (fabs(f[2]) > 0.9) { alt[1] = 1; alt[2] = 0; }
        s[0] = f[1] * alt[2] - f[2] * alt[1];
        s[1] = f[2] * alt[0] - f[0] * alt[2];
        s[2] = f[0] * alt[1] - f[1] * alt[0];
        sl = sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    }
    for (double &v : s) v /= sl;
    double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    QVH_MatIdentity(m);
    for (int i = 0; i < 3; i++) {
        m[i][0] = s[i];
        m[i][1] = u[i];
        m[i][2] = -f[i];
    }
    m[3][0] = -(s[0] * eye[0] + s[1] * eye[1] + s[2] * eye[2]);
    m[3][1] = -(u[0] * eye[0] + u[1] * eye[1] + u[2] * eye[2]);
    m[3][2] = (f[0] * eye[0] + f[1] * eye[1] + f[2] * eye[2]);
}

void list_add(QVS_NODE_LIST *l, int node) {
    if (l->node_count >= l->capacity) {
        int cap = l->capacity ? l->capacity * 2 : 16;
        int *grown = (int *)realloc(l->node_list, sizeof(int) * (size_t)cap);
        if (!grown) {
            log_warn("node layers: out of memory");
            return;
        }
        l->node_list = grown;
        l->capacity = cap;
    }
    l->node_list[l->node_count++] = node;
}

QVS_NODE_LAYER *layer_of(QVS_NODE_LAYERS *ls, int bit) {
    switch (bit) {
    case LAYER_BACKGROUND: return &ls->background;
    case LAYER_SCENE: return &ls->scene;
    case LAYER_FOREGROUND: return &ls->foreground;
    default: return nullptr;
    }
}

bool node_hidden(int i) {
    QVS_NODE *sn = QVH_GetNode(i);
    return (g->nodes[(size_t)i].attrib & QVP_ATTRIB_HIDDEN) || !sn || (sn->attrib & QVP_ATTRIB_HIDDEN);
}

void draw_shape(const QVS_NODE *n) {
    double x = n->size[0] / 2, y = n->size[1] / 2, z = n->size[2] / 2;
    glColor4f(n->color[0], n->color[1], n->color[2], 1.0f);
    switch (n->shape) {
    case QVP_SHAPE_QUAD:
        glBegin(GL_QUADS);
        glVertex3d(-x, -y, 0); glVertex3d(x, -y, 0); glVertex3d(x, y, 0); glVertex3d(-x, y, 0);
        glEnd();
        break;
    case QVP_SHAPE_BOX: {
        static const int f[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                    {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
        glBegin(GL_QUADS);
        for (auto &face : f)
            for (int k : face) glVertex3d(k & 4 ? x : -x, k & 2 ? y : -y, k & 1 ? z : -z);
        glEnd();
        break;
    }
    case QVP_SHAPE_SPHERE: {
        const int st = 24, sl = 32;
        for (int i = 0; i < st; i++) {
            double a0 = M_PI * i / st - M_PI / 2, a1 = M_PI * (i + 1) / st - M_PI / 2;
            glBegin(GL_QUAD_STRIP);
            for (int j = 0; j <= sl; j++) {
                double b = 2 * M_PI * j / sl;
                glVertex3d(x * cos(a1) * cos(b), y * sin(a1), z * cos(a1) * sin(b));
                glVertex3d(x * cos(a0) * cos(b), y * sin(a0), z * cos(a0) * sin(b));
            }
            glEnd();
        }
        break;
    }
    default:
        break;
    }
}

/* ---- host steps of the phases ---- */

void core_draw_view() {
    QVS_NODE_LAYER *ly = QVV_node_layers ? layer_of(QVV_node_layers, QVV_draw_layer) : nullptr;
    if (!ly) return;
    QVS_SCENE *s = QVV_scene;
    glPushAttrib(GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    int count = s ? s->node_count : 0;
    for (QVS_NODE_LIST *l : {&ly->low_priority, &ly->zero_priority, &ly->high_priority}) {
        for (int k = 0; k < l->node_count; k++) {
            int i = l->node_list[k];
            if (i < 0 || i >= count || i >= QVV_display->node_count || node_hidden(i)) continue;
            QVS_NODE *n = &s->node_list[i];
            double m[4][4];
            QVH_MatMul(m, gmat_at(i), g->view);
            glLoadMatrixd(&m[0][0]);
            draw_shape(n);
            QVS_GEOM_DATA *gd = &g->geoms[(size_t)i];
            gd->node = i;
            gd->layer = QVV_draw_layer;
            gd->shape = n->shape;
            QVV_rendered_geoms[i] = gd;
            QVV_did_render |= QVV_draw_layer;
        }
    }
    glPopMatrix();
    glPopAttrib();
}

void core_layer(int bit) {
    QVV_draw_layer = bit;
    QVH_RunPhase(QVP_PHASE_DRAW_VIEW, core_draw_view);
}
void core_background() { core_layer(LAYER_BACKGROUND); }
void core_scene() { core_layer(LAYER_SCENE); }
void core_foreground() { core_layer(LAYER_FOREGROUND); }

void core_update_scene() { QVH_SyncNodes(); }

void rebuild_layers() {
    QVF_ClearNodeLayers(g->layers);
    QVS_SCENE *s = QVV_scene;
    for (int i = 0; i < QVV_display->node_count; i++) {
        const QVS_NODE *n = &s->node_list[i];
        if (n->shape == QVP_SHAPE_NONE || node_hidden(i)) continue;
        QVF_AddNodeToLayers(g->layers, i, n->layer);
    }
    QVV_node_layers = g->layers;
}

void set_view_matrices(QVS_VIEWPORT *vp) {
    frustum(g->proj, vp->rleft, vp->rright, vp->rbottom, vp->rtop, vp->rnear, vp->rfar);
    look_at(g->view, vp->eye, vp->look, vp->up);
    to_float(QVV_projection_matrix, g->proj);
    to_float(QVV_modelview_matrix, g->view);
    if (g->dd) {
        memcpy(g->dd->QVV_projection_matrix, g->proj, sizeof g->proj);
        memcpy(g->dd->QVV_modelview_matrix, g->view, sizeof g->view);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(&g->proj[0][0]);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(&g->view[0][0]);
}

void dd_inverse(double dst[4][4], double src[4][4]) { QVH_MatInverse(dst, src); }
void dd_global(int node, double r[4][4]) { QVH_NodeGlobalMatd(node, r); }

void ensure_default_layout() {
    if (QVV_display->channel_list) return;
    QVS_CHANNEL *c = QVH_AddChannel("channel1", 0, 0);
    if (c) QVH_AddViewport(c, "view1");
}

}  // namespace

/* ---- opening and closing ---- */

extern "C" QVS_DISPLAY *QVH_OpenDisplay(const char *name, int w, int h, int double_precision,
                                        char *err, size_t errlen) {
    if (g) {
        set_err(err, errlen, "a display is already open in this process");
        return nullptr;
    }
    if (!QVV_scene) {
        set_err(err, errlen, "cannot open a display without a scene");
        return nullptr;
    }
    if (w < 1 || h < 1 || w > 16384 || h > 16384) {
        set_err(err, errlen, "bad display size " + std::to_string(w) + "x" + std::to_string(h));
        return nullptr;
    }
    std::string why;
    if (!qvp_egl_open(w, h, why)) {
        set_err(err, errlen, "cannot open the display: " + why);
        return nullptr;
    }
    g = new DisplayState();
    memset(&g->disp, 0, sizeof g->disp);
    snprintf(g->disp.name, sizeof g->disp.name, "%s", name && *name ? name : "display");
    g->disp.width = w;
    g->disp.height = h;
    g->disp.double_precision = double_precision != 0;
    g->disp.time_step = 1.0 / 60.0;
    const char *r = (const char *)glGetString(GL_RENDERER);
    g->renderer = r ? r : "unknown";
    g->layers = QVF_AllocateNodeLayers();
    QVH_MatIdentity(g->view);
    QVH_MatIdentity(g->proj);
    clock_gettime(CLOCK_MONOTONIC, &g->start);
    if (double_precision) {
        g->dd = (QVS_DOUBLE_DATA *)calloc(1, sizeof(QVS_DOUBLE_DATA));
        g->dd->QVF_FastInverseMat = dd_inverse;
        g->dd->QVF_GetDisplayGlobalMat = dd_global;
        QVH_SetLocalSceneData("QVS_DOUBLE_DATA", g->dd);
    }
    // The int a host sets while it renders an internal pass.
    if (!QVH_FindProcessData("DOING_INTERNAL_PASS")) QVF_AddDataToProcess("DOING_INTERNAL_PASS", sizeof(int));
    QVV_display = &g->disp;
    QVH_SyncNodes();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    return QVV_display;
}

extern "C" void QVH_CloseDisplay(void) {
    if (!g) return;
    for (QVS_CHANNEL *c = g->disp.channel_list; c;) {
        for (QVS_VIEWPORT *v = c->view_list; v;) {
            QVS_VIEWPORT *nv = v->pnext;
            free(v);
            v = nv;
        }
        QVS_CHANNEL *nc = c->pnext;
        free(c);
        c = nc;
    }
    if (g->dd) {
        QVH_SetLocalSceneData("QVS_DOUBLE_DATA", nullptr);
        free(g->dd);
    }
    qvp_egl_close();
    delete g;
    g = nullptr;
    g_state_stack.clear();
    QVV_display = nullptr;
    QVV_channel = nullptr;
    QVV_viewport = nullptr;
    QVV_node_layers = nullptr;
    QVV_rendered_geoms = nullptr;
}

extern "C" const char *QVH_Renderer(void) { return g ? g->renderer.c_str() : "no display"; }

extern "C" QVS_DOUBLE_DATA *QVH_DoubleData(void) { return g ? g->dd : nullptr; }

/* ---- channels and viewports ---- */

extern "C" QVS_CHANNEL *QVH_FindChannel(const char *name) {
    if (!g || !name) return nullptr;
    for (QVS_CHANNEL *c = g->disp.channel_list; c; c = c->pnext)
        if (strcmp(c->name, name) == 0) return c;
    return nullptr;
}

extern "C" QVS_CHANNEL *QVH_AddChannel(const char *name, int dw, int dh) {
    if (!g) return nullptr;
    if (!name || !*name || strlen(name) >= 80 || QVH_FindChannel(name)) {
        log_warn(std::string("cannot add channel \"") + (name ? name : "") + "\": empty, too long or taken");
        return nullptr;
    }
    QVS_CHANNEL *c = (QVS_CHANNEL *)calloc(1, sizeof(QVS_CHANNEL));
    snprintf(c->name, sizeof c->name, "%s", name);
    c->dw = dw > 0 ? dw : g->disp.width;
    c->dh = dh > 0 ? dh : g->disp.height;
    QVS_CHANNEL **pp = &g->disp.channel_list;
    while (*pp) pp = &(*pp)->pnext;
    *pp = c;
    return c;
}

extern "C" QVS_VIEWPORT *QVH_FindViewport(const char *name) {
    if (!g || !name) return nullptr;
    for (QVS_CHANNEL *c = g->disp.channel_list; c; c = c->pnext)
        for (QVS_VIEWPORT *v = c->view_list; v; v = v->pnext)
            if (strcmp(v->name, name) == 0) return v;
    return nullptr;
}

extern "C" QVS_VIEWPORT *QVH_AddViewport(QVS_CHANNEL *channel, const char *name) {
    if (!g || !channel) return nullptr;
    if (!name || !*name || strlen(name) >= 80 || QVH_FindViewport(name)) {
        log_warn(std::string("cannot add viewport \"") + (name ? name : "") + "\": empty, too long or taken");
        return nullptr;
    }
    QVS_VIEWPORT *v = (QVS_VIEWPORT *)calloc(1, sizeof(QVS_VIEWPORT));
    snprintf(v->name, sizeof v->name, "%s", name);
    v->channel = channel;
    v->rx = v->ry = 0;
    v->rw = g->disp.width;
    v->rh = g->disp.height;
    v->dw = v->rw;
    v->dh = v->rh;
    v->use_fov = 1;
    v->fov[0] = 60.0f;
    v->fov[1] = 0.0f;
    v->rnear = 1.0f;
    v->rfar = 1000.0f;
    v->eye[2] = 10.0;
    v->up[1] = 1.0;
    QVS_VIEWPORT **pp = &channel->view_list;
    while (*pp) pp = &(*pp)->pnext;
    *pp = v;
    QVH_UpdateViewport(v);
    return v;
}

extern "C" void QVH_UpdateViewport(QVS_VIEWPORT *vp) {
    if (!vp || !g) return;
    if (!vp->has_rect) {
        vp->rx = vp->ry = 0;
        vp->rw = g->disp.width;
        vp->rh = g->disp.height;
    }
    if (vp->use_fov) {
        double n = vp->rnear > 0 ? vp->rnear : 1.0;
        double hx = n * tan(vp->fov[0] * M_PI / 360.0);
        double hy = vp->fov[1] > 0 ? n * tan(vp->fov[1] * M_PI / 360.0)
                                   : hx * (vp->rh > 0 ? (double)vp->rh / (vp->rw > 0 ? vp->rw : 1) : 1.0);
        vp->rleft = (float)-hx;
        vp->rright = (float)hx;
        vp->rbottom = (float)-hy;
        vp->rtop = (float)hy;
    }
}

/* ---- nodes ---- */

extern "C" void QVH_SyncNodes(void) {
    if (!g || !QVV_scene) return;
    QVS_SCENE *s = QVV_scene;
    size_t n = (size_t)s->node_count;
    if (g->nodes.size() < n) {
        g->nodes.resize(n, QVS_LOCAL_NODE{0, 0});
        g->geoms.resize(n, QVS_GEOM_DATA{0, 0, 0});
        g->rendered.resize(n, nullptr);
    }
    g->gmat.resize(n * 16);
    g->gmat_done.assign(n, 0);
    for (size_t i = 0; i < n; i++) g->nodes[i].type = s->node_list[i].type;
    for (size_t i = 0; i < n; i++) compute_global(s, (int)i, 0);
    g->disp.node_count = (int)n;
    g->disp.node_list = g->nodes.empty() ? nullptr : g->nodes.data();
    if (g->dd) g->dd->processed_grelmat = g->gmat.empty() ? nullptr : (double(*)[4][4])g->gmat.data();
}

extern "C" void QVH_NodeGlobalMatd(int node, double m[4][4]) {
    if (!g || node < 0 || (size_t)node * 16 >= g->gmat.size()) {
        QVH_MatIdentity(m);
        return;
    }
    memcpy(m, gmat_at(node), sizeof(double) * 16);
}

extern "C" void QVF_GetDisplayGlobalMat(int node, QVT_MATRIX result) {
    double m[4][4];
    if (!g || node < 0 || node >= g->disp.node_count) {
        QVF_LogWarningF("QVF_GetDisplayGlobalMat: no such node", kSrc, __LINE__);
    }
    QVH_NodeGlobalMatd(node, m);
    to_float(result, m);
}

/* ---- node layers ---- */

extern "C" QVS_NODE_LAYERS *QVF_AllocateNodeLayers(void) {
    return (QVS_NODE_LAYERS *)calloc(1, sizeof(QVS_NODE_LAYERS));
}

extern "C" void QVF_ClearNodeLayers(QVS_NODE_LAYERS *layers) {
    if (!layers) return;
    for (QVS_NODE_LAYER *l : {&layers->background, &layers->scene, &layers->foreground}) {
        l->low_priority.node_count = 0;
        l->zero_priority.node_count = 0;
        l->high_priority.node_count = 0;
    }
}

extern "C" void QVF_AddNodeToLayers(QVS_NODE_LAYERS *layers, int node, int layer) {
    QVS_NODE_LAYER *l = layers ? layer_of(layers, layer) : nullptr;
    if (!l) {
        QVF_LogWarningF("QVF_AddNodeToLayers: no layers or bad layer bit", kSrc, __LINE__);
        return;
    }
    list_add(&l->zero_priority, node);
}

/* ---- drawing state ---- */

extern "C" void QVF_PushDrawingState(void) {
    SavedState s;
    glGetIntegerv(GL_MATRIX_MODE, &s.matrix_mode);
    glGetDoublev(GL_MODELVIEW_MATRIX, s.mv);
    glGetDoublev(GL_PROJECTION_MATRIX, s.pr);
    glGetDoublev(GL_TEXTURE_MATRIX, s.tx);
    GLint max_depth = 16, depth = 0;
    glGetIntegerv(GL_MAX_ATTRIB_STACK_DEPTH, &max_depth);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
    if (depth >= max_depth) QVF_LogWarningF("QVF_PushDrawingState: GL attribute stack full", kSrc, __LINE__);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    g_state_stack.push_back(s);
}

extern "C" void QVF_PopDrawingState(void) {
    if (g_state_stack.empty()) {
        QVF_LogWarningF("QVF_PopDrawingState without a matching push", kSrc, __LINE__);
        return;
    }
    SavedState s = g_state_stack.back();
    g_state_stack.pop_back();
    glPopClientAttrib();
    glPopAttrib();
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixd(s.tx);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(s.pr);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(s.mv);
    glMatrixMode((GLenum)s.matrix_mode);
}

extern "C" int QVH_DrawingStateDepth(void) { return (int)g_state_stack.size(); }

extern "C" void QVF_ClearZ(void) {
    glPushAttrib(GL_DEPTH_BUFFER_BIT);
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
}

/* ---- the frame loop ---- */

static void run_view(QVS_CHANNEL *ch, QVS_VIEWPORT *vp) {
    QVV_viewport = vp;
    ch->cur_view = vp;
    QVH_UpdateViewport(vp);
    glViewport(vp->rx, vp->ry, vp->rw, vp->rh);
    glScissor(vp->rx, vp->ry, vp->rw, vp->rh);
    glEnable(GL_SCISSOR_TEST);
    glClearColor(vp->clear[0], vp->clear[1], vp->clear[2], 1.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glDepthMask(GL_TRUE);
    glStencilMask(0xff);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    set_view_matrices(vp);
    QVV_did_render = 0;
    QVV_cleared_depth = 0;
    for (auto &p : g->rendered) p = nullptr;
    QVV_rendered_geoms = g->rendered.empty() ? nullptr : g->rendered.data();
    rebuild_layers();
    QVH_RunPhase(QVP_PHASE_DRAW_BACKGROUND, core_background);
    QVH_RunPhase(QVP_PHASE_DRAW_SCENE, core_scene);
    QVH_RunPhase(QVP_PHASE_DRAW_FOREGROUND, core_foreground);
    QVH_RunPhase(QVP_PHASE_UPDATE_VIEW, nullptr);
}

extern "C" void QVH_RunFrames(int n) {
    if (!g) {
        log_warn("QVH_RunFrames: no display open");
        return;
    }
    for (int f = 0; f < n; f++) {
        if (g->disp.real_time) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            g->disp.run_time = (double)(now.tv_sec - g->start.tv_sec) + (now.tv_nsec - g->start.tv_nsec) * 1e-9;
        } else {
            g->disp.run_time += g->disp.time_step;
        }
        ensure_default_layout();
        if (g_frame_hook) g_frame_hook(g->disp.run_time, g_frame_hook_data);
        QVH_SyncNodes();
        QVV_channel = nullptr;
        QVV_viewport = nullptr;
        QVH_RunPhase(QVP_PHASE_UPDATE_SCENE, core_update_scene);
        for (QVS_CHANNEL *ch = g->disp.channel_list; ch; ch = ch->pnext) {
            QVV_channel = ch;
            for (QVS_VIEWPORT *vp = ch->view_list; vp; vp = vp->pnext) {
                if (vp->attrib & QVP_ATTRIB_HIDDEN) continue;
                run_view(ch, vp);
            }
            QVV_viewport = nullptr;
            ch->cur_view = nullptr;
            // Channel overlays span the whole channel.
            glDisable(GL_SCISSOR_TEST);
            QVH_RunPhase(QVP_PHASE_UPDATE_CHANNEL, nullptr);
        }
        QVV_channel = nullptr;
        glFinish();
        g->disp.frame_count++;
    }
}

extern "C" void QVH_SetFrameHook(void (*fn)(double, void *), void *data) {
    g_frame_hook = fn;
    g_frame_hook_data = data;
}

/* ---- output ---- */

extern "C" int QVH_ReadPixel(int x, int y, unsigned char rgba[4]) {
    if (!g || x < 0 || y < 0 || x >= g->disp.width || y >= g->disp.height) return 0;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return 1;
}

extern "C" int QVH_Snapshot(const char *path, char *err, size_t errlen) {
    if (!g) {
        set_err(err, errlen, "no display open");
        return 0;
    }
    int w = g->disp.width, h = g->disp.height;
    std::vector<unsigned char> px((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    FILE *fp = fopen(path, "wb");
    if (!fp) {
        set_err(err, errlen, std::string("cannot write ") + path + ": " + strerror(errno));
        return 0;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(fp);
        set_err(err, errlen, std::string("libpng failed writing ") + path);
        return 0;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // GL rows run bottom-up; PNG rows top-down.
    for (int y = h - 1; y >= 0; y--) png_write_row(png, &px[(size_t)y * w * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    int flushed = fflush(fp) == 0 ? 0 : errno;
    if (fclose(fp) != 0 && !flushed) flushed = errno;
    if (flushed) {
        set_err(err, errlen, std::string("cannot finish ") + path + ": " + strerror(flushed));
        return 0;
    }
    return 1;
}
