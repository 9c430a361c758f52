#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Music/AudioFixtures.h"
#include "QlLib/Music/CompositeParams.h"
#include "QlLib/qpStringUtils.h"

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;

// A constant level; mono at 22050 Hz, so the item reaches the mixer through
// its converter as 44100 Hz stereo.
std::string LevelWav(int ms, int16_t level, int rate = 44100, int channels = 2) {
    return orbtest::PcmWav(
        std::vector<int16_t>(size_t(std::lround(ms * rate / 1000.0)) * size_t(channels), level),
        rate, channels);
}

// The show's music: two tracks, the first 1000 ms of level 4000, the second
// from 1500 ms (after a pause) 1000 ms of level 2000; slide 1's comment is
// 500 ms of level 1000 after a pause of 200 ms.
const char kProject[] =
    "[Main]\r\nOrbVersion=7.5\r\nopt_slidescount=1\r\nopt_synchpos1=4000\r\nopt_repeat=stop\r\n"
    "opt_syncmode=1\r\nobject m : music\r\nobject t : TMusicTrack\r\nobject i : TMusicItem\r\n"
    "FileName=a.wav\r\nDuration=1000\r\nend\r\nend\r\nobject u : TMusicTrack\r\nobject j : "
    "TMusicItem\r\n"
    "FileName=b.wav\r\nDuration=1000\r\nCrossMode=1\r\nPause=1500\r\nend\r\nend\r\nend\r\n"
    "[slide1]\r\nobject sm : music\r\nobject c : "
    "TSoundComment\r\nFileName=c.wav\r\nDuration=500\r\n"
    "Pause=200\r\nend\r\nend\r\n";

class OrbtoolComposite : public ::testing::Test {
protected:
    void SetUp() override {
        orb::test::WriteBytes(
            m_folder.WideFile("show.exe"),
            orb::test::BuildPackage("player", {{u"Project.orb", kProject, 1},
                                               {u"a.wav", LevelWav(1000, 4000), 1},
                                               {u"b.wav", LevelWav(1000, 2000), 1},
                                               {u"c.wav", LevelWav(500, 1000), 0}}));
    }

    std::string Run(const std::string& arguments, int expectedCode = 0) {
        const auto run = RunProgram(m_folder, ORBTOOL_PATH, arguments);
        EXPECT_EQ(run.Code, expectedCode) << run.Err;
        return run.Out;
    }

    // The left channel of a WAV the tool wrote.
    std::vector<int16_t> Left(const std::string& file) {
        const std::string wav = ql::test::ReadTextFile(m_folder.File(file));
        std::vector<int16_t> left;
        for (size_t at = 44; at + 4 <= wav.size(); at += 4) {
            int16_t sample;
            std::memcpy(&sample, wav.data() + at, 2);
            left.push_back(sample);
        }
        return left;
    }

    static size_t Frame(double ms) { return size_t(std::llround(ms * 44.1)); }

    ql::test::TTestFolder m_folder;
};

TEST_F(OrbtoolComposite, TextBesideItsItems_IsMixedToWav) {
    orb::test::WriteBytes(m_folder.WideFile("low.wav"), LevelWav(2000, 3000, 22050, 1));
    orb::test::WriteBytes(m_folder.WideFile("high.wav"), LevelWav(2000, 5000));
    ql::TCompositeParams params;
    params.Duration = 2000;
    params.AddItem(u"low.wav", 0).Duration = 2000;
    params.AddItem(u"high.wav", 1000).Volumes.AddEnvelope().AddPoint(0, 500);
    orb::test::WriteBytes(m_folder.WideFile("mix.txt"), ql::ToUtf8(params.WriteText()) + "\n");

    EXPECT_EQ(Run("composite " + ShellQuote(m_folder.File("mix.txt")) + " -o " +
                  ShellQuote(m_folder.File("o.wav"))),
              "2000\t2\n");
    const std::vector<int16_t> pcm = Left("o.wav");
    ASSERT_EQ(pcm.size(), Frame(2000));
    EXPECT_EQ(pcm[Frame(500)], 3000);
    EXPECT_EQ(pcm[Frame(1500)], 3000 + 2500);

    Run("composite " + ShellQuote(m_folder.File("mix.txt")) + " --from 1200 --to 1300 -o " +
        ShellQuote(m_folder.File("part.wav")));
    const std::vector<int16_t> part = Left("part.wav");
    ASSERT_EQ(part.size(), Frame(100));
    EXPECT_EQ(part[10], 5500);
}

TEST_F(OrbtoolComposite, Compile_PrintsTheShowsMusicAndASlidesComment) {
    const std::string show = ShellQuote(m_folder.File("show.exe"));
    const std::string music = Run("composite --compile " + show + " --seed 1");
    ql::TCompositeParams params;
    ASSERT_TRUE(params.ReadText(ql::FromUtf8(music.substr(0, music.size() - 1))));
    EXPECT_EQ(params.Duration, 2500);
    ASSERT_EQ(params.Items.size(), 2u);
    EXPECT_EQ(params.Items[1].TimeLine, 1500);

    const std::string comment = Run("composite --compile " + show + " --slide 0");
    ASSERT_TRUE(params.ReadText(ql::FromUtf8(comment.substr(0, comment.size() - 1))));
    ASSERT_EQ(params.Items.size(), 1u);
    EXPECT_EQ(params.Items[0].TimeLine, 200);

    // The compiled text mixes with the package's entries.
    orb::test::WriteBytes(m_folder.WideFile("music.txt"), music);
    EXPECT_EQ(Run("composite " + ShellQuote(m_folder.File("music.txt")) + " --show " + show +
                  " -o " + ShellQuote(m_folder.File("m.wav"))),
              "2500\t2\n");
    const std::vector<int16_t> pcm = Left("m.wav");
    ASSERT_EQ(pcm.size(), Frame(2500));
    EXPECT_EQ(pcm[Frame(500)], 4000);
    EXPECT_EQ(pcm[Frame(1200)], 0);
    EXPECT_EQ(pcm[Frame(2000)], 2000);

    Run("composite --compile " + show + " --slide 5", 2);
}

TEST_F(OrbtoolComposite, AudioOfAShow_MixesItsTracksAndComment) {
    Run("audio " + ShellQuote(m_folder.File("show.exe")) + " --to 3000 -o " +
        ShellQuote(m_folder.File("a.wav")));
    const std::vector<int16_t> pcm = Left("a.wav");
    ASSERT_EQ(pcm.size(), Frame(3000));
    EXPECT_EQ(pcm[Frame(100)], 4000);
    EXPECT_EQ(pcm[Frame(400)], 4000 + 1000);  // the comment sounds from 200 ms to 700 ms
    EXPECT_EQ(pcm[Frame(900)], 4000);
    EXPECT_EQ(pcm[Frame(1300)], 0);
    EXPECT_EQ(pcm[Frame(2000)], 2000);
    EXPECT_EQ(pcm[Frame(2800)], 0);
}

}  // namespace
