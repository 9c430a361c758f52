#include "OrbLib2/OrbViewer/qlOrbPrintDialog.h"

#include <algorithm>

#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlPdfWriter.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlRunPolicy.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// A main picture's file is copied whole; larger ones are not offered.
constexpr int64_t kLargestPictureFile = int64_t(256) << 20;

bool IsJpegName(const std::u16string& name) {
    const auto dot = name.find_last_of(u'.');
    if (dot == std::u16string::npos) return false;
    const std::u16string extension = ql::LowerCase(name.substr(dot));
    return extension == u".jpg" || extension == u".jpeg" || extension == u".jpe" ||
           extension == u".jfif";
}

std::u16string WithExtension(const std::u16string& name, const std::u16string& extension) {
    const auto dot = name.find_last_of(u'.');
    return (dot == std::u16string::npos ? name : name.substr(0, dot)) + extension;
}

std::unique_ptr<ql::TBitmap> CopyOf(const ql::TBitmap& bitmap) {
    auto copy = ql::CreateBitmap(bitmap.Width(), bitmap.Height(), bitmap.PixelFormat());
    copy->CopyRect(bitmap.Bounds(), bitmap, {0, 0});
    return copy;
}

bool WriteFile(const std::u16string& fileName, const std::vector<uint8_t>& bytes) {
    try {
        ql::TFileStream stream(fileName, ql::TFileAccess::Write, ql::kShareNone,
                               ql::TFileDisposition::CreateAlways);
        return stream.Write(bytes.data(), bytes.size()) == bytes.size();
    } catch (const ql::Exception&) {
        return false;
    }
}

std::u16string FrameName(int32_t slideIndex, const std::u16string& extension = u".png") {
    return u"Slide" + ql::IntToStr(int64_t(slideIndex) + 1) + extension;
}

bool IsPdfName(const std::u16string& name) {
    return name.size() >= 4 && ql::LowerCase(name.substr(name.size() - 4)) == u".pdf";
}

// One A4 page, turned to the picture's orientation, with the picture fitted and centred.
std::vector<uint8_t> PdfPage(const ql::TBitmap& picture) {
    const TPrintPlacement probe =
        FitToPage(picture.Width(), picture.Height(), ql::kA4WidthPt, ql::kA4HeightPt);
    ql::TPdfPageLayout layout;
    layout.PageWidth = probe.Landscape ? ql::kA4HeightPt : ql::kA4WidthPt;
    layout.PageHeight = probe.Landscape ? ql::kA4WidthPt : ql::kA4HeightPt;
    const TPrintPlacement placement =
        FitToPage(picture.Width(), picture.Height(), layout.PageWidth, layout.PageHeight);
    layout.Left = placement.Left;
    layout.Top = placement.Top;
    // A picture far thinner than the page still shows as a hairline.
    layout.Width = std::max(placement.Width, 1);
    layout.Height = std::max(placement.Height, 1);
    return ql::EncodePdf(picture, layout, u"Slideshow");
}

}  // namespace

TPrintPlacement FitToPage(int32_t pictureWidth, int32_t pictureHeight, int32_t pageWidth,
                          int32_t pageHeight) {
    TPrintPlacement placement;
    placement.Landscape = pictureWidth > pictureHeight;
    if (pictureWidth <= 0 || pictureHeight <= 0 || pageWidth <= 0 || pageHeight <= 0)
        return placement;
    int64_t width = int64_t(pictureWidth) * pageHeight / pictureHeight;
    int64_t height = pageHeight;
    if (width >= pageWidth) {
        width = pageWidth;
        height = int64_t(pictureHeight) * pageWidth / pictureWidth;
    }
    placement.Width = int32_t(width);
    placement.Height = int32_t(height);
    placement.Left = int32_t((pageWidth - width) / 2);
    placement.Top = int32_t((pageHeight - height) / 2);
    return placement;
}

std::u16string LastNameComponent(const std::u16string& name) {
    return ql::SafeSaveFileName(name, u"");
}

TPictureAnswer TCallBackClass::Get(int32_t kind) const {
    TPictureAnswer answer;
    answer.SlideIndex = m_slideIndex;
    if (kind == pkFrame) {
        if (!m_frame) return answer;
        answer.Bitmap = CopyOf(*m_frame);
        answer.FileName = FrameName(m_slideIndex);
        answer.Ok = true;
        return answer;
    }
    if (!m_show || m_slideIndex < 0) return answer;
    const std::u16string section = u"slide" + ql::IntToStr(int64_t(m_slideIndex) + 1);
    const std::u16string picture = m_show->Project().ReadString(section, u"picture", u"");
    if (picture.empty()) return answer;
    answer.FileName = LastNameComponent(picture);
    try {
        if (kind == pkMainPictureFile && IsJpegName(picture)) {
            auto stream = m_show->Accessor().OpenStream(picture);
            if (!stream) return answer;
            const int64_t size = stream->GetSize();
            if (size <= 0 || size > kLargestPictureFile) return answer;
            answer.Bytes.resize(size_t(size));
            stream->ReadBuffer(answer.Bytes.data(), answer.Bytes.size());
            answer.Ok = true;
            return answer;
        }
        auto image = m_show->Accessor().OpenImage(picture);
        if (!image) return answer;
        const auto store = image->BitmapStore();
        ql::TBitmap* bitmap = store ? store->GetBitmap(0) : nullptr;
        if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return answer;
        if (kind == pkMainPicture) {
            answer.Bitmap = CopyOf(*bitmap);
        } else {
            answer.Bytes = ql::EncodePng(*bitmap);
            answer.FileName = WithExtension(answer.FileName, u".png");
        }
        answer.Ok = true;
    } catch (const ql::Exception&) {
        answer = TPictureAnswer{};
        answer.SlideIndex = m_slideIndex;
    }
    return answer;
}

