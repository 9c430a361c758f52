// orbtool render to MP4: the written file decoded back against the y4m of the
// same span, byte-identical runs, and every refusal leaving no file behind.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Music/AudioFixtures.h"
#include "QlLib/Platform/Mp4TestSupport.h"

extern char** environ;

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;

// Ten seconds: a picture zooming in, a coloured slide and the picture again,
// joined by 1 s transitions, over a tone.
const char kProject[] =
    "[Main]\r\nMinorVersion=13\r\nopt_scr_width=320\r\nopt_scr_height=240\r\n"
    "opt_slidescount=3\r\nopt_synchpos1=4000\r\nopt_synchpos2=7000\r\nopt_synchpos3=10000\r\n"
    "opt_fx_enable=1\r\nopt_fx_time=1000\r\nopt_bstyle=1\r\nopt_bname=0\r\nopt_repeat=stop\r\n"
    "opt_usemusic=1\r\nopt_syncmode=1\r\nopt_repeatmusic=0\r\n"
    "opt_music_count=1\r\nopt_music1=tone.wav\r\nopt_lengthlist1=10000\r\n"
    "[slide1]\r\n"
    "object Pic: image\r\n  ImageName=pic.png\r\n"
    "  object kp1: KeyPoint\r\n    Time=0\r\n    ScaleX=100\r\n    ScaleY=100\r\n  end\r\n"
    "  object kp2: KeyPoint\r\n    Time=4000\r\n    ScaleX=125\r\n    ScaleY=125\r\n  end\r\n"
    "end\r\n"
    "[slide2]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=3381708\r\n"
    "[slide3]\r\n"
    "object Pic: image\r\n  ImageName=pic.png\r\nend\r\n";

// A picture with smooth shading and some detail.
std::string Picture() {
    ql::TDirectBitmap bitmap(480, 360, ql::PfARGB32());
    for (int32_t y = 0; y < 360; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bitmap.Row(y));
        for (int32_t x = 0; x < 480; ++x) {
            const uint32_t r = uint32_t(x * 255 / 480);
            const uint32_t g = uint32_t(127 + 100 * std::sin(x * 0.05) * std::cos(y * 0.04));
            const uint32_t b = uint32_t(y * 255 / 360);
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    const std::vector<uint8_t> png = ql::EncodePng(bitmap);
    return std::string(png.begin(), png.end());
}

class OrbtoolRenderMp4 : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tone = orbtest::PcmWav(orbtest::Sine(44100, 2, 10.0, 440), 44100, 2);
        orb::test::WriteBytes(m_folder.WideFile("show.exe"),
                              orb::test::BuildPackage("player", {{u"Project.orb", kProject, 1},
                                                                 {u"pic.png", Picture(), 1},
                                                                 {u"tone.wav", tone, 1}}));
    }

    ql::test::TProgramRun Render(const std::string& options, const std::string& out) {
        return RunProgram(m_folder, ORBTOOL_PATH,
                          "render " + ShellQuote(m_folder.File("show.exe")) + " " + options +
                              " -o " + ShellQuote(m_folder.File(out)));
    }

    // Files of the folder other than the show and the runner's captures.
    std::vector<std::string> Written() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
            const std::string name = entry.path().filename().string();
            if (name != "show.exe" && name.rfind(".run-", 0) != 0) names.push_back(name);
        }
        return names;
    }

    ql::test::TTestFolder m_folder;
};

TEST_F(OrbtoolRenderMp4, DecodesBackToTheY4mFramesAndRepeatsItsBytes) {
    const std::string options = "--size 320x240 --fps 25 --crf 18";
    const auto run = Render(options, "show.mp4");
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Err, "");  // not a terminal: no progress bar, and no library chatter
    ASSERT_EQ(Render(options, "again.mp4").Code, 0);
    ASSERT_EQ(Render("--size 320x240 --fps 25", "show.y4m").Code, 0);
    const std::string mp4 = ql::test::ReadTextFile(m_folder.File("show.mp4"));
    EXPECT_TRUE(mp4 == ql::test::ReadTextFile(m_folder.File("again.mp4")));
    // The index comes before the media.
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));

    const ql::test::TMp4Info info = ql::test::ReadMp4(m_folder.File("show.mp4"), true);
    ASSERT_EQ(info.Error, "");
    EXPECT_EQ(info.Video.Codec, "h264");
    EXPECT_EQ(info.ColorSpace, AVCOL_SPC_SMPTE170M);  // below 720 lines
    ASSERT_EQ(info.DecodedFrames, 250);
    EXPECT_DOUBLE_EQ(info.Video.Start, 0.0);
    EXPECT_NEAR(info.Video.End, 10.0, 1e-6);
    ASSERT_TRUE(info.Audio.Present);
    EXPECT_EQ(info.Audio.Codec, "aac");
    EXPECT_DOUBLE_EQ(info.Audio.Start, 0.0);
    EXPECT_LE(std::abs(info.Audio.End - info.Video.End), 1024.0 / 44100);

    const std::string y4m = ql::test::ReadTextFile(m_folder.File("show.y4m"));
    const size_t header = y4m.find('\n') + 1;
    const size_t luma = 320 * 240, chroma = 160 * 120, frameBytes = 6 + luma + 2 * chroma;
    ASSERT_EQ(y4m.size(), header + 250 * frameBytes);
    double worst = 100;
    int worstFrame = -1;
    for (int k = 0; k < 250; ++k) {
        const auto* y = reinterpret_cast<const uint8_t*>(y4m.data() + header + k * frameBytes + 6);
        const uint8_t* planes[3] = {y, y + luma, y + luma + chroma};
        const int strides[3] = {320, 160, 160};
        const double psnr = ql::test::Psnr(
            ql::test::Yuv420ToRgb(planes, strides, 320, 240, true, false), info.Rgb[size_t(k)]);
        if (psnr < worst) {
            worst = psnr;
            worstFrame = k;
        }
    }
    EXPECT_GT(worst, 40.0) << "frame " << worstFrame;
}

