// commands.cpp - the viewer's Tcl commands for channels, viewports,
// nodes, plugins, frames and the host's own state.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "tcl_args.h"
#include "viewer.h"

using namespace qvptcl;

bool viewer_keep_alpha = false;

namespace {

// Viewports placed in fractions {x y w h} of the window, by viewport;
// set by the viewport command's -frac, dropped by its -rect.
std::map<QVS_VIEWPORT *, std::array<double, 4>> &fractions() {
    static std::map<QVS_VIEWPORT *, std::array<double, 4>> m;
    return m;
}

// Sets V's rectangle to its fractions F of the current window.
void place_fraction(QVS_VIEWPORT &v, const std::array<double, 4> &f) {
    int W = QVV_display->width, H = QVV_display->height;
    v.rx = (int)lround(f[0] * W);
    v.ry = (int)lround(f[1] * H);
    v.rw = std::max(1, (int)lround(f[2] * W));
    v.rh = std::max(1, (int)lround(f[3] * H));
    v.dw = v.rw;
    v.dh = v.rh;
    v.has_rect = 1;
}

/* ---- channel ---- */

int ChannelCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"create", "names", nullptr};
    static const char *const kOpts[] = {"-size", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "create|names ?arg ...?", which)) return TCL_ERROR;
    if (which == 1) {
        if (objc != 2) return WrongArgs(interp, 2, objv, nullptr);
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (QVS_CHANNEL *c = QVV_display->channel_list; c; c = c->pnext)
            Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(c->name, -1));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    if (objc < 3) return WrongArgs(interp, 2, objv, "NAME ?-size {dw dh}?");
    const char *name = Tcl_GetString(objv[2]);
    if (!Pairs(interp, objc, 3, objv)) return TCL_ERROR;
    int size[2] = {0, 0};
    for (int i = 3; i < objc; i += 2) {
        int k;
        if (!Option(interp, objv[i], kOpts, k)) return TCL_ERROR;
        if (!Ints(interp, objv[i + 1], 2, size, "-size")) return TCL_ERROR;
        if (size[0] < 1 || size[1] < 1) return Fail(interp, "VALUE", "-size must be positive");
    }
    if (!*name || strlen(name) >= 80) return Fail(interp, "VALUE", "channel names have 1 to 79 characters");
    if (QVH_FindChannel(name)) return Fail(interp, "EXISTS", std::string("channel \"") + name + "\" already exists");
    if (!QVH_AddChannel(name, size[0], size[1])) return Fail(interp, "FAILED", "cannot add the channel");
    Tcl_SetObjResult(interp, objv[2]);
    return TCL_OK;
}

/* ---- viewport ---- */

const char *const kViewportOptions[] = {"-rect", "-frac", "-size", "-fov",   "-frustum", "-far",
                                       "-eye",  "-look", "-up",   "-clear", "-off",     nullptr};
// The indexes of kViewportOptions, in its order.
enum { kVRect, kVFrac, kVSize, kVFov, kVFrustum, kVFar, kVEye, kVLook, kVUp, kVClear, kVOff };

