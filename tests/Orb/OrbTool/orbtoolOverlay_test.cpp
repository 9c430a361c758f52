#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "OrbLib2/NavPanel/NavPanelFixtures.h"
#include "OrbToolTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlImageLoader.h"

namespace orb {
namespace {

using ql::test::ShellQuote;

// A show whose panel stands at the bottom with pause, help and exit, packed
// with the bar's files. Its help dialog is red, its custom dialog "About" blue
// with a white box in the middle.
std::string PackShow(const ql::test::TTestFolder& folder) {
    test::WriteBarFixtures(folder);
    test::WriteText(
        folder.File("project.orb"),
        "[Main]\nopt_fcp=1\nopt_nav_inifile=nav\\bar.ini\nopt_nav_showbg=1\nopt_cp=Bottom\n"
        "opt_newnavbuttons_count=3\nopt_newnavbutton1=pause\nopt_newnavbutton2=help\n"
        "opt_newnavbutton3=exit\nopt_scr_width=800\nopt_scr_height=600\nopt_slidescount=1\n"
        "opt_synchpos1=5000\nopt_customdialogscount=1\ncustom_dialog1=About\n[slide1]\n"
        "[dialog_help]\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=255\n"
        "[dialog_1_]\nDialogPause=1\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=16711680\n"
        "object Box : box\n  FitMode=None\n  Size=100,50\n  Color1=255,255,255\n  "
        "Action=closedialog\nend\n");
    const std::string show = folder.File("show.exe");
    std::string command = "pack -o " + ShellQuote(show) + " --player /dev/null " +
                          ShellQuote(folder.File("project.orb"));
    for (const char* name : {"bar.ini", "cell.png", "btnbg.png", "icon.png", "play.png"})
        command += " " + ShellQuote(std::string("nav\\") + name + "=" +
                                    folder.File(std::string("bar/") + name));
    auto pack = test::Tool(folder, command);
    EXPECT_EQ(pack.Code, 0) << pack.Err;
    return show;
}

TEST(OrbToolOverlay, Script_StepsThePanelAndDialogsOnAVirtualClock) {
    ql::test::TTestFolder folder;
    const std::string show = PackShow(folder);
    test::WriteText(
        folder.File("script.txt"),
        "0 state\n10 frame a.png\n20 frame b.png\n30 state\n"
        "40 move 330 570\n50 frame c.png\n60 state\n"
        "70 press 380 570\n80 release 380 570\n90 state\n300 state\n"
        "310 press 380 570\n320 release 380 570\n420 state\n600 state\n"
        "610 press 100 100\n620 state\n630 press 440 570\n640 release 440 570\n650 state\n");
    auto run = test::Tool(folder, "overlay " + ShellQuote(show) + " --size 800x600 --script " +
                                      ShellQuote(folder.File("script.txt")) + " -o " +
                                      ShellQuote(folder.Path()));
    ASSERT_EQ(run.Code, 0) << run.Err;
    const std::string rects = "\"panel\":[294,540,506,600],\"clickable\":[294,540,506,600],";
    auto line = [&](int t, const std::string& opacity, const std::string& dialogs, int code,
                    bool handled, int cursor, int uploads) {
        return "{\"t\":" + std::to_string(t) + "," + rects + "\"opacity\":" + opacity +
               ",\"hidden\":false,\"dialogs\":[" + dialogs +
               "],\"action\":{\"code\":" + std::to_string(code) +
               ",\"param\":0,\"text\":\"\"},\"handled\":" + (handled ? "true" : "false") +
               ",\"cursor\":" + std::to_string(cursor) + ",\"uploads\":" + std::to_string(uploads) +
               "}\n";
    };
    const std::string want =
        line(0, "100", "", 0, false, 1, 0) +
        // The second frame with nothing changed uploads nothing.
        line(30, "100", "", 0, false, 1, 1) +
        // Hovering the pause button redraws the bar: one more upload.
        line(60, "100", "", 20, true, 2, 2) +
        // The help button opens the help dialog, which fades in over 200 ms.
        line(90, "100", "{\"name\":\"help\",\"opacity\":0}", 4, true, 2, 2) +
        line(300, "100", "{\"name\":\"help\",\"opacity\":100}", 4, true, 2, 2) +
        // The same dialog again closes it.
        line(420, "100", "{\"name\":\"help\",\"opacity\":55}", 4, true, 2, 2) +
        line(600, "100", "", 4, true, 2, 2) + line(620, "100", "", 0, false, 1, 2) +
        line(650, "100", "", 1, true, 2, 2);
    EXPECT_EQ(run.Out, want);
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        ql::TLoadResult png = ql::LoadImageFromFile(folder.WideFile(name));
        ASSERT_TRUE(png.Image) << name;
        const ql::TBitmap* frame = png.Image.Store()->GetBitmap(0, ql::PfARGB32());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(test::PixelAt(*frame, 10, 10) & 0xFFFFFF, 0x404040u);
        // The pause button's background: normal, then hovered.
        const uint32_t button = test::PixelAt(*frame, 326, 580);
        const uint32_t want = std::string(name) == "c.png" ? test::kBtnHover : test::kBtnNormal;
        for (int shift = 0; shift <= 16; shift += 8)
            EXPECT_NEAR(int32_t((button >> shift) & 255), int32_t((want >> shift) & 255), 2)
                << name;
    }
    EXPECT_EQ(test::Tool(folder, "overlay " + ShellQuote(show) + " --script /nonexistent").Code, 2);
}

TEST(OrbToolOverlay, Open_BuildsTheShowsOwnDialogsWhoseButtonsWork) {
    ql::test::TTestFolder folder;
    const std::string show = PackShow(folder);
    test::WriteText(folder.File("script.txt"),
                    "0 open About\n300 state\n300 frame about.png\n310 open Nowhere\n"
                    "320 move 400 300\n330 press 400 300\n340 release 400 300\n350 state\n"
                    "600 state\n600 frame after.png\n");
    auto run = test::Tool(folder, "overlay " + ShellQuote(show) + " --size 800x600 --script " +
                                      ShellQuote(folder.File("script.txt")) + " -o " +
                                      ShellQuote(folder.Path()));
    ASSERT_EQ(run.Code, 0) << run.Err;
    // An unknown name opens nothing and says so.
    EXPECT_NE(run.Err.find("no dialog Nowhere"), std::string::npos) << run.Err;
    std::vector<std::string> lines;
    std::istringstream out(run.Out);
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << run.Out;
    EXPECT_NE(lines[0].find("\"dialogs\":[{\"name\":\"About\",\"opacity\":100}]"),
              std::string::npos)
        << lines[0];
    // The box's "closedialog" (16) closes it, with its animation.
    EXPECT_NE(lines[1].find("\"action\":{\"code\":16,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"handled\":true"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"name\":\"About\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"dialogs\":[]"), std::string::npos) << lines[2];
    auto pixel = [&](const char* name, int32_t x, int32_t y) {
        ql::TLoadResult png = ql::LoadImageFromFile(folder.WideFile(name));
        const ql::TBitmap* frame =
            png.Image ? png.Image.Store()->GetBitmap(0, ql::PfARGB32()) : nullptr;
        return frame ? test::PixelAt(*frame, x, y) & 0xFFFFFF : 0x1000000u;
    };
    // The dialog covers the frame in its colour, its box in the middle;
    // closed, the gray shows again.
    EXPECT_EQ(pixel("about.png", 10, 10), 0x0000FFu);
    EXPECT_EQ(pixel("about.png", 400, 300), 0xFFFFFFu);
    EXPECT_EQ(pixel("after.png", 10, 10), 0x404040u);
    EXPECT_EQ(test::Tool(folder, "overlay --help").Code, 0);
}

// PSNR of two 32-bit pictures of one size, over the colour bytes.
double Psnr(const ql::TBitmap& a, const ql::TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 0;
    double sum = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x) {
            const uint32_t p = test::PixelAt(a, x, y), q = test::PixelAt(b, x, y);
            for (int shift = 0; shift <= 16; shift += 8) {
                const double d = double((p >> shift) & 255) - double((q >> shift) & 255);
                sum += d * d;
            }
        }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / (sum / (3.0 * a.Width() * a.Height())));
}

