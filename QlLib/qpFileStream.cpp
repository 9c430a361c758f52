#include "QlLib/qpFileStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "QlLib/qpExceptions.h"

namespace ql {

namespace {
constexpr size_t kCopyBufferSize = 32768;
constexpr int64_t kFileCopyStackLimit = 1048576;
constexpr int64_t kFileCopyHeapLimit = 8388608;
constexpr size_t kStringStageSize = 1024;

// Position of source after count more bytes, as bytes left in it; -1 if unknown.
int64_t SourceRemaining(TStream& source) {
    const int64_t size = source.GetSize();
    if (size < 0) return -1;
    return std::max<int64_t>(0, size - source.GetPosition());
}
}  // namespace

// ---- TStream ----

int64_t TStream::Remaining() {
    const int64_t size = GetSize();
    return size < 0 ? -1 : std::max<int64_t>(0, size - GetPosition());
}

void TStream::Assign(TStream& source) {
    Clear();
    const int64_t savedPosition = source.GetPosition();
    struct Restore {
        TStream& self;
        TStream& source;
        int64_t position;
        ~Restore() {
            try {
                source.SetPosition(position);
                self.SetPosition(0);
            } catch (...) {
            }
        }
    } restore{*this, source, savedPosition};
    source.SetPosition(0);
    const int64_t size = source.GetSize();
    if (size < 0) {
        CopyFrom(source, std::numeric_limits<int32_t>::max());
    } else {
        SetSize(size);
        SetPosition(0);
        if (CopyFrom(source, size) != size) throw EStreamError();
    }
}

void TStream::Clear() { SetSize(0); }

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    std::vector<uint8_t> buffer(kCopyBufferSize);
    int64_t total = 0;
    while (count < 0 || total < count) {
        size_t want = kCopyBufferSize;
        if (count >= 0) want = static_cast<size_t>(std::min<int64_t>(want, count - total));
        const size_t got = source.Read(buffer.data(), want);
        if (got == 0) break;
        if (Write(buffer.data(), got) != got) throw EStreamWriteError();
        total += static_cast<int64_t>(got);
    }
    return total;
}

void TStream::ReadBuffer(void* buffer, size_t count) {
    if (Read(buffer, count) != count) throw EStreamReadError();
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    if (Write(buffer, count) != count) throw EStreamWriteError();
}

uint8_t TStream::ReadByte() {
    uint8_t b;
    ReadBuffer(&b, 1);
    return b;
}

