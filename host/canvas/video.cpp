// video.cpp - video producers: a decoder that plays a file through
// FFmpeg's libraries and a synthetic pattern with the frame number in it.
// Each fills the six BGRA buffers of its element and sets cur_frame.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <string.h>

#include <cmath>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "builder_internal.h"
#include "qvp_externs.h"
#include "qvp_host.h"

namespace qvpc {

namespace {

class Producer {
public:
    virtual ~Producer() = default;
    // Chooses the frame to show at T seconds from the start and returns
    // its number (counted from 0), or -1 when there is none (before the
    // start, or nothing could be decoded).
    virtual int Pick(double t) = 0;
    // Writes the frame Pick chose into BGRA rows of ROW_SIZE bytes.
    virtual bool Render(unsigned char *bgra, int row_size) = 0;
    VideoSource src;
    int w = 0, h = 0;
    double fps = 25;
};

class PatternProducer : public Producer {
public:
    int Pick(double t) override {
        double n = floor(t * fps + 1e-9);
        picked_ = n < 0 || n > INT_MAX ? -1 : (int)n;
        return picked_;
    }
    bool Render(unsigned char *bgra, int row_size) override {
        if (picked_ < 0) return false;
        DrawPattern(bgra, w, h, row_size, picked_);
        return true;
    }

private:
    int picked_ = -1;
};

// The clockwise turn, in quarter turns 0 to 3, that a stream's display
// matrix asks for (a phone held upright records its frames turned).
int quarter_turns(const AVStream *st) {
    const uint8_t *m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!m) return 0;
    double ccw = av_display_rotation_get((const int32_t *)m);
    if (std::isnan(ccw)) return 0;
    long q = lround(-ccw / 90.0);
    return (int)(((q % 4) + 4) % 4);
}

// Copies the IW x IH BGRA picture IN (rows of IW*4 bytes), turned
// clockwise by TURNS quarter turns, into OUT with rows of ROW bytes.
void turn(const unsigned char *in, int iw, int ih, int turns, unsigned char *out, int row) {
    int ow = turns % 2 ? ih : iw, oh = turns % 2 ? iw : ih;
    for (int oy = 0; oy < oh; oy++) {
        uint32_t *o = (uint32_t *)(out + (size_t)oy * row);
        for (int ox = 0; ox < ow; ox++) {
            int ix, iy;
            if (turns == 1) { ix = oy; iy = ih - 1 - ox; }
            else if (turns == 2) { ix = iw - 1 - ox; iy = ih - 1 - oy; }
            else { ix = iw - 1 - oy; iy = ox; }
            memcpy(&o[ox], in + ((size_t)iy * iw + ix) * 4, 4);
        }
    }
}

// FFmpeg's messages at warning level and worse go to the host log; its
// chatter below that is dropped. Set once, by the first file opened.
void ffmpeg_log(void *avcl, int level, const char *fmt, va_list vl) {
    if (level > AV_LOG_WARNING) return;
    static int print_prefix = 1;
    char line[512];
    va_list copy;
    va_copy(copy, vl);
    av_log_format_line2(avcl, level, fmt, copy, line, sizeof line, &print_prefix);
    va_end(copy);
    size_t n = strlen(line);
    while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    if (n) QVF_LogWarningF((std::string("FFmpeg: ") + line).c_str(), __FILE__, __LINE__);
}

class FileProducer : public Producer {
public:
    ~FileProducer() override {
        if (sws_) sws_freeContext(sws_);
        av_frame_free(&cur_);
        av_frame_free(&next_frame_);
        av_packet_free(&pkt_);
        avcodec_free_context(&dec_);
        avformat_close_input(&fmt_);
    }

