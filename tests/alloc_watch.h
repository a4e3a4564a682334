// alloc_watch.h - counts every heap allocation (malloc, calloc, realloc,
// and operator new through them) made between AllocWatchStart and
// AllocWatchStop, by whose code made it: the project's (the test program
// and the libqvp* libraries) or a library's (Mesa, GLU, ...), found from
// the first caller outside the C and C++ runtimes. The first project
// allocations keep their call stacks for the failure message.
#ifndef QVP_ALLOC_WATCH_H
#define QVP_ALLOC_WATCH_H

#include <map>
#include <string>

struct AllocReport {
    long project = 0;
    std::map<std::string, long> libraries;  // by library file name
    // The libraries' allocations again, by the project call site whose GL
    // (or other library) call made them: "DrawCanvasElement (test+0x4db53)".
    std::map<std::string, long> library_callers;
    std::string project_stacks;             // symbolised, the first few
    std::string Summary() const;
    std::string Callers() const;  // one line per caller, most first
};

/* False in builds whose sanitizer owns malloc: nothing is watched. */
bool AllocWatchWorks();
void AllocWatchStart();
AllocReport AllocWatchStop();

#endif
