#include "OrbLib2/3DBasics/qlSoftDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <vector>

namespace orb {
namespace {

uint32_t PixelAt(TSoftDevice& device, int32_t x, int32_t y) {
    ql::TDirectBitmap one(1, 1, ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({x, y, x + 1, y + 1}, one), TDxResult::Ok);
    uint32_t c;
    std::memcpy(&c, one.Row(0), 4);
    return c;
}

std::vector<uint32_t> AllPixels(TSoftDevice& device) {
    ql::TDirectBitmap all(device.OutputWidth(), device.OutputHeight(), ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({0, 0, device.OutputWidth(), device.OutputHeight()}, all),
              TDxResult::Ok);
    std::vector<uint32_t> out(size_t(all.Width()) * size_t(all.Height()));
    for (int32_t y = 0; y < all.Height(); ++y)
        std::memcpy(out.data() + size_t(y) * size_t(all.Width()), all.Row(y),
                    size_t(all.Width()) * 4);
    return out;
}

// Two triangles covering the rectangle, sharing the diagonal.
std::vector<TVertex> Quad(float l, float t, float r, float b, uint32_t colour) {
    TVertex tl{l, t, 0, 1, colour, 0, 0}, tr{r, t, 0, 1, colour, 1, 0};
    TVertex br{r, b, 0, 1, colour, 1, 1}, bl{l, b, 0, 1, colour, 0, 1};
    return {tl, tr, br, tl, br, bl};
}

uint32_t OverOnOpaqueBlack(uint32_t straight) {
    const uint32_t a = straight >> 24;
    auto ch = [a](uint32_t v) { return (v * a + 127) / 255; };
    return 0xFF000000u | (ch((straight >> 16) & 255) << 16) | (ch((straight >> 8) & 255) << 8) |
           ch(straight & 255);
}

TEST(SoftDevice, Clear_FillsTargetPremultiplied) {
    TSoftDevice device({8, 4});
    ASSERT_EQ(device.Clear(0x80FF0000u), TDxResult::Ok);
    for (uint32_t c : AllPixels(device)) EXPECT_EQ(c, 0x80800000u);
}

TEST(SoftDevice, TrianglePair_CoversRectangleOnceWithoutSeam) {
    TSoftDevice device({16, 12});
    device.Clear(0xFF000000u);
    const uint32_t colour = 0x80FF8040u;
    auto quad = Quad(2, 3, 10, 9, colour);
    ASSERT_EQ(device.DrawTriangles({}, quad), TDxResult::Ok);
    const std::vector<uint32_t> pixels = AllPixels(device);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const bool inside = x >= 2 && x < 10 && y >= 3 && y < 9;
            EXPECT_EQ(pixels[size_t(y * 16 + x)], inside ? OverOnOpaqueBlack(colour) : 0xFF000000u)
                << x << "," << y;
        }
}

TEST(SoftDevice, FractionalQuad_CoversPixelsWhoseCentresItHolds) {
    TSoftDevice device({8, 8});
    device.Clear(0);
    // Centres at 1.5 and 4.5 lie inside [1.4, 4.6); 0.5 and 5.5 do not.
    ASSERT_EQ(device.DrawTriangles({}, Quad(1.4f, 1.4f, 4.6f, 4.6f, 0xFFFFFFFFu)), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(device, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(device, 0, 1), 0u);
    EXPECT_EQ(PixelAt(device, 5, 4), 0u);
}

TEST(SoftDevice, TexturedQuadAtIdentity_ReproducesTexture) {
    for (TFilter filter : {TFilter::Bilinear, TFilter::Point}) {
        TSoftDevice device({16, 8});
        TTextureHandle texture;
        ASSERT_EQ(device.CreateTexture({16, 8, 1}, texture), TDxResult::Ok);
        ql::TDirectBitmap picture(16, 8, ql::PfARGB32());
        std::vector<uint32_t> expected;
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 16; ++x) {
                const uint32_t c = 0xFF000000u | uint32_t(x * 15) << 16 | uint32_t(y * 30) << 8 |
                                   uint32_t((x * y) & 255);
                std::memcpy(picture.Row(y) + x * 4, &c, 4);
                expected.push_back(c);
            }
        ASSERT_EQ(device.UploadLevel(texture, 0, picture), TDxResult::Ok);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        state.filter = filter;
        state.blend = TBlendMode::Replace;
        ASSERT_EQ(device.DrawTriangles(state, Quad(0, 0, 16, 8, 0xFFFFFFFFu)), TDxResult::Ok);
        EXPECT_EQ(AllPixels(device), expected);
    }
}

// Rows read band by band as the draws waiting for them finish are the rows
// read afterwards, each once, in bands of whole row pairs of the rect; with
// draws waiting, a clear waiting alone, or nothing drawn, on one thread and
// on several.
TEST(SoftDevice, ReadPixelBands_GiveEachRowOnceAsReadPixelsReadsIt) {
    constexpr int32_t kW = 48, kH = 100;
    enum class TWaiting { Draws, Clear, Nothing };
    for (TWaiting waiting : {TWaiting::Draws, TWaiting::Clear, TWaiting::Nothing})
        for (int32_t threads : {1, 3})
            for (const ql::TRect rect : {ql::TRect{0, 0, kW, kH}, ql::TRect{3, 5, 37, 94}}) {
                SCOPED_TRACE(::testing::Message()
                             << int(waiting) << " threads " << threads << " top " << rect.top);
                TSoftDevice device({kW, kH, threads});
                ASSERT_EQ(device.Clear(0xFF102030u), TDxResult::Ok);
                if (waiting == TWaiting::Draws) {
                    // Enough pixels to go to the drawing threads.
                    ASSERT_EQ(device.DrawTriangles({}, Quad(-5, 7, 40, 91, 0x80FF8040u)),
                              TDxResult::Ok);
                    ASSERT_EQ(device.DrawTriangles({}, Quad(10, 1.5f, 47, 60, 0xC000FF00u)),
                              TDxResult::Ok);
                } else if (waiting == TWaiting::Clear) {
                    AllPixels(device);
                    ASSERT_EQ(device.Clear(0x40FFFFFFu), TDxResult::Ok);
                }
                const size_t width = size_t(rect.Width());
                std::vector<uint32_t> banded(width * size_t(rect.Height()), 0xDEADBEEFu);
                std::vector<int32_t> seen(size_t(rect.Height()), 0);
                std::mutex lock;
                ASSERT_EQ(device.ReadPixelBands(
                              rect,
                              [&](int32_t first, int32_t end, const uint32_t* rows, size_t stride) {
                                  std::lock_guard guard(lock);
                                  EXPECT_EQ(first % 2, 0);
                                  EXPECT_TRUE(end % 2 == 0 || end == rect.Height());
                                  for (int32_t y = first; y < end; ++y) {
                                      ++seen[size_t(y)];
                                      std::memcpy(banded.data() + size_t(y) * width,
                                                  rows + size_t(y - first) * stride, width * 4);
                                  }
                              }),
                          TDxResult::Ok);
                EXPECT_EQ(seen, std::vector<int32_t>(size_t(rect.Height()), 1));
                ql::TDirectBitmap after(rect.Width(), rect.Height(), ql::PfARGB32());
                ASSERT_EQ(device.ReadPixels(rect, after), TDxResult::Ok);
                for (int32_t y = 0; y < rect.Height(); ++y)
                    ASSERT_EQ(
                        std::memcmp(banded.data() + size_t(y) * width, after.Row(y), width * 4), 0)
                        << "row " << y;
            }
}

TEST(SoftDevice, Opacity_ScalesAlphaBeforeBlendingOver) {
    TSoftDevice device({4, 4});
    device.Clear(0xFF000000u);
    TDrawState state;
    state.opacity = 128;
    device.DrawTriangles(state, Quad(0, 0, 4, 4, 0xFFFFFFFFu));
    EXPECT_EQ(PixelAt(device, 2, 2), 0xFF808080u);
    // Half-transparent colour at half opacity: alpha 255 * 128 / 255 * 128 / 255.
    device.Clear(0xFF000000u);
    device.DrawTriangles(state, Quad(0, 0, 4, 4, 0x80FFFFFFu));
    EXPECT_EQ(PixelAt(device, 1, 1), 0xFF404040u);
}

TEST(SoftDevice, AddBlend_Saturates) {
    TSoftDevice device({2, 2});
    device.Clear(0xFFC0C0C0u);
    TDrawState state;
    state.blend = TBlendMode::Add;
    device.DrawTriangles(state, Quad(0, 0, 2, 2, 0xFF808080u));
    EXPECT_EQ(PixelAt(device, 0, 0), 0xFFFFFFFFu);
}

TEST(SoftDevice, Scissor_LimitsClearAndDrawing) {
    TSoftDevice device({8, 8});
    device.Clear(0xFF000000u);
    device.SetScissor({2, 2, 5, 6});
    device.Clear(0xFF0000FFu);
    device.DrawTriangles({}, Quad(0, 0, 8, 8, 0xFF00FF00u));
    device.SetScissor({});
    const std::vector<uint32_t> pixels = AllPixels(device);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(pixels[size_t(y * 8 + x)],
                      (x >= 2 && x < 5 && y >= 2 && y < 6) ? 0xFF00FF00u : 0xFF000000u);
}

TEST(SoftDevice, TriangleBehindCamera_IsClippedAtNearPlane) {
    TSoftDevice device({16, 16});
    device.Clear(0xFF000000u);
    // C lies behind the camera; dividing by its w would put it at (8, 14)
    // and fill the lower half. The visible part stretches upwards instead.
    std::vector<TVertex> tri = {
        {2, 4, 0, 1, 0xFFFFFFFFu}, {14, 4, 0, 1, 0xFFFFFFFFu}, {-8, -14, 0, -1, 0xFFFFFFFFu}};
    ASSERT_EQ(device.DrawTriangles({}, tri), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 8, 10), 0xFF000000u);
    EXPECT_EQ(PixelAt(device, 8, 13), 0xFF000000u);
    EXPECT_EQ(PixelAt(device, 8, 2), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(device, 8, 0), 0xFFFFFFFFu);
}

