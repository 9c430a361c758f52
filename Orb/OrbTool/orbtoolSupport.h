// What every orbtool subcommand shares: the error exit, the help switch and
// times given in milliseconds.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb::tool {

constexpr int kExitError = 2;

// Writes the message as one line on standard error; returns the error exit code.
inline int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitError;
}
inline int Fail(const std::u16string& message) {
    return Fail(ql::ToUtf8(message));
}

inline bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

// A time in milliseconds from the command line: a number from 0 to 1e10.
inline bool ParseMs(const std::string& text, double& ms) {
    const std::optional<double> value = ql::TryStrToFloat(ql::FromUtf8(text));
    if (!value || !(*value >= 0) || *value > 1e10) return false;
    ms = *value;
    return true;
}

// Runs a subcommand and turns what it throws into the error exit with one line;
// a failed assertion has already written its text to standard error.
template <class TRun>
int Guarded(TRun run, const std::vector<std::string>& args) {
    try {
        return run(args);
    } catch (const ql::EAssertionFailed&) {
        return kExitError;
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

}  // namespace orb::tool
