#include "QlLib/Graphics/SysBitmap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "QlLib/Graphics/FastDIB.h"

namespace ql {
namespace {

std::unique_ptr<TSysDirectWrapper> Numbered(int32_t w, int32_t h) {
    auto b = std::make_unique<TSysDirectWrapper>(std::make_unique<TDirectBitmap>(w, h, PfARGB32()));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) std::memset(b->Row(y) + 4 * x, y * 16 + x, 4);
    return b;
}

TEST(CropBitmap, RowsPointIntoSourceAtRectangle) {
    auto src = Numbered(8, 6);
    TCropBitmap crop(*src, {2, 1, 5, 4});
    EXPECT_EQ(crop.Width(), 3);
    EXPECT_EQ(crop.Height(), 3);
    EXPECT_EQ(crop.Row(0)[0], 1 * 16 + 2);
    crop.FillRect(crop.Bounds(), 0);
    EXPECT_EQ(src->Row(1)[4 * 2], 0);
    EXPECT_EQ(src->Row(1)[4 * 5], 16 + 5);
}

TEST(CropBitmap, RectanglePastSourceIsClipped) {
    auto src = Numbered(8, 6);
    TCropBitmap crop(*src, {6, 4, 20, 20});
    EXPECT_EQ(crop.Width(), 2);
    EXPECT_EQ(crop.Height(), 2);
}

TEST(CropBitmap, EmptyCropIsAssertion) {
    auto src = Numbered(8, 6);
    try {
        TCropBitmap crop(*src, {8, 0, 10, 2});
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(e.Message().find(".Create - Bitmap is Empty"), std::string::npos);
    }
}

TEST(CropBitmap, OwningCropKeepsSourceAlive) {
    TCropBitmap crop(Numbered(4, 4), {1, 1, 3, 3});
    EXPECT_EQ(crop.Row(1)[0], 2 * 16 + 1);
    auto clone = crop.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->Row(1)[0], 2 * 16 + 1);
}

TEST(SysBitmap, RowCountMustMatchHeight) {
    uint8_t row[4];
    EXPECT_THROW(TSysBitmap(1, 2, PfARGB32(), TScanLines{row}), EAssertionFailed);
    TRefBitmap ok(1, 1, PfARGB32(), TScanLines{row});
    EXPECT_EQ(ok.Row(0), row);
}

TEST(SysDirectWrapper, NullBitmapIsAssertion) {
    EXPECT_THROW(TSysDirectWrapper(static_cast<TDirectBitmap*>(nullptr)), EAssertionFailed);
}

TEST(DibBitmap, SeesBottomUpRowsTopDown) {
    auto dib = std::make_unique<TFastDIB>(3, 2, 24);
    EXPECT_EQ(dib->Stride(), 12);
    TFastDIB* raw = dib.get();
    TDibBitmap b(std::move(dib));
    EXPECT_EQ(b.PixelFormat(), PfRGB24());
    EXPECT_EQ(b.Row(0), raw->DibRow(1));
    EXPECT_EQ(b.Row(1), raw->DibRow(0));
}

TEST(DibBitmap, SixteenBitFillKeepsRedInTopBits) {
    TFastDIB dib(2, 1, 16);
    TDibBitmap b(&dib);
    b.FillRect(b.Bounds(), 0xFFFF0000);
    EXPECT_EQ(uint16_t(dib.DibRow(0)[0] | (dib.DibRow(0)[1] << 8)), 0xF800);
}

}  // namespace
}  // namespace ql
