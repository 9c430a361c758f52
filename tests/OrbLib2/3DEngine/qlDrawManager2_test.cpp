#include "OrbLib2/3DEngine/qlDrawManager2.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

std::vector<uint32_t> Corners(int32_t type, uint32_t c1, uint32_t c2, int32_t opacity = 100) {
    TBoxParams params;
    params.fillType = type;
    params.colour1 = c1;
    params.colour2 = c2;
    params.opacity = opacity;
    uint32_t corners[4];
    BoxCornerColours(params, corners);
    return {corners[0], corners[1], corners[2], corners[3]};
}

TEST(BoxFill, DiagonalTypes_PutMidColourBesideAndRotateOneCornerPerType) {
    const uint32_t c1 = 0xFF0000FEu, c2 = 0x0000FF00u, mid = 0x7F007F7Fu;
    EXPECT_EQ(Corners(0, c1, c2), (std::vector<uint32_t>{c1, mid, c2, mid}));
    EXPECT_EQ(Corners(1, c1, c2), (std::vector<uint32_t>{mid, c1, mid, c2}));
    EXPECT_EQ(Corners(2, c1, c2), (std::vector<uint32_t>{c2, mid, c1, mid}));
    EXPECT_EQ(Corners(3, c1, c2), (std::vector<uint32_t>{mid, c2, mid, c1}));
}

TEST(BoxFill, LinearTypes_PairNeighbouringCornersAndRotate) {
    // Colour 1 on the left, top, right, bottom: "VGradient" (5) runs down,
    // "HGradient" (6) from the right.
    const uint32_t c1 = 0xFF112233u, c2 = 0xFF445566u;
    EXPECT_EQ(Corners(4, c1, c2), (std::vector<uint32_t>{c1, c2, c2, c1}));
    EXPECT_EQ(Corners(kVerticalGradientFill, c1, c2), (std::vector<uint32_t>{c1, c1, c2, c2}));
    EXPECT_EQ(Corners(kHorizontalGradientFill, c1, c2), (std::vector<uint32_t>{c2, c1, c1, c2}));
    EXPECT_EQ(Corners(7, c1, c2), (std::vector<uint32_t>{c2, c2, c1, c1}));
}

TEST(BoxFill, SolidAndUnknownTypes_FillEveryCornerWithFirstColour) {
    const uint32_t c1 = 0xFF112233u;
    EXPECT_EQ(Corners(8, c1, 0), (std::vector<uint32_t>(4, c1)));
    EXPECT_EQ(Corners(-3, c1, 0), (std::vector<uint32_t>(4, c1)));
    EXPECT_EQ(Corners(1000, c1, 0), (std::vector<uint32_t>(4, c1)));
}

TEST(BoxFill, Opacity_ScalesAlphaRoundedAndClampsAboveFullToFull) {
    EXPECT_EQ(Corners(8, 0xFF102030u, 0, 50)[0], 0x80102030u);  // 127.5 rounds up
    EXPECT_EQ(Corners(8, 0x7F102030u, 0, 100)[0], 0x7F102030u);
    // More than 100 percent would push alpha past the colour's own.
    EXPECT_EQ(Corners(8, 0x7F102030u, 0, 250)[0], 0x7F102030u);
}

TEST(DrawRects, GrowRect_AddsTwiceTheDeltaPlusOne) {
    const ql::TRect grown = GrowRect({10, 20, 30, 40}, 2, 3);
    EXPECT_EQ(grown.Width(), 20 + 5);
    EXPECT_EQ(grown.Height(), 20 + 7);
    EXPECT_EQ(grown.left, 8);
    EXPECT_EQ(grown.top, 17);
}

TEST(DrawItem, IsVisible_WhenEitherFlagIsSet) {
    TDrawItem item;
    EXPECT_FALSE(item.IsVisible());
    item.forcedVisible = true;
    EXPECT_TRUE(item.IsVisible());
}

}  // namespace
}  // namespace orb
