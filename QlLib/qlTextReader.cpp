#include "QlLib/qlTextReader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace ql {

namespace {

constexpr size_t kSkipScratchSize = 2048;

// A bookmark of the UTF-16 and UTF-8 readers: the stream offset to seek to and
// the characters to skip there (1 behind the high half of a split character).
class TUnicodeTextPosition : public TTextPosition {
public:
    TUnicodeTextPosition(const TTextReader* reader, int64_t delivered, int64_t offset, int skip)
        : TTextPosition(reader, delivered), m_offset(offset), m_skip(skip) {}
    int64_t Offset() const { return m_offset; }
    int Skip() const { return m_skip; }

private:
    int64_t m_offset;
    int m_skip;
};

class TAnsiPosition : public TTextPosition {
public:
    TAnsiPosition(const TTextReader* reader, int64_t delivered, int64_t offset)
        : TTextPosition(reader, delivered), m_offset(offset) {}
    int64_t Offset() const { return m_offset; }

private:
    int64_t m_offset;
};

// Reads up to count bytes, stopping early only at the end of the stream.
size_t ReadFully(TStream& stream, uint8_t* dest, size_t count) {
    size_t got = 0;
    while (got < count) {
        const size_t n = stream.Read(dest + got, count - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

// True when the next bytes are exactly the mark; consumes what it read.
bool ReadsMark(TStream& stream, const uint8_t* mark, size_t length) {
    const int64_t remaining = stream.Remaining();
    if (remaining >= 0 && remaining < static_cast<int64_t>(length)) return false;
    uint8_t bytes[4];
    return ReadFully(stream, bytes, length) == length && std::memcmp(bytes, mark, length) == 0;
}

template <class TReader>
std::unique_ptr<TTextReader> CreateReader(TStream& stream) {
    return std::make_unique<TReader>(stream);
}

class TReaderRegistry {
public:
    TReaderRegistry()
        : m_classes{TUnicodeReader::Class(), TUnicodeBEReader::Class(), TUTF8Reader::Class(),
                    TAnsiReader::Class()} {}

    void Add(const TTextReaderClass& readerClass) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_classes.push_back(readerClass);
    }

    std::vector<TTextReaderClass> Classes() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_classes;
    }

private:
    std::mutex m_lock;  // guards m_classes
    std::vector<TTextReaderClass> m_classes;
};

TReaderRegistry& Registry() {
    static TReaderRegistry registry;
    return registry;
}

}  // namespace

// ---------------------------------------------------------------- registry

void RegisterTextReader(const TTextReaderClass& readerClass) {
    Registry().Add(readerClass);
}

std::unique_ptr<TTextReader> OpenTextReader(TStream& stream) {
    for (const TTextReaderClass& readerClass : Registry().Classes()) {
        const int64_t position = stream.GetPosition();
        if (readerClass.canRead(stream)) return readerClass.create(stream);
        // The check consumed what it looked at; the next class must see it again.
        if (stream.GetPosition() != position) stream.SetPosition(position);
    }
    return nullptr;
}

// ---------------------------------------------------------------- TTextReader

size_t TTextReader::ReadChars(std::u16string& target, size_t index, size_t count) {
    QL_ASSERT(index >= 1 && index <= target.size(), "Text reader index out of range");
    count = std::min(count, target.size() - (index - 1));
    return Read(target.data() + (index - 1), count);
}

size_t TTextReader::Skip(size_t count) {
    char16_t scratch[kSkipScratchSize];
    size_t skipped = 0;
    while (skipped < count) {
        const size_t n = Read(scratch, std::min(count - skipped, kSkipScratchSize));
        if (n == 0) break;
        skipped += n;
    }
    return skipped;
}

void TTextReader::SeekStream(int64_t offset) {
    m_stream->SetPosition(offset);
    if (m_stream->GetPosition() != offset) throw EStreamSeekError();
}

// ---------------------------------------------------------------- UTF-16

TUnicodeReader::TUnicodeReader(TStream& stream)
    : TTextReader(stream), m_bufferOffset(stream.GetPosition()) {}

bool TUnicodeReader::CanRead(TStream& stream) {
    static constexpr uint8_t kMark[] = {0xFF, 0xFE};
    return ReadsMark(stream, kMark, sizeof(kMark));
}

const TTextReaderClass& TUnicodeReader::Class() {
    static const TTextReaderClass cls{"TUnicodeReader", &TUnicodeReader::CanRead,
                                      &CreateReader<TUnicodeReader>};
    return cls;
}

size_t TUnicodeReader::Refill() {
    const size_t left = m_fill - m_index;
    m_bufferOffset += static_cast<int64_t>(m_index);
    if (left > 0 && m_index > 0) std::memmove(m_buffer.data(), m_buffer.data() + m_index, left);
    m_index = 0;
    m_fill = left;
    const size_t got = m_stream->Read(m_buffer.data() + m_fill, kBufferSize - m_fill);
    m_fill += got;
    return got;
}

size_t TUnicodeReader::Read(char16_t* dest, size_t count) {
    size_t produced = 0;
    while (produced < count) {
        produced += Decode(dest + produced, count - produced);
        if (produced == count) break;
        if (Refill() == 0) {
            if (m_fill > m_index) IncompleteAtEnd();
            break;
        }
    }
    m_delivered += static_cast<int64_t>(produced);
    return produced;
}

size_t TUnicodeReader::Decode(char16_t* dest, size_t count) {
    const size_t units = std::min(count, (m_fill - m_index) / 2);
    const uint8_t* p = m_buffer.data() + m_index;
    for (size_t i = 0; i < units; ++i)
        dest[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    m_index += units * 2;
    return units;
}

void TUnicodeReader::ResetAt(int64_t offset) {
    m_fill = 0;
    m_index = 0;
    m_bufferOffset = offset;
}

int64_t TUnicodeReader::BookmarkOffset(int& skip) const {
    skip = 0;
    return m_bufferOffset + static_cast<int64_t>(m_index);
}

std::unique_ptr<TTextPosition> TUnicodeReader::GetPosition() {
    int skip = 0;
    const int64_t offset = BookmarkOffset(skip);
    return std::make_unique<TUnicodeTextPosition>(this, m_delivered, offset, skip);
}

void TUnicodeReader::SetPosition(const TTextPosition& position) {
    const auto* bookmark = dynamic_cast<const TUnicodeTextPosition*>(&position);
    if (!bookmark || bookmark->Reader() != this) throw EIncorrectPositionValue();
    SeekStream(bookmark->Offset());
    ResetAt(bookmark->Offset());
    m_delivered = bookmark->Delivered() - bookmark->Skip();
    if (bookmark->Skip() > 0 &&
        Skip(static_cast<size_t>(bookmark->Skip())) != static_cast<size_t>(bookmark->Skip()))
        throw EStreamSeekError();
}

bool TUnicodeBEReader::CanRead(TStream& stream) {
    static constexpr uint8_t kMark[] = {0xFE, 0xFF};
    return ReadsMark(stream, kMark, sizeof(kMark));
}

const TTextReaderClass& TUnicodeBEReader::Class() {
    static const TTextReaderClass cls{"TUnicodeBEReader", &TUnicodeBEReader::CanRead,
                                      &CreateReader<TUnicodeBEReader>};
    return cls;
}

size_t TUnicodeBEReader::Decode(char16_t* dest, size_t count) {
    const size_t units = std::min(count, (m_fill - m_index) / 2);
    const uint8_t* p = m_buffer.data() + m_index;
    for (size_t i = 0; i < units; ++i)
        dest[i] = static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
    m_index += units * 2;
    return units;
}

// ---------------------------------------------------------------- UTF-8

bool TUTF8Reader::CanRead(TStream& stream) {
    static constexpr uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
    return ReadsMark(stream, kMark, sizeof(kMark));
}

const TTextReaderClass& TUTF8Reader::Class() {
    static const TTextReaderClass cls{"TUTF8Reader", &TUTF8Reader::CanRead,
                                      &CreateReader<TUTF8Reader>};
    return cls;
}

size_t TUTF8Reader::Decode(char16_t* dest, size_t count) {
    size_t produced = 0;
    while (produced < count) {
        if (m_pendingLow) {
            dest[produced++] = m_lowSurrogate;
            m_pendingLow = false;
            continue;
        }
        if (m_index >= m_fill) break;
        const uint8_t lead = m_buffer[m_index];
        if (lead < 0x80) {
            dest[produced++] = lead;
            ++m_index;
            continue;
        }
        size_t extra;
        uint32_t value;
        if (!Utf8Lead(lead, extra, value)) throw EInvalidChar();
        const size_t available = m_fill - m_index - 1;
        const size_t checked = std::min(extra, available);
        for (size_t k = 1; k <= checked; ++k) {
            if ((m_buffer[m_index + k] & 0xC0) != 0x80) throw EInvalidChar();
        }
        if (available < extra) break;  // the rest of the sequence comes with the refill
        for (size_t k = 1; k <= extra; ++k) value = (value << 6) | (m_buffer[m_index + k] & 0x3F);
        if (value > 0x10FFFF) throw EInvalidChar(kIllegalSurrogateRangeMessage);
        if (value < 0x10000) {
            dest[produced++] = static_cast<char16_t>(value);
        } else {
            dest[produced++] = HighSurrogateOf(value);
            if (produced < count) {
                dest[produced++] = LowSurrogateOf(value);
            } else {
                // Only the high half was wanted: the low half waits for the next
                // read, and a bookmark taken now goes back to the whole sequence.
                m_pendingLow = true;
                m_lowSurrogate = LowSurrogateOf(value);
                m_pendingStart = m_bufferOffset + static_cast<int64_t>(m_index);
            }
        }
        m_index += extra + 1;
    }
    return produced;
}

void TUTF8Reader::IncompleteAtEnd() {
    // A sequence cut off by the end of the text. Leaving it in the buffer would
    // make every later read stop there silently.
    m_index = m_fill;
    throw EInvalidChar();
}

void TUTF8Reader::ResetAt(int64_t offset) {
    TUnicodeReader::ResetAt(offset);
    m_pendingLow = false;
}

int64_t TUTF8Reader::BookmarkOffset(int& skip) const {
    if (m_pendingLow) {
        skip = 1;
        return m_pendingStart;
    }
    return TUnicodeReader::BookmarkOffset(skip);
}

// ---------------------------------------------------------------- ANSI

TAnsiReader::TAnsiReader(TStream& stream, const TAnsiCodePage& codePage)
    : TTextReader(stream), m_converter(codePage), m_bufferOffset(stream.GetPosition()) {}

const TTextReaderClass& TAnsiReader::Class() {
    static const TTextReaderClass cls{"TAnsiReader", &TAnsiReader::CanRead,
                                      [](TStream& stream) -> std::unique_ptr<TTextReader> {
                                          return std::make_unique<TAnsiReader>(stream);
                                      }};
    return cls;
}

size_t TAnsiReader::Read(char16_t* dest, size_t count) {
    size_t produced = 0;
    while (produced < count) {
        produced += m_converter.Convert(dest + produced, count - produced, m_atEnd);
        if (produced == count || m_atEnd) break;
        // A lead byte left at the end of the block stays in front of the next one.
        m_bufferOffset += static_cast<int64_t>(m_converter.Index());
        const size_t got = m_converter.Load(
            [this](uint8_t* buffer, size_t room) { return m_stream->Read(buffer, room); });
        if (got == 0) m_atEnd = true;
    }
    m_delivered += static_cast<int64_t>(produced);
    return produced;
}

std::unique_ptr<TTextPosition> TAnsiReader::GetPosition() {
    return std::make_unique<TAnsiPosition>(
        this, m_delivered, m_bufferOffset + static_cast<int64_t>(m_converter.Index()));
}

void TAnsiReader::SetPosition(const TTextPosition& position) {
    const auto* bookmark = dynamic_cast<const TAnsiPosition*>(&position);
    if (!bookmark || bookmark->Reader() != this) throw EIncorrectPositionValue();
    SeekStream(bookmark->Offset());
    m_converter.Reset();
    m_bufferOffset = bookmark->Offset();
    m_atEnd = false;
    m_delivered = bookmark->Delivered();
}

// ---------------------------------------------------------------- TStringParser

size_t TStringParser::SkipWhile(size_t from, TCharTest test) const {
    size_t i = std::min(from, m_text.size());
    while (i < m_text.size() && test(m_text[i])) ++i;
    return i;
}

size_t TStringParser::SkipBackWhile(size_t end, TCharTest test) const {
    size_t i = std::min(end, m_text.size());
    while (i > 0 && test(m_text[i - 1])) --i;
    return i;
}

size_t TStringParser::FindFirstOf(std::u16string_view set, size_t from) const {
    return std::u16string_view(m_text).find_first_of(set, from);
}

size_t TStringParser::FindLastOf(std::u16string_view set, size_t end) const {
    if (end == 0) return npos;
    return std::u16string_view(m_text).find_last_of(set, end == npos ? npos : end - 1);
}

// ---------------------------------------------------------------- TTextParser

TTextParser::TTextParser() = default;

TTextParser::~TTextParser() {
    Release();
}

void TTextParser::Release() {
    m_startPosition.reset();
    // The reader may still refer to the stream: it goes first.
    m_ownedReader.reset();
    m_reader = nullptr;
    m_ownedStream.reset();
    m_stream = nullptr;
    m_blockFill = m_blockIndex = 0;
    m_endOfText = true;
    m_text.clear();
    m_lineEnd = kLineEndNone;
    m_lineNumber = -1;
    m_lineOffset = 0;
    m_charsBefore = 0;
}

void TTextParser::Attach() {
    m_startPosition = m_reader ? m_reader->GetPosition() : nullptr;
    // NextLine without Start reads from where the reader stands.
    m_endOfText = m_reader == nullptr;
}

void TTextParser::AttachStream(std::unique_ptr<TStream> stream) {
    Release();
    if (!stream) return;
    m_ownedStream = std::move(stream);
    m_stream = m_ownedStream.get();
    m_ownedReader = OpenTextReader(*m_stream);
    m_reader = m_ownedReader.get();
    Attach();
}

void TTextParser::AttachStream(TStream& stream) {
    Release();
    m_stream = &stream;
    m_ownedReader = OpenTextReader(stream);
    m_reader = m_ownedReader.get();
    Attach();
}

void TTextParser::AttachReader(std::unique_ptr<TTextReader> reader) {
    Release();
    m_ownedReader = std::move(reader);
    m_reader = m_ownedReader.get();
    Attach();
}

void TTextParser::AttachReader(TTextReader& reader) {
    Release();
    m_reader = &reader;
    Attach();
}

std::unique_ptr<TStream> TTextParser::DetachStream() {
    std::unique_ptr<TStream> stream = std::move(m_ownedStream);
    Release();
    return stream;
}

std::unique_ptr<TTextReader> TTextParser::DetachReader() {
    std::unique_ptr<TTextReader> reader = std::move(m_ownedReader);
    Release();
    return reader;
}

bool TTextParser::FillBlock() {
    m_charsBefore += static_cast<int64_t>(m_blockFill);
    m_blockIndex = 0;
    m_blockFill = m_endOfText ? 0 : m_reader->Read(m_block.data(), kBlockSize);
    if (m_blockFill == 0) m_endOfText = true;
    return m_blockFill > 0;
}

bool TTextParser::Peek(char16_t& c) {
    if (m_blockIndex >= m_blockFill && !FillBlock()) return false;
    c = m_block[m_blockIndex];
    return true;
}

bool TTextParser::Start() {
    m_text.clear();
    m_lineEnd = kLineEndNone;
    m_lineNumber = -1;
    m_lineOffset = 0;
    if (!m_reader) return false;
    m_reader->SetPosition(*m_startPosition);
    m_charsBefore = 0;
    m_blockFill = m_blockIndex = 0;
    m_endOfText = false;
    return NextLine();
}

bool TTextParser::NextLine() {
    char16_t c = 0;
    if (!m_reader || !Peek(c)) {
        m_text.clear();
        m_lineEnd = kLineEndNone;
        return false;
    }
    m_lineOffset = m_charsBefore + static_cast<int64_t>(m_blockIndex);
    m_text.clear();
    // Collect up to the next CR or LF, block by block.
    for (;;) {
        const char16_t* begin = m_block.data() + m_blockIndex;
        const char16_t* end = m_block.data() + m_blockFill;
        const char16_t* stop =
            std::find_if(begin, end, [](char16_t ch) { return ch == 13 || ch == 10; });
        m_text.append(begin, stop);
        m_blockIndex = static_cast<size_t>(stop - m_block.data());
        if (stop != end) break;
        if (!FillBlock()) break;
    }
    ++m_lineNumber;
    if (m_blockIndex >= m_blockFill) {
        m_lineEnd = kLineEndNone;
        return true;
    }
    const char16_t first = m_block[m_blockIndex++];
    m_lineEnd = first == 10 ? kLineEndLF : kLineEndCR;
    const char16_t other = first == 10 ? 13 : 10;
    if (Peek(c) && c == other) {
        ++m_blockIndex;
        m_lineEnd = first == 10 ? kLineEndLFCR : kLineEndCRLF;
    }
    return true;
}

// ---------------------------------------------------------------- writers

TStream& TTextWriter::Target() {
    QL_ASSERT(m_stream != nullptr, "Text writer without a stream");
    return *m_stream;
}

void TTextWriter::Detach() {
    if (!m_stream) return;
    Flush();
    m_stream = nullptr;
}

void TTextWriter::WriteLine(std::u16string_view text) {
    WriteText(text, kDefaultLineEnd);
}

void TTextWriter::WriteText(std::u16string_view text, int lineEnd) {
    WriteChars(text);
    WriteLineEnd(lineEnd);
}

void TTextWriter::WriteLineEnd(int kind) {
    switch (kind) {
        case kLineEndLF:
            WriteChars(u"\n");
            break;
        case kLineEndCR:
            WriteChars(u"\r");
            break;
        case kLineEndLFCR:
            WriteChars(u"\n\r");
            break;
        case kLineEndCRLF:
            WriteChars(u"\r\n");
            break;
        default:
            break;
    }
}

TUnicodeWriter::TUnicodeWriter(TStream& stream) : TTextWriter(stream) {
    WriteBOM();
}

TUnicodeWriter::~TUnicodeWriter() {
    try {
        Detach();
    } catch (const Exception&) {
        // A destructor cannot raise; callers that care flush or detach first.
    }
}

void TUnicodeWriter::WriteBOM() {
    TUnicodeWriter::WriteChars(u"\xFEFF");
}

void TUnicodeWriter::Flush() {
    if (m_fill == 0) return;
    const size_t fill = m_fill;
    m_fill = 0;
    if (Target().Write(m_buffer.data(), fill) != fill) throw EStreamWriteError();
}

void TUnicodeWriter::WriteChars(std::u16string_view text) {
    Target();
    for (const char16_t c : text) {
        if (m_fill > kBufferSize - 2) Flush();
        PutByte(static_cast<uint8_t>(c & 0xFF));
        PutByte(static_cast<uint8_t>(c >> 8));
    }
}

TUTF8Writer::TUTF8Writer(TStream& stream) : TUnicodeWriter(stream, NoMark{}) {
    WriteBOM();
}

void TUTF8Writer::WriteBOM() {
    Target();
    if (m_fill > kBufferSize - 3) Flush();
    PutByte(0xEF);
    PutByte(0xBB);
    PutByte(0xBF);
}

void TUTF8Writer::WriteChars(std::u16string_view text) {
    Target();
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t value = text[i];
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) throw EInvalidChar();
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (m_fill > kBufferSize - 6) Flush();
        if (value < 0x80) {
            PutByte(static_cast<uint8_t>(value));
        } else if (value < 0x800) {
            PutByte(static_cast<uint8_t>(0xC0 | (value >> 6)));
            PutByte(static_cast<uint8_t>(0x80 | (value & 0x3F)));
        } else if (value < 0x10000) {
            PutByte(static_cast<uint8_t>(0xE0 | (value >> 12)));
            PutByte(static_cast<uint8_t>(0x80 | ((value >> 6) & 0x3F)));
            PutByte(static_cast<uint8_t>(0x80 | (value & 0x3F)));
        } else {
            PutByte(static_cast<uint8_t>(0xF0 | (value >> 18)));
            PutByte(static_cast<uint8_t>(0x80 | ((value >> 12) & 0x3F)));
            PutByte(static_cast<uint8_t>(0x80 | ((value >> 6) & 0x3F)));
            PutByte(static_cast<uint8_t>(0x80 | (value & 0x3F)));
        }
    }
}

}  // namespace ql
