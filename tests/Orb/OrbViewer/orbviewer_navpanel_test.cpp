// The navigation panel in the player program, run on the headless host: the
// engine hands every mouse event to the overlay first, so a click on a panel
// button carries out its action and a click on the panel's background goes
// nowhere.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "OrbLib2/NavPanel/NavPanelFixtures.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlImageLoader.h"

namespace orb {
namespace {

using ql::test::ReadTextFile;
using ql::test::RunProgram;
using ql::test::ShellQuote;

TEST(OrbViewerNavPanel, PanelButtons_PauseResumeAndExitTheShow) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    // A 160 x 120 window; the panel is 30 pixels high at the bottom, the
    // bar's own size: 106 x 30 from (27, 90).
    test::WriteText(
        folder.File("Project.orb"),
        "[Main]\r\nOrbVersion=5.1\r\nopt_exefn=show\r\nopt_scr_full=0\r\nopt_scr_width=160\r\n"
        "opt_scr_height=120\r\nopt_fx_enable=0\r\nopt_repeat=stop\r\nopt_slidescount=1\r\n"
        "opt_synchpos1=60000\r\nopt_fcp=1\r\nopt_nav_inifile=nav\\bar.ini\r\nopt_nav_showbg=1\r\n"
        "opt_cp=Bottom\r\nopt_nav_viewscale=25\r\nopt_newnavbuttons_count=3\r\n"
        "opt_newnavbutton1=pause\r\nopt_newnavbutton2=help\r\nopt_newnavbutton3=exit\r\n"
        "[slide1]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=255\r\n");
    const std::string show = folder.File("show");
    std::string pack = "pack -o " + ShellQuote(show) + " " + ShellQuote(folder.File("Project.orb"));
    for (const char* name : {"bar.ini", "cell.png", "btnbg.png", "icon.png", "play.png"})
        pack += " " + ShellQuote(std::string("nav\\") + name + "=" +
                                 folder.File(std::string("bar/") + name));
    ASSERT_EQ(RunProgram(folder, ORBTOOL_PATH, pack).Code, 0);

    test::WriteText(
        folder.File("script.txt"),
        "wait 1200\ncapture " + folder.File("frame.png") +
            "\nmouse move 30 100\nmouse click 30 100\nwait 100\nmouse click 50 105\nwait 300\n"
            "mouse click 50 105\nwait 300\nmouse click 100 105\nwait 20000\n");
    const std::string record = folder.File("record.jsonl");
    const auto run =
        RunProgram(folder, "env",
                   "HOME=" + ShellQuote(folder.Path()) + " " + ShellQuote(ORBVIEWER_PATH) +
                       " -exename " + ShellQuote(show) + " -headless " +
                       ShellQuote(folder.File("script.txt")) + " -record " + ShellQuote(record));
    std::vector<std::string> pauses, exits, cursors;
    std::istringstream lines(ReadTextFile(record));
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"kind\":\"pause\"") != std::string::npos) pauses.push_back(line);
        if (line.find("\"kind\":\"exit\"") != std::string::npos) exits.push_back(line);
        if (line.find("\"kind\":\"cursor\"") != std::string::npos) cursors.push_back(line);
    }
    // Over the panel the pointer is a hand.
    ASSERT_FALSE(cursors.empty()) << ReadTextFile(record);
    EXPECT_NE(cursors[0].find("\"shape\":\"hand\""), std::string::npos) << cursors[0];
    EXPECT_EQ(run.Code, 0) << run.Err;
    // The background click before them went nowhere.
    ASSERT_EQ(pauses.size(), 2u) << ReadTextFile(record);
    EXPECT_NE(pauses[0].find("\"paused\":true"), std::string::npos);
    EXPECT_NE(pauses[1].find("\"paused\":false"), std::string::npos);
    // The panel is drawn over the slide: its background cell and the pause
    // button's normal look.
    ql::TLoadResult png = ql::LoadImageFromFile(folder.WideFile("frame.png"));
    ASSERT_TRUE(png.Image);
    const ql::TBitmap* frame = png.Image.Store()->GetBitmap(0, ql::PfARGB32());
    ASSERT_NE(frame, nullptr);
    for (auto [x, y, want] :
         {std::tuple{28, 92, test::kCellBg}, std::tuple{42, 94, test::kBtnNormal}})
        for (int shift = 0; shift <= 16; shift += 8)
            EXPECT_NEAR(int32_t((test::PixelAt(*frame, x, y) >> shift) & 255),
                        int32_t((want >> shift) & 255), 2)
                << x << "," << y;
    // The exit button ends the show long before the script would.
    ASSERT_EQ(exits.size(), 1u);
    const int64_t t = std::stoll(exits[0].substr(exits[0].find("\"t\":") + 4));
    EXPECT_LT(t, 5000) << exits[0];
}

}  // namespace
}  // namespace orb
