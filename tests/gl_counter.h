// gl_counter.h - counts of the texture uploads and primitives every
// caller in the test process makes. gl_counter.cpp defines glTexImage2D,
// glTexSubImage2D, glBegin and glVertex3d in the test executable, which takes them before the GL library does,
// counts each call and hands it on to the library's own.
#ifndef QVP_GL_COUNTER_H
#define QVP_GL_COUNTER_H

extern "C" {
extern long gl_teximage_calls;
extern long gl_texsubimage_calls;
extern long gl_begin_calls;
extern long gl_vertex3d_calls;  /* every canvas-frame vertex (glColRow) */
}

#endif
