// egl_context.cpp - the display's GL context through EGL. Headless: Mesa's
// surfaceless platform first, then the device platform, then the default
// display, drawing into a pbuffer. In a window: the X11 platform on the
// server $DISPLAY names, drawing into the window's back buffer. Only
// standard EGL is used, so a GPU driver works as well as llvmpipe.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "egl_context.h"
#include "qvp_externs.h"

namespace {
// The open EGL objects; set by qvp_egl_open, cleared by qvp_egl_close.
EGLDisplay g_dpy = EGL_NO_DISPLAY;
EGLSurface g_surf = EGL_NO_SURFACE;
EGLContext g_ctx = EGL_NO_CONTEXT;
// The window and its X connection; set by qvp_egl_open_window.
Display *g_x = nullptr;
Window g_win = 0;
Atom g_wm_delete = 0, g_frame_atom = 0;
int g_win_w = 0, g_win_h = 0;
// Set by on_x_error when the server refused a request (the window was
// destroyed under us, say): the next poll reports the window closed.
bool g_x_failed = false;
// Called when the connection to the X server is lost; set by
// qvp_egl_set_lost_hook.
void (*g_lost_hook)(const char *why) = nullptr;

// Xlib's default handlers print raw protocol errors and exit on the
// spot, leaving the scene behind. Ours log the error once and end the
// window through the normal close.
int on_x_error(Display *d, XErrorEvent *e) {
    if (!g_x_failed) {
        char text[120] = "";
        XGetErrorText(d, e->error_code, text, sizeof text);
        char msg[300];
        snprintf(msg, sizeof msg, "X error \"%s\" (request %d): closing the window", text, (int)e->request_code);
        QVF_LogWarningF(msg, "qvpdisp", __LINE__);
    }
    g_x_failed = true;
    return 0;
}

// The server went away: Xlib exits after this returns, so the hook
// (the viewer's clean-up) runs now.
int on_x_io_error(Display *) {
    if (g_lost_hook) g_lost_hook("the connection to the X server was lost");
    return 0;
}

// The largest surface EGL and GL allow; 0 when unknown.
void max_surface(EGLConfig cfg, EGLint *mw, EGLint *mh, EGLint *mpixels) {
    *mw = *mh = *mpixels = 0;
    eglGetConfigAttrib(g_dpy, cfg, EGL_MAX_PBUFFER_WIDTH, mw);
    eglGetConfigAttrib(g_dpy, cfg, EGL_MAX_PBUFFER_HEIGHT, mh);
    eglGetConfigAttrib(g_dpy, cfg, EGL_MAX_PBUFFER_PIXELS, mpixels);
}

// The config and context both kinds of surface use: desktop OpenGL,
// compatibility profile, RGBA8, 24 depth and 8 stencil bits.
bool choose_config(EGLint surface_bit, EGLConfig &cfg) {
    const EGLint cfg_attr[] = {EGL_SURFACE_TYPE, surface_bit,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                               EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                               EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 8,
                               EGL_NONE};
    EGLint n = 0;
    return eglChooseConfig(g_dpy, cfg_attr, &cfg, 1, &n) && n >= 1;
}

bool make_context(EGLConfig cfg, std::string &why) {
    const EGLint ctx_attr[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    g_ctx = eglCreateContext(g_dpy, cfg, EGL_NO_CONTEXT, ctx_attr);
    if (g_ctx == EGL_NO_CONTEXT) {
        why = "cannot create an OpenGL compatibility-profile context";
        return false;
    }
    if (!eglMakeCurrent(g_dpy, g_surf, g_surf, g_ctx)) {
        why = "cannot make the GL context current";
        return false;
    }
    return true;
}

// Given the surface just made (g_surf), makes the context current on it;
// on failure closes everything with WHY set (NO_SURFACE when it is the
// surface that failed).
// A W x H surface past GL's largest viewport is refused too: nothing
// could draw all of it.
bool finish_open(EGLConfig cfg, int w, int h, const std::string &no_surface, std::string &why) {
    if (g_surf == EGL_NO_SURFACE) why = no_surface;
    if (g_surf == EGL_NO_SURFACE || !make_context(cfg, why)) {
        qvp_egl_close();
        return false;
    }
    GLint dims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
    if (dims[0] > 0 && (w > dims[0] || h > dims[1])) {
        why = std::to_string(w) + "x" + std::to_string(h) + " is beyond the largest viewport GL draws (" +
              std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + ")";
        qvp_egl_close();
        return false;
    }
    return true;
}

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
    EGLConfig cfg;
    if (!choose_config(EGL_PBUFFER_BIT, cfg)) {
        why = "no EGL config with a pbuffer, desktop OpenGL, RGBA8, 24 depth bits and 8 stencil bits";
        qvp_egl_close();
        return false;
    }
    EGLint mw, mh, mp;
    max_surface(cfg, &mw, &mh, &mp);
    if ((mw > 0 && w > mw) || (mh > 0 && h > mh) || (mp > 0 && (long long)w * h > mp)) {
        why = std::to_string(w) + "x" + std::to_string(h) + " is beyond the largest pbuffer EGL gives (" +
              std::to_string(mw) + "x" + std::to_string(mh) + ", " + std::to_string(mp) + " pixels)";
        qvp_egl_close();
        return false;
    }
    const EGLint pb_attr[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
    g_surf = eglCreatePbufferSurface(g_dpy, cfg, pb_attr);
    return finish_open(cfg, w, h, "cannot create a " + std::to_string(w) + "x" + std::to_string(h) + " EGL pbuffer", why);
}

bool qvp_egl_open_window(int w, int h, const char *title, std::string &why) {
    const char *name = getenv("DISPLAY");
    if (!name || !*name) {
        why = "no X display for the window: DISPLAY is not set (run under an X session or xvfb-run)";
        return false;
    }
    g_x = XOpenDisplay(name);
    if (!g_x) {
        why = std::string("cannot open X display \"") + name + "\" named by DISPLAY";
        return false;
    }
    g_x_failed = false;
    XSetErrorHandler(on_x_error);
    XSetIOErrorHandler(on_x_io_error);

    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (getPlatformDisplay && has_ext(client, "EGL_EXT_platform_x11"))
        g_dpy = getPlatformDisplay(EGL_PLATFORM_X11_EXT, g_x, nullptr);
    if (g_dpy == EGL_NO_DISPLAY || !eglInitialize(g_dpy, nullptr, nullptr)) {
        g_dpy = EGL_NO_DISPLAY;
        why = std::string("EGL has no X11 platform for display \"") + name + "\"";
        qvp_egl_close();
        return false;
    }
    EGLConfig cfg;
    EGLint visual_id = 0;
    if (!eglBindAPI(EGL_OPENGL_API) || !choose_config(EGL_WINDOW_BIT | EGL_PBUFFER_BIT, cfg) ||
        !eglGetConfigAttrib(g_dpy, cfg, EGL_NATIVE_VISUAL_ID, &visual_id)) {
        why = "no EGL window config with desktop OpenGL, RGBA8, 24 depth bits and 8 stencil bits";
        qvp_egl_close();
        return false;
    }
    XVisualInfo tmpl;
    memset(&tmpl, 0, sizeof tmpl);
    tmpl.visualid = (VisualID)visual_id;
    int nvis = 0;
    XVisualInfo *vi = XGetVisualInfo(g_x, VisualIDMask, &tmpl, &nvis);
    Window root = DefaultRootWindow(g_x);
    XSetWindowAttributes attr;
    memset(&attr, 0, sizeof attr);
    attr.background_pixel = 0;
    attr.border_pixel = 0;
    attr.event_mask = KeyPressMask | StructureNotifyMask | ExposureMask;
    Visual *visual = vi ? vi->visual : DefaultVisual(g_x, DefaultScreen(g_x));
    int depth = vi ? vi->depth : DefaultDepth(g_x, DefaultScreen(g_x));
    attr.colormap = XCreateColormap(g_x, root, visual, AllocNone);
    g_win = XCreateWindow(g_x, root, 0, 0, (unsigned)w, (unsigned)h, 0, depth, InputOutput, visual,
                          CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attr);
    if (vi) XFree(vi);
    XStoreName(g_x, g_win, title);
    g_wm_delete = XInternAtom(g_x, "WM_DELETE_WINDOW", False);
    g_frame_atom = XInternAtom(g_x, "_QVP_FRAME", False);
    XSetWMProtocols(g_x, g_win, &g_wm_delete, 1);
    XMapWindow(g_x, g_win);
    XSync(g_x, False);
    g_win_w = w;
    g_win_h = h;
    g_surf = eglCreateWindowSurface(g_dpy, cfg, (EGLNativeWindowType)g_win, nullptr);
    return finish_open(cfg, w, h, "cannot create an EGL surface for the window", why);
}

bool qvp_egl_is_window() { return g_x != nullptr; }

// True when the X connection's socket is hung up: the server has gone.
static bool server_gone() {
    struct pollfd pf = {ConnectionNumber(g_x), POLLIN, 0};
    return poll(&pf, 1, 0) > 0 && (pf.revents & (POLLHUP | POLLERR));
}

bool qvp_egl_swap() {
    if (!g_x || g_surf == EGL_NO_SURFACE) return false;
    // Mesa's image writes to a server that has gone can block for good.
    if (server_gone()) {
        if (g_lost_hook) g_lost_hook("the connection to the X server was lost");
        return false;
    }
    return eglSwapBuffers(g_dpy, g_surf) == EGL_TRUE;
}

bool qvp_egl_poll(QvpWindowEvents &ev) {
    if (!g_x) return false;
    if (g_x_failed) ev.close = true;
    // A server that died may leave Xlib with nothing to read and Mesa's
    // image writes failing quietly: the hung-up socket says it is gone.
    if (server_gone()) {
        if (g_lost_hook) g_lost_hook("the connection to the X server was lost");
        ev.close = true;
        return true;
    }
    while (XPending(g_x)) {
        XEvent e;
        XNextEvent(g_x, &e);
        if (e.type == ClientMessage && (Atom)e.xclient.data.l[0] == g_wm_delete) ev.close = true;
        else if (e.type == DestroyNotify) ev.close = true;
        else if (e.type == ConfigureNotify && (e.xconfigure.width != g_win_w || e.xconfigure.height != g_win_h)) {
            g_win_w = e.xconfigure.width;
            g_win_h = e.xconfigure.height;
            ev.w = g_win_w;
            ev.h = g_win_h;
        } else if (e.type == KeyPress) {
            KeySym sym = 0;
            char buf[8];
            int n = XLookupString(&e.xkey, buf, sizeof buf, &sym, nullptr);
            if (sym == XK_Escape) ev.keys += '\033';
            else if (n > 0) ev.keys.append(buf, (size_t)n);
        }
    }
    return true;
}

void qvp_egl_set_lost_hook(void (*hook)(const char *why)) { g_lost_hook = hook; }

void qvp_egl_mark_frame(int frame) {
    if (!g_x || g_x_failed) return;
    long v = frame;
    XChangeProperty(g_x, g_win, g_frame_atom, XA_CARDINAL, 32, PropModeReplace, (unsigned char *)&v, 1);
    XFlush(g_x);
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
    if (g_x) {
        if (g_win) XDestroyWindow(g_x, g_win);
        XCloseDisplay(g_x);
    }
    g_x = nullptr;
    g_win = 0;
}
