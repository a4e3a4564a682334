/* qvp_canvas_roots.h - the one way to find or make a scene's canvas root
 * and a process's canvas record, and the one nesting of the canvas lock.
 * The plugin and the canvas builder both use these, so that whichever
 * process comes first makes the same records. Host interface only. */
#ifndef QVP_CANVAS_ROOTS_H
#define QVP_CANVAS_ROOTS_H

#include <stdio.h>
#include <string.h>

#include "qvp_canvas.h"
#include "qvp_externs.h"

/* The font folder a new root names. */
#define QVP_CANVAS_FONT_DIR "/usr/share/fonts/truetype/dejavu"

/* The first font texture name a new root hands out. */
#define QVP_CANVAS_FIRST_TEX_OBJ 1234567

/* Nested canvases a display draws in one frame, counted over all its
 * passes and views: canvas elements that show canvases that show others
 * multiply (fan-out to the power of the depth), and the display holds the
 * canvas lock while it draws them. Past the budget, further nested
 * canvases of that frame draw nothing. */
#define QVP_NESTED_DRAW_BUDGET 4096

/* Most records any walk along a shared list takes: the live blocks of
 * the scene's arena, since every record is a block of its own (a fixed
 * bound for records outside a scene). A list looped back on itself thus
 * ends after as many steps as there are real records, however large the
 * arena. */
static inline long QVP_WalkLimit(void) {
    size_t blocks = QVF_GetArenaBlockCount();
    return blocks ? (long)blocks : 1L << 20;
}

/* for (T *VAR = HEAD; VAR; VAR = VAR->pnext), at most QVP_WalkLimit()
 * times. */
#define QVP_WALK(T, var, head)                                                   \
    for (long var##_left = QVP_WalkLimit(); var##_left > 0; var##_left = 0) \
        for (T *var = (head); var && var##_left-- > 0; var = var->pnext)

/* The extension behind font F, or null when F has none (a font made
 * otherwise than by the canvas builder, or one whose block is too short). */
static inline const QVP_CANVAS_FONTEXT *QVP_FontExtension(const QVP_CANVAS_FONTDEF *f) {
    if (QVF_GetArenaBlockSize(f) < sizeof(QVP_CANVAS_FONTDEF) + sizeof(QVP_CANVAS_FONTEXT)) return 0;
    const QVP_CANVAS_FONTEXT *x = (const QVP_CANVAS_FONTEXT *)(f + 1);
    return x->magic == QVP_FONTEXT_MAGIC ? x : (const QVP_CANVAS_FONTEXT *)0;
}

/* Finds scene data "QVP_CANVAS_INFO" in SCENE or makes it, with its
 * access lock, under the scene lock (two processes starting together
 * make one). Returns null, having made nothing that is linked, when the
 * arena has no room or the lock cannot be made. */
static inline QVP_CANVAS_INFO *QVP_CanvasRoot(QVS_SCENE *scene) {
    QVF_LockScene(scene);
    QVP_CANVAS_INFO *info = (QVP_CANVAS_INFO *)QVF_GetDataFromScene(scene, "QVP_CANVAS_INFO");
    if (!info) {
        QVS_SMLOCK *lock = QVF_NewLock(scene->arena);
        if (lock && QVF_InitLock(lock)) {
            info = (QVP_CANVAS_INFO *)QVF_AddDataToScene(scene, "QVP_CANVAS_INFO", sizeof(QVP_CANVAS_INFO));
            if (info) {
                memset(info, 0, sizeof *info);
                info->tex_obj = QVP_CANVAS_FIRST_TEX_OBJ;
                snprintf(info->font_dir, sizeof info->font_dir, "%s", QVP_CANVAS_FONT_DIR);
                info->access_lock = lock;
            }
        }
    }
    QVF_UnlockScene(scene);
    return info && info->access_lock ? info : (QVP_CANVAS_INFO *)0;
}

/* Finds process data "QVP_CANVAS_PROC_INFO" or makes it; null when it
 * cannot be made. */
static inline QVP_CANVAS_PROC_INFO *QVP_CanvasProcRecord(void) {
    QVP_CANVAS_PROC_INFO *proc = (QVP_CANVAS_PROC_INFO *)QVF_GetDataFromProcess("QVP_CANVAS_PROC_INFO");
    if (!proc) {
        proc = (QVP_CANVAS_PROC_INFO *)QVF_AddDataToProcess("QVP_CANVAS_PROC_INFO", sizeof(QVP_CANVAS_PROC_INFO));
        if (proc) {
            memset(proc, 0, sizeof *proc);
            proc->element_id = 1;
        }
    }
    return proc;
}

/* Takes the canvas lock in nesting fashion: signals suspended, the
 * shared lock taken only at this process's outermost level. Every take
 * is matched by one QVP_CanvasUnlock. */
static inline void QVP_CanvasLock(QVP_CANVAS_INFO *info, QVP_CANVAS_PROC_INFO *proc) {
    QVF_SuspendSignals();
    if (proc->is_locked == 0) QVF_SetLock(info->access_lock);
    proc->is_locked++;
}

static inline void QVP_CanvasUnlock(QVP_CANVAS_INFO *info, QVP_CANVAS_PROC_INFO *proc) {
    proc->is_locked--;
    if (proc->is_locked == 0) QVF_UnsetLock(info->access_lock);
    QVF_ResumeSignals();
}

#endif
