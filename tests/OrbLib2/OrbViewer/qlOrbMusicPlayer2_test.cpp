#include "OrbLib2/OrbViewer/qlOrbMusicPlayer2.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/Music/AudioFixtures.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"
#include "WaitSupport.h"

namespace orb {
namespace {

constexpr int16_t kToneB = 8000;
constexpr int16_t kToneC = 2000;

using ql::test::DocumentFromText;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// 44100 Hz stereo: a ramp whose value is the millisecond of the frame, so a
// sample tells where in the file it came from, or a constant level.
std::string RampWav(int ms) {
    std::vector<int16_t> samples;
    const int frames = int(std::lround(ms * 44.1));
    for (int i = 0; i < frames; ++i) {
        const int16_t value = int16_t(std::lround(i / 44.1));
        samples.push_back(value);
        samples.push_back(value);
    }
    return orbtest::PcmWav(samples, 44100, 2);
}

std::string LevelWav(int ms, int16_t level) {
    return orbtest::PcmWav(std::vector<int16_t>(size_t(std::lround(ms * 44.1)) * 2, level), 44100,
                           2);
}

int64_t Frame(double ms) {
    return std::llround(ms * 44.1);
}

class MusicPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(m_folder.File("a.wav"), RampWav(1000));
        WriteFile(m_folder.File("b.wav"), LevelWav(1000, kToneB));
        WriteFile(m_folder.File("c.wav"), LevelWav(3000, kToneC));
    }

    // Three slides of 4 s; the show list plays a.wav then b.wav, 1 s each.
    std::string Show(const std::string& extra, bool repeatMusic = false) {
        return "[Main]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=8000\nopt_synchpos3="
               "12000\n"
               "opt_repeat=stop\nopt_usemusic=1\nopt_syncmode=1\nopt_repeatmusic=" +
               std::string(repeatMusic ? "1" : "0") +
               "\nopt_music_count=2\nopt_music1=" + m_folder.File("a.wav") +
               "\nopt_lengthlist1=1000\nopt_music2=" + m_folder.File("b.wav") +
               "\nopt_lengthlist2=1000\n" + extra;
    }

    TOrbMusicPlayer& Open(const std::string& text) {
        m_source = std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), DocumentFromText(text),
                                                u"/opt/show");
        TMusicPlayerOptions options;
        options.Deterministic = true;
        m_player = std::make_unique<TOrbMusicPlayer>(*m_source, std::move(options));
        return *m_player;
    }

    // Steps of 5 ms (220 and 221 frames in turn), each after a scheduling pass.
    std::vector<int16_t> Play(double ms) {
        std::vector<int16_t> out;
        std::vector<int16_t> block(2 * 221);
        const int64_t frames = Frame(ms);
        int64_t done = 0;
        while (done < frames) {
            m_player->Step();
            const size_t want =
                size_t(std::min<int64_t>((m_steps++ % 2) ? 221 : 220, frames - done));
            const size_t got = m_player->Render(block.data(), want);
            if (got == 0) break;
            out.insert(out.end(), block.begin(), block.begin() + std::ptrdiff_t(2 * got));
            done += int64_t(got);
        }
        return out;
    }

    static int16_t At(const std::vector<int16_t>& samples, double ms) {
        return samples[size_t(2 * Frame(ms))];
    }

    ql::test::TTestFolder m_folder;
    std::unique_ptr<TOrbSource> m_source;
    std::unique_ptr<TOrbMusicPlayer> m_player;
    int64_t m_steps = 0;
};

TEST_F(MusicPlayer, SynchronisedList_EntriesSoundWhereTheListPlacesThem) {
    TOrbMusicPlayer& player = Open(Show(""));
    EXPECT_FALSE(player.Running());
    EXPECT_EQ(player.Position(), 0);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(2500);
    ASSERT_EQ(pcm.size(), size_t(2 * Frame(2500)));
    EXPECT_NEAR(At(pcm, 500), 500, 6);
    EXPECT_NEAR(At(pcm, 900), 900, 6);
    EXPECT_EQ(At(pcm, 1500), kToneB);
    EXPECT_EQ(At(pcm, 2100), 0);
    // The boundary: the ramp's end cross-fades into b within one step.
    int64_t firstB = -1;
    for (int64_t f = 0; f < Frame(2500); ++f)
        if (pcm[size_t(2 * f)] > 1500) {
            firstB = f;
            break;
        }
    EXPECT_NEAR(double(firstB), double(Frame(1000)), 221 + 441);
    int64_t lastSound = -1;
    for (int64_t f = 0; f < Frame(2500); ++f)
        if (pcm[size_t(2 * f)] != 0) lastSound = f;
    EXPECT_NEAR(double(lastSound), double(Frame(2000)), 221 + 441);
    EXPECT_NEAR(player.Position(), 2500, 5);
}

