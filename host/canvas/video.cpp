// video.cpp - video producers: a decoder that plays a file through
// FFmpeg's libraries and a synthetic pattern with the frame number in it.
// Each fills the six BGRA buffers of its element and sets cur_frame, at
// the clip position its shared play state gives for the display's time.
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
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "builder_internal.h"
#include "qvp_externs.h"
#include "qvp_host.h"

namespace qvpc {

namespace {

// What every process of the scene knows of a video element, in the
// arena: its source (fixed while its producer runs) with the producer's
// progress (written in place by the producer at each tick), pointed at
// by QVP_CANVAS_VIDEO::media, and its play state, pointed at by
// media_player and replaced whole at each edit.
const uint32_t kSourceMagic = 0x53505651;  // "QVPS"
const uint32_t kPlayMagic = 0x50505651;    // "QVPP"
struct SourceRecord {
    uint32_t magic;
    int loop;
    int w, h;
    double fps;
    char *file;        // arena string; null for the pattern
    double clock;      // the producer's clock at its last tick, NaN before
    double duration;   // seconds; 0 while unknown
};
struct PlayRecord {
    uint32_t magic;
    int paused;
    double position, at, rate;
};

const SourceRecord *source_record(const QVP_CANVAS_VIDEO &v) {
    const SourceRecord *r = (const SourceRecord *)v.media;
    return r && QVH_InArena(r) && r->magic == kSourceMagic ? r : nullptr;
}

const PlayRecord *play_record(const QVP_CANVAS_VIDEO &v) {
    const PlayRecord *r = (const PlayRecord *)v.media_player;
    return r && QVH_InArena(r) && r->magic == kPlayMagic ? r : nullptr;
}

// The play state a record holds; a record written over plays from 0.
PlayState play_of(const PlayRecord *r) {
    PlayState s;
    if (!r) return s;
    s.paused = r->paused != 0;
    s.position = std::isfinite(r->position) && r->position >= 0 ? r->position : 0;
    s.at = std::isfinite(r->at) ? r->at : NAN;
    s.rate = std::isfinite(r->rate) && r->rate > 0 && r->rate <= 16 ? r->rate : 1;
    return s;
}

// A new arena record for S, or null when the arena is full.
PlayRecord *new_play_record(const PlayState &s) {
    PlayRecord *r = (PlayRecord *)QVH_Alloc(sizeof(PlayRecord));
    if (!r) return nullptr;
    r->magic = kPlayMagic;
    r->paused = s.paused ? 1 : 0;
    r->position = s.position;
    r->at = s.at;
    r->rate = s.rate;
    return r;
}

// Replaces V's play record by one holding S, with one pointer store, and
// frees the old; false (V unchanged) when the arena is full. The caller
// holds the canvas lock.
bool replace_play_record(QVP_CANVAS_VIDEO &v, const PlayState &s) {
    PlayRecord *fresh = new_play_record(s);
    if (!fresh) return false;
    const PlayRecord *old = play_record(v);
    __atomic_store_n(&v.media_player, (void *)fresh, __ATOMIC_RELEASE);
    QVH_Free((void *)old);
    return true;
}

// The source a record of this builder holds.
VideoSource source_of(const SourceRecord *r) {
    VideoSource s;
    if (r->file && QVH_InArena(r->file)) s.file = r->file;
    s.w = r->w;
    s.h = r->h;
    s.fps = std::isfinite(r->fps) && r->fps > 0 ? r->fps : 0;
    s.loop = r->loop != 0;
    return s;
}

// Where a clip in play state S is at clock T, before wrapping or holding
// at its end: it never runs back before its start.
double clip_position(const PlayState &s, double t) {
    if (std::isnan(s.at) || s.paused || !std::isfinite(t)) return s.position;
    double p = s.position + s.rate * (t - s.at);
    return p > 0 ? p : 0;
}

// POS wrapped by a loop, or held at the end, of a clip DURATION long (0:
// unknown, left as it is). A position a rounding error short of a whole
// number of loops lands on the start.
double wrap_position(double pos, double duration, bool loop) {
    if (duration <= 0) return pos;
    if (!loop) return pos < duration ? pos : duration;
    double w = fmod(pos + 1e-9, duration) - 1e-9;
    return w > 0 ? w : 0;
}

class Producer {
public:
    virtual ~Producer() = default;
    // Chooses the frame at T seconds of the clip (looping or holding at
    // the end as src.loop says) and returns a number that changes
    // whenever the frame does, or -1 when there is none.
    virtual int Pick(double t) = 0;
    // Writes the frame Pick chose into BGRA rows of ROW_SIZE bytes.
    virtual bool Render(unsigned char *bgra, int row_size) = 0;
    // The clip's length in seconds: exact once its end was met, else
    // what the file says; 0 when unknown or endless.
    virtual double Duration() const { return 0; }
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

// A seek ahead by more than this decodes from the key frame before the
// target instead of every frame on the way.
const double kSeekAhead = 1.0;

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
        native_rate_ = avg.num > 0 && avg.den > 0 ? av_q2d(avg) : real.num > 0 && real.den > 0 ? av_q2d(real) : 25.0;
        // A rate given by the caller paces the frames by their index;
        // otherwise each frame shows from its own timestamp on.
        by_index_ = s.fps > 0;
        fps = s.fps > 0 ? s.fps : native_rate_;
        time_base_ = av_q2d(st->time_base);
        // The length the file states, until its end is met.
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) stated_ = (double)st->duration * time_base_;
        else if (fmt_->duration > 0) stated_ = (double)fmt_->duration / AV_TIME_BASE;
        if (by_index_) stated_ = st->nb_frames > 0 ? (double)st->nb_frames / fps : stated_ * native_rate_ / fps;
        cur_ = av_frame_alloc();
        next_frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        return cur_ && next_frame_ && pkt_;
    }

