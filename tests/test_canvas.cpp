// test_canvas.cpp - the canvas builder: font atlases, PNG images, video
// producers (against a lossless clip made here), canvases seen by a
// second process, and deletion waiting for a reader of the canvas lock.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <png.h>
#include <time.h>

#include <chrono>

#include "canvas_builder.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "test_util.h"

namespace {

class Canvas : public SceneFixture {
protected:
    void SetUp() override {
        SceneFixture::SetUp();
        std::string err;
        ASSERT_TRUE(qvpc::Attach(err)) << err;
    }
};

const QVP_CANVAS_CHARDEF &glyph(const QVP_CANVAS_FONTDEF *f, int code) { return f->char_list[code - f->first_char]; }

int max_alpha(const QVP_CANVAS_FONTDEF *f, int code) {
    const QVP_CANVAS_CHARDEF &g = glyph(f, code);
    int x0 = (int)(g.tx1 * f->w + 0.5f), x1 = (int)(g.tx2 * f->w + 0.5f);
    int y0 = (int)(g.ty1 * f->h + 0.5f), y1 = (int)(g.ty2 * f->h + 0.5f);
    int m = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) m = std::max(m, (int)(unsigned char)f->texdata[((size_t)y * f->w + x) * 2 + 1]);
    return m;
}

TEST_F(Canvas, Font_AtlasMetricsAndCoverage) {
    qvpc::FontDesc desc;
    desc.name = "sans";
    std::string err;
    QVP_CANVAS_FONTDEF *f = qvpc::CreateFont(desc, err);
    ASSERT_NE(f, nullptr) << err;
    EXPECT_EQ(f->tex_obj, 1234567);
    EXPECT_EQ(qvpc::Info()->tex_obj, 1234568);
    EXPECT_EQ(qvpc::Info()->fonts, f);
    EXPECT_EQ(f->first_char, 32);
    EXPECT_EQ(f->last_char, 255);
    EXPECT_TRUE(QVH_InArena(f->char_list) && QVH_InArena(f->texdata));
    EXPECT_EQ(f->w & (f->w - 1), 0) << "power-of-two atlas";
    EXPECT_EQ(f->h & (f->h - 1), 0);
    // DejaVu Sans: M advances about 0.86 em on a line about 1.16 em high.
    EXPECT_NEAR(glyph(f, 'M').dx, 0.74, 0.05);
    EXPECT_LT(glyph(f, 'i').dx, glyph(f, 'W').dx);
    EXPECT_GT(glyph(f, ' ').dx, 0.2);
    EXPECT_FLOAT_EQ(glyph(f, 'A').dy, 1.0f);
    for (int c = 32; c <= 255; c++) {
        const QVP_CANVAS_CHARDEF &g = glyph(f, c);
        ASSERT_TRUE(g.tx1 >= 0 && g.tx1 <= g.tx2 && g.tx2 <= 1 && g.ty1 >= 0 && g.ty1 < g.ty2 && g.ty2 <= 1) << c;
    }
    // The glyph's height in texels is the line height, the same for all.
    EXPECT_NEAR((glyph(f, 'A').ty2 - glyph(f, 'A').ty1) * f->h, (glyph(f, 'j').ty2 - glyph(f, 'j').ty1) * f->h, 1e-3);
    EXPECT_EQ(max_alpha(f, ' '), 0);
    EXPECT_GT(max_alpha(f, 'H'), 250);
    EXPECT_GT(max_alpha(f, 0xE9), 200);  // é, Latin-1
    // Luminance is white, alpha carries the shape.
    EXPECT_EQ((unsigned char)f->texdata[((size_t)(glyph(f, 'H').ty1 * f->h + 2) * f->w + (size_t)(glyph(f, 'H').tx1 * f->w)) * 2], 255);

    desc.name = "small";
    desc.pixels = 12;
    desc.first = 65;
    desc.last = 90;
    QVP_CANVAS_FONTDEF *g = qvpc::CreateFont(desc, err);
    ASSERT_NE(g, nullptr) << err;
    EXPECT_EQ(g->tex_obj, 1234568);
    EXPECT_EQ(f->pnext, g);
    EXPECT_LE(g->w, 256);
}