TEST_F(MusicPlayer, RepeatingList_StartsOverAfterItsTotalLength) {
    Open(Show("", true));
    m_player->Run(true);
    const std::vector<int16_t> pcm = Play(4600);
    EXPECT_NEAR(At(pcm, 2500), 500, 6);
    EXPECT_EQ(At(pcm, 3500), kToneB);
    EXPECT_NEAR(At(pcm, 4300), 300, 6);
}

TEST_F(MusicPlayer, RepeatingListOfLengthZero_DoesNotLoopForever) {
    Open(
        "[Main]\nopt_slidescount=1\nopt_synchpos1=4000\nopt_usemusic=1\nopt_syncmode=1\nopt_"
        "repeatmusic=1\n"
        "opt_music_count=1\nopt_music1=" +
        m_folder.File("a.wav") + "\nopt_lengthlist1=0\n");
    m_player->Run(true);
    const std::vector<int16_t> pcm = Play(1000);
    EXPECT_EQ(At(pcm, 500), 0);
    EXPECT_LE(m_player->ItemCount(), 1u);
}

TEST_F(MusicPlayer, SeekWhileStopped_KeepsTheClockStoppedAtTheTarget) {
    TOrbMusicPlayer& player = Open(Show(""));
    player.Seek(700);
    EXPECT_FALSE(player.Ready());
    m_player->Step();
    EXPECT_TRUE(player.Ready());
    EXPECT_EQ(player.Position(), 700);
    const std::vector<int16_t> quiet = Play(100);
    EXPECT_EQ(At(quiet, 50), 0);
    EXPECT_EQ(player.Position(), 700);

    player.Run(true);
    const std::vector<int16_t> pcm = Play(200);
    EXPECT_NEAR(player.Position(), 900, 5);
    // The ramp continues from the target: 30 ms after the start it reads 730.
    EXPECT_NEAR(At(pcm, 30), 730, 6);
}

TEST_F(MusicPlayer, SeekWhileRunning_StopsTheClockAtTheTarget) {
    TOrbMusicPlayer& player = Open(Show(""));
    player.Run(true);
    Play(300);
    player.Seek(1200);
    Play(50);
    EXPECT_EQ(player.Position(), 1200);
    EXPECT_FALSE(player.Running());
    player.Run(true);
    const std::vector<int16_t> pcm = Play(100);
    EXPECT_EQ(At(pcm, 50), kToneB);
    EXPECT_NEAR(player.Position(), 1300, 5);
}

TEST_F(MusicPlayer, StopAndRun_SilenceWhileStoppedThenTheSamePlace) {
    TOrbMusicPlayer& player = Open(Show(""));
    player.Run(true);
    Play(400);
    player.Run(false);
    player.Run(false);  // repeated: ignored
    const std::vector<int16_t> stopped = Play(300);
    EXPECT_EQ(At(stopped, 100), 0);
    const double frozen = player.Position();
    EXPECT_NEAR(frozen, 400, 5);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(100);
    EXPECT_NEAR(At(pcm, 50), frozen + 50, 12);
}

TEST_F(MusicPlayer, Barrier_ClockNeverPassesIt) {
    TOrbMusicPlayer& player = Open(Show(""));
    player.Seek(TOrbMusicPlayer::kBarrierOnly, 1000);
    player.Run(true);
    Play(1500);
    EXPECT_EQ(player.Position(), 999);
    EXPECT_EQ(player.Barrier(), 1000);
    EXPECT_EQ(player.LastSeekBarrier(), 1000);
    player.Run(false);
    player.Seek(TOrbMusicPlayer::kBarrierOnly, TOrbMusicPlayer::kInitialBarrier);
    Play(10);
    EXPECT_EQ(player.Position(), 999);
}

TEST_F(MusicPlayer, LookAhead_OpensACommentFiveSecondsBeforeIt) {
    // Slide 3 begins at 8000 with a comment of 2 s.
    TOrbMusicPlayer& player =
        Open(Show("[slide3]\nSound=" + m_folder.File("c.wav") + "\nSoundLength=2000\n"));
    auto comments = [&] {
        size_t n = 0;
        for (const auto& item : player.Items())
            if (dynamic_cast<TPlayComment*>(item.get()) && item->ChannelCount() == 1 &&
                item->Ready())
                ++n;
        return n;
    };
    player.Run(true);
    Play(2990);
    EXPECT_EQ(comments(), 0u);
    Play(20);
    EXPECT_EQ(comments(), 1u);
    const std::vector<int16_t> pcm = Play(7090);  // to 10100
    // pcm starts at 3010 ms.
    EXPECT_EQ(At(pcm, 7990 - 3010), 0);
    EXPECT_EQ(At(pcm, 8500 - 3010), kToneC);
    EXPECT_EQ(At(pcm, 9980 - 3010), kToneC);
    EXPECT_EQ(At(pcm, 10005 - 3010), 0);  // it ends 10 ms early with a fade of 10 ms
    int64_t first = -1;
    for (int64_t f = 0; f < int64_t(pcm.size() / 2); ++f)
        if (pcm[size_t(2 * f)] != 0 && f > Frame(3000)) {
            first = f;
            break;
        }
    EXPECT_NEAR(double(first), double(Frame(8000 - 3010)), 221);
}

