// canvas_tcl.cpp - Tcl commands that build canvases: font, image and
// canvas. Every option is checked on a copy before anything changes, so
// a command that fails leaves the scene as it was.
#include <math.h>
#include <string.h>

#include <cmath>
#include <string>
#include <vector>

#include "builder_internal.h"
#include "canvas_tcl.h"
#include "qvp_externs.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "tcl_args.h"

using namespace qvpc;
using namespace qvptcl;

namespace {

// A bit set: a list of words from NAMES (with their bits), or an int.
bool get_bits(Tcl_Interp *interp, Tcl_Obj *o, const std::vector<std::pair<const char *, int>> &names, int &v,
              const std::string &opt) {
    if (IntValue(o, v)) return true;
    std::vector<Tcl_Obj *> el;
    if (!List(interp, o, el, opt)) return false;
    int bits = 0;
    for (Tcl_Obj *w : el) {
        bool found = false;
        for (auto &nb : names)
            if (strcmp(Tcl_GetString(w), nb.first) == 0) {
                bits |= nb.second;
                found = true;
            }
        if (!found) {
            std::string valid;
            for (auto &nb : names) valid += std::string(valid.empty() ? "" : ", ") + nb.first;
            Fail(interp, "VALUE", opt + ": bad word \"" + Tcl_GetString(w) + "\": must be " + valid + " or an integer");
            return false;
        }
    }
    v = bits;
    return true;
}

// A word from NAMES, or an int.
bool get_word(Tcl_Interp *interp, Tcl_Obj *o, const std::vector<std::pair<const char *, int>> &names, int &v,
              const std::string &opt) {
    for (auto &nb : names)
        if (strcmp(Tcl_GetString(o), nb.first) == 0) {
            v = nb.second;
            return true;
        }
    if (IntValue(o, v)) return true;
    std::string valid;
    for (auto &nb : names) valid += std::string(valid.empty() ? "" : ", ") + nb.first;
    Fail(interp, "VALUE", opt + ": bad value \"" + Tcl_GetString(o) + "\": must be " + valid + " or an integer");
    return false;
}

bool get_coord(Tcl_Interp *interp, Tcl_Obj *o, QVP_CANVAS_COORD &c, const std::string &opt) {
    float f[2];
    if (!Floats(interp, o, 2, f, opt)) return false;
    c.x = f[0];
    c.y = f[1];
    return true;
}

const std::vector<std::pair<const char *, int>> kAnchorWords = {
    {"colstart", ANCHOR_COL_START}, {"colend", ANCHOR_COL_END}, {"rowstart", ANCHOR_ROW_START}, {"rowend", ANCHOR_ROW_END}};
const std::vector<std::pair<const char *, int>> kLockWords = {
    {"row", LOCK_ROW_AXIS}, {"col", LOCK_COL_AXIS}, {"screen", LOCK_SCREEN_SIZE}};
const std::vector<std::pair<const char *, int>> kLayerWords = {
    {"background", 0x200}, {"scene", 0x400}, {"foreground", 0x800}, {"none", 0}};
const std::vector<std::pair<const char *, int>> kScaleWords = {
    {"fixed", CANVAS_SCALE_FIXED}, {"height", CANVAS_SCALE_HEIGHT}, {"width", CANVAS_SCALE_WIDTH}, {"stretch", 1}};
const std::vector<std::pair<const char *, int>> kProjWords = {{"flat", PROJ_FLAT}, {"sphere", PROJ_SPHERE}};
const std::vector<std::pair<const char *, int>> kFlipWords = {{"col", 0x2}, {"row", 0x1}};

bool attached(Tcl_Interp *interp) {
    std::string err;
    if (Attach(err)) return true;
    Fail(interp, "SCENE", err);
    return false;
}

// The journal of this process's edits; set by QvpCanvasSetJournal.
QvpCanvasJournal g_journal = nullptr;
void *g_journal_data = nullptr;

// Ends a command that changed the scene: hands its words (and a new
// element's ID, else 0) to the journal; returns TCL_OK.
int changed(int objc, Tcl_Obj *const objv[], int id) {
    if (g_journal) g_journal(objc, objv, id, g_journal_data);
    return TCL_OK;
}

/* ---- font ---- */

int FontCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"create", "names", nullptr};
    static const char *const kOpts[] = {"-file", "-size", "-first", "-last", "-fallback", "-kerning", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "create|names ?arg ...?", which)) return TCL_ERROR;
    if (which == 1) {
        if (objc != 2) return WrongArgs(interp, 2, objv, nullptr);
        if (!attached(interp)) return TCL_ERROR;
        std::string err;
        if (!DefaultFont(err)) return Fail(interp, "FONT", "no default font: " + err);
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        Lock lock;
        QVP_WALK(QVP_CANVAS_FONTDEF, f, Info()->fonts)
            Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(f->name, -1));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    if (objc < 3)
        return WrongArgs(interp, 2, objv, "NAME ?-file PATH? ?-size PX? ?-first CODE? ?-last CODE? ?-fallback FONT? ?-kerning BOOL?");
    if (!Pairs(interp, objc, 3, objv)) return TCL_ERROR;
    FontDesc desc;
    desc.name = Tcl_GetString(objv[2]);
    for (int i = 3; i < objc; i += 2) {
        int k;
        if (!Option(interp, objv[i], kOpts, k)) return TCL_ERROR;
        std::string opt = kOpts[k];
        Tcl_Obj *v = objv[i + 1];
        int on = 1;
        switch (k) {  // kOpts' order
        case 0: desc.file = Tcl_GetString(v); break;
        case 1: if (!Int(interp, v, desc.pixels, opt)) return TCL_ERROR; break;
        case 2: if (!Int(interp, v, desc.first, opt)) return TCL_ERROR; break;
        case 3: if (!Int(interp, v, desc.last, opt)) return TCL_ERROR; break;
        case 4: desc.fallback = Tcl_GetString(v); break;
        default:
            if (!Bool(interp, v, on, opt)) return TCL_ERROR;
            desc.kerning = on != 0;
        }
    }
    if (!attached(interp)) return TCL_ERROR;
    std::string err;
    if (!CreateFont(desc, err)) return Fail(interp, "FONT", err);
    Tcl_SetObjResult(interp, objv[2]);
    return changed(objc, objv, 0);
}

