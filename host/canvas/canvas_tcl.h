/* canvas_tcl.h - the canvas builder's Tcl commands: font, image and
 * canvas, shaped like Tk's canvas. */
#ifndef QVP_CANVAS_TCL_H
#define QVP_CANVAS_TCL_H

#include <tcl.h>

/* Registers "font", "image" and "canvas" in INTERP. */
void QvpCanvasRegisterCommands(Tcl_Interp *interp);

/* Called after every font, image and canvas command that changed the
 * scene, with its words and its result (a new element's id for
 * "canvas add"); queries are not passed on. One journal per process;
 * null removes it. Cluster mode publishes the edits through it. */
typedef void (*QvpCanvasJournal)(int objc, Tcl_Obj *const objv[], Tcl_Obj *result, void *data);
void QvpCanvasSetJournal(QvpCanvasJournal fn, void *data);

#endif