TEST(SoftDevice, HugeCoordinates_AreCutBeforeConversion) {
    TSoftDevice device({8, 8});
    device.Clear(0);
    std::vector<TVertex> tri = {{-1e30f, -1e30f, 0, 1}, {1e30f, -1e30f, 0, 1}, {0, 1e30f, 0, 1}};
    ASSERT_EQ(device.DrawTriangles({}, tri), TDxResult::Ok);
    for (uint32_t c : AllPixels(device)) EXPECT_EQ(c, 0xFFFFFFFFu);
}

TEST(SoftDevice, ResizeOutput_KeepsTexturesAndClearsBackBuffer) {
    TSoftDevice device({8, 8});
    TTextureHandle texture;
    ASSERT_EQ(device.CreateTexture({32, 32, 1}, texture), TDxResult::Ok);
    device.Clear(0xFFFFFFFFu);
    ASSERT_EQ(device.ResizeOutput(20, 10), TDxResult::Ok);
    EXPECT_EQ(device.OutputWidth(), 20);
    EXPECT_EQ(PixelAt(device, 19, 9), 0u);
    EXPECT_EQ(device.TextureCount(), 1);
    EXPECT_EQ(device.ResizeOutput(0, 10), TDxResult::InvalidCall);
    EXPECT_EQ(device.ResizeOutput(100000, 10), TDxResult::InvalidCall);
}

TEST(SoftDevice, NonFiniteVertices_DrawNothingAndExtremeCoordinatesClamp) {
    TSoftDevice device({8, 8});
    device.Clear(0xFF000000u);
    const float nan = std::numeric_limits<float>::quiet_NaN(),
                inf = std::numeric_limits<float>::infinity();
    std::vector<TVertex> bad = {{nan, 0, 0, 1}, {8, 0, 0, 1}, {0, 8, 0, 1},
                                {0, 0, 0, inf}, {8, 0, 0, 1}, {0, 8, 0, 1}};
    ASSERT_EQ(device.DrawTriangles({}, bad), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 1, 1), 0xFF000000u);
    TTextureHandle texture;
    ASSERT_EQ(device.CreateTexture({32, 32, 1}, texture), TDxResult::Ok);
    for (TFilter filter : {TFilter::Point, TFilter::Bilinear}) {
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        state.filter = filter;
        std::vector<TVertex> far = {{0, 0, 0, 1, 0xFFFFFFFFu, -3e38f, 3e38f},
                                    {8, 0, 0, 1, 0xFFFFFFFFu, 3e38f, -3e38f},
                                    {0, 8, 0, 1, 0xFFFFFFFFu, 3e38f, 3e38f}};
        EXPECT_EQ(device.DrawTriangles(state, far), TDxResult::Ok);
    }
}

