// Text readers (byte-order-mark detection, UTF-16LE/BE, UTF-8, ANSI code pages),
// the line parser and the text writers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "QlLib/Platform/qlCodePage.h"
#include "QlLib/qlUTF8.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// EInvalidChar comes from qlUTF8.h: malformed UTF-8 input, or an unpaired high
// surrogate met while writing UTF-8.
// A bookmark of another reader or reader class was set.
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

// A place in a reader's text; only the reader that made it can go back to it.
class TTextPosition : public TObj {
public:
    explicit TTextPosition(const TTextReader* reader, int64_t delivered)
        : m_reader(reader), m_delivered(delivered) {}
    const TTextReader* Reader() const { return m_reader; }
    // Characters delivered before this place.
    int64_t Delivered() const { return m_delivered; }

private:
    const TTextReader* m_reader;
    int64_t m_delivered;
};

// Decodes a byte stream into 16-bit characters. The stream stays owned by the
// caller and must outlive the reader.
class TTextReader : public TObj {
public:
    explicit TTextReader(TStream& stream) : m_stream(&stream) {}

    TStream& Stream() const { return *m_stream; }

    // Decodes up to count characters into dest; returns the count delivered (0 at
    // the end of the text). Raises EInvalidChar for malformed input.
    virtual size_t Read(char16_t* dest, size_t count) = 0;
    // Reads into target from the 1-based index; the count is cut to the room left
    // in the target after the index. An index outside the target is an assertion.
    size_t ReadChars(std::u16string& target, size_t index, size_t count);
    // Returns the count skipped.
    virtual size_t Skip(size_t count);
    virtual std::unique_ptr<TTextPosition> GetPosition() = 0;
    // Raises EIncorrectPositionValue for a bookmark of another reader or class,
    // EStreamSeekError when the stream cannot go back there.
    virtual void SetPosition(const TTextPosition& position) = 0;

    // Characters delivered so far.
    int64_t Delivered() const { return m_delivered; }

protected:
    // Seeks the stream; raises EStreamSeekError when it does not arrive.
    void SeekStream(int64_t offset);

    TStream* m_stream;
    int64_t m_delivered = 0;
};

// A reader class as the registry knows it: its byte-order-mark test and its
// constructor. The test may consume the bytes it reads.
struct TTextReaderClass {
    const char* name;
    bool (*canRead)(TStream& stream);
    std::unique_ptr<TTextReader> (*create)(TStream& stream);
};

// Adds a reader class behind those already registered (thread-safe). The
// registry starts with TUnicodeReader, TUnicodeBEReader, TUTF8Reader and
// TAnsiReader and asks them in that order. TAnsiReader accepts every stream, so
// it answers for whatever the classes before it decline.
void RegisterTextReader(const TTextReaderClass& readerClass);

// Opens a reader for the stream, positioned behind any byte-order mark; the
// stream stays owned by the caller and must outlive the reader. nullptr when no
// registered class accepts the stream.
std::unique_ptr<TTextReader> OpenTextReader(TStream& stream);

// UTF-16 little-endian text behind the mark FF FE.
class TUnicodeReader : public TTextReader {
public:
    static constexpr size_t kBufferSize = 32768;

    // Starts at the stream's current position (just behind the mark).
    explicit TUnicodeReader(TStream& stream);

    static bool CanRead(TStream& stream);
    static const TTextReaderClass& Class();

    size_t Read(char16_t* dest, size_t count) override;
    std::unique_ptr<TTextPosition> GetPosition() override;
    void SetPosition(const TTextPosition& position) override;

protected:
    // Decodes complete units from the buffer into dest; returns the count made.
    virtual size_t Decode(char16_t* dest, size_t count);
    // The stream ended with bytes of an incomplete unit left in the buffer.
    virtual void IncompleteAtEnd() {}
    // Moves the bytes not consumed to the front and fills the rest from the
    // stream; returns the bytes read.
    size_t Refill();
    // Empties the buffer after a seek to offset.
    virtual void ResetAt(int64_t offset);
    // Stream offset of the next character and the characters to skip after
    // seeking there.
    virtual int64_t BookmarkOffset(int& skip) const;

