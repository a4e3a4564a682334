// image.cpp - PNG images read with libpng into the arena.
#include <errno.h>
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

#include "builder_internal.h"
#include "qvp_globals.h"
#include "qvp_host.h"

namespace qvpc {

namespace {

// Who loaded each image's pixels, kept in the scene so that any process
// can free the pixels of a loader that has ended: scene data
// "QVPC_IMAGE_OWNERS" heads a list of arena records, one per loaded
// image. A record is published by one store of the head, and unlinked by
// one store before its pixels are freed, so that a process dying midway
// leaves at worst one image's pixels unfreed, never a record of freed
// pixels. The list is as long as the images loaded and not yet freed:
// no longer than the arena's live blocks.
struct ImageOwner {
    ImageOwner *pnext;
    unsigned char *rgba;
    uint64_t bytes;
    int32_t pid;
    uint32_t pad;
    uint64_t start;  // the loader's start time: pids are reused
};
struct ImageOwners {
    ImageOwner *list;
    uint64_t freed;  // images freed for loaders that had ended
};

// Seconds between the sweeps that deletes and frames ask for; loads and
// attaches sweep at once.
const double kCollectEvery = 0.5;

ImageOwners *owners() {
    const char *name = "QVPC_IMAGE_OWNERS";
    ImageOwners *o = (ImageOwners *)QVH_FindSceneData(name);
    if (!o && QVV_scene) {
        QVF_LockScene(QVV_scene);
        o = (ImageOwners *)QVH_FindSceneData(name);
        if (!o) o = (ImageOwners *)QVF_AddDataToScene(QVV_scene, name, sizeof(ImageOwners));
        QVF_UnlockScene(QVV_scene);
    }
    return o;
}

// Records this process as the loader of RGBA (BYTES long); false when
// the arena has no room for the record. The caller holds the lock.
bool add_owner(unsigned char *rgba, size_t bytes) {
    ImageOwners *o = owners();
    ImageOwner *r = o ? (ImageOwner *)QVH_Alloc(sizeof(ImageOwner)) : nullptr;
    if (!r) return false;
    // Set here, again in a forked child: this process's start time.
    static pid_t self = 0;
    static uint64_t self_start = 0;
    if (self != getpid()) {
        self = getpid();
        self_start = QVH_ProcessStart(self);
    }
    r->rgba = rgba;
    r->bytes = bytes;
    r->pid = (int32_t)self;
    r->pad = 0;
    r->start = self_start;
    r->pnext = o->list;
    __atomic_store_n(&o->list, r, __ATOMIC_RELEASE);
    return true;
}

// Unlinks and frees the record of RGBA, if there is one. The caller holds
// the lock.
void drop_owner(const unsigned char *rgba) {
    ImageOwners *o = owners();
    if (!o) return;
    ImageOwner **pp = &o->list;
    for (long left = QVP_WalkLimit(); *pp && left > 0; left--) {
        if ((*pp)->rgba == rgba) {
            ImageOwner *r = *pp;
            __atomic_store_n(pp, r->pnext, __ATOMIC_RELEASE);
            QVH_Free(r);
            return;
        }
        pp = &(*pp)->pnext;
    }
}

// True when an element of any canvas shows pixels PX. The caller holds
// the lock.
bool pixels_shown(const unsigned char *px, std::string *by) {
    QVP_WALK(QVP_CANVAS, c, Info()->list)
        QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements)
            if (e->type == ELEMENT_IMAGE && (e->data.imag.data == px || e->data.imag.tdata == px)) {
                if (by) *by = "element " + std::to_string(e->id) + " of canvas \"" + c->name + "\"";
                return true;
            }
    return false;
}

double monotonic_s() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// Images of this process by name; filled by LoadImage. The pixels live
// in the arena of the scene they were loaded into.
std::map<std::string, Image> &images() {
    static std::map<std::string, Image> m;
    return m;
}
}  // namespace

namespace {

// Where a failed libpng read jumps back to, with libpng's message.
struct PngJump {
    jmp_buf env;
    char message[256];
};

void png_fail(png_structp png, png_const_charp msg) {
    PngJump *j = (PngJump *)png_get_error_ptr(png);
    snprintf(j->message, sizeof j->message, "%s", msg);
    longjmp(j->env, 1);
}

void png_quiet(png_structp, png_const_charp) {}

// Reads from a FILE; a short read is a file that ends too early.
void png_read_file(png_structp png, png_bytep out, size_t n) {
    FILE *f = (FILE *)png_get_io_ptr(png);
    if (fread(out, 1, n, f) != n) png_error(png, "the file ends early (truncated)");
}

// The decode proper, apart from ReadPng so that nothing with a destructor
// lives across the setjmp. Sample values are taken as they are stored
// (no gamma conversion), 16-bit samples rounded to 8 bits.
bool decode_png(FILE *f, int &w, int &h, std::vector<unsigned char> &rgba, std::vector<png_bytep> &rows, char *why,
                size_t why_size) {
    PngJump jump;
    jump.message[0] = 0;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &jump, png_fail, png_quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        snprintf(why, why_size, "out of memory");
        return false;
    }
    if (setjmp(jump.env)) {
        png_destroy_read_struct(&png, &info, nullptr);
        snprintf(why, why_size, "%s", jump.message);
        return false;
    }
    png_set_read_fn(png, f, png_read_file);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_uint_32 pw = png_get_image_width(png, info), ph = png_get_image_height(png, info);
    if (pw == 0 || ph == 0 || pw > 16384 || ph > 16384) {
        png_destroy_read_struct(&png, &info, nullptr);
        snprintf(why, why_size, "unusable size %ux%u (1 to 16384 pixels a side)", (unsigned)pw, (unsigned)ph);
        return false;
    }
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)pw * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        snprintf(why, why_size, "unsupported pixel layout");
        return false;
    }
    rgba.assign((size_t)pw * ph * 4, 0);
    rows.resize(ph);
    for (png_uint_32 y = 0; y < ph; y++) rows[y] = rgba.data() + (size_t)y * pw * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    w = (int)pw;
    h = (int)ph;
    return true;
}

}  // namespace

