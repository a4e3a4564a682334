// nested.cpp - canvases drawn inside canvases: where a canvas element's
// canvas goes, the guards against showing oneself and too deep nesting,
// and the per-frame budget of nested draws.
#include <GL/glu.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include "dc_services.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

// The display frame the nested-draw count belongs to, and the nested
// canvases drawn in it so far; kept by nested_draw_allowed.
int budget_frame = -1;
int nested_draws = 0;
// Set once this process has said that its views share the budget.
bool told_shared = false;

// Views of the display: the viewports of every channel, a channel without
// one counting as one.
int display_views() {
    int n = 0;
    for (QVS_CHANNEL *c = QVV_display ? QVV_display->channel_list : nullptr; c; c = c->pnext) {
        int v = 0;
        for (QVS_VIEWPORT *p = c->view_list; p; p = p->pnext) v++;
        n += v ? v : 1;
    }
    return n;
}

// 1 while this display frame's nested-draw budget lasts (taking one from
// it); past it 0, with one warning in that frame.
int nested_draw_allowed() {
    int frame = QVV_display ? QVV_display->frame_count : 0;
    if (frame != budget_frame) {
        budget_frame = frame;
        nested_draws = 0;
    }
    if (nested_draws < QVP_NESTED_DRAW_BUDGET) {
        nested_draws++;
        return 1;
    }
    if (nested_draws++ == QVP_NESTED_DRAW_BUDGET) {
        char msg[QVP_TEXT_BUF];
        snprintf(msg, sizeof msg,
                 "more than %d nested canvases in one frame: the rest of this frame's nested canvases are not drawn",
                 QVP_NESTED_DRAW_BUDGET);
        QVF_LogWarningF(msg, QVP_SOURCE, __LINE__);
        // The builder counts a scene's nested draws against the budget as
        // if one view drew them; here every view of the frame draws them.
        int views = display_views();
        if (views > 1 && !told_shared) {
            told_shared = true;
            snprintf(msg, sizeof msg,
                     "the nested-draw budget of %d is per frame: the %d views of this display share it",
                     QVP_NESTED_DRAW_BUDGET, views);
            QVF_LogWarningF(msg, QVP_SOURCE, __LINE__);
        }
    }
    return 0;
}

// Draws NESTED at its own placement, faded by OPACITY (in a copy of its
// record: the shared one is never written).
void draw_faded(QVP_CANVAS *nested, float opacity) {
    QVP_CANVAS view = *nested;
    view.opacity = nested->opacity * opacity;
    DrawCanvasAs(nested, &view, 0);
}

}  // namespace

// A canvas element draws its canvas where that canvas's own placement
// puts it: in the world, or on its node when the node is shown here. A
// mapped canvas, a canvas already being drawn (it would show itself,
// directly or round a cycle), nesting past QVP_MAX_NESTING and nested
// canvases past the frame's budget draw nothing. Afterwards the model-view is the one saved on entry: in
// double precision that is the host's view matrix, so elements after a
// canvas element are drawn in the world frame; projection and viewport
// stay the scene's.
void DrawNested(QVP_CANVAS_ELEMENT *pelm, float opacity) {
    QVP_CANVAS *nested = (QVP_CANVAS *)pelm->data.can;
    if (!nested || !SharedBlockHolds(pelm, nested, sizeof *nested)) return;
    LockCanvasInfo();
    int id = nested->disp.id;
    if (id >= CANVAS_ID_WORLD && !CanvasBeingDrawn(nested) && CanvasDrawDepth() <= QVP_MAX_NESTING &&
        nested_draw_allowed()) {
        double saved_d[4][4];
        float saved_f[4][4];
        if (double_data) memcpy(saved_d, double_data->QVV_modelview_matrix, sizeof saved_d);
        else glGetFloatv(GL_MODELVIEW_MATRIX, &saved_f[0][0]);
        LoadSceneProjection();
        if (id == CANVAS_ID_WORLD) {
            LoadCanvasBaseFrame(-1);
            draw_faded(nested, opacity);
        } else if (CanvasNodeShown(id)) {
            LoadCanvasBaseFrame(id);
            draw_faded(nested, opacity);
        }
        if (double_data) glLoadMatrixd(&saved_d[0][0]);
        else glLoadMatrixf(&saved_f[0][0]);
    }
    UnlockCanvasInfo();
}

void ResetNestedBudget(void) {
    budget_frame = -1;
    nested_draws = 0;
    told_shared = false;
}
