// gl_floor.cpp - capture and replay of the GL floor (gl_floor.h).
#define GL_GLEXT_PROTOTYPES 1
#include "gl_floor.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "got_patch.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

/* ---- the states a primitive is drawn with ---- */

const GLenum kEnables[] = {GL_TEXTURE_2D, GL_BLEND,        GL_DEPTH_TEST, GL_STENCIL_TEST,
                           GL_ALPHA_TEST, GL_SCISSOR_TEST, GL_CULL_FACE,  GL_LIGHTING};
const int kEnableCount = (int)(sizeof kEnables / sizeof kEnables[0]);

// Every GL state the plugin sets, as read back from GL. Compared with
// memcmp, so it is always zeroed before it is filled.
struct State {
    unsigned enables;
    GLint blend[4];  // src rgb, dst rgb, src alpha, dst alpha
    GLint depth_func;
    GLboolean depth_mask, colour_mask[4];
    GLint stencil[7];  // func, ref, value mask, fail, depth fail, pass, write mask
    GLint alpha_func;
    GLfloat alpha_ref, line_width;
    GLint viewport[4], scissor[4];
    GLint draw_fbo, read_fbo, attachment;
    GLint texture, tex_env;
    GLint matrix_mode;
    GLfloat modelview[16], projection[16];
};

void read_state(State &s) {
    memset(&s, 0, sizeof s);
    for (int i = 0; i < kEnableCount; i++)
        if (glIsEnabled(kEnables[i])) s.enables |= 1u << i;
    glGetIntegerv(GL_BLEND_SRC_RGB, &s.blend[0]);
    glGetIntegerv(GL_BLEND_DST_RGB, &s.blend[1]);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &s.blend[2]);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &s.blend[3]);
    glGetIntegerv(GL_DEPTH_FUNC, &s.depth_func);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &s.depth_mask);
    glGetBooleanv(GL_COLOR_WRITEMASK, s.colour_mask);
    const GLenum st[7] = {GL_STENCIL_FUNC, GL_STENCIL_REF, GL_STENCIL_VALUE_MASK, GL_STENCIL_FAIL,
                          GL_STENCIL_PASS_DEPTH_FAIL, GL_STENCIL_PASS_DEPTH_PASS, GL_STENCIL_WRITEMASK};
    for (int i = 0; i < 7; i++) glGetIntegerv(st[i], &s.stencil[i]);
    glGetIntegerv(GL_ALPHA_TEST_FUNC, &s.alpha_func);
    glGetFloatv(GL_ALPHA_TEST_REF, &s.alpha_ref);
    glGetFloatv(GL_LINE_WIDTH, &s.line_width);
    glGetIntegerv(GL_VIEWPORT, s.viewport);
    glGetIntegerv(GL_SCISSOR_BOX, s.scissor);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &s.draw_fbo);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &s.read_fbo);
    if (s.draw_fbo)
        glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &s.attachment);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.texture);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &s.tex_env);
    glGetIntegerv(GL_MATRIX_MODE, &s.matrix_mode);
    glGetFloatv(GL_MODELVIEW_MATRIX, s.modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, s.projection);
}

/* ---- what a frame did ---- */

/* ---- what the plugin leaves the host to read ---- */

// The host data the plugin writes and the host's own steps read: node
// hidden bits, the layers of a window's node pass, the geometry table,
// and the layer bits. Captured at each hand-over so that the floor hands
// the host the same, and the host draws the same nodes.
struct HostData {
    QVS_NODE_LAYERS *layers;
    QVS_GEOM_DATA **geoms;
    int draw_layer, did_render, cleared_depth;
    std::vector<int> attribs;  // per display node
};

void read_host(HostData &h) {
    h.layers = QVV_node_layers;
    h.geoms = QVV_rendered_geoms;
    h.draw_layer = QVV_draw_layer;
    h.did_render = QVV_did_render;
    h.cleared_depth = QVV_cleared_depth;
    h.attribs.clear();
    for (int i = 0; QVV_display && i < QVV_display->node_count; i++) h.attribs.push_back(QVV_display->node_list[i].attrib);
}

void write_host(const HostData &h) {
    QVV_node_layers = h.layers;
    QVV_rendered_geoms = h.geoms;
    QVV_draw_layer = h.draw_layer;
    QVV_did_render = h.did_render;
    QVV_cleared_depth = h.cleared_depth;
    for (size_t i = 0; QVV_display && i < h.attribs.size() && (int)i < QVV_display->node_count; i++)
        QVV_display->node_list[i].attrib = h.attribs[i];
}

