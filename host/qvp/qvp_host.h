/* qvp_host.h - libqvp's interface for host programs (the viewer, the
 * display, the canvas builder and tests). Plugins use qvp_externs.h. */
#ifndef QVP_HOST_H
#define QVP_HOST_H

#include <stddef.h>
#include <stdint.h>
#include "qvp_structs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- scene arena ---- */

#define QVH_DEFAULT_ARENA_SIZE   (64u << 20)
#define QVH_DEFAULT_ARENA_ADDR   0x550000000000ull
#define QVH_ARENA_ADDR_ENV       "QVP_SCENE_ADDR"

/* Flags of QVH_OpenScene. */
#define QVH_SCENE_CREATE  0x1   /* create it when it does not exist */
#define QVH_SCENE_ATTACH  0x2   /* attach when it exists */
#define QVH_SCENE_GROUP   0x4   /* a new segment gets mode 0660 */

/* Opens scene NAME (letters, digits, '_', '-', '.'; at most 48 chars):
 * attaches to an existing segment or creates one of SIZE bytes (0 for
 * the default), as FLAGS allow, and maps it at the fixed arena address
 * (QVP_SCENE_ADDR in the environment overrides it). Sets QVV_scene.
 * Returns the scene, or null with a log line and ERR filled (when
 * non-null). Only one scene is open in a process at a time. */
QVS_SCENE *QVH_OpenScene(const char *name, size_t size, int flags,
                         char *err, size_t errlen);

/* Unmaps the open scene (the segment stays); QVV_scene becomes null. */
void QVH_CloseScene(void);

/* Removes segment NAME from the system. Returns 1 when it existed. */
int QVH_RemoveScene(const char *name);

/* 1 when the open scene was created by this process. */
int QVH_SceneCreatedHere(void);

/* The pid of the process that made the open scene when that process died
 * without closing it (killed, say): the segment may be stale. 0 when it
 * still runs, closed the scene normally, or is this process. */
int QVH_SceneCreatorGone(void);

/* Process PID's start time in clock ticks since boot (from /proc), or 0
 * when no such process runs. A pid with its start time names one process
 * for good: pids are reused, start times with them are not. */
uint64_t QVH_ProcessStart(int pid);

/* 1 when process PID, started at START, is still running. */
int QVH_ProcessAlive(int pid, uint64_t start);


/* Allocates SIZE zero-filled bytes in the open scene's arena, 16-byte
 * aligned. Returns null (with a log line) when no scene is open or the
 * arena is full. */
void *QVH_Alloc(size_t size);

/* Frees a block from QVH_Alloc; null is ignored, a pointer that is not
 * a live block is refused with a log line. */
void QVH_Free(void *p);

/* Fault simulation for tests: the next PASSES arena allocations of this
 * process succeed, then the REFUSALS after them fail as a full arena
 * would (0, 0: none refused). QVH_AllocFaultsLeft: refusals not yet
 * reached. */
void QVH_SetAllocFaults(int passes, int refusals);
int QVH_AllocFaultsLeft(void);

/* Which of this process's scene openings the open scene is (1, 2, ...;
 * 0 with none open): a scene closed and another opened map at the same
 * address, and this tells them apart. */
unsigned QVH_SceneOpenSerial(void);

/* Bytes still free in the arena. */
size_t QVH_ArenaFreeBytes(void);

/* 1 when P lies inside the open scene's arena. */
int QVH_InArena(const void *p);

/* Looks NAME up like QVF_GetDataFromScene / QVF_GetDataFromProcess but
 * without the log line for a missing name: for host code that probes. */
void *QVH_FindSceneData(const char *name);
void *QVH_FindProcessData(const char *name);

/* Makes NAME resolve to PTR through QVF_GetDataFromScene in this
 * process only, ahead of the shared registry (per-display records). */
void QVH_SetLocalSceneData(const char *name, void *ptr);

/* ---- scene nodes ---- */

/* Adds a node named NAME with defaults (shape none, white, scene
 * layer, parent -1). Returns its index, or -1 (with a log line) when
 * the name is taken or empty, or the arena is full. */
int QVH_AddNode(const char *name);

/* The node at INDEX of the open scene, or null. */
QVS_NODE *QVH_GetNode(int index);

/* ---- process data ---- */

/* Drops every process datum (tests only). */
void QVH_ClearProcessData(void);

/* ---- log ---- */

#define QVH_LOG_STATUS  0
#define QVH_LOG_WARNING 1

typedef struct QVH_LOGLINE {
    int level;
    int line;
    char source[64];
    char text[512];
} QVH_LOGLINE;

/* The recent log lines (at most QVH_LOG_KEEP), oldest first. */
#define QVH_LOG_KEEP 2000
int QVH_LogCount(void);
const QVH_LOGLINE *QVH_LogGet(int index);
/* Empties the kept lines and forgets which lines repeated. */
void QVH_LogClear(void);

/* On stderr, a line that repeats (the same call site and words) is
 * written once, then at most once per QVH_LOG_REPEAT_S seconds, ending
 * "(repeated N times)" with the count held back since; the kept lines
 * hold every one. QVH_LOG_REPEAT_SITES lines are followed at once; the
 * one quiet longest makes room. */
#define QVH_LOG_REPEAT_S 10.0
#define QVH_LOG_REPEAT_SITES 256

/* For tests: the clock (seconds) the repeat rule reads; null for the
 * monotonic clock. */
void QVH_LogSetClock(double (*now)(void));

/* 0 silences the copy on stderr (the lines are still kept). */
void QVH_LogToStderr(int on);

/* ---- plugins and phases ---- */

/* Loads the module at PATH with ARGC arguments ARGV (ARGV[0] is the
 * module path) and calls its QVF_InitializePluginCB. Returns the
 * plugin's result (1 active, 0 refused), or -1 with a log line when the
 * module cannot be loaded or lacks its entry point. */
int QVH_LoadPlugin(const char *path, int argc, const char *const *argv);

/* The loaded plugins, in load order. */
QVS_PLUGIN *QVH_Plugins(void);

/* Runs phase PHASE: its callbacks in load order, each reaching the next
 * through QVF_ExecuteCore, and CORE (may be null) after the last; with
 * no callback, CORE directly. */
void QVH_RunPhase(int phase, void (*core)(void));

/* Forgets every installed phase callback (a host that restarts its
 * plugins, and tests). */
void QVH_ClearCallbacks(void);

/* Calls every plugin's cleanup then exit entry points, once. */
void QVH_ShutdownPlugins(void);

/* Depth of QVF_SuspendSignals nesting in this thread. */
int QVH_SignalDepth(void);

/* ---- matrices ---- */

void QVH_MatIdentity(double m[4][4]);
/* r = a*b (a applied first); r may alias neither input. */
void QVH_MatMul(double r[4][4], const double a[4][4], const double b[4][4]);
/* General inverse; returns 0 (and the identity) for a singular matrix. */
int QVH_MatInverse(double dst[4][4], const double src[4][4]);

#ifdef __cplusplus
}
#endif

#endif
