// builder.cpp - the canvas builder's roots, lock, canvases and elements.
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "builder_internal.h"
#include "qvp_canvas_roots.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"

namespace qvpc {

namespace {

// The roots this process works on; found or made by Attach, dropped when
// the scene they belong to is no longer the open one.
QVP_CANVAS_INFO *g_info = nullptr;
QVP_CANVAS_PROC_INFO *g_proc = nullptr;
QVS_SCENE *g_info_scene = nullptr;
unsigned g_info_serial = 0;

// What this process knows of a canvas's element list, so that an add
// neither walks the list to its end nor looks through it for ids: the
// tail it last saw (and the tail's id) and every id before and at it.
// Trusted only while the canvas's last element is still that tail, with
// that id and nothing after it: elements are only ever appended, so any
// other process's add, and a delete of the tail, show there. Kept by
// AddElement, ConfigureElement, DeleteElement and DeleteCanvas; at most
// kTailsMost canvases (past it, forgotten all at once and rebuilt by
// walking on the next add).
struct ListTail {
    const QVP_CANVAS_ELEMENT *tail = nullptr;
    int tail_id = 0;
    int max_id = 0;
    std::unordered_set<int> ids;
};
const size_t kTailsMost = 4096;
// The highest element id: one below INT_MAX, so that id + 1 never overflows.
const long long kElementIdMost = INT_MAX - 1;
std::unordered_map<const QVP_CANVAS *, ListTail> &tails() {
    static std::unordered_map<const QVP_CANVAS *, ListTail> m;
    return m;
}

void free_payload(QVP_CANVAS_ELEMENT *e) {
    switch (e->type) {
    case ELEMENT_TEXT: QVH_Free(e->data.text.buff); break;
    case ELEMENT_LINE:
    case ELEMENT_POLYGON: QVH_Free(e->data.line.pnt_list); break;
    case ELEMENT_VIDEO: StopVideo(e); break;
    default: break;
    }
}

// Fills the payload pointers of E (in the arena) from DESC; on failure
// frees what it made and leaves E's pointers null.
bool make_payload(QVP_CANVAS_ELEMENT *e, const ElementDesc &desc, std::string &err) {
    switch (e->type) {
    case ELEMENT_TEXT: {
        if (!e->data.text.pfont) {
            err = "text element without a font";
            return false;
        }
        int size = (int)desc.text.size() + 1;
        char *b = (char *)QVH_Alloc((size_t)size);
        if (!b) {
            err = ArenaFull("the text", (size_t)size);
            return false;
        }
        memcpy(b, desc.text.c_str(), (size_t)size);
        e->data.text.buff = b;
        e->data.text.buff_size = size;
        return true;
    }
    case ELEMENT_LINE:
    case ELEMENT_POLYGON: {
        size_t n = desc.points.size();
        QVP_CANVAS_COORD *p = (QVP_CANVAS_COORD *)QVH_Alloc(sizeof(QVP_CANVAS_COORD) * (n ? n : 1));
        if (!p) {
            err = ArenaFull("the points", sizeof(QVP_CANVAS_COORD) * (n ? n : 1));
            return false;
        }
        if (n) memcpy(p, desc.points.data(), sizeof(QVP_CANVAS_COORD) * n);
        e->data.line.pnt_list = p;
        e->data.line.pnt_list_cnt = (int)n;
        e->data.line.pnt_list_size = (int)n;
        return true;
    }
    case ELEMENT_VIDEO:
        return StartVideo(e, desc.video, err);
    case ELEMENT_CANVAS:
        if (!e->data.can) {
            err = "canvas element without a canvas";
            return false;
        }
        return true;
    default:
        return true;
    }
}

// Nulls the payload pointers a description brought along: an element's
// pointers come from the description's contents only.
void clear_payload_pointers(QVP_CANVAS_ELEMENT *e) {
    switch (e->type) {
    case ELEMENT_TEXT: e->data.text.buff = nullptr; break;
    case ELEMENT_LINE:
    case ELEMENT_POLYGON: e->data.line.pnt_list = nullptr; break;
    case ELEMENT_VIDEO:
        e->data.video.name = nullptr;
        e->data.video.media = e->data.video.media_player = nullptr;
        for (auto &f : e->data.video.frames) f = nullptr;
        break;
    default: break;
    }
}

// Builds a whole new element from DESC, not yet linked.
QVP_CANVAS_ELEMENT *make_element(const ElementDesc &desc, int id, std::string &err) {
    QVP_CANVAS_ELEMENT *e = (QVP_CANVAS_ELEMENT *)QVH_Alloc(sizeof(QVP_CANVAS_ELEMENT));
    if (!e) {
        err = ArenaFull("the element", sizeof(QVP_CANVAS_ELEMENT));
        return nullptr;
    }
    *e = desc.rec;
    e->id = id;
    e->pnext = nullptr;
    memset(e->tag_hash, 0, sizeof e->tag_hash);
    clear_payload_pointers(e);
    if (!make_payload(e, desc, err)) {
        QVH_Free(e);
        return nullptr;
    }
    return e;
}

// An excluded viewport as the builder stores it: the record the plugin
// reads (a viewport of the process that made it, compared, never
// followed), then the viewport's name, which every process may read.
struct NamedView {
    QVP_CANVAS_VIEW rec;
    char name[80];
};

QVP_CANVAS_VIEW *make_views(const std::vector<QVS_VIEWPORT *> &views, bool &ok) {
    QVP_CANVAS_VIEW *head = nullptr;
    ok = true;
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        NamedView *nv = (NamedView *)QVH_Alloc(sizeof(NamedView));
        if (!nv) {
            ok = false;
            break;
        }
        QVP_CANVAS_VIEW *v = &nv->rec;
        snprintf(nv->name, sizeof nv->name, "%s", (*it)->name);
        v->pview = *it;
        v->pnext = head;
        head = v;
    }
    if (!ok)
        while (head) {
            QVP_CANVAS_VIEW *n = head->pnext;
            QVH_Free(head);
            head = n;
        }
    return head;
}

void free_views(QVP_CANVAS_VIEW *v) {
    while (v) {
        QVP_CANVAS_VIEW *n = v->pnext;
        QVH_Free(v);
        v = n;
    }
}

// True when a name-mapped canvas with MAPPING can be drawn somewhere:
// DISPLAY:channelN, DISPLAY:channelN.VIEWPORT (N from 1, as %d writes it)
// or DISPLAY.VIEWPORT, where DISPLAY has no ':' and no part is empty.
bool mapping_can_match(const char *m) {
    const char *colon = strchr(m, ':');
    const char *dot = strchr(m, '.');
    // DISPLAY.VIEWPORT, the dot before any colon (a viewport name may hold one).
    if (dot && dot > m && dot[1] && (!colon || colon > dot)) return true;
    if (!colon || colon == m || strncmp(colon + 1, "channel", 7) != 0) return false;
    const char *n = colon + 8;
    if (*n < '1' || *n > '9') return false;
    long long v = 0;
    const char *p = n;
    for (; *p >= '0' && *p <= '9'; p++)
        if ((v = v * 10 + (*p - '0')) > INT_MAX) return false;
    return *p == 0 || (*p == '.' && p[1]);
}

// False, with ERR, when DESC's settings can never be drawn as meant.
bool check_canvas(const QVP_CANVAS &desc, std::string &err) {
    if (desc.disp.id == CANVAS_ID_MAPPED && !mapping_can_match(desc.disp.mapping)) {
        err = std::string("mapping \"") + desc.disp.mapping +
              "\" can never match: mappings are DISPLAY:channelN, DISPLAY:channelN.VIEWPORT or DISPLAY.VIEWPORT, "
              "with channels counted from 1 and DISPLAY a display's name or DEFAULT";
        return false;
    }
    return true;
}

// False, with ERR, when DESC is an element nothing could draw.
bool check_element(const ElementDesc &desc, std::string &err) {
    if (desc.rec.type == ELEMENT_POLYGON && desc.points.size() < 3) {
        err = "a polygon needs at least 3 points, got " + std::to_string(desc.points.size());
        return false;
    }
    if (desc.rec.type == ELEMENT_LINE && desc.points.size() < 2) {
        err = "a line needs at least 2 points, got " + std::to_string(desc.points.size());
        return false;
    }
    return true;
}

// Copies the fields a user sets from DESC into C; the lists stay.
void copy_settable(QVP_CANVAS *c, const QVP_CANVAS &desc) {
    c->draw_layer = desc.draw_layer;
    c->smooth = desc.smooth;
    c->anchor = desc.anchor;
    c->scale = desc.scale;
    c->size = desc.size;
    c->disp = desc.disp;
    c->pfont = desc.pfont;
    memcpy(c->fcol, desc.fcol, sizeof c->fcol);
    memcpy(c->bcol, desc.bcol, sizeof c->bcol);
    memcpy(c->rgb_gain, desc.rgb_gain, sizeof c->rgb_gain);
    c->opacity = desc.opacity;
    c->parent = desc.parent;
}

// The canvas that canvas element E shows, or null when E shows none or
// its pointer is no canvas record (a type written over another payload).
const QVP_CANVAS *shown_by(const QVP_CANVAS_ELEMENT *e) {
    if (e->type != ELEMENT_CANVAS || !e->data.can) return nullptr;
    if (QVF_GetArenaBlockSize(e) && QVF_GetArenaBlockSize(e->data.can) < sizeof(QVP_CANVAS)) return nullptr;
    return (const QVP_CANVAS *)e->data.can;
}

bool shows(const QVP_CANVAS *holder, const QVP_CANVAS *c) {
    QVP_WALK(QVP_CANVAS_ELEMENT, e, holder->elements)
        if (e->type == ELEMENT_CANVAS && e->data.can == c) return true;
    return false;
}

// True when FROM shows TARGET through canvas elements, directly or
// through canvases it shows. The caller holds the lock; each canvas is
// looked at once, so a loop already in the records ends the search.
bool shows_through(const QVP_CANVAS *from, const QVP_CANVAS *target, std::vector<const QVP_CANVAS *> &seen) {
    if (from == target) return true;
    for (const QVP_CANVAS *s : seen)
        if (s == from) return false;
    seen.push_back(from);
    QVP_WALK(QVP_CANVAS_ELEMENT, e, from->elements) {
        const QVP_CANVAS *s = shown_by(e);
        if (s && shows_through(s, target, seen)) return true;
    }
    return false;
}

// True when C showing SHOWN would close a loop of canvas elements.
bool closes_show_loop(const QVP_CANVAS *c, const QVP_CANVAS *shown) {
    std::vector<const QVP_CANVAS *> seen;
    return shows_through(shown, c, seen);
}

// True when C taking PARENT would make C its own ancestor. The caller
// holds the lock.
bool closes_parent_loop(const QVP_CANVAS *c, const QVP_CANVAS *parent) {
    size_t steps = 0;
    for (const QVP_CANVAS *p = parent; p && steps < 1000000; p = p->parent, steps++)
        if (p == c) return true;
    return false;
}

// True while C is in the scene's canvas list, and E in C's elements;
// compared, never followed. The caller holds the lock. A canvas found by
// name under an earlier hold may have been deleted since.
bool linked(const QVP_CANVAS *c) {
    QVP_WALK(QVP_CANVAS, o, g_info->list)
        if (o == c) return true;
    return false;
}

bool has_element(const QVP_CANVAS *c, const QVP_CANVAS_ELEMENT *e) {
    QVP_WALK(QVP_CANVAS_ELEMENT, k, c->elements)
        if (k == e) return true;
    return false;
}

// Nested canvases that canvas C shows, counted through the canvases they
// show in turn, up to just past the display's budget. MEMO keeps what is
// counted; the caller holds the lock, and loops were refused before.
long nested_draws(const QVP_CANVAS *c, std::unordered_map<const QVP_CANVAS *, long> &memo, int depth) {
    auto it = memo.find(c);
    if (it != memo.end()) return it->second;
    long n = 0;
    if (depth <= QVP_NESTED_DRAW_BUDGET) {
        QVP_WALK(const QVP_CANVAS_ELEMENT, e, c->elements) {
            const QVP_CANVAS *s = shown_by(e);
            if (!s) continue;
            n += 1 + nested_draws(s, memo, depth + 1);
            if (n > QVP_NESTED_DRAW_BUDGET) break;
        }
    }
    n = std::min<long>(n, QVP_NESTED_DRAW_BUDGET + 1);
    memo[c] = n;
    return n;
}

// The nested draws of the parentless canvases as this process last
// counted them, raised since by an upper bound of what each canvas
// element it added can add (-1: unknown, count again), and whether it
// warned that they are past the budget. Kept by note_canvas_element;
// forget_nested_count after a change that can lower the count.
long g_nested_total = -1;
bool g_nested_warned = false;

void forget_nested_count() {
    g_nested_total = -1;
    g_nested_warned = false;
}

// Counts the nested draws of the canvases the passes draw (those without
// a parent), up to just past the budget. The caller holds the lock.
long count_nested_draws() {
    std::unordered_map<const QVP_CANVAS *, long> memo;
    long total = 0;
    QVP_WALK(const QVP_CANVAS, o, g_info->list) {
        if (!o->parent) total += nested_draws(o, memo, 0);
        if (total > QVP_NESTED_DRAW_BUDGET) break;
    }
    return std::min<long>(total, QVP_NESTED_DRAW_BUDGET + 1);
}

// After C was given a canvas element showing SHOWN: logs one warning when
// the parentless canvases now show more nested canvases in one view than
// a display draws in a frame. C is drawn at most total + 1 times, so the
// element adds at most (1 + what SHOWN shows) x (total + 1) draws; only
// when that bound could pass the budget are they counted again, so adds
// cost nothing in the size of the scene until the budget is near. Once
// past it, adding more says nothing more. The caller holds the lock.
void note_canvas_element(const QVP_CANVAS *c, const QVP_CANVAS *shown) {
    if (g_nested_warned) return;
    const long most = QVP_NESTED_DRAW_BUDGET;
    if (g_nested_total >= 0 && shown) {
        std::unordered_map<const QVP_CANVAS *, long> memo;
        long sub = nested_draws(shown, memo, 1);
        long bound = g_nested_total + (1 + sub) * (g_nested_total + 1);
        if (bound <= most) {
            g_nested_total = bound;
            return;
        }
    }
    g_nested_total = count_nested_draws();
    if (g_nested_total <= most) return;
    g_nested_warned = true;
    char msg[300];
    snprintf(msg, sizeof msg,
             "canvas \"%.100s\": its canvas elements make more than %d nested canvases a view, the most a display "
             "draws in a frame; the rest will not be drawn",
             c->name, QVP_NESTED_DRAW_BUDGET);
    QVF_LogWarningF(msg, "qvp_canvas", __LINE__);
}

const char *const kGone = "the canvas or element was deleted meanwhile";

std::string show_loop_message(const QVP_CANVAS *c, const QVP_CANVAS *shown) {
    return std::string("canvas \"") + shown->name + "\" shows \"" + c->name + "\": canvases cannot show each other in a loop";
}

}  // namespace

