// gl_probe.h - a display per test, and piglit-style pixel probes: RGBA
// read back with pack alignment 1, each channel compared with its own
// tolerance, and on failure x, y, expected, got and GL_RENDERER printed.
#ifndef QVP_GL_PROBE_H
#define QVP_GL_PROBE_H

#include <stdlib.h>

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

// A scene and a W x H display for one test.
class DisplayFixture : public SceneFixture {
protected:
    void open_display(int w, int h, bool dbl) {
        char err[256];
        ASSERT_NE(QVH_OpenDisplay("display", w, h, dbl ? 1 : 0, err, sizeof err), nullptr) << err;
    }
    void SetUp() override {
        SceneFixture::SetUp();
        open_display(128, 96, false);
    }
    void TearDown() override {
        QVH_CloseDisplay();
        SceneFixture::TearDown();
    }
};

#endif
