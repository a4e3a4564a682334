// test_render.cpp - canvases on real pixels: text in its column and row
// grid, anchors, gain and opacity, the layer passes, node placement,
// viewer-facing and screen-size locks, both precision roads, and the
// font engine's measurements and state.
#include <limits.h>

#include <array>
#include <string>
#include <vector>

#include "alloc_watch.h"
#include "render_fixture.h"

namespace {

TEST_F(Render, Text_GlyphCellsLandAtTheirColumnsAndRows) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    // "I" from column 20, row 30, 60 rows high, on a white box.
    text(c, "I", 20, 30, 60, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    c->elements->fcol[1] = c->elements->fcol[2] = 0;  // red glyphs
    // A tab at a tenth of the width: 4 columns of 10, a box cell of its own.
    QVP_CANVAS_ELEMENT *tab = text(c, "\t", 100, 30, 10, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    tab->data.text.row_s = 60;
    QVH_RunFrames(1);
    double w = adv('I') * 60;       // the glyph cell, in columns
    int mid_row = 30 + 35;          // inside the cap height
    // The stem sits in the middle of its cell: red.
    EXPECT_TRUE(at((int)(20 + w / 2), mid_row, 255, 0, 0, 2));
    // Inside the box but beside the stem: the white box.
    EXPECT_TRUE(at(22, mid_row, 255, 255, 255, 2));
    // The tab's cell spans columns 100 to 140 and rows 30 to 90.
    EXPECT_TRUE(at(102, 32, 255, 255, 255, 0));
    EXPECT_TRUE(at(137, 87, 255, 255, 255, 0));
    EXPECT_TRUE(at(143, 60, 0, 0, 0, 0));
    // Outside the cells: the clear colour.
    EXPECT_TRUE(at(17, mid_row, 0, 0, 0, 0));
    EXPECT_TRUE(at((int)(20 + w) + 3, mid_row, 0, 0, 0, 0));
    EXPECT_TRUE(at(22, 27, 0, 0, 0, 0));
    EXPECT_TRUE(at(22, 93, 0, 0, 0, 0));
}

TEST_F(Render, Text_AnchorsPlaceTheBox) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "MM", 100, 75, 30, 0, 1.0f);
    double w = 2 * adv('M') * 30;
    struct {
        int anchor;
        double left, top;
    } cases[] = {
        {0, 100 - w / 2, 75 - 15},
        {ANCHOR_COL_START | ANCHOR_ROW_START, 100, 75},
        {ANCHOR_COL_END | ANCHOR_ROW_END, 100 - w, 45},
        {ANCHOR_COL_START | ANCHOR_COL_END | ANCHOR_ROW_START | ANCHOR_ROW_END, 100, 75},  // start bits win
    };
    for (auto &k : cases) {
        e->data.text.anchor = k.anchor;
        QVH_RunFrames(1);
        // The box's corners, 2 pixels inside; and just outside.
        EXPECT_TRUE(at((int)k.left + 2, (int)k.top + 2, 255, 255, 255, 2)) << "anchor " << k.anchor;
        EXPECT_TRUE(at((int)(k.left + w) - 3, (int)k.top + 27, 255, 255, 255, 2)) << "anchor " << k.anchor;
        EXPECT_TRUE(at((int)k.left - 3, (int)k.top + 15, 0, 0, 0, 0)) << "anchor " << k.anchor;
        EXPECT_TRUE(at((int)k.left + 5, (int)k.top - 3, 0, 0, 0, 0)) << "anchor " << k.anchor;
    }
}

// Texts are drawn again from their kept layout (2026-12-07): an edit in
// place, a move and a second text must not show the old layout.
TEST_F(Render, Text_KeptLayoutFollowsEditsAndMoves) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "III", 20, 30, 60, ANCHOR_COL_START | ANCHOR_ROW_START);
    auto frame = [] {
        std::vector<unsigned char> px(200 * 150 * 4);
        QVH_RunFrames(1);
        EXPECT_TRUE(QVH_ReadFrame(px.data(), 1));
        return px;
    };
    // Seen, then recorded, then drawn from what was kept.
    std::vector<unsigned char> laid_out = frame(), recorded = frame(), kept = frame();
    EXPECT_TRUE(laid_out == recorded && recorded == kept) << "a kept text draws other pixels than its layout";
    EXPECT_EQ(KeptTextCount(), 1);
    int stems = red_run(65);
    memcpy(e->data.text.buff, "MMM", 3);  // same address, same length
    frame();
    EXPECT_GT(red_run(65), stems + 20);
    memcpy(e->data.text.buff, "III", 3);
    EXPECT_TRUE(frame() == kept);
    e->data.text.col = 120;
    frame();
    EXPECT_TRUE(at(22, 65, 0, 0, 0, 0));
    EXPECT_EQ(red_run(65), stems);
    // A second text of the same string at another place keeps its own.
    text(c, "III", 20, 30, 60, ANCHOR_COL_START | ANCHOR_ROW_START);
    frame();
    frame();
    EXPECT_EQ(red_run(65), 2 * stems);
    // Both; the layout at column 20 was edited and moved away before it
    // was drawn twice unchanged again, so it was never recorded anew.
    EXPECT_EQ(KeptTextCount(), 2);
}

