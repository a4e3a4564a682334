// gl_counter.h - counts of the texture uploads and primitives every
// caller in the test process makes. gl_counter.cpp defines glTexImage2D,
// glTexSubImage2D, glBegin, glVertex3d and glDrawArrays in the test executable, which takes them before the GL library does,
// counts each call and hands it on to the library's own.
#ifndef QVP_GL_COUNTER_H
#define QVP_GL_COUNTER_H

extern "C" {
extern long gl_teximage_calls;
extern long gl_texsubimage_calls;
extern long gl_begin_calls;
extern long gl_vertex3d_calls;  /* every vertex of glColRow */
extern long gl_array_vertices;  /* every vertex drawn from an array */
extern long gl_array_draws;     /* glDrawArrays calls */
}

/* Primitives sent either way. */
inline long gl_primitives() { return gl_begin_calls + gl_array_draws; }

#endif
