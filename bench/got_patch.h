/* got_patch.h - points the main program's references to a shared
 * library's function (its PLT and GOT slots) at a stand-in, and back.
 * While nothing is patched, calls cost what they always cost, which is
 * why the benchmarks watch GL calls this way and not through wrappers
 * that stay in place. */
#ifndef QVP_GOT_PATCH_H
#define QVP_GOT_PATCH_H

#include <stdio.h>

#include <string>
#include <vector>

struct GotHook {
    const char *name;  // the function, as the dynamic linker names it
    void *stand_in;    // what the program's calls reach while patched
    void **real;       // set to the library's function (dlsym), for the stand-in to call
};

/* Resolves each hook's real function and points every slot of the main
 * program that refers to it at the stand-in. Returns the number of slots
 * patched; a name the program does not import patches nothing. ERR says
 * why when a slot could not be made writable (nothing is left half
 * patched then: GotRestore puts back what was done). */
int GotPatch(const std::vector<GotHook> &hooks, std::string &err);

/* Points every slot of the main program and of the project's libraries
 * (libqvp*) whose symbol starts with PREFIX ("gl": every GL entry point
 * they import) at a counting stub made for that slot, which adds one to the count and jumps on to what the slot
 * held (the library's function, or a GotPatch stand-in). Returns the
 * number of slots patched, 0 with ERR set when the stubs or a slot could
 * not be made. Functions the program looks up at run time
 * (eglGetProcAddress) are not counted. */
int GotCountAll(const char *prefix, std::string &err);

/* Calls counted by the stubs since the last GotCountReset: IN_MAIN 1
 * those of the main program, 0 those of the libraries, -1 all. */
long GotCountTotal(int in_main);
void GotCountReset();
/* Prints each counted symbol and its count, as GotCountTotal chooses. */
void GotCountPrint(FILE *out, int in_main);

/* Puts back every slot GotPatch and GotCountAll changed. */
void GotRestore();

#endif