// Applies options to a copy of V; V changes only if all are good.
int configure_viewport(Tcl_Interp *interp, QVS_VIEWPORT *v, int objc, Tcl_Obj *const objv[], int first) {
    if (!Pairs(interp, objc, first, objv)) return TCL_ERROR;
    QVS_VIEWPORT c = *v;
    bool size_given = false;
    int frac_given = 0;  // 1: -frac set, -1: -rect dropped it
    std::array<double, 4> frac{};
    for (int i = first; i < objc; i += 2) {
        int k;
        if (!Option(interp, objv[i], kViewportOptions, k)) return TCL_ERROR;
        std::string opt = kViewportOptions[k];
        Tcl_Obj *val = objv[i + 1];
        double d[5];
        int n[4];
        switch (k) {
        case kVRect:
            if (!Ints(interp, val, 4, n, "-rect")) return TCL_ERROR;
            if (n[2] < 1 || n[3] < 1) return Fail(interp, "VALUE", "-rect width and height must be positive");
            c.rx = n[0]; c.ry = n[1]; c.rw = n[2]; c.rh = n[3];
            c.has_rect = 1;
            if (!size_given) { c.dw = n[2]; c.dh = n[3]; }
            frac_given = -1;
            break;
        case kVFrac: {
            if (!Doubles(interp, val, 4, frac.data(), "-frac")) return TCL_ERROR;
            if (frac[0] < 0 || frac[1] < 0 || frac[2] <= 0 || frac[3] <= 0 || frac[0] + frac[2] > 1 + 1e-9 ||
                frac[1] + frac[3] > 1 + 1e-9)
                return Fail(interp, "VALUE", "-frac {x y w h} lies within the window: 0 to 1, w and h above 0");
            int keep_dw = c.dw, keep_dh = c.dh;
            place_fraction(c, frac);
            if (size_given) { c.dw = keep_dw; c.dh = keep_dh; }
            frac_given = 1;
            break;
        }
        case kVSize:
            if (!Ints(interp, val, 2, n, "-size")) return TCL_ERROR;
            if (n[0] < 1 || n[1] < 1) return Fail(interp, "VALUE", "-size must be positive");
            c.dw = n[0]; c.dh = n[1];
            size_given = true;
            break;
        case kVFov:
            if (!Doubles(interp, val, 2, d, "-fov")) return TCL_ERROR;
            if (d[0] <= 0 || d[0] >= 180 || d[1] < 0 || d[1] >= 180)
                return Fail(interp, "VALUE", "-fov angles lie between 0 and 180 degrees (vertical 0: from the aspect)");
            c.fov[0] = (float)d[0]; c.fov[1] = (float)d[1];
            c.use_fov = 1;
            break;
        case kVFrustum: {
            float f[5];
            if (!Floats(interp, val, 5, f, "-frustum")) return TCL_ERROR;
            if (f[0] >= f[1] || f[2] >= f[3] || f[4] <= 0)
                return Fail(interp, "VALUE", "-frustum wants left < right, bottom < top and near > 0");
            c.rleft = f[0]; c.rright = f[1]; c.rbottom = f[2]; c.rtop = f[3];
            c.rnear = f[4];
            c.use_fov = 0;
            break;
        }
        case kVFar:
            if (!Float(interp, val, c.rfar, "-far")) return TCL_ERROR;
            break;
        case kVEye:
        case kVLook:
        case kVUp: {
            if (!Doubles(interp, val, 3, d, opt.c_str())) return TCL_ERROR;
            double *dst = k == kVEye ? c.eye : k == kVLook ? c.look : c.up;
            for (int j = 0; j < 3; j++) dst[j] = d[j];
            break;
        }
        case kVClear:
            if (!Color(interp, val, c.clear, "-clear", false)) return TCL_ERROR;
            break;
        case kVOff: {
            int b;
            if (!Bool(interp, val, b, "-off")) return TCL_ERROR;
            c.attrib = b ? (c.attrib | QVP_ATTRIB_HIDDEN) : (c.attrib & ~QVP_ATTRIB_HIDDEN);
            break;
        }
        }
    }
    if (c.rfar <= c.rnear) return Fail(interp, "VALUE", "-far must lie beyond the near plane");
    *v = c;
    if (frac_given > 0) fractions()[v] = frac;
    else if (frac_given < 0) fractions().erase(v);
    QVH_UpdateViewport(v);
    return TCL_OK;
}

int ViewportCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"configure", "create", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "create|configure NAME ?arg ...?", which)) return TCL_ERROR;
    if (which == 1) {
        if (objc < 4) return WrongArgs(interp, 2, objv, "NAME CHANNEL ?option value ...?");
        const char *name = Tcl_GetString(objv[2]);
        QVS_CHANNEL *ch = QVH_FindChannel(Tcl_GetString(objv[3]));
        if (!ch) return Fail(interp, "NOTFOUND", std::string("unknown channel \"") + Tcl_GetString(objv[3]) + "\"");
        if (!*name || strlen(name) >= 80) return Fail(interp, "VALUE", "viewport names have 1 to 79 characters");
        if (QVH_FindViewport(name)) return Fail(interp, "EXISTS", std::string("viewport \"") + name + "\" already exists");
        // Check the options on a scratch record before the viewport exists.
        QVS_VIEWPORT scratch;
        memset(&scratch, 0, sizeof scratch);
        scratch.rw = QVV_display->width; scratch.rh = QVV_display->height;
        scratch.rnear = 1.0f; scratch.rfar = 1000.0f; scratch.use_fov = 1; scratch.fov[0] = 60;
        if (configure_viewport(interp, &scratch, objc, objv, 4) != TCL_OK) return TCL_ERROR;
        QVS_VIEWPORT *v = QVH_AddViewport(ch, name);
        if (!v) return Fail(interp, "FAILED", "cannot add the viewport");
        if (configure_viewport(interp, v, objc, objv, 4) != TCL_OK) return TCL_ERROR;
        Tcl_SetObjResult(interp, objv[2]);
        return TCL_OK;
    }
    if (objc < 3) return WrongArgs(interp, 2, objv, "NAME ?option value ...?");
    const char *name = Tcl_GetString(objv[2]);
    QVS_VIEWPORT *v = QVH_FindViewport(name);
    if (!v) return Fail(interp, "NOTFOUND", std::string("unknown viewport \"") + name + "\"");
    return configure_viewport(interp, v, objc, objv, 3);
}

/* ---- node ---- */

const char *const kNodeOptions[] = {"-parent", "-shape", "-size", "-color", "-pos",
                                   "-rot",    "-layer", "-type", "-hidden", nullptr};
// The indexes of kNodeOptions, in its order.
enum { kNParent, kNShape, kNSize, kNColor, kNPos, kNRot, kNLayer, kNType, kNHidden };

// Applies options to C, the would-be state of node INDEX (-1 for a node
// not made yet). C is left partly changed on error; callers work on a copy.
int parse_node_options(Tcl_Interp *interp, QVS_NODE &c, int index, int objc, Tcl_Obj *const objv[], int first) {
    if (!Pairs(interp, objc, first, objv)) return TCL_ERROR;
    for (int i = first; i < objc; i += 2) {
        int k;
        if (!Option(interp, objv[i], kNodeOptions, k)) return TCL_ERROR;
        std::string opt = kNodeOptions[k];
        Tcl_Obj *val = objv[i + 1];
        std::string sval = Tcl_GetString(val);
        double d[3];
        switch (k) {
        case kNParent: {
            if (sval.empty()) { c.parent = -1; continue; }
            int p = QVF_GetNodeID(sval.c_str());
            if (p < 0) return Fail(interp, "NOTFOUND", "unknown node \"" + sval + "\"");
            // Refuse a loop through the parents.
            for (int a = p; a >= 0; a = QVH_GetNode(a)->parent)
                if (a == index) return Fail(interp, "VALUE", "-parent would make a loop");
            c.parent = p;
            break;
        }
        case kNShape: {
            static const char *const kShapes[] = {"box", "quad", "sphere", "none", nullptr};
            static const int kShapeCodes[] = {QVP_SHAPE_BOX, QVP_SHAPE_QUAD, QVP_SHAPE_SPHERE, QVP_SHAPE_NONE};
            int w;
            if (Tcl_GetIndexFromObj(interp, val, kShapes, "shape", 0, &w) != TCL_OK) return TCL_ERROR;
            c.shape = kShapeCodes[w];
            break;
        }
        case kNSize:
        case kNPos:
        case kNRot: {
            if (!Doubles(interp, val, 3, d, opt.c_str())) return TCL_ERROR;
            double *dst = k == kNSize ? c.size : k == kNPos ? c.pos : c.rot;
            for (int j = 0; j < 3; j++) dst[j] = d[j];
            break;
        }
        case kNColor:
            if (!Color(interp, val, c.color, "-color", false)) return TCL_ERROR;
            break;
        case kNLayer: {
            static const char *const kLayers[] = {"background", "scene", "foreground", nullptr};
            static const int kLayerCodes[] = {LAYER_BACKGROUND, LAYER_SCENE, LAYER_FOREGROUND};
            int w;
            if (Tcl_GetIndexFromObj(interp, val, kLayers, "layer", 0, &w) != TCL_OK) return TCL_ERROR;
            c.layer = kLayerCodes[w];
            break;
        }
        case kNType:
            if (!Int(interp, val, c.type, "-type")) return TCL_ERROR;
            break;
        case kNHidden: {
            int b;
            if (!Bool(interp, val, b, "-hidden")) return TCL_ERROR;
            c.attrib = b ? (c.attrib | QVP_ATTRIB_HIDDEN) : (c.attrib & ~QVP_ATTRIB_HIDDEN);
            break;
        }
        }
    }
    return TCL_OK;
}