TSavePathDialog::TSavePathDialog(const std::u16string& folder, const std::u16string& suggested) {
    Text = u"Save As";
    Width = 300;
    Height = 80;
    auto& label = Add<ql::TDialogStatic>(0xFFFF, u"File name:", 8, 8);
    label.Width = 284;
    m_edit = &Add<ql::TDialogEdit>(
        100,
        folder.empty() || folder.back() == u'/' ? folder + suggested : folder + u"/" + suggested, 8,
        22);
    m_edit->Width = 284;
    m_edit->Height = 14;
    auto& ok = Add<ql::TDialogButton>(ql::kIdOk, u"Save", 160, 50);
    ok.Kind = 1;
    ok.Width = 62;
    Add<ql::TDialogButton>(ql::kIdCancel, u"Cancel", 230, 50).Width = 62;
    Focus(*m_edit);
}

TConfirmDialog::TConfirmDialog(const std::u16string& caption, const std::u16string& question) {
    Text = caption;
    Width = 260;
    Height = 60;
    Add<ql::TDialogStatic>(0xFFFF, question, 8, 8).Width = 244;
    auto& yes = Add<ql::TDialogButton>(kIdYes, u"Yes", 120, 36);
    yes.Width = 62;
    Add<ql::TDialogButton>(kIdNo, u"No", 190, 36).Width = 62;
    yes.Kind = 1;
}

TPrinterSetupDialog::TPrinterSetupDialog(const std::vector<std::u16string>& printers,
                                         size_t chosen) {
    Text = u"Print Setup";
    Width = 220;
    const size_t listed = std::min(printers.size(), kMaxListed);
    Add<ql::TDialogStatic>(0xFFFF, listed == 0 ? u"No printer is set up." : u"Printer:", 8, 8)
        .Width = 204;
    for (size_t i = 0; i < listed; ++i) {
        auto& box =
            Add<ql::TDialogCheckBox>(uint16_t(100 + i), printers[i], 16, int32_t(22 + 14 * i));
        box.Width = 196;
        box.Height = 10;
        box.Checked = i == (chosen < listed ? chosen : 0);
        // The boxes act as one choice: the one pressed is ticked, the others not.
        box.OnClick = [this, i] {
            for (size_t k = 0; k < m_boxes.size(); ++k) m_boxes[k]->Checked = k == i;
        };
        m_boxes.push_back(&box);
    }
    const int32_t buttonsTop = int32_t(26 + 14 * listed);
    Height = buttonsTop + 24;
    auto& ok = Add<ql::TDialogButton>(ql::kIdOk, u"OK", listed == 0 ? 150 : 82, buttonsTop);
    ok.Width = 62;
    ok.Kind = 1;
    if (listed > 0) Add<ql::TDialogButton>(ql::kIdCancel, u"Cancel", 150, buttonsTop).Width = 62;
    if (listed > 0) Focus(*m_boxes[Chosen()]);
}

size_t TPrinterSetupDialog::Chosen() const {
    for (size_t i = 0; i < m_boxes.size(); ++i)
        if (m_boxes[i]->Checked) return i;
    return 0;
}

std::optional<std::u16string> AskSavePath(const std::u16string& folder,
                                          const std::u16string& suggested,
                                          const TDialogRunner& run) {
    if (!run) return std::nullopt;
    std::u16string current = suggested;
    std::u16string currentFolder = folder;
    // Each "No" to replacing asks for the name again; the user ends it with Cancel.
    for (int32_t attempt = 0; attempt < 100; ++attempt) {
        TSavePathDialog dialog(currentFolder, current);
        run(dialog);
        const std::u16string chosen = ql::TrimBlanks(dialog.Edit().Text);
        if (dialog.Result != ql::kIdOk || chosen.empty() || chosen.back() == u'/')
            return std::nullopt;
        if (!ql::TFileAPI::FileExists(chosen)) return chosen;
        TConfirmDialog confirm(
            u"Confirm Save As",
            LastNameComponent(chosen) + u" already exists.\rDo you want to replace it?");
        run(confirm);
        if (confirm.Result == kIdYes) return chosen;
        const auto slash = chosen.find_last_of(u'/');
        currentFolder =
            slash == std::u16string::npos ? std::u16string() : chosen.substr(0, slash + 1);
        current = LastNameComponent(chosen);
    }
    return std::nullopt;
}

