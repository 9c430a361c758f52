// The print dialog's printer on Linux: the destinations of the CUPS scheduler.
// The picture travels to the spooler as a PNG file; the spooler's filters fit
// it to the paper of the chosen printer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/qlOrbPrintDialog.h"
#include "QlLib/Platform/qlPrinter.h"

namespace orb {

class TCupsPrintServices : public TPrintServices {
public:
    // The scheduler is asked for its printers when they are first needed,
    // not here: building the print services never waits.
    explicit TCupsPrintServices(ql::TPrintServer server = {});

    bool HasPrinter() const override;
    // The scheduler's printers, asked for again, so that a printer added
    // meanwhile counts. The chosen one stays chosen while it is there; at
    // first, and when it is gone, the default printer is.
    std::vector<std::u16string> Printers() override;
    size_t ChosenPrinter() const override;
    // An index past the list changes nothing.
    void ChoosePrinter(size_t index) override;
    // False when there is no printer, the picture cannot be written or the
    // scheduler refuses the job; the reason goes to the log.
    bool Print(const ql::TBitmap& picture, const std::u16string& title) override;

    // Where a print goes; empty when there is no printer.
    std::u16string PrinterName() const;
    // Why the last list or print failed; empty after a success.
    const std::u16string& LastReason() const { return m_reason; }

private:
    void List() const;

    ql::TPrintServer m_server;
    // The list is filled on first use by the const HasPrinter.
    mutable bool m_listed = false;
    mutable std::vector<std::u16string> m_printers;
    mutable size_t m_chosen = 0;
    mutable std::u16string m_reason;
};

}  // namespace orb
