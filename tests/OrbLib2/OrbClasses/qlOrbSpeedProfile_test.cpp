#include "OrbLib2/OrbClasses/qlOrbSpeedProfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

std::vector<int64_t> Keys(std::initializer_list<int64_t> keys) { return keys; }

void ExpectInterval(const TInterval& interval, int32_t first, int32_t last, double accel, double decelStart) {
    EXPECT_EQ(interval.FirstKey, first);
    EXPECT_EQ(interval.LastKey, last);
    EXPECT_DOUBLE_EQ(interval.Accel, accel);
    EXPECT_DOUBLE_EQ(interval.DecelStart, decelStart);
}

void ExpectFallback(const TSpeedStorage& profile) {
    EXPECT_EQ(profile.Keys(), Keys({0}));
    EXPECT_TRUE(profile.Intervals().empty());
}

TEST(SpeedProfile_Text, OneKeyWithDefaultsSerializesAsDocumented) {
    TSpeedStorage profile;
    profile.AddKey(2000);
    EXPECT_EQ(profile.Serialize(), u"1;2000;0;0;1;");
}

TEST(SpeedProfile_Text, ParseThenSerializeGivesTheSameText) {
    const std::u16string text = u"3;0;1500;4000;1;0;2;0.25;0.75;0.1;0.9;";
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(text));
    EXPECT_EQ(profile.Keys(), Keys({0, 1500, 4000}));
    ASSERT_EQ(profile.Intervals().size(), 1u);
    ExpectInterval(profile.Intervals()[0], 0, 2, 0.25, 0.75);
    EXPECT_DOUBLE_EQ(profile.DefaultAccel(), 0.1);
    EXPECT_DOUBLE_EQ(profile.DefaultDecelStart(), 0.9);
    EXPECT_EQ(profile.Serialize(), text);
}

TEST(SpeedProfile_Text, DefaultsAreOptionalAndBlanksAroundFieldsAreAllowed) {
    TSpeedStorage profile;
    profile.SetDefaultFractions(0.3, 0.6);
    ASSERT_TRUE(profile.Parse(u" 2 ; 0 ;1000; 1;0;1;0.5;0.5; "));
    EXPECT_EQ(profile.Keys(), Keys({0, 1000}));
    ExpectInterval(profile.Intervals().at(0), 0, 1, 0.5, 0.5);
    EXPECT_DOUBLE_EQ(profile.DefaultAccel(), 0);
    EXPECT_DOUBLE_EQ(profile.DefaultDecelStart(), 1);
}

TEST(SpeedProfile_Text, FloatsUseTheShortestFormThatReadsBack) {
    EXPECT_EQ(FloatToText(0), u"0");
    EXPECT_EQ(FloatToText(1), u"1");
    EXPECT_EQ(FloatToText(0.1), u"0.1");
    EXPECT_EQ(FloatToText(-2.5), u"-2.5");
    for (double value : {1.0 / 3, 1e-5, 0.7071067811865476, 123456.789, 5e-324, 1.7976931348623157e308}) {
        const auto back = ql::TryStrToFloat(FloatToText(value));
        ASSERT_TRUE(back.has_value()) << ql::ToUtf8(FloatToText(value));
        EXPECT_EQ(*back, value);
    }
}

TEST(SpeedProfile_HostileText, CountsOutsideTheLimitGiveTheFallbackWithoutAllocating) {
    TSpeedStorage profile;
    profile.AddKey(10);
    profile.AddKey(20);
    EXPECT_FALSE(profile.Parse(u"20000;0;0;0;1;"));
    ExpectFallback(profile);
    EXPECT_FALSE(profile.Parse(u"-1;0;0;1;"));
    ExpectFallback(profile);
    EXPECT_FALSE(profile.Parse(u"1;0;10001;"));
    ExpectFallback(profile);
    EXPECT_FALSE(profile.Parse(u"99999999999999999999;"));
    ExpectFallback(profile);
}

TEST(SpeedProfile_HostileText, MissingSeparatorsOrUnreadableNumbersGiveTheFallback) {
    for (const char16_t* text :
         {u"", u"1", u"1;2000", u"1;2000;0", u"1;2000;0;0;1", u"10000;1;2;3;", u"2;0;1000;1;0;1;0.5;",
          u"1;x;0;", u"1;1.5;0;", u"2;0;1000;1;0;1;nan;0.5;", u"2;0;1000;1;0;1;0.5;inf;",
          u"2;0;1000;1;0;1;0.5;1e999;", u"2;0;1000;1;a;1;0.5;0.5;", u";;;;", u"0x10;"}) {
        TSpeedStorage profile;
        EXPECT_FALSE(profile.Parse(text)) << ql::ToUtf8(text);
        ExpectFallback(profile);
    }
}

