#include "QlLib/VectorGraphics/qlRasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ql {
namespace {

// Coverage of every pixel of a small target.
struct TGrid {
    int32_t width, height;
    std::vector<int32_t> cells;
    int32_t rows = 0;
    TGrid(int32_t w, int32_t h) : width(w), height(h), cells(size_t(w * h), 0) {}
    int32_t At(int32_t x, int32_t y) const { return cells[size_t(y * width + x)]; }
};

void Rect(TOutline& outline, float l, float t, float r, float b, bool clockwise = true) {
    outline.MoveTo({l, t});
    if (clockwise) {
        outline.AddPoint({r, t});
        outline.AddPoint({r, b});
        outline.AddPoint({l, b});
    } else {
        outline.AddPoint({l, b});
        outline.AddPoint({r, b});
        outline.AddPoint({r, t});
    }
    outline.Close();
}

TGrid Fill(TOutline& outline, int32_t w, int32_t h) {
    TGrid grid(w, h);
    outline.RowHandler = [&](int32_t y, const uint16_t* coverage, int32_t first, int32_t last) {
        ++grid.rows;
        for (int32_t x = first; x <= last; ++x) grid.cells[size_t(y * w + x)] = coverage[x];
    };
    TRasterizer().Fill(outline, w, h);
    return grid;
}

TEST(Rasterizer, SquareOnPixelBoundaries_FullPixelsOnlyUnderBothRules) {
    for (bool evenOdd : {false, true}) {
        TOutline outline;
        outline.EvenOdd = evenOdd;
        Rect(outline, 0, 0, 2, 2);
        const TGrid grid = Fill(outline, 4, 4);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(grid.At(x, y), x < 2 && y < 2 ? 256 : 0) << x << "," << y;
    }
}

TEST(Rasterizer, SquareShiftedByHalfPixel_CornersEdgesAndCentre) {
    for (bool evenOdd : {false, true}) {
        TOutline outline;
        outline.EvenOdd = evenOdd;
        Rect(outline, 0.5f, 0.5f, 2.5f, 2.5f);
        const TGrid grid = Fill(outline, 4, 4);
        const int32_t expected[3][3] = {{64, 128, 64}, {128, 256, 128}, {64, 128, 64}};
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 4; ++x)
                EXPECT_EQ(grid.At(x, y), x < 3 && y < 3 ? expected[y][x] : 0) << x << "," << y;
    }
}

TEST(Rasterizer, OverlapOfSameDirection_FilledNonZeroHoleEvenOdd) {
    for (bool evenOdd : {false, true}) {
        TOutline outline;
        outline.EvenOdd = evenOdd;
        Rect(outline, 0, 0, 4, 4);
        Rect(outline, 2, 0, 6, 4);
        const TGrid grid = Fill(outline, 6, 4);
        EXPECT_EQ(grid.At(0, 1), 256);
        EXPECT_EQ(grid.At(3, 1), evenOdd ? 0 : 256);
        EXPECT_EQ(grid.At(5, 1), 256);
    }
}

TEST(Rasterizer, OppositeDirections_InnerContourCutsAHoleUnderBothRules) {
    for (bool evenOdd : {false, true}) {
        TOutline outline;
        outline.EvenOdd = evenOdd;
        Rect(outline, 0, 0, 6, 6, true);
        Rect(outline, 2, 2, 4, 4, false);
        const TGrid grid = Fill(outline, 6, 6);
        EXPECT_EQ(grid.At(1, 3), 256);
        EXPECT_EQ(grid.At(3, 3), 0);
    }
}

TEST(Rasterizer, DisjointShapesOfOppositeDirection_BothFilledNonZero) {
    // Non-zero winding fills wherever the winding is not 0, whatever its sign.
    TOutline outline;
    Rect(outline, 0, 0, 2, 2, true);
    Rect(outline, 4, 0, 6, 2, false);
    const TGrid grid = Fill(outline, 6, 2);
    EXPECT_EQ(grid.At(0, 0), 256);
    EXPECT_EQ(grid.At(5, 0), 256);
    EXPECT_EQ(grid.At(3, 0), 0);
}

TEST(Rasterizer, ShapeBeyondTarget_ClippedWithoutTouchingOutside) {
    TOutline outline;
    Rect(outline, -10, -10, 1.5f, 30);
    const TGrid grid = Fill(outline, 3, 3);
    EXPECT_EQ(grid.At(0, 0), 256);
    EXPECT_EQ(grid.At(1, 2), 128);
    EXPECT_EQ(grid.At(2, 2), 0);
    EXPECT_EQ(grid.rows, 3);
}

TEST(Rasterizer, HugeAndNaNCoordinates_SaturateWithoutFault) {
    TOutline outline;
    outline.MoveTo({-1e30f, -1e30f});
    outline.AddPoint({1e30f, 3});
    outline.AddPoint({std::numeric_limits<float>::quiet_NaN(), 1e30f});
    outline.AddPoint({std::numeric_limits<float>::infinity(), 2});
    const TGrid grid = Fill(outline, 8, 8);
    for (int32_t value : grid.cells) {
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 256);
    }
    EXPECT_EQ(ToSubPixel(1e30), INT32_MAX);
    EXPECT_EQ(ToSubPixel(-1e30), INT32_MIN);
    EXPECT_EQ(ToSubPixel(std::nan("")), 0);
    EXPECT_EQ(ToSubPixel(0.5), 8);
}

TEST(Rasterizer, AddPointWithoutStart_Asserts) {
    TOutline outline;
    EXPECT_THROW(outline.AddPoint({1, 1}), EAssertionFailed);
    outline.MoveTo({0, 0});
    outline.AddPoint({1, 1});
    outline.Close();
    EXPECT_THROW(outline.AddPoint({2, 2}), EAssertionFailed);
}

TEST(Rasterizer, HorizontalEdges_Dropped) {
    TOutline outline;
    Rect(outline, 0, 0, 2, 2);
    EXPECT_EQ(outline.Edges().size(), 2u);
}

}  // namespace
}  // namespace ql