TEST_F(OrbtoolRenderMp4, ShowWithoutMusicHasNoAudioStream) {
    std::string project = kProject;
    project.replace(project.find("opt_usemusic=1"), 14, "opt_usemusic=0");
    project.replace(project.find("opt_music_count=1"), 17, "opt_music_count=0");
    orb::test::WriteBytes(m_folder.WideFile("show.exe"),
                          orb::test::BuildPackage("player", {{u"Project.orb", project, 1},
                                                             {u"pic.png", Picture(), 1}}));
    ASSERT_EQ(Render("--size 64x48 --fps 10 --to 1000 --preset ultrafast", "silent.mp4").Code, 0);
    const ql::test::TMp4Info info = ql::test::ReadMp4(m_folder.File("silent.mp4"), false);
    ASSERT_EQ(info.Error, "");
    EXPECT_EQ(info.DecodedFrames, 10);
    EXPECT_FALSE(info.Audio.Present);
}

// Each refusal: exit 2, one line on stderr, before any frame is rendered, and
// no file of the output's name (nor a temporary one) left behind.
TEST_F(OrbtoolRenderMp4, RefusalsAreOneLineAndLeaveNoFile) {
    orb::test::WriteBytes(m_folder.WideFile("broken.orb"),
                          "[Main]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=900\n");
    const std::string show = ShellQuote(m_folder.File("show.exe"));
    struct TCase {
        std::string arguments;  // before -o
        std::string out;
        std::string says;
    };
    const TCase cases[] = {
        {show + " --size 321x240", "x.mp4", "even sides"},
        {show + " --size 320x239", "x.mp4", "even sides"},
        {show + " --size 8194x240", "x.mp4", "16 to 8192"},
        {show + " --fps 0", "x.mp4", "--fps wants 1 to 240"},
        {show + " --fps 241", "x.mp4", "--fps wants 1 to 240"},
        {show + " --from 900 --to 100", "x.mp4", "--to lies before --from"},
        {show + " --from 20000", "x.mp4", "--to lies before --from"},
        {show + " --crf 52", "x.mp4", "--crf wants 0 to 51"},
        {show + " --crf fast", "x.mp4", "--crf wants 0 to 51"},
        {show + " --preset warp", "x.mp4", "no preset 'warp'"},
        {show + " --audio-bitrate 8", "x.mp4", "--audio-bitrate wants 32 to 512"},
        {ShellQuote(m_folder.File("broken.orb")), "x.mp4", "no slide"},
        {ShellQuote(m_folder.File("missing.exe")), "x.mp4", "missing.exe"},
        {show + " --to 100", "no-such-folder/x.mp4", "cannot create"},
    };
    for (const TCase& c : cases) {
        const auto run =
            RunProgram(m_folder, ORBTOOL_PATH,
                       "render " + c.arguments + " -o " + ShellQuote(m_folder.File(c.out)));
        EXPECT_EQ(run.Code, 2) << c.arguments;
        EXPECT_NE(run.Err.find(c.says), std::string::npos) << c.arguments << ": " << run.Err;
        EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << c.arguments << ": " << run.Err;
        EXPECT_EQ(Written(), std::vector<std::string>{"broken.orb"}) << c.arguments;
    }
}

// An interrupt while the video is being written: the render stops with an
// error and the temporary file goes with it.
TEST_F(OrbtoolRenderMp4, InterruptLeavesNoFile) {
    // The show played a hundred times over: a span far past its end.
    std::vector<std::string> args = {ORBTOOL_PATH, "render",   m_folder.File("show.exe"),
                                     "--size",     "64x48",    "--to",
                                     "1000000",    "--preset", "ultrafast",
                                     "--quiet",    "-o",       m_folder.File("long.mp4")};
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, ORBTOOL_PATH, &actions, nullptr, pointers.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Wait (up to a minute) for the temporary file to appear.
    bool seen = false;
    for (int i = 0; i < 6000 && !seen; ++i) {
        for (const std::string& name : Written())
            if (name.rfind("long.mp4.partial-", 0) == 0) seen = true;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_TRUE(Written().empty());
}

}  // namespace
