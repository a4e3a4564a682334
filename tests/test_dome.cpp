// test_dome.cpp - curved node canvases seen from the sphere's centre:
// the patch's angular extent for two anchors, its orientation, texture
// sizes, the canvas texture cache, the GL state the texture pass leaves
// behind, and what falls back to flat or to nothing.
#include <algorithm>
#include <math.h>

#include <set>
#include <vector>

#include "alloc_watch.h"
#include "gl_counter.h"
#include "render_fixture.h"

namespace {

const double kDeg = 3.14159265358979 / 180;

class Dome : public Render {
protected:
    // The eye at the sphere's centre (a node at the origin) looking down
    // -z through a 90 by 73.7 degree window: 100 pixels per unit of
    // tangent across and up.
    void SetUp() override {
        Render::SetUp();
        vp_->rleft = -1; vp_->rright = 1; vp_->rbottom = -0.75f; vp_->rtop = 0.75f; vp_->rnear = 1;
        vp_->eye[2] = 0;
        vp_->look[2] = -1;
        centre_ = QVH_AddNode("centre");
    }
    // A canvas on the centre node spanning WDEG by HDEG of arc on a sphere
    // of radius 10, centred straight ahead.
    QVP_CANVAS *curved(const char *name, double wdeg, double hdeg, float bg_r, float bg_g, float bg_b) {
        QVP_CANVAS *c = canvas(name, LAYER_SCENE, bg_r, bg_g, bg_b);
        c->anchor = 0;
        c->disp.id = centre_;
        c->disp.proj = PROJ_SPHERE;
        c->disp.radius = 10;
        c->disp.org[0] = 0; c->disp.org[1] = 0; c->disp.org[2] = -10;
        c->disp.col_vec[0] = 10 * wdeg * kDeg;
        c->disp.row_vec[1] = -10 * hdeg * kDeg;
        c->disp.ncols = 100;
        c->disp.nrows = 100;
        return c;
    }
    // Window pixel of the direction DEG degrees right of ahead (on the
    // horizon), or DEG up (straight ahead's column).
    static int across(double deg) { return (int)lround(100 + 100 * tan(deg * kDeg)); }
    static int up(double deg) { return (int)lround(75 + 100 * tan(deg * kDeg)); }
    int centre_ = -1;
};

TEST_F(Dome, Patch_ArcLengthsBecomeAnglesForTwoAnchors) {
    QVP_CANVAS *c = curved("c", 60, 30, 1, 0, 0);
    for (int pass = 0; pass < 2; pass++) {
        QVH_RunFrames(1);
        // 60 degrees across: 30 each way; 30 up and down: 15 each way.
        EXPECT_TRUE(probe_rgb(across(27), 75, 255, 0, 0, 2)) << "pass " << pass;
        EXPECT_TRUE(probe_rgb(across(-27), 75, 255, 0, 0, 2));
        EXPECT_TRUE(probe_rgb(across(33), 75, 0, 0, 0, 0));
        EXPECT_TRUE(probe_rgb(across(-33), 75, 0, 0, 0, 0));
        EXPECT_TRUE(probe_rgb(100, up(13), 255, 0, 0, 2));
        EXPECT_TRUE(probe_rgb(100, up(-13), 255, 0, 0, 2));
        EXPECT_TRUE(probe_rgb(100, up(17), 0, 0, 0, 0));
        EXPECT_TRUE(probe_rgb(100, up(-17), 0, 0, 0, 0));
        // The same patch anchored by its first corner: org is the corner
        // at column 0, row 0, up and to the left.
        double h = -30 * kDeg, v = -15 * kDeg;
        c->anchor = ANCHOR_COL_START | ANCHOR_ROW_START;
        c->disp.org[0] = 10 * sin(h) * cos(v);
        c->disp.org[1] = -10 * sin(v);
        c->disp.org[2] = -10 * cos(h) * cos(v);
    }
}

// A curved canvas a little translucent blends its texture over what lies
// behind (black here); only a canvas of full opacity is drawn unblended.
TEST_F(Dome, Patch_TranslucentCanvasesBlendEvenWhenNearlyOpaque) {
    QVP_CANVAS *c = curved("c", 60, 30, 1, 0, 0);
    struct {
        float opacity;
        int red;
    } cases[] = {{0.9f, 230}, {0.99f, 252}, {1.0f, 255}};
    for (auto &k : cases) {
        c->opacity = k.opacity;
        QVH_RunFrames(1);
        EXPECT_TRUE(probe_rgb(across(0), 75, k.red, 0, 0, 2)) << "opacity " << k.opacity;
    }
}

TEST_F(Dome, Patch_ContentKeepsItsCornersAndFollowsTheCanvas) {
    QVP_CANVAS *c = curved("c", 60, 40, 0, 0, 1);
    // A green square in the canvas's first quarter: top left.
    qvpc::ElementDesc d;
    qvpc::DefaultElement(d, ELEMENT_RECTANGLE);
    d.rec.fcol[0] = 0; d.rec.fcol[1] = 1; d.rec.fcol[2] = 0;
    d.rec.data.rect.corners[0] = {0, 0};
    d.rec.data.rect.corners[1] = {50, 50};
    std::string err;
    ASSERT_NE(qvpc::AddElement(c, d, err), nullptr) << err;
    QVH_RunFrames(1);
    EXPECT_TRUE(probe_rgb(across(-15), up(10), 0, 255, 0, 2)) << "top left";
    EXPECT_TRUE(probe_rgb(across(15), up(10), 0, 0, 255, 2)) << "top right";
    EXPECT_TRUE(probe_rgb(across(-15), up(-10), 0, 0, 255, 2)) << "bottom left";
    // The texture is drawn anew every frame.
    c->bcol[0] = 1; c->bcol[2] = 0;
    QVH_RunFrames(1);
    EXPECT_TRUE(probe_rgb(across(15), up(-10), 255, 0, 0, 2));
    // The record is whole again afterwards.
    EXPECT_EQ(c->disp.id, centre_);
    EXPECT_EQ(c->anchor, 0);
    EXPECT_DOUBLE_EQ(c->disp.org[2], -10);
}

TEST_F(Dome, Texture_SizesFollowTheArcs) {
    struct {
        double wdeg, hdeg;
        int w, h;
    } cases[] = {
        {90, 30, 2048, 1024},    // 1536 across, raised to 2048
        {200, 60, 3072, 1024},
        {137, 80, 2304, 1280},
        {400, 200, 4096, 2048},  // a whole turn by pole to pole at most
    };
    for (auto &k : cases) {
        QVP_CANVAS *c = curved("c", k.wdeg, k.hdeg, 1, 1, 1);
        QVH_RunFrames(1);
        int found = -1;
        for (int i = 0; i < QVP_CACHE_SLOTS; i++)
            if (OffscreenCacheSlots()[i].ptr == c && OffscreenCacheSlots()[i].size[0] == k.w && OffscreenCacheSlots()[i].size[1] == k.h) found = i;
        EXPECT_GE(found, 0) << k.wdeg << " by " << k.hdeg;
        std::string err;
        ASSERT_TRUE(qvpc::DeleteCanvas(c, err));
    }
}

TEST_F(Dome, Cache_LeastRecentlyUsedSlotHighestOnTies) {
    std::vector<QVP_CANVAS *> cs;
    for (int i = 0; i < 11; i++) {
        char name[8];
        snprintf(name, sizeof name, "c%d", i);
        cs.push_back(curved(name, 20, 20, 1, 1, 1));
        cs.back()->draw_layer = i < 10 ? LAYER_SCENE : 0;
    }
    QVH_RunFrames(1);
    // Free slots are taken from the top: canvas I in slot 9 - I.
    for (int i = 0; i < 10; i++) EXPECT_EQ(OffscreenCacheSlots()[9 - i].ptr, cs[i]) << i;
    GLuint names[10];
    for (int i = 0; i < 10; i++) names[i] = OffscreenCacheSlots()[i].id;
    // All ten drawn at one time: the eleventh evicts the highest slot.
    for (int i = 0; i < 10; i++) cs[i]->draw_layer = 0;
    cs[10]->draw_layer = LAYER_SCENE;
    long images = gl_teximage_calls;
    QVH_RunFrames(1);
    EXPECT_EQ(OffscreenCacheSlots()[9].ptr, cs[10]);
    EXPECT_EQ(gl_teximage_calls - images, 0) << "same size: the storage is kept";
    EXPECT_TRUE(std::equal(names, names + 10, OffscreenCacheSlots(), [](GLuint n, const auto &slot) { return n == slot.id; }));
    // Canvas 0 comes back: slots 0 to 8 were drawn longest ago.
    cs[10]->draw_layer = 0;
    cs[0]->draw_layer = LAYER_SCENE;
    QVH_RunFrames(1);
    EXPECT_EQ(OffscreenCacheSlots()[8].ptr, cs[0]) << "the slots drawn longest ago tie: the highest goes";
}

TEST_F(Dome, State_LeftBehindInBothDepthModes) {
    QVP_CANVAS *c = curved("c", 40, 30, 1, 0, 0);
    c->draw_layer = 0;
    QVH_RunFrames(1);
    for (int mode : {0, 1}) {
        QVF_PushDrawingState();
        QVF_StateEnable(GL_SCISSOR_TEST, 1);
        QVF_StateDepthFunc(GL_ALWAYS);
        QVF_StateViewport(3, 4, 150, 120);
        LockCanvasInfo();
        LoadCanvasBaseFrame(c->disp.id);
        DrawCanvas(c, mode);
        UnlockCanvasInfo();
        GLint vp[4], draw = -1, read = -1, func = 0;
        glGetIntegerv(GL_VIEWPORT, vp);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING_EXT, &draw);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING_EXT, &read);
        glGetIntegerv(GL_DEPTH_FUNC, &func);
        EXPECT_EQ(vp[0], 3); EXPECT_EQ(vp[1], 4); EXPECT_EQ(vp[2], 150); EXPECT_EQ(vp[3], 120);
        EXPECT_EQ(draw, 0); EXPECT_EQ(read, 0);
        EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
        EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
        EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
        EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
        EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), mode == 1 ? GL_TRUE : GL_FALSE) << "mode " << mode;
        if (mode == 1) {
            EXPECT_EQ(func, GL_LEQUAL);
        }
        GLboolean mask;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
        EXPECT_FALSE(mask);
        QVF_PopDrawingState();
    }
    EXPECT_EQ(DrawingStateDepth(), 0);
}

