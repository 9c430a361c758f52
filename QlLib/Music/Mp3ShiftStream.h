// TMp3ShiftStream: a view of another stream that starts at a fixed offset, so
// that an MPEG stream behind a leading tag looks to its decoder like a file of
// its own.
#pragma once

#include <cstdint>
#include <memory>

#include "QlLib/qpFileStream.h"

namespace ql {

class TMp3ShiftStream : public TStream {
public:
    // offset is clamped to [0, size of inner] when the size is known.
    TMp3ShiftStream(std::unique_ptr<TStream> inner, int64_t offset);

    int64_t GetPosition() override;
    void SetPosition(int64_t position) override;
    // -1 if the inner size is unknown.
    int64_t GetSize() override;
    // A view cannot change the size of what it looks at: an assertion failure.
    void SetSize(int64_t size) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    int64_t Offset() const { return m_offset; }
    TStream& Inner() { return *m_inner; }
    std::unique_ptr<TStream> TakeInner() { return std::move(m_inner); }

private:
    std::unique_ptr<TStream> m_inner;
    int64_t m_offset;
};

}  // namespace ql
