// Replaces the macros of a text with values taken from the input: the text up
// to the first NUL, then the values, NUL-separated, handed out in turn. A value
// may hold tokens itself; the replacement must still end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlMTParser.h"
#include "QlLib/qpStringUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::u16string> parts;
    for (size_t start = 0;;) {
        const size_t end = input.find('\0', start);
        parts.push_back(ql::FromUtf8(input.substr(start, end - start)));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    size_t next = 1;
    orb::TMTParser parser([&](orb::TMTParser&, const std::u16string& token) {
        if (parts.size() < 2) return std::u16string();
        const std::u16string& value = parts[next];
        next = next + 1 < parts.size() ? next + 1 : 1;
        return value;
    });
    const std::u16string result = parser.Replace(parts[0]);
    if (result.empty()) __builtin_trap();
    // Values never grow a text beyond the bound.
    if (result.size() > std::max(orb::kMaxMacroTextLength, parts[0].size())) __builtin_trap();
    (void)orb::MacroFolderName(result);
    (void)orb::MacroPathName(result);
    return 0;
}
