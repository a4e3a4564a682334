// noentry_plugin.cpp - a module without QVF_InitializePluginCB.
extern "C" int qvp_not_an_entry_point(void) { return 7; }