TEST(SoftDevice, ReadPixels_OutsideTargetIsInvalid) {
    TSoftDevice device({8, 8});
    ql::TDirectBitmap bitmap(4, 4, ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({6, 6, 10, 10}, bitmap), TDxResult::InvalidCall);
    EXPECT_EQ(device.LastResult(), TDxResult::InvalidCall);
    device.Clear(0xFF123456u);
    EXPECT_EQ(device.ReadPixels({4, 4, 8, 8}, bitmap), TDxResult::Ok);
    uint32_t c;
    std::memcpy(&c, bitmap.Row(3) + 12, 4);
    EXPECT_EQ(c, 0xFF123456u);
}

TEST(SoftDevice, MemoryBudget_ExhaustedGivesOutOfMemoryUntilReleased) {
    TSoftDevice device({8, 8});
    device.SetMemoryBudget(TRenderDevice::TextureBytes({64, 64, 1}) * 2);
    TTextureHandle a, b, c;
    EXPECT_EQ(device.CreateTexture({64, 64, 1}, a), TDxResult::Ok);
    EXPECT_EQ(device.CreateTexture({64, 64, 1}, b), TDxResult::Ok);
    EXPECT_EQ(device.CreateTexture({64, 64, 1}, c), TDxResult::OutOfMemory);
    EXPECT_EQ(device.LastResult(), TDxResult::OutOfMemory);
    device.ReleaseTexture(a);
    EXPECT_EQ(device.CreateTexture({64, 64, 1}, c), TDxResult::Ok);
    EXPECT_EQ(device.CreateTexture({100, 64, 1}, c), TDxResult::InvalidCall);
}

TEST(SoftDevice, DeviceLoss_RunsLostThenReadySequence) {
    TSoftDevice device({8, 8});
    TTextureHandle before;
    ASSERT_EQ(device.CreateTexture({32, 32, 1}, before), TDxResult::Ok);
    device.SimulateLoss(2);
    TTextureHandle during;
    EXPECT_EQ(device.CreateTexture({32, 32, 1}, during), TDxResult::DeviceLost);
    EXPECT_EQ(device.BeginScene(), TDxResult::DeviceLost);
    EXPECT_EQ(device.Present(), TDxResult::DeviceLost);
    EXPECT_EQ(device.Restore(), TDxResult::DeviceLost);
    EXPECT_EQ(device.Restore(), TDxResult::DeviceLost);
    EXPECT_EQ(device.Restore(), TDxResult::Ok);
    EXPECT_EQ(device.UsedMemory(), 0);
    ql::TDirectBitmap picture(32, 32, ql::PfARGB32());
    EXPECT_EQ(device.UploadLevel(before, 0, picture), TDxResult::InvalidCall);
    TTextureHandle after;
    EXPECT_EQ(device.CreateTexture({32, 32, 1}, after), TDxResult::Ok);
    EXPECT_NE(after, before);
    EXPECT_EQ(device.BeginScene(), TDxResult::Ok);
}

TEST(SoftDevice, RenderTarget_DrawnThenSampledAsTexture) {
    TSoftDevice device({8, 8});
    TTextureHandle rt;
    ASSERT_EQ(
        device.CreateTexture({8, 8, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, rt),
        TDxResult::Ok);
    ASSERT_EQ(device.SetRenderTarget(rt), TDxResult::Ok);
    device.Clear(0x80808080u);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = rt;
    EXPECT_EQ(device.DrawTriangles(state, Quad(0, 0, 8, 8, 0xFFFFFFFFu)), TDxResult::InvalidCall);
    ASSERT_EQ(device.SetRenderTarget(0), TDxResult::Ok);
    device.Clear(0xFF000000u);
    ASSERT_EQ(device.DrawTriangles(state, Quad(0, 0, 8, 8, 0xFFFFFFFFu)), TDxResult::Ok);
    // Premultiplied (128, 64, 64, 64) over opaque black.
    EXPECT_EQ(PixelAt(device, 3, 3), 0xFF404040u);
}

TEST(SoftDevice, YuvPipeline_ConvertsGreyAndWhite) {
    TSoftDevice device({4, 4});
    TTextureHandle planes[3];
    const uint8_t values[3] = {235, 128, 128};
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(device.CreateTexture({32, 32, 1, TTexelFormat::L8}, planes[i]), TDxResult::Ok);
        ql::TDirectBitmap plane(32, 32, ql::FindPixelFormat("Y8"));
        for (int32_t y = 0; y < 32; ++y) std::memset(plane.Row(y), values[i], 32);
        ASSERT_EQ(device.UploadLevel(planes[i], 0, plane), TDxResult::Ok);
    }
    TDrawState state;
    state.pipeline = TPipeline::Yuv;
    std::copy(planes, planes + 3, state.textures);
    ASSERT_EQ(device.DrawTriangles(state, Quad(0, 0, 4, 4, 0xFFFFFFFFu)), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 1, 1), 0xFFFFFFFFu);
}

TEST(SoftDevice, TextureCoordinates_ArePerspectiveCorrect) {
    TSoftDevice device({16, 1});
    TTextureHandle texture;
    ASSERT_EQ(device.CreateTexture({16, 32, 1}, texture), TDxResult::Ok);
    ql::TDirectBitmap picture(16, 32, ql::PfARGB32());
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const uint32_t c = 0xFF000000u | uint32_t(x);
            std::memcpy(picture.Row(y) + x * 4, &c, 4);
        }
    device.UploadLevel(texture, 0, picture);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = texture;
    state.filter = TFilter::Point;
    // The right edge is three times as far away as the left one.
    const TVertex l0{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0}, r0{48, 0, 0, 3, 0xFFFFFFFFu, 1, 0};
    const TVertex r1{48, 3, 0, 3, 0xFFFFFFFFu, 1, 1}, l1{0, 1, 0, 1, 0xFFFFFFFFu, 0, 1};
    const std::vector<TVertex> quad = {l0, r0, r1, l0, r1, l1};
    ASSERT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
    // Pixel 8 sits at 0.53 of the way on screen but only 0.27 of the way on the
    // texture; interpolating without w would show texel 8.
    EXPECT_EQ(PixelAt(device, 8, 0), 0xFF000004u);
    EXPECT_EQ(PixelAt(device, 0, 0), 0xFF000000u);
}

