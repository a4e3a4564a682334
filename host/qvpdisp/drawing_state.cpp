// drawing_state.cpp - the drawing-state stack and the setters that keep
// its shadow of GL state.
//
// A drawing state saves the groups of GL state that canvases change
// (enables, blending, colour writes, depth, stencil, the bound 2-D
// texture and its environment, viewport, scissor, line width, the
// current colour, unpacking and the client arrays, the matrices) and
// gives them back at its pop. It does so without GL's attribute stack:
// the display keeps a shadow of those groups, read from GL at every
// push that opens the outermost state and kept up to date by the
// QVF_State* setters. A push copies the shadow; a pop sends GL only what
// differs from the copy. So inside a drawing state every change of a
// shadowed group must go through a setter: a plain glEnable there is not
// seen and is not undone. QVH_SetDrawingStateCheck (or the environment
// variable QVP_CHECK_DRAWING_STATE=1) compares the shadow with GL at
// every pop and logs what went round the setters.
//
// Not saved, as before: lights, fog, texture coordinate generation,
// points, polygon modes and stipples, the parameters of texture objects
// (they belong to the texture, not to the drawing) and the client
// arrays' pointers (the arrays that were on at the push are on at the
// pop; whoever turns one on points it first).
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "display_internal.h"
#include "qvp_externs.h"
#include "qvpdisp_host.h"

namespace {

const char *const kSrc = "qvpdisp";

// The capabilities the shadow follows; any other cap given to
// QVF_StateEnable goes straight to GL and is not saved.
const GLenum kCaps[] = {GL_BLEND,        GL_DEPTH_TEST,    GL_STENCIL_TEST, GL_TEXTURE_2D,
                        GL_ALPHA_TEST,   GL_CULL_FACE,     GL_SCISSOR_TEST, GL_LIGHTING,
                        GL_LINE_SMOOTH,  GL_POLYGON_OFFSET_FILL};
const char *const kCapNames[] = {"GL_BLEND",        "GL_DEPTH_TEST", "GL_STENCIL_TEST", "GL_TEXTURE_2D",
                                 "GL_ALPHA_TEST",   "GL_CULL_FACE",  "GL_SCISSOR_TEST", "GL_LIGHTING",
                                 "GL_LINE_SMOOTH",  "GL_POLYGON_OFFSET_FILL"};
const int kCapCount = (int)(sizeof kCaps / sizeof kCaps[0]);
static_assert(sizeof kCapNames / sizeof kCapNames[0] == sizeof kCaps / sizeof kCaps[0], "a name for each cap");

// The client arrays the shadow follows, one bit each.
const GLenum kArrays[] = {GL_VERTEX_ARRAY, GL_TEXTURE_COORD_ARRAY, GL_COLOR_ARRAY, GL_NORMAL_ARRAY};
const int kArrayCount = 4;

struct Shadow {
    unsigned enables;  // bit i: kCaps[i] is on
    GLint blend_src, blend_dst;
    GLboolean colour_mask[4];
    GLint depth_func;
    GLboolean depth_mask;
    GLint stencil_func, stencil_ref, stencil_value_mask;
    GLint stencil_fail, stencil_zfail, stencil_zpass;
    GLint clear_stencil;
    GLint tex_env_mode;
    GLint texture_2d;
    GLint viewport[4], scissor[4];
    GLfloat line_width;
    GLint unpack_alignment, unpack_row_length;
    unsigned arrays;  // bit i: kArrays[i] is on
};

// One pushed drawing state: the shadow and the matrices at its push.
struct Saved {
    Shadow state;
    // The current colour is read at every push and given back at every
    // pop, not shadowed: drawing with a colour array leaves it undefined,
    // and a glFont caller sets it between glFontBegin and glFontEnd.
    GLfloat colour[4];
    GLint matrix_mode;
    double mv[16], pr[16], tx[16];
};

// Drawing states nest at most this deep; a push past it is logged, saves
// nothing, and its pop gives nothing back. Canvases nest far less deep
// (the nested-canvas depth is bounded well below this).
constexpr int kMaxDepth = 64;

// The state GL holds now as the setters know it; valid while g_depth > 0
// (read from GL by the outermost push, kept by the setters).
Shadow g_now;
// The saved states, g_stack[0..g_depth-1]; set by the pushes.
Saved g_stack[kMaxDepth];
int g_depth = 0;
// Pushes past kMaxDepth not yet popped; set by the pushes and pops.
int g_overflow = 0;
// 1 while every pop compares the shadow with GL (QVH_SetDrawingStateCheck,
// or QVP_CHECK_DRAWING_STATE=1 read at the first push); -1 until read.
int g_check = -1;
// Differences the check found since the display opened.
long g_mismatches = 0;

void read_gl(Shadow &s) {
    memset(&s, 0, sizeof s);
    for (int i = 0; i < kCapCount; i++)
        if (glIsEnabled(kCaps[i])) s.enables |= 1u << i;
    glGetIntegerv(GL_BLEND_SRC_RGB, &s.blend_src);
    glGetIntegerv(GL_BLEND_DST_RGB, &s.blend_dst);
    glGetBooleanv(GL_COLOR_WRITEMASK, s.colour_mask);
    glGetIntegerv(GL_DEPTH_FUNC, &s.depth_func);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &s.depth_mask);
    glGetIntegerv(GL_STENCIL_FUNC, &s.stencil_func);
    glGetIntegerv(GL_STENCIL_REF, &s.stencil_ref);
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &s.stencil_value_mask);
    glGetIntegerv(GL_STENCIL_FAIL, &s.stencil_fail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &s.stencil_zfail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &s.stencil_zpass);
    glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &s.clear_stencil);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &s.tex_env_mode);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.texture_2d);
    glGetIntegerv(GL_VIEWPORT, s.viewport);
    glGetIntegerv(GL_SCISSOR_BOX, s.scissor);
    glGetFloatv(GL_LINE_WIDTH, &s.line_width);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &s.unpack_alignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &s.unpack_row_length);
    for (int i = 0; i < kArrayCount; i++)
        if (glIsEnabled(kArrays[i])) s.arrays |= 1u << i;
}

