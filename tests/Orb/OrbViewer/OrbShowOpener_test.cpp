#include "Orb/OrbViewer/OrbShowOpener.h"

#include <gtest/gtest.h>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using test::BuildPackage;
using test::TTestFolder;
using test::WriteBytes;

const char kProject[] = "[Main]\r\nOrbVersion=5.1\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n";

TCheckResult Check(const std::string& project, TShowChecks checks = {}) {
    TTestFolder folder;
    WriteBytes(folder.File("show.orb"), project);
    TOpenedShow opened = OpenShowFile(folder.File("show.orb"), TShowFileKind::ProjectDocument);
    EXPECT_TRUE(opened.Locator);
    if (checks.ProgramFileName.empty()) checks.ProgramFileName = u"/opt/orbviewer";
    return CheckShow(*opened.Locator, checks);
}

TEST(OrbShowOpener, PlayerFile_SecondTryUnderTheKelvoName) {
    TTestFolder folder;
    WriteBytes(folder.File("show.Kelvo"), BuildPackage("player", {{u"Project.orb", kProject, 1}}));
    TOpenedShow opened = OpenShowFile(folder.File("show.exe"), TShowFileKind::PlayerFile);
    ASSERT_TRUE(opened.Locator) << ql::ToUtf8(opened.Error);
    EXPECT_EQ(opened.Locator->OrbVersion(), u"5.1");
    EXPECT_EQ(KelvoName(u"/a.b/show"), u"/a.b/show.Kelvo");
}

TEST(OrbShowOpener, Failures_NameTheFilesTried) {
    TTestFolder folder;
    const std::u16string missing = folder.File("missing.exe");
    EXPECT_EQ(OpenShowFile(missing, TShowFileKind::PlayerFile).Error,
              u"Slideshow File not Found\r\"" + missing + u"\" or \"" + folder.File("missing.Kelvo") + u"\"");
    EXPECT_EQ(OpenShowFile(folder.File("none.orb"), TShowFileKind::ProjectDocument).Error,
              u"Can`t Load .orb File\r\"" + folder.File("none.orb") + u"\"");
}

TEST(OrbShowOpener, ShowWithoutDuration_RefusedWithAClearMessage) {
    const TCheckResult result = Check("[Main]\r\nopt_slidescount=2\r\n");
    EXPECT_EQ(result.Outcome, TCheckOutcome::Error);
    EXPECT_EQ(result.Error, u"The show has no duration");
    EXPECT_EQ(Check(kProject).Outcome, TCheckOutcome::Play);
}

TEST(OrbShowOpener, ScreenSaver_NeedsTheSwitchAndASingleInstance) {
    TShowChecks checks;
    checks.ProgramFileName = u"/opt/Holiday.scr";
    EXPECT_EQ(Check(kProject, checks).Outcome, TCheckOutcome::Refused);
    checks.ScreenSaverToken = true;
    EXPECT_EQ(Check(kProject, checks).Outcome, TCheckOutcome::Play);
    checks.AnotherInstanceRunning = true;
    EXPECT_EQ(Check(kProject, checks).Outcome, TCheckOutcome::Refused);
}

TEST(OrbShowOpener, Password_CheckedBeforeTheShowPlays) {
    const std::string guarded = std::string(kProject) + "opt_usepass=1\r\nopt_pass=abc\r\n";
    EXPECT_EQ(Check(guarded).Outcome, TCheckOutcome::Refused);  // nobody to ask
    TShowChecks checks;
    checks.RunDialog = [](ql::TDialog& dialog) {
        for (char16_t c : std::u16string(u"abc")) dialog.Key(ql::TDialogKey::Character, c);
        dialog.Key(ql::TDialogKey::Enter);
    };
    EXPECT_EQ(Check(guarded, checks).Outcome, TCheckOutcome::Play);
}

}  // namespace
}  // namespace orb
