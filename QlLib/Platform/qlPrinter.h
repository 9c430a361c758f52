// Printing through the CUPS scheduler: the destinations it knows, the default
// one, and one file sent as a job. No call waits without bound: a scheduler
// that is not running fails at once (the usual case on machines without
// printers), and one that accepts a connection but stays silent is given up
// after the reply limits below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ql {

// Which scheduler to ask.
struct TPrintServer {
    // Empty: the user's own choice (CUPS_SERVER, client.conf, else the local
    // socket). A name beginning with "/" is a local socket.
    std::u16string Address;
    int32_t Port = 0;  // 0: the configured IPP port
    int32_t ConnectTimeoutMs = 1500;
    // How long the scheduler may stay silent while it answers a question
    // about its printers, and while it takes a job (sending a large picture
    // to a busy spooler takes longer than listing its printers).
    int32_t ListReplyMs = 500;
    int32_t JobReplyMs = 10000;
};

struct TPrinterInfo {
    std::u16string Name;
    std::u16string Description;  // the printer's own description; may be empty
    bool IsDefault = false;
};

struct TPrinterList {
    std::vector<TPrinterInfo> Printers;  // in the scheduler's order
    std::u16string Reason;               // why the list is empty, for the log
};

enum class TPrintOrientation { Portrait, Landscape };

struct TPrintJobOptions {
    TPrintOrientation Orientation = TPrintOrientation::Portrait;
    bool FitToPage = true;  // scale the document to the printable area
    // The file's MIME type ("image/png"); empty lets the scheduler guess it.
    std::string DocumentFormat;
};

struct TPrintJobResult {
    int32_t JobId = 0;      // 0 when no job was accepted
    std::u16string Reason;  // why not, for the log
    bool Ok() const { return JobId > 0; }
};

// The scheduler's destinations (printer instances are left out: they share
// their printer's name). An empty list comes with the reason.
TPrinterList GetPrinters(const TPrintServer& server = {});

// The default destination's name; empty when the list has none marked.
std::u16string DefaultPrinterName(const TPrinterList& list);

// Sends one file as a job to the named destination. The scheduler has the
// file's bytes when this returns, so the caller may delete it.
TPrintJobResult PrintFile(const TPrintServer& server, const std::u16string& printer, const std::u16string& fileName,
                          const std::u16string& title, const TPrintJobOptions& options);

}  // namespace ql
