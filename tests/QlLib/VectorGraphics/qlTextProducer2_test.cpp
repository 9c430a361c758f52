#include "QlLib/VectorGraphics/qlTextProducer2.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ql {
namespace {

int32_t InkRows(const TBitmap& bitmap, int32_t x0, int32_t x1) {
    int32_t rows = 0;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        bool ink = false;
        for (int32_t x = x0; x < x1; ++x) ink = ink || bitmap.Row(y)[x * 4 + 3] != 0;
        rows += ink;
    }
    return rows;
}

TEST(SimpleVectorText, Pens_AdvanceByScaledAdvancesRounded) {
    TSimpleVectorText text({u"HH"}, u"DejaVu Sans", 20.48f);  // 1/100 of the design size
    ASSERT_EQ(text.GlyphCount(0), 2);
    EXPECT_EQ(text.GlyphX(0, 0), 0);
    EXPECT_EQ(text.GlyphX(0, 1), 15);  // 1540 units at 0.01
    EXPECT_FLOAT_EQ(text.Ascent(), 19);  // round(19.01)
    EXPECT_FLOAT_EQ(text.Descent(), 5);  // round(4.83)
    const TLineInfo line = text.GetLineInfo(0);
    EXPECT_NEAR(line.Left, 2.01f, 1e-4);
    EXPECT_NEAR(line.RightEnd, 15 + 15.40f, 1e-4);
    EXPECT_EQ(text.GetGlyphInfo(0, 0).FontName, u"DejaVu Sans");
    TSimpleVectorText bold({u"H"}, u"DejaVu Sans", 20, true, true);
    EXPECT_EQ(bold.GetGlyphInfo(0, 0).FontName, u"DejaVu Sans Bold Italic");
}

TEST(SimpleVectorText, GlyphPath_IsTheOutlineScaledToTheSize) {
    TSimpleVectorText text({u"H"}, u"DejaVu Sans", 204.8f);
    const TPath outline = text.GetGlyphOutline(0, 0);
    const TPath path = text.GetGlyphPath(0, 0);
    ASSERT_EQ(outline.size(), path.size());
    EXPECT_FLOAT_EQ(path[0].x, outline[0].x * 0.1f);
    EXPECT_EQ(path[0].type, outline[0].type);
}

TEST(TextProducer, EmptyLine_KeepsTheTextsAscentAndDescent) {
    TSimpleVectorText text({u"Ag", u"", u"Ag"}, u"DejaVu Sans", 40);
    const TLineInfo empty = text.GetLineInfo(1);
    EXPECT_EQ(empty.Ascent, text.Ascent());
    EXPECT_EQ(empty.Descent, text.Descent());
    EXPECT_EQ(empty.RightEnd, 0);
}

TEST(TextProducer, LineSpacing_ZeroStacksLinesAndHundredAddsHalfALine) {
    TSimpleVectorText text({u"A", u"B", u"C"}, u"DejaVu Sans", 40);
    TTextProducer producer;
    producer.SetText(&text);
    const float k = 2;
    const float line = (text.Ascent() + text.Descent()) * k;
    const TTextLayout tight = producer.Layout(k);
    EXPECT_FLOAT_EQ(tight.Height, 3 * line);
    EXPECT_FLOAT_EQ(tight.Origins[1].y - tight.Origins[0].y, line);
    producer.LineSpacing = 100;
    const TTextLayout loose = producer.Layout(k);
    EXPECT_FLOAT_EQ(loose.Height, 3 * line + 2 * line / 2);
    EXPECT_FLOAT_EQ(loose.Origins[2].y - loose.Origins[1].y, line * 1.5f);
    EXPECT_EQ(loose.LineRects[0].top, int32_t(std::floor(-text.Ascent() * k)));
}