// Text at a 3-D point in font units: its cells hang down from the point
// along +x, ink inside them and none outside.
TEST_F(Render, Text_AtAPointInFontUnits) {
    QVH_RunFrames(1);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, 200, 150);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 200, 0, 150, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glScalef(40, 40, 1);  // a font unit is 40 pixels
    glFontBegin(font_);
    glColor4f(1, 0, 0, 1);
    char s[] = "MM";
    glFontTextOut(s, 1, 3, 0);
    glFontEnd();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    // Ink per pixel column of the window, in window rows 80 (y 2) to 120 (y 3).
    auto ink = [](int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; x++)
            for (int y = 80; y < 120; y++) {
                unsigned char px[4];
                QVH_ReadPixel(x, y, px);
                n += px[0] > 128;
            }
        return n;
    };
    int right = 40 + (int)(2 * adv('M') * 40);
    EXPECT_GT(ink(42, right - 2), 200) << "the two glyphs";
    EXPECT_LT(ink(42, right - 2), (right - 44) * 40 * 8 / 10) << "glyphs, not filled cells";
    EXPECT_EQ(ink(0, 38) + ink(right + 2, 200), 0) << "nothing beside them";
    int above = 0;
    for (int x = 0; x < 200; x++) {
        unsigned char px[4];
        QVH_ReadPixel(x, 123, px);
        above += px[0] > 128;
    }
    EXPECT_EQ(above, 0) << "nothing above the point";
}

// A text box is blended while the current colour's alpha is below 0.999
// and drawn opaque from there on. Under the canvases' source-alpha blend
// an opaque box looks the same either way; a glFont caller's additive
// blend shows which it was: red over green adds to yellow when blended.
TEST_F(Render, FontEngine_BoxBlendsBelowOpaqueAlpha) {
    QVH_RunFrames(1);
    double org[3] = {0, 150, 0}, colv[3] = {200, 0, 0}, rowv[3] = {0, -150, 0};
    float red[3] = {1, 0, 0};
    char s[] = "M M";
    // Column of the middle of the space, the row of the middle of the line.
    int x = 20 + (int)((adv('M') + adv(' ') / 2) * 40), y = 150 - 60;
    for (float alpha : {0.7f, 0.998f, 0.9995f, 1.0f}) {
        glViewport(0, 0, 200, 150);
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 200, 0, 150, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glFontDisplay2DBegin(org, colv, rowv, 200, 150);
        glFontBegin(font_);
        QVF_StateBlendFunc(GL_ONE, GL_ONE);
        glColor4f(1, 1, 1, alpha);
        glFontScaledTextOut2D(s, 20, 40, 40, 40, red);
        glFontEnd();
        glFontDisplay2DEnd();
        bool blended = alpha < 0.999f;
        EXPECT_TRUE(probe_rgb(x, y, 255, blended ? 255 : 0, 0, 0)) << "alpha " << alpha;
    }
}

TEST_F(Render, Colours_GainAndOpacityMultiply) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 0, 0, 1);  // blue background
    QVP_CANVAS_ELEMENT *e = text(c, "MM", 20, 20, 30, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    c->rgb_gain[1] = 0.5f;  // halves green everywhere
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 120, 0, 0, 255, 0));
    EXPECT_TRUE(at(22, 22, 255, 128, 255, 1));  // white box under gain
    // At half opacity the glyphs blend, but the box is drawn with an
    // opaque colour and stays as it was.
    e->opacity = 0.5f;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(22, 22, 255, 128, 255, 1));
    // A canvas at half opacity blends its background over the clear colour.
    e->opacity = 1;
    c->opacity = 0.5f;
    vp_->clear[0] = 1;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 120, 128, 0, 128, 2));
    // At 0.0005 nothing is drawn at all.
    c->opacity = 0.0005f;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 120, 255, 0, 0, 0));
    EXPECT_TRUE(at(22, 22, 255, 0, 0, 0));
}

