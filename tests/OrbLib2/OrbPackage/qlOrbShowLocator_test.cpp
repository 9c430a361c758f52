#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"

#include <gtest/gtest.h>

#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

using test::BuildPackage;
using test::ReadAll;
using test::TTestFolder;
using test::WriteBytes;

const std::string kProject =
    "[Main]\r\nOrbVersion=7.5\r\n\r\n[FileMap]\r\n;\"C:\\old\\a.jpg\"=\"C:\\new\\a.jpg\"\r\n"
    "\r\n[RotationState]\r\n;\"C:\\new\\a.jpg\"=6\r\n";

TEST(ShowLocator, PlayerFile_OpensProjectAndItsTables) {
    TTestFolder folder;
    const std::u16string show = folder.File("show.exe");
    WriteBytes(show, BuildPackage("player", {{u"Project.orb", kProject, 1},
                                             {u"C:\\new\\a.jpg", "picture", 0}}));
    TShowOpenResult result = OpenShowFromPlayerFile(show);
    ASSERT_TRUE(result.Locator) << ql::ToUtf8(result.Error);
    TOrbShowLocator& locator = *result.Locator;
    EXPECT_EQ(locator.OrbVersion(), u"7.5");
    EXPECT_EQ(locator.ProjectName(), u"Project.orb");
    EXPECT_EQ(locator.Accessor().BaseFolder(), folder.Path() + u"/");
    std::unique_ptr<ql::TStream> mapped = locator.Accessor().OpenStream(u"c:\\OLD\\a.jpg");
    ASSERT_TRUE(mapped);
    EXPECT_EQ(ReadAll(*mapped), "picture");
    EXPECT_TRUE(locator.Accessor().Source().HasOrientationHook());
    EXPECT_EQ(ReadPackageVersion(show), u"1.0.0.0");
}

TEST(ShowLocator, PlayerFileFailures_GiveTheirMessages) {
    TTestFolder folder;
    EXPECT_EQ(OpenShowFromPlayerFile(folder.File("none.exe")).Error, u"Slideshow File not Found");
    WriteBytes(folder.File("plain.exe"), "just a program");
    EXPECT_EQ(OpenShowFromPlayerFile(folder.File("plain.exe")).Error, u"Slide-show File Damaged");
    WriteBytes(folder.File("broken.exe"), "garbage then .dne");
    EXPECT_EQ(OpenShowFromPlayerFile(folder.File("broken.exe")).Error, u"Slide-show File Damaged");
    WriteBytes(folder.File("noproject.exe"), BuildPackage("player", {{u"a.txt", "a", 0}}));
    EXPECT_EQ(OpenShowFromPlayerFile(folder.File("noproject.exe")).Error,
              u"Executable SlideShow Open Error");
    EXPECT_FALSE(ReadPackageVersion(folder.File("plain.exe")));
}

TEST(ShowLocator, AppFolder_ReadsItsSlideshowDat) {
    TTestFolder folder;
    const std::u16string app = folder.File("Show.app");
    for (const char* sub : {"", "/Contents", "/Contents/Resources"}) {
        ASSERT_TRUE(ql::TFileAPI::CreateDirectory(app + ql::FromUtf8(sub)));
    }
    WriteBytes(app + u"/Contents/Resources/slideshow.dat",
               BuildPackage("", {{u"Project.orb", kProject, 1}}));
    EXPECT_EQ(ResolvePackageFile(app), app + u"/Contents/Resources/slideshow.dat");
    EXPECT_EQ(ResolvePackageFile(folder.File("Other.app")), folder.File("Other.app"));
    TShowOpenResult result = OpenShowFromPlayerFile(app);
    ASSERT_TRUE(result.Locator);
    EXPECT_EQ(result.Locator->OrbVersion(), u"7.5");
}

TEST(ShowLocator, ProjectOnDisk_BaseFolderFromPublishName) {
    TTestFolder folder;
    ASSERT_TRUE(ql::TFileAPI::CreateDirectory(folder.File("Publish")));
    WriteBytes(folder.File("Publish/pic.jpg"), "published");
    const std::string project = "[Main]\r\nOrbVersion=2\r\nopt_exefn=" + ql::ToUtf8(folder.Path()) +
                                "\\publish\\Show.exe\r\n";
    WriteBytes(folder.File("show.orb"), project);
    std::unique_ptr<TOrbShowLocator> locator = OpenShowFromProject(folder.File("show.orb"));
    ASSERT_TRUE(locator);
    EXPECT_EQ(locator->Accessor().BaseFolder(), folder.File("Publish") + u"/");
    std::unique_ptr<ql::TStream> pic = locator->Accessor().OpenStream(u"C:\\elsewhere\\PIC.jpg");
    ASSERT_TRUE(pic);
    EXPECT_EQ(ReadAll(*pic), "published");
    EXPECT_FALSE(OpenShowFromProject(folder.File("missing.orb")));
}