// The place of E among the N names of LIST, or -1.
int index_of(const GLenum *list, int n, GLenum e) {
    for (int i = 0; i < n; i++)
        if (list[i] == e) return i;
    return -1;
}

// Sends GL every group where TO differs from g_now, leaving g_now == TO.
void restore(const Shadow &to) {
    Shadow &s = g_now;
    if (unsigned d = s.enables ^ to.enables) {
        for (int i = 0; i < kCapCount; i++)
            if (d & (1u << i)) (to.enables & (1u << i)) ? glEnable(kCaps[i]) : glDisable(kCaps[i]);
    }
    if (s.blend_src != to.blend_src || s.blend_dst != to.blend_dst) glBlendFunc(to.blend_src, to.blend_dst);
    if (memcmp(s.colour_mask, to.colour_mask, sizeof s.colour_mask) != 0)
        glColorMask(to.colour_mask[0], to.colour_mask[1], to.colour_mask[2], to.colour_mask[3]);
    if (s.depth_func != to.depth_func) glDepthFunc(to.depth_func);
    if (s.depth_mask != to.depth_mask) glDepthMask(to.depth_mask);
    if (s.stencil_func != to.stencil_func || s.stencil_ref != to.stencil_ref ||
        s.stencil_value_mask != to.stencil_value_mask)
        glStencilFunc(to.stencil_func, to.stencil_ref, (GLuint)to.stencil_value_mask);
    if (s.stencil_fail != to.stencil_fail || s.stencil_zfail != to.stencil_zfail || s.stencil_zpass != to.stencil_zpass)
        glStencilOp(to.stencil_fail, to.stencil_zfail, to.stencil_zpass);
    if (s.clear_stencil != to.clear_stencil) glClearStencil(to.clear_stencil);
    if (s.tex_env_mode != to.tex_env_mode) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, to.tex_env_mode);
    if (s.texture_2d != to.texture_2d) glBindTexture(GL_TEXTURE_2D, (GLuint)to.texture_2d);
    if (memcmp(s.viewport, to.viewport, sizeof s.viewport) != 0)
        glViewport(to.viewport[0], to.viewport[1], to.viewport[2], to.viewport[3]);
    if (memcmp(s.scissor, to.scissor, sizeof s.scissor) != 0)
        glScissor(to.scissor[0], to.scissor[1], to.scissor[2], to.scissor[3]);
    if (s.line_width != to.line_width) glLineWidth(to.line_width);
    if (s.unpack_alignment != to.unpack_alignment) glPixelStorei(GL_UNPACK_ALIGNMENT, to.unpack_alignment);
    if (s.unpack_row_length != to.unpack_row_length) glPixelStorei(GL_UNPACK_ROW_LENGTH, to.unpack_row_length);
    if (unsigned d = s.arrays ^ to.arrays) {
        for (int i = 0; i < kArrayCount; i++)
            if (d & (1u << i))
                (to.arrays & (1u << i)) ? glEnableClientState(kArrays[i]) : glDisableClientState(kArrays[i]);
    }
    s = to;
}