TEST_F(Render, Layers_EachPassDrawsOnlyItsOwn) {
    struct {
        const char *name;
        int layer;
        int row;
    } cs[] = {{"bg", LAYER_BACKGROUND, 10}, {"scene", LAYER_SCENE, 40}, {"fg", LAYER_FOREGROUND, 70},
              {"both", 0x600, 100}, {"none", 0, 130}};
    for (auto &k : cs) {
        QVP_CANVAS *c = canvas(k.name, k.layer);
        text(c, "MM", 10, (float)k.row, 20, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    }
    QVP_CANVAS *child = canvas("child", LAYER_FOREGROUND);
    text(child, "MM", 150, 10, 20, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    child->parent = qvpc::FindCanvas("bg");
    QVP_CANVAS *mapped = canvas("mapped", LAYER_FOREGROUND);
    text(mapped, "MM", 150, 70, 20, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    mapped->disp.id = -2;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(14, 14, 255, 255, 255, 2));
    EXPECT_TRUE(at(14, 44, 255, 255, 255, 2));
    EXPECT_TRUE(at(14, 74, 255, 255, 255, 2));
    EXPECT_TRUE(at(14, 104, 0, 0, 0, 0)) << "0x600 belongs to no pass";
    EXPECT_TRUE(at(14, 134, 0, 0, 0, 0));
    EXPECT_TRUE(at(154, 14, 0, 0, 0, 0)) << "a canvas with a parent is skipped";
    EXPECT_TRUE(at(154, 74, 0, 0, 0, 0)) << "a mapped canvas is not a layer canvas";
}

TEST_F(Render, Layers_HostStepsFollowTheirSwitches) {
    // A green background node and a red scene node over the canvases' area.
    int b = QVH_AddNode("back");
    QVS_NODE *n = QVH_GetNode(b);
    n->shape = QVP_SHAPE_QUAD; n->size[0] = 0.6; n->size[1] = 0.3; n->pos[0] = -0.6; n->pos[1] = 0.5;
    n->layer = LAYER_BACKGROUND; n->color[0] = 0; n->color[2] = 0;
    int s = QVH_AddNode("mid");
    n = QVH_GetNode(s);
    n->shape = QVP_SHAPE_QUAD; n->size[0] = 0.6; n->size[1] = 0.3; n->pos[0] = 0.4; n->pos[1] = 0.5;
    n->color[1] = 0; n->color[2] = 0;
    QVP_CANVAS *bgc = canvas("bg", LAYER_BACKGROUND, 0, 0, 1);
    bgc->disp.col_vec[0] = 1;  // left half: behind the background node
    QVP_CANVAS *sc = canvas("sc", LAYER_SCENE, 1, 1, 0);
    sc->disp.org[0] = 0; sc->disp.col_vec[0] = 1;  // right half: over the scene node
    QVH_RunFrames(1);
    // Background canvases go before the host's background: the node shows.
    EXPECT_TRUE(at(40, 25, 0, 255, 0, 0));
    EXPECT_TRUE(at(40, 100, 0, 0, 255, 0));
    // Scene canvases go over the host's scene: the node is covered.
    EXPECT_TRUE(at(140, 25, 255, 255, 0, 0));
    draw_background = 0;
    draw_scene = 0;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(40, 25, 0, 0, 255, 0)) << "host background left out, canvas still drawn";
    EXPECT_TRUE(at(140, 25, 255, 255, 0, 0));
    // During an internal pass no canvas is drawn; host steps still run.
    draw_background = draw_scene = 1;
    *(int *)QVF_GetDataFromProcess("DOING_INTERNAL_PASS") = 1;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(40, 25, 0, 255, 0, 0));
    EXPECT_TRUE(at(40, 100, 0, 0, 0, 0));
    EXPECT_TRUE(at(140, 25, 255, 0, 0, 0));
    *(int *)QVF_GetDataFromProcess("DOING_INTERNAL_PASS") = 0;
    draw_canvas = 0;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(40, 100, 0, 0, 0, 0)) << "CANVAS off draws no canvas";
}

