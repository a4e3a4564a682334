// element.cpp - the element renderer: effective opacity, blending and
// colours shared by every element kind; text, the five shapes, images
// and video through their texture caches, and nested canvases.
#include <GL/glu.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

/* The image and video caches: slot I is free while its texture name is
 * 0. Written only by the image and video branches below, and
 * video_cur_frames also by the scene update's latch. */
GLuint image_ids[QVP_CACHE_SLOTS];
unsigned char *image_datas[QVP_CACHE_SLOTS];
char image_fnames[QVP_CACHE_SLOTS][QVP_IMAGE_NAME_SLOT];
double image_times[QVP_CACHE_SLOTS];

GLuint video_ids[QVP_CACHE_SLOTS];
QVP_CANVAS_ELEMENT *video_elements[QVP_CACHE_SLOTS];
int video_sizes[QVP_CACHE_SLOTS][2];
char *video_fnames[QVP_CACHE_SLOTS];
int video_cur_frames[QVP_CACHE_SLOTS];
unsigned char *video_datas[QVP_CACHE_SLOTS];
double video_times[QVP_CACHE_SLOTS];

/* The polygon vertex buffer: points_size vertices of three doubles.
 * Grown by the polygon fill, never shrunk; kept for the process. */
GLdouble (*points)[3] = nullptr;
int points_size = 0;

namespace {

const double kPi = 3.1415926;

// Spare vertices behind the current polygon's points that the combine
// callback may still hand out: next free index and the end. Set by
// fill_polygon before it runs the tessellator.
int combine_next = 0;

// Colour C times the canvas gain, with the effective opacity as alpha.
void set_colour(const QVP_CANVAS *pcan, const float *c, float opacity) {
    const float *g = pcan->rgb_gain;
    glColor4f(c[0] * g[0], c[1] * g[1], c[2] * g[2], opacity);
}

// Emits element point (X, Y) through the element's scale and offset.
inline void vertex(const QVP_CANVAS_ELEMENT *pelm, double x, double y) {
    glColRow(pelm->scale.x * x + pelm->offset.x, pelm->scale.y * y + pelm->offset.y);
}

void DrawText(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    QVP_CANVAS_TEXT *t = &pelm->data.text;
    if (!t->pfont) {
        QVF_LogWarningF("No font found for rendering text", QVP_SOURCE, __LINE__);
        return;
    }
    if (!t->buff) {
        QVF_LogWarningF("Unable to find buffer to render!!!!", QVP_SOURCE, __LINE__);
        return;
    }
    // A font or text that is no record of its size (the element's type
    // was changed under its payload) is not read.
    if (!SharedBlockHolds(pelm, t->pfont, sizeof *t->pfont) || !SharedStringFits(pelm, t->buff)) return;
    glEnable(GL_TEXTURE_2D);
    glFontBegin(t->pfont);
    // The filters stay on the font's texture after this element.
    if (t->smooth) {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    } else {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
    }
    double rows = 0, cols = 0;
    glFontTextBBox2D(t->buff, &rows, &cols);
    float cscale = pelm->scale.x * t->col_s, rscale = pelm->scale.y * t->row_s;
    double width = cols * cscale, height = rows * rscale;
    // Text obeys the start bits where both bits of a direction are set.
    double coff = (t->anchor & ANCHOR_COL_START) ? 0.0 : (t->anchor & ANCHOR_COL_END) ? -width : -width / 2;
    double roff = (t->anchor & ANCHOR_ROW_START) ? 0.0 : (t->anchor & ANCHOR_ROW_END) ? -height : -height / 2;
    coff += pelm->offset.x;
    roff += pelm->offset.y;
    set_colour(pcan, pelm->fcol, opacity);
    const float *g = pcan->rgb_gain;
    float bcol[3] = {pelm->bcol[0] * g[0], pelm->bcol[1] * g[1], pelm->bcol[2] * g[2]};
    glFontScaledTextOut2D(t->buff, pelm->scale.x * t->col + coff, pelm->scale.y * t->row + roff, cscale, rscale,
                          pelm->bcol[0] < 0 ? nullptr : bcol);
    glFontEnd();
}

/* ---- shapes ---- */

// A point list from shared memory is drawn only when its count lies in
// 0..pnt_list_size, the list exists, and (when it is an arena block) the
// block holds that many points; anything else draws nothing.
bool points_usable(const QVP_CANVAS_ELEMENT *pelm, const QVP_CANVAS_LINE *l) {
    if (!l->pnt_list || l->pnt_list_cnt < 0 || l->pnt_list_cnt > l->pnt_list_size) return false;
    return SharedBlockHolds(pelm, l->pnt_list, sizeof(QVP_CANVAS_COORD) * (size_t)l->pnt_list_cnt);
}

void DrawLine(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_LINE *l = &pelm->data.line;
    if (!points_usable(pelm, l)) return;
    glLineWidth(pelm->line_width);
    set_colour(pcan, pelm->fcol, opacity);
    glBegin(GL_LINE_STRIP);
    for (int i = 0; i < l->pnt_list_cnt; i++) vertex(pelm, l->pnt_list[i].x, l->pnt_list[i].y);
    glEnd();
}

// The fill (GL_POLYGON in fcol) and the outline (GL_LINE_LOOP in bcol at
// line_width) of a closed shape whose vertices EMIT gives, each left out
// when its colour is negative. The outline sets its width before its
// colour when WIDTH_FIRST, after it otherwise.
template <class Emit>
void fill_and_outline(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity, bool width_first, Emit emit) {
    if (pelm->fcol[0] >= 0) {
        set_colour(pcan, pelm->fcol, opacity);
        glBegin(GL_POLYGON);
        emit();
        glEnd();
    }
    if (pelm->bcol[0] >= 0) {
        if (width_first) glLineWidth(pelm->line_width);
        set_colour(pcan, pelm->bcol, opacity);
        if (!width_first) glLineWidth(pelm->line_width);
        glBegin(GL_LINE_LOOP);
        emit();
        glEnd();
    }
}

void DrawRectangle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_COORD *c = pelm->data.rect.corners;
    fill_and_outline(pcan, pelm, opacity, false, [&] {
        vertex(pelm, c[0].x, c[0].y);
        vertex(pelm, c[1].x, c[0].y);
        vertex(pelm, c[1].x, c[1].y);
        vertex(pelm, c[0].x, c[1].y);
    });
}

