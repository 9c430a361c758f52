#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "ObjectShowSupport.h"
#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/MaskGenerator.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/ShadowGenerator2.h"
#include "QlLib/Graphics/qlImageTransform.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using test::Pixel;
using test::TScreen;
using test::TShow;

// The mean difference of the first byte of each pixel (the grey of a mask).
double MeanGreyDifference(const ql::TBitmap& a, const ql::TBitmap& b) {
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    const int32_t bytesA = a.PixelFormat()->BytesPerPixel();
    const int32_t bytesB = b.PixelFormat()->BytesPerPixel();
    double sum = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x)
            sum += std::abs(int(a.Row(y)[x * bytesA]) - int(b.Row(y)[x * bytesB]));
    return sum / (double(a.Width()) * a.Height());
}

TEST(GeneratedPictures, FinestLevelKeepsBothSidesWithinTheLimit) {
    struct TCase {
        int32_t width, height, finest;
    };
    for (const TCase& c : {TCase{1, 1, 0}, TCase{4096, 4096, 0}, TCase{4097, 10, 1},
                           TCase{16384, 16384, 2}, TCase{10, 65535, 4}, TCase{0, -3, 0}}) {
        const int32_t finest = FinestGeneratedLevel(c.width, c.height);
        EXPECT_EQ(finest, c.finest) << c.width << " x " << c.height;
        const ql::TPoint size =
            ql::MipLevelSize(std::max(c.width, 1), std::max(c.height, 1), finest);
        EXPECT_LE(std::max(size.x, size.y), kMaxGeneratedSide);
    }
}

// A level of a preset mask is made at its own size, never from the full
// size: it must look like the full mask halved down to it.
TEST(GeneratedPictures, PresetMaskLevelsLookLikeTheFullMaskHalved) {
    struct TCase {
        const char16_t* name;
        int32_t level;
    };
    TShow show({}, {});
    for (const TCase& c :
         {TCase{u"PresetedMask: 512:384:1:0:0", 2}, TCase{u"PresetedMask: 640:360:0:30:20", 3},
          TCase{u"PresetedMask: 301:177:1:50:0", 1}}) {
        const std::string label = ql::ToUtf8(c.name);
        std::unique_ptr<access::TOrbImage> image = show.Accessor().OpenImage(c.name);
        ql::TRef<ql::TBitmapStore> store = image->BitmapStore();
        ASSERT_TRUE(PlaceholderTextOf(*store).empty()) << label;
        const TMaskParams params = ParseMaskParams(c.name);
        EXPECT_EQ(store->Width(), params.Width) << label;
        EXPECT_EQ(store->Height(), params.Height) << label;
        std::unique_ptr<ql::TBitmap> halved = TMaskGenerator().Generate(params);
        for (int32_t i = 0; i < c.level; ++i) halved = ql::HalveBitmap(*halved);
        const ql::TBitmap* level = store->GetBitmap(c.level);
        ASSERT_NE(level, nullptr) << label;
        EXPECT_LT(MeanGreyDifference(*level, *halved), 2.0) << label;
        // The mask of the mask follows the same levels.
        std::unique_ptr<access::TOrbImage> mask =
            show.Accessor().OpenImage(MaskPictureName(c.name));
        const ql::TBitmap* maskLevel = mask->BitmapStore()->GetBitmap(c.level);
        ASSERT_NE(maskLevel, nullptr) << label;
        EXPECT_EQ(maskLevel->PixelFormat(), MaskPixelFormat()) << label;
        EXPECT_LT(MeanGreyDifference(*maskLevel, *halved), 2.0) << label;
    }
}