template <class T>
T **list_end(T **head) {
    T **pp = head;
    for (long left = QVP_WalkLimit(); *pp && left > 0; left--) pp = &(*pp)->pnext;
    return *pp ? nullptr : pp;
}

namespace {

// C's list as this process knows it, walked afresh when another process
// changed its end since; null when the list loops back on itself. The
// caller holds the lock.
ListTail *list_tail(QVP_CANVAS *c) {
    auto &m = tails();
    auto it = m.find(c);
    const QVP_CANVAS_ELEMENT *last = c->last_element;
    if (it != m.end()) {
        ListTail &t = it->second;
        bool empty = !c->elements && !t.tail;
        if (empty || (t.tail && last == t.tail && QVF_GetArenaBlockSize(last) >= sizeof *last && !last->pnext &&
                      last->id == t.tail_id))
            return &t;
    }
    if (m.size() >= kTailsMost) m.clear();
    ListTail fresh;
    long left = QVP_WalkLimit();
    const QVP_CANVAS_ELEMENT *e = c->elements;
    for (; e && left > 0; left--, e = e->pnext) {
        fresh.ids.insert(e->id);
        fresh.max_id = std::max(fresh.max_id, e->id);
        fresh.tail = e;
    }
    if (e) return nullptr;
    fresh.tail_id = fresh.tail ? fresh.tail->id : 0;
    // The record's own tail pointer is put right when it was wrong.
    c->last_element = (QVP_CANVAS_ELEMENT *)fresh.tail;
    return &(m[c] = std::move(fresh));
}

}  // namespace

