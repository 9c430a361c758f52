#include <gtest/gtest.h>

#include "OrbLib2/NavPanel/NavPanelFixtures.h"
#include "OrbToolTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlImageLoader.h"

namespace orb {
namespace {

using ql::test::ShellQuote;

TEST(OrbToolNavbar, BothBarStyles_PrintTheirLayoutAndDrawIt) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    const std::string bar = ShellQuote(folder.File("bar/bar.ini")),
                      video = ShellQuote(folder.File("video/bar.ini"));
    struct TCase {
        std::string arguments, json;
        int32_t width, height;
    } cases[] = {
        {bar + " --width 500 --buttons exit,pause",
         "{\"class\":\"TNavBar\",\"size\":[82,30],\"scale\":1,\"disabled\":false,\"columns\":[10,"
         "60,12],"
         "\"rows\":[30],\"buttons\":[{\"name\":\"exit\",\"rect\":[14,3,38,27]},"
         "{\"name\":\"pause\",\"rect\":[40,3,64,27]}]}",
         82, 30},
        {bar + " --width 500 --height 60",
         "{\"class\":\"TNavBar\",\"size\":[106,30],\"scale\":2,\"disabled\":false,\"columns\":[10,"
         "84,12],"
         "\"rows\":[30],\"buttons\":[{\"name\":\"pause\",\"rect\":[14,3,38,27]},"
         "{\"name\":\"forward\",\"rect\":[40,3,64,27]},{\"name\":\"exit\",\"rect\":[66,3,90,27]}]}",
         106, 30},
        {video + " --width 800 --duration 60000 --time 90000 --volume 0.5",
         "{\"class\":\"TVideoNavBar\",\"size\":[800,40],\"scale\":1,\"disabled\":false,\"T0\":92,"
         "\"T1\":598,"
         "\"D1\":694,\"buttons\":[10,34,58],\"sound\":700,\"volumeTrack\":[730,790],\"timeKnob\":"
         "345,"
         "\"volumeKnob\":760,\"timeText\":\"00:30 / 01:00\",\"long\":false}",
         800, 40},
        {video + " --width 800 --duration 3600000 --paused --buttons forward",
         "{\"class\":\"TVideoNavBar\",\"size\":[800,40],\"scale\":1,\"disabled\":false,\"T0\":68,"
         "\"T1\":550,"
         "\"D1\":694,\"buttons\":[10,34],\"sound\":700,\"volumeTrack\":[730,790],\"timeKnob\":73,"
         "\"volumeKnob\":735,\"timeText\":\"00:00:00 / 01:00:00\",\"long\":true}",
         800, 40},
        {video + " --width 140 --height 1",
         "{\"class\":\"TVideoNavBar\",\"size\":[140,1],\"scale\":0.025,\"disabled\":true,\"T0\":23,"
         "\"T1\":115,"
         "\"D1\":115,\"buttons\":[10,11,12],\"sound\":121,\"volumeTrack\":[128,130],\"timeKnob\":"
         "23,"
         "\"volumeKnob\":128,\"timeText\":\"00:00 / 00:00\",\"long\":false}",
         0, 0},
    };
    for (const TCase& c : cases) {
        std::filesystem::remove(folder.File("out.png"));
        auto run = test::Tool(
            folder, "navbar " + c.arguments + " -o " + ShellQuote(folder.File("out.png")));
        ASSERT_EQ(run.Code, 0) << run.Err;
        EXPECT_EQ(run.Out, c.json + "\n");
        ql::TLoadResult png = ql::LoadImageFromFile(folder.WideFile("out.png"));
        EXPECT_EQ(bool(png.Image), c.width > 0);
        if (png.Image) {
            EXPECT_EQ(png.Image.Params().Width, c.width);
            EXPECT_EQ(png.Image.Params().Height, c.height);
        }
    }
    test::WriteText(folder.File("bad/bar.ini"), test::ButtonBarIni("[CellWithObjects]\nCell=7\n"));
    auto bad = test::Tool(
        folder, "navbar " + ShellQuote(folder.File("bad/bar.ini")) + " --width 9 -o x.png");
    EXPECT_EQ(bad.Code, 2);
    EXPECT_NE(bad.Err.find("Incorrect number of parameters in field \"Cell\""), std::string::npos);
    EXPECT_EQ(test::Tool(folder, "navbar " + bar + " --width 0 -o x.png").Code, 2);
    EXPECT_EQ(test::Tool(folder, "navbar --help").Code, 0);
}

}  // namespace
}  // namespace orb
