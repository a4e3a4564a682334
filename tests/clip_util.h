// clip_util.h - video clips written with FFmpeg's own encoders for the
// tests that play them: every frame's pixels are known.
#ifndef QVP_CLIP_UTIL_H
#define QVP_CLIP_UTIL_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}
#include <string.h>

#include <functional>
#include <string>
#include <vector>

// How write_clip makes a clip: container, frame times, display matrix
// and the picture of frame K at pixel (x, y).
struct ClipRecipe {
    const char *format = "matroska";
    std::vector<int64_t> pts_ms;   // empty: frame k at k / fps
    int64_t last_ms = 0;           // with pts_ms: how long the last frame lasts (0: not said)
    double cw_degrees = 0;         // non-zero: a display matrix, av_display_rotation_set's angle
    AVCodecID codec = AV_CODEC_ID_FFV1;  // FFV1 keeps BGRA losslessly; others get YUV 4:2:0
    int gop = 0;                   // key frame spacing of an inter codec (0: its default)
    std::function<void(int k, int x, int y, unsigned char *bgra)> paint = [](int k, int x, int y, unsigned char *p) {
        p[0] = (unsigned char)(x * 9 + k * 40);
        p[1] = (unsigned char)(y * 13 + k * 7);
        p[2] = (unsigned char)((x ^ y) * 5 + k);
        p[3] = 255;
    };
};

// Writes N frames of W x H BGRA with FFV1 (lossless, by default) into
// PATH and returns them; by default frame k is a pattern of k so every
// frame differs.
inline std::vector<std::vector<unsigned char>> write_clip(const std::string &path, int n, int w, int h, int fps,
                                                   const ClipRecipe &recipe = ClipRecipe()) {
    std::vector<std::vector<unsigned char>> frames;
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, recipe.format, path.c_str()) < 0) return frames;
    const AVCodec *codec = avcodec_find_encoder(recipe.codec);
    if (!codec) return frames;
    bool yuv = recipe.codec != AV_CODEC_ID_FFV1;
    AVStream *st = avformat_new_stream(oc, nullptr);
    AVCodecContext *enc = avcodec_alloc_context3(codec);
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = yuv ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGRA;
    if (recipe.gop > 0) enc->gop_size = recipe.gop;
    if (yuv) {
        // A fixed fine quantiser: flat frames come back within a level or two.
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 2;
        enc->max_b_frames = 0;
    }
    enc->time_base = recipe.pts_ms.empty() ? AVRational{1, fps} : AVRational{1, 1000};
    enc->framerate = AVRational{fps, 1};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0) return frames;
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = enc->time_base;
    if (recipe.cw_degrees != 0) {
        uint8_t *m = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
        if (m) av_display_rotation_set((int32_t *)m, recipe.cw_degrees);
    }
    avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (avformat_write_header(oc, nullptr) < 0) return frames;
    AVFrame *fr = av_frame_alloc();
    fr->format = AV_PIX_FMT_BGRA;
    fr->width = w;
    fr->height = h;
    av_frame_get_buffer(fr, 0);
    AVFrame *yf = av_frame_alloc();
    SwsContext *sws = nullptr;
    if (yuv) {
        yf->format = AV_PIX_FMT_YUV420P;
        yf->width = w;
        yf->height = h;
        av_frame_get_buffer(yf, 0);
        sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    }
    AVPacket *pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc, pkt) == 0) {
            // Each frame lasts one frame interval (an MP4's edit list
            // would otherwise end at the last frame's start and drop it).
            if (pkt->duration <= 0 && recipe.pts_ms.empty()) pkt->duration = 1;
            for (size_t k = 0; k < recipe.pts_ms.size(); k++)
                if (recipe.pts_ms[k] == pkt->pts)
                    pkt->duration = k + 1 < recipe.pts_ms.size() ? recipe.pts_ms[k + 1] - pkt->pts : recipe.last_ms;
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            av_interleaved_write_frame(oc, pkt);
        }
    };
    for (int k = 0; k < n; k++) {
        av_frame_make_writable(fr);
        std::vector<unsigned char> want((size_t)w * h * 4);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                unsigned char *p = fr->data[0] + y * fr->linesize[0] + x * 4;
                recipe.paint(k, x, y, p);
                memcpy(&want[((size_t)y * w + x) * 4], p, 4);
            }
        fr->pts = recipe.pts_ms.empty() ? k : recipe.pts_ms[(size_t)k];
        if (yuv) {
            av_frame_make_writable(yf);
            sws_scale(sws, fr->data, fr->linesize, 0, h, yf->data, yf->linesize);
            yf->pts = fr->pts;
        }
        avcodec_send_frame(enc, yuv ? yf : fr);
        drain();
        frames.push_back(want);
    }
    avcodec_send_frame(enc, nullptr);
    drain();
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    av_packet_free(&pkt);
    av_frame_free(&fr);
    av_frame_free(&yf);
    sws_freeContext(sws);
    avcodec_free_context(&enc);
    avformat_free_context(oc);
    return frames;
}

#endif
