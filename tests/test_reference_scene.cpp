// test_reference_scene.cpp - steady frames of the reference scene (200
// canvases: text, every shape kind, an image and a playing video, in
// every layer and placement, with overlays, a nested canvas, a window
// and a curved canvas) make no heap allocation from the project's code.
// What Mesa allocates is printed by the project call site that led to it.
#include <gtest/gtest.h>
#include <stdio.h>

#include "alloc_watch.h"
#include "drawcanvas_testing.h"
#include "qvpdisp_host.h"
#include "reference_scene.h"

namespace {

TEST(ReferenceScene, SteadyFrames_AllocateNothingInProjectCode) {
    std::string err;
    ASSERT_TRUE(ReferenceSceneOpen(err)) << err;
    QVH_RunFrames(3);
    if (!AllocWatchWorks()) {
        ReferenceSceneClose();
        GTEST_SKIP() << "the sanitizers own malloc here";
    }
    const int kFrames = 10;
    AllocWatchStart();
    QVH_RunFrames(kFrames);
    AllocReport r = AllocWatchStop();
    EXPECT_EQ(r.project, 0) << r.project_stacks;
    EXPECT_EQ(pprocinfo->is_locked, 0);
    printf("allocations in %d steady frames of the reference scene: %s\nby call site:\n%s", kFrames,
           r.Summary().c_str(), r.Callers().c_str());
    ReferenceSceneClose();
}

}  // namespace
