#include "OrbLib2/OrbViewer/qlOrbFramePacing.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(FramePacing, MedianAndPercentileOfTheIntervals) {
    TFramePacing pacing;
    EXPECT_EQ(pacing.Median(), 0);
    // 99 frames 16 ms apart and one late by 34 ms: the median stays, the
    // 99th percentile of 100 intervals is the slowest but one.
    double t = 1000;
    pacing.Note(t);
    for (int i = 0; i < 99; ++i) pacing.Note(t += 16);
    pacing.Note(t += 50);
    EXPECT_EQ(pacing.Count(), 101u);
    EXPECT_FLOAT_EQ(pacing.Median(), 16);
    EXPECT_FLOAT_EQ(pacing.Percentile99(), 16);
    pacing.Note(t += 50);
    EXPECT_FLOAT_EQ(pacing.Percentile99(), 50);
    EXPECT_NE(pacing.Summary().find("102 frames, interval median 16.0 ms"), std::string::npos)
        << pacing.Summary();
}

}  // namespace
}  // namespace orb
