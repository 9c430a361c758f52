#include "QlLib/qlPartialStream.h"

#include <algorithm>

#include "QlLib/qpExceptions.h"

namespace ql {

// ---- TPartialStream ----

TPartialStream::TPartialStream(TStream& inner, int64_t offset, int64_t size)
    : m_inner(&inner), m_offset(offset), m_size(size) {
    Init();
}

TPartialStream::TPartialStream(std::unique_ptr<TStream> inner, int64_t offset, int64_t size)
    : m_owned(std::move(inner)), m_inner(m_owned.get()), m_offset(offset), m_size(size) {
    Init();
}

TPartialStream::~TPartialStream() = default;

void TPartialStream::Init() {
    // A negative window, or one whose end overflows, can never fit the source.
    const int64_t innerSize = m_inner->GetSize();
    if (m_offset < 0 || m_size < 0 || m_offset > INT64_MAX - m_size ||
        innerSize < m_offset + m_size) {
        throw EStreamError("Insufficient Source Size");
    }
    m_inner->SetPosition(m_offset);
}

int64_t TPartialStream::GetPosition() { return m_inner->GetPosition() - m_offset; }

void TPartialStream::SetPosition(int64_t position) {
    if (position < 0 || position > m_size) throw EStreamError("Incorrect Position");
    m_inner->SetPosition(m_offset + position);
}

void TPartialStream::SetSize(int64_t) { throw EStreamError("Stream Cannot be resized"); }

void TPartialStream::SetCallback(TStreamCallback callback, void* userData, int32_t chunk) {
    m_callback = callback;
    m_userData = userData;
    m_chunk = callback ? std::max(chunk, kPartialStreamMinChunk) : kPartialStreamDefaultChunk;
    m_buffer.clear();
}

size_t TPartialStream::Read(void* buffer, size_t count) {
    const int64_t left = m_size - GetPosition();
    if (left <= 0 || count == 0) return 0;
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(count)));
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < want) {
        const size_t piece = std::min<size_t>(want - done, static_cast<size_t>(m_chunk));
        const size_t got = m_inner->Read(out + done, piece);
        done += got;
        if (m_callback && !m_callback(m_userData)) break;
        if (got < piece) break;
    }
    return done;
}

size_t TPartialStream::Write(const void* buffer, size_t count) {
    const int64_t left = m_size - GetPosition();
    if (left <= 0 || count == 0) return 0;
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(count)));
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < want) {
        const size_t piece = std::min<size_t>(want - done, static_cast<size_t>(m_chunk));
        const size_t put = m_inner->Write(in + done, piece);
        done += put;
        if (m_callback && !m_callback(m_userData)) break;
        if (put < piece) break;
    }
    return done;
}

int64_t TPartialStream::CopyFrom(TStream& source, int64_t count) {
    if (m_buffer.size() != static_cast<size_t>(m_chunk)) m_buffer.assign(m_chunk, 0);
    int64_t total = 0;
    while (count < 0 || total < count) {
        if (m_callback && !m_callback(m_userData)) break;
        int64_t want = m_chunk;
        if (count >= 0) want = std::min<int64_t>(want, count - total);
        const size_t got = source.Read(m_buffer.data(), static_cast<size_t>(want));
        if (got == 0) break;
        if (Write(m_buffer.data(), got) != got) throw EStreamWriteError();
        total += static_cast<int64_t>(got);
        if (m_callback && !m_callback(m_userData)) break;
    }
    return total;
}

// ---- TCryptStream ----

TCryptStream::TCryptStream(TStream& inner, std::string key)
    : m_inner(&inner), m_key(std::move(key)) {
    QL_ASSERT(!m_key.empty(), "TCryptStream: empty key");
}

TCryptStream::TCryptStream(std::unique_ptr<TStream> inner, std::string key)
    : m_owned(std::move(inner)), m_inner(m_owned.get()), m_key(std::move(key)) {
    QL_ASSERT(!m_key.empty(), "TCryptStream: empty key");
}

TCryptStream::~TCryptStream() = default;

void TCryptStream::Apply(const std::string& key, int64_t position, uint8_t* data, size_t count) {
    const int64_t length = static_cast<int64_t>(key.size());
    size_t index = static_cast<size_t>(((position % length) + length) % length);
    for (size_t i = 0; i < count; ++i) {
        data[i] ^= static_cast<uint8_t>(key[index]);
        if (++index == key.size()) index = 0;
    }
}

size_t TCryptStream::Read(void* buffer, size_t count) {
    const int64_t position = m_inner->GetPosition();
    const size_t got = m_inner->Read(buffer, count);
    Apply(m_key, position, static_cast<uint8_t*>(buffer), got);
    return got;
}

size_t TCryptStream::Write(const void* buffer, size_t count) {
    const int64_t position = m_inner->GetPosition();
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(buffer),
                              static_cast<const uint8_t*>(buffer) + count);
    Apply(m_key, position, copy.data(), copy.size());
    return m_inner->Write(copy.data(), copy.size());
}

}  // namespace ql
