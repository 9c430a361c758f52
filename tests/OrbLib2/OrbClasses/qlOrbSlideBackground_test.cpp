#include "OrbLib2/OrbClasses/qlOrbSlideBackground.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

uint32_t Rgb(const uint8_t (&c)[3]) {
    return uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
}

TSlideBackground Read(const std::string& text, const char16_t* slide = u"slide1") {
    auto doc = DocumentFromText(text);
    return ReadSlideBackground(*doc->FindSection(u"Main"), doc->FindSection(slide));
}

// ---- keys ----

TEST(SlideBackgroundKeys, ShowKeysWithPrefix_SolidColourIsWindowsValue) {
    const TSlideBackground b = Read("[Main]\nopt_bstyle=1\nopt_bname=255\n[slide1]\n");
    EXPECT_EQ(b.Kind, bkSolid);
    EXPECT_EQ(Rgb(b.Colour1), 0xFF0000u);  // red in the low byte
}

TEST(SlideBackgroundKeys, PersonalKeysNeedBothFlags) {
    const std::string main = "[Main]\nopt_bstyle=1\nopt_bname=65280\n";
    const TSlideBackground own = Read(main +
                                      "[slide1]\nUsePersonal=1\nPers_Fon=1\nbstyle=3\nbcolorstyle="
                                      "2\nbcolor1=255\nbcolor2=0,0,255\n");
    EXPECT_EQ(own.Kind, bkHorizontalGradient);
    EXPECT_EQ(Rgb(own.Colour1), 0xFF0000u);
    EXPECT_EQ(Rgb(own.Colour2), 0x0000FFu);
    const TSlideBackground shows =
        Read(main + "[slide1]\nUsePersonal=1\nPers_Fon=0\nbstyle=2\nbname=x.jpg\n");
    EXPECT_EQ(shows.Kind, bkSolid);
    EXPECT_EQ(Rgb(shows.Colour1), 0x00FF00u);
}

TEST(SlideBackgroundKeys, PictureAndGradientStyles) {
    const TSlideBackground pic = Read("[Main]\nopt_bstyle=2\nopt_bname=back.jpg\nopt_bsize=50\n");
    EXPECT_EQ(pic.Kind, bkPicture);
    EXPECT_EQ(pic.PictureName, u"back.jpg");
    EXPECT_FLOAT_EQ(pic.SizePercent, 50);
    EXPECT_EQ(Read("[Main]\nopt_bstyle=2\nopt_bname=\n").Kind, bkSolid);  // no name: stays solid
    EXPECT_EQ(Read("[Main]\nopt_bstyle=3\nopt_bcolorstyle=1\n").Kind, bkVerticalGradient);
    EXPECT_EQ(Read("[Main]\nopt_bstyle=3\nopt_bcolorstyle=7\n").Kind, bkSolid);
    const TSlideBackground none = Read("[Main]\nopt_bstyle=9\n");
    EXPECT_EQ(none.Kind, bkSolid);
    EXPECT_EQ(Rgb(none.Colour1), 0u);
    EXPECT_FLOAT_EQ(none.SizePercent, 100);
}

TEST(SlideBackgroundKeys, SizeZeroOrTiny_IsBounded) {
    EXPECT_FLOAT_EQ(Read("[Main]\nopt_bstyle=2\nopt_bname=a\nopt_bsize=0\n").SizePercent,
                    kMinBackgroundSize);
    EXPECT_FLOAT_EQ(Read("[Main]\nopt_bstyle=2\nopt_bname=a\nopt_bsize=1e-30\n").SizePercent,
                    kMinBackgroundSize);
    EXPECT_FLOAT_EQ(Read("[Main]\nopt_bstyle=2\nopt_bname=a\nopt_bsize=junk\n").SizePercent, 100);
}

TEST(DocumentColor, BadTextsGiveTheFallback) {
    EXPECT_EQ(ParseDocumentColor(u"1,2"), TBgrColor{});
    EXPECT_EQ(ParseDocumentColor(u"a,b,c"), TBgrColor{});
    EXPECT_EQ(ParseDocumentColor(u" 300 , -4 , 7"), (TBgrColor{7, 0, 255}));
}

// ---- tiling ----

TEST(BackgroundTiling, SizeHundred_OneTileCoversTheSlideCentred) {
    // A 4:3 picture on a 16:9 slide: the slide is wider, so the tile is as wide.
    const TBackgroundTiling t = TileBackground(1600, 900, 400, 300, 100);
    EXPECT_FLOAT_EQ(t.TileWidth, 1600);
    EXPECT_FLOAT_EQ(t.TileHeight, 1200);
    ASSERT_EQ(t.Tiles.size(), 1u);
    EXPECT_FLOAT_EQ(t.Tiles[0].Height, 900);
    // The middle 900 of 1200 slide units are source rows 37.5 .. 262.5, rounded outward.
    EXPECT_EQ(t.Tiles[0].Source, (ql::TRect{0, 37, 400, 263}));
}

