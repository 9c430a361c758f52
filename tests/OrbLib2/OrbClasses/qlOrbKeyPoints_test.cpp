#include "OrbLib2/OrbClasses/qlOrbKeyPoints.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

// A slide from 1000 to 6000 ms, brought in by a 500 ms transition and taken
// out by an 800 ms one.
class TTestSlide : public TKeyPointOwner {
public:
    TTestSlide() {
        Info.BeginTime = 1000;
        Info.EndTime = 6000;
        Info.EffectTime = 500;
        Info.NextEffectTime = 800;
        Info.NextEffectEnd = 6800;
    }
    double AnchorTime(int anchor) const override { return SlideAnchorTime(Info, anchor); }
    TSlideInfo Info;
};

TKeyValues WithX(float x) {
    TKeyValues values;
    values.PosX = x;
    return values;
}

TEST(KeyAnchors, SlideTimesGiveTheFourAnchors) {
    TTestSlide slide;
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorSlideBegin), 1000);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorPrevEffectEnd), 1500);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorNextEffectBegin), 6000);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorSlideEnd), 6800);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(4), 0);
}

TEST(KeyAnchors, NamesReadInAnyCase) {
    EXPECT_EQ(AnchorFromName(u"slidebegin"), kAnchorSlideBegin);
    EXPECT_EQ(AnchorFromName(u"PREVEFFECTEND"), kAnchorPrevEffectEnd);
    EXPECT_EQ(AnchorFromName(u"NextEffectBegin"), kAnchorNextEffectBegin);
    EXPECT_EQ(AnchorFromName(u"SlideEnd"), kAnchorSlideEnd);
    EXPECT_EQ(AnchorFromName(u"SlideMiddle"), -1);
    EXPECT_EQ(AnchorName(kAnchorSlideEnd), u"SlideEnd");
}

TEST(KeyAnchors, KeyPointTimeIsCountedFromItsAnchorAndActiveCoversTheSlide) {
    TTestSlide slide;
    TKeyPoints list(&slide);
    list.AddKeyPoint(kAnchorNextEffectBegin, -1000, WithX(50));
    list.AddKeyPoint(kAnchorPrevEffectEnd, 0, WithX(10));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_DOUBLE_EQ(list.KeyPoint(0).AbsoluteTime(), 1500);
    EXPECT_DOUBLE_EQ(list.KeyPoint(1).AbsoluteTime(), 5000);
    list.SetTime(3250);
    EXPECT_FLOAT_EQ(list.Current().PosX, 30);
    EXPECT_TRUE(list.Active());
    list.SetTime(999);
    EXPECT_FALSE(list.Active());
    list.SetTime(6800);
    EXPECT_TRUE(list.Active());
    list.SetTime(6801);
    EXPECT_FALSE(list.Active());
}

TEST(KeyAnchors, ListWithoutOwnerCountsFromZero) {
    TKeyPoints list(nullptr);
    EXPECT_DOUBLE_EQ(list.AddKeyPoint(kAnchorSlideEnd, 250).AbsoluteTime(), 250);
}

TEST(KeyPointValues, NewListAndKeyPointStartFromTheDefaults) {
    TKeyPointList list;
    const TKeyPoint& point = list.AddKeyPoint(kAnchorSlideBegin, 0);
    for (const TKeyValues* values : {&list.Current(), &point.Values()}) {
        EXPECT_EQ(values->Opacity, 100);
        EXPECT_EQ(values->ScaleX, 100);
        EXPECT_EQ(values->ScaleY, 100);
        EXPECT_EQ(values->PosX, 0);
        EXPECT_EQ(values->Angle, 0);
        EXPECT_EQ(values->Blur, 0);
    }
    EXPECT_FALSE(point.Changed());
}

TEST(KeyPointValues, ScaleBelowTheMinimumIsStoredAsTheMinimum) {
    TKeyPointList list;
    TKeyPoint& point = list.AddKeyPoint(kAnchorSlideBegin, 0);
    point.SetScaleX(0);
    point.SetScaleY(-50);
    EXPECT_FLOAT_EQ(point.Values().ScaleX, 0.001f);
    EXPECT_FLOAT_EQ(point.Values().ScaleY, 0.001f);
}