    bool Open(const VideoSource &s, std::string &err) {
        RouteFfmpegLog();
        src = s;
        std::string why;
        if (!regular_file(s.file, why)) {
            err = "cannot open video \"" + s.file + "\": " + why;
            return false;
        }
        int r = avformat_open_input(&fmt_, s.file.c_str(), nullptr, nullptr);
        if (r < 0) {
            char msg[AV_ERROR_MAX_STRING_SIZE];
            av_strerror(r, msg, sizeof msg);
            err = "cannot open video \"" + s.file + "\": " + msg;
            return false;
        }
        if (avformat_find_stream_info(fmt_, nullptr) < 0) {
            err = "cannot open video \"" + s.file + "\": FFmpeg finds no stream information in it";
            return false;
        }
        stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream_ < 0) {
            err = "\"" + s.file + "\" has no video stream";
            return false;
        }
        AVStream *st = fmt_->streams[stream_];
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec) {
            err = std::string("no decoder for the ") + avcodec_get_name(st->codecpar->codec_id) + " video in \"" + s.file + "\"";
            return false;
        }
        dec_ = avcodec_alloc_context3(codec);
        if (!dec_ || avcodec_parameters_to_context(dec_, st->codecpar) < 0 || avcodec_open2(dec_, codec, nullptr) < 0) {
            err = "cannot start the decoder for \"" + s.file + "\"";
            return false;
        }
        if (dec_->width <= 0 || dec_->height <= 0) {
            err = "the video in \"" + s.file + "\" has no frame size";
            return false;
        }
        turns_ = quarter_turns(st);
        int dw = turns_ % 2 ? dec_->height : dec_->width, dh = turns_ % 2 ? dec_->width : dec_->height;
        w = s.w > 0 ? s.w : dw;
        h = s.h > 0 ? s.h : dh;
        AVRational avg = st->avg_frame_rate, real = st->r_frame_rate;
        double rate = avg.num > 0 && avg.den > 0 ? av_q2d(avg) : real.num > 0 && real.den > 0 ? av_q2d(real) : 25.0;
        // A rate given by the caller paces the frames by their index;
        // otherwise each frame shows from its own timestamp on.
        by_index_ = s.fps > 0;
        fps = s.fps > 0 ? s.fps : rate;
        time_base_ = av_q2d(st->time_base);
        cur_ = av_frame_alloc();
        next_frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        return cur_ && next_frame_ && pkt_;
    }

    int Pick(double t) override {
        if (t < 0 || !std::isfinite(t)) return -1;
        for (int tries = 0; tries < 3; tries++) {
            if (length_ > 0) {
                if (src.loop) t = fmod(t, length_);
                else if (t >= length_) t = length_;
            }
            if (have_cur_ && t + 1e-9 < cur_time_ && !Rewind()) return -1;
            if (Advance(t)) return have_cur_ ? cur_index_ : -1;
            // The end came before T: now the length is known.
            if (!have_cur_) return -1;
            length_ = cur_time_ + 1.0 / fps;
            if (!src.loop) return cur_index_;
        }
        return have_cur_ ? cur_index_ : -1;
    }

    bool Render(unsigned char *bgra, int row_size) override {
        if (!have_cur_) return false;
        int sw = turns_ % 2 ? h : w, sh = turns_ % 2 ? w : h;
        sws_ = sws_getCachedContext(sws_, cur_->width, cur_->height, (AVPixelFormat)cur_->format, sw, sh,
                                    AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws_) return false;
        unsigned char *dst0 = bgra;
        int stride0 = row_size;
        if (turns_) {
            upright_.resize((size_t)sw * sh * 4);
            dst0 = upright_.data();
            stride0 = sw * 4;
        }
        uint8_t *dst[4] = {dst0, nullptr, nullptr, nullptr};
        int stride[4] = {stride0, 0, 0, 0};
        sws_scale(sws_, cur_->data, cur_->linesize, 0, cur_->height, dst, stride);
        if (turns_) turn(upright_.data(), sw, sh, turns_, bgra, row_size);
        return true;
    }

