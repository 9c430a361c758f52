// Settings documents written inline in tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace ql::test {

// The document whose lines are the text's "\n"-separated lines.
inline std::unique_ptr<TIniFile> DocumentFromText(const std::string& text) {
    auto document = std::make_unique<TIniFile>();
    std::vector<std::u16string> lines;
    std::u16string all = FromUtf8(text), line;
    for (char16_t c : all) {
        if (c == u'\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    document->LoadFromLines(lines);
    return document;
}

}  // namespace ql::test
