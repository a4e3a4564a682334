/* qvp_externs.h - operations of the host framework (libqvp, libqvpdisp). */
#ifndef QVP_EXTERNS_H
#define QVP_EXTERNS_H

#include <stddef.h>
#include "qvp_structs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Process data: zero-filled heap blocks of this process, by name. A name
 * that is not there gives null and a status line in the log. */
void *QVF_GetDataFromProcess(const char *name);
void *QVF_AddDataToProcess(const char *name, size_t size);

/* Scene data: zero-filled blocks in the scene arena, shared by every
 * process on the scene. Get gives null (and a status line) for an
 * unknown name; Add returns null when the name is taken or the arena is
 * full. */
void *QVF_GetDataFromScene(QVS_SCENE *scene, const char *name);
void *QVF_AddDataToScene(QVS_SCENE *scene, const char *name, size_t size);
void QVF_LockScene(QVS_SCENE *scene);
void QVF_UnlockScene(QVS_SCENE *scene);

/* Cross-process locks. SetLock recovers a lock whose owner died. The
 * int results are 1 on success, 0 on failure (with a log line). */
QVS_SMLOCK *QVF_NewLock(QVS_SMHANDLE *arena);
/* Bytes of the scene arena ARENA; 0 when it is not the open scene's. */
size_t QVF_GetArenaSize(QVS_SMHANDLE *arena);
/* Usable bytes of the live arena block that starts at P; 0 when P starts
 * no live block of the open scene's arena. */
size_t QVF_GetArenaBlockSize(const void *p);
/* Live blocks of the open scene's arena (0 when none is open): every
 * record is a block of its own, so no list of records is longer. */
size_t QVF_GetArenaBlockCount(void);
int QVF_InitLock(QVS_SMLOCK *lock);
int QVF_SetLock(QVS_SMLOCK *lock);
int QVF_UnsetLock(QVS_SMLOCK *lock);

/* Hold off the host's asynchronous signals; pairs nest. */
void QVF_SuspendSignals(void);
void QVF_ResumeSignals(void);

/* Plugins. */
void QVF_InstallPluginFunction(QVT_HANDLE handle, void (*func)(void),
                               int phase);
void QVF_RegisterPluginVersion(QVS_PLUGIN *plugin, const char *text);
void QVF_ExecuteCore(void);

/* The host log. */
void QVF_LogWarningF(const char *msg, const char *source, int line);
void QVF_LogStatusF(const char *msg, const char *source, int line);

/* Helpers. */
int QVF_GetNodeID(const char *name);
int QVF_strcmpi(const char *a, const char *b);
void QVF_FastInverseMat(QVT_MATRIX dst, QVT_MATRIX src);

/* Display operations (libqvpdisp). */
void QVF_PushDrawingState(void);
void QVF_PopDrawingState(void);

/* Drawing-state setters. A drawing state gives back what canvases
 * change without GL's attribute stack: the display keeps a shadow of
 * those groups, so inside a drawing state they change only through these
 * calls (each is the GL call of its name, GLenum and GLuint as unsigned).
 * Inside a drawing state a setter that would not change the state sends
 * nothing. QVF_StateEnable follows GL_BLEND, GL_DEPTH_TEST,
 * GL_STENCIL_TEST, GL_TEXTURE_2D, GL_ALPHA_TEST, GL_CULL_FACE,
 * GL_SCISSOR_TEST, GL_LIGHTING, GL_LINE_SMOOTH and GL_POLYGON_OFFSET_FILL;
 * other caps go to GL unsaved. QVF_StatePixelStore saves
 * GL_UNPACK_ALIGNMENT and GL_UNPACK_ROW_LENGTH. The client arrays
 * (vertex, texture coordinates, colour, normal) are saved on or off, not
 * their pointers. Matrices and the current colour are saved whatever
 * changes them, so glColor may be called directly (QVF_StateColor4f is
 * glColor4f). */
void QVF_StateEnable(unsigned cap, int on);
void QVF_StateBlendFunc(unsigned src, unsigned dst);
void QVF_StateColorMask(int r, int g, int b, int a);
void QVF_StateDepthFunc(unsigned func);
void QVF_StateDepthMask(int on);
void QVF_StateStencilFunc(unsigned func, int ref, unsigned mask);
void QVF_StateStencilOp(unsigned fail, unsigned zfail, unsigned zpass);
void QVF_StateClearStencil(int s);
void QVF_StateTexEnvMode(unsigned mode);
void QVF_StateBindTexture2D(unsigned tex);
void QVF_StateViewport(int x, int y, int w, int h);
void QVF_StateScissor(int x, int y, int w, int h);
void QVF_StateLineWidth(float w);
void QVF_StateColor4f(float r, float g, float b, float a);
void QVF_StatePixelStore(unsigned pname, int value);
void QVF_StateClientArray(unsigned array, int on);
void QVF_StateInterleavedArrays(unsigned format, int stride, const void *pointer);
void QVF_GetDisplayGlobalMat(int node, QVT_MATRIX result);
void QVF_ClearZ(void);
QVS_NODE_LAYERS *QVF_AllocateNodeLayers(void);
void QVF_ClearNodeLayers(QVS_NODE_LAYERS *layers);
void QVF_AddNodeToLayers(QVS_NODE_LAYERS *layers, int node, int layer);

#ifdef __cplusplus
}
#endif

#endif