TEST_F(Render, Nodes_CanvasesFollowTheirNode) {
    int id = QVH_AddNode("carrier");
    QVS_NODE *n = QVH_GetNode(id);
    QVP_CANVAS *c = canvas("c", LAYER_SCENE, 1, 0, 0);
    c->disp.org[0] = 0; c->disp.org[1] = 0;
    c->anchor = 0;
    c->disp.col_vec[0] = 0.4; c->disp.row_vec[1] = -0.4;
    c->disp.id = id;
    n->pos[0] = -0.5;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(50, 75, 255, 0, 0, 0));
    EXPECT_TRUE(at(150, 75, 0, 0, 0, 0));
    n->pos[0] = 0.5;
    n->rot[2] = 45;  // rolled: the square turns into a diamond
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 75, 255, 0, 0, 0));
    EXPECT_TRUE(at(150, 75 - 26, 255, 0, 0, 0)) << "a diamond reaches further up than the square";
    EXPECT_TRUE(at(150 - 18, 75 - 18, 0, 0, 0, 0)) << "and its corner area is empty";
    EXPECT_TRUE(at(50, 75, 0, 0, 0, 0));
    QVV_display->node_list[id].attrib = 1;  // hidden in this display
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 75, 0, 0, 0, 0));
    QVV_display->node_list[id].attrib = 0;
    n->type = 0x10000000;  // excluded type
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 75, 0, 0, 0, 0));
    n->type = 0;
    c->disp.id = 57;  // no such node
    QVH_RunFrames(1);
    EXPECT_TRUE(at(150, 75, 0, 0, 0, 0));
}

// Red pixels along the middle row of the window, seen from EYE.
int aligned_width(QVS_VIEWPORT *vp, double ex, double ey, double ez) {
    vp->eye[0] = ex; vp->eye[1] = ey; vp->eye[2] = ez;
    QVH_RunFrames(1);
    int n = 0;
    for (int x = 0; x < 200; x++) {
        unsigned char px[4];
        QVH_ReadPixel(x, 75, px);
        if (px[0] > 128) n++;
    }
    return n;
}

TEST_F(Render, Lock_ScreenAlignedFacesTheViewerFromAnyEye) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 1, 0, 0);
    c->anchor = 0;
    c->disp.org[0] = 0; c->disp.org[1] = 0;
    c->disp.col_vec[0] = 1; c->disp.row_vec[1] = -0.5;
    c->disp.ncols = 100; c->disp.nrows = 50;
    c->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS;
    // Seen from the front, 45 degrees and edge-on at distance 10, it is 100
    // pixels wide: it always faces the viewer at its origin's depth.
    for (auto e : std::vector<std::array<double, 3>>{{0, 0, 10}, {7.0710678, 0, 7.0710678}, {10, 0, 0}, {0, 7.0710678, 7.0710678}})
        EXPECT_NEAR(aligned_width(vp_, e[0], e[1], e[2]), 100, 1) << e[0] << " " << e[1] << " " << e[2];
    // Unmirrored, rows running down the screen: text at column 10, row 0
    // lands at the top left of the canvas (x 50..150, rows 50..100).
    c->bcol[0] = -1;
    text(c, "M", 10, 0, 10, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    aligned_width(vp_, 10, 0, 0);
    EXPECT_TRUE(at(63, 53, 255, 255, 255, 2));
    EXPECT_TRUE(at(63, 95, 0, 0, 0, 0));
    EXPECT_TRUE(at(137, 53, 0, 0, 0, 0));
}

TEST_F(Render, Lock_OneAxisTurnsTowardTheViewer) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 1, 0, 0);
    c->anchor = 0;
    c->disp.org[0] = 0; c->disp.org[1] = 0;
    c->disp.col_vec[0] = 1; c->disp.row_vec[1] = -0.5;
    c->disp.locked = LOCK_ROW_AXIS;  // turns about the vertical row axis
    // From 60 degrees aside an unlocked canvas is foreshortened to half;
    // turned about its row axis it faces the viewer at full width.
    c->disp.locked = 0;
    int flat = aligned_width(vp_, 8.660254, 0, 5);
    c->disp.locked = LOCK_ROW_AXIS;
    int turned = aligned_width(vp_, 8.660254, 0, 5);
    EXPECT_NEAR(flat, 50, 2);
    EXPECT_NEAR(turned, 100, 2);
    // Turning about the column axis cannot help a sideways viewer.
    c->disp.locked = LOCK_COL_AXIS;
    EXPECT_NEAR(aligned_width(vp_, 8.660254, 0, 5), 50, 2);
}

