// test_transport.cpp - what the display shows of a clip as it is started,
// paused, resumed, sought, sped up, ended and looped, frame by frame. The
// clips are written by FFmpeg's encoders with every frame one flat grey,
// so the grey a probe reads names the frame shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "clip_util.h"
#include "render_fixture.h"

namespace {

// Frame K of a grey clip is grey 10 + 6 K.
const int kGreyBase = 10, kGreyStep = 6;

class Transport : public Render {
protected:
    void SetUp() override {
        Render::SetUp();
        c_ = canvas("c", LAYER_FOREGROUND);
        // 50 display frames a second against clips of 25: every frame
        // time is a whole number of milliseconds, as the containers keep them.
        QVV_display->time_step = 1.0 / 50;
        QVH_SetFrameHook([](double t, void *) { qvpc::TickVideo(t); }, nullptr);
    }
    void TearDown() override {
        QVH_SetFrameHook(nullptr, nullptr);
        qvpc::SetVideoDecodeInBackground(false);
        for (const std::string &p : paths_) unlink(p.c_str());
        Render::TearDown();
    }
    // Writes a clip of N grey frames at FPS and returns its path.
    std::string grey_clip(int n, int fps, AVCodecID codec = AV_CODEC_ID_FFV1, int gop = 0,
                          const char *format = "matroska") {
        ClipRecipe r;
        r.codec = codec;
        r.gop = gop;
        r.format = format;
        r.paint = [](int k, int, int, unsigned char *p) {
            p[0] = p[1] = p[2] = (unsigned char)(kGreyBase + kGreyStep * k);
            p[3] = 255;
        };
        std::string path = "/tmp/" + name_ + "_" + std::to_string(paths_.size()) + "." + (strcmp(format, "matroska") ? std::string(format) : std::string("mkv"));
        EXPECT_EQ(write_clip(path, n, 32, 24, fps, r).size(), (size_t)n);
        paths_.push_back(path);
        return path;
    }
    // A video element of PATH over canvas columns X0..X1.
    QVP_CANVAS_ELEMENT *clip(const std::string &path, bool loop = false, float x0 = 40, float x1 = 160, double fps = 0) {
        qvpc::ElementDesc d;
        qvpc::DefaultElement(d, ELEMENT_VIDEO);
        d.rec.data.video.corners[0] = {x0, 20};
        d.rec.data.video.corners[1] = {x1, 130};
        d.video.file = path;
        d.video.loop = loop;
        d.video.fps = fps;
        std::string err;
        QVP_CANVAS_ELEMENT *e = qvpc::AddElement(c_, d, err);
        EXPECT_NE(e, nullptr) << err;
        return e;
    }
    // The frame the display shows at canvas column COL (row 75), or -1
    // for a grey that is no frame's.
    int shown(int col = 100) {
        unsigned char px[4] = {0, 0, 0, 0};
        QVH_ReadPixel(col, 149 - 75, px);
        int k = (int)lround((px[0] - kGreyBase) / (double)kGreyStep);
        return abs(px[0] - (kGreyBase + kGreyStep * k)) <= 2 ? k : -1;
    }
    // Runs one display frame and returns the frame shown.
    int next(int col = 100) {
        QVH_RunFrames(1);
        return shown(col);
    }
    bool edit(QVP_CANVAS_ELEMENT *e, int paused, double rate, double position) {
        qvpc::PlayEdit p;
        p.paused = paused;
        p.rate = rate;
        p.position = position;
        std::string err;
        bool ok = qvpc::EditVideoPlay(c_, e, p, err);
        EXPECT_TRUE(ok) << err;
        return ok;
    }
    double position(QVP_CANVAS_ELEMENT *e) {
        qvpc::Lock lock;
        qvpc::VideoStatus st;
        EXPECT_TRUE(qvpc::GetVideoStatus(e, st));
        return st.position;
    }
    QVP_CANVAS *c_ = nullptr;
    std::vector<std::string> paths_;
};

// The display runs at 50 frames a second and the clips at 25, so display
// frame F after the start shows clip frame F / 2.
TEST_F(Transport, Start_ClipAddedAfter200FramesStartsAtItsFirstFrame) {
    std::string path = grey_clip(40, 25);
    QVH_RunFrames(200);
    clip(path);
    for (int f = 0; f < 12; f++) EXPECT_EQ(next(), f / 2) << "display frame " << f << " after the add";
}

TEST_F(Transport, Start_TwoClipsAddedAtDifferentTimesEachStartAtTheirOwnFirstFrame) {
    std::string path = grey_clip(40, 25);
    clip(path, false, 10, 90);
    QVH_RunFrames(10);
    clip(path, false, 110, 190);
    for (int f = 0; f < 6; f++) {
        QVH_RunFrames(1);
        EXPECT_EQ(shown(50), (10 + f) / 2) << "the first clip, frame " << f;
        EXPECT_EQ(shown(150), f / 2) << "the second clip, frame " << f;
    }
}

TEST_F(Transport, Pause_HoldsAndResumeGoesOnFromTheFrameHeld) {
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25));
    for (int f = 0; f < 10; f++) next();
    int held = shown();
    EXPECT_EQ(held, 4);
    ASSERT_TRUE(edit(e, 1, 0, NAN));
    for (int f = 0; f < 20; f++) EXPECT_EQ(next(), held) << "paused, frame " << f;
    EXPECT_NEAR(position(e), 9 / 50.0, 1e-9) << "where it was at the last frame before the pause";
    ASSERT_TRUE(edit(e, 0, 0, NAN));
    // On from the position held: 9/50 s, then one display frame more each.
    for (int f = 0; f < 8; f++) EXPECT_EQ(next(), (9 + f) / 2) << "resumed, frame " << f;
}

