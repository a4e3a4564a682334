// got_patch.cpp - the slot patching of got_patch.h, read from the main
// program's dynamic section: every JUMP_SLOT and GLOB_DAT relocation
// whose symbol a hook names.
#include "got_patch.h"

#include <dlfcn.h>
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

struct Program {
    ElfW(Addr) base = 0;
    const ElfW(Dyn) *dyn = nullptr;
    bool found = false;
};

int find_main(struct dl_phdr_info *info, size_t, void *data) {
    Program *p = (Program *)data;
    if (p->found) return 0;
    // The main program comes first, with an empty name.
    p->found = true;
    p->base = info->dlpi_addr;
    for (int i = 0; i < info->dlpi_phnum; i++)
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
            p->dyn = (const ElfW(Dyn) *)(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    return 1;
}

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

}  // namespace

int GotPatch(const std::vector<GotHook> &hooks, std::string &err) {
    Program prog;
    dl_iterate_phdr(find_main, &prog);
    if (!prog.dyn) {
        err = "the program has no dynamic section";
        return 0;
    }
    // The loader has already added the base to these addresses on most
    // systems; where it has not, add it here.
    auto addr = [&](ElfW(Addr) a) { return a < prog.base ? a + prog.base : a; };
    const ElfW(Sym) *symtab = nullptr;
    const char *strtab = nullptr;
    const ElfW(Rela) *tables[2] = {nullptr, nullptr};
    size_t sizes[2] = {0, 0};
    for (const ElfW(Dyn) *d = prog.dyn; d->d_tag != DT_NULL; d++) {
        switch (d->d_tag) {
        case DT_SYMTAB: symtab = (const ElfW(Sym) *)addr(d->d_un.d_ptr); break;
        case DT_STRTAB: strtab = (const char *)addr(d->d_un.d_ptr); break;
        case DT_JMPREL: tables[0] = (const ElfW(Rela) *)addr(d->d_un.d_ptr); break;
        case DT_PLTRELSZ: sizes[0] = d->d_un.d_val; break;
        case DT_RELA: tables[1] = (const ElfW(Rela) *)addr(d->d_un.d_ptr); break;
        case DT_RELASZ: sizes[1] = d->d_un.d_val; break;
        default: break;
        }
    }
    if (!symtab || !strtab) {
        err = "the program has no dynamic symbols";
        return 0;
    }
    for (const GotHook &h : hooks) *h.real = dlsym(RTLD_NEXT, h.name);
    int patched = 0;
    for (int t = 0; t < 2; t++) {
        size_t n = tables[t] ? sizes[t] / sizeof(ElfW(Rela)) : 0;
        for (size_t i = 0; i < n; i++) {
            const ElfW(Rela) &r = tables[t][i];
            unsigned type = ELF64_R_TYPE(r.r_info);
            if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
            const char *name = strtab + symtab[ELF64_R_SYM(r.r_info)].st_name;
            for (const GotHook &h : hooks) {
                if (strcmp(name, h.name) != 0 || !*h.real) continue;
                void **slot = (void **)(prog.base + r.r_offset);
                if (!writable(slot, err)) {
                    GotRestore();
                    return 0;
                }
                g_saved.push_back(Saved{slot, *slot});
                *slot = h.stand_in;
                patched++;
            }
        }
    }
    return patched;
}

void GotRestore() {
    for (auto it = g_saved.rbegin(); it != g_saved.rend(); ++it) *it->slot = it->value;
    g_saved.clear();
}