uint16_t TStream::ReadWord() {
    uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint16_t TStream::ReadWordBE() {
    uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TStream::ReadDWord() {
    uint8_t b[4];
    ReadBuffer(b, 4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

uint32_t TStream::ReadDWordBE() {
    uint8_t b[4];
    ReadBuffer(b, 4);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

int64_t TStream::ReadInt64() {
    uint8_t b[8];
    ReadBuffer(b, 8);
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
    return static_cast<int64_t>(v);
}

float TStream::ReadFloat() {
    const uint32_t bits = ReadDWord();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void TStream::WriteByte(uint8_t value) { WriteBuffer(&value, 1); }

void TStream::WriteWord(uint16_t value) {
    const uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
    WriteBuffer(b, 2);
}

void TStream::WriteDWord(uint32_t value) {
    const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                          uint8_t(value >> 24)};
    WriteBuffer(b, 4);
}

void TStream::WriteInt64(int64_t value) {
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(uint64_t(value) >> (8 * i));
    WriteBuffer(b, 8);
}

void TStream::WriteAnsi(const std::string& text) {
    // Staged in pieces like the wide writer so that both behave the same on a
    // short write.
    for (size_t done = 0; done < text.size(); done += kStringStageSize)
        WriteBuffer(text.data() + done, std::min(kStringStageSize, text.size() - done));
}

void TStream::WriteWide(const std::u16string& text) {
    uint8_t stage[kStringStageSize];
    size_t filled = 0;
    for (char16_t unit : text) {
        stage[filled++] = uint8_t(unit);
        stage[filled++] = uint8_t(unit >> 8);
        if (filled == kStringStageSize) {
            WriteBuffer(stage, filled);
            filled = 0;
        }
    }
    if (filled) WriteBuffer(stage, filled);
}

void TStream::CheckReadableCount(int64_t byteCount) {
    if (byteCount < 0) throw EStreamReadError();
    const int64_t left = Remaining();
    if (left >= 0 && byteCount > left) throw EStreamReadError();
}

std::u16string TStream::ReadWideChars(int64_t count) {
    if (count > std::numeric_limits<int64_t>::max() / 2) throw EStreamReadError();
    CheckReadableCount(count * 2);
    std::u16string text;
    uint8_t stage[kCopyBufferSize];
    while (static_cast<int64_t>(text.size()) < count) {
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(sizeof stage / 2, count - static_cast<int64_t>(text.size())));
        ReadBuffer(stage, want * 2);
        for (size_t i = 0; i < want; ++i)
            text += static_cast<char16_t>(stage[2 * i] | (stage[2 * i + 1] << 8));
    }
    return text;
}

std::string TStream::ReadAnsiChars(int64_t count) {
    CheckReadableCount(count);
    std::string text;
    char stage[kCopyBufferSize];
    while (static_cast<int64_t>(text.size()) < count) {
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(sizeof stage, count - static_cast<int64_t>(text.size())));
        ReadBuffer(stage, want);
        text.append(stage, want);
    }
    return text;
}

// ---- growth rule ----

int64_t MemoryStreamCapacityFor(int64_t currentCapacity, int64_t neededSize) {
    if (neededSize > kMemoryStreamMaxSize || neededSize < 0) return 0;
    int64_t capacity = currentCapacity;
    while (capacity < neededSize) {
        if (capacity < 33)
            capacity += 16;
        else if (capacity < 257)
            capacity += 64;
        else
            capacity *= 2;
    }
    return capacity;
}

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() { std::free(m_data); }

bool TMemoryStream::Reallocate(int64_t capacity) {
    if (capacity == 0) {
        std::free(m_data);
        m_data = nullptr;
        m_capacity = 0;
        return true;
    }
    void* grown = std::realloc(m_data, static_cast<size_t>(capacity));
    if (!grown) return false;
    m_data = static_cast<uint8_t*>(grown);
    m_capacity = capacity;
    return true;
}

bool TMemoryStream::Reserve(int64_t neededSize) {
    if (neededSize <= m_capacity) return true;
    const int64_t capacity = MemoryStreamCapacityFor(m_capacity, neededSize);
    return capacity > 0 && Reallocate(capacity);
}

void TMemoryStream::SetPosition(int64_t position) {
    m_position = std::clamp<int64_t>(position, 0, m_size);
}

void TMemoryStream::SetSize(int64_t size) {
    if (size <= 0) {
        Clear();
        return;
    }
    if (size > kMemoryStreamMaxSize || !Reallocate(size)) throw EStreamError();
    m_size = size;
    m_position = std::min(m_position, m_size);
}

void TMemoryStream::Clear() {
    Reallocate(0);
    m_size = 0;
    m_position = 0;
}

int64_t TMemoryStream::CopyFrom(TStream& source, int64_t count) {
    const int64_t left = SourceRemaining(source);
    if (left < 0) return TStream::CopyFrom(source, count);
    if (count < 0 || count > left) count = left;
    if (count == 0) return 0;
    const int64_t end = m_position + count;
    if (!Reserve(end)) throw EStreamWriteError();
    // Bytes between the old end and the position (none normally) stay as they were.
    const int64_t got = static_cast<int64_t>(source.Read(m_data + m_position, static_cast<size_t>(count)));
    if (got < count) {
        m_size = std::max(m_size, m_position + got);
        m_position += got;
        throw EStreamReadError();
    }
    m_size = std::max(m_size, end);
    m_position = end;
    return count;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    const int64_t left = m_size - m_position;
    if (left <= 0 || count == 0) return 0;
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(std::min<size_t>(count, INT64_MAX))));
    std::memcpy(buffer, m_data + m_position, n);
    m_position += static_cast<int64_t>(n);
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (count > static_cast<size_t>(kMemoryStreamMaxSize)) return 0;
    const int64_t end = m_position + static_cast<int64_t>(count);
    if (!Reserve(end)) return 0;
    std::memcpy(m_data + m_position, buffer, count);
    m_position = end;
    m_size = std::max(m_size, end);
    return count;
}

// ---- TStringStream ----

bool TStringStream::Reserve(int64_t neededSize) {
    const int64_t current = static_cast<int64_t>(m_data.capacity());
    if (neededSize <= current) return true;
    const int64_t capacity = MemoryStreamCapacityFor(current, neededSize);
    if (capacity == 0) return false;
    try {
        m_data.reserve(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void TStringStream::SetPosition(int64_t position) {
    m_position = std::clamp<int64_t>(position, 0, GetSize());
}

void TStringStream::SetSize(int64_t size) {
    if (size <= 0) {
        Clear();
        return;
    }
    if (size > kMemoryStreamMaxSize) throw EStreamError();
    try {
        m_data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        throw EStreamError();
    }
    m_position = std::min(m_position, size);
}

void TStringStream::Clear() {
    std::string().swap(m_data);
    m_position = 0;
}

int64_t TStringStream::CopyFrom(TStream& source, int64_t count) {
    const int64_t left = SourceRemaining(source);
    if (left < 0) return TStream::CopyFrom(source, count);
    if (count < 0 || count > left) count = left;
    if (count == 0) return 0;
    const int64_t end = m_position + count;
    if (!Reserve(end)) throw EStreamWriteError();
    if (end > GetSize()) m_data.resize(static_cast<size_t>(end));
    const int64_t got = static_cast<int64_t>(source.Read(&m_data[static_cast<size_t>(m_position)], static_cast<size_t>(count)));
    m_position += got;
    if (got < count) {
        m_data.resize(static_cast<size_t>(std::max(m_position, end - count)));
        throw EStreamReadError();
    }
    return count;
}

size_t TStringStream::Read(void* buffer, size_t count) {
    const int64_t left = GetSize() - m_position;
    if (left <= 0 || count == 0) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(left), count));
    std::memcpy(buffer, m_data.data() + m_position, n);
    m_position += static_cast<int64_t>(n);
    return n;
}

size_t TStringStream::Write(const void* buffer, size_t count) {
    if (count == 0 || count > static_cast<size_t>(kMemoryStreamMaxSize)) return 0;
    const int64_t end = m_position + static_cast<int64_t>(count);
    if (!Reserve(end)) return 0;
    if (end > GetSize()) m_data.resize(static_cast<size_t>(end));
    std::memcpy(&m_data[static_cast<size_t>(m_position)], buffer, count);
    m_position = end;
    return count;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::u16string& fileName, TFileAccess access, uint32_t share,
                         TFileDisposition disposition) {
    Open(fileName, access, share, disposition);
}

TFileStream::~TFileStream() { Close(); }

void TFileStream::Open(const std::u16string& fileName, TFileAccess access, uint32_t share,
                       TFileDisposition disposition) {
    Close();
    m_handle = TFileAPI::CreateFile(fileName, access, share, disposition);
    m_access = access;
    m_share = share;
    m_fileName = fileName;
}

void TFileStream::Close() {
    if (m_handle != kInvalidHandle) TFileAPI::CloseHandle(m_handle);
    m_handle = kInvalidHandle;
}

namespace {
// Runs a file operation and turns its errors into the stream error of the
// operation: the file error's message when there is one, else the class name.
template <class StreamError, class Op>
auto AsStreamError(Op&& op) -> decltype(op()) {
    try {
        return op();
    } catch (const EFileError& e) {
        throw StreamError(e.Message());
    } catch (const EStreamError&) {
        throw;
    } catch (const std::exception&) {
        throw StreamError();
    }
}
}  // namespace

int64_t TFileStream::GetPosition() {
    return AsStreamError<EStreamError>([&] {
        if (!IsOpen()) throw EStreamError();
        return TFileAPI::Seek(m_handle, 0, TSeekOrigin::Current);
    });
}

void TFileStream::SetPosition(int64_t position) {
    AsStreamError<EStreamSeekError>([&] {
        if (!IsOpen()) throw EStreamSeekError();
        TFileAPI::Seek(m_handle, position, TSeekOrigin::Begin);
    });
}

int64_t TFileStream::GetSize() {
    return AsStreamError<EStreamError>([&] {
        if (!IsOpen()) throw EStreamError();
        const int64_t position = TFileAPI::Seek(m_handle, 0, TSeekOrigin::Current);
        const int64_t size = TFileAPI::Seek(m_handle, 0, TSeekOrigin::End);
        TFileAPI::Seek(m_handle, position, TSeekOrigin::Begin);
        return size;
    });
}

void TFileStream::SetSize(int64_t size) {
    AsStreamError<EStreamError>([&] {
        if (!IsOpen()) throw EStreamError();
        const int64_t position = TFileAPI::Seek(m_handle, 0, TSeekOrigin::Current);
        TFileAPI::Seek(m_handle, size, TSeekOrigin::Begin);
        TFileAPI::SetEndOfFile(m_handle);
        TFileAPI::Seek(m_handle, std::min(position, size), TSeekOrigin::Begin);
    });
}

void TFileStream::Clear() { SetSize(0); }

size_t TFileStream::Read(void* buffer, size_t count) {
    return AsStreamError<EStreamReadError>([&]() -> size_t {
        if (!IsOpen()) throw EStreamReadError();
        return TFileAPI::Read(m_handle, buffer, count);
    });
}

size_t TFileStream::Write(const void* buffer, size_t count) {
    return AsStreamError<EStreamWriteError>([&]() -> size_t {
        if (!IsOpen()) throw EStreamWriteError();
        return TFileAPI::Write(m_handle, buffer, count);
    });
}

int64_t TFileStream::CopyFrom(TStream& source, int64_t count) {
    if (!IsOpen()) return 0;
    const int64_t left = SourceRemaining(source);
    if (left >= 0 && (count < 0 || count > left)) count = left;
    // A source of unknown size is sized like a large copy for the buffer, but is
    // copied until it runs dry rather than cut at that size.
    const int64_t sizing = left < 0 ? kFileCopyStackLimit + 1 : count;
    const size_t bufferSize = sizing <= kFileCopyStackLimit
                                  ? kCopyBufferSize
                                  : static_cast<size_t>(std::min(sizing, kFileCopyHeapLimit));
    std::vector<uint8_t> buffer(bufferSize);
    int64_t total = 0;
    while (count < 0 || total < count) {
        size_t want = bufferSize;
        if (count >= 0) want = static_cast<size_t>(std::min<int64_t>(bufferSize, count - total));
        const size_t got = source.Read(buffer.data(), want);
        if (got == 0) break;
        if (Write(buffer.data(), got) != got) throw EStreamWriteError();
        total += static_cast<int64_t>(got);
    }
    return total;
}

}  // namespace ql