TEST(ShowLocator, OpenShow_TellsPlayerFilesFromProjects) {
    TTestFolder folder;
    WriteBytes(folder.File("show.exe"), BuildPackage("p", {{u"Project.orb", kProject, 1}}));
    WriteBytes(folder.File("show.orb"), "[Main]\r\nOrbVersion=8\r\n");
    EXPECT_EQ(OpenShow(folder.File("show.exe")).Locator->ProjectName(), u"Project.orb");
    TShowOpenResult project = OpenShow(folder.File("show.orb"));
    ASSERT_TRUE(project.Locator);
    EXPECT_EQ(project.Locator->OrbVersion(), u"8");
    EXPECT_EQ(OpenShow(folder.File("gone")).Error, u"Slideshow File not Found");
    // The replacement pair sends one player file to a project on disk.
    SetProjectReplacement(folder.File("SHOW.exe"), folder.File("show.orb"));
    EXPECT_EQ(OpenShowFromPlayerFile(folder.File("show.exe")).Locator->OrbVersion(), u"8");
    SetProjectReplacement(u"", u"");
}

TEST(ShowLocator, StartupFilter_InstalledOnlyWithTheSwitch) {
    TTestFolder folder;
    WriteBytes(folder.File("show.exe"), BuildPackage("p", {{u"Project.orb", kProject, 1}}));
    int installs = 0;
    SetStartupFilter(false, [&](TFileAccessor&, const std::u16string&) { ++installs; });
    EXPECT_TRUE(OpenShowFromPlayerFile(folder.File("show.exe")).Locator);
    EXPECT_EQ(installs, 0);
    SetStartupFilter(true, [&](TFileAccessor& accessor, const std::u16string& name) {
        ++installs;
        EXPECT_EQ(name, u"Project.orb");
    });
    EXPECT_TRUE(OpenShowFromPlayerFile(folder.File("show.exe")).Locator);
    EXPECT_EQ(installs, 1);
    SetStartupFilter(false, nullptr);
}

TEST(ShowLocator, CurrentShowStack_PopMakesTheEarlierShowCurrent) {
    TTestFolder folder;
    WriteBytes(folder.File("a.orb"), "[Main]\r\nOrbVersion=a\r\n");
    WriteBytes(folder.File("b.orb"), "[Main]\r\nOrbVersion=b\r\n");
    TShowStack shows;
    EXPECT_EQ(shows.Current(), nullptr);
    shows.SetCurrent(OpenShowFromProject(folder.File("a.orb")));
    shows.Push(OpenShowFromProject(folder.File("b.orb")));
    EXPECT_EQ(shows.Current()->OrbVersion(), u"b");
    EXPECT_EQ(shows.Depth(), 1u);
    EXPECT_TRUE(shows.Pop());
    EXPECT_EQ(shows.Current()->OrbVersion(), u"a");
    EXPECT_FALSE(shows.Pop());
    EXPECT_EQ(shows.Current(), nullptr);
}

TEST(ShowLocator, ShowSource_MadeOnFirstRequestOverTheProject) {
    TTestFolder folder;
    const std::string project =
        "[Main]\r\nopt_slidescount=2\r\nopt_synchpos1=700\r\n"
        "opt_synchpos2=1500\r\nopt_fcp=1\r\n";
    WriteBytes(folder.File("show.exe"), BuildPackage("p", {{u"Project.orb", project, 1}}));
    TShowOpenResult result = OpenShowFromPlayerFile(folder.File("show.exe"));
    ASSERT_TRUE(result.Locator);
    TOrbSource& source = ShowSource(*result.Locator, u"C:\\Saver.scr");
    EXPECT_EQ(&ShowSource(*result.Locator), &source);
    EXPECT_EQ(source.TotalTime(), 1500);
    EXPECT_TRUE(source.ScreenSaverMode());
    EXPECT_EQ(result.Locator->Project().ReadString(u"Main", u"opt_fcp", u""), u"0");

    WriteBytes(folder.File("empty.orb"), "[Main]\r\nOrbVersion=1\r\n");
    std::unique_ptr<TOrbShowLocator> empty = OpenShowFromProject(folder.File("empty.orb"));
    ASSERT_TRUE(empty);
    EXPECT_THROW(ShowSource(*empty), EOrbSourceError);
}

}  // namespace
}  // namespace orb
