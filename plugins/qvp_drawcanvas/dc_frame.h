/* dc_frame.h - the canvas frame stack (canvas_frame.cpp): the drawing
 * state the plugin opens, the frames of columns and rows text and shapes
 * are laid out in, and the one reused vertex array every primitive is
 * drawn from. */
#ifndef DC_FRAME_H
#define DC_FRAME_H

#include "dc_services.h"

/* ---- the canvas frame stack (canvas_frame.cpp) ---- */

/* Open frames and fonts: the first opens the host drawing state (pushed,
 * lighting and culling off, textures and source-alpha blending on), the
 * last closes it. */
extern int set_drawing_state;
void OpenDrawingState(void);
void CloseDrawingState(void);

/* The innermost open frame's display definition (null when none) and
 * its column and row steps. */
extern QVP_CANVAS_DISPLAYDEF *pdispdef;
extern double gldcol[3];
extern double gldrow[3];

/* Opens a canvas frame over any open one; closes the innermost; issues
 * the vertex at column C, row R of the innermost. */
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows);
void glFontDisplay2DEnd(void);
void glColRow(double c, double r);

/* Primitives from one reused vertex array, no GL call per vertex:
 * VertexBegin starts one (TEXTURED: each vertex takes the coordinate
 * VertexTexCoord set last), VertexAt and VertexColRow (column C, row R of
 * the innermost frame, as glColRow would issue it) add vertices, and
 * VertexEnd draws them with one glDrawArrays in MODE, leaving the client
 * arrays disabled. A primitive that finds no memory is logged and not
 * drawn. Never between glBegin and glEnd. */
void VertexBegin(int textured);
void VertexTexCoord(float s, float t);
void VertexAt(float x, float y, float z);
void VertexColRow(double c, double r);
void VertexEnd(GLenum mode);

/* Closes every frame and the drawing state count (a new context), and
 * frees the vertex array. */
void ResetCanvasFrames(void);

#endif
