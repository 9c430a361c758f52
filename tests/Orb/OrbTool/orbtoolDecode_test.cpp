#include <gtest/gtest.h>

#include <fstream>

#include "ProgramRunner.h"
#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/Graphics/qlImageLoader.h"

namespace ql {
namespace {

using test::ShellQuote;

void WriteFile(const std::string& path, const test::TBytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

test::TProgramRun Decode(const test::TTestFolder& folder, const std::string& arguments) {
    return test::RunProgram(folder, ORBTOOL_PATH, "decode " + arguments);
}

TEST(OrbToolDecode, Jpeg_LevelsAndOrientation) {
    test::TTestFolder folder;
    WriteFile(folder.File("p.jpg"), test::JpegBytes(120, 80));
    auto run = Decode(folder, ShellQuote(folder.File("p.jpg")));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "120x80\t8\t1\twinJpegLoader\n");
    run = Decode(folder, ShellQuote(folder.File("p.jpg")) + " --level 2 --orientation 6 -o " +
                             ShellQuote(folder.File("out.png")));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "20x30\t8\t1\twinJpegLoader\n");
    TLoadResult png = LoadImageFromFile(folder.WideFile("out.png"));
    ASSERT_TRUE(png.Image);
    EXPECT_EQ(png.Image.Params().Width, 20);
    EXPECT_EQ(png.Image.Params().Height, 30);
}

TEST(OrbToolDecode, PackageEntryGif_WritesItsStrip) {
    test::TTestFolder folder;
    test::TGifFrame a{0, 0, 4, 3, std::vector<uint8_t>(12, 1), 10}, b{0, 0, 4, 3, std::vector<uint8_t>(12, 2), 20};
    WriteFile(folder.File("anim.gif"), test::GifBytes(4, 3, {a, b}, 0));
    WriteFile(folder.File("project.orb"), {'[', 'M', 'a', 'i', 'n', ']', '\n'});
    const std::string show = folder.File("show.exe");
    auto pack = test::RunProgram(folder, ORBTOOL_PATH,
                                 "pack -o " + ShellQuote(show) + " --player /dev/null " +
                                     ShellQuote(folder.File("project.orb")) + " " +
                                     ShellQuote("pics\\anim.gif=" + folder.File("anim.gif")));
    ASSERT_EQ(pack.Code, 0) << pack.Err;
    auto run = Decode(folder, ShellQuote(show + ":pics\\anim.gif") + " -o " + ShellQuote(folder.File("strip.png")));
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "8x3\t4\t2\tqlFPReadGIF\n");
    TLoadResult png = LoadImageFromFile(folder.WideFile("strip.png"));
    ASSERT_TRUE(png.Image);
    EXPECT_EQ(png.Image.Params().Width, 8);
}

TEST(OrbToolDecode, Errors_AreOneLineAndExitTwo) {
    test::TTestFolder folder;
    WriteFile(folder.File("junk.bmp"), {'B', 'M', 1, 2, 3});
    for (const std::string& arguments :
         {ShellQuote(folder.File("junk.bmp")), ShellQuote(folder.File("none.png")),
          ShellQuote(folder.File("junk.bmp")) + " --orientation 5", std::string("--level")}) {
        auto run = Decode(folder, arguments);
        EXPECT_EQ(run.Code, 2) << arguments;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    }
}

}  // namespace
}  // namespace ql
