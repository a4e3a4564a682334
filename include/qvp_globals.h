/* qvp_globals.h - the host's QVV_ globals and the layer bits. */
#ifndef QVP_GLOBALS_H
#define QVP_GLOBALS_H

#include "qvp_structs.h"

/* Layer bits of QVV_draw_layer, QVV_did_render, QVV_cleared_depth and
 * of a canvas's draw_layer. */
#define LAYER_BACKGROUND 0x200
#define LAYER_SCENE      0x400
#define LAYER_FOREGROUND 0x800

#ifdef __cplusplus
extern "C" {
#endif

/* Set by libqvp when the process opens or attaches to a scene. */
extern QVS_SCENE *QVV_scene;

/* Set by libqvpdisp when the display opens, and for each phase of a
 * frame as the frame loop describes. */
extern QVS_DISPLAY *QVV_display;
extern QVS_CHANNEL *QVV_channel;
extern QVS_VIEWPORT *QVV_viewport;
extern QVS_NODE_LAYERS *QVV_node_layers;
extern QVT_MATRIX QVV_modelview_matrix;
extern QVT_MATRIX QVV_projection_matrix;
extern int QVV_draw_layer;
extern int QVV_did_render;
extern int QVV_cleared_depth;
extern QVS_GEOM_DATA **QVV_rendered_geoms;

#ifdef __cplusplus
}
#endif

#endif
