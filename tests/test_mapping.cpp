// test_mapping.cpp - canvases mapped by name onto channels and viewports:
// which names match, the channel rectangle, the scale modes against the
// reference size, what the wrappers put back, exclusions, and the base
// frame of a locked overlay in both precisions.
#include <string>
#include <vector>

#include "render_fixture.h"

namespace {

class Mapping : public Render {
protected:
    // The fixture's channel "c" holds viewport "v" on the left half; a
    // second channel "c2" holds "w" on the right half.
    void SetUp() override {
        Render::SetUp();
        place(vp_, 0, 0, 100, 150);
        c2_ = QVH_AddChannel("c2", 0, 0);
        w_ = QVH_AddViewport(c2_, "w");
        *w_ = *vp_;
        snprintf(w_->name, sizeof w_->name, "w");
        w_->channel = c2_;
        place(w_, 100, 0, 100, 150);
    }
    static void place(QVS_VIEWPORT *v, int x, int y, int w, int h) {
        v->rx = x, v->ry = y, v->rw = w, v->rh = h;
        v->dw = w, v->dh = h;
        v->has_rect = 1;
        QVH_UpdateViewport(v);
    }
    // A red overlay over the whole of what MAPPING names, stretched.
    QVP_CANVAS *overlay(const char *name, const char *mapping, const std::vector<QVS_VIEWPORT *> &exclude = {}) {
        QVP_CANVAS desc;
        qvpc::DefaultCanvas(desc);
        snprintf(desc.name, sizeof desc.name, "%s", name);
        desc.draw_layer = LAYER_FOREGROUND;
        desc.anchor = ANCHOR_COL_START | ANCHOR_ROW_START;
        desc.disp.id = CANVAS_ID_MAPPED;
        // The builder refuses names that can never match; the plugin must
        // still meet them (another builder may write any), so the record
        // gets MAPPING after it is made.
        snprintf(desc.disp.mapping, sizeof desc.disp.mapping, "DEFAULT.v");
        desc.disp.org[0] = 0; desc.disp.org[1] = 1;
        desc.disp.col_vec[0] = 1; desc.disp.row_vec[1] = -1;
        desc.scale = 1;
        desc.bcol[0] = 1; desc.bcol[1] = 0; desc.bcol[2] = 0;
        std::string err;
        QVP_CANVAS *c = qvpc::CreateCanvas(desc, exclude, err);
        EXPECT_NE(c, nullptr) << err;
        if (c) snprintf(c->disp.mapping, sizeof c->disp.mapping, "%s", mapping);
        return c;
    }
    bool red(int x, int y) {
        unsigned char px[4];
        QVH_ReadPixel(x, y, px);
        return px[0] > 200 && px[1] < 50;
    }
    QVS_CHANNEL *c2_ = nullptr;
    QVS_VIEWPORT *w_ = nullptr;
};

TEST_F(Mapping, Names_EachFormMatchesOnlyItsPlace) {
    std::string long_view(70, 'x');
    struct {
        const char *mapping;
        bool left, right;
    } cases[] = {
        {"display:channel1", true, false},
        {"DEFAULT:channel2", false, true},
        {"display:channel1.v", true, false},
        {"display:channel2.w", false, true},
        {"display.w", false, true},
        {"DEFAULT:channel1.v", true, false},
        {"DEFAULT.v", true, false},
        {"DEFAULT:channel1.w", false, false},  // w is in the second channel
        {"default:channel1", false, false},    // names are case-sensitive
        {"other:channel1", false, false},      // another display's
        {"display:channel1.", false, false},
        {"DEFAULT:channel3", false, false},
    };
    for (auto &k : cases) {
        QVP_CANVAS *c = overlay("o", k.mapping);
        QVH_RunFrames(1);
        EXPECT_EQ(red(50, 75), k.left) << k.mapping;
        EXPECT_EQ(red(150, 75), k.right) << k.mapping;
        std::string err;
        ASSERT_TRUE(qvpc::DeleteCanvas(c, err)) << err;
    }
    // A matching name on a world or node canvas: not an overlay.
    QVP_CANVAS *c = overlay("o", "DEFAULT.v");
    c->draw_layer = 0;
    for (int id : {CANVAS_ID_WORLD, 0}) {
        c->disp.id = id;
        QVH_RunFrames(1);
        EXPECT_FALSE(red(50, 75)) << "disp.id " << id;
    }
    // Past 79 characters a composed name matches nothing, not even the
    // mapping that holds its first 79.
    snprintf(vp_->name, sizeof vp_->name, "%s", long_view.c_str());
    c->disp.id = CANVAS_ID_MAPPED;
    std::string composed = "display:channel1." + long_view;
    snprintf(c->disp.mapping, sizeof c->disp.mapping, "%s", composed.c_str());
    ASSERT_EQ(strlen(c->disp.mapping), 79u);
    QVH_RunFrames(1);
    EXPECT_FALSE(red(50, 75));
    snprintf(c->disp.mapping, sizeof c->disp.mapping, "DEFAULT.%s", long_view.c_str());
    QVH_RunFrames(1);
    EXPECT_TRUE(red(50, 75)) << "78 characters still match";
}

TEST_F(Mapping, Channel_RectangleIsTheUnionOfShownViewports) {
    // Channel 1: v on the left, a second viewport further right and a
    // hidden third at the far right.
    place(vp_, 0, 0, 40, 150);
    QVS_VIEWPORT *b = QVH_AddViewport(QVV_display->channel_list, "b");
    *b = *vp_;
    snprintf(b->name, sizeof b->name, "b");
    b->pnext = nullptr;
    place(b, 80, 20, 40, 100);
    QVS_VIEWPORT *hidden = QVH_AddViewport(QVV_display->channel_list, "h");
    *hidden = *b;
    snprintf(hidden->name, sizeof hidden->name, "h");
    hidden->pnext = nullptr;
    place(hidden, 150, 0, 30, 150);
    hidden->attrib = QVP_ATTRIB_HIDDEN;
    w_->attrib = QVP_ATTRIB_HIDDEN;
    overlay("o", "DEFAULT:channel1");
    QVH_RunFrames(1);
    EXPECT_TRUE(red(2, 2));
    EXPECT_TRUE(red(60, 75)) << "between the viewports";
    EXPECT_TRUE(red(117, 147)) << "up to the second's top right";
    EXPECT_FALSE(red(123, 75));
    EXPECT_FALSE(red(165, 75)) << "the hidden viewport does not widen it";
    // No shown viewport: nothing, and the drawing state stays balanced.
    vp_->attrib = b->attrib = QVP_ATTRIB_HIDDEN;
    QVH_RunFrames(1);
    EXPECT_EQ(QVH_DrawingStateDepth(), 0);
    EXPECT_EQ(pprocinfo->is_locked, 0);
}

TEST_F(Mapping, Scale_ModesAgainstTheReferenceSize) {
    w_->attrib = QVP_ATTRIB_HIDDEN;
    place(vp_, 0, 0, 200, 150);
    vp_->dw = vp_->dh = 100;  // reference 100 x 100, real 200 x 150
    QVP_CANVAS *c = overlay("o", "DEFAULT.v");
    c->disp.col_vec[0] = 0.5;
    c->disp.row_vec[1] = -0.5;
    // Pixel width and height of the overlay under each mode.
    struct {
        int scale, w, h;
    } cases[] = {
        {CANVAS_SCALE_FIXED, 50, 50},     // the reference pixel size
        {CANVAS_SCALE_HEIGHT, 75, 75},    // height follows, aspect kept
        {CANVAS_SCALE_WIDTH, 100, 100},   // width follows, aspect kept
        {1, 100, 75},                     // stretched
    };
    for (auto &k : cases) {
        c->scale = k.scale;
        QVH_RunFrames(1);
        EXPECT_TRUE(red(k.w - 3, 150 - k.h + 2)) << "mode " << k.scale;
        EXPECT_FALSE(red(k.w + 2, 147)) << "mode " << k.scale;
        EXPECT_FALSE(red(2, 150 - k.h - 3)) << "mode " << k.scale;
    }
    // A zero reference size draws nothing rather than infinite axes.
    c->scale = CANVAS_SCALE_FIXED;
    vp_->dw = 0;
    QVH_RunFrames(1);
    EXPECT_FALSE(red(20, 140));
}

TEST_F(Mapping, Wrappers_PutEverythingBack) {
    QVP_CANVAS *c = overlay("o", "none");
    // Values single precision cannot hold survive bit for bit.
    c->disp.col_vec[0] = 0.1; c->disp.col_vec[1] = 1.0 / 3;
    c->disp.row_vec[0] = 0.7; c->disp.row_vec[1] = -2.0 / 3;
    c->disp.col_vec[2] = 0.3;
    QVP_CANVAS_DISPLAYDEF before = c->disp;
    QVF_PushDrawingState();
    QVF_StateViewport(0, 0, 130, 70);
    QVV_channel = QVV_display->channel_list;
    QVV_viewport = vp_;
    LockCanvasInfo();
    for (int mode : {CANVAS_SCALE_FIXED, CANVAS_SCALE_HEIGHT, CANVAS_SCALE_WIDTH, 1}) {
        c->scale = mode;
        DrawCanvasViewport(c, 0);
        DrawCanvasChannel(c, 0);
        EXPECT_EQ(memcmp(&before, &c->disp, sizeof before), 0) << "mode " << mode;
        EXPECT_EQ(QVV_viewport, vp_);
    }
    UnlockCanvasInfo();
    QVF_PopDrawingState();
    QVV_channel = nullptr;
    QVV_viewport = nullptr;
    // Phase 4 without a current viewport draws nothing and holds nothing.
    UpdateView();
    EXPECT_EQ(pprocinfo->is_locked, 0);
    EXPECT_EQ(QVH_DrawingStateDepth(), 0);
}

TEST_F(Mapping, Exclusions_ApplyToViewportOverlaysOnly) {
    QVP_CANVAS *c = overlay("o", "DEFAULT.v", {vp_});
    QVH_RunFrames(1);
    EXPECT_FALSE(red(50, 75)) << "excluded from its viewport";
    snprintf(c->disp.mapping, sizeof c->disp.mapping, "DEFAULT:channel1");
    QVH_RunFrames(1);
    EXPECT_TRUE(red(50, 75)) << "a channel overlay has no current viewport";
}

// A screen-aligned overlay turns in the GL model-view it is drawn under,
// in single and double precision alike.
TEST_F(Mapping, Locked_OverlaysLockAlikeInBothPrecisions) {
    auto build = [&] {
        place(vp_, 0, 0, 200, 150);
        QVP_CANVAS *c = overlay("o", "DEFAULT.v");
        c->disp.org[0] = 0.25; c->disp.org[1] = 0.75;
        c->disp.col_vec[0] = 0.5; c->disp.row_vec[1] = -0.5;
        c->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS;
        vp_->eye[0] = 3;  // the host's view must not move an overlay
        QVH_RunFrames(1);
    };
    w_->attrib = QVP_ATTRIB_HIDDEN;
    build();
    EXPECT_TRUE(red(52, 76)) << "single: 0.25..0.75 across, 0.25..0.75 up";
    EXPECT_TRUE(red(147, 110));
    EXPECT_FALSE(red(47, 75));
    EXPECT_FALSE(red(100, 115));
    std::string err;
    ASSERT_TRUE(qvpc::DeleteCanvas(qvpc::FindCanvas("o"), err));
    QVH_CloseDisplay();
    start(true);
    ASSERT_NE(double_data, nullptr);
    build();
    EXPECT_TRUE(red(52, 76)) << "double";
    EXPECT_TRUE(red(147, 110));
    EXPECT_FALSE(red(47, 75));
    EXPECT_FALSE(red(100, 115));
}

}  // namespace
