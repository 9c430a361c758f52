#include "QlLib/qpExceptions.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "QlLib/Platform/qlDebugOutput.h"

namespace ql {

namespace {
std::atomic<TAssertionReporter> g_assertionReporter{nullptr};

std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pattern, ...) {
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}
}  // namespace

std::string ClassNameMessage(const char* className) {
    return std::string("Tarvik Exception: \"") + className + "\"";
}

EConvertError::EConvertError(const std::string& offendingText)
    : TCommonException("\"" + offendingText + "\" is not a valid integer value") {}

EFileError::EFileError(int32_t code) : Exception(std::strerror(code)), m_code(code) {}

EOSError::EOSError(int32_t code)
    : Exception(code == 0 ? std::string("A call to an OS function failed")
                          : Format("System Error.  Code: %d.\r\n%s", code, std::strerror(code))),
      m_code(code) {}

EAccessViolation::EAccessViolation(const void* address, const std::string& module, bool isWrite,
                                   const void* target)
    : Exception(module.empty()
                    ? Format("Access violation at address %p. %s of address %p", address,
                             isWrite ? "Write" : "Read", target)
                    : Format("Access violation at address %p in module '%s'. %s of address %p",
                             address, module.c_str(), isWrite ? "Write" : "Read", target)) {}

EExternalException::EExternalException(uint32_t code)
    : Exception(Format("External exception %x", code)) {}

namespace {
std::string InOutText(int32_t code) {
    switch (code) {
        case 2: return "File not found";
        case 3: return "Invalid filename";
        case 4: return "Too many open files";
        case 5: return "File access denied";
        case 100: return "Read beyond end of file";
        case 101: return "Disk full";
        case 106: return "Invalid numeric input";
        default: return Format("I/O error %d", code);
    }
}
}  // namespace

EInOutError::EInOutError(int32_t code) : Exception(InOutText(code)), m_code(code) {}

std::string AssertionText(const std::string& message, const char* file, int line) {
    return "Asseertion with message: '" + message + "' (" + file + ", line: " +
           std::to_string(line) + ")";
}

void SetAssertionReporter(TAssertionReporter reporter) { g_assertionReporter.store(reporter); }

std::string ReportAssertion(const std::string& message, const char* file, int line) {
    std::string text = AssertionText(message, file, line);
    platform::DebugOutput(text);
    if (auto reporter = g_assertionReporter.load()) reporter(text);
    return text;
}

void FailAssertion(const std::string& message, const char* file, int line) {
    throw EAssertionFailed(ReportAssertion(message, file, line));
}

}  // namespace ql