bool ReadPng(const std::string &path, int &w, int &h, std::vector<unsigned char> &rgba, std::string &err) {
    std::string why;
    if (!regular_file(path, why)) {
        err = "cannot read image \"" + path + "\": " + why;
        return false;
    }
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot read image \"" + path + "\": " + strerror(errno);
        return false;
    }
    unsigned char sig[8];
    size_t got = fread(sig, 1, sizeof sig, f);
    if (got != sizeof sig || png_sig_cmp(sig, 0, sizeof sig) != 0) {
        fclose(f);
        err = "cannot read image \"" + path + "\": " + (got == 0 ? "the file is empty" : "not a PNG file");
        return false;
    }
    std::vector<png_bytep> rows;
    char msg[300];
    bool ok = decode_png(f, w, h, rgba, rows, msg, sizeof msg);
    fclose(f);
    if (!ok) {
        rgba.clear();
        err = "cannot decode image \"" + path + "\": " + msg;
    }
    return ok;
}

const Image *LoadImage(const std::string &name, const std::string &path, std::string &err) {
    if (!Attach(err)) return nullptr;
    if (name.empty()) {
        err = "images need a name";
        return nullptr;
    }
    if (images().count(name)) {
        err = "image \"" + name + "\" already exists";
        return nullptr;
    }
    int w, h;
    std::vector<unsigned char> px;
    if (!ReadPng(path, w, h, px, err)) return nullptr;
    CollectImages(true);
    unsigned char *buf = (unsigned char *)QVH_Alloc(px.size());
    if (!buf) {
        err = ArenaFull("image \"" + name + "\" (" + std::to_string(w) + "x" + std::to_string(h) + ")", px.size());
        return nullptr;
    }
    memcpy(buf, px.data(), px.size());
    {
        Lock lock;
        if (!add_owner(buf, px.size())) {
            QVH_Free(buf);
            err = ArenaFull("image \"" + name + "\"'s owner record", sizeof(ImageOwner));
            return nullptr;
        }
    }
    Image im;
    im.name = name;
    im.file = path;
    im.w = w;
    im.h = h;
    im.rgba = buf;
    return &(images()[name] = im);
}

const Image *FindImage(const std::string &name) {
    auto it = images().find(name);
    return it == images().end() ? nullptr : &it->second;
}

std::vector<std::string> ImageNames() {
    std::vector<std::string> names;
    for (auto &kv : images()) names.push_back(kv.first);
    return names;
}

const Image *FindImageByPixels(const void *rgba) {
    for (auto &kv : images())
        if (kv.second.rgba == rgba) return &kv.second;
    return nullptr;
}

void ForgetImages() { images().clear(); }

bool DeleteImage(const std::string &name, std::string &err) {
    auto it = images().find(name);
    if (it == images().end()) {
        err = "unknown image \"" + name + "\"";
        return false;
    }
    if (!Attach(err)) return false;
    unsigned char *px = it->second.rgba;
    {
        Lock lock;
        std::string by;
        if (pixels_shown(px, &by)) {
            err = "image \"" + name + "\" is shown by " + by + ": delete or change that first";
            return false;
        }
        drop_owner(px);
        QVH_Free(px);
    }
    images().erase(it);
    return true;
}

size_t CollectImages(bool now) {
    // Set here: when the last sweep ran, in this process.
    static double last = -1e9;
    double t = monotonic_s();
    if (!now && t - last < kCollectEvery) return 0;
    last = t;
    std::string err;
    if (!Attach(err)) return 0;
    size_t freed = 0;
    Lock lock;
    ImageOwners *o = owners();
    if (!o) return 0;
    // Loaders are looked up once per sweep: (pid, start, alive).
    struct Seen {
        int32_t pid;
        uint64_t start;
        bool alive;
    };
    std::vector<Seen> seen;
    const int32_t self = (int32_t)getpid();
    ImageOwner **pp = &o->list;
    for (long left = QVP_WalkLimit(); *pp && left > 0; left--) {
        ImageOwner *r = *pp;
        bool alive = r->pid == self;
        if (!alive) {
            auto s = std::find_if(seen.begin(), seen.end(), [&](const Seen &x) { return x.pid == r->pid && x.start == r->start; });
            if (s == seen.end()) {
                seen.push_back({r->pid, r->start, QVH_ProcessAlive(r->pid, r->start) != 0});
                s = seen.end() - 1;
            }
            alive = s->alive;
        }
        if (alive || pixels_shown(r->rgba, nullptr)) {
            pp = &r->pnext;
            continue;
        }
        __atomic_store_n(pp, r->pnext, __ATOMIC_RELEASE);
        // Pixels that are no arena block (a record written over) are not
        // freed: freeing them could break the allocator.
        if (QVF_GetArenaBlockSize(r->rgba) >= r->bytes) {
            QVH_Free(r->rgba);
            freed += r->bytes;
        }
        QVH_Free(r);
        o->freed++;
    }
    return freed;
}

}  // namespace qvpc