void DrawCircle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_CIRCLE *c = &pelm->data.circ;
    fill_and_outline(pcan, pelm, opacity, true, [&] {
        for (int i = 0; i < 36; i++) {
            double a = i * 31.415926 / 180;
            vertex(pelm, c->cen.x + c->rad * cos(a), c->cen.y + c->rad * sin(a));
        }
    });
}

void DrawArc(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_ARC *a = &pelm->data.arc;
    float cx = (a->corners[0].x + a->corners[1].x) / 2, cy = (a->corners[0].y + a->corners[1].y) / 2;
    float rx = fabsf(a->corners[0].x - a->corners[1].x) / 2, ry = fabsf(a->corners[0].y - a->corners[1].y) / 2;
    float sweep = a->end_ang - a->start_ang;
    // Into [0, 360]: negative sweeps come round to positive ones, longer
    // ones are cut to whole turns, and a whole turn stays 360. A sweep
    // that is not finite draws nothing.
    if (sweep < 0) {
        sweep = fmodf(sweep, 360);
        if (sweep < 0) sweep += 360;
    } else if (sweep > 360) {
        sweep = fmodf(sweep, 360);
        if (sweep == 0) sweep = 360;
    }
    if (!(sweep >= 0 && sweep <= 360)) return;
    int num_pnts = (int)(sweep * 60 / 360);
    if (num_pnts <= 4) num_pnts = 5;
    float dang = sweep / (num_pnts - 1);
    auto perimeter = [&]() {
        float ang = a->start_ang;
        for (int k = 0; k < num_pnts; k++, ang += dang) {
            double r = ang * kPi / 180;
            vertex(pelm, cx + rx * cos(r), cy + ry * sin(r));
        }
    };
    if (pelm->fcol[0] >= 0) {
        set_colour(pcan, pelm->fcol, opacity);
        glBegin(GL_POLYGON);
        vertex(pelm, cx, cy);
        perimeter();
        glEnd();
    }
    if (pelm->bcol[0] >= 0) {
        glLineWidth(pelm->line_width);
        set_colour(pcan, pelm->bcol, opacity);
        glBegin(GL_LINE_STRIP);
        perimeter();
        glEnd();
    }
}

