#include "QlLib/VectorGraphics/qlRasterizerUtils.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

uint32_t PixelAt(const TBitmap& bitmap, int32_t x, int32_t y) {
    const uint8_t* p = bitmap.Row(y) + size_t(x) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(RasterHelper, PaintingMisuse_Asserts) {
    TRasterHelper helper;
    EXPECT_THROW(helper.BeginPaint(0, 5, 0), EAssertionFailed);
    EXPECT_THROW(helper.EndPaint(), EAssertionFailed);
    helper.BeginPaint(2, 2, 0);
    EXPECT_THROW(helper.BeginPaint(2, 2, 0), EAssertionFailed);
    EXPECT_TRUE(helper.EndPaint());
}

TEST(RasterHelper, PartialCoverage_ScalesTheColoursAlpha) {
    TRasterHelper helper;
    helper.BeginPaint(4, 4, 0x00FF0000);
    helper.SetColour(0xFFFF0000);
    const TPointF square[4] = {{0.5f, 0.5f}, {2.5f, 0.5f}, {2.5f, 2.5f}, {0.5f, 2.5f}};
    helper.FillPolygon(square, 4);
    auto bitmap = helper.EndPaint();
    EXPECT_EQ(PixelAt(*bitmap, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(*bitmap, 1, 0) >> 24, (128u * 255) >> 8);
    EXPECT_EQ(PixelAt(*bitmap, 0, 0) >> 24, (64u * 255) >> 8);
    EXPECT_EQ(PixelAt(*bitmap, 3, 3), 0x00FF0000u);
}

TEST(RasterHelper, Blend_SourceOverDestination) {
    uint8_t pixel[4] = {0, 0, 255, 255};  // opaque red
    BlendPixel(pixel, 0x800000FF);        // half blue
    EXPECT_EQ(pixel[3], 255);
    EXPECT_NEAR(pixel[0], 128, 1);
    EXPECT_NEAR(pixel[2], 127, 1);
}

TEST(RasterHelper, PathWithCurvesAndMatrix_FillsTheMappedShape) {
    TRasterHelper helper;
    helper.BeginPaint(20, 20, 0);
    helper.SetColour(0xFF000000);
    // A unit square with a bulging quadratic right side, scaled by 10.
    const TPath path = {{0, 0, ptMoveTo}, {1, 0, ptLineTo}, {1.5f, 0.5f, ptQuadTo}, {1, 1, ptQuadTo},
                        {0, 1, ptLineTo}, {0, 0, ptClose}};
    helper.SetMatrix({10, 0, 0, 10, 2, 2});
    helper.FillPath(path);
    auto bitmap = helper.EndPaint();
    EXPECT_EQ(PixelAt(*bitmap, 5, 5) >> 24, 255u);
    EXPECT_EQ(PixelAt(*bitmap, 13, 7) >> 24, 255u);  // inside the bulge
    EXPECT_EQ(PixelAt(*bitmap, 16, 7) >> 24, 0u);    // beyond its peak at 14.5
    EXPECT_EQ(PixelAt(*bitmap, 1, 1) >> 24, 0u);
}

TEST(RasterHelper, UnknownPathType_Raises) {
    TRasterHelper helper;
    helper.BeginPaint(4, 4, 0);
    const TPath path = {{0, 0, ptMoveTo}, {1, 1, 7}};
    try {
        helper.FillPath(path);
        FAIL();
    } catch (const EVectorPathError& e) {
        EXPECT_EQ(e.Message(), "Unknown Path Command");
    }
}

TEST(RasterHelper, CurveWithoutItsPoints_EndsTheContourQuietly) {
    TRasterHelper helper;
    helper.BeginPaint(4, 4, 0);
    EXPECT_NO_THROW(helper.FillPath({{0, 0, ptMoveTo}, {3, 0, ptLineTo}, {3, 3, ptCubicTo}, {0, 3, ptCubicTo}}));
    EXPECT_NO_THROW(helper.FillPath({{1, 1, ptQuadTo}}));
}

TEST(RasterHelper, StrokedPolyline_BandOfTheStrokeWidth) {
    TRasterHelper helper;
    helper.BeginPaint(12, 10, 0);
    helper.SetColour(0xFF000000);
    helper.SetStrokeWidth(2);
    const TPointF line[2] = {{1, 5}, {11, 5}};
    helper.FillPolygon(line, 2);
    auto bitmap = helper.EndPaint();
    EXPECT_EQ(PixelAt(*bitmap, 5, 4) >> 24, 255u);
    EXPECT_EQ(PixelAt(*bitmap, 5, 5) >> 24, 255u);
    EXPECT_EQ(PixelAt(*bitmap, 5, 3) >> 24, 0u);
    EXPECT_EQ(PixelAt(*bitmap, 5, 6) >> 24, 0u);
}

TEST(RasterHelper, Gradient_RunsBetweenItsEndColours) {
    TRasterHelper helper;
    helper.BeginPaint(10, 1, 0);
    helper.SetGradient(TLinearGradient{{0, 0}, {10, 0}, 0xFF000000, 0xFF0000FF});
    const TPointF all[4] = {{0, 0}, {10, 0}, {10, 1}, {0, 1}};
    helper.FillPolygon(all, 4);
    auto bitmap = helper.EndPaint();
    EXPECT_LT(PixelAt(*bitmap, 0, 0) & 0xFF, 20u);
    EXPECT_GT(PixelAt(*bitmap, 9, 0) & 0xFF, 235u);
    EXPECT_NEAR(double(PixelAt(*bitmap, 5, 0) & 0xFF), 140, 2);
}

}  // namespace
}  // namespace ql