// A preset mask far larger than the screen, as an image's picture and as a
// view port's mask, keeps the size its name asks for (the slide fits it as
// before) and shows the same ellipse, while the picture is made no finer than
// the level the screen needs.
TEST(GeneratedPictures, AHugePresetMaskIsDrawnFromASmallLevel) {
    const std::u16string name = u"PresetedMask: 16384:16384:1:0:0";
    struct TCase {
        const char* label;
        std::vector<std::u16string> lines;
    };
    const TCase cases[] = {
        {"image", {u"object M : image", u"  ImageName=" + name, u"end"}},
        {"mask",
         {u"object V : viewport", u"  Size=96,64", u"  object C : box", u"    Size=96,64",
          u"    Color1=255,255,255", u"  end", u"  object M : mask", u"    ImageName=" + name,
          u"  end", u"end"}},
    };
    for (const TCase& c : cases) {
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show({}, c.lines);
        show.LoadAt(0);
        show.Slide->AttachDrawer(screen.drawer);
        auto frame = screen.Frame(*show.Slide);
        TOrbObject& object = show.Slide->Child(0);
        auto* image =
            dynamic_cast<TOrbImage*>(object.ChildCount() > 0 ? &object.Child(1) : &object);
        ASSERT_NE(image, nullptr) << c.label;
        EXPECT_EQ(image->PictureWidth(), 16384) << c.label;
        EXPECT_EQ(image->PictureHeight(), 16384) << c.label;
        EXPECT_GE(image->LevelOfDetail(), FinestGeneratedLevel(16384, 16384)) << c.label;
        // The ellipse fills the middle; the slide's corners stay dark.
        EXPECT_GE(Pixel(*frame, 48, 32) & 0xFF, 250u) << c.label;
        EXPECT_LE(Pixel(*frame, 1, 1) & 0xFF, 5u) << c.label;
        // What was made is what the screen needs, not the quarter of a
        // billion pixels the name asks for.
        EXPECT_LT(ql::PictureMemoryHeld(), int64_t(16) << 20) << c.label;
    }
}

// Before any pre-scan knows the size an object is shown at, a generated
// picture is sized to its slide rather than made at its finest level; the
// pre-scan then settles the level.
TEST(GeneratedPictures, BeforeThePreScanAGeneratedPictureTakesItsSlidesSize) {
    TShow show({}, {u"object M : image", u"  ImageName=PresetedMask: 16384:8192:1:0:0", u"end"});
    LoadObjectPictures(*show.Slide);
    TOrbImage& image = show.Image(0);
    ASSERT_TRUE(image.PictureLoaded());
    // 16384 x 8192 halved until it fits 96 x 64 is 7 halvings; one level
    // finer is kept as the usual margin.
    EXPECT_EQ(image.LevelOfDetail(), 6);
    show.Slide->SetTime(true, 0);
    EXPECT_GE(image.LevelOfDetail(), 6);
}

// The peak signal-to-noise ratio of b against a over every byte; 99 when
// they are equal.
double FramePsnr(const ql::TBitmap& a, const ql::TBitmap& b) {
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    double sum = 0;
    int64_t count = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width() * 4; ++x, ++count) {
            const double d = double(a.Row(y)[x]) - double(b.Row(y)[x]);
            sum += d * d;
        }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(count) / sum);
}

// A button theme whose one picture is 64 x 2048, shaded across and down, so
// that a face made smaller must average what it covers: corners 20 x 100,
// the sides' edges and the centre one column, a natural size of 60 x 2048.
std::vector<test::TTestEntry> ShadedTheme(const std::u16string& folder) {
    auto picture = std::make_unique<ql::TDirectBitmap>(64, 2048, ql::PfARGB32());
    for (int32_t y = 0; y < 2048; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(picture->Row(y));
        for (int32_t x = 0; x < 64; ++x)
            row[x] = 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y / 8) << 8 |
                     uint32_t(255 - (y * 3 + x) % 256);
    }
    std::string text = "[NormalState]\n";
    auto part = [&](const char* key, int l, int t, int r, int b) {
        text += std::string(key) + "=shade.png," + std::to_string(l) + "," + std::to_string(t) +
                "," + std::to_string(r) + "," + std::to_string(b) + "\n";
    };
    part("LeftTop", 0, 0, 20, 100);
    part("Top", 20, 0, 21, 100);
    part("RightTop", 40, 0, 60, 100);
    part("Right", 40, 100, 60, 1948);
    part("RightBottom", 40, 1948, 60, 2048);
    part("Bottom", 20, 1948, 21, 2048);
    part("LeftBottom", 0, 1948, 20, 2048);
    part("Left", 0, 100, 20, 1948);
    part("Center", 20, 100, 21, 1948);
    text += "[TextParams]\nColor=255,255,255\n";
    return {{folder + u"\\btn.ini", text, 0}, {folder + u"\\shade.png", test::Png(*picture), 0}};
}

