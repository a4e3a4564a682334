// bench_video.cpp - seek latency on a 1080p H.264 clip with a key frame
// every 2 s, and what seeking does to display frames.
//
// The clip (written once with libx264 and kept in /tmp) marks each
// frame's number in two flat blocks, so the bench reads from the shown
// buffer which frame it is. Three runs, one display of 480 x 270:
//   scripted   each seek followed by one display frame, which decodes
//              from the key frame before and shows the frame sought: its
//              time is the seek latency as a script sees it
//   playing    display frames of the clip playing, in a live window's
//              way (decoding on the producer's thread, frames paced at
//              60 a second): the normal frame
//   live seek  the same with a seek every 30 frames: the frames drawn
//              while a seek decodes, and the wall time until the frame
//              sought shows
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include "bench_util.h"
#include "bench_world.h"
#include "qvp_globals.h"

namespace {

const int kW = 1920, kH = 1080, kFps = 25, kGop = 50;

// The luma of the blocks that mark frame K: K mod 25 and K / 25.
int mark(int k, int which) { return 16 + 8 * (which ? (k / 25) % 25 : k % 25); }

// Writes SECONDS of the marked clip to PATH; false with a message.
bool write_clip(const std::string &path, int seconds) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        fprintf(stderr, "bench_video: this FFmpeg has no H.264 encoder\n");
        return false;
    }
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "mp4", path.c_str()) < 0) return false;
    AVStream *st = avformat_new_stream(oc, nullptr);
    AVCodecContext *enc = avcodec_alloc_context3(codec);
    enc->width = kW;
    enc->height = kH;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, kFps};
    enc->framerate = AVRational{kFps, 1};
    enc->gop_size = kGop;
    enc->keyint_min = kGop;
    enc->max_b_frames = 2;
    av_opt_set(enc->priv_data, "preset", "ultrafast", 0);
    av_opt_set(enc->priv_data, "x264-params", "scenecut=0", 0);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0) return false;
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = enc->time_base;
    if (avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(oc, nullptr) < 0) return false;
    AVFrame *fr = av_frame_alloc();
    fr->format = AV_PIX_FMT_YUV420P;
    fr->width = kW;
    fr->height = kH;
    av_frame_get_buffer(fr, 0);
    AVPacket *pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc, pkt) == 0) {
            if (pkt->duration <= 0) pkt->duration = 1;
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            av_interleaved_write_frame(oc, pkt);
        }
    };
    for (int k = 0; k < seconds * kFps; k++) {
        av_frame_make_writable(fr);
        for (int y = 0; y < kH; y++) {
            uint8_t *row = fr->data[0] + (size_t)y * fr->linesize[0];
            for (int x = 0; x < kW; x++) {
                int v = (x + 2 * y + 6 * k) & 255;
                if (y < 128 && x < 256) v = mark(k, x >= 128);
                row[x] = (uint8_t)v;
            }
        }
        for (int p = 1; p < 3; p++)
            for (int y = 0; y < kH / 2; y++) memset(fr->data[p] + (size_t)y * fr->linesize[p], 128, kW / 2);
        fr->pts = k;
        avcodec_send_frame(enc, fr);
        drain();
    }
    avcodec_send_frame(enc, nullptr);
    drain();
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    av_packet_free(&pkt);
    av_frame_free(&fr);
    avcodec_free_context(&enc);
    avformat_free_context(oc);
    return true;
}

// The frame number the element's shown buffer carries, or -1.
int shown_frame(const QVP_CANVAS_ELEMENT *e) {
    const QVP_CANVAS_VIDEO &v = e->data.video;
    if (v.cur_frame < 0 || v.cur_frame > 5 || !v.frames[v.cur_frame]) return -1;
    // Grey (neutral chroma): green is the luma stretched from 16..235.
    auto luma = [&](int x) { return 16 + v.frames[v.cur_frame][(size_t)64 * v.row_size + (size_t)x * 4 + 1] * 219.0 / 255; };
    int a = (int)lround((luma(64) - 16) / 8.0), b = (int)lround((luma(192) - 16) / 8.0);
    return a < 0 || a > 24 || b < 0 || b > 24 ? -1 : b * 25 + a;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)std::min<double>((double)v.size() - 1, floor(p * (double)v.size()));
    return v[i];
}

void report(const char *what, const std::vector<double> &ms) {
    printf("%-34s %6zu  median %8.2f ms  p95 %8.2f ms  max %8.2f ms\n", what, ms.size(), BenchMedian(ms),
           percentile(ms, 0.95), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()));
}

