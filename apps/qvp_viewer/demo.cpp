// demo.cpp - the built-in demo scene of qvp_viewer, written as the Tcl
// script a user would write.
#include <unistd.h>

#include <string>

#include "viewer.h"

namespace {
const char *kDemoScript = R"TCL(
channel create main
viewport create left main -rect {0 0 320 480} -clear {0.08 0.09 0.12} \
    -eye {0 2 12} -look {0 0 0}
viewport create right main -rect {320 0 320 480} -clear {0.12 0.10 0.08} \
    -eye {9 5 9} -look {0 0 0}

node create floor -shape quad -size {14 14 0} -rot {0 -90 0} -pos {0 -2 0} \
    -color {0.25 0.3 0.25}
node create sky -shape quad -size {40 30 0} -pos {0 0 -20} -layer background \
    -color {0.15 0.2 0.4}
node create redbox -shape box -size {2 2 2} -pos {-2.5 0 0} -rot {30 0 0} \
    -color {0.85 0.2 0.15}
node create ball -shape sphere -size {2.4 2.4 2.4} -pos {2.5 0 0} \
    -color {0.2 0.6 0.9}
node create moon -shape sphere -size {0.8 0.8 0.8} -parent ball -pos {0 2 0} \
    -color {0.9 0.9 0.7}
node create marker -shape box -size {0.4 0.4 0.4} -pos {0 3 0} -layer foreground \
    -color {1 0.8 0.1}
)TCL";
}  // namespace

int viewer_build_demo(Tcl_Interp *interp, const std::string &plugin_path) {
    int rc = Tcl_Eval(interp, kDemoScript);
    if (rc != TCL_OK) return rc;
    if (access(plugin_path.c_str(), R_OK) == 0) {
        std::string cmd = "plugin load {" + plugin_path + "}";
        rc = Tcl_Eval(interp, cmd.c_str());
    }
    return rc;
}