TEST(SoftDevice, YuvPipeline_TakesTheChromaTexelUnderTheLumaTexel) {
    TSoftDevice device({2, 1});
    TTextureHandle planes[3];
    const ql::TPixelFormat* y8 = ql::FindPixelFormat("Y8");
    for (int32_t i = 0; i < 3; ++i) {
        // The chroma planes are half the luma plane each way.
        const int32_t side = i == 0 ? 32 : 16;
        ASSERT_EQ(device.CreateTexture({side, side, 1, TTexelFormat::L8}, planes[i]),
                  TDxResult::Ok);
        ql::TDirectBitmap plane(side, side, y8);
        for (int32_t y = 0; y < side; ++y) std::memset(plane.Row(y), 128, size_t(side));
        // Texel (1, 0) of the U plane is the only blue one: under luma texels 2 and 3.
        if (i == 1) plane.Row(0)[1] = 240;
        ASSERT_EQ(device.UploadLevel(planes[i], 0, plane), TDxResult::Ok);
    }
    TDrawState state;
    state.pipeline = TPipeline::Yuv;
    state.filter = TFilter::Point;
    std::copy(planes, planes + 3, state.textures);
    // Two pixels over luma texels first .. first + 1 of row 0; the second
    // coordinates play no part.
    auto draw = [&](int32_t first) {
        const float l = float(first) / 32, r = float(first + 2) / 32, b = 1.0f / 32;
        const TVertex tl{0, 0, 0, 1, 0xFFFFFFFFu, l, 0, 0, 0},
            tr{2, 0, 0, 1, 0xFFFFFFFFu, r, 0, 0, 0};
        const TVertex br{2, 1, 0, 1, 0xFFFFFFFFu, r, b, 0, 0},
            bl{0, 1, 0, 1, 0xFFFFFFFFu, l, b, 0, 0};
        const std::vector<TVertex> quad = {tl, tr, br, tl, br, bl};
        EXPECT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
    };
    draw(2);
    EXPECT_GT(PixelAt(device, 0, 0) & 0xFF, 200u);
    EXPECT_GT(PixelAt(device, 1, 0) & 0xFF, 200u);
    draw(0);
    EXPECT_LT(PixelAt(device, 0, 0) & 0xFF, 160u);
    EXPECT_LT(PixelAt(device, 1, 0) & 0xFF, 160u);
}

TEST(SoftDevice, YuvPipeline_ConvertedFrameGoesWithItsPlanesAndTheBudgetDecidesThePath) {
    // Y 235 with neutral chroma is white by either path.
    const TTextureDesc luma{32, 32, 1, TTexelFormat::L8}, chroma{16, 16, 1, TTexelFormat::L8};
    const int64_t planesBytes =
        TRenderDevice::TextureBytes(luma) + 2 * TRenderDevice::TextureBytes(chroma);
    struct TCase {
        const char* Name;
        int64_t Budget;
        int32_t TexturesWhileDrawn;  // the planes and the converted frame, or the planes alone
    };
    const TCase cases[] = {{"room for the conversion", int64_t(64) << 20, 4},
                           {"planes only", planesBytes, 3}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSoftDevice device({4, 4});
        device.SetMemoryBudget(c.Budget);
        TTextureHandle planes[3];
        const ql::TPixelFormat* y8 = ql::FindPixelFormat("Y8");
        for (int32_t i = 0; i < 3; ++i) {
            const TTextureDesc& desc = i == 0 ? luma : chroma;
            ASSERT_EQ(device.CreateTexture(desc, planes[i]), TDxResult::Ok);
            ql::TDirectBitmap plane(desc.width, desc.height, y8);
            for (int32_t y = 0; y < desc.height; ++y)
                std::memset(plane.Row(y), i == 0 ? 235 : 128, size_t(desc.width));
            ASSERT_EQ(device.UploadLevel(planes[i], 0, plane), TDxResult::Ok);
        }
        TDrawState state;
        state.pipeline = TPipeline::Yuv;
        std::copy(planes, planes + 3, state.textures);
        const float m = 4.0f / 32;
        const TVertex tl{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0, 0, 0},
            tr{4, 0, 0, 1, 0xFFFFFFFFu, m, 0, m, 0};
        const TVertex br{4, 4, 0, 1, 0xFFFFFFFFu, m, m, m, m},
            bl{0, 4, 0, 1, 0xFFFFFFFFu, 0, m, 0, m};
        const std::vector<TVertex> quad = {tl, tr, br, tl, br, bl};
        ASSERT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
        EXPECT_EQ(PixelAt(device, 2, 2), 0xFFFFFFFFu);
        EXPECT_EQ(device.TextureCount(), c.TexturesWhileDrawn);
        device.ReleaseTexture(planes[1]);
        EXPECT_EQ(device.TextureCount(), 2);
        EXPECT_EQ(device.UsedMemory(),
                  TRenderDevice::TextureBytes(luma) + TRenderDevice::TextureBytes(chroma));
    }
}

