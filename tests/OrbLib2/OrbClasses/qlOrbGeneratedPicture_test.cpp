#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ObjectShowSupport.h"
#include "OrbLib2/MaskGenerator.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
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

}  // namespace
}  // namespace orb
