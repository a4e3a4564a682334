/* dc_services.h - the plugin's process state and services: its options and host
 * handles, memory, texture names, checks on shared records and the GL
 * entry points it resolves. The bottom layer: every other header builds on it. */
#ifndef DC_SERVICES_H
#define DC_SERVICES_H

#include <GL/gl.h>
#include <GL/glext.h>
#include <stdint.h>
#include <stddef.h>
#include <tcl.h>

#include "qvp_canvas.h"
#include "qvp_canvas_roots.h"
#include "qvp_double.h"
#include "qvp_os.h"
#include "tarn.h"

/* Source name of every log line of the plugin. */
#define QVP_SOURCE "qvp_drawcanvas"

/* Texts with values are formatted into buffers of this size. */
#define QVP_TEXT_BUF 300

/* Node type bits that keep every canvas on such a node from being drawn
 * (the host's marks of nodes that are not shown as geometry). */
#define kNodeTypesNeverShown 0x30000000

/* Frame buffers of every video element, the size of its frames[] ring. */
#define QVP_VIDEO_FRAMES 6

/* Slots of each texture cache (images, video, offscreen canvases). */
#define QVP_CACHE_SLOTS 10

/* ---- process state and services (services.cpp; set up by plugin.cpp) ---- */

extern QVS_TARN *tarn;
extern QVS_TARN_FEATURES *tarn_features;
extern QVP_CANVAS_INFO *pinfo;
extern QVP_CANVAS_PROC_INFO *pprocinfo;
extern QVS_DOUBLE_DATA *double_data;
extern GLint stencil_bits;
extern int max_image_objs;
extern int max_video_objs;
extern int max_canvas_objs;
extern int draw_canvas;
extern int draw_scene;
extern int draw_background;
extern int draw_foreground;
extern int *doing_internal_pass;
extern GLuint canvas_fbo;

void LockCanvasInfo(void);
void UnlockCanvasInfo(void);

/* realloc for the plugin's own growing tables: the one place where the
 * plugin asks for memory. */
void *PluginRealloc(void *p, size_t size);

/* A texture name for the plugin's own textures (caches, glyph pages),
 * below the names fonts are given (QVP_CANVAS_FIRST_TEX_OBJ and up).
 * glGenTextures cannot be used for them: once a font's name is bound it
 * hands out names above it, which later fonts are given too. */
GLuint NewTextureName(void);

/* Checks on what shared records claim.
 * SharedBlockHolds: 1 when record OWNER may read BYTES at P. A record
 * that is an arena block reads only from live arena blocks at least that
 * large, so that a payload read as another type than it was made for
 * (a type changed under it) meets no wild pointer; a record made outside
 * the arena is trusted, unless P starts an arena block that is smaller.
 * SharedStringFits: 1 when string S of OWNER ends inside its arena block,
 * or lies outside the arena with an owner outside it too.
 * TextureSizeFits: 1 when a W x H texture lies in 1..GL's maximum size on
 * both axes. */
int SharedBlockHolds(const void *owner, const void *p, size_t bytes);
int SharedStringFits(const void *owner, const char *s);
int TextureSizeFits(int w, int h);

/* The current display's run time; 0 without a display. */
double DisplayRunTime(void);

/* A cache size as asked (a plugin option) held to 0..QVP_CACHE_SLOTS. */
int CacheSlotsInUse(int asked);


/* ---- GL support (glsupport.cpp) ---- */

/* Logs the fallback warning; stands in for every unresolved entry point. */
void Dummy(void);

/* Resolves the extension entry-point table (with the display's GL
 * context current) and generates canvas_fbo. */
void ResolveGLEntryPoints(void);

void LogGLErrors_F(int report, const char *f, int l);
char *FCheckForCompleteness(const char *msg, int line);

