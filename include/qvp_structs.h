/* qvp_structs.h - the host framework's records.
 *
 * The fields a plugin relies on come first in each record, in a fixed
 * order; the fields after the marked line are the host's own and may
 * change between host versions. */
#ifndef QVP_STRUCTS_H
#define QVP_STRUCTS_H

#include "qvp_defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The shared-memory arena of a scene; opaque outside libqvp. */
typedef struct QVS_SMHANDLE QVS_SMHANDLE;

/* A cross-process lock living in a scene arena. `id` points to the
 * process-shared, robust mutex behind it. */
typedef struct QVS_SMLOCK {
    int is_shared;
    QVT_HANDLE id;
} QVS_SMLOCK;

/* A loaded plugin. `argv[0]` is the module path, options follow. */
typedef struct QVS_PLUGIN {
    QVT_HANDLE handle;
    int argc;
    char **argv;
    /* host fields */
    char path[256];
    char version[128];
    int active;
    struct QVS_PLUGIN *pnext;
} QVS_PLUGIN;

/* Shapes of a scene node. */
#define QVP_SHAPE_NONE   0
#define QVP_SHAPE_BOX    1
#define QVP_SHAPE_QUAD   2
#define QVP_SHAPE_SPHERE 3

/* A scene node, shared by every process on the scene. */
typedef struct QVS_NODE {
    int attrib;                 /* bit 0x1: hidden */
    /* host fields */
    char name[64];
    int parent;                 /* node index, or -1 */
    int shape;                  /* QVP_SHAPE_* */
    int layer;                  /* LAYER_BACKGROUND, _SCENE or _FOREGROUND */
    int type;                   /* type bits, copied to each display */
    double pos[3];
    double rot[3];              /* heading, pitch, roll in degrees */
    double size[3];
    float color[3];
} QVS_NODE;

/* The shared scene. It lives at the head of its own arena. */
typedef struct QVS_SCENE {
    QVS_SMHANDLE *arena;
    QVS_NODE *node_list;        /* indexed by node index */
    /* host fields */
    int node_count;
    int node_capacity;
    char name[64];
} QVS_SCENE;

/* A display's own state of one scene node. */
typedef struct QVS_LOCAL_NODE {
    int type;                   /* node type bits */
    int attrib;                 /* bit 0x1: hidden in this display */
} QVS_LOCAL_NODE;

/* A list of display node indices. */
typedef struct QVS_NODE_LIST {
    int node_count;
    int *node_list;
    /* host fields */
    int capacity;
} QVS_NODE_LIST;

typedef struct QVS_NODE_LAYER {
    QVS_NODE_LIST low_priority;
    QVS_NODE_LIST zero_priority;
    QVS_NODE_LIST high_priority;
} QVS_NODE_LAYER;

/* Node lists per drawing layer. */
typedef struct QVS_NODE_LAYERS {
    QVS_NODE_LAYER background;
    QVS_NODE_LAYER scene;
    QVS_NODE_LAYER foreground;
} QVS_NODE_LAYERS;

/* What the display rendered of one node in the current view. */
typedef struct QVS_GEOM_DATA {
    int node;
    int layer;
    int shape;
} QVS_GEOM_DATA;

typedef struct QVS_VIEWPORT {
    char name[80];
    int dw, dh;                 /* nominal size */
    int attrib;                 /* bit 0x1: switched off */
    int rx, ry, rw, rh;         /* rectangle in window pixels */
    float rleft, rright, rbottom, rtop, rnear;  /* frustum at near plane */
    struct QVS_VIEWPORT *pnext;
    /* host fields */
    float rfar;
    double eye[3], look[3], up[3];
    float clear[3];
    float fov[2];               /* horizontal, vertical degrees */
    int use_fov;                /* frustum from fov rather than rleft.. */
    int has_rect;               /* rx..rh given rather than whole channel */
    struct QVS_CHANNEL *channel;
} QVS_VIEWPORT;

typedef struct QVS_CHANNEL {
    QVS_VIEWPORT *cur_view;
    QVS_VIEWPORT *view_list;
    int dw, dh;                 /* nominal size */
    struct QVS_CHANNEL *pnext;
    /* host fields */
    char name[80];
} QVS_CHANNEL;

typedef struct QVS_DISPLAY {
    char name[80];
    QVS_CHANNEL *channel_list;
    int node_count;
    QVS_LOCAL_NODE *node_list;  /* indexed by node index */
    double run_time;
    /* host fields */
    int width, height;
    int double_precision;
    int frame_count;
    double time_step;           /* run_time step per frame */
    int real_time;              /* run_time follows the clock */
} QVS_DISPLAY;

#ifdef __cplusplus
}
#endif

#endif
