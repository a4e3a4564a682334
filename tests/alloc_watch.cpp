// alloc_watch.cpp - the allocation watch of alloc_watch.h: malloc, calloc
// and realloc defined in the test program, ahead of the C library's, and
// each call while watching is put down to its first caller outside the
// runtimes.
#include "alloc_watch.h"

#include <functional>

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer owns malloc: the watch sees nothing, and says so.
bool AllocWatchWorks() { return false; }
void AllocWatchStart() {}
AllocReport AllocWatchStop() { return AllocReport(); }
std::string AllocReport::Summary() const { return "not watched under the sanitizers"; }
std::string AllocReport::Callers() const { return ""; }
#else
bool AllocWatchWorks() { return true; }

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}

namespace {

const int kDepth = 24, kKeptStacks = 3;

// Set between AllocWatchStart and AllocWatchStop, on the watching thread.
bool watching = false;
thread_local int in_watch = 0;

long project_count = 0;
long library_count[64];
const char *library_name[64];
int library_slots = 0;
void *kept[kKeptStacks][kDepth];
int kept_depth[kKeptStacks];

// Library allocations by the project call site that led to them (a
// return address), symbolised when the watch stops.
const int kCallerSlots = 256;
void *caller_from[kCallerSlots];
long caller_count[kCallerSlots];
int caller_slots = 0;

bool starts(const char *s, const char *p) { return strncmp(s, p, strlen(p)) == 0; }

// The file name part of PATH.
const char *base(const char *path) {
    const char *s = strrchr(path, '/');
    return s ? s + 1 : path;
}

bool project_module(const char *b) { return starts(b, "libqvp") || !strchr(b, '.'); }

bool runtime(const char *b) {
    return starts(b, "libc.so") || starts(b, "libstdc++") || starts(b, "ld-linux") || starts(b, "libgcc_s") ||
           starts(b, "libm.so");
}

__attribute__((noinline)) void note() {
    if (!watching || in_watch) return;
    in_watch++;
    void *frames[kDepth];
    int n = backtrace(frames, kDepth);
    // Frames 0 and 1 are this function and the allocator stand-in.
    const char *owner = nullptr;
    for (int i = 2; i < n && !owner; i++) {
        Dl_info info;
        if (!dladdr(frames[i], &info) || !info.dli_fname) continue;
        const char *b = base(info.dli_fname);
        if (!runtime(b)) owner = b;
    }
    bool project = !owner || project_module(owner);  // the test program has no dot
    if (project) {
        if (project_count < kKeptStacks) {
            memcpy(kept[project_count], frames, sizeof(void *) * (size_t)n);
            kept_depth[project_count] = n;
        }
        project_count++;
    } else {
        int k = 0;
        while (k < library_slots && library_name[k] != owner && strcmp(library_name[k], owner) != 0) k++;
        if (k == library_slots && library_slots < 64) library_name[library_slots++] = owner;
        if (k < 64) library_count[k]++;
        void *from = nullptr;
        for (int i = 2; i < n && !from; i++) {
            Dl_info info;
            if (dladdr(frames[i], &info) && info.dli_fname && project_module(base(info.dli_fname))) from = frames[i];
        }
        int c = 0;
        while (c < caller_slots && caller_from[c] != from) c++;
        if (c == caller_slots && caller_slots < kCallerSlots) {
            caller_from[c] = from;
            caller_count[c] = 0;
            caller_slots++;
        }
        if (c < kCallerSlots) caller_count[c]++;
    }
    in_watch--;
}

}  // namespace

extern "C" void *malloc(size_t n) {
    void *p = __libc_malloc(n);
    note();
    return p;
}

extern "C" void *calloc(size_t n, size_t size) {
    void *p = __libc_calloc(n, size);
    note();
    return p;
}

extern "C" void *realloc(void *old, size_t n) {
    void *p = __libc_realloc(old, n);
    note();
    return p;
}

void AllocWatchStart() {
    // backtrace loads its unwinder on first use; do that outside the watch.
    void *warm[4];
    backtrace(warm, 4);
    project_count = 0;
    library_slots = 0;
    caller_slots = 0;
    watching = true;
}

namespace {

// The demangled name of the function holding ADDR (else "?"), with the
// call site as MODULE+OFFSET for addr2line.
std::string symbol(void *addr) {
    Dl_info info;
    if (!addr || !dladdr(addr, &info) || !info.dli_fname) return "?";
    std::string s = "?";
    if (info.dli_sname) {
        int status = 0;
        char *d = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        s = status == 0 && d ? d : info.dli_sname;
        free(d);
        size_t paren = s.find('(');
        if (paren != std::string::npos) s = s.substr(0, paren);
    }
    char at[160];
    snprintf(at, sizeof at, " (%s+0x%lx)", base(info.dli_fname), (unsigned long)((char *)addr - (char *)info.dli_fbase));
    return s + at;
}

}  // namespace

AllocReport AllocWatchStop() {
    watching = false;
    AllocReport r;
    for (int c = 0; c < caller_slots; c++)
        r.library_callers[symbol(caller_from[c])] += caller_count[c];
    r.project = project_count;
    for (int k = 0; k < library_slots; k++) r.libraries[library_name[k]] = library_count[k];
    for (int k = 0; k < library_slots; k++) library_count[k] = 0;
    for (long s = 0; s < project_count && s < kKeptStacks; s++) {
        char **sym = backtrace_symbols(kept[s], kept_depth[s]);
        r.project_stacks += "allocation " + std::to_string(s + 1) + ":\n";
        for (int i = 2; sym && i < kept_depth[s]; i++) r.project_stacks += std::string("    ") + sym[i] + "\n";
        free(sym);
    }
    return r;
}

std::string AllocReport::Callers() const {
    std::multimap<long, std::string, std::greater<long>> order;
    for (auto &kv : library_callers) order.emplace(kv.second, kv.first);
    std::string s;
    for (auto &kv : order) s += "    " + std::to_string(kv.first) + "  " + kv.second + "\n";
    return s;
}

std::string AllocReport::Summary() const {
    std::string s = "project " + std::to_string(project);
    for (auto &kv : libraries) s += ", " + kv.first + " " + std::to_string(kv.second);
    return s;
}
#endif
