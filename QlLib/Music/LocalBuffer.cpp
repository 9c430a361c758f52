#include "QlLib/Music/LocalBuffer.h"

#include <algorithm>
#include <cstring>

#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace ql {

TLocalBuffer::TLocalBuffer(size_t capacity) : m_data(std::min(capacity, kMaxCapacity)) {}

bool TLocalBuffer::EnsureFreeRoom(size_t room) {
    if (room <= FreeRoom()) return true;
    if (room > kMaxCapacity - m_fill) return false;
    m_data.resize(m_fill + room);
    return true;
}

size_t TLocalBuffer::ReadFrom(TStream& stream, size_t maxBytes) {
    const size_t count = stream.Read(End(), std::min(maxBytes, FreeRoom()));
    m_fill += count;
    return count;
}

void TLocalBuffer::Append(const TLocalBuffer& other) { Append(other.Data(), other.Fill()); }

void TLocalBuffer::Append(const void* data, size_t count) {
    QL_ASSERT(count <= FreeRoom(), "Buffer overrun");
    if (count) std::memmove(End(), data, count);
    m_fill += count;
}

void TLocalBuffer::Commit(size_t count) { m_fill += std::min(count, FreeRoom()); }

void TLocalBuffer::Consume(size_t count) {
    count = std::min(count, m_fill);
    std::memmove(m_data.data(), m_data.data() + count, m_fill - count);
    m_fill -= count;
}

}  // namespace ql