TEST_F(Canvas, Font_BadInputRefused) {
    std::string err;
    qvpc::FontDesc desc;
    desc.name = "bad";
    desc.file = "/etc/hostname";
    EXPECT_EQ(qvpc::CreateFont(desc, err), nullptr);
    EXPECT_NE(err.find("FreeType cannot read"), std::string::npos) << err;
    desc.file = "/nonexistent.ttf";
    EXPECT_EQ(qvpc::CreateFont(desc, err), nullptr);
    desc.file.clear();
    desc.first = 200;
    desc.last = 100;
    EXPECT_EQ(qvpc::CreateFont(desc, err), nullptr);
    EXPECT_EQ(qvpc::Info()->fonts, nullptr);
    EXPECT_EQ(qvpc::Info()->tex_obj, 1234567);
}

TEST_F(Canvas, Image_RoundTripsItsPixels) {
    const int w = 7, h = 5;
    std::vector<unsigned char> px(w * h * 4);
    for (size_t i = 0; i < px.size(); i++) px[i] = (unsigned char)(i * 37 + 11);
    std::string path = "/tmp/" + name_ + ".png";
    png_image img;
    memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = w;
    img.height = h;
    img.format = PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr));
    std::string err;
    const qvpc::Image *im = qvpc::LoadImage("pic", path, err);
    unlink(path.c_str());
    ASSERT_NE(im, nullptr) << err;
    EXPECT_EQ(im->w, w);
    EXPECT_EQ(im->h, h);
    EXPECT_TRUE(QVH_InArena(im->rgba));
    EXPECT_EQ(memcmp(im->rgba, px.data(), px.size()), 0);
    EXPECT_EQ(qvpc::LoadImage("pic", path, err), nullptr);  // name taken
    EXPECT_EQ(qvpc::LoadImage("other", "/etc/hostname", err), nullptr);
    EXPECT_NE(err.find("cannot read image"), std::string::npos) << err;
}

// Writes N frames of W x H BGRA with FFV1 (lossless) into PATH; frame k
// is a pattern of k so every frame differs.
std::vector<std::vector<unsigned char>> write_clip(const std::string &path, int n, int w, int h, int fps) {
    std::vector<std::vector<unsigned char>> frames;
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "matroska", path.c_str()) < 0) return frames;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    AVStream *st = avformat_new_stream(oc, nullptr);
    AVCodecContext *enc = avcodec_alloc_context3(codec);
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = AV_PIX_FMT_BGRA;
    enc->time_base = AVRational{1, fps};
    enc->framerate = AVRational{fps, 1};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0) return frames;
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = enc->time_base;
    avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (avformat_write_header(oc, nullptr) < 0) return frames;
    AVFrame *fr = av_frame_alloc();
    fr->format = AV_PIX_FMT_BGRA;
    fr->width = w;
    fr->height = h;
    av_frame_get_buffer(fr, 0);
    AVPacket *pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc, pkt) == 0) {
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
                p[0] = (unsigned char)(x * 9 + k * 40);
                p[1] = (unsigned char)(y * 13 + k * 7);
                p[2] = (unsigned char)((x ^ y) * 5 + k);
                p[3] = 255;
                memcpy(&want[((size_t)y * w + x) * 4], p, 4);
            }
        fr->pts = k;
        avcodec_send_frame(enc, fr);
        drain();
        frames.push_back(want);
    }
    avcodec_send_frame(enc, nullptr);
    drain();
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    av_packet_free(&pkt);
    av_frame_free(&fr);
    avcodec_free_context(&enc);
    avformat_free_context(oc);
    return frames;
}

QVP_CANVAS *make_canvas(const char *name) {
    QVP_CANVAS desc;
    qvpc::DefaultCanvas(desc);
    snprintf(desc.name, sizeof desc.name, "%s", name);
    std::string err;
    return qvpc::CreateCanvas(desc, {}, err);
}