TEST_F(Dome, Frame_FlatAfterCurvedSteadyAndFallbacks) {
    QVP_CANVAS *c = curved("c", 40, 30, 1, 0, 0);
    // A flat world canvas after it, far right, in the foreground.
    QVP_CANVAS *flat = canvas("flat", LAYER_FOREGROUND, 0, 1, 0);
    flat->disp.org[0] = 0.8; flat->disp.org[1] = 0.5; flat->disp.org[2] = -1;
    flat->disp.col_vec[0] = 0.1; flat->disp.row_vec[1] = -0.1;
    QVH_RunFrames(2);
    EXPECT_TRUE(probe_rgb(185, 120, 0, 255, 0, 0)) << "the flat canvas is unaffected";
    EXPECT_TRUE(probe_rgb(100, 75, 255, 0, 0, 0));
    long images = gl_teximage_calls;
    AllocWatchStart();
    QVH_RunFrames(3);
    AllocReport r = AllocWatchStop();
    EXPECT_EQ(r.project, 0) << r.project_stacks;
    EXPECT_EQ(gl_teximage_calls, images) << "no texture reallocated";
    // Without a slot the canvas is drawn flat on its node: a plane at
    // z -10 spanning its column and row vectors.
    max_canvas_objs = 0;
    c->disp.col_vec[0] = 4;
    QVH_RunFrames(1);
    EXPECT_TRUE(probe_rgb(across(10), 75, 255, 0, 0, 0));
    EXPECT_TRUE(probe_rgb(across(-10), 75, 255, 0, 0, 0));
    EXPECT_TRUE(probe_rgb(across(14), 75, 0, 0, 0, 0)) << "2 units each way at distance 10";
    EXPECT_TRUE(probe_rgb(100, up(12), 255, 0, 0, 0));
    // A radius that is not positive draws nothing.
    max_canvas_objs = 10;
    for (double r : {0.0, -10.0}) {
        c->disp.radius = r;
        QVH_RunFrames(1);
        EXPECT_TRUE(probe_rgb(100, 75, 0, 0, 0, 0)) << "radius " << r;
    }
    EXPECT_EQ(QVH_DrawingStateDepth(), 0);
    EXPECT_EQ(pprocinfo->is_locked, 0);
}

}  // namespace

