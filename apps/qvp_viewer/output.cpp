// output.cpp - what the viewer does with its frames besides one
// snapshot: a live window, recordings (a clip through FFmpeg's encoders
// or numbered PNGs) and the progress line of long runs.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "canvas_builder.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "viewer.h"

namespace {

double now_seconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

/* ---- progress ---- */

Progress::Progress(const char *what, int total, bool quiet)
    : what_(what), total_(total), on_(!quiet && total > 0 && isatty(2)), start_(now_seconds()) {}

void Progress::Step(int done) {
    if (!on_) return;
    double t = now_seconds();
    if (done < total_ && t - last_ < 0.25) return;
    last_ = t;
    double rate = done / std::max(1e-6, t - start_);
    double left = rate > 0 ? (total_ - done) / rate : 0;
    fprintf(stderr, "\rqvp_viewer: %s %d/%d, %.1f frames/s, %.0f s left   ", what_, done, total_, rate, left);
    if (done >= total_) fputc('\n', stderr);
    fflush(stderr);
}

/* ---- recordings ---- */

namespace {

// An encoder writing frames of the display into a clip.
class ClipWriter {
public:
    ~ClipWriter() { Close(); }

    bool Open(const std::string &path, int w, int h, int fps, std::string &err) {
        w_ = w & ~1;
        h_ = h & ~1;
        if (w_ < 2 || h_ < 2) {
            err = "the window is too small to record";
            return false;
        }
        if (avformat_alloc_output_context2(&oc_, nullptr, nullptr, path.c_str()) < 0 || !oc_) {
            err = "FFmpeg knows no container for \"" + path + "\" (try .mp4 or .mkv)";
            return false;
        }
        const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
        if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec) {
            err = "FFmpeg has neither an H.264 nor an MPEG-4 encoder";
            return false;
        }
        st_ = avformat_new_stream(oc_, nullptr);
        enc_ = avcodec_alloc_context3(codec);
        if (!st_ || !enc_) {
            err = "out of memory for the encoder";
            return false;
        }
        enc_->width = w_;
        enc_->height = h_;
        enc_->pix_fmt = AV_PIX_FMT_YUV420P;
        enc_->time_base = AVRational{1, fps};
        enc_->framerate = AVRational{fps, 1};
        enc_->gop_size = fps;
        if (codec->id == AV_CODEC_ID_H264) {
            av_opt_set(enc_->priv_data, "crf", "16", 0);
            av_opt_set(enc_->priv_data, "preset", "fast", 0);
        } else {
            enc_->flags |= AV_CODEC_FLAG_QSCALE;
            enc_->global_quality = FF_QP2LAMBDA * 2;
        }
        if (oc_->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(enc_, codec, nullptr) < 0 || avcodec_parameters_from_context(st_->codecpar, enc_) < 0) {
            err = std::string("cannot start the ") + codec->name + " encoder";
            return false;
        }
        st_->time_base = enc_->time_base;
        if (!(oc_->oformat->flags & AVFMT_NOFILE) && avio_open(&oc_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
            err = "cannot write \"" + path + "\": " + strerror(errno);
            return false;
        }
        if ((error_ = avformat_write_header(oc_, nullptr)) < 0 || (error_ = oc_->pb ? oc_->pb->error : 0) < 0) {
            err = "cannot write the header of \"" + path + "\": " + error() + " (the partial clip was removed)";
            avio_closep(&oc_->pb);
            unlink(path.c_str());
            return false;
        }
        header_ = true;
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = w_;
        frame_->height = h_;
        if (av_frame_get_buffer(frame_, 0) < 0) {
            err = "out of memory for the frames";
            return false;
        }
        src_w_ = w;
        sws_ = sws_getContext(w_, h_, AV_PIX_FMT_RGBA, w_, h_, AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND,
                              nullptr, nullptr, nullptr);
        codec_name_ = codec->name;
        return sws_ != nullptr;
    }

    // Encodes one RGBA frame, top row first, SRC_W pixels a row.
    bool Add(const unsigned char *rgba) {
        if (av_frame_make_writable(frame_) < 0) return false;
        const uint8_t *src[4] = {rgba, nullptr, nullptr, nullptr};
        int stride[4] = {src_w_ * 4, 0, 0, 0};
        sws_scale(sws_, src, stride, 0, h_, frame_->data, frame_->linesize);
        frame_->pts = next_pts_++;
        return Send(frame_);
    }

