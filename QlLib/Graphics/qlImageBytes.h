// Byte helpers shared by our own picture decoders, which read untrusted files:
// the whole picture is taken into memory once, and every read from it is
// checked against its end.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// Picture files are read whole; none of ours is larger than this.
constexpr int64_t kMaxImageFileBytes = int64_t(1) << 30;

// The stream from its position to its end (or, for a stream of unknown size,
// to where reads stop). Raises EImageError beyond limit bytes and
// EStreamReadError when a known size cannot be read in full.
std::vector<uint8_t> ReadRemaining(TStream& stream, int64_t limit);

// Reads up to count bytes at the position and moves back; the count read.
size_t PeekBytes(TStream& stream, void* buffer, size_t count);

// Little-endian reads from a byte block; running past the end raises
// EImageError with the decoder's message.
class TByteCursor {
public:
    TByteCursor(const uint8_t* data, size_t size, const char* errorText)
        : m_data(data), m_size(size), m_error(errorText) {}

    size_t Position() const { return m_pos; }
    size_t Size() const { return m_size; }
    size_t Left() const { return m_size - m_pos; }
    bool AtEnd() const { return m_pos >= m_size; }
    void Seek(size_t position) {
        if (position > m_size) Fail();
        m_pos = position;
    }
    void Skip(size_t count) {
        if (count > Left()) Fail();
        m_pos += count;
    }
    // The address of count bytes at the position, which then moves past them.
    const uint8_t* Take(size_t count) {
        if (count > Left()) Fail();
        const uint8_t* p = m_data + m_pos;
        m_pos += count;
        return p;
    }
    uint8_t U8() { return *Take(1); }
    uint16_t U16() {
        const uint8_t* p = Take(2);
        return uint16_t(p[0] | (p[1] << 8));
    }
    uint32_t U32() {
        const uint8_t* p = Take(4);
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    int32_t I32() { return int32_t(U32()); }
    [[noreturn]] void Fail() const { throw EImageError(m_error); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    const char* m_error;
};

}  // namespace ql
