// render_fixture.h - the display every rendering test draws into, and
// helpers that make canvases and elements on it.
//
// The view: eye at (0 0 10) looking down -z, near plane 5 with a window
// of +-0.5 by +-0.375, on a 200 x 150 display, so the plane z = 0 shows 100
// pixels per unit. The standard canvas covers exactly that plane with
// 200 columns and 150 rows: one column or row per pixel, row 0 at the top.
#ifndef QVP_RENDER_FIXTURE_H
#define QVP_RENDER_FIXTURE_H

#include <string>

#include "canvas_builder.h"
#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "gl_probe.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

extern "C" int QVF_InitializePluginCB(QVS_PLUGIN *plugin);

class Render : public DisplayFixture {
protected:
    void SetUp() override {
        SceneFixture::SetUp();
        start(false);
    }
    // Opens the display (single or double precision) and the plugin.
    void start(bool dbl) {
        open_display(200, 150, dbl);
        QVS_CHANNEL *c = QVH_AddChannel("c", 0, 0);
        vp_ = QVH_AddViewport(c, "v");
        vp_->use_fov = 0;
        vp_->rleft = -0.5f; vp_->rright = 0.5f; vp_->rbottom = -0.375f; vp_->rtop = 0.375f; vp_->rnear = 5;
        ResetPluginState();
        QVH_ClearCallbacks();
        QVS_PLUGIN p{};
        char arg0[] = "qvp_drawcanvas.so";
        char *argv[] = {arg0};
        p.argc = 1;
        p.argv = argv;
        ASSERT_EQ(QVF_InitializePluginCB(&p), 1);
        // A display reopened in this process is a new GL context: no font
        // textures are loaded in it yet.
        pprocinfo->defined_fonts_cnt = 0;
        std::string err;
        ASSERT_TRUE(qvpc::Attach(err)) << err;
        font_ = qvpc::DefaultFont(err);
        ASSERT_NE(font_, nullptr) << err;
    }
    // A canvas covering the view plane, one column and row per pixel.
    QVP_CANVAS *canvas(const char *name, int layer, float bg_r = -1, float bg_g = 0, float bg_b = 0) {
        QVP_CANVAS desc;
        qvpc::DefaultCanvas(desc);
        snprintf(desc.name, sizeof desc.name, "%s", name);
        desc.draw_layer = layer;
        desc.anchor = ANCHOR_COL_START | ANCHOR_ROW_START;
        desc.disp.org[0] = -1; desc.disp.org[1] = 0.75;
        desc.disp.col_vec[0] = 2; desc.disp.row_vec[1] = -1.5;
        desc.disp.ncols = 200; desc.disp.nrows = 150;
        desc.bcol[0] = bg_r; desc.bcol[1] = bg_g; desc.bcol[2] = bg_b;
        std::string err;
        QVP_CANVAS *c = qvpc::CreateCanvas(desc, {}, err);
        EXPECT_NE(c, nullptr) << err;
        return c;
    }
    QVP_CANVAS_ELEMENT *text(QVP_CANVAS *c, const char *s, float col, float row, float size, int anchor,
                             float bg = -1) {
        qvpc::ElementDesc e;
        qvpc::DefaultElement(e, ELEMENT_TEXT);
        e.text = s;
        e.rec.data.text.col = col;
        e.rec.data.text.row = row;
        e.rec.data.text.col_s = e.rec.data.text.row_s = size;
        e.rec.data.text.anchor = anchor;
        e.rec.bcol[0] = bg; e.rec.bcol[1] = bg; e.rec.bcol[2] = bg;
        std::string err;
        QVP_CANVAS_ELEMENT *el = qvpc::AddElement(c, e, err);
        EXPECT_NE(el, nullptr) << err;
        return el;
    }
    // Window pixel of canvas column X, row Y.
    ::testing::AssertionResult at(int col, int row, int r, int g, int b, int tol = 0) {
        return probe_rgb(col, 149 - row, r, g, b, tol);
    }
    // Columns along canvas row ROW whose red channel exceeds 128.
    int red_run(int row) {
        int n = 0;
        for (int x = 0; x < 200; x++) {
            unsigned char px[4];
            QVH_ReadPixel(x, 149 - row, px);
            if (px[0] > 128) n++;
        }
        return n;
    }
    float adv(char ch) { return font_->char_list[(unsigned char)ch - font_->first_char].dx; }
    QVS_VIEWPORT *vp_ = nullptr;
    QVP_CANVAS_FONTDEF *font_ = nullptr;
};

#endif
