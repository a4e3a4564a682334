/* canvas_tcl.h - the canvas builder's Tcl commands: font, image and
 * canvas, shaped like Tk's canvas. */
#ifndef QVP_CANVAS_TCL_H
#define QVP_CANVAS_TCL_H

#include <tcl.h>

/* Registers "font", "image" and "canvas" in INTERP. */
void QvpCanvasRegisterCommands(Tcl_Interp *interp);

/* The same commands named PREFIX + "font" and so on ("qvp::" puts them
 * in a namespace, which must exist). */
void QvpCanvasRegisterCommandsAs(Tcl_Interp *interp, const char *prefix);

/* Called after every font, image and canvas command that changed the
 * scene, with its words and, for "canvas add", the new element's id (0
 * otherwise); queries are not passed on. One journal per process; null
 * removes it. Cluster mode publishes the edits through it. */
typedef void (*QvpCanvasJournal)(int objc, Tcl_Obj *const objv[], int element_id, void *data);
void QvpCanvasSetJournal(QvpCanvasJournal fn, void *data);

#endif
