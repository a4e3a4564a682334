// passes.cpp - the draw-phase callbacks: each stands in for the host's
// own step of its phase and has that step done by QVF_ExecuteCore at its
// point in the pass. The update phases are in mapping.cpp.
#include <stdint.h>
#include <string.h>

#include "dc_services.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "dc_passes.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

// 1 until the first DrawView has looked up DOING_INTERNAL_PASS.
int first_pass = 1;

bool internal_pass() { return doing_internal_pass && *doing_internal_pass; }

// Clears depth once per frame before the first node-placed foreground
// canvas, if something was drawn in the background or scene layer.
void foreground_depth_clear() {
    if (!(QVV_cleared_depth & LAYER_FOREGROUND) && (QVV_did_render & (LAYER_BACKGROUND | LAYER_SCENE))) {
        QVF_StateEnable(GL_SCISSOR_TEST, 0);
        QVF_ClearZ();
        QVF_StateEnable(GL_SCISSOR_TEST, 1);
        QVV_cleared_depth |= LAYER_FOREGROUND;
    }
}

// Draws the canvases of LAYER: world canvases under the host's
// model-view, node canvases under MV*G of their node.
void layer_pass(int layer) {
    bool foreground = layer == LAYER_FOREGROUND;
    if (internal_pass() || !pinfo || !pinfo->list || !ChannelNumber()) return;
    LockCanvasInfo();
    bool pushed = false;
    QVP_WALK(QVP_CANVAS, c, pinfo->list) {
        if (c->draw_layer != layer || c->disp.id < -1 || c->parent) continue;
        if (!pushed) {
            QVF_PushDrawingState();
            if (foreground) QVF_StateEnable(GL_DEPTH_TEST, 0);
            pushed = true;
        }
        if (c->disp.id >= 0) {
            // A node index beyond the display's nodes draws nothing.
            if (!CanvasNodeShown(c->disp.id)) continue;
            LoadCanvasBaseFrame(c->disp.id);
            if (foreground) foreground_depth_clear();
        } else {
            LoadCanvasBaseFrame(-1);
        }
        DrawCanvas(c, 1);
    }
    if (pushed) QVF_PopDrawingState();
    UnlockCanvasInfo();
}

/* ---- the view pass: canvases as windows onto their nodes ---- */

// One canvas collected for the node pass: the canvas, the nodes it took
// from the host's list, and a mark of its node elements at the time.
// The layers belong to this process (they are the host's records), so
// they are kept here rather than in the shared canvas.
struct NodeCanvas {
    QVP_CANVAS *canvas;
    QVS_NODE_LAYERS *layers;
    unsigned long sig;
};

// The collected canvases; grown by collect() in steps of 100, each entry
// with its layers, and kept for the process. Bound: the most canvases
// with node elements one frame has had (rounded up to 100; the builder
// makes at most 4,096 canvases), the entries taken again from the first
// every frame, and each entry's lists at most the display's nodes.
NodeCanvas *node_canvas_list = nullptr;
int node_canvas_size = 0;

// The copy of the host's rendered-geometry table taken after the main
// pass; grown by grow_geoms() to the display's node count.
QVS_GEOM_DATA **rendered_geoms_tmp = nullptr;
int rendered_geoms_size = 0;

// Grows the geometry copy to N entries; 0 when it cannot.
bool grow_geoms(int n) {
    if (n <= rendered_geoms_size) return true;
    void *p = PluginRealloc(rendered_geoms_tmp, sizeof *rendered_geoms_tmp * (size_t)n);
    if (!p) return false;
    rendered_geoms_tmp = (QVS_GEOM_DATA **)p;
    rendered_geoms_size = n;
    return true;
}

// Makes room for WANT collected canvases, each with its layers; false
// when an allocation fails (what was made is kept for next time).
bool reserve_node_canvases(int want) {
    while (node_canvas_size < want) {
        int size = node_canvas_size + 100;
        void *p = PluginRealloc(node_canvas_list, sizeof *node_canvas_list * (size_t)size);
        if (!p) return false;
        node_canvas_list = (NodeCanvas *)p;
        for (int i = node_canvas_size; i < size; i++) node_canvas_list[i] = NodeCanvas{nullptr, nullptr, 0};
        node_canvas_size = size;
    }
    for (int i = 0; i < want; i++)
        if (!node_canvas_list[i].layers && !(node_canvas_list[i].layers = QVF_AllocateNodeLayers())) return false;
    return true;
}

