#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "QlLib/VectorGraphics/qlGlyphCache.h"
#include "tests/TestFolder.h"

namespace orb {
namespace {

using ql::test::TTestFolder;

TSlideHostCallbacks AllCallbacks(int* drawings = nullptr) {
    TSlideHostCallbacks callbacks;
    callbacks.CameraPosition = [] { return TCamera3D{320, 240, -480}; };
    callbacks.Progress = [](float) { return true; };
    callbacks.SlideChanged = [](TOrbSlide&) {};
    callbacks.Drawing = [drawings] {
        if (drawings) ++*drawings;
    };
    return callbacks;
}

// Pictures "TestPicture: N": N pixels wide, one high, "A8R8G8B8": opaque
// white, then white at half alpha, then opaque black.
void RegisterTestPictures() {
    static const bool registered = [] {
        RegisterPictureMaker(u"TestPicture: ", [](TOrbSlideHost&, const std::u16string& name) {
            const int32_t width = std::stoi(ql::ToUtf8(name.substr(13)));
            std::unique_ptr<ql::TBitmap> bitmap = ql::CreateBitmap(width, 1, ql::PfARGB32());
            const uint32_t colours[3] = {0xFFFFFFFFu, 0x80FFFFFFu, 0xFF000000u};
            for (int32_t x = 0; x < width; ++x) bitmap->FillRect({x, 0, x + 1, 1}, colours[x % 3]);
            return ql::TRef<ql::TBitmapStore>(ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap), name));
        });
        return true;
    }();
    (void)registered;
}

class SlideHostTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterTestPictures(); }
    TFileAccessor accessor{ql::MakeRef<TRealFileSource>()};
};

bool IsPlaceholder(access::TOrbImage& image) { return !PlaceholderTextOf(*image.BitmapStore()).empty(); }

TEST_F(SlideHostTest, EveryCallbackIsRequired) {
    void (*clear[4])(TSlideHostCallbacks&) = {
        [](TSlideHostCallbacks& c) { c.CameraPosition = nullptr; },
        [](TSlideHostCallbacks& c) { c.Progress = nullptr; },
        [](TSlideHostCallbacks& c) { c.SlideChanged = nullptr; },
        [](TSlideHostCallbacks& c) { c.Drawing = nullptr; },
    };
    for (auto missing : clear) {
        TSlideHostCallbacks callbacks = AllCallbacks();
        missing(callbacks);
        EXPECT_THROW(TOrbSlideHost(accessor, callbacks), EOrbSlideHostError);
    }
    EXPECT_NO_THROW(TOrbSlideHost(accessor, AllCallbacks()));
}

TEST_F(SlideHostTest, CallbacksReachTheEngineAndTheSlides) {
    int drawings = 0;
    TOrbSlideHost host(accessor, AllCallbacks(&drawings));
    host.RequestDrawing();
    EXPECT_EQ(drawings, 1);
    TOrbSlide slide(&host, 0);
    EXPECT_FLOAT_EQ(slide.CameraPosition().z, -480);
    slide.SetSize(640, 480);
    slide.SetTime(true, 0);
    EXPECT_FLOAT_EQ(slide.SlideDepthFactor(), 0.5f);
}

TEST_F(SlideHostTest, CancelledPreScanStaysPending) {
    TSlideHostCallbacks callbacks = AllCallbacks();
    int calls = 0;
    bool cancel = true;
    callbacks.Progress = [&](float) {
        ++calls;
        return !cancel;
    };
    TOrbSlideHost host(accessor, callbacks);
    TOrbSlide slide(&host, 0);
    slide.SetSize(640, 480);
    slide.SetTimes(0, 1000, 0, 0);
    TOrbObject& child = slide.AddChild(std::make_unique<TOrbObject>(&slide, u""));
    child.SetSize(64, 48);
    child.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 0);
    child.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 500).SetScaleX(300);
    slide.SetTime(true, 100);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(slide.PreScanPending());
    EXPECT_DOUBLE_EQ(slide.LocalTime(), 100);
    cancel = false;
    slide.SetTime(true, 100);
    EXPECT_FALSE(slide.PreScanPending());
    EXPECT_EQ(calls, 3);
    EXPECT_GT(child.RequiredWidth(), 0);
}

