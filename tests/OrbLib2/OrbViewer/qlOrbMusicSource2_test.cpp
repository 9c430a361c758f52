#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

std::unique_ptr<TOrbSource> Source(const std::string& text) {
    return std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), DocumentFromText(text),
                                        u"/opt/show");
}

const char kTwoSlides[] = "[Main]\nopt_slidescount=2\nopt_synchpos1=5000\nopt_synchpos2=10000\n";

std::string Item(const std::string& keys) {
    return "object i : TMusicItem\n" + keys + "end\n";
}

std::string ShowMusic(const std::string& body, const std::string& mainKeys = "") {
    return std::string(kTwoSlides) + mainKeys + "object m : music\n" + body + "end\n";
}

TCompositeParams& Composite(const TPlayList& list, TCompositeParams& params) {
    EXPECT_EQ(list.Count(), 1);
    if (list.Count() > 0) {
        EXPECT_TRUE(params.ReadText(list[0].Name));
    }
    return params;
}

class MusicSource : public ::testing::Test {
protected:
    TFixedRandomSeed seed{3};
};

TEST(PlayList, Entries_FollowOneAnotherAndRepeatByTheTotalLength) {
    TPlayList list;
    list.Add(u"a", 1000);
    list.Add(u"b", 500);
    EXPECT_EQ(list.TotalLength(), 1500);
    EXPECT_EQ(list[1].Start, 1000);
    list.Repeat = true;
    const TPlayEntry fifth = list.EntryAt(4);
    EXPECT_EQ(fifth.Name, u"a");
    EXPECT_EQ(fifth.Start, 3000);
}

TEST(PlayList, Growth_GoesOneThenEightThenDoubles) {
    TPlayList list;
    std::vector<size_t> capacities;
    for (int i = 0; i < 10; ++i) {
        list.Add(u"x", 1);
        capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities.front(), 1u);
    EXPECT_EQ(capacities[1], 8u);
    EXPECT_EQ(capacities.back(), 16u);
}

TEST(PlayList, RepeatingListOfLengthZero_DoesNotRepeat) {
    TPlayList list;
    list.Add(u"a", 0);
    list.Repeat = true;
    EXPECT_FALSE(list.Repeats());
}

TEST_F(MusicSource, ShuffledCopy_HoldsSevenPermutationsWhenRepeating) {
    TPlayList list;
    for (const char16_t* name : {u"a", u"b", u"c"}) list.Add(name, 100);
    list.Repeat = true;
    auto shuffled = list.ShuffledCopy();
    ASSERT_EQ(shuffled->Count(), 21);
    for (int round = 0; round < 7; ++round) {
        std::vector<std::u16string> names;
        for (int i = 0; i < 3; ++i) names.push_back((*shuffled)[round * 3 + i].Name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"b", u"c"}));
    }
    list.Repeat = false;
    EXPECT_EQ(list.ShuffledCopy()->Count(), 3);
}

TEST_F(MusicSource, PlainForm_ReadsTheShowPlayListAndFlags) {
    auto source =
        Source(std::string(kTwoSlides) +
               "opt_usemusic=1\nopt_syncmode=1\nopt_repeatmusic=0\nopt_music_count=2\n"
               "opt_music1=a.mp3\nopt_lengthlist1=3000\nopt_music2=b.mp3\nopt_lengthlist2=4000\n");
    TOrbMusicSource music(*source);
    EXPECT_TRUE(music.MusicUsed());
    EXPECT_TRUE(music.SyncMode());
    EXPECT_FALSE(music.Repeat());
    EXPECT_TRUE(music.CommentsLimited());
    ASSERT_EQ(music.ShowPlayList().Count(), 2);
    EXPECT_EQ(music.ShowPlayList()[1].Name, u"b.mp3");
    EXPECT_EQ(music.ShowPlayList()[1].Start, 3000);
    EXPECT_EQ(music.ShowPlayList().TotalLength(), 7000);
}

