#include "OrbLib2/OrbViewer/qlOrbPrintServices.h"

#include <algorithm>

#include "QlLib/Graphics/qlPdfWriter.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlTempManager.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

void Log(const std::u16string& line) { ql::GlobalLog().WriteLine(u"Print: " + line); }

// The file's folder is this program's own (made private by the temporary
// folder support), so no other user can swap the picture before it is sent.
bool WritePicture(const std::u16string& fileName, const ql::TBitmap& picture, std::u16string& reason) {
    try {
        const std::vector<uint8_t> png = ql::EncodePng(picture);
        ql::TFileStream stream(fileName, ql::TFileAccess::Write, ql::kShareNone, ql::TFileDisposition::CreateNew);
        if (stream.Write(png.data(), png.size()) == png.size()) return true;
        reason = u"the picture cannot be written to " + fileName;
    } catch (const ql::Exception& e) {
        reason = u"the picture cannot be written: " + ql::FromUtf8(e.Message());
    }
    return false;
}

}  // namespace

TCupsPrintServices::TCupsPrintServices(ql::TPrintServer server) : m_server(std::move(server)) {}

void TCupsPrintServices::List() const {
    const std::u16string current = m_printers.empty() ? std::u16string() : m_printers[m_chosen];
    const ql::TPrinterList list = ql::GetPrinters(m_server);
    m_listed = true;
    m_printers.clear();
    for (const ql::TPrinterInfo& info : list.Printers) m_printers.push_back(info.Name);
    m_reason = list.Reason;
    // Keep the printer the user chose while it is there, else the default one.
    auto found = std::find(m_printers.begin(), m_printers.end(), current);
    if (current.empty() || found == m_printers.end())
        found = std::find(m_printers.begin(), m_printers.end(), ql::DefaultPrinterName(list));
    m_chosen = found == m_printers.end() ? 0 : size_t(found - m_printers.begin());
    if (m_printers.empty()) Log(u"no printer (" + m_reason + u")");
}

bool TCupsPrintServices::HasPrinter() const {
    if (!m_listed) List();
    return !m_printers.empty();
}

std::u16string TCupsPrintServices::PrinterName() const {
    return HasPrinter() ? m_printers[m_chosen] : std::u16string();
}

std::vector<std::u16string> TCupsPrintServices::Printers() {
    List();
    return m_printers;
}

size_t TCupsPrintServices::ChosenPrinter() const {
    if (!m_listed) List();
    return m_chosen;
}

void TCupsPrintServices::ChoosePrinter(size_t index) {
    if (index >= m_printers.size()) return;
    m_chosen = index;
    Log(u"printer " + m_printers[m_chosen]);
}

bool TCupsPrintServices::Print(const ql::TBitmap& picture, const std::u16string& title) {
    if (!HasPrinter()) return false;
    if (picture.Width() <= 0 || picture.Height() <= 0) {
        m_reason = u"the picture is empty";
        return false;
    }
    std::u16string folder;
    try {
        folder = ql::TTempManager::Instance().NewFolder(true);
    } catch (const ql::Exception& e) {
        m_reason = u"no temporary folder: " + ql::FromUtf8(e.Message());
        Log(m_reason);
        return false;
    }
    const std::u16string fileName = folder + u"Slideshow.png";
    bool printed = false;
    if (WritePicture(fileName, picture, m_reason)) {
        ql::TPrintJobOptions options;
        options.Orientation = FitToPage(picture.Width(), picture.Height(), ql::kA4WidthPt, ql::kA4HeightPt).Landscape
                                  ? ql::TPrintOrientation::Landscape
                                  : ql::TPrintOrientation::Portrait;
        options.FitToPage = true;
        options.DocumentFormat = "image/png";
        const ql::TPrintJobResult job = ql::PrintFile(m_server, m_printers[m_chosen], fileName, title, options);
        printed = job.Ok();
        m_reason = job.Reason;
        if (printed) Log(u"job " + ql::IntToStr(job.JobId) + u" on " + m_printers[m_chosen]);
    }
    if (!printed) Log(m_reason);
    // The spooler holds its own copy once the job is accepted.
    ql::TFileAPI::DeleteFile(fileName);
    ql::TFileAPI::RemoveDirectory(folder);
    return printed;
}

}  // namespace orb
