/* display_internal.h - the state and helpers the display's files share.
 * One display per process: QVH_OpenDisplay makes `g`, QVH_CloseDisplay
 * frees it. */
#ifndef QVPDISP_DISPLAY_INTERNAL_H
#define QVPDISP_DISPLAY_INTERNAL_H

#include <GL/gl.h>
#include <time.h>

#include <string>
#include <vector>

#include "qvp_double.h"
#include "qvp_structs.h"

namespace qvpdisp {

extern const char *const kSrc;

// Everything the open display owns beyond its public record; created by
// QVH_OpenDisplay, released by QVH_CloseDisplay.
struct DisplayState {
    QVS_DISPLAY disp;
    std::vector<QVS_LOCAL_NODE> nodes;
    std::vector<QVS_GEOM_DATA> geoms;
    std::vector<QVS_GEOM_DATA *> rendered;
    std::vector<double> gmat;           // 16 doubles per node
    std::vector<char> gmat_done;        // cycle guard while computing
    QVS_NODE_LAYERS *layers = nullptr;  // the display's own node layers
    QVS_DOUBLE_DATA *dd = nullptr;
    double view[4][4];                  // view matrix of the current viewport
    double proj[4][4];
    std::string renderer;
    struct timespec start;
};
extern DisplayState *g;

// The frame hook; set by QVH_SetFrameHook, called by QVH_RunFrames.
extern void (*g_frame_hook)(double, void *);
extern void *g_frame_hook_data;

void log_warn(const std::string &s);
// Copies MSG into ERR (when given) and logs it.
void set_err(char *err, size_t len, const std::string &msg);
void to_float(QVT_MATRIX dst, const double src[4][4]);

// Forgets every pushed drawing state (drawing_state.cpp); the display's
// close calls it.
void reset_drawing_state();

/* views.cpp */
// Loads VP's projection and view into GL and the matrix globals.
void set_view_matrices(QVS_VIEWPORT *vp);
// Gives a display without channels one channel with one viewport.
void ensure_default_layout();

/* nodes.cpp */
double (*gmat_at(int i))[4];
// 1 when display node I is hidden here or in the scene.
bool node_hidden(int i);
// The host's step of the view pass: draws the nodes of the current layer.
void core_draw_view();
// Refills the display's node layers from the scene's shown nodes.
void rebuild_layers();

}  // namespace qvpdisp

#endif
