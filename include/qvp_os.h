/* qvp_os.h - platform mapping: the plugin export macro and the GL
 * entry-point lookup of the platform's GL binding (EGL here). */
#ifndef QVP_OS_H
#define QVP_OS_H

#include <EGL/egl.h>

#ifdef __cplusplus
#define QVP_EXTERN_C extern "C"
#else
#define QVP_EXTERN_C
#endif

/* Marks a function that the host finds in a plugin module by name. */
#define QVP_EXPORT QVP_EXTERN_C __attribute__((visibility("default")))

/* Signature of a GL entry-point lookup: name in, address or null out. */
typedef void (*QVP_GLPROC)(void);
typedef QVP_GLPROC (*QVP_GLPROC_LOOKUP)(const char *name);

/* The platform's lookup; it must be called with the display's GL
 * context current. */
#define QVP_GetGLProcAddress(name) \
    ((QVP_GLPROC)eglGetProcAddress(name))

#endif