// The host data of each hand-over; filled while capturing, read by replays.
std::vector<HostData> g_host;

int add_host() {
    g_host.emplace_back();
    read_host(g_host.back());
    return (int)g_host.size() - 1;
}

enum Kind { ENTER, LEAVE, CORE, RESUME, DRAW, CLEAR, UPLOAD, CLEARZ, PUSH, POP };

struct Op {
    Kind kind;
    int phase;      // ENTER, LEAVE
    int state;      // index into g_states: the state the op needs (or, for ENTER and RESUME, finds)
    int host;       // CORE, LEAVE: index into g_host, what the host is handed
    GLenum mode;    // DRAW: the floor's primitive, GL_TRIANGLES or GL_LINES
    GLint first;    // DRAW: range in the floor's vertices
    GLsizei count;
    int prim_first, prim_count;  // DRAW: its primitives as sent, in g_prims
    GLbitfield mask;  // CLEAR
    GLfloat clear_colour[4];
    GLdouble clear_depth;
    GLint clear_stencil;
    GLint up[4];  // UPLOAD: x, y, w, h
    GLenum up_format, up_type;
    GLint up_row_length;
    const void *up_pixels;
};

struct Vertex {
    GLfloat pos[3], colour[4], tex[2];
};

// The recording; filled between FloorCaptureBegin and FloorCaptureEnd,
// read by every replay after it.
std::vector<State> g_states;
std::vector<Op> g_ops;
std::vector<Vertex> g_prim;      // the open primitive, as sent
// Every primitive as sent, for the immediate-mode floor: its mode and
// its range in g_sent.
struct Prim {
    GLenum mode;
    int first, count;
};
std::vector<Prim> g_prims;
std::vector<Vertex> g_sent;
std::vector<Vertex> g_vertices;  // the floor's, independent primitives
// The open primitive's mode and the current colour and texture
// coordinate, as the stand-ins follow them while capturing.
GLenum g_prim_mode = 0;
GLfloat g_colour[4], g_tex[2];
// Set by FloorCaptureBegin, cleared by FloorCaptureEnd; g_unsteady is
// set by a texture made during the capture.
bool g_capturing = false, g_unsteady = false;
// Counted while capturing, and the state calls of the first floor frame.
FloorStats g_stats;
// The floor's vertex buffer; made by the first FloorCaptureEnd.
GLuint g_vbo = 0;

// The model-view matrix of the primitive being captured, baked into its
// vertices by close_primitive; set by add_state for a draw.
GLfloat g_draw_mv[16];

int add_state(bool draw = false) {
    State s;
    read_state(s);
    // A primitive's vertices are moved by the model-view matrix at
    // capture, and it is drawn with the identity: primitives that differ
    // only in their matrix then share a state and one draw.
    if (draw) {
        memcpy(g_draw_mv, s.modelview, sizeof g_draw_mv);
        for (int i = 0; i < 16; i++) s.modelview[i] = i % 5 == 0 ? 1.0f : 0.0f;
    }
    if (g_states.empty() || memcmp(&g_states.back(), &s, sizeof s) != 0) g_states.push_back(s);
    return (int)g_states.size() - 1;
}

void push_op(Op op) {
    // A primitive of the same state and kind right after another is drawn
    // with it.
    static bool merge = getenv("QVP_FLOOR_NOMERGE") == nullptr;
    if (merge && op.kind == DRAW && !g_ops.empty()) {
        Op &last = g_ops.back();
        if (last.kind == DRAW && last.state == op.state && last.mode == op.mode &&
            last.first + last.count == op.first && last.prim_first + last.prim_count == op.prim_first) {
            last.count += op.count;
            last.prim_count += op.prim_count;
            return;
        }
    }
    g_ops.push_back(op);
}

