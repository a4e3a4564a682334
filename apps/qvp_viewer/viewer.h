/* viewer.h - shared pieces of qvp_viewer: the command registration of
 * each area and the built-in demo. */
#ifndef QVP_VIEWER_H
#define QVP_VIEWER_H

#include <signal.h>
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

/* True once TERM, INT or HUP asked the viewer to stop: loops of frames
 * end after the frame in progress, and the viewer then exits as it
 * would normally, removing the scene it made. */
bool viewer_stop_requested();
/* The signal that asked for the stop, 0 for none; set by the viewer's
 * signal handler. */
extern volatile sig_atomic_t viewer_stop_signal;

/* Path of the plugin module beside the viewer's executable. */
std::string viewer_plugin_path();

/* The folder of the running program (from /proc/self/exe), or "" when
 * it cannot be read. */
std::string viewer_exe_dir();

/* What the viewer's output options asked for. */
struct ViewerOutput {
    std::string out;        /* -o FILE.png, or empty */
    bool keep_alpha = false;
    bool quiet = false;
};

/* A one-line progress report of a run of TOTAL frames on stderr, only
 * when stderr is a terminal and not QUIET. */
class Progress {
public:
    Progress(const char *what, int total, bool quiet);
    void Step(int done);

private:
    const char *what_;
    int total_;
    bool on_;
    double start_, last_ = 0;
};

/* Places every viewport given -frac at its fractions of the window
 * again (after the window changed size). */
void viewer_apply_fractions();

/* Whether snapshot keeps the framebuffer's alpha (-alpha); set by main. */
extern bool viewer_keep_alpha;

/* Before a picture of what a script made (WHAT: "snapshot", "recording"):
 * warns, in the host log (and so on stderr), of each reason it would
 * show nothing: no plugin loaded, no channel with a viewport shown, and,
 * with RENDER_IF_NONE, no frame rendered yet (one is rendered then, as a
 * picture of the script's scene is what is asked for). */
void viewer_warn_blank(const char *what, bool render_if_none);

/* The interactive prompt (stdin a terminal): viewer_prompt_start sets
 * tcl_interactive, prints the prompt and reads stdin through the Tcl
 * event loop; viewer_prompt_step runs the next complete command typed, if
 * any, printing its result or "error: MESSAGE" and the next prompt (the
 * frame loops call it once a frame); viewer_prompt_ended says stdin has
 * ended and every command typed has run. */
void viewer_prompt_start(Tcl_Interp *interp);
void viewer_prompt_step();
bool viewer_prompt_ended();

/* Frames at FPS a second with the prompt, headless, until stdin ends or
 * a stop is asked for. */
void viewer_prompt_loop(int fps);

/* PATH ("shot.png") numbered: "shot-0007.png". */
std::string viewer_numbered_png(const std::string &path, int index);

/* Renders FRAMES frames, FPS a second of run_time, into PATH: a clip
 * (H.264 where the encoder exists, else MPEG-4; its container from the
 * file name) or, for PATH.png, numbered PNGs. False with ERR set. */
bool viewer_record(const std::string &path, int frames, int fps, const ViewerOutput &o, std::string &err);

/* Draws frames into the window, at most FPS a second, until it is closed
 * or q or Escape is typed (FRAMES > 0: after that many frames); s writes
 * a numbered snapshot. Runs the Tcl events between frames.
 * Returns the exit status. */
int viewer_live(int frames, int fps, const ViewerOutput &o);

#endif