// Logs each group where GL differs from the shadow, with WHEN ("at a pop"),
// and counts them; returns how many differ.
int compare_with_gl(const char *when) {
    Shadow gl;
    read_gl(gl);
    const Shadow &s = g_now;
    int n = 0;
    auto report = [&](const char *what) {
        char msg[200];
        snprintf(msg, sizeof msg, "drawing state %s: %s differs from what the QVF_State setters left (a GL call went round them)",
                 when, what);
        QVF_LogWarningF(msg, kSrc, __LINE__);
        n++;
    };
    for (int i = 0; i < kCapCount; i++)
        if ((s.enables ^ gl.enables) & (1u << i)) report(kCapNames[i]);
    if (s.blend_src != gl.blend_src || s.blend_dst != gl.blend_dst) report("the blend function");
    if (memcmp(s.colour_mask, gl.colour_mask, sizeof s.colour_mask) != 0) report("the colour mask");
    if (s.depth_func != gl.depth_func) report("the depth function");
    if (s.depth_mask != gl.depth_mask) report("the depth mask");
    if (s.stencil_func != gl.stencil_func || s.stencil_ref != gl.stencil_ref ||
        s.stencil_value_mask != gl.stencil_value_mask)
        report("the stencil function");
    if (s.stencil_fail != gl.stencil_fail || s.stencil_zfail != gl.stencil_zfail || s.stencil_zpass != gl.stencil_zpass)
        report("the stencil operations");
    if (s.clear_stencil != gl.clear_stencil) report("the stencil clear value");
    if (s.tex_env_mode != gl.tex_env_mode) report("the texture environment mode");
    if (s.texture_2d != gl.texture_2d) report("the bound 2-D texture");
    if (memcmp(s.viewport, gl.viewport, sizeof s.viewport) != 0) report("the viewport");
    if (memcmp(s.scissor, gl.scissor, sizeof s.scissor) != 0) report("the scissor box");
    if (s.line_width != gl.line_width) report("the line width");
    if (s.unpack_alignment != gl.unpack_alignment || s.unpack_row_length != gl.unpack_row_length)
        report("the unpacking");
    if (s.arrays != gl.arrays) report("the client arrays");
    g_mismatches += n;
    return n;
}

// 1 when a setter may skip a change the shadow already holds: only inside
// a drawing state, where the shadow is GL's state.
inline bool shadow_holds() { return g_depth > 0 && g_overflow == 0; }

// Sets bit I (when I >= 0) of shadow bits BITS to ON; false when the
// shadow already held it, so that there is nothing to send.
bool set_bit(unsigned &bits, int i, int on) {
    if (i < 0) return true;
    unsigned bit = 1u << i;
    if (shadow_holds() && ((bits & bit) != 0) == (on != 0)) return false;
    bits = on ? bits | bit : bits & ~bit;
    return true;
}

}  // namespace

/* ---- the stack ---- */

extern "C" void QVF_PushDrawingState(void) {
    if (g_check < 0) {
        const char *e = getenv("QVP_CHECK_DRAWING_STATE");
        g_check = e && *e && strcmp(e, "0") != 0;
    }
    if (g_depth >= kMaxDepth) {
        if (g_overflow++ == 0)
            QVF_LogWarningF("QVF_PushDrawingState: drawing states nested past 64 deep; the state is not saved", kSrc,
                            __LINE__);
        return;
    }
    // The outermost push learns GL's state: outside a drawing state
    // anyone may have changed it.
    if (g_depth == 0) read_gl(g_now);
    Saved &s = g_stack[g_depth++];
    s.state = g_now;
    glGetFloatv(GL_CURRENT_COLOR, s.colour);
    glGetIntegerv(GL_MATRIX_MODE, &s.matrix_mode);
    glGetDoublev(GL_MODELVIEW_MATRIX, s.mv);
    glGetDoublev(GL_PROJECTION_MATRIX, s.pr);
    glGetDoublev(GL_TEXTURE_MATRIX, s.tx);
}

