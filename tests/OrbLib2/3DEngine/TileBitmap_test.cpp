#include "OrbLib2/3DEngine/TileBitmap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orb {
namespace {

std::unique_ptr<ql::TDirectBitmap> Numbered(int32_t w, int32_t h) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = 0xFF000000u | uint32_t(y) << 8 | uint32_t(x);
            std::memcpy(bitmap->Row(y) + x * 4, &c, 4);
        }
    return bitmap;
}

uint32_t ViewPixel(const TTileBitmap& view, int32_t x, int32_t y) {
    uint32_t c;
    view.CopyRow(x, y, 1, &c);
    return c;
}

uint32_t At(int32_t x, int32_t y) { return 0xFF000000u | uint32_t(y) << 8 | uint32_t(x); }

TEST(TileBitmap, Cells_EachGetTheirOwnBorder) {
    auto source = Numbered(7, 4);
    TTileBitmap view(source.get(), nullptr, 2, 2, {0, 0, 7, 4});
    EXPECT_EQ(view.Width(), 7 + 4);
    EXPECT_EQ(view.Height(), 4 + 4);
    // Cell 0 spans columns 0..2 (view 0..4), the last cell takes 3..6 (view 5..10).
    EXPECT_EQ(ViewPixel(view, 0, 0), At(0, 0));
    EXPECT_EQ(ViewPixel(view, 1, 1), At(0, 0));
    EXPECT_EQ(ViewPixel(view, 3, 1), At(2, 0));
    EXPECT_EQ(ViewPixel(view, 4, 1), At(2, 0));
    EXPECT_EQ(ViewPixel(view, 5, 1), At(3, 0));
    EXPECT_EQ(ViewPixel(view, 6, 2), At(3, 1));
    EXPECT_EQ(ViewPixel(view, 10, 7), At(6, 3));
    EXPECT_EQ(ViewPixel(view, 9, 4), At(6, 2));
}

TEST(TileBitmap, SingleCell_IsTheRectangleItself) {
    auto source = Numbered(9, 6);
    TTileBitmap view(nullptr, std::move(source), 1, 1, {2, 1, 7, 5});
    EXPECT_EQ(view.Width(), 5);
    EXPECT_EQ(view.Height(), 4);
    EXPECT_EQ(ViewPixel(view, 0, 0), At(2, 1));
    EXPECT_EQ(ViewPixel(view, 4, 3), At(6, 4));
}

TEST(TileBitmap, RectangleOutsideSource_IsAnAssertion) {
    auto source = Numbered(4, 4);
    EXPECT_THROW(TTileBitmap(source.get(), nullptr, 1, 1, {0, 0, 5, 4}), ql::EAssertionFailed);
    EXPECT_THROW(TTileBitmap(source.get(), nullptr, 1, 1, {2, 2, 2, 3}), ql::EAssertionFailed);
}

}  // namespace
}  // namespace orb