/* ---- image ---- */

int ImageCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"create", "delete", "names", "size", nullptr};
    static const char *const kOpts[] = {"-file", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "create|delete|names|size ?arg ...?", which)) return TCL_ERROR;
    if (which == 2) {
        if (objc != 2) return WrongArgs(interp, 2, objv, nullptr);
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (const std::string &n : ImageNames()) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(n.c_str(), -1));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    if (which == 0) {
        int k;
        if (objc != 5) return WrongArgs(interp, 2, objv, "NAME -file PATH.png");
        if (!Option(interp, objv[3], kOpts, k)) return TCL_ERROR;
        if (!attached(interp)) return TCL_ERROR;
        std::string err;
        if (!LoadImage(Tcl_GetString(objv[2]), Tcl_GetString(objv[4]), err)) return Fail(interp, "IMAGE", err);
        Tcl_SetObjResult(interp, objv[2]);
        return changed(objc, objv, 0);
    }
    if (objc != 3) return WrongArgs(interp, 2, objv, "NAME");
    const Image *im = FindImage(Tcl_GetString(objv[2]));
    if (!im) return Fail(interp, "NOTFOUND", std::string("unknown image \"") + Tcl_GetString(objv[2]) + "\"");
    if (which == 1) {
        std::string err;
        if (!DeleteImage(im->name, err)) return Fail(interp, "BUSY", err);
        return changed(objc, objv, 0);
    }
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(im->w));
    Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(im->h));
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

/* ---- canvas options ---- */

const char *const kCanvasOptions[] = {"-layer", "-node", "-mapping", "-org",   "-colvec", "-rowvec", "-cols",
                                     "-rows",  "-anchor", "-lock",  "-size", "-scale",  "-bg",     "-gain",
                                     "-opacity", "-proj", "-radius", "-parent", "-exclude", nullptr};
// The indexes of kCanvasOptions, in its order.
enum CanvasOption {
    kCLayer, kCNode, kCMapping, kCOrg, kCColvec, kCRowvec, kCCols, kCRows, kCAnchor, kCLock,
    kCSize, kCScale, kCBg, kCGain, kCOpacity, kCProj, kCRadius, kCParent, kCExclude
};
static_assert(sizeof kCanvasOptions / sizeof kCanvasOptions[0] == kCExclude + 2, "one id per canvas option");

// Where parse_canvas found a canvas placed: PLACED when an option set
// the placement, WAIT the node it names that this scene lacks (empty
// when none).
struct Placement {
    bool placed = false;
    std::string wait;
};

int parse_canvas(Tcl_Interp *interp, QVP_CANVAS &c, int objc, Tcl_Obj *const objv[], int first, bool &set_exclude,
                 std::vector<QVS_VIEWPORT *> &exclude, const QVP_CANVAS *self, Placement &where) {
    if (!Pairs(interp, objc, first, objv)) return TCL_ERROR;
    for (int i = first; i < objc; i += 2) {
        int k;
        if (!Option(interp, objv[i], kCanvasOptions, k)) return TCL_ERROR;
        std::string opt = kCanvasOptions[k];
        Tcl_Obj *v = objv[i + 1];
        std::string sv = Tcl_GetString(v);
        double d[3];
        switch (k) {
        case kCLayer:
            if (!get_word(interp, v, kLayerWords, c.draw_layer, opt)) return TCL_ERROR;
            break;
        case kCNode: {
            where.placed = true;
            where.wait.clear();
            if (sv.empty()) { c.disp.id = CANVAS_ID_WORLD; continue; }
            int id = QVF_GetNodeID(sv.c_str());
            // A node the scene does not have yet: the canvas waits for it.
            if (id < 0) {
                if (sv.size() > 255) return Fail(interp, "VALUE", "-node names have at most 255 characters");
                where.wait = sv;
                c.disp.id = CANVAS_ID_WORLD;
                continue;
            }
            c.disp.id = id;
            break;
        }
        case kCMapping:
            where.placed = true;
            where.wait.clear();
            if (sv.empty()) { c.disp.id = CANVAS_ID_WORLD; continue; }
            if (sv.size() >= sizeof c.disp.mapping) return Fail(interp, "VALUE", "-mapping names have at most 79 characters");
            snprintf(c.disp.mapping, sizeof c.disp.mapping, "%s", sv.c_str());
            c.disp.id = CANVAS_ID_MAPPED;
            break;
        case kCOrg:
        case kCColvec:
        case kCRowvec: {
            if (!Doubles(interp, v, 3, d, opt)) return TCL_ERROR;
            double *dst = k == kCOrg ? c.disp.org : k == kCColvec ? c.disp.col_vec : c.disp.row_vec;
            for (int j = 0; j < 3; j++) dst[j] = d[j];
            break;
        }
        case kCCols:
        case kCRows: {
            float f;
            if (!Float(interp, v, f, opt)) return TCL_ERROR;
            if (f <= 0) return Fail(interp, "VALUE", opt + " must be positive");
            (k == kCCols ? c.disp.ncols : c.disp.nrows) = f;
            break;
        }
        case kCAnchor:
            if (!get_bits(interp, v, kAnchorWords, c.anchor, opt)) return TCL_ERROR;
            break;
        case kCLock:
            if (!get_bits(interp, v, kLockWords, c.disp.locked, opt)) return TCL_ERROR;
            break;
        case kCSize:
            if (!Float(interp, v, c.size, opt)) return TCL_ERROR;
            break;
        case kCScale:
            if (!get_word(interp, v, kScaleWords, c.scale, opt)) return TCL_ERROR;
            break;
        case kCBg:
            if (!Color(interp, v, c.bcol, opt, true)) return TCL_ERROR;
            break;
        case kCGain: {
            float g[3];
            if (!Floats(interp, v, 3, g, opt)) return TCL_ERROR;
            for (int j = 0; j < 3; j++) {
                if (g[j] < 0) return Fail(interp, "VALUE", "-gain factors must not be negative");
                c.rgb_gain[j] = g[j];
            }
            break;
        }
        case kCOpacity:
            if (!Double(interp, v, d[0], opt)) return TCL_ERROR;
            if (d[0] < 0 || d[0] > 1) return Fail(interp, "VALUE", "-opacity runs from 0 to 1");
            c.opacity = (float)d[0];
            break;
        case kCProj:
            if (!get_word(interp, v, kProjWords, c.disp.proj, opt)) return TCL_ERROR;
            break;
        case kCRadius:
            if (!Double(interp, v, c.disp.radius, opt)) return TCL_ERROR;
            break;
        case kCParent: {
            if (sv.empty()) { c.parent = nullptr; continue; }
            QVP_CANVAS *p = FindCanvas(sv);
            if (!p) return Fail(interp, "NOTFOUND", "unknown canvas \"" + sv + "\"");
            if (p == self) return Fail(interp, "VALUE", "a canvas cannot be its own parent");
            c.parent = p;
            break;
        }
        case kCExclude: {
            std::vector<Tcl_Obj *> el;
            if (!List(interp, v, el, opt)) return TCL_ERROR;
            exclude.clear();
            for (Tcl_Obj *o : el) {
                QVS_VIEWPORT *vp = QVH_FindViewport(Tcl_GetString(o));
                if (!vp) return Fail(interp, "NOTFOUND", std::string("unknown viewport \"") + Tcl_GetString(o) + "\"");
                exclude.push_back(vp);
            }
            set_exclude = true;
            break;
        }
        }
    }
    return TCL_OK;
}

