/* canvas_tcl.h - the canvas builder's Tcl commands: font, image and
 * canvas, shaped like Tk's canvas. */
#ifndef QVP_CANVAS_TCL_H
#define QVP_CANVAS_TCL_H

#include <tcl.h>

/* Registers "font", "image" and "canvas" in INTERP. */
void QvpCanvasRegisterCommands(Tcl_Interp *interp);

#endif