int configure_node(Tcl_Interp *interp, int index, int objc, Tcl_Obj *const objv[], int first) {
    QVS_NODE c = *QVH_GetNode(index);
    if (parse_node_options(interp, c, index, objc, objv, first) != TCL_OK) return TCL_ERROR;
    QVF_LockScene(QVV_scene);
    *QVH_GetNode(index) = c;
    QVF_UnlockScene(QVV_scene);
    return TCL_OK;
}

int NodeCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    enum { kConfigure, kCreate, kIndex, kNames };
    static const char *const kSubs[] = {"configure", "create", "index", "names", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "create|configure|index|names ?NAME? ?option value ...?", which))
        return TCL_ERROR;
    if (which == kNames) {
        if (objc != 2) return WrongArgs(interp, 2, objv, nullptr);
        Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
        for (int i = 0; QVH_GetNode(i); i++)
            Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(QVH_GetNode(i)->name, -1));
        Tcl_SetObjResult(interp, l);
        return TCL_OK;
    }
    if (objc < 3) return WrongArgs(interp, 2, objv, "NAME ?option value ...?");
    if (which == kIndex && objc != 3) return WrongArgs(interp, 2, objv, "NAME");
    const char *name = Tcl_GetString(objv[2]);
    if (which == kCreate) {
        if (!*name || strlen(name) >= 64) return Fail(interp, "VALUE", "node names have 1 to 63 characters");
        if (QVF_GetNodeID(name) >= 0) return Fail(interp, "EXISTS", std::string("node \"") + name + "\" already exists");
        // Check the options on a scratch node first: nothing is left half-made.
        QVS_NODE scratch;
        memset(&scratch, 0, sizeof scratch);
        scratch.parent = -1;
        if (parse_node_options(interp, scratch, -1, objc, objv, 3) != TCL_OK) return TCL_ERROR;
        int index = QVH_AddNode(name);
        if (index < 0) return Fail(interp, "FAILED", std::string("cannot add node \"") + name + "\" (arena full?)");
        if (configure_node(interp, index, objc, objv, 3) != TCL_OK) return TCL_ERROR;
        Tcl_SetObjResult(interp, Tcl_NewIntObj(index));
        return TCL_OK;
    }
    int index = QVF_GetNodeID(name);
    if (index < 0) return Fail(interp, "NOTFOUND", std::string("unknown node \"") + name + "\"");
    if (which == kConfigure) return configure_node(interp, index, objc, objv, 3);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(index));
    return TCL_OK;
}

/* ---- plugin, frame, snapshot, pixel, internalpass, hostlog, scene ---- */

int PluginCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"load", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "load PATH ?arg ...?", which)) return TCL_ERROR;
    if (objc < 3) return WrongArgs(interp, 2, objv, "PATH ?arg ...?");
    std::vector<const char *> args;
    for (int i = 2; i < objc; i++) args.push_back(Tcl_GetString(objv[i]));
    int before = QVH_LogCount();
    int r = QVH_LoadPlugin(args[0], (int)args.size(), args.data());
    if (r < 0) {
        std::string why = "cannot load plugin";
        const QVH_LOGLINE *l = QVH_LogCount() > before ? QVH_LogGet(QVH_LogCount() - 1) : nullptr;
        if (l) why = l->text;
        return Fail(interp, "PLUGIN", why);
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(r ? 1 : 0));
    return TCL_OK;
}

}  // namespace

volatile sig_atomic_t viewer_stop_signal = 0;
bool viewer_stop_requested() { return viewer_stop_signal != 0; }

