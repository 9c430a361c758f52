#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Music/AudioFixtures.h"

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;

// Three slides of 2 s; the show's music is 1.5 s of a 440 Hz tone, and slide
// 2 (from 2000 ms) has a second of 1000 Hz as its sound comment, which ends
// 10 ms early.
const char kProject[] =
    "[Main]\r\nOrbVersion=7.5\r\nopt_slidescount=3\r\nopt_synchpos1=2000\r\nopt_synchpos2=4000\r\n"
    "opt_synchpos3=6000\r\nopt_repeat=stop\r\nopt_usemusic=1\r\nopt_syncmode=1\r\nopt_repeatmusic=0\r\n"
    "opt_music_count=1\r\nopt_music1=music/tone.wav\r\nopt_lengthlist1=1500\r\n"
    "[slide2]\r\nSound=music/voice.wav\r\nSoundLength=1000\r\n";

class OrbtoolAudio : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tone = orbtest::PcmWav(orbtest::Sine(44100, 2, 3.0, 440), 44100, 2);
        const std::string voice = orbtest::PcmWav(orbtest::Sine(44100, 1, 1.0, 1000), 44100, 1);
        orb::test::WriteBytes(m_folder.WideFile("show.exe"),
                              orb::test::BuildPackage("player", {{u"Project.orb", kProject, 1},
                                                                 {u"music/tone.wav", tone, 1},
                                                                 {u"music/voice.wav", voice, 0}}));
    }

    // The left channel of the rendered WAV.
    std::vector<int16_t> Render(const std::string& span, int* code = nullptr) {
        const auto run = RunProgram(m_folder, ORBTOOL_PATH,
                                    "audio " + ShellQuote(m_folder.File("show.exe")) + " " + span + " -o " +
                                        ShellQuote(m_folder.File("out.wav")));
        if (code) *code = run.Code;
        EXPECT_EQ(run.Code, 0) << run.Err;
        const std::string wav = ql::test::ReadTextFile(m_folder.File("out.wav"));
        std::vector<int16_t> left;
        if (wav.size() < 44) return left;
        std::vector<int16_t> pcm((wav.size() - 44) / 2);
        std::memcpy(pcm.data(), wav.data() + 44, pcm.size() * 2);
        for (size_t i = 0; i < pcm.size(); i += 2) left.push_back(pcm[i]);
        return left;
    }

    static int64_t Frame(double ms) { return std::llround(ms * 44.1); }

    static int Peak(const std::vector<int16_t>& left, double fromMs, double toMs) {
        int peak = 0;
        for (int64_t f = Frame(fromMs); f < Frame(toMs) && f < int64_t(left.size()); ++f)
            peak = std::max(peak, std::abs(int(left[size_t(f)])));
        return peak;
    }

    // The last sounding frame before ms, and the first at or after it.
    static int64_t LastSoundBefore(const std::vector<int16_t>& left, double ms) {
        for (int64_t f = Frame(ms) - 1; f >= 0; --f)
            if (left[size_t(f)] != 0) return f;
        return -1;
    }
    static int64_t FirstSoundFrom(const std::vector<int16_t>& left, double ms) {
        for (int64_t f = Frame(ms); f < int64_t(left.size()); ++f)
            if (left[size_t(f)] != 0) return f;
        return -1;
    }

    ql::test::TTestFolder m_folder;
};

constexpr double kStep = 221;        // frames of one scheduling step
constexpr double kFade = 441;        // frames of a channel fade

TEST_F(OrbtoolAudio, WholeShow_ToneAndCommentWhereThePlayListPutsThem) {
    const std::vector<int16_t> left = Render("--to 4000");
    ASSERT_EQ(left.size(), size_t(Frame(4000)));
    EXPECT_GT(Peak(left, 100, 1400), 11000);
    EXPECT_EQ(Peak(left, 1540, 1990), 0);
    EXPECT_GT(Peak(left, 2100, 2900), 11000);
    EXPECT_EQ(Peak(left, 3010, 4000), 0);

    const int64_t toneEnd = LastSoundBefore(left, 1900);
    EXPECT_GE(double(toneEnd), double(Frame(1500)) - kStep);
    EXPECT_LE(double(toneEnd), double(Frame(1500)) + kFade + kStep);
    const int64_t voiceStart = FirstSoundFrom(left, 1900);
    EXPECT_NEAR(double(voiceStart), double(Frame(2000)), kStep);
    const int64_t voiceEnd = LastSoundBefore(left, 3900);
    EXPECT_NEAR(double(voiceEnd), double(Frame(2990) + kFade), kStep);

    std::vector<int16_t> tone(left.begin() + Frame(200), left.begin() + Frame(1300));
    std::vector<int16_t> stereoTone;
    for (int16_t v : tone) stereoTone.insert(stereoTone.end(), {v, v});
    EXPECT_NEAR(orbtest::ZeroCrossingFrequency(stereoTone, 44100), 440, 3);
    std::vector<int16_t> voice;
    for (int64_t f = Frame(2200); f < Frame(2800); ++f) voice.insert(voice.end(), {left[size_t(f)], left[size_t(f)]});
    EXPECT_NEAR(orbtest::ZeroCrossingFrequency(voice, 44100), 1000, 5);
}

TEST_F(OrbtoolAudio, Span_StartsInsideTheComment) {
    const std::vector<int16_t> left = Render("--from 2500 --to 3500");
    ASSERT_EQ(left.size(), size_t(Frame(1000)));
    EXPECT_GT(Peak(left, 20, 450), 11000);
    EXPECT_EQ(Peak(left, 510, 1000), 0);
}

TEST_F(OrbtoolAudio, BadArguments_FailWithUsage) {
    const auto noOut = RunProgram(m_folder, ORBTOOL_PATH, "audio " + ShellQuote(m_folder.File("show.exe")));
    EXPECT_EQ(noOut.Code, 2);
    EXPECT_NE(noOut.Err.find("usage: orbtool audio"), std::string::npos);
    const auto reversed = RunProgram(m_folder, ORBTOOL_PATH,
                                     "audio " + ShellQuote(m_folder.File("show.exe")) + " --from 300 --to 200 -o " +
                                         ShellQuote(m_folder.File("x.wav")));
    EXPECT_EQ(reversed.Code, 2);
    const auto missing = RunProgram(m_folder, ORBTOOL_PATH,
                                    "audio " + ShellQuote(m_folder.File("none.exe")) + " -o " +
                                        ShellQuote(m_folder.File("x.wav")));
    EXPECT_EQ(missing.Code, 2);
    const auto help = RunProgram(m_folder, ORBTOOL_PATH, "audio --help");
    EXPECT_EQ(help.Code, 0);
    EXPECT_NE(help.Out.find("--from MS"), std::string::npos);
}

}  // namespace
