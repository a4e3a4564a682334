/* tarn.h - process records of a script-driven host process. */
#ifndef TARN_H
#define TARN_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Process data "QVS_TARN". */
typedef struct QVS_TARN {
    void *tkwin;                /* the visual window, null without one */
    int (*InstallPluginCmd)(const char *name, Tcl_ObjCmdProc *proc,
                            ClientData data);
    /* host fields */
    Tcl_Interp *interp;
} QVS_TARN;

/* Process data "QVS_TARN_FEATURES". */
typedef struct QVS_TARN_FEATURES {
    int no_visual;              /* non-zero: the process has no visual */
} QVS_TARN_FEATURES;

#ifdef __cplusplus
}
#endif

#endif
