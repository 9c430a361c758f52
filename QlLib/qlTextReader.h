// Text readers (byte-order-mark detection, UTF-16LE/BE, UTF-8, ANSI code pages),
// the line parser and the text writers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace ql {

QL_COMMON_EXCEPTION(EInvalidChar, TCommonException);
QL_COMMON_EXCEPTION(EIncorrectPositionValue, TCommonException);

// Line-end kinds of a parsed line.
enum TLineEnd : int {
    kLineEndLF = 0,
    kLineEndCR = 1,
    kLineEndLFCR = 2,
    kLineEndCRLF = 3,
    kLineEndNone = 4,
};

class TTextReader;

// Opens a reader for the stream, positioned behind any byte-order mark; the
// stream stays owned by the caller and must outlive the reader.
std::unique_ptr<TTextReader> OpenTextReader(TStream& stream);

// Splits a reader's text into lines, remembering each line's end kind.
class TTextParser : public TObj {
public:
    TTextParser();
    ~TTextParser() override;

    // Creates a reader through the registry; takes the stream when owned.
    void AttachStream(TStream* stream, bool ownsStream);
    void AttachReader(std::unique_ptr<TTextReader> reader);
    // Goes to the start and reads the first line; false for an empty text.
    bool Start();
    // false at the end of the text.
    bool NextLine();

    const std::u16string& Line() const;
    int LineEndKind() const;
    int64_t LineNumber() const;      // 0 for the first line, -1 before any
    int64_t LineOffset() const;      // character offset of the line's start

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

}  // namespace ql
