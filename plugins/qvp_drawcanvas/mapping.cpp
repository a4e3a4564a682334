// mapping.cpp - canvases mapped by name onto channels and viewports, and
// the scene update's video latch. A mapped canvas (disp.id -2) is drawn
// flat over its whole channel or viewport, its axes adapted to the real
// size of the GL viewport by its scale mode.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "dc_services.h"
#include "dc_text.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "dc_passes.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

// A mapping name holds at most this many characters.
const int kNameMax = 79;

// Formats a mapping name into OUT; a name longer than kNameMax becomes
// the empty string, which no canvas is drawn for.
void compose(char out[kNameMax + 1], const char *fmt, ...) {
    char buf[QVP_TEXT_BUF];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0 || n > kNameMax) n = 0;
    memcpy(out, buf, (size_t)n);
    out[n] = '\0';
}

// 1 when C is mapped by name and its mapping is one of the N NAMES.
bool mapped_to(const QVP_CANVAS *c, char names[][kNameMax + 1], int n) {
    if (c->disp.id != CANVAS_ID_MAPPED) return false;
    for (int i = 0; i < n; i++)
        if (names[i][0] && strncmp(c->disp.mapping, names[i], sizeof c->disp.mapping) == 0) return true;
    return false;
}

// Orthographic 0..1 on both axes, model-view identity (left current).
void overlay_projection() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The union of the channel's shown viewports, or its current view when
// that is set and shown. W or H stays -1 when no viewport is shown.
void channel_rect(const QVS_CHANNEL *ch, int r[4]) {
    int x = 100000, y = 100000, w = -1, h = -1;
    const QVS_VIEWPORT *cur = ch->cur_view;
    if (cur && !(cur->attrib & QVP_ATTRIB_HIDDEN)) {
        x = cur->rx, y = cur->ry, w = cur->rw, h = cur->rh;
    } else {
        for (const QVS_VIEWPORT *v = ch->view_list; v; v = v->pnext) {
            if (v->attrib & QVP_ATTRIB_HIDDEN) continue;
            if (w < 0) {
                x = v->rx, y = v->ry, w = v->rw, h = v->rh;
                continue;
            }
            if (v->rx < x) w += x - v->rx, x = v->rx;
            if (v->ry < y) h += y - v->ry, y = v->ry;
            if (v->rx + v->rw > x + w) w += v->rx + v->rw - (x + w);
            if (v->ry + v->rh > y + h) h += v->ry + v->rh - (y + h);
        }
    }
    r[0] = x, r[1] = y, r[2] = w, r[3] = h;
}

// Draws PCAN with its x components scaled for the current GL viewport
// against the reference size DW x DH, from a copy of its record: the
// shared record is never written. Nothing is drawn when either size is
// zero.
void draw_adapted(QVP_CANVAS *pcan, int use_depth, int dw, int dh) {
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    int w = vp[2], h = vp[3];
    if (w == 0 || h == 0 || dw == 0 || dh == 0) return;
    QVP_CANVAS view = *pcan;
    QVP_CANVAS_DISPLAYDEF &d = view.disp;
    float hs, vs;
    ScaleModeFactors<float>(pcan->scale, (float)dw, (float)w, (float)dh, (float)h, hs, vs);
    d.col_vec[0] *= hs;
    d.row_vec[0] *= hs;
    d.col_vec[1] *= vs;
    d.row_vec[1] *= vs;
    DrawCanvasAs(pcan, &view, use_depth);
}

}  // namespace

int ChannelNumber(void) {
    if (!QVV_display) return 0;
    int n = 1;
    for (QVS_CHANNEL *c = QVV_display->channel_list; c; c = c->pnext, n++)
        if (c == QVV_channel) return n;
    return 0;
}

void DrawCanvasViewport(QVP_CANVAS *pcan, int use_depth) {
    if (!QVV_viewport) return;
    draw_adapted(pcan, use_depth, QVV_viewport->dw, QVV_viewport->dh);
}

void DrawCanvasChannel(QVP_CANVAS *pcan, int use_depth) {
    if (!QVV_channel) return;
    // Without a current viewport the renderer leaves out what depends on
    // one, the viewport exclusions among them.
    QVS_VIEWPORT *vp = QVV_viewport;
    QVV_viewport = nullptr;
    draw_adapted(pcan, use_depth, QVV_channel->dw, QVV_channel->dh);
    QVV_viewport = vp;
}

// After the host's step, every shown video element's cur_frame is
// latched into its cache slot, so that all views of this frame show the
// same video frame. Texts and tessellations kept but not drawn for a
// while are let go.
void UpdateScene(void) {
    ExecuteCoreForgettingStencil();
    if (QVV_display) {
        AgeKeptTexts(QVV_display->frame_count);
        AgeTessellations(QVV_display->frame_count);
    }
    if (!pinfo) return;
    LockCanvasInfo();
    QVP_WALK(QVP_CANVAS, c, pinfo->list)
        QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements)
            if (!(e->attrib & ATTRIB_HIDDEN) && e->type == ELEMENT_VIDEO) LatchVideoFrame(e);
    UnlockCanvasInfo();
}

// Draws, over the viewport in progress, the canvases mapped to it by
// one of its four names.
void UpdateView(void) {
    ExecuteCoreForgettingStencil();
    if (!pinfo || !pinfo->list || !QVV_viewport) return;
    int n = ChannelNumber();
    if (!n) return;
    LockCanvasInfo();
    const char *disp = QVV_display->name, *view = QVV_viewport->name;
    char names[4][kNameMax + 1];
    compose(names[0], "%s:channel%d.%s", disp, n, view);
    compose(names[1], "%s.%s", disp, view);
    compose(names[2], "DEFAULT:channel%d.%s", n, view);
    compose(names[3], "DEFAULT.%s", view);
    bool pushed = false;
    QVP_WALK(QVP_CANVAS, c, pinfo->list) {
        if (!mapped_to(c, names, 4)) continue;
        if (!pushed) {
            QVF_PushDrawingState();
            overlay_projection();
            QVF_StateViewport(QVV_viewport->rx, QVV_viewport->ry, QVV_viewport->rw, QVV_viewport->rh);
            QVF_StateEnable(GL_DEPTH_TEST, 0);
            pushed = true;
        }
        DrawCanvasViewport(c, 0);
    }
    if (pushed) QVF_PopDrawingState();
    UnlockCanvasInfo();
}

// Draws, over the whole channel in progress, the canvases mapped to it
// by one of its two names.
void UpdateChannel(void) {
    ExecuteCoreForgettingStencil();
    if (!pinfo || !pinfo->list) return;
    int n = ChannelNumber();
    if (!n) return;
    char names[2][kNameMax + 1];
    compose(names[0], "%s:channel%d", QVV_display->name, n);
    compose(names[1], "DEFAULT:channel%d", n);
    LockCanvasInfo();
    bool pushed = false;
    QVP_WALK(QVP_CANVAS, c, pinfo->list) {
        if (!mapped_to(c, names, 2)) continue;
        if (!pushed) {
            QVF_PushDrawingState();
            pushed = true;
            overlay_projection();
            int r[4];
            channel_rect(QVV_channel, r);
            // No shown viewport: nothing of this channel is drawn.
            if (r[2] <= 0 || r[3] <= 0) break;
            QVF_StateViewport(r[0], r[1], r[2], r[3]);
            QVF_StateEnable(GL_SCISSOR_TEST, 0);
            QVF_StateEnable(GL_DEPTH_TEST, 0);
        }
        DrawCanvasChannel(c, 0);
    }
    if (pushed) QVF_PopDrawingState();
    UnlockCanvasInfo();
}
