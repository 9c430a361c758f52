// The diagnostic log: line formatting, the log classes, the process-wide log,
// and the start and stop banners.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "QlLib/Platform/qlSysInfo.h"
#include "QlLib/SysLock.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TCommandsStorage;

// Milliseconds on a steady clock; only differences mean anything.
int64_t TickCount();
// Milliseconds since the log module started; the time stamp of log lines.
int64_t LogTicks();

// The base log discards every line; descendants override Output. Options may be
// switched from any thread; they are read once per line.
class TLog : public TObj {
public:
    TLog();

    const std::u16string& Prefix() const { return m_prefix; }
    void SetPrefix(std::u16string prefix) { m_prefix = std::move(prefix); }
    bool ThreadIdOption() const { return m_threadId.load(); }
    void SetThreadIdOption(bool on) { m_threadId.store(on); }
    bool TimeStampOption() const { return m_timeStamp.load(); }
    void SetTimeStampOption(bool on) { m_timeStamp.store(on); }
    // Replaces the source of the time stamps (LogTicks by default).
    void SetTickSource(std::function<int64_t()> ticks) { m_ticks = std::move(ticks); }

    // Formats the message into a line and outputs it.
    virtual void WriteLine(std::u16string_view message);
    // Exception texts and other 8-bit UTF-8 messages.
    void WriteLine(std::string_view utf8Message);

    // Each helper writes one line: lead, the value, trail.
    void WriteInt(std::u16string_view lead, int64_t value, std::u16string_view trail = {});
    void WriteReal(std::u16string_view lead, double value, std::u16string_view trail = {});
    void WriteBool(std::u16string_view lead, bool value, std::u16string_view trail = {});
    void WriteReals(std::u16string_view lead, std::span<const double> values,
                    std::u16string_view trail = {});
    // A point is logged as its two coordinates, a rectangle as its four.
    void WriteInts(std::u16string_view lead, std::span<const int64_t> values,
                   std::u16string_view trail = {});
    // The milliseconds between startTick (a TickCount value) and now.
    void WriteElapsed(std::u16string_view lead, int64_t startTick, std::u16string_view trail = {});

    // The line WriteLine would output for message, options applied.
    std::u16string FormatLine(std::u16string_view message);

protected:
    // Receives each finished line; the base log drops it.
    virtual void Output(std::u16string_view line) {}

private:
    std::u16string m_prefix;
    std::atomic<bool> m_threadId{false};
    std::atomic<bool> m_timeStamp{false};
    std::function<int64_t()> m_ticks;
};

// Real numbers as the log writes them: 16 significant digits.
std::u16string LogRealText(double value);

// Lines go to the debug output (standard error).
class TStdLog : public TLog {
protected:
    void Output(std::u16string_view line) override;
};

// Whole lines are written under a lock, so lines of several threads never mix.
class TExclLog : public TLog {
public:
    void WriteLine(std::u16string_view message) override;
    using TLog::WriteLine;

protected:
    TCriticalSection m_lock;  // held while a line is formatted and output
};

// Lines go to a file stream as UTF-8 with CR LF; the first line of an empty
// stream gets the byte-order mark. Failures of the stream never raise: the line
// is lost.
class TStreamLog : public TExclLog {
public:
    // Writes to a stream it owns; nullptr gives a silent log.
    explicit TStreamLog(std::unique_ptr<TFileStream> stream);
    // Writes to a stream that the caller keeps alive and frees.
    explicit TStreamLog(TFileStream* borrowedStream);
    ~TStreamLog() override;

    // Stops writing; frees the stream when it is owned.
    virtual void CloseStream();
    bool HasStream() const { return m_stream != nullptr; }

protected:
    void Output(std::u16string_view line) override;

private:
    std::unique_ptr<TFileStream> m_owned;
    TFileStream* m_stream = nullptr;
};

// The log file next to the program.
class TFileLog : public TStreamLog {
public:
    // fileName empty: the program's file name with the extension ".log". Without
    // append the file is created anew. A file that cannot be opened gives a
    // silent log.
    explicit TFileLog(const std::u16string& fileName = {}, bool append = false);

    const std::u16string& FileName() const { return m_fileName; }

private:
    std::u16string m_fileName;
};

// The program's file name with its extension replaced by ".log".
std::u16string DefaultLogFileName(const std::u16string& programFileName);

// The process-wide log; a discarding TLog until one is set. Any thread may write
// to it; it is replaced only at start-up, before other threads run.
TLog& GlobalLog();
// Frees the previous log. Setting the current one again does nothing; nullptr
// installs a fresh discarding TLog.
void SetGlobalLog(std::unique_ptr<TLog> log);

// Installs a TFileLog for the switch "filelog", else a TStdLog for "log", else
// leaves the log as it is. Returns whether a log was installed.
bool ChooseLogFromCommandLine(const TCommandsStorage& commands,
                              const std::u16string& logFileName = {});

// Runs of D, M and Y (either case) become as many low-order digits of the day,
// month and year; other characters stay.
std::u16string FormatDatePattern(std::u16string_view pattern, const platform::TDateTimeParts& time);
// "DD.MM.YYYY hh:mm:ss.zzz".
std::u16string BannerDateTimeText(const platform::TDateTimeParts& time);

// The banners, written with the thread-id and time-stamp options off.
void WriteStartBanner(TLog& log, const std::u16string& programFileName,
                      const platform::TDateTimeParts& started);
void WriteStopBanner(TLog& log, const platform::TDateTimeParts& stopped, int64_t workMs);
// The program's own banners on the global log, with the real clock; the stop
// banner measures the work time from the start banner.
void WriteStartBanner();
void WriteStopBanner();

}  // namespace ql
