// offscreen.cpp - curved node canvases: the texture pass that draws the
// canvas flat into a cached texture through the plugin's framebuffer
// object, and the sphere patch that shows the texture bent around the
// sphere's centre, as on a dome.
#include <math.h>
#include <string.h>

#include "dc_services.h"
#include "dc_frame.h"
#include "dc_canvas.h"
#include "dc_elements.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

/* The canvas texture cache: slot I is free while canvas_slots[I].id is 0; a
 * taken slot is never given back. Written only by OffscreenSetup. */
QVP_OFFSCREEN_SLOT canvas_slots[QVP_CACHE_SLOTS];

// 1 from a texture pass's set-up to its finish; a curved canvas met in
// between is drawn flat into the outer texture.
int in_texture_pass = 0;

// 1 once an incomplete framebuffer has been reported in this process.
int reported_incomplete = 0;

// Pi and two pi cut after seven decimals, as the sphere patches have
// always been made with: their vertices, and the pictures of domes made
// elsewhere, depend on these values to the last bit.
const float kTwoPi = 6.2831852f, kPi = 3.1415926f;

// A patch has at least this many quads across and down, however small.
const int kMinPatchSteps = 10;

// Texture width and height for a canvas spanning CSIZE by RSIZE on a
// sphere of RADIUS: 15 texels per degree of arc, in multiples of 256,
// 2048..4096 wide and 1024..2048 high.
void texture_size(float csize, float rsize, double radius, int proj, int *cres, int *rres) {
    float r = (float)fabs(radius);
    float cang = csize * 360.0f / (r * kTwoPi);
    if (cang > 360) cang = 360;
    float rang;
    if (proj == PROJ_SPHERE) {
        rang = rsize * 180.0f / (r * kPi);
        if (rang > 180) rang = 180;
    } else {
        rang = (float)(2 * atan(rsize / 2 / r) * 180 / kPi);
    }
    int c = (int)((double)(15.0f * cang) + 255) & ~0xff;
    int h = (int)((double)(15.0f * rang) + 255) & ~0xff;
    if (c < 2048) c = 2048;
    if (h < 1024) h = 1024;
    if (c > 4096) c = 4096;
    if (h > 2048) h = 2048;
    *cres = c;
    *rres = h;
}