// A clip with a key frame every 10 frames, in a lossy codec: each seek
// decodes on from the key frame before the frame sought.
TEST_F(Transport, Seek_LandsOnTheFrameSought) {
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25, AV_CODEC_ID_MPEG4, 10));
    for (int f = 0; f < 4; f++) next();
    struct {
        int frame;
        const char *how;
    } seeks[] = {{23, "forward into a group"}, {5, "back"}, {38, "forward past a second"}, {20, "onto a key frame"},
                 {0, "to the start"}};
    for (auto &s : seeks) {
        ASSERT_TRUE(edit(e, -1, 0, (s.frame + 0.25) / 25.0));
        EXPECT_EQ(next(), s.frame) << s.how;
        EXPECT_EQ(next(), s.frame) << s.how << ", a display frame later";
    }
    // Beyond the end is the end.
    ASSERT_TRUE(edit(e, -1, 0, 100));
    EXPECT_EQ(next(), 39);
    EXPECT_NEAR(position(e), 40 / 25.0, 1e-6);
}

TEST_F(Transport, Seek_PacedByIndexLandsOnFrameTimesRate) {
    // -fps 10 on a 25 fps file: frame k shows from k / 10 s.
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25, AV_CODEC_ID_MPEG4, 10), false, 40, 160, 10);
    EXPECT_EQ(next(), 0);
    ASSERT_TRUE(edit(e, -1, 0, 2.55));
    EXPECT_EQ(next(), 25);
    ASSERT_TRUE(edit(e, -1, 0, 0.95));
    EXPECT_EQ(next(), 9);
}

TEST_F(Transport, Rate_TwoPlaysTwiceAsFast) {
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25));
    ASSERT_TRUE(edit(e, -1, 2, NAN));
    for (int f = 0; f < 10; f++) EXPECT_EQ(next(), f) << "frame " << f;
    ASSERT_TRUE(edit(e, -1, 0.5, NAN));
    // On from where it is at a quarter of a clip frame per display frame.
    int at = shown();
    for (int f = 0; f < 8; f++) EXPECT_EQ(next(), at + f / 4) << "half speed, frame " << f;
}

