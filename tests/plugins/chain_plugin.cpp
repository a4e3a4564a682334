// chain_plugin.cpp - a test plugin built twice (CHAIN_TAG "A" and "B").
// Its phase-1 callback appends ">TAG" to process data "TRACE", has the
// rest of the chain done, then appends "<TAG".
#include <string.h>

#include "qvp_externs.h"
#include "qvp_os.h"

static void append(const char *s) {
    char *trace = (char *)QVF_GetDataFromProcess("TRACE");
    if (trace && strlen(trace) + strlen(s) < 255) strcat(trace, s);
}

static void OnUpdate(void) {
    append(">" CHAIN_TAG);
    QVF_ExecuteCore();
    append("<" CHAIN_TAG);
}

QVP_EXPORT int QVF_InitializePluginCB(QVS_PLUGIN *plugin) {
    if (!QVF_GetDataFromProcess("TRACE")) QVF_AddDataToProcess("TRACE", 256);
    QVF_InstallPluginFunction(plugin->handle, OnUpdate, 1);
    QVF_RegisterPluginVersion(plugin, "chain " CHAIN_TAG);
    return 1;
}

QVP_EXPORT void QVF_CleanupPluginCB(void) { append("cleanup" CHAIN_TAG); }
QVP_EXPORT void QVF_ExitPluginCB(void) { append("exit" CHAIN_TAG); }
