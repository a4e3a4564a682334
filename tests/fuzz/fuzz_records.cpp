// fuzz_records.cpp - writes random values into the shared canvas records
// of a scene and renders after every few writes: bad data must draw as
// nothing, never crash. Each batch runs in a child process of its own, so
// that a crash is counted and reported with the field and value that
// preceded it, and the run goes on.
//
//   fuzz_records [--writes N] [--batch B] [--seed S] [--frame-every K]
//   fuzz_records --batch B --replay SEED     (one batch, in this process)
//
// Pointers are only ever set to null: other pointer values are the
// builder's to write. Element type codes are set to codes in the table and
// outside it: a payload read as another kind's must draw nothing. Now and
// then the builder adds canvas elements that show other canvases, so that
// nested fan-out grows towards the display's nested-draw budget.
//
// A batch that runs past --batch-seconds is killed with its whole process
// group (anything it forked goes too) and counted as hung.
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"

extern "C" int QVF_InitializePluginCB(QVS_PLUGIN *plugin);

namespace {

enum Kind { INT, FLOAT, DOUBLE, PTR, CHARS, TYPE };

// One field of a record: where it is, how big, what kind of value, and
// for a payload field the element kind whose view of the union it is (-1
// for fields every element has): a field is only written into elements of
// its own kind, since another kind's view would overwrite pointers.
struct Field {
    const char *name;
    size_t offset;
    size_t size;
    Kind kind;
    int type = -1;
};

#define CF(f, k) {"canvas." #f, offsetof(QVP_CANVAS, f), sizeof(((QVP_CANVAS *)0)->f), k}
#define EF(f, k) {"element." #f, offsetof(QVP_CANVAS_ELEMENT, f), sizeof(((QVP_CANVAS_ELEMENT *)0)->f), k}
#define PF(t, f, k) {"element." #f, offsetof(QVP_CANVAS_ELEMENT, f), sizeof(((QVP_CANVAS_ELEMENT *)0)->f), k, t}
#define FF(f, k) {"font." #f, offsetof(QVP_CANVAS_FONTDEF, f), sizeof(((QVP_CANVAS_FONTDEF *)0)->f), k}

const Field kCanvasFields[] = {
    CF(draw_layer, INT), CF(name, CHARS), CF(smooth, INT), CF(anchor, INT), CF(scale, INT), CF(size, FLOAT),
    CF(disp.id, INT), CF(disp.locked, INT), CF(disp.mapping, CHARS), CF(disp.org[0], DOUBLE),
    CF(disp.org[2], DOUBLE), CF(disp.ncols, FLOAT), CF(disp.nrows, FLOAT), CF(disp.col_vec[0], DOUBLE),
    CF(disp.col_vec[1], DOUBLE), CF(disp.row_vec[1], DOUBLE), CF(disp.row_vec[2], DOUBLE), CF(disp.proj, INT),
    CF(disp.radius, DOUBLE), CF(pfont, PTR), CF(no_views, PTR), CF(node_cnt, INT), CF(fcol[0], FLOAT),
    CF(bcol[0], FLOAT), CF(bcol[1], FLOAT), CF(rgb_gain[0], FLOAT), CF(rgb_gain[2], FLOAT), CF(opacity, FLOAT),
    CF(parent, PTR),
};

const Field kElementFields[] = {
    EF(type, TYPE), EF(attrib, INT), EF(fcol[0], FLOAT), EF(fcol[1], FLOAT), EF(bcol[0], FLOAT),
    EF(opacity, FLOAT), EF(offset.x, FLOAT), EF(offset.y, FLOAT), EF(scale.x, FLOAT), EF(scale.y, FLOAT),
    EF(line_width, FLOAT),
    // The payload, through each kind's view of the union.
    PF(ELEMENT_TEXT, data.text.col, FLOAT), PF(ELEMENT_TEXT, data.text.row, FLOAT),
    PF(ELEMENT_TEXT, data.text.col_s, FLOAT), PF(ELEMENT_TEXT, data.text.row_s, FLOAT),
    PF(ELEMENT_TEXT, data.text.anchor, INT), PF(ELEMENT_TEXT, data.text.smooth, INT),
    PF(ELEMENT_TEXT, data.text.buff_size, INT), PF(ELEMENT_TEXT, data.text.buff, PTR),
    PF(ELEMENT_TEXT, data.text.pfont, PTR), PF(ELEMENT_LINE, data.line.pnt_list_size, INT),
    PF(ELEMENT_LINE, data.line.pnt_list_cnt, INT), PF(ELEMENT_LINE, data.line.pnt_list, PTR),
    PF(ELEMENT_POLYGON, data.poly.pnt_list_size, INT), PF(ELEMENT_POLYGON, data.poly.pnt_list_cnt, INT),
    PF(ELEMENT_POLYGON, data.poly.pnt_list, PTR), PF(ELEMENT_RECTANGLE, data.rect.corners[1].x, FLOAT),
    PF(ELEMENT_CIRCLE, data.circ.rad, FLOAT), PF(ELEMENT_CIRCLE, data.circ.cen.y, FLOAT),
    PF(ELEMENT_ARC, data.arc.start_ang, FLOAT), PF(ELEMENT_ARC, data.arc.end_ang, FLOAT),
    PF(ELEMENT_ARC, data.arc.corners[0].y, FLOAT), PF(ELEMENT_IMAGE, data.imag.name, CHARS),
    PF(ELEMENT_IMAGE, data.imag.flip_axis, INT), PF(ELEMENT_IMAGE, data.imag.tw, INT),
    PF(ELEMENT_IMAGE, data.imag.th, INT), PF(ELEMENT_IMAGE, data.imag.tdata, PTR),
    PF(ELEMENT_VIDEO, data.video.w, INT), PF(ELEMENT_VIDEO, data.video.h, INT),
    PF(ELEMENT_VIDEO, data.video.name, PTR), PF(ELEMENT_VIDEO, data.video.cur_frame, INT),
    PF(ELEMENT_VIDEO, data.video.row_size, INT), PF(ELEMENT_VIDEO, data.video.frames[0], PTR),
    PF(ELEMENT_VIDEO, data.video.frames[3], PTR), PF(ELEMENT_VIDEO, data.video.flip_axis, INT),
    PF(ELEMENT_CANVAS, data.can, PTR), PF(ELEMENT_NODE, data.node, INT),
};

const Field kFontFields[] = {
    FF(w, INT), FF(h, INT), FF(first_char, INT), FF(last_char, INT), FF(scale[0], FLOAT), FF(char_list, PTR),
    FF(texdata, PTR), FF(name, CHARS),
};

// Set by main: the parent's view of what the child wrote last, in a
// shared page so that it survives the child's crash.
char *g_last = nullptr;

unsigned long long g_rng = 88172645463325252ULL;
unsigned long long next_random() {
    g_rng ^= g_rng << 13;
    g_rng ^= g_rng >> 7;
    g_rng ^= g_rng << 17;
    return g_rng;
}
int pick(int n) { return (int)(next_random() % (unsigned long long)n); }

int random_int() {
    static const int special[] = {0, -1, 1, 2, 5, 6, 7, -2, 255, 256, 1000, 4096, 65536, INT_MAX, INT_MIN,
                                  INT_MAX - 1, INT_MIN + 1, 0x30000000, 0x200, 0x400, 0x800, 0xe00};
    if (pick(3)) return special[pick((int)(sizeof special / sizeof *special))];
    return (int)next_random();
}

double random_real() {
    static const double special[] = {0.0, -0.0, 1.0, -1.0, 1e-30, 1e30, 3e38, -3e38, 1e300, -1e300, 0.5, 1e-5};
    switch (pick(6)) {
    case 0: return NAN;
    case 1: return pick(2) ? INFINITY : -INFINITY;
    case 2: return special[pick((int)(sizeof special / sizeof *special))];
    default: return ((double)(next_random() % 2000001) - 1000000.0) / 100.0;
    }
}

void write_field(unsigned char *rec, const Field &f, const char *owner) {
    unsigned char *p = rec + f.offset;
    char value[64];
    switch (f.kind) {
    case INT: {
        int v = random_int();
        memcpy(p, &v, sizeof v);
        snprintf(value, sizeof value, "%d", v);
        break;
    }
    case TYPE: {
        static const int outside[] = {0x3,          0x200,        0x400,          -1,           INT_MAX,
                                      INT_MIN,      ELEMENT_NODE, ELEMENT_TEXT,   ELEMENT_LINE, ELEMENT_CIRCLE,
                                      ELEMENT_RECTANGLE, ELEMENT_POLYGON, ELEMENT_CANVAS, ELEMENT_IMAGE,
                                      ELEMENT_ARC,  ELEMENT_VIDEO};
        int v = outside[pick((int)(sizeof outside / sizeof *outside))];
        memcpy(p, &v, sizeof v);
        snprintf(value, sizeof value, "%d", v);
        break;
    }
    case FLOAT: {
        float v = (float)random_real();
        memcpy(p, &v, sizeof v);
        snprintf(value, sizeof value, "%g", (double)v);
        break;
    }
    case DOUBLE: {
        double v = random_real();
        memcpy(p, &v, sizeof v);
        snprintf(value, sizeof value, "%g", v);
        break;
    }
    case PTR:
        memset(p, 0, sizeof(void *));
        snprintf(value, sizeof value, "null");
        break;
    case CHARS:
        // Printable bytes to the last one: no terminator.
        for (size_t i = 0; i < f.size; i++) p[i] = (unsigned char)(33 + pick(90));
        snprintf(value, sizeof value, "%zu bytes, unterminated", f.size);
        break;
    }
    snprintf(g_last, 256, "%s (%s) = %s", f.name, owner, value);
}

QVP_CANVAS *make_canvas(const char *name, int layer, double x, double y, int id, int proj) {
    QVP_CANVAS d;
    qvpc::DefaultCanvas(d);
    snprintf(d.name, sizeof d.name, "%s", name);
    d.draw_layer = layer;
    d.disp.org[0] = x;
    d.disp.org[1] = y;
    d.disp.id = id;
    if (id == CANVAS_ID_MAPPED) snprintf(d.disp.mapping, sizeof d.disp.mapping, "DEFAULT:channel1");
    d.disp.proj = proj;
    d.bcol[0] = 0.2f;
    std::string err;
    return qvpc::CreateCanvas(d, {}, err);
}

// A scene with canvases in each layer and placement, holding one element
// of every kind between them.
bool build_scene() {
    std::string err;
    if (!qvpc::Attach(err)) return false;
    int node = QVH_AddNode("n");
    QVS_NODE *n = QVH_GetNode(node);
    n->shape = QVP_SHAPE_BOX;
    QVP_CANVAS *world = make_canvas("world", LAYER_SCENE, 0, 0, CANVAS_ID_WORLD, PROJ_FLAT);
    QVP_CANVAS *front = make_canvas("front", LAYER_FOREGROUND, 1, 1, CANVAS_ID_WORLD, PROJ_FLAT);
    QVP_CANVAS *back = make_canvas("back", LAYER_BACKGROUND, -1, 0, node, PROJ_FLAT);
    QVP_CANVAS *mapped = make_canvas("mapped", LAYER_SCENE, 0.1, 0.9, CANVAS_ID_MAPPED, PROJ_FLAT);
    QVP_CANVAS *dome = make_canvas("dome", LAYER_SCENE, 0, 0, node, PROJ_SPHERE);
    QVP_CANVAS *inner = make_canvas("inner", LAYER_SCENE, 0, -1, CANVAS_ID_WORLD, PROJ_FLAT);
    if (!world || !front || !back || !mapped || !dome || !inner) return false;
    inner->parent = front;
    QVP_CANVAS *holders[] = {world, front, back, mapped, dome};
    int types[] = {ELEMENT_TEXT,  ELEMENT_LINE,   ELEMENT_RECTANGLE, ELEMENT_CIRCLE, ELEMENT_ARC,
                   ELEMENT_POLYGON, ELEMENT_IMAGE, ELEMENT_VIDEO,     ELEMENT_CANVAS, ELEMENT_NODE};
    // The picture lives in the arena, as the builder's images do.
    unsigned char *pixels = (unsigned char *)QVH_Alloc(8 * 8 * 4);
    if (!pixels) return false;
    memset(pixels, 200, 8 * 8 * 4);
    int k = 0;
    for (int t : types) {
        qvpc::ElementDesc e;
        qvpc::DefaultElement(e, t);
        e.text = "fuzz\tme\n2 caf\xc3\xa9 \xce\xa9 \xe4\xbd\xa0";
        e.points = {{1, 1}, {5, 1}, {3, 4}, {2, 2}};
        e.rec.data.rect.corners[1] = {6, 4};
        e.rec.data.circ.rad = 2;
        e.rec.data.arc.corners[1] = {8, 6};
        QVP_CANVAS_IMAGE &im = e.rec.data.imag;
        im.corners[1] = {4, 4};
        snprintf(im.name, sizeof im.name, "img");
        im.tw = im.th = 8;
        im.tdata = pixels;
        e.rec.data.video.corners[1] = {4, 4};
        e.video.w = 16;
        e.video.h = 8;
        if (t == ELEMENT_CANVAS) e.rec.data.can = inner;
        if (t == ELEMENT_NODE) e.rec.data.node = node;
        QVP_CANVAS *c = t == ELEMENT_CANVAS ? front : holders[k++ % 5];
        if (!qvpc::AddElement(c, e, err)) return false;
    }
    return true;
}

// The records the fuzzer may write: canvases, their elements, the fonts.
void collect(std::vector<QVP_CANVAS *> &cs, std::vector<QVP_CANVAS_ELEMENT *> &es, std::vector<int> &types,
             std::vector<QVP_CANVAS_FONTDEF *> &fs) {
    for (QVP_CANVAS *c : qvpc::Canvases()) {
        cs.push_back(c);
        for (QVP_CANVAS_ELEMENT *e = c->elements; e; e = e->pnext) {
            es.push_back(e);
            types.push_back(e->type);
        }
    }
    for (QVP_CANVAS_FONTDEF *f = qvpc::Info()->fonts; f; f = f->pnext) fs.push_back(f);
}

// One batch, in the child: a fresh scene, then WRITES writes with a frame
// after every FRAME_EVERY of them.
int run_batch(long writes, int frame_every, unsigned long long seed) {
    g_rng = seed ? seed : 1;
    std::string scene = "fuzz-" + std::to_string(getpid());
    char err[256];
    QVH_LogToStderr(0);
    if (!QVH_OpenScene(scene.c_str(), 8u << 20, QVH_SCENE_CREATE, err, sizeof err)) return 3;
    if (!QVH_OpenDisplay("fuzz", 96, 64, (int)(seed & 1), err, sizeof err)) return 4;
    QVS_CHANNEL *ch = QVH_AddChannel("channel1", 0, 0);
    QVH_AddViewport(ch, "view");
    QVS_PLUGIN p{};
    char arg0[] = "qvp_drawcanvas.so";
    char *argv[] = {arg0};
    p.argc = 1;
    p.argv = argv;
    if (QVF_InitializePluginCB(&p) != 1) return 5;
    QVH_SetFrameHook([](double t, void *) { qvpc::TickVideo(t); }, nullptr);
    if (!build_scene()) return 6;
    QVH_RunFrames(1);
    std::vector<QVP_CANVAS *> cs;
    std::vector<QVP_CANVAS_ELEMENT *> es;
    std::vector<QVP_CANVAS_FONTDEF *> fs;
    std::vector<int> types;
    collect(cs, es, types, fs);
    for (long w = 0; w < writes; w++) {
        int which = pick(10);
        if (pick(100) == 0) {
            // Bytes of a text that are no UTF-8 (or half of a sequence):
            // its terminator stays where it was.
            QVP_CANVAS_ELEMENT *t = es[(size_t)pick((int)es.size())];
            char *b = t->type == ELEMENT_TEXT ? t->data.text.buff : nullptr;
            size_t n = b && QVF_GetArenaBlockSize(b) ? strnlen(b, QVF_GetArenaBlockSize(b)) : 0;
            if (n) b[pick((int)n)] = (char)(0x80 + pick(128));
            snprintf(g_last, 256, "a text byte of element %d above 127", t->id);
        } else if (pick(200) == 0) {
            // Fan-out: a canvas shows another up to four times more.
            QVP_CANVAS *holder = cs[(size_t)pick((int)cs.size())], *shown = cs[(size_t)pick((int)cs.size())];
            qvpc::ElementDesc e;
            qvpc::DefaultElement(e, ELEMENT_CANVAS);
            e.rec.data.can = shown;
            std::string why;
            for (int k = pick(4) + 1; k > 0; k--) {
                QVP_CANVAS_ELEMENT *added = qvpc::AddElement(holder, e, why);
                if (!added) break;
                es.push_back(added);
                types.push_back(ELEMENT_CANVAS);
            }
            snprintf(g_last, 256, "canvas elements in \"%.60s\" showing \"%.60s\" (%.100s)", holder->name, shown->name,
                     why.empty() ? "added" : why.c_str());
        } else if (which < 3) {
            const Field &f = kCanvasFields[pick((int)(sizeof kCanvasFields / sizeof *kCanvasFields))];
            write_field((unsigned char *)cs[(size_t)pick((int)cs.size())], f, "a canvas");
        } else if (which < 9 || fs.empty()) {
            size_t k = (size_t)pick((int)es.size());
            const Field *f;
            do f = &kElementFields[pick((int)(sizeof kElementFields / sizeof *kElementFields))];
            while (f->type >= 0 && f->type != types[k]);
            write_field((unsigned char *)es[k], *f, "an element");
        } else {
            const Field &f = kFontFields[pick((int)(sizeof kFontFields / sizeof *kFontFields))];
            write_field((unsigned char *)fs[(size_t)pick((int)fs.size())], f, "a font");
        }
        if (getenv("FUZZ_TRACE")) fprintf(stderr, "%ld %s\n", w, g_last);
        if ((w + 1) % frame_every == 0) QVH_RunFrames(1);
    }
    QVH_RunFrames(1);
    // The scene goes with the child; the display too.
    QVH_SetFrameHook(nullptr, nullptr);
    QVH_RemoveScene(scene.c_str());
    _exit(0);
}

}  // namespace