TOrbPrintDialog::TOrbPrintDialog(const ql::TIniStorage& project, const TCallBackClass& pictures,
                                 TPrintServices* printer, TDialogRunner run,
                                 std::u16string saveFolder)
    : m_pictures(pictures),
      m_printer(printer),
      m_run(std::move(run)),
      m_folder(std::move(saveFolder)) {
    Text = project.ReadString(u"main", u"opt_lng_print_caption", u"Print");
    Width = 282;
    Height = 86;
    auto button = [&](uint16_t id, const char16_t* key, const char16_t* text, int32_t x,
                      int32_t y) -> auto& {
        auto& item = Add<ql::TDialogButton>(id, project.ReadString(u"main", key, text), x, y);
        item.Width = 125;
        item.Height = 28;
        return item;
    };
    button(kIdPrint, u"opt_lng_print_button5", u"Print", 12, 12).OnClick = [this] { DoPrint(); };
    button(kIdSave, u"opt_lng_print_button6", u"Save", 145, 12).OnClick = [this] { DoSave(); };
    m_onlyMain = &Add<ql::TDialogCheckBox>(
        1003, project.ReadString(u"main", u"opt_lng_print_button7", u"Only Main Image"), 145, 49);
    m_onlyMain->Width = 125;
    m_onlyMain->Height = 10;
    auto& change = button(kIdChangePrinter, u"opt_lng_print_label", u"Change Printer", 12, 49);
    change.Height = 22;
    change.OnClick = [this] { DoChangePrinter(); };
}

void TOrbPrintDialog::DoChangePrinter() {
    if (!m_printer || !m_run) return;
    const std::vector<std::u16string> printers = m_printer->Printers();
    TPrinterSetupDialog setup(printers, m_printer->ChosenPrinter());
    m_run(setup);
    if (setup.Result == ql::kIdOk && setup.Listed() > 0) m_printer->ChoosePrinter(setup.Chosen());
}

bool TOrbPrintDialog::SaveBytes(const std::u16string& suggested,
                                const std::vector<uint8_t>& bytes) {
    const auto path = AskSavePath(m_folder, LastNameComponent(suggested), m_run);
    if (!path || !WriteFile(*path, bytes)) return false;
    m_saved = *path;
    return true;
}

bool TOrbPrintDialog::SavePrintout(const std::u16string& suggested, const ql::TBitmap& picture) {
    const auto path = AskSavePath(m_folder, LastNameComponent(suggested), m_run);
    if (!path) return false;
    try {
        if (!WriteFile(*path, IsPdfName(*path) ? PdfPage(picture) : ql::EncodePng(picture)))
            return false;
    } catch (const ql::Exception&) {
        return false;
    }
    m_saved = *path;
    return true;
}

void TOrbPrintDialog::DoPrint() {
    TPictureAnswer picture;
    if (m_onlyMain->Checked) picture = m_pictures.Get(pkMainPicture);
    if (!picture.Ok) picture = m_pictures.Get(pkFrame);
    if (picture.Ok && picture.Bitmap && picture.Bitmap->Width() > 0 &&
        picture.Bitmap->Height() > 0) {
        if (m_printer && m_printer->HasPrinter()) {
            m_printed = m_printer->Print(*picture.Bitmap, u"Slideshow");
            // A printer that refuses the page (stopped, gone, out of reach)
            // need not lose it: the user may keep it as a file.
            if (!m_printed && m_run) {
                TConfirmDialog offer(
                    Text,
                    u"The page could not be printed.\rDo you want to save it to a file instead?");
                m_run(offer);
                if (offer.Result == kIdYes)
                    SavePrintout(FrameName(picture.SlideIndex, u".pdf"), *picture.Bitmap);
            }
        } else {
            // Without a printer the page is kept as a file the user names: a
            // PDF as suggested, a PNG under any other name.
            SavePrintout(FrameName(picture.SlideIndex, u".pdf"), *picture.Bitmap);
        }
    }
    Result = ql::kIdOk;
}

void TOrbPrintDialog::DoSave() {
    bool done = false;
    if (m_onlyMain->Checked) {
        const TPictureAnswer file = m_pictures.Get(pkMainPictureFile);
        if (file.Ok) {
            SaveBytes(file.FileName.empty() ? FrameName(file.SlideIndex) : file.FileName,
                      file.Bytes);
            done = true;
        }
    }
    if (!done) {
        const TPictureAnswer frame = m_pictures.Get(pkFrame);
        // A name ending in ".pdf" gets a PDF here too, not PNG bytes under the wrong name.
        if (frame.Ok && frame.Bitmap) SavePrintout(FrameName(frame.SlideIndex), *frame.Bitmap);
    }
    Result = ql::kIdOk;
}

}  // namespace orb
