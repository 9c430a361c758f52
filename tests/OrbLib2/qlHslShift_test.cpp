#include "OrbLib2/qlHslShift.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb {
namespace {

TEST(HslShift, Colours_FollowTheShiftArithmetic) {
    struct TCase {
        uint32_t rgb;
        THslShift shift;
        uint32_t expected;
    } cases[] = {
        {0xFF0000, {-90, 0, 0}, 0x8401FF},   // H 0 - 64 wraps to 192
        {0xFF0000, {270, 0, 0}, 0x8401FF},   // 270 x 256 / 360 = 192
        {0xFF0000, {0, -100, 0}, 0x808080},  // S 0: grey at L 128
        {0xFF0000, {0, 0, 100}, 0xFFFFFF},   // L clamped to 255
        {0xFF0000, {0, 0, -100}, 0x000000},
        {0xFF0000, {360, 0, 0}, 0xFF0101},  // a full turn: only the round trip's rounding
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.shift.Hue);
        EXPECT_EQ(HslShiftColour(c.rgb, HslSteps(c.shift)), c.expected);
    }
    // Grey has hue 0; with saturation it takes the shifted hue (64: green-yellow, more red than
    // blue).
    const uint32_t grey = HslShiftColour(0x808080, HslSteps({90, 50, 0}));
    EXPECT_GT(grey >> 16 & 0xFF, grey & 0xFF);
    // Hue 360 and hue 0 are the same shift.
    for (uint32_t rgb : {0x123456u, 0xFEDCBAu, 0x00FF7Fu})
        EXPECT_EQ(HslShiftColour(rgb, HslSteps({360, 10, 5})),
                  HslShiftColour(rgb, HslSteps({0, 10, 5})));
    EXPECT_EQ(HslSteps({-90, 0, 0}).Hue, -64);
    EXPECT_EQ(HslSteps({720, 0, 0}).Hue, 0);
    EXPECT_EQ(HslSteps({0, 1000000, -1000000}).Saturation, 2560);
}

// The fast rows (with their memo of colours) against the plain loop, bit for
// bit, over a dense sample of colours, the edges of the cube and rows of runs.
TEST(HslShift, FastRows_AgreeWithThePlainLoop) {
    std::mt19937 random(1234);
    std::vector<uint32_t> pixels;
    for (uint32_t r : {0u, 1u, 127u, 128u, 254u, 255u})
        for (uint32_t g : {0u, 1u, 127u, 128u, 254u, 255u})
            for (uint32_t b : {0u, 1u, 127u, 128u, 254u, 255u})
                pixels.push_back(0x80000000 | r << 16 | g << 8 | b);
    for (int i = 0; i < 150000; ++i) pixels.push_back(random());
    for (int i = 0; i < 20000; ++i) {  // runs, as faces repeat a column
        const uint32_t p = random();
        for (int k = random() % 9; k >= 0; --k) pixels.push_back(p);
    }
    const THslShift shifts[] = {{-90, 0, 0},     {360, 0, 0},     {45, 20, -10}, {0, -100, 0},
                                {179, 100, 100}, {-360, -37, 63}, {1, 1, 1},     {100000, 5, -5}};
    for (const THslShift& shift : shifts) {
        SCOPED_TRACE(shift.Hue);
        const THslSteps steps = HslSteps(shift);
        std::vector<uint32_t> plain = pixels, fast = pixels;
        HslShiftRowScalar(reinterpret_cast<uint8_t*>(plain.data()), int32_t(plain.size()), steps);
        HslShiftRowFast(reinterpret_cast<uint8_t*>(fast.data()), int32_t(fast.size()), steps);
        for (size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_EQ(fast[i], plain[i]) << std::hex << pixels[i];
            ASSERT_EQ(plain[i] >> 24, pixels[i] >> 24);  // alpha untouched
            ASSERT_EQ(plain[i] & 0xFFFFFF, HslShiftColour(pixels[i], steps));
        }
        // And whole bitmaps, whose memo lives across rows.
        ql::TDirectBitmap a(257, 40, ql::PfARGB32()), b(257, 40, ql::PfARGB32());
        for (int32_t y = 0; y < 40; ++y) {
            std::memcpy(a.Row(y), pixels.data() + size_t(y) * 300, 257 * 4);
            std::memcpy(b.Row(y), pixels.data() + size_t(y) * 300, 257 * 4);
        }
        ASSERT_TRUE(HslShiftBitmap(a, shift, {}, false));
        ASSERT_TRUE(HslShiftBitmap(b, shift, {}, true));
        for (int32_t y = 0; y < 40; ++y)
            ASSERT_EQ(std::memcmp(a.Row(y), b.Row(y), 257 * 4), 0) << y;
    }
}

TEST(HslShift, ProgressHandler_StopsBetweenRows) {
    ql::TDirectBitmap bitmap(4, 10, ql::PfARGB32());
    bitmap.FillRect(bitmap.Bounds(), 0xFFFF0000);
    int rows = 0;
    EXPECT_FALSE(HslShiftBitmap(bitmap, {0, 0, -100}, [&](float) { return ++rows <= 3; }));
    EXPECT_EQ(rows, 4);
    uint32_t shifted, untouched;
    std::memcpy(&shifted, bitmap.Row(2), 4);
    std::memcpy(&untouched, bitmap.Row(3), 4);
    EXPECT_EQ(shifted, 0xFF000000u);
    EXPECT_EQ(untouched, 0xFFFF0000u);
    // Identity shifts ask nothing and change nothing; other formats are refused.
    EXPECT_TRUE(HslShiftBitmap(bitmap, {}, [](float) { return false; }));
    ql::TDirectBitmap rgb(2, 2, ql::PfRGB24());
    EXPECT_FALSE(HslShiftBitmap(rgb, {10, 0, 0}));
}

}  // namespace
}  // namespace orb
