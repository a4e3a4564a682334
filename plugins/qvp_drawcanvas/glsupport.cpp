// glsupport.cpp - the framebuffer-object entry points resolved at run
// time, their logging fallbacks, and GL error and framebuffer status
// reporting.
#include <stdio.h>
#include <string.h>

#include "drawcanvas_private.h"
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
PFNGLISRENDERBUFFEREXTPROC TARN_glIsRenderbufferEXT = fallback_b_u;
PFNGLBINDRENDERBUFFEREXTPROC TARN_glBindRenderbufferEXT = fallback_v_eu;
PFNGLDELETERENDERBUFFERSEXTPROC TARN_glDeleteRenderbuffersEXT = fallback_v_scu;
PFNGLGENRENDERBUFFERSEXTPROC TARN_glGenRenderbuffersEXT = fallback_v_su;
PFNGLRENDERBUFFERSTORAGEEXTPROC TARN_glRenderbufferStorageEXT = fallback_v_eess;
PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC TARN_glGetRenderbufferParameterivEXT = fallback_v_eeip;
PFNGLISFRAMEBUFFEREXTPROC TARN_glIsFramebufferEXT = fallback_b_u;
PFNGLBINDFRAMEBUFFEREXTPROC TARN_glBindFramebufferEXT = fallback_v_eu;
PFNGLDELETEFRAMEBUFFERSEXTPROC TARN_glDeleteFramebuffersEXT = fallback_v_scu;
PFNGLGENFRAMEBUFFERSEXTPROC TARN_glGenFramebuffersEXT = fallback_v_su;
PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC TARN_glCheckFramebufferStatusEXT = fallback_e_e;
PFNGLFRAMEBUFFERTEXTURE1DEXTPROC TARN_glFramebufferTexture1DEXT = fallback_v_eeeui;
PFNGLFRAMEBUFFERTEXTURE2DEXTPROC TARN_glFramebufferTexture2DEXT = fallback_v_eeeui;
PFNGLFRAMEBUFFERTEXTURE3DEXTPROC TARN_glFramebufferTexture3DEXT = fallback_v_eeeuii;
PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC TARN_glFramebufferRenderbufferEXT = fallback_v_eeeu;
PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC TARN_glGetFramebufferAttachmentParameterivEXT = fallback_v_eeeip;
PFNGLGENERATEMIPMAPEXTPROC TARN_glGenerateMipmapEXT = fallback_v_e;
PFNGLBLITFRAMEBUFFEREXTPROC TARN_glBlitFramebufferEXT = fallback_v_blit;
PFNGLFRAMEBUFFERRENDERBUFFERPROC TARN_glFramebufferRenderbufferARB = fallback_v_eeeu;
PFNGLDELETERENDERBUFFERSPROC TARN_glDeleteRenderbuffersARB = fallback_v_scu;
PFNGLGENRENDERBUFFERSPROC TARN_glGenRenderbuffersARB = fallback_v_su;
PFNGLBINDFRAMEBUFFERPROC TARN_glBindFramebufferARB = fallback_v_eu;
PFNGLDELETEFRAMEBUFFERSPROC TARN_glDeleteFramebuffersARB = fallback_v_scu;
PFNGLGENFRAMEBUFFERSPROC TARN_glGenFramebuffersARB = fallback_v_su;
PFNGLCHECKFRAMEBUFFERSTATUSPROC TARN_glCheckFramebufferStatusARB = fallback_e_e;
PFNGLFRAMEBUFFERTEXTURE1DPROC TARN_glFramebufferTexture1DARB = fallback_v_eeeui;
PFNGLFRAMEBUFFERTEXTURE2DPROC TARN_glFramebufferTexture2DARB = fallback_v_eeeui;
PFNGLFRAMEBUFFERTEXTURE3DPROC TARN_glFramebufferTexture3DARB = fallback_v_eeeuii;
PFNGLFRAMEBUFFERTEXTURELAYERPROC TARN_glFramebufferTextureLayerARB = fallback_v_eeuii;
PFNGLBINDRENDERBUFFERPROC TARN_glBindRenderbufferARB = fallback_v_eu;
PFNGLRENDERBUFFERSTORAGEPROC TARN_glRenderbufferStorageARB = fallback_v_eess;
PFNGLBLITFRAMEBUFFERPROC TARN_glBlitFramebufferARB = fallback_v_blit;
PFNGLDRAWBUFFERSARBPROC TARN_glDrawBuffersARB = fallback_v_sce;
PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC TARN_glRenderbufferStorageMultisampleARB = fallback_v_esess;

