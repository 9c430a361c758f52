#include "OrbLib2/MaskGenerator.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

uint8_t Grey(const ql::TBitmap& mask, int32_t x, int32_t y) { return mask.Row(y)[x * 3]; }

TEST(MaskGenerator, Grey_InsideSoftBandAndOutside) {
    EXPECT_EQ(MaskGrey(30, 50, 10), 255);
    EXPECT_EQ(MaskGrey(51, 50, 10), 0);
    EXPECT_EQ(MaskGrey(45, 50, 10), 127);  // half way: 255 - round(0.5 * 255)
    EXPECT_EQ(MaskGrey(42.5, 50, 10), 255 - 32);  // S(0.25) = 0.125
    EXPECT_EQ(MaskGrey(50, 50, 0), 0);     // a hard edge never divides 0 by 0
    EXPECT_EQ(MaskGrey(49.9, 50, 0), 255);
}

TEST(MaskGenerator, EllipseSoftnessZero_HardEdge) {
    auto mask = TMaskGenerator().Generate({41, 21, msEllipse, 0, 0});
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->PixelFormat()->Name(), "R8G8B8");
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 41; ++x) {
            const uint8_t g = Grey(*mask, x, y);
            EXPECT_TRUE(g == 0 || g == 255);
            EXPECT_EQ(mask->Row(y)[x * 3 + 1], g);
        }
    EXPECT_EQ(Grey(*mask, 20, 10), 255);
    EXPECT_EQ(Grey(*mask, 0, 0), 0);
}

TEST(MaskGenerator, EllipseSoftnessHundred_FadesFromTheCentre) {
    auto mask = TMaskGenerator().Generate({101, 101, msEllipse, 100, 0});
    EXPECT_EQ(Grey(*mask, 50, 50), 255);
    for (int32_t x = 51; x < 100; ++x) EXPECT_LE(Grey(*mask, x, 50), Grey(*mask, x - 1, 50));
    EXPECT_LT(Grey(*mask, 52, 50), 255);
    EXPECT_EQ(Grey(*mask, 100, 50), 0);
}

TEST(MaskGenerator, RoundedRect_CornersCutInteriorWhite) {
    auto mask = TMaskGenerator().Generate({100, 60, msRoundedRect, 0, 50});  // corner radius 15
    EXPECT_EQ(Grey(*mask, 0, 0), 0);
    EXPECT_EQ(Grey(*mask, 99, 59), 0);
    EXPECT_EQ(Grey(*mask, 50, 30), 255);
    EXPECT_EQ(Grey(*mask, 50, 1), 255);  // top band, inside the edge
    EXPECT_EQ(Grey(*mask, 3, 3), 0);     // outside the corner circle
    EXPECT_EQ(Grey(*mask, 10, 10), 255);
}

TEST(MaskGenerator, Text_RoundTripsAndNonNumbersReadAsZero) {
    const TMaskParams p{120, 80, msEllipse, 12.5f, 30};
    EXPECT_EQ(MaskParamsText(p), u"PresetedMask: 120:80:1:12.5:30");
    const TMaskParams back = ParseMaskParams(MaskParamsText(p));
    EXPECT_EQ(back.Width, 120);
    EXPECT_EQ(back.Shape, 1);
    EXPECT_EQ(back.Softness, 12.5f);
    const TMaskParams junk = ParseMaskParams(u"PresetedMask: abc:80:x");
    EXPECT_EQ(junk.Width, 0);
    EXPECT_EQ(junk.Height, 80);
    EXPECT_EQ(junk.Shape, 0);
    EXPECT_EQ(junk.Corner, 0);
    EXPECT_FALSE(TMaskGenerator().Generate(junk));
}

}  // namespace
}  // namespace orb
