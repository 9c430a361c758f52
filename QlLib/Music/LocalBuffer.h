// TLocalBuffer: the growable byte buffer that carries sound between the
// converters and the channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql {

class TStream;

class TLocalBuffer : public TObj {
public:
    // Buffers never grow beyond this; larger requests fail instead of taking memory.
    static constexpr size_t kMaxCapacity = 64u << 20;

    explicit TLocalBuffer(size_t capacity = 0);

    size_t Capacity() const { return m_data.size(); }
    size_t Fill() const { return m_fill; }
    size_t FreeRoom() const { return m_data.size() - m_fill; }
    uint8_t* Data() { return m_data.data(); }
    const uint8_t* Data() const { return m_data.data(); }
    // Where the next bytes go.
    uint8_t* End() { return m_data.data() + m_fill; }

    // Grows by what is missing so that room bytes fit behind the fill; false
    // (nothing changed) above kMaxCapacity.
    bool EnsureFreeRoom(size_t room);
    // Reads from the stream into the free room, at most maxBytes; returns the
    // bytes read.
    size_t ReadFrom(TStream& stream, size_t maxBytes);
    // Appends the whole of other; the assertion "Buffer overrun" when it does
    // not fit into the free room.
    void Append(const TLocalBuffer& other);
    void Append(const void* data, size_t count);
    // Marks count bytes written at End() as filled (at most the free room).
    void Commit(size_t count);
    // Drops count bytes from the front; the rest moves down.
    void Consume(size_t count);
    void Clear() { m_fill = 0; }

private:
    std::vector<uint8_t> m_data;
    size_t m_fill = 0;
};

}  // namespace ql