TEST(BackgroundTiling, SmallSize_RepeatsAroundTheCentre) {
    const TBackgroundTiling t = TileBackground(1000, 1000, 100, 100, 40);
    EXPECT_FLOAT_EQ(t.TileWidth, 400);
    // A tile centred, one on each side, and cut ones at the ends: 3 x 3 whole or cut.
    ASSERT_EQ(t.Tiles.size(), 9u);
    float area = 0;
    for (const TBackgroundTile& tile : t.Tiles) area += tile.Width * tile.Height;
    EXPECT_FLOAT_EQ(area, 1000.0f * 1000.0f);
    // The centre tile is whole and sits in the middle.
    EXPECT_FLOAT_EQ(t.Tiles[4].X, 300);
    EXPECT_FLOAT_EQ(t.Tiles[4].Width, 400);
    EXPECT_EQ(t.Tiles[4].Source, (ql::TRect{0, 0, 100, 100}));
    // The left one begins 100 units off the slide: its right 300 units,
    // source columns 25 .. 100.
    EXPECT_FLOAT_EQ(t.Tiles[3].X, 0);
    EXPECT_FLOAT_EQ(t.Tiles[3].Width, 300);
    EXPECT_EQ(t.Tiles[3].Source, (ql::TRect{25, 0, 100, 100}));
}

TEST(BackgroundTiling, TinySize_TileCountIsLimited) {
    const TBackgroundTiling t = TileBackground(1920, 1080, 64, 64, kMinBackgroundSize);
    EXPECT_LE(t.Tiles.size(), size_t(kMaxBackgroundTilesPerSide * kMaxBackgroundTilesPerSide));
    EXPECT_GT(t.Tiles.size(), 1u);
    EXPECT_TRUE(TileBackground(0, 100, 10, 10, 100).Tiles.empty());
    EXPECT_TRUE(TileBackground(100, 100, 0, 10, 100).Tiles.empty());
}

TEST(BackgroundTiling, Halving_WhileTwiceTheTileInBothDirections) {
    EXPECT_EQ(BackgroundHalvings(4000, 3000, 1000, 750), 2);
    EXPECT_EQ(BackgroundHalvings(4000, 3000, 1001, 750), 0 + 1);
    EXPECT_EQ(BackgroundHalvings(4000, 1000, 1000, 750), 0);
    EXPECT_EQ(BackgroundHalvings(400, 300, 0, 0), 0);
}

// ---- painting ----

class BackgroundPainting : public ::testing::Test {
protected:
    static constexpr int32_t kW = 64, kH = 48;
    void SetUp() override {
        device = std::make_unique<TSoftDevice>(TSoftDeviceOptions{kW, kH});
        drawer = std::make_unique<T3DDrawer>(*device);
        drawer->Init({kW, kH, false});
        drawer->SetCaptureMode(true);
        drawer->TextureManager().SetUploadPause(std::chrono::milliseconds(0));
    }
    void TearDown() override {
        drawer.reset();
        device.reset();
    }