bool regular_file(const std::string &path, std::string &why) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        why = strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) why = "it is a directory";
    else if (!S_ISREG(st.st_mode)) why = "it is not a regular file";
    else if (access(path.c_str(), R_OK) != 0) why = strerror(errno);
    else return true;
    return false;
}

namespace {
std::string byte_count(size_t n) {
    char b[64];
    if (n >= (size_t)1 << 20) snprintf(b, sizeof b, "%.1f MiB", n / 1048576.0);
    else if (n >= 1024) snprintf(b, sizeof b, "%.1f KiB", n / 1024.0);
    else snprintf(b, sizeof b, "%zu bytes", n);
    return b;
}
}  // namespace

std::string ArenaFull(const std::string &what, size_t bytes) {
    return "arena full: " + what + " needs " + byte_count(bytes) + " and the scene has " +
           byte_count(QVH_ArenaFreeBytes()) +
           " free; make the scene larger (qvp_viewer -arena MiB) or delete what it no longer shows";
}

char *ArenaString(const std::string &s) {
    char *p = (char *)QVH_Alloc(s.size() + 1);
    if (p) memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

bool Attach(std::string &err) {
    if (!QVV_scene) {
        err = "no scene open";
        return false;
    }
    if (g_info && g_info_scene == QVV_scene && g_info_serial == QVH_SceneOpenSerial() &&
        QVH_FindSceneData("QVP_CANVAS_INFO") == g_info)
        return true;
    // Images loaded into a scene this process closed since are not this
    // scene's: their pixels went with that arena.
    if (g_info_serial && g_info_serial != QVH_SceneOpenSerial()) ForgetImages();
    QVP_CANVAS_INFO *info = QVP_CanvasRoot(QVV_scene);
    if (!info) {
        err = "cannot make the scene's canvas root (arena full?)";
        return false;
    }
    QVP_CANVAS_PROC_INFO *proc = QVP_CanvasProcRecord();
    if (!proc) {
        err = "cannot make this process's canvas record";
        return false;
    }
    g_info = info;
    g_proc = proc;
    g_info_scene = QVV_scene;
    g_info_serial = QVH_SceneOpenSerial();
    CollectImages(true);
    return true;
}

QVP_CANVAS_INFO *Info() { return g_info; }
QVP_CANVAS_PROC_INFO *ProcInfo() { return g_proc; }

Lock::Lock() { QVP_CanvasLock(g_info, g_proc); }

Lock::~Lock() { QVP_CanvasUnlock(g_info, g_proc); }

/* ---- canvases ---- */

void DefaultCanvas(QVP_CANVAS &c) {
    memset(&c, 0, sizeof c);
    c.draw_layer = 0x400;
    c.smooth = 1;
    c.anchor = 0;
    c.scale = CANVAS_SCALE_FIXED;
    c.size = 0.25f;
    c.disp.id = CANVAS_ID_WORLD;
    c.disp.ncols = 20;
    c.disp.nrows = 10;
    c.disp.col_vec[0] = 4;
    c.disp.row_vec[1] = -2;
    c.disp.radius = 10;
    c.fcol[0] = c.fcol[1] = c.fcol[2] = 1;
    c.bcol[0] = -1;
    c.rgb_gain[0] = c.rgb_gain[1] = c.rgb_gain[2] = 1;
    c.opacity = 1;
}

std::vector<std::string> ExcludedViewports(const QVP_CANVAS *c) {
    std::vector<std::string> names;
    Lock lock;
    QVP_WALK(const QVP_CANVAS_VIEW, v, c->no_views) {
        const NamedView *nv = (const NamedView *)v;
        names.push_back(std::string(nv->name, strnlen(nv->name, sizeof nv->name)));
    }
    return names;
}

QVP_CANVAS *FindCanvas(const std::string &name) {
    if (!g_info) return nullptr;
    Lock lock;
    QVP_WALK(QVP_CANVAS, c, g_info->list)
        if (name == c->name) return c;
    return nullptr;
}

std::vector<QVP_CANVAS *> Canvases() {
    std::vector<QVP_CANVAS *> v;
    if (!g_info) return v;
    Lock lock;
    QVP_WALK(QVP_CANVAS, c, g_info->list) v.push_back(c);
    return v;
}

QVP_CANVAS *CreateCanvas(const QVP_CANVAS &desc, const std::vector<QVS_VIEWPORT *> &exclude, std::string &err) {
    if (!Attach(err)) return nullptr;
    size_t len = strnlen(desc.name, sizeof desc.name);
    if (len == 0 || len >= sizeof desc.name) {
        err = "canvas names have 1 to 119 characters";
        return nullptr;
    }
    if (!check_canvas(desc, err)) return nullptr;
    QVP_CANVAS *c = (QVP_CANVAS *)QVH_Alloc(sizeof(QVP_CANVAS));
    bool ok = c != nullptr;
    QVP_CANVAS_VIEW *views = ok ? make_views(exclude, ok) : nullptr;
    if (!ok) {
        QVH_Free(c);
        err = ArenaFull("the canvas", sizeof(QVP_CANVAS));
        return nullptr;
    }
    memset(c, 0, sizeof *c);
    snprintf(c->name, sizeof c->name, "%s", desc.name);
    copy_settable(c, desc);
    c->no_views = views;
    {
        // The name is checked and the canvas linked in one hold, so two
        // writers cannot both make the same name.
        Lock lock;
        bool taken = false;
        QVP_WALK(QVP_CANVAS, o, g_info->list) taken = taken || strcmp(o->name, c->name) == 0;
        QVP_CANVAS **pp = taken ? nullptr : list_end(&g_info->list);
        if (pp) {
            __atomic_store_n(pp, c, __ATOMIC_RELEASE);
            return c;
        }
        err = taken ? std::string("canvas \"") + desc.name + "\" already exists" : "the canvas list loops back on itself";
    }
    free_views(views);
    QVH_Free(c);
    return nullptr;
}

bool ConfigureCanvas(QVP_CANVAS *c, const QVP_CANVAS &desc, bool set_exclude,
                     const std::vector<QVS_VIEWPORT *> &exclude, std::string &err) {
    if (desc.parent == c) {
        err = "a canvas cannot be its own parent";
        return false;
    }
    if (!check_canvas(desc, err)) return false;

    bool ok = true;
    QVP_CANVAS_VIEW *views = set_exclude ? make_views(exclude, ok) : nullptr;
    if (!ok) {
        err = ArenaFull("the excluded viewports", sizeof(QVP_CANVAS_VIEW) * exclude.size());
        return false;
    }
    QVP_CANVAS_VIEW *old = nullptr;
    {
        Lock lock;
        if (!linked(c) || (desc.parent && !linked(desc.parent))) {
            err = kGone;
            free_views(views);
            return false;
        }
        if (closes_parent_loop(c, desc.parent)) {
            err = std::string("canvas \"") + desc.parent->name + "\" descends from \"" + c->name +
                  "\": parents cannot form a loop";
            free_views(views);
            return false;
        }
        bool reparented = c->parent != desc.parent;
        copy_settable(c, desc);
        if (reparented) {
            forget_nested_count();
            note_canvas_element(c, nullptr);
        }
        if (set_exclude) {
            old = c->no_views;
            c->no_views = views;
        }
    }
    free_views(old);
    return true;
}

namespace {

// A canvas waiting for its node, by the canvas's name.
struct Wait {
    std::string node;
    int layer;
};
// The canvases this process made wait; filled by WaitForNode, emptied
// by StopWaiting and PlaceWaitingCanvases. At most kMostWaiting.
std::map<std::string, Wait> &waiting() {
    static std::map<std::string, Wait> m;
    return m;
}

}  // namespace

bool WaitForNode(QVP_CANVAS *c, const std::string &node, int layer, std::string &err) {
    auto &w = waiting();
    auto it = w.find(c->name);
    if (it == w.end() && w.size() >= (size_t)kMostWaiting) {
        err = "more than " + std::to_string(kMostWaiting) + " canvases wait for nodes; node \"" + node + "\" is not in this scene";
        return false;
    }
    bool told = it != w.end() && it->second.node == node;
    w[c->name] = Wait{node, layer};
    {
        Lock lock;
        c->disp.id = CANVAS_ID_WORLD;
        c->draw_layer = 0;
    }
    if (!told) {
        std::string msg = std::string("canvas ") + c->name + " waits for node " + node;
        QVF_LogStatusF(msg.c_str(), "qvp_canvas", __LINE__);
    }
    return true;
}

void StopWaiting(const QVP_CANVAS *c) {
    if (!waiting().empty()) waiting().erase(c->name);
}

bool WaitingFor(const QVP_CANVAS *c, std::string &node, int &layer) {
    auto it = waiting().find(c->name);
    if (it == waiting().end()) return false;
    node = it->second.node;
    layer = it->second.layer;
    return true;
}

int PlaceWaitingCanvases() {
    auto &w = waiting();
    int placed = 0;
    for (auto it = w.begin(); it != w.end();) {
        QVP_CANVAS *c = FindCanvas(it->first);
        int id = c ? QVF_GetNodeID(it->second.node.c_str()) : -1;
        if (c && id < 0) {
            ++it;
            continue;
        }
        if (c) {
            Lock lock;
            c->disp.id = id;
            c->draw_layer = it->second.layer;
            placed++;
            std::string msg = std::string("canvas ") + c->name + " placed on node " + it->second.node;
            QVF_LogStatusF(msg.c_str(), "qvp_canvas", __LINE__);
        }
        it = w.erase(it);
    }
    return placed;
}

bool DeleteCanvas(QVP_CANVAS *c, std::string &err) {
    Lock lock;
    QVP_WALK(QVP_CANVAS, o, g_info->list) {
        if (o == c) continue;
        if (shows(o, c)) {
            err = std::string("canvas \"") + c->name + "\" is shown by canvas \"" + o->name + "\"; delete that element first";
            return false;
        }
        if (o->parent == c) {
            err = std::string("canvas \"") + c->name + "\" is the parent of canvas \"" + o->name + "\"";
            return false;
        }
    }
    QVP_CANVAS **pp = &g_info->list;
    for (long left = QVP_WalkLimit(); *pp && *pp != c && left > 0; left--) pp = &(*pp)->pnext;
    if (*pp != c) {
        err = "no such canvas";
        return false;
    }
    __atomic_store_n(pp, c->pnext, __ATOMIC_RELEASE);
    tails().erase(c);
    StopWaiting(c);
    forget_nested_count();
    // A list looped back on itself is freed up to its first repeat: the
    // walk bound stops it, and a freed block is no live block to free again.
    QVP_CANVAS_ELEMENT *e = c->elements;
    for (long left = QVP_WalkLimit(); e && left > 0 && QVF_GetArenaBlockSize(e); left--) {
        QVP_CANVAS_ELEMENT *n = e->pnext;
        free_payload(e);
        QVH_Free(e);
        e = n;
    }
    free_views(c->no_views);
    QVH_Free(c);
    CollectImages(false);
    return true;
}

/* ---- elements ---- */

void DefaultElement(ElementDesc &desc, int type) {
    memset(&desc.rec, 0, sizeof desc.rec);
    desc.rec.type = type;
    desc.rec.fcol[0] = desc.rec.fcol[1] = desc.rec.fcol[2] = 1;
    desc.rec.bcol[0] = -1;
    desc.rec.opacity = 1;
    desc.rec.scale.x = desc.rec.scale.y = 1;
    desc.rec.line_width = 1;
    desc.text.clear();
    desc.points.clear();
    desc.video = VideoSource();
    switch (type) {
    case ELEMENT_TEXT: {
        QVP_CANVAS_TEXT &t = desc.rec.data.text;
        t.col_s = t.row_s = 1;
        t.smooth = 1;
        std::string err;
        t.pfont = DefaultFont(err);
        break;
    }
    case ELEMENT_ARC: desc.rec.data.arc.end_ang = 90; break;
    case ELEMENT_VIDEO: desc.rec.data.video.cur_frame = -1; break;
    default: break;
    }
}

QVP_CANVAS_ELEMENT *FindElement(QVP_CANVAS *c, int id) {
    Lock lock;
    if (!linked(c)) return nullptr;
    QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements)
        if (e->id == id) return e;
    return nullptr;
}

