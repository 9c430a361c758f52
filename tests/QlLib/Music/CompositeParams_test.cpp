#include "QlLib/Music/CompositeParams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ql {
namespace {

void TwoItems(TCompositeParams& params) {
    params.Duration = 10000;
    TCompositeItem& a = params.AddItem(u"music/a.mp3", 0);
    a.BeginTime = 500;
    a.Duration = 6000;
    TVolumeParams& fade = a.Volumes.AddEnvelope();
    fade.AddPoint(0, 0);
    fade.AddPoint(1000, 800);
    TCompositeItem& b = params.AddItem(u"music/b//c.wav", 4000);
    b.Duration = 6000;
}

TEST(CompositeParams, Text_StartsWithTheMarkerAndRoundTrips) {
    TCompositeParams params;
    TwoItems(params);
    params.MainVolume().AddEnvelope().AddPoint(0, 500);
    const std::u16string text = params.WriteText();
    EXPECT_TRUE(IsCompositeName(text));
    EXPECT_EQ(text.find(u'\n'), std::u16string::npos);

    TCompositeParams back;
    ASSERT_TRUE(back.ReadText(text));
    EXPECT_EQ(back.Duration, 10000);
    ASSERT_EQ(back.Items.size(), 2u);
    EXPECT_EQ(back.Items[0].FileName, u"music/a.mp3");
    EXPECT_EQ(back.Items[0].BeginTime, 500);
    EXPECT_EQ(back.Items[0].Duration, 6000);
    ASSERT_EQ(back.Items[0].Volumes.Envelopes.size(), 1u);
    EXPECT_EQ(back.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{0, 0}, {1000, 800}}));
    EXPECT_EQ(back.Items[1].FileName, u"music/b//c.wav");
    EXPECT_EQ(back.Items[1].TimeLine, 4000);
    ASSERT_TRUE(back.HasMainVolume());
    EXPECT_EQ(back.MainVolume().Envelopes[0].Points, (std::vector<TVolumeItem>{{0, 500}}));
}

TEST(CompositeParams, ConcatenatedTexts_PlayOneAfterAnother) {
    TCompositeParams first;
    first.Duration = 10000;
    first.AddItem(u"a.wav", 0).Duration = 10000;
    TCompositeParams second;
    second.Duration = 5000;
    second.AddItem(u"b.wav", 1000).Duration = 4000;
    TCompositeParams both;
    ASSERT_TRUE(both.ReadText(first.WriteText() + second.WriteText()));
    EXPECT_EQ(both.Duration, 15000);
    ASSERT_EQ(both.Items.size(), 2u);
    EXPECT_EQ(both.Items[1].TimeLine, 11000);
}

TEST(CompositeParams, Read_RefusesTextsWithoutItemsOrDuration) {
    TCompositeParams params;
    EXPECT_FALSE(params.ReadText(u"music.mp3"));
    TCompositeParams empty;
    empty.Duration = 1000;
    EXPECT_FALSE(params.ReadText(empty.WriteText()));
    TCompositeParams zero;
    zero.AddItem(u"a.wav", 0);
    EXPECT_FALSE(params.ReadText(zero.WriteText()));
    EXPECT_FALSE(params.ReadText(std::u16string(kCompositeMarker) + u"[Main]/x"));
}

TEST(CompositeParams, Read_BoundsEnvelopeCounts) {
    const std::u16string text =
        std::u16string(kCompositeMarker) +
        u"[Main]/nDuration=100/n[0]/nFileName=a.wav/nFadeCount=2000000000/n";
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(text));
    EXPECT_LE(params.Items[0].Volumes.Envelopes.size(), size_t(kMaxEnvelopesPerItem));
}

TEST(CompositeParams, Read_ClampsTimesAndVolumes) {
    const std::u16string text =
        std::u16string(kCompositeMarker) +
        u"[Main]/nDuration=2000000000/n[0]/nFileName=a.wav/nTimeLine=-5/n"
        u"BeginTime=-100/nDuration=-7/nFadeCount=1/n[Vol_0_0_0]/n0=-20/n1=50000/n"
        u"[Vol_0_0_1]/n0=2000000000/n1=-3/n";
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(text));
    EXPECT_EQ(params.Duration, kMaxCompositeMs);
    const TCompositeItem& item = params.Items[0];
    EXPECT_EQ(item.TimeLine, 0);
    EXPECT_EQ(item.BeginTime, 0);
    EXPECT_EQ(item.Duration, 0);
    EXPECT_EQ(item.Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{0, kMaxVolume}, {kMaxCompositeMs, 0}}));
    EXPECT_FALSE(params.ReadText(std::u16string(kCompositeMarker) +
                                 std::u16string(kMaxCompositeTextLength, u'a')));
}

TEST(VolumeEnvelope, Prepare_SortsKeepsTheLastOfEqualTimesAndEndsAtTheLength) {
    TVolumeParams envelope;
    envelope.Points = {{10, 1000}, {0, 0}, {10, 400}, {20, 400}};
    envelope.Prepare(100);
    const std::vector<TVolumeItem2>& s = envelope.Segments();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].EndPos, 0);
    EXPECT_EQ(s[1].EndPos, 441 * 4);
    EXPECT_DOUBLE_EQ(s[1].EndFactor, 0.4);
    EXPECT_DOUBLE_EQ(s[1].Step, 0.4 / 441);
    EXPECT_TRUE(s[2].Flat);
    EXPECT_EQ(s[3].EndPos, 4410 * 4);
    EXPECT_TRUE(s[3].Last);
    EXPECT_FALSE(s[2].Last);
}

TEST(VolumeEnvelope, StepsAndSeeksAgree) {
    TVolumeParams envelope;
    envelope.Points = {{0, 0}, {10, 1000}, {50, 250}};
    envelope.Prepare(60);
    EXPECT_EQ(envelope.Factor(), 0);
    EXPECT_FALSE(envelope.NearUnity());
    bool ended = false;
    int64_t frames = 0;
    TVolumeParams other = envelope;
    while (!ended) {
        other.Seek(frames * 4);
        ASSERT_NEAR(envelope.Factor(), other.Factor(), 1e-12) << frames;
        if (frames == 441) EXPECT_TRUE(envelope.NearUnity());
        ended = envelope.Step();
        ++frames;
    }
    EXPECT_EQ(frames, 2646);  // 60 ms
    EXPECT_DOUBLE_EQ(envelope.Factor(), 0.25);
}

TEST(VolumeEnvelope, List_MultipliesWhatIsNotNearUnityAndAddsEdgeFades) {
    TVolumeParamsList list(true);
    list.AddEnvelope().AddPoint(0, 500);
    list.AddEnvelope().AddPoint(0, 995);
    list.Prepare(1000);
    ASSERT_EQ(list.Envelopes.size(), 3u);
    EXPECT_TRUE(list.Envelopes[2].Automatic);
    double factor = -1;
    EXPECT_FALSE(list.Factor(factor));
    EXPECT_EQ(factor, 0);  // the edge fade starts from silence
    list.Seek(4 * 22050);
    EXPECT_FALSE(list.Factor(factor));
    EXPECT_DOUBLE_EQ(factor, 0.5);
    list.Prepare(1000);  // a second preparation replaces the automatic envelope
    EXPECT_EQ(list.Envelopes.size(), 3u);
    TVolumeParamsList master;
    master.Prepare(1000);
    EXPECT_TRUE(master.Factor(factor));
    EXPECT_EQ(factor, 1.0);
}

}  // namespace
}  // namespace ql
