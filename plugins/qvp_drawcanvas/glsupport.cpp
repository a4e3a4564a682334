// glsupport.cpp - the framebuffer-object entry points resolved at run
// time, their logging fallbacks, and GL error and framebuffer status
// reporting.
#include <stdio.h>
#include <string.h>

#include "dc_services.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"

void Dummy(void) {
    QVF_LogWarningF("OOPS.... looks like were trying to use an OpenGL extension that we don't have a pointer to!",
                    QVP_SOURCE, __LINE__);
}

namespace {

// One fallback per signature: each does what Dummy does, and those that
// stand in for a value-returning entry point return 0.
GLboolean APIENTRY fallback_b_u(GLuint) {
    Dummy();
    return 0;
}
void APIENTRY fallback_v_eu(GLenum, GLuint) {
    Dummy();
}
void APIENTRY fallback_v_scu(GLsizei, const GLuint *) {
    Dummy();
}
void APIENTRY fallback_v_su(GLsizei, GLuint *) {
    Dummy();
}
void APIENTRY fallback_v_eess(GLenum, GLenum, GLsizei, GLsizei) {
    Dummy();
}
void APIENTRY fallback_v_eeip(GLenum, GLenum, GLint *) {
    Dummy();
}
GLenum APIENTRY fallback_e_e(GLenum) {
    Dummy();
    return 0;
}
void APIENTRY fallback_v_eeeui(GLenum, GLenum, GLenum, GLuint, GLint) {
    Dummy();
}
void APIENTRY fallback_v_eeeuii(GLenum, GLenum, GLenum, GLuint, GLint, GLint) {
    Dummy();
}
void APIENTRY fallback_v_eeeu(GLenum, GLenum, GLenum, GLuint) {
    Dummy();
}
void APIENTRY fallback_v_eeeip(GLenum, GLenum, GLenum, GLint *) {
    Dummy();
}
void APIENTRY fallback_v_e(GLenum) {
    Dummy();
}
void APIENTRY fallback_v_blit(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum) {
    Dummy();
}
void APIENTRY fallback_v_eeuii(GLenum, GLenum, GLuint, GLint, GLint) {
    Dummy();
}
void APIENTRY fallback_v_sce(GLsizei, const GLenum *) {
    Dummy();
}
void APIENTRY fallback_v_esess(GLenum, GLsizei, GLenum, GLsizei, GLsizei) {
    Dummy();
}

}  // namespace

// The entry points; each holds its fallback until resolved.
#define QVP_GL_DEFINE(type, name, fallback) type TARN_##name = fallback;
QVP_GL_ENTRY_POINTS(QVP_GL_DEFINE)
#undef QVP_GL_DEFINE

namespace {

// One row per entry point: its GL name, the TARN_ variable that holds
// it, and the fallback that variable holds until it is resolved.
struct EntryPoint {
    const char *name;
    void *slot;
    void (*fallback)(void);
};
#define QVP_GL_ROW(type, name, fallback) {#name, (void *)&TARN_##name, (void (*)(void))fallback},
const EntryPoint kEntryPoints[] = {QVP_GL_ENTRY_POINTS(QVP_GL_ROW)};
#undef QVP_GL_ROW
QVP_GLPROC platform_lookup(const char *name) { return QVP_GetGLProcAddress(name); }

// The lookup in force; replaced by tests through SetGLProcLookup.
QVP_GLPROC_LOOKUP gl_lookup = platform_lookup;

}  // namespace

void SetGLProcLookup(QVP_GLPROC_LOOKUP lookup) { gl_lookup = lookup ? lookup : platform_lookup; }

void ResolveGLEntryPoints(void) {
    for (const EntryPoint &e : kEntryPoints) {
        QVP_GLPROC addr = gl_lookup(e.name);
        if (addr) {
            memcpy(e.slot, &addr, sizeof addr);
        } else {
            memcpy(e.slot, &e.fallback, sizeof e.fallback);
            char buf[QVP_TEXT_BUF];
            snprintf(buf, sizeof buf, "%s not supported!", e.name);
            QVF_LogStatusF(buf, QVP_SOURCE, __LINE__);
        }
    }
    TARN_glGenFramebuffersEXT(1, &canvas_fbo);
}

// Empties GL's error queue. With REPORT, each error is logged as a host
// warning naming F and L (the caller's file and line); without, they are
// dropped. Changes no other state.
void LogGLErrors_F(int report, const char *f, int l) {
    if (!report) {
        while (glGetError() != GL_NO_ERROR) {
        }
        return;
    }
    for (;;) {
        GLenum err = glGetError();
        if (err == GL_NO_ERROR) return;
        const char *name = nullptr;
        switch (err) {
        case GL_INVALID_ENUM: name = "GL_INVALID_ENUM"; break;
        case GL_INVALID_VALUE: name = "GL_INVALID_VALUE"; break;
        case GL_INVALID_OPERATION: name = "GL_INVALID_OPERATION"; break;
        case GL_INVALID_FRAMEBUFFER_OPERATION: name = "GL_INVALID_FRAMEBUFFER_OPERATION"; break;
        case GL_STACK_OVERFLOW: name = "GL_STACK_OVERFLOW"; break;
        case GL_STACK_UNDERFLOW: name = "GL_STACK_UNDERFLOW"; break;
        case GL_OUT_OF_MEMORY: name = "GL_OUT_OF_MEMORY"; break;
        default: break;
        }
        char buf[QVP_TEXT_BUF];
        if (name) snprintf(buf, sizeof buf, "%s - line %d) generated %s error!", f ? f : "", l, name);
        else snprintf(buf, sizeof buf, "%s - line %d) generated GL_ERROR of %d!", f ? f : "", l, (int)err);
        QVF_LogWarningF(buf, QVP_SOURCE, __LINE__);
    }
}

// Checks the bound framebuffer. Returns null when it is complete, else a
// message "LABEL : FAULT" in a buffer that lives until the next call;
// LABEL is MSG, or "line LINE" when MSG is null. Logs nothing.
char *FCheckForCompleteness(const char *msg, int line) {
    // The label and the message live until the next call; labels are cut
    // at 200 characters so that a message always fits.
    static char label[QVP_TEXT_BUF];
    static char message[QVP_TEXT_BUF];
    const char *lab = msg;
    if (!lab) {
        snprintf(label, sizeof label, "line %5d", line);
        lab = label;
    }
    GLenum status = TARN_glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    const char *what = nullptr;
    switch (status) {
    case GL_FRAMEBUFFER_COMPLETE_EXT: return nullptr;
    case GL_FRAMEBUFFER_UNSUPPORTED_EXT: what = "Unsupported framebuffer format!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT: what = "Incomplete attachment to buffer!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT: what = "Incomplete missing attachment to buffer!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT: what = "Incomplete dimension of buffer!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT: what = "Incomplete format of buffer!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT: what = "Incomplete draw buffer!!!"; break;
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT: what = "Incomplete read buffer!!!"; break;
    default: break;
    }
    if (what) snprintf(message, sizeof message, "%.200s : %s", lab, what);
    else snprintf(message, sizeof message, "%.200s : Framebuffer object errored with status = 0x%08x!!!", lab, (unsigned)status);
    return message;
}