TEST(SoftDevice, OneThreadAndTwo_DrawIdenticalPixels) {
    std::vector<uint32_t> results[2];
    for (int32_t run = 0; run < 2; ++run) {
        TSoftDevice device({97, 71, run + 1});
        TTextureHandle texture;
        ASSERT_EQ(device.CreateTexture({32, 32, 1}, texture), TDxResult::Ok);
        ql::TDirectBitmap picture(32, 32, ql::PfARGB32());
        std::mt19937 random(7);
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                const uint32_t c = random();
                std::memcpy(picture.Row(y) + x * 4, &c, 4);
            }
        device.UploadLevel(texture, 0, picture);
        device.Clear(0xFF202020u);
        std::uniform_real_distribution<float> pos(-20.0f, 120.0f), depth(0.5f, 3.0f);
        for (int32_t i = 0; i < 40; ++i) {
            std::vector<TVertex> tri(3);
            for (TVertex& v : tri) {
                v.w = depth(random);
                v.x = pos(random) * v.w;
                v.y = pos(random) * v.w;
                v.colour = random();
                v.u = pos(random) / 100.0f;
                v.v = pos(random) / 100.0f;
            }
            TDrawState state;
            state.pipeline = i % 2 ? TPipeline::Texture : TPipeline::Colour;
            state.textures[0] = texture;
            state.opacity = uint8_t(random());
            device.DrawTriangles(state, tri);
        }
        results[run] = AllPixels(device);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST(SoftDevice, AffineTexturedRuns_AgreeWithPerPixelPathAndAcrossThreads) {
    // w equal at every corner takes the run loops; a w off by one part in
    // ten million takes the per-pixel path, which is the reference.
    std::vector<uint32_t> results[3];
    for (int32_t run = 0; run < 3; ++run) {
        TSoftDevice device({61, 45, run == 2 ? 2 : 1});
        TTextureHandle texture;
        ASSERT_EQ(device.CreateTexture({32, 16, 1}, texture), TDxResult::Ok);
        ql::TDirectBitmap picture(32, 16, ql::PfARGB32());
        std::mt19937 random(3);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                // Smooth enough that the two paths' coordinates, a hair
                // apart, give samples at most one step apart.
                const uint32_t c = 0xC0000000u | uint32_t(x * 6) << 16 | uint32_t(y * 12) << 8 |
                                   uint32_t(x * 3 + y * 5);
                std::memcpy(picture.Row(y) + x * 4, &c, 4);
            }
        device.UploadLevel(texture, 0, picture);
        device.Clear(0xFF204060u);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        state.opacity = 170;
        const float w2 = run == 1 ? 1.0000001f : 1.0f;
        // A rotated, scaled quad reaching past the texture's edges.
        const TVertex a{3.3f, 1.7f, 0, 1, 0xE0FFC080u, -0.1f, -0.05f},
            b{57.2f, 9.1f, 0, 1, 0xE0FFC080u, 1.1f, 0};
        const TVertex c{50.6f, 43.4f, 0, 1, 0xE0FFC080u, 1, 1.2f},
            d{1.1f, 30.2f, 0, w2, 0xE0FFC080u, 0, 1};
        TVertex dw = d;
        dw.x *= w2;
        dw.y *= w2;
        ASSERT_EQ(device.DrawTriangles(state, std::vector<TVertex>{a, b, c, a, c, dw}),
                  TDxResult::Ok);
        state.filter = TFilter::Point;
        state.blend = TBlendMode::Add;
        state.opacity = 40;
        ASSERT_EQ(device.DrawTriangles(state, Quad(20, 10, 40, 30, 0xFFFFFFFFu)), TDxResult::Ok);
        results[run] = AllPixels(device);
    }
    EXPECT_EQ(results[0], results[2]);
    int32_t differing = 0;
    for (size_t i = 0; i < results[0].size(); ++i)
        for (int32_t shift = 0; shift < 32; shift += 8) {
            const int32_t p = int32_t((results[0][i] >> shift) & 255),
                          q = int32_t((results[1][i] >> shift) & 255);
            ASSERT_LE(std::abs(p - q), 2) << i;
            differing += p != q;
        }
    EXPECT_LT(differing, int32_t(results[0].size()));
}

// A picture copied one texel per pixel through a mask (a masked scene's last
// step) takes its own run; a w off by one part in ten million takes the
// per-pixel path. Unfiltered, the two pick the same texels: the bytes agree,
// under every blend.
TEST(SoftDevice, MaskedCopyRun_AgreesWithPerPixelPathBitForBit) {
    std::vector<uint32_t> results[2];
    for (int32_t run = 0; run < 2; ++run) {
        TSoftDevice device({50, 40});
        TTextureHandle textures[2];
        std::mt19937 random(5);
        for (TTextureHandle& texture : textures) {
            ASSERT_EQ(device.CreateTexture({64, 64, 1}, texture), TDxResult::Ok);
            ql::TDirectBitmap picture(64, 64, ql::PfARGB32());
            for (int32_t y = 0; y < 64; ++y)
                for (int32_t x = 0; x < 64; ++x) {
                    const uint32_t c = random();
                    std::memcpy(picture.Row(y) + x * 4, &c, 4);
                }
            device.UploadLevel(texture, 0, picture);
        }
        device.Clear(0xFF305070u);
        const float w = run == 1 ? 1.0000001f : 1.0f;
        for (const TBlendMode blend : {TBlendMode::Over, TBlendMode::Add, TBlendMode::Max}) {
            TDrawState state;
            state.pipeline = TPipeline::TextureMask;
            state.filter = TFilter::Point;
            state.textures[0] = textures[0];
            state.textures[1] = textures[1];
            state.blend = blend;
            state.opacity = 170;
            // Pixels (5, 4) .. (45, 36) show texels from (3, 7) and mask texels from (10, 2).
            auto corner = [&](float x, float y, float cw) {
                TVertex v{x * cw, y * cw, 0, cw, 0xD0FFC080u};
                v.u = (x - 5 + 3) / 64 * cw, v.v = (y - 4 + 7) / 64 * cw;
                v.u2 = (x - 5 + 10) / 64 * cw, v.v2 = (y - 4 + 2) / 64 * cw;
                return v;
            };
            const TVertex a = corner(5, 4, 1), b = corner(45, 4, 1), c = corner(45, 36, 1),
                          d = corner(5, 36, w);
            ASSERT_EQ(device.DrawTriangles(state, std::vector<TVertex>{a, b, c, a, c, d}),
                      TDxResult::Ok);
        }
        results[run] = AllPixels(device);
    }
    EXPECT_EQ(results[0], results[1]);
}