// The open primitive as independent triangles or lines, its vertices
// moved by its model-view matrix.
void close_primitive() {
    for (Vertex &x : g_prim) {
        const GLfloat *m = g_draw_mv, *p = x.pos;
        GLfloat q[4];
        for (int r = 0; r < 4; r++) q[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
        for (int r = 0; r < 3; r++) x.pos[r] = q[3] != 0 && q[3] != 1 ? q[r] / q[3] : q[r];
    }
    const std::vector<Vertex> &v = g_prim;
    size_t n = v.size();
    Op op{};
    op.kind = DRAW;
    op.first = (GLint)g_vertices.size();
    auto tri = [&](size_t a, size_t b, size_t c) {
        g_vertices.push_back(v[a]);
        g_vertices.push_back(v[b]);
        g_vertices.push_back(v[c]);
    };
    auto line = [&](size_t a, size_t b) {
        g_vertices.push_back(v[a]);
        g_vertices.push_back(v[b]);
    };
    switch (g_prim_mode) {
    case GL_POLYGON:
    case GL_TRIANGLE_FAN:
        op.mode = GL_TRIANGLES;
        for (size_t i = 2; i < n; i++) tri(0, i - 1, i);
        break;
    case GL_TRIANGLES:
        op.mode = GL_TRIANGLES;
        for (size_t i = 2; i < n; i += 3) tri(i - 2, i - 1, i);
        break;
    case GL_TRIANGLE_STRIP:
        op.mode = GL_TRIANGLES;
        for (size_t i = 2; i < n; i++) (i % 2) ? tri(i - 1, i - 2, i) : tri(i - 2, i - 1, i);
        break;
    case GL_QUADS:
        op.mode = GL_TRIANGLES;
        for (size_t i = 3; i < n; i += 4) {
            tri(i - 3, i - 2, i - 1);
            tri(i - 3, i - 1, i);
        }
        break;
    case GL_QUAD_STRIP:
        op.mode = GL_TRIANGLES;
        for (size_t i = 3; i < n; i += 2) {
            tri(i - 3, i - 2, i);
            tri(i - 3, i, i - 1);
        }
        break;
    case GL_LINES:
        op.mode = GL_LINES;
        for (size_t i = 1; i < n; i += 2) line(i - 1, i);
        break;
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
        op.mode = GL_LINES;
        for (size_t i = 1; i < n; i++) line(i - 1, i);
        if (g_prim_mode == GL_LINE_LOOP && n > 2) line(n - 1, 0);
        break;
    default: op.mode = GL_POINTS; for (size_t i = 0; i < n; i++) g_vertices.push_back(v[i]);
    }
    op.count = (GLsizei)g_vertices.size() - op.first;
    op.state = (int)g_states.size() - 1;  // read at glBegin
    op.prim_first = (int)g_prims.size();
    op.prim_count = 1;
    g_prims.push_back(Prim{g_prim_mode, (int)g_sent.size(), (int)n});
    g_sent.insert(g_sent.end(), v.begin(), v.end());
    if (op.count > 0) push_op(op);
    g_stats.primitives++;
    g_stats.vertices += (long)n;
}

/* ---- the stand-ins, live only while capturing ---- */

void (*real_Begin)(GLenum);
void (*real_End)();
void (*real_Vertex3f)(GLfloat, GLfloat, GLfloat);
void (*real_Vertex3d)(GLdouble, GLdouble, GLdouble);
void (*real_Vertex3dv)(const GLdouble *);
void (*real_TexCoord2f)(GLfloat, GLfloat);
void (*real_InterleavedArrays)(GLenum, GLsizei, const void *);
void (*real_DrawArrays)(GLenum, GLint, GLsizei);
void (*real_StateInterleavedArrays)(unsigned, int, const void *);
// The client array glInterleavedArrays set last (its format, stride and
// data), read by cap_DrawArrays.
GLenum g_ia_format = 0;
GLsizei g_ia_stride = 0;
const GLfloat *g_ia_data = nullptr;
void (*real_Color4f)(GLfloat, GLfloat, GLfloat, GLfloat);
void (*real_Color3f)(GLfloat, GLfloat, GLfloat);
void (*real_Color4fv)(const GLfloat *);
void (*real_Color4i)(GLint, GLint, GLint, GLint);
void (*real_Clear)(GLbitfield);
void (*real_TexSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void *);
void (*real_TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void *);
void (*real_ExecuteCore)();
void (*real_ClearZ)();
void (*real_PushDrawingState)();
void (*real_PopDrawingState)();

void vertex(GLfloat x, GLfloat y, GLfloat z) {
    Vertex v;
    v.pos[0] = x;
    v.pos[1] = y;
    v.pos[2] = z;
    memcpy(v.colour, g_colour, sizeof g_colour);
    memcpy(v.tex, g_tex, sizeof g_tex);
    g_prim.push_back(v);
}

void set_colour(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    g_colour[0] = r;
    g_colour[1] = g;
    g_colour[2] = b;
    g_colour[3] = a;
}

// Starts capturing a primitive of MODE: its state, and the current
// colour and texture coordinate its vertices start from.
void open_primitive(GLenum mode) {
    add_state(true);
    glGetFloatv(GL_CURRENT_COLOR, g_colour);
    GLfloat t[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, t);
    g_tex[0] = t[0];
    g_tex[1] = t[1];
    g_prim.clear();
    g_prim_mode = mode;
}

extern "C" {
void APIENTRY cap_Begin(GLenum mode) {
    g_stats.gl_calls++;
    open_primitive(mode);
    real_Begin(mode);
}
void APIENTRY cap_InterleavedArrays(GLenum format, GLsizei stride, const void *data) {
    g_stats.gl_calls++;
    g_ia_format = format;
    g_ia_stride = stride;
    g_ia_data = (const GLfloat *)data;
    real_InterleavedArrays(format, stride, data);
}
// The host's setter of the interleaved arrays, through which the plugin
// points its vertex array.
void cap_StateInterleavedArrays(unsigned format, int stride, const void *data) {
    g_stats.gl_calls++;
    g_ia_format = format;
    g_ia_stride = stride;
    g_ia_data = (const GLfloat *)data;
    real_StateInterleavedArrays(format, stride, data);
}
// A draw from the plugin's vertex array, captured as the primitive it
// makes: the same vertices as glBegin .. glEnd would have sent.
void APIENTRY cap_DrawArrays(GLenum mode, GLint first, GLsizei count) {
    if ((g_ia_format != GL_T2F_V3F && g_ia_format != GL_V3F) || !g_ia_data) {
        g_stats.gl_calls++;
        real_DrawArrays(mode, first, count);
        return;
    }
    g_stats.gl_calls++;
    open_primitive(mode);
    bool textured = g_ia_format == GL_T2F_V3F;
    size_t step = g_ia_stride ? (size_t)g_ia_stride / sizeof(GLfloat) : textured ? 5 : 3;
    for (GLsizei i = 0; i < count; i++) {
        const GLfloat *v = g_ia_data + (size_t)(first + i) * step;
        if (textured) {
            g_tex[0] = *v++;
            g_tex[1] = *v++;
        }
        vertex(v[0], v[1], v[2]);
    }
    real_DrawArrays(mode, first, count);
    close_primitive();
}
void APIENTRY cap_End() {
    g_stats.gl_calls++;
    real_End();
    close_primitive();
}
void APIENTRY cap_Vertex3f(GLfloat x, GLfloat y, GLfloat z) {
    g_stats.gl_calls++;
    vertex(x, y, z);
    real_Vertex3f(x, y, z);
}
void APIENTRY cap_Vertex3d(GLdouble x, GLdouble y, GLdouble z) {
    g_stats.gl_calls++;
    vertex((GLfloat)x, (GLfloat)y, (GLfloat)z);
    real_Vertex3d(x, y, z);
}
void APIENTRY cap_Vertex3dv(const GLdouble *p) {
    g_stats.gl_calls++;
    vertex((GLfloat)p[0], (GLfloat)p[1], (GLfloat)p[2]);
    real_Vertex3dv(p);
}
void APIENTRY cap_TexCoord2f(GLfloat s, GLfloat t) {
    g_stats.gl_calls++;
    g_tex[0] = s;
    g_tex[1] = t;
    real_TexCoord2f(s, t);
}
void APIENTRY cap_Color4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    g_stats.gl_calls++;
    set_colour(r, g, b, a);
    real_Color4f(r, g, b, a);
}
void APIENTRY cap_Color3f(GLfloat r, GLfloat g, GLfloat b) {
    g_stats.gl_calls++;
    set_colour(r, g, b, 1);
    real_Color3f(r, g, b);
}
void APIENTRY cap_Color4fv(const GLfloat *c) {
    g_stats.gl_calls++;
    set_colour(c[0], c[1], c[2], c[3]);
    real_Color4fv(c);
}
void APIENTRY cap_Color4i(GLint r, GLint g, GLint b, GLint a) {
    g_stats.gl_calls++;
    // Integers map 0..INT_MAX onto 0..1.
    const float k = 1.0f / 2147483647.0f;
    set_colour((float)r * k, (float)g * k, (float)b * k, (float)a * k);
    real_Color4i(r, g, b, a);
}
void APIENTRY cap_Clear(GLbitfield mask) {
    g_stats.gl_calls++;
    g_stats.clears++;
    Op op{};
    op.kind = CLEAR;
    op.state = add_state();
    op.mask = mask;
    glGetFloatv(GL_COLOR_CLEAR_VALUE, op.clear_colour);
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &op.clear_depth);
    glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &op.clear_stencil);
    push_op(op);
    real_Clear(mask);
}
void APIENTRY cap_TexSubImage2D(GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,
                                GLenum type, const void *pixels) {
    g_stats.gl_calls++;
    Op op{};
    op.kind = UPLOAD;
    op.state = add_state();
    op.up[0] = x;
    op.up[1] = y;
    op.up[2] = w;
    op.up[3] = h;
    op.up_format = format;
    op.up_type = type;
    op.up_pixels = pixels;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &op.up_row_length);
    if (target == GL_TEXTURE_2D && level == 0) push_op(op);
    real_TexSubImage2D(target, level, x, y, w, h, format, type, pixels);
}
void APIENTRY cap_TexImage2D(GLenum target, GLint level, GLint ifmt, GLsizei w, GLsizei h, GLint border,
                             GLenum format, GLenum type, const void *pixels) {
    g_stats.gl_calls++;
    g_unsteady = true;
    real_TexImage2D(target, level, ifmt, w, h, border, format, type, pixels);
}
void cap_PushDrawingState() {
    Op op{};
    op.kind = PUSH;
    op.state = add_state();
    push_op(op);
    g_stats.pushes++;
    real_PushDrawingState();
}
void cap_PopDrawingState() {
    real_PopDrawingState();
    Op op{};
    op.kind = POP;
    op.state = add_state();
    push_op(op);
}
void cap_ClearZ() {
    Op op{};
    op.kind = CLEARZ;
    op.state = add_state();
    push_op(op);
    real_ClearZ();
}
void cap_ExecuteCore() {
    Op op{};
    op.kind = CORE;
    op.state = add_state();
    op.host = add_host();
    push_op(op);
    g_stats.core_calls++;
    real_ExecuteCore();
    op.kind = RESUME;
    op.state = add_state();
    push_op(op);
}
}

