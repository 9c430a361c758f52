#include "QlLib/Music/Mp3ShiftStream.h"

#include <algorithm>

#include "QlLib/qpExceptions.h"

namespace ql {

TMp3ShiftStream::TMp3ShiftStream(std::unique_ptr<TStream> inner, int64_t offset)
    : m_inner(std::move(inner)), m_offset(std::max<int64_t>(offset, 0)) {
    const int64_t size = m_inner->GetSize();
    if (size >= 0) m_offset = std::min(m_offset, size);
    m_inner->SetPosition(m_offset);
}

int64_t TMp3ShiftStream::GetPosition() {
    return m_inner->GetPosition() - m_offset;
}

void TMp3ShiftStream::SetPosition(int64_t position) {
    m_inner->SetPosition(std::max<int64_t>(position, 0) + m_offset);
}

int64_t TMp3ShiftStream::GetSize() {
    const int64_t size = m_inner->GetSize();
    return size < 0 ? -1 : size - m_offset;
}

void TMp3ShiftStream::SetSize(int64_t) {
    QL_ASSERT(false, "TMp3ShiftStream cannot set the size");
}

size_t TMp3ShiftStream::Read(void* buffer, size_t count) {
    return m_inner->Read(buffer, count);
}

size_t TMp3ShiftStream::Write(const void* buffer, size_t count) {
    return m_inner->Write(buffer, count);
}

}  // namespace ql
