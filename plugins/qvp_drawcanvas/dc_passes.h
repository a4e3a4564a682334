/* dc_passes.h - the plugin's command (plugin.cpp) and the frame
 * phases it installs (passes.cpp, mapping.cpp). */
#ifndef DC_PASSES_H
#define DC_PASSES_H

#include "dc_services.h"

/* ---- plugin frame (plugin.cpp) ---- */

int DRAWCANVAS_cmd(ClientData cd, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);

/* ---- frame passes (passes.cpp, mapping.cpp) ---- */

void UpdateScene(void);
void UpdateView(void);
void UpdateChannel(void);
void DrawBackground(void);
void DrawScene(void);
void DrawForeground(void);
void DrawView(void);

#endif
