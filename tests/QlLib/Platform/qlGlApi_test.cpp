#include "QlLib/Platform/qlGlApi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "GlTestSupport.h"

namespace ql {
namespace {

std::unique_ptr<TGlApi> MakeApi(std::string& error) {
    return TGlApi::Create(TGlContext::CreateHeadless(error), error);
}

#define REQUIRE_GL(api)          \
    std::string glError;         \
    auto api = MakeApi(glError); \
    if (!api) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << glError

TEST(GlApi, NoContext_KeepsTheContextsReason) {
    std::string error = "the display said no";
    EXPECT_EQ(TGlApi::Create(nullptr, error), nullptr);
    EXPECT_EQ(error, "the display said no");
}

TEST(GlApi, BrokenShader_GivesNoProgramAndTheCompilerLog) {
    REQUIRE_GL(api);
    std::string log;
    EXPECT_EQ(
        api->CreateProgram("#version 330 core\nvoid main() { gl_Position = nothing; }\n",
                           "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1); }\n", log),
        0u);
    EXPECT_FALSE(log.empty());
}

TEST(GlApi, FramebufferRows_ComeBackInUploadOrder) {
    REQUIRE_GL(api);
    const uint32_t texture = api->CreateTexture(4, 4, 1, false);
    ASSERT_NE(texture, 0u);
    std::vector<uint32_t> rows(16);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = 0xFF000000u | uint32_t(i * 16);
    api->UploadTexture(texture, 0, 4, 4, false, reinterpret_cast<const uint8_t*>(rows.data()), 16);
    const uint32_t framebuffer = api->CreateFramebuffer(texture);
    ASSERT_NE(framebuffer, 0u);
    api->BindFramebuffer(framebuffer, 4, 4);
    std::vector<uint32_t> back(16);
    api->ReadPixels(0, 0, 4, 4, reinterpret_cast<uint8_t*>(back.data()), 16);
    EXPECT_EQ(back, rows);
    // A part of the second row, read into a wider buffer.
    std::vector<uint32_t> part(8, 0);
    api->ReadPixels(1, 1, 2, 2, reinterpret_cast<uint8_t*>(part.data()), 16);
    EXPECT_EQ(part[0], rows[5]);
    EXPECT_EQ(part[5], rows[10]);
    EXPECT_FALSE(api->TakeOutOfMemory());
    api->DeleteFramebuffer(framebuffer);
    api->DeleteTexture(texture);
}

TEST(GlApi, DriverReset_LosesTheContextForGood) {
    std::string error;
    auto api = TGlApi::Create(test::TResettableContext::Create(error), error);
    if (!api) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    test::TResettableContext::ResetStatus = 0;
    ASSERT_TRUE(api->NoticesResets());
    EXPECT_FALSE(api->TakeContextLost());
    // Another program's fault or ours: lost either way.
    test::TResettableContext::ResetStatus = 0x8254;
    EXPECT_TRUE(api->TakeContextLost());
    // The driver reports a reset once; the context stays lost.
    test::TResettableContext::ResetStatus = 0;
    EXPECT_TRUE(api->TakeContextLost());
}

}  // namespace
}  // namespace ql
