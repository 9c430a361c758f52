#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"

namespace orb {
namespace {

using test::TTestFolder;
using test::WriteBytes;

struct TRun {
    int Code;
    std::string Out;
    std::string Err;
};

TRun RunTool(const TTestFolder& folder, const std::string& args) {
    const std::string out = ql::ToUtf8(folder.File("stdout.txt"));
    const std::string err = ql::ToUtf8(folder.File("stderr.txt"));
    const std::string command =
        std::string(ORBTOOL_PATH) + " " + args + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    return {WEXITSTATUS(status), test::ReadBytes(folder.File("stdout.txt")),
            test::ReadBytes(folder.File("stderr.txt"))};
}

std::string Q(const std::u16string& path) {
    return "'" + ql::ToUtf8(path) + "'";
}

// Every transition is the slide's own, so the rows are the same for any seed.
const char kProject[] =
    "[Main]\r\nopt_slidescount=3\r\nopt_synchpos1=2500\r\nopt_synchpos2=2500\r\n"
    "opt_synchpos3=6000\r\nopt_repeat=close\r\nopt_fx_enable=1\r\nopt_fx_time=1000\r\n"
    "opt_fx_eff4=1\r\n"
    "[slide1]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=3\r\nEffect_Type=A\r\n"
    "EffectTime=333\r\nslideid=Start\r\n"
    "[slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=4\r\nEffect_Type=2\r\n"
    "EffectTime=250\r\npicture=/pics/zero.jpg\r\n"
    "[slide3]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=0\r\n";

const char kTimeline[] =
    "index\tBeginTime\tEndTime\tEffectTime\tNextEffectTime\tNextEffectEnd\tclass\ttype\tSlideId\n"
    "0\t0\t2500\t333\t250\t2750\t3\t9\tStart\n"
    "1\t2500\t2500\t0\t0\t2500\t4\t2\tzero\n"
    "2\t2500\t6000\t0\t0\t6000\t0\t0\t\n"
    "total\t6000\tclose\n";

TEST(OrbToolTimeline, ProjectAndPackage_PrintTheSameRows) {
    TTestFolder folder;
    WriteBytes(folder.File("project.orb"), kProject);
    const std::u16string show = folder.File("show.exe");
    ASSERT_EQ(RunTool(folder,
                      "pack --player /dev/null -o " + Q(show) + " " + Q(folder.File("project.orb")))
                  .Code,
              0);
    for (const std::u16string& target : {folder.File("project.orb"), show}) {
        const TRun run = RunTool(folder, "timeline " + Q(target) + " --seed 5");
        EXPECT_EQ(run.Code, 0) << run.Err;
        EXPECT_EQ(run.Out, kTimeline);
        EXPECT_EQ(RunTool(folder, "at " + Q(target) + " 2500").Out, "0\t0\n");
        EXPECT_EQ(RunTool(folder, "at " + Q(target) + " 2500.5").Out, "2\t0\n");
        EXPECT_EQ(RunTool(folder, "at " + Q(target) + " 0").Out, "-1\t-1\n");
        EXPECT_EQ(RunTool(folder, "at " + Q(target) + " 12000.5 --seed 1").Out, "6\t2\n");
        EXPECT_EQ(RunTool(folder, "at " + Q(target) + " nan").Out, "-1\t-1\n");
    }
}

TEST(OrbToolTimeline, DemoProject_RepeatsWithASeed) {
    TTestFolder folder;
    const std::string demo = std::string(ORB_SOURCE_DIR) + "/examples/demo/Project.orb";
    const TRun first = RunTool(folder, "timeline '" + demo + "' --seed 11");
    ASSERT_EQ(first.Code, 0) << first.Err;
    EXPECT_EQ(RunTool(folder, "timeline '" + demo + "' --seed 11").Out, first.Out);
    // Slide 1 chooses its own transition; its times are fixed.
    EXPECT_NE(first.Out.find("\n0\t0\t6000\t1500\t"), std::string::npos) << first.Out;
    EXPECT_NE(first.Out.find("\ntotal\t66000\trepeat\n"), std::string::npos);
    EXPECT_EQ(RunTool(folder, "at '" + demo + "' 70000").Out, "11\t1\n");
}

TEST(OrbToolTimeline, Errors_OneLineAndExitCode2) {
    TTestFolder folder;
    WriteBytes(folder.File("empty.orb"), "[Main]\r\nOrbVersion=1\r\n");
    WriteBytes(folder.File("back.orb"),
               "[Main]\r\nopt_slidescount=2\r\nopt_synchpos1=9\r\nopt_synchpos2=3\r\n");
    const TRun empty = RunTool(folder, "timeline " + Q(folder.File("empty.orb")));
    EXPECT_EQ(empty.Code, 2);
    EXPECT_EQ(empty.Err, ql::ToUtf8(folder.File("empty.orb")) + ": The show has no slides\n");
    const TRun back = RunTool(folder, "at " + Q(folder.File("back.orb")) + " 5");
    EXPECT_EQ(back.Code, 2);
    EXPECT_EQ(back.Err, ql::ToUtf8(folder.File("back.orb")) + ": Incorrect time\n");
    EXPECT_EQ(RunTool(folder, "at " + Q(folder.File("back.orb")) + " soon").Code, 2);
    EXPECT_EQ(RunTool(folder, "timeline " + Q(folder.File("empty.orb")) + " --seed x").Code, 2);
    EXPECT_EQ(RunTool(folder, "timeline " + Q(folder.File("none.orb"))).Err,
              ql::ToUtf8(folder.File("none.orb")) + ": Slideshow File not Found\n");
    EXPECT_EQ(RunTool(folder, "timeline --help").Code, 0);
}

}  // namespace
}  // namespace orb
