#include "QlLib/qlLog.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "QlLib/Platform/qlDebugOutput.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlCommands.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

const auto g_logModuleStart = std::chrono::steady_clock::now();

std::u16string Ascii(const char* text) { return Widen(text); }

std::u16string UpperHex(uint32_t value, int minDigits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", minDigits, value);
    return Ascii(buffer);
}

std::u16string ZeroPadded(int64_t value, int digits) {
    std::u16string text = IntToStr(value);
    while (static_cast<int>(text.size()) < digits) text.insert(text.begin(), u'0');
    return text;
}

}  // namespace

int64_t TickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t LogTicks() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 g_logModuleStart)
        .count();
}

std::u16string LogRealText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.16g", value);
    // The exponent is written the short way: "1E20", "1.5E-7".
    std::string text = buffer;
    const size_t e = text.find('e');
    if (e != std::string::npos) {
        std::string mantissa = text.substr(0, e);
        std::string exponent = text.substr(e + 1);
        const bool negative = !exponent.empty() && exponent[0] == '-';
        if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
        while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
        text = mantissa + "E" + (negative ? "-" : "") + exponent;
    }
    return Ascii(text.c_str());
}

// ---- TLog ----

TLog::TLog() : m_ticks(LogTicks) {}

std::u16string TLog::FormatLine(std::u16string_view message) {
    std::u16string line = m_prefix;
    if (ThreadIdOption()) {
        line += u'#';
        line += UpperHex(platform::CurrentThreadId(), 4);
        line += u' ';
    }
    if (TimeStampOption()) {
        line += u'[';
        line += IntToStr(m_ticks ? m_ticks() : LogTicks());
        line += u"] ";
    }
    line += message;
    return line;
}

void TLog::WriteLine(std::u16string_view message) { Output(FormatLine(message)); }

void TLog::WriteLine(std::string_view utf8Message) { WriteLine(std::u16string_view(FromUtf8(utf8Message))); }

void TLog::WriteInt(std::u16string_view lead, int64_t value, std::u16string_view trail) {
    std::u16string line(lead);
    line += IntToStr(value);
    line += trail;
    WriteLine(std::u16string_view(line));
}

void TLog::WriteReal(std::u16string_view lead, double value, std::u16string_view trail) {
    std::u16string line(lead);
    line += LogRealText(value);
    line += trail;
    WriteLine(std::u16string_view(line));
}

void TLog::WriteBool(std::u16string_view lead, bool value, std::u16string_view trail) {
    std::u16string line(lead);
    line += value ? u"True" : u"False";
    line += trail;
    WriteLine(std::u16string_view(line));
}

void TLog::WriteReals(std::u16string_view lead, std::span<const double> values,
                      std::u16string_view trail) {
    std::u16string line(lead);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) line += u", ";
        line += LogRealText(values[i]);
    }
    line += trail;
    WriteLine(std::u16string_view(line));
}

void TLog::WriteInts(std::u16string_view lead, std::span<const int64_t> values,
                     std::u16string_view trail) {
    std::u16string line(lead);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) line += u", ";
        line += IntToStr(values[i]);
    }
    line += trail;
    WriteLine(std::u16string_view(line));
}

void TLog::WriteElapsed(std::u16string_view lead, int64_t startTick, std::u16string_view trail) {
    WriteInt(lead, TickCount() - startTick, trail);
}

// ---- TStdLog, TExclLog ----

void TStdLog::Output(std::u16string_view line) { platform::DebugOutput(ToUtf8(line)); }

void TExclLog::WriteLine(std::u16string_view message) {
    TLockGuard<TCriticalSection> guard(m_lock);
    TLog::WriteLine(message);
}

// ---- TStreamLog ----

TStreamLog::TStreamLog(std::unique_ptr<TFileStream> stream)
    : m_owned(std::move(stream)), m_stream(m_owned.get()) {}

TStreamLog::TStreamLog(TFileStream* borrowedStream) : m_stream(borrowedStream) {}

TStreamLog::~TStreamLog() { TStreamLog::CloseStream(); }

void TStreamLog::CloseStream() {
    TLockGuard<TCriticalSection> guard(m_lock);
    m_stream = nullptr;
    m_owned.reset();
}

void TStreamLog::Output(std::u16string_view line) {
    // Called under m_lock by WriteLine.
    if (!m_stream) return;
    try {
        if (m_stream->GetSize() == 0) {
            static const uint8_t kBom[3] = {0xEF, 0xBB, 0xBF};
            m_stream->WriteBuffer(kBom, sizeof kBom);
        }
        std::string bytes = ToUtf8(line);
        bytes += "\r\n";
        m_stream->WriteBuffer(bytes.data(), bytes.size());
    } catch (...) {
        // A full disk or a vanished file must not take the program down with it.
    }
}

// ---- TFileLog ----

std::u16string DefaultLogFileName(const std::u16string& programFileName) {
    const size_t slash = programFileName.find_last_of(u"/\\");
    const size_t dot = programFileName.rfind(u'.');
    const bool hasExtension = dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    return (hasExtension ? programFileName.substr(0, dot) : programFileName) + u".log";
}