Tcl_Obj *color_obj(const float c[3]) {
    if (c[0] < 0) return Tcl_NewStringObj("none", -1);
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < 3; i++) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewDoubleObj(c[i]));
    return l;
}

Tcl_Obj *vec_obj(const double *v, int n) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewDoubleObj(v[i]));
    return l;
}

Tcl_Obj *canvas_options(const QVP_CANVAS *c) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    auto add = [&](const char *k, Tcl_Obj *v) {
        Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(k, -1));
        Tcl_ListObjAppendElement(nullptr, l, v);
    };
    // A canvas waiting for its node answers with the node and layer it waits for.
    std::string wait_node;
    int wait_layer = 0;
    bool waits = WaitingFor(c, wait_node, wait_layer);
    int shown_layer = waits ? wait_layer : c->draw_layer;
    const char *layer = nullptr;
    for (auto &w : kLayerWords)
        if (w.second == shown_layer) layer = w.first;
    add("-layer", layer ? Tcl_NewStringObj(layer, -1) : Tcl_NewIntObj(shown_layer));
    QVS_NODE *n = c->disp.id >= 0 ? QVH_GetNode(c->disp.id) : nullptr;
    add("-node", Tcl_NewStringObj(waits ? wait_node.c_str() : n ? n->name : "", -1));
    add("-mapping", Tcl_NewStringObj(c->disp.id == CANVAS_ID_MAPPED ? c->disp.mapping : "", -1));
    add("-org", vec_obj(c->disp.org, 3));
    add("-colvec", vec_obj(c->disp.col_vec, 3));
    add("-rowvec", vec_obj(c->disp.row_vec, 3));
    add("-cols", Tcl_NewDoubleObj(c->disp.ncols));
    add("-rows", Tcl_NewDoubleObj(c->disp.nrows));
    add("-anchor", Tcl_NewIntObj(c->anchor));
    add("-lock", Tcl_NewIntObj(c->disp.locked));
    add("-size", Tcl_NewDoubleObj(c->size));
    add("-scale", Tcl_NewIntObj(c->scale));
    add("-bg", color_obj(c->bcol));
    double gain[3] = {c->rgb_gain[0], c->rgb_gain[1], c->rgb_gain[2]};
    add("-gain", vec_obj(gain, 3));
    add("-opacity", Tcl_NewDoubleObj(c->opacity));
    add("-proj", Tcl_NewIntObj(c->disp.proj));
    add("-radius", Tcl_NewDoubleObj(c->disp.radius));
    add("-parent", Tcl_NewStringObj(c->parent ? c->parent->name : "", -1));
    Tcl_Obj *ex = Tcl_NewListObj(0, nullptr);
    for (const std::string &name : ExcludedViewports(c)) Tcl_ListObjAppendElement(nullptr, ex, Tcl_NewStringObj(name.c_str(), -1));
    add("-exclude", ex);
    return l;
}

/* ---- element options ---- */

struct TypeName {
    const char *name;
    int type;
};
const TypeName kTypes[] = {{"text", ELEMENT_TEXT},       {"line", ELEMENT_LINE},   {"rect", ELEMENT_RECTANGLE},
                           {"circle", ELEMENT_CIRCLE},   {"arc", ELEMENT_ARC},     {"polygon", ELEMENT_POLYGON},
                           {"image", ELEMENT_IMAGE},     {"video", ELEMENT_VIDEO}, {"canvas", ELEMENT_CANVAS},
                           {"node", ELEMENT_NODE}};

const char *type_name(int type) {
    for (auto &t : kTypes)
        if (t.type == type) return t.name;
    return "unknown";
}