// Hands GLU a vertex for a crossing of edges, taken from the spare room
// behind the polygon's points; when the room is used up it hands none,
// and GLU then treats the crossing as it does without this callback.
void GLAPIENTRY combine(GLdouble coords[3], void *[4], GLfloat[4], void **out) {
    if (combine_next >= points_size) {
        *out = nullptr;
        return;
    }
    GLdouble *v = points[combine_next++];
    v[0] = coords[0];
    v[1] = coords[1];
    v[2] = coords[2];
    *out = v;
}

// Grows the vertex buffer to N + 1000 vertices when it holds no more
// than N; 0 when it cannot (the buffer is then left as it was).
int grow_points(int n) {
    if (n < points_size) return 1;
    long long want = (long long)n + 1000;
    if (want > INT_MAX / (long long)sizeof *points) return 0;
    void *grown = PluginRealloc(points, sizeof *points * (size_t)want);
    if (!grown) return 0;
    points = (GLdouble(*)[3])grown;
    points_size = (int)want;
    return 1;
}

// Tessellated fills kept from frame to frame: a slot holds the
// primitives GLU made for one element from one set of inputs (its point
// list and their values, its scale and offset, the canvas frame), so that
// a polygon that did not change is drawn again without tessellating.
// The table grows on a miss, by doubling, up to kTessSlotsMost slots;
// beyond that slots are reused least recently drawn first. Slot buffers
// grow on a miss only, so a steady frame allocates nothing as long as
// its filled polygons fit the table.
struct TessSlot {
    const QVP_CANVAS_ELEMENT *elm;
    const QVP_CANVAS_COORD *list;
    int cnt;
    QVP_CANVAS_COORD scale, offset;
    double frame[9];
    unsigned long long sum;
    double used;
    GLdouble (*verts)[3];
    int nverts, vcap;
    GLenum *types;
    int *starts;
    int nprims, pcap;
};
const int kTessSlotsMost = 4096;
// The table and its size; grown by tess_slot, emptied by ResetElementCaches.
TessSlot *tess_slots = nullptr;
int tess_slot_count = 0;
// Where tess_slot starts its search: behind the slot it returned last.
int tess_next = 0;

// Doubles the table (16 slots at first), new slots empty; false when it
// is at its bound or memory ran out (the table is then as it was).
bool grow_tess_slots() {
    if (tess_slot_count >= kTessSlotsMost) return false;
    int n = tess_slot_count ? 2 * tess_slot_count : 16;
    void *grown = PluginRealloc(tess_slots, sizeof *tess_slots * (size_t)n);
    if (!grown) return false;
    tess_slots = (TessSlot *)grown;
    for (int i = tess_slot_count; i < n; i++) tess_slots[i] = TessSlot();
    tess_slot_count = n;
    return true;
}

// The slot being filled by the GLU callbacks below; set by fill_polygon.
TessSlot *recording = nullptr;

void GLAPIENTRY record_begin(GLenum type) {
    TessSlot *t = recording;
    if (t->nprims == t->pcap) {
        int cap = t->pcap ? 2 * t->pcap : 16;
        void *a = PluginRealloc(t->types, sizeof *t->types * (size_t)cap);
        if (a) t->types = (GLenum *)a;
        void *b = PluginRealloc(t->starts, sizeof *t->starts * (size_t)cap);
        if (b) t->starts = (int *)b;
        if (!a || !b) return;
        t->pcap = cap;
    }
    t->types[t->nprims] = type;
    t->starts[t->nprims++] = t->nverts;
}