float length3f(const double v[3]) { return (float)sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Point (H, V) of the sphere of radius R about C with axes HV, VV, RV,
// into P.
void patch_point(float p[3], const double c[3], double r, const float hv[3], const float vv[3], const float rv[3],
                 float sh, float ch, float sv, float cv) {
    for (int i = 0; i < 3; i++) {
        float b = hv[i] * sh * cv + vv[i] * sv + rv[i] * ch * cv;
        p[i] = (float)(c[i] + r * (double)b);
    }
}

// Draws the bound texture on the sphere patch of PCAN: the canvas's width
// an arc of its length around the sphere (at most a turn), its height an
// arc along a meridian (at most pole to pole), the anchored point on the
// sphere. A radius that is not positive draws nothing.
void sphere_patch(const QVP_CANVAS *pcan) {
    const QVP_CANVAS_DISPLAYDEF &d = pcan->disp;
    double r = d.radius;
    float hlen = length3f(d.col_vec), vlen = length3f(d.row_vec);
    if (!(r > 0) || !(hlen > 0) || !(vlen > 0)) return;
    float hvec[3], vvec[3], rvec[3];
    for (int i = 0; i < 3; i++) {
        hvec[i] = (float)(d.col_vec[i] / hlen);
        vvec[i] = (float)(d.row_vec[i] / vlen);
    }
    rvec[0] = hvec[1] * vvec[2] - hvec[2] * vvec[1];
    rvec[1] = hvec[2] * vvec[0] - hvec[0] * vvec[2];
    rvec[2] = hvec[0] * vvec[1] - hvec[1] * vvec[0];
    float rlen = sqrtf(rvec[0] * rvec[0] + rvec[1] * rvec[1] + rvec[2] * rvec[2]);
    if (!(rlen > 0)) return;  // columns along rows: no plane to bend
    for (float &x : rvec) x /= rlen;
    // Rows made perpendicular to the columns, in the canvas's plane.
    vvec[0] = rvec[1] * hvec[2] - rvec[2] * hvec[1];
    vvec[1] = rvec[2] * hvec[0] - rvec[0] * hvec[2];
    vvec[2] = rvec[0] * hvec[1] - rvec[1] * hvec[0];
    float hang = (float)(hlen * kTwoPi / (2 * r * kPi)), vang = (float)(vlen * kPi / (kPi * r));
    if (hang > kTwoPi) hang = kTwoPi;
    if (vang > kPi) vang = kPi;
    float hstart = -hang / 2, vstart = vang / 2;
    // The centre, so that the anchored point lies on the sphere. The end
    // bit wins across the columns, the start bit along the rows.
    int a = pcan->anchor;
    bool row_bit = (a & (ANCHOR_ROW_START | ANCHOR_ROW_END)) != 0, col_bit = (a & (ANCHOR_COL_START | ANCHOR_COL_END)) != 0;
    // A corner anchor: exactly one column bit and one row bit, no other
    // bit (an anchor with both bits of a direction, or any other bit, is
    // not a corner and is pulled in along one axis only).
    bool one_col_and_one_row = a == (ANCHOR_COL_START | ANCHOR_ROW_START) || a == (ANCHOR_COL_START | ANCHOR_ROW_END) ||
                               a == (ANCHOR_COL_END | ANCHOR_ROW_START) || a == (ANCHOR_COL_END | ANCHOR_ROW_END);
    double c[3];
    for (int i = 0; i < 3; i++) {
        c[i] = d.org[i];
        double across = (double)hvec[i] * sin(hstart) * r * (row_bit ? cos(vstart) : 1.0);
        if (a & ANCHOR_COL_END) c[i] += across;
        else if (a & ANCHOR_COL_START) c[i] -= across;
        double along = (double)vvec[i] * sin(vstart) * r;
        if (a & ANCHOR_ROW_START) c[i] += along;
        else if (a & ANCHOR_ROW_END) c[i] -= along;
        if (one_col_and_one_row) c[i] -= (double)rvec[i] * cos(hstart) * cos(vstart) * r;
        else if (col_bit) c[i] -= (double)rvec[i] * cos(hstart) * r;
        else if (row_bit) c[i] -= (double)rvec[i] * cos(vstart) * r;
        else c[i] -= (double)rvec[i] * r;
    }
    const float kFiveDegrees = 0.08726646111111111f;
    int hsteps = (int)(hang / kFiveDegrees), vsteps = (int)(vang / kFiveDegrees);
    if (hsteps < kMinPatchSteps) hsteps = kMinPatchSteps;
    if (vsteps < kMinPatchSteps) vsteps = kMinPatchSteps;
    float hstep = hang / hsteps, vstep = vang / vsteps;
    float du = 1.0f / hsteps, dv = 1.0f / vsteps;
    // Half a step of margin, so that rounding in the angles neither adds
    // nor drops a quad.
    float hstop = -(hstart + hstep / 2), vstop = -(vstart - vstep / 2);
    // Each quad is two triangles split as GL splits a polygon (from its
    // first corner); the whole patch is one draw.
    VertexBegin(1);
    float v = 0;
    for (float av = vstart; av > vstop; av -= vstep, v += dv) {
        float u = 0;
        float cv = cosf(av), sv = sinf(av), cv2 = cosf(av - vstep), sv2 = sinf(av - vstep);
        for (float ah = hstart; ah < hstop; ah += hstep, u += du) {
            float ch = cosf(ah), sh = sinf(ah), ch2 = cosf(ah + hstep), sh2 = sinf(ah + hstep);
            // Corners 0 to 3 as a polygon would list them, and their
            // texture coordinates.
            float p[4][3], st[4][2] = {{u, v}, {u, v + dv}, {u + du, v + dv}, {u + du, v}};
            patch_point(p[0], c, r, hvec, vvec, rvec, sh, ch, sv, cv);
            patch_point(p[1], c, r, hvec, vvec, rvec, sh, ch, sv2, cv2);
            patch_point(p[2], c, r, hvec, vvec, rvec, sh2, ch2, sv2, cv2);
            patch_point(p[3], c, r, hvec, vvec, rvec, sh2, ch2, sv, cv);
            static const int kSplit[6] = {0, 1, 2, 0, 2, 3};
            for (int k : kSplit) {
                VertexTexCoord(st[k][0], st[k][1]);
                VertexAt(p[k][0], p[k][1], p[k][2]);
            }
        }
    }
    VertexEnd(GL_TRIANGLES);
}

}  // namespace

