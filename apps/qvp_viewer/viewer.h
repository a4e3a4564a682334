/* viewer.h - shared pieces of qvp_viewer: option parsing helpers and
 * the command registration of each area. */
#ifndef QVP_VIEWER_H
#define QVP_VIEWER_H

#include <tcl.h>

#include <string>
#include <vector>

/* Sets the result to MSG with error code {QVP CODE} and returns
 * TCL_ERROR. */
int viewer_error(Tcl_Interp *interp, const char *code, const std::string &msg);

/* Parses OBJ as a list of exactly N doubles (or ints) into OUT; on
 * failure sets an error naming OPTION and returns false. */
bool viewer_doubles(Tcl_Interp *interp, Tcl_Obj *obj, int n, double *out, const char *option);
bool viewer_ints(Tcl_Interp *interp, Tcl_Obj *obj, int n, int *out, const char *option);

/* Registers the display, node, plugin and host commands. */
void viewer_register_commands(Tcl_Interp *interp);

/* Builds the built-in demo scene in INTERP's process. Returns TCL_OK or
 * TCL_ERROR with the interpreter's result set. */
int viewer_build_demo(Tcl_Interp *interp, const std::string &plugin_path);

/* Path of the plugin module beside the viewer's executable. */
std::string viewer_plugin_path();

#endif
