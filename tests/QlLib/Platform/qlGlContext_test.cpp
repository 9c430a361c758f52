#include "QlLib/Platform/qlGlContext.h"

#include <gtest/gtest.h>

#include "QlLib/Platform/qlProcess.h"
#include "WindowChild.h"

namespace ql {
namespace {

TEST(GlContext, Headless_OffersCoreFunctionsWithoutWindow) {
    std::string error;
    auto context = TGlContext::CreateHeadless(error);
    if (!context) GTEST_SKIP() << "no headless OpenGL 3.3 core context here: " << error;
    EXPECT_FALSE(context->HasWindow());
    EXPECT_NE(context->ProcAddress("glGenVertexArrays"), nullptr);
    int32_t width = -1, height = -1;
    context->DrawableSize(width, height);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    context->SwapBuffers();  // nothing to show, and no harm
}

TEST(GlContext_Launch, WindowTestsPassOnAVirtualXServer) {
    if (FindExecutable(u"xvfb-run").empty())
        GTEST_SKIP() << "xvfb-run is not installed; no X server to test on";
    const test::TChildRun run = test::RunWindowChild("GlContextWindow.*");
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    if (run.Count("skipped") > 0) GTEST_SKIP() << run.Out;
    EXPECT_EQ(run.Results.size(), 1u) << run.Out;
    EXPECT_EQ(run.Count("passed"), 1u) << run.Out;
}

TEST(GlContextWindow, HasDrawableOfItsSize) {
    if (!test::InWindowChild()) GTEST_SKIP() << "runs in the child of GlContext_Launch";
    std::string error;
    auto context = TGlContext::CreateWindow("GL context test", 64, 48, error);
    if (!context) GTEST_SKIP() << "no window with an OpenGL 3.3 core context here: " << error;
    EXPECT_TRUE(context->HasWindow());
    int32_t width = 0, height = 0;
    context->DrawableSize(width, height);
    // High-density displays give more pixels than the client size.
    EXPECT_GE(width, 64);
    EXPECT_GE(height, 48);
}

}  // namespace
}  // namespace ql