// Reads the coordinates of TYPE from OBJV[*I...], advancing *I.
int parse_coords(Tcl_Interp *interp, ElementDesc &s, int objc, Tcl_Obj *const objv[], int &i) {
    QVP_CANVAS_ELEMENT &r = s.rec;
    auto need = [&](int n, const char *form) {
        if (i + n > objc) {
            Fail(interp, "USAGE", std::string(type_name(r.type)) + " wants coordinates " + form);
            return false;
        }
        for (int k = 0; k < n; k++) {
            const char *w = Tcl_GetString(objv[i + k]);
            double d;
            // A word like -inf or -1e3 is a (bad or good) number, not an option.
            bool number = Tcl_GetDoubleFromObj(nullptr, objv[i + k], &d) == TCL_OK;
            if (!number && w[0] == '-' && (w[1] < '0' || w[1] > '9') && w[1] != '.') {
                Fail(interp, "USAGE", std::string(type_name(r.type)) + " wants coordinates " + form);
                return false;
            }
        }
        return true;
    };
    auto num = [&](int k, float &out) {
        return Float(interp, objv[i + k], out, std::string(type_name(r.type)) + " coordinate");
    };
    auto box = [&](QVP_CANVAS_COORD *c) {
        if (!need(4, "X0 Y0 X1 Y1")) return false;
        if (!num(0, c[0].x) || !num(1, c[0].y) || !num(2, c[1].x) || !num(3, c[1].y)) return false;
        i += 4;
        return true;
    };
    switch (r.type) {
    case ELEMENT_TEXT:
        if (!need(2, "COL ROW") || !num(0, r.data.text.col) || !num(1, r.data.text.row)) return TCL_ERROR;
        i += 2;
        return TCL_OK;
    case ELEMENT_RECTANGLE: return box(r.data.rect.corners) ? TCL_OK : TCL_ERROR;
    case ELEMENT_ARC: return box(r.data.arc.corners) ? TCL_OK : TCL_ERROR;
    case ELEMENT_IMAGE: return box(r.data.imag.corners) ? TCL_OK : TCL_ERROR;
    case ELEMENT_VIDEO: return box(r.data.video.corners) ? TCL_OK : TCL_ERROR;
    case ELEMENT_CIRCLE:
        if (!need(3, "CX CY R") || !num(0, r.data.circ.cen.x) || !num(1, r.data.circ.cen.y) || !num(2, r.data.circ.rad))
            return TCL_ERROR;
        i += 3;
        return TCL_OK;
    case ELEMENT_LINE:
    case ELEMENT_POLYGON: {
        if (!need(1, "{X Y X Y ...}")) return TCL_ERROR;
        std::vector<Tcl_Obj *> el;
        if (!List(interp, objv[i], el, "points")) return TCL_ERROR;
        if (el.size() % 2) return Fail(interp, "VALUE", "points come in pairs: {X Y X Y ...}");
        s.points.clear();
        for (size_t k = 0; k < el.size(); k += 2) {
            float x, y;
            if (!Float(interp, el[k], x, "point") || !Float(interp, el[k + 1], y, "point")) return TCL_ERROR;
            s.points.push_back(QVP_CANVAS_COORD{x, y});
        }
        i += 1;
        return TCL_OK;
    }
    case ELEMENT_NODE: {
        if (!need(1, "NODENAME")) return TCL_ERROR;
        int id = QVF_GetNodeID(Tcl_GetString(objv[i]));
        if (id < 0) return Fail(interp, "NOTFOUND", std::string("unknown node \"") + Tcl_GetString(objv[i]) + "\"");
        r.data.node = id;
        i += 1;
        return TCL_OK;
    }
    default: return TCL_OK;
    }
}

// Element options and the element types (bits of their type codes, text
// as bit 0x200) each applies to.
const int kTextBit = 0x200;
const int kAllTypes = 0x3ff;
const int kNotText = kAllTypes & ~kTextBit;
struct ElementOption {
    const char *name;
    int types;
};
const ElementOption kElementOptions[] = {
    {"-fill", kAllTypes},       {"-outline", kNotText},      {"-bg", kTextBit},
    {"-opacity", kAllTypes},    {"-scale", kAllTypes},       {"-offset", kAllTypes},
    {"-width", kAllTypes},      {"-hidden", kAllTypes},      {"-text", kTextBit},
    {"-font", kTextBit},        {"-anchor", kTextBit},       {"-size", kTextBit | ELEMENT_VIDEO},
    {"-smooth", kTextBit},      {"-start", ELEMENT_ARC},     {"-end", ELEMENT_ARC},
    {"-image", ELEMENT_IMAGE},  {"-flip", ELEMENT_IMAGE | ELEMENT_VIDEO},
    {"-file", ELEMENT_VIDEO},   {"-pattern", ELEMENT_VIDEO}, {"-fps", ELEMENT_VIDEO},
    {"-loop", ELEMENT_VIDEO},   {"-paused", ELEMENT_VIDEO},  {"-rate", ELEMENT_VIDEO},
    {"-position", ELEMENT_VIDEO}, {"-duration", ELEMENT_VIDEO}, {"-canvas", ELEMENT_CANVAS},
};

int type_bit(int type) { return type == ELEMENT_TEXT ? kTextBit : type; }

// The indexes of kElementOptions, in its order.
enum ElementOptionId {
    kEFill, kEOutline, kEBg, kEOpacity, kEScale, kEOffset, kEWidth, kEHidden, kEText, kEFont, kEAnchor, kESize, kESmooth,
    kEStart, kEEnd, kEImage, kEFlip, kEFile, kEPattern, kEFps, kELoop, kEPaused, kERate, kEPosition, kEDuration, kECanvas
};

static_assert(sizeof kElementOptions / sizeof kElementOptions[0] == kECanvas + 1, "one id per element option");

// The index in kElementOptions of option NAME, a pointer from one of the
// tables options_of makes.
int element_option_id(const char *name) {
    for (size_t i = 0; i < sizeof kElementOptions / sizeof kElementOptions[0]; i++)
        if (kElementOptions[i].name == name) return (int)i;
    return -1;
}

// The null-terminated names of the options elements of TYPE take; made
// on first use per type (by its bit's place, 0..9), kept for
// Tcl_GetIndexFromObj.
const char *const *options_of(int type) {
    static std::vector<const char *> tables[10];
    int slot = 0;
    for (int b = type_bit(type); b > 1; b >>= 1) slot++;
    std::vector<const char *> &t = tables[slot];
    if (t.empty()) {
        for (const ElementOption &o : kElementOptions)
            if (o.types & type_bit(type)) t.push_back(o.name);
        t.push_back(nullptr);
    }
    return t.data();
}