    std::array<uint8_t, kBufferSize> m_buffer{};
    size_t m_fill = 0;
    size_t m_index = 0;
    int64_t m_bufferOffset = 0;  // stream offset of m_buffer[0]
};

// UTF-16 big-endian text behind the mark FE FF.
class TUnicodeBEReader : public TUnicodeReader {
public:
    using TUnicodeReader::TUnicodeReader;
    static bool CanRead(TStream& stream);
    static const TTextReaderClass& Class();

protected:
    size_t Decode(char16_t* dest, size_t count) override;
};

// UTF-8 text behind the mark EF BB BF. A supplementary character is delivered
// as a surrogate pair; when only one character is wanted, the high surrogate
// comes now and the low one on the next read.
class TUTF8Reader : public TUnicodeReader {
public:
    using TUnicodeReader::TUnicodeReader;
    static bool CanRead(TStream& stream);
    static const TTextReaderClass& Class();

protected:
    size_t Decode(char16_t* dest, size_t count) override;
    void IncompleteAtEnd() override;
    void ResetAt(int64_t offset) override;
    int64_t BookmarkOffset(int& skip) const override;

private:
    bool m_pendingLow = false;
    char16_t m_lowSurrogate = 0;
    int64_t m_pendingStart = 0;  // stream offset where the split character began
};

// Text without a mark, in a code page (the process's ANSI code page unless
// another is given; it must outlive the reader).
class TAnsiReader : public TTextReader {
public:
    explicit TAnsiReader(TStream& stream, const TAnsiCodePage& codePage = AnsiCodePage());

    static bool CanRead(TStream& stream) { return true; }
    static const TTextReaderClass& Class();

    size_t Read(char16_t* dest, size_t count) override;
    std::unique_ptr<TTextPosition> GetPosition() override;
    void SetPosition(const TTextPosition& position) override;

private:
    TAnsiConverter m_converter;
    int64_t m_bufferOffset = 0;  // stream offset of the converter buffer's first byte
    bool m_atEnd = false;
};

// A 16-bit string with scanning helpers. Indexes are 0-based; npos means none.
class TStringParser : public TObj {
public:
    using TCharTest = bool (*)(char16_t c);
    static constexpr size_t npos = std::u16string::npos;

    // Tab (9) or space (32).
    static bool IsBlank(char16_t c) { return c == 9 || c == 32; }

    const std::u16string& Text() const { return m_text; }
    void SetText(std::u16string text) { m_text = std::move(text); }

    // The first index at or after from where the test fails; the text length when
    // it holds to the end.
    size_t SkipWhile(size_t from, TCharTest test) const;
    // Moves back from end (exclusive) while the test holds; returns the index
    // just behind the last character where it fails (0 when it holds throughout).
    size_t SkipBackWhile(size_t end, TCharTest test) const;
    // The first index at or after from holding a character of the set.
    size_t FindFirstOf(std::u16string_view set, size_t from = 0) const;
    // The last index before end holding a character of the set.
    size_t FindLastOf(std::u16string_view set, size_t end = npos) const;

protected:
    std::u16string m_text;
};

// Splits a reader's text into lines, remembering each line's end kind. The
// current line is the parser's text.
class TTextParser : public TStringParser {
public:
    static constexpr size_t kBlockSize = 4096;

    TTextParser();
    ~TTextParser() override;

    // Creates a reader through the registry for a stream the parser takes
    // over (nullptr leaves the parser empty).
    void AttachStream(std::unique_ptr<TStream> stream);
    // The same for a stream that stays the caller's and must outlive its use.
    void AttachStream(TStream& stream);
    void AttachReader(std::unique_ptr<TTextReader> reader);
    // Uses a reader that stays the caller's.
    void AttachReader(TTextReader& reader);
    // Forget the stream or reader without freeing it: one the parser owned
    // comes back to the caller, one that was the caller's all along is let go
    // (nullptr). Detaching the stream drops the reader made for it; detaching
    // the reader of an owned stream frees that stream.
    std::unique_ptr<TStream> DetachStream();
    std::unique_ptr<TTextReader> DetachReader();

