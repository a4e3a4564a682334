/* qvp_defs.h - basic types and codes of the host framework. */
#ifndef QVP_DEFS_H
#define QVP_DEFS_H

/* A module handle, as returned by the platform's loader. */
typedef void *QVT_HANDLE;

/* A 4x4 single-precision matrix in the order glLoadMatrixf reads it:
 * m[3] holds the translation, and A*B applies A first. */
typedef float QVT_MATRIX[4][4];

/* Double twin of QVT_MATRIX, laid out for glLoadMatrixd. */
typedef double QVT_DMATRIX[4][4];

/* Phase codes under which plugins install frame callbacks. */
#define QVP_PHASE_UPDATE_SCENE     1
#define QVP_PHASE_UPDATE_VIEW      4
#define QVP_PHASE_UPDATE_CHANNEL   8
#define QVP_PHASE_DRAW_BACKGROUND  128
#define QVP_PHASE_DRAW_SCENE       256
#define QVP_PHASE_DRAW_FOREGROUND  512
#define QVP_PHASE_DRAW_VIEW        2048

/* Bit 0x1 of a node's or viewport's attrib: hidden or switched off. */
#define QVP_ATTRIB_HIDDEN 0x1

/* Longest name of a registered data block, terminator included. */
#define QVP_DATA_NAME_LEN 64

#endif