TEST_F(MusicSource, PlainForm_HugeCountsAreBoundedAndBadEntriesSkipped) {
    auto source = Source(std::string(kTwoSlides) +
                         "opt_music_count=2000000000\nopt_music1=a.mp3\nopt_lengthlist1=-5\n"
                         "opt_music3=c.mp3\nopt_lengthlist3=100\n");
    TOrbMusicSource music(*source);
    ASSERT_EQ(music.ShowPlayList().Count(), 1);
    EXPECT_EQ(music.ShowPlayList()[0].Name, u"c.mp3");
}

TEST_F(MusicSource, PlainForm_CommentIsCutToItsSlide) {
    auto source = Source(std::string(kTwoSlides) +
                         "[slide1]\nSound=voice.wav\nSoundLength=8000\n"
                         "[slide2]\nSound=@\nSoundLength=100\n");
    TOrbMusicSource music(*source);
    ASSERT_EQ(music.Slides().size(), 2u);
    EXPECT_EQ(music.Slides()[0].Comment, u"voice.wav");
    EXPECT_EQ(music.Slides()[0].CommentLength, 5000);
    EXPECT_EQ(music.Slides()[0].NextSlide, 1);
    EXPECT_EQ(music.Slides()[1].NextSlide, 0);
    EXPECT_TRUE(music.Slides()[1].Comment.empty());

    auto full = Source(std::string(kTwoSlides) +
                       "opt_fullyplaysound=1\n[slide1]\nSound=voice.wav\nSoundLength=8000\n");
    EXPECT_EQ(TOrbMusicSource(*full).Slides()[0].CommentLength, 8000);
}

TEST_F(MusicSource, PlainForm_CommentWithoutLengthIsSkipped) {
    auto source = Source(std::string(kTwoSlides) + "[slide1]\nSound=voice.wav\n");
    EXPECT_TRUE(TOrbMusicSource(*source).Slides()[0].Comment.empty());
}

TEST_F(MusicSource, PlainForm_PersonalMusicOnlyOutsideSynchronisedMode) {
    const std::string slide =
        "[slide2]\nUsePersonal=1\nMusicAction=2\nMusicCount=2\nSubMusic1=p.mp3\n"
        "SubMusicLength1=2500\nSubMusic2=\nSubMusicLength2=100\n";
    auto source = Source(std::string(kTwoSlides) + slide);
    TOrbMusicSource music(*source);
    ASSERT_TRUE(music.Slides()[1].Personal);
    EXPECT_EQ(music.Slides()[1].Personal->Count(), 1);
    EXPECT_EQ(music.Slides()[1].Personal->TotalLength(), 2500);

    auto synced = Source(std::string(kTwoSlides) + "opt_syncmode=1\n" + slide);
    EXPECT_FALSE(TOrbMusicSource(*synced).Slides()[1].Personal);
}

TEST_F(MusicSource, ObjectForm_CrossFadeOverlapsTheNextItem) {
    auto source = Source(
        ShowMusic("object t : TMusicTrack\n" + Item("FileName=a.mp3\nDuration=6000\n") +
                  Item("FileName=b.mp3\nDuration=5000\nCrossMode=0\nCross=2000\n") + "end\n"));
    TOrbMusicSource music(*source);
    EXPECT_TRUE(music.MusicUsed());
    TCompositeParams params;
    Composite(music.ShowPlayList(), params);
    EXPECT_EQ(music.ShowPlayList()[0].Length, 9000);
    EXPECT_EQ(params.Duration, 9000);
    ASSERT_EQ(params.Items.size(), 2u);
    EXPECT_EQ(params.Items[1].TimeLine, 4000);
    ASSERT_EQ(params.Items[0].Volumes.Envelopes.size(), 1u);
    EXPECT_EQ(params.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{4000, 1000}, {6000, 0}}));
    ASSERT_EQ(params.Items[1].Volumes.Envelopes.size(), 1u);
    EXPECT_EQ(params.Items[1].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{0, 0}, {2000, 1000}}));
}

