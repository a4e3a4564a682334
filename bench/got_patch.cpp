// got_patch.cpp - the slot patching of got_patch.h, read from the
// dynamic sections of the main program (and, for the counts, of our
// libraries): every JUMP_SLOT and GLOB_DAT relocation whose symbol a hook
// names or the count's prefix starts.
#include "got_patch.h"

#include <dlfcn.h>
#include <stdio.h>
#include <elf.h>
#include <link.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Saved {
    void **slot;
    void *value;
};
// Slots changed by GotPatch, in order; emptied by GotRestore.
std::vector<Saved> g_saved;

bool writable(void **slot, std::string &err) {
    long page = sysconf(_SC_PAGESIZE);
    void *start = (void *)((uintptr_t)slot & ~(uintptr_t)(page - 1));
    // An aligned slot never straddles two pages.
    if (mprotect(start, (size_t)page, PROT_READ | PROT_WRITE) != 0) {
        err = std::string("cannot make the program's GOT writable: ") + strerror(errno);
        return false;
    }
    return true;
}

// The program's dynamic symbols and relocations, as GotPatch and
// GotCountAll walk them.
struct Relocs {
    const ElfW(Sym) *symtab = nullptr;
    const char *strtab = nullptr;
    const ElfW(Rela) *tables[2] = {nullptr, nullptr};
    size_t sizes[2] = {0, 0};
    ElfW(Addr) base = 0;
};

// The project's loaded objects: the main program first, then each
// library of ours (libqvp*); filled by find_ours.
struct Object {
    ElfW(Addr) base;
    const ElfW(Dyn) *dyn;
};

int find_ours(struct dl_phdr_info *info, size_t, void *data) {
    std::vector<Object> *out = (std::vector<Object> *)data;
    const char *name = info->dlpi_name ? info->dlpi_name : "";
    const char *slash = strrchr(name, '/');
    bool main_program = out->empty();
    if (!main_program && strncmp(slash ? slash + 1 : name, "libqvp", 6) != 0) return 0;
    Object o{info->dlpi_addr, nullptr};
    for (int i = 0; i < info->dlpi_phnum; i++)
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
            o.dyn = (const ElfW(Dyn) *)(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    if (o.dyn || main_program) out->push_back(o);
    return 0;
}

bool read_relocs_of(const Object &prog, Relocs &r, std::string &err) {
    if (!prog.dyn) {
        err = "the program has no dynamic section";
        return false;
    }
    r.base = prog.base;
    auto addr = [&](ElfW(Addr) a) { return a < prog.base ? a + prog.base : a; };
    for (const ElfW(Dyn) *d = prog.dyn; d->d_tag != DT_NULL; d++) {
        switch (d->d_tag) {
        case DT_SYMTAB: r.symtab = (const ElfW(Sym) *)addr(d->d_un.d_ptr); break;
        case DT_STRTAB: r.strtab = (const char *)addr(d->d_un.d_ptr); break;
        case DT_JMPREL: r.tables[0] = (const ElfW(Rela) *)addr(d->d_un.d_ptr); break;
        case DT_PLTRELSZ: r.sizes[0] = d->d_un.d_val; break;
        case DT_RELA: r.tables[1] = (const ElfW(Rela) *)addr(d->d_un.d_ptr); break;
        case DT_RELASZ: r.sizes[1] = d->d_un.d_val; break;
        default: break;
        }
    }
    if (!r.symtab || !r.strtab) {
        err = "the program has no dynamic symbols";
        return false;
    }
    return true;
}

// The project's objects as find_ours lists them (the main program first).
std::vector<Object> our_objects() {
    std::vector<Object> objects;
    dl_iterate_phdr(find_ours, &objects);
    return objects;
}

// Calls FN(name, slot) for every JUMP_SLOT and GLOB_DAT slot of R, while
// FN returns true; false when it stopped.
template <class Fn>
bool each_slot(const Relocs &r, Fn fn) {
    for (int t = 0; t < 2; t++) {
        size_t n = r.tables[t] ? r.sizes[t] / sizeof(ElfW(Rela)) : 0;
        for (size_t i = 0; i < n; i++) {
            const ElfW(Rela) &rel = r.tables[t][i];
            unsigned type = ELF64_R_TYPE(rel.r_info);
            if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
            if (!fn(r.strtab + r.symtab[ELF64_R_SYM(rel.r_info)].st_name, (void **)(r.base + rel.r_offset)))
                return false;
        }
    }
    return true;
}

// Points SLOT at TO, saving what it held for GotRestore; false with ERR
// set (and everything put back) when the slot cannot be written.
bool patch(void **slot, void *to, std::string &err) {
    if (!writable(slot, err)) {
        GotRestore();
        return false;
    }
    g_saved.push_back(Saved{slot, *slot});
    *slot = to;
    return true;
}

// The counting stubs: one executable block of kStubsMost stubs of 16
// bytes, then their counts and their targets. Made by the first
// GotCountAll and kept for the process (a stub may still be on a stack).
const int kStubsMost = 2048;
unsigned char *g_stubs = nullptr;
long *g_counts = nullptr;
void **g_targets = nullptr;
int g_stub_n = 0;
// Per stub: 1 when its slot is the main program's, 0 a library's.
std::vector<char> g_stub_main;
std::vector<const char *> g_stub_name;

// A stub that counts into g_counts[I] and jumps to g_targets[I]:
// "inc qword [rip + count]; jmp [rip + target]", which leaves every
// argument register and the stack as the caller set them.
void *make_stub(int i, void *target) {
    unsigned char *c = g_stubs + (size_t)i * 16;
    g_counts[i] = 0;
    g_targets[i] = target;
    int32_t to_count = (int32_t)((unsigned char *)&g_counts[i] - (c + 7));
    int32_t to_target = (int32_t)((unsigned char *)&g_targets[i] - (c + 13));
    c[0] = 0x48, c[1] = 0xFF, c[2] = 0x05;
    memcpy(c + 3, &to_count, 4);
    c[7] = 0xFF, c[8] = 0x25;
    memcpy(c + 9, &to_target, 4);
    c[13] = c[14] = c[15] = 0xCC;
    return c;
}

}  // namespace