bool seek(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, double position) {
    qvpc::PlayEdit p;
    p.position = position;
    std::string err;
    if (qvpc::EditVideoPlay(c, e, p, err)) return true;
    fprintf(stderr, "bench_video: %s\n", err.c_str());
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    std::string clip = "/tmp/qvp-bench-1080p-h264.mp4";
    int seconds = 12, seeks = 40;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--clip" && i + 1 < argc) clip = argv[++i];
        else if (a == "--seconds" && i + 1 < argc) seconds = std::max(3, atoi(argv[++i]));
        else if (a == "--seeks" && i + 1 < argc) seeks = std::max(1, atoi(argv[++i]));
        else {
            fprintf(stderr, "usage: bench_video ?--clip PATH? ?--seconds S? ?--seeks N?\n");
            return 2;
        }
    }
    struct stat sb;
    if (stat(clip.c_str(), &sb) != 0) {
        printf("writing %d s of 1080p H.264 (key frame every %d frames) to %s\n", seconds, kGop, clip.c_str());
        if (!write_clip(clip, seconds)) return 1;
    }
    std::string scene, err;
    if (!OpenBenchWorld("bench-video", 480, 270, (size_t)160 << 20, scene, err)) {
        fprintf(stderr, "bench_video: %s\n", err.c_str());
        return 1;
    }
    QVS_VIEWPORT *vp = QVH_AddViewport(QVH_AddChannel("c", 0, 0), "v");
    vp->use_fov = 0;
    vp->rleft = -0.5f; vp->rright = 0.5f; vp->rbottom = -0.28125f; vp->rtop = 0.28125f; vp->rnear = 5;
    QVP_CANVAS desc;
    qvpc::DefaultCanvas(desc);
    snprintf(desc.name, sizeof desc.name, "screen");
    desc.draw_layer = 0x800;
    desc.disp.ncols = 160;
    desc.disp.nrows = 90;
    desc.disp.col_vec[0] = 2;
    desc.disp.row_vec[1] = -1.125;
    QVP_CANVAS *c = qvpc::CreateCanvas(desc, {}, err);
    qvpc::ElementDesc ed;
    qvpc::DefaultElement(ed, ELEMENT_VIDEO);
    ed.rec.data.video.corners[0] = {0, 0};
    ed.rec.data.video.corners[1] = {160, 90};
    ed.video.file = clip;
    ed.video.loop = false;
    QVP_CANVAS_ELEMENT *e = c ? qvpc::AddElement(c, ed, err) : nullptr;
    if (!e) {
        fprintf(stderr, "bench_video: %s\n", err.c_str());
        return 1;
    }
    QVH_SetFrameHook([](double t, void *) { qvpc::TickVideo(t); }, nullptr);
    double length = seconds - 0.5;
    printf("renderer %s; %s, %d seeks to seeded positions\n", QVH_Renderer(), clip.c_str(), seeks);

    // Scripted: the frame after a seek shows the frame sought.
    srand(7);
    std::vector<double> scripted, wrong;
    QVH_RunFrames(2);
    for (int i = 0; i < seeks; i++) {
        int want = rand() % (int)(length * kFps);
        if (!seek(c, e, (want + 0.5) / kFps)) return 1;
        double t0 = BenchNow();
        QVH_RunFrames(1);
        scripted.push_back((BenchNow() - t0) * 1e3);
        if (shown_frame(e) != want) wrong.push_back(want);
    }
    report("scripted: frame after a seek", scripted);
    printf("%-34s %6zu of %d\n", "  seeks not on the frame sought", wrong.size(), seeks);

    // Live: decoding beside the drawing, frames paced at 60 a second.
    qvpc::SetVideoDecodeInBackground(true);
    QVV_display->real_time = 0;
    auto paced_frame = [&](double &next) {
        double t0 = BenchNow();
        QVH_RunFrames(1);
        double ms = (BenchNow() - t0) * 1e3;
        next += 1.0 / 60;
        double rest = next - BenchNow();
        if (rest > 0) std::this_thread::sleep_for(std::chrono::duration<double>(rest));
        return ms;
    };
    if (!seek(c, e, 0)) return 1;
    std::vector<double> playing, during, latency;
    double next = BenchNow();
    for (int f = 0; f < 240; f++) playing.push_back(paced_frame(next));
    int late = 0;
    for (int i = 0; i < seeks; i++) {
        int want = rand() % (int)(length * kFps);
        // Paused on the frame sought, so that it stays the frame to show.
        qvpc::PlayEdit p;
        p.position = (want + 0.5) / kFps;
        p.paused = 1;
        if (!qvpc::EditVideoPlay(c, e, p, err)) return 1;
        double t0 = BenchNow();
        int frames = 0;
        while (shown_frame(e) != want && frames < 240) {
            during.push_back(paced_frame(next));
            frames++;
        }
        if (frames >= 240) late++;
        latency.push_back((BenchNow() - t0) * 1e3);
        p.position = NAN;
        p.paused = 0;
        if (!qvpc::EditVideoPlay(c, e, p, err)) return 1;
        for (int f = 0; f < 20; f++) playing.push_back(paced_frame(next));
    }
    report("live: frames while playing", playing);
    report("live: frames while a seek decodes", during);
    report("live: seek to frame shown (wall)", latency);
    if (late) printf("  %d seeks never showed their frame in 240 frames\n", late);
    printf("ratio, median frame while seeking / while playing: %.2fx\n", BenchMedian(during) / BenchMedian(playing));
    qvpc::SetVideoDecodeInBackground(false);
    CloseBenchWorld(scene);
    return wrong.empty() && !late ? 0 : 1;
}