private:
    // Decodes on until the frame after the current one would start after
    // T. True when it stopped for that reason, false at the end of the file.
    bool Advance(double t) {
        for (;;) {
            if (!have_next_) {
                if (!DecodeOne(next_frame_)) return false;
                have_next_ = true;
                next_time_ = FrameTime(next_frame_, decoded_ - 1);
            }
            if (have_cur_ && next_time_ > t + 1e-9) return true;
            std::swap(cur_, next_frame_);
            cur_time_ = next_time_;
            cur_index_ = decoded_ - 1;
            have_cur_ = true;
            have_next_ = false;
        }
    }

    // When frame INDEX, just decoded into F, starts: by the index at the
    // caller's rate, else by its timestamp from the stream's first one
    // (a frame without a timestamp follows its predecessor by one frame).
    double FrameTime(const AVFrame *f, int index) {
        if (by_index_) return index / fps;
        int64_t ts = f->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) return index == 0 ? 0 : last_time_ + 1.0 / fps;
        if (index == 0 || first_ts_ == AV_NOPTS_VALUE) first_ts_ = ts;
        double time = (double)(ts - first_ts_) * time_base_;
        // Timestamps that step back are taken as one frame on.
        if (index > 0 && time <= last_time_) time = last_time_ + 1e-6;
        last_time_ = time;
        return time;
    }

    bool Rewind() {
        if (av_seek_frame(fmt_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
            avformat_seek_file(fmt_, stream_, INT64_MIN, 0, 0, 0) < 0)
            return false;
        avcodec_flush_buffers(dec_);
        decoded_ = 0;
        draining_ = false;
        have_cur_ = have_next_ = false;
        last_time_ = 0;
        return true;
    }

    // Decodes the next frame into F; false at the end.
    bool DecodeOne(AVFrame *f) {
        for (;;) {
            int r = avcodec_receive_frame(dec_, f);
            if (r == 0) {
                decoded_++;
                return true;
            }
            if (r != AVERROR(EAGAIN) || draining_) return false;
            if (av_read_frame(fmt_, pkt_) < 0) {
                draining_ = true;
                avcodec_send_packet(dec_, nullptr);
                continue;
            }
            if (pkt_->stream_index == stream_) avcodec_send_packet(dec_, pkt_);
            av_packet_unref(pkt_);
        }
    }

    AVFormatContext *fmt_ = nullptr;
    AVCodecContext *dec_ = nullptr;
    AVFrame *cur_ = nullptr;         // the frame shown at the last Pick
    AVFrame *next_frame_ = nullptr;  // the one after it, once decoded
    AVPacket *pkt_ = nullptr;
    SwsContext *sws_ = nullptr;
    std::vector<unsigned char> upright_;  // a frame before its turn
    int stream_ = -1;
    int turns_ = 0;
    bool by_index_ = false;
    double time_base_ = 0;
    int64_t first_ts_ = AV_NOPTS_VALUE;
    double last_time_ = 0;
    bool have_cur_ = false, have_next_ = false;
    double cur_time_ = 0, next_time_ = 0;
    int cur_index_ = -1;
    int decoded_ = 0;       // frames decoded since the start
    double length_ = 0;     // seconds, once the end was met
    bool draining_ = false;
};

struct Running {
    std::unique_ptr<Producer> producer;
    int shown = -1;                     // frame number last written
    unsigned char *frames0 = nullptr;   // the element's first buffer, as made here
    std::vector<unsigned char> scratch; // the next frame, made outside the lock
};

// The producers of this process by element; filled by StartVideo,
// emptied by StopVideo.
std::map<QVP_CANVAS_ELEMENT *, Running> &running() {
    static std::map<QVP_CANVAS_ELEMENT *, Running> m;
    return m;
}

// Seven-segment masks of the digits 0-9 (bits a..g).
const unsigned char kSegments[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};