    // Draws the painter over the whole output, prepared or not, and captures it.
    std::unique_ptr<ql::TBitmap> Draw(TBackgroundPainter& painter) {
        struct TScene : TDrawScene {
            TBackgroundPainter* p;
            void Draw(TDeviceDrawer& d) override {
                TScenePlane plane{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
                p->Draw(d, plane, float(kW), float(kH),
                        TCamera3D{kW / 2.0f, kH / 2.0f, -float(kH)});
            }
        } scene;
        scene.p = &painter;
        EXPECT_TRUE(drawer->DrawScene(scene));
        return drawer->CaptureToBitmap();
    }
    std::unique_ptr<ql::TBitmap> Paint(TBackgroundPainter& painter) {
        painter.Prepare(*drawer, float(kW), float(kH), 1);
        auto frame = Draw(painter);
        painter.Release(*drawer);
        return frame;
    }

    static uint32_t Pixel(const ql::TBitmap& b, int32_t x, int32_t y) {
        const uint8_t* p = b.Row(y) + x * 3;
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    std::unique_ptr<TSoftDevice> device;
    std::unique_ptr<T3DDrawer> drawer;
};

TEST_F(BackgroundPainting, Solid_FillsTheSlide) {
    TSlideBackground b;
    b.Colour1[0] = 200;
    b.Colour1[1] = 20;
    b.Colour1[2] = 10;
    TBackgroundPainter painter(b, nullptr);
    auto frame = Paint(painter);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Pixel(*frame, 0, 0), 0xC8140Au);
    EXPECT_EQ(Pixel(*frame, kW - 1, kH - 1), 0xC8140Au);
}

TEST_F(BackgroundPainting, Gradient_RunsBetweenTheTwoColours) {
    TSlideBackground b;
    b.Kind = bkVerticalGradient;
    b.Colour1[0] = 255;
    b.Colour2[2] = 255;
    TBackgroundPainter painter(b, nullptr);
    auto frame = Paint(painter);
    ASSERT_TRUE(frame);
    // Top red, bottom blue, the same all along a row.
    const uint32_t top = Pixel(*frame, 0, 0), bottom = Pixel(*frame, 0, kH - 1);
    EXPECT_GT((top >> 16) & 0xFF, 230u);
    EXPECT_LT(top & 0xFF, 25u);
    EXPECT_GT(bottom & 0xFF, 230u);
    EXPECT_LT((bottom >> 16) & 0xFF, 25u);
    EXPECT_EQ(Pixel(*frame, kW - 1, kH / 2), Pixel(*frame, 0, kH / 2));
}

TEST_F(BackgroundPainting, HorizontalGradient_RunsFromTheRight_AsABoxHGradient) {
    TSlideBackground b;
    b.Kind = bkHorizontalGradient;
    b.Colour1[0] = 255;
    b.Colour2[2] = 255;
    TBackgroundPainter painter(b, nullptr);
    auto frame = Paint(painter);
    ASSERT_TRUE(frame);
    const uint32_t left = Pixel(*frame, 0, 0), right = Pixel(*frame, kW - 1, 0);
    EXPECT_GT((right >> 16) & 0xFF, 230u);
    EXPECT_GT(left & 0xFF, 230u);
    EXPECT_EQ(Pixel(*frame, kW / 2, 0), Pixel(*frame, kW / 2, kH - 1));
}

TEST_F(BackgroundPainting, Gradient_IsTheStraightLineBetweenTheColoursWithinOneStep) {
    TSlideBackground b;
    b.Kind = bkHorizontalGradient;
    b.Colour1[0] = 0;
    b.Colour2[0] = 255;
    b.Colour1[2] = 200;
    b.Colour2[2] = 10;
    TBackgroundPainter painter(b, nullptr);
    auto frame = Paint(painter);
    ASSERT_TRUE(frame);
    for (int32_t x = 0; x < kW; ++x) {
        const double f = 1 - (x + 0.5) / kW;  // colour 1 on the right
        const uint32_t p = Pixel(*frame, x, kH / 3);
        EXPECT_NEAR(double((p >> 16) & 0xFF), 255 * f, 1.0) << x;
        EXPECT_NEAR(double(p & 0xFF), 200 + (10 - 200) * f, 1.0) << x;
    }
}

TEST_F(BackgroundPainting, GradientNotPrepared_IsStillDrawn) {
    TSlideBackground b;
    b.Kind = bkVerticalGradient;
    b.Colour1[1] = 255;
    b.Colour2[1] = 255;
    TBackgroundPainter painter(b, nullptr);
    auto frame = Draw(painter);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Pixel(*frame, kW / 2, kH / 2), 0x00FF00u);
}

TEST_F(BackgroundPainting, Picture_TiledFromTheCentre) {
    // A 2 x 2 quarter picture: red, green / blue, white.
    auto bitmap = std::make_unique<ql::TDirectBitmap>(16, 16, ql::PfARGB32());
    for (int32_t y = 0; y < 16; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < 16; ++x)
            row[x] =
                y < 8 ? (x < 8 ? 0xFFFF0000u : 0xFF00FF00u) : (x < 8 ? 0xFF0000FFu : 0xFFFFFFFFu);
    }
    auto store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
    TSlideBackground b;
    b.Kind = bkPicture;
    b.PictureName = u"pic";
    b.SizePercent = 50;
    int opened = 0;
    TBackgroundPainter painter(b, [&](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
        ++opened;
        EXPECT_EQ(name, u"pic");
        return store;
    });
    auto frame = Paint(painter);
    ASSERT_TRUE(frame);
    EXPECT_EQ(painter.PictureSize(), (ql::TPoint{16, 16}));
    // Tiles of 32 x 32 centred: one spans 16..48 x 8..40; its top-left
    // quarter is red, the one above it ends in blue and white at the top.
    EXPECT_EQ(Pixel(*frame, 20, 12), 0xFF0000u);
    EXPECT_EQ(Pixel(*frame, 44, 36), 0xFFFFFFu);
    EXPECT_EQ(Pixel(*frame, 20, 3), 0x0000FFu);
    EXPECT_EQ(Pixel(*frame, 4, 12), 0x00FF00u);
    Paint(painter);
    EXPECT_EQ(opened, 1);
}

}  // namespace
}  // namespace orb
