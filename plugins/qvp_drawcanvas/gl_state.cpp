// gl_state.cpp - the GL state the plugin filters and its submission of
// primitives: the drawing state every canvas draws in, the values
// remembered inside it (colour, font filters, stencil marks), the named
// state steps of the canvas and offscreen passes, and the one vertex
// array shapes, media quads and sphere patches are drawn from. GL state
// changes go through the display's QVF_State* setters, whose shadow
// filters what is already set; what the shadow does not cover (the
// colour inside a drawing state, texture filters, stencil contents) is
// remembered here and nowhere else.
#include <stdlib.h>
#include <string.h>

#include "dc_services.h"
#include "dc_glstate.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"

namespace {

// Open glFontBegin and glFontDisplay2DBegin calls; the first opens a host
// drawing state and the last closes it. Kept by Open/CloseDrawingState.
int g_depth = 0;

// The colour SetColour sent last, and whether it is still GL's; set by
// SetColour, forgotten at the push that opens a drawing state. Only read
// inside one: outside it, where the pop has given back a colour the
// plugin did not set and host code runs, every colour is sent.
float g_colour[4] = {0, 0, 0, 0};
bool g_colour_known = false;

// The font texture whose filters were set or read last and whether they
// were the smooth ones; set by SetFontFilters and NoteFontFilters,
// forgotten by ForgetFontFilters (a font's upload) and ResetGLState.
GLuint g_filtered_tex = 0;
bool g_filtered_smooth = false;

// The last stencil value a layer-pass canvas marked with; set by the
// layer passes through SetStencilMark, 0 after ForgetStencil.
int g_stencil_mark = 0;

}  // namespace

void OpenDrawingState(void) {
    if (g_depth == 0) {
        QVF_PushDrawingState();
        g_colour_known = false;
        QVF_StateEnable(GL_LIGHTING, 0);
        QVF_StateEnable(GL_TEXTURE_2D, 1);
        QVF_StateBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        QVF_StateEnable(GL_BLEND, 1);
        QVF_StateEnable(GL_CULL_FACE, 0);
    }
    g_depth++;
}

void CloseDrawingState(void) {
    g_depth--;
    if (g_depth == 0) QVF_PopDrawingState();
}

int DrawingStateDepth(void) { return g_depth; }

void SetColour(float r, float g, float b, float a) {
    if (g_colour_known && g_depth > 0 && g_colour[0] == r && g_colour[1] == g && g_colour[2] == b && g_colour[3] == a)
        return;
    QVF_StateColor4f(r, g, b, a);
    g_colour[0] = r, g_colour[1] = g, g_colour[2] = b, g_colour[3] = a;
    g_colour_known = true;
}

void ForgetColour(void) { g_colour_known = false; }

void SetFontFilters(GLuint tex, int smooth) {
    if (tex && tex == g_filtered_tex && (smooth != 0) == g_filtered_smooth) return;
    GLfloat mag = smooth ? GL_LINEAR : GL_NEAREST;
    GLfloat min = smooth ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST;
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
    g_filtered_tex = tex;
    g_filtered_smooth = smooth != 0;
}

int KnownFontFilters(GLuint tex, int *smooth) {
    if (!tex || tex != g_filtered_tex) return 0;
    *smooth = g_filtered_smooth;
    return 1;
}

void NoteFontFilters(GLuint tex, GLint min, GLint mag) {
    bool smooth = min == GL_LINEAR_MIPMAP_LINEAR && mag == GL_LINEAR;
    bool sharp = min == GL_NEAREST_MIPMAP_NEAREST && mag == GL_NEAREST;
    if (!smooth && !sharp) return;
    g_filtered_tex = tex;
    g_filtered_smooth = smooth;
}

void ForgetFontFilters(void) { g_filtered_tex = 0; }

int StencilMark(void) { return g_stencil_mark; }
void SetStencilMark(int ref) { g_stencil_mark = ref; }
void ForgetStencil(void) { g_stencil_mark = 0; }

void ExecuteCoreForgettingStencil(void) {
    QVF_ExecuteCore();
    ForgetStencil();
}

void StencilWrites(GLint ref, GLuint mask, int clear_first) {
    QVF_StateEnable(GL_STENCIL_TEST, 1);
    if (clear_first) {
        QVF_StateClearStencil(0);
        glClear(GL_STENCIL_BUFFER_BIT);
    }
    QVF_StateStencilFunc(GL_ALWAYS, ref, mask);
    QVF_StateStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
}

void StencilConfines(GLint ref) {
    QVF_StateStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    QVF_StateStencilFunc(GL_EQUAL, ref, 0xff);
}