TEST_F(SlideHostTest, CameraBehindThePicturePlaneLeavesSizesUnenlarged) {
    TSlideHostCallbacks callbacks = AllCallbacks();
    callbacks.CameraPosition = [] { return TCamera3D{320, 240, 480}; };
    TOrbSlideHost host(accessor, callbacks);
    TOrbSlide slide(&host, 0);
    slide.SetSize(640, 480);
    slide.SetTimes(0, 1000, 0, 0);
    TOrbObject& child = slide.AddChild(std::make_unique<TOrbObject>(&slide, u""));
    child.SetSize(64, 48);
    child.SetFitMode(fmNone);
    child.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 0).SetZPos(-50);
    slide.SetTime(true, 0);
    EXPECT_FALSE(slide.PreScanPending());
    EXPECT_TRUE(std::isfinite(child.RequiredWidth()));
}

TEST_F(SlideHostTest, BadDisplayScalesBecomeOne) {
    TOrbSlideHost host(accessor, AllCallbacks());
    host.SetDisplayScale(2);
    EXPECT_DOUBLE_EQ(host.DisplayScale(), 2);
    host.SetDisplayScale(-1);
    EXPECT_DOUBLE_EQ(host.DisplayScale(), 1);
    host.SetDisplayScale(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(host.DisplayScale(), 1);
}

TEST_F(SlideHostTest, PresetMasksAreMadeByName) {
    TOrbSlideHost host(accessor, AllCallbacks());
    TMaskParams params;
    params.Width = 64;
    params.Height = 32;
    params.Shape = msEllipse;
    std::unique_ptr<access::TOrbImage> image = accessor.OpenImage(MaskParamsText(params));
    ASSERT_FALSE(IsPlaceholder(*image));
    EXPECT_EQ(image->BitmapStore()->Width(), 64);
    EXPECT_EQ(image->BitmapStore()->Height(), 32);
    // Sizes beyond reason are not made.
    params.Width = 1 << 20;
    EXPECT_TRUE(IsPlaceholder(*accessor.OpenImage(MaskParamsText(params))));
}

TEST_F(SlideHostTest, MaskOfAPictureHoldsItsGreyTimesItsAlpha) {
    TOrbSlideHost host(accessor, AllCallbacks());
    std::unique_ptr<access::TOrbImage> image = accessor.OpenImage(MaskPictureName(u"TestPicture: 3"));
    ASSERT_FALSE(IsPlaceholder(*image));
    ql::TBitmap* mask = image->BitmapStore()->GetBitmap(0);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->PixelFormat(), MaskPixelFormat());
    EXPECT_EQ(mask->Row(0)[0], 255);
    EXPECT_NEAR(mask->Row(0)[1], 128, 1);
    EXPECT_EQ(mask->Row(0)[2], 0);
}

TEST_F(SlideHostTest, MasksOfOtherFormatsAreConvertedNotRefused) {
    for (const char* name : {"R8G8B8", "B5G6R5", "A8"}) {
        std::unique_ptr<ql::TBitmap> source = ql::CreateBitmap(4, 2, ql::FindPixelFormat(name));
        source->FillRect({0, 0, 4, 2}, 0xFFFFFFFFu);
        std::unique_ptr<ql::TBitmap> mask = ToMaskBitmap(*source);
        ASSERT_NE(mask, nullptr) << name;
        EXPECT_EQ(mask->PixelFormat(), MaskPixelFormat()) << name;
        EXPECT_GE(mask->Row(1)[3], 250) << name;
    }
}

TEST_F(SlideHostTest, GeneratedNamesNestedTooDeeplyAreNotMade) {
    TOrbSlideHost host(accessor, AllCallbacks());
    EXPECT_FALSE(IsPlaceholder(*accessor.OpenImage(u"Mask: Mask: TestPicture: 2")));
    std::u16string name = u"TestPicture: 2";
    for (int i = 0; i < 50; ++i) name = MaskPictureName(name);
    EXPECT_TRUE(IsPlaceholder(*accessor.OpenImage(name)));
}