// A mark of C's node elements: which records they are and which nodes
// they name. A canvas whose mark changed while the lock was let go is
// not the one collected.
unsigned long node_signature(const QVP_CANVAS *c) {
    unsigned long h = 1469598103934665603UL ^ (unsigned long)c->node_cnt;
    QVP_WALK(const QVP_CANVAS_ELEMENT, e, c->elements)
        if (e->type == ELEMENT_NODE) h = (h ^ (unsigned long)(uintptr_t)e ^ ((unsigned long)e->data.node << 32)) * 1099511628211UL;
    return h;
}

bool in_canvas_list(const QVP_CANVAS *c) {
    QVP_WALK(const QVP_CANVAS, k, pinfo->list)
        if (k == c) return true;
    return false;
}

// Sets or clears the display's hidden bit on every node of L.
void mark_hidden(const QVS_NODE_LIST *l, bool hidden) {
    for (int k = 0; k < l->node_count; k++) {
        int node = l->node_list[k];
        if (node < 0 || node >= QVV_display->node_count) continue;
        if (hidden) QVV_display->node_list[node].attrib |= QVP_ATTRIB_HIDDEN;
        else QVV_display->node_list[node].attrib &= ~QVP_ATTRIB_HIDDEN;
    }
}

bool list_has(const QVS_NODE_LIST *l, int node) {
    for (int k = 0; k < l->node_count; k++)
        if (l->node_list[k] == node) return true;
    return false;
}

// Takes the nodes of every canvas's node elements out of the host's
// scene-layer zero-priority list, marks them hidden and collects their
// canvases; returns how many canvases, or -1 (nothing taken) when there
// is no room for them.
int collect() {
    QVS_NODE_LIST *host = &QVV_node_layers->scene.zero_priority;
    LockCanvasInfo();
    int want = 0;
    QVP_WALK(QVP_CANVAS, c, pinfo->list) want += c->node_cnt != 0;
    if (!reserve_node_canvases(want)) {
        UnlockCanvasInfo();
        return -1;
    }
    int cnt = 0;
    QVP_WALK(QVP_CANVAS, c, pinfo->list) {
        if (cnt >= want) break;
        if (!c->node_cnt) continue;
        NodeCanvas &nc = node_canvas_list[cnt];
        bool found = false;
        QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements) {
            if (e->type != ELEMENT_NODE) continue;
            for (int k = 0; k < host->node_count; k++) {
                int node = host->node_list[k];
                if (node != e->data.node) continue;
                if (!found) QVF_ClearNodeLayers(nc.layers);
                found = true;
                QVF_AddNodeToLayers(nc.layers, node, LAYER_SCENE);
                if (node >= 0 && node < QVV_display->node_count) QVV_display->node_list[node].attrib |= QVP_ATTRIB_HIDDEN;
                memmove(&host->node_list[k], &host->node_list[k + 1], sizeof(int) * (size_t)(host->node_count - k - 1));
                host->node_count--;
                break;
            }
        }
        if (found) {
            nc.canvas = c;
            nc.sig = node_signature(c);
            cnt++;
        }
    }
    UnlockCanvasInfo();
    return cnt;
}

