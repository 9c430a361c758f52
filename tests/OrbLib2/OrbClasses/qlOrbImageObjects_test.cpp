#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

#include "ObjectShowSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbTextPicture.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/SysLock.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using test::kBlue;
using test::kGreen;
using test::kRed;
using test::kYellow;
using test::Pixel;
using test::Png;
using test::Quadrants;
using test::StreamBytes;
using test::TScreen;
using test::TShow;

// --- factory and keys ----------------------------------------------------------

TEST(ImageObjects_Keys, FactoryMakesImagesAndTextsWithTheirShadowDefaults) {
    TShow show({}, {u"object A : Image", u"end", u"object B : TextComment", u"end",
                    u"object C : mainimage", u"  ShadowEnable=1", u"end", u"object D : text",
                    u"  ShadowEnable=0", u"end"});
    ASSERT_EQ(show.Slide->ChildCount(), 4);
    EXPECT_FALSE(show.Image(0).IsText());
    EXPECT_FALSE(show.Image(0).Shadow().Enabled);
    EXPECT_TRUE(show.Text(1).IsComment());
    EXPECT_TRUE(show.Text(1).Shadow().Enabled);
    EXPECT_TRUE(show.Image(2).Shadow().Enabled);
    EXPECT_FALSE(show.Text(3).Shadow().Enabled);
    EXPECT_EQ(show.Image(2).BlockType(), u"mainimage");
}

TEST(ImageObjects_Keys, SecondMainImageIsTheOnlyMainImage) {
    TShow show({}, {u"object A : mainimage", u"end", u"object B : image", u"end",
                    u"object C : mainimage", u"end"});
    EXPECT_FALSE(show.Image(0).IsMainImage());
    EXPECT_FALSE(show.Image(1).IsMainImage());
    EXPECT_TRUE(show.Image(2).IsMainImage());
}

TEST(ImageObjects_Keys, ImageKeysAreRead) {
    TShow show({}, {u"object A : image", u"  Antialiased=0", u"  Filtering=NEAREST",
                    u"  MipLodBias=1.5", u"  ReplaceWithEffectBuffer=2", u"  EnableBorder=1",
                    u"  BorderColor=1,2,3,4", u"end", u"object B : image", u"end"});
    TOrbImage& a = show.Image(0);
    EXPECT_FALSE(a.Antialiased());
    EXPECT_EQ(a.Filtering(), ifNearest);
    EXPECT_FLOAT_EQ(a.MipLodBias(), 1.5f);
    EXPECT_EQ(a.ReplaceWithEffectBuffer(), 2);
    EXPECT_TRUE(a.Border().EnableBorder);
    EXPECT_EQ(a.Border().BorderColor, 0x04010203u);
    TOrbImage& b = show.Image(1);
    EXPECT_TRUE(b.Antialiased());
    EXPECT_EQ(b.Filtering(), ifDefault);
    EXPECT_FLOAT_EQ(b.MipLodBias(), 0);
    // An object made in code, not read from a block, keeps its own bias.
    TOrbImage loose(nullptr, u"");
    EXPECT_FLOAT_EQ(loose.MipLodBias(), -0.5f);
}

TEST(ImageObjects_Keys, TextKeysAndStateColours) {
    TShow show({}, {u"object T : text", u"  Text=\"One^&Two\"", u"  TextColor=255,0,0",
                    u"  TextColorHover=0,255,0", u"  FontName=DejaVu Sans",
                    u"  FontStyle=Bold,Underline", u"  TextAlign=right", u"  LineSpacing=20",
                    u"  BlackBoxSize=300,120", u"  ShiftX=2.5", u"end"});
    TOrbText& text = show.Text(0);
    EXPECT_EQ(text.Lines(), (std::vector<std::u16string>{u"One", u"Two"}));
    EXPECT_EQ(text.TextParams().FontName, u"DejaVu Sans");
    EXPECT_EQ(text.TextParams().Style, kFontBold | kFontUnderline);
    EXPECT_EQ(text.TextParams().Alignment, kAlignRight);
    EXPECT_EQ(text.TextParams().LineSpacing, 20);
    EXPECT_EQ(text.BlackBoxSize(), (ql::TPoint{300, 120}));
    EXPECT_FLOAT_EQ(text.ShiftX(), 2.5f);
    EXPECT_FALSE(text.Antialiased());
    EXPECT_EQ(text.StateColourOf(TMouseLook::Normal), kRed);
    EXPECT_EQ(text.StateColourOf(TMouseLook::Hover), kGreen);
    EXPECT_EQ(text.StateColourOf(TMouseLook::Click), kRed);

    text.ClearChanged(false);
    text.SetMouseLook(TMouseLook::Hover);
    EXPECT_TRUE(text.Changed());
    EXPECT_EQ(text.StateColour(), kGreen);
    text.ClearChanged(false);
    text.SetMouseLook(TMouseLook::Hover);
    EXPECT_FALSE(text.Changed());
}

// --- pictures and geometry ---------------------------------------------------------

