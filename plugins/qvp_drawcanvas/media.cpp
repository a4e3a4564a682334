// media.cpp - images and video of the element renderer, through their
// texture caches, and the latch that keeps each video slot's frame in
// step with its element.
#include <GL/glu.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include "dc_services.h"
#include "dc_frame.h"
#include "dc_elements.h"
#include "drawcanvas_testing.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

namespace {

/* The image and video caches: slot I is free while its texture name is
 * 0. Written only by the image and video branches below, and
 * a video slot's cur_frame also by the scene update's latch. */
QVP_IMAGE_SLOT image_slots[QVP_CACHE_SLOTS];
QVP_VIDEO_SLOT video_slots[QVP_CACHE_SLOTS];

void textured_quad(const QVP_CANVAS_ELEMENT *pelm, const QVP_CANVAS_COORD *c, int flip_axis) {
    float u1 = (flip_axis & 0x2) ? 1.0f : 0.0f, u2 = 1 - u1;
    float v1 = (flip_axis & 0x1) ? 1.0f : 0.0f, v2 = 1 - v1;
    VertexBegin(1);
    VertexTexCoord(u1, v1);
    ElementVertex(pelm, c[0].x, c[0].y);
    VertexTexCoord(u2, v1);
    ElementVertex(pelm, c[1].x, c[0].y);
    VertexTexCoord(u2, v2);
    ElementVertex(pelm, c[1].x, c[1].y);
    VertexTexCoord(u1, v2);
    ElementVertex(pelm, c[0].x, c[1].y);
    VertexEnd(GL_POLYGON);
}

void linear_clamped() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

}  // namespace

void DrawImage(QVP_CANVAS *pcan, QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_IMAGE *im = &pelm->data.imag;
    // No pixels, a size of 0 or less or above GL's limit, or (in the
    // arena) fewer pixels than the size says: nothing drawn.
    if (!im->tdata || !TextureSizeFits(im->tw, im->th)) return;
    if (!SharedBlockHolds(pelm, im->tdata, (size_t)im->tw * (size_t)im->th * 4)) return;
    QVF_StateEnable(GL_TEXTURE_2D, 1);
    // Names are kept and compared over the slot's 259 characters.
    const size_t kName = QVP_IMAGE_NAME_SLOT - 1;
    bool hit;
    int s = ChooseCacheSlot(
        CacheSlotsInUse(max_image_objs), image_slots, DisplayRunTime(), false,
        [&](int i) { return image_slots[i].data == im->tdata && strncmp(image_slots[i].fname, im->name, kName) == 0; }, &hit);
    if (s < 0) {
        QVF_StateEnable(GL_TEXTURE_2D, 0);
        return;
    }
    if (!hit) {
        if (!image_slots[s].id) image_slots[s].id = NewTextureName();
        size_t len = strnlen(im->name, kName);
        memcpy(image_slots[s].fname, im->name, len);
        image_slots[s].fname[len] = '\0';
        image_slots[s].data = im->tdata;
        BindTexture2D(image_slots[s].id);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, im->tw, im->th, 0, GL_RGBA, GL_UNSIGNED_BYTE, im->tdata);
        linear_clamped();
    } else {
        BindTexture2D(image_slots[s].id);
    }
    image_slots[s].time = DisplayRunTime();
    SetColour(pcan->rgb_gain[0], pcan->rgb_gain[1], pcan->rgb_gain[2], opacity);
    textured_quad(pelm, im->corners, im->flip_axis);
    QVF_StateEnable(GL_TEXTURE_2D, 0);
}

namespace {

// Video names are compared and copied up to this many characters.
const size_t kVideoName = 4095;

// Uploads BGRA frame PIXELS of V into the bound texture, the whole image
// when WHOLE, else over the texture's pixels, stepping rows of row_size
// bytes; GL_UNPACK_ROW_LENGTH is put back as it was.
void upload_frame(const QVP_CANVAS_VIDEO *v, const unsigned char *pixels, bool whole) {
    GLint row_length = 0;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &row_length);
    QVF_StatePixelStore(GL_UNPACK_ROW_LENGTH, v->row_size / 4);
    if (whole) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, v->w, v->h, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
        linear_clamped();
    } else {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, v->w, v->h, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    }
    QVF_StatePixelStore(GL_UNPACK_ROW_LENGTH, row_length);
}