TEST_F(Render, Lock_ScreenSizeKeepsPixelSizeWithDistance) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 1, 0, 0);
    c->anchor = 0;
    c->disp.org[0] = 0; c->disp.org[1] = 0;
    c->disp.col_vec[0] = 0.3; c->disp.row_vec[1] = -0.3;
    c->size = 0.25f;
    c->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS | LOCK_SCREEN_SIZE;
    for (double d : {10.0, 20.0, 40.0}) EXPECT_NEAR(aligned_width(vp_, 0, 0, d), 50, 1) << d;
    c->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS;
    EXPECT_NEAR(aligned_width(vp_, 0, 0, 20), 15, 1);
    // Scale "height" with a viewport twice as wide as designed keeps the
    // reference shape: half the fraction of the now wider width.
    c->disp.locked |= LOCK_SCREEN_SIZE;
    c->scale = CANVAS_SCALE_HEIGHT;
    vp_->dw = 100;
    EXPECT_NEAR(aligned_width(vp_, 0, 0, 10), 25, 1);
}

TEST_F(Render, Precision_DoubleAndSingleAgree) {
    auto build = [&] {
        QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 0, 0, 0.5f);
        c->anchor = 0;
        c->disp.org[0] = 0.2; c->disp.org[1] = 0.1;
        c->disp.col_vec[0] = 1.2; c->disp.row_vec[1] = -0.6;
        c->disp.ncols = 12; c->disp.nrows = 6;
        c->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS | LOCK_SCREEN_SIZE;
        text(c, "Agree", 6, 3, 3, 0, -1);
        vp_->eye[0] = 4; vp_->eye[2] = 9;
        QVH_RunFrames(1);
    };
    build();
    std::vector<unsigned char> single = read_window_rgba(200, 150);
    std::string err;
    ASSERT_TRUE(qvpc::DeleteCanvas(qvpc::FindCanvas("c"), err));
    QVH_CloseDisplay();
    start(true);
    ASSERT_NE(double_data, nullptr);
    build();
    std::vector<unsigned char> dbl = read_window_rgba(200, 150);
    int differ = 0;
    for (size_t i = 0; i < single.size(); i++)
        if (abs((int)single[i] - (int)dbl[i]) > 2) differ++;
    EXPECT_LT(differ, 40) << "pixels differing beyond rounding at the edges";
    int blue = 0;
    for (size_t i = 0; i < dbl.size(); i += 4) blue += dbl[i + 2] > 100;
    EXPECT_GT(blue, 1000) << "the canvas was drawn";
}

TEST_F(Render, Foreground_DepthClearedOncePerFrameForNodeCanvases) {
    int id = QVH_AddNode("n");
    QVS_NODE *n = QVH_GetNode(id);
    n->shape = QVP_SHAPE_BOX;
    n->size[0] = n->size[1] = n->size[2] = 0.5;
    canvas("w", LAYER_FOREGROUND, 1, 0, 0);
    static int cleared;
    QVF_InstallPluginFunction(nullptr, [] { QVF_ExecuteCore(); cleared = QVV_cleared_depth; }, QVP_PHASE_UPDATE_VIEW);
    QVH_RunFrames(1);
    EXPECT_EQ(cleared & LAYER_FOREGROUND, 0) << "world canvases never clear depth";
    QVP_CANVAS *onnode = canvas("on", LAYER_FOREGROUND, 0, 1, 0);
    onnode->disp.id = id;
    QVH_RunFrames(1);
    EXPECT_EQ(cleared & LAYER_FOREGROUND, LAYER_FOREGROUND);
}

TEST_F(Render, DrawCanvas_SkipsExcludedViewportsHiddenElementsAndWarns) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *a = text(c, "MM", 10, 10, 20, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    text(c, "MM", 10, 50, 20, ANCHOR_COL_START | ANCHOR_ROW_START, 1.0f);
    a->attrib = ATTRIB_HIDDEN;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(12, 12, 0, 0, 0, 0));
    EXPECT_TRUE(at(12, 52, 255, 255, 255, 2));
    a->attrib = 0;
    QVP_CANVAS_VIEW ex = {vp_, nullptr};
    c->no_views = &ex;
    QVH_RunFrames(1);
    EXPECT_TRUE(at(12, 52, 0, 0, 0, 0));
    c->no_views = nullptr;
    // A text without font, then without text: one warning each, in turn.
    QVP_CANVAS_FONTDEF *f = a->data.text.pfont;
    char *buff = a->data.text.buff;
    a->data.text.pfont = nullptr;
    a->data.text.buff = nullptr;
    QVH_LogClear();
    QVH_RunFrames(1);
    a->data.text.pfont = f;
    QVH_RunFrames(1);
    a->data.text.buff = buff;
    ASSERT_EQ(QVH_LogCount(), 2);
    EXPECT_STREQ(QVH_LogGet(0)->text, "No font found for rendering text");
    EXPECT_STREQ(QVH_LogGet(1)->text, "Unable to find buffer to render!!!!");
    EXPECT_STREQ(QVH_LogGet(0)->source, "qvp_drawcanvas");
    EXPECT_TRUE(at(12, 52, 255, 255, 255, 2)) << "the other elements are still drawn";
}