// Looks WORD up among the options of elements of TYPE, setting K to its
// index in options_of(TYPE); an option of another type is refused as
// such, an unknown one with the options of TYPE.
bool element_option(Tcl_Interp *interp, Tcl_Obj *word, int type, int &k) {
    const char *w = Tcl_GetString(word);
    for (const ElementOption &o : kElementOptions)
        if (strcmp(w, o.name) == 0 && !(o.types & type_bit(type))) {
            Fail(interp, "OPTION", std::string("option \"") + w + "\" does not apply to " + type_name(type) + " elements");
            return false;
        }
    return Option(interp, word, options_of(type), k);
}

// Reads element options from OBJV[FIRST...] into S, and a video's
// transport options into PLAY. SOURCE, when given, is set to 1 by -file
// and 2 by -pattern 1 (a video names its source). TRANSPORT_ONLY, when
// given, says whether every option was a transport option.
int parse_element(Tcl_Interp *interp, ElementDesc &s, int objc, Tcl_Obj *const objv[], int first, PlayEdit &play,
                  int *source = nullptr, bool *transport_only = nullptr) {
    if (transport_only) *transport_only = true;
    if (!Pairs(interp, objc, first, objv)) return TCL_ERROR;
    QVP_CANVAS_ELEMENT &r = s.rec;
    for (int i = first; i < objc; i += 2) {
        int k;
        const char *const *table = options_of(r.type);
        if (!element_option(interp, objv[i], r.type, k)) return TCL_ERROR;
        std::string opt = table[k];
        int id = element_option_id(table[k]);
        Tcl_Obj *v = objv[i + 1];
        std::string sv = Tcl_GetString(v);
        double d[2];
        int t = r.type;
        bool transport = id == kEPaused || id == kERate || id == kEPosition;
        if (transport_only && !transport) *transport_only = false;
        switch (id) {
        case kEFill: {
            if (!Color(interp, v, r.fcol, opt, true)) return TCL_ERROR;
            break;
        }
        case kEOutline:
        case kEBg: {
            if (!Color(interp, v, r.bcol, opt, true)) return TCL_ERROR;
            break;
        }
        case kEOpacity: {
            if (!Double(interp, v, d[0], opt)) return TCL_ERROR;
            if (d[0] < 0 || d[0] > 1) return Fail(interp, "VALUE", "-opacity runs from 0 to 1");
            r.opacity = (float)d[0];
            break;
        }
        case kEScale: {
            if (!get_coord(interp, v, r.scale, opt)) return TCL_ERROR;
            break;
        }
        case kEOffset: {
            if (!get_coord(interp, v, r.offset, opt)) return TCL_ERROR;
            break;
        }
        case kEWidth: {
            if (!Float(interp, v, r.line_width, opt)) return TCL_ERROR;
            if (r.line_width < 0) return Fail(interp, "VALUE", "-width must not be negative");
            break;
        }
        case kEHidden: {
            int b;
            if (!Bool(interp, v, b, opt)) return TCL_ERROR;
            r.attrib = b ? (r.attrib | ATTRIB_HIDDEN) : (r.attrib & ~ATTRIB_HIDDEN);
            break;
        }
        case kEText: {
            s.text = sv;
            break;
        }
        case kEFont: {
            QVP_CANVAS_FONTDEF *f = FindFont(sv);
            if (!f) return Fail(interp, "NOTFOUND", "unknown font \"" + sv + "\"");
            r.data.text.pfont = f;
            break;
        }
        case kEAnchor: {
            if (!get_bits(interp, v, kAnchorWords, r.data.text.anchor, opt)) return TCL_ERROR;
            break;
        }
        case kESize:
            if (t == ELEMENT_TEXT) {
                float f[2];
                if (!Floats(interp, v, 2, f, opt)) return TCL_ERROR;
                r.data.text.col_s = f[0];
                r.data.text.row_s = f[1];
            } else {
                int w, h;
                std::vector<Tcl_Obj *> el;
                if (!List(interp, v, el, opt) || el.size() != 2) return Fail(interp, "VALUE", "-size wants {w h}");
                if (!Int(interp, el[0], w, opt) || !Int(interp, el[1], h, opt)) return TCL_ERROR;
                if (w < 1 || h < 1) return Fail(interp, "VALUE", "-size must be positive");
                s.video.w = w;
                s.video.h = h;
            }
            break;
        case kESmooth: {
            int b;
            if (!Bool(interp, v, b, opt)) return TCL_ERROR;
            r.data.text.smooth = b;
            break;
        }
        case kEStart:
        case kEEnd: {
            if (!Float(interp, v, id == kEStart ? r.data.arc.start_ang : r.data.arc.end_ang, opt))
                return TCL_ERROR;
            break;
        }
        case kEImage: {
            const Image *im = FindImage(sv);
            if (!im) return Fail(interp, "NOTFOUND", "unknown image \"" + sv + "\"");
            QVP_CANVAS_IMAGE &m = r.data.imag;
            if (im->file.size() >= sizeof m.name) return Fail(interp, "VALUE", "image file name too long");
            snprintf(m.name, sizeof m.name, "%s", im->file.c_str());
            m.w = m.tw = im->w;
            m.h = m.th = im->h;
            m.data = m.tdata = im->rgba;
            break;
        }
        case kEFlip: {
            int bits;
            if (!get_bits(interp, v, kFlipWords, bits, opt)) return TCL_ERROR;
            (t == ELEMENT_IMAGE ? r.data.imag.flip_axis : r.data.video.flip_axis) = bits;
            break;
        }
        case kEFile: {
            if (sv.empty()) return Fail(interp, "VALUE", "-file wants a path");
            s.video.file = sv;
            if (source) *source = 1;
            break;
        }
        case kEPattern: {
            int b;
            if (!Bool(interp, v, b, opt)) return TCL_ERROR;
            if (b) s.video.file.clear();
            if (source) *source = b ? 2 : *source;
            break;
        }
        case kEFps: {
            if (!Double(interp, v, d[0], opt)) return TCL_ERROR;
            if (!(d[0] >= 0 && d[0] <= 1000))
                return Fail(interp, "VALUE", "-fps runs from 0 (the file's own timing) up to 1000");
            s.video.fps = d[0];
            break;
        }
        case kEPaused: {
            int b;
            if (!Bool(interp, v, b, opt)) return TCL_ERROR;
            play.paused = b != 0;
            break;
        }
        case kERate: {
            if (!Double(interp, v, d[0], opt)) return TCL_ERROR;
            if (!(d[0] > 0 && d[0] <= 16)) return Fail(interp, "VALUE", "-rate runs above 0 up to 16");
            play.rate = d[0];
            break;
        }
        case kEPosition: {
            if (!Double(interp, v, d[0], opt)) return TCL_ERROR;
            if (!(std::isfinite(d[0]) && d[0] >= 0)) return Fail(interp, "VALUE", "-position wants seconds from 0 on");
            play.position = d[0];
            break;
        }
        case kEDuration: {
            return Fail(interp, "READONLY", "option \"-duration\" is read-only");
            break;
        }
        case kELoop: {
            int b;
            if (!Bool(interp, v, b, opt)) return TCL_ERROR;
            s.video.loop = b != 0;
            break;
        }
        case kECanvas: {
            QVP_CANVAS *c = FindCanvas(sv);
            if (!c) return Fail(interp, "NOTFOUND", "unknown canvas \"" + sv + "\"");
            r.data.can = c;
            break;
        }
        }
    }
    if (r.type == ELEMENT_IMAGE && !r.data.imag.tdata) return Fail(interp, "USAGE", "image elements need -image NAME");
    if (r.type == ELEMENT_CANVAS && !r.data.can) return Fail(interp, "USAGE", "canvas elements need -canvas CHILD");
    return TCL_OK;
}