TEST_F(Canvas, Video_DecodesExactlyItsFramesAndLoops) {
    std::string path = "/tmp/" + name_ + ".mkv";
    auto want = write_clip(path, 5, 24, 16, 10);
    ASSERT_EQ(want.size(), 5u);
    QVP_CANVAS *c = make_canvas("v");
    qvpc::ElementDesc desc;
    qvpc::DefaultElement(desc, ELEMENT_VIDEO);
    desc.video.file = path;
    std::string err;
    QVP_CANVAS_ELEMENT *e = qvpc::AddElement(c, desc, err);
    ASSERT_NE(e, nullptr) << err;
    QVP_CANVAS_VIDEO &v = e->data.video;
    EXPECT_EQ(v.w, 24);
    EXPECT_EQ(v.h, 16);
    EXPECT_EQ(v.row_size, 96);
    EXPECT_STREQ(v.name, path.c_str());
    // 10 fps: time k/10 shows frame k, then the clip starts over.
    for (int k = 0; k < 12; k++) {
        qvpc::TickVideo(k / 10.0 + 0.001);
        ASSERT_GE(v.cur_frame, 0);
        ASSERT_LT(v.cur_frame, 6);
        EXPECT_EQ(memcmp(v.frames[v.cur_frame], want[(size_t)(k % 5)].data(), want[0].size()), 0) << "frame " << k;
    }
    // Without looping the last frame stays.
    desc = qvpc::DescOf(e);
    desc.video.loop = false;
    e = qvpc::ConfigureElement(c, e, desc, err);
    ASSERT_NE(e, nullptr) << err;
    QVP_CANVAS_VIDEO &v2 = e->data.video;
    for (int k = 0; k < 8; k++) qvpc::TickVideo(k / 10.0 + 0.001);
    EXPECT_EQ(memcmp(v2.frames[v2.cur_frame], want[4].data(), want[0].size()), 0);
    EXPECT_EQ(qvpc::VideoProducerCount(), 1);
    ASSERT_TRUE(qvpc::DeleteElement(c, e, err));
    EXPECT_EQ(qvpc::VideoProducerCount(), 0);
    unlink(path.c_str());
    // A file FFmpeg cannot open is refused and nothing is added.
    desc.video.file = "/etc/hostname";
    EXPECT_EQ(qvpc::AddElement(c, desc, err), nullptr);
    EXPECT_EQ(c->elements, nullptr);
}

TEST_F(Canvas, Video_PatternShowsTheFrameForTheTime) {
    QVP_CANVAS *c = make_canvas("p");
    qvpc::ElementDesc desc;
    qvpc::DefaultElement(desc, ELEMENT_VIDEO);
    desc.video.w = 64;
    desc.video.h = 48;
    desc.video.fps = 25;
    std::string err;
    QVP_CANVAS_ELEMENT *e = qvpc::AddElement(c, desc, err);
    ASSERT_NE(e, nullptr) << err;
    std::vector<unsigned char> ref(64 * 48 * 4);
    qvpc::DrawPattern(ref.data(), 64, 48, 256, 0);
    EXPECT_EQ(e->data.video.cur_frame, 0);
    EXPECT_EQ(memcmp(e->data.video.frames[0], ref.data(), ref.size()), 0);
    qvpc::TickVideo(0.5);  // frame 12
    qvpc::DrawPattern(ref.data(), 64, 48, 256, 12);
    EXPECT_EQ(e->data.video.cur_frame, 1);
    EXPECT_EQ(memcmp(e->data.video.frames[1], ref.data(), ref.size()), 0);
    std::vector<unsigned char> other(ref.size());
    qvpc::DrawPattern(other.data(), 64, 48, 256, 13);
    EXPECT_NE(memcmp(other.data(), ref.data(), ref.size()), 0);
}