    // Goes to the start and reads the first line; false for an empty text.
    bool Start();
    // false at the end of the text.
    bool NextLine();

    const std::u16string& Line() const { return m_text; }
    size_t LineLength() const { return m_text.size(); }
    int LineEndKind() const { return m_lineEnd; }
    int64_t LineNumber() const { return m_lineNumber; }  // 0 for the first line, -1 before any
    int64_t LineOffset() const { return m_lineOffset; }  // character offset of the line's start

private:
    void Release();
    // Takes the reader's start bookmark; the reader is already in m_reader.
    void Attach();
    // Next character without taking it; false at the end of the text.
    bool Peek(char16_t& c);
    bool FillBlock();

    // The reader reads the stream, so it is declared after it and goes first.
    std::unique_ptr<TStream> m_ownedStream;
    TStream* m_stream = nullptr;  // m_ownedStream or the caller's
    std::unique_ptr<TTextReader> m_ownedReader;
    TTextReader* m_reader = nullptr;  // m_ownedReader or the caller's
    std::unique_ptr<TTextPosition> m_startPosition;
    int64_t m_charsBefore = 0;  // characters before the current block
    int64_t m_lineOffset = 0;
    std::array<char16_t, kBlockSize> m_block{};
    size_t m_blockFill = 0;
    size_t m_blockIndex = 0;
    bool m_endOfText = true;
    int m_lineEnd = kLineEndNone;
    int64_t m_lineNumber = -1;
};

// Writes text with a byte-order mark. The stream stays the caller's; detaching
// or destroying a writer flushes it (a destructor swallows a failing flush, so
// call Flush or Detach to see its error).
class TTextWriter : public TObj {
public:
    explicit TTextWriter(TStream& stream) : m_stream(&stream) {}

    virtual void WriteBOM() = 0;
    // Flushes and forgets the stream; later writes are assertion failures.
    void Detach();
    // The text followed by the default line end (CR LF).
    void WriteLine(std::u16string_view text);
    // The text followed by a line end of the kind (kLineEndNone: none).
    void WriteText(std::u16string_view text, int lineEnd = kLineEndNone);
    void WriteLineEnd() { WriteLineEnd(kDefaultLineEnd); }
    void WriteLineEnd(int kind);
    virtual void Flush() {}

    static constexpr int kDefaultLineEnd = kLineEndCRLF;

protected:
    virtual void WriteChars(std::u16string_view text) = 0;
    TStream& Target();

    TStream* m_stream;
};

// UTF-16LE with the mark FF FE, written at creation.
class TUnicodeWriter : public TTextWriter {
public:
    static constexpr size_t kBufferSize = 32768;

    explicit TUnicodeWriter(TStream& stream);
    ~TUnicodeWriter() override;

    void WriteBOM() override;
    // Raises EStreamWriteError on a short write.
    void Flush() override;

protected:
    struct NoMark {};
    TUnicodeWriter(TStream& stream, NoMark) : TTextWriter(stream) {}
    void WriteChars(std::u16string_view text) override;
    void PutByte(uint8_t b) { m_buffer[m_fill++] = b; }

    std::array<uint8_t, kBufferSize> m_buffer{};
    size_t m_fill = 0;
};

// UTF-8 with the mark EF BB BF, written at creation. Surrogate pairs become one
// 4-byte sequence.
class TUTF8Writer : public TUnicodeWriter {
public:
    explicit TUTF8Writer(TStream& stream);
    void WriteBOM() override;

protected:
    void WriteChars(std::u16string_view text) override;
};

}  // namespace ql
