// Window tests run in a child of the test program on a virtual X server of
// their own. The parent's display (if any) is never touched, and the X client
// libraries (D-Bus, the GL driver and its threads) stay out of the parent's
// leak check: they keep allocations until the process ends, and the leak
// checker's thread stop has crashed on the driver's threads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ProgramRunner.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"

namespace ql::test {

constexpr const char* kWindowChildVariable = "ORB_WINDOW_CHILD";

// True inside the child; a window test skips itself everywhere else.
inline bool InWindowChild() { return std::getenv(kWindowChildVariable) != nullptr; }

// Runs this test program again under xvfb-run with only the tests of `filter`.
// Leaks of our own in the code under test are caught by the headless tests;
// the child checks memory errors only.
inline TProgramRun RunWindowChild(const std::string& filter, const std::string& extraEnvironment = "") {
    TTestFolder folder;
    const std::string self = ToUtf8(TFileAPI::ProgramFileName());
    return RunProgram(folder.Path(), "env",
                      "-u SDL_VIDEODRIVER ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 " + extraEnvironment +
                          " xvfb-run -a env " + kWindowChildVariable + "=1 " + ShellQuote(self) +
                          " --gtest_filter=" + ShellQuote(filter));
}

}  // namespace ql::test
