/* bench_world.h - the world the in-process benchmarks draw in: a fresh
 * scene, a headless display and the plugin linked into the benchmark. */
#ifndef QVP_BENCH_WORLD_H
#define QVP_BENCH_WORLD_H

#include <unistd.h>

#include <string>

#include "canvas_builder.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"

extern "C" int QVF_InitializePluginCB(QVS_PLUGIN *plugin);

/* Opens scene PREFIX-PID (ARENA bytes, 0 for the default) into SCENE, a
 * W x H headless display, starts the linked-in plugin and attaches the
 * canvas builder; host log lines are kept off stderr. False with ERR set. */
inline bool OpenBenchWorld(const char *prefix, int w, int h, size_t arena, std::string &scene, std::string &err) {
    char buf[256];
    QVH_LogToStderr(0);
    scene = std::string(prefix) + "-" + std::to_string(getpid());
    if (!QVH_OpenScene(scene.c_str(), arena, QVH_SCENE_CREATE, buf, sizeof buf) ||
        !QVH_OpenDisplay("bench", w, h, 0, buf, sizeof buf)) {
        err = buf;
        return false;
    }
    QVS_PLUGIN p{};
    char arg0[] = "qvp_drawcanvas.so";
    char *argv[] = {arg0};
    p.argc = 1;
    p.argv = argv;
    QVF_InitializePluginCB(&p);
    return qvpc::Attach(err);
}

/* Closes what OpenBenchWorld opened and removes the scene. */
inline void CloseBenchWorld(const std::string &scene) {
    QVH_CloseDisplay();
    QVH_CloseScene();
    QVH_RemoveScene(scene.c_str());
}

#endif