/* ---- replay ---- */

// The state GL is in during a replay, as the floor last set or found it;
// set by apply and at each ENTER and RESUME.
State g_cur;
// The next op to replay; put back to 0 by FloorFrame.
size_t g_cursor = 0;
// Why a replay went astray (empty while it follows the capture); set by
// fail, cleared by FloorCaptureEnd.
std::string g_failed;
// True from FloorCaptureEnd through the first floor frame, while the
// state calls of one floor frame are counted.
bool g_counting = false;

// Draws OP's primitives as they were sent, in immediate mode, the colour
// given only where it changes.
void draw_immediate(const Op &op) {
    const GLfloat *colour = nullptr;
    for (int p = op.prim_first; p < op.prim_first + op.prim_count; p++) {
        const Prim &pr = g_prims[(size_t)p];
        glBegin(pr.mode);
        for (int i = pr.first; i < pr.first + pr.count; i++) {
            const Vertex &v = g_sent[(size_t)i];
            if (!colour || memcmp(colour, v.colour, sizeof v.colour)) glColor4fv(colour = v.colour);
            glTexCoord2fv(v.tex);
            glVertex3fv(v.pos);
        }
        glEnd();
    }
}
void count_change() {
    if (g_counting) g_stats.state_changes++;
}

void load_matrix(GLenum mode, const GLfloat *m) {
    if (g_cur.matrix_mode != (GLint)mode) {
        glMatrixMode(mode);
        g_cur.matrix_mode = (GLint)mode;
        count_change();
    }
    glLoadMatrixf(m);
    count_change();
}