TEST_F(Render, DepthModes_MarkingLeavesTheStencilSetForTheCaller) {
    QVP_CANVAS *c = canvas("c", LAYER_SCENE, 0, 1, 0);
    c->anchor = 0;
    c->disp.org[0] = 0; c->disp.org[1] = 0;
    c->disp.col_vec[0] = 0.5; c->disp.row_vec[1] = -0.5;
    text(c, "MM", 100, 75, 40, 0, 1.0f);
    QVH_RunFrames(1);  // leaves the view's matrices loaded
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    LoadCanvasBaseFrame(-1);
    DrawCanvas(c, 3);
    GLint func, ref, mask;
    GLboolean depth_mask, colour[4];
    glGetIntegerv(GL_STENCIL_FUNC, &func);
    glGetIntegerv(GL_STENCIL_REF, &ref);
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &mask);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depth_mask);
    glGetBooleanv(GL_COLOR_WRITEMASK, colour);
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
    EXPECT_EQ(func, GL_EQUAL);
    EXPECT_EQ(ref, 3);
    EXPECT_EQ(mask, 0xff);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(depth_mask);
    EXPECT_TRUE(colour[0] && colour[1] && colour[2] && colour[3]);
    EXPECT_EQ(DrawingStateDepth(), 0) << "marking opens no canvas frame";
    EXPECT_TRUE(at(100, 75, 0, 0, 0, 0)) << "nothing visible is drawn";
    // What the caller draws next lands only inside the canvas.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glColor3f(1, 0, 0);
    glRecti(-1, -1, 1, 1);
    EXPECT_TRUE(at(100, 75, 255, 0, 0, 0));
    EXPECT_TRUE(at(100 - 27, 75, 0, 0, 0, 0));
    EXPECT_TRUE(at(100 + 22, 75 + 22, 255, 0, 0, 0));
    glDisable(GL_STENCIL_TEST);
}

TEST_F(Render, Frame_SteadyFramesAllocateNothing) {
    QVP_CANVAS *c = canvas("c", LAYER_SCENE, 0, 0, 1);
    text(c, "steady", 100, 75, 20, 0);
    QVP_CANVAS *d = canvas("d", LAYER_FOREGROUND);
    d->disp.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS | LOCK_SCREEN_SIZE;
    text(d, "state", 100, 75, 20, 0, 0.5f);
    QVH_RunFrames(2);
    AllocWatchStart();
    QVH_RunFrames(5);
    AllocReport r = AllocWatchStop();
    EXPECT_EQ(r.project, 0) << r.project_stacks;
    printf("allocations in 5 steady frames: %s\n", r.Summary().c_str());
    EXPECT_EQ(DrawingStateDepth(), 0);
    double o[3], dc[3], dr[3];
    EXPECT_EQ(InnermostFrame(o, dc, dr), 0);
    EXPECT_EQ(pprocinfo->is_locked, 0);
    EXPECT_EQ(QVH_DrawingStateDepth(), 0);
}

TEST_F(Render, FontEngine_MeasuresLikeItDraws) {
    double rows, cols;
    char empty[] = "", a_nl[] = "A\n", nl[] = "\n", tab[] = "\t", two[] = "HH\nA", outside[] = "A\x01\x1f";
    glFontTextBBox2D(a_nl, &rows, &cols);
    EXPECT_EQ(rows, 0) << "no font bound";
    QVF_PushDrawingState();
    glFontBegin(font_);
    glFontTextBBox2D(empty, &rows, &cols);
    EXPECT_EQ(rows, 0); EXPECT_EQ(cols, 0);
    glFontTextBBox2D(a_nl, &rows, &cols);
    EXPECT_EQ(rows, 2); EXPECT_FLOAT_EQ(cols, adv('A'));
    glFontTextBBox2D(nl, &rows, &cols);
    EXPECT_EQ(rows, 2); EXPECT_EQ(cols, 0);
    glFontTextBBox2D(tab, &rows, &cols);
    EXPECT_EQ(rows, 1); EXPECT_EQ(cols, 4);
    glFontTextBBox2D(two, &rows, &cols);
    EXPECT_EQ(rows, 2); EXPECT_FLOAT_EQ(cols, adv('H') + adv('H'));
    // Control codes have no glyph and take no room.
    glFontTextBBox2D(outside, &rows, &cols);
    EXPECT_FLOAT_EQ(cols, adv('A'));
    glFontEnd();
    QVF_PopDrawingState();
    // Loaded once per process; the list starts with room for 100.
    EXPECT_EQ(pprocinfo->defined_fonts_cnt, 1);
    EXPECT_EQ(pprocinfo->defined_fonts_size, 100);
    glFontBegin(font_);
    glFontEnd();
    EXPECT_EQ(pprocinfo->defined_fonts_cnt, 1);
    // A font without glyphs warns and binds nothing, but stays balanced.
    QVP_CANVAS_FONTDEF bare;
    memset(&bare, 0, sizeof bare);
    QVH_LogClear();
    glFontBegin(&bare);
    EXPECT_EQ(BoundFont(), nullptr);
    glFontEnd();
    EXPECT_EQ(DrawingStateDepth(), 0);
    EXPECT_TRUE(log_has("No font defined!!!"));
}

