// The print dialog: print the current slide, or save it (the frame, or the
// slide's main picture as its original bytes), with a save-path prompt of
// our own that asks before replacing a file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/qlOrbPasswordDialog.h"
#include "OrbLib2/qlDialogs.h"
#include "QlLib/Graphics/qlBitmap.h"

namespace ql {
class TIniStorage;
}

namespace orb {

class TOrbShowLocator;

inline constexpr uint16_t kIdChangePrinter = 1000, kIdPrint = 1001, kIdSave = 1002;
inline constexpr uint16_t kIdYes = 6, kIdNo = 7;

// Where a picture goes on a page: proportions kept, centred.
struct TPrintPlacement {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool Landscape = false;
};
// Page sizes are of the page in the orientation chosen for the picture.
TPrintPlacement FitToPage(int32_t pictureWidth, int32_t pictureHeight, int32_t pageWidth, int32_t pageHeight);

enum TPictureKind : int32_t { pkMainPicture = 0, pkFrame = 1, pkMainPictureFile = 2 };

struct TPictureAnswer {
    bool Ok = false;
    int32_t SlideIndex = -1;
    std::u16string FileName;             // the last component only
    std::unique_ptr<ql::TBitmap> Bitmap;  // kinds 0 and 1
    std::vector<uint8_t> Bytes;          // kind 2: the file to write
};

// The pictures the print dialog may print or save.
class TCallBackClass {
public:
    // `show` may be null (then only the frame is there); slideIndex -1: none.
    TCallBackClass(TOrbShowLocator* show, std::shared_ptr<const ql::TBitmap> frame, int32_t slideIndex)
        : m_show(show), m_frame(std::move(frame)), m_slideIndex(slideIndex) {}
    TPictureAnswer Get(int32_t kind) const;

private:
    TOrbShowLocator* m_show;
    std::shared_ptr<const ql::TBitmap> m_frame;
    int32_t m_slideIndex;
};

// The printer: CUPS where a printer is set up; none prints by saving.
class TPrintServices {
public:
    virtual ~TPrintServices() = default;
    virtual bool HasPrinter() const = 0;
    // The printers to choose from, asked for afresh; empty when there is none.
    virtual std::vector<std::u16string> Printers() = 0;
    // Where prints go: an index into the list Printers() gave last.
    virtual size_t ChosenPrinter() const = 0;
    virtual void ChoosePrinter(size_t index) = 0;
    virtual bool Print(const ql::TBitmap& picture, const std::u16string& title) = 0;
};

// The printer choice behind "Change Printer": one box per printer, of which
// exactly one is ticked, then OK (1) or Cancel (2). Without printers it says
// so and offers OK only.
class TPrinterSetupDialog : public ql::TDialog {
public:
    // Longer lists show their first printers; a desk with more is rare and
    // the list must fit on the smallest screen.
    static constexpr size_t kMaxListed = 12;

    TPrinterSetupDialog(const std::vector<std::u16string>& printers, size_t chosen);
    // The ticked printer's index.
    size_t Chosen() const;
    ql::TDialogCheckBox& PrinterBox(size_t index) const { return *m_boxes[index]; }
    size_t Listed() const { return m_boxes.size(); }

private:
    std::vector<ql::TDialogCheckBox*> m_boxes;
};

// The prompt for a file to save to, prefilled with `suggested` in `folder`.
class TSavePathDialog : public ql::TDialog {
public:
    TSavePathDialog(const std::u16string& folder, const std::u16string& suggested);
    ql::TDialogEdit& Edit() const { return *m_edit; }

private:
    ql::TDialogEdit* m_edit;
};

// Asks before a file is replaced: "Yes" (6) or "No" (7).
class TConfirmDialog : public ql::TDialog {
public:
    TConfirmDialog(const std::u16string& caption, const std::u16string& question);
};

// The chosen path, after an overwrite confirmation where the file exists;
// nothing when the user cancelled.
std::optional<std::u16string> AskSavePath(const std::u16string& folder, const std::u16string& suggested,
                                          const TDialogRunner& run);

// A show names files with its own folders: only the last component is kept.
std::u16string LastNameComponent(const std::u16string& name);

class TOrbPrintDialog : public ql::TDialog {
public:
    // `printer` may be null. Saved files go where the user chooses, starting
    // in `saveFolder`.
    TOrbPrintDialog(const ql::TIniStorage& project, const TCallBackClass& pictures, TPrintServices* printer,
                    TDialogRunner run, std::u16string saveFolder);

    bool EndsDialog(uint16_t id) const override { return id < kIdChangePrinter || id > kIdSave; }
    ql::TDialogCheckBox& OnlyMainImage() const { return *m_onlyMain; }
    // The file written last; empty when none was.
    const std::u16string& SavedFile() const { return m_saved; }
    bool Printed() const { return m_printed; }

private:
    void DoChangePrinter();
    void DoPrint();
    void DoSave();
    bool SaveBytes(const std::u16string& suggested, const std::vector<uint8_t>& bytes);
    // A page in a PDF when the chosen name ends in ".pdf" (any case), else a PNG.
    bool SavePrintout(const std::u16string& suggested, const ql::TBitmap& picture);

    const TCallBackClass& m_pictures;
    TPrintServices* m_printer;
    TDialogRunner m_run;
    std::u16string m_folder;
    ql::TDialogCheckBox* m_onlyMain;
    std::u16string m_saved;
    bool m_printed = false;
};

}  // namespace orb
