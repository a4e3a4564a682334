/* egl_context.h - the headless GL context behind the display. */
#ifndef QVP_EGL_CONTEXT_H
#define QVP_EGL_CONTEXT_H

#include <string>

/* Creates a W x H pbuffer with a compatibility-profile GL context (RGBA8,
 * depth 24, stencil 8) and makes it current. Returns false with WHY set. */
bool qvp_egl_open(int w, int h, std::string &why);

/* Opens a W x H window titled TITLE on the X server $DISPLAY names, with
 * the same kind of context as the pbuffer, current on its window surface.
 * Returns false with WHY set (no $DISPLAY, no server, no EGL on it). */
bool qvp_egl_open_window(int w, int h, const char *title, std::string &why);

/* Shows the frame drawn since the last swap; false when there is no window. */
bool qvp_egl_swap();

/* Events of the window since the last call. */
struct QvpWindowEvents {
    bool close = false;        /* the window manager's close, or the window went */
    std::string keys;          /* keys typed, as characters; Escape as '\033' */
    int w = 0, h = 0;          /* the new size, when it changed */
};
bool qvp_egl_poll(QvpWindowEvents &ev);

/* Sets the window's _QVP_FRAME property to FRAME (for tools that watch it). */
void qvp_egl_mark_frame(int frame);

/* HOOK runs when the connection to the X server is lost, just before
 * Xlib ends the process; null for none. */
void qvp_egl_set_lost_hook(void (*hook)(const char *why));

/* True when the display draws into a window. */
bool qvp_egl_is_window();

/* Releases the context and the EGL display (and the window). */
void qvp_egl_close();

#endif
