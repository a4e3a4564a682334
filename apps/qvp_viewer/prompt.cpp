// prompt.cpp - the viewer's interactive prompt: Tcl commands typed on a
// terminal while frames keep drawing, as tclsh reads them (a prompt,
// lines gathered until the command is complete, the result or the
// error printed, `exit` to leave).
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "viewer.h"

namespace {

// What was typed and not yet run; complete commands are taken from its
// front one a frame. Filled by on_input, emptied by viewer_prompt_step.
std::string g_typed;
// Set by viewer_prompt_start; g_ended when stdin reached its end.
Tcl_Interp *g_prompt_interp = nullptr;
bool g_ended = false;

void prompt(bool more) {
    fputs(more ? "> " : "% ", stdout);
    fflush(stdout);
}

void on_input(ClientData, int) {
    char buf[4096];
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) {
        Tcl_DeleteFileHandler(0);
        g_ended = true;
        return;
    }
    g_typed.append(buf, (size_t)n);
}

// The length of the first complete command in g_typed (through its
// newline), or 0 when none is complete yet.
size_t first_command() {
    for (size_t nl = g_typed.find('\n'); nl != std::string::npos; nl = g_typed.find('\n', nl + 1)) {
        std::string head = g_typed.substr(0, nl + 1);
        if (Tcl_CommandComplete(head.c_str())) return nl + 1;
    }
    return 0;
}

}  // namespace

void viewer_prompt_start(Tcl_Interp *interp) {
    g_prompt_interp = interp;
    Tcl_SetVar2Ex(interp, "tcl_interactive", nullptr, Tcl_NewIntObj(1), TCL_GLOBAL_ONLY);
    Tcl_CreateFileHandler(0, TCL_READABLE, on_input, nullptr);
    prompt(false);
}

bool viewer_prompt_ended() { return g_prompt_interp && g_ended && first_command() == 0; }

void viewer_prompt_step() {
    if (!g_prompt_interp) return;
    size_t n = first_command();
    if (n == 0) return;
    std::string cmd = g_typed.substr(0, n);
    g_typed.erase(0, n);
    int rc = Tcl_RecordAndEval(g_prompt_interp, cmd.c_str(), TCL_EVAL_GLOBAL);
    const char *result = Tcl_GetStringResult(g_prompt_interp);
    if (rc != TCL_OK) fprintf(stdout, "error: %s\n", result);
    else if (*result) fprintf(stdout, "%s\n", result);
    // What is typed but not complete yet is a command going on.
    bool more = g_typed.find_first_not_of(" \t\r\n") != std::string::npos && first_command() == 0;
    prompt(more);
}
