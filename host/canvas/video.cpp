// video.cpp - video producers: a decoder that plays a file through
// FFmpeg's libraries and a synthetic pattern with the frame number in it.
// Each fills the six BGRA buffers of its element and sets cur_frame.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <math.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "builder_internal.h"
#include "qvp_host.h"

namespace qvpc {

namespace {

class Producer {
public:
    virtual ~Producer() = default;
    // Writes frame N (counted from 0) into BGRA; false when there is no
    // such frame (past the end of a file that does not loop).
    virtual bool Frame(int n, unsigned char *bgra, int row_size) = 0;
    VideoSource src;
    int w = 0, h = 0;
    double fps = 25;
};

class PatternProducer : public Producer {
public:
    bool Frame(int n, unsigned char *bgra, int row_size) override {
        DrawPattern(bgra, w, h, row_size, n);
        return true;
    }
};

class FileProducer : public Producer {
public:
    ~FileProducer() override {
        if (sws_) sws_freeContext(sws_);
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
        avcodec_free_context(&dec_);
        avformat_close_input(&fmt_);
    }

    bool Open(const VideoSource &s, std::string &err) {
        src = s;
        if (avformat_open_input(&fmt_, s.file.c_str(), nullptr, nullptr) < 0) {
            err = "FFmpeg cannot open video \"" + s.file + "\"";
            return false;
        }
        if (avformat_find_stream_info(fmt_, nullptr) < 0) {
            err = "FFmpeg finds no stream information in \"" + s.file + "\"";
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
            err = "no decoder for the video in \"" + s.file + "\"";
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
        w = s.w > 0 ? s.w : dec_->width;
        h = s.h > 0 ? s.h : dec_->height;
        double rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? av_q2d(st->avg_frame_rate) : 25.0;
        fps = s.fps > 0 ? s.fps : rate;
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        return frame_ && pkt_;
    }

    bool Frame(int n, unsigned char *bgra, int row_size) override {
        if (n < 0) return false;
        if (total_ > 0) {
            if (src.loop) n %= total_;
            else if (n >= total_) return false;
        }
        if (n < next_ && !Rewind()) return false;
        while (next_ <= n) {
            if (!DecodeOne()) {
                // The end: now the length is known.
                if (next_ == 0) return false;
                total_ = next_;
                if (!src.loop) return false;
                n %= total_;
                if (!Rewind()) return false;
            }
            if (next_ - 1 == n) break;
        }
        if (!sws_) {
            sws_ = sws_getContext(dec_->width, dec_->height, (AVPixelFormat)frame_->format, w, h, AV_PIX_FMT_BGRA,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
            if (!sws_) return false;
        }
        uint8_t *dst[4] = {bgra, nullptr, nullptr, nullptr};
        int stride[4] = {row_size, 0, 0, 0};
        sws_scale(sws_, frame_->data, frame_->linesize, 0, dec_->height, dst, stride);
        return true;
    }

private:
    bool Rewind() {
        if (av_seek_frame(fmt_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
            avformat_seek_file(fmt_, stream_, INT64_MIN, 0, 0, 0) < 0)
            return false;
        avcodec_flush_buffers(dec_);
        next_ = 0;
        draining_ = false;
        return true;
    }

    // Decodes the next frame into frame_; false at the end.
    bool DecodeOne() {
        for (;;) {
            int r = avcodec_receive_frame(dec_, frame_);
            if (r == 0) {
                next_++;
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
    AVFrame *frame_ = nullptr;
    AVPacket *pkt_ = nullptr;
    SwsContext *sws_ = nullptr;
    int stream_ = -1;
    int next_ = 0;      // index of the frame the next decode yields
    int total_ = 0;     // frames in the file, once the end was met
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
        err = "arena full: no room for the video frames";
        return false;
    }
    bool first = p->Frame(0, fresh.frames[0], fresh.row_size);
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
        int n = (int)floor(t * r.producer->fps + 1e-9);
        int row = r.producer->w * 4;
        if (n == r.shown || n < 0 || !r.producer->Frame(n, r.scratch.data(), row)) {
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