int OffscreenSetup(const QVP_CANVAS *key, QVP_CANVAS *pcan, int *use_depth, QVP_OFFSCREEN *os) {
    QVP_CANVAS_DISPLAYDEF &d = pcan->disp;
    if (!(d.radius > 0)) return -1;
    if (in_texture_pass || !canvas_fbo) return 0;
    int cres, rres;
    texture_size(length3f(d.col_vec), length3f(d.row_vec), d.radius, d.proj, &cres, &rres);
    double now = DisplayRunTime();
    int n = CacheSlotsInUse(max_canvas_objs);
    bool hit;
    int s = ChooseCacheSlot(
        n, canvas_slots, now, false,
        [&](int i) { return canvas_slots[i].ptr == key && canvas_slots[i].size[0] == cres && canvas_slots[i].size[1] == rres; },
        &hit);
    // No slot (none in use, or every one later than now): drawn flat.
    if (s < 0) return 0;

    if (!hit && !canvas_slots[s].id) canvas_slots[s].id = NewTextureName();
    BindTexture2D(canvas_slots[s].id);
    if (!hit) {
        if (canvas_slots[s].size[0] != cres || canvas_slots[s].size[1] != rres) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, cres, rres, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        canvas_slots[s].ptr = key;
        canvas_slots[s].size[0] = cres;
        canvas_slots[s].size[1] = rres;
    }
    canvas_slots[s].time = now;
    os->texid = canvas_slots[s].id;
    TargetTexture(&os->target, canvas_fbo, os->texid, cres, rres);
    // An incomplete framebuffer does not stop the pass; the first one of
    // the process is reported.
    char *why = FCheckForCompleteness("CANVAS FBO", __LINE__);
    if (why && !reported_incomplete) {
        reported_incomplete = 1;
        QVF_LogWarningF(why, QVP_SOURCE, __LINE__);
    }
    *use_depth = 0;
    if (pcan->bcol[0] < 0) {
        SetColour(0, 0, 0, 0);
    } else {
        const float *b = pcan->bcol, *g = pcan->rgb_gain;
        SetColour(b[0] * g[0], b[1] * g[1], b[2] * g[2], 1);
    }
    VertexBegin(0);
    VertexAt(0, 0, 0);
    VertexAt(1, 0, 0);
    VertexAt(1, 1, 0);
    VertexAt(0, 1, 0);
    VertexEnd(GL_POLYGON);
    // The canvas fills the unit square: row 0 at the top.
    pcan->opacity = 1;
    pcan->anchor = ANCHOR_COL_START | ANCHOR_ROW_START;
    d.org[0] = 0, d.org[1] = 1, d.org[2] = 0;
    d.col_vec[0] = 1, d.col_vec[1] = 0, d.col_vec[2] = 0;
    d.row_vec[0] = 0, d.row_vec[1] = -1, d.row_vec[2] = 0;
    d.id = CANVAS_ID_MAPPED;
    QVF_StateEnable(GL_DEPTH_TEST, 1);
    QVF_StateEnable(GL_TEXTURE_2D, 1);
    QVF_StateEnable(GL_ALPHA_TEST, 1);
    in_texture_pass = 1;
    return 1;
}

void OffscreenFinish(QVP_CANVAS *pcan, const QVP_CANVAS_DISPLAYDEF *prev_disp, float prev_opacity, int prev_anchor,
                     int prev_use_depth, const QVP_OFFSCREEN *os) {
    in_texture_pass = 0;
    pcan->disp = *prev_disp;
    pcan->opacity = prev_opacity;
    pcan->anchor = prev_anchor;
    QVF_StateEnable(GL_ALPHA_TEST, 1);
    TargetRestore(&os->target);
    GLboolean was_enabled = glIsEnabled(GL_BLEND);
    bool translucent = (double)pcan->opacity < 0.999999;
    if (translucent) {
        if (!was_enabled) {
            QVF_StateEnable(GL_BLEND, 1);
            QVF_StateBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
    } else if (was_enabled) {
        QVF_StateEnable(GL_BLEND, 0);
    }
    // The texture pass's frame leaves depth testing on; only a canvas of
    // a layer pass keeps it for its surface.
    if (prev_use_depth == 1) {
        QVF_StateDepthFunc(GL_LEQUAL);
        QVF_StateEnable(GL_DEPTH_TEST, 1);
    } else {
        QVF_StateEnable(GL_DEPTH_TEST, 0);
    }
    QVF_StateEnable(GL_TEXTURE_2D, 1);
    SetColour(1, 1, 1, pcan->opacity);
    BindTexture2D(os->texid);
    // Other curved projections have a texture but no surface yet.
    if (pcan->disp.proj == PROJ_SPHERE) sphere_patch(pcan);
    if (!was_enabled) QVF_StateEnable(GL_BLEND, 0);
    else if (!translucent) QVF_StateEnable(GL_BLEND, 1);
    QVF_StateEnable(GL_CULL_FACE, 1);
}

void ResetOffscreenCache(void) {
    for (QVP_OFFSCREEN_SLOT &slot : canvas_slots) slot = QVP_OFFSCREEN_SLOT{};
    in_texture_pass = 0;
    reported_incomplete = 0;
}

const QVP_OFFSCREEN_SLOT *OffscreenCacheSlots(void) { return canvas_slots; }
