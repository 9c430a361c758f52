// The start-up window's document: the show's start-up page as its only
// slide, with the settings that keep the child small and harmless.
#include "Orb/OrbViewer/OrbStartupWindow.h"

#include <gtest/gtest.h>

#include "IniTestSupport.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

const std::string kShow =
    "[FileMap]\nlogo.png=1\n"
    "[Main]\nopt_slidescount=12\nopt_repeat=repeat\nopt_usepass=1\nopt_pass=x\nopt_runapponexit=1\n"
    "opt_runapponexitfn=/bin/rm -rf x\nmusic=song.mp3\nopt_startupwidth=300\nstw_caption=Welcome\nopt_lockf1=0\n"
    "opt_customdialogscount=2\ncustom_dialog0=First\n"
    "[slide1]\nbname=1\n"
    "[dialog_startup]\nbname=77\nobject Go : button\n  Action=Exit\nend\n"
    "[dialog_help]\nbname=5\n"
    "[dialog_2_]\nbname=6\n";

TEST(StartupWindow, Project_IsTheStartupPageAsAOneSlideShow) {
    const auto show = DocumentFromText(kShow);
    const auto page = StartupWindowProject(*show);
    ASSERT_NE(page, nullptr);
    // The page became slide 1, objects and all; the show's own slides are gone.
    EXPECT_EQ(page->ReadInteger(u"slide1", u"bname", 0), 77);
    ASSERT_NE(page->FindSection(u"slide1"), nullptr);
    EXPECT_NE(page->FindSection(u"slide1")->FirstObject(), nullptr);
    EXPECT_EQ(page->ReadString(u"FileMap", u"logo.png", u""), u"1");
    EXPECT_EQ(page->ReadInteger(u"dialog_help", u"bname", 0), 5);
    EXPECT_EQ(page->ReadInteger(u"dialog_2_", u"bname", 0), 6);
    EXPECT_FALSE(page->SectionExists(u"dialog_startup"));

    const ql::TIniSection& main = *page->FindSection(u"main");
    EXPECT_EQ(main.ReadString(u"opt_slidescount", u""), u"1");
    EXPECT_EQ(main.ReadString(u"opt_synchpos1", u""), u"1000");
    EXPECT_EQ(main.ReadString(u"opt_repeat", u""), u"stop");
    EXPECT_EQ(main.ReadString(u"opt_usepass", u""), u"0");
    EXPECT_EQ(main.ReadString(u"opt_runapponexit", u""), u"0");
    EXPECT_EQ(main.ReadString(u"opt_runapponexitfn", u"?"), u"");
    EXPECT_EQ(main.ReadString(u"opt_scr_full", u""), u"0");
    EXPECT_EQ(main.ReadString(u"opt_scr_width", u""), u"300");
    EXPECT_EQ(main.ReadString(u"opt_scr_height", u""), u"480");
    EXPECT_EQ(main.ReadString(u"opt_scr_caption", u""), u"Welcome");
    EXPECT_EQ(main.ReadString(u"opt_lockf1", u""), u"0");
    EXPECT_EQ(main.ReadString(u"music", u"none"), u"none");
    EXPECT_EQ(main.ReadString(u"custom_dialog0", u""), u"First");
}

TEST(StartupWindow, Project_NeedsThePageTheMainSectionAndTheFileMap) {
    EXPECT_EQ(StartupWindowProject(*DocumentFromText("[Main]\nx=1\n[FileMap]\n")), nullptr);
    EXPECT_EQ(StartupWindowProject(*DocumentFromText("[dialog_startup]\n[FileMap]\n")), nullptr);
    EXPECT_EQ(StartupWindowProject(*DocumentFromText("[dialog_startup]\n[Main]\n")), nullptr);
    // F1 stays locked unless the show unlocked it.
    const auto page = StartupWindowProject(*DocumentFromText("[dialog_startup]\n[Main]\n[FileMap]\n"));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->ReadString(u"main", u"opt_lockf1", u""), u"1");
    EXPECT_EQ(page->ReadString(u"main", u"opt_scr_caption", u""), u"Startup Window");
}

}  // namespace
}  // namespace orb
