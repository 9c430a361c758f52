#include "OrbLib2/OrbViewer/qlOrbPrintDialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

using ql::test::TTestFolder;

std::unique_ptr<ql::TIniFile> Project() {
    auto document = std::make_unique<ql::TIniFile>();
    document->LoadFromLines({u"[Main]"});
    return document;
}

std::shared_ptr<const ql::TBitmap> Frame() {
    std::shared_ptr<ql::TBitmap> frame = ql::CreateBitmap(32, 16, ql::PfARGB32());
    frame->FillRect(frame->Bounds(), 0xFF336699);
    return frame;
}

void Click(ql::TDialog& dialog, uint16_t id) {
    const ql::TRect r = dialog.Item(id)->PixelRect();
    dialog.MouseDown(r.left + 1, r.top + 1);
    dialog.MouseUp(r.left + 1, r.top + 1);
}

// Plays the user: the save prompt gets `path` typed over its text, then
// Enter; a replace question gets `replace`.
struct TScriptedUser {
    std::u16string Path;
    bool Replace = false;
    int32_t Prompts = 0, Questions = 0;
    void operator()(ql::TDialog& dialog) {
        if (auto* prompt = dynamic_cast<TSavePathDialog*>(&dialog)) {
            ++Prompts;
            if (Path.empty()) {
                dialog.Key(ql::TDialogKey::Escape);
                return;
            }
            prompt->Edit().Text = Path;
            dialog.Key(ql::TDialogKey::Enter);
        } else {
            ++Questions;
            Click(dialog, Replace ? kIdYes : kIdNo);
            if (!Replace) Path.clear();  // then cancels the second prompt
        }
    }
};

TEST(OrbPrintDialog, FitToPage_PortraitFillsHeightWideFillsWidth) {
    const TPrintPlacement portrait = FitToPage(300, 600, 1000, 1400);
    EXPECT_FALSE(portrait.Landscape);
    EXPECT_EQ(portrait.Height, 1400);
    EXPECT_EQ(portrait.Width, 700);
    EXPECT_EQ(portrait.Left, 150);
    const TPrintPlacement wide = FitToPage(4000, 500, 1400, 1000);
    EXPECT_TRUE(wide.Landscape);
    EXPECT_EQ(wide.Width, 1400);
    EXPECT_EQ(wide.Height, 175);
    EXPECT_EQ(wide.Top, 412);
    EXPECT_EQ(FitToPage(0, 10, 100, 100).Width, 0);
}

TEST(OrbPrintDialog, Save_FrameAsPngWhereTheUserChooses) {
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 4);
    TScriptedUser user{ql::FromUtf8(folder.File("mine.png"))};
    TOrbPrintDialog dialog(*project, pictures, nullptr, std::ref(user), ql::FromUtf8(folder.Path()));
    Click(dialog, kIdSave);
    EXPECT_EQ(dialog.Result, ql::kIdOk);
    EXPECT_EQ(dialog.SavedFile(), user.Path);
    std::ifstream saved(folder.File("mine.png"), std::ios::binary);
    char magic[4] = {};
    saved.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

// The name the save prompt offers after pressing `button`; the prompt is
// cancelled, so nothing is written.
std::u16string SuggestedName(uint16_t button, int32_t slideIndex, const TTestFolder& folder) {
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), slideIndex);
    std::u16string suggested;
    TOrbPrintDialog dialog(*project, pictures, nullptr,
                           [&](ql::TDialog& d) {
                               suggested = static_cast<TSavePathDialog&>(d).Edit().Text;
                               d.Key(ql::TDialogKey::Escape);
                           },
                           ql::FromUtf8(folder.Path()));
    Click(dialog, button);
    EXPECT_TRUE(dialog.SavedFile().empty());
    EXPECT_EQ(dialog.Result, ql::kIdOk);
    return suggested;
}

TEST(OrbPrintDialog, SuggestedNames_NameTheSlide) {
    TTestFolder folder;
    EXPECT_EQ(SuggestedName(kIdSave, 4, folder), ql::FromUtf8(folder.File("Slide5.png")));
    // Print without a printer keeps a page: a PDF.
    EXPECT_EQ(SuggestedName(kIdPrint, 6, folder), ql::FromUtf8(folder.File("Slide7.pdf")));
}