/* ---- canvas ---- */

QVP_CANVAS *find_canvas(Tcl_Interp *interp, Tcl_Obj *name) {
    QVP_CANVAS *c = FindCanvas(Tcl_GetString(name));
    if (!c) Fail(interp, "NOTFOUND", std::string("unknown canvas \"") + Tcl_GetString(name) + "\"");
    return c;
}

QVP_CANVAS_ELEMENT *find_element(Tcl_Interp *interp, QVP_CANVAS *c, Tcl_Obj *id_obj) {
    int id;
    if (!IntValue(id_obj, id)) {
        Fail(interp, "VALUE", std::string("bad element id \"") + Tcl_GetString(id_obj) + "\"");
        return nullptr;
    }
    QVP_CANVAS_ELEMENT *e = FindElement(c, id);
    if (!e) Fail(interp, "NOTFOUND", "canvas \"" + std::string(c->name) + "\" has no element " + std::to_string(id));
    return e;
}

// The options of element E as a flat list of names and values, in the
// order the element's type takes them. The caller holds the canvas lock.
Tcl_Obj *element_options(const QVP_CANVAS_ELEMENT *e) {
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    auto add = [&](const char *k, Tcl_Obj *v) {
        Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(k, -1));
        Tcl_ListObjAppendElement(nullptr, l, v);
    };
    auto pair = [](double a, double b) {
        double v[2] = {a, b};
        return vec_obj(v, 2);
    };
    const int t = e->type;
    add("-fill", color_obj(e->fcol));
    add(t == ELEMENT_TEXT ? "-bg" : "-outline", color_obj(e->bcol));
    add("-opacity", Tcl_NewDoubleObj(e->opacity));
    add("-scale", pair(e->scale.x, e->scale.y));
    add("-offset", pair(e->offset.x, e->offset.y));
    add("-width", Tcl_NewDoubleObj(e->line_width));
    add("-hidden", Tcl_NewIntObj(e->attrib & ATTRIB_HIDDEN ? 1 : 0));
    if (t == ELEMENT_TEXT) {
        const QVP_CANVAS_TEXT &x = e->data.text;
        add("-text", Tcl_NewStringObj(DescOf(e).text.c_str(), -1));
        add("-font", Tcl_NewStringObj(x.pfont ? x.pfont->name : "", -1));
        add("-anchor", Tcl_NewIntObj(x.anchor));
        add("-size", pair(x.col_s, x.row_s));
        add("-smooth", Tcl_NewIntObj(x.smooth ? 1 : 0));
    } else if (t == ELEMENT_ARC) {
        add("-start", Tcl_NewDoubleObj(e->data.arc.start_ang));
        add("-end", Tcl_NewDoubleObj(e->data.arc.end_ang));
    } else if (t == ELEMENT_IMAGE) {
        const Image *im = FindImageByPixels(e->data.imag.tdata);
        add("-image", Tcl_NewStringObj(im ? im->name.c_str() : "", -1));
        add("-flip", Tcl_NewIntObj(e->data.imag.flip_axis));
    } else if (t == ELEMENT_VIDEO) {
        VideoStatus st;
        bool known = GetVideoStatus(e, st);
        add("-flip", Tcl_NewIntObj(e->data.video.flip_axis));
        add("-file", Tcl_NewStringObj(st.src.file.c_str(), -1));
        add("-pattern", Tcl_NewIntObj(st.src.file.empty() ? 1 : 0));
        add("-size", pair(e->data.video.w, e->data.video.h));
        add("-fps", Tcl_NewDoubleObj(st.src.fps));
        add("-loop", Tcl_NewIntObj(st.src.loop ? 1 : 0));
        add("-paused", Tcl_NewIntObj(known && st.play.paused ? 1 : 0));
        add("-rate", Tcl_NewDoubleObj(known ? st.play.rate : 1));
        add("-position", Tcl_NewDoubleObj(known ? st.position : 0));
        add("-duration", Tcl_NewDoubleObj(known ? st.duration : 0));
    } else if (t == ELEMENT_CANVAS) {
        const QVP_CANVAS *child = (const QVP_CANVAS *)e->data.can;
        add("-canvas", Tcl_NewStringObj(child ? child->name : "", -1));
    }
    return l;
}

