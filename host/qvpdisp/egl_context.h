/* egl_context.h - the headless GL context behind the display. */
#ifndef QVP_EGL_CONTEXT_H
#define QVP_EGL_CONTEXT_H

#include <string>

/* Creates a W x H pbuffer with a compatibility-profile GL context (RGBA8,
 * depth 24, stencil 8) and makes it current. Returns false with WHY set. */
bool qvp_egl_open(int w, int h, std::string &why);

/* Releases the context and the EGL display. */
void qvp_egl_close();

#endif
