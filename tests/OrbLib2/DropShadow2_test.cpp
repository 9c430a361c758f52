#include "OrbLib2/DropShadow2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace orb {
namespace {

TEST(CurvesData, Linear_IsTheIdentity) {
    const auto curve = TCurvesData::Builtin(0);
    ASSERT_TRUE(curve);
    for (int i = 0; i < 256; ++i) EXPECT_NEAR(curve->Table[size_t(i)], i, 1) << i;
    EXPECT_STREQ(TCurvesData::BuiltinName(8), "Ring - Double");
    EXPECT_FALSE(TCurvesData::Builtin(10));
    EXPECT_FALSE(TCurvesData::Builtin(-1));
}

TEST(CurvesData, ControlPointsAndEnds_HoldTheirValues) {
    const auto cove = TCurvesData::Builtin(3);  // (1, 63), (148, 110), (192, 255)
    EXPECT_EQ(cove->Table[0], 63);
    EXPECT_EQ(cove->Table[1], 63);
    EXPECT_EQ(cove->Table[148], 110);
    EXPECT_EQ(cove->Table[192], 255);
    EXPECT_EQ(cove->Table[230], 255);
    const auto cone = TCurvesData::Builtin(1);
    EXPECT_EQ(cone->Table[128], 255);
    EXPECT_EQ(cone->Table[0], 0);
    EXPECT_EQ(cone->Table[255], 0);
}

TEST(CurvesData, OvershootingPoints_ClampedBeforeIndexing) {
    TCurvesData curve;
    curve.Points = {{0, 0}, {128, 600}, {300, -50}};
    curve.BuildTable();
    EXPECT_EQ(curve.Table[128], 255);
    EXPECT_EQ(curve.Table[255], 0);
}

TEST(CurvesData, Stream_BigEndianWithCheckedCount) {
    ql::TMemoryStream stream;
    const uint8_t bytes[] = {0, 2, 0, 0, 0, 10, 0, 255, 0, 245};
    stream.WriteBuffer(bytes, sizeof bytes);
    stream.SetPosition(0);
    TCurvesData curve;
    curve.LoadFromStream(stream);
    ASSERT_EQ(curve.Points.size(), 2u);
    EXPECT_EQ(curve.Points[1].y, 245);
    EXPECT_EQ(curve.Table[0], 10);
    ql::TMemoryStream again;
    curve.SaveToStream(again);
    EXPECT_EQ(std::memcmp(again.Memory(), bytes, sizeof bytes), 0);
    const uint8_t one[] = {0, 1, 0, 0, 0, 0};
    ql::TMemoryStream bad;
    bad.WriteBuffer(one, sizeof one);
    bad.SetPosition(0);
    EXPECT_THROW(curve.LoadFromStream(bad), ql::EStreamReadError);
}

std::unique_ptr<ql::TDirectBitmap> Square(int32_t size) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(size, size, ql::FindPixelFormat("A8"));
    for (int32_t y = 0; y < size; ++y) std::fill(bitmap->Row(y), bitmap->Row(y) + size, 255);
    return bitmap;
}

TEST(DropShadow, BlurZero_MarginThreeAndNearlyUnblurred) {
    TDropShadow shadow;
    shadow.SetBlur(0);
    EXPECT_EQ(shadow.BlurFactor(), 1);
    EXPECT_EQ(shadow.Margin(), 3);
    auto out = shadow.Make(*Square(20));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Width(), 26);
    EXPECT_EQ(out->Row(13)[13], 255);
    EXPECT_EQ(out->Row(13)[0], 0);
    EXPECT_LT(out->Row(13)[1], 10);  // two passes of (1/6, 4/6, 1/6) reach two pixels out
}

TEST(DropShadow, LargeBlur_SoftEdgeAndMarginGrows) {
    TDropShadow shadow;
    shadow.SetBlur(9);  // factor 10, margin 25
    auto out = shadow.Make(*Square(100));
    ASSERT_EQ(out->Width(), 150);
    const uint8_t* row = out->Row(75);
    EXPECT_GT(row[75], 240);
    EXPECT_GT(row[25], 60);   // the old edge is half way
    EXPECT_LT(row[25], 200);
    EXPECT_LT(row[2], 10);
    for (int32_t x = 1; x < 75; ++x) EXPECT_GE(row[x] + 2, row[x - 1]) << x;  // rising to the middle
}

TEST(DropShadow, ConeSpread_TurnsTheEdgeIntoARing) {
    const auto cone = TCurvesData::Builtin(1);
    TDropShadow shadow;
    shadow.SetBlur(9);
    shadow.SetCurve(&*cone);
    auto out = shadow.Make(*Square(100));
    const uint8_t* row = out->Row(75);
    EXPECT_LT(row[75], 20);   // inside: transparent
    EXPECT_LT(row[1], 20);    // outside: transparent
    EXPECT_GT(*std::max_element(row + 10, row + 45), 235);  // the falloff's middle: opaque
}

TEST(ShadowProducer, Colouring_ScalesTheColoursAlpha) {
    auto out = TShadowProducer().Produce(*Square(40), 0x80102030, 0);
    ASSERT_TRUE(out);
    const uint8_t* centre = out->Row(23) + 23 * 4;
    EXPECT_EQ(centre[0], 0x30);
    EXPECT_EQ(centre[2], 0x10);
    EXPECT_EQ(centre[3], 0x80);
    EXPECT_EQ(out->Row(0)[3], 0);
    EXPECT_EQ(out->Row(0)[0], 0x30);  // clear pixels keep the colour
}

}  // namespace
}  // namespace orb
