#include "OrbLib2/OrbClasses/qlOrbTextNames.h"

#include <gtest/gtest.h>

#include <limits>

namespace orb {
namespace {

using Lines = std::vector<std::u16string>;

// --- lines -------------------------------------------------------------------

TEST(TextNames_Lines, QuotesAreRemovedAndCaretAmpersandBreaksLines) {
    TTextLines t = SplitTextLines(u"\"First^&Second^&Third\"");
    EXPECT_EQ(t.Lines, (Lines{u"First", u"Second", u"Third"}));
    EXPECT_FALSE(t.WasEmpty);
}

TEST(TextNames_Lines, OtherCaretsStayWithTheirCharacter) {
    EXPECT_EQ(SplitTextLines(u"a^b^^&c").Lines, (Lines{u"a^b^^&c"}));
    EXPECT_EQ(SplitTextLines(u"end^").Lines, (Lines{u"end^"}));
}

TEST(TextNames_Lines, EmptyValueBecomesOneBlank) {
    for (std::u16string_view value : {u"", u"\"\""}) {
        TTextLines t = SplitTextLines(value);
        EXPECT_EQ(t.Lines, (Lines{u" "}));
        EXPECT_TRUE(t.WasEmpty);
    }
}

TEST(TextNames_Lines, LoneQuoteIsKeptAndEmptyMiddleLinesStay) {
    EXPECT_EQ(SplitTextLines(u"\"").Lines, (Lines{u"\""}));
    EXPECT_EQ(SplitTextLines(u"\"open").Lines, (Lines{u"\"open"}));
    EXPECT_EQ(SplitTextLines(u"a^&^&b^&").Lines, (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(SplitTextLines(u"^&").Lines, (Lines{u""}));
}

// --- keys ---------------------------------------------------------------------

TEST(TextNames_Keys, FontStyleNamesAreExactCase) {
    EXPECT_EQ(ParseFontStyle(u"Bold,Italic"), kFontBold | kFontItalic);
    EXPECT_EQ(ParseFontStyle(u"StrikeOut, Underline"), kFontUnderline | kFontStrikeOut);
    EXPECT_EQ(ParseFontStyle(u"bold,ITALIC,Strikeout"), 0);
    EXPECT_EQ(ParseFontStyle(u""), 0);
    // Only four items are looked at.
    EXPECT_EQ(ParseFontStyle(u"x,x,x,x,Bold"), 0);
}

TEST(TextNames_Keys, AlignmentInAnyCaseDefaultsToCentre) {
    EXPECT_EQ(ParseTextAlign(u"left"), kAlignLeft);
    EXPECT_EQ(ParseTextAlign(u"RIGHT"), kAlignRight);
    EXPECT_EQ(ParseTextAlign(u"Center"), kAlignCenter);
    EXPECT_EQ(ParseTextAlign(u"justify"), kAlignCenter);
}

TEST(TextNames_Keys, ColoursAreComponentsOrAWindowsValue) {
    EXPECT_EQ(ParseRgbColor(u"255,128,0"), 0xFFFF8000u);
    EXPECT_EQ(ParseRgbColor(u"300, -1, 7"), 0xFFFF0007u);
    EXPECT_EQ(ParseRgbColor(u"255"), 0xFFFF0000u);  // red in the low byte
    EXPECT_EQ(ParseRgbColor(u"16711680"), 0xFF0000FFu);
    EXPECT_EQ(ParseRgbColor(u"1,2"), std::nullopt);
    EXPECT_EQ(ParseRgbColor(u"1,2,3,4"), std::nullopt);
    EXPECT_EQ(ParseRgbColor(u"white"), std::nullopt);
}

// --- "Text: " names --------------------------------------------------------------

TEST(TextNames_Picture, FixedNotationDropsTrailingZeros) {
    EXPECT_EQ(TrimmedFixed(2.0, 6), u"2");
    EXPECT_EQ(TrimmedFixed(0.25, 6), u"0.25");
    EXPECT_EQ(TrimmedFixed(1.0 / 3, 6), u"0.333333");
    EXPECT_EQ(TrimmedFixed(100, 2), u"100");
    EXPECT_EQ(TrimmedFixed(12.5, 2), u"12.5");
    EXPECT_EQ(TrimmedFixed(-0.0000001, 6), u"0");
    EXPECT_EQ(TrimmedFixed(std::numeric_limits<double>::quiet_NaN(), 6), u"0");
}

TEST(TextNames_Picture, NameListsEveryParameterInOrder) {
    TTextPictureRequest request;
    request.Params.FontName = u"Arial";
    request.Params.Style = kFontBold | kFontStrikeOut;
    request.Params.Alignment = kAlignRight;
    request.Params.LineSpacing = 20;
    request.Params.Color = 0xFF102030;
    request.Scale = 2;
    request.OffsetX = 0.25;
    request.OffsetY = 0;
    request.Lines = {u"Hello", u"World"};
    EXPECT_EQ(TextPictureName(request),
              u"Text: Arial:2:0.25:0:Bold,StrikeOut:2:20:48:32:16:255:\"Hello\"^&\"World\"");
}

TEST(TextNames_Picture, NameReadsBackToTheSameRequest) {
    TTextPictureRequest request;
    request.Params.FontName = u"Times New Roman";
    request.Params.Style = kFontItalic | kFontUnderline;
    request.Params.Alignment = kAlignLeft;
    request.Params.LineSpacing = -30;
    request.Params.Color = 0xFFABCDEF;
    request.Scale = 0.5;
    request.OffsetX = 0.125;
    request.OffsetY = 0.75;
    request.Lines = {u"a: \"quoted\"", u"", u"x\"", u"\"y", u"^^&z"};
    auto parsed = ParseTextPictureName(TextPictureName(request));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Params, request.Params);
    EXPECT_EQ(parsed->Scale, request.Scale);
    EXPECT_EQ(parsed->OffsetX, request.OffsetX);
    EXPECT_EQ(parsed->OffsetY, request.OffsetY);
    EXPECT_EQ(parsed->Lines, request.Lines);
}

TEST(TextNames_Picture, ForeignNamesAreRefused) {
    EXPECT_FALSE(ParseTextPictureName(u"Shadow: 1:2:3"));
    EXPECT_FALSE(ParseTextPictureName(u"Text: Arial:2:0:0::1:0:1:2:3"));
    EXPECT_FALSE(ParseTextPictureName(u"Text: Arial:2:0:0::1:0:1:2:3:255:unquoted"));
    EXPECT_FALSE(ParseTextPictureName(u"Text: Arial:2:0:0::1:0:1:2:300:255:\"a\""));
    EXPECT_FALSE(ParseTextPictureName(u"Text: Arial:x:0:0::1:0:1:2:3:255:\"a\""));
    EXPECT_FALSE(ParseTextPictureName(u"Text: Arial:2:0:0:Heavy:1:0:1:2:3:255:\"a\""));
    EXPECT_TRUE(ParseTextPictureName(u"Text: Arial:2:0:0::1:0:1:2:3:255:\"a\""));
}

// --- "VectTxt2: " names ------------------------------------------------------------

TEST(TextNames_Vector, CapitalRunsAreEnclosed) {
    EXPECT_EQ(MarkLetterCase(u"Hello World"), u"<H>ello <W>orld");
    EXPECT_EQ(MarkLetterCase(u"ABc"), u"<AB>c");
    EXPECT_EQ(MarkLetterCase(u"NASA"), u"<NASA>");
    EXPECT_EQ(MarkLetterCase(u"plain 123"), u"plain 123");
}

TEST(TextNames_Vector, AngleBracketsAreDoubledAndCloseARunFirst) {
    EXPECT_EQ(MarkLetterCase(u"a<b>c"), u"a<<b>>c");
    EXPECT_EQ(MarkLetterCase(u"A<b"), u"<A><<b");
    EXPECT_EQ(MarkLetterCase(u"X>"), u"<X>>>");
    EXPECT_EQ(MarkLetterCase(u"<>"), u"<<>>");
}

TEST(TextNames_Vector, NameHoldsFontStylesAndMarkedQuotedLines) {
    EXPECT_EQ(VectorTextName(u"Arial", kFontBold | kFontItalic, {u"Hello World", u"<tag>"}),
              u"VectTxt2: Arial:Bold,Italic:\"<H>ello <W>orld\"^&\"<<tag>>\"");
    EXPECT_EQ(VectorTextName(u"Arial", 0, {u"ok"}), u"VectTxt2: Arial::\"ok\"");
    EXPECT_EQ(VectorTextCacheName(u"Arial"), u"VectTextCache: Arial");
}

// --- raster scale --------------------------------------------------------------

TEST(TextNames_Scale, ScaleFillsTheParentsRequiredHeight) {
    EXPECT_DOUBLE_EQ(RasterScale(1.5, 600, 200, 100), 9);
}

TEST(TextNames_Scale, ScaleIsHalvedBeyondTheSideAndPixelLimits) {
    // 1000 x 100 at 40 would be 40000 wide: 20 gives 20000 x 2000 = 4e7 pixels,
    // still too many; 10 gives 1e7, which is allowed.
    EXPECT_DOUBLE_EQ(LimitRasterScale(40, 1000, 100), 10);
    // 10 x 10000 at 4: 40000 high.
    EXPECT_DOUBLE_EQ(LimitRasterScale(4, 10, 10000), 2);
    EXPECT_DOUBLE_EQ(LimitRasterScale(3, 100, 100), 3);
}

TEST(TextNames_Scale, DegenerateSizesGiveOne) {
    EXPECT_EQ(RasterScale(1, 600, 200, 0), 1);
    EXPECT_EQ(RasterScale(1, 600, std::numeric_limits<double>::infinity(), 10), 1);
    EXPECT_EQ(RasterScale(0, 600, 200, 10), 1);
    EXPECT_GT(RasterScale(1e300, 1e300, 1e300, 1e-300), 0);
}

}  // namespace
}  // namespace orb
