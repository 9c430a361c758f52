#include "OrbLib2/OrbClasses/qlOrbRealSlideFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"

namespace orb {
namespace {

const char kEffectShow[] =
    "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=600\n"
    "opt_slidescount=1\nopt_synchpos1=3000\n"
    "[slide1]\nCoverMode=1\n"
    "object Old: image\n  ReplaceWithEffectBuffer=1\nend\n"
    "object New: image\n  ReplaceWithEffectBuffer=2\nend\n";

class RealSlideFilter : public ::testing::Test {
protected:
    std::u16string Entry(const std::string& text) {
        const std::u16string name = folder.File("fx.orb");
        test::WriteBytes(name, text);
        return name;
    }
    test::TTestFolder folder;
    TFileAccessor accessor{ql::MakeRef<TRealFileSource>()};
};

TEST_F(RealSlideFilter, Entry_GivesCoverModeSizeAndFirstSlide) {
    TRealSlideFilter filter(accessor, Entry(kEffectShow), {0, 0, 640, 360}, nullptr);
    EXPECT_TRUE(filter.CoverMode());
    // Cover on 640 x 360 for a 4:3 show: 640 x 480.
    EXPECT_EQ(filter.Producer().Geometry().FrameWidth, 640);
    EXPECT_EQ(filter.Producer().Geometry().FrameHeight, 480);
    TOrbSlide* slide = filter.Slide();
    ASSERT_NE(slide, nullptr);
    ASSERT_EQ(slide->ChildCount(), 2);
    // The buffer images stand in at the output's size.
    const auto* old = dynamic_cast<const TOrbImage*>(&slide->Child(0));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->ReplaceWithEffectBuffer(), 1);
    EXPECT_EQ(old->PictureWidth(), 640);
    EXPECT_EQ(old->PictureHeight(), 360);
}

TEST_F(RealSlideFilter, TwoOutputsAtOnce_EachBufferStandsInAtItsOwnSize) {
    // Both slides live at once on one accessor, so their buffer pictures
    // would share the cache's picture if the size did not tell them apart.
    const std::u16string entry = Entry(kEffectShow);
    TRealSlideFilter wide(accessor, entry, {0, 0, 640, 360}, nullptr);
    TRealSlideFilter small(accessor, entry, {0, 0, 320, 240}, nullptr);
    struct TCase {
        TRealSlideFilter& filter;
        int32_t width, height;
    };
    for (const TCase& c : {TCase{wide, 640, 360}, TCase{small, 320, 240}}) {
        TOrbSlide* slide = c.filter.Slide();
        ASSERT_NE(slide, nullptr);
        for (int32_t i = 0; i < slide->ChildCount(); ++i) {
            const auto* image = dynamic_cast<const TOrbImage*>(&slide->Child(i));
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->PictureWidth(), c.width);
            EXPECT_EQ(image->PictureHeight(), c.height);
        }
    }
}

TEST_F(RealSlideFilter, Progress_SetsTheSlideAcrossItsTime) {
    TRealSlideFilter filter(accessor, Entry(kEffectShow), {0, 0, 320, 240}, nullptr);
    filter.SetProgress(0.5);
    EXPECT_DOUBLE_EQ(filter.SlideTime(), 1500);
    EXPECT_DOUBLE_EQ(filter.Slide()->LocalTime(), 1500);
    filter.SetProgress(2);
    EXPECT_DOUBLE_EQ(filter.SlideTime(), 3000);
    filter.SetProgress(std::nan(""));
    EXPECT_DOUBLE_EQ(filter.SlideTime(), 0);
}

TEST_F(RealSlideFilter, FitModeWithoutCover) {
    std::string text = kEffectShow;
    text.replace(text.find("CoverMode=1"), 11, "CoverMode=0");
    TRealSlideFilter filter(accessor, Entry(text), {0, 0, 640, 360}, nullptr);
    EXPECT_FALSE(filter.CoverMode());
    EXPECT_EQ(filter.Producer().Geometry().FrameWidth, 480);
}

TEST_F(RealSlideFilter, MissingEmptyOrUnplayableEntries_GiveNothingSoACrossFadePlays) {
    EXPECT_EQ(MakeCustomTransition(accessor, u"", {0, 0, 64, 64}, nullptr), nullptr);
    EXPECT_EQ(MakeCustomTransition(accessor, u" , ", {0, 0, 64, 64}, nullptr), nullptr);
    EXPECT_EQ(MakeCustomTransition(accessor, folder.File("none.orb"), {0, 0, 64, 64}, nullptr),
              nullptr);
    // A document without slides is no show.
    EXPECT_EQ(MakeCustomTransition(accessor, Entry("[Main]\nopt_slidescount=0\n"), {0, 0, 64, 64},
                                   nullptr),
              nullptr);
    EXPECT_NE(MakeCustomTransition(accessor, u" \t" + Entry(kEffectShow), {0, 0, 64, 64}, nullptr),
              nullptr);
}

}  // namespace
}  // namespace orb