/* Every GL entry point the plugin resolves at start-up: its pointer type,
 * its GL name (the variable is TARN_ and the name) and the fallback the
 * variable holds until it is resolved or when the driver lacks it. One
 * list: the variables, their declarations and the resolving table are
 * all made from it. */
#define QVP_GL_ENTRY_POINTS(X) \
    X(PFNGLISRENDERBUFFEREXTPROC, glIsRenderbufferEXT, fallback_b_u) \
    X(PFNGLBINDRENDERBUFFEREXTPROC, glBindRenderbufferEXT, fallback_v_eu) \
    X(PFNGLDELETERENDERBUFFERSEXTPROC, glDeleteRenderbuffersEXT, fallback_v_scu) \
    X(PFNGLGENRENDERBUFFERSEXTPROC, glGenRenderbuffersEXT, fallback_v_su) \
    X(PFNGLRENDERBUFFERSTORAGEEXTPROC, glRenderbufferStorageEXT, fallback_v_eess) \
    X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, glGetRenderbufferParameterivEXT, fallback_v_eeip) \
    X(PFNGLISFRAMEBUFFEREXTPROC, glIsFramebufferEXT, fallback_b_u) \
    X(PFNGLBINDFRAMEBUFFEREXTPROC, glBindFramebufferEXT, fallback_v_eu) \
    X(PFNGLDELETEFRAMEBUFFERSEXTPROC, glDeleteFramebuffersEXT, fallback_v_scu) \
    X(PFNGLGENFRAMEBUFFERSEXTPROC, glGenFramebuffersEXT, fallback_v_su) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, glCheckFramebufferStatusEXT, fallback_e_e) \
    X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, glFramebufferTexture1DEXT, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, glFramebufferTexture2DEXT, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, glFramebufferTexture3DEXT, fallback_v_eeeuii) \
    X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, glFramebufferRenderbufferEXT, fallback_v_eeeu) \
    X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, glGetFramebufferAttachmentParameterivEXT, fallback_v_eeeip) \
    X(PFNGLGENERATEMIPMAPEXTPROC, glGenerateMipmapEXT, fallback_v_e) \
    X(PFNGLBLITFRAMEBUFFEREXTPROC, glBlitFramebufferEXT, fallback_v_blit) \
    X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, glFramebufferRenderbufferARB, fallback_v_eeeu) \
    X(PFNGLDELETERENDERBUFFERSPROC, glDeleteRenderbuffersARB, fallback_v_scu) \
    X(PFNGLGENRENDERBUFFERSPROC, glGenRenderbuffersARB, fallback_v_su) \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebufferARB, fallback_v_eu) \
    X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffersARB, fallback_v_scu) \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffersARB, fallback_v_su) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatusARB, fallback_e_e) \
    X(PFNGLFRAMEBUFFERTEXTURE1DPROC, glFramebufferTexture1DARB, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2DARB, fallback_v_eeeui) \
    X(PFNGLFRAMEBUFFERTEXTURE3DPROC, glFramebufferTexture3DARB, fallback_v_eeeuii) \
    X(PFNGLFRAMEBUFFERTEXTURELAYERPROC, glFramebufferTextureLayerARB, fallback_v_eeuii) \
    X(PFNGLBINDRENDERBUFFERPROC, glBindRenderbufferARB, fallback_v_eu) \
    X(PFNGLRENDERBUFFERSTORAGEPROC, glRenderbufferStorageARB, fallback_v_eess) \
    X(PFNGLBLITFRAMEBUFFERPROC, glBlitFramebufferARB, fallback_v_blit) \
    X(PFNGLDRAWBUFFERSARBPROC, glDrawBuffersARB, fallback_v_sce) \
    X(PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC, glRenderbufferStorageMultisampleARB, fallback_v_esess)

#define QVP_GL_DECLARE(type, name, fallback) extern type TARN_##name;
QVP_GL_ENTRY_POINTS(QVP_GL_DECLARE)
#undef QVP_GL_DECLARE

#endif