TEST_F(SlideHostTest, MissingPicturesGiveNoMask) {
    TOrbSlideHost host(accessor, AllCallbacks());
    EXPECT_TRUE(IsPlaceholder(*accessor.OpenImage(u"Mask: /nonexistent/picture.png")));
}

TEST_F(SlideHostTest, ShadowNamesReadBackAndAreStable) {
    TShadowParams params;
    params.PictureKey = u"Text: a:b";
    params.ObjectRect = {0, 0, 120, 80};
    params.MarginX = 12;
    params.MarginY = 9;
    params.BlurSize = 6.5f;
    params.Colour = 0x102030;
    params.Opacity = 59;
    params.SpreadIndex = 2;
    params.Shape[0] = 1;
    params.Shape[1] = 30;
    params.Shape[2] = 40;
    params.StoreLevel = 1;
    const std::u16string name = ShadowPictureName(params);
    EXPECT_EQ(name.rfind(u"Shadow: ", 0), 0u);
    EXPECT_EQ(name, ShadowPictureName(params));
    TShadowParams read;
    ASSERT_TRUE(ParseShadowName(name, read));
    EXPECT_EQ(read.PictureKey, params.PictureKey);
    EXPECT_EQ(read.ObjectRect.right, 120);
    EXPECT_EQ(read.ObjectRect.bottom, 80);
    EXPECT_EQ(read.MarginX, 12);
    EXPECT_EQ(read.MarginY, 9);
    EXPECT_FLOAT_EQ(read.BlurSize, 6.5f);
    EXPECT_EQ(read.Colour, 0x102030u);
    EXPECT_EQ(read.SpreadIndex, 2);
    EXPECT_EQ(read.Shape[1], 30);
    EXPECT_EQ(read.StoreLevel, 1);
    EXPECT_EQ(ShadowPictureName(read), name);

    EXPECT_FALSE(ParseShadowName(u"Shadow: x:1:2", read));
    EXPECT_FALSE(ParseShadowName(u"Shadow: x:a:2:3:4:5:6:7:8:9:10:11:12:13:14", read));
    EXPECT_FALSE(ParseShadowName(u"Shadow: x:-1:2:3:4:5:6:7:8:9:10:11:12:0:14", read));
}

TEST_F(SlideHostTest, ShapeShadowsAreMadeByName) {
    TOrbSlideHost host(accessor, AllCallbacks());
    TShadowParams params;
    params.ObjectRect = {0, 0, 40, 30};
    params.MarginX = params.MarginY = 8;
    params.BlurSize = 4;
    std::unique_ptr<access::TOrbImage> image = accessor.OpenImage(ShadowPictureName(params));
    ASSERT_FALSE(IsPlaceholder(*image));
    EXPECT_GT(image->BitmapStore()->Width(), 0);
}

TEST_F(SlideHostTest, NamesAreAnsweredOnlyWhileTheHostLives) {
    TMaskParams params;
    params.Width = 17;
    params.Height = 5;
    {
        TOrbSlideHost host(accessor, AllCallbacks());
        EXPECT_FALSE(IsPlaceholder(*accessor.OpenImage(MaskParamsText(params))));
    }
    EXPECT_TRUE(IsPlaceholder(*accessor.OpenImage(MaskParamsText(params))));
}

TEST_F(SlideHostTest, ExeGuidEntryBecomesTheFontCacheIdentity) {
    TTestFolder folder;
    std::ofstream(folder.File("ExeGUID"), std::ios::binary) << "\xEF\xBB\xBF{1234-ABCD}\r\n";
    const std::u16string previous = ql::TFontCache::Program().Identity();
    accessor.SetBaseFolder(ql::FromUtf8(folder.Path()));
    {
        TOrbSlideHost host(accessor, AllCallbacks());
        EXPECT_EQ(host.ExeGuid(), u"{1234-ABCD}");
        EXPECT_EQ(ql::TFontCache::Program().Identity(), u"{1234-ABCD}");
    }
    ql::TFontCache::Program().SetIdentity(previous);
}

}  // namespace
}  // namespace orb