TEST(ImageObjects_Picture, CroppedImageTakesItsSizeSourceAndLevel) {
    TShow show({{u"Pictures\\pic.png", Png(*Quadrants(400, 300))}},
               {u"object A : image", u"  ImageName=pictures\\PIC.png", u"  EnableCrop=1",
                u"  CropRect=10,0,10,0,-1,-1", u"end"});
    TOrbImage& image = show.Image(0);
    EXPECT_FALSE(image.PictureLoaded());
    show.LoadAt(0);
    ASSERT_TRUE(image.PictureLoaded());
    EXPECT_EQ(image.PictureWidth(), 400);
    EXPECT_EQ(image.SourceRect(), (ql::TRect{30, 0, 370, 300}));
    EXPECT_EQ(image.Width(), 340);
    EXPECT_EQ(image.Height(), 300);
    // Placed into the 96 x 64 slide: 64 / 300 of its size, about 72.5 x 64 on
    // the screen. 400 x 300 halves three times while larger than 73 x 64 (to
    // 50 x 38); one less keeps 100 x 75.
    EXPECT_NEAR(image.RequiredWidth(), 72.53, 0.1);
    EXPECT_NEAR(image.RequiredHeight(), 64, 0.1);
    EXPECT_EQ(image.LevelOfDetail(), 2);
}

TEST(ImageObjects_Picture, MipLodBiasMovesTheLevelByWholeHalvings) {
    // As above, level 2 without a bias; a positive bias takes coarser
    // (softer) levels, a negative one finer.
    const struct {
        const char16_t* bias;
        int32_t level;
    } cases[] = {{u"0", 2}, {u"1", 3}, {u"2", 4}, {u"-1", 1}, {u"-5", 0}};
    for (const auto& c : cases) {
        TShow show(
            {{u"pic.png", Png(*Quadrants(400, 300))}},
            {u"object A : image", u"  ImageName=pic.png", u"  EnableCrop=1",
             u"  CropRect=10,0,10,0,-1,-1", std::u16string(u"  MipLodBias=") + c.bias, u"end"});
        show.LoadAt(0);
        ASSERT_TRUE(show.Image(0).PictureLoaded());
        EXPECT_EQ(show.Image(0).LevelOfDetail(), c.level) << ql::ToUtf8(c.bias);
    }
}

TEST(ImageObjects_Draw, AntialiasedImageSmoothsItsTurnedEdgesAndTheKeyTurnsItOff) {
    // A white picture turned by 3 degrees: smooth edges give pixels between
    // the picture and the black background, sharp ones give none.
    auto inBetween = [](const char16_t* antialiased) {
        TScreen screen;
        std::vector<std::u16string> block{u"object A : image", u"  ImageName=pic.png",
                                          u"  FitMode=None",   u"  object K : KeyPoint",
                                          u"    Angle=3",      u"  end"};
        if (antialiased) block.push_back(std::u16string(u"  Antialiased=") + antialiased);
        block.push_back(u"end");
        auto white = std::make_unique<ql::TDirectBitmap>(60, 40, ql::PfARGB32());
        white->FillRect(white->Bounds(), 0xFFFFFFFFu);
        TShow show({{u"pic.png", Png(*white)}}, block);
        show.Slide->AttachDrawer(screen.drawer);
        show.Slide->SetTime(true, 0);
        auto frame = screen.Frame(*show.Slide);
        int32_t count = 0;
        for (int32_t y = 0; y < frame->Height(); ++y)
            for (int32_t x = 0; x < frame->Width(); ++x) {
                const uint32_t green = (Pixel(*frame, x, y) >> 8) & 255;
                count += green > 16 && green < 240;
            }
        return count;
    };
    EXPECT_GT(inBetween(nullptr), 60);
    EXPECT_GT(inBetween(u"1"), 60);
    EXPECT_EQ(inBetween(u"0"), 0);
}

TEST(ImageObjects_Picture, BorderGrowsTheObject) {
    TShow show({{u"pic.png", Png(*Quadrants(150, 100))}},
               {u"object A : image", u"  ImageName=pic.png", u"  EnableBorder=1",
                u"  BorderWidth=10", u"end"});
    show.LoadAt(0);
    TOrbImage& image = show.Image(0);
    EXPECT_EQ(image.Geometry().InnerOffset, 10);
    EXPECT_EQ(image.Width(), 170);
    EXPECT_EQ(image.Height(), 120);
}

