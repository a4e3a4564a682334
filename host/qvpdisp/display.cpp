// display.cpp - the display: opening and closing the headless GL
// display, its public records and globals (the drawing-state stack is
// drawing_state.cpp's).
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
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
#include "egl_context.h"

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

namespace qvpdisp {

const char *const kSrc = "qvpdisp";
DisplayState *g = nullptr;
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


}  // namespace qvpdisp

using namespace qvpdisp;

namespace {

void dd_inverse(double dst[4][4], double src[4][4]) { QVH_MatInverse(dst, src); }
void dd_global(int node, double r[4][4]) { QVH_NodeGlobalMatd(node, r); }

}  // namespace

/* ---- opening and closing ---- */

namespace {

// Keeps the memory freed at the top of the heap for reuse instead of
// handing it back to the system. Mesa's software renderer allocates and
// frees a large block around many draws; with glibc's default trim
// threshold that block was given back and faulted in afresh at every
// draw whenever it lay at the top of the heap, which made frame time
// depend on where the heap happened to end (100 small canvases took 24
// ms a frame, 400 took 5). 64 MiB kept is little for a display process.
void keep_freed_memory() {
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

// Opens the display into a pbuffer, or into a window titled TITLE when
// TITLE is given; see QVH_OpenDisplay.
QVS_DISPLAY *open_display(const char *name, int w, int h, int double_precision, const char *title, char *err,
                          size_t errlen) {
    if (g) {
        set_err(err, errlen, "a display is already open in this process");
        return nullptr;
    }
    if (!QVV_scene) {
        set_err(err, errlen, "cannot open a display without a scene");
        return nullptr;
    }
    // Overlays name "DISPLAY:CHANNEL" and "DISPLAY:CHANNEL:VIEWPORT", so a
    // display whose name holds a colon could never be matched.
    if (name && (strchr(name, ':') || strlen(name) > 79)) {
        set_err(err, errlen, std::string("bad display name \"") + name +
                                 "\": want 1 to 79 characters and no ':' (overlays are mapped by DISPLAY:CHANNEL)");
        return nullptr;
    }
    if (w < 1 || h < 1 || w > 16384 || h > 16384) {
        set_err(err, errlen, "bad display size " + std::to_string(w) + "x" + std::to_string(h));
        return nullptr;
    }
    keep_freed_memory();
    std::string why;
    if (title ? !qvp_egl_open_window(w, h, title, why) : !qvp_egl_open(w, h, why)) {
        set_err(err, errlen, (title ? "cannot open the window: " : "cannot open the display: ") + why);
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

}  // namespace

extern "C" QVS_DISPLAY *QVH_OpenDisplay(const char *name, int w, int h, int double_precision,
                                        char *err, size_t errlen) {
    return open_display(name, w, h, double_precision, nullptr, err, errlen);
}

extern "C" QVS_DISPLAY *QVH_OpenDisplayWindow(const char *name, int w, int h, int double_precision,
                                              const char *title, char *err, size_t errlen) {
    return open_display(name, w, h, double_precision, title && *title ? title : "qvp_viewer", err, errlen);
}

extern "C" int QVH_DisplayIsWindow(void) { return g && qvp_egl_is_window(); }

extern "C" int QVH_PresentFrame(void) {
    if (!g || !qvp_egl_swap()) return 0;
    qvp_egl_mark_frame(g->disp.frame_count);
    return 1;
}

extern "C" void QVH_SetDisplayLostHook(void (*hook)(const char *why)) { qvp_egl_set_lost_hook(hook); }

extern "C" int QVH_PollWindow(QVH_WINDOW_EVENTS *ev) {
    memset(ev, 0, sizeof *ev);
    QvpWindowEvents e;
    if (!g || !qvp_egl_poll(e)) return 0;
    ev->close = e.close;
    snprintf(ev->keys, sizeof ev->keys, "%s", e.keys.c_str());
    ev->w = e.w;
    ev->h = e.h;
    return 1;
}

extern "C" void QVH_ResizeDisplay(int w, int h) {
    if (!g || w < 1 || h < 1) return;
    int ow = g->disp.width, oh = g->disp.height;
    g->disp.width = w;
    g->disp.height = h;
    // Nominal sizes that were the window's follow it; sizes set apart stay.
    for (QVS_CHANNEL *c = g->disp.channel_list; c; c = c->pnext) {
        if (c->dw == ow && c->dh == oh) c->dw = w, c->dh = h;
        for (QVS_VIEWPORT *v = c->view_list; v; v = v->pnext) {
            if (!v->has_rect && v->dw == ow && v->dh == oh) v->dw = w, v->dh = h;
            QVH_UpdateViewport(v);
        }
    }
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
    QVH_FreeNodeLayers(g->layers);
    qvp_egl_close();
    delete g;
    g = nullptr;
    reset_drawing_state();
    QVV_display = nullptr;
    QVV_channel = nullptr;
    QVV_viewport = nullptr;
    QVV_node_layers = nullptr;
    QVV_rendered_geoms = nullptr;
    QVV_draw_layer = 0;
}

extern "C" const char *QVH_Renderer(void) { return g ? g->renderer.c_str() : "no display"; }

extern "C" QVS_DOUBLE_DATA *QVH_DoubleData(void) { return g ? g->dd : nullptr; }

extern "C" void QVF_ClearZ(void) {
    glPushAttrib(GL_DEPTH_BUFFER_BIT);
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
}

