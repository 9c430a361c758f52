// What every orbtool subcommand shares: the error exit and the help switch.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "QlLib/qpStringUtils.h"

namespace orb::tool {

constexpr int kExitError = 2;

// Writes the message as one line on standard error; returns the error exit code.
inline int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitError;
}
inline int Fail(const std::u16string& message) { return Fail(ql::ToUtf8(message)); }

inline bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

}  // namespace orb::tool