TEST_F(Canvas, Elements_AppendedInOrderChangedAndRemoved) {
    QVP_CANVAS *c = make_canvas("c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(make_canvas("c"), nullptr);
    std::string err;
    std::vector<int> ids;
    for (int type : {ELEMENT_TEXT, ELEMENT_LINE, ELEMENT_RECTANGLE, ELEMENT_CIRCLE, ELEMENT_ARC, ELEMENT_POLYGON, ELEMENT_NODE}) {
        qvpc::ElementDesc s;
        qvpc::DefaultElement(s, type);
        s.text = "hello";
        s.points = {{0, 0}, {1, 1}, {2, 0}};
        QVP_CANVAS_ELEMENT *e = qvpc::AddElement(c, s, err);
        ASSERT_NE(e, nullptr) << err;
        ids.push_back(e->id);
    }
    std::vector<int> order;
    for (QVP_CANVAS_ELEMENT *e = c->elements; e; e = e->pnext) order.push_back(e->id);
    EXPECT_EQ(order, ids);
    EXPECT_EQ(c->last_element->id, ids.back());
    EXPECT_EQ(c->node_cnt, 1);
    QVP_CANVAS_ELEMENT *text = c->elements;
    EXPECT_STREQ(text->data.text.buff, "hello");
    EXPECT_EQ(text->data.text.pfont, qvpc::FindFont("default"));
    qvpc::ElementDesc s = qvpc::DescOf(text);
    s.text = "a longer text than before";
    s.rec.fcol[0] = 0.5f;
    text = qvpc::ConfigureElement(c, text, s, err);
    ASSERT_NE(text, nullptr) << err;
    EXPECT_EQ(c->elements, text) << "in the old one's place";
    EXPECT_STREQ(text->data.text.buff, "a longer text than before");
    EXPECT_EQ(text->id, ids[0]);
    s.rec.type = ELEMENT_LINE;
    EXPECT_EQ(qvpc::ConfigureElement(c, text, s, err), nullptr);
    size_t free_before = QVH_ArenaFreeBytes();
    ASSERT_TRUE(qvpc::DeleteElement(c, c->last_element, err));
    EXPECT_EQ(c->node_cnt, 0);
    EXPECT_EQ(c->last_element->id, ids[5]);
    EXPECT_GT(QVH_ArenaFreeBytes(), free_before);
    // A canvas shown by another cannot go until that element does.
    QVP_CANVAS *child = make_canvas("child");
    qvpc::ElementDesc ce;
    qvpc::DefaultElement(ce, ELEMENT_CANVAS);
    ce.rec.data.can = child;
    QVP_CANVAS_ELEMENT *holder = qvpc::AddElement(c, ce, err);
    ASSERT_NE(holder, nullptr);
    EXPECT_FALSE(qvpc::DeleteCanvas(child, err));
    EXPECT_NE(err.find("shown by canvas \"c\""), std::string::npos) << err;
    ASSERT_TRUE(qvpc::DeleteElement(c, holder, err));
    EXPECT_TRUE(qvpc::DeleteCanvas(child, err));
    EXPECT_TRUE(qvpc::DeleteCanvas(c, err));
    EXPECT_EQ(qvpc::Info()->list, nullptr);
}

// 2026-12-06: a canvas with a video deleted by another process left its
// frames and name in the arena, and the video's producer went on writing
// into the freed memory.
TEST_F(Canvas, SecondProcess_DeletesAVideoItDidNotMake) {
    size_t before = QVH_ArenaFreeBytes();
    QVP_CANVAS *c = make_canvas("v");
    ASSERT_NE(c, nullptr);
    qvpc::ElementDesc desc;
    qvpc::DefaultElement(desc, ELEMENT_VIDEO);
    desc.video.w = 32;
    desc.video.h = 24;
    std::string err;
    ASSERT_NE(qvpc::AddElement(c, desc, err), nullptr) << err;
    ASSERT_EQ(qvpc::VideoProducerCount(), 1);
    int fd;
    pid_t pid = spawn_helper({"deletecanvas", name_, "v"}, &fd);
    EXPECT_EQ(read_line(fd, 10000), "deleted");
    close(fd);
    EXPECT_EQ(wait_child(pid, 10000), 0);
    EXPECT_EQ(QVH_ArenaFreeBytes(), before) << "frames and name freed by the deleter";
    // Memory reused by another record must not be written by the producer.
    std::vector<unsigned char *> fill;
    for (int i = 0; i < 8; i++) {
        unsigned char *p = (unsigned char *)QVH_Alloc(32 * 24 * 4);
        ASSERT_NE(p, nullptr);
        memset(p, 0x5a, 32 * 24 * 4);
        fill.push_back(p);
    }
    qvpc::TickVideo(1.0);
    EXPECT_EQ(qvpc::VideoProducerCount(), 0) << "the producer found its element gone";
    for (unsigned char *p : fill) {
        for (int k = 0; k < 32 * 24 * 4; k++)
            if (p[k] != 0x5a) {
                ADD_FAILURE() << "reused memory written at byte " << k;
                break;
            }
        QVH_Free(p);
    }
}

// 2026-12-06: the builder walked a canvas list that loops for ever.
TEST_F(Canvas, Lists_LoopedBackAreRefusedNotWalkedForEver) {
    QVP_CANVAS *a = make_canvas("a");
    ASSERT_NE(a, nullptr);
    a->pnext = a;
    EXPECT_EQ(qvpc::FindCanvas("b"), nullptr);
    EXPECT_EQ(make_canvas("b"), nullptr);
    a->pnext = nullptr;
    EXPECT_NE(make_canvas("b"), nullptr);
}

// 2026-12-06: a canvas found by name under one lock hold was written
// after another process had deleted it.
TEST_F(Canvas, SecondProcess_DeletesACanvasThisOneStillNames) {
    QVP_CANVAS *c = make_canvas("gone");
    ASSERT_NE(c, nullptr);
    int fd;
    pid_t pid = spawn_helper({"deletecanvas", name_, "gone"}, &fd);
    EXPECT_EQ(read_line(fd, 10000), "deleted");
    close(fd);
    EXPECT_EQ(wait_child(pid, 10000), 0);
    qvpc::ElementDesc desc;
    qvpc::DefaultElement(desc, ELEMENT_RECTANGLE);
    std::string err;
    EXPECT_EQ(qvpc::AddElement(c, desc, err), nullptr);
    EXPECT_NE(err.find("deleted meanwhile"), std::string::npos) << err;
    QVP_CANVAS d;
    qvpc::DefaultCanvas(d);
    err.clear();
    EXPECT_FALSE(qvpc::ConfigureCanvas(c, d, false, {}, err));
    EXPECT_NE(err.find("deleted meanwhile"), std::string::npos) << err;
    EXPECT_EQ(qvpc::FindElement(c, 1), nullptr);
}

// 2026-12-06: an element edit copied the new record over the live one,
// so an editor killed mid-copy could leave a point count from one edit
// with the point list of another. Edits now replace the record whole.
TEST_F(Canvas, Edits_KilledEditorLeavesWholeElements) {
    QVP_CANVAS *c = make_canvas("edits");
    ASSERT_NE(c, nullptr);
    qvpc::ElementDesc d;
    qvpc::DefaultElement(d, ELEMENT_POLYGON);
    d.points.assign(3, QVP_CANVAS_COORD{1, 2});
    std::string err;
    ASSERT_NE(qvpc::AddElement(c, d, err), nullptr) << err;
    srand(12345);
    for (int kill_no = 0; kill_no < 20; kill_no++) {
        pid_t editor = fork();
        if (editor == 0) {
            for (int k = 0;; k++) {
                qvpc::ElementDesc e = qvpc::DescOf(c->elements);
                e.points.assign(k % 2 ? 3 : 300, QVP_CANVAS_COORD{(float)k, 0});
                std::string why;
                qvpc::ConfigureElement(c, c->elements, e, why);
            }
        }
        usleep(1000 + rand() % 20000);
        kill(editor, SIGKILL);
        waitpid(editor, nullptr, 0);
        qvpc::Lock lock;  // recovers the lock if the editor died holding it
        ASSERT_NE(c->elements, nullptr);
        ASSERT_EQ(c->elements->pnext, nullptr);
        const QVP_CANVAS_LINE &l = c->elements->data.line;
        ASSERT_TRUE(l.pnt_list_cnt == 3 || l.pnt_list_cnt == 300) << l.pnt_list_cnt;
        EXPECT_EQ(l.pnt_list_size, l.pnt_list_cnt);
        EXPECT_GE(QVF_GetArenaBlockSize(l.pnt_list), sizeof(QVP_CANVAS_COORD) * (size_t)l.pnt_list_cnt)
            << "kill " << kill_no;
    }
}

TEST_F(Canvas, SecondProcess_SeesTheCanvases) {
    QVP_CANVAS *a = make_canvas("first");
    make_canvas("second");
    qvpc::ElementDesc s;
    qvpc::DefaultElement(s, ELEMENT_TEXT);
    s.text = "shared text";
    std::string err;
    ASSERT_NE(qvpc::AddElement(a, s, err), nullptr);
    int fd;
    pid_t pid = spawn_helper({"canvases", name_}, &fd);
    std::string line = read_line(fd, 10000);
    close(fd);
    EXPECT_EQ(wait_child(pid, 10000), 0);
    EXPECT_EQ(line, "first:1:shared text second:0:");
}

TEST_F(Canvas, Delete_WaitsForAReaderHoldingTheLock) {
    QVP_CANVAS *c = make_canvas("c");
    qvpc::ElementDesc s;
    qvpc::DefaultElement(s, ELEMENT_RECTANGLE);
    std::string err;
    QVP_CANVAS_ELEMENT *e = qvpc::AddElement(c, s, err);
    int fd;
    pid_t pid = spawn_helper({"holdcanvas", name_}, &fd);
    ASSERT_EQ(read_line(fd, 10000), "held");
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(qvpc::DeleteElement(c, e, err));
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::string after = read_line(fd, 10000);
    close(fd);
    EXPECT_EQ(wait_child(pid, 10000), 0);
    // The reader holds the lock for 400 ms and saw the element all along.
    EXPECT_GT(waited, 0.3);
    EXPECT_EQ(after, "released 1");
    EXPECT_EQ(c->elements, nullptr);
}

}  // namespace