TEST(OrbPrintDialog, Save_ExistingFileReplacedOnlyAfterYes) {
    TTestFolder folder;
    std::ofstream(folder.File("old.png")) << "keep";
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 0);
    TScriptedUser refusing{ql::FromUtf8(folder.File("old.png")), false};
    TOrbPrintDialog first(*project, pictures, nullptr, std::ref(refusing), ql::FromUtf8(folder.Path()));
    Click(first, kIdSave);
    EXPECT_EQ(refusing.Questions, 1);
    EXPECT_EQ(refusing.Prompts, 2);
    EXPECT_EQ(std::filesystem::file_size(folder.File("old.png")), 4u);

    TScriptedUser replacing{ql::FromUtf8(folder.File("old.png")), true};
    TOrbPrintDialog second(*project, pictures, nullptr, std::ref(replacing), ql::FromUtf8(folder.Path()));
    Click(second, kIdSave);
    EXPECT_GT(std::filesystem::file_size(folder.File("old.png")), 4u);
}

// A printer that takes or refuses every page, with three printers to choose.
struct TFakePrinter : TPrintServices {
    bool HasPrinter() const override { return true; }
    std::vector<std::u16string> Printers() override { return {u"hall", u"office", u"studio"}; }
    size_t ChosenPrinter() const override { return Chosen; }
    void ChoosePrinter(size_t index) override { Chosen = index; }
    bool Print(const ql::TBitmap& picture, const std::u16string& title) override {
        Titles.push_back(title);
        Width = picture.Width();
        return Takes;
    }
    bool Takes = true;
    size_t Chosen = 1;
    int32_t Width = 0;
    std::vector<std::u16string> Titles;
};

TEST(OrbPrintDialog, Print_WithoutPrinterSavesWithAPrinterPrints) {
    TFakePrinter printer;
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 1);
    TScriptedUser user{ql::FromUtf8(folder.File("printed.png"))};
    TOrbPrintDialog withPrinter(*project, pictures, &printer, std::ref(user), u"");
    Click(withPrinter, kIdPrint);
    EXPECT_EQ(printer.Titles, std::vector<std::u16string>{u"Slideshow"});
    EXPECT_EQ(printer.Width, 32);
    EXPECT_TRUE(withPrinter.Printed());
    EXPECT_EQ(user.Prompts, 0);

    TOrbPrintDialog without(*project, pictures, nullptr, std::ref(user), u"");
    Click(without, kIdPrint);
    EXPECT_EQ(without.Result, ql::kIdOk);
    EXPECT_TRUE(std::filesystem::exists(folder.File("printed.png")));
}

TEST(OrbPrintDialog, ChangePrinter_ChoosesFromTheListAndCancelKeepsTheChoice) {
    TFakePrinter printer;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 1);
    std::vector<std::vector<bool>> ticks;
    bool confirm = true;
    auto user = [&](ql::TDialog& dialog) {
        auto& setup = dynamic_cast<TPrinterSetupDialog&>(dialog);
        ASSERT_EQ(setup.Listed(), 3u);
        // The choice starts on the current printer, which has the focus.
        EXPECT_EQ(setup.Chosen(), printer.Chosen);
        EXPECT_EQ(setup.Focused(), &setup.PrinterBox(printer.Chosen));
        // Ticking one box clears the others; pressing a ticked box keeps it.
        Click(setup, 102);
        Click(setup, 102);
        std::vector<bool> now;
        for (size_t i = 0; i < setup.Listed(); ++i) now.push_back(setup.PrinterBox(i).Checked);
        ticks.push_back(now);
        EXPECT_TRUE(setup.Running());
        setup.Key(confirm ? ql::TDialogKey::Enter : ql::TDialogKey::Escape);
    };
    TOrbPrintDialog dialog(*project, pictures, &printer, user, u"");
    confirm = false;
    Click(dialog, kIdChangePrinter);
    EXPECT_EQ(printer.Chosen, 1u);
    confirm = true;
    Click(dialog, kIdChangePrinter);
    EXPECT_EQ(printer.Chosen, 2u);
    EXPECT_TRUE(dialog.Running());  // the printer button keeps the print dialog open
    EXPECT_EQ(ticks, (std::vector<std::vector<bool>>{{false, false, true}, {false, false, true}}));
}