// 2026-12-06: bad fonts from the shared scene crashed the text measure
// (a huge negative first code) or the first upload (huge sizes, no
// pixels). Now each draws no text and is reported once.
TEST_F(Render, FontEngine_BadFontsDrawNothingAndAreReportedOnce) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    // Each a record of its own in the arena, as the builder makes fonts.
    QVP_CANVAS_FONTDEF *bad[6];
    for (QVP_CANVAS_FONTDEF *&f : bad) {
        f = (QVP_CANVAS_FONTDEF *)QVH_Alloc(sizeof *f);
        ASSERT_NE(f, nullptr);
        *f = *font_;
    }
    bad[0]->texdata = nullptr;
    bad[1]->w = 1 << 30;
    bad[2]->h = -4;
    bad[3]->first_char = INT_MIN;
    bad[4]->first_char = 200, bad[4]->last_char = 100;
    bad[5]->last_char = bad[5]->first_char + 100000;  // beyond its glyph table
    for (size_t i = 0; i < 6; i++) {
        snprintf(bad[i]->name, sizeof bad[i]->name, "bad%zu", i);
        bad[i]->tex_obj = 3000000 + (int)i;
        text(c, "MMMM", 100, 20 + 20 * (float)i, 18, 0, 1.0f)->data.text.pfont = bad[i];
    }
    QVH_LogClear();
    QVH_RunFrames(2);
    for (size_t i = 0; i < 6; i++) EXPECT_TRUE(at(100, 20 + 20 * (int)i, 0, 0, 0)) << bad[i]->name;
    for (size_t i = 0; i < 6; i++) {
        std::string want = "font \"bad" + std::to_string(i) + "\" cannot be used";
        int n = 0;
        for (int k = 0; k < QVH_LogCount(); k++) n += strstr(QVH_LogGet(k)->text, want.c_str()) != nullptr;
        EXPECT_EQ(n, 1) << want;
    }
}

// 2026-12-06: a locked canvas with a zero-length axis, or a grid of no
// columns or rows, drew NaN geometry; such a canvas draws nothing.
TEST_F(Render, Frame_CanvasWithoutGeometryDrawsNothing) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND, 1, 1, 1);
    QVP_CANVAS *after = canvas("after", LAYER_FOREGROUND, 0, 1, 0);
    after->disp.org[0] = 0.5; after->disp.col_vec[0] = 0.2; after->disp.row_vec[1] = -0.2;
    struct {
        const char *what;
        void (*spoil)(QVP_CANVAS_DISPLAYDEF &);
    } cases[] = {
        {"no columns", [](QVP_CANVAS_DISPLAYDEF &d) { d.ncols = 0; }},
        {"negative rows", [](QVP_CANVAS_DISPLAYDEF &d) { d.nrows = -3; }},
        {"locked, no row axis", [](QVP_CANVAS_DISPLAYDEF &d) { d.locked = LOCK_ROW_AXIS | LOCK_COL_AXIS; d.row_vec[1] = 0; }},
        {"locked, no column axis", [](QVP_CANVAS_DISPLAYDEF &d) { d.locked = LOCK_COL_AXIS; d.col_vec[0] = 0; }},
        {"size lock, no axes", [](QVP_CANVAS_DISPLAYDEF &d) { d.locked = LOCK_SCREEN_SIZE; d.col_vec[0] = d.row_vec[1] = 0; }},
    };
    for (auto &k : cases) {
        QVP_CANVAS_DISPLAYDEF saved = c->disp;
        k.spoil(c->disp);
        QVH_RunFrames(1);
        EXPECT_TRUE(at(20, 20, 0, 0, 0)) << k.what;
        EXPECT_TRUE(at(160, 10, 0, 255, 0)) << k.what << ": the next canvas is drawn";
        c->disp = saved;
    }
}

