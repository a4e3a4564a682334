// frame.cpp - the frame loop: each frame's time, the scene update, and
// per channel and viewport the view, its layer phases and the overlays.
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

using namespace qvpdisp;

namespace {

void core_layer(int bit) {
    QVV_draw_layer = bit;
    QVH_RunPhase(QVP_PHASE_DRAW_VIEW, core_draw_view);
}
void core_background() { core_layer(LAYER_BACKGROUND); }
void core_scene() { core_layer(LAYER_SCENE); }
void core_foreground() { core_layer(LAYER_FOREGROUND); }

void core_update_scene() { QVH_SyncNodes(); }


}  // namespace

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