TEST(ImageObjects_Picture, NewNameKeepsTheOldPictureUntilPrepared) {
    TScreen screen;
    TShow show({{u"a.png", Png(*Quadrants(40, 20))}, {u"b.png", Png(*Quadrants(30, 30))}},
               {u"object A : image", u"  ImageName=a.png", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    TOrbImage& image = show.Image(0);
    ql::TRef<ql::TBitmapStore> first = image.PictureStore();
    ASSERT_TRUE(first);
    image.SetImageName(u"b.png");
    EXPECT_EQ(image.PictureStore(), first);
    image.Prepare(screen.drawer);
    EXPECT_NE(image.PictureStore(), first);
    EXPECT_EQ(image.Width(), 30);
}

TEST(ImageObjects_Picture, MissingPictureShowsTheAccessorsPlaceholderAndTheSlideGoesOn) {
    TShow show({{u"pic.png", Png(*Quadrants(40, 20))}},
               {u"object A : image", u"  ImageName=absent.png", u"end", u"object B : image",
                u"  ImageName=pic.png", u"end", u"object C : image", u"end"});
    show.LoadAt(0);
    ASSERT_TRUE(show.Image(0).PictureStore());
    EXPECT_NE(PlaceholderTextOf(*show.Image(0).PictureStore()).find(u"absent.png"),
              std::u16string::npos);
    EXPECT_TRUE(show.Image(1).PictureLoaded());
    EXPECT_EQ(show.Image(1).Width(), 40);
    // No name: no picture at all.
    EXPECT_FALSE(show.Image(2).PictureLoaded());
    EXPECT_FALSE(show.Image(2).PictureStore());
}

// --- animation --------------------------------------------------------------------

TEST(ImageObjects_Animation, SpriteSheetFramesFollowTheClock) {
    TShow show({{u"sheet.png", Png(*Quadrants(80, 20))}},
               {u"object A : image", u"  ImageName=sheet.png", u"  AnimColumns=4", u"  AnimCount=4",
                u"  AnimInterval=200,50", u"  AnimOffset=100", u"  EnableBorder=1", u"end"},
               1000);
    show.LoadAt(1000);
    TOrbImage& image = show.Image(0);
    EXPECT_TRUE(image.IsSheet());
    // A sheet is one cell big; its border does not apply.
    EXPECT_EQ(image.Width(), 20);
    EXPECT_EQ(image.Height(), 20);
    EXPECT_EQ(image.LevelOfDetail(), 0);
    EXPECT_EQ(image.CurrentFrame(), 0);
    image.ClearChanged(false);
    show.Slide->SetTime(true, 1000 + 100 + 210);
    EXPECT_EQ(image.CurrentFrame(), 1);
    EXPECT_TRUE(image.Changed());
    EXPECT_EQ(image.SourceRect(), (ql::TRect{20, 0, 40, 20}));
    show.Slide->SetTime(true, 1000 + 100 + 345);
    EXPECT_EQ(image.CurrentFrame(), 3);
    show.Slide->SetTime(true, 1000 + 100 + 351);
    EXPECT_EQ(image.CurrentFrame(), 0);
}

TEST(ImageObjects_Animation, AnimationComesFromThePictureWhenAnimCountIsZero) {
    TShow show({{u"anim.gif", "GIF89a"}}, {u"object A : image", u"  ImageName=anim.gif", u"end"});
    show.Accessor().Source().SetImageDecoder(
        [](ql::TStream&, const std::u16string&, const TFileSource&) {
            auto store = ql::MakeRef<ql::TWrapperBitmapStore>(Quadrants(90, 10));
            ql::TTilesTag tag;
            tag.CellWidth = 30;
            tag.CellHeight = 10;
            tag.Columns = 3;
            tag.Frames = 3;
            tag.DelaysMs = "100,200,300";
            tag.LoopCount = 1;
            store->SetTilesTag(tag);
            return ql::TRef<ql::TBitmapStore>(store);
        });
    show.LoadAt(0);
    TOrbImage& image = show.Image(0);
    EXPECT_EQ(image.Animation().Columns, 3);
    EXPECT_EQ(image.Animation().FrameDurations, (std::vector<int32_t>{100, 200, 300}));
    EXPECT_EQ(image.Width(), 30);
    show.Slide->SetTime(true, 250);
    EXPECT_EQ(image.CurrentFrame(), 1);
    // One play only: it stays on the last frame.
    show.Slide->SetTime(true, 5000);
    EXPECT_EQ(image.CurrentFrame(), 2);
}

// --- drawing -------------------------------------------------------------------

TEST(ImageObjects_Draw, PictureCornersLandWhereTheyProject) {
    TScreen screen;
    TShow show({{u"pic.png", Png(*Quadrants(40, 20))}},
               {u"object A : image", u"  ImageName=pic.png", u"  FitMode=None", u"  EnableBorder=1",
                u"  BorderWidth=10", u"  BorderColor=255,0,255,255", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 0);
    TOrbImage& image = show.Image(0);
    ASSERT_EQ(image.Width(), 44);
    const std::array<TPointF, 4> corners = image.ScreenCorners();
    EXPECT_FLOAT_EQ(corners[0].x, 26);
    EXPECT_FLOAT_EQ(corners[0].y, 20);
    auto frame = screen.Frame(*show.Slide);
    // The picture spans 28..68 x 22..42 inside a 2-pixel ring.
    EXPECT_EQ(Pixel(*frame, 29, 23), kRed);
    EXPECT_EQ(Pixel(*frame, 66, 23), kGreen);
    EXPECT_EQ(Pixel(*frame, 29, 40), kBlue);
    EXPECT_EQ(Pixel(*frame, 66, 40), kYellow);
    EXPECT_EQ(Pixel(*frame, 26, 30), 0xFFFF00FFu);
    EXPECT_EQ(Pixel(*frame, 50, 43), 0xFFFF00FFu);
    EXPECT_EQ(Pixel(*frame, 10, 10), 0xFF000000u);
}

TEST(ImageObjects_Draw, RotatedAndZoomedPictureFollowsItsProjectedCorners) {
    TScreen screen;
    TShow show({{u"pic.png", Png(*Quadrants(40, 20))}},
               {u"object A : image", u"  ImageName=pic.png", u"  FitMode=None",
                u"  object K : KeyPoint", u"    Angle=30", u"    ScaleX=150", u"    ScaleY=150",
                u"    Position=10,-5", u"  end", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 0);
    const std::array<TPointF, 4> corners = show.Image(0).ScreenCorners();
    TPointF centre{0, 0};
    for (const TPointF& c : corners) centre = {centre.x + c.x / 4, centre.y + c.y / 4};
    auto frame = screen.Frame(*show.Slide);
    // A point a fifth of the way from each corner to the centre lies well
    // inside that corner's quadrant.
    const uint32_t expected[4] = {kRed, kGreen, kYellow, kBlue};
    for (int i = 0; i < 4; ++i) {
        const float x = corners[i].x + (centre.x - corners[i].x) * 0.2f;
        const float y = corners[i].y + (centre.y - corners[i].y) * 0.2f;
        ASSERT_TRUE(x >= 0 && x < 96 && y >= 0 && y < 64) << i;
        EXPECT_EQ(Pixel(*frame, int32_t(x), int32_t(y)), expected[i]) << i;
    }
    EXPECT_GT(corners[1].y, corners[0].y);  // turned clockwise on the screen
}

TEST(ImageObjects_Draw, InactiveAndTransparentObjectsAreNotDrawn) {
    TScreen screen;
    TShow show({{u"pic.png", Png(*Quadrants(40, 20))}},
               {u"object A : image", u"  ImageName=pic.png", u"  FitMode=None", u"  DeltaTime1=500",
                u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 100);
    EXPECT_EQ(Pixel(*screen.Frame(*show.Slide), 30, 24), 0xFF000000u);
    show.Slide->SetTime(true, 600);
    EXPECT_EQ(Pixel(*screen.Frame(*show.Slide), 30, 24), kRed);
}

TEST(ImageObjects_Draw, TinyMainImageIsNotDrawn) {
    TScreen screen;
    TShow show({{u"dot.png", Png(*Quadrants(2, 2))}},
               {u"object A : mainimage", u"  ImageName=dot.png", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 0);
    ASSERT_TRUE(show.Image(0).PictureLoaded());
    EXPECT_EQ(Pixel(*screen.Frame(*show.Slide), 48, 32), 0xFF000000u);
}

// --- texts ---------------------------------------------------------------------------

struct TInk {
    ql::TRect Box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int32_t Pixels = 0;
    bool OnlyColour = true;
};

TInk InkOf(const ql::TBitmap& bitmap, uint32_t colour) {
    TInk ink;
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            const uint32_t p = reinterpret_cast<const uint32_t*>(bitmap.Row(y))[x];
            if ((p >> 24) == 0) continue;
            ink.Box = {std::min(ink.Box.left, x), std::min(ink.Box.top, y),
                       std::max(ink.Box.right, x + 1), std::max(ink.Box.bottom, y + 1)};
            ++ink.Pixels;
            ink.OnlyColour = ink.OnlyColour && (p & 0xFFFFFF) == (colour & 0xFFFFFF);
        }
    return ink;
}

// The energy of the differences between neighbouring pixels' green: a
// picture resampled between pixels loses some of it.
double Sharpness(const ql::TBitmap& frame) {
    double sum = 0;
    for (int32_t y = 0; y + 1 < frame.Height(); ++y)
        for (int32_t x = 0; x + 1 < frame.Width(); ++x) {
            const double g = double((Pixel(frame, x, y) >> 8) & 255);
            const double right = double((Pixel(frame, x + 1, y) >> 8) & 255) - g;
            const double below = double((Pixel(frame, x, y + 1) >> 8) & 255) - g;
            sum += right * right + below * below;
        }
    return sum;
}

TEST(ImageObjects_Text, TextAtRestBetweenPixels_TakesAPictureThatLandsOnWholePixels) {
    // ShiftX and ShiftY put the text a fraction of a pixel off the grid.
    TScreen screen;
    TShow show({}, {u"object T : text", u"  Text=\"Il\"", u"  TextColor=255,255,255",
                    u"  FontName=DejaVu Sans", u"  ShadowEnable=0", u"  ShiftX=0.37",
                    u"  ShiftY=0.61", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.LoadAt(0);
    TOrbText& text = show.Text(0);
    ASSERT_TRUE(text.PictureLoaded());
    const std::u16string made = text.PictureStore()->Params().Name;
    // The first frame finds the text where it was; the second finds it at
    // rest there and draws it from a picture made for its place.
    // The slide has no background of its own: each frame starts black.
    auto frame = [&] {
        screen.device.Clear(0xFF000000u);
        return screen.Frame(*show.Slide);
    };
    auto moving = frame();
    auto rest = frame();
    auto later = frame();
    const std::u16string aligned = text.PictureStore()->Params().Name;
    EXPECT_NE(aligned, made);
    // Made once: the text stays at rest on the same picture.
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x)
            ASSERT_EQ(Pixel(*rest, x, y), Pixel(*later, x, y)) << x << ", " << y;
    std::printf("[ SHARP    ] %s -> %s: %.0f -> %.0f\n", ql::ToUtf8(made).c_str(),
                ql::ToUtf8(aligned).c_str(), Sharpness(*moving), Sharpness(*rest));
    EXPECT_GT(Sharpness(*rest), 1.15 * Sharpness(*moving));
}

TEST(ImageObjects_Text, TextIsRenderedInItsColour) {
    TShow show({}, {u"object T : text", u"  Text=\"Hello^&World\"", u"  TextColor=255,0,0",
                    u"  FontName=DejaVu Sans", u"  AnimColumns=2", u"end"});
    show.LoadAt(0);
    TOrbText& text = show.Text(0);
    ASSERT_TRUE(text.PictureLoaded());
    // Rendered for its size: never halved, never a sheet.
    EXPECT_FALSE(text.IsSheet());
    EXPECT_EQ(text.LevelOfDetail(), 0);
    EXPECT_EQ(text.ReplacedLines(), text.Lines());
    EXPECT_GT(text.LaidOutSize().y, 0);
    EXPECT_GT(text.RasterScale(), 0);
    ql::TRef<ql::TBitmapStore> store = text.PictureStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Params().Name.substr(0, 18), u"Text: DejaVu Sans:");
    const TInk ink = InkOf(*store->GetBitmap(0, ql::PfARGB32()), kRed);
    EXPECT_FALSE(ink.Box.IsEmpty());
    EXPECT_GT(ink.Pixels, 200);
    EXPECT_TRUE(ink.OnlyColour);
}

TEST(ImageObjects_Text, StoredVectorTextStandsInForAMissingFont) {
    // The authoring side set the text in DejaVu Serif and stored it under the
    // font name of the document, which this machine does not have.
    const std::vector<std::u16string> lines{u"Stored Text", u"<2>"};
    TTextParams serif;
    serif.FontName = u"DejaVu Serif";
    serif.Alignment = kAlignLeft;
    serif.Color = kBlue;
    ql::TFontCache building;
    auto installed = MakeVectorText(serif, lines, {}, building);
    ASSERT_TRUE(installed);
    ql::AddGlyphsOf(*installed, building);
    ql::TMemoryStream stored, cache;
    ql::TCachedVectorText::FromVectorText(*installed, building)->SaveToStream(stored);
    building.Find(u"DejaVu Serif")->SaveToStream(cache);

    TShow show({{u"VectTxt2: Orblume Missing Face::\"<S>tored <T>ext\"^&\"<<2>>\"",
                 StreamBytes(stored), 1},
                {u"VectTextCache: DejaVu Serif", StreamBytes(cache), 1}},
               {u"object T : text", u"  Text=Stored Text^&<2>", u"  TextColor=0,0,255",
                u"  TextAlign=Left", u"  FontName=Orblume Missing Face", u"end"});
    show.LoadAt(0);
    TOrbText& text = show.Text(0);
    ASSERT_TRUE(text.PictureLoaded());
    ql::TBitmap* fromPackage = text.PictureStore()->GetBitmap(0, ql::PfARGB32());

    TTextPictureRequest request;
    request.Params = serif;
    request.Scale = text.RasterScale();
    request.Lines = lines;
    ql::TFontCache fonts;
    auto reference = MakeTextPicture(TextPictureName(request), {}, fonts);
    ASSERT_TRUE(reference);
    ql::TBitmap* fromFont = reference->GetBitmap(0, ql::PfARGB32());
    ASSERT_EQ(fromPackage->Height(), fromFont->Height());
    // The stored form keeps no advance past the ink, so it may end a few columns sooner.
    ASSERT_LE(fromPackage->Width(), fromFont->Width());
    ASSERT_GE(fromPackage->Width(), fromFont->Width() - 4);
    int32_t differing = 0;
    for (int32_t y = 0; y < fromPackage->Height(); ++y)
        differing += std::memcmp(fromPackage->Row(y), fromFont->Row(y),
                                 size_t(fromPackage->Width()) * 4) != 0;
    EXPECT_EQ(differing, 0);
    EXPECT_GT(InkOf(*fromPackage, kBlue).Pixels, 200);
}

TEST(ImageObjects_Text, RasterizedTextUsesItsPictureAndScalesByTheLines) {
    TShow show({{u"pre.png", Png(*Quadrants(100, 40))}},
               {u"object T : text", u"  Text=\"a^&b\"", u"  Rasterize=1", u"  ImageName=pre.png",
                u"  LineSpacing=100", u"end"});
    show.LoadAt(0);
    TOrbText& text = show.Text(0);
    ASSERT_TRUE(text.PictureLoaded());
    // No box of its own: it takes the picture's size. Two lines with half a
    // line between them: 40 / 2.5.
    EXPECT_EQ(text.Width(), 100);
    EXPECT_EQ(text.Height(), 40);
    EXPECT_DOUBLE_EQ(text.RasterScale(), 16);
    EXPECT_EQ(text.PictureStore()->Width(), 100);
}

TEST(ImageObjects_Text, HoverLookDrawsInTheHoverColour) {
    TScreen screen;
    TShow show({}, {u"object T : text", u"  Text=\"MMMM\"", u"  TextColor=255,0,0",
                    u"  TextColorHover=0,0,255", u"  FontName=DejaVu Sans", u"  FitMode=None",
                    u"  Action=nextslide", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 0);
    auto count = [](const ql::TBitmap& frame, uint32_t colour) {
        int32_t n = 0;
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 96; ++x) n += Pixel(frame, x, y) == colour;
        return n;
    };
    auto normal = screen.Frame(*show.Slide);
    EXPECT_GT(count(*normal, kRed), 20);
    EXPECT_EQ(count(*normal, kBlue), 0);
    show.Text(0).SetMouseLook(TMouseLook::Hover);
    auto hover = screen.Frame(*show.Slide);
    EXPECT_EQ(count(*hover, kRed), 0);
    EXPECT_GT(count(*hover, kBlue), 20);
}

// --- shadows ---------------------------------------------------------------------------

// A picture of one colour.
std::unique_ptr<ql::TBitmap> Plain(int32_t width, int32_t height, uint32_t colour) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    bitmap->FillRect(bitmap->Bounds(), colour);
    return bitmap;
}

// Byte c of a pixel (0 blue, 1 green, 2 red).
int Channel(const ql::TBitmap& bitmap, int32_t x, int32_t y, int c) {
    return bitmap.Row(y)[size_t(x) * 4 + c];
}

// The weighted middle of a frame, in pixel-centre coordinates; (-1, -1)
// when every weight is 0.
ql::TPointF WeightedMiddle(const std::function<double(int32_t x, int32_t y)>& weight) {
    double sum = 0, sx = 0, sy = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            const double w = weight(x, y);
            sum += w, sx += w * (x + 0.5), sy += w * (y + 0.5);
        }
    return sum > 0 ? ql::TPointF{float(sx / sum), float(sy / sum)} : ql::TPointF{-1, -1};
}

ql::TPointF CornersMiddle(const std::array<TPointF, 4>& corners) {
    ql::TPointF m{0, 0};
    for (const TPointF& c : corners) m = {m.x + c.x / 4, m.y + c.y / 4};
    return m;
}

TEST(ImageObjects_Shadow, TextWithDefaultKeysCastsAGreyShadowDownRight) {
    auto frameOf = [](const std::u16string& shadowKey) {
        TScreen screen;
        TShow show(
            {{u"white.png", Png(*Plain(96, 64, 0xFFFFFFFF))}},
            {u"object A : image", u"  ImageName=white.png", u"end", u"object T : text",
             u"  Text=\"MMMM\"", u"  TextColor=255,0,0", u"  FontName=DejaVu Sans", shadowKey,
             u"  object K : KeyPoint", u"    ScaleX=60", u"    ScaleY=60", u"  end", u"end"});
        show.Slide->AttachDrawer(screen.drawer);
        show.Slide->SetTime(true, 0);
        EXPECT_EQ(show.Text(1).ShadowPictureName().empty(), shadowKey == u"  ShadowEnable=0");
        return screen.Frame(*show.Slide);
    };
    const auto plain = frameOf(u"  ShadowEnable=0");
    const auto still = frameOf(u"  ShadowDistance=0");
    const auto shadowed = frameOf(u"");
    // Without the shadow every pixel is white or the text's red; with it some
    // white ones turn grey (black at 59 %, blurred).
    int32_t grey = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            const int b = Channel(*plain, x, y, 0), g = Channel(*plain, x, y, 1);
            EXPECT_EQ(b, g);
            if (b != 255) continue;
            const int sb = Channel(*shadowed, x, y, 0), sg = Channel(*shadowed, x, y, 1),
                      sr = Channel(*shadowed, x, y, 2);
            EXPECT_TRUE(sb == sg && sg == sr) << x << "," << y;
            grey += sb < 250;
        }
    EXPECT_GT(grey, 50);
    auto shadeOf = [&](const ql::TBitmap& frame) {
        return WeightedMiddle([&](int32_t x, int32_t y) {
            return Channel(*plain, x, y, 1) == 255 ? 255 - Channel(frame, x, y, 1) : 0;
        });
    };
    const ql::TPointF centred = shadeOf(*still), moved = shadeOf(*shadowed);
    ASSERT_GT(centred.x, 0);
    ASSERT_GT(moved.x, 0);
    // Angle 45 and distance 1.5 of a 57.6 x 19.4 text: about a third of a
    // pixel right and as much down.
    EXPECT_GT(moved.x - centred.x, 0.15);
    EXPECT_GT(moved.y - centred.y, 0.15);
    EXPECT_NEAR(moved.x - centred.x, moved.y - centred.y, 0.3);
}

TEST(ImageObjects_Shadow, ShadowColourOpacityAndDistanceFollowTheKeys) {
    TScreen screen;
    // A 20 x 10 white picture 10 pixels from the left: no blur, blue at 50 %,
    // offset sqrt(20 x 10) x 0.5 = 7.07 pixels at 45 degrees.
    TShow show({{u"white.png", Png(*Plain(20, 10, 0xFFFFFFFF))}},
               {u"object A : image", u"  ImageName=white.png", u"  FitMode=None",
                u"  ShadowEnable=1", u"  ShadowSize=0", u"  ShadowColor=0,0,255",
                u"  ShadowOpacity=50", u"  ShadowDistance=50", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    show.Slide->SetTime(true, 0);
    const auto frame = screen.Frame(*show.Slide);
    const ql::TPointF object = CornersMiddle(show.Image(0).ScreenCorners());
    int maxBlue = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            if (Channel(*frame, x, y, 2) != 0) continue;  // the white picture
            EXPECT_EQ(Channel(*frame, x, y, 1), 0);
            maxBlue = std::max(maxBlue, Channel(*frame, x, y, 0));
        }
    EXPECT_NEAR(maxBlue, 128, 3);
    // The corner of the shadow below and right of the picture shows; the
    // picture hides the rest of it. Nothing lies above or left of the object.
    const ql::TPointF shade = WeightedMiddle([&](int32_t x, int32_t y) {
        return Channel(*frame, x, y, 2) == 0 ? Channel(*frame, x, y, 0) : 0;
    });
    EXPECT_GT(shade.x, object.x + 5);
    EXPECT_GT(shade.y, object.y + 3);
    EXPECT_EQ(Channel(*frame, int32_t(object.x) - 12, int32_t(object.y), 0), 0);
    EXPECT_EQ(Channel(*frame, int32_t(object.x), int32_t(object.y) - 7, 0), 0);
    EXPECT_GT(Channel(*frame, int32_t(object.x) + 12, int32_t(object.y) + 2, 0), 100);
}

TEST(ImageObjects_Shadow, ThreeDShadowFollowsARotatedObjectsAxes) {
    // Turned a quarter clockwise: the object's x axis points down the screen.
    auto shadowMiddle = [](const std::u16string& threeD) {
        TScreen screen;
        TShow show({{u"white.png", Png(*Plain(20, 10, 0xFFFFFFFF))}},
                   {u"object A : image", u"  ImageName=white.png", u"  FitMode=None",
                    u"  ShadowEnable=1", u"  ShadowSize=0", u"  ShadowColor=0,255,0",
                    u"  ShadowOpacity=100", u"  ShadowDistance=50", u"  ShadowAngle=0", threeD,
                    u"  object K : KeyPoint", u"    Angle=90", u"  end", u"end"});
        show.Slide->AttachDrawer(screen.drawer);
        show.Slide->SetTime(true, 0);
        const auto frame = screen.Frame(*show.Slide);
        const ql::TPointF object = CornersMiddle(show.Image(0).ScreenCorners());
        const ql::TPointF shade = WeightedMiddle([&](int32_t x, int32_t y) {
            return Channel(*frame, x, y, 2) == 0 ? Channel(*frame, x, y, 1) : 0;
        });
        return ql::TPointF{shade.x - object.x, shade.y - object.y};
    };
    const ql::TPointF flat = shadowMiddle(u"  3DShadow=0");
    const ql::TPointF turned = shadowMiddle(u"  3DShadow=1");
    // Flat: angle 0 is the screen's right; 3D: the object's right, now down.
    EXPECT_GT(flat.x, 4);
    EXPECT_NEAR(flat.y, 0, 0.5);
    EXPECT_NEAR(turned.x, 0, 0.5);
    EXPECT_GT(turned.y, 4);
}

TEST(ImageObjects_Shadow, EqualShadowsShareOnePictureAndANewPictureCastsANewShadow) {
    TScreen screen;
    TShow show({{u"a.png", Png(*Quadrants(40, 20))}, {u"b.png", Png(*Quadrants(30, 30))}},
               {u"object A : image", u"  ImageName=a.png", u"  ShadowEnable=1", u"end",
                u"object B : image", u"  ImageName=a.png", u"  ShadowEnable=1",
                u"  ShadowOpacity=20", u"end", u"object C : image", u"  ImageName=a.png",
                u"  ShadowEnable=1", u"  EnableBorder=1", u"  BorderWidth=5", u"end",
                u"object D : image", u"  ImageName=a.png", u"end"});
    show.Slide->AttachDrawer(screen.drawer);
    TOrbImage& a = show.Image(0);
    ASSERT_TRUE(a.ShadowStore());
    EXPECT_EQ(a.ShadowPictureName().substr(0, 13), u"Shadow: a.png");
    // Opacity is applied in drawing: the same picture serves both.
    EXPECT_EQ(a.ShadowStore(), show.Image(1).ShadowStore());
    // A bordered picture casts the shadow of its box.
    EXPECT_EQ(show.Image(2).ShadowPictureName().substr(0, 11), u"Shadow: N\\A");
    EXPECT_FALSE(show.Image(3).ShadowStore());

    a.SetImageName(u"b.png");
    a.Prepare(screen.drawer);
    EXPECT_EQ(a.ShadowPictureName().substr(0, 13), u"Shadow: b.png");
    EXPECT_NE(a.ShadowStore(), show.Image(1).ShadowStore());
}

// --- texts made on several threads ------------------------------------------------

// Passes reads on; the first one waits for the hold to let go.
class THeldStream : public ql::TStream {
public:
    THeldStream(std::unique_ptr<ql::TStream> inner, std::function<void()> hold)
        : m_inner(std::move(inner)), m_hold(std::move(hold)) {}
    int64_t GetPosition() override { return m_inner->GetPosition(); }
    void SetPosition(int64_t position) override { m_inner->SetPosition(position); }
    int64_t GetSize() override { return m_inner->GetSize(); }
    void SetSize(int64_t size) override { m_inner->SetSize(size); }
    size_t Read(void* buffer, size_t count) override {
        if (m_hold) std::exchange(m_hold, nullptr)();
        return m_inner->Read(buffer, count);
    }
    size_t Write(const void* buffer, size_t count) override {
        return m_inner->Write(buffer, count);
    }

private:
    std::unique_ptr<ql::TStream> m_inner;
    std::function<void()> m_hold;
};

// A package whose glyph cache, on its first read, waits a while for another
// text's entry to be opened meanwhile.
class TFontHoldingSource : public TPackedFileSource {
public:
    using TPackedFileSource::TPackedFileSource;

    std::u16string FontEntry, OtherTextEntry;
    ql::TEvent FontReading, OtherTextOpened;
    uint32_t HoldMs = 500;

protected:
    std::unique_ptr<ql::TStream> OpenUnmapped(const std::u16string& name) override {
        std::unique_ptr<ql::TStream> stream = TPackedFileSource::OpenUnmapped(name);
        if (name == OtherTextEntry) OtherTextOpened.Set();
        if (name != FontEntry || !stream || m_held.exchange(true)) return stream;
        return std::make_unique<THeldStream>(std::move(stream), [this] {
            FontReading.Set();
            OtherTextOpened.Wait(HoldMs);
        });
    }

private:
    std::atomic<bool> m_held{false};
};

TEST(ImageObjects_Text, TwoStoredTextsMadeAtOnce_BothKeepTheirFonts) {
    RegisterImageObjects();
    TTextParams params;
    params.FontName = u"DejaVu Serif";
    params.Alignment = kAlignLeft;
    params.Color = kBlue;
    const std::vector<std::u16string> one{u"First"}, two{u"Second"};
    ql::TFontCache building;
    std::vector<test::TTestEntry> entries{{u"ExeGUID", "{image-objects-texts-at-once}", 0}};
    for (const auto* lines : {&one, &two}) {
        auto installed = MakeVectorText(params, *lines, {}, building);
        ASSERT_TRUE(installed);
        ql::AddGlyphsOf(*installed, building);
        ql::TMemoryStream stored;
        ql::TCachedVectorText::FromVectorText(*installed, building)->SaveToStream(stored);
        entries.push_back(
            {VectorTextName(u"Orblume Missing Face", 0, *lines), StreamBytes(stored), 1});
    }
    ql::TMemoryStream cache;
    building.Find(u"DejaVu Serif")->SaveToStream(cache);
    entries.push_back({VectorTextCacheName(u"DejaVu Serif"), StreamBytes(cache), 1});

    const std::string package = test::BuildPackage("player", entries);
    auto unpack = std::make_unique<TOrbUnpack>();
    ASSERT_EQ(
        unpack->Open([package] { return std::make_unique<ql::TStringStream>(package); }, u"show"),
        TUnpackResult::Ok);
    auto source = ql::MakeRef<TFontHoldingSource>(std::move(unpack));
    source->FontEntry = VectorTextCacheName(u"DejaVu Serif");
    source->OtherTextEntry = VectorTextName(u"Orblume Missing Face", 0, two);
    TFileAccessor accessor(source);
    TSlideHostCallbacks callbacks;
    callbacks.CameraPosition = [] { return TCamera3D{48, 32, -1000}; };
    callbacks.Progress = [](float) { return true; };
    callbacks.SlideChanged = [](TOrbSlide&) {};
    callbacks.Drawing = [] {};
    TOrbSlideHost host(accessor, callbacks);

    TTextPictureRequest request;
    request.Params = params;
    request.Params.FontName = u"Orblume Missing Face";
    request.Scale = 1;
    request.Lines = one;
    const std::u16string nameOne = TextPictureName(request);
    request.Lines = two;
    const std::u16string nameTwo = TextPictureName(request);

    // The second text starts while the first reads its font.
    std::unique_ptr<access::TOrbImage> first, second;
    std::thread firstMaker([&] { first = accessor.OpenImage(nameOne); });
    ASSERT_TRUE(source->FontReading.Wait(10000));
    std::thread secondMaker([&] { second = accessor.OpenImage(nameTwo); });
    firstMaker.join();
    secondMaker.join();

    // Each as it is made alone, from the same package.
    ql::TFontCache alone;
    alone.SetOpener(PackageOpener(accessor));
    for (const auto& [image, name] :
         {std::pair{first.get(), nameOne}, std::pair{second.get(), nameTwo}}) {
        ASSERT_TRUE(image);
        ql::TRef<ql::TBitmapStore> made = image->BitmapStore();
        EXPECT_TRUE(PlaceholderTextOf(*made).empty()) << ql::ToUtf8(name);
        auto reference = MakeTextPicture(name, PackageOpener(accessor), alone);
        ASSERT_TRUE(reference);
        ql::TBitmap* a = made->GetBitmap(0, ql::PfARGB32());
        ql::TBitmap* b = reference->GetBitmap(0, ql::PfARGB32());
        ASSERT_TRUE(a && b);
        ASSERT_EQ(a->Width(), b->Width()) << ql::ToUtf8(name);
        ASSERT_EQ(a->Height(), b->Height()) << ql::ToUtf8(name);
        int32_t differing = 0;
        for (int32_t y = 0; y < a->Height(); ++y)
            differing += std::memcmp(a->Row(y), b->Row(y), size_t(a->Width()) * 4) != 0;
        EXPECT_EQ(differing, 0) << ql::ToUtf8(name);
    }
}

}  // namespace
}  // namespace orb
