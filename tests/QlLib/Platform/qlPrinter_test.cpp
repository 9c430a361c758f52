#include "QlLib/Platform/qlPrinter.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "QlLib/Platform/FakePrintScheduler.h"
#include "TestFolder.h"
#include "WaitSupport.h"

namespace ql {
namespace {

using test::At;
using test::LoopbackServer;
using test::Nowhere;
using test::ReturnsWithin;
using test::TTestFolder;

// A scheduler that takes connections (the kernel completes them from the
// backlog) but never says a word.
class TSilentScheduler {
public:
    TSilentScheduler() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 ||
            ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 8) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~TSilentScheduler() {
        if (m_socket >= 0) ::close(m_socket);
    }
    int32_t Port() const { return m_port; }

private:
    int m_socket = -1;
    int32_t m_port = 0;
};

bool Contains(const std::u16string& text, const std::u16string& part) {
    return text.find(part) != std::u16string::npos;
}

// Without a scheduler the call ends at the connection, before any request
// could wait for a reply.
TEST(Printer, NoScheduler_EmptyListWithReasonAtOnce) {
    TTestFolder folder;
    const TPrinterList list = GetPrinters(Nowhere(folder));
    EXPECT_TRUE(list.Printers.empty());
    EXPECT_TRUE(Contains(list.Reason, u"cannot be reached")) << ToUtf8(list.Reason);
    EXPECT_TRUE(DefaultPrinterName(list).empty());
}

TEST(Printer, NoScheduler_PrintFailsWithReasonAtOnce) {
    TTestFolder folder;
    const TPrintJobResult job =
        PrintFile(Nowhere(folder), u"office", folder.WideFile("page.png"), u"Slideshow", {});
    EXPECT_FALSE(job.Ok());
    EXPECT_TRUE(Contains(job.Reason, u"cannot be reached")) << ToUtf8(job.Reason);
}

// The scheduler is reached and then never answers: the request is given up
// on. The library retries once and waits a little between requests; without
// the reply limit the call never returns, which the guard turns into a
// failure instead of a hung run.
TEST(Printer, SilentScheduler_ListIsGivenUpWithinItsLimit) {
    TSilentScheduler scheduler;
    ASSERT_GT(scheduler.Port(), 0);
    TPrintServer server = LoopbackServer(scheduler.Port());
    server.ListReplyMs = 100;
    const TPrinterList list = ReturnsWithin([&] { return GetPrinters(server); });
    EXPECT_TRUE(list.Printers.empty());
    EXPECT_FALSE(list.Reason.empty());
    EXPECT_FALSE(Contains(list.Reason, u"cannot be reached")) << ToUtf8(list.Reason);
}

TEST(Printer, SilentScheduler_JobIsGivenUpWithinItsLimit) {
    TTestFolder folder;
    FILE* file = std::fopen(folder.File("page.png").c_str(), "wb");
    ASSERT_TRUE(file);
    std::fputs("not really a picture", file);
    std::fclose(file);
    TSilentScheduler scheduler;
    ASSERT_GT(scheduler.Port(), 0);
    TPrintServer server = LoopbackServer(scheduler.Port());
    server.JobReplyMs = 100;
    const TPrintJobResult job = ReturnsWithin([&] {
        return PrintFile(server, u"office", folder.WideFile("page.png"), u"Slideshow", {});
    });
    EXPECT_FALSE(job.Ok());
    EXPECT_FALSE(job.Reason.empty());
    EXPECT_FALSE(Contains(job.Reason, u"cannot be reached")) << ToUtf8(job.Reason);
}

TEST(Printer, UnusableNames_AreRefusedBeforeAskingTheScheduler) {
    TSilentScheduler scheduler;  // would hang the call past the guard if it were asked
    TPrintServer server = LoopbackServer(scheduler.Port());
    server.JobReplyMs = 60000;
    struct TCase {
        std::u16string printer, file, reason;
    };
    const TCase cases[] = {
        {u"", u"/tmp/x.png", u"no printer is chosen"},
        {std::u16string(u"office\0other", 12), u"/tmp/x.png", u"no printer is chosen"},
        {u"office", u"", u"no file to print"},
    };
    for (const TCase& c : cases) {
        const TPrintJobResult job =
            ReturnsWithin([&] { return PrintFile(server, c.printer, c.file, u"t", {}); });
        EXPECT_FALSE(job.Ok()) << ToUtf8(c.reason);
        EXPECT_EQ(job.Reason, c.reason);
    }
}

TEST(Printer, Scheduler_ListsItsPrintersAndMarksTheDefault) {
    test::TFakePrintScheduler scheduler({{"hall", "By the door"}, {"office", "Laser"}}, "office");
    ASSERT_GT(scheduler.Port(), 0);
    const TPrinterList list = GetPrinters(At(scheduler));
    ASSERT_EQ(list.Printers.size(), 2u) << ToUtf8(list.Reason);
    EXPECT_EQ(list.Printers[0].Name, u"hall");
    EXPECT_EQ(list.Printers[0].Description, u"By the door");
    EXPECT_FALSE(list.Printers[0].IsDefault);
    EXPECT_EQ(list.Printers[1].Name, u"office");
    EXPECT_EQ(DefaultPrinterName(list), u"office");
}

TEST(Printer, Scheduler_WithoutPrinters_EmptyListWithReason) {
    test::TFakePrintScheduler scheduler({}, "");
    const TPrinterList list = GetPrinters(At(scheduler));
    EXPECT_TRUE(list.Printers.empty());
    EXPECT_FALSE(list.Reason.empty());
}

TEST(Printer, Job_CarriesTitleOrientationFitAndTheFile) {
    TTestFolder folder;
    const std::string bytes = "\x89PNG pretend picture";
    FILE* file = std::fopen(folder.File("page.png").c_str(), "wb");
    ASSERT_TRUE(file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    test::TFakePrintScheduler scheduler({{"office", "Laser"}}, "office");
    TPrintJobOptions options;
    options.Orientation = TPrintOrientation::Landscape;
    const TPrintJobResult job =
        PrintFile(At(scheduler), u"office", folder.WideFile("page.png"), u"Slideshow", options);
    ASSERT_TRUE(job.Ok()) << ToUtf8(job.Reason);
    const auto jobs = scheduler.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(job.JobId, jobs[0].Id);
    EXPECT_EQ(jobs[0].Printer, "office");
    EXPECT_EQ(jobs[0].Attributes.at("job-name"), "Slideshow");
    EXPECT_EQ(jobs[0].Attributes.at("orientation-requested"), "4");
    EXPECT_EQ(jobs[0].Attributes.at("fit-to-page"), "true");
    EXPECT_EQ(jobs[0].Attributes.at("print-scaling"), "fit");
    EXPECT_EQ(jobs[0].Document, bytes);
    EXPECT_EQ(jobs[0].Attributes.at("document-format"),
              "application/octet-stream");  // guessed by the scheduler

    options.Orientation = TPrintOrientation::Portrait;
    options.FitToPage = false;
    options.DocumentFormat = "image/png";
    ASSERT_TRUE(
        PrintFile(At(scheduler), u"office", folder.WideFile("page.png"), u"Slideshow", options)
            .Ok());
    const auto second = scheduler.Jobs().at(1);
    EXPECT_EQ(second.Attributes.at("orientation-requested"), "3");
    EXPECT_EQ(second.Attributes.count("fit-to-page"), 0u);
    EXPECT_EQ(second.Attributes.at("document-format"), "image/png");
}

TEST(Printer, DefaultPrinterName_IsTheMarkedOne) {
    TPrinterList list;
    list.Printers = {{u"hall", u"", false}, {u"office", u"Laser", true}};
    EXPECT_EQ(DefaultPrinterName(list), u"office");
    list.Printers[1].IsDefault = false;
    EXPECT_TRUE(DefaultPrinterName(list).empty());
}

}  // namespace
}  // namespace ql