// Draws the CNT collected canvases as windows: each marks where it is
// seen, the host renders its nodes there, then the canvases placed on
// those nodes go over them. The host's list regains the nodes at its
// end; no hidden bit stays set.
void node_pass(int cnt, int earth_id) {
    QVF_PushDrawingState();
    LoadSceneProjection();
    QVS_NODE_LAYERS *saved = QVV_node_layers;
    QVS_NODE_LIST *host = &saved->scene.zero_priority;
    QVS_NODE *earth = QVV_scene && earth_id >= 0 && earth_id < QVV_scene->node_count ? &QVV_scene->node_list[earth_id] : nullptr;
    LockCanvasInfo();
    for (int i = 0; i < cnt; i++) {
        NodeCanvas &nc = node_canvas_list[i];
        const QVS_NODE_LIST *mine = &nc.layers->scene.zero_priority;
        // Only what was taken goes back, so the host's list has the room.
        for (int k = 0; k < mine->node_count; k++) host->node_list[host->node_count++] = mine->node_list[k];
        // The lock was let go over the main pass: a canvas deleted or
        // changed since, or one mapped by name, is passed over.
        QVP_CANVAS *c = nc.canvas;
        if (!in_canvas_list(c) || node_signature(c) != nc.sig || c->disp.id < CANVAS_ID_WORLD) continue;
        if (c->disp.id >= 0 && !CanvasNodeShown(c->disp.id)) continue;
        LoadCanvasBaseFrame(c->disp.id);
        DrawCanvas(c, 3);
        mark_hidden(mine, false);
        bool hide_earth = earth && !(earth->attrib & QVP_ATTRIB_HIDDEN);
        if (hide_earth) earth->attrib |= QVP_ATTRIB_HIDDEN;
        QVV_node_layers = nc.layers;
        ExecuteCoreForgettingStencil();
        if (hide_earth) earth->attrib &= ~QVP_ATTRIB_HIDDEN;
        QVP_WALK(QVP_CANVAS, on, pinfo->list) {
            if (on->disp.id < 0 || !list_has(mine, on->disp.id)) continue;
            LoadCanvasBaseFrame(on->disp.id);
            DrawCanvas(on, 2);
        }
        mark_hidden(mine, true);
    }
    for (int i = 0; i < cnt; i++) mark_hidden(&node_canvas_list[i].layers->scene.zero_priority, false);
    UnlockCanvasInfo();
    QVV_node_layers = saved;
    QVF_PopDrawingState();
}

}  // namespace

// Background and foreground canvases go before the host's own step of
// their layer; scene canvases go over the host's scene.
void DrawBackground(void) {
    layer_pass(LAYER_BACKGROUND);
    if (draw_background) ExecuteCoreForgettingStencil();
}

void DrawScene(void) {
    if (draw_scene) ExecuteCoreForgettingStencil();
    layer_pass(LAYER_SCENE);
}

void DrawForeground(void) {
    layer_pass(LAYER_FOREGROUND);
    if (draw_foreground) ExecuteCoreForgettingStencil();
}

void DrawView(void) {
    if (first_pass) {
        doing_internal_pass = (int *)QVF_GetDataFromProcess("DOING_INTERNAL_PASS");
        first_pass = 0;
    }
    if (internal_pass() || !QVV_rendered_geoms || !QVV_display) {
        ExecuteCoreForgettingStencil();
        return;
    }
    int nodes = QVV_display->node_count;
    int earth_id = QVF_GetNodeID("horizon");
    int cnt = 0;
    // Without room for the geometry copy there is no node pass.
    bool room = grow_geoms(nodes);
    if (room && pinfo && pinfo->list && (QVV_draw_layer & LAYER_SCENE) && ChannelNumber() && QVV_node_layers)
        cnt = collect();
    ExecuteCoreForgettingStencil();
    if (room && nodes > 0) memcpy(rendered_geoms_tmp, QVV_rendered_geoms, sizeof *rendered_geoms_tmp * (size_t)nodes);
    if (cnt <= 0) return;
    node_pass(cnt, earth_id);
    memcpy(QVV_rendered_geoms, rendered_geoms_tmp, sizeof *rendered_geoms_tmp * (size_t)nodes);
}

void ResetPassState(void) { first_pass = 1; }

void LoadSceneProjection(void) {
    glMatrixMode(GL_PROJECTION);
    if (double_data) glLoadMatrixd(&double_data->QVV_projection_matrix[0][0]);
    else glLoadMatrixf(&QVV_projection_matrix[0][0]);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (QVV_viewport) QVF_StateViewport(QVV_viewport->rx, QVV_viewport->ry, QVV_viewport->rw, QVV_viewport->rh);
}

int NodeCanvasSlots(void) { return node_canvas_size; }