// Set by FloorSetVariant.
bool g_with_pushes = false, g_immediate = false;

// Sets each state of WANT that differs from the current one. With the
// drawing-state pushes, the groups a drawing state gives back go through
// its setters, as the plugin's do, so that each pop puts back what the
// plugin's pop put back.
void apply(const State &w) {
    State &c = g_cur;
    if (!memcmp(&c, &w, sizeof c)) return;
    const bool set = g_with_pushes;
    for (int i = 0; i < kEnableCount; i++)
        if ((c.enables ^ w.enables) & (1u << i)) {
            bool on = (w.enables & (1u << i)) != 0;
            if (set) QVF_StateEnable(kEnables[i], on);
            else on ? glEnable(kEnables[i]) : glDisable(kEnables[i]);
            count_change();
        }
    if (memcmp(c.blend, w.blend, sizeof c.blend)) {
        if (set && w.blend[0] == w.blend[2] && w.blend[1] == w.blend[3])
            QVF_StateBlendFunc((GLenum)w.blend[0], (GLenum)w.blend[1]);
        else glBlendFuncSeparate((GLenum)w.blend[0], (GLenum)w.blend[1], (GLenum)w.blend[2], (GLenum)w.blend[3]);
        count_change();
    }
    if (c.depth_func != w.depth_func) {
        if (set) QVF_StateDepthFunc((GLenum)w.depth_func);
        else glDepthFunc((GLenum)w.depth_func);
        count_change();
    }
    if (c.depth_mask != w.depth_mask) {
        if (set) QVF_StateDepthMask(w.depth_mask);
        else glDepthMask(w.depth_mask);
        count_change();
    }
    if (memcmp(c.colour_mask, w.colour_mask, sizeof c.colour_mask)) {
        if (set) QVF_StateColorMask(w.colour_mask[0], w.colour_mask[1], w.colour_mask[2], w.colour_mask[3]);
        else glColorMask(w.colour_mask[0], w.colour_mask[1], w.colour_mask[2], w.colour_mask[3]);
        count_change();
    }
    if (memcmp(c.stencil, w.stencil, 3 * sizeof(GLint))) {
        if (set) QVF_StateStencilFunc((GLenum)w.stencil[0], w.stencil[1], (GLuint)w.stencil[2]);
        else glStencilFunc((GLenum)w.stencil[0], w.stencil[1], (GLuint)w.stencil[2]);
        count_change();
    }
    if (memcmp(c.stencil + 3, w.stencil + 3, 3 * sizeof(GLint))) {
        if (set) QVF_StateStencilOp((GLenum)w.stencil[3], (GLenum)w.stencil[4], (GLenum)w.stencil[5]);
        else glStencilOp((GLenum)w.stencil[3], (GLenum)w.stencil[4], (GLenum)w.stencil[5]);
        count_change();
    }
    if (c.stencil[6] != w.stencil[6]) {
        glStencilMask((GLuint)w.stencil[6]);
        count_change();
    }
    if (c.alpha_func != w.alpha_func || c.alpha_ref != w.alpha_ref) {
        glAlphaFunc((GLenum)w.alpha_func, w.alpha_ref);
        count_change();
    }
    if (c.line_width != w.line_width) {
        if (set) QVF_StateLineWidth(w.line_width);
        else glLineWidth(w.line_width);
        count_change();
    }
    if (memcmp(c.viewport, w.viewport, sizeof c.viewport)) {
        if (set) QVF_StateViewport(w.viewport[0], w.viewport[1], w.viewport[2], w.viewport[3]);
        else glViewport(w.viewport[0], w.viewport[1], w.viewport[2], w.viewport[3]);
        count_change();
    }
    if (memcmp(c.scissor, w.scissor, sizeof c.scissor)) {
        if (set) QVF_StateScissor(w.scissor[0], w.scissor[1], w.scissor[2], w.scissor[3]);
        else glScissor(w.scissor[0], w.scissor[1], w.scissor[2], w.scissor[3]);
        count_change();
    }
    if (c.draw_fbo != w.draw_fbo) {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, (GLuint)w.draw_fbo);
        count_change();
    }
    if (c.read_fbo != w.read_fbo) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)w.read_fbo);
        count_change();
    }
    if (w.draw_fbo && (c.attachment != w.attachment || c.draw_fbo != w.draw_fbo)) {
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, (GLuint)w.attachment, 0);
        count_change();
    }
    if (c.texture != w.texture) {
        if (set) QVF_StateBindTexture2D((GLuint)w.texture);
        else glBindTexture(GL_TEXTURE_2D, (GLuint)w.texture);
        count_change();
    }
    if (c.tex_env != w.tex_env) {
        if (set) QVF_StateTexEnvMode((GLenum)w.tex_env);
        else glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, w.tex_env);
        count_change();
    }
    if (memcmp(c.modelview, w.modelview, sizeof c.modelview)) load_matrix(GL_MODELVIEW, w.modelview);
    if (memcmp(c.projection, w.projection, sizeof c.projection)) load_matrix(GL_PROJECTION, w.projection);
    if (g_cur.matrix_mode != w.matrix_mode) {
        glMatrixMode((GLenum)w.matrix_mode);
        count_change();
    }
    g_cur = w;
}

