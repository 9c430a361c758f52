#include "OrbLib2/OrbViewer/qlOrbCompositeParams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orb {
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
    const std::u16string text = std::u16string(kCompositeMarker) +
                                u"[Main]/nDuration=100/n[0]/nFileName=a.wav/nFadeCount=2000000000/n";
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(text));
    EXPECT_LE(params.Items[0].Volumes.Envelopes.size(), size_t(kMaxEnvelopesPerItem));
}

TEST(CompositeParams, FirstItem_PlaysSilenceThenTheItemFromItsBeginTime) {
    TCompositeParams params;
    params.Duration = 100;
    TCompositeItem& item = params.AddItem(u"ramp", 20);
    item.BeginTime = 10;
    item.Duration = 50;
    params.AddItem(u"other", 0).Duration = 100;  // earlier on the time line: it is the first
    params.Items[1].FileName = u"first";
    std::vector<std::u16string> opened;
    auto open = [&](const std::u16string& name) -> std::unique_ptr<ql::TPcmSource> {
        opened.push_back(name);
        return ql::TMemoryPcmSource::Counter(44100);
    };
    // With the other item first on the time line, that one plays.
    auto source = OpenCompositeFirstItem(params.WriteText(), open);
    ASSERT_TRUE(source);
    EXPECT_EQ(opened, std::vector<std::u16string>{u"first"});

    params.RemoveItem(1);
    source = OpenCompositeFirstItem(params.WriteText(), open);
    ASSERT_TRUE(source);
    EXPECT_NEAR(source->LengthMs(), 100, 0.1);
    std::vector<int16_t> samples(2 * 5000, -1);
    const size_t got = source->Read(samples.data(), 5000);
    EXPECT_EQ(got, 4410u);
    // 20 ms of silence (882 frames), then the ramp from 10 ms (frame 441) for 50 ms.
    EXPECT_EQ(samples[2 * 881], 0);
    EXPECT_EQ(samples[2 * 882], 441);
    EXPECT_EQ(samples[2 * (882 + 2204)], 441 + 2204);
    EXPECT_EQ(samples[2 * (882 + 2205)], 0);

    ASSERT_TRUE(source->Seek(30));  // 10 ms into the item
    ASSERT_EQ(source->Read(samples.data(), 1), 1u);
    EXPECT_EQ(samples[0], 441 + 441);
}

}  // namespace
}  // namespace orb
