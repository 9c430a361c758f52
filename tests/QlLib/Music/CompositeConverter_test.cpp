#include "QlLib/Music/CompositeConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "QlLib/Music/MusicClasses.h"
#include "QlLib/SysLock.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"
#include "WaitSupport.h"

namespace ql {
namespace {

// Items are generated: "dc:LEVEL:MS" is a constant level of MS ms, "count:MS"
// a ramp whose sample is its frame index (mod 32768).
std::unique_ptr<TPcmSource> OpenGenerated(const std::u16string& name) {
    const std::string text = ToUtf8(name);
    if (text.starts_with("dc:")) {
        const size_t colon = text.find(':', 3);
        const int level = std::atoi(text.substr(3, colon - 3).c_str());
        const int ms = std::atoi(text.substr(colon + 1).c_str());
        return TMemoryPcmSource::Constant(int16_t(level), size_t(std::llround(ms * 44.1)));
    }
    if (text.starts_with("count:"))
        return TMemoryPcmSource::Counter(size_t(std::llround(std::atoi(text.c_str() + 6) * 44.1)));
    return nullptr;
}

std::u16string Dc(int level, int ms) {
    return FromUtf8("dc:" + std::to_string(level) + ":" + std::to_string(ms));
}

struct TMix {
    std::unique_ptr<TConverterSource> Source;
    int64_t Opened = 0;
};

TMix OpenMix(const std::u16string& text) {
    TMix mix;
    int64_t* opened = &mix.Opened;
    mix.Source = OpenCompositeSource(text, [opened](const std::u16string& name) {
        ++*opened;
        return OpenGenerated(name);
    });
    return mix;
}

// The left channel of frames [0, frames) of the mix (from where it stands).
std::vector<int16_t> Left(TPcmSource& source, size_t frames) {
    std::vector<int16_t> stereo(2 * frames);
    const size_t got = source.Read(stereo.data(), frames);
    std::vector<int16_t> left(got);
    for (size_t i = 0; i < got; ++i) left[i] = stereo[2 * i];
    return left;
}

std::vector<int16_t> Render(const std::u16string& text) {
    TMix mix = OpenMix(text);
    if (!mix.Source) return {};
    return Left(*mix.Source, 100 * 44100);
}

TEST(CompositeMixer, EdgeFades_RampOver441FramesAtBothEnds) {
    TCompositeParams params;
    params.Duration = 1000;
    params.AddItem(Dc(10000, 2000), 100).Duration = 500;  // frames 4410 .. 26460
    const std::vector<int16_t> pcm = Render(params.WriteText());
    ASSERT_EQ(pcm.size(), 44100u);
    EXPECT_EQ(pcm[4409], 0);
    EXPECT_EQ(pcm[4410], 0);  // a frame takes the factor of its own position
    EXPECT_EQ(pcm[4410 + 1], std::lround(10000.0 / 441));
    EXPECT_EQ(pcm[4410 + 220], std::lround(10000.0 * 220 / 441));
    EXPECT_EQ(pcm[4410 + 441], 10000);
    EXPECT_EQ(pcm[26460 - 441], 10000);
    EXPECT_EQ(pcm[26460 - 1], std::lround(10000.0 / 441));
    EXPECT_EQ(pcm[26460], 0);
}

TEST(CompositeMixer, ItemLevels_FollowTheFactorThresholds) {
    struct TCase {
        int Volume;
        int Expected;
    };
    // Within 1 % of unity a sample is added as it is.
    for (const TCase& c : {TCase{500, 5000}, TCase{0, 0}, TCase{995, 10000}, TCase{1009, 10000},
                           TCase{1010, 10100}, TCase{2000, 20000}, TCase{50000, 32767}}) {
        TCompositeParams params;
        params.Duration = 200;
        params.AddItem(Dc(10000, 200), 0).Volumes.AddEnvelope().AddPoint(0, c.Volume);
        const std::vector<int16_t> pcm = Render(params.WriteText());
        ASSERT_EQ(pcm.size(), 8820u);
        EXPECT_EQ(pcm[4410], c.Expected) << "volume " << c.Volume;
    }
}

TEST(CompositeMixer, SumBeyondTheRange_IsClippedNotWrapped) {
    for (int sign : {1, -1}) {
        TCompositeParams params;
        params.Duration = 300;
        params.AddItem(Dc(sign * 30000, 300), 0);
        params.AddItem(Dc(sign * 30000, 300), 0);
        const std::vector<int16_t> pcm = Render(params.WriteText());
        ASSERT_EQ(pcm.size(), 13230u);
        EXPECT_EQ(pcm[6000], sign > 0 ? 32767 : -32768);
    }
}

TEST(CompositeMixer, MasterEnvelope_ScalesAndSilencesTheSum) {
    TCompositeParams params;
    params.Duration = 1000;
    params.AddItem(Dc(4000, 1000), 0);
    TVolumeParams& master = params.MainVolume().AddEnvelope();
    master.Points = {{0, 500}, {500, 500}, {501, 0}};
    const std::vector<int16_t> pcm = Render(params.WriteText());
    ASSERT_EQ(pcm.size(), 44100u);
    EXPECT_EQ(pcm[1000], 2000);
    EXPECT_EQ(pcm[22049], 2000);
    EXPECT_EQ(pcm[22094], 0);  // below a factor of 0.001 the mix is silent
    EXPECT_EQ(pcm[30000], 0);
}

TEST(CompositeMixer, ConcatenatedTexts_SecondPartStartsAtItsPlace) {
    TCompositeParams first;
    first.Duration = 10000;
    first.AddItem(Dc(1000, 10000), 0).Duration = 10000;
    TCompositeParams second;
    second.Duration = 5000;
    second.AddItem(Dc(3000, 5000), 0).Duration = 5000;
    TMix mix = OpenMix(first.WriteText() + second.WriteText());
    ASSERT_TRUE(mix.Source);
    EXPECT_EQ(mix.Source->LengthMs(), 15000);
    const std::vector<int16_t> pcm = Left(*mix.Source, 20 * 44100);
    ASSERT_EQ(pcm.size(), 661500u);
    EXPECT_EQ(pcm[440000], 1000);
    EXPECT_EQ(pcm[440999], std::lround(1000.0 / 441));
    EXPECT_EQ(pcm[441000], 0);
    EXPECT_EQ(pcm[441001], std::lround(3000.0 / 441));
    EXPECT_EQ(pcm[441441], 3000);
    EXPECT_EQ(pcm[661499], std::lround(3000.0 / 441));
}

TEST(CompositeMixer, CrossFade_TwoItemsSumToTheLevel) {
    // A fades out over its last 2000 ms while B fades in over its first 2000 ms.
    TCompositeParams params;
    params.Duration = 8000;
    TCompositeItem& a = params.AddItem(Dc(10000, 5000), 0);
    a.Duration = 5000;
    a.Volumes.AddEnvelope().Points = {{3000, 1000}, {5000, 0}};
    TCompositeItem& b = params.AddItem(Dc(10000, 5000), 3000);
    b.Duration = 5000;
    b.Volumes.AddEnvelope().Points = {{0, 0}, {2000, 1000}};
    const std::vector<int16_t> pcm = Render(params.WriteText());
    ASSERT_EQ(pcm.size(), 352800u);
    // Where both factors lie outside 1 % of unity (which counts as unity), the
    // two add up to the level, each rounded on its own.
    for (int64_t f = 132300 + 1000; f < 220500 - 1000; f += 97)
        ASSERT_NEAR(pcm[size_t(f)], 10000, 1) << f;
    EXPECT_NEAR(pcm[size_t(132300 + 44100)], 10000, 1);
    EXPECT_EQ(pcm[200000], int16_t(std::lround(10000.0 * (220500 - 200000) / 88200) +
                                   std::lround(10000.0 * (200000 - 132300) / 88200)));
}

TEST(CompositeMixer, Seek_MatchesTheFullRender) {
    // Eight overlapping ramps with fades and levels, so that the file
    // position and each envelope factor show in the samples.
    TCompositeParams params;
    params.Duration = 12000;
    for (int i = 0; i < 8; ++i) {
        TCompositeItem& item = params.AddItem(u"count:9000", 700 * i);
        item.BeginTime = 100 * i;
        item.Duration = 4000 + 500 * i;
        TVolumeParams& fades = item.Volumes.AddEnvelope();
        fades.Points = {
            {0, 0}, {1500, 300 + 50 * i}, {item.Duration - 800, 300 + 50 * i}, {item.Duration, 0}};
        item.Volumes.AddEnvelope().AddPoint(0, 500 + 100 * i);
    }
    params.MainVolume().AddEnvelope().Points = {{0, 1000}, {12000, 200}};
    const std::u16string text = params.WriteText();
    const std::vector<int16_t> full = Render(text);
    ASSERT_EQ(full.size(), 529200u);
    for (double at : {0.0, 1.0, 2345.6, 3217.0, 6999.9, 11990.0}) {
        TMix mix = OpenMix(text);
        ASSERT_TRUE(mix.Source);
        ASSERT_TRUE(mix.Source->Seek(at));
        const size_t first = size_t(std::floor(at * 44.1));
        const std::vector<int16_t> part = Left(*mix.Source, 30000);
        ASSERT_EQ(part.size(), std::min<size_t>(30000, full.size() - first)) << at;
        for (size_t i = 0; i < part.size(); ++i)
            ASSERT_NEAR(part[i], full[first + i], 1) << at << " + " << i;
    }
}

TEST(CompositeMixer, ItemsOpenFiveSecondsAhead) {
    TCompositeParams params;
    params.Duration = 30000;
    params.AddItem(Dc(1000, 1000), 20000);
    TMix mix = OpenMix(params.WriteText());
    ASSERT_TRUE(mix.Source);
    Left(*mix.Source, 44100 * 14);
    EXPECT_EQ(mix.Opened, 0);
    Left(*mix.Source, 44100 * 2);  // up to 16 s: the item at 20 s opens now
    EXPECT_EQ(mix.Opened, 1);
    const std::vector<int16_t> rest = Left(*mix.Source, 44100 * 5);
    EXPECT_EQ(rest[size_t(44100 * 4.5)], 1000);
}

TEST(CompositeMixer, DurationZero_PlaysToTheEndOfTheFile) {
    TCompositeParams params;
    params.Duration = 5000;
    params.AddItem(Dc(1000, 1000), 500);  // duration 0
    const std::vector<int16_t> pcm = Render(params.WriteText());
    ASSERT_EQ(pcm.size(), 220500u);
    EXPECT_EQ(pcm[22050], 0);
    EXPECT_EQ(pcm[22050 + 441], 1000);
    EXPECT_EQ(pcm[66149], 1000);
    EXPECT_EQ(pcm[66150], 0);
}

TEST(CompositeMixer, UnplayableItems_AreSkipped) {
    TCompositeParams params;
    params.Duration = 1000;
    params.AddItem(u"missing", 0);
    params.AddItem(u"count:0", 0);
    params.AddItem(Dc(700, 1000), 0);
    TMix mix = OpenMix(params.WriteText());
    ASSERT_TRUE(mix.Source);
    const std::vector<int16_t> pcm = Left(*mix.Source, 44100);
    ASSERT_EQ(pcm.size(), 44100u);
    EXPECT_EQ(pcm[20000], 700);
}

TEST(CompositeMixer, ManyItemsAtOnce_StayWithinTheOpenBound) {
    TCompositeParams params;
    params.Duration = 100;
    for (size_t i = 0; i < TCompositeConverter::kMaxOpenItems + 10; ++i)
        params.AddItem(Dc(100, 100), 0);
    TMix mix = OpenMix(params.WriteText());
    ASSERT_TRUE(mix.Source);
    EXPECT_EQ(mix.Opened, int64_t(TCompositeConverter::kMaxOpenItems));
    const std::vector<int16_t> pcm = Left(*mix.Source, 4410);
    EXPECT_EQ(pcm[2000], 6400);
}

TEST(CompositeMixer, TextWithoutItems_DoesNotOpen) {
    EXPECT_FALSE(CompositeMediaInfo(u"plain.wav"));
    TCompositeParams params;
    params.Duration = 1000;
    EXPECT_FALSE(OpenMix(params.WriteText()).Source);
    params.AddItem(Dc(1, 10), 0);
    const std::optional<TMediaInfo> info = CompositeMediaInfo(params.WriteText());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->MediaType, TMediaType::Composite);
    EXPECT_EQ(info->LengthMs, 1000);
}

TEST(CompositeMixer, RealTimeOutput_PlaysTheMixAsCompiled) {
    // A device whose output runs on its own threads and writes what is heard:
    // 300 ms of A alone, then 300 ms of A and B together.
    test::TTestFolder folder;
    const std::u16string file = folder.WideFile("heard.wav");
    TCompositeParams params;
    params.Duration = 600;
    params.AddItem(Dc(1000, 600), 0).Duration = 600;
    params.AddItem(Dc(2000, 300), 300).Duration = 300;
    {
        TMusicPlayerClass device(std::make_unique<TWavFileSoundOutput>(file),
                                 [](const std::u16string& name) -> std::unique_ptr<TPcmSource> {
                                     return OpenCompositeSource(name, OpenGenerated);
                                 });
        ASSERT_TRUE(device.Available());
        auto channel = device.CreateChannel(params.WriteText(), -1);
        ASSERT_TRUE(channel);
        EXPECT_EQ(channel->MediaLength(), 600);
        TEvent ended;
        static_cast<TChannelMusic&>(*channel).SetEndNotification([&] { ended.Set(); });
        channel->Start(0);
        ASSERT_TRUE(ended.Wait(test::kHangGuardMs));
    }
    const std::string wav = test::ReadTextFile(ToUtf8(file));
    size_t alone = 0, together = 0;
    for (size_t at = 44; at + 4 <= wav.size(); at += 4) {
        int16_t left;
        std::memcpy(&left, wav.data() + at, 2);
        alone += left == 1000;
        together += left == 3000;
    }
    // Each stretch is 13230 frames less its ramps: A's way in, B's way in and
    // both ways out.
    EXPECT_NEAR(double(alone), 13230 - 441, 50);
    EXPECT_NEAR(double(together), 13230 - 2 * 441, 50);
}

}  // namespace
}  // namespace ql
