#include "QlLib/qlIni2Str.h"

#include <vector>

#include "QlLib/qpExceptions.h"

namespace ql {

TIni2Str::TIni2Str() : m_buffer(kInitialCapacity, u'\0') {}

void TIni2Str::Append(char16_t c) {
    if (m_length == m_buffer.size()) m_buffer.resize(m_buffer.size() * 2);
    m_buffer[m_length++] = c;
}

void TIni2Str::WriteLine(std::u16string_view line) {
    for (char16_t c : line) {
        if (c == u'/') Append(u'/');
        Append(c);
    }
    Append(u'/');
    Append(u'n');
}

std::u16string DocumentToLine(const TIniStorage& document) {
    TIni2Str buffer;
    document.WriteLines(buffer);
    return std::u16string(buffer.Text());
}

bool LineToDocument(std::u16string_view line, TIniFile& document) {
    document.Clear();
    if (line.size() > kMaxIni2StrLength) return false;
    // The lines go to the parser directly: the same as the byte-order-marked
    // stream of CR LF lines, without the round trip through bytes.
    std::vector<std::u16string> lines;
    std::u16string current;
    size_t i = 0;
    while (i < line.size()) {
        const char16_t c = line[i];
        if (c == u'\r' || c == u'\n') {
            // A raw line break would split the line in the text form as well.
            lines.push_back(std::move(current));
            current.clear();
            i += (c == u'\r' && i + 1 < line.size() && line[i + 1] == u'\n') ? 2 : 1;
            continue;
        }
        if (c != u'/') {
            current.push_back(c);
            ++i;
            continue;
        }
        if (i + 1 >= line.size()) return false;
        const char16_t next = line[i + 1];
        if (next == u'/') {
            current.push_back(u'/');
        } else if (next == u'n') {
            lines.push_back(std::move(current));
            current.clear();
        } else {
            return false;
        }
        i += 2;
    }
    try {
        if (!document.LoadFromLines(lines)) {
            document.Clear();
            return false;
        }
    } catch (const Exception&) {
        document.Clear();
        return false;
    }
    return true;
}

}  // namespace ql
