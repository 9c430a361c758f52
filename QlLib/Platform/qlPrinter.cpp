#include "QlLib/Platform/qlPrinter.h"

#include <cups/cups.h>

#include <algorithm>
#include <memory>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

struct THttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using THttp = std::unique_ptr<http_t, THttpCloser>;

struct TDestsFree {
    int count;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

// Without a limit the library waits for an answer for ever: a scheduler that
// accepts the connection and then hangs would freeze the player. Returning 0
// tells the library to give up the request.
int GiveUpOnSilence(http_t*, void*) { return 0; }

std::u16string LastCupsError(const char* what) {
    const char* text = cupsLastErrorString();
    return FromUtf8(what) + u": " + FromUtf8(text && *text ? text : "unknown error");
}

// The connection to the scheduler, or null with the reason.
THttp Connect(const TPrintServer& server, int32_t replyMs, std::u16string& reason) {
    const std::string host = server.Address.empty() ? std::string(cupsServer()) : ToUtf8(server.Address);
    if (host.empty() || host.find('\0') != std::string::npos) {
        reason = u"no print scheduler is configured";
        return nullptr;
    }
    const int port = server.Port > 0 ? server.Port : ippPort();
    THttp http(httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                            std::max(server.ConnectTimeoutMs, 1), nullptr));
    if (!http) {
        reason = u"the print scheduler at " + FromUtf8(host) + u" cannot be reached";
        return nullptr;
    }
    httpSetTimeout(http.get(), std::max(replyMs, 1) / 1000.0, GiveUpOnSilence, nullptr);
    return http;
}

// A destination name travels as a C string: an embedded zero would send the
// job to another printer.
bool IsUsableName(const std::u16string& name) {
    return !name.empty() && name.find(u'\0') == std::u16string::npos;
}

}  // namespace

TPrinterList GetPrinters(const TPrintServer& server) {
    TPrinterList list;
    THttp http = Connect(server, server.ListReplyMs, list.Reason);
    if (!http) return list;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http.get(), &dests);
    std::unique_ptr<cups_dest_t, TDestsFree> owner(dests, TDestsFree{count});
    if (count <= 0 || !dests) {
        list.Reason = cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE ? LastCupsError("printer list")
                                                                      : u"the print scheduler has no printers";
        return list;
    }
    bool defaultInstance = false;
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        if (!dest.name || !*dest.name) continue;
        if (dest.instance) {
            // An instance chosen as the default makes its printer the default.
            defaultInstance = defaultInstance || dest.is_default;
            continue;
        }
        TPrinterInfo info;
        info.Name = FromUtf8(dest.name);
        const char* description = cupsGetOption("printer-info", dest.num_options, dest.options);
        if (description) info.Description = FromUtf8(description);
        info.IsDefault = dest.is_default != 0;
        list.Printers.push_back(std::move(info));
    }
    if (defaultInstance) {
        for (int i = 0; i < count; ++i) {
            if (!dests[i].instance || !dests[i].is_default || !dests[i].name) continue;
            const std::u16string name = FromUtf8(dests[i].name);
            for (TPrinterInfo& info : list.Printers) info.IsDefault = info.IsDefault || info.Name == name;
        }
    }
    if (list.Printers.empty()) list.Reason = u"the print scheduler has no printers";
    return list;
}

std::u16string DefaultPrinterName(const TPrinterList& list) {
    for (const TPrinterInfo& info : list.Printers) {
        if (info.IsDefault) return info.Name;
    }
    return {};
}

TPrintJobResult PrintFile(const TPrintServer& server, const std::u16string& printer, const std::u16string& fileName,
                          const std::u16string& title, const TPrintJobOptions& options) {
    TPrintJobResult result;
    if (!IsUsableName(printer)) {
        result.Reason = u"no printer is chosen";
        return result;
    }
    if (!IsUsableName(fileName)) {
        result.Reason = u"no file to print";
        return result;
    }
    THttp http = Connect(server, server.JobReplyMs, result.Reason);
    if (!http) return result;

    cups_option_t* jobOptions = nullptr;
    int optionCount = 0;
    optionCount = cupsAddOption("orientation-requested",
                                options.Orientation == TPrintOrientation::Landscape ? "4" : "3", optionCount,
                                &jobOptions);
    if (options.FitToPage) {
        // Older filters read "fit-to-page", IPP Everywhere printers "print-scaling".
        optionCount = cupsAddOption("fit-to-page", "true", optionCount, &jobOptions);
        optionCount = cupsAddOption("print-scaling", "fit", optionCount, &jobOptions);
    }
    // A driverless queue on another machine may not guess the type itself.
    if (!options.DocumentFormat.empty() && options.DocumentFormat.find('\0') == std::string::npos) {
        optionCount = cupsAddOption("document-format", options.DocumentFormat.c_str(), optionCount, &jobOptions);
    }
    std::string jobTitle = ToUtf8(title);
    jobTitle.erase(std::find(jobTitle.begin(), jobTitle.end(), '\0'), jobTitle.end());
    const int job = cupsPrintFile2(http.get(), ToUtf8(printer).c_str(), ToUtf8(fileName).c_str(), jobTitle.c_str(),
                                   optionCount, jobOptions);
    cupsFreeOptions(optionCount, jobOptions);
    if (job <= 0) {
        result.Reason = LastCupsError("print job");
        return result;
    }
    result.JobId = job;
    return result;
}

}  // namespace ql
