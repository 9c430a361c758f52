#include "OrbLib2/OrbViewer/qlOrbPrintServices.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngDecoder.h"
#include "QlLib/Platform/FakePrintScheduler.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlTempManager.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

using ql::test::At;
using ql::test::Nowhere;
using ql::test::TTestFolder;

// Temporary folders are made under the test's own folder while it lives.
class TTempBase {
public:
    explicit TTempBase(const std::string& folder) {
        if (const char* old = ::getenv("TMPDIR")) m_old = old, m_had = true;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TTempBase() {
        if (m_had)
            ::setenv("TMPDIR", m_old.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    std::string m_old;
    bool m_had = false;
};

std::unique_ptr<ql::TBitmap> Picture(int32_t w = 40, int32_t h = 20) {
    auto picture = ql::CreateBitmap(w, h, ql::PfARGB32());
    picture->FillRect(picture->Bounds(), 0xFF808080);
    return picture;
}

TEST(OrbPrintServices, NoScheduler_NoPrinterAndPrintFailsAtOnce) {
    TTestFolder folder;
    TCupsPrintServices services(Nowhere(folder));
    EXPECT_FALSE(services.HasPrinter());
    // The list ended at the connection, before any request could wait.
    EXPECT_NE(services.LastReason().find(u"cannot be reached"), std::u16string::npos)
        << ql::ToUtf8(services.LastReason());
    EXPECT_TRUE(services.PrinterName().empty());
    EXPECT_FALSE(services.LastReason().empty());
    EXPECT_TRUE(services.Printers().empty());
    services.ChoosePrinter(0);
    EXPECT_TRUE(services.PrinterName().empty());
    const size_t folders = ql::TTempManager::Instance().Count();
    EXPECT_FALSE(services.Print(*Picture(), u"Slideshow"));
    // Nothing was written for a printer that is not there.
    EXPECT_EQ(ql::TTempManager::Instance().Count(), folders);
}

TEST(OrbPrintServices, NoScheduler_PrintDialogSavesInstead) {
    TTestFolder folder;
    TCupsPrintServices services(Nowhere(folder));
    ql::TIniFile project;
    project.LoadFromLines({u"[Main]"});
    std::shared_ptr<ql::TBitmap> frame = Picture();
    TCallBackClass pictures(nullptr, frame, 0);
    int32_t prompts = 0;
    TOrbPrintDialog dialog(
        project, pictures, &services,
        [&](ql::TDialog& d) {
            ++prompts;
            static_cast<TSavePathDialog&>(d).Edit().Text = folder.WideFile("kept.pdf");
            d.Key(ql::TDialogKey::Enter);
        },
        u"");
    const ql::TRect button = dialog.Item(kIdPrint)->PixelRect();
    dialog.MouseDown(button.left + 1, button.top + 1);
    dialog.MouseUp(button.left + 1, button.top + 1);
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(dialog.Printed());
    EXPECT_EQ(dialog.SavedFile(), folder.WideFile("kept.pdf"));
}

TEST(OrbPrintServices, Scheduler_StartsAtTheDefaultAndKeepsTheChoice) {
    ql::test::TFakePrintScheduler scheduler({{"hall", ""}, {"office", ""}, {"studio", ""}},
                                            "office");
    TCupsPrintServices services(At(scheduler));
    EXPECT_EQ(services.ChosenPrinter(), 1u);
    EXPECT_TRUE(services.HasPrinter());
    EXPECT_EQ(services.PrinterName(), u"office");
    EXPECT_EQ(services.Printers(), (std::vector<std::u16string>{u"hall", u"office", u"studio"}));
    services.ChoosePrinter(2);
    EXPECT_EQ(services.PrinterName(), u"studio");
    // Past the list: no change.
    services.ChoosePrinter(3);
    EXPECT_EQ(services.PrinterName(), u"studio");
    // A printer added in front keeps the choice on the same printer.
    scheduler.SetPrinters({{"annex", ""}, {"hall", ""}, {"office", ""}, {"studio", ""}});
    EXPECT_EQ(services.Printers().size(), 4u);
    EXPECT_EQ(services.ChosenPrinter(), 3u);
    EXPECT_EQ(services.PrinterName(), u"studio");
}

TEST(OrbPrintServices, ChosenPrinterRemoved_TheDefaultIsChosenAgain) {
    ql::test::TFakePrintScheduler scheduler({{"hall", ""}, {"office", ""}, {"studio", ""}},
                                            "office");
    TCupsPrintServices services(At(scheduler));
    services.Printers();
    services.ChoosePrinter(2);
    ASSERT_EQ(services.PrinterName(), u"studio");
    scheduler.SetPrinters({{"hall", ""}, {"office", ""}});
    services.Printers();
    EXPECT_EQ(services.PrinterName(), u"office");
    scheduler.SetPrinters({});
    EXPECT_TRUE(services.Printers().empty());
    EXPECT_FALSE(services.HasPrinter());
    EXPECT_TRUE(services.PrinterName().empty());
}

TEST(OrbPrintServices, Print_SendsAPngTurnedToThePictureAndRemovesIt) {
    TTestFolder folder;
    TTempBase temp(folder.Path());
    ql::test::TFakePrintScheduler scheduler({{"office", "Laser"}}, "office");
    TCupsPrintServices services(At(scheduler));
    ASSERT_TRUE(services.Print(*Picture(40, 20), u"Slideshow"))
        << ql::ToUtf8(services.LastReason());
    ASSERT_TRUE(services.Print(*Picture(20, 40), u"Slideshow"));
    const auto jobs = scheduler.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Printer, "office");
    EXPECT_EQ(jobs[0].Attributes.at("job-name"), "Slideshow");
    EXPECT_EQ(jobs[0].Attributes.at("document-format"), "image/png");
    EXPECT_EQ(jobs[0].Attributes.at("orientation-requested"), "4");
    EXPECT_EQ(jobs[1].Attributes.at("orientation-requested"), "3");
    EXPECT_EQ(jobs[0].Attributes.at("fit-to-page"), "true");

    ql::TMemoryStream png;
    png.WriteBuffer(jobs[0].Document.data(), jobs[0].Document.size());
    png.SetPosition(0);
    const auto decoded = ql::DecodePng(png, u"job.png", nullptr, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Width(), 40);
    EXPECT_EQ(decoded->Height(), 20);
    // The picture and its private folder are gone once the job is taken.
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

TEST(OrbPrintServices, Print_SchedulerGoneAfterTheListIsFalseAndLeavesNothing) {
    TTestFolder folder;
    TTempBase temp(folder.Path());
    auto scheduler = std::make_unique<ql::test::TFakePrintScheduler>(
        std::vector<ql::test::TFakePrintScheduler::TPrinter>{{"office", ""}}, "office");
    TCupsPrintServices services(At(*scheduler));
    ASSERT_TRUE(services.HasPrinter());
    scheduler.reset();
    EXPECT_FALSE(services.Print(*Picture(), u"Slideshow"));
    EXPECT_FALSE(services.LastReason().empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

}  // namespace
}  // namespace orb
