// Window tests run in a child of the test program, on a video driver or a
// virtual X server of their own. The parent's display (if any) is never
// touched, and the X client libraries (D-Bus, the GL driver and its threads)
// stay out of the parent's leak check: they keep allocations until the
// process ends, and the leak checker's thread stop has crashed on the
// driver's threads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "ProgramRunner.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"

namespace ql::test {

constexpr const char* kWindowChildVariable = "ORB_WINDOW_CHILD";

// True inside the child; a window test skips itself everywhere else.
inline bool InWindowChild() {
    return std::getenv(kWindowChildVariable) != nullptr;
}

// Where the child leaves a file for each test it finished, named after the
// test and holding "passed", "skipped" or "failed": the parent learns what
// ran from the tests themselves, not from the child's printout.
constexpr const char* kWindowChildRecordVariable = "ORB_WINDOW_CHILD_RECORD";
constexpr const char* kWindowChildRecordPrefix = "result.";

class TWindowChildRecorder : public ::testing::EmptyTestEventListener {
public:
    explicit TWindowChildRecorder(std::string folder) : m_folder(std::move(folder)) {}
    void OnTestEnd(const ::testing::TestInfo& info) override {
        const ::testing::TestResult& result = *info.result();
        std::ofstream(m_folder + "/" + kWindowChildRecordPrefix + info.test_suite_name() + "." +
                      info.name())
            << (result.Skipped()  ? "skipped"
                : result.Passed() ? "passed"
                                  : "failed");
    }

private:
    std::string m_folder;
};

// Installed before the tests start, in the child only; the listener list
// owns the recorder.
inline bool InstallWindowChildRecorder() {
    const char* folder = std::getenv(kWindowChildRecordVariable);
    if (!folder || !*folder) return false;
    ::testing::UnitTest::GetInstance()->listeners().Append(new TWindowChildRecorder(folder));
    return true;
}
inline const bool kWindowChildRecorderInstalled = InstallWindowChildRecorder();

struct TChildRun : TProgramRun {
    // Full test name -> "passed", "skipped" or "failed", for each test the
    // child finished.
    std::map<std::string, std::string> Results;

    size_t Count(const std::string& result) const {
        size_t count = 0;
        for (const auto& [name, value] : Results) count += value == result ? 1 : 0;
        return count;
    }
};

// Runs this test program again with only the tests of `filter`, behind
// `launcher`: words for `env` (variables to set or unset, then perhaps a
// program that starts the child, ending in "env" again).
inline TChildRun RunChildTests(const std::string& filter, const std::string& launcher) {
    TTestFolder folder;
    const std::string self = ToUtf8(TFileAPI::ProgramFileName());
    TChildRun run;
    static_cast<TProgramRun&>(run) =
        RunProgram(folder.Path(), "env",
                   launcher + " " + kWindowChildVariable + "=1 " + kWindowChildRecordVariable +
                       "=" + ShellQuote(folder.Path()) + " " + ShellQuote(self) +
                       " --gtest_filter=" + ShellQuote(filter));
    const std::string prefix = kWindowChildRecordPrefix;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            run.Results[name.substr(prefix.size())] = ReadTextFile(entry.path().string());
    }
    return run;
}

// The same under xvfb-run. Leaks of our own in the code under test are caught
// by the headless tests; this child checks memory errors only.
inline TChildRun RunWindowChild(const std::string& filter) {
    return RunChildTests(
        filter, "-u SDL_VIDEODRIVER ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 xvfb-run -a env");
}

}  // namespace ql::test