// Frame F of V, or null when F is no index into frames.
unsigned char *frame_at(const QVP_CANVAS_VIDEO *v, int f) { return f >= 0 && f < QVP_VIDEO_FRAMES ? v->frames[f] : nullptr; }

}  // namespace

void DrawVideo(QVP_CANVAS_ELEMENT *pelm, float opacity) {
    const QVP_CANVAS_VIDEO *v = &pelm->data.video;
    int cur = v->cur_frame;
    if (cur == -1) return;
    // A frame index outside frames, a missing frame or name, no size, or
    // rows shorter than the width draw nothing.
    if (!frame_at(v, cur) || !v->name || !TextureSizeFits(v->w, v->h) || v->row_size / 4 < v->w) return;
    // A frame smaller than its rows say, or a name without its end, is
    // not read.
    if (!SharedStringFits(pelm, v->name)) return;
    if (!SharedBlockHolds(pelm, v->frames[cur], (size_t)v->row_size * (size_t)v->h)) return;
    QVF_StateEnable(GL_TEXTURE_2D, 1);
    bool hit;
    int s = ChooseCacheSlot(
        CacheSlotsInUse(max_video_objs), video_slots, DisplayRunTime(), true,
        [&](int i) {
            return video_slots[i].element == pelm && video_slots[i].size[0] == v->w && video_slots[i].size[1] == v->h &&
                   video_slots[i].fname && strncmp(video_slots[i].fname, v->name, kVideoName) == 0;
        },
        &hit);
    if (s < 0) {
        QVF_StateEnable(GL_TEXTURE_2D, 0);
        return;
    }
    if (!hit) {
        // The element moves to this slot: any other slot still naming it
        // (it changed size or name, or its address was reused by a new
        // element) lets go, so that the scene update's latch, which
        // takes the first slot naming the element, finds this one.
        int n = CacheSlotsInUse(max_video_objs);
        for (int i = 0; i < n; i++)
            if (i != s && video_slots[i].element == pelm) video_slots[i].element = nullptr;
        size_t len = strnlen(v->name, kVideoName);
        char *copy = (char *)PluginRealloc(video_slots[s].fname, len + 1);
        if (!copy) {
            video_slots[s].element = nullptr;
            QVF_StateEnable(GL_TEXTURE_2D, 0);
            return;
        }
        memcpy(copy, v->name, len);
        copy[len] = '\0';
        video_slots[s].fname = copy;
        video_slots[s].element = pelm;
        video_slots[s].size[0] = v->w;
        video_slots[s].size[1] = v->h;
        video_slots[s].cur_frame = cur;
        video_slots[s].data = v->frames[cur];
        if (!video_slots[s].id) video_slots[s].id = NewTextureName();
        BindTexture2D(video_slots[s].id);
        upload_frame(v, video_slots[s].data, true);
    } else {
        int f = video_slots[s].cur_frame;
        unsigned char *latched = frame_at(v, f);
        if (f != -1 && (!latched || !SharedBlockHolds(pelm, latched, (size_t)v->row_size * (size_t)v->h))) {
            QVF_StateEnable(GL_TEXTURE_2D, 0);
            return;
        }
        BindTexture2D(video_slots[s].id);
        if (f != -1 && latched != video_slots[s].data) {
            video_slots[s].data = latched;
            upload_frame(v, latched, false);
        }
    }
    video_slots[s].time = DisplayRunTime();
    SetColour(1, 1, 1, opacity);
    textured_quad(pelm, v->corners, v->flip_axis);
    QVF_StateEnable(GL_TEXTURE_2D, 0);
}

void LatchVideoFrame(QVP_CANVAS_ELEMENT *pelm) {
    int n = CacheSlotsInUse(max_video_objs);
    for (int i = 0; i < n; i++)
        if (video_slots[i].element == pelm) {
            video_slots[i].cur_frame = pelm->data.video.cur_frame;
            return;
        }
}

void ResetMediaCaches(void) {
    for (int i = 0; i < QVP_CACHE_SLOTS; i++) {
        free(video_slots[i].fname);
        image_slots[i] = QVP_IMAGE_SLOT{};
        video_slots[i] = QVP_VIDEO_SLOT{};
    }
}

const QVP_IMAGE_SLOT *ImageCacheSlots(void) { return image_slots; }
const QVP_VIDEO_SLOT *VideoCacheSlots(void) { return video_slots; }
