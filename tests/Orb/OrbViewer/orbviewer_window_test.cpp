// The player on its devices: in a real window on a virtual X display the
// demo show appears and draws on the device asked for, and Escape ends the
// program with exit code 0; headless, a frame drawn with OpenGL matches the
// software device's frame of the same show time.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "GlTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngDecoder.h"
#include "QlLib/Platform/qlProcess.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using ql::test::ShellQuote;

struct TDeviceCase {
    const char* Switch;  // the -device value
    bool DrawsWithGl;    // on Mesa under Xvfb a GL context is always there
};

class OrbViewerWindow : public ::testing::TestWithParam<TDeviceCase> {};

TEST_P(OrbViewerWindow, DemoShowPlaysOnAVirtualXServerAndEscapeQuits) {
#if !defined(ORB_XPROBE_PATH) || !defined(ORBVIEWER_PATH)
    GTEST_SKIP() << "built without the X test libraries";
#else
    if (ql::FindExecutable(u"xvfb-run").empty())
        GTEST_SKIP() << "xvfb-run is not installed; no X server to test on";
    const TDeviceCase& c = GetParam();
    ql::test::TTestFolder folder;
    // The player runs beside the probe, which waits for its first frame,
    // reports it and presses Escape; the player must then end by itself.
    const std::string log = folder.File("viewer.log");
    const std::string script =
        "timeout 100 " + ShellQuote(ORBVIEWER_PATH) + " " + ShellQuote(ORB_DEMO_SHOW_PATH) +
        " -device " + c.Switch + " -log >" + ShellQuote(log) + " 2>&1 & viewer=$!; " +
        ShellQuote(ORB_XPROBE_PATH) +
        " --wait-ms 80000; probe=$?; wait $viewer; echo \"viewer=$? probe=$probe\"";
    // X client libraries keep allocations to the end of the process; the
    // headless tests look for leaks of our own.
    const ql::test::TProgramRun run = ql::test::RunProgram(
        folder, "env",
        "-u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 "
        "xvfb-run -a -s " +
            ShellQuote("-screen 0 1280x720x24") + " sh -c " + ShellQuote(script));
    const std::string viewerLog = ql::test::ReadTextFile(log);
    EXPECT_NE(run.Out.find("shown=1"), std::string::npos) << run.Out << run.Err << viewerLog;
    EXPECT_NE(run.Out.find("viewer=0 probe=0"), std::string::npos)
        << run.Out << run.Err << viewerLog;
    EXPECT_EQ(viewerLog.find("Drawing with OpenGL") != std::string::npos, c.DrawsWithGl)
        << viewerLog;
    EXPECT_EQ(viewerLog.find("Dx Error"), std::string::npos) << viewerLog;
#endif
}

INSTANTIATE_TEST_SUITE_P(Devices, OrbViewerWindow,
                         ::testing::Values(TDeviceCase{"gl", true}, TDeviceCase{"soft", false},
                                           TDeviceCase{"auto", true}),
                         [](const auto& info) { return std::string(info.param.Switch); });

// The pixels (B, G, R, A) of a PNG file; empty when it cannot be read.
std::vector<uint8_t> PngPixels(const std::string& fileName) {
    std::vector<uint8_t> pixels;
    try {
        ql::TFileStream stream(ql::FromUtf8(fileName), ql::TFileAccess::Read, ql::kShareRead,
                               ql::TFileDisposition::OpenExisting);
        auto store = ql::DecodePng(stream, u"frame.png", nullptr, nullptr);
        const ql::TBitmap* level = store ? store->GetBitmap(0, ql::PfARGB32()) : nullptr;
        if (!level) return pixels;
        for (int32_t y = 0; y < level->Height(); ++y)
            pixels.insert(pixels.end(), level->Row(y), level->Row(y) + size_t(level->Width()) * 4);
    } catch (const std::exception&) {
        pixels.clear();
    }
    return pixels;
}

TEST(OrbViewerDevices, HeadlessGlFrameMatchesTheSoftwareFrame) {
#ifndef ORBVIEWER_PATH
    GTEST_SKIP() << "built without the player";
#else
    std::string noGl;
    if (!test::HeadlessGlDevice(8, 8, noGl))
        GTEST_SKIP() << "no OpenGL 3.3 core context here: " << noGl;
    ql::test::TTestFolder folder;
    // A turned box with smooth edges spinning on the second slide.
    std::ofstream(folder.File("Project.orb"))
        << "[Main]\r\nOrbVersion=5.1\r\nopt_exefn=show\r\nopt_scr_full=0\r\nopt_scr_width=160\r\n"
           "opt_scr_height=120\r\nopt_fx_enable=1\r\nopt_fx_time=1000\r\nopt_repeat=stop\r\n"
           "opt_slidescount=2\r\nopt_synchpos1=2000\r\nopt_synchpos2=4000\r\n"
           "[slide1]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=255\r\n"
           "[slide2]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=16711680\r\n"
           "object B : box\r\n  Size=60,40\r\n  Color1=255,255,0\r\n  Antialiased=1\r\n"
           "  object kp1 : KeyPoint\r\n    Time=0\r\n    Angle=0\r\n  end\r\n"
           "  object kp2 : KeyPoint\r\n    Time=2000\r\n    Angle=90\r\n  end\r\nend\r\n";
    std::ofstream(folder.File("script.txt"))
        << "wait 2500\ncapture \"" << folder.File("frame.png") << "\"\n";
    std::vector<uint8_t> frames[2];
    const char* devices[2] = {"soft", "gl"};
    for (int i = 0; i < 2; ++i) {
        const ql::test::TProgramRun run = ql::test::RunProgram(
            folder, ORBVIEWER_PATH,
            "-filename " + ShellQuote(folder.File("Project.orb")) + " -device " + devices[i] +
                " -headless " + ShellQuote(folder.File("script.txt")) + " -record " +
                ShellQuote(folder.File("record.txt")));
        EXPECT_EQ(run.Code, 0) << devices[i] << run.Err;
        frames[i] = PngPixels(folder.File("frame.png"));
        ASSERT_FALSE(frames[i].empty())
            << devices[i] << ql::test::ReadTextFile(folder.File("record.txt"));
    }
    ASSERT_EQ(frames[0].size(), frames[1].size());
    const double psnr = ql::test::Psnr(frames[0], frames[1]);
    std::printf("[ PSNR     ] player frame, GL against software: %.2f dB\n", psnr);
    EXPECT_GT(psnr, 35.0);
#endif
}

}  // namespace
}  // namespace orb