// The colour the plugin remembers: outside a drawing state every colour
// is sent (host code runs between), and the push and pop of a drawing
// state forget it (the pop gives back a colour the plugin did not set).
TEST_F(Render, Colour_SentOutsideADrawingStateAndAfterItsPop) {
    auto current = [] {
        GLfloat c[4];
        glGetFloatv(GL_CURRENT_COLOR, c);
        return std::vector<float>(c, c + 4);
    };
    const std::vector<float> mine = {0.25f, 0.5f, 0.75f, 1}, host = {1, 0, 0, 1};
    ASSERT_EQ(DrawingStateDepth(), 0);
    SetColour(0.25f, 0.5f, 0.75f, 1);
    glColor4f(1, 0, 0, 1);  // the host's own
    SetColour(0.25f, 0.5f, 0.75f, 1);
    EXPECT_EQ(current(), mine) << "outside: sent again";
    glColor4f(1, 0, 0, 1);
    OpenDrawingState();
    SetColour(0.25f, 0.5f, 0.75f, 1);
    EXPECT_EQ(current(), mine) << "after the push";
    CloseDrawingState();
    EXPECT_EQ(current(), host) << "the pop gives the host's back";
    OpenDrawingState();
    SetColour(0.25f, 0.5f, 0.75f, 1);
    EXPECT_EQ(current(), mine) << "after the pop and the next push";
    CloseDrawingState();
}

// A font whose texture is uploaded again (its entry in the loaded-font
// list lost, as when the list could not grow) gets the upload's smooth
// filters; a sharp text drawn after it must set its own again.
TEST_F(Render, FontEngine_SharpTextAfterTheFontIsUploadedAgain) {
    QVP_CANVAS *c = canvas("c", LAYER_FOREGROUND);
    QVP_CANVAS_ELEMENT *e = text(c, "sharp", 20, 40, 3.3f, 0);
    e->data.text.smooth = 0;
    QVH_RunFrames(1);
    std::vector<unsigned char> first = read_window_rgba(200, 150);
    ASSERT_GT(pprocinfo->defined_fonts_cnt, 0);
    pprocinfo->defined_fonts_cnt = 0;
    QVH_RunFrames(1);
    EXPECT_EQ(pprocinfo->defined_fonts_cnt, 1) << "uploaded again";
    EXPECT_TRUE(read_window_rgba(200, 150) == first) << "the same sharp picture";
}

TEST_F(Render, FontEngine_FramesNestAndListGrowsBy100) {
    double o1[3] = {1, 2, 3}, c1[3] = {10, 0, 0}, r1[3] = {0, -5, 0};
    double o2[3] = {0, 0, 0}, c2[3] = {4, 0, 0}, r2[3] = {0, 0, 8};
    glFontDisplay2DBegin(o1, c1, r1, 10, 5);
    EXPECT_EQ(QVH_DrawingStateDepth(), 1);
    glFontDisplay2DBegin(o2, c2, r2, 2, 4);
    EXPECT_EQ(QVH_DrawingStateDepth(), 1) << "one host state for all nesting";
    double o[3], dc[3], dr[3];
    ASSERT_EQ(InnermostFrame(o, dc, dr), 1);
    EXPECT_DOUBLE_EQ(dc[0], 2);
    EXPECT_DOUBLE_EQ(dr[2], 2);
    glFontDisplay2DEnd();
    ASSERT_EQ(InnermostFrame(o, dc, dr), 1);
    EXPECT_DOUBLE_EQ(o[1], 2);
    EXPECT_DOUBLE_EQ(dc[0], 1);
    EXPECT_DOUBLE_EQ(dr[1], -1);
    glFontDisplay2DEnd();
    EXPECT_EQ(InnermostFrame(o, dc, dr), 0);
    EXPECT_DOUBLE_EQ(dc[0], 0) << "no frame: no steps left over";
    EXPECT_EQ(QVH_DrawingStateDepth(), 0);
    // 101 distinct fonts grow the loaded list to 200.
    std::vector<QVP_CANVAS_FONTDEF> fonts(101, *font_);
    for (size_t i = 0; i < fonts.size(); i++) {
        fonts[i].tex_obj = 2000000 + (int)i;
        glFontBegin(&fonts[i]);
        glFontEnd();
    }
    EXPECT_EQ(pprocinfo->defined_fonts_cnt, 101);
    EXPECT_EQ(pprocinfo->defined_fonts_size, 200);
}

}  // namespace