TEST_F(Transport, End_HoldsItsLastFrame) {
    clip(grey_clip(40, 25));
    for (int f = 0; f < 80; f++) EXPECT_EQ(next(), f / 2) << "frame " << f;
    for (int f = 0; f < 30; f++) EXPECT_EQ(next(), 39) << "after the end, frame " << f;
}

// 2026-12-08: a loop came a frame or so off its first frame in some
// containers; the length is the last frame's end, so display frame 80
// (1.6 s) is clip frame 0 again in both.
TEST_F(Transport, End_LoopLandsOnTheFirstFrameAtTheDuration) {
    struct {
        AVCodecID codec;
        const char *format, *what;
    } kinds[] = {{AV_CODEC_ID_MPEG4, "matroska", "MPEG-4 in Matroska"},
                 {AV_CODEC_ID_MPEG4, "mp4", "MPEG-4 in MP4"},
                 {AV_CODEC_ID_VP9, "webm", "VP9 in WebM"},
                 {AV_CODEC_ID_FFV1, "matroska", "FFV1 in Matroska"}};
    for (auto &k : kinds) {
        if (!avcodec_find_encoder(k.codec)) continue;  // an FFmpeg built without it
        QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25, k.codec, 10, k.format), true);
        for (int f = 0; f < 200; f++) {
            int got = next();
            ASSERT_EQ(got, (f / 2) % 40) << k.what << ", display frame " << f;
        }
        std::string err;
        ASSERT_TRUE(qvpc::DeleteElement(c_, e, err)) << err;
    }
}

// A pause or seek made in another process of the scene shows here.
TEST_F(Transport, SecondProcess_PauseAndSeekShowOnThisDisplay) {
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25));
    for (int f = 0; f < 10; f++) next();
    auto run = [&](const char *opt, const char *value) {
        int fd;
        pid_t pid = spawn_helper({"play", name_, "c", std::to_string(e->id), opt, value}, &fd);
        EXPECT_EQ(read_line(fd, 10000), "played");
        close(fd);
        EXPECT_EQ(wait_child(pid, 10000), 0);
    };
    run("-paused", "1");
    int held = next();
    EXPECT_EQ(held, 4);
    for (int f = 0; f < 10; f++) EXPECT_EQ(next(), held);
    run("-position", "1.01");
    for (int f = 0; f < 5; f++) EXPECT_EQ(next(), 25) << "sought while paused";
    run("-paused", "0");
    EXPECT_EQ(next(), 25);
    EXPECT_EQ(next(), 25);
    EXPECT_EQ(next(), 26);
}

// In a live window the producer decodes beside the drawing: a tick never
// waits, the frame before stays until the one sought is ready, and then
// the one sought shows.
TEST_F(Transport, Background_SeekKeepsTheFrameBeforeUntilReady) {
    qvpc::SetVideoDecodeInBackground(true);
    QVP_CANVAS_ELEMENT *e = clip(grey_clip(40, 25, AV_CODEC_ID_MPEG4, 10));
    int before = next();
    EXPECT_EQ(before, 0);
    ASSERT_TRUE(edit(e, 1, 0, 33.25 / 25));
    bool landed = false;
    for (int f = 0; f < 400 && !landed; f++) {
        int got = next();
        ASSERT_TRUE(got == before || got == 33) << "frame " << f << " shows " << got;
        landed = got == 33;
        if (!landed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(landed) << "the frame sought never came";
    // Deleted while its thread decodes a seek: the thread ends before its
    // producer goes (a sanitizer build sees any use after the free).
    ASSERT_TRUE(edit(e, -1, 0, 5.25 / 25));
    QVH_RunFrames(1);
    std::string err;
    ASSERT_TRUE(qvpc::DeleteElement(c_, e, err)) << err;
    QVH_RunFrames(2);
    EXPECT_EQ(qvpc::VideoProducerCount(), 0);
}

}  // namespace
