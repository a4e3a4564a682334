// shapes.cpp - the five shapes of the element renderer: polylines,
// rectangles, circles, arcs and pie slices, and filled polygons (concave
// and self-crossing through GLU's tessellator, with the tessellated
// fills kept from frame to frame).
#include <GL/glu.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cmath>

#include "dc_services.h"
#include "dc_frame.h"
#include "dc_text.h"
#include "dc_elements.h"
#include "drawcanvas_testing.h"
#include "lru_index.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

/* The polygon vertex buffer: points_size vertices of three doubles.
 * Grown by the polygon fill, never shrunk; kept for the process. */
GLdouble (*points)[3] = nullptr;
int points_size = 0;

// Pi as the shapes have always used it, cut after seven decimals: the
// circle's and arc's vertices are fixed to the last bit by it, and
// pictures made elsewhere with these values must stay the same.
const double kPi = 3.1415926;
// A circle is a polygon of this many points, each 10 degrees on from the
// last: the step is kTenDegreesTimes180 / 180 radians.
const int kCirclePoints = 36;
const double kTenDegreesTimes180 = 31.415926;

// Spare vertices behind the current polygon's points that the combine
// callback may still hand out: next free index and the end. Set by
// fill_polygon before it runs the tessellator.
int combine_next = 0;

// A point list from shared memory is drawn only when its count lies in
// 0..pnt_list_size, the list exists, and (when it is an arena block) the
// block holds that many points; anything else draws nothing.
bool points_usable(const QVP_CANVAS_ELEMENT *pelm, const QVP_CANVAS_LINE *l) {
    if (!l->pnt_list || l->pnt_list_cnt < 0 || l->pnt_list_cnt > l->pnt_list_size) return false;
    return SharedBlockHolds(pelm, l->pnt_list, sizeof(QVP_CANVAS_COORD) * (size_t)l->pnt_list_cnt);
}

}  // namespace

void DrawLine(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_LINE *l = &pelm->data.line;
    if (!points_usable(pelm, l)) return;
    QVF_StateLineWidth(pelm->line_width);
    ElementColour(pcan, pelm->fcol, opacity);
    VertexBegin(0);
    for (int i = 0; i < l->pnt_list_cnt; i++) ElementVertex(pelm, l->pnt_list[i].x, l->pnt_list[i].y);
    VertexEnd(GL_LINE_STRIP);
}

namespace {

// The fill (GL_POLYGON in fcol) and the outline (GL_LINE_LOOP in bcol at
// line_width) of a closed shape whose vertices EMIT gives, each left out
// when its colour is negative. The outline sets its width before its
// colour when WIDTH_FIRST, after it otherwise.
template <class Emit>
void fill_and_outline(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity, bool width_first, Emit emit) {
    if (pelm->fcol[0] >= 0) {
        ElementColour(pcan, pelm->fcol, opacity);
        VertexBegin(0);
        emit();
        VertexEnd(GL_POLYGON);
    }
    if (pelm->bcol[0] >= 0) {
        if (width_first) QVF_StateLineWidth(pelm->line_width);
        ElementColour(pcan, pelm->bcol, opacity);
        if (!width_first) QVF_StateLineWidth(pelm->line_width);
        VertexBegin(0);
        emit();
        VertexEnd(GL_LINE_LOOP);
    }
}

}  // namespace

void DrawRectangle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_COORD *c = pelm->data.rect.corners;
    fill_and_outline(pcan, pelm, opacity, false, [&] {
        ElementVertex(pelm, c[0].x, c[0].y);
        ElementVertex(pelm, c[1].x, c[0].y);
        ElementVertex(pelm, c[1].x, c[1].y);
        ElementVertex(pelm, c[0].x, c[1].y);
    });
}

