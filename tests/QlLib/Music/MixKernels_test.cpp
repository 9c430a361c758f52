#include "QlLib/Music/MixKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace ql {
namespace {

TEST(MixKernels, FloatToPcm16_ClampsRangeAndNaN) {
    EXPECT_EQ(FloatToPcm16(std::nanf("")), 0);
    EXPECT_EQ(FloatToPcm16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(FloatToPcm16(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(FloatToPcm16(1e9f), 32767);
    EXPECT_EQ(FloatToPcm16(-1e9f), -32768);
    EXPECT_EQ(FloatToPcm16(32766.6f), 32767);
    EXPECT_EQ(FloatToPcm16(-2.5f), -2);  // to nearest, ties to even
    EXPECT_EQ(FloatToPcm16(2.6f), 3);
}

TEST(MixKernels, RampCutIntoBlocks_EqualsOneRamp) {
    std::vector<int16_t> src(2 * 1000, 12000);
    std::vector<float> whole(2000, 0), parts(2000, 0);
    TGainRamp ramp{0.0, 1.0 / 441, 0, 0.5f};
    MixAddRamp(whole.data(), src.data(), 1000, ramp);
    for (int start = 0; start < 1000; start += 97) {
        TGainRamp part = ramp;
        part.First = start;
        MixAddRamp(parts.data() + 2 * start, src.data(), std::min(97, 1000 - start), part);
    }
    EXPECT_EQ(whole, parts);
    EXPECT_EQ(whole[0], 0.0f);
    EXPECT_EQ(whole[2 * 441], 6000.0f);
    EXPECT_EQ(whole[2 * 999], 6000.0f);
}

TEST(MixKernels, FadeOutFromHalf_ReachesZeroAndStays) {
    TGainRamp ramp{0.5, -1.0 / 100, 0, 1.0f};
    EXPECT_DOUBLE_EQ(ramp.GainAt(0), 0.5);
    EXPECT_DOUBLE_EQ(ramp.GainAt(50), 0.0);
    EXPECT_DOUBLE_EQ(ramp.GainAt(80), 0.0);
}

}  // namespace
}  // namespace ql
