#include "QlLib/Platform/qlFontSource.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ql::platform {
namespace {

TEST(FontSource, MissingFamily_FallsBackToDejaVu) {
    auto face = OpenInstalledFont(u"No Such Font At All", false, false);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->FamilyName(), u"DejaVu Sans");
}

TEST(FontSource, BoldAndItalic_PickTheStyledFaces) {
    auto bold = OpenInstalledFont(u"DejaVu Sans", true, false);
    auto italic = OpenInstalledFont(u"DejaVu Sans", false, true);
    ASSERT_TRUE(bold && italic);
    EXPECT_NE(bold->FileName().find("Bold"), std::string::npos);
    EXPECT_NE(italic->FileName().find("Oblique"), std::string::npos);
}

TEST(FontSource, FaceMetrics_DesignSizeIsUnitsPerEmAndAscentIsTheWindowsOne) {
    auto face = OpenInstalledFont(u"DejaVu Sans", false, false);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->FaceMetrics().DesignSize, 2048.0f);
    EXPECT_EQ(face->FaceMetrics().Ascent, 1901);
    EXPECT_EQ(face->FaceMetrics().Descent, 483);
    EXPECT_LT(face->FaceMetrics().UnderlinePosition, 0);  // below the baseline
    EXPECT_GT(face->FaceMetrics().StrikeoutPosition, 0);
}

TEST(FontSource, GlyphMetrics_BlackBoxBoundsTheOutlineAndPartsSumToTheAdvance) {
    auto face = OpenInstalledFont(u"DejaVu Sans", false, false);
    TFontGlyphMetrics m;
    std::vector<TFontPathPoint> path;
    ASSERT_TRUE(face->LoadGlyph(U'H', m, path));
    // "H" is all straight lines, so its points are its ink.
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (const auto& p : path) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    EXPECT_EQ(minX, float(m.OriginX));
    EXPECT_EQ(maxX, float(m.OriginX + m.ExtentX));
    EXPECT_EQ(minY, -float(m.OriginY));  // paths point down, metrics up
    EXPECT_EQ(maxY, float(m.ExtentY - m.OriginY));
    EXPECT_EQ(m.AdvanceA, m.OriginX);
    EXPECT_EQ(m.AdvanceB, m.ExtentX);
    EXPECT_EQ(m.AdvanceA + m.AdvanceB + m.AdvanceC, 1540);  // DejaVu Sans "H" advance
    EXPECT_EQ(m.DesignSize, 2048.0f);
}

TEST(FontSource, Outline_ContoursStartWithMoveAndEndWithClose) {
    auto face = OpenInstalledFont(u"DejaVu Sans", false, false);
    TFontGlyphMetrics m;
    std::vector<TFontPathPoint> path;
    ASSERT_TRUE(face->LoadGlyph(U'o', m, path));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front().type, 0);
    EXPECT_EQ(path.back().type, 9);
    EXPECT_EQ(std::count_if(path.begin(), path.end(), [](auto& p) { return p.type == 0; }), 2);  // outer and hole
    EXPECT_TRUE(std::any_of(path.begin(), path.end(), [](auto& p) { return p.type == 2; }));  // TrueType curves
}

TEST(FontSource, Space_HasAdvanceButNoOutline) {
    auto face = OpenInstalledFont(u"DejaVu Sans", false, false);
    TFontGlyphMetrics m;
    std::vector<TFontPathPoint> path;
    ASSERT_TRUE(face->LoadGlyph(U' ', m, path));
    EXPECT_TRUE(path.empty());
    EXPECT_GT(m.AdvanceA + m.AdvanceB + m.AdvanceC, 0);
}

}  // namespace
}  // namespace ql::platform
