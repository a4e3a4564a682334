// passes.cpp - the frame callbacks: each stands in for the host's own
// step of its phase and has that step done by QVF_ExecuteCore at its
// point in the pass.
#include "drawcanvas_private.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

void UpdateScene(void) { QVF_ExecuteCore(); }

void UpdateView(void) { QVF_ExecuteCore(); }

void UpdateChannel(void) { QVF_ExecuteCore(); }

// Background and foreground canvases go before the host's own step of
// their layer; scene canvases go over the host's scene.
void DrawBackground(void) {
    if (draw_background) QVF_ExecuteCore();
}

void DrawScene(void) {
    if (draw_scene) QVF_ExecuteCore();
}

void DrawForeground(void) {
    if (draw_foreground) QVF_ExecuteCore();
}

void DrawView(void) { QVF_ExecuteCore(); }
