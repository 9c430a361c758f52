#include "OrbLib2/ShadowGenerator2.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orb {
namespace {

TEST(ShadowGenerator, LargeObject_HalvedUntilSmallEnough) {
    EXPECT_EQ(ShadowHalvings(4100, 3100), 3);
    EXPECT_EQ(ShadowHalvings(900, 900), 1);
    EXPECT_EQ(ShadowHalvings(836, 836), 0);  // 698 896 pixels
    EXPECT_EQ(ShadowHalvings(12000, 10), 1);
    TShadowParams p;
    p.ObjectRect = {0, 0, 4000, 3000};
    p.MarginX = p.MarginY = 50;
    p.BlurSize = 16;
    const TShadowPicture shadow = TShadowGenerator().Generate(p, nullptr);
    ASSERT_TRUE(shadow.Bitmap);
    EXPECT_EQ(shadow.Halvings, 3);
    const int32_t m = int32_t(std::ceil((16.0 / 8 + 1) * 2.5));  // the blur's own margin
    EXPECT_EQ(shadow.Bitmap->Width(), 512 + 2 * m);
    EXPECT_EQ(shadow.Bitmap->Height(), 387 + 2 * m);
}

TEST(ShadowGenerator, PlainShape_OpaqueInsideMarginsClearOutside) {
    TShadowParams p;
    p.ObjectRect = {0, 0, 60, 40};
    p.MarginX = p.MarginY = 10;
    p.Colour = 0x112233;
    p.Opacity = 50;
    const TShadowPicture shadow = TShadowGenerator().Generate(p, nullptr);
    const ql::TBitmap& b = *shadow.Bitmap;
    EXPECT_EQ(b.Width(), 80 + 2 * 3);  // blur 0: factor 1, the blur's margin 3
    const uint8_t* centre = b.Row(b.Height() / 2) + (b.Width() / 2) * 4;
    EXPECT_EQ(centre[3], 128);  // round(50 * 255 / 100)
    EXPECT_EQ(centre[2], 0x11);
    EXPECT_EQ(b.Row(0)[3], 0);
    EXPECT_EQ(shadow.Key.rfind(u"Shadow: N\\A:60:40:10:10", 0), 0u);
}

TEST(ShadowGenerator, PictureShadow_FollowsThePicturesAlpha) {
    ql::TDirectBitmap picture(40, 40, ql::PfARGB32());
    picture.FillRect(picture.Bounds(), 0);
    picture.FillRect({0, 0, 20, 40}, 0xFFFFFFFF);  // left half opaque
    TShadowParams p;
    p.PictureKey = u"pic.png";
    p.ObjectRect = {0, 0, 40, 40};
    p.MarginX = p.MarginY = 5;
    const TShadowPicture shadow = TShadowGenerator().Generate(p, &picture);
    const ql::TBitmap& b = *shadow.Bitmap;
    const int32_t m = (b.Width() - 50) / 2;
    const uint8_t* row = b.Row(b.Height() / 2);
    EXPECT_EQ(row[(m + 5 + 5) * 4 + 3], 255);
    EXPECT_EQ(row[(m + 5 + 35) * 4 + 3], 0);
}

TEST(ShadowGenerator, ReducedQuality_AboutFortyThousandPixels) {
    TShadowParams p;
    p.ObjectRect = {0, 0, 800, 400};
    p.MarginX = p.MarginY = 0;
    p.BlurSize = 10;
    const TShadowParams r = ReduceShadowParams(p);
    EXPECT_EQ(r.ObjectRect.right, 283);
    EXPECT_EQ(r.ObjectRect.bottom, 141);
    EXPECT_NEAR(r.BlurSize, std::sqrt(283.0 * 141) * 10 / 400 * 1.1, 1e-4);
    const TShadowPicture shadow = TShadowGenerator().Generate(p, nullptr, true);
    EXPECT_EQ(shadow.Halvings, 0);
    EXPECT_EQ(shadow.Params.ObjectRect.right, 283);
}

TEST(ShadowGenerator, RectangleNotAtOrigin_Asserts) {
    TShadowParams p;
    p.ObjectRect = {1, 0, 10, 10};
    EXPECT_THROW(TShadowGenerator().Generate(p, nullptr), ql::EAssertionFailed);
}

TEST(ShadowGenerator, HalveBitmap_AveragesBlocks) {
    ql::TDirectBitmap a8(4, 2, ql::FindPixelFormat("A8"));
    const uint8_t row0[4] = {0, 100, 200, 200}, row1[4] = {100, 200, 0, 0};
    std::copy(row0, row0 + 4, a8.Row(0));
    std::copy(row1, row1 + 4, a8.Row(1));
    auto half = HalveBitmap(a8);
    ASSERT_EQ(half->Width(), 2);
    EXPECT_EQ(half->Row(0)[0], 100);
    EXPECT_EQ(half->Row(0)[1], 100);
}

TEST(Shadow, Offset_ScreenOrObjectAxes) {
    TShadow flat(TShadowPicture{}, false, 1, false);
    const ql::TPointF o = flat.Offset({100, 0}, {0, 100}, 10, 90);
    EXPECT_NEAR(o.x, 0, 1e-4);
    EXPECT_NEAR(o.y, 10, 1e-4);
    TShadow turned(TShadowPicture{}, false, 2, true);
    const ql::TPointF t = turned.Offset({0, 100}, {-100, 0}, 10, 0);  // object turned a quarter
    EXPECT_NEAR(t.x, 0, 1e-4);
    EXPECT_NEAR(t.y, 20, 1e-4);
}

}  // namespace
}  // namespace orb