TEST_F(MusicPlayer, CommentOfASlideBeforeTheSeekTarget_PlaysOnFromItsMiddle) {
    // Slide 2 (4000 to 8000) has 3 s of comment; a seek to 5000 lands 1 s into it.
    TOrbMusicPlayer& player =
        Open(Show("[slide2]\nSound=" + m_folder.File("c.wav") + "\nSoundLength=3000\n"));
    player.Seek(5000);
    Play(10);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(2500);
    EXPECT_EQ(At(pcm, 1000), kToneC);
    EXPECT_EQ(At(pcm, 1950), kToneC);  // the comment runs to 8000
    EXPECT_EQ(At(pcm, 2200), 0);
}

TEST_F(MusicPlayer, CompositeMusic_MixesEveryItemAtItsPlace) {
    // The ramp from 200 ms for 500 ms, then after a pause of 1000 ms the level
    // of c.wav from 1500 ms for 1000 ms. Played from the start, and after a
    // seek into the ramp (which goes on from the matching point of its file).
    const std::string show =
        "[Main]\nopt_slidescount=1\nopt_synchpos1=4000\nopt_syncmode=1\nobject m : music\n"
        "object i : TMusicItem\nFileName=" +
        m_folder.File("a.wav") +
        "\nStartTime=200\nDuration=500\nend\nobject j : TMusicItem\nFileName=" +
        m_folder.File("c.wav") + "\nCrossMode=1\nPause=1000\nDuration=1000\nend\nend\n";
    TOrbMusicPlayer& player = Open(show);
    ASSERT_EQ(player.MusicSource().ShowPlayList().Count(), 1);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(2800);
    EXPECT_NEAR(At(pcm, 100), 300, 6);
    EXPECT_EQ(At(pcm, 1000), 0);
    EXPECT_EQ(At(pcm, 1400), 0);
    EXPECT_EQ(At(pcm, 1600), kToneC);
    EXPECT_EQ(At(pcm, 2400), kToneC);
    EXPECT_EQ(At(pcm, 2600), 0);

    m_player.reset();
    m_steps = 0;
    TOrbMusicPlayer& again = Open(show);
    again.Seek(300);
    Play(10);
    again.Run(true);
    const std::vector<int16_t> later = Play(2000);
    EXPECT_NEAR(At(later, 100), 600, 6);  // 400 ms into the show: 600 ms into a.wav
    EXPECT_EQ(At(later, 1500), kToneC);
}

TEST_F(MusicPlayer, SameInput_SameSamples) {
    Open(Show("[slide1]\nSound=" + m_folder.File("c.wav") + "\nSoundLength=1500\n"));
    m_player->Run(true);
    const std::vector<int16_t> first = Play(2200);
    m_player.reset();
    m_steps = 0;
    Open(Show("[slide1]\nSound=" + m_folder.File("c.wav") + "\nSoundLength=1500\n"));
    m_player->Run(true);
    EXPECT_EQ(Play(2200), first);
}

TEST_F(MusicPlayer, Volume_ScalesTheOutput) {
    TOrbMusicPlayer& player = Open(Show(""));
    player.SetVolume(0.5f);
    EXPECT_EQ(player.Volume(), 0.5f);
    player.Seek(1200);
    Play(10);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(100);
    EXPECT_NEAR(At(pcm, 50), kToneB / 2, kToneB / 50);
}

TEST_F(MusicPlayer, MissingFile_CountsAsLoadedAndPlaysNothing) {
    TOrbMusicPlayer& player = Open(
        "[Main]\nopt_slidescount=1\nopt_synchpos1=4000\nopt_usemusic=1\nopt_syncmode=1\n"
        "opt_music_count=1\nopt_music1=" +
        m_folder.File("none.wav") + "\nopt_lengthlist1=1000\n");
    player.Seek(100);
    Play(10);
    EXPECT_TRUE(player.Ready());
    player.Run(true);
    EXPECT_EQ(At(Play(500), 200), 0);
}

