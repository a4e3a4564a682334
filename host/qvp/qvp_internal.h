/* qvp_internal.h - libqvp's private declarations. */
#ifndef QVP_INTERNAL_H
#define QVP_INTERNAL_H

#include <pthread.h>
#include <stdint.h>
#include "qvp_structs.h"

#define QVH_ARENA_MAGIC   0x51565041524e4131ull   /* "QVPARNA1" */
#define QVH_ARENA_VERSION 5u

/* A named block of scene data; entries are prepended with one pointer
 * store, so a reader never meets a half-linked entry. */
typedef struct QVH_NAMED {
    char name[QVP_DATA_NAME_LEN];
    void *data;
    size_t size;
    struct QVH_NAMED *pnext;
} QVH_NAMED;

/* A block of the arena allocator: a header in front of the payload.
 * A free block is on the address-sorted free list; a used one carries
 * QVH_BLOCK_USED in `next`. */
typedef struct QVH_BLOCK {
    size_t size;                /* whole block, header included */
    struct QVH_BLOCK *next;
} QVH_BLOCK;

#define QVH_BLOCK_USED ((QVH_BLOCK *)0x5155505553454421ull)

/* The arena header, at the base of every scene segment. */
struct QVS_SMHANDLE {
    uint64_t magic;             /* written last by the creator */
    uint32_t version;
    uint32_t header_size;
    uint64_t base;              /* address it was created at */
    uint64_t size;              /* bytes in the segment */
    pthread_mutex_t scene_mutex;    /* registry and nodes (recursive) */
    pthread_mutex_t alloc_mutex;    /* allocator */
    QVH_NAMED *registry;
    QVH_BLOCK *free_list;
    uint64_t free_bytes;
    uint64_t used_blocks;       /* live blocks: no list of records is longer */
    int32_t creator_pid;        /* the process that made the segment */
    uint32_t creator_closed;    /* 1 once it closed the scene normally */
    uint64_t creator_start;     /* its start time: pids are reused */
    QVS_SCENE scene;
};

/* Initialises a process-shared, robust mutex; returns 1 on success. */
int qvp_init_robust_mutex(pthread_mutex_t *m, int recursive);

/* Locks a robust mutex, recovering it when its owner died (with a log
 * line naming WHAT). Returns 1 when the caller holds it. */
int qvp_lock_robust(pthread_mutex_t *m, const char *what);
/* The same; *RECOVERED (when given) is set to 1 when the lock was taken
 * from an owner that died holding it. */
int qvp_lock_robust_ex(pthread_mutex_t *m, const char *what, int *recovered);
void qvp_unlock_robust(pthread_mutex_t *m);

/* The arena of the open scene, or null. */
struct QVS_SMHANDLE *qvp_arena(void);

/* Logs "KIND data "NAME" not found" once per kind and name in this
 * process, so that a lookup repeated every frame does not flood the log. */
void qvp_log_missing(const char *kind, const char *name);

/* printf-style helpers around the log. */
void qvp_warnf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void qvp_statusf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
