// snapshot.cpp - reading the display's pixels back: one pixel, or the
// whole window as a PNG file.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "display_internal.h"
#include "qvp_double.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include <png.h>

using namespace qvpdisp;

/* ---- output ---- */

extern "C" int QVH_ReadPixel(int x, int y, unsigned char rgba[4]) {
    if (!g || x < 0 || y < 0 || x >= g->disp.width || y >= g->disp.height) return 0;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return 1;
}

extern "C" int QVH_ReadFrame(unsigned char *rgba, int keep_alpha) {
    if (!g) return 0;
    int w = g->disp.width, h = g->disp.height;
    size_t row = (size_t)w * 4;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    // GL rows run bottom-up; images top-down.
    std::vector<unsigned char> tmp(row);
    for (int y = 0; y < h / 2; y++) {
        unsigned char *a = rgba + (size_t)y * row, *b = rgba + (size_t)(h - 1 - y) * row;
        memcpy(tmp.data(), a, row);
        memcpy(a, b, row);
        memcpy(b, tmp.data(), row);
    }
    if (!keep_alpha)
        for (size_t i = 3; i < row * h; i += 4) rgba[i] = 255;
    return 1;
}

extern "C" int QVH_Snapshot(const char *path, char *err, size_t errlen) {
    return QVH_SnapshotAlpha(path, 0, err, errlen);
}

extern "C" int QVH_SnapshotAlpha(const char *path, int keep_alpha, char *err, size_t errlen) {
    if (!g) {
        set_err(err, errlen, "no display open");
        return 0;
    }
    int w = g->disp.width, h = g->disp.height;
    std::vector<unsigned char> px((size_t)w * h * 4);
    QVH_ReadFrame(px.data(), keep_alpha);
    FILE *fp = fopen(path, "wb");
    if (!fp) {
        set_err(err, errlen, std::string("cannot write ") + path + ": " + strerror(errno));
        return 0;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(fp);
        set_err(err, errlen, std::string("libpng failed writing ") + path);
        return 0;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; y++) png_write_row(png, &px[(size_t)y * w * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    int flushed = fflush(fp) == 0 ? 0 : errno;
    if (fclose(fp) != 0 && !flushed) flushed = errno;
    if (flushed) {
        set_err(err, errlen, std::string("cannot finish ") + path + ": " + strerror(flushed));
        return 0;
    }
    return 1;
}

