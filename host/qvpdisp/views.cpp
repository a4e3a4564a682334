// views.cpp - channels and viewports of the display, and the matrices of
// the viewport in progress.
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

void ensure_default_layout() {
    if (QVV_display->channel_list) return;
    QVS_CHANNEL *c = QVH_AddChannel("channel1", 0, 0);
    if (c) QVH_AddViewport(c, "view1");
}


}  // namespace qvpdisp

using namespace qvpdisp;

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