namespace {

int FrameCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?COUNT?");
        return TCL_ERROR;
    }
    int n = 1;
    if (objc == 2 && !Int(interp, objv[1], n, "frame")) return TCL_ERROR;
    if (n < 0) return Fail(interp, "VALUE", "frame count must not be negative");
    // A stop asked for by a signal ends the run after the frame in
    // progress; the interpreter then runs the viewer's stop.
    for (int k = 0; k < n && !viewer_stop_requested(); k++) QVH_RunFrames(1);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(QVV_display->frame_count));
    return TCL_OK;
}

// demo: builds the built-in demo scene, as the viewer does without a
// script (scripts and tests look at it this way).
int DemoCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    return viewer_build_demo(interp, viewer_plugin_path());
}

int SnapshotCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kOpts[] = {"-alpha", nullptr};
    int k;
    if (objc != 2 && objc != 3) return WrongArgs(interp, 1, objv, "?-alpha? FILE.png");
    if (objc == 3 && !Option(interp, objv[1], kOpts, k)) return TCL_ERROR;
    Tcl_Obj *file = objv[objc - 1];
    if (!*Tcl_GetString(file)) return Fail(interp, "VALUE", "snapshot wants a file name, got an empty one");
    char err[512];
    if (!QVH_SnapshotAlpha(Tcl_GetString(file), objc == 3 || viewer_keep_alpha, err, sizeof err))
        return Fail(interp, "IO", err);
    return TCL_OK;
}

int PixelCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "X Y");
        return TCL_ERROR;
    }
    int x, y;
    if (!Int(interp, objv[1], x, "X") || !Int(interp, objv[2], y, "Y")) return TCL_ERROR;
    unsigned char px[4];
    if (!QVH_ReadPixel(x, y, px))
        return Fail(interp, "VALUE", "pixel " + std::to_string(x) + " " + std::to_string(y) + " lies outside the window");
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (unsigned char c : px) Tcl_ListObjAppendElement(nullptr, l, Tcl_NewIntObj(c));
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

int InternalPassCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "0|1");
        return TCL_ERROR;
    }
    int b;
    if (!Bool(interp, objv[1], b, "internalpass")) return TCL_ERROR;
    int *p = (int *)QVH_FindProcessData("DOING_INTERNAL_PASS");
    if (p) *p = b;
    return TCL_OK;
}

int HostLogCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kOpts[] = {"-clear", nullptr};
    int k;
    if (objc > 2) return WrongArgs(interp, 1, objv, "?-clear?");
    if (objc == 2 && !Option(interp, objv[1], kOpts, k)) return TCL_ERROR;
    bool clear = objc == 2;
    Tcl_Obj *l = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < QVH_LogCount(); i++) {
        const QVH_LOGLINE *e = QVH_LogGet(i);
        Tcl_ListObjAppendElement(nullptr, l, Tcl_NewStringObj(e->text, -1));
    }
    if (clear) QVH_LogClear();
    Tcl_SetObjResult(interp, l);
    return TCL_OK;
}

int SceneCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"name", "remove", nullptr};
    int which;
    if (!Subcommand(interp, objc, objv, kSubs, "name|remove ?NAME?", which)) return TCL_ERROR;
    if (which == 0) {
        if (objc != 2) return WrongArgs(interp, 2, objv, nullptr);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(QVV_scene->name, -1));
        return TCL_OK;
    }
    if (objc > 3) return WrongArgs(interp, 2, objv, "?NAME?");
    const char *name = objc == 3 ? Tcl_GetString(objv[2]) : QVV_scene->name;
    Tcl_SetObjResult(interp, Tcl_NewIntObj(QVH_RemoveScene(name)));
    return TCL_OK;
}

}  // namespace

void viewer_apply_fractions() {
    for (auto &kv : fractions()) {
        place_fraction(*kv.first, kv.second);
        QVH_UpdateViewport(kv.first);
    }
}

void viewer_register_commands(Tcl_Interp *interp) {
    Tcl_CreateObjCommand(interp, "channel", ChannelCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "viewport", ViewportCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "node", NodeCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "plugin", PluginCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "frame", FrameCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "snapshot", SnapshotCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "pixel", PixelCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "internalpass", InternalPassCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "hostlog", HostLogCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "scene", SceneCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "demo", DemoCmd, nullptr, nullptr);
}