namespace {
std::unique_ptr<TFileStream> OpenLogFile(const std::u16string& fileName, bool append) {
    try {
        auto stream = std::make_unique<TFileStream>(
            fileName, TFileAccess::ReadWrite, kShareRead,
            append ? TFileDisposition::OpenAlways : TFileDisposition::CreateAlways);
        if (append) stream->SetPosition(stream->GetSize());
        return stream;
    } catch (...) {
        return nullptr;
    }
}

std::u16string ResolveLogFileName(const std::u16string& fileName) {
    return fileName.empty() ? DefaultLogFileName(TFileAPI::ProgramFileName()) : fileName;
}
}  // namespace

TFileLog::TFileLog(const std::u16string& fileName, bool append)
    : TStreamLog(OpenLogFile(ResolveLogFileName(fileName), append)),
      m_fileName(ResolveLogFileName(fileName)) {}

// ---- the global log ----

namespace {
struct TGlobalLogHolder {
    std::mutex Lock;  // guards replacement; writers go through Current
    std::unique_ptr<TLog> Owned = std::make_unique<TLog>();
    std::atomic<TLog*> Current{Owned.get()};
};

TGlobalLogHolder& Holder() {
    static TGlobalLogHolder holder;
    return holder;
}
}  // namespace

TLog& GlobalLog() { return *Holder().Current.load(std::memory_order_acquire); }

void SetGlobalLog(std::unique_ptr<TLog> log) {
    TGlobalLogHolder& holder = Holder();
    std::unique_ptr<TLog> previous;
    {
        std::lock_guard<std::mutex> lock(holder.Lock);
        if (log && log.get() == holder.Owned.get()) {
            (void)log.release();  // already ours; two owners would free it twice
            return;
        }
        if (!log) log = std::make_unique<TLog>();
        previous = std::move(holder.Owned);
        holder.Owned = std::move(log);
        holder.Current.store(holder.Owned.get(), std::memory_order_release);
    }
}

bool ChooseLogFromCommandLine(const TCommandsStorage& commands, const std::u16string& logFileName) {
    // The log switches are matched exactly, unlike the other switches: "-LOG"
    // does not start a log.
    if (commands.HasRawToken(u"-filelog")) {
        SetGlobalLog(std::make_unique<TFileLog>(logFileName));
        return true;
    }
    if (commands.HasRawToken(u"-log")) {
        SetGlobalLog(std::make_unique<TStdLog>());
        return true;
    }
    return false;
}

// ---- banners ----

std::u16string FormatDatePattern(std::u16string_view pattern, const platform::TDateTimeParts& time) {
    std::u16string text;
    size_t i = 0;
    while (i < pattern.size()) {
        const char16_t letter = LowerChar(pattern[i]);
        int64_t value = -1;
        if (letter == u'd') value = time.Day;
        else if (letter == u'm') value = time.Month;
        else if (letter == u'y') value = time.Year;
        if (value < 0) {
            text += pattern[i++];
            continue;
        }
        size_t run = 0;
        while (i < pattern.size() && LowerChar(pattern[i]) == letter) {
            ++run;
            ++i;
        }
        const std::u16string digits = ZeroPadded(value, static_cast<int>(run));
        text += digits.substr(digits.size() - run);
    }
    return text;
}

std::u16string BannerDateTimeText(const platform::TDateTimeParts& time) {
    std::u16string text = FormatDatePattern(u"DD.MM.YYYY", time);
    text += u' ';
    text += ZeroPadded(time.Hour, 2) + u':' + ZeroPadded(time.Minute, 2) + u':' +
            ZeroPadded(time.Second, 2) + u'.' + ZeroPadded(time.Millisecond, 3);
    return text;
}

namespace {
const std::u16string kEquals(64, u'=');
const std::u16string kHyphens(64, u'-');

// Switches the line decorations off while a banner is written.
class TPlainLines {
public:
    explicit TPlainLines(TLog& log)
        : m_log(log), m_threadId(log.ThreadIdOption()), m_timeStamp(log.TimeStampOption()) {
        log.SetThreadIdOption(false);
        log.SetTimeStampOption(false);
    }
    ~TPlainLines() {
        m_log.SetThreadIdOption(m_threadId);
        m_log.SetTimeStampOption(m_timeStamp);
    }

private:
    TLog& m_log;
    bool m_threadId;
    bool m_timeStamp;
};

std::atomic<int64_t> g_startTick{0};
}  // namespace

void WriteStartBanner(TLog& log, const std::u16string& programFileName,
                      const platform::TDateTimeParts& started) {
    TPlainLines plain(log);
    log.WriteLine(u"");
    log.WriteLine(std::u16string_view(kEquals));
    log.WriteLine(std::u16string_view(u"Program : " + programFileName));
    log.WriteLine(std::u16string_view(u"started : " + BannerDateTimeText(started)));
    log.WriteLine(std::u16string_view(kEquals));
}

void WriteStopBanner(TLog& log, const platform::TDateTimeParts& stopped, int64_t workMs) {
    TPlainLines plain(log);
    log.WriteLine(u"");
    log.WriteLine(std::u16string_view(kHyphens));
    log.WriteLine(std::u16string_view(u"Program stoped : " + BannerDateTimeText(stopped) +
                                      u" (work time : " + IntToStr(workMs) + u" ms)"));
    log.WriteLine(std::u16string_view(kHyphens));
}

void WriteStartBanner() {
    g_startTick.store(TickCount());
    WriteStartBanner(GlobalLog(), TFileAPI::ProgramFileName(), platform::LocalTimeNow());
}

void WriteStopBanner() {
    WriteStopBanner(GlobalLog(), platform::LocalTimeNow(), TickCount() - g_startTick.load());
}

}  // namespace ql
