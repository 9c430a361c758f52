#include "OrbLib2/ShadowGenerator2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "QlLib/Graphics/qlPixelFormats.h"

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

// Levels of a shadow: level 0 from a picture within four working areas is
// Generate's shadow bit for bit; every level has its MipLevelSize of the full
// size, and a huge picture is taken from a coarser store level.
TEST(ShadowGenerator, Levels_KeepTheirSizesAndLevelZeroIsGeneratesShadow) {
    struct TCase {
        const char* name;
        int32_t width, height;
        bool picture;
        int32_t pictureHalvingsAtLevel0;
    };
    const TCase cases[] = {
        {"a shape", 3000, 2000, false, 0},
        {"a picture halved by the generator", 1500, 1200, true, 0},
        {"a picture within four working areas", 1900, 1400, true, 0},
        {"a huge picture from a coarser level", 16384, 8192, true, 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TShadowParams p;
        p.PictureKey = c.picture ? u"pic.png" : u"N\\A";
        p.ObjectRect = {0, 0, c.width, c.height};
        p.BlurSize = 40;
        p.Colour = 0x102030;
        const int32_t taken = c.picture ? ShadowPictureLevel(p, {c.width, c.height}, 0) : 0;
        EXPECT_EQ(taken, c.pictureHalvingsAtLevel0);
        // The picture: an opaque disc on a clear ground, at the level taken.
        auto disc = [&](int32_t halvings) {
            const ql::TPoint size = ql::MipLevelSize(c.width, c.height, halvings);
            auto bitmap = std::make_unique<ql::TDirectBitmap>(size.x, size.y, ql::PfARGB32());
            for (int32_t y = 0; y < size.y; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
                for (int32_t x = 0; x < size.x; ++x) {
                    const double dx = (x + 0.5) / size.x - 0.5, dy = (y + 0.5) / size.y - 0.5;
                    row[x] = dx * dx + dy * dy < 0.2 ? 0xFFFFFFFFu : 0;
                }
            }
            return bitmap;
        };
        const ql::TPoint whole = ShadowPictureSize(p);
        if (taken == 0) {
            const auto picture = c.picture ? disc(0) : nullptr;
            const TShadowPicture full = TShadowGenerator().Generate(p, picture.get());
            const auto level0 = TShadowGenerator().GenerateLevel(p, 0, picture.get());
            ASSERT_TRUE(full.Bitmap && level0);
            EXPECT_EQ(full.Bitmap->Width(), whole.x);
            EXPECT_EQ(full.Bitmap->Height(), whole.y);
            ASSERT_EQ(level0->Width(), whole.x);
            for (int32_t y = 0; y < whole.y; ++y)
                ASSERT_EQ(std::memcmp(level0->Row(y), full.Bitmap->Row(y), size_t(whole.x) * 4), 0);
        }
        for (int32_t level = 0; level <= 3; ++level) {
            const int32_t halvings =
                c.picture ? ShadowPictureLevel(p, {c.width, c.height}, level) : 0;
            EXPECT_GE(halvings, c.picture ? level : 0);
            const auto picture = c.picture ? disc(halvings) : nullptr;
            const auto made = TShadowGenerator().GenerateLevel(p, level, picture.get(), halvings);
            ASSERT_TRUE(made) << level;
            const ql::TPoint size = ql::MipLevelSize(whole.x, whole.y, level);
            EXPECT_EQ(made->Width(), size.x) << level;
            EXPECT_EQ(made->Height(), size.y) << level;
            // The shadow is centred: its middle is the darkest.
            const uint8_t* middle = made->Row(size.y / 2) + size_t(size.x / 2) * 4;
            EXPECT_GT(middle[3], 200) << level;
            EXPECT_EQ(made->Row(0)[3], 0) << level;
        }
    }
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

// ---- Drawing through the draw manager ----

constexpr int32_t kDrawWidth = 200, kDrawHeight = 150;

class TShadowScene : public TDrawScene {
public:
    explicit TShadowScene(std::function<void(TDeviceDrawer&)> draw) : m_draw(std::move(draw)) {}
    void Draw(TDeviceDrawer& drawer) override { m_draw(drawer); }

private:
    std::function<void(TDeviceDrawer&)> m_draw;
};

// A red shadow of a plain rectangle, nearly unblurred (blur 0).
TShadowPicture RedShadow(int32_t width, int32_t height, int32_t margin) {
    TShadowParams p;
    p.ObjectRect = {0, 0, width, height};
    p.MarginX = p.MarginY = margin;
    p.Colour = 0xFF0000;
    return TShadowGenerator().Generate(p, nullptr);
}

struct TShadowRig {
    TSoftDevice device{{kDrawWidth, kDrawHeight}};
    T3DDrawer drawer{device};
    TShadowRig() {
        drawer.Init({kDrawWidth, kDrawHeight, false});
        drawer.SetCaptureMode(true);
    }

    // The frame's red channel.
    std::vector<uint8_t> Draw(const std::function<void(TDeviceDrawer&)>& draw) {
        TShadowScene scene([&](TDeviceDrawer& d) {
            d.Clear(0xFF000000u, false);
            draw(d);
        });
        EXPECT_TRUE(drawer.DrawScene(scene));
        ql::TDirectBitmap bitmap(kDrawWidth, kDrawHeight, ql::PfARGB32());
        EXPECT_TRUE(drawer.CaptureFrame(bitmap));
        std::vector<uint8_t> red;
        for (int32_t y = 0; y < kDrawHeight; ++y)
            for (int32_t x = 0; x < kDrawWidth; ++x) red.push_back(bitmap.Row(y)[x * 4 + 2]);
        return red;
    }
};

// The red-weighted middle of a frame, in pixel-centre coordinates.
ql::TPointF Middle(const std::vector<uint8_t>& red) {
    double sum = 0, sx = 0, sy = 0;
    for (int32_t y = 0; y < kDrawHeight; ++y)
        for (int32_t x = 0; x < kDrawWidth; ++x) {
            const double r = red[size_t(y) * kDrawWidth + x];
            sum += r, sx += r * (x + 0.5), sy += r * (y + 0.5);
        }
    EXPECT_GT(sum, 0);
    return sum > 0 ? ql::TPointF{float(sx / sum), float(sy / sum)} : ql::TPointF{};
}

// The red-weighted middle in the plane's local coordinates: every pixel
// centre taken back onto the plane, weighted by the plane area it shows
// (which grows with the cube of the depth factor w).
ql::TPointF MiddleOnPlane(const std::vector<uint8_t>& red, const TScenePlane& plane,
                          const TCamera3D& c) {
    const TPoint3F o = plane.origin, a = plane.axisX, b = plane.axisY;
    double sum = 0, su = 0, sv = 0;
    for (int32_t y = 0; y < kDrawHeight; ++y)
        for (int32_t x = 0; x < kDrawWidth; ++x) {
            const double r = red[size_t(y) * kDrawWidth + x];
            if (r == 0) continue;
            const double px = x + 0.5, py = y + 0.5;
            // Seen at (px, py): cz (P - p) + Pz (p - c) = 0 in x and in y.
            const double a1 = c.z * a.x + a.z * (px - c.x), b1 = c.z * b.x + b.z * (px - c.x);
            const double r1 = -(c.z * (o.x - px) + o.z * (px - c.x));
            const double a2 = c.z * a.y + a.z * (py - c.y), b2 = c.z * b.y + b.z * (py - c.y);
            const double r2 = -(c.z * (o.y - py) + o.z * (py - c.y));
            const double det = a1 * b2 - a2 * b1;
            const double u = (r1 * b2 - r2 * b1) / det, v = (a1 * r2 - a2 * r1) / det;
            const double w = 1 - (o.z + u * a.z + v * b.z) / c.z;
            const double weight = r * w * w * w;
            sum += weight, su += weight * u, sv += weight * v;
        }
    EXPECT_GT(sum, 0);
    return sum > 0 ? ql::TPointF{float(su / sum), float(sv / sum)} : ql::TPointF{};
}

// The distance that makes the offset d pixels long for a w x h object.
float DistanceFor(float d, float w, float h) {
    return d * 100 / std::sqrt(w * h);
}

TEST(ShadowDrawing, Flat_MarginsSpreadEquallyAndOffsetFollowsTheAngle) {
    TShadowRig rig;
    TShadow shadow(RedShadow(40, 30, 10), false, 1, false);
    ASSERT_EQ(shadow.BitmapSize().x, 40 + 20 + 6);  // the blur's own margin of 3 on each side
    const auto plain = rig.Draw([&](TDeviceDrawer& d) {
        shadow.Draw(d, {{50, 40}, {0, 0}}, 255, 0, 0, {1, 0}, {0, 1}, {0, 0});
    });
    // The object spans 50..90 x 40..70: its middle is the shadow's.
    ql::TPointF m = Middle(plain);
    EXPECT_NEAR(m.x, 70, 0.25);
    EXPECT_NEAR(m.y, 55, 0.25);
    EXPECT_EQ(plain[size_t(55) * kDrawWidth + 70], 255);
    EXPECT_EQ(plain[size_t(55) * kDrawWidth + 40], 0);
    // Six pixels at 90 degrees: straight down the screen.
    const auto moved = rig.Draw([&](TDeviceDrawer& d) {
        shadow.Draw(d, {{50, 40}, {0, 0}}, 255, 90, DistanceFor(6, 40, 30), {1, 0}, {0, 1}, {0, 0});
    });
    m = Middle(moved);
    EXPECT_NEAR(m.x, 70, 0.25);
    EXPECT_NEAR(m.y, 61, 0.25);
    shadow.Release(rig.drawer);
}

TEST(ShadowDrawing, HalvedShadow_IsEnlargedBackOntoTheObjectAsDrawn) {
    TShadowRig rig;
    TShadow shadow(RedShadow(1200, 900, 50), false, 1, false);
    ASSERT_EQ(shadow.Picture().Halvings, 1);
    shadow.Prepare(rig.drawer);
    // Drawn at a tenth: 120 x 90 at (40, 30), shadow 5 pixels to the right.
    const auto frame = rig.Draw([&](TDeviceDrawer& d) {
        shadow.Draw(d, {{40, 30}, {1200, 900}}, 255, 0, DistanceFor(50, 1200, 900), {0.1f, 0},
                    {0, 0.1f}, {0, 0});
    });
    const ql::TPointF m = Middle(frame);
    EXPECT_NEAR(m.x, 105, 0.3);
    EXPECT_NEAR(m.y, 75, 0.3);
    // The 50-pixel margins shrink to 5: no shadow beyond them (and the blur's few pixels).
    EXPECT_EQ(frame[size_t(75) * kDrawWidth + 45 + 120 + 5 + 3], 0);
    EXPECT_EQ(frame[size_t(75) * kDrawWidth + 46], 255);
    shadow.Release(rig.drawer);
}

TEST(ShadowDrawing, ThreeDFlag_OffsetRunsAlongTheObjectsAxes) {
    TShadowRig rig;
    // The object turned a quarter clockwise: its x axis points down the screen.
    TShadow flat(RedShadow(40, 30, 10), false, 1, false),
        turned(RedShadow(40, 30, 10), false, 1, true);
    const float distance = DistanceFor(8, 40, 30);
    ql::TPointF a = Middle(rig.Draw([&](TDeviceDrawer& d) {
        flat.Draw(d, {{120, 40}, {0, 0}}, 255, 0, distance, {0, 1}, {-1, 0}, {0, 0});
    }));
    ql::TPointF b = Middle(rig.Draw([&](TDeviceDrawer& d) {
        turned.Draw(d, {{120, 40}, {0, 0}}, 255, 0, distance, {0, 1}, {-1, 0}, {0, 0});
    }));
    // The object's middle is at (120 - 15, 40 + 20).
    EXPECT_NEAR(a.x, 105 + 8, 0.25);
    EXPECT_NEAR(a.y, 60, 0.25);
    EXPECT_NEAR(b.x, 105, 0.25);
    EXPECT_NEAR(b.y, 60 + 8, 0.25);
    flat.Release(rig.drawer);
    turned.Release(rig.drawer);
}

TEST(ShadowDrawing, ZeroOpacityOrNoPicture_DrawsNothing) {
    TShadowRig rig;
    TShadow shadow(RedShadow(40, 30, 10), false, 1, false),
        empty(TShadowPicture{}, false, 1, false);
    const auto frame = rig.Draw([&](TDeviceDrawer& d) {
        shadow.Draw(d, {{50, 40}, {0, 0}}, 0, 0, 0, {1, 0}, {0, 1}, {0, 0});
        empty.Draw(d, {{50, 40}, {0, 0}}, 255, 0, 0, {1, 0}, {0, 1}, {0, 0});
        empty.Draw3D(d, {40, 30}, 255, 0, 0, TScenePlane{{50, 40, 0}, {1, 0, 0}, {0, 1, 0}},
                     {100, 75, -300});
    });
    EXPECT_EQ(frame, std::vector<uint8_t>(frame.size(), 0));
    shadow.Release(rig.drawer);
}

TEST(ShadowDrawing, OnScenePlanes_FlatMatchesFlatDrawingAndTiltedFollowsThePlane) {
    TShadowRig rig;
    const TCamera3D camera{100, 75, -300};
    TShadow screen(RedShadow(40, 30, 10), false, 1, false),
        own(RedShadow(40, 30, 10), false, 1, true);
    const float distance = DistanceFor(6, 40, 30);
    const auto flat = rig.Draw([&](TDeviceDrawer& d) {
        screen.Draw(d, {{50, 40}, {0, 0}}, 255, 0, distance, {1, 0}, {0, 1}, {0, 0});
    });
    const auto onPlane = rig.Draw([&](TDeviceDrawer& d) {
        screen.Draw3D(d, {0, 0}, 255, 0, distance, {{50, 40, 0}, {1, 0, 0}, {0, 1, 0}}, camera);
    });
    const ql::TPointF a = Middle(flat), b = Middle(onPlane);
    EXPECT_NEAR(a.x, b.x, 0.05);
    EXPECT_NEAR(a.y, b.y, 0.05);
    // Turned 50 degrees about the vertical through its left edge: the 3D
    // offset moves the shadow along the plane, 6 object pixels deeper.
    const float angle = 50 * std::numbers::pi_v<float> / 180;
    const TScenePlane plane{{50, 40, 0}, {std::cos(angle), 0, std::sin(angle)}, {0, 1, 0}};
    // Read back onto the plane, the shadow's middle is the object's,
    // 6 pixels along the plane's x axis.
    const ql::TPointF c = MiddleOnPlane(rig.Draw([&](TDeviceDrawer& d) {
        own.Draw3D(d, {40, 30}, 255, 0, distance, plane, camera);
    }),
                                        plane, camera);
    EXPECT_NEAR(c.x, 20 + 6, 0.15);
    EXPECT_NEAR(c.y, 15, 0.15);
    const ql::TPointF still = MiddleOnPlane(rig.Draw([&](TDeviceDrawer& d) {
        own.Draw3D(d, {40, 30}, 255, 0, 0, plane, camera);
    }),
                                            plane, camera);
    EXPECT_NEAR(still.x, 20, 0.15);
    EXPECT_NEAR(still.y, 15, 0.15);
    screen.Release(rig.drawer);
    own.Release(rig.drawer);
}

TEST(ShadowDrawing, ShadowFromAKeptPicture_TakesItsHalvingsFromTheParameters) {
    TShadowParams p;
    p.ObjectRect = {0, 0, 1200, 900};
    p.MarginX = p.MarginY = 50;
    TShadowPicture made = TShadowGenerator().Generate(p, nullptr);
    ASSERT_EQ(made.Halvings, 1);
    const ql::TPoint size{made.Bitmap->Width(), made.Bitmap->Height()};
    auto store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(made.Bitmap), made.Key);
    TShadow kept(store, p, false, 1, false);
    EXPECT_EQ(kept.Picture().Halvings, 1);
    EXPECT_EQ(kept.BitmapSize(), size);
    EXPECT_EQ(kept.DrawPicture().store, ql::TRef<ql::TBitmapStore>(store));
    EXPECT_EQ(kept.Picture().Key, ShadowKey(p));
    // A store without pixels draws nothing.
    TShadow none(ql::TRef<ql::TBitmapStore>(), p, false, 1, false);
    EXPECT_EQ(none.BitmapSize(), (ql::TPoint{0, 0}));
}

}  // namespace
}  // namespace orb