void GLAPIENTRY record_vertex(void *data) {
    TessSlot *t = recording;
    if (t->nverts == t->vcap) {
        int cap = t->vcap ? 2 * t->vcap : 64;
        void *v = PluginRealloc(t->verts, sizeof *t->verts * (size_t)cap);
        if (!v) return;
        t->verts = (GLdouble(*)[3])v;
        t->vcap = cap;
    }
    memcpy(t->verts[t->nverts++], data, sizeof *t->verts);
}

void GLAPIENTRY record_end() {}

unsigned long long points_sum(const QVP_CANVAS_COORD *p, int n) {
    unsigned long long h = 1469598103934665603ULL;
    const unsigned char *b = (const unsigned char *)p;
    for (size_t i = 0; i < sizeof *p * (size_t)n; i++) h = (h ^ b[i]) * 1099511628211ULL;
    return h;
}

// The one slot used when not even the first table could be made (each
// polygon is then tessellated every time); its buffers are freed by
// ResetElementCaches.
TessSlot tess_spare;

// The slot whose triangles fit PELM as it stands now, or the one to fill
// anew (*HIT false then), its key already set.
TessSlot *tess_slot(const QVP_CANVAS_ELEMENT *pelm, const double frame[9], bool *hit) {
    const QVP_CANVAS_POLYGON *p = &pelm->data.poly;
    unsigned long long sum = points_sum(p->pnt_list, p->pnt_list_cnt);
    *hit = false;
    TessSlot *oldest = &tess_spare, *empty = nullptr;
    if (tess_slot_count || grow_tess_slots()) oldest = &tess_slots[0];
    else empty = &tess_spare;
    // Polygons come in the same order every frame, so the search starts
    // behind the slot found last and a steady frame finds each at once.
    for (int k = 0; k < tess_slot_count; k++) {
        int i = (tess_next + k) % tess_slot_count;
        TessSlot &t = tess_slots[i];
        if (!t.elm) {
            if (!empty) empty = &t;
            continue;
        }
        if (t.elm == pelm && t.list == p->pnt_list && t.cnt == p->pnt_list_cnt && t.sum == sum &&
            memcmp(&t.scale, &pelm->scale, sizeof t.scale) == 0 && memcmp(&t.offset, &pelm->offset, sizeof t.offset) == 0 &&
            memcmp(t.frame, frame, sizeof t.frame) == 0) {
            *hit = true;
            tess_next = i + 1;
            return &t;
        }
        if (t.used < oldest->used) oldest = &t;
    }
    if (!empty) {
        int first_new = tess_slot_count;
        empty = grow_tess_slots() ? &tess_slots[first_new] : oldest;
    }
    if (empty != &tess_spare) tess_next = (int)(empty - tess_slots) + 1;
    TessSlot &t = *empty;
    t.elm = pelm;
    t.list = p->pnt_list;
    t.cnt = p->pnt_list_cnt;
    t.sum = sum;
    t.scale = pelm->scale;
    t.offset = pelm->offset;
    memcpy(t.frame, frame, sizeof t.frame);
    t.nverts = t.nprims = 0;
    return &t;
}

