// image.cpp - PNG images read with libpng into the arena.
#include <errno.h>
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <map>

#include "builder_internal.h"
#include "qvp_globals.h"
#include "qvp_host.h"

namespace qvpc {

namespace {
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
    unsigned char *buf = (unsigned char *)QVH_Alloc(px.size());
    if (!buf) {
        err = ArenaFull("image \"" + name + "\" (" + std::to_string(w) + "x" + std::to_string(h) + ")", px.size());
        return nullptr;
    }
    memcpy(buf, px.data(), px.size());
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
        QVP_WALK(QVP_CANVAS, c, Info()->list)
            QVP_WALK(QVP_CANVAS_ELEMENT, e, c->elements)
                if (e->type == ELEMENT_IMAGE && (e->data.imag.data == px || e->data.imag.tdata == px)) {
                    err = "image \"" + name + "\" is shown by element " + std::to_string(e->id) + " of canvas \"" +
                          c->name + "\": delete or change that first";
                    return false;
                }
        QVH_Free(px);
    }
    images().erase(it);
    return true;
}

}  // namespace qvpc
