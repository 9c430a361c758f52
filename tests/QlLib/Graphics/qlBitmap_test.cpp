#include "QlLib/Graphics/qlBitmap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "QlLib/Graphics/FastDIB.h"
#include "QlLib/Graphics/SysBitmap.h"

namespace ql {
namespace {

std::unique_ptr<TDirectBitmap> Numbered(int32_t w, int32_t h, const char* format) {
    auto b = std::make_unique<TDirectBitmap>(w, h, FindPixelFormat(format));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < w * b->BytesPerPixel(); ++i) b->Row(y)[i] = uint8_t(y * 16 + i);
    return b;
}

TEST(DirectBitmap, Create_NonPositiveSizeIsAssertion) {
    EXPECT_THROW(TDirectBitmap(0, 5, PfRGB24()), EAssertionFailed);
    EXPECT_THROW(TDirectBitmap(5, -1, PfRGB24()), EAssertionFailed);
}

TEST(DirectBitmap, Create_HugeSizeIsRefusedBeforeAllocating) {
    EXPECT_THROW(TDirectBitmap(65535, 65535, PfARGB32()), EBitmapError);
    EXPECT_THROW(TDirectBitmap(100000, 1, PfARGB32()), EBitmapError);
    EXPECT_THROW(CheckedBitmapBytes(int64_t(1) << 31, 2, 4), EBitmapError);
}

TEST(DirectBitmap, FillRect_SixteenBitFormatsKeepRedWhereTheNameSaysIt) {
    // "B5G6R5": blue in the top five bits, red in the low five.
    TDirectBitmap b(2, 1, FindPixelFormat("B5G6R5"));
    b.FillRect(b.Bounds(), 0xFFFF0000);  // pure red
    const uint16_t v = uint16_t(b.Row(0)[0] | (b.Row(0)[1] << 8));
    EXPECT_EQ(v, 0x001F);
    TDirectBitmap r(1, 1, FindPixelFormat("R5G6B5"));
    r.FillRect(r.Bounds(), 0xFFFF0000);
    EXPECT_EQ(uint16_t(r.Row(0)[0] | (r.Row(0)[1] << 8)), 0xF800);
}

TEST(DirectBitmap, FillRect_PerFormatSize) {
    TDirectBitmap grey(3, 1, FindPixelFormat("Y8"));
    grey.FillRect(grey.Bounds(), 0x00306090);
    EXPECT_EQ(grey.Row(0)[2], (0x30 + 0x60 + 0x90) / 3);
    TDirectBitmap rgb(3, 2, PfRGB24());
    rgb.FillRect({1, 1, 9, 9}, 0x00112233);
    EXPECT_EQ(rgb.Row(1)[3], 0x33);
    EXPECT_EQ(rgb.Row(1)[5], 0x11);
    EXPECT_EQ(rgb.Row(0)[3], 0);
    EXPECT_EQ(rgb.Row(1)[0], 0);
    TDirectBitmap bgr(1, 1, FindPixelFormat("B8G8R8"));
    bgr.FillRect(bgr.Bounds(), 0x00112233);
    EXPECT_EQ(bgr.Row(0)[0], 0x11);
}

TEST(SysBitmap, FillRect_WideRowsUseRepeatedPatternAndReportEnd) {
    auto direct = std::make_unique<TDirectBitmap>(2000, 3, PfRGB24());
    TSysDirectWrapper b(std::move(direct));
    std::vector<float> calls;
    b.SetProgress([&](float f) { calls.push_back(f); return true; });
    b.FillRect({5, 0, 1999, 3}, 0xFF0A0B0C);
    for (int32_t x = 5; x < 1999; ++x) ASSERT_EQ(b.Row(2)[3 * x], 0x0C) << x;
    EXPECT_EQ(b.Row(2)[3 * 1999], 0);
    EXPECT_EQ(b.Row(0)[3 * 4], 0);
    EXPECT_EQ(calls, std::vector<float>{1.0f});
}

TEST(Bitmap, CopyRect_ClippedLeftShiftsDestination) {
    auto src = Numbered(4, 4, "R8G8B8");
    TDirectBitmap dst(4, 4, PfRGB24());
    EXPECT_TRUE(dst.CopyRect({-2, 0, 2, 1}, *src, {0, 0}));
    EXPECT_EQ(dst.Row(0)[0], 0);
    EXPECT_EQ(dst.Row(0)[6], src->Row(0)[0]);
    EXPECT_EQ(dst.Row(0)[9 + 2], src->Row(0)[5]);
}

TEST(Bitmap, CopyRect_OutsideCopiesNothing) {
    auto src = Numbered(4, 4, "R8G8B8");
    TDirectBitmap dst(4, 4, PfRGB24());
    EXPECT_TRUE(dst.CopyRect({10, 10, 12, 12}, *src, {0, 0}));
    EXPECT_TRUE(dst.CopyRect({0, 0, 4, 4}, *src, {4, 0}));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t i = 0; i < 12; ++i) ASSERT_EQ(dst.Row(y)[i], 0);
}

TEST(Bitmap, CopyRect_ConvertsFormats) {
    auto src = Numbered(3, 2, "R8G8B8");
    TDirectBitmap dst(3, 2, PfARGB32());
    EXPECT_TRUE(dst.CopyRect(src->Bounds(), *src, {0, 0}));
    EXPECT_EQ(dst.Row(1)[4], src->Row(1)[3]);
    EXPECT_EQ(dst.Row(1)[7], 255);
}