void DrawCircle(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_CIRCLE *c = &pelm->data.circ;
    fill_and_outline(pcan, pelm, opacity, true, [&] {
        // 36 points 10 degrees apart (pi times ten, cut short as kPi is).
        for (int i = 0; i < kCirclePoints; i++) {
            double a = i * kTenDegreesTimes180 / 180;
            ElementVertex(pelm, c->cen.x + c->rad * cos(a), c->cen.y + c->rad * sin(a));
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
            ElementVertex(pelm, cx + rx * cos(r), cy + ry * sin(r));
        }
    };
    if (pelm->fcol[0] >= 0) {
        ElementColour(pcan, pelm->fcol, opacity);
        VertexBegin(0);
        ElementVertex(pelm, cx, cy);
        perimeter();
        VertexEnd(GL_POLYGON);
    }
    if (pelm->bcol[0] >= 0) {
        QVF_StateLineWidth(pelm->line_width);
        ElementColour(pcan, pelm->bcol, opacity);
        VertexBegin(0);
        perimeter();
        VertexEnd(GL_LINE_STRIP);
    }
}

namespace {

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

// Tessellated fills kept from frame to frame: an entry holds the
// primitives GLU made for one element from one set of inputs (its point
// list and their values, its scale and offset, the canvas frame), so that
// a polygon that did not change is drawn again without tessellating.
// Entries are found by element; the table starts at kTessFirst entries
// and doubles on a miss up to kTessMost, and at the bound the least
// recently drawn entry is taken. A polygon that changed or moved takes
// back its own entry when that was not drawn in this frame (another view
// may still draw the old one), and an entry not drawn for
// kTessFramesIdle frames lets go of its buffers, so polygons that come
// and go hold nothing once gone. Buffers grow on a miss only, and an
// entry taken keeps its buffers, so a steady frame allocates nothing as
// long as its filled polygons fit the table.
struct TessSlot {
    const QVP_CANVAS_ELEMENT *elm;
    const QVP_CANVAS_COORD *list;
    int cnt;
    QVP_CANVAS_COORD scale, offset;
    double frame[9];
    unsigned long long sum;
    int drawn;           // frame count when last drawn
    GLdouble (*verts)[3];
    int nverts, vcap;
    GLenum *types;
    int *starts;
    int nprims, pcap;
};
const int kTessFirst = 16;
const int kTessMost = 4096;
const int kTessFramesIdle = 600;
// Idle entries AgeTessellations lets go of at most in a frame.
const int kTessAgedPerFrame = kTessMost / 256;
// The index and its entries (entry i of tess_index is tess_slots[i]);
// made and grown by tess_slot, emptied by ResetShapeCaches.
LruIndex tess_index;
TessSlot *tess_slots = nullptr;

int frame_now() { return QVV_display ? QVV_display->frame_count : 0; }

// Frees what slot T's buffers hold and empties it.
void release_slot(TessSlot &t) {
    free(t.verts);
    free(t.types);
    free(t.starts);
    t = TessSlot();
}

uint64_t elm_hash(const QVP_CANVAS_ELEMENT *pelm) {
    uint64_t h = (uint64_t)(uintptr_t)pelm * 0x9E3779B97F4A7C15ULL;
    return h ^ (h >> 32);
}

// Room for one more entry: the table made (kTessFirst) or doubled, new
// entries empty; false when it is at its bound or memory is short (the
// table is then as it was).
bool grow_tess_slots() {
    int most = tess_index.Ready() ? std::min(kTessMost, 2 * tess_index.Most()) : kTessFirst;
    return LruReserve(tess_index, &tess_slots, most, PluginRealloc);
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
// ResetShapeCaches.
TessSlot tess_spare;

// The slot whose triangles fit PELM as it stands now, or the one to fill
// anew (*HIT false then), its key already set; the slot is the most
// recently drawn.
TessSlot *tess_slot(const QVP_CANVAS_ELEMENT *pelm, const double frame[9], bool *hit) {
    const QVP_CANVAS_POLYGON *p = &pelm->data.poly;
    unsigned long long sum = points_sum(p->pnt_list, p->pnt_list_cnt);
    *hit = false;
    int now = frame_now();
    uint64_t h = elm_hash(pelm);
    int e = tess_index.Find(h, [&](int i) {
        const TessSlot &t = tess_slots[i];
        return t.elm == pelm && t.list == p->pnt_list && t.cnt == p->pnt_list_cnt && t.sum == sum &&
               memcmp(&t.scale, &pelm->scale, sizeof t.scale) == 0 &&
               memcmp(&t.offset, &pelm->offset, sizeof t.offset) == 0 && memcmp(t.frame, frame, sizeof t.frame) == 0;
    });
    if (e >= 0) {
        *hit = true;
        tess_index.Touch(e);
        return &tess_slots[e];
    }
    e = tess_index.Find(h, [&](int i) { return tess_slots[i].elm == pelm && tess_slots[i].drawn != now; });
    if (e < 0 && (tess_index.Count() < tess_index.Most() || grow_tess_slots() || tess_index.Ready())) {
        int evicted;
        e = tess_index.Insert(h, &evicted);
    }
    TessSlot &t = e >= 0 ? tess_slots[e] : tess_spare;
    if (e >= 0) tess_index.Touch(e);  // a polygon's own entry taken back
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
    ElementColour(pcan, pelm->fcol, opacity);
    double frame[9];
    InnermostFrame(frame, frame + 3, frame + 6);
    const double *o = frame, *dc = frame + 3, *dr = frame + 6;
    bool hit;
    TessSlot *t = tess_slot(pelm, frame, &hit);
    t->drawn = frame_now();
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
            for (int k = 0; k < 3; k++) points[i][k] = (o[k] + dc[k] * c) + dr[k] * r;
            gluTessVertex(tess, points[i], points[i]);
        }
        gluEndPolygon(tess);
        gluDeleteTess(tess);
        recording = nullptr;
    }
    // The primitives GLU made, as GLU would have issued them.
    for (int k = 0; k < t->nprims; k++) {
        int end = k + 1 < t->nprims ? t->starts[k + 1] : t->nverts;
        VertexBegin(0);
        for (int v = t->starts[k]; v < end; v++) VertexAt((float)t->verts[v][0], (float)t->verts[v][1], (float)t->verts[v][2]);
        VertexEnd(t->types[k]);
    }
}

}  // namespace