void arrays(bool on) {
    if (on) {
        glBindBuffer(GL_ARRAY_BUFFER, g_vbo);
        glVertexPointer(3, GL_FLOAT, sizeof(Vertex), (void *)offsetof(Vertex, pos));
        glColorPointer(4, GL_FLOAT, sizeof(Vertex), (void *)offsetof(Vertex, colour));
        glTexCoordPointer(2, GL_FLOAT, sizeof(Vertex), (void *)offsetof(Vertex, tex));
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    } else {
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
}

// With QVP_FLOOR_VERIFY set, each state the floor sets is read back and
// compared with the captured one, and the first fields that differ are
// printed: the check that the floor draws with the states it should.
bool g_verify = getenv("QVP_FLOOR_VERIFY") != nullptr;
int g_verify_reports = 0;

void verify(const State &want, size_t op) {
    if (!g_verify || g_verify_reports > 20) return;
    State got;
    read_state(got);
    if (!memcmp(&got, &want, sizeof got)) return;
    const unsigned char *a = (const unsigned char *)&got, *b = (const unsigned char *)&want;
    size_t i = 0;
    while (i < sizeof got && a[i] == b[i]) i++;
    fprintf(stderr, "floor op %zu: state differs from byte %zu (enables got %x want %x)\n", op, i, got.enables,
            want.enables);
    g_verify_reports++;
}

void fail(const std::string &why) {
    if (g_failed.empty()) g_failed = why;
}

}  // namespace

