/* viewer.h - shared pieces of qvp_viewer: the command registration of
 * each area and the built-in demo. */
#ifndef QVP_VIEWER_H
#define QVP_VIEWER_H

#include <tcl.h>

#include <string>
#include <vector>

/* Registers the display, node, plugin and host commands. */
void viewer_register_commands(Tcl_Interp *interp);

/* Builds the built-in demo scene in INTERP's process, loading the plugin
 * module at PLUGIN_PATH after the nodes; an empty PLUGIN_PATH means the
 * plugin is in the process already (linked in), and a module that is not
 * there leaves the demo at its nodes. Returns TCL_OK or TCL_ERROR with
 * the interpreter's result set. */
int viewer_build_demo(Tcl_Interp *interp, const std::string &plugin_path);

/* Path of the plugin module beside the viewer's executable. */
std::string viewer_plugin_path();

#endif
