// The player program as a whole: which show it opens, its log and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>

#include "ProgramRunner.h"

namespace orb {
namespace {

using ql::test::ReadTextFile;
using ql::test::RunProgram;
using ql::test::ShellQuote;
using ql::test::TTestFolder;

const std::string kProject = "[Main]\r\nOrbVersion=5.1\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n";

class OrbViewerProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(folder.File("Project.orb"), std::ios::binary) << kProject;
        // A show published for Linux: the player with the package behind it.
        const auto pack = RunProgram(folder, ORBTOOL_PATH,
                                     "pack -o " + ShellQuote(show()) + " " +
                                         ShellQuote(folder.File("Project.orb")));
        ASSERT_EQ(pack.Code, 0) << pack.Err;
    }
    std::string show() const { return folder.File("show"); }
    std::string logOf(const std::string& program) const {
        return ReadTextFile(std::filesystem::path(program).replace_extension(".log").string());
    }

    TTestFolder folder;
};

TEST_F(OrbViewerProgram, PublishedShow_OpensItsOwnPackage) {
    const auto run = RunProgram(folder, show(), "-filelog");
    EXPECT_EQ(run.Code, 0) << run.Err;
    const std::string log = logOf(show());
    EXPECT_EQ(log.substr(0, 5), "\xEF\xBB\xBF\r\n");  // the mark, then the banner's empty line
    EXPECT_NE(log.find("Program : " + show() + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("Open show: " + show() + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("OrbVersion \"5.1\""), std::string::npos);
    EXPECT_NE(log.find("Program stoped : "), std::string::npos);
}

TEST_F(OrbViewerProgram, ShowFile_ChosenFromTheSwitchesOrABareArgument) {
    // -exename: another player file.
    auto run = RunProgram(folder, ORBVIEWER_PATH, "-log -exename " + ShellQuote(show()));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Err.find("Open show: " + show()), std::string::npos);
    // -filename: a project document on disk.
    run = RunProgram(folder, ORBVIEWER_PATH, "-log -FileName " + ShellQuote(folder.File("Project.orb")));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Err.find("Show opened: project \"" + folder.File("Project.orb")), std::string::npos);
    // A bare argument is either, by whether it holds a package.
    EXPECT_EQ(RunProgram(folder, ORBVIEWER_PATH, ShellQuote(show())).Code, 0);
    EXPECT_EQ(RunProgram(folder, ORBVIEWER_PATH, ShellQuote(folder.File("Project.orb"))).Code, 0);
}

TEST_F(OrbViewerProgram, FailedOpen_PrintsTheErrorAndExitsWith2) {
    auto run = RunProgram(folder, ORBVIEWER_PATH, ShellQuote(folder.File("missing.exe")));
    EXPECT_EQ(run.Code, 2);
    // Both names tried are in the message.
    EXPECT_EQ(run.Err, "Slideshow File not Found \"" + folder.File("missing.exe") + "\" or \"" +
                           folder.File("missing.Kelvo") + "\"\n");
    EXPECT_TRUE(run.Out.empty());

    std::ofstream(folder.File("plain.exe"), std::ios::binary) << std::string(100, 'x') << ".dne";
    run = RunProgram(folder, ORBVIEWER_PATH, "-exename " + ShellQuote(folder.File("plain.exe")));
    EXPECT_EQ(run.Code, 2);
    EXPECT_EQ(run.Err.rfind("Slide-show File Damaged \"", 0), 0u) << run.Err;

    run = RunProgram(folder, ORBVIEWER_PATH, "-filename " + ShellQuote(folder.File("none.orb")));
    EXPECT_EQ(run.Code, 2);
    EXPECT_NE(run.Err.find("Can`t Load .orb File"), std::string::npos);
    EXPECT_EQ(run.Err.find('\r'), std::string::npos);

    // The player program alone holds no package.
    run = RunProgram(folder, ORBVIEWER_PATH, "");
    EXPECT_EQ(run.Code, 2);
    EXPECT_FALSE(run.Err.empty());
}

}  // namespace
}  // namespace orb