TEST(Bitmap, CopyRect_CancelledAtStartCopiesNoRowAndSaysSo) {
    auto src = Numbered(4, 4, "R8G8B8");
    TSysDirectWrapper dst(std::make_unique<TDirectBitmap>(4, 4, PfRGB24()));
    std::vector<float> calls;
    dst.SetProgress([&](float f) { calls.push_back(f); return false; });
    EXPECT_FALSE(dst.CopyRect(src->Bounds(), *src, {0, 0}));
    EXPECT_EQ(calls, (std::vector<float>{0.0f, 1.0f}));
    EXPECT_EQ(dst.Row(0)[1], 0);
}

TEST(Bitmap, CopyRect_CancelledHalfWayKeepsFirstRows) {
    auto src = Numbered(2, 4, "R8G8B8");
    TSysDirectWrapper dst(std::make_unique<TDirectBitmap>(2, 4, PfRGB24()));
    dst.SetProgress([&](float f) { return f < 0.5f; });
    EXPECT_FALSE(dst.CopyRect(src->Bounds(), *src, {0, 0}));
    EXPECT_EQ(dst.Row(1)[1], src->Row(1)[1]);
    EXPECT_EQ(dst.Row(2)[1], 0);
}

TEST(Bitmap, CopyRect_WithinOneBitmapDownwardKeepsSource) {
    auto b = Numbered(1, 4, "Y8");
    EXPECT_TRUE(b->CopyRect({0, 0, 1, 3}, *b, {0, 1}));
    EXPECT_EQ(b->Row(1)[0], 0);
    EXPECT_EQ(b->Row(2)[0], 16);
    EXPECT_EQ(b->Row(3)[0], 32);
}

TEST(Bitmap, GetPixels_DirectAssertsAndSysClips) {
    auto b = Numbered(4, 2, "R8G8B8");
    uint8_t buf[12] = {};
    EXPECT_EQ(b->GetPixels(1, 1, 10, buf, 12, 0), 9);
    EXPECT_EQ(buf[0], b->Row(1)[3]);
    try {
        b->GetPixels(4, 0, 1, buf, 12, 0);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("TDirectBitmap.GetPixels (X,Y) out of Bitmap.Size"), std::string::npos);
    }
    EXPECT_THROW(b->GetPixels(0, 0, 4, buf, 12, 3), EAssertionFailed);
    TSysDirectWrapper w(b.get());
    EXPECT_EQ(w.GetPixels(0, 0, 4, buf, 12, 3), 9);
    TFColor colours[4];
    EXPECT_THROW(b->GetPixels24(2, 0, 3, colours, 4, 0), EAssertionFailed);
    b->GetPixels24(1, 0, 3, colours, 4, 1);
    EXPECT_EQ(colours[1].b, b->Row(0)[3]);
    uint32_t words[2];
    EXPECT_THROW(b->GetPixels32(0, 0, 1, words, 2, 0), EAssertionFailed);
}

TEST(Bitmap, Factory_ChainPicksClassByRequest) {
    EXPECT_EQ(CreateBitmap(2, 2, PfRGB24())->BitmapClass(), TBitmapClass::SysDirectWrapper);
    EXPECT_EQ(CreateBitmap(2, 2, PfRGB24(), {}, nullptr, TBitmapClass::Bitmap)->BitmapClass(),
              TBitmapClass::SysDirectWrapper);
    EXPECT_EQ(CreateBitmap(2, 2, PfRGB24(), {}, nullptr, TBitmapClass::DirectBitmap)->BitmapClass(),
              TBitmapClass::DirectBitmap);
    EXPECT_EQ(CreateBitmap(2, 2, PfRGB24(), {}, nullptr, TBitmapClass::DibBitmap)->BitmapClass(),
              TBitmapClass::DibBitmap);
    EXPECT_EQ(CreateBitmap(2, 2, FindPixelFormat("B8G8R8"), {}, nullptr, TBitmapClass::DibBitmap), nullptr);
    EXPECT_EQ(CreateBitmap(2, 2, PfRGB24(), {}, nullptr, TBitmapClass::CropBitmap), nullptr);
}

TEST(Bitmap, Clone_CopiesPixelsAndClass) {
    auto src = Numbered(5, 3, "A8R8G8B8");
    auto copy = src->Clone();
    ASSERT_EQ(copy->BitmapClass(), TBitmapClass::DirectBitmap);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(copy->Row(y), src->Row(y), 20), 0);
}

TEST(Bitmap, ChooseMipLevel_SmallestLevelStillAtLeastTheBox) {
    EXPECT_EQ(ChooseMipLevel(1000, 800, 300, 300), 1);
    EXPECT_EQ(ChooseMipLevel(200, 100, 300, 300), 0);
    EXPECT_EQ(ChooseMipLevel(4000, 3000, 100, 100), 4);
    const TPoint s = MipLevelSize(4000, 3000, 4);
    EXPECT_GE(s.x, 100);
    EXPECT_GE(s.y, 100);
    EXPECT_EQ(MipLevelSize(5, 3, 1), (TPoint{3, 2}));
}

}  // namespace
}  // namespace ql
