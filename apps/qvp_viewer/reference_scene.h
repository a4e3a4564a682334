/* reference_scene.h - the reference scene of the benchmarks and of the
 * steady-frame allocation test: the viewer's built-in demo (nodes in
 * every layer; text in every layer and placement; every shape kind; an
 * image and a playing video; a nested canvas; a window onto a node; a
 * canvas curved onto a sphere; channel and viewport overlays; two
 * viewports) and as many more small canvases of text and shapes as make
 * 200, spread over the three layers and the placements, on a 640 x 480
 * headless display with the plugin linked in. The video moves on one
 * frame per display frame. */
#ifndef QVP_REFERENCE_SCENE_H
#define QVP_REFERENCE_SCENE_H

#include <string>

const int kReferenceCanvases = 200;

/* Opens a scene of its own, the display and an interpreter with the
 * viewer's commands, starts the plugin and builds the scene, then runs
 * frames until its caches are full. False with ERR on any failure. */
bool ReferenceSceneOpen(std::string &err);

/* Closes and removes what ReferenceSceneOpen made. */
void ReferenceSceneClose();

/* The scene's shared-memory name, for a second process to attach to. */
const std::string &ReferenceSceneName();

/* Called at the start of every display frame, after the video moved on;
 * null for none. */
void ReferenceSceneOnFrame(void (*fn)());

/* Evaluates SCRIPT in the scene's interpreter; false with ERR. */
bool ReferenceSceneEval(const char *script, std::string &err);

#endif