void fill_polygon(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_POLYGON *p = &pelm->data.poly;
    int n = p->pnt_list_cnt;
    if (!grow_points(n)) return;
    set_colour(pcan, pelm->fcol, opacity);
    double o[3] = {0, 0, 0};
    if (pdispdef) memcpy(o, pdispdef->org, sizeof o);
    double frame[9];
    memcpy(frame, o, sizeof o);
    memcpy(frame + 3, gldcol, sizeof gldcol);
    memcpy(frame + 6, gldrow, sizeof gldrow);
    bool hit;
    TessSlot *t = tess_slot(pelm, frame, &hit);
    t->used = DisplayRunTime();
    if (!hit) {
        GLUtesselator *tess = gluNewTess();
        if (!tess) {
            t->elm = nullptr;
            return;
        }
        gluTessCallback(tess, GLU_TESS_BEGIN, (void(GLAPIENTRY *)())record_begin);
        gluTessCallback(tess, GLU_TESS_VERTEX, (void(GLAPIENTRY *)())record_vertex);
        gluTessCallback(tess, GLU_TESS_END, (void(GLAPIENTRY *)())record_end);
        gluTessCallback(tess, GLU_TESS_COMBINE, (void(GLAPIENTRY *)())combine);
        recording = t;
        combine_next = n;
        gluBeginPolygon(tess);
        for (int i = 0; i < n; i++) {
            double c = pelm->scale.x * p->pnt_list[i].x + pelm->offset.x;
            double r = pelm->scale.y * p->pnt_list[i].y + pelm->offset.y;
            for (int k = 0; k < 3; k++) points[i][k] = (o[k] + gldcol[k] * c) + gldrow[k] * r;
            gluTessVertex(tess, points[i], points[i]);
        }
        gluEndPolygon(tess);
        gluDeleteTess(tess);
        recording = nullptr;
    }
    // The primitives GLU made, as GLU would have issued them.
    for (int k = 0; k < t->nprims; k++) {
        int end = k + 1 < t->nprims ? t->starts[k + 1] : t->nverts;
        glBegin(t->types[k]);
        for (int v = t->starts[k]; v < end; v++) glVertex3dv(t->verts[v]);
        glEnd();
    }
}

void DrawPolygon(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_POLYGON *p = &pelm->data.poly;
    if (!points_usable(pelm, p)) return;
    if (pelm->fcol[0] >= 0) fill_polygon(pcan, pelm, opacity);
    if (pelm->bcol[0] >= 0) {
        glLineWidth(pelm->line_width);
        set_colour(pcan, pelm->bcol, opacity);
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < p->pnt_list_cnt; i++) vertex(pelm, p->pnt_list[i].x, p->pnt_list[i].y);
        glEnd();
    }
}

/* ---- images and video ---- */

int slots_in_use(int max) { return max < 0 ? 0 : max > QVP_CACHE_SLOTS ? QVP_CACHE_SLOTS : max; }

void textured_quad(const QVP_CANVAS_ELEMENT *pelm, const QVP_CANVAS_COORD *c, int flip_axis) {
    float u1 = (flip_axis & 0x2) ? 1.0f : 0.0f, u2 = 1 - u1;
    float v1 = (flip_axis & 0x1) ? 1.0f : 0.0f, v2 = 1 - v1;
    glBegin(GL_POLYGON);
    glTexCoord2f(u1, v1);
    vertex(pelm, c[0].x, c[0].y);
    glTexCoord2f(u2, v1);
    vertex(pelm, c[1].x, c[0].y);
    glTexCoord2f(u2, v2);
    vertex(pelm, c[1].x, c[1].y);
    glTexCoord2f(u1, v2);
    vertex(pelm, c[0].x, c[1].y);
    glEnd();
}

void linear_clamped() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void DrawImage(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_IMAGE *im = &pelm->data.imag;
    // No pixels, a size of 0 or less or above GL's limit, or (in the
    // arena) fewer pixels than the size says: nothing drawn.
    if (!im->tdata || !TextureSizeFits(im->tw, im->th)) return;
    if (!SharedBlockHolds(pelm, im->tdata, (size_t)im->tw * (size_t)im->th * 4)) return;
    glEnable(GL_TEXTURE_2D);
    // Names are kept and compared over the slot's 259 characters.
    const size_t kName = QVP_IMAGE_NAME_SLOT - 1;
    bool hit;
    int s = ChooseCacheSlot(
        slots_in_use(max_image_objs), image_ids, image_times, DisplayRunTime(), false,
        [&](int i) { return image_datas[i] == im->tdata && strncmp(image_fnames[i], im->name, kName) == 0; }, &hit);
    if (s < 0) {
        glDisable(GL_TEXTURE_2D);
        return;
    }
    if (!hit) {
        if (!image_ids[s]) image_ids[s] = NewTextureName();
        size_t len = strnlen(im->name, kName);
        memcpy(image_fnames[s], im->name, len);
        image_fnames[s][len] = '\0';
        image_datas[s] = im->tdata;
        glBindTexture(GL_TEXTURE_2D, image_ids[s]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, im->tw, im->th, 0, GL_RGBA, GL_UNSIGNED_BYTE, im->tdata);
        linear_clamped();
    } else {
        glBindTexture(GL_TEXTURE_2D, image_ids[s]);
    }
    image_times[s] = DisplayRunTime();
    glColor4f(pcan->rgb_gain[0], pcan->rgb_gain[1], pcan->rgb_gain[2], opacity);
    textured_quad(pelm, im->corners, im->flip_axis);
    glDisable(GL_TEXTURE_2D);
}

