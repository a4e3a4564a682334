// services.cpp - the bottom layer of the plugin: the process state every
// file reads (set up by plugin.cpp's entry point) and the services every
// file uses: memory, texture names, checks of shared blocks and texture
// sizes, the display's clock and the canvas lock. It calls nothing of
// the plugin's other files.
#include <stdlib.h>
#include <string.h>

#include "dc_services.h"
#include "dc_glstate.h"
#include "drawcanvas_testing.h"
#include "qvp_canvas_roots.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

// Host process records; looked up by QVF_InitializePluginCB, kept for
// the life of the process.
QVS_TARN *tarn = nullptr;
QVS_TARN_FEATURES *tarn_features = nullptr;
QVS_DOUBLE_DATA *double_data = nullptr;

// The scene's canvas root and this process's record; found or made by
// QVF_InitializePluginCB, fixed afterwards.
QVP_CANVAS_INFO *pinfo = nullptr;
QVP_CANVAS_PROC_INFO *pprocinfo = nullptr;

// Stencil depth of the display's context; read at initialisation.
GLint stencil_bits = 0;

// Texture cache slots in use, 0..10; set by the plugin options.
int max_image_objs = 10;
int max_video_objs = 10;
int max_canvas_objs = 10;

// The four switches of the qvp_drawcanvas command; only 0 or 1.
int draw_canvas = 1;
int draw_scene = 1;
int draw_background = 1;
int draw_foreground = 1;

// Process datum "DOING_INTERNAL_PASS"; looked up by the view pass.
int *doing_internal_pass = nullptr;

// The framebuffer object of offscreen canvases; generated at start-up.
GLuint canvas_fbo = 0;

// Calls of PluginRealloc still to refuse, and calls to let through
// before the first refusal; set by tests only.
int plugin_realloc_refusals = 0;
int plugin_realloc_passes = 0;

void *PluginRealloc(void *p, size_t size) {
    if (plugin_realloc_refusals > 0) {
        if (plugin_realloc_passes > 0) {
            plugin_realloc_passes--;
        } else {
            plugin_realloc_refusals--;
            return nullptr;
        }
    }
    return realloc(p, size);
}

// The next texture name NewTextureName tries; back to 1 with a new
// context (ResetServices).
static GLuint next_texture_name = 1;

GLuint NewTextureName(void) {
    while (next_texture_name < QVP_CANVAS_FIRST_TEX_OBJ && glIsTexture(next_texture_name)) next_texture_name++;
    if (next_texture_name >= QVP_CANVAS_FIRST_TEX_OBJ) {
        GLuint n = 0;
        glGenTextures(1, &n);
        return n;
    }
    return next_texture_name++;
}

int SharedBlockHolds(const void *owner, const void *p, size_t bytes) {
    size_t block = QVF_GetArenaBlockSize(p);
    if (QVF_GetArenaBlockSize(owner)) return p && block >= bytes;
    return !block || block >= bytes;
}

int SharedStringFits(const void *owner, const char *s) {
    size_t block = QVF_GetArenaBlockSize(s);
    if (block) return memchr(s, 0, block) != nullptr;
    return s && !QVF_GetArenaBlockSize(owner);
}

int TextureSizeFits(int w, int h) {
    // Asked once: the limit is the implementation's, the same in every context.
    static GLint max_size = 0;
    if (!max_size) glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    return w > 0 && h > 0 && (max_size <= 0 || (w <= max_size && h <= max_size));
}

int CacheSlotsInUse(int asked) { return asked < 0 ? 0 : asked > QVP_CACHE_SLOTS ? QVP_CACHE_SLOTS : asked; }

double DisplayRunTime(void) { return QVV_display ? QVV_display->run_time : 0.0; }

void ResetServices(void) {
    ResetGLState();
    plugin_realloc_refusals = 0;
    plugin_realloc_passes = 0;
    next_texture_name = 1;
}

/* ---- the canvas lock ---- */

// Takes the canvas lock for this process, nesting: the shared lock is
// taken only when the process does not hold it yet, with signals
// suspended until the matching UnlockCanvasInfo. Needs pinfo and
// pprocinfo (set at start-up before any callback runs).
void LockCanvasInfo(void) { QVP_CanvasLock(pinfo, pprocinfo); }

void UnlockCanvasInfo(void) { QVP_CanvasUnlock(pinfo, pprocinfo); }