QVP_CANVAS_ELEMENT *AddElement(QVP_CANVAS *c, const ElementDesc &desc, std::string &err, int want_id) {
    {
        Lock lock;
        if (!linked(c)) {
            err = kGone;
            return nullptr;
        }
    }
    if (desc.rec.type == ELEMENT_CANVAS && desc.rec.data.can == c) {
        err = "a canvas cannot show itself";
        return nullptr;
    }
    if (!check_element(desc, err)) return nullptr;
    // The id is taken only once the element is linked, so that a failed
    // add uses none up.
    QVP_CANVAS_ELEMENT *e = make_element(desc, 0, err);
    if (!e) return nullptr;
    Lock lock;
    bool gone = !linked(c) || (e->type == ELEMENT_CANVAS && !linked((QVP_CANVAS *)e->data.can));
    if (gone || (e->type == ELEMENT_CANVAS && closes_show_loop(c, (QVP_CANVAS *)e->data.can))) {
        err = gone ? kGone : show_loop_message(c, (QVP_CANVAS *)e->data.can);
        free_payload(e);
        QVH_Free(e);
        return nullptr;
    }
    ListTail *t = list_tail(c);
    auto refuse = [&](const std::string &why) -> QVP_CANVAS_ELEMENT * {
        err = why;
        free_payload(e);
        QVH_Free(e);
        return nullptr;
    };
    if (!t) return refuse("the element list loops back on itself");
    // Ids run from 1 to kElementIdMost, so that the next one is always
    // an int.
    long long id = std::max<long long>({1, g_proc->element_id, (long long)t->max_id + 1});
    if (want_id > kElementIdMost) return refuse("element id " + std::to_string(want_id) + " is out of range (1 to " +
                                                std::to_string(kElementIdMost) + ")");
    if (want_id > 0 && t->ids.count(want_id))
        return refuse("canvas \"" + std::string(c->name) + "\" has an element " + std::to_string(want_id) + " already");
    if (want_id > 0) id = want_id;
    if (id > kElementIdMost)
        return refuse("canvas \"" + std::string(c->name) + "\" has used up its element ids (the highest is " +
                      std::to_string(kElementIdMost) + "); give new elements -id N below it");
    e->id = (int)id;
    // Only ids this process chose move its counter: an id asked for (a
    // mirror's) near the top must not use up every canvas's ids.
    if (want_id <= 0) g_proc->element_id = (int)std::min<long long>(id + 1, kElementIdMost);
    QVP_CANVAS_ELEMENT **pp = t->tail ? &((QVP_CANVAS_ELEMENT *)t->tail)->pnext : &c->elements;
    __atomic_store_n(pp, e, __ATOMIC_RELEASE);
    c->last_element = e;
    t->tail = e;
    t->tail_id = e->id;
    t->max_id = std::max(t->max_id, e->id);
    t->ids.insert(e->id);
    if (e->type == ELEMENT_NODE) c->node_cnt++;
    if (e->type == ELEMENT_CANVAS) note_canvas_element(c, shown_by(e));
    return e;
}

