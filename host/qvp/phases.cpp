// phases.cpp - plugin loading, the callbacks plugins install per phase,
// and the dispatch of a phase through them to the host's own step.
#include <ctype.h>
#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvp_externs.h"
#include "qvp_host.h"
#include "qvp_internal.h"

namespace {

struct Callback {
    QVT_HANDLE handle;
    void (*func)(void);
};

// Callbacks per phase code, in installation (= load) order; appended by
// QVF_InstallPluginFunction.
std::map<int, std::vector<Callback>> &callbacks() {
    static std::map<int, std::vector<Callback>> m;
    return m;
}

// One entry per phase in progress; pushed and popped by QVH_RunPhase,
// moved along by QVF_ExecuteCore.
struct PhaseFrame {
    int phase;
    void (*core)(void);
    size_t next;        // index of the callback the next ExecuteCore runs
};
std::vector<PhaseFrame> g_phase_stack;

// The loaded plugins, in load order; appended by QVH_LoadPlugin.
QVS_PLUGIN *g_plugins = nullptr;
bool g_shut_down = false;

// Runs the rest of the phase at IDX: its next callback (which goes on
// with ExecuteCore), or the core once the chain is used up. Every call
// runs the rest anew, so a callback may have the host's step done more
// than once (a view drawn in several passes). By index, because a
// callback may run nested phases that grow the stack and move it.
void run_next(size_t idx) {
    size_t at = g_phase_stack[idx].next;
    int phase = g_phase_stack[idx].phase;
    auto it = callbacks().find(phase);
    if (it != callbacks().end() && at < it->second.size()) {
        void (*fn)(void) = it->second[at].func;
        g_phase_stack[idx].next = at + 1;
        fn();
        g_phase_stack[idx].next = at;
        return;
    }
    void (*core)(void) = g_phase_stack[idx].core;
    if (core) core();
}

}  // namespace

/* ---- plugins ---- */

extern "C" int QVH_LoadPlugin(const char *path, int argc, const char *const *argv) {
    if (!path || !*path) {
        qvp_warnf("plugin load: no module path");
        return -1;
    }
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        qvp_warnf("cannot load plugin %s: %s", path, e ? e : "unknown error");
        return -1;
    }
    // The same module twice would run every callback twice.
    for (QVS_PLUGIN *q = g_plugins; q; q = q->pnext)
        if (q->handle == h) {
            dlclose(h);
            qvp_warnf("plugin %s is already loaded (as %s)", path, q->path);
            return -1;
        }
    typedef int (*InitFn)(QVS_PLUGIN *);
    InitFn init = (InitFn)dlsym(h, "QVF_InitializePluginCB");
    if (!init) {
        qvp_warnf("plugin %s has no QVF_InitializePluginCB entry point", path);
        dlclose(h);
        return -1;
    }
    QVS_PLUGIN *p = (QVS_PLUGIN *)calloc(1, sizeof(QVS_PLUGIN));
    if (!p) {
        dlclose(h);
        return -1;
    }
    p->handle = h;
    int n = argc > 0 && argv ? argc : 1;
    p->argc = n;
    p->argv = (char **)calloc((size_t)n + 1, sizeof(char *));
    p->argv[0] = strdup(path);
    for (int i = 1; i < n; i++) p->argv[i] = strdup(argv[i] ? argv[i] : "");
    snprintf(p->path, sizeof p->path, "%s", path);
    // Link before init so that QVF_RegisterPluginVersion finds it.
    QVS_PLUGIN **pp = &g_plugins;
    while (*pp) pp = &(*pp)->pnext;
    *pp = p;
    int r = init(p);
    p->active = r;
    return r;
}

extern "C" QVS_PLUGIN *QVH_Plugins(void) { return g_plugins; }

extern "C" void QVF_InstallPluginFunction(QVT_HANDLE handle, void (*func)(void), int phase) {
    if (!func) {
        qvp_warnf("QVF_InstallPluginFunction: no function for phase %d", phase);
        return;
    }
    callbacks()[phase].push_back(Callback{handle, func});
}

extern "C" void QVH_ClearCallbacks(void) { callbacks().clear(); }

extern "C" void QVF_RegisterPluginVersion(QVS_PLUGIN *plugin, const char *text) {
    if (!plugin) return;
    snprintf(plugin->version, sizeof plugin->version, "%s", text ? text : "");
}

extern "C" void QVH_RunPhase(int phase, void (*core)(void)) {
    g_phase_stack.push_back(PhaseFrame{phase, core, 0});
    run_next(g_phase_stack.size() - 1);
    g_phase_stack.pop_back();
}

extern "C" void QVF_ExecuteCore(void) {
    if (g_phase_stack.empty()) {
        qvp_warnf("QVF_ExecuteCore called outside any phase");
        return;
    }
    run_next(g_phase_stack.size() - 1);
}

extern "C" void QVH_ShutdownPlugins(void) {
    if (g_shut_down) return;
    g_shut_down = true;
    for (const char *name : {"QVF_CleanupPluginCB", "QVF_ExitPluginCB"}) {
        for (QVS_PLUGIN *p = g_plugins; p; p = p->pnext) {
            void (*fn)(void) = (void (*)(void))dlsym(p->handle, name);
            if (fn) fn();
        }
    }
}

