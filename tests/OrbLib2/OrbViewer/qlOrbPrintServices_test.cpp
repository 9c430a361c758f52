#include "OrbLib2/OrbViewer/qlOrbPrintServices.h"

#include <gtest/gtest.h>

#include <chrono>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlTempManager.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

using ql::test::TTestFolder;
using TClock = std::chrono::steady_clock;

int64_t MsSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

// No scheduler listens at a socket in a fresh folder.
ql::TPrintServer Nowhere(const TTestFolder& folder) {
    ql::TPrintServer server;
    server.Address = folder.WideFile("cups.sock");
    return server;
}

std::unique_ptr<ql::TBitmap> Picture() {
    auto picture = ql::CreateBitmap(40, 20, ql::PfARGB32());
    picture->FillRect(picture->Bounds(), 0xFF808080);
    return picture;
}

TEST(OrbPrintServices, NoScheduler_NoPrinterAndPrintFailsAtOnce) {
    TTestFolder folder;
    TCupsPrintServices services(Nowhere(folder));
    const auto start = TClock::now();
    EXPECT_FALSE(services.HasPrinter());
    EXPECT_TRUE(services.PrinterName().empty());
    EXPECT_FALSE(services.LastReason().empty());
    services.ChoosePrinter();
    EXPECT_TRUE(services.PrinterName().empty());
    const size_t folders = ql::TTempManager::Instance().Count();
    EXPECT_FALSE(services.Print(*Picture(), u"Slideshow"));
    // Nothing was written for a printer that is not there.
    EXPECT_EQ(ql::TTempManager::Instance().Count(), folders);
    EXPECT_LT(MsSince(start), 2000);
}

TEST(OrbPrintServices, NoScheduler_PrintDialogSavesInstead) {
    TTestFolder folder;
    TCupsPrintServices services(Nowhere(folder));
    ql::TIniFile project;
    project.LoadFromLines({u"[Main]"});
    std::shared_ptr<ql::TBitmap> frame = Picture();
    TCallBackClass pictures(nullptr, frame, 0);
    int32_t prompts = 0;
    TOrbPrintDialog dialog(project, pictures, &services,
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

}  // namespace
}  // namespace orb