// Video names are compared and copied up to this many characters.
const size_t kVideoName = 4095;

// Uploads BGRA frame PIXELS of V into the bound texture, the whole image
// when WHOLE, else over the texture's pixels, stepping rows of row_size
// bytes; GL_UNPACK_ROW_LENGTH is put back as it was.
void upload_frame(const QVP_CANVAS_VIDEO *v, const unsigned char *pixels, bool whole) {
    GLint row_length = 0;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &row_length);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, v->row_size / 4);
    if (whole) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, v->w, v->h, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
        linear_clamped();
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, v->w, v->h, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, row_length);
}

// Frame F of V, or null when F is no index into frames.
unsigned char *frame_at(const QVP_CANVAS_VIDEO *v, int f) { return f >= 0 && f < 6 ? v->frames[f] : nullptr; }

void DrawVideo(QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_VIDEO *v = &pelm->data.video;
    int cur = v->cur_frame;
    if (cur == -1) return;
    // A frame index outside frames, a missing frame or name, no size, or
    // rows shorter than the width draw nothing.
    if (!frame_at(v, cur) || !v->name || !TextureSizeFits(v->w, v->h) || v->row_size / 4 < v->w) return;
    // A frame smaller than its rows say, or a name without its end, is
    // not read.
    if (!SharedStringFits(pelm, v->name)) return;
    if (!SharedBlockHolds(pelm, v->frames[cur], (size_t)v->row_size * (size_t)v->h)) return;
    glEnable(GL_TEXTURE_2D);
    bool hit;
    int s = ChooseCacheSlot(
        slots_in_use(max_video_objs), video_ids, video_times, DisplayRunTime(), true,
        [&](int i) {
            return video_elements[i] == pelm && video_sizes[i][0] == v->w && video_sizes[i][1] == v->h &&
                   video_fnames[i] && strncmp(video_fnames[i], v->name, kVideoName) == 0;
        },
        &hit);
    if (s < 0) {
        glDisable(GL_TEXTURE_2D);
        return;
    }
    if (!hit) {
        // The element moves to this slot: any other slot still naming it
        // (it changed size or name, or its address was reused by a new
        // element) lets go, so that the scene update's latch, which
        // takes the first slot naming the element, finds this one.
        int n = slots_in_use(max_video_objs);
        for (int i = 0; i < n; i++)
            if (i != s && video_elements[i] == pelm) video_elements[i] = nullptr;
        size_t len = strnlen(v->name, kVideoName);
        char *copy = (char *)PluginRealloc(video_fnames[s], len + 1);
        if (!copy) {
            video_elements[s] = nullptr;
            glDisable(GL_TEXTURE_2D);
            return;
        }
        memcpy(copy, v->name, len);
        copy[len] = '\0';
        video_fnames[s] = copy;
        video_elements[s] = pelm;
        video_sizes[s][0] = v->w;
        video_sizes[s][1] = v->h;
        video_cur_frames[s] = cur;
        video_datas[s] = v->frames[cur];
        if (!video_ids[s]) video_ids[s] = NewTextureName();
        glBindTexture(GL_TEXTURE_2D, video_ids[s]);
        upload_frame(v, video_datas[s], true);
    } else {
        int f = video_cur_frames[s];
        unsigned char *latched = frame_at(v, f);
        if (f != -1 && (!latched || !SharedBlockHolds(pelm, latched, (size_t)v->row_size * (size_t)v->h))) {
            glDisable(GL_TEXTURE_2D);
            return;
        }
        glBindTexture(GL_TEXTURE_2D, video_ids[s]);
        if (f != -1 && latched != video_datas[s]) {
            video_datas[s] = latched;
            upload_frame(v, latched, false);
        }
    }
    video_times[s] = DisplayRunTime();
    glColor4f(1, 1, 1, opacity);
    textured_quad(pelm, v->corners, v->flip_axis);
    glDisable(GL_TEXTURE_2D);
}