int GotCountAll(const char *prefix, std::string &err) {
    std::vector<Object> objects = our_objects();
    if (!g_stubs) {
        size_t bytes = (size_t)kStubsMost * (16 + sizeof(long) + sizeof(void *));
        void *m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) {
            err = std::string("cannot map the counting stubs: ") + strerror(errno);
            return 0;
        }
        g_stubs = (unsigned char *)m;
        g_counts = (long *)(g_stubs + (size_t)kStubsMost * 16);
        g_targets = (void **)(g_counts + kStubsMost);
    }
    g_stub_n = 0;
    g_stub_main.clear();
    g_stub_name.clear();
    size_t plen = strlen(prefix);
    int patched = 0;
    for (size_t ob = 0; ob < objects.size(); ob++) {
        Relocs r;
        if (!read_relocs_of(objects[ob], r, err)) {
            GotRestore();
            return 0;
        }
        bool ok = each_slot(r, [&](const char *name, void **slot) {
            if (strncmp(name, prefix, plen) != 0) return true;
            // A slot GotPatch holds keeps its stand-in behind the count;
            // any other goes on to the library's function (a lazy slot
            // would else rebind itself past the stub).
            void *target = nullptr;
            for (const Saved &s : g_saved)
                if (s.slot == slot) target = *slot;
            if (!target) target = dlsym(RTLD_NEXT, name);
            if (!target) return true;
            if (g_stub_n >= kStubsMost) {
                err = "more GL entry points than counting stubs";
                GotRestore();
                return false;
            }
            if (!patch(slot, make_stub(g_stub_n, target), err)) return false;
            g_stub_n++;
            g_stub_main.push_back(ob == 0);
            g_stub_name.push_back(name);
            patched++;
            return true;
        });
        if (!ok) return 0;
    }
    return patched;
}

long GotCountTotal(int in_main) {
    long n = 0;
    for (int i = 0; i < g_stub_n; i++)
        if (in_main < 0 || g_stub_main[(size_t)i] == in_main) n += g_counts[i];
    return n;
}

void GotCountPrint(FILE *out, int in_main) {
    for (int i = 0; i < g_stub_n; i++)
        if (g_counts[i] && (in_main < 0 || g_stub_main[(size_t)i] == in_main))
            fprintf(out, "  %-28s %8ld\n", g_stub_name[(size_t)i], g_counts[i]);
}

void GotCountReset() {
    for (int i = 0; i < g_stub_n; i++) g_counts[i] = 0;
}

int GotPatch(const std::vector<GotHook> &hooks, std::string &err) {
    std::vector<Object> objects = our_objects();
    Relocs r;
    if (!read_relocs_of(objects[0], r, err)) return 0;
    for (const GotHook &h : hooks) *h.real = dlsym(RTLD_NEXT, h.name);
    int patched = 0;
    bool ok = each_slot(r, [&](const char *name, void **slot) {
        for (const GotHook &h : hooks) {
            if (strcmp(name, h.name) != 0 || !*h.real) continue;
            if (!patch(slot, h.stand_in, err)) return false;
            patched++;
        }
        return true;
    });
    return ok ? patched : 0;
}

void GotRestore() {
    for (auto it = g_saved.rbegin(); it != g_saved.rend(); ++it) *it->slot = it->value;
    g_saved.clear();
}