void DepthTested(int writes) {
    QVF_StateDepthFunc(GL_LEQUAL);
    QVF_StateEnable(GL_DEPTH_TEST, 1);
    QVF_StateDepthMask(writes ? 1 : 0);
}

void DepthAndStencilOff(void) {
    QVF_StateEnable(GL_STENCIL_TEST, 0);
    QVF_StateEnable(GL_DEPTH_TEST, 0);
    QVF_StateDepthMask(0);
}

void ColourWrites(int on) {
    GLboolean b = on ? 1 : 0;
    QVF_StateColorMask(b, b, b, b);
}

void ColourWritesNoAlpha(void) { QVF_StateColorMask(1, 1, 1, 0); }

void TargetTexture(QVP_GL_TARGET *saved, GLuint fbo, GLuint tex, int w, int h) {
    glGetFloatv(GL_MODELVIEW_MATRIX, saved->mview);
    glGetFloatv(GL_PROJECTION_MATRIX, saved->proj);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING_EXT, &saved->draw_fbo);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &saved->read_fbo);
    glGetIntegerv(GL_VIEWPORT, saved->view);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    TARN_glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, fbo);
    TARN_glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, tex, 0);
    QVF_StateEnable(GL_LIGHTING, 0);
    QVF_StateEnable(GL_TEXTURE_2D, 0);
    QVF_StateEnable(GL_ALPHA_TEST, 0);
    QVF_StateEnable(GL_SCISSOR_TEST, 0);
    QVF_StateEnable(GL_CULL_FACE, 0);
    QVF_StateEnable(GL_BLEND, 0);
    DepthAndStencilOff();
    ColourWrites(1);
    QVF_StateViewport(0, 0, w, h);
}

void TargetRestore(const QVP_GL_TARGET *saved) {
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(saved->proj);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(saved->mview);
    TARN_glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, (GLuint)saved->draw_fbo);
    TARN_glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, (GLuint)saved->read_fbo);
    QVF_StateViewport(saved->view[0], saved->view[1], saved->view[2], saved->view[3]);
}

namespace {

// The vertex array every primitive is written into: GL_T2F_V3F vertices
// when textured, GL_V3F otherwise. Grown by room_for (never shrunk) and
// kept for the process; emptied by VertexBegin, drawn by VertexEnd.
float *g_verts = nullptr;
int g_vert_cap = 0;        // vertices of the widest format it holds
int g_vert_n = 0;
bool g_textured = false;   // the primitive being written has coordinates
bool g_overflow = false;   // a vertex found no room: the primitive is dropped
float g_s = 0, g_t = 0;    // the texture coordinate of the next vertex

float *room_for() {
    if (g_vert_n >= g_vert_cap) {
        if (g_overflow || g_vert_cap > (1 << 24)) {
            g_overflow = true;
            return nullptr;
        }
        int cap = g_vert_cap ? 2 * g_vert_cap : 1024;
        void *grown = PluginRealloc(g_verts, sizeof(float) * 5 * (size_t)cap);
        if (!grown) {
            g_overflow = true;
            return nullptr;
        }
        g_verts = (float *)grown;
        g_vert_cap = cap;
    }
    return g_verts + (size_t)g_vert_n++ * (g_textured ? 5 : 3);
}

}  // namespace

void VertexBegin(int textured) {
    g_vert_n = 0;
    g_textured = textured != 0;
    g_overflow = false;
}

void VertexTexCoord(float s, float t) {
    g_s = s;
    g_t = t;
}

void VertexAt(float x, float y, float z) {
    float *v = room_for();
    if (!v) return;
    if (g_textured) {
        *v++ = g_s;
        *v++ = g_t;
    }
    v[0] = x, v[1] = y, v[2] = z;
}

void VertexEnd(GLenum mode) {
    if (g_overflow) {
        QVF_LogWarningF("out of memory for a shape's vertices: the shape is not drawn", QVP_SOURCE, __LINE__);
    } else if (g_vert_n > 0) {
        QVF_StateInterleavedArrays(g_textured ? GL_T2F_V3F : GL_V3F, 0, g_verts);
        glDrawArrays(mode, 0, g_vert_n);
        QVF_StateClientArray(GL_VERTEX_ARRAY, 0);
        if (g_textured) QVF_StateClientArray(GL_TEXTURE_COORD_ARRAY, 0);
    }
    g_vert_n = 0;
}

void ResetGLState(void) {
    g_depth = 0;
    g_colour_known = false;
    g_filtered_tex = 0;
    g_stencil_mark = 0;
    free(g_verts);
    g_verts = nullptr;
    g_vert_cap = g_vert_n = 0;
}
