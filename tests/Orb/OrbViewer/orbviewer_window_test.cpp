// The player in a real window: on a virtual X display the demo show appears,
// draws, and Escape ends the program with exit code 0.
#include <gtest/gtest.h>

#include "ProgramRunner.h"
#include "QlLib/Platform/qlProcess.h"

namespace orb {
namespace {

using ql::test::ShellQuote;

TEST(OrbViewerWindow, DemoShowPlaysOnAVirtualXServerAndEscapeQuits) {
#if !defined(ORB_XPROBE_PATH) || !defined(ORBVIEWER_PATH)
    GTEST_SKIP() << "built without the X test libraries";
#else
    if (ql::FindExecutable(u"xvfb-run").empty()) GTEST_SKIP() << "xvfb-run is not installed; no X server to test on";
    ql::test::TTestFolder folder;
    // The player runs beside the probe, which waits for its first frame,
    // reports it and presses Escape; the player must then end by itself.
    const std::string script = "timeout 100 " + ShellQuote(ORBVIEWER_PATH) + " " + ShellQuote(ORB_DEMO_SHOW_PATH) +
                               " & viewer=$!; " + ShellQuote(ORB_XPROBE_PATH) +
                               " --wait-ms 80000; probe=$?; wait $viewer; echo \"viewer=$? probe=$probe\"";
    // X client libraries keep allocations to the end of the process; the
    // headless tests look for leaks of our own.
    const ql::test::TProgramRun run = ql::test::RunProgram(
        folder, "env",
        "-u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 xvfb-run -a -s " +
            ShellQuote("-screen 0 1280x720x24") + " sh -c " + ShellQuote(script));
    EXPECT_NE(run.Out.find("shown=1"), std::string::npos) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("viewer=0 probe=0"), std::string::npos) << run.Out << run.Err;
#endif
}

}  // namespace
}  // namespace orb