TEST(KeyPointValues, ChangeBelowATenThousandthDoesNotCount) {
    TKeyPointList list;
    TKeyPoint& point = list.AddKeyPoint(kAnchorSlideBegin, 0);
    point.SetOpacity(100.00001f);
    EXPECT_FALSE(point.Changed());
    EXPECT_FALSE(list.IsAnimated());
    point.SetOpacity(99.999f);
    EXPECT_TRUE(point.Changed());
    EXPECT_TRUE(list.IsAnimated());
    list.ClearChanged();
    EXPECT_FALSE(list.IsAnimated());
}

TEST(KeyPointValues, NonFiniteAndHugeInputsAreBounded) {
    TKeyPointList list;
    TKeyPoint& point = list.AddKeyPoint(kAnchorSlideBegin, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(point.Time(), 0);
    point.SetOpacity(std::numeric_limits<float>::infinity());
    point.SetPosition(std::numeric_limits<float>::quiet_NaN(), -3e38f);
    EXPECT_EQ(point.Values().Opacity, kValueLimit);
    EXPECT_EQ(point.Values().PosX, 0);
    EXPECT_EQ(point.Values().PosY, -kValueLimit);
    TKeyPoint& far = list.AddKeyPoint(kAnchorSlideBegin, 1e300);
    EXPECT_EQ(far.Time(), kTimeLimit);
    far.SetPosition(kValueLimit, kValueLimit);
    for (double t : {-1e300, 0.0, 1.0, 5e12, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        list.SetTime(t);
        EXPECT_TRUE(std::isfinite(list.Current().PosX)) << t;
        EXPECT_TRUE(std::isfinite(list.CurrentTime())) << t;
    }
}

TEST(KeyPointMotion, WithoutKeyPointsTheCurrentValuesStay) {
    TKeyPointList list;
    list.SetCurrentScale(40, 60);
    list.SetTime(1234);
    EXPECT_EQ(list.Current().ScaleX, 40);
    EXPECT_EQ(list.Current().ScaleY, 60);
    EXPECT_EQ(list.CurrentTime(), 1234);
}

TEST(KeyPointMotion, OneKeyPointHoldsAtAllTimes) {
    TKeyPointList list;
    TKeyValues values;
    values.Opacity = 40;
    values.AngleY = 1.5f;
    list.AddKeyPoint(kAnchorSlideBegin, 1000, values);
    for (double t : {-5000.0, 1000.0, 99999.0}) {
        list.SetTime(t);
        EXPECT_EQ(list.Current().Opacity, 40);
        EXPECT_EQ(list.Current().AngleY, 1.5f);
    }
}

TEST(KeyPointMotion, EqualTimesSwitchAtThatTimeInCreationOrder) {
    TKeyPointList list;
    list.AddKeyPoint(kAnchorSlideBegin, 1000, WithX(1));
    list.AddKeyPoint(kAnchorSlideBegin, 1000, WithX(2));
    list.SetTime(999.9);
    EXPECT_EQ(list.Current().PosX, 1);
    list.SetTime(1000);
    EXPECT_EQ(list.Current().PosX, 2);
    list.SetTime(2000);
    EXPECT_EQ(list.Current().PosX, 2);
}

TEST(KeyPointMotion, StraightInterpolationHitsKeyPointsExactly) {
    TKeyPointList list;
    TKeyValues a, b, c;
    a.Opacity = 0, b.Opacity = 100, c.Opacity = 50;
    a.CenterX = -10, b.CenterX = 10, c.CenterX = 30;
    a.Angle = 0, b.Angle = 2, c.Angle = 2;
    list.AddKeyPoint(kAnchorSlideBegin, 2000, c);
    list.AddKeyPoint(kAnchorSlideBegin, 0, a);
    list.AddKeyPoint(kAnchorSlideBegin, 1000, b);
    list.SetTime(1000);
    EXPECT_EQ(list.Current().Opacity, 100);
    EXPECT_EQ(list.Current().CenterX, 10);
    list.SetTime(250);
    EXPECT_FLOAT_EQ(list.Current().Opacity, 25);
    EXPECT_FLOAT_EQ(list.Current().CenterX, -5);
    EXPECT_FLOAT_EQ(list.Current().Angle, 0.5f);
    list.SetTime(1500);
    EXPECT_FLOAT_EQ(list.Current().Opacity, 75);
    EXPECT_FLOAT_EQ(list.Current().CenterX, 20);
}

TEST(KeyPointMotion, ChangingAKeyPointTimeReordersTheList) {
    TKeyPointList list;
    TKeyPoint& first = list.AddKeyPoint(kAnchorSlideBegin, 0, WithX(0));
    list.AddKeyPoint(kAnchorSlideBegin, 1000, WithX(100));
    first.SetTime(2000);
    EXPECT_EQ(&list.KeyPoint(1), &first);
    EXPECT_TRUE(first.Changed());
    list.SetTime(1500);
    EXPECT_FLOAT_EQ(list.Current().PosX, 50);
}

TEST(PerspectiveCorrection, DoublingZoomIsAThirdOfTheWayAtHalfTime) {
    TKeyPointList list;
    list.SetPerspectiveCorrection(true);
    TKeyValues a, b;
    b.ScaleX = 200, b.ScaleY = 200, b.PosX = 90, b.CenterX = 10;
    list.AddKeyPoint(kAnchorSlideBegin, 0, a);
    list.AddKeyPoint(kAnchorSlideBegin, 1000, b);
    list.SetTime(500);
    EXPECT_NEAR(list.Current().ScaleX, 100 + 100.0 / 3, 1e-3);
    EXPECT_NEAR(list.Current().PosX, 30, 1e-3);
    // The rotation centre keeps the plain fraction.
    EXPECT_FLOAT_EQ(list.Current().CenterX, 5);
    list.SetPerspectiveCorrection(false);
    list.SetTime(500);
    EXPECT_FLOAT_EQ(list.Current().ScaleX, 150);
}

class SpeedProfileMotion : public ::testing::Test {
protected:
    // Two key points 1000 ms apart moving x and the angle from 0 to 100.
    void SetUp() override {
        TKeyValues a, b;
        b.PosX = 100;
        b.Angle = 100;
        list.AddKeyPoint(kAnchorSlideBegin, 0, a);
        list.AddKeyPoint(kAnchorSlideBegin, 1000, b);
    }
    float XAt(double t) {
        list.SetTime(t);
        return list.Current().PosX;
    }
    TKeyPointList list;
};

TEST_F(SpeedProfileMotion, QuarterRampsGiveTheTrapezoidValues) {
    list.LoadProfile(kPanProfile, u"2;0;1000;1;0;1;0.25;0.75;0;1;");
    EXPECT_NEAR(XAt(125), 25.0 / 6, 1e-4);
    EXPECT_NEAR(XAt(250), 50.0 / 3, 1e-4);
    EXPECT_NEAR(XAt(500), 50, 1e-4);
    EXPECT_NEAR(XAt(875), 100 - 25.0 / 6, 1e-4);
    EXPECT_EQ(XAt(1000), 100);
    EXPECT_EQ(XAt(0), 0);
    // Only the pan group follows the pan profile.
    list.SetTime(125);
    EXPECT_FLOAT_EQ(list.Current().Angle, 12.5f);
}

TEST_F(SpeedProfileMotion, DefaultFractionsMoveInAStraightLine) {
    list.LoadProfile(kPanProfile, u"2;0;1000;1;0;1;0;1;0;1;");
    EXPECT_FLOAT_EQ(XAt(125), 12.5f);
}

TEST_F(SpeedProfileMotion, InvalidProfileTextFallsBackToStraightMotion) {
    list.LoadProfile(kPanProfile, u"20000;0;");
    EXPECT_FLOAT_EQ(XAt(125), 12.5f);
    EXPECT_EQ(list.PanProfile().Keys(), (std::vector<int64_t>{0, 1000}));
}

TEST_F(SpeedProfileMotion, IntervalBeyondTheKeyPointsIsIgnored) {
    list.LoadProfile(kRotateProfile, u"4;0;1000;2000;3000;1;2;3;0.5;0.5;");
    EXPECT_TRUE(list.RotateProfile().Intervals().empty());
    list.SetTime(500);
    EXPECT_FLOAT_EQ(list.Current().Angle, 50);
}

TEST_F(SpeedProfileMotion, ShapedIntervalPassesOverInnerKeyPoints) {
    TKeyValues inner;
    inner.Angle = 999;
    list.AddKeyPoint(kAnchorSlideBegin, 500, inner);
    list.LoadProfile(kRotateProfile, u"3;0;500;1000;1;0;2;0.5;0.5;");
    list.SetTime(500);
    EXPECT_NEAR(list.Current().Angle, 50, 1e-4);
    list.SetTime(250);
    EXPECT_NEAR(list.Current().Angle, 12.5, 1e-4);
    // The pan group has no profile and meets the inner key point.
    EXPECT_FLOAT_EQ(list.Current().PosX, 0);
}

TEST_F(SpeedProfileMotion, ZoomProfileRunsOnPerspectiveCorrectedTime) {
    list.KeyPoint(1).SetScaleX(200);
    list.SetPerspectiveCorrection(true);
    list.LoadProfile(kZoomProfile, u"2;0;1000;1;0;1;0.25;0.75;");
    list.SetTime(500);
    // Halfway, the corrected time is a third of the way: 333.3 ms into the
    // constant-speed phase.
    EXPECT_NEAR(list.Current().ScaleX, 100 + 100 * (250.0 + 2 * (1000.0 / 3 - 250)) / 1500, 1e-3);
}

TEST_F(SpeedProfileMotion, ProfileMadeOnFirstUseKeysEveryKeyPoint) {
    list.AddKeyPoint(kAnchorSlideBegin, 2000.4);
    TSpeedStorage& profile = list.ZoomProfile();
    EXPECT_EQ(profile.Keys(), (std::vector<int64_t>{0, 1000, 2000}));
    ASSERT_EQ(profile.Intervals().size(), 1u);
    EXPECT_EQ(profile.Intervals()[0].FirstKey, 0);
    EXPECT_EQ(profile.Intervals()[0].LastKey, 2);
    // Later key points and moved ones keep the keys in step.
    list.AddKeyPoint(kAnchorSlideBegin, -500);
    list.KeyPoint(3).SetTime(1500);
    EXPECT_EQ(profile.Keys(), (std::vector<int64_t>{-500, 0, 1000, 1500}));
    list.Clear();
    EXPECT_FALSE(list.HasProfile(kZoomProfile));
    EXPECT_EQ(list.Count(), 0);
}

// An image object block as the authoring tool writes it, with two key points
// and a child object between them.
class KeyPointLoading : public ::testing::Test {
protected:
    void Load(const std::vector<std::u16string>& objectLines) {
        std::vector<std::u16string> lines{u"[Slide1]", u"object Picture : Image"};
        lines.insert(lines.end(), objectLines.begin(), objectLines.end());
        lines.push_back(u"end");
        ASSERT_TRUE(doc.LoadFromLines(lines));
        block = doc.FindSection(u"Slide1")->FirstObject();
        ASSERT_NE(block, nullptr);
        // Key points among the nested blocks, in document order.
        for (ql::TIniObject* child = block->FirstObject(); child; child = ql::TIniIdentList::NextObject(*child))
            if (ql::SameTextIgnoringCase(child->ObjectClass(), u"keypoint")) list.LoadKeyPoint(*child);
        list.LoadProfiles(*block);
    }
    ql::TIniFile doc;
    ql::TIniObject* block = nullptr;
    TTestSlide slide;
    TKeyPoints list{&slide};
};

TEST_F(KeyPointLoading, BlocksGiveTimesAnchorsAndValuesInRadians) {
    Load({u"  PanSpeed=2;0;1000;1;0;1;0.25;0.75;0;1;",
          u"  object k1 : KeyPoint", u"    Time=500", u"    Origin=prevEFFECTend", u"    Opacity=20",
          u"    Angle=90", u"    ScaleX=150", u"    Position=-12.5, 40", u"    CenterPos=1,2",
          u"    AngleY=-180", u"    ZPos=3", u"    Blur=4", u"  end",
          u"  object Caption : Text", u"  end",
          u"  object k2 : keypoint", u"    Time=-100", u"    Origin=SlideEnd", u"  end"});
    ASSERT_EQ(list.Count(), 2);
    const TKeyPoint& a = list.KeyPoint(0);
    EXPECT_EQ(a.Anchor(), kAnchorPrevEffectEnd);
    EXPECT_DOUBLE_EQ(a.AbsoluteTime(), 2000);
    EXPECT_EQ(a.Values().Opacity, 20);
    EXPECT_FLOAT_EQ(a.Values().Angle, std::numbers::pi_v<float> / 2);
    EXPECT_EQ(a.Values().ScaleX, 150);
    EXPECT_EQ(a.Values().ScaleY, 100);
    EXPECT_EQ(a.Values().PosX, -12.5f);
    EXPECT_EQ(a.Values().PosY, 40);
    EXPECT_EQ(a.Values().CenterX, 1);
    EXPECT_EQ(a.Values().CenterY, 2);
    EXPECT_FLOAT_EQ(a.Values().AngleY, -std::numbers::pi_v<float>);
    EXPECT_EQ(a.Values().ZPos, 3);
    EXPECT_EQ(a.Values().Blur, 4);
    // The second block's missing keys take the defaults, not the first's values.
    const TKeyPoint& b = list.KeyPoint(1);
    EXPECT_DOUBLE_EQ(b.AbsoluteTime(), 6700);
    EXPECT_EQ(b.Values().Opacity, 100);
    EXPECT_EQ(b.Values().ScaleX, 100);
    EXPECT_EQ(b.Values().PosX, 0);
    EXPECT_EQ(list.Current().Opacity, 100);
    // The pan profile was keyed to the key points' times.
    EXPECT_EQ(list.PanProfile().Keys(), (std::vector<int64_t>{2000, 6700}));
    EXPECT_EQ(list.PanProfile().Intervals().size(), 1u);
    EXPECT_FALSE(list.HasProfile(kZoomProfile));
}

TEST_F(KeyPointLoading, UnreadableValuesTakeTheDefaults) {
    Load({u"  object k : KeyPoint", u"    Time=nan", u"    Origin=Sometime", u"    Opacity=1e999",
          u"    ScaleX=0", u"    Position=12", u"    CenterPos=x,5", u"    Angle=ninety", u"  end",
          u"  ZoomSpeed=garbage"});
    ASSERT_EQ(list.Count(), 1);
    const TKeyPoint& k = list.KeyPoint(0);
    EXPECT_EQ(k.Anchor(), kAnchorSlideBegin);
    EXPECT_EQ(k.Time(), 0);
    EXPECT_EQ(k.Values().Opacity, 100);
    EXPECT_FLOAT_EQ(k.Values().ScaleX, kMinScale);
    EXPECT_EQ(k.Values().PosX, 0);
    EXPECT_EQ(k.Values().PosY, 0);
    EXPECT_EQ(k.Values().CenterX, 0);
    EXPECT_EQ(k.Values().CenterY, 5);
    EXPECT_EQ(k.Values().Angle, 0);
    EXPECT_EQ(list.ZoomProfile().Keys(), (std::vector<int64_t>{1000}));
    EXPECT_TRUE(list.ZoomProfile().Intervals().empty());
}

}  // namespace
}  // namespace orb