// The show's music compiled and mixed, with items of a constant level
// ("dc:LEVEL:MS") generated in memory; the left channel.
std::vector<int16_t> MixedShowMusic(const std::string& body) {
    auto source = Source(ShowMusic(body));
    TOrbMusicSource music(*source);
    if (music.ShowPlayList().Count() != 1) return {};
    auto open = [](const std::u16string& name) -> std::unique_ptr<ql::TPcmSource> {
        const std::string text = ql::ToUtf8(name);
        const size_t colon = text.find(':', 3);
        return ql::TMemoryPcmSource::Constant(int16_t(std::stoi(text.substr(3, colon - 3))),
                                              size_t(std::stoi(text.substr(colon + 1)) * 44.1));
    };
    auto mix = ql::OpenCompositeSource(music.ShowPlayList()[0].Name, open);
    if (!mix) return {};
    std::vector<int16_t> stereo(size_t(mix->LengthMs() * 44.1) * 2 + 2);
    const size_t frames = mix->Read(stereo.data(), stereo.size() / 2);
    std::vector<int16_t> left(frames);
    for (size_t i = 0; i < frames; ++i) left[i] = stereo[2 * i];
    return left;
}

TEST_F(MusicSource, CompiledMusic_MixesCrossFadesPausesAndLevels) {
    // a 0..6000, b crosses in over a's last 2000 ms (4000..9000), c follows a
    // pause of 1150 ms (10150..11150) at half level with a fade-in of 500 ms.
    const std::vector<int16_t> pcm = MixedShowMusic(
        "object t : TMusicTrack\n" + Item("FileName=dc:10000:6000\nDuration=6000\n") +
        Item("FileName=dc:10000:5000\nDuration=5000\nCrossMode=0\nCross=2000\n") +
        Item("FileName=dc:10000:1000\nDuration=1000\nCrossMode=1\nPause=1150\nVolume=50\n"
             "FadeIn=500\n") +
        "end\n");
    ASSERT_EQ(pcm.size(), size_t(11150 * 44.1));
    EXPECT_EQ(pcm[size_t(2000 * 44.1)], 10000);
    for (double ms = 4050; ms < 5950; ms += 37) ASSERT_NEAR(pcm[size_t(ms * 44.1)], 10000, 1) << ms;
    EXPECT_EQ(pcm[size_t(7000 * 44.1)], 10000);
    EXPECT_EQ(pcm[size_t(10000 * 44.1)], 0);
    EXPECT_EQ(pcm[size_t(10150 * 44.1)], 0);
    EXPECT_NEAR(pcm[size_t(10400 * 44.1)], 2500, 1);
    EXPECT_EQ(pcm[size_t(10900 * 44.1)], 5000);
}

TEST_F(MusicSource, ObjectForm_PauseModePlacesTheItemAfterAGap) {
    auto source = Source(
        ShowMusic("object t : TMusicTrack\n" + Item("FileName=a.mp3\nDuration=3000\n") +
                  Item("FileName=b.mp3\nDuration=1000\nCrossMode=1\nPause=1150\n") + "end\n"));
    TCompositeParams params;
    Composite(TOrbMusicSource(*source).ShowPlayList(), params);
    ASSERT_EQ(params.Items.size(), 2u);
    EXPECT_EQ(params.Items[1].TimeLine, 4150);
    EXPECT_EQ(params.Duration, 5150);
}

TEST_F(MusicSource, ObjectForm_MutedTrackIsLeftOutAndTracksRunInParallel) {
    auto source = Source(
        ShowMusic("object t1 : TMusicTrack\n" + Item("FileName=a.mp3\nDuration=3000\n") + "end\n" +
                  "object t2 : TMusicTrack\nIsMute=1\n" + Item("FileName=m.mp3\nDuration=90000\n") +
                  "end\n" + "object t3 : TMusicTrack\n" + Item("FileName=b.mp3\nDuration=7000\n") +
                  "end\n" + "object o : TMusicOptions\nIsRepeat=1\nend\n"));
    TOrbMusicSource music(*source);
    EXPECT_TRUE(music.Repeat());
    EXPECT_TRUE(music.ShowPlayList().Repeat);
    TCompositeParams params;
    Composite(music.ShowPlayList(), params);
    ASSERT_EQ(params.Items.size(), 2u);
    EXPECT_EQ(params.Items[0].TimeLine, 0);
    EXPECT_EQ(params.Items[1].TimeLine, 0);
    EXPECT_EQ(params.Duration, 7000);
}

