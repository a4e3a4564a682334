// nodes.cpp - the display's view of the scene nodes: their local and
// global matrices, hidden bits, node layers, and the host's step that
// draws them in a view.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "display_internal.h"
#include "qvp_double.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"

namespace qvpdisp {

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


}  // namespace qvpdisp

using namespace qvpdisp;

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

extern "C" void QVH_FreeNodeLayers(QVS_NODE_LAYERS *layers) {
    if (!layers) return;
    for (QVS_NODE_LAYER *l : {&layers->background, &layers->scene, &layers->foreground})
        for (QVS_NODE_LIST *n : {&l->low_priority, &l->zero_priority, &l->high_priority}) free(n->node_list);
    free(layers);
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