/* ---- nested canvases ---- */

// The display frame the nested-draw count belongs to, and the nested
// canvases drawn in it so far; kept by nested_draw_allowed.
int budget_frame = -1;
int nested_draws = 0;

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

}  // namespace

void DrawCanvasElement(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm) {
    float opacity = pelm->opacity * pcan->opacity;
    if ((double)opacity <= 0.001) return;
    int blended = BlendBegin(opacity);
    switch (pelm->type) {
    case ELEMENT_TEXT: DrawText(pcan, pelm, opacity); break;
    case ELEMENT_LINE:
    case ELEMENT_CIRCLE:
    case ELEMENT_RECTANGLE:
    case ELEMENT_POLYGON:
    case ELEMENT_ARC:
        glDisable(GL_TEXTURE_2D);
        if (pelm->type == ELEMENT_LINE) DrawLine(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_CIRCLE) DrawCircle(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_RECTANGLE) DrawRectangle(pcan, pelm, opacity);
        else if (pelm->type == ELEMENT_POLYGON) DrawPolygon(pcan, pelm, opacity);
        else DrawArc(pcan, pelm, opacity);
        break;
    case ELEMENT_IMAGE: DrawImage(pcan, pelm, opacity); break;
    case ELEMENT_VIDEO: DrawVideo(pelm, opacity); break;
    case ELEMENT_CANVAS: DrawNested(pelm, opacity); break;
    // Node elements belong to the view pass.
    case ELEMENT_NODE:
    default: break;
    }
    BlendEnd(blended);
}

void LatchVideoFrame(QVP_CANVAS_ELEMENT *pelm) {
    int n = slots_in_use(max_video_objs);
    for (int i = 0; i < n; i++)
        if (video_elements[i] == pelm) {
            video_cur_frames[i] = pelm->data.video.cur_frame;
            return;
        }
}

void LoadSceneProjection(void) {
    glMatrixMode(GL_PROJECTION);
    if (double_data) glLoadMatrixd(&double_data->QVV_projection_matrix[0][0]);
    else glLoadMatrixf(&QVV_projection_matrix[0][0]);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (QVV_viewport) glViewport(QVV_viewport->rx, QVV_viewport->ry, QVV_viewport->rw, QVV_viewport->rh);
}

void ResetElementCaches(void) {
    for (int i = 0; i < tess_slot_count; i++) {
        free(tess_slots[i].verts);
        free(tess_slots[i].types);
        free(tess_slots[i].starts);
    }
    free(tess_slots);
    tess_slots = nullptr;
    tess_slot_count = 0;
    tess_next = 0;
    free(tess_spare.verts);
    free(tess_spare.types);
    free(tess_spare.starts);
    tess_spare = TessSlot();
    free(points);
    points = nullptr;
    points_size = 0;
    budget_frame = -1;
    nested_draws = 0;
    for (int i = 0; i < QVP_CACHE_SLOTS; i++) {
        image_ids[i] = 0;
        image_datas[i] = nullptr;
        image_fnames[i][0] = '\0';
        image_times[i] = 0;
        video_ids[i] = 0;
        video_elements[i] = nullptr;
        video_sizes[i][0] = video_sizes[i][1] = 0;
        free(video_fnames[i]);
        video_fnames[i] = nullptr;
        video_cur_frames[i] = 0;
        video_datas[i] = nullptr;
        video_times[i] = 0;
    }
}
