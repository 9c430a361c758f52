// The operating system's debug output: standard error here.
#pragma once

#include <string_view>

namespace ql::platform {

// Writes one line (a line end is added). Safe to call from any thread.
void DebugOutput(std::string_view utf8Line);

}  // namespace ql::platform
