// Wrapper streams of the package reader: the window over part of another stream
// and the repeating-key scrambling stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/qpFileStream.h"

namespace ql {

// Called between the pieces of a long read or copy. Returns false to ask the
// load to stop: the read then ends early with what it has.
using TStreamCallback = bool (*)(void* userData);

constexpr int32_t kPartialStreamDefaultChunk = 32768;
constexpr int32_t kPartialStreamMinChunk = 256;

// A window of `size` bytes starting at `offset` of an inner stream. Positions are
// relative to the window; reads and writes never leave it.
class TPartialStream : public TStream {
public:
    // Observes the inner stream, which must outlive the window.
    TPartialStream(TStream& inner, int64_t offset, int64_t size);
    // Owns the inner stream.
    TPartialStream(std::unique_ptr<TStream> inner, int64_t offset, int64_t size);
    ~TPartialStream() override;

    int64_t GetPosition() override;
    void SetPosition(int64_t position) override;
    int64_t GetSize() override { return m_size; }
    void SetSize(int64_t size) override;
    int64_t CopyFrom(TStream& source, int64_t count) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    // Without a callback the pieces are 32768 bytes; with one they are `chunk`
    // bytes, but at least 256.
    void SetCallback(TStreamCallback callback, void* userData, int32_t chunk);
    int32_t ChunkSize() const { return m_chunk; }
    int64_t Offset() const { return m_offset; }
    TStream& Inner() { return *m_inner; }

private:
    void Init();

    std::unique_ptr<TStream> m_owned;
    TStream* m_inner;
    int64_t m_offset;
    int64_t m_size;
    TStreamCallback m_callback = nullptr;
    void* m_userData = nullptr;
    int32_t m_chunk = kPartialStreamDefaultChunk;
    std::vector<uint8_t> m_buffer;  // staging for CopyFrom, sized on first use
};

// Reading at inner position p gives each byte XOR key[p mod key length]. The
// transformation is its own inverse, so writing scrambles the same way.
class TCryptStream : public TStream {
public:
    // The key must not be empty.
    TCryptStream(TStream& inner, std::string key);
    TCryptStream(std::unique_ptr<TStream> inner, std::string key);
    ~TCryptStream() override;

    int64_t GetPosition() override { return m_inner->GetPosition(); }
    void SetPosition(int64_t position) override { m_inner->SetPosition(position); }
    int64_t GetSize() override { return m_inner->GetSize(); }
    void SetSize(int64_t size) override { m_inner->SetSize(size); }
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    TStream& Inner() { return *m_inner; }

    // XORs bytes that lie at `position` of a scrambled stream.
    static void Apply(const std::string& key, int64_t position, uint8_t* data, size_t count);

private:
    std::unique_ptr<TStream> m_owned;
    TStream* m_inner;
    std::string m_key;
};

}  // namespace ql
