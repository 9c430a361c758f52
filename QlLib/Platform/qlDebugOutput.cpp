#include "QlLib/Platform/qlDebugOutput.h"

#include <unistd.h>

#include <string>

namespace ql::platform {

void DebugOutput(std::string_view utf8Line) {
    // One write per line so that lines from several threads do not interleave.
    std::string line(utf8Line);
    line += '\n';
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace ql::platform
