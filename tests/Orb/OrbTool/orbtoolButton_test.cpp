#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "OrbToolTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlImageLoader.h"

namespace orb {
namespace {

using ql::test::ShellQuote;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Every part is a rectangle of one 12 x 10 sheet; the click state names a
// picture that is not there.
std::string Description() {
    std::string text;
    for (const char* state : {"NormalState", "HoverState", "ClickState"}) {
        const std::string file = std::string(state) == "ClickState" ? "gone.png" : "sheet.png";
        text += std::string("[") + state + "]\nLeftTop=" + file + ",0,0,4,3\nTop=" + file +
                ",4,0,7,3\n" + "RightTop=" + file + ",7,0,12,3\nRight=" + file +
                ",7,3,12,8\nRightBottom=" + file + ",7,8,12,10\nBottom=" + file +
                ",4,8,7,10\nLeftBottom=" + file + ",0,8,4,10\nLeft=" + file +
                ",0,3,4,8\nCenter=" + file + ",4,3,7,8\n";
    }
    return text;
}

TEST(OrbToolButton, FolderAndShowThemes_WriteFacesAndErrors) {
    ql::test::TTestFolder folder;
    ASSERT_TRUE(std::filesystem::create_directory(folder.File("aqua")));
    WriteFile(folder.File("aqua/btn.ini"), Description());
    WriteFile(folder.File("aqua/sheet.png"), test::SolidPng(12, 10, 0xFF3060C0));
    WriteFile(folder.File("project.orb"), "[Main]\n");
    const std::string show = folder.File("show.exe");
    auto pack = test::Tool(
        folder, "pack -o " + ShellQuote(show) + " --player /dev/null " +
                    ShellQuote(folder.File("project.orb")) + " " +
                    ShellQuote("skins\\aqua\\btn.ini=" + folder.File("aqua/btn.ini")) + " " +
                    ShellQuote("skins\\aqua\\sheet.png=" + folder.File("aqua/sheet.png")));
    ASSERT_EQ(pack.Code, 0) << pack.Err;

    const std::string theme = folder.File("aqua");
    struct TCase {
        std::string arguments, out;
    } cases[] = {
        {ShellQuote(theme) + " --width 50 --state hover",
         "50x10\tButton: " + theme + ":1:50:0:0:0\tface\n"},
        {ShellQuote(show + ":skins\\aqua") + " --width 30 --hsl -90,0,10",
         "30x10\tButton: skins\\aqua:0:30:-90:0:10\tface\n"},
        {ShellQuote(theme) + " --width 50 --state click",
         "Button: " + theme + ":2:50:0:0:0\tIncorrect Image: " + theme + "\\gone.png\n"},
    };
    for (const TCase& c : cases) {
        auto run = test::Tool(
            folder, "button " + c.arguments + " -o " + ShellQuote(folder.File("face.png")));
        ASSERT_EQ(run.Code, 0) << run.Err;
        // Error pictures have the size of their text; only the rest is fixed.
        if (c.out.rfind("Button: ", 0) == 0)
            EXPECT_EQ(run.Out.substr(run.Out.find('\t') + 1), c.out);
        else
            EXPECT_EQ(run.Out, c.out);
        ql::TLoadResult png = ql::LoadImageFromFile(folder.WideFile("face.png"));
        ASSERT_TRUE(png.Image);
        EXPECT_EQ(std::to_string(png.Image.Params().Width) + "x" +
                      std::to_string(png.Image.Params().Height),
                  run.Out.substr(0, run.Out.find('\t')));
    }
    EXPECT_EQ(test::Tool(folder, "button " + ShellQuote(theme) + " --width 0 -o x.png").Code, 2);
    EXPECT_EQ(
        test::Tool(folder, "button " + ShellQuote(folder.File("none")) + " --width 9 -o x.png")
            .Code,
        2);
    EXPECT_EQ(test::Tool(folder, "button --help").Code, 0);
}

}  // namespace
}  // namespace orb
