// TIni2Str: carries a settings document inside one line of text, so that a
// document can stand where a file name is expected (the composite music
// descriptions). Every document line ends in "/n" and every "/" is doubled.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "QlLib/SysObj.h"
#include "QlLib/qlIniStorage.h"

namespace ql {

// Receives the document's lines as the document writes itself out.
class TIni2Str : public TObj, public TIniLineSink {
public:
    static constexpr size_t kInitialCapacity = 256;

    TIni2Str();
    void WriteLine(std::u16string_view line) override;
    // The used part of the buffer.
    std::u16string_view Text() const { return std::u16string_view(m_buffer.data(), m_length); }
    size_t Length() const { return m_length; }
    size_t Capacity() const { return m_buffer.size(); }

private:
    void Append(char16_t c);

    std::u16string m_buffer;  // grows by doubling
    size_t m_length = 0;
};

// Encoded lines longer than this are refused: a line comes from a show and
// becomes a whole document in memory.
inline constexpr size_t kMaxIni2StrLength = 16 * 1024 * 1024;

// The document as one line.
std::u16string DocumentToLine(const TIniStorage& document);
// Parses an encoded line into document. False for a "/" followed by anything
// but "/" or "n", a "/" at the very end, a line beyond kMaxIni2StrLength or a
// document that does not parse; the document is then left empty. Text after
// the last "/n" is ignored.
bool LineToDocument(std::u16string_view line, TIniFile& document);

}  // namespace ql