void fill(unsigned char *bgra, int w, int h, int row, int x0, int y0, int x1, int y1, const unsigned char c[3]) {
    for (int y = std::max(0, y0); y < std::min(h, y1); y++)
        for (int x = std::max(0, x0); x < std::min(w, x1); x++) {
            unsigned char *p = bgra + (size_t)y * row + (size_t)x * 4;
            p[0] = c[2];
            p[1] = c[1];
            p[2] = c[0];
            p[3] = 255;
        }
}

void free_video_buffers(QVP_CANVAS_VIDEO &v) {
    for (auto &f : v.frames) {
        QVH_Free(f);
        f = nullptr;
    }
    QVH_Free(v.name);
    v.name = nullptr;
}

}  // namespace

void RouteFfmpegLog() {
    static bool routed = false;
    if (!routed) av_log_set_callback(ffmpeg_log);
    routed = true;
}

void DrawPattern(unsigned char *bgra, int w, int h, int row_size, int n) {
    // A background whose hue steps with the frame, a bar that moves one
    // eighth of the width per frame, and the frame number in digits.
    static const unsigned char bg[6][3] = {{40, 40, 160}, {40, 140, 40}, {160, 40, 40},
                                           {140, 140, 30}, {30, 140, 140}, {140, 30, 140}};
    static const unsigned char white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
    fill(bgra, w, h, row_size, 0, 0, w, h, bg[n % 6]);
    int bw = std::max(1, w / 8);
    int bx = (n % 8) * bw;
    fill(bgra, w, h, row_size, bx, h - h / 6, bx + bw, h, black);
    std::string digits = std::to_string(n);
    int dh = std::max(5, h / 3), dw = dh / 2, t = std::max(1, dh / 10);
    int x = std::max(1, w / 16), y = std::max(1, h / 8);
    for (char ch : digits) {
        unsigned char m = kSegments[ch - '0'];
        int mid = y + dh / 2;
        if (m & 0x01) fill(bgra, w, h, row_size, x, y, x + dw, y + t, white);                       // a
        if (m & 0x02) fill(bgra, w, h, row_size, x + dw - t, y, x + dw, mid, white);                // b
        if (m & 0x04) fill(bgra, w, h, row_size, x + dw - t, mid, x + dw, y + dh, white);           // c
        if (m & 0x08) fill(bgra, w, h, row_size, x, y + dh - t, x + dw, y + dh, white);             // d
        if (m & 0x10) fill(bgra, w, h, row_size, x, mid, x + t, y + dh, white);                     // e
        if (m & 0x20) fill(bgra, w, h, row_size, x, y, x + t, mid, white);                          // f
        if (m & 0x40) fill(bgra, w, h, row_size, x, mid - t / 2, x + dw, mid - t / 2 + t, white);   // g
        x += dw + 2 * t;
    }
}

