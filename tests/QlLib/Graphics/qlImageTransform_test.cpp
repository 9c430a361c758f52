#include "QlLib/Graphics/qlImageTransform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ql {
namespace {

TEST(HalveBitmap, BinomialFilter_ClampsAtTheEdges) {
    // One bright pixel at (2, 2) of a 5x5 grey picture, in every channel.
    auto source = CreateBitmap(5, 5, PfARGB32());
    for (int32_t y = 0; y < 5; ++y) std::memset(source->Row(y), 16, 5 * 4);
    std::memset(source->Row(2) + 2 * 4, 255, 4);
    auto half = HalveBitmap(*source);
    ASSERT_EQ(half->Width(), 3);
    ASSERT_EQ(half->Height(), 3);
    // Centre (1,1) sits on source (2,2): weight 4 of 16 on the bright pixel.
    EXPECT_EQ(half->Row(1)[4], (255 * 4 + 16 * 12) / 16);
    // (0,0) sits on (0,0): the clamped neighbours are all grey.
    EXPECT_EQ(half->Row(0)[0], 16);
    // (1,0) sits on (2,0): the bright pixel is outside its 3x3 window.
    EXPECT_EQ(half->Row(0)[4], 16);
    // Alpha is filtered like the colours.
    EXPECT_EQ(half->Row(1)[7], (255 * 4 + 16 * 12) / 16);
}

TEST(HalveBitmap, OddSizes_RoundUpAndProgressCanStop) {
    auto source = CreateBitmap(7, 1, PfRGB24());
    std::memset(source->Row(0), 200, 21);
    auto half = HalveBitmap(*source);
    EXPECT_EQ(half->Width(), 4);
    EXPECT_EQ(half->Height(), 1);
    EXPECT_EQ(half->Row(0)[9], 200);
    EXPECT_EQ(HalveBitmap(*source, [](float) { return false; }), nullptr);
}

}  // namespace
}  // namespace ql