int main(int argc, char **argv) {
    long writes = 20000, batch = 2000;
    int frame_every = 10, batch_seconds = 300;
    unsigned long long seed = (unsigned long long)time(nullptr);
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--writes") writes = atol(argv[i + 1]);
        else if (a == "--batch") batch = atol(argv[i + 1]);
        else if (a == "--seed") seed = strtoull(argv[i + 1], nullptr, 10);
        else if (a == "--frame-every") frame_every = atoi(argv[i + 1]);
        else if (a == "--batch-seconds") batch_seconds = atoi(argv[i + 1]);
        else if (a == "--replay") {
            // One batch of --batch writes with this seed, in this process
            // (for a debugger).
            g_last = (char *)malloc(256);
            return run_batch(batch, frame_every, strtoull(argv[i + 1], nullptr, 10));
        }
        else {
            fprintf(stderr,
                    "usage: fuzz_records [--writes N] [--batch B] [--seed S] [--frame-every K] [--batch-seconds T]\n");
            return 2;
        }
    }
    if (batch < 1 || writes < 1 || frame_every < 1 || batch_seconds < 1) return 2;
    g_last = (char *)mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    long crashes = 0, failures = 0, hangs = 0, batches = 0;
    time_t start = time(nullptr);
    for (long done = 0; done < writes; done += batch, batches++) {
        long n = writes - done < batch ? writes - done : batch;
        unsigned long long s = seed + (unsigned long long)batches * 7919;
        g_last[0] = '\0';
        pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0);
            _exit(run_batch(n, frame_every, s));
        }
        setpgid(child, child);
        int st = 0;
        bool hung = true;
        for (long waited_ms = 0; waited_ms < batch_seconds * 1000L; waited_ms += 10) {
            if (waitpid(child, &st, WNOHANG) == child) {
                hung = false;
                break;
            }
            usleep(10000);
        }
        if (hung) {
            kill(-child, SIGKILL);
            waitpid(child, &st, 0);
            hangs++;
            printf("HUNG batch with seed %llu (killed after %d s with its process group) after: %s\n", s,
                   batch_seconds, g_last);
        } else if (WIFSIGNALED(st)) {
            crashes++;
            printf("CRASH (signal %d) in batch with seed %llu after: %s\n", WTERMSIG(st), s, g_last);
        } else if (WEXITSTATUS(st) != 0) {
            failures++;
            printf("FAILED batch with seed %llu: exit %d, after: %s\n", s, WEXITSTATUS(st), g_last);
        }
        fflush(stdout);
    }
    printf("fuzz_records: %ld writes in %ld batches (seed %llu), %ld crashes, %ld failed batches, %ld hung, %lds\n",
           writes, batches, seed, crashes, failures, hangs, (long)(time(nullptr) - start));
    return crashes || failures || hangs ? 1 : 0;
}