TEST(TextProducer, Render_PictureSizeHoldsTheLayoutWithABorder) {
    TSimpleVectorText text({u"Hello", u"World"}, u"DejaVu Sans", 30);
    TTextProducer producer;
    producer.SetText(&text);
    const TTextLayout layout = producer.Layout(1);
    auto picture = producer.Render(0xFF102030, 0x00102030, {0, 0}, false, false, 1);
    EXPECT_EQ(picture->PixelFormat()->Name(), "A8R8G8B8");
    EXPECT_EQ(picture->Width(), int32_t(std::ceil(layout.OverhangLeft + layout.Width + layout.OverhangRight + 2)));
    EXPECT_EQ(picture->Height(), int32_t(std::ceil(layout.Height + layout.OverhangTop + layout.OverhangBottom + 2)));
    // Ink in the text colour, the rest clear in the same colour.
    int32_t opaque = 0;
    for (int32_t y = 0; y < picture->Height(); ++y)
        for (int32_t x = 0; x < picture->Width(); ++x) {
            const uint8_t* p = picture->Row(y) + x * 4;
            EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16, 0x102030);
            opaque += p[3] == 255;
        }
    EXPECT_GT(opaque, 100);
}

TEST(TextProducer, Alignment_MovesShortLinesRight) {
    TSimpleVectorText text({u"WWWWWW", u"i"}, u"DejaVu Sans", 30);
    TTextProducer producer;
    producer.SetText(&text);
    auto left = producer.Render(0xFF000000, 0, {0, 0}, false, false, 1);
    producer.Alignment = 2;
    auto right = producer.Render(0xFF000000, 0, {0, 0}, false, false, 1);
    const int32_t w = left->Width();
    // The second line's "i" sits at the left edge in one and the right edge in the other.
    EXPECT_GT(InkRows(*left, 0, w / 4), InkRows(*right, 0, w / 4));
    EXPECT_LT(InkRows(*left, 3 * w / 4, w), InkRows(*right, 3 * w / 4, w));
}

TEST(TextProducer, Background_ComposedUnderEveryPixel) {
    TSimpleVectorText text({u"x"}, u"DejaVu Sans", 20);
    TTextProducer producer;
    producer.SetText(&text);
    auto picture = producer.Render(0xFFFFFF00, 0xFF0000FF, {0, 0}, false, false, 1);
    for (int32_t y = 0; y < picture->Height(); ++y)
        for (int32_t x = 0; x < picture->Width(); ++x) EXPECT_EQ(picture->Row(y)[x * 4 + 3], 255);
    EXPECT_EQ(picture->Row(0)[0], 255);  // blue in the corner
}

TEST(TextProducer, Underline_AddsInkBelowTheBaseline) {
    TSimpleVectorText text({u"ooo"}, u"DejaVu Sans", 40);
    TTextProducer producer;
    producer.SetText(&text);
    auto plain = producer.Render(0xFF000000, 0, {0, 0}, false, false, 1);
    auto underlined = producer.Render(0xFF000000, 0, {0, 0}, true, false, 1);
    auto struck = producer.Render(0xFF000000, 0, {0, 0}, false, true, 1);
    const int32_t w = plain->Width();
    EXPECT_GT(InkRows(*underlined, 0, w), InkRows(*plain, 0, w));
    EXPECT_EQ(InkRows(*struck, 0, w), InkRows(*plain, 0, w));  // the bar lies within the "o"s
}

TEST(TextProducer, CancelAfterFirstLine_LeavesLaterLinesUnpainted) {
    TSimpleVectorText text({u"A", u"A"}, u"DejaVu Sans", 40);
    TTextProducer producer;
    producer.SetText(&text);
    auto whole = producer.Render(0xFF000000, 0, {0, 0}, false, false, 1);
    auto partial = producer.Render(0xFF000000, 0, {0, 0}, false, false, 1, [](float) { return false; });
    EXPECT_EQ(partial->Height(), whole->Height());
    EXPECT_LT(InkRows(*partial, 0, partial->Width()), InkRows(*whole, 0, whole->Width()));
}

}  // namespace
}  // namespace ql