namespace {

// Entry-point names, ending with a null entry; parallel to glfuncs.
const char *const glnames[35] = {
    "glIsRenderbufferEXT",
    "glBindRenderbufferEXT",
    "glDeleteRenderbuffersEXT",
    "glGenRenderbuffersEXT",
    "glRenderbufferStorageEXT",
    "glGetRenderbufferParameterivEXT",
    "glIsFramebufferEXT",
    "glBindFramebufferEXT",
    "glDeleteFramebuffersEXT",
    "glGenFramebuffersEXT",
    "glCheckFramebufferStatusEXT",
    "glFramebufferTexture1DEXT",
    "glFramebufferTexture2DEXT",
    "glFramebufferTexture3DEXT",
    "glFramebufferRenderbufferEXT",
    "glGetFramebufferAttachmentParameterivEXT",
    "glGenerateMipmapEXT",
    "glBlitFramebufferEXT",
    "glFramebufferRenderbufferARB",
    "glDeleteRenderbuffersARB",
    "glGenRenderbuffersARB",
    "glBindFramebufferARB",
    "glDeleteFramebuffersARB",
    "glGenFramebuffersARB",
    "glCheckFramebufferStatusARB",
    "glFramebufferTexture1DARB",
    "glFramebufferTexture2DARB",
    "glFramebufferTexture3DARB",
    "glFramebufferTextureLayerARB",
    "glBindRenderbufferARB",
    "glRenderbufferStorageARB",
    "glBlitFramebufferARB",
    "glDrawBuffersARB",
    "glRenderbufferStorageMultisampleARB",
    nullptr};

// The addresses of the TARN_ variables, in the order of glnames.
void *const glfuncs[34] = {
    (void *)&TARN_glIsRenderbufferEXT,
    (void *)&TARN_glBindRenderbufferEXT,
    (void *)&TARN_glDeleteRenderbuffersEXT,
    (void *)&TARN_glGenRenderbuffersEXT,
    (void *)&TARN_glRenderbufferStorageEXT,
    (void *)&TARN_glGetRenderbufferParameterivEXT,
    (void *)&TARN_glIsFramebufferEXT,
    (void *)&TARN_glBindFramebufferEXT,
    (void *)&TARN_glDeleteFramebuffersEXT,
    (void *)&TARN_glGenFramebuffersEXT,
    (void *)&TARN_glCheckFramebufferStatusEXT,
    (void *)&TARN_glFramebufferTexture1DEXT,
    (void *)&TARN_glFramebufferTexture2DEXT,
    (void *)&TARN_glFramebufferTexture3DEXT,
    (void *)&TARN_glFramebufferRenderbufferEXT,
    (void *)&TARN_glGetFramebufferAttachmentParameterivEXT,
    (void *)&TARN_glGenerateMipmapEXT,
    (void *)&TARN_glBlitFramebufferEXT,
    (void *)&TARN_glFramebufferRenderbufferARB,
    (void *)&TARN_glDeleteRenderbuffersARB,
    (void *)&TARN_glGenRenderbuffersARB,
    (void *)&TARN_glBindFramebufferARB,
    (void *)&TARN_glDeleteFramebuffersARB,
    (void *)&TARN_glGenFramebuffersARB,
    (void *)&TARN_glCheckFramebufferStatusARB,
    (void *)&TARN_glFramebufferTexture1DARB,
    (void *)&TARN_glFramebufferTexture2DARB,
    (void *)&TARN_glFramebufferTexture3DARB,
    (void *)&TARN_glFramebufferTextureLayerARB,
    (void *)&TARN_glBindRenderbufferARB,
    (void *)&TARN_glRenderbufferStorageARB,
    (void *)&TARN_glBlitFramebufferARB,
    (void *)&TARN_glDrawBuffersARB,
    (void *)&TARN_glRenderbufferStorageMultisampleARB,
};

// Each entry point's fallback, in the order of glnames.
void (*const glfallbacks[34])(void) = {
    (void (*)(void))fallback_b_u,
    (void (*)(void))fallback_v_eu,
    (void (*)(void))fallback_v_scu,
    (void (*)(void))fallback_v_su,
    (void (*)(void))fallback_v_eess,
    (void (*)(void))fallback_v_eeip,
    (void (*)(void))fallback_b_u,
    (void (*)(void))fallback_v_eu,
    (void (*)(void))fallback_v_scu,
    (void (*)(void))fallback_v_su,
    (void (*)(void))fallback_e_e,
    (void (*)(void))fallback_v_eeeui,
    (void (*)(void))fallback_v_eeeui,
    (void (*)(void))fallback_v_eeeuii,
    (void (*)(void))fallback_v_eeeu,
    (void (*)(void))fallback_v_eeeip,
    (void (*)(void))fallback_v_e,
    (void (*)(void))fallback_v_blit,
    (void (*)(void))fallback_v_eeeu,
    (void (*)(void))fallback_v_scu,
    (void (*)(void))fallback_v_su,
    (void (*)(void))fallback_v_eu,
    (void (*)(void))fallback_v_scu,
    (void (*)(void))fallback_v_su,
    (void (*)(void))fallback_e_e,
    (void (*)(void))fallback_v_eeeui,
    (void (*)(void))fallback_v_eeeui,
    (void (*)(void))fallback_v_eeeuii,
    (void (*)(void))fallback_v_eeuii,
    (void (*)(void))fallback_v_eu,
    (void (*)(void))fallback_v_eess,
    (void (*)(void))fallback_v_blit,
    (void (*)(void))fallback_v_sce,
    (void (*)(void))fallback_v_esess,
};

QVP_GLPROC platform_lookup(const char *name) { return QVP_GetGLProcAddress(name); }

// The lookup in force; replaced by tests through SetGLProcLookup.
QVP_GLPROC_LOOKUP gl_lookup = platform_lookup;

}  // namespace

void SetGLProcLookup(QVP_GLPROC_LOOKUP lookup) { gl_lookup = lookup ? lookup : platform_lookup; }

int GLEntryPointCount(void) { return 34; }

const char *GLEntryPointName(int i) { return i >= 0 && i < 34 ? glnames[i] : nullptr; }

void ResolveGLEntryPoints(void) {
    for (int i = 0; glnames[i]; i++) memcpy(glfuncs[i], &glfallbacks[i], sizeof(void (*)(void)));
    for (int i = 0; glnames[i]; i++) {
        QVP_GLPROC addr = gl_lookup(glnames[i]);
        if (addr) {
            memcpy(glfuncs[i], &addr, sizeof addr);
        } else {
            char buf[QVP_TEXT_BUF];
            snprintf(buf, sizeof buf, "%s not supported!", glnames[i]);
            QVF_LogStatusF(buf, QVP_SOURCE, __LINE__);
        }
    }
    TARN_glGenFramebuffersEXT(1, &canvas_fbo);
}

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
