/* dc_glstate.h - the GL state the plugin filters and the way it submits
 * primitives (gl_state.cpp): the drawing state canvases draw in, the
 * colour, font filters and stencil marks it remembers inside it, the
 * named state steps the canvas and offscreen passes take, and the one
 * reused vertex array every primitive is drawn from. Every remembered
 * value is forgotten where GL may have changed behind it: at each push
 * and pop of the drawing state and at every hand-over to the host. */
#ifndef DC_GLSTATE_H
#define DC_GLSTATE_H

#include "dc_services.h"

/* ---- the drawing state ---- */

/* Open frames and fonts: the first opens the host drawing state (pushed,
 * lighting and culling off, textures and source-alpha blending on), the
 * last closes it. DrawingStateDepth: how many are open. */
void OpenDrawingState(void);
void CloseDrawingState(void);
int DrawingStateDepth(void);

/* The current GL colour as the plugin last set it: inside an open
 * drawing state, where no host code runs, a colour equal to it is not
 * sent again (each glColor outside glBegin costs Mesa a flush). Outside
 * it every colour is sent. ForgetColour: GL's colour may differ now. */
void SetColour(float r, float g, float b, float a);
void ForgetColour(void);

/* Every 2-D texture bind of the plugin: inside a drawing state the
 * display's shadow knows the bound texture and sends no bind of it. */
inline void BindTexture2D(GLuint tex) { QVF_StateBindTexture2D(tex); }

/* Font texture filters, the texture's own state, which no pop of a
 * drawing state gives back, so kept across drawing states.
 * SetFontFilters: gives the bound font texture TEX the smooth (trilinear
 * and linear) or sharp (nearest) filters unless it has them already; TEX
 * 0 sets them and remembers nothing. KnownFontFilters: 1 with *SMOOTH set
 * when TEX's filters are known. NoteFontFilters: TEX has the filters
 * MIN and MAG (remembered when they are one of the two pairs).
 * ForgetFontFilters: a texture was uploaded afresh. */
void SetFontFilters(GLuint tex, int smooth);
int KnownFontFilters(GLuint tex, int *smooth);
void NoteFontFilters(GLuint tex, GLint min, GLint mag);
void ForgetFontFilters(void);

/* ---- stencil and depth steps of the canvas passes ---- */

/* The last stencil value a layer-pass canvas marked with since the
 * stencil was last cleared by the plugin; 0 when the stencil may hold
 * anything (ForgetStencil: after every hand-over to the host, which may
 * clear or draw into it, and after the view pass's marks). */
int StencilMark(void);
void SetStencilMark(int ref);
void ForgetStencil(void);

/* The host's own step of the phase in progress (QVF_ExecuteCore), after
 * which the stencil is not the plugin's any more. */
void ExecuteCoreForgettingStencil(void);

/* StencilWrites: the stencil test on, what is drawn next writes REF
 * (MASK on the test) wherever it lands; CLEAR_FIRST clears the stencil
 * to 0 before. StencilConfines: what is drawn next lands only where the
 * stencil holds REF, leaving it as it is. */
void StencilWrites(GLint ref, GLuint mask, int clear_first);
void StencilConfines(GLint ref);

/* DepthTested: the depth test on with LEQUAL, depth writes as WRITES.
 * DepthAndStencilOff: neither test, no depth writes. */
void DepthTested(int writes);
void DepthAndStencilOff(void);

/* Colour writes on or off; ColourWritesNoAlpha keeps the alpha channel
 * (a double-buffered display's alpha is its own). */
void ColourWrites(int on);
void ColourWritesNoAlpha(void);

/* ---- offscreen targets ---- */

/* What drawing into an offscreen texture changes and gives back: the
 * matrices, the bound framebuffers and the viewport. */
typedef struct QVP_GL_TARGET {
    GLfloat mview[16], proj[16];
    GLint draw_fbo, read_fbo;
    GLint view[4];
} QVP_GL_TARGET;

/* Saves the target into *SAVED and makes FBO (colour attachment TEX,
 * W x H texels) the target, with a unit orthographic projection (0..1 on
 * both axes) and the plain state a texture pass draws in: no lighting,
 * texturing, alpha, scissor, culling, stencil, blending or depth. */
void TargetTexture(QVP_GL_TARGET *saved, GLuint fbo, GLuint tex, int w, int h);
/* Gives back the matrices, framebuffers and viewport of SAVED. */
void TargetRestore(const QVP_GL_TARGET *saved);

/* ---- submission ---- */

/* Primitives from one reused vertex array, no GL call per vertex:
 * VertexBegin starts one (TEXTURED: each vertex takes the coordinate
 * VertexTexCoord set last), VertexAt adds vertices, and VertexEnd draws
 * them with one glDrawArrays in MODE, leaving the client arrays
 * disabled. A primitive that finds no memory is logged and not drawn.
 * Never between glBegin and glEnd. */
void VertexBegin(int textured);
void VertexTexCoord(float s, float t);
void VertexAt(float x, float y, float z);
void VertexEnd(GLenum mode);

/* Forgets every remembered value and closes the drawing-state count (a
 * new context); frees the vertex array. */
void ResetGLState(void);

#endif