bool FloorCaptureBegin(std::string &err) {
    g_states.clear();
    g_host.clear();
    g_ops.clear();
    g_prims.clear();
    g_sent.clear();
    g_vertices.clear();
    g_stats = FloorStats{};
    g_unsteady = false;
    std::vector<GotHook> hooks = {
        {"glBegin", (void *)cap_Begin, (void **)&real_Begin},
        {"glEnd", (void *)cap_End, (void **)&real_End},
        {"glVertex3f", (void *)cap_Vertex3f, (void **)&real_Vertex3f},
        {"glVertex3d", (void *)cap_Vertex3d, (void **)&real_Vertex3d},
        {"glVertex3dv", (void *)cap_Vertex3dv, (void **)&real_Vertex3dv},
        {"glTexCoord2f", (void *)cap_TexCoord2f, (void **)&real_TexCoord2f},
        {"glInterleavedArrays", (void *)cap_InterleavedArrays, (void **)&real_InterleavedArrays},
        {"glDrawArrays", (void *)cap_DrawArrays, (void **)&real_DrawArrays},
        {"QVF_StateInterleavedArrays", (void *)cap_StateInterleavedArrays, (void **)&real_StateInterleavedArrays},
        {"glColor4f", (void *)cap_Color4f, (void **)&real_Color4f},
        {"glColor3f", (void *)cap_Color3f, (void **)&real_Color3f},
        {"glColor4fv", (void *)cap_Color4fv, (void **)&real_Color4fv},
        {"glColor4i", (void *)cap_Color4i, (void **)&real_Color4i},
        {"glClear", (void *)cap_Clear, (void **)&real_Clear},
        {"glTexSubImage2D", (void *)cap_TexSubImage2D, (void **)&real_TexSubImage2D},
        {"glTexImage2D", (void *)cap_TexImage2D, (void **)&real_TexImage2D},
        {"QVF_ExecuteCore", (void *)cap_ExecuteCore, (void **)&real_ExecuteCore},
        {"QVF_ClearZ", (void *)cap_ClearZ, (void **)&real_ClearZ},
        {"QVF_PushDrawingState", (void *)cap_PushDrawingState, (void **)&real_PushDrawingState},
        {"QVF_PopDrawingState", (void *)cap_PopDrawingState, (void **)&real_PopDrawingState},
    };
    if (GotPatch(hooks, err) == 0) {
        if (err.empty()) err = "the program imports none of the GL calls to capture";
        return false;
    }
    g_capturing = true;
    return true;
}

void FloorEnter(int phase) {
    if (!g_capturing) return;
    Op op{};
    op.kind = ENTER;
    op.phase = phase;
    op.state = add_state();
    push_op(op);
}

void FloorLeave(int phase) {
    if (!g_capturing) return;
    Op op{};
    op.kind = LEAVE;
    op.phase = phase;
    op.state = add_state();
    op.host = add_host();
    push_op(op);
}

bool FloorCaptureEnd(std::string &err) {
    GotRestore();
    g_capturing = false;
    if (g_unsteady) {
        err = "the captured frame made textures: not a steady frame";
        return false;
    }
    if (g_vertices.empty()) {
        err = "the captured frame drew nothing";
        return false;
    }
    if (!g_vbo) glGenBuffers(1, &g_vbo);
    glBindBuffer(GL_ARRAY_BUFFER, g_vbo);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(g_vertices.size() * sizeof(Vertex)), g_vertices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    g_stats.floor_vertices = (long)g_vertices.size();
    for (const Op &op : g_ops) g_stats.floor_draws += op.kind == DRAW;
    // What parts two draws in a row: the states that differ between them.
    for (size_t i = 1; i < g_ops.size(); i++) {
        const Op &a = g_ops[i - 1], &b = g_ops[i];
        if (a.kind != DRAW || b.kind != DRAW) continue;
        const State &x = g_states[(size_t)a.state], &y = g_states[(size_t)b.state];
        g_stats.split_enables += x.enables != y.enables;
        g_stats.split_stencil += memcmp(x.stencil, y.stencil, sizeof x.stencil) != 0;
        g_stats.split_texture += x.texture != y.texture;
        g_stats.split_mode += a.mode != b.mode;
        g_stats.split_line_width += x.line_width != y.line_width;
    }
    for (const Op &op : g_ops) g_stats.floor_other_ops += op.kind != DRAW;
    g_failed.clear();
    g_counting = true;
    return true;
}