bool StartVideo(QVP_CANVAS_ELEMENT *e, const VideoSource &src, std::string &err) {
    std::unique_ptr<Producer> p;
    if (src.file.empty()) {
        p.reset(new PatternProducer());
        p->src = src;
        p->w = src.w > 0 ? src.w : 160;
        p->h = src.h > 0 ? src.h : 120;
        p->fps = src.fps > 0 ? src.fps : 25;
    } else {
        FileProducer *f = new FileProducer();
        p.reset(f);
        if (!f->Open(src, err)) return false;
    }
    if (p->w > 8192 || p->h > 8192) {
        err = "video frames larger than 8192 x 8192";
        return false;
    }
    QVP_CANVAS_VIDEO fresh;
    memset(&fresh, 0, sizeof fresh);
    fresh.row_size = p->w * 4;
    bool ok = true;
    for (auto &f : fresh.frames) {
        f = (unsigned char *)QVH_Alloc((size_t)fresh.row_size * p->h);
        ok = ok && f;
    }
    fresh.name = ArenaString(src.file.empty() ? "pattern" : src.file);
    if (!ok || !fresh.name) {
        free_video_buffers(fresh);
        size_t bytes = (size_t)6 * fresh.row_size * p->h;
        err = ArenaFull("the 6 frame buffers of " + std::to_string(p->w) + "x" + std::to_string(p->h) + " video \"" +
                            (src.file.empty() ? std::string("pattern") : src.file) + "\"",
                        bytes);
        return false;
    }
    bool first = p->Pick(0) == 0 && p->Render(fresh.frames[0], fresh.row_size);
    QVP_CANVAS_VIDEO old;
    memset(&old, 0, sizeof old);
    {
        Lock lock;
        QVP_CANVAS_VIDEO &v = e->data.video;
        // Whoever made the old frames, this process replaces them now.
        old = v;
        v.w = p->w;
        v.h = p->h;
        v.row_size = fresh.row_size;
        v.name = fresh.name;
        memcpy(v.frames, fresh.frames, sizeof v.frames);
        v.looped = src.loop;
        v.cur_frame = first ? 0 : -1;
    }
    Running r;
    r.frames0 = fresh.frames[0];
    r.scratch.resize((size_t)fresh.row_size * (size_t)p->h);
    r.producer = std::move(p);
    r.shown = first ? 0 : -1;
    running()[e] = std::move(r);
    free_video_buffers(old);
    return true;
}

void StopVideo(QVP_CANVAS_ELEMENT *e) {
    running().erase(e);
    // The frames are freed by whoever deletes the element, also when
    // another process runs its producer: that one finds out at its next
    // frame and stops.
    Lock lock;
    free_video_buffers(e->data.video);
    e->data.video.cur_frame = -1;
}

void MoveVideo(QVP_CANVAS_ELEMENT *from, QVP_CANVAS_ELEMENT *to) {
    auto it = running().find(from);
    if (it == running().end()) return;
    Running r = std::move(it->second);
    running().erase(it);
    running()[to] = std::move(r);
}

VideoSource VideoSourceOf(const QVP_CANVAS_ELEMENT *e) {
    auto it = running().find(const_cast<QVP_CANVAS_ELEMENT *>(e));
    return it == running().end() ? VideoSource() : it->second.producer->src;
}

int VideoProducerCount() { return (int)running().size(); }

namespace {

// True while E is still a linked video element showing the frames its
// producer R made. The caller holds the canvas lock; E is only compared
// until it is found in a list.
bool still_producing(QVP_CANVAS_ELEMENT *e, const Running &r) {
    if (!Info()) return false;
    QVP_WALK(QVP_CANVAS, c, Info()->list)
        QVP_WALK(QVP_CANVAS_ELEMENT, k, c->elements)
            if (k == e) return e->type == ELEMENT_VIDEO && e->data.video.frames[0] == r.frames0;
    return false;
}

}  // namespace

void TickVideo(double t) {
    for (auto it = running().begin(); it != running().end();) {
        QVP_CANVAS_ELEMENT *e = it->first;
        Running &r = it->second;
        int n = r.producer->Pick(t);
        int row = r.producer->w * 4;
        if (n == r.shown || n < 0 || !r.producer->Render(r.scratch.data(), row)) {
            ++it;
            continue;
        }
        Lock lock;
        if (!still_producing(e, r)) {
            // Deleted or replaced, perhaps by another process: its memory
            // is not ours to write any more.
            it = running().erase(it);
            continue;
        }
        QVP_CANVAS_VIDEO &v = e->data.video;
        // Into the buffer after the one shown, so that a display still
        // drawing the current frame is not disturbed.
        // A frame index that is no index (written over) starts again at 0.
        int slot = v.cur_frame >= 0 && v.cur_frame < 6 ? (v.cur_frame + 1) % 6 : 0;
        if (!v.frames[slot]) slot = 0;
        memcpy(v.frames[slot], r.scratch.data(), r.scratch.size());
        v.cur_frame = slot;
        r.shown = n;
        ++it;
    }
}

}  // namespace qvpc
