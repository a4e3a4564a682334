// egl_context.cpp - a headless GL context through EGL: Mesa's surfaceless
// platform first, then the device platform, then the default display.
// Only standard EGL is used, so a GPU driver works as well as llvmpipe.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <string.h>

#include "egl_context.h"

namespace {
// The open EGL objects; set by qvp_egl_open, cleared by qvp_egl_close.
EGLDisplay g_dpy = EGL_NO_DISPLAY;
EGLSurface g_surf = EGL_NO_SURFACE;
EGLContext g_ctx = EGL_NO_CONTEXT;

bool has_ext(const char *list, const char *ext) {
    if (!list) return false;
    size_t n = strlen(ext);
    for (const char *p = list; (p = strstr(p, ext)); p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

EGLDisplay pick_display() {
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay && has_ext(client, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
    }
    auto queryDevices = (PFNEGLQUERYDEVICESEXTPROC)eglGetProcAddress("eglQueryDevicesEXT");
    if (getPlatformDisplay && queryDevices && has_ext(client, "EGL_EXT_platform_device")) {
        EGLDeviceEXT devs[8];
        EGLint n = 0;
        if (queryDevices(8, devs, &n))
            for (EGLint i = 0; i < n; i++) {
                EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devs[i], nullptr);
                if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
            }
    }
    EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
    return EGL_NO_DISPLAY;
}
}  // namespace

bool qvp_egl_open(int w, int h, std::string &why) {
    g_dpy = pick_display();
    if (g_dpy == EGL_NO_DISPLAY) {
        why = "no EGL display: neither the surfaceless nor the device platform is available";
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        why = "EGL cannot bind the desktop OpenGL API";
        qvp_egl_close();
        return false;
    }
    const EGLint cfg_attr[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                               EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                               EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 8,
                               EGL_NONE};
    EGLConfig cfg;
    EGLint n = 0;
    if (!eglChooseConfig(g_dpy, cfg_attr, &cfg, 1, &n) || n < 1) {
        why = "no EGL config with a pbuffer, desktop OpenGL, RGBA8, 24 depth bits and 8 stencil bits";
        qvp_egl_close();
        return false;
    }
    const EGLint pb_attr[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
    g_surf = eglCreatePbufferSurface(g_dpy, cfg, pb_attr);
    if (g_surf == EGL_NO_SURFACE) {
        why = "cannot create a " + std::to_string(w) + "x" + std::to_string(h) + " EGL pbuffer";
        qvp_egl_close();
        return false;
    }
    const EGLint ctx_attr[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    g_ctx = eglCreateContext(g_dpy, cfg, EGL_NO_CONTEXT, ctx_attr);
    if (g_ctx == EGL_NO_CONTEXT) {
        why = "cannot create an OpenGL compatibility-profile context";
        qvp_egl_close();
        return false;
    }
    if (!eglMakeCurrent(g_dpy, g_surf, g_surf, g_ctx)) {
        why = "cannot make the GL context current";
        qvp_egl_close();
        return false;
    }
    return true;
}

void qvp_egl_close() {
    if (g_dpy != EGL_NO_DISPLAY) {
        eglMakeCurrent(g_dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (g_ctx != EGL_NO_CONTEXT) eglDestroyContext(g_dpy, g_ctx);
        if (g_surf != EGL_NO_SURFACE) eglDestroySurface(g_dpy, g_surf);
        eglTerminate(g_dpy);
    }
    g_dpy = EGL_NO_DISPLAY;
    g_surf = EGL_NO_SURFACE;
    g_ctx = EGL_NO_CONTEXT;
}
