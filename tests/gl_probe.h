// gl_probe.h - a display per test, and piglit-style pixel probes: RGBA
// read back with pack alignment 1, each channel compared with its own
// tolerance, and on failure x, y, expected, got and GL_RENDERER printed.
#ifndef QVP_GL_PROBE_H
#define QVP_GL_PROBE_H

#include <GL/gl.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "qvpdisp_host.h"
#include "test_util.h"

// Checks window pixel (X, Y) (origin lower left) against R, G, B (0-255)
// within TOL per channel.
inline ::testing::AssertionResult probe_rgb(int x, int y, int r, int g, int b, int tol) {
    unsigned char px[4] = {0, 0, 0, 0};
    if (!QVH_ReadPixel(x, y, px)) return ::testing::AssertionFailure() << "pixel " << x << "," << y << " outside the window";
    int want[3] = {r, g, b};
    for (int c = 0; c < 3; c++)
        if (abs((int)px[c] - want[c]) > tol)
            return ::testing::AssertionFailure()
                   << "probe at (" << x << ", " << y << "): expected " << r << " " << g << " " << b << " got "
                   << (int)px[0] << " " << (int)px[1] << " " << (int)px[2] << " (tol " << tol
                   << ", renderer " << QVH_Renderer() << ")";
    return ::testing::AssertionSuccess();
}

// The lower-left W x H pixels of the window, RGBA, rows from the bottom.
inline std::vector<unsigned char> read_window_rgba(int w, int h) {
    std::vector<unsigned char> px((size_t)w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

// A scene and a W x H display for one test.
class DisplayFixture : public SceneFixture {
protected:
    void open_display(int w, int h, bool dbl) {
        char err[256];
        ASSERT_NE(QVH_OpenDisplay("display", w, h, dbl ? 1 : 0, err, sizeof err), nullptr) << err;
        // Every pop of every display test checks that no GL call went
        // round the drawing-state setters.
        QVH_SetDrawingStateCheck(1);
    }
    // Differences between the drawing state's shadow and GL a test makes
    // on purpose.
    long allowed_mismatches_ = 0;
    void SetUp() override {
        SceneFixture::SetUp();
        open_display(128, 96, false);
    }
    void TearDown() override {
        if (QVH_DrawingStateMismatches() != allowed_mismatches_) {
            std::string why;
            for (int i = 0; i < QVH_LogCount(); i++)
                if (strstr(QVH_LogGet(i)->text, "drawing state")) why += std::string("\n  ") + QVH_LogGet(i)->text;
            ADD_FAILURE() << QVH_DrawingStateMismatches() << " drawing-state differences, " << allowed_mismatches_
                          << " allowed: a GL call inside a drawing state went round the setters" << why;
        }
        QVH_CloseDisplay();
        // Phase functions a test installed stay with the host otherwise,
        // and the next test's frames would call them.
        QVH_ClearCallbacks();
        SceneFixture::TearDown();
    }
};

#endif