void FloorFrame() {
    g_cursor = 0;
    if (g_counting && g_stats.state_changes) g_counting = false;
}

void FloorReplay(int phase) {
    if (!g_failed.empty()) return;
    if (g_cursor >= g_ops.size() || g_ops[g_cursor].kind != ENTER || g_ops[g_cursor].phase != phase) {
        fail("phase " + std::to_string(phase) + " ran where the captured frame had no callback");
        return;
    }
    g_cur = g_states[(size_t)g_ops[g_cursor++].state];
    bool drawing = false;
    while (g_cursor < g_ops.size()) {
        const Op &op = g_ops[g_cursor++];
        switch (op.kind) {
        case DRAW:
            apply(g_states[(size_t)op.state]);
            verify(g_states[(size_t)op.state], g_cursor - 1);
            if (g_immediate) {
                draw_immediate(op);
                break;
            }
            if (!drawing) arrays(drawing = true);
            glDrawArrays(op.mode, op.first, op.count);
            break;
        case CLEAR:
            apply(g_states[(size_t)op.state]);
            glClearColor(op.clear_colour[0], op.clear_colour[1], op.clear_colour[2], op.clear_colour[3]);
            glClearDepth(op.clear_depth);
            glClearStencil(op.clear_stencil);
            glClear(op.mask);
            break;
        case UPLOAD:
            apply(g_states[(size_t)op.state]);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, op.up_row_length);
            glTexSubImage2D(GL_TEXTURE_2D, 0, op.up[0], op.up[1], op.up[2], op.up[3], op.up_format, op.up_type,
                            op.up_pixels);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
            break;
        case CORE:
            if (drawing) arrays(drawing = false);
            apply(g_states[(size_t)op.state]);
            write_host(g_host[(size_t)op.host]);
            QVF_ExecuteCore();
            if (g_cursor >= g_ops.size() || g_ops[g_cursor].kind != RESUME) {
                fail("the host's step did not come back where it did in the captured frame");
                return;
            }
            g_cur = g_states[(size_t)g_ops[g_cursor++].state];
            break;
        case PUSH:
            if (g_with_pushes) {
                if (drawing) arrays(drawing = false);
                // What the push saves is what the pop will put back.
                apply(g_states[(size_t)op.state]);
                QVF_PushDrawingState();
            }
            break;
        case POP:
            if (g_with_pushes) {
                QVF_PopDrawingState();
                // The pop put back what the push saw of the groups a
                // drawing state holds; the rest (framebuffers, the alpha
                // test's function, the stencil write mask, a separate
                // alpha blend) stays as the floor last set it.
                State back = g_states[(size_t)op.state];
                memcpy(back.stencil + 6, g_cur.stencil + 6, sizeof(GLint));
                back.alpha_func = g_cur.alpha_func;
                back.alpha_ref = g_cur.alpha_ref;
                back.draw_fbo = g_cur.draw_fbo;
                back.read_fbo = g_cur.read_fbo;
                back.attachment = g_cur.attachment;
                if (g_cur.blend[2] != g_cur.blend[0] || g_cur.blend[3] != g_cur.blend[1]) {
                    back.blend[0] = g_cur.blend[0], back.blend[1] = g_cur.blend[1];
                    back.blend[2] = g_cur.blend[2], back.blend[3] = g_cur.blend[3];
                }
                g_cur = back;
            }
            break;
        case CLEARZ:
            apply(g_states[(size_t)op.state]);
            QVF_ClearZ();
            break;
        case LEAVE:
            if (drawing) arrays(false);
            apply(g_states[(size_t)op.state]);
            write_host(g_host[(size_t)op.host]);
            if (op.phase != phase) fail("callbacks left in another order than captured");
            return;
        case ENTER:
        case RESUME: fail("the captured frame's callbacks nest otherwise"); return;
        }
    }
    fail("the captured frame ended inside a callback");
}

void FloorSetVariant(bool pushes, bool immediate) {
    g_with_pushes = pushes;
    g_immediate = immediate;
}

const char *FloorFailed() { return g_failed.empty() ? nullptr : g_failed.c_str(); }

FloorStats FloorGetStats() { return g_stats; }