TEST_F(MusicSource, ObjectForm_FadesAndLevelMakeOneEnvelope) {
    auto source = Source(
        ShowMusic(Item("FileName=a.mp3\nDuration=4000\nFadeIn=500\nFadeOut=1000\nVolume=50\n") +
                  Item("FileName=b.mp3\nDuration=1000\nVolume=80\n") +
                  Item("FileName=c.mp3\nDuration=1000\nVolume=0\n")));
    TCompositeParams params;
    Composite(TOrbMusicSource(*source).ShowPlayList(), params);
    ASSERT_EQ(params.Items.size(), 2u);  // the silent item is left out, its time stays
    EXPECT_EQ(params.Duration, 6000);
    EXPECT_EQ(params.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{0, 0}, {500, 500}, {3000, 500}, {4000, 0}}));
    EXPECT_EQ(params.Items[1].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{0, 800}, {1000, 800}}));
}

TEST_F(MusicSource, ObjectForm_VolumeCurveBecomesAnEnvelopeAndABadOneSkipsTheItem) {
    auto source =
        Source(ShowMusic(Item("FileName=a.mp3\nDuration=4000\nStartTime=500\n"
                              "VolumeParams=44100:32768,88200:65536\n") +
                         Item("FileName=b.mp3\nDuration=1000\nVolumeParams=44100:half\n")));
    TCompositeParams params;
    Composite(TOrbMusicSource(*source).ShowPlayList(), params);
    ASSERT_EQ(params.Items.size(), 1u);
    EXPECT_EQ(params.Items[0].FileName, u"a.mp3");
    ASSERT_EQ(params.Items[0].Volumes.Envelopes.size(), 1u);
    EXPECT_EQ(params.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{500, 500}, {1500, 1000}}));
}

TEST_F(MusicSource, ObjectForm_RandomTrackKeepsEveryItem) {
    std::string items;
    for (int i = 0; i < 6; ++i)
        items += Item("FileName=" + std::to_string(i) + ".mp3\nDuration=1000\n");
    auto source = Source(ShowMusic("object t : TMusicTrack\nIsRandom=1\n" + items + "end\n"));
    TCompositeParams params;
    Composite(TOrbMusicSource(*source).ShowPlayList(), params);
    ASSERT_EQ(params.Items.size(), 6u);
    std::vector<std::u16string> names;
    for (size_t i = 0; i < params.Items.size(); ++i) {
        names.push_back(params.Items[i].FileName);
        EXPECT_EQ(params.Items[i].TimeLine, int32_t(i) * 1000);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.front(), u"0.mp3");
    EXPECT_EQ(names.back(), u"5.mp3");
}

TEST_F(MusicSource, ObjectForm_CommentIsCutToTheSlideWindow) {
    auto source =
        Source(ShowMusic("") +
               "[slide1]\nobject sm : music\nobject c : TSoundComment\nFileName=voice.wav\n"
               "Duration=8000\nPause=1000\nFadeOut=500\nend\nend\n"
               "[slide2]\nobject sm : music\nobject c : "
               "TSoundComment\nFileName=error\nDuration=100\nend\nend\n");
    TOrbMusicSource music(*source);
    const TSlideMusicInfo& slide = music.Slides()[0];
    EXPECT_EQ(slide.CommentLength, 5000);
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(slide.Comment));
    ASSERT_EQ(params.Items.size(), 1u);
    EXPECT_EQ(params.Items[0].TimeLine, 1000);
    EXPECT_EQ(params.Items[0].Duration, 4000);
    EXPECT_EQ(params.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<TVolumeItem>{{3500, 1000}, {4000, 0}}));
    EXPECT_TRUE(music.Slides()[1].Comment.empty());
}