// Sets the result to the value of OPT in the flat option list L (which
// it frees when unused); an option missing from L is an error.
int option_value(Tcl_Interp *interp, Tcl_Obj *l, const char *opt) {
    Tcl_IncrRefCount(l);
    int n = 0;
    Tcl_Obj **kv = nullptr;
    Tcl_ListObjGetElements(nullptr, l, &n, &kv);
    for (int i = 0; i + 1 < n; i += 2)
        if (strcmp(Tcl_GetString(kv[i]), opt) == 0) {
            Tcl_SetObjResult(interp, kv[i + 1]);
            Tcl_DecrRefCount(l);
            return TCL_OK;
        }
    Tcl_DecrRefCount(l);
    return Fail(interp, "OPTION", std::string("no value for option \"") + opt + "\"");
}

int CanvasCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    enum { kAdd, kCget, kConfigure, kCreate, kDelete, kItemcget, kItemconfigure, kItemdelete, kItems, kNames, kType };
    static const char *const kSubs[] = {"add",      "cget",          "configure",  "create", "delete", "itemcget",
                                        "itemconfigure", "itemdelete", "items",  "names",  "type",   nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "subcommand ?arg ...?", which)) return TCL_ERROR;
    if (which == kNames && objc != 2) return WrongArgs(interp, 2, objv, nullptr);
    PlaceWaitingCanvases();
    if (which != kNames && objc < 3) return WrongArgs(interp, 2, objv, "NAME ?arg ...?");
    if (!attached(interp)) return TCL_ERROR;
    std::string err;
    if (which == kNames) {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (QVP_CANVAS *c : Canvases()) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(c->name, -1));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    if (which == kCreate) {
        QVP_CANVAS desc;
        DefaultCanvas(desc);
        std::string name = Tcl_GetString(objv[2]);
        if (name.empty() || name.size() >= sizeof desc.name) return Fail(interp, "VALUE", "canvas names have 1 to 119 characters");
        if (FindCanvas(name)) return Fail(interp, "EXISTS", "canvas \"" + name + "\" already exists");
        snprintf(desc.name, sizeof desc.name, "%s", name.c_str());
        bool set_ex = false;
        std::vector<QVS_VIEWPORT *> ex;
        Placement where;
        if (parse_canvas(interp, desc, objc, objv, 3, set_ex, ex, nullptr, where) != TCL_OK) return TCL_ERROR;
        QVP_CANVAS *made = CreateCanvas(desc, ex, err);
        if (!made) return Fail(interp, "CANVAS", err);
        if (!where.wait.empty() && !WaitForNode(made, where.wait, desc.draw_layer, err)) {
            std::string ignored;
            DeleteCanvas(made, ignored);
            return Fail(interp, "CANVAS", err);
        }
        Tcl_SetObjResult(interp, objv[2]);
        return changed(objc, objv, 0);
    }
    if ((which == kDelete || which == kItems) && objc != 3) return WrongArgs(interp, 2, objv, "NAME");
    if (which == kAdd && objc < 4) return WrongArgs(interp, 2, objv, "NAME TYPE COORDS... ?option value ...?");
    if (which == kType && objc != 4) return WrongArgs(interp, 2, objv, "NAME ID");
    if (which == kItemdelete && objc != 4) return WrongArgs(interp, 2, objv, "NAME ID");
    if (which == kItemconfigure && objc < 4) return WrongArgs(interp, 2, objv, "NAME ID ?option value ...?");
    if (which == kCget && objc != 4) return WrongArgs(interp, 2, objv, "NAME OPTION");
    if (which == kItemcget && objc != 5) return WrongArgs(interp, 2, objv, "NAME ID OPTION");
    QVP_CANVAS *c = find_canvas(interp, objv[2]);
    if (!c) return TCL_ERROR;
    switch (which) {
    case kCget: {
        int k;
        if (!Option(interp, objv[3], kCanvasOptions, k)) return TCL_ERROR;
        Lock lock;
        return option_value(interp, canvas_options(c), kCanvasOptions[k]);
    }
    case kConfigure: {
        if (objc == 3) {
            Lock lock;
            Tcl_SetObjResult(interp, canvas_options(c));
            return TCL_OK;
        }
        QVP_CANVAS desc;
        {
            Lock lock;
            desc = *c;
        }
        // A waiting canvas keeps waiting unless the placement is given
        // again, and its layer is the one it waits to be drawn in.
        Placement where;
        int wait_layer = 0;
        if (WaitingFor(c, where.wait, wait_layer)) desc.draw_layer = wait_layer;
        bool set_ex = false;
        std::vector<QVS_VIEWPORT *> ex;
        if (parse_canvas(interp, desc, objc, objv, 3, set_ex, ex, c, where) != TCL_OK) return TCL_ERROR;
        if (!where.wait.empty()) {
            int layer = desc.draw_layer;
            desc.draw_layer = 0;
            desc.disp.id = CANVAS_ID_WORLD;
            if (!ConfigureCanvas(c, desc, set_ex, ex, err) || !WaitForNode(c, where.wait, layer, err))
                return Fail(interp, "CANVAS", err);
            return changed(objc, objv, 0);
        }
        if (!ConfigureCanvas(c, desc, set_ex, ex, err)) return Fail(interp, "CANVAS", err);
        StopWaiting(c);
        return changed(objc, objv, 0);
    }
    case kDelete:
        if (!DeleteCanvas(c, err)) return Fail(interp, "BUSY", err);
        return changed(objc, objv, 0);
    case kAdd: {
        static const char *const kTypeNames[] = {"text",  "line",  "rect",   "circle", "arc", "polygon",
                                                 "image", "video", "canvas", "node",   nullptr};
        int k;
        if (Tcl_GetIndexFromObj(interp, objv[3], kTypeNames, "element type", TCL_EXACT, &k) != TCL_OK) return TCL_ERROR;
        int type = kTypes[k].type;
        ElementDesc desc;
        DefaultElement(desc, type);
        if (type == ELEMENT_TEXT && !desc.rec.data.text.pfont) {
            std::string ferr;
            DefaultFont(ferr);
            return Fail(interp, "FONT", "no default font: " + ferr);
        }
        int i = 4, source = 0;
        if (parse_coords(interp, desc, objc, objv, i) != TCL_OK) return TCL_ERROR;
        // "-id N" asks for the element's id (a mirror keeps the ids its
        // publisher's elements got); the other options are the type's.
        std::vector<Tcl_Obj *> words(objv, objv + i);
        int want_id = 0;
        for (int k = i; k < objc; k += 2) {
            if (k + 1 < objc && strcmp(Tcl_GetString(objv[k]), "-id") == 0) {
                if (!Int(interp, objv[k + 1], want_id, "-id")) return TCL_ERROR;
                if (want_id < 1) return Fail(interp, "VALUE", "-id must be positive");
                continue;
            }
            words.push_back(objv[k]);
            if (k + 1 < objc) words.push_back(objv[k + 1]);
        }
        PlayEdit play;
        if (parse_element(interp, desc, (int)words.size(), words.data(), i, play, &source) != TCL_OK) return TCL_ERROR;
        if (type == ELEMENT_VIDEO && source == 0)
            return Fail(interp, "USAGE", "video elements need -file PATH or -pattern 1");
        QVP_CANVAS_ELEMENT *e = AddElement(c, desc, err, want_id);
        if (!e) return Fail(interp, "ELEMENT", err);
        // A clip added paused, fast or part-way in starts that way.
        if (type == ELEMENT_VIDEO && (play.paused >= 0 || play.rate > 0 || !std::isnan(play.position)) &&
            !EditVideoPlay(c, e, play, err)) {
            std::string ignored;
            DeleteElement(c, e, ignored);
            return Fail(interp, "ELEMENT", err);
        }
        Tcl_SetObjResult(interp, Tcl_NewIntObj(e->id));
        return changed(objc, objv, e->id);
    }
    case kItems: {
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        Lock lock;
        QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(e->id));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    default: break;
    }
    QVP_CANVAS_ELEMENT *e = find_element(interp, c, objv[3]);
    if (!e) return TCL_ERROR;
    if (which == kType) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(type_name(e->type), -1));
        return TCL_OK;
    }
    if (which == kItemcget) {
        int k;
        const char *const *table = options_of(e->type);
        if (!element_option(interp, objv[4], e->type, k)) return TCL_ERROR;
        Lock lock;
        return option_value(interp, element_options(e), table[k]);
    }
    if (which == kItemdelete) {
        if (!DeleteElement(c, e, err)) return Fail(interp, "ELEMENT", err);
        return changed(objc, objv, 0);
    }
    if (objc == 4) {
        Lock lock;
        Tcl_SetObjResult(interp, element_options(e));
        return TCL_OK;
    }
    ElementDesc desc;
    {
        Lock lock;
        desc = DescOf(e);
    }
    // "-play {POSITION AT RATE PAUSED}" sets a clip's whole play state:
    // a mirror replays its publisher's exactly.
    std::vector<Tcl_Obj *> words(objv, objv + 4);
    PlayState exact;
    bool has_exact = false;
    for (int k = 4; k < objc; k += 2) {
        if (k + 1 < objc && e->type == ELEMENT_VIDEO && strcmp(Tcl_GetString(objv[k]), "-play") == 0) {
            std::vector<Tcl_Obj *> el;
            double d[3];
            int paused;
            if (!List(interp, objv[k + 1], el, "-play")) return TCL_ERROR;
            if (el.size() != 4 || !Double(interp, el[0], d[0], "-play") || !Double(interp, el[1], d[1], "-play") ||
                !Double(interp, el[2], d[2], "-play") || !Bool(interp, el[3], paused, "-play"))
                return Fail(interp, "VALUE", "-play wants {POSITION AT RATE PAUSED}");
            exact.position = d[0];
            exact.at = d[1];
            exact.rate = d[2];
            exact.paused = paused != 0;
            has_exact = true;
            continue;
        }
        words.push_back(objv[k]);
        if (k + 1 < objc) words.push_back(objv[k + 1]);
    }
    PlayEdit play;
    bool transport_only = true;
    if ((int)words.size() > 4 &&
        parse_element(interp, desc, (int)words.size(), words.data(), 4, play, nullptr, &transport_only) != TCL_OK)
        return TCL_ERROR;
    if (has_exact) play.exact = &exact;
    bool transport = play.exact || play.paused >= 0 || play.rate > 0 || !std::isnan(play.position);
    // Pausing, seeking or a new rate leaves the element record as it is:
    // any process may do it while another runs the clip's producer.
    if (!transport_only || !transport) {
        e = ConfigureElement(c, e, desc, err);
        if (!e) return Fail(interp, "ELEMENT", err);
    }
    if (transport && !EditVideoPlay(c, e, play, err)) return Fail(interp, "VALUE", err);
    return changed(objc, objv, 0);
}

}  // namespace

void QvpCanvasRegisterCommands(Tcl_Interp *interp) { QvpCanvasRegisterCommandsAs(interp, ""); }

void QvpCanvasRegisterCommandsAs(Tcl_Interp *interp, const char *prefix) {
    std::string p = prefix ? prefix : "";
    Tcl_CreateObjCommand(interp, (p + "font").c_str(), FontCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, (p + "image").c_str(), ImageCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, (p + "canvas").c_str(), CanvasCmd, nullptr, nullptr);
}

void QvpCanvasSetJournal(QvpCanvasJournal fn, void *data) {
    g_journal = fn;
    g_journal_data = data;
}