TEST(OrbToolOverlay, GlDevice_MatchesTheSoftwareDevice) {
    ql::test::TTestFolder folder;
    const std::string show = PackShow(folder);
    // The custom dialog with its box under the panel, the pause button hovered.
    test::WriteText(folder.File("script.txt"),
                    "0 open About\n40 move 330 570\n250 frame frame.png\n");
    std::unique_ptr<ql::TBitmap> frames[2];
    const char* devices[2] = {"soft", "gl"};
    for (int k = 0; k < 2; ++k) {
        const std::string dir = folder.File(devices[k]);
        std::filesystem::create_directories(dir);
        auto run = test::Tool(folder, "overlay " + ShellQuote(show) + " --size 800x600 --device " +
                                          devices[k] + " --script " +
                                          ShellQuote(folder.File("script.txt")) + " -o " +
                                          ShellQuote(dir));
        if (k == 1 && run.Code != 0 && run.Err.find("not available") != std::string::npos)
            GTEST_SKIP() << "no OpenGL here: " << run.Err;
        ASSERT_EQ(run.Code, 0) << run.Err;
        ql::TLoadResult png = ql::LoadImageFromFile(ql::FromUtf8(dir + "/frame.png"));
        ASSERT_TRUE(png.Image);
        frames[k] = png.Image.Store()->GetBitmap(0, ql::PfARGB32())->Clone();
    }
    const double psnr = Psnr(*frames[0], *frames[1]);
    std::printf("[ PSNR     ] overlay gl against soft: %.2f dB\n", psnr);
    EXPECT_GT(psnr, 35);
}

}  // namespace
}  // namespace orb