// Makers of the shadows and faces at their full size, as they were made
// before levels: the reference the capped pictures are held against.
ql::TRef<ql::TBitmapStore> FullSizeShadow(TOrbSlideHost& host, const std::u16string& name) {
    TShadowParams params;
    if (!ParseShadowName(name, params)) return {};
    std::shared_ptr<ql::TBitmap> picture;
    if (params.PictureKey != u"N\\A") {
        std::unique_ptr<access::TOrbImage> image = host.Accessor().OpenImage(params.PictureKey);
        picture = image->BitmapStore()->ShareBitmap(params.StoreLevel);
    }
    TShadowPicture shadow = host.ShadowGenerator().Generate(params, picture.get());
    return ql::MakeRef<ql::TWrapperBitmapStore>(std::move(shadow.Bitmap), name);
}

ql::TRef<ql::TBitmapStore> FullSizeFace(TOrbSlideHost& host, const std::u16string& name) {
    return host.ButtonProducers().MakePicture(name);
}

// The shadow of a picture and a button face, each thousands of pixels a side
// and shown on a 96 x 64 screen, are made at the level the screen shows them:
// what is made is bounded by the frame, and the frame matches the one drawn
// from the pictures made at their full size.
TEST(GeneratedPictures, HugeShadowsAndButtonFacesAreMadeAtTheLevelShown) {
    struct TCase {
        const char* label;
        const char16_t* prefix;
        TPictureMaker fullSize;
        std::vector<test::TTestEntry> entries;
        std::vector<std::u16string> lines;
        std::u16string buttonFolder;
    };
    const TCase cases[] = {
        {"shadow of a picture",
         u"Shadow: ",
         FullSizeShadow,
         {},
         {u"object M : image", u"  ImageName=PresetedMask: 3072:2048:1:0:0", u"  ShadowEnable=1",
          u"  ShadowSize=30", u"  ShadowDistance=12", u"  ShadowAngle=45", u"  ShadowOpacity=100",
          u"  ShadowColor=0,0,255", u"  object K : KeyPoint", u"    ScaleX=60", u"    ScaleY=60",
          u"  end", u"end"},
         u""},
        {"button face",
         kButtonPicturePrefix,
         FullSizeFace,
         ShadedTheme(u"btn\\shade"),
         {u"object B : button", u"  Theme=shade", u"  BtnMinWidth=3072", u"  TxtOpacity=0",
          u"  Hue=40", u"  object K : KeyPoint", u"    ScaleX=3", u"    ScaleY=3", u"  end",
          u"end"},
         u"btn"},
    };
    constexpr int64_t kFrameBytes = 96 * 64 * 4;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<ql::TDirectBitmap> frames[2];
        int64_t made = 0;
        for (int run = 0; run < 2; ++run) {
            const bool fullSize = run == 1;
            TPictureMaker saved;
            if (fullSize) saved = RegisterPictureMaker(c.prefix, c.fullSize);
            const int64_t before = ql::PictureMemoryHeld();
            {
                TScreen screen;  // outlives the show, whose objects hold its textures
                TShow show(c.entries, c.lines);
                if (!c.buttonFolder.empty()) show.Slide->Host()->SetPathToButtons(c.buttonFolder);
                show.LoadAt(0);
                show.Slide->AttachDrawer(screen.drawer);
                frames[run] = screen.Frame(*show.Slide);
                if (!fullSize) made = ql::PictureMemoryHeld() - before;
            }
            if (fullSize) RegisterPictureMaker(c.prefix, saved);
        }
        // The picture and its shadow or face in all: a few dozen frames'
        // bytes, where the full sizes hold tens of megabytes.
        EXPECT_LT(made, 40 * kFrameBytes);
        // Something was drawn where the picture lies, in both frames.
        EXPECT_GT(Pixel(*frames[0], 48, 32) & 0xFFFFFF, 0x101010u);
        EXPECT_GT(FramePsnr(*frames[1], *frames[0]), 30.0);
        std::printf("[   INFO   ] %s: %lld bytes made for the frame, PSNR %.1f dB\n", c.label,
                    static_cast<long long>(made), FramePsnr(*frames[1], *frames[0]));
    }
}

}  // namespace
}  // namespace orb