TEST_F(MusicSource, ObjectForm_VideoSoundsJoinTheComment) {
    auto source =
        Source(ShowMusic("") +
               "[slide1]\nobject v : video\nFileName=clip.mp4\nDuration=9000\nStartORBTime=1000\n"
               "StartVideoTime=200\nend\nobject w : "
               "video\nFileName=mute.mp4\nMute=1\nDuration=100\nend\n");
    TOrbMusicSource music(*source);
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(music.Slides()[0].Comment));
    ASSERT_EQ(params.Items.size(), 1u);
    EXPECT_EQ(params.Items[0].FileName, u"clip.mp4");
    EXPECT_EQ(params.Items[0].TimeLine, 1000);
    EXPECT_EQ(params.Items[0].BeginTime, 200);
    EXPECT_EQ(params.Items[0].Duration, 4000);  // cut to the slide window
}

TEST_F(MusicSource, ObjectForm_VideoSoundRunsToTheEndOfTheNextTransition) {
    // Slide 2 comes in with a transition of 1500 ms: the video of slide 1 is
    // still seen (and heard) until 6500, whether comments are cut to their
    // slide or not.
    for (const char* fully : {"0", "1"}) {
        auto source =
            Source(ShowMusic("", std::string("opt_fullyplaysound=") + fully + "\n") +
                   "[slide1]\nobject v : video\nFileName=clip.mp4\nDuration=9000\n"
                   "StartORBTime=1000\nend\n"
                   "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=1\nEffectTime=1500\n");
        ASSERT_EQ(source->Slides()[0].NextEffectTime, 1500);
        TOrbMusicSource music(*source);
        TCompositeParams params;
        ASSERT_TRUE(params.ReadText(music.Slides()[0].Comment)) << fully;
        ASSERT_EQ(params.Items.size(), 1u);
        EXPECT_EQ(params.Items[0].Duration, 5500) << fully;
        EXPECT_EQ(music.Slides()[0].CommentLength, 6500) << fully;
    }
}

TEST_F(MusicSource, ObjectForm_ProjectClipSoundsOnceFromItsFirstSlide) {
    const std::string main =
        std::string(kTwoSlides) +
        "object vb : VideoBoss\nobject c : VideoClip\nClipGUID={42}\nFileName=/media/clip.mp4\n"
        "LoadFromDisk=1\nDuration=8000\nStartVideoTime=100\nStartORBTime=0\nend\nend\n"
        "object m : music\nend\n";
    const std::string video =
        "object v : video\nClipGUID={42}\nFileName=other.mp4\nDuration=10\nend\n";
    auto source = Source(main + "[slide1]\n" + video + video + "[slide2]\n" + video);
    TOrbMusicSource music(*source);
    TCompositeParams params;
    ASSERT_TRUE(params.ReadText(music.Slides()[0].Comment));
    ASSERT_EQ(params.Items.size(), 1u);
    EXPECT_EQ(params.Items[0].FileName, std::u16string(kDiskMarker) + u"/media/clip.mp4");
    EXPECT_EQ(params.Items[0].Duration, 8000);  // a clip plays on across slides
    EXPECT_EQ(params.Items[0].BeginTime, 100);
    EXPECT_TRUE(music.Slides()[1].Comment.empty());
}

TEST(VolumeCurve, NonIntegerFails) {
    EXPECT_FALSE(ParseVolumeCurve(u"10:1.5", 0));
    EXPECT_FALSE(ParseVolumeCurve(u"10", 0));
    auto points = ParseVolumeCurve(u"0:65536,", 100);
    ASSERT_TRUE(points);
    EXPECT_EQ(*points, (std::vector<TVolumeItem>{{-100, 1000}}));
}

}  // namespace
}  // namespace orb
