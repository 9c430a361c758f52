#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/MetadataTestSupport.h"
#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb {
namespace {

using ql::test::ShellQuote;
using test::Tool;

std::string Jpeg(int32_t width, int32_t height, const std::string& city) {
    ql::TDirectBitmap bitmap(width, height, ql::PfRGB24());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * 3; ++x) bitmap.Row(y)[x] = uint8_t(x ^ y);
    const std::vector<uint8_t> bytes = ql::EncodeJpeg(bitmap, 80);
    ql::test::TExifSpec exif;
    exif.SubIfd = {{ql::test::kTagUserComment, ql::test::kTiffUndefined,
                    std::string("ASCII\0\0\0 Comment of ", 20) + city}};
    return ql::test::SpliceAfterSoi(
        std::string(bytes.begin(), bytes.end()),
        ql::test::JpegSegment(0xE1, ql::test::ExifPayload(exif)) +
            ql::test::JpegSegment(0xED,
                                  ql::test::PhotoshopPayload(ql::test::IimDataset(2, 90, city))));
}

// Four slides in random order, each with its own main picture (s1.jpg ..
// s4.jpg, 40 + slide pixels wide) and SlideId S1 .. S4.
std::string WriteShow(const ql::test::TTestFolder& folder) {
    std::string project =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=640\r\nopt_scr_height=480\r\n"
        "opt_slidescount=4\r\nopt_random=1\r\nProjectFilePath=C:\\Shows\\trip.orb\r\n";
    std::vector<test::TTestEntry> entries;
    for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        project += "opt_synchpos" + n + "=" + std::to_string(1000 * i) + "\r\n";
    }
    for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        project += "[slide" + n + "]\r\nslideid=S" + n +
                   "\r\nobject M: mainimage\r\n  ImageName=C:\\Pics\\s" + n + ".jpg\r\nend\r\n";
        entries.push_back({ql::FromUtf8("C:\\Pics\\s" + n + ".jpg"), Jpeg(40 + i, 30, "City" + n)});
    }
    entries.insert(entries.begin(), {u"Project.orb", project});
    test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), test::BuildPackage("", entries));
    return ShellQuote(folder.File("show.exe"));
}

TEST(OrbToolMacros, EachSlideShowsItsPlayPositionAndMainPicture) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder);
    // The slide ids in play order, as timeline prints them for the seed.
    const auto timeline = Tool(folder, "timeline " + show + " --seed 7");
    ASSERT_EQ(timeline.Code, 0) << timeline.Err;
    std::vector<std::string> ids;
    const std::regex id("\tS([0-9])\n");
    for (auto it = std::sregex_iterator(timeline.Out.begin(), timeline.Out.end(), id);
         it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    ASSERT_EQ(ids.size(), 4u) << timeline.Out;
    // The seed shuffles the slides, so play position and section differ.
    EXPECT_NE(ids, (std::vector<std::string>{"1", "2", "3", "4"})) << timeline.Out;
    const std::string text =
        "<%SlideIndex%>/<%SlidesCount%> <%MainImg.FileNameExt%>^&<%MainImg.Width%>x"
        "<%MainImg.Height%> <%MainImg.IPTC.City%> <%mainimg.exif.comment%>^&<%MainImg.FolderPath%>";
    for (int slide = 0; slide < 4; ++slide) {
        SCOPED_TRACE(slide);
        const auto run = Tool(folder, "macros " + show + " --seed 7 --slide " +
                                          std::to_string(slide) + " " + ShellQuote(text));
        ASSERT_EQ(run.Code, 0) << run.Err;
        const std::string& i = ids[size_t(slide)];
        EXPECT_EQ(run.Out, std::to_string(slide + 1) + "/4 s" + i + ".jpg\n" +
                               std::to_string(40 + std::stoi(i)) + "x30 City" + i +
                               " Comment of City" + i + "\nC:\\Pics\\\n");
    }
}

TEST(OrbToolMacros, BadArgumentsAreRefused) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder);
    EXPECT_EQ(Tool(folder, "macros --help").Code, 0);
    EXPECT_NE(Tool(folder, "--help").Out.find("macros"), std::string::npos);
    for (const std::string& args :
         {"macros " + show + " --slide 4 x", "macros " + show + " x",
          "macros " + show + " --slide -1 x", "macros " + show + " --slide 0",
          "macros " + show + " --slide 0 --seed x y",
          "macros " + ShellQuote(folder.File("none.exe")) + " --slide 0 x"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(Tool(folder, args).Code, 2);
    }
}

}  // namespace
}  // namespace orb
