// The exception tree and the assertion report. Every class carries its own name
// as text, because messages quote it ("Tarvik Exception: "EStreamReadError"").
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace ql {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const noexcept { return m_message; }
    virtual const char* ClassName() const noexcept { return "Exception"; }

protected:
    std::string m_message;
};

// "Tarvik Exception: " followed by the class name in double quotes.
std::string ClassNameMessage(const char* className);

class TCommonException : public Exception {
public:
    TCommonException() : Exception(ClassNameMessage("TCommonException")) {}
    explicit TCommonException(std::string message) : Exception(std::move(message)) {}
    const char* ClassName() const noexcept override { return "TCommonException"; }

protected:
    struct NamedTag {};
    TCommonException(NamedTag, const char* name) : Exception(ClassNameMessage(name)) {}
};

// Declares a TCommonException descendant whose message-less constructor gives
// the class-name message.
#define QL_COMMON_EXCEPTION(Name, Parent)                                           \
    class Name : public Parent {                                                    \
    public:                                                                         \
        Name() : Parent(NamedTag{}, #Name) {}                                       \
        explicit Name(std::string message) : Parent(std::move(message)) {}         \
        const char* ClassName() const noexcept override { return #Name; }          \
                                                                                    \
    protected:                                                                      \
        Name(NamedTag tag, const char* name) : Parent(tag, name) {}                 \
    }

QL_COMMON_EXCEPTION(EThreadError, TCommonException);
QL_COMMON_EXCEPTION(EMutexTakeOwnershipError, EThreadError);
QL_COMMON_EXCEPTION(EStreamError, TCommonException);
QL_COMMON_EXCEPTION(EStreamReadError, EStreamError);
QL_COMMON_EXCEPTION(EStreamWriteError, EStreamError);
QL_COMMON_EXCEPTION(EStreamSeekError, EStreamError);

// "%1" is not a valid integer value, with %1 replaced by the offending text.
class EConvertError : public TCommonException {
public:
    explicit EConvertError(const std::string& offendingText);
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// File errors keep the operating system's error code (errno here).
class EFileError : public Exception {
public:
    explicit EFileError(int32_t code);
    EFileError(int32_t code, std::string message) : Exception(std::move(message)), m_code(code) {}
    int32_t Code() const noexcept { return m_code; }
    const char* ClassName() const noexcept override { return "EFileError"; }

private:
    int32_t m_code;
};

#define QL_FILE_EXCEPTION(Name)                                                      \
    class Name : public EFileError {                                                 \
    public:                                                                          \
        using EFileError::EFileError;                                                \
        const char* ClassName() const noexcept override { return #Name; }           \
    }

// Carries the name of the file that could not be opened as its message.
QL_FILE_EXCEPTION(EFileOpenError);
QL_FILE_EXCEPTION(EFileSeekError);
QL_FILE_EXCEPTION(EFileReadError);
QL_FILE_EXCEPTION(EFileWriteError);
QL_FILE_EXCEPTION(EFileAccessError);

// "System Error.  Code: %d." CR LF "%s", or "A call to an OS function failed".
class EOSError : public Exception {
public:
    explicit EOSError(int32_t code);
    int32_t Code() const noexcept { return m_code; }
    const char* ClassName() const noexcept override { return "EOSError"; }

private:
    int32_t m_code;
};

// Run-time fault classes with their fixed messages.
#define QL_FIXED_EXCEPTION(Name, Text)                                                \
    class Name : public Exception {                                                   \
    public:                                                                           \
        Name() : Exception(Text) {}                                                   \
        explicit Name(std::string message) : Exception(std::move(message)) {}        \
        const char* ClassName() const noexcept override { return #Name; }            \
    }

QL_FIXED_EXCEPTION(EDivByZero, "Division by zero");
QL_FIXED_EXCEPTION(ERangeError, "Range check error");
QL_FIXED_EXCEPTION(EIntOverflow, "Integer overflow");
QL_FIXED_EXCEPTION(EInvalidOp, "Invalid floating point operation");
QL_FIXED_EXCEPTION(EZeroDivide, "Floating point division by zero");
QL_FIXED_EXCEPTION(EOverflow, "Floating point overflow");
QL_FIXED_EXCEPTION(EUnderflow, "Floating point underflow");
QL_FIXED_EXCEPTION(EInvalidCast, "Invalid class typecast");
QL_FIXED_EXCEPTION(EPrivilege, "Privileged instruction");
QL_FIXED_EXCEPTION(EControlC, "Control-C hit");
QL_FIXED_EXCEPTION(EStackOverflow, "Stack overflow");
QL_FIXED_EXCEPTION(EAssertionFailed, "Assertion failed");
QL_FIXED_EXCEPTION(EIntfCastError, "Interface not supported");
QL_FIXED_EXCEPTION(ESafecallException, "Exception in safecall method");
QL_FIXED_EXCEPTION(EOutOfMemory, "Out of memory");
QL_FIXED_EXCEPTION(EInvalidPointer, "Invalid pointer operation");
QL_FIXED_EXCEPTION(EAbstractError, "Abstract Error");

class EAccessViolation : public Exception {
public:
    // module may be empty; isWrite picks "Write" over "Read".
    EAccessViolation(const void* address, const std::string& module, bool isWrite,
                     const void* target);
    const char* ClassName() const noexcept override { return "EAccessViolation"; }
};

class EExternalException : public Exception {
public:
    explicit EExternalException(uint32_t code);
    const char* ClassName() const noexcept override { return "EExternalException"; }
};

// "I/O error %d", or the fixed text of the well-known codes (2, 3, 4, 5, 100, 101, 106).
class EInOutError : public Exception {
public:
    explicit EInOutError(int32_t code);
    int32_t Code() const noexcept { return m_code; }
    const char* ClassName() const noexcept override { return "EInOutError"; }

private:
    int32_t m_code;
};

// The one assertion text: "Asseertion with message: '<msg>' (<file>, line: <n>)".
std::string AssertionText(const std::string& message, const char* file, int line);

// Receives every assertion text; the player shows it in an error message box.
using TAssertionReporter = void (*)(const std::string& text);
void SetAssertionReporter(TAssertionReporter reporter);

// Writes the assertion text to the debug output and the reporter; returns it.
std::string ReportAssertion(const std::string& message, const char* file, int line);

// Reports the assertion, then raises EAssertionFailed carrying its text.
[[noreturn]] void FailAssertion(const std::string& message, const char* file, int line);

}  // namespace ql

#define QL_ASSERT(condition, message)                                  \
    do {                                                               \
        if (!(condition)) ::ql::FailAssertion((message), __FILE__, __LINE__); \
    } while (0)
