// passes.cpp - the draw-phase callbacks: each stands in for the host's
// own step of its phase and has that step done by QVF_ExecuteCore at its
// point in the pass. The update phases are in mapping.cpp.
#include "drawcanvas_private.h"
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
        glDisable(GL_SCISSOR_TEST);
        QVF_ClearZ();
        glEnable(GL_SCISSOR_TEST);
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
    for (QVP_CANVAS *c = pinfo->list; c; c = c->pnext) {
        if (c->draw_layer != layer || c->disp.id < -1 || c->parent) continue;
        if (!pushed) {
            QVF_PushDrawingState();
            if (foreground) glDisable(GL_DEPTH_TEST);
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

}  // namespace

// Background and foreground canvases go before the host's own step of
// their layer; scene canvases go over the host's scene.
void DrawBackground(void) {
    layer_pass(LAYER_BACKGROUND);
    if (draw_background) QVF_ExecuteCore();
}

void DrawScene(void) {
    if (draw_scene) QVF_ExecuteCore();
    layer_pass(LAYER_SCENE);
}

void DrawForeground(void) {
    layer_pass(LAYER_FOREGROUND);
    if (draw_foreground) QVF_ExecuteCore();
}

void DrawView(void) {
    if (first_pass) {
        doing_internal_pass = (int *)QVF_GetDataFromProcess("DOING_INTERNAL_PASS");
        first_pass = 0;
    }
    QVF_ExecuteCore();
}

void ResetPassState(void) { first_pass = 1; }
