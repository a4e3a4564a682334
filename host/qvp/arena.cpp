// arena.cpp - the scene arena: one POSIX shared-memory segment per scene,
// mapped at one fixed address in every process, with an allocator, a
// registry of named blocks and the scene's nodes inside it.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvp_internal.h"

QVS_SCENE *QVV_scene = nullptr;

namespace {

// The open scene's mapping; set by QVH_OpenScene, cleared by
// QVH_CloseScene.
QVS_SMHANDLE *g_arena = nullptr;
size_t g_map_size = 0;
bool g_created_here = false;

// Process-local scene data that shadows the shared registry (per-display
// records such as QVS_DOUBLE_DATA). Filled by QVH_SetLocalSceneData.
std::map<std::string, void *> &local_scene_data() {
    static std::map<std::string, void *> m;
    return m;
}

constexpr size_t kAlign = 16;
constexpr size_t kMinSplit = 64;
constexpr int kAttachTimeoutMs = 5000;

size_t round_up(size_t n, size_t a) { return (n + a - 1) / a * a; }

bool valid_scene_name(const char *name) {
    if (!name || !*name) return false;
    size_t n = strlen(name);
    if (n > 48) return false;
    for (size_t i = 0; i < n; i++) {
        char c = name[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return !(name[0] == '.');
}

std::string shm_name(const char *name) { return std::string("/qvp_") + name; }

uintptr_t arena_address() {
    const char *env = getenv(QVH_ARENA_ADDR_ENV);
    if (env && *env) {
        char *end = nullptr;
        unsigned long long v = strtoull(env, &end, 0);
        if (end && *end == '\0' && v != 0 && v % 4096 == 0) return (uintptr_t)v;
        qvp_warnf("ignoring %s=%s: not a page-aligned address", QVH_ARENA_ADDR_ENV, env);
    }
    return (uintptr_t)QVH_DEFAULT_ARENA_ADDR;
}

void set_err(char *err, size_t len, const std::string &msg) {
    if (err && len) {
        strncpy(err, msg.c_str(), len - 1);
        err[len - 1] = '\0';
    }
    qvp_warnf("%s", msg.c_str());
}

void sleep_ms(int ms) {
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

void *map_fixed(int fd, size_t size, uintptr_t addr, std::string &why) {
    void *p = mmap((void *)addr, size, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    if (p == MAP_FAILED) {
        why = errno == EEXIST ? "the address is already in use in this process"
                              : strerror(errno);
        return nullptr;
    }
    if ((uintptr_t)p != addr) {  // a kernel that ignores the flag
        munmap(p, size);
        why = "the kernel placed the mapping elsewhere";
        return nullptr;
    }
    return p;
}

// Lays out a fresh arena: header, one free block, the scene record; the
// magic goes last so that attachers never see a half-made header.
void init_arena(QVS_SMHANDLE *a, size_t size, const char *name) {
    memset(a, 0, sizeof *a);
    a->version = QVH_ARENA_VERSION;
    a->header_size = sizeof *a;
    a->base = (uint64_t)(uintptr_t)a;
    a->size = size;
    qvp_init_robust_mutex(&a->scene_mutex, 1);
    qvp_init_robust_mutex(&a->alloc_mutex, 0);
    size_t first = round_up(sizeof *a, kAlign);
    QVH_BLOCK *b = (QVH_BLOCK *)((char *)a + first);
    b->size = (size - first) / kAlign * kAlign;
    b->next = nullptr;
    a->free_list = b;
    a->free_bytes = b->size;
    a->creator_pid = (int32_t)getpid();
    a->creator_start = QVH_ProcessStart(getpid());
    a->scene.arena = a;
    snprintf(a->scene.name, sizeof a->scene.name, "%s", name);
    __atomic_store_n(&a->magic, QVH_ARENA_MAGIC, __ATOMIC_RELEASE);
}

// Refusal of the attached segment FD when another user owns it or its
// mode lets more users in than FLAGS allow; empty when it may be used.
std::string owner_refusal(int fd, int flags) {
    struct stat own;
    mode_t allowed = (flags & QVH_SCENE_GROUP) ? 0660 : 0600;
    if (fstat(fd, &own) != 0) return std::string("cannot inspect it: ") + strerror(errno);
    if (own.st_uid != geteuid()) return "it belongs to another user (uid " + std::to_string(own.st_uid) + ")";
    if (own.st_mode & 0777 & ~allowed) {
        char m[8];
        snprintf(m, sizeof m, "%04o", (unsigned)(own.st_mode & 0777));
        return std::string("its mode ") + m + " lets other users in";
    }
    return "";
}

// Opens scene NAME's segment (SNAME): made afresh when FLAGS allow and it
// is not there (*CREATING set), else the existing one, checked for its
// owner and mode. Returns the descriptor, or -1 with MSG set.
int open_segment(const char *name, const std::string &sname, int flags, bool *creating, std::string &msg) {
    *creating = false;
    if (flags & QVH_SCENE_CREATE) {
        int fd = shm_open(sname.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            *creating = true;
            return fd;
        }
        if (errno != EEXIST) {
            msg = "cannot create scene \"" + std::string(name) + "\": " + strerror(errno);
            return -1;
        }
    }
    if (!(flags & QVH_SCENE_ATTACH)) {
        msg = "scene \"" + std::string(name) + "\" already exists";
        return -1;
    }
    int fd = shm_open(sname.c_str(), O_RDWR | O_NOFOLLOW, 0);
    if (fd < 0) {
        msg = "cannot open scene \"" + std::string(name) + "\": " + strerror(errno);
        return -1;
    }
    // Another user's segment, or one open to more users than asked for,
    // could hold anything: its pointers are not followed.
    std::string refuse = owner_refusal(fd, flags);
    if (!refuse.empty()) {
        close(fd);
        msg = "refusing to attach to scene \"" + std::string(name) + "\": " + refuse;
        return -1;
    }
    return fd;
}

// Sizes the new segment FD to SIZE, maps it at ADDR and lays out a fresh
// arena; on failure unlinks it again. Closes FD; false with MSG set.
bool create_arena(int fd, const char *name, const std::string &sname, size_t size, uintptr_t addr, int flags,
                  std::string &msg) {
    // The umask applies to shm_open; set the mode we mean.
    fchmod(fd, (flags & QVH_SCENE_GROUP) ? 0660 : 0600);
    int rc = posix_fallocate(fd, 0, (off_t)size);
    if (rc != 0) {
        close(fd);
        shm_unlink(sname.c_str());
        msg = "cannot size scene \"" + std::string(name) + "\" to " + std::to_string(size) + " bytes: " + strerror(rc);
        return false;
    }
    std::string why;
    void *p = map_fixed(fd, size, addr, why);
    close(fd);
    if (!p) {
        shm_unlink(sname.c_str());
        msg = "cannot map scene \"" + std::string(name) + "\" at " + std::to_string(addr) + ": " + why;
        return false;
    }
    init_arena((QVS_SMHANDLE *)p, size, name);
    g_map_size = size;
    return true;
}

// Why the mapped arena A of MSIZE bytes at ADDR cannot be used (its
// creator never finished it, another host version, another address or
// size); empty when it can. Waits for the creator's magic up to the
// attach timeout, WAITED ms of which have passed.
std::string header_fault(QVS_SMHANDLE *a, size_t msize, uintptr_t addr, int waited) {
    while (__atomic_load_n(&a->magic, __ATOMIC_ACQUIRE) != QVH_ARENA_MAGIC && waited < kAttachTimeoutMs) {
        sleep_ms(10);
        waited += 10;
    }
    if (__atomic_load_n(&a->magic, __ATOMIC_ACQUIRE) != QVH_ARENA_MAGIC) return "its creator never finished it (no magic)";
    if (a->version != QVH_ARENA_VERSION || a->header_size != sizeof *a) return "it was made by another host version";
    if (a->base != (uint64_t)addr) return "it lives at another address";
    if (a->size != msize) return "its size does not match its header";
    return "";
}

// Maps the existing segment FD at ADDR once its creator has sized it and
// checks its header. Closes FD; false with MSG set.
bool attach_arena(int fd, const char *name, uintptr_t addr, std::string &msg) {
    struct stat st;
    int waited = 0;
    for (;;) {
        if (fstat(fd, &st) != 0) {
            st.st_size = 0;
            break;
        }
        if ((size_t)st.st_size >= sizeof(QVS_SMHANDLE) || waited >= kAttachTimeoutMs) break;
        sleep_ms(10);
        waited += 10;
    }
    if ((size_t)st.st_size < sizeof(QVS_SMHANDLE)) {
        close(fd);
        msg = "scene \"" + std::string(name) + "\" was never sized by its creator";
        return false;
    }
    size_t msize = (size_t)st.st_size;
    std::string why;
    void *p = map_fixed(fd, msize, addr, why);
    close(fd);
    if (!p) {
        msg = "cannot map scene \"" + std::string(name) + "\": " + why;
        return false;
    }
    std::string bad = header_fault((QVS_SMHANDLE *)p, msize, addr, waited);
    if (!bad.empty()) {
        munmap(p, msize);
        msg = "cannot attach to scene \"" + std::string(name) + "\": " + bad;
        return false;
    }
    g_map_size = msize;
    return true;
}

}  // namespace

QVS_SMHANDLE *qvp_arena(void) { return g_arena; }

// Scenes this process has opened so far; counted by QVH_OpenScene, so
// that process state kept for one scene can tell it from a later one
// mapped at the same address.
static unsigned g_open_serial = 0;

extern "C" QVS_SCENE *QVH_OpenScene(const char *name, size_t size, int flags,
                                    char *err, size_t errlen) {
    if (g_arena) {
        set_err(err, errlen, "a scene is already open in this process");
        return nullptr;
    }
    if (!valid_scene_name(name)) {
        set_err(err, errlen, std::string("bad scene name \"") + (name ? name : "") +
                                 "\": use 1-48 letters, digits, '_', '-' or '.'");
        return nullptr;
    }
    if (!(flags & (QVH_SCENE_CREATE | QVH_SCENE_ATTACH)))
        flags |= QVH_SCENE_CREATE | QVH_SCENE_ATTACH;
    if (size == 0) size = QVH_DEFAULT_ARENA_SIZE;
    if (size < 1u << 20) {
        set_err(err, errlen, "scene size below 1 MiB");
        return nullptr;
    }
    size = round_up(size, 4096);
    std::string sname = shm_name(name), msg;
    uintptr_t addr = arena_address();
    bool creating = false;
    int fd = open_segment(name, sname, flags, &creating, msg);
    bool ok = fd >= 0 && (creating ? create_arena(fd, name, sname, size, addr, flags, msg) : attach_arena(fd, name, addr, msg));
    if (!ok) {
        set_err(err, errlen, msg);
        return nullptr;
    }
    g_created_here = creating;
    g_arena = (QVS_SMHANDLE *)addr;
    QVV_scene = &g_arena->scene;
    g_open_serial++;
    return QVV_scene;
}

extern "C" unsigned QVH_SceneOpenSerial(void) { return g_arena ? g_open_serial : 0; }

extern "C" void QVH_CloseScene(void) {
    if (!g_arena) return;
    if (g_created_here) __atomic_store_n(&g_arena->creator_closed, 1u, __ATOMIC_RELEASE);
    munmap((void *)g_arena, g_map_size);
    g_arena = nullptr;
    g_map_size = 0;
    QVV_scene = nullptr;
    local_scene_data().clear();
}

extern "C" int QVH_RemoveScene(const char *name) {
    if (!valid_scene_name(name)) return 0;
    return shm_unlink(shm_name(name).c_str()) == 0;
}

extern "C" int QVH_SceneCreatedHere(void) { return g_arena && g_created_here; }

extern "C" int QVH_SceneCreatorGone(void) {
    if (!g_arena || g_created_here || __atomic_load_n(&g_arena->creator_closed, __ATOMIC_ACQUIRE)) return 0;
    int pid = g_arena->creator_pid;
    return QVH_ProcessAlive(pid, g_arena->creator_start) ? 0 : pid;
}

extern "C" int QVH_InArena(const void *p) {
    if (!g_arena) return 0;
    uintptr_t u = (uintptr_t)p, b = (uintptr_t)g_arena;
    return u >= b && u < b + g_map_size;
}

// Mends the free list after its lock was taken from an owner that died
// holding it, perhaps between the two stores of a merge: overlapping
// blocks become one, adjacent ones are merged, and the free byte count
// is summed afresh. The caller holds the allocator lock.
static void repair_free_list(QVS_SMHANDLE *a) {
    uint64_t total = 0;
    size_t mended = 0;
    QVH_BLOCK **pp = &a->free_list;
    for (size_t steps = 0; *pp && steps < a->size / kAlign; steps++) {
        QVH_BLOCK *b = *pp;
        if (!QVH_InArena(b) || b->size < sizeof(QVH_BLOCK) || (char *)b + b->size > (char *)a + a->size) {
            *pp = nullptr;  // what follows cannot be trusted: it is lost, not shared twice
            mended++;
            break;
        }
        QVH_BLOCK *n = b->next;
        if (n && n <= b) {
            b->next = nullptr;
            mended++;
            n = nullptr;
        }
        if (n && (char *)b + b->size >= (char *)n) {
            if ((char *)n + n->size > (char *)b + b->size) b->size = (size_t)((char *)n + n->size - (char *)b);
            if ((char *)b + b->size != (char *)n) mended++;
            b->next = n->next;
            continue;
        }
        total += b->size;
        pp = &b->next;
    }
    a->free_bytes = total;
    // A dead owner may have died between a block's link and its count:
    // the live blocks are counted afresh by walking the tiled arena.
    uint64_t used = 0;
    char *end = (char *)a + a->size;
    for (char *p = (char *)a + round_up(sizeof *a, kAlign); p + sizeof(QVH_BLOCK) <= end;) {
        QVH_BLOCK *b = (QVH_BLOCK *)p;
        if (b->size < sizeof(QVH_BLOCK) || b->size % kAlign || p + b->size > end) break;
        if (b->next == QVH_BLOCK_USED) used++;
        p += b->size;
    }
    a->used_blocks = used;
    if (mended) qvp_warnf("arena allocator: %zu damaged free-list entries mended after a dead owner", mended);
}

// Takes the allocator lock, mending the free list when its last owner
// died holding it.
static bool lock_allocator(QVS_SMHANDLE *a) {
    int recovered = 0;
    if (!qvp_lock_robust_ex(&a->alloc_mutex, "arena allocator", &recovered)) return false;
    if (recovered) repair_free_list(a);
    return true;
}

// This process's fault simulation: allocations let through before the
// refusals start, and refusals left; set by QVH_SetAllocFaults (tests),
// counted down by QVH_Alloc.
static int g_fault_passes = 0, g_fault_refusals = 0;

extern "C" void QVH_SetAllocFaults(int passes, int refusals) {
    g_fault_passes = passes > 0 ? passes : 0;
    g_fault_refusals = refusals > 0 ? refusals : 0;
}

extern "C" int QVH_AllocFaultsLeft(void) { return g_fault_refusals; }

extern "C" void *QVH_Alloc(size_t size) {
    QVS_SMHANDLE *a = g_arena;
    if (!a) {
        qvp_warnf("arena allocation of %zu bytes with no scene open", size);
        return nullptr;
    }
    if (g_fault_refusals > 0) {
        if (g_fault_passes > 0) {
            g_fault_passes--;
        } else {
            g_fault_refusals--;
            qvp_warnf("arena full: cannot allocate %zu bytes (a simulated fault)", size);
            return nullptr;
        }
    }
    if (size > a->size) {
        qvp_warnf("arena full: cannot allocate %zu bytes", size);
        return nullptr;
    }
    size_t need = round_up(size + sizeof(QVH_BLOCK), kAlign);
    if (!lock_allocator(a)) return nullptr;
    QVH_BLOCK **pp = &a->free_list;
    QVH_BLOCK *b = nullptr;
    while (*pp) {
        if ((*pp)->size >= need) { b = *pp; break; }
        pp = &(*pp)->next;
    }
    if (!b) {
        uint64_t free_bytes = a->free_bytes;
        qvp_unlock_robust(&a->alloc_mutex);
        qvp_warnf("arena full: cannot allocate %zu bytes (%llu free, fragmented or short)",
                  size, (unsigned long long)free_bytes);
        return nullptr;
    }
    if (b->size - need >= kMinSplit) {
        QVH_BLOCK *rest = (QVH_BLOCK *)((char *)b + need);
        rest->size = b->size - need;
        rest->next = b->next;
        *pp = rest;
        b->size = need;
    } else {
        *pp = b->next;
    }
    b->next = QVH_BLOCK_USED;
    a->free_bytes -= b->size;
    a->used_blocks++;
    qvp_unlock_robust(&a->alloc_mutex);
    void *p = (char *)b + sizeof(QVH_BLOCK);
    memset(p, 0, b->size - sizeof(QVH_BLOCK));
    return p;
}

extern "C" void QVH_Free(void *p) {
    QVS_SMHANDLE *a = g_arena;
    if (!p) return;
    if (!a || !QVH_InArena(p) || ((uintptr_t)p % kAlign) != 0) {
        qvp_warnf("arena free of %p refused: not an arena block", p);
        return;
    }
    QVH_BLOCK *b = (QVH_BLOCK *)((char *)p - sizeof(QVH_BLOCK));
    if (b->next != QVH_BLOCK_USED) {
        qvp_warnf("arena free of %p refused: not a live block", p);
        return;
    }
    if (!lock_allocator(a)) return;
    a->free_bytes += b->size;
    if (a->used_blocks) a->used_blocks--;
    // Insert in address order, then merge with the neighbours.
    QVH_BLOCK *prev = nullptr, *cur = a->free_list;
    while (cur && cur < b) { prev = cur; cur = cur->next; }
    b->next = cur;
    if (prev) prev->next = b; else a->free_list = b;
    if (cur && (char *)b + b->size == (char *)cur) {
        b->size += cur->size;
        b->next = cur->next;
    }
    if (prev && (char *)prev + prev->size == (char *)b) {
        prev->size += b->size;
        prev->next = b->next;
    }
    qvp_unlock_robust(&a->alloc_mutex);
}

extern "C" size_t QVF_GetArenaSize(QVS_SMHANDLE *arena) { return arena && arena == g_arena ? (size_t)g_arena->size : 0; }

extern "C" size_t QVF_GetArenaBlockSize(const void *p) {
    if (!g_arena || !p || !QVH_InArena(p) || ((uintptr_t)p % kAlign) != 0) return 0;
    const QVH_BLOCK *b = (const QVH_BLOCK *)((const char *)p - sizeof(QVH_BLOCK));
    if (!QVH_InArena(b) || b->next != QVH_BLOCK_USED) return 0;
    return (size_t)b->size - sizeof(QVH_BLOCK);
}

extern "C" size_t QVF_GetArenaBlockCount(void) {
    return g_arena ? (size_t)__atomic_load_n(&g_arena->used_blocks, __ATOMIC_RELAXED) : 0;
}

extern "C" size_t QVH_ArenaFreeBytes(void) { return g_arena ? (size_t)g_arena->free_bytes : 0; }

extern "C" void QVH_SetLocalSceneData(const char *name, void *ptr) {
    if (!name) return;
    if (ptr) local_scene_data()[name] = ptr;
    else local_scene_data().erase(name);
}

/* ---- registry of named blocks ---- */

extern "C" void QVF_LockScene(QVS_SCENE *scene) {
    if (!scene || !g_arena || scene != &g_arena->scene) {
        qvp_warnf("QVF_LockScene: not the open scene");
        return;
    }
    qvp_lock_robust(&g_arena->scene_mutex, "scene lock");
}

extern "C" void QVF_UnlockScene(QVS_SCENE *scene) {
    if (!scene || !g_arena || scene != &g_arena->scene) {
        qvp_warnf("QVF_UnlockScene: not the open scene");
        return;
    }
    qvp_unlock_robust(&g_arena->scene_mutex);
}

static QVH_NAMED *find_named(const char *name) {
    for (QVH_NAMED *e = __atomic_load_n(&g_arena->registry, __ATOMIC_ACQUIRE); e; e = e->pnext)
        if (strcmp(e->name, name) == 0) return e;
    return nullptr;
}

extern "C" void *QVH_FindSceneData(const char *name) {
    if (!name) return nullptr;
    auto &local = local_scene_data();
    auto it = local.find(name);
    if (it != local.end()) return it->second;
    if (!g_arena) return nullptr;
    if (!qvp_lock_robust(&g_arena->scene_mutex, "scene lock")) return nullptr;
    QVH_NAMED *e = find_named(name);
    qvp_unlock_robust(&g_arena->scene_mutex);
    return e ? e->data : nullptr;
}

extern "C" void *QVF_GetDataFromScene(QVS_SCENE *scene, const char *name) {
    if (!name) return nullptr;
    if (!scene || !g_arena || scene != &g_arena->scene) {
        qvp_warnf("QVF_GetDataFromScene(%s): not the open scene", name);
        return nullptr;
    }
    void *p = QVH_FindSceneData(name);
    if (!p) qvp_log_missing("scene", name);
    return p;
}

extern "C" void *QVF_AddDataToScene(QVS_SCENE *scene, const char *name, size_t size) {
    if (!scene || !g_arena || scene != &g_arena->scene) {
        qvp_warnf("QVF_AddDataToScene(%s): not the open scene", name ? name : "(null)");
        return nullptr;
    }
    if (!name || !*name || strlen(name) >= QVP_DATA_NAME_LEN) {
        qvp_warnf("QVF_AddDataToScene: bad data name");
        return nullptr;
    }
    if (!qvp_lock_robust(&g_arena->scene_mutex, "scene lock")) return nullptr;
    void *result = nullptr;
    if (find_named(name)) {
        qvp_warnf("QVF_AddDataToScene: scene data \"%s\" already exists", name);
    } else {
        QVH_NAMED *e = (QVH_NAMED *)QVH_Alloc(sizeof(QVH_NAMED));
        void *data = e ? QVH_Alloc(size ? size : 1) : nullptr;
        if (!data) {
            QVH_Free(e);
            qvp_warnf("QVF_AddDataToScene: no room for \"%s\" (%zu bytes)", name, size);
        } else {
            snprintf(e->name, sizeof e->name, "%s", name);
            e->data = data;
            e->size = size;
            e->pnext = g_arena->registry;
            __atomic_store_n(&g_arena->registry, e, __ATOMIC_RELEASE);
            result = data;
        }
    }
    qvp_unlock_robust(&g_arena->scene_mutex);
    return result;
}

/* ---- scene nodes ---- */

extern "C" int QVH_AddNode(const char *name) {
    if (!g_arena) {
        qvp_warnf("QVH_AddNode: no scene open");
        return -1;
    }
    if (!name || !*name || strlen(name) >= sizeof(((QVS_NODE *)0)->name)) {
        qvp_warnf("QVH_AddNode: bad node name");
        return -1;
    }
    QVS_SCENE *s = &g_arena->scene;
    if (!qvp_lock_robust(&g_arena->scene_mutex, "scene lock")) return -1;
    int index = -1;
    bool taken = false;
    for (int i = 0; i < s->node_count; i++)
        if (strcmp(s->node_list[i].name, name) == 0) taken = true;
    if (taken) {
        qvp_warnf("QVH_AddNode: node \"%s\" already exists", name);
    } else {
        if (s->node_count == s->node_capacity) {
            int cap = s->node_capacity ? s->node_capacity * 2 : 64;
            QVS_NODE *grown = (QVS_NODE *)QVH_Alloc(sizeof(QVS_NODE) * (size_t)cap);
            if (grown) {
                if (s->node_count)
                    memcpy(grown, s->node_list, sizeof(QVS_NODE) * (size_t)s->node_count);
                // The old table stays: displays read it without the
                // scene lock and may still be walking it.
                __atomic_store_n(&s->node_list, grown, __ATOMIC_RELEASE);
                s->node_capacity = cap;
            }
        }
        if (s->node_count < s->node_capacity) {
            QVS_NODE *n = &s->node_list[s->node_count];
            memset(n, 0, sizeof *n);
            snprintf(n->name, sizeof n->name, "%s", name);
            n->parent = -1;
            n->layer = 0x400;
            n->size[0] = n->size[1] = n->size[2] = 1.0;
            n->color[0] = n->color[1] = n->color[2] = 1.0f;
            index = s->node_count;
            __atomic_store_n(&s->node_count, s->node_count + 1, __ATOMIC_RELEASE);
        }
    }
    qvp_unlock_robust(&g_arena->scene_mutex);
    return index;
}

extern "C" QVS_NODE *QVH_GetNode(int index) {
    if (!g_arena || index < 0 || index >= g_arena->scene.node_count) return nullptr;
    return &g_arena->scene.node_list[index];
}

extern "C" int QVF_GetNodeID(const char *name) {
    if (!g_arena || !name) return -1;
    QVS_SCENE *s = &g_arena->scene;
    for (int i = 0; i < s->node_count; i++)
        if (strcmp(s->node_list[i].name, name) == 0) return i;
    return -1;
}