ElementDesc DescOf(const QVP_CANVAS_ELEMENT *e) {
    ElementDesc s;
    s.rec = *e;
    switch (e->type) {
    case ELEMENT_TEXT:
        if (e->data.text.buff) s.text = e->data.text.buff;
        break;
    case ELEMENT_LINE:
    case ELEMENT_POLYGON:
        s.points.assign(e->data.line.pnt_list, e->data.line.pnt_list + e->data.line.pnt_list_cnt);
        break;
    case ELEMENT_VIDEO: s.video = VideoSourceOf(e); break;
    default: break;
    }
    return s;
}

QVP_CANVAS_ELEMENT *ConfigureElement(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, const ElementDesc &desc, std::string &err) {
    if (desc.rec.type != e->type) {
        err = "an element keeps its type";
        return nullptr;
    }
    if (!check_element(desc, err)) return nullptr;
    if (desc.rec.type == ELEMENT_CANVAS && desc.rec.data.can == c) {
        err = "a canvas cannot show itself";
        return nullptr;
    }
    // The new record is made whole beside the old one and takes its place
    // with one pointer store, so that whoever recovers the lock after a
    // kill meets the old element or the new one, never a mix.
    QVP_CANVAS_ELEMENT *fresh = (QVP_CANVAS_ELEMENT *)QVH_Alloc(sizeof(QVP_CANVAS_ELEMENT));
    if (!fresh) {
        err = ArenaFull("the element", sizeof(QVP_CANVAS_ELEMENT));
        return nullptr;
    }
    *fresh = desc.rec;
    memset(fresh->tag_hash, 0, sizeof fresh->tag_hash);
    bool video = e->type == ELEMENT_VIDEO, same_source = false;
    if (video) {
        VideoSource v = VideoSourceOf(e);
        same_source = v.file == desc.video.file && v.w == desc.video.w && v.h == desc.video.h &&
                      v.fps == desc.video.fps && v.loop == desc.video.loop;
        // The same file with other options plays on as it did; a new
        // file starts at its first frame.
        PlayState carry;
        bool go_on = false;
        if (!same_source && v.file == desc.video.file) {
            Lock lock;
            VideoStatus st;
            if (GetVideoStatus(e, st)) {
                carry = st.play;
                go_on = true;
            }
        }
        memset(&fresh->data.video, 0, sizeof fresh->data.video);
        fresh->data.video.corners[0] = desc.rec.data.video.corners[0];
        fresh->data.video.corners[1] = desc.rec.data.video.corners[1];
        fresh->data.video.flip_axis = desc.rec.data.video.flip_axis;
        fresh->data.video.cur_frame = -1;
        // A new source gets its producer first; if it cannot start,
        // nothing has changed.
        if (!same_source && !StartVideo(fresh, desc.video, err, go_on ? &carry : nullptr)) {
            QVH_Free(fresh);
            return nullptr;
        }
    } else {
        clear_payload_pointers(fresh);
        if (!make_payload(fresh, desc, err)) {
            QVH_Free(fresh);
            return nullptr;
        }
    }
    {
        Lock lock;
        bool gone = !linked(c) || !has_element(c, e) ||
                    (e->type == ELEMENT_CANVAS && !linked((QVP_CANVAS *)desc.rec.data.can));
        if (gone || (e->type == ELEMENT_CANVAS && closes_show_loop(c, (QVP_CANVAS *)desc.rec.data.can))) {
            err = gone ? kGone : show_loop_message(c, (QVP_CANVAS *)desc.rec.data.can);
            free_payload(fresh);
            QVH_Free(fresh);
            return nullptr;
        }
        fresh->id = e->id;
        fresh->pnext = e->pnext;
        memcpy(fresh->tag_hash, e->tag_hash, sizeof fresh->tag_hash);
        if (same_source) {
            // The producer's frames stay; only placement and mirroring change.
            QVP_CANVAS_VIDEO v = e->data.video;
            v.corners[0] = fresh->data.video.corners[0];
            v.corners[1] = fresh->data.video.corners[1];
            v.flip_axis = fresh->data.video.flip_axis;
            fresh->data.video = v;
        }
        QVP_CANVAS_ELEMENT **pp = &c->elements;
        for (long left = QVP_WalkLimit(); *pp != e && left > 0; left--) pp = &(*pp)->pnext;
        __atomic_store_n(pp, fresh, __ATOMIC_RELEASE);
        if (c->last_element == e) {
            c->last_element = fresh;
            auto it = tails().find(c);
            if (it != tails().end() && it->second.tail == e) it->second.tail = fresh;
        }
        if (e->type == ELEMENT_CANVAS) {
            forget_nested_count();
            note_canvas_element(c, nullptr);
        }
    }
    // The old record is unreachable now.
    if (same_source) {
        // The producer follows its frames, which moved to FRESH.
        memset(&e->data.video, 0, sizeof e->data.video);
    } else {
        free_payload(e);
    }
    QVH_Free(e);
    if (fresh->type == ELEMENT_IMAGE) CollectImages(false);
    return fresh;
}

bool DeleteElement(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, std::string &err) {
    {
        Lock lock;
        if (!linked(c)) {
            err = kGone;
            return false;
        }
        QVP_CANVAS_ELEMENT **pp = &c->elements, *prev = nullptr;
        for (long left = QVP_WalkLimit(); *pp && *pp != e && left > 0; left--) {
            prev = *pp;
            pp = &(*pp)->pnext;
        }
        if (*pp != e) {
            err = "no such element";
            return false;
        }
        __atomic_store_n(pp, e->pnext, __ATOMIC_RELEASE);
        if (c->last_element == e) c->last_element = prev;
        auto it = tails().find(c);
        if (it != tails().end()) {
            it->second.ids.erase(e->id);
            if (it->second.tail == e) {
                it->second.tail = prev;
                it->second.tail_id = prev ? prev->id : 0;
            }
        }
        if (e->type == ELEMENT_NODE && c->node_cnt > 0) c->node_cnt--;
        if (e->type == ELEMENT_CANVAS) forget_nested_count();
        free_payload(e);
        QVH_Free(e);
    }
    CollectImages(false);
    return true;
}

}  // namespace qvpc