// Random textured triangles whose colour (alpha included) varies, flat or in
// perspective, with both filters and every blend, drawn once through the
// shaded runs and once pixel by pixel.
std::vector<uint32_t> DrawShadedScene(bool shadeRuns, int32_t threads, uint32_t seed) {
    TSoftDevice device({83, 67, threads, int64_t(512) << 20, shadeRuns});
    TTextureHandle texture;
    EXPECT_EQ(device.CreateTexture({32, 16, 1}, texture), TDxResult::Ok);
    ql::TDirectBitmap picture(32, 16, ql::PfARGB32());
    std::mt19937 random(seed);
    // Even seeds draw with a texture of one colour, which the runs need not sample.
    const bool uniform = seed % 2 == 0;
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 32; ++x) {
            const uint32_t c = uniform ? 0xC080FF40u : uint32_t(random());
            std::memcpy(picture.Row(y) + x * 4, &c, 4);
        }
    device.UploadLevel(texture, 0, picture);
    device.Clear(0xFF305070u);
    std::uniform_real_distribution<float> pos(-15.0f, 100.0f), depth(0.5f, 3.0f),
        coord(-0.3f, 1.3f);
    for (int32_t i = 0; i < 60; ++i) {
        const bool perspective = i % 3 == 0;
        std::vector<TVertex> tri(3);
        for (TVertex& v : tri) {
            v.w = perspective ? depth(random) : 1.0f;
            v.x = pos(random) * v.w;
            v.y = pos(random) * v.w;
            v.colour = random();
            v.u = coord(random);
            v.v = coord(random);
        }
        // Some keep one colour: flat colours in perspective take the runs too.
        if (i % 5 == 0) tri[1].colour = tri[2].colour = tri[0].colour;
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        state.filter = random() % 2 ? TFilter::Bilinear : TFilter::Point;
        state.blend = TBlendMode(random() % 3);
        state.opacity = random() % 4 == 0 ? 255 : uint8_t(random());
        EXPECT_EQ(device.DrawTriangles(state, tri), TDxResult::Ok);
    }
    // Quads with smooth sides: the pixels along them go one by one through
    // whichever path the quad takes, with their coverage.
    for (int32_t i = 0; i < 24; ++i) {
        const bool perspective = i % 3 == 0;
        TVertex c[4];
        for (int32_t k : {0, 1, 3}) {
            TVertex& v = c[k];
            v.w = perspective ? depth(random) : 1.0f;
            v.x = pos(random) * v.w;
            v.y = pos(random) * v.w;
            v.colour = i % 2 ? 0xFFFFFFFFu : uint32_t(random());
            v.u = coord(random);
            v.v = coord(random);
        }
        // A parallelogram in homogeneous space, as a picture's tiles are.
        c[2] = c[1];
        for (float TVertex::*f : {&TVertex::x, &TVertex::y, &TVertex::w, &TVertex::u, &TVertex::v})
            c[2].*f = c[1].*f + c[3].*f - c[0].*f;
        c[2].colour = c[0].colour;
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        state.filter = random() % 2 ? TFilter::Bilinear : TFilter::Point;
        state.blend = TBlendMode(random() % 3);
        state.opacity = random() % 4 == 0 ? 255 : uint8_t(random());
        state.smoothSides = uint8_t(1 + random() % 15);
        const std::vector<TVertex> quad{c[0], c[1], c[2], c[0], c[2], c[3]};
        EXPECT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
    }
    return AllPixels(device);
}

TEST(SoftDevice, ShadedRuns_AgreeWithPerPixelPathBitForBit) {
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        const std::vector<uint32_t> expect = DrawShadedScene(false, 1, seed);
        ASSERT_EQ(DrawShadedScene(true, 1, seed), expect) << seed;
        ASSERT_EQ(DrawShadedScene(true, 2, seed), expect) << seed;
    }
}

// Draws a 32 x 16 picture, opaque where opaque(x, y) holds and translucent
// elsewhere, once as a plain texture (whose opaque corner lets runs skip
// blending) and once as a render target (which never counts as opaque);
// the two frames must agree.
void ExpectOpaqueCornerDrawsAsBlendingOver(const std::function<bool(int32_t, int32_t)>& opaque) {
    std::vector<uint32_t> results[2];
    for (int32_t run = 0; run < 2; ++run) {
        TSoftDevice device({40, 30});
        const TTextureUsage usage = run == 0 ? TTextureUsage::Managed : TTextureUsage::RenderTarget;
        TTextureHandle texture;
        ASSERT_EQ(device.CreateTexture({32, 16, 1, TTexelFormat::A8R8G8B8, usage}, texture),
                  TDxResult::Ok);
        ql::TDirectBitmap picture(32, 16, ql::PfARGB32());
        std::mt19937 random(9);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                const uint32_t c =
                    opaque(x, y) ? (random() | 0xFF000000u) : (random() & 0x7FFFFFFFu);
                std::memcpy(picture.Row(y) + x * 4, &c, 4);
            }
        if (run == 1) {
            ASSERT_EQ(device.SetRenderTarget(texture), TDxResult::Ok);
        }
        ASSERT_EQ(device.UploadLevel(texture, 0, picture), TDxResult::Ok);
        if (run == 1) {
            ASSERT_EQ(device.SetRenderTarget(0), TDxResult::Ok);
        }
        device.Clear(0xFF204060u);
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = texture;
        for (TFilter filter : {TFilter::Bilinear, TFilter::Point}) {
            state.filter = filter;
            // Slanted, and reaching past the opaque corner on the right and below.
            const TVertex a{0, 0, 0, 1, 0xFFFFFFFFu, -0.05f, 0},
                b{40, 4, 0, 1, 0xFFFFFFFFu, 0.75f, 0};
            const TVertex c{36, 30, 0, 1, 0xFFFFFFFFu, 0.7f, 0.9f},
                d{2, 26, 0, 1, 0xFFFFFFFFu, 0, 0.8f};
            ASSERT_EQ(device.DrawTriangles(state, std::vector<TVertex>{a, b, c, a, c, d}),
                      TDxResult::Ok);
        }
        results[run] = AllPixels(device);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST(SoftDevice, OpaquePictureInTextureCorner_DrawsAsBlendingOver) {
    ExpectOpaqueCornerDrawsAsBlendingOver([](int32_t x, int32_t y) { return x < 20 && y < 11; });
}

TEST(SoftDevice, OpaqueTopRowsThenACorner_DrawAsBlendingOver) {
    // Whole opaque rows first, then rows opaque only on the left.
    ExpectOpaqueCornerDrawsAsBlendingOver(
        [](int32_t x, int32_t y) { return y < 5 || (y < 12 && x < 20); });
    // Opaque rows below a translucent first row give no opaque corner.
    ExpectOpaqueCornerDrawsAsBlendingOver([](int32_t x, int32_t y) { return y > 0 || x > 3; });
}

TEST(SoftDevice, WhollyOpaquePicture_DrawsAsBlendingOver) {
    ExpectOpaqueCornerDrawsAsBlendingOver([](int32_t, int32_t) { return true; });
}

TEST(SoftDevice, TranslucentTexels_ArePremultipliedOnUpload) {
    TSoftDevice device({2, 1});
    TTextureHandle texture;
    ASSERT_EQ(device.CreateTexture({2, 1, 1}, texture), TDxResult::Ok);
    ql::TDirectBitmap picture(2, 1, ql::PfARGB32());
    const uint32_t texels[2] = {0xFF102030u, 0x80FF8040u};
    std::memcpy(picture.Row(0), texels, sizeof texels);
    ASSERT_EQ(device.UploadLevel(texture, 0, picture), TDxResult::Ok);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = texture;
    state.filter = TFilter::Point;
    state.blend = TBlendMode::Replace;
    ASSERT_EQ(device.DrawTriangles(state, Quad(0, 0, 2, 1, 0xFFFFFFFFu)), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 0, 0), 0xFF102030u);
    // 255 * 128 / 255 = 128, 128 * 128 / 255 = 64, 64 * 128 / 255 = 32.
    EXPECT_EQ(PixelAt(device, 1, 0), 0x80804020u);
}