    bool Close() {
        bool ok = true;
        if (header_) {
            ok = Send(nullptr) && (error_ = av_write_trailer(oc_)) == 0;
            header_ = false;
        }
        if (oc_ && oc_->pb && !(oc_->oformat->flags & AVFMT_NOFILE)) {
            avio_flush(oc_->pb);
            if (oc_->pb->error < 0 && ok) {
                error_ = oc_->pb->error;
                ok = false;
            }
            int r = avio_closep(&oc_->pb);
            if (r < 0 && ok) {
                error_ = r;
                ok = false;
            }
        }
        sws_freeContext(sws_);
        sws_ = nullptr;
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
        avcodec_free_context(&enc_);
        avformat_free_context(oc_);
        oc_ = nullptr;
        return ok;
    }

    const std::string &codec() const { return codec_name_; }
    // Why the last write failed, in the system's words ("No space left
    // on device").
    std::string error() const {
        char buf[AV_ERROR_MAX_STRING_SIZE] = "";
        av_strerror(error_, buf, sizeof buf);
        return buf;
    }

private:
    bool Send(AVFrame *f) {
        if ((error_ = avcodec_send_frame(enc_, f)) < 0) return false;
        for (;;) {
            int r = avcodec_receive_packet(enc_, pkt_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if ((error_ = r) < 0) return false;
            // Every frame lasts one frame: without it MP4's edit list
            // ends at the last frame's start and players drop that frame.
            pkt_->duration = 1;
            av_packet_rescale_ts(pkt_, enc_->time_base, st_->time_base);
            pkt_->stream_index = st_->index;
            if ((error_ = av_interleaved_write_frame(oc_, pkt_)) < 0) return false;
            // avio buffers its writes: a full disk shows in its error.
            if (oc_->pb && oc_->pb->error < 0) {
                error_ = oc_->pb->error;
                return false;
            }
        }
    }

    AVFormatContext *oc_ = nullptr;
    AVStream *st_ = nullptr;
    AVCodecContext *enc_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *pkt_ = nullptr;
    SwsContext *sws_ = nullptr;
    int w_ = 0, h_ = 0, src_w_ = 0;
    int64_t next_pts_ = 0;
    int error_ = 0;
    bool header_ = false;
    std::string codec_name_;
};

bool ends_with(const std::string &s, const char *tail) {
    size_t n = strlen(tail);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

}  // namespace

std::string viewer_numbered_png(const std::string &path, int index) {
    char num[16];
    snprintf(num, sizeof num, "-%04d", index);
    return path.substr(0, path.size() - 4) + num + path.substr(path.size() - 4);
}

void viewer_warn_blank(const char *what, bool render_if_none) {
    auto warn = [&](const char *why) {
        char msg[256];
        snprintf(msg, sizeof msg, "%s: %s", what, why);
        QVF_LogWarningF(msg, "qvp_viewer", __LINE__);
    };
    if (render_if_none && QVV_display && QVV_display->frame_count == 0) {
        warn("the script rendered no frame: one is rendered first (call frame to render your own)");
        QVH_RunFrames(1);
    }
    if (!QVH_Plugins()) warn("the script loaded no plugin: no canvas is drawn; see examples/common.tcl");
    bool shown = false;
    for (QVS_CHANNEL *ch = QVV_display ? QVV_display->channel_list : nullptr; ch && !shown; ch = ch->pnext)
        for (QVS_VIEWPORT *vp = ch->view_list; vp && !shown; vp = vp->pnext) shown = !(vp->attrib & QVP_ATTRIB_HIDDEN);
    // With no channel at all the next frame lays out the default one.
    if (!shown && QVV_display && (QVV_display->channel_list || QVV_display->frame_count > 0))
        warn("the script made no viewport: nothing is drawn; see examples/common.tcl");
}

bool viewer_record(const std::string &path, int frames, int fps, const ViewerOutput &o, std::string &err) {
    if (frames < 1) {
        err = "-record wants -frames N (N at least 1)";
        return false;
    }
    // The display's clock steps one frame of the clip per frame.
    QVV_display->time_step = 1.0 / fps;
    qvpc::RouteFfmpegLog();
    QVV_display->real_time = 0;
    Progress progress("recording frame", frames, o.quiet);
    int W = QVV_display->width, H = QVV_display->height;
    if (ends_with(path, ".png")) {
        char buf[512];
        for (int k = 1; k <= frames && !viewer_stop_requested(); k++) {
            QVH_RunFrames(1);
            if (!QVH_SnapshotAlpha(viewer_numbered_png(path, k).c_str(), o.keep_alpha, buf, sizeof buf)) {
                err = buf;
                return false;
            }
            progress.Step(k);
        }
        return true;
    }
    ClipWriter clip;
    if (!clip.Open(path, W, H, fps, err)) return false;
    std::vector<unsigned char> rgba((size_t)W * H * 4);
    // A stop asked for by a signal ends the clip early, finished.
    for (int k = 1; k <= frames && !viewer_stop_requested(); k++) {
        QVH_RunFrames(1);
        QVH_ReadFrame(rgba.data(), 0);
        if (!clip.Add(rgba.data())) {
            err = "cannot write frame " + std::to_string(k) + " of \"" + path + "\": " + clip.error();
            clip.Close();
            unlink(path.c_str());
            err += " (the partial clip was removed)";
            return false;
        }
        progress.Step(k);
    }
    if (!clip.Close()) {
        err = "cannot finish \"" + path + "\": " + clip.error() + " (the partial clip was removed)";
        unlink(path.c_str());
        return false;
    }
    return true;
}

/* ---- the live window ---- */

namespace {

// Sleeps until NEXT + PERIOD, the next frame's time, and moves NEXT
// there; a loop behind starts its pacing again from now.
void pace(double &next, double period) {
    next += period;
    double wait = next - now_seconds();
    if (wait > 0) {
        struct timespec ts = {(time_t)wait, (long)((wait - (time_t)wait) * 1e9)};
        nanosleep(&ts, nullptr);
    } else {
        next = now_seconds();
    }
}

}  // namespace

void viewer_prompt_loop(int fps) {
    QVV_display->real_time = 1;
    qvpc::SetVideoDecodeInBackground(true);
    double period = 1.0 / fps, next = now_seconds();
    while (!viewer_prompt_ended() && !viewer_stop_requested()) {
        while (Tcl_DoOneEvent(TCL_DONT_WAIT | TCL_ALL_EVENTS)) {
        }
        viewer_prompt_step();
        QVH_RunFrames(1);
        pace(next, period);
    }
}

int viewer_live(int frames, int fps, const ViewerOutput &o) {
    QVV_display->real_time = 1;
    // A seek decodes beside the drawing: the frame before stays until the
    // one sought is ready.
    qvpc::SetVideoDecodeInBackground(true);
    double period = 1.0 / fps, next = now_seconds();
    int shot = 0, shown = 0;
    Progress progress("frame", frames, o.quiet);
    for (;;) {
        QVH_WINDOW_EVENTS ev;
        QVH_PollWindow(&ev);
        if (ev.close) break;
        bool quit = false, snap = false;
        for (const char *k = ev.keys; *k; k++) {
            if (*k == 'q' || *k == '\033') quit = true;
            if (*k == 's') snap = true;
        }
        if (quit || viewer_stop_requested()) break;
        if (ev.w > 0 && ev.h > 0) {
            QVH_ResizeDisplay(ev.w, ev.h);
            viewer_apply_fractions();
        }
        while (Tcl_DoOneEvent(TCL_DONT_WAIT | TCL_ALL_EVENTS)) {
        }
        viewer_prompt_step();
        QVH_RunFrames(1);
        if (snap) {
            std::string path = o.out.empty() ? "snapshot.png" : o.out;
            path = viewer_numbered_png(ends_with(path, ".png") ? path : path + ".png", ++shot);
            char buf[512];
            if (QVH_SnapshotAlpha(path.c_str(), o.keep_alpha, buf, sizeof buf)) printf("qvp_viewer: snapshot %s\n", path.c_str());
            else fprintf(stderr, "qvp_viewer: %s\n", buf);
            fflush(stdout);
        }
        QVH_PresentFrame();
        progress.Step(++shown);
        if (frames > 0 && shown >= frames) break;
        pace(next, period);
    }
    return 0;
}
