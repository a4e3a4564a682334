/* dc_frame.h - the canvas frame stack (canvas_frame.cpp): the frames of
 * columns and rows text and shapes are laid out in. Opening one opens the
 * drawing state (dc_glstate.h). */
#ifndef DC_FRAME_H
#define DC_FRAME_H

#include "dc_services.h"
#include "dc_glstate.h"

/* ---- the canvas frame stack (canvas_frame.cpp) ---- */

/* The innermost open frame: 1 with its origin, column step and row step
 * written to ORG, COL and ROW; 0, with all three 0, when none is open. */
int InnermostFrame(double org[3], double col[3], double row[3]);

/* Opens a canvas frame over any open one; closes the innermost; issues
 * the vertex at column C, row R of the innermost. */
void glFontDisplay2DBegin(double *org, double *col_vec, double *row_vec, double ncols, double nrows);
void glFontDisplay2DEnd(void);
void glColRow(double c, double r);

/* Adds the vertex at column C, row R of the innermost frame to the
 * primitive being written (VertexBegin), as glColRow would issue it. */
void VertexColRow(double c, double r);

/* Closes every frame (a new context). */
void ResetCanvasFrames(void);

#endif
