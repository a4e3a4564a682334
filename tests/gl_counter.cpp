// gl_counter.cpp - the counting stand-ins of gl_counter.h.
#include <GL/gl.h>
#include <dlfcn.h>

#include "gl_counter.h"

extern "C" {

long gl_teximage_calls = 0;
long gl_texsubimage_calls = 0;
long gl_begin_calls = 0;
long gl_vertex3d_calls = 0;
long gl_array_vertices = 0;
long gl_array_draws = 0;

void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
    using Fn = void (*)(GLdouble, GLdouble, GLdouble);
    static Fn real = (Fn)dlsym(RTLD_NEXT, "glVertex3d");
    gl_vertex3d_calls++;
    real(x, y, z);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    using Fn = void (*)(GLenum, GLint, GLsizei);
    static Fn real = (Fn)dlsym(RTLD_NEXT, "glDrawArrays");
    gl_array_draws++;
    gl_array_vertices += count;
    real(mode, first, count);
}

void glBegin(GLenum mode) {
    using Fn = void (*)(GLenum);
    static Fn real = (Fn)dlsym(RTLD_NEXT, "glBegin");
    gl_begin_calls++;
    real(mode);
}

void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void *pixels) {
    using Fn = void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void *);
    static Fn real = (Fn)dlsym(RTLD_NEXT, "glTexImage2D");
    gl_teximage_calls++;
    real(target, level, internalformat, width, height, border, format, type, pixels);
}

void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width, GLsizei height,
                     GLenum format, GLenum type, const void *pixels) {
    using Fn = void (*)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void *);
    static Fn real = (Fn)dlsym(RTLD_NEXT, "glTexSubImage2D");
    gl_texsubimage_calls++;
    real(target, level, xoffset, yoffset, width, height, format, type, pixels);
}
}