// The offscreen cache at its bound, with what is shown changing every
// frame: canvases made and deleted every frame, and more canvases than
// slots shown one after another, never take more than the ten slots or
// make a texture name beyond the first ten.
TEST_F(Dome, Cache_CanvasesChangingEveryFrameStayInTheSlots) {
    std::vector<QVP_CANVAS *> cs;
    for (int i = 0; i < 14; i++) {
        char name[8];
        snprintf(name, sizeof name, "c%d", i);
        cs.push_back(curved(name, 20, 20, 1, 1, 1));
        cs.back()->draw_layer = 0;
    }
    std::set<GLuint> names;
    auto note_names = [&] {
        for (int i = 0; i < QVP_CACHE_SLOTS; i++)
            if (OffscreenCacheSlots()[i].id) names.insert(OffscreenCacheSlots()[i].id);
    };
    for (int f = 0; f < 42; f++) {
        for (int i = 0; i < 14; i++) cs[(size_t)i]->draw_layer = i == f % 14 ? LAYER_SCENE : 0;
        QVH_RunFrames(1);
        note_names();
        bool cached = false;
        for (int i = 0; i < QVP_CACHE_SLOTS; i++) cached |= OffscreenCacheSlots()[i].ptr == cs[(size_t)(f % 14)];
        EXPECT_TRUE(cached) << "frame " << f;
    }
    for (QVP_CANVAS *c : cs) c->draw_layer = 0;
    std::string err;
    for (int f = 0; f < 30; f++) {
        char name[16];
        snprintf(name, sizeof name, "new%d", f);
        QVP_CANVAS *c = curved(name, 20, 20, 1, 1, 1);
        QVH_RunFrames(1);
        note_names();
        ASSERT_TRUE(qvpc::DeleteCanvas(c, err)) << err;
    }
    EXPECT_LE(names.size(), (size_t)max_canvas_objs) << "texture names are reused, never made anew";
}