TEST(SpeedProfile_HostileText, IntervalsNamingMissingOrReversedKeysAreDropped) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"3;0;500;1000;5;0;3;0.5;0.5;-1;1;0.5;0.5;2;1;0.5;0.5;1;1;0.5;0.5;1;2;0.5;0.5;"));
    ASSERT_EQ(profile.Intervals().size(), 1u);
    ExpectInterval(profile.Intervals()[0], 1, 2, 0.5, 0.5);
}

TEST(SpeedProfile_HostileText, FractionsAreClampedSoNoPhaseIsNegative) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"2;0;1000;3;0;1;-0.5;7;0;1;0.8;0.3;0;1;2;-3;0.6;0.2;"));
    ASSERT_EQ(profile.Intervals().size(), 3u);
    ExpectInterval(profile.Intervals()[0], 0, 1, 0, 1);
    ExpectInterval(profile.Intervals()[1], 0, 1, 0.8, 0.8);
    ExpectInterval(profile.Intervals()[2], 0, 1, 1, 1);
    EXPECT_DOUBLE_EQ(profile.DefaultAccel(), 0.6);
    EXPECT_DOUBLE_EQ(profile.DefaultDecelStart(), 0.6);
}

TEST(SpeedProfile_HostileText, SingleKeyIntervalIsKeptOnlyInAOneKeyProfile) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"1;0;1;0;0;0.5;0.5;"));
    EXPECT_EQ(profile.Intervals().size(), 1u);
    ASSERT_TRUE(profile.Parse(u"2;0;9;1;1;1;0.5;0.5;"));
    EXPECT_TRUE(profile.Intervals().empty());
}

TEST(SpeedProfile_HostileText, UnorderedKeysAreSorted) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"3;900;-5;100;0;"));
    EXPECT_EQ(profile.Keys(), Keys({-5, 100, 900}));
}

TEST(SpeedProfile_Keys, SecondKeyOpensAnIntervalWithTheDefaultFractions) {
    TSpeedStorage profile;
    int notified = 0;
    profile.OnChange = [&] { ++notified; };
    profile.SetDefaultFractions(0.2, 0.7);
    profile.AddKey(1000);
    EXPECT_TRUE(profile.Intervals().empty());
    profile.AddKey(0);
    EXPECT_EQ(profile.Keys(), Keys({0, 1000}));
    ASSERT_EQ(profile.Intervals().size(), 1u);
    ExpectInterval(profile.Intervals()[0], 0, 1, 0.2, 0.7);
    EXPECT_EQ(notified, 2);
}

TEST(SpeedProfile_Keys, KeysAddedBehindInFrontOrBetweenKeepIntervalsOnTheirKeys) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"3;0;1000;2000;2;0;1;0.5;0.5;1;2;0.25;0.75;"));
    profile.AddKey(3000);  // behind: the last interval reaches the new key
    EXPECT_EQ(profile.Intervals()[1].LastKey, 3);
    profile.AddKey(-1000);  // in front: the first interval starts at the new key
    EXPECT_EQ(profile.Keys(), Keys({-1000, 0, 1000, 2000, 3000}));
    ExpectInterval(profile.Intervals()[0], 0, 2, 0.5, 0.5);
    ExpectInterval(profile.Intervals()[1], 2, 4, 0.25, 0.75);
    profile.AddKey(1000);  // between, after the equal key
    EXPECT_EQ(profile.Keys(), Keys({-1000, 0, 1000, 1000, 2000, 3000}));
    ExpectInterval(profile.Intervals()[0], 0, 2, 0.5, 0.5);
    ExpectInterval(profile.Intervals()[1], 2, 5, 0.25, 0.75);
}

TEST(SpeedProfile_Keys, ReplacingKeysDropsIntervalsThatNoLongerFit) {
    TSpeedStorage profile;
    ASSERT_TRUE(profile.Parse(u"3;0;1000;2000;2;0;1;0.5;0.5;1;2;0.25;0.75;"));
    profile.SetKeys({0, 1000});
    ASSERT_EQ(profile.Intervals().size(), 1u);
    EXPECT_EQ(profile.Intervals()[0].LastKey, 1);
}

TEST(SpeedProfile_Interval, DefaultsToAHundredthMeanStraightMotion) {
    EXPECT_FALSE((TInterval{0, 1, 0, 1}.IsShaped()));
    EXPECT_FALSE((TInterval{0, 1, 0.004, 0.996}.IsShaped()));
    EXPECT_TRUE((TInterval{0, 1, 0.006, 1}.IsShaped()));
    EXPECT_TRUE((TInterval{0, 1, 0, 0.99}.IsShaped()));
}

}  // namespace
}  // namespace orb
