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
void QVF_GetDisplayGlobalMat(int node, QVT_MATRIX result);
void QVF_ClearZ(void);
QVS_NODE_LAYERS *QVF_AllocateNodeLayers(void);
void QVF_ClearNodeLayers(QVS_NODE_LAYERS *layers);
void QVF_AddNodeToLayers(QVS_NODE_LAYERS *layers, int node, int layer);

#ifdef __cplusplus
}
#endif

#endif