TEST_F(MusicPlayer, FifoAsMusic_IsRefusedWithoutHanging) {
    ASSERT_EQ(::mkfifo(m_folder.File("pipe.wav").c_str(), 0600), 0);
    TOrbMusicPlayer& player = Open(
        "[Main]\nopt_slidescount=1\nopt_synchpos1=4000\nopt_usemusic=1\nopt_syncmode=1\n"
        "opt_music_count=1\nopt_music1=" +
        m_folder.File("pipe.wav") + "\nopt_lengthlist1=1000\n");
    player.Seek(0);
    Play(10);
    EXPECT_TRUE(player.Ready());
}

TEST_F(MusicPlayer, FreeRunningMusic_GoesOnWhileTheShowClockStopsAndAcrossSeeks) {
    std::string show = Show("", true);
    show.replace(show.find("opt_syncmode=1"), 14, "opt_syncmode=0");
    TOrbMusicPlayer& player = Open(show);
    player.Run(true);
    Play(200);
    player.Run(false);
    const std::vector<int16_t> stopped = Play(300);
    EXPECT_NEAR(At(stopped, 100), 300, 12);
    EXPECT_NEAR(player.Position(), 200, 5);
    player.Seek(3000);
    const std::vector<int16_t> sought = Play(100);
    EXPECT_NEAR(At(sought, 50), 550, 12);
    EXPECT_EQ(player.Position(), 3000);
}

TEST_F(MusicPlayer, FarSeeks_StayBoundedAndPlayTheRightRepetition) {
    std::string show = Show("", true);
    show.replace(show.find("opt_repeat=stop"), 15, "opt_repeat=repeat");
    TOrbMusicPlayer& player = Open(show);
    player.Seek(1e300);
    Play(10);
    EXPECT_LE(player.Position(), 1e15);
    // 12000 ms per show cycle: 12000 * 1000 + 500 is 500 ms into cycle 1000.
    player.Seek(12000.0 * 1000 + 500);
    Play(10);
    player.Run(true);
    const std::vector<int16_t> pcm = Play(100);
    EXPECT_NEAR(At(pcm, 50), 550, 12);
    EXPECT_LE(player.ItemCount(), 8u);
}

TEST_F(MusicPlayer, Threads_SeekRunAndCloseOnTheNullOutput) {
    m_source = std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), DocumentFromText(Show("")),
                                            u"/opt/show");
    TMusicPlayerOptions options;
    options.Output.Kind = ql::TSoundOutputKind::Null;
    TOrbMusicPlayer player(*m_source, std::move(options));
    ASSERT_TRUE(player.StartThreads());
    // The player tells no one when it settles: its state is looked at again
    // until the guard.
    const auto waitFor = [](auto condition) { return ql::test::WaitUntil(condition); };
    player.Seek(1500);
    EXPECT_TRUE(waitFor([&] { return player.Ready(); }));
    EXPECT_EQ(player.Position(), 1500);
    player.Run(true);
    EXPECT_TRUE(waitFor([&] { return player.Position() > 1520; }));
    for (int i = 0; i < 50; ++i) {
        player.Seek(100.0 * i, 100.0 * i + 3000);
        player.Run(i % 2 == 0);
    }
    player.Seek(2000);
    EXPECT_TRUE(waitFor([&] { return player.Ready() && player.Position() == 2000; }));
    player.Close();
}

TEST_F(MusicPlayer, Threads_SeekStormFromTwoThreadsEndsSettled) {
    m_source = std::make_unique<TOrbSource>(
        ql::MakeRef<ql::TRefObj>(),
        DocumentFromText(
            Show("[slide1]\nSound=" + m_folder.File("c.wav") + "\nSoundLength=3000\n", true)),
        u"/opt/show");
    TMusicPlayerOptions options;
    options.Output.Kind = ql::TSoundOutputKind::Null;
    TOrbMusicPlayer player(*m_source, std::move(options));
    ASSERT_TRUE(player.StartThreads());
    std::atomic<bool> done{false};
    std::thread reader([&] {
        double sum = 0;
        while (!done.load()) sum += player.Position() + (player.Ready() ? 1 : 0) + player.Volume();
        EXPECT_FALSE(std::isnan(sum));
    });
    uint32_t seed = 12345;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        switch (seed >> 30) {
            case 0:
                player.Seek(double(seed % 20000), -1);
                break;
            case 1:
                player.Seek(TOrbMusicPlayer::kBarrierOnly, double(seed % 30000));
                break;
            case 2:
                player.Run((seed >> 8) & 1);
                break;
            default:
                player.SetVolume(float(seed % 100) / 100.0f);
                break;
        }
    }
    player.Seek(4500, TOrbMusicPlayer::kInitialBarrier);
    EXPECT_TRUE(ql::test::WaitUntil([&] { return player.Ready() && player.Position() == 4500; }));
    EXPECT_TRUE(player.Ready());
    EXPECT_EQ(player.Position(), 4500);
    done.store(true);
    reader.join();
    player.Close();
}

}  // namespace
}  // namespace orb
