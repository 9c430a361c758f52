#include "OrbLib2/3DBasics/qlGlDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "GlTestSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlProcess.h"
#include "WindowChild.h"

namespace orb {
namespace {

constexpr int32_t kWidth = 128;
constexpr int32_t kHeight = 96;
// Frames agree within this; GPUs round, filter and cover edges a little
// differently from the reference device.
constexpr double kMinPsnr = 40.0;

#define REQUIRE_GL(device)                                          \
    std::string glError;                                            \
    auto device = test::HeadlessGlDevice(kWidth, kHeight, glError); \
    if (!device) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << glError

std::vector<uint8_t> Frame(TRenderDevice& device, int32_t width, int32_t height) {
    ql::TDirectBitmap all(width, height, ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({0, 0, width, height}, all), TDxResult::Ok);
    std::vector<uint8_t> out(size_t(width) * size_t(height) * 4);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(out.data() + size_t(y) * size_t(width) * 4, all.Row(y), size_t(width) * 4);
    return out;
}

// Draws the same scene on the software device and on GL and answers the
// PSNR of the GL frame against the reference.
double CompareWithReference(TGlDevice& gl, const char* name,
                            const std::function<void(TRenderDevice&)>& scene) {
    TSoftDevice soft({kWidth, kHeight});
    scene(soft);
    scene(gl);
    const double psnr = ql::test::Psnr(Frame(soft, kWidth, kHeight), Frame(gl, kWidth, kHeight));
    std::printf("[ PSNR     ] %s: %.2f dB on %s\n", name, psnr, gl.Renderer().c_str());
    return psnr;
}

std::vector<TVertex> Quad(float l, float t, float r, float b, uint32_t colour) {
    TVertex tl{l, t, 0, 1, colour, 0, 0, 0, 0}, tr{r, t, 0, 1, colour, 1, 0, 1, 0};
    TVertex br{r, b, 0, 1, colour, 1, 1, 1, 1}, bl{l, b, 0, 1, colour, 0, 1, 0, 1};
    return {tl, tr, br, tl, br, bl};
}

// A square turned by angle around its centre.
std::vector<TVertex> TurnedQuad(float cx, float cy, float half, float angle, uint32_t colour) {
    const float c = std::cos(angle) * half, s = std::sin(angle) * half;
    auto corner = [&](float dx, float dy, float u, float v) {
        return TVertex{cx + dx * c - dy * s, cy + dx * s + dy * c, 0, 1, colour, u, v, u, v};
    };
    const TVertex tl = corner(-1, -1, 0, 0), tr = corner(1, -1, 1, 0), br = corner(1, 1, 1, 1),
                  bl = corner(-1, 1, 0, 1);
    return {tl, tr, br, tl, br, bl};
}

// Smooth gradients with soft blocks and varying alpha: a picture in which
// filtering, premultiplication and orientation all show.
void FillPicture(ql::TBitmap& picture) {
    for (int32_t y = 0; y < picture.Height(); ++y)
        for (int32_t x = 0; x < picture.Width(); ++x) {
            const uint32_t r = uint32_t(x * 255 / std::max(picture.Width() - 1, 1));
            const uint32_t g = uint32_t(y * 255 / std::max(picture.Height() - 1, 1));
            const uint32_t b = ((x / 8 + y / 8) & 1) ? 200 : 60;
            const uint32_t a =
                128 + uint32_t((x + y) * 127 / std::max(picture.Width() + picture.Height() - 2, 1));
            const uint32_t c = (a << 24) | (r << 16) | (g << 8) | b;
            std::memcpy(picture.Row(y) + size_t(x) * 4, &c, 4);
        }
}

TTextureHandle MakePicture(TRenderDevice& device, int32_t size) {
    TTextureHandle texture = 0;
    EXPECT_EQ(device.CreateTexture({size, size, 1}, texture), TDxResult::Ok);
    ql::TDirectBitmap picture(size, size, ql::PfARGB32());
    FillPicture(picture);
    EXPECT_EQ(device.UploadLevel(texture, 0, picture), TDxResult::Ok);
    return texture;
}

TTextureHandle MakePlane(TRenderDevice& device, int32_t size,
                         const std::function<uint8_t(int32_t, int32_t)>& value) {
    TTextureHandle texture = 0;
    EXPECT_EQ(device.CreateTexture({size, size, 1, TTexelFormat::L8}, texture), TDxResult::Ok);
    ql::TDirectBitmap plane(size, size, ql::FindPixelFormat("Y8"));
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) plane.Row(y)[x] = value(x, y);
    EXPECT_EQ(device.UploadLevel(texture, 0, plane), TDxResult::Ok);
    return texture;
}

TEST(GlDevice, Clear_MatchesReferenceInsideScissor) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "clear", [](TRenderDevice& d) {
        d.Clear(0xFF102030u);
        d.SetScissor({10, 5, 70, 40});
        d.Clear(0x80FF8040u);
        d.SetScissor({});
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, ColourQuad_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "colour quad", [](TRenderDevice& d) {
        d.Clear(0xFF000000u);
        auto quad = Quad(10.3f, 7.6f, 100.2f, 80.7f, 0xC0FF8040u);
        // Vertex colours blend across the quad.
        quad[1].colour = quad[3].colour = 0x4000FF80u;
        quad[2].colour = quad[4].colour = 0xFF2040FFu;
        EXPECT_EQ(d.DrawTriangles({}, quad), TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, TexturedQuadAtIdentity_MatchesReference) {
    for (TFilter filter : {TFilter::Bilinear, TFilter::Point}) {
        REQUIRE_GL(gl);
        const double psnr = CompareWithReference(
            *gl, filter == TFilter::Point ? "textured quad, point" : "textured quad, bilinear",
            [&](TRenderDevice& d) {
                d.Clear(0xFF000000u);
                TDrawState state;
                state.pipeline = TPipeline::Texture;
                state.filter = filter;
                state.textures[0] = MakePicture(d, 64);
                EXPECT_EQ(d.DrawTriangles(state, Quad(16, 8, 80, 72, 0xFFFFFFFFu)), TDxResult::Ok);
            });
        EXPECT_GT(psnr, kMinPsnr);
    }
}

TEST(GlDevice, TexturedQuadRotated_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "textured quad, rotated", [](TRenderDevice& d) {
        d.Clear(0xFF000000u);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = MakePicture(d, 64);
        EXPECT_EQ(d.DrawTriangles(state, TurnedQuad(64.2f, 48.3f, 36.0f, 0.45f, 0xFFFFFFFFu)),
                  TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, PerspectiveQuad_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr =
        CompareWithReference(*gl, "textured quad, perspective", [](TRenderDevice& d) {
            d.Clear(0xFF000000u);
            TDrawState state;
            state.pipeline = TPipeline::Texture;
            state.textures[0] = MakePicture(d, 32);
            auto quad = Quad(10, 10, 110, 80, 0xFFFFFFFFu);
            // The right side lies twice as far away: same pixels, bent coordinates.
            for (TVertex& v : quad)
                if (v.u > 0.5f) {
                    v.x *= 2;
                    v.y *= 2;
                    v.w = 2;
                }
            EXPECT_EQ(d.DrawTriangles(state, quad), TDxResult::Ok);
        });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, OpacityAndBlendModes_MatchReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "opacity and blends", [](TRenderDevice& d) {
        d.Clear(0xFF204060u);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = MakePicture(d, 64);
        state.opacity = 128;
        EXPECT_EQ(d.DrawTriangles(state, Quad(8, 8, 72, 72, 0xFFFFFFFFu)), TDxResult::Ok);
        state.blend = TBlendMode::Add;
        state.opacity = 96;
        EXPECT_EQ(d.DrawTriangles(state, Quad(48, 24, 112, 88, 0xFFFF8080u)), TDxResult::Ok);
        TDrawState replace;
        replace.blend = TBlendMode::Replace;
        EXPECT_EQ(d.DrawTriangles(replace, Quad(100, 4, 124, 20, 0x40FFFFFFu)), TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, RenderTargetRoundTrip_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "render target round trip", [](TRenderDevice& d) {
        TTextureHandle target = 0;
        EXPECT_EQ(d.CreateTexture({64, 64, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget},
                                  target),
                  TDxResult::Ok);
        EXPECT_EQ(d.SetRenderTarget(target), TDxResult::Ok);
        d.Clear(0x00000000u);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = MakePicture(d, 32);
        EXPECT_EQ(d.DrawTriangles(state, Quad(4, 8, 60, 40, 0xFFFFFFFFu)), TDxResult::Ok);
        EXPECT_EQ(d.DrawTriangles({}, Quad(20, 30, 50, 60, 0x80FF0000u)), TDxResult::Ok);
        EXPECT_EQ(d.SetRenderTarget(0), TDxResult::Ok);
        d.Clear(0xFF808080u);
        state.textures[0] = target;
        EXPECT_EQ(d.DrawTriangles(state, Quad(0, 0, 64, 64, 0xFFFFFFFFu)), TDxResult::Ok);
        EXPECT_EQ(d.DrawTriangles(state, TurnedQuad(96, 56, 28, -0.3f, 0xFFFFFFFFu)),
                  TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, RenderTargetReadBack_KeepsRowOrder) {
    REQUIRE_GL(gl);
    TTextureHandle target = 0;
    ASSERT_EQ(
        gl->CreateTexture({16, 16, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, target),
        TDxResult::Ok);
    ASSERT_EQ(gl->SetRenderTarget(target), TDxResult::Ok);
    gl->Clear(0xFF000000u);
    ASSERT_EQ(gl->DrawTriangles({}, Quad(0, 0, 16, 4, 0xFFFF0000u)), TDxResult::Ok);
    const std::vector<uint8_t> frame = Frame(*gl, 16, 16);
    uint32_t top, bottom;
    std::memcpy(&top, &frame[0], 4);
    std::memcpy(&bottom, &frame[size_t(15 * 16) * 4], 4);
    EXPECT_EQ(top, 0xFFFF0000u);
    EXPECT_EQ(bottom, 0xFF000000u);
}

// A device without bands of its own hands the rect over as one band, rows
// as ReadPixels reads them.
TEST(GlDevice, ReadPixelBands_GiveTheRectAsOneBand) {
    REQUIRE_GL(gl);
    gl->Clear(0xFF000000u);
    ASSERT_EQ(gl->DrawTriangles({}, Quad(3, 2, 50, 31, 0xFF20C0FFu)), TDxResult::Ok);
    const ql::TRect rect{1, 1, 41, 36};
    ql::TDirectBitmap expected(rect.Width(), rect.Height(), ql::PfARGB32());
    ASSERT_EQ(gl->ReadPixels(rect, expected), TDxResult::Ok);
    int32_t calls = 0;
    ASSERT_EQ(
        gl->ReadPixelBands(rect,
                           [&](int32_t first, int32_t end, const uint32_t* rows, size_t stride) {
                               ++calls;
                               EXPECT_EQ(first, 0);
                               EXPECT_EQ(end, rect.Height());
                               for (int32_t y = first; y < end; ++y)
                                   EXPECT_EQ(std::memcmp(rows + size_t(y) * stride, expected.Row(y),
                                                         size_t(rect.Width()) * 4),
                                             0)
                                       << "row " << y;
                           }),
        TDxResult::Ok);
    EXPECT_EQ(calls, 1);
}

TEST(GlDevice, Yuv_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "YUV", [](TRenderDevice& d) {
        d.Clear(0xFF000000u);
        TDrawState state;
        state.pipeline = TPipeline::Yuv;
        state.textures[0] = MakePlane(
            d, 64, [](int32_t x, int32_t y) { return uint8_t(16 + (x + y) * 219 / 126); });
        state.textures[1] =
            MakePlane(d, 32, [](int32_t x, int32_t) { return uint8_t(64 + x * 4); });
        state.textures[2] =
            MakePlane(d, 32, [](int32_t, int32_t y) { return uint8_t(192 - y * 4); });
        EXPECT_EQ(d.DrawTriangles(state, Quad(16, 8, 112, 88, 0xFFFFFFFFu)), TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, TextureMask_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "texture x mask", [](TRenderDevice& d) {
        d.Clear(0xFF302010u);
        TDrawState state;
        state.pipeline = TPipeline::TextureMask;
        state.textures[0] = MakePicture(d, 64);
        state.textures[1] = MakePicture(d, 16);
        EXPECT_EQ(d.DrawTriangles(state, Quad(12, 6, 108, 90, 0xE0FFFFFFu)), TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, PostEffect_MatchesReference) {
    REQUIRE_GL(gl);
    const double psnr = CompareWithReference(*gl, "post effect", [](TRenderDevice& d) {
        d.Clear(0xFF000000u);
        TDrawState state;
        state.pipeline = TPipeline::PostEffect;
        state.textures[0] = MakePicture(d, 64);
        state.constants[0][0] = state.constants[0][1] = 1.0f / 64.0f;
        state.constants[1][0] = 0.8f;
        state.constants[2][0] = 1.0f;
        EXPECT_EQ(d.DrawTriangles(state, Quad(0, 0, 128, 96, 0xFFFFFFFFu)), TDxResult::Ok);
    });
    EXPECT_GT(psnr, kMinPsnr);
}

TEST(GlDevice, ResizeOutput_StartsClearedAndKeepsTextures) {
    REQUIRE_GL(gl);
    const TTextureHandle picture = MakePicture(*gl, 16);
    gl->Clear(0xFFFFFFFFu);
    ASSERT_EQ(gl->ResizeOutput(40, 30), TDxResult::Ok);
    EXPECT_EQ(gl->OutputWidth(), 40);
    for (uint8_t b : Frame(*gl, 40, 30)) ASSERT_EQ(b, 0);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = picture;
    EXPECT_EQ(gl->DrawTriangles(state, Quad(0, 0, 40, 30, 0xFFFFFFFFu)), TDxResult::Ok);
}

TEST(GlDevice, InvalidCalls_AnswerInvalidCall) {
    REQUIRE_GL(gl);
    TTextureHandle texture = 0;
    EXPECT_EQ(gl->CreateTexture({48, 32, 1}, texture), TDxResult::InvalidCall);
    EXPECT_EQ(
        gl->CreateTexture({32, 32, 1, TTexelFormat::L8, TTextureUsage::RenderTarget}, texture),
        TDxResult::InvalidCall);
    ASSERT_EQ(gl->CreateTexture({32, 32, 1}, texture), TDxResult::Ok);
    EXPECT_EQ(gl->SetRenderTarget(texture), TDxResult::InvalidCall);  // not a render target
    ql::TDirectBitmap wrongSize(16, 16, ql::PfARGB32());
    EXPECT_EQ(gl->UploadLevel(texture, 0, wrongSize), TDxResult::InvalidCall);
    EXPECT_EQ(gl->UploadLevel(texture, 1, wrongSize), TDxResult::InvalidCall);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = 999;
    EXPECT_EQ(gl->DrawTriangles(state, Quad(0, 0, 8, 8, 0xFFFFFFFFu)), TDxResult::InvalidCall);
    ql::TDirectBitmap out(8, 8, ql::PfARGB32());
    EXPECT_EQ(gl->ReadPixels({kWidth - 4, 0, kWidth + 4, 8}, out), TDxResult::InvalidCall);
    gl->ReleaseTexture(texture);
    EXPECT_EQ(gl->TextureCount(), 0);
    EXPECT_EQ(gl->Restore(), TDxResult::Ok);
}

TEST(GlDevice, TargetSampledWhileDrawnInto_IsRefused) {
    REQUIRE_GL(gl);
    TTextureHandle target = 0;
    ASSERT_EQ(
        gl->CreateTexture({32, 32, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, target),
        TDxResult::Ok);
    ASSERT_EQ(gl->SetRenderTarget(target), TDxResult::Ok);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = target;
    EXPECT_EQ(gl->DrawTriangles(state, Quad(0, 0, 8, 8, 0xFFFFFFFFu)), TDxResult::InvalidCall);
}

TEST(GlDevice, NonFiniteTriangle_DrawsNothing) {
    REQUIRE_GL(gl);
    gl->Clear(0xFF000000u);
    auto quad = Quad(0, 0, 64, 64, 0xFFFFFFFFu);
    quad[0].x = std::numeric_limits<float>::quiet_NaN();
    ASSERT_EQ(gl->DrawTriangles({}, quad), TDxResult::Ok);
    const std::vector<uint8_t> frame = Frame(*gl, kWidth, kHeight);
    uint32_t c;
    std::memcpy(&c, &frame[size_t(2 * kWidth + 60) * 4], 4);  // inside the first triangle only
    EXPECT_EQ(c, 0xFF000000u);
    std::memcpy(&c, &frame[size_t(60 * kWidth + 2) * 4], 4);  // inside the second
    EXPECT_EQ(c, 0xFFFFFFFFu);
}

TEST(GlDevice, CallFromAnotherThread_IsRefused) {
    REQUIRE_GL(gl);
    TDxResult result = TDxResult::Ok;
    std::thread other([&] { result = gl->Clear(0xFFFFFFFFu); });
    other.join();
    EXPECT_EQ(result, TDxResult::InvalidCall);
    EXPECT_EQ(gl->Clear(0xFFFFFFFFu), TDxResult::Ok);
}

TEST(GlDevice, HeadlessPresent_CountsAndKeepsFrame) {
    REQUIRE_GL(gl);
    gl->Clear(0xFF112233u);
    EXPECT_EQ(gl->Present(), TDxResult::Ok);
    EXPECT_EQ(gl->PresentCount(), 1);
    uint32_t c;
    std::memcpy(&c, Frame(*gl, kWidth, kHeight).data(), 4);
    EXPECT_EQ(c, 0xFF112233u);
}

TEST(GlDevice_Launch, WindowTestsPassOnAVirtualXServer) {
    if (ql::FindExecutable(u"xvfb-run").empty())
        GTEST_SKIP() << "xvfb-run is not installed; no X server to test on";
    const ql::test::TChildRun run = ql::test::RunWindowChild("GlDeviceWindow.*");
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    if (run.Count("skipped") > 0) GTEST_SKIP() << run.Out;
    EXPECT_EQ(run.Results.size(), 1u) << run.Out;
    EXPECT_EQ(run.Count("passed"), 1u) << run.Out;
}

TEST(GlDeviceWindow, PresentShowsFrameAndKeepsItReadable) {
    if (!ql::test::InWindowChild()) GTEST_SKIP() << "runs in the child of GlDevice_Launch";
    std::string error;
    auto api = ql::TGlApi::Create(
        ql::TGlContext::CreateWindow("GL device test", kWidth, kHeight, error), error);
    if (!api) GTEST_SKIP() << "no window with an OpenGL 3.3 core context here: " << error;
    auto gl = TGlDevice::Create(std::move(api), kWidth, kHeight, error);
    ASSERT_NE(gl, nullptr) << error;
    TTextureHandle target = 0;
    ASSERT_EQ(
        gl->CreateTexture({16, 16, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, target),
        TDxResult::Ok);
    ASSERT_EQ(gl->SetRenderTarget(target), TDxResult::Ok);
    gl->Clear(0xFF00FF00u);
    ASSERT_EQ(gl->SetRenderTarget(0), TDxResult::Ok);
    gl->Clear(0xFF112233u);
    EXPECT_EQ(gl->Present(), TDxResult::Ok);
    EXPECT_EQ(gl->Present(), TDxResult::Ok);
    EXPECT_EQ(gl->PresentCount(), 2);
    uint32_t c;
    std::memcpy(&c, Frame(*gl, kWidth, kHeight).data(), 4);
    EXPECT_EQ(c, 0xFF112233u);
    // The blit to the window leaves the chosen target bound.
    ASSERT_EQ(gl->SetRenderTarget(target), TDxResult::Ok);
    EXPECT_EQ(gl->Present(), TDxResult::Ok);
    std::memcpy(&c, Frame(*gl, 16, 16).data(), 4);
    EXPECT_EQ(c, 0xFF00FF00u);
}

}  // namespace
}  // namespace orb