extern "C" void QVF_PopDrawingState(void) {
    if (g_overflow > 0) {
        g_overflow--;
        return;
    }
    if (g_depth == 0) {
        QVF_LogWarningF("QVF_PopDrawingState without a matching push", kSrc, __LINE__);
        return;
    }
    if (g_check > 0) compare_with_gl("at a pop");
    const Saved &s = g_stack[g_depth - 1];
    restore(s.state);
    glColor4fv(s.colour);
    // Only the matrices that changed are loaded again: each load makes GL
    // validate its transform state anew at the next draw.
    struct {
        GLenum mode, get;
        const double *saved;
    } m[3] = {{GL_TEXTURE, GL_TEXTURE_MATRIX, s.tx}, {GL_PROJECTION, GL_PROJECTION_MATRIX, s.pr},
              {GL_MODELVIEW, GL_MODELVIEW_MATRIX, s.mv}};
    for (auto &k : m) {
        double now[16];
        glGetDoublev(k.get, now);
        if (memcmp(now, k.saved, sizeof now) == 0) continue;
        glMatrixMode(k.mode);
        glLoadMatrixd(k.saved);
    }
    glMatrixMode((GLenum)s.matrix_mode);
    g_depth--;
    if (g_check > 0 && compare_with_gl("after a pop") > 0)
        QVF_LogWarningF("drawing state: the pop did not give back the state of its push", kSrc, __LINE__);
}

extern "C" int QVH_DrawingStateDepth(void) { return g_depth + g_overflow; }

extern "C" void QVH_SetDrawingStateCheck(int on) { g_check = on != 0; }

extern "C" long QVH_DrawingStateMismatches(void) { return g_mismatches; }

void qvpdisp::reset_drawing_state() {
    g_depth = 0;
    g_overflow = 0;
    g_mismatches = 0;
}

/* ---- the setters ---- */

extern "C" void QVF_StateEnable(unsigned cap, int on) {
    if (!set_bit(g_now.enables, index_of(kCaps, kCapCount, cap), on)) return;
    on ? glEnable(cap) : glDisable(cap);
}

extern "C" void QVF_StateBlendFunc(unsigned src, unsigned dst) {
    if (shadow_holds() && g_now.blend_src == (GLint)src && g_now.blend_dst == (GLint)dst) return;
    g_now.blend_src = (GLint)src, g_now.blend_dst = (GLint)dst;
    glBlendFunc(src, dst);
}

extern "C" void QVF_StateColorMask(int r, int g, int b, int a) {
    GLboolean m[4] = {(GLboolean)(r != 0), (GLboolean)(g != 0), (GLboolean)(b != 0), (GLboolean)(a != 0)};
    if (shadow_holds() && memcmp(m, g_now.colour_mask, sizeof m) == 0) return;
    memcpy(g_now.colour_mask, m, sizeof m);
    glColorMask(m[0], m[1], m[2], m[3]);
}

extern "C" void QVF_StateDepthFunc(unsigned func) {
    if (shadow_holds() && g_now.depth_func == (GLint)func) return;
    g_now.depth_func = (GLint)func;
    glDepthFunc(func);
}

extern "C" void QVF_StateDepthMask(int on) {
    GLboolean m = on != 0;
    if (shadow_holds() && g_now.depth_mask == m) return;
    g_now.depth_mask = m;
    glDepthMask(m);
}

extern "C" void QVF_StateStencilFunc(unsigned func, int ref, unsigned mask) {
    if (shadow_holds() && g_now.stencil_func == (GLint)func && g_now.stencil_ref == ref &&
        g_now.stencil_value_mask == (GLint)mask)
        return;
    g_now.stencil_func = (GLint)func, g_now.stencil_ref = ref, g_now.stencil_value_mask = (GLint)mask;
    glStencilFunc(func, ref, mask);
}

