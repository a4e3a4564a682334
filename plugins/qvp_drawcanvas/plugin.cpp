// plugin.cpp - the plugin frame: its entry points and options, finding or
// making the shared and per-process canvas roots, and the qvp_drawcanvas
// command. The state and services every other file uses are in
// services.cpp, below all of them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "dc_services.h"
#include "dc_passes.h"
#include "drawcanvas_testing.h"
#include "qvp_canvas_roots.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

void ResetPluginState(void) {
    ResetServices();
    tarn = nullptr;
    tarn_features = nullptr;
    double_data = nullptr;
    pinfo = nullptr;
    pprocinfo = nullptr;
    stencil_bits = 0;
    max_image_objs = max_video_objs = max_canvas_objs = 10;
    draw_canvas = draw_scene = draw_background = draw_foreground = 1;
    doing_internal_pass = nullptr;
    canvas_fbo = 0;
    ResetFontEngine();
    ResetGlyphStore();
    SetKeptTextsOff(0);
    SetKeptTextBounds(0, 0);
    ResetPassState();
    ResetElementCaches();
    ResetOffscreenCache();
}

namespace {

const char *kUsage = "qvp_drawcanvas [-image_objs max_objects] [-video_objs max_objects]";

// atoi's reading of a count, held to 0..10.
int clamp_objs(const char *text) {
    return CacheSlotsInUse(atoi(text));
}

// Reads the plugin arguments from position 1. An option with no value
// after it ends the reading with the usage warning.
void read_options(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        int *target = nullptr;
        if (strcmp(argv[i], "-image_objs") == 0) target = &max_image_objs;
        else if (strcmp(argv[i], "-video_objs") == 0) target = &max_video_objs;
        else if (strcmp(argv[i], "-canvas_objs") == 0) target = &max_canvas_objs;
        if (!target) {
            QVF_LogWarningF(kUsage, QVP_SOURCE, __LINE__);
            continue;
        }
        if (i + 1 >= argc) {
            QVF_LogWarningF(kUsage, QVP_SOURCE, __LINE__);
            return;
        }
        *target = clamp_objs(argv[++i]);
    }
}

}  // namespace

QVP_EXPORT int QVF_InitializePluginCB(QVS_PLUGIN *plugin) {
    int usable = 1;
    tarn = (QVS_TARN *)QVF_GetDataFromProcess("QVS_TARN");
    tarn_features = (QVS_TARN_FEATURES *)QVF_GetDataFromProcess("QVS_TARN_FEATURES");
    if (tarn && !tarn->tkwin) usable = 0;
    if (tarn_features && tarn_features->no_visual) usable = 0;
    // The command exists even where the plugin refuses to draw.
    if (tarn && tarn->InstallPluginCmd) tarn->InstallPluginCmd("qvp_drawcanvas", DRAWCANVAS_cmd, nullptr);
    if (!usable || !QVV_display) {
        QVF_LogWarningF("qvp_drawcanvas plugin can only be used in a display process "
                        "(ie qvp_viewer or a TARN process running with a visual)",
                        QVP_SOURCE, __LINE__);
        return 0;
    }

    read_options(plugin->argc, plugin->argv);

    char version[QVP_TEXT_BUF];
    snprintf(version, sizeof version, "%s - %s", __DATE__, __TIME__);
    QVF_RegisterPluginVersion(plugin, version);

    double_data = (QVS_DOUBLE_DATA *)QVF_GetDataFromScene(QVV_scene, "QVS_DOUBLE_DATA");

    pinfo = QVP_CanvasRoot(QVV_scene);
    pprocinfo = QVP_CanvasProcRecord();
    // Without both records (a full arena) no callback could run safely.
    if (!pinfo || !pinfo->access_lock || !pprocinfo) {
        QVF_LogWarningF("qvp_drawcanvas: cannot create the canvas records; canvases will not be drawn",
                        QVP_SOURCE, __LINE__);
        pinfo = nullptr;
        pprocinfo = nullptr;
        return 0;
    }

    QVF_InstallPluginFunction(plugin->handle, UpdateScene, QVP_PHASE_UPDATE_SCENE);
    QVF_InstallPluginFunction(plugin->handle, DrawScene, QVP_PHASE_DRAW_SCENE);
    QVF_InstallPluginFunction(plugin->handle, DrawForeground, QVP_PHASE_DRAW_FOREGROUND);
    QVF_InstallPluginFunction(plugin->handle, DrawBackground, QVP_PHASE_DRAW_BACKGROUND);
    QVF_InstallPluginFunction(plugin->handle, DrawView, QVP_PHASE_DRAW_VIEW);
    QVF_InstallPluginFunction(plugin->handle, UpdateView, QVP_PHASE_UPDATE_VIEW);
    QVF_InstallPluginFunction(plugin->handle, UpdateChannel, QVP_PHASE_UPDATE_CHANNEL);

    glGetIntegerv(GL_STENCIL_BITS, &stencil_bits);
    ResolveGLEntryPoints();
    return 1;
}