    int Pick(double t) override {
        if (t < 0 || !std::isfinite(t)) return -1;
        for (int tries = 0; tries < 3; tries++) {
            if (length_ > 0) t = wrap_position(t, length_, src.loop);
            if (have_cur_ && (t + 1e-9 < cur_time_ || t > cur_time_ + kSeekAhead) && !SeekTo(t)) return -1;
            bool sought = sought_;
            bool before_end = Advance(t);
            // A seek that landed past T (a file without a usable index)
            // starts again from the first frame.
            if (sought && have_cur_ && cur_time_ > t + 1e-9) {
                if (!Rewind()) return -1;
                before_end = Advance(t);
            }
            if (before_end) return have_cur_ ? serial_ : -1;
            // The end came before T: now the length is known.
            if (!have_cur_) return -1;
            if (stated_ > cur_time_ + 1.0 && t > cur_time_ + 1.0) EndedEarly(t);
            // A length the file gives is kept over a guess (after a seek
            // a demuxer does not always hand a frame's duration on).
            bool exact = false;
            double end = EndTime(exact);
            if (exact || !length_exact_) {
                length_ = end;
                length_exact_ = exact;
            }
            if (!src.loop) return serial_;
        }
        return have_cur_ ? serial_ : -1;
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

    double Duration() const override { return length_ > 0 ? length_ : stated_; }

private:
    // Decodes on until the frame after the current one would start after
    // T. True when it stopped for that reason, false at the end of the file.
    bool Advance(double t) {
        for (;;) {
            if (!have_next_) {
                if (!DecodeOne(next_frame_)) return false;
                have_next_ = true;
                next_time_ = FrameTime(next_frame_);
                next_dur_ = next_frame_->pkt_duration > 0 ? (double)next_frame_->pkt_duration * time_base_ : 0;
            }
            if (have_cur_ && next_time_ > t + 1e-9) return true;
            std::swap(cur_, next_frame_);
            if (have_cur_) interval_ = next_time_ - cur_time_;
            cur_time_ = next_time_;
            cur_dur_ = next_dur_;
            cur_index_ = decoded_ - 1;
            have_cur_ = true;
            have_next_ = false;
            serial_ = serial_ < INT_MAX ? serial_ + 1 : 0;
        }
    }

    // When the frame just decoded into F starts: by its index at the
    // caller's rate, else by its timestamp from the stream's first one
    // (a frame without a timestamp follows its predecessor by one frame).
    // The first frame after a seek takes its index from its timestamp.
    double FrameTime(const AVFrame *f) {
        int64_t ts = f->best_effort_timestamp;
        if (resync_) {
            resync_ = false;
            if (ts != AV_NOPTS_VALUE && first_ts_ != AV_NOPTS_VALUE)
                decoded_ = 1 + (int)std::max(0LL, llround((double)(ts - first_ts_) * time_base_ * native_rate_));
        }
        int index = decoded_ - 1;
        if (index == 0 && ts != AV_NOPTS_VALUE) first_ts_ = ts;
        if (by_index_) return index / fps;
        if (ts == AV_NOPTS_VALUE || first_ts_ == AV_NOPTS_VALUE) return index == 0 ? 0 : last_time_ + 1.0 / fps;
        double time = (double)(ts - first_ts_) * time_base_;
        // Timestamps that step back are taken as one frame on.
        if (index > 0 && last_time_ >= 0 && time <= last_time_) time = last_time_ + 1e-6;
        last_time_ = time;
        return time;
    }

    // When the current (last) frame ends: where the file says the clip
    // ends (when that lies within a second after the frame), else the
    // frame's own duration on, else one frame interval on. EXACT says
    // whether the end came from the file rather than a guess.
    double EndTime(bool &exact) const {
        exact = true;
        if (by_index_) return (cur_index_ + 1) / fps;
        if (stated_ > cur_time_ + 1e-6 && stated_ <= cur_time_ + 1.0) return stated_;
        if (cur_dur_ > 0) return cur_time_ + cur_dur_;
        exact = false;
        return cur_time_ + (interval_ > 0 ? interval_ : 1.0 / fps);
    }

    bool Rewind() {
        if (av_seek_frame(fmt_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
            avformat_seek_file(fmt_, stream_, INT64_MIN, 0, 0, 0) < 0) {
            SeekFailed(0);
            return false;
        }
        avcodec_flush_buffers(dec_);
        decoded_ = 0;
        draining_ = false;
        have_cur_ = have_next_ = false;
        resync_ = sought_ = false;
        last_time_ = 0;
        return true;
    }

    // Goes to the key frame at or before clip time T; the frames after
    // it are decoded by the next Advance.
    bool SeekTo(double t) {
        if (t <= 0 || first_ts_ == AV_NOPTS_VALUE || time_base_ <= 0) return Rewind();
        double file_t = by_index_ ? floor(t * fps + 1e-9) / native_rate_ : t;
        int64_t ts = first_ts_ + (int64_t)floor(file_t / time_base_ + 1e-6);
        if (av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) return Rewind();
        avcodec_flush_buffers(dec_);
        draining_ = false;
        have_cur_ = have_next_ = false;
        resync_ = sought_ = true;
        last_time_ = -1;
        return true;
    }

    // A file that ends well before the length it states (truncated, or
    // broken past some point) is said once.
    void EndedEarly(double t) {
        if (early_warned_) return;
        early_warned_ = true;
        char line[240];
        snprintf(line, sizeof line,
                 "video \"%.100s\": the file ends at %.3f s, not at the %.3f s it states (cut short?); %.3f s "
                 "shows its last good frame",
                 src.file.c_str(), cur_time_, stated_, t);
        QVF_LogWarningF(line, __FILE__, __LINE__);
    }

    void SeekFailed(double t) {
        if (seek_warned_) return;
        seek_warned_ = true;
        char line[160];
        snprintf(line, sizeof line, "video \"%.100s\": cannot seek to %.3f s; the last good frame stays", src.file.c_str(), t);
        QVF_LogWarningF(line, __FILE__, __LINE__);
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
    double native_rate_ = 25;  // the file's frame rate
    double time_base_ = 0;
    int64_t first_ts_ = AV_NOPTS_VALUE;
    double last_time_ = 0;
    bool have_cur_ = false, have_next_ = false;
    double cur_time_ = 0, next_time_ = 0;
    double cur_dur_ = 0, next_dur_ = 0;  // the frames' own durations, 0 unknown
    double interval_ = 0;                // from the frame before the current one
    int cur_index_ = -1;
    int serial_ = 0;        // changes with every frame made current
    int decoded_ = 0;       // frames decoded since the start (estimated after a seek)
    double length_ = 0;     // seconds, once the end was met
    bool length_exact_ = false;  // length_ came from the file, not a guess
    double stated_ = 0;     // seconds, as the file says; 0 unknown
    bool draining_ = false;
    bool resync_ = false;   // the next frame decoded sets the index from its timestamp
    bool sought_ = false;   // decoding from a key frame found by a seek
    bool seek_warned_ = false, early_warned_ = false;
};
// Decodes one producer's frames on a thread of its own: each tick posts
// the clip time it wants and takes the newest finished frame, so a seek
// that decodes for a while never holds up drawing. The producer is only
// used by this thread while the decoder lives.
class Decoder {
public:
    Decoder(Producer *p, size_t bytes) : p_(p), work_(bytes), done_(bytes) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Decoder() {
        Stop();
        thread_.join();
    }
    // Asks the thread to end after the frame it is on.
    void Stop() {
        std::lock_guard<std::mutex> g(m_);
        quit_ = true;
        cv_.notify_one();
    }
    void Want(double t) {
        std::lock_guard<std::mutex> g(m_);
        want_ = t;
        asked_ = true;
        cv_.notify_one();
    }
    // Swaps the newest finished frame into OUT (of the same size) when it
    // is not frame SHOWN and returns its number; -1 when none is new.
    // DURATION gets the producer's latest idea of the clip's length.
    int Take(int shown, std::vector<unsigned char> &out, double &duration) {
        std::lock_guard<std::mutex> g(m_);
        duration = duration_;
        if (!ready_ || done_n_ == shown) return -1;
        out.swap(done_);
        ready_ = false;
        return done_n_;
    }

private:
    void Run() {
        int made = -1;
        for (;;) {
            double t;
            {
                std::unique_lock<std::mutex> g(m_);
                cv_.wait(g, [this] { return quit_ || asked_; });
                if (quit_) return;
                t = want_;
                asked_ = false;
            }
            int n = p_->Pick(t);
            bool ok = n >= 0 && n != made && p_->Render(work_.data(), p_->w * 4);
            double d = p_->Duration();
            std::lock_guard<std::mutex> g(m_);
            duration_ = d;
            if (ok) {
                made = n;
                work_.swap(done_);
                done_n_ = n;
                ready_ = true;
            }
        }
    }

    Producer *p_;
    std::vector<unsigned char> work_, done_;  // being made, and the newest made
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    double want_ = 0, duration_ = 0;
    bool asked_ = false, ready_ = false, quit_ = false;
    int done_n_ = -1;
};

struct Running {
    std::unique_ptr<Producer> producer;
    std::unique_ptr<Decoder> decoder;   // with background decoding only
    int shown = -1;                     // number of the frame last written
    std::vector<unsigned char> scratch; // the next frame, made outside the lock
    PlayState play;                     // as read at this tick
    int made = -1;                      // a frame made this tick, or -1
    double duration = 0;                // the producer's length at this tick
    double duration_told = -1;          // the length last written to the scene
};

// The producers of this process, by the first frame buffer of the
// element they fill (it moves with the element when the record is made
// again, by any process); filled by StartVideo, emptied by StopVideo and
// by TickVideo when the element is gone.
std::map<const unsigned char *, Running> &running() {
    static std::map<const unsigned char *, Running> m;
    return m;
}

// A decoder stopped under the canvas lock with the producer its thread
// may still be using; the decoder goes first (its thread joined), then
// the producer.
struct Stopped {
    std::unique_ptr<Producer> producer;
    std::unique_ptr<Decoder> decoder;
};

// Decoders stopped under the canvas lock, joined by the next TickVideo
// outside it (a decoder may be busy with a seek). Bounded by the
// producers stopped between two ticks.
std::vector<Stopped> &stopped_decoders() {
    static std::vector<Stopped> v;
    return v;
}

// Hands R's decoder, if it has one, and its producer to the stopped list.
void stop_decoder(Running &r) {
    if (!r.decoder) return;
    r.decoder->Stop();
    stopped_decoders().push_back(Stopped{std::move(r.producer), std::move(r.decoder)});
}

// Set by SetVideoDecodeInBackground (the live viewer turns it on).
bool g_background = false;

// The anchor hook and its data; set by SetPlayAnchorHook.
PlayAnchorHook g_anchor_hook = nullptr;
void *g_anchor_data = nullptr;

// A video element of the scene and its canvas, by its first buffer.
struct Found {
    const unsigned char *frames0;
    QVP_CANVAS *canvas;
    QVP_CANVAS_ELEMENT *element;
};

// The video elements of the scene, walked under the canvas lock; the
// vector is kept between ticks so a steady tick allocates nothing.
const std::vector<Found> &scene_videos() {
    static std::vector<Found> v;
    v.clear();
    if (!Info()) return v;
    QVP_WALK(QVP_CANVAS, c, Info()->list)
        QVP_WALK(QVP_CANVAS_ELEMENT, k, c->elements)
            if (k->type == ELEMENT_VIDEO && k->data.video.frames[0]) v.push_back(Found{k->data.video.frames[0], c, k});
    return v;
}

const Found *find_video(const std::vector<Found> &v, const unsigned char *frames0) {
    for (const Found &f : v)
        if (f.frames0 == frames0) return &f;
    return nullptr;
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

// Frees what StartVideo put in the arena for V: frames, name, and the
// shared records (only when they are still what this builder made).
void free_video_buffers(QVP_CANVAS_VIDEO &v) {
    for (auto &f : v.frames) {
        QVH_Free(f);
        f = nullptr;
    }
    QVH_Free(v.name);
    v.name = nullptr;
    if (const SourceRecord *s = source_record(v)) {
        QVH_Free(s->file);
        QVH_Free((void *)s);
    }
    if (const PlayRecord *p = play_record(v)) QVH_Free((void *)p);
    v.media = v.media_player = nullptr;
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

bool StartVideo(QVP_CANVAS_ELEMENT *e, const VideoSource &src, std::string &err, const PlayState *carry) {
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
    PlayState start;
    if (carry) start = *carry;
    QVP_CANVAS_VIDEO fresh;
    memset(&fresh, 0, sizeof fresh);
    fresh.row_size = p->w * 4;
    bool ok = true;
    for (auto &f : fresh.frames) {
        f = (unsigned char *)QVH_Alloc((size_t)fresh.row_size * p->h);
        ok = ok && f;
    }
    fresh.name = ArenaString(src.file.empty() ? "pattern" : src.file);
    SourceRecord *rec = (SourceRecord *)QVH_Alloc(sizeof(SourceRecord));
    if (rec) {
        rec->magic = kSourceMagic;
        rec->loop = src.loop ? 1 : 0;
        rec->w = src.w;
        rec->h = src.h;
        rec->fps = src.fps;
        rec->clock = NAN;
        rec->duration = p->Duration();
        rec->file = src.file.empty() ? nullptr : ArenaString(src.file);
        fresh.media = rec;
    }
    fresh.media_player = new_play_record(start);
    if (!ok || !fresh.name || !rec || (!src.file.empty() && !rec->file) || !fresh.media_player) {
        free_video_buffers(fresh);
        size_t bytes = (size_t)6 * fresh.row_size * p->h;
        err = ArenaFull("the 6 frame buffers of " + std::to_string(p->w) + "x" + std::to_string(p->h) + " video \"" +
                            (src.file.empty() ? std::string("pattern") : src.file) + "\"",
                        bytes);
        return false;
    }
    int first = p->Pick(wrap_position(start.position, p->Duration(), src.loop));
    bool shown = first >= 0 && p->Render(fresh.frames[0], fresh.row_size);
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
        v.media = fresh.media;
        v.media_player = fresh.media_player;
        memcpy(v.frames, fresh.frames, sizeof v.frames);
        v.looped = src.loop;
        v.cur_frame = shown ? 0 : -1;
    }
    // A producer whose element was freed elsewhere, at the address these
    // frames now have, goes first.
    auto stale = running().find(fresh.frames[0]);
    if (stale != running().end()) {
        stale->second.decoder.reset();
        running().erase(stale);
    }
    Running &r = running()[fresh.frames[0]];
    r.scratch.resize((size_t)fresh.row_size * (size_t)p->h);
    r.producer = std::move(p);
    r.shown = shown ? first : -1;
    free_video_buffers(old);
    return true;
}

void StopVideo(QVP_CANVAS_ELEMENT *e) {
    auto it = running().find(e->data.video.frames[0]);
    if (it != running().end()) {
        stop_decoder(it->second);
        running().erase(it);
    }
    // The frames are freed by whoever deletes the element, also when
    // another process runs its producer: that one finds out at its next
    // tick and stops.
    Lock lock;
    free_video_buffers(e->data.video);
    e->data.video.cur_frame = -1;
}

VideoSource VideoSourceOf(const QVP_CANVAS_ELEMENT *e) {
    Lock lock;
    const SourceRecord *r = source_record(e->data.video);
    return r ? source_of(r) : VideoSource();
}

int VideoProducerCount() { return (int)running().size(); }

bool GetVideoStatus(const QVP_CANVAS_ELEMENT *e, VideoStatus &out) {
    if (e->type != ELEMENT_VIDEO) return false;
    const SourceRecord *r = source_record(e->data.video);
    if (!r) return false;
    out.src = source_of(r);
    out.play = play_of(play_record(e->data.video));
    out.clock = r->clock;
    out.duration = std::isfinite(r->duration) && r->duration > 0 ? r->duration : 0;
    out.position = wrap_position(clip_position(out.play, out.clock), out.duration, out.src.loop);
    return true;
}

bool EditVideoPlay(QVP_CANVAS *c, QVP_CANVAS_ELEMENT *e, const PlayEdit &edit, std::string &err) {
    if (edit.rate != 0 && !(edit.rate > 0 && edit.rate <= 16)) {
        err = "-rate runs above 0 up to 16";
        return false;
    }
    if (!std::isnan(edit.position) && !(std::isfinite(edit.position) && edit.position >= 0)) {
        err = "-position wants seconds from 0 on";
        return false;
    }
    if (edit.exact && !(std::isfinite(edit.exact->position) && edit.exact->position >= 0 &&
                        std::isfinite(edit.exact->at) && edit.exact->rate > 0 && edit.exact->rate <= 16)) {
        err = "-play wants {POSITION AT RATE PAUSED}: a position from 0 on, a finite time, a rate above 0 up to 16";
        return false;
    }
    Lock lock;
    bool linked = false;
    if (Info())
        QVP_WALK(QVP_CANVAS, k, Info()->list)
            if (k == c) QVP_WALK(QVP_CANVAS_ELEMENT, x, c->elements) linked = linked || x == e;
    VideoStatus st;
    if (!linked || !GetVideoStatus(e, st)) {
        err = linked ? "the video element has no play state" : "the element is gone";
        return false;
    }
    PlayState s = st.play;
    if (edit.exact) {
        s = *edit.exact;
    } else {
        // Every change starts at the producer's next tick, from where the
        // clip is now or from the position sought.
        s.position = st.position;
        // A position past the end is held there (or wrapped, for a loop)
        // once the producer knows the clip's length.
        if (!std::isnan(edit.position)) s.position = edit.position;
        if (edit.paused >= 0) s.paused = edit.paused != 0;
        if (edit.rate > 0) s.rate = edit.rate;
        s.at = NAN;
    }
    if (!replace_play_record(e->data.video, s)) {
        err = ArenaFull("the play state", sizeof(PlayRecord));
        return false;
    }
    return true;
}

void SetPlayAnchorHook(PlayAnchorHook fn, void *data) {
    g_anchor_hook = fn;
    g_anchor_data = data;
}

void SetVideoDecodeInBackground(bool on) { g_background = on; }

void TickVideo(double t) {
    stopped_decoders().clear();
    if (running().empty()) return;
    struct Anchored {
        std::string canvas;
        int id;
        PlayState play;
    };
    static std::vector<Anchored> anchored;
    anchored.clear();
    bool write = false;
    {
        Lock lock;
        const std::vector<Found> &videos = scene_videos();
        for (auto it = running().begin(); it != running().end();) {
            Running &r = it->second;
            const Found *f = find_video(videos, it->first);
            if (!f) {
                // Deleted, perhaps by another process: its memory is not
                // ours to write any more.
                stop_decoder(r);
                it = running().erase(it);
                continue;
            }
            QVP_CANVAS_VIDEO &v = f->element->data.video;
            if (SourceRecord *s = (SourceRecord *)source_record(v)) s->clock = t;
            r.play = play_of(play_record(v));
            if (std::isnan(r.play.at)) {
                r.play.at = t;
                if (replace_play_record(v, r.play)) {
                    if (g_anchor_hook) anchored.push_back(Anchored{f->canvas->name, f->element->id, r.play});
                }
            }
            ++it;
        }
    }
    for (auto &kv : running()) {
        Running &r = kv.second;
        double pos = clip_position(r.play, t);
        r.made = -1;
        if (g_background && !r.decoder) r.decoder.reset(new Decoder(r.producer.get(), r.scratch.size()));
        if (!g_background && r.decoder) r.decoder.reset();
        if (r.decoder) {
            r.decoder->Want(pos);
            r.made = r.decoder->Take(r.shown, r.scratch, r.duration);
        } else {
            int n = r.producer->Pick(pos);
            if (n >= 0 && n != r.shown && r.producer->Render(r.scratch.data(), r.producer->w * 4)) r.made = n;
            r.duration = r.producer->Duration();
        }
        write = write || r.made >= 0 || r.duration != r.duration_told;
    }
    if (write) {
        Lock lock;
        const std::vector<Found> &videos = scene_videos();
        for (auto &kv : running()) {
            Running &r = kv.second;
            if (r.made < 0 && r.duration == r.duration_told) continue;
            const Found *f = find_video(videos, kv.first);
            if (!f) continue;  // gone since the first look; the next tick drops it
            QVP_CANVAS_VIDEO &v = f->element->data.video;
            if (SourceRecord *s = (SourceRecord *)source_record(v)) s->duration = r.duration;
            r.duration_told = r.duration;
            if (r.made < 0) continue;
            // Into the buffer after the one shown, so that a display still
            // drawing the current frame is not disturbed. A frame index
            // that is no index (written over) starts again at 0.
            int slot = v.cur_frame >= 0 && v.cur_frame < 6 ? (v.cur_frame + 1) % 6 : 0;
            if (!v.frames[slot]) slot = 0;
            memcpy(v.frames[slot], r.scratch.data(), r.scratch.size());
            v.cur_frame = slot;
            r.shown = r.made;
        }
    }
    if (g_anchor_hook)
        for (const Anchored &a : anchored) g_anchor_hook(a.canvas, a.id, a.play, g_anchor_data);
}

}  // namespace qvpc