TEST(OrbPrintDialog, PrinterSetup_NoPrintersSaysSoAndLongListsAreCut) {
    TPrinterSetupDialog none({}, 0);
    EXPECT_EQ(none.Listed(), 0u);
    EXPECT_EQ(none.Items().front()->Text, u"No printer is set up.");
    EXPECT_EQ(none.Item(ql::kIdCancel), nullptr);
    none.Key(ql::TDialogKey::Enter);
    EXPECT_EQ(none.Result, ql::kIdOk);

    std::vector<std::u16string> many;
    for (int32_t i = 0; i < 40; ++i) many.push_back(u"printer " + ql::IntToStr(i));
    TPrinterSetupDialog cut(many, 30);
    EXPECT_EQ(cut.Listed(), TPrinterSetupDialog::kMaxListed);
    // A choice beyond the shown ones starts on the first.
    EXPECT_EQ(cut.Chosen(), 0u);
    EXPECT_LT(cut.PixelHeight(), 600);
}

TEST(OrbPrintDialog, PrinterRefusesThePage_TheUserMayKeepItAsAFile) {
    TFakePrinter printer;
    printer.Takes = false;
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 1);
    TScriptedUser user{ql::FromUtf8(folder.File("kept.png")), true};
    TOrbPrintDialog keep(*project, pictures, &printer, std::ref(user), u"");
    Click(keep, kIdPrint);
    EXPECT_FALSE(keep.Printed());
    EXPECT_EQ(user.Questions, 1);  // the offer, answered "Yes"
    EXPECT_EQ(user.Prompts, 1);
    EXPECT_EQ(keep.SavedFile(), user.Path);
    EXPECT_TRUE(std::filesystem::exists(folder.File("kept.png")));

    TScriptedUser declining{ql::FromUtf8(folder.File("never.png")), false};
    TOrbPrintDialog decline(*project, pictures, &printer, std::ref(declining), u"");
    Click(decline, kIdPrint);
    EXPECT_EQ(declining.Questions, 1);
    EXPECT_EQ(declining.Prompts, 0);
    EXPECT_FALSE(std::filesystem::exists(folder.File("never.png")));
    EXPECT_EQ(decline.Result, ql::kIdOk);
}

TEST(OrbPrintDialog, Print_WithoutPrinterPdfNameWritesALandscapeA4Page) {
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 0);
    // The extension decides, in any case.
    TScriptedUser user{ql::FromUtf8(folder.File("page.PDF"))};
    TOrbPrintDialog dialog(*project, pictures, nullptr, std::ref(user), u"");
    Click(dialog, kIdPrint);
    EXPECT_EQ(dialog.SavedFile(), user.Path);
    std::ifstream saved(folder.File("page.PDF"), std::ios::binary);
    const std::string pdf((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    // The 32 x 16 frame is wider than tall: the page turns, and the picture
    // fills its width, centred from top to bottom.
    EXPECT_NE(pdf.find("/MediaBox [0 0 842 595]"), std::string::npos);
    EXPECT_NE(pdf.find("/Width 32 /Height 16"), std::string::npos);
    EXPECT_NE(pdf.find("q 842 0 0 421 0 87 cm /Im0 Do Q"), std::string::npos);
}

TEST(OrbPrintDialog, Save_FrameUnderAPdfNameIsAPdf) {
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 0);
    TScriptedUser user{ql::FromUtf8(folder.File("frame.pdf"))};
    TOrbPrintDialog dialog(*project, pictures, nullptr, std::ref(user), u"");
    Click(dialog, kIdSave);
    std::ifstream saved(folder.File("frame.pdf"), std::ios::binary);
    char magic[5] = {};
    saved.read(magic, 5);
    EXPECT_EQ(std::string(magic, 5), "%PDF-");
}

TEST(OrbPrintDialog, OnlyMainImage_WithoutAShowFallsBackToTheFrame) {
    TTestFolder folder;
    const auto project = Project();
    TCallBackClass pictures(nullptr, Frame(), 2);
    TScriptedUser user{ql::FromUtf8(folder.File("frame.png"))};
    TOrbPrintDialog dialog(*project, pictures, nullptr, std::ref(user), u"");
    dialog.OnlyMainImage().Checked = true;
    Click(dialog, kIdSave);
    EXPECT_TRUE(std::filesystem::exists(folder.File("frame.png")));
}

TEST(OrbPrintDialog, SuggestedNames_KeepOnlyTheLastComponent) {
    EXPECT_EQ(LastNameComponent(u"C:\\pics\\..\\..\\holiday.jpg"), u"holiday.jpg");
    EXPECT_EQ(LastNameComponent(u"../../etc/passwd"), u"passwd");
    EXPECT_EQ(LastNameComponent(u".."), u"");
}

}  // namespace
}  // namespace orb