// Gives up the canvas lock if this process still holds it; nothing else.
static void release_held_lock(void) {
    if (pprocinfo && pprocinfo->is_locked) {
        QVF_UnsetLock(pinfo->access_lock);
        pprocinfo->is_locked = 0;
    }
}

QVP_EXPORT void QVF_CleanupPluginCB(void) { release_held_lock(); }

QVP_EXPORT void QVF_ExitPluginCB(void) { release_held_lock(); }

/* ---- the qvp_drawcanvas command ---- */

namespace {

struct Switch {
    const char *name;
    int *value;
};
const Switch kSwitches[] = {{"CANVAS", &draw_canvas},
                            {"SCENE", &draw_scene},
                            {"BACKGROUND", &draw_background},
                            {"FOREGROUND", &draw_foreground}};

}  // namespace

// qvp_drawcanvas enable|disable ?LIST?: with a list sets the named
// switches (ALL for all four) and returns nothing; without one returns
// the switches that are on (enable) or off (disable).
int DRAWCANVAS_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    Tcl_ResetResult(interp);
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "enable|disable ?switches?");
        Tcl_SetErrorCode(interp, "QVP_DRAWCANVAS", "USAGE", (char *)NULL);
        return TCL_ERROR;
    }
    const char *sub = Tcl_GetString(objv[1]);
    int value;
    if (strcmp(sub, "disable") == 0) value = 0;
    else if (strcmp(sub, "enable") == 0) value = 1;
    else return TCL_OK;

    if (objc > 2) {
        int n = 0;
        Tcl_Obj **elems = nullptr;
        // A list that does not parse changes nothing.
        if (Tcl_ListObjGetElements(interp, objv[2], &n, &elems) != TCL_OK) {
            std::string why = Tcl_GetStringResult(interp);
            std::string msg = std::string("qvp_drawcanvas ") + sub + ": the switches are not a list (" + why +
                              "); give names among CANVAS, SCENE, BACKGROUND, FOREGROUND and ALL";
            Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
            Tcl_SetErrorCode(interp, "QVP_DRAWCANVAS", "VALUE", msg.c_str(), (char *)NULL);
            return TCL_ERROR;
        }
        for (int i = 0; i < n; i++) {
            const char *name = Tcl_GetString(elems[i]);
            bool matched = false;
            for (const Switch &s : kSwitches)
                if (QVF_strcmpi(name, s.name) == 0) {
                    *s.value = value;
                    matched = true;
                }
            if (!matched && QVF_strcmpi(name, "ALL") == 0)
                for (const Switch &s : kSwitches) *s.value = value;
        }
        return TCL_OK;
    }

    char report[QVP_TEXT_BUF];
    report[0] = '\0';
    for (const Switch &s : kSwitches) {
        if (*s.value != value) continue;
        if (report[0]) strcat(report, " ");
        strcat(report, s.name);
    }
    if (report[0]) Tcl_AppendResult(interp, report, (char *)NULL);
    return TCL_OK;
}
