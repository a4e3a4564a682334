// tcl_package.cpp - the Tcl package qvpcanvas: `package require
// qvpcanvas` in a tclsh or wish of one's own, then `qvp attach SCENE`,
// gives the canvas builder's commands on a scene a viewer runs.
//
// The commands are qvp::font, qvp::image and qvp::canvas; where the
// interpreter has no command of that name (a plain tclsh) they are also
// font, image and canvas, as the viewer has them. Tk's font, image and
// canvas are never replaced.
#include <tcl.h>
#include <unistd.h>

#include <string>

#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "qvp_host.h"

namespace {

// The scene this interpreter's process attached to; set by qvp attach,
// emptied by qvp detach. One scene a process, as for the viewer.
std::string g_scene;

int fail(Tcl_Interp *interp, const char *code, const std::string &msg) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
    Tcl_SetErrorCode(interp, "QVP", code, nullptr);
    return TCL_ERROR;
}

// qvp attach SCENE | qvp detach | qvp scene
int QvpCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const kSubs[] = {"attach", "detach", "scene", nullptr};
    enum { kAttach, kDetach, kScene };
    int sub;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "attach SCENE | detach | scene");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], kSubs, "subcommand", 0, &sub) != TCL_OK) return TCL_ERROR;
    if (sub == kScene || sub == kDetach) {
        if (objc != 2) {
            Tcl_WrongNumArgs(interp, 2, objv, nullptr);
            return TCL_ERROR;
        }
        if (sub == kDetach && !g_scene.empty()) {
            QVH_CloseScene();
            g_scene.clear();
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(sub == kScene ? g_scene.c_str() : "", -1));
        return TCL_OK;
    }
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 2, objv, "SCENE");
        return TCL_ERROR;
    }
    std::string name = Tcl_GetString(objv[2]);
    if (!g_scene.empty())
        return fail(interp, "ATTACHED", "already attached to scene \"" + g_scene + "\": qvp detach first");
    std::string segment = "/dev/shm/qvp_" + name;
    if (name.empty() || name.size() > 48 || access(segment.c_str(), F_OK) != 0)
        return fail(interp, "NOSCENE",
                    "no scene \"" + name + "\" to attach: start a viewer with -scene " + name +
                        " first (the scene lives while it runs, and after it with -keep)");
    char err[512];
    if (!QVH_OpenScene(name.c_str(), 0, QVH_SCENE_ATTACH, err, sizeof err)) return fail(interp, "SCENE", err);
    std::string why;
    if (!qvpc::Attach(why)) {
        QVH_CloseScene();
        return fail(interp, "SCENE", "scene \"" + name + "\": " + why);
    }
    g_scene = name;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.c_str(), -1));
    return TCL_OK;
}

}  // namespace

// The package's entry point, for `load`: makes the qvp namespace and its
// commands and provides qvpcanvas.
extern "C" __attribute__((visibility("default"))) int Qvpcanvas_Init(Tcl_Interp *interp) {
    if (!Tcl_CreateNamespace(interp, "qvp", nullptr, nullptr) && !Tcl_FindNamespace(interp, "qvp", nullptr, 0))
        return TCL_ERROR;
    Tcl_CreateObjCommand(interp, "qvp", QvpCmd, nullptr, nullptr);
    QvpCanvasRegisterCommandsAs(interp, "qvp::");
    for (const char *cmd : {"font", "image", "canvas"}) {
        Tcl_CmdInfo info;
        if (Tcl_GetCommandInfo(interp, cmd, &info)) continue;  // Tk's, or the user's own
        std::string target = std::string("qvp::") + cmd;
        Tcl_CreateAlias(interp, cmd, interp, target.c_str(), 0, nullptr);
    }
    return Tcl_PkgProvide(interp, "qvpcanvas", "1.0");
}
