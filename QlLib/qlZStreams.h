// Deflate decoding and encoding over streams, on zlib. Every decoder is bounded:
// a few kilobytes of crafted input can claim gigabytes of output, so each one
// stops with EStreamReadError once its output passes the caller's limit.
#pragma once

#include <cstdint>
#include <memory>

#include "QlLib/qpFileStream.h"

namespace ql {

constexpr int kRawDeflateWindowBits = -15;
constexpr int kZlibWindowBits = 15;
// Output limit when the caller names none.
constexpr int64_t kDefaultInflateLimit = int64_t(512) * 1024 * 1024;

// Messages of the decoding errors (EStreamReadError).
inline constexpr const char* kInflateDamagedText = "Compressed data damaged";
inline constexpr const char* kInflateTruncatedText = "Compressed data truncated";
inline constexpr const char* kInflateLimitText = "Inflated data exceeds the size limit";

struct TZState;

// Decodes deflate data (raw by default) from the inner stream's current
// position. Read-only and forward-only: the size is unknown (-1), and only
// forward seeks (which decode and drop) are accepted.
class TInflateStream : public TStream {
public:
    TInflateStream(TStream& inner, int64_t limit = kDefaultInflateLimit,
                   int windowBits = kRawDeflateWindowBits);
    TInflateStream(std::unique_ptr<TStream> inner, int64_t limit = kDefaultInflateLimit,
                   int windowBits = kRawDeflateWindowBits);
    ~TInflateStream() override;

    int64_t GetPosition() override { return m_produced; }
    void SetPosition(int64_t position) override;
    int64_t GetSize() override { return -1; }
    void SetSize(int64_t size) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    // True once the end of the compressed data has been decoded.
    bool Finished() const { return m_finished; }

private:
    void Init(int windowBits);

    std::unique_ptr<TStream> m_owned;
    TStream* m_inner;
    std::unique_ptr<TZState> m_state;
    int64_t m_limit;
    int64_t m_produced = 0;
    bool m_finished = false;
};

// The zlib format (header and checksum) instead of raw deflate.
class TZDecompressionStream : public TInflateStream {
public:
    explicit TZDecompressionStream(TStream& inner, int64_t limit = kDefaultInflateLimit)
        : TInflateStream(inner, limit, kZlibWindowBits) {}
    explicit TZDecompressionStream(std::unique_ptr<TStream> inner,
                                   int64_t limit = kDefaultInflateLimit)
        : TInflateStream(std::move(inner), limit, kZlibWindowBits) {}
};

class TInflator {
public:
    // Decodes the whole of source from its current position to the end of the
    // deflate data and appends it to dest. Returns the bytes appended. Raises
    // EStreamReadError for damaged or truncated data and when more than `limit`
    // bytes come out.
    static int64_t Inflate(TStream& source, TMemoryStream& dest,
                           int64_t limit = kDefaultInflateLimit,
                           int windowBits = kRawDeflateWindowBits);
};

class TDeflator {
public:
    // Encodes source from its current position to its end into dest. Returns
    // the bytes written.
    static int64_t Deflate(TStream& source, TStream& dest, int level = 6,
                           int windowBits = kRawDeflateWindowBits);
};

}  // namespace ql
