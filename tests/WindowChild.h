// Window tests run in a child of the test program, on a video driver or a
// virtual X server of their own. The parent's display (if any) is never
// touched, and the X client libraries (D-Bus, the GL driver and its threads)
// stay out of the parent's leak check: they keep allocations until the
// process ends, and the leak checker's thread stop has crashed on the
// driver's threads.
#pragma once

#include <cstdlib>
#include <string>

#include "ProgramRunner.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"

namespace ql::test {

constexpr const char* kWindowChildVariable = "ORB_WINDOW_CHILD";

// True inside the child; a window test skips itself everywhere else.
inline bool InWindowChild() { return std::getenv(kWindowChildVariable) != nullptr; }

// Runs this test program again with only the tests of `filter`, behind
// `launcher`: words for `env` (variables to set or unset, then perhaps a
// program that starts the child, ending in "env" again).
inline TProgramRun RunChildTests(const std::string& filter, const std::string& launcher) {
    TTestFolder folder;
    const std::string self = ToUtf8(TFileAPI::ProgramFileName());
    return RunProgram(folder.Path(), "env",
                      launcher + " " + kWindowChildVariable + "=1 " + ShellQuote(self) +
                          " --gtest_filter=" + ShellQuote(filter));
}

// The same under xvfb-run. Leaks of our own in the code under test are caught
// by the headless tests; this child checks memory errors only.
inline TProgramRun RunWindowChild(const std::string& filter) {
    return RunChildTests(filter, "-u SDL_VIDEODRIVER ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 xvfb-run -a env");
}

}  // namespace ql::test
