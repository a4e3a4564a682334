// image.cpp - PNG images read with libpng into the arena.
#include <png.h>
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

bool ReadPng(const std::string &path, int &w, int &h, std::vector<unsigned char> &rgba, std::string &err) {
    std::string why;
    if (!regular_file(path, why)) {
        err = "cannot read image \"" + path + "\": " + why;
        return false;
    }
    png_image img;
    memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) {
        err = "cannot read image \"" + path + "\": " + img.message;
        return false;
    }
    img.format = PNG_FORMAT_RGBA;
    if (img.width == 0 || img.height == 0 || img.width > 16384 || img.height > 16384) {
        png_image_free(&img);
        err = "image \"" + path + "\" has an unusable size";
        return false;
    }
    rgba.assign(PNG_IMAGE_SIZE(img), 0);
    if (!png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr)) {
        err = "cannot decode image \"" + path + "\": " + img.message;
        png_image_free(&img);
        return false;
    }
    w = (int)img.width;
    h = (int)img.height;
    return true;
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
        err = "arena full: no room for image \"" + name + "\"";
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

}  // namespace qvpc
