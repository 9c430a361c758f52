#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Music/AudioFixtures.h"

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;

// Three slides of 500 ms in red, green and blue, and a tone as the show's
// music for the first second.
const char kProject[] =
    "[Main]\r\nopt_slidescount=3\r\nopt_synchpos1=500\r\nopt_synchpos2=1000\r\nopt_synchpos3="
    "1500\r\n"
    "opt_scr_width=64\r\nopt_scr_height=48\r\nopt_fx_enable=0\r\nopt_repeat=stop\r\n"
    "opt_usemusic=1\r\nopt_syncmode=1\r\nopt_repeatmusic=0\r\n"
    "opt_music_count=1\r\nopt_music1=tone.wav\r\nopt_lengthlist1=1000\r\n"
    "[slide1]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=255\r\n"
    "[slide2]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=65280\r\n"
    "[slide3]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=16711680\r\n";

class OrbtoolRender : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tone = orbtest::PcmWav(orbtest::Sine(44100, 2, 2.0, 440), 44100, 2);
        orb::test::WriteBytes(m_folder.WideFile("show.exe"),
                              orb::test::BuildPackage("player", {{u"Project.orb", kProject, 1},
                                                                 {u"tone.wav", tone, 1}}));
    }

    ql::test::TProgramRun Render(const std::string& options, const std::string& out) {
        return RunProgram(m_folder, ORBTOOL_PATH,
                          "render " + ShellQuote(m_folder.File("show.exe")) + " " + options +
                              " -o " + ShellQuote(m_folder.File(out)));
    }

    ql::test::TTestFolder m_folder;
};

constexpr size_t kFrameBytes = 6 + 64 * 48 + 2 * 32 * 24;

TEST_F(OrbtoolRender, Y4m_HeaderAndOneFramePerStepOfTheSpan) {
    const auto run = Render("--size 64x48 --fps 10 --from 0 --to 1550", "out.y4m");
    ASSERT_EQ(run.Code, 0) << run.Err;
    const std::string y4m = ql::test::ReadTextFile(m_folder.File("out.y4m"));
    const std::string header = "YUV4MPEG2 W64 H48 F10:1 Ip A1:1 C420jpeg\n";
    ASSERT_EQ(y4m.compare(0, header.size(), header), 0);
    // 1550 ms at 10 fps: frames at 0, 100, ... 1500.
    ASSERT_EQ(y4m.size(), header.size() + 16 * kFrameBytes);
    // Luma of the frame centres: red, then green, then blue (full range BT.601).
    auto luma = [&](int frame) {
        return uint8_t(y4m[header.size() + size_t(frame) * kFrameBytes + 6 + 24 * 64 + 32]);
    };
    EXPECT_EQ(luma(2), 76);   // 200 ms: red
    EXPECT_EQ(luma(7), 150);  // 700 ms: green
    EXPECT_EQ(luma(12), 29);  // 1200 ms: blue
    // The frame at a slide's begin shows that slide.
    EXPECT_EQ(luma(5), 150);
    EXPECT_EQ(luma(10), 29);

    const std::string wav = ql::test::ReadTextFile(m_folder.File("out.wav"));
    ASSERT_EQ(wav.size(), 44u + size_t(std::llround(1550 * 44.1)) * 4);
    // The tone sounds in the first second.
    std::vector<int16_t> pcm((wav.size() - 44) / 2);
    std::memcpy(pcm.data(), wav.data() + 44, pcm.size() * 2);
    int peak = 0;
    for (size_t i = size_t(200 * 44.1) * 2; i < size_t(800 * 44.1) * 2; ++i)
        peak = std::max(peak, std::abs(int(pcm[i])));
    EXPECT_GT(peak, 1000);
}

TEST_F(OrbtoolRender, Hider_FillsTheScreenBesideTheFrame) {
    std::string project = kProject;
    project.insert(project.find("[slide1]"), "opt_scr_hidercolor=16777215\r\n");  // white
    const std::string tone = orbtest::PcmWav(orbtest::Sine(44100, 2, 2.0, 440), 44100, 2);
    orb::test::WriteBytes(
        m_folder.WideFile("show.exe"),
        orb::test::BuildPackage("player", {{u"Project.orb", project, 1}, {u"tone.wav", tone, 1}}));
    // The 4:3 show on a 2:1 screen: the frame is 64 x 48 from x = 16.
    ASSERT_EQ(Render("--size 96x48 --fps 10 --from 0 --to 250", "out.y4m").Code, 0);
    const std::string y4m = ql::test::ReadTextFile(m_folder.File("out.y4m"));
    const size_t header = y4m.find('\n') + 1, frameBytes = 6 + 96 * 48 + 2 * 48 * 24;
    auto luma = [&](int x, int y) {
        return uint8_t(y4m[header + 2 * frameBytes + 6 + size_t(y) * 96 + size_t(x)]);
    };
    EXPECT_EQ(luma(4, 24), 255);   // left band: white
    EXPECT_EQ(luma(90, 24), 255);  // right band
    EXPECT_EQ(luma(48, 24), 76);   // the red slide
}

TEST_F(OrbtoolRender, TwoRuns_WriteTheSameFrames) {
    ASSERT_EQ(Render("--size 64x48 --fps 25 --from 300 --to 1300", "a.y4m").Code, 0);
    ASSERT_EQ(Render("--size 64x48 --fps 25 --from 300 --to 1300", "b.y4m").Code, 0);
    const std::string a = ql::test::ReadTextFile(m_folder.File("a.y4m"));
    EXPECT_EQ(a.size(),
              std::string("YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\n").size() + 25 * kFrameBytes);
    EXPECT_TRUE(a == ql::test::ReadTextFile(m_folder.File("b.y4m")));
}

TEST_F(OrbtoolRender, Folder_NumberedPngsAndAudioBeside) {
    const auto run = Render("--size 64x48 --fps 4 --to 1000", "frames");
    ASSERT_EQ(run.Code, 0) << run.Err;
    for (int k = 0; k < 4; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/frame-%06d.png", k);
        EXPECT_TRUE(std::filesystem::exists(m_folder.File(name))) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.File("frames/frame-000004.png")));
    EXPECT_EQ(std::filesystem::file_size(m_folder.File("frames/audio.wav")), 44u + 44100u * 4);
    // Not a terminal: no progress bar.
    EXPECT_EQ(run.Err, "");
}

TEST_F(OrbtoolRender, BadArguments_ExitWithUsageErrors) {
    EXPECT_EQ(Render("--fps 0", "x.y4m").Code, 2);
    EXPECT_EQ(Render("--size 8x8", "x.y4m").Code, 2);
    EXPECT_EQ(Render("--from 900 --to 100", "x.y4m").Code, 2);
    EXPECT_EQ(Render("--device vulkan", "x.y4m").Code, 2);
    // Slides that cannot be laid out (no design size) are an error, not black frames.
    orb::test::WriteBytes(m_folder.WideFile("broken.orb"),
                          "[Main]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=900\n");
    const auto broken = RunProgram(m_folder, ORBTOOL_PATH,
                                   "render " + ShellQuote(m_folder.File("broken.orb")) + " -o " +
                                       ShellQuote(m_folder.File("broken.y4m")));
    EXPECT_EQ(broken.Code, 2);
    EXPECT_NE(broken.Err.find("no slide"), std::string::npos) << broken.Err;
    const auto help = RunProgram(m_folder, ORBTOOL_PATH, "render --help");
    EXPECT_EQ(help.Code, 0);
    EXPECT_NE(help.Out.find("C420jpeg"), std::string::npos);
}

}  // namespace