extern "C" void QVF_StateStencilOp(unsigned fail, unsigned zfail, unsigned zpass) {
    if (shadow_holds() && g_now.stencil_fail == (GLint)fail && g_now.stencil_zfail == (GLint)zfail &&
        g_now.stencil_zpass == (GLint)zpass)
        return;
    g_now.stencil_fail = (GLint)fail, g_now.stencil_zfail = (GLint)zfail, g_now.stencil_zpass = (GLint)zpass;
    glStencilOp(fail, zfail, zpass);
}

extern "C" void QVF_StateClearStencil(int s) {
    if (shadow_holds() && g_now.clear_stencil == s) return;
    g_now.clear_stencil = s;
    glClearStencil(s);
}

extern "C" void QVF_StateTexEnvMode(unsigned mode) {
    if (shadow_holds() && g_now.tex_env_mode == (GLint)mode) return;
    g_now.tex_env_mode = (GLint)mode;
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, (GLint)mode);
}

extern "C" void QVF_StateBindTexture2D(unsigned tex) {
    if (shadow_holds() && g_now.texture_2d == (GLint)tex) return;
    g_now.texture_2d = (GLint)tex;
    glBindTexture(GL_TEXTURE_2D, tex);
}

extern "C" void QVF_StateViewport(int x, int y, int w, int h) {
    if (shadow_holds() && g_now.viewport[0] == x && g_now.viewport[1] == y && g_now.viewport[2] == w &&
        g_now.viewport[3] == h)
        return;
    g_now.viewport[0] = x, g_now.viewport[1] = y, g_now.viewport[2] = w, g_now.viewport[3] = h;
    glViewport(x, y, w, h);
}

extern "C" void QVF_StateScissor(int x, int y, int w, int h) {
    if (shadow_holds() && g_now.scissor[0] == x && g_now.scissor[1] == y && g_now.scissor[2] == w &&
        g_now.scissor[3] == h)
        return;
    g_now.scissor[0] = x, g_now.scissor[1] = y, g_now.scissor[2] = w, g_now.scissor[3] = h;
    glScissor(x, y, w, h);
}

extern "C" void QVF_StateLineWidth(float w) {
    if (shadow_holds() && g_now.line_width == w) return;
    g_now.line_width = w;
    glLineWidth(w);
}

extern "C" void QVF_StateColor4f(float r, float g, float b, float a) { glColor4f(r, g, b, a); }

extern "C" void QVF_StatePixelStore(unsigned pname, int value) {
    GLint *field = pname == GL_UNPACK_ALIGNMENT    ? &g_now.unpack_alignment
                   : pname == GL_UNPACK_ROW_LENGTH ? &g_now.unpack_row_length
                                                   : nullptr;
    if (field) {
        if (shadow_holds() && *field == value) return;
        *field = value;
    }
    glPixelStorei(pname, value);
}

extern "C" void QVF_StateClientArray(unsigned array, int on) {
    if (!set_bit(g_now.arrays, index_of(kArrays, kArrayCount, array), on)) return;
    on ? glEnableClientState(array) : glDisableClientState(array);
}

extern "C" void QVF_StateInterleavedArrays(unsigned format, int stride, const void *pointer) {
    // glInterleavedArrays turns the vertex array on and the colour,
    // normal and texture coordinate arrays on or off by the format.
    unsigned on = 1u << 0;
    switch (format) {
    case GL_T2F_V3F: case GL_T4F_V4F: case GL_T2F_N3F_V3F: on |= 1u << 1; break;
    case GL_C4UB_V2F: case GL_C4UB_V3F: case GL_C3F_V3F: on |= 1u << 2; break;
    case GL_N3F_V3F: on |= 1u << 3; break;
    case GL_C4F_N3F_V3F: on |= 1u << 2 | 1u << 3; break;
    case GL_T2F_C4UB_V3F: case GL_T2F_C3F_V3F: on |= 1u << 1 | 1u << 2; break;
    case GL_T2F_C4F_N3F_V3F: case GL_T4F_C4F_N3F_V4F: on |= 1u << 1 | 1u << 2 | 1u << 3; break;
    case GL_V2F: case GL_V3F: break;
    default: glInterleavedArrays(format, stride, pointer); return;  // GL refuses it and changes nothing
    }
    glInterleavedArrays(format, stride, pointer);
    g_now.arrays = on;
}