void DrawPolygon(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_POLYGON *p = &pelm->data.poly;
    if (!points_usable(pelm, p)) return;
    if (pelm->fcol[0] >= 0) fill_polygon(pcan, pelm, opacity);
    if (pelm->bcol[0] >= 0) {
        QVF_StateLineWidth(pelm->line_width);
        ElementColour(pcan, pelm->bcol, opacity);
        VertexBegin(0);
        for (int i = 0; i < p->pnt_list_cnt; i++) ElementVertex(pelm, p->pnt_list[i].x, p->pnt_list[i].y);
        VertexEnd(GL_LINE_LOOP);
    }
}

void AgeTessellations(int frame) {
    for (int k = 0; k < kTessAgedPerFrame; k++) {
        int e = tess_index.Oldest();
        if (e < 0 || frame - tess_slots[e].drawn <= kTessFramesIdle) break;
        release_slot(tess_slots[e]);
        tess_index.Remove(e);
    }
}

TessStats GetTessStats(void) {
    TessStats s = {tess_index.Count(), tess_index.Most(), kTessMost, 0};
    for (int i = 0; i < tess_index.Most(); i++) {
        const TessSlot &t = tess_slots[i];
        s.bytes += sizeof *t.verts * (size_t)t.vcap + (sizeof *t.types + sizeof *t.starts) * (size_t)t.pcap;
    }
    return s;
}

void ResetShapeCaches(void) {
    for (int i = 0; i < tess_index.Most(); i++) release_slot(tess_slots[i]);
    free(tess_slots);
    tess_slots = nullptr;
    tess_index.Free();
    release_slot(tess_spare);
    free(points);
    points = nullptr;
    points_size = 0;
}

int PolygonPointsRoom(void) { return points_size; }

int SetPolygonPointsRoom(int n) {
    if (n <= 0) {
        free(points);
        points = nullptr;
        points_size = 0;
        return 1;
    }
    void *room = PluginRealloc(points, sizeof *points * (size_t)n);
    if (!room) return 0;
    points = (GLdouble(*)[3])room;
    points_size = n;
    return 1;
}