TEST(SoftDevice, RenderTargetUploadedOpaqueThenDrawnTranslucent_StillBlends) {
    TSoftDevice device({8, 8});
    TTextureHandle rt;
    ASSERT_EQ(
        device.CreateTexture({8, 8, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, rt),
        TDxResult::Ok);
    ASSERT_EQ(device.SetRenderTarget(rt), TDxResult::Ok);
    ql::TDirectBitmap white(8, 8, ql::PfARGB32());
    for (int32_t y = 0; y < 8; ++y) std::memset(white.Row(y), 0xFF, 32);
    ASSERT_EQ(device.UploadLevel(rt, 0, white), TDxResult::Ok);
    device.Clear(0x00000000u);
    ASSERT_EQ(device.SetRenderTarget(0), TDxResult::Ok);
    device.Clear(0xFF0000FFu);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = rt;
    ASSERT_EQ(device.DrawTriangles(state, Quad(0, 0, 8, 8, 0xFFFFFFFFu)), TDxResult::Ok);
    EXPECT_EQ(PixelAt(device, 4, 4), 0xFF0000FFu);
}

// Clears are written lazily and only where pixels changed; whatever order
// of clears, scissors, draws, target switches, samplings and uploads, every
// read sees what writing each clear at once would have left.
TEST(SoftDevice, LazyClears_LeaveTheSamePixelsAsImmediateOnes) {
    constexpr int32_t kW = 64, kH = 48, kTex = 64;
    for (int32_t threads : {1, 2}) {
        TSoftDevice device({kW, kH, threads});
        TTextureHandle texture = 0;
        ASSERT_EQ(
            device.CreateTexture(
                {kTex, kTex, 1, TTexelFormat::A8R8G8B8, TTextureUsage::RenderTarget}, texture),
            TDxResult::Ok);
        // The model: both surfaces as they must be.
        std::vector<uint32_t> model[2] = {std::vector<uint32_t>(size_t(kW) * kH, 0),
                                          std::vector<uint32_t>(size_t(kTex) * kTex, 0)};
        const int32_t widths[2] = {kW, kTex}, heights[2] = {kH, kTex};
        int32_t current = 0;
        ql::TRect scissor;
        const uint32_t palette[4] = {0xFF000000u, 0xFF336699u, 0xFFFFFFFFu, 0x00000000u};
        std::mt19937 random(7);
        auto pick = [&](int32_t n) { return int32_t(random() % uint32_t(n)); };
        auto randomRect = [&](int32_t w, int32_t h) {
            const int32_t l = pick(w), t = pick(h);
            return ql::TRect{l, t, l + 1 + pick(w - l), t + 1 + pick(h - t)};
        };
        auto fill = [&](const ql::TRect& rect, uint32_t colour) {
            ql::TRect r = ql::IntersectRect(rect, {0, 0, widths[current], heights[current]});
            if (!scissor.IsEmpty()) r = ql::IntersectRect(r, scissor);
            for (int32_t y = r.top; y < r.bottom; ++y)
                for (int32_t x = r.left; x < r.right; ++x)
                    model[current][size_t(y) * widths[current] + x] = colour;
        };
        for (int32_t step = 0; step < 400; ++step) {
            const int32_t w = widths[current], h = heights[current];
            switch (pick(7)) {
                case 0:
                    current = pick(2);
                    ASSERT_EQ(device.SetRenderTarget(current ? texture : 0), TDxResult::Ok);
                    scissor = {};
                    device.SetScissor(scissor);
                    break;
                case 1:
                    scissor = pick(2) ? ql::TRect{} : randomRect(w, h);
                    device.SetScissor(scissor);
                    break;
                case 2:
                case 3: {
                    const uint32_t colour = palette[pick(4)];
                    ASSERT_EQ(device.Clear(colour), TDxResult::Ok);
                    fill({0, 0, w, h}, colour);
                    break;
                }
                case 4: {
                    const ql::TRect r = randomRect(w, h);
                    const uint32_t colour = palette[pick(3)];
                    TDrawState state;
                    state.blend = TBlendMode::Replace;
                    const auto quad =
                        Quad(float(r.left), float(r.top), float(r.right), float(r.bottom), colour);
                    ASSERT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
                    fill(r, colour);
                    break;
                }
                case 5:
                    if (current == 0) {
                        // The texture copied one texel per pixel onto the back buffer.
                        TDrawState state;
                        state.pipeline = TPipeline::Texture;
                        state.blend = TBlendMode::Replace;
                        state.filter = TFilter::Point;
                        state.textures[0] = texture;
                        TVertex tl{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0},
                            tr{kW, 0, 0, 1, 0xFFFFFFFFu, 1, 0};
                        TVertex br{kW, kH, 0, 1, 0xFFFFFFFFu, 1, float(kH) / kTex};
                        TVertex bl{0, kH, 0, 1, 0xFFFFFFFFu, 0, float(kH) / kTex};
                        const std::vector<TVertex> quad = {tl, tr, br, tl, br, bl};
                        ASSERT_EQ(device.DrawTriangles(state, quad), TDxResult::Ok);
                        ql::TRect r{0, 0, kW, kH};
                        if (!scissor.IsEmpty()) r = ql::IntersectRect(r, scissor);
                        for (int32_t y = r.top; y < r.bottom; ++y)
                            for (int32_t x = r.left; x < r.right; ++x)
                                model[0][size_t(y) * kW + x] = model[1][size_t(y) * kTex + x];
                    } else if (pick(4) == 0) {
                        ql::TDirectBitmap pixels(kTex, kTex, ql::PfARGB32());
                        const uint32_t colour = palette[pick(3)];
                        pixels.FillRect(pixels.Bounds(), colour);
                        ASSERT_EQ(device.UploadLevel(texture, 0, pixels), TDxResult::Ok);
                        std::fill(model[1].begin(), model[1].end(), colour);
                    }
                    break;
                default: {
                    const ql::TRect r = randomRect(w, h);
                    ql::TDirectBitmap pixels(r.Width(), r.Height(), ql::PfARGB32());
                    ASSERT_EQ(device.ReadPixels(r, pixels), TDxResult::Ok);
                    for (int32_t y = r.top; y < r.bottom; ++y)
                        for (int32_t x = r.left; x < r.right; ++x) {
                            uint32_t c;
                            std::memcpy(&c, pixels.Row(y - r.top) + size_t(x - r.left) * 4, 4);
                            ASSERT_EQ(c, model[current][size_t(y) * w + x])
                                << "step " << step << " at " << x << ", " << y << " threads "
                                << threads;
                        }
                }
            }
        }
    }
}

TEST(SmoothEdges, Coverage_IsTheAreaOfThePixelInsideTheSides) {
    // A square from (10, 10) to (20, 20), all sides smooth.
    const TVertex square[4] = {{10, 10}, {20, 10}, {20, 20}, {10, 20}};
    const TSmoothEdges edges = TSmoothEdges::FromQuad(square, 15, 1.0f / 1024);
    ASSERT_EQ(edges.count, 4);
    struct TCase {
        double x, y, coverage;
    } cases[] = {{15, 15, 1},  {10, 15, 0.5},  {10.25, 15, 0.75},
                 {9.5, 15, 0}, {10, 10, 0.25}, {20.5, 20.5, 0}};
    for (const TCase& c : cases)
        EXPECT_NEAR(edges.Coverage(c.x, c.y), c.coverage, 1e-9) << c.x << ", " << c.y;
    // A side at 45 degrees through the centre halves the pixel; a pixel whose
    // corner just touches it stays whole.
    const TVertex diamond[4] = {{0, 10}, {10, 0}, {20, 10}, {10, 20}};
    const TSmoothEdges turned = TSmoothEdges::FromQuad(diamond, 2, 1.0f / 1024);
    ASSERT_EQ(turned.count, 1);
    EXPECT_NEAR(turned.Coverage(5, 5), 0.5, 1e-9);
    EXPECT_NEAR(turned.Coverage(5.5, 5.5), 1.0, 1e-9);
    EXPECT_NEAR(turned.Coverage(4.5, 4.5), 0.0, 1e-9);
    EXPECT_NEAR(turned.Coverage(5.25, 5.25), 0.875, 1e-9);
    // The whole run of a row holds only pixels of coverage 1, and all of
    // them but those whose edge lies right on a side.
    for (int32_t y = 8; y < 22; ++y) {
        int64_t first = 0, last = 0;
        edges.WholeRun(y, first, last);
        for (int32_t x = 5; x < 25; ++x) {
            const bool inRun = x >= first && x < last,
                       whole = edges.Coverage(x + 0.5, y + 0.5) >= 1;
            if (inRun) {
                EXPECT_TRUE(whole) << x << ", " << y;
            }
            if (x >= 11 && x < 19 && y >= 11 && y < 19) {
                EXPECT_TRUE(inRun) << x << ", " << y;
            }
        }
    }
}

TEST(SmoothEdges, FlatQuadsMeetingAtAnUnsmoothSeam_CoverEachPixelOnce) {
    // Two halves of a turned rectangle drawn in Add onto black: every pixel
    // inside adds up to exactly the colour; a seam pixel drawn twice or not
    // at all would show.
    TSoftDevice device({64, 48});
    device.Clear(0xFF000000u);
    const float a = 0.07f;
    auto at = [&](float s, float t) {
        TVertex v;
        v.x = 8 + s * std::cos(a) - t * std::sin(a);
        v.y = 6 + s * std::sin(a) + t * std::cos(a);
        v.colour = 0xFF808080u;
        return v;
    };
    TDrawState state;
    state.blend = TBlendMode::Add;
    // Upper half: smooth but for its bottom; lower half: but for its top.
    state.smoothSides = 1 | 2 | 4;
    const TVertex upper[4] = {at(0, 0), at(45, 0), at(45, 17.3f), at(0, 17.3f)};
    const TVertex lower[4] = {at(0, 17.3f), at(45, 17.3f), at(45, 33), at(0, 33)};
    ASSERT_EQ(device.DrawTriangles(state, std::vector<TVertex>{upper[0], upper[1], upper[2],
                                                               upper[0], upper[2], upper[3]}),
              TDxResult::Ok);
    state.smoothSides = 1 | 4 | 8;
    ASSERT_EQ(device.DrawTriangles(state, std::vector<TVertex>{lower[0], lower[1], lower[2],
                                                               lower[0], lower[2], lower[3]}),
              TDxResult::Ok);
    const std::vector<uint32_t> pixels = AllPixels(device);
    TSmoothEdges whole;
    {
        const TVertex all[4] = {at(0, 0), at(45, 0), at(45, 33), at(0, 33)};
        whole = TSmoothEdges::FromQuad(all, 15, 1.0f / 1024);
    }
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            // Green of the one drawing: 0x80 times the coverage.
            const double expect = 128 * whole.Coverage(x + 0.5, y + 0.5);
            const int32_t green = int32_t((pixels[size_t(y) * 64 + x] >> 8) & 255);
            EXPECT_NEAR(green, expect, 1.0) << x << ", " << y;
        }
}

TEST(RenderDevice, CapsAndShaderLevel) {
    TDeviceCaps caps;
    caps.maxTexWidth = 2048;
    caps.vendor = 0x8086;
    caps.pixelShaderVersion = 0x0200;
    EXPECT_EQ(CapsValue(caps, "maxtexwidth"), 2048);
    EXPECT_EQ(CapsValue(caps, "Vendor"), 32902);
    EXPECT_EQ(CapsValue(caps, "Nothing"), 0);
    EXPECT_EQ(ShaderLevel(caps), 1);
    caps.pixelShaderVersion = 0x0300;
    EXPECT_EQ(ShaderLevel(caps), 2);
    caps.pixelShaderVersion = 0x0104;
    EXPECT_EQ(ShaderLevel(caps), 0);
}

}  // namespace
}  // namespace orb
