#include "QlLib/qlZStreams.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "QlLib/qpExceptions.h"

namespace ql {

namespace {
constexpr size_t kInputBufferSize = 32768;
constexpr size_t kOutputBufferSize = 32768;
constexpr size_t kSkipBufferSize = 65536;
}  // namespace

struct TZState {
    z_stream z{};
    std::vector<uint8_t> input = std::vector<uint8_t>(kInputBufferSize);
    bool open = false;

    ~TZState() {
        if (open) inflateEnd(&z);
    }
};

// ---- TInflateStream ----

TInflateStream::TInflateStream(TStream& inner, int64_t limit, int windowBits)
    : m_inner(&inner), m_limit(limit) {
    Init(windowBits);
}

TInflateStream::TInflateStream(std::unique_ptr<TStream> inner, int64_t limit, int windowBits)
    : m_owned(std::move(inner)), m_inner(m_owned.get()), m_limit(limit) {
    Init(windowBits);
}

TInflateStream::~TInflateStream() = default;

void TInflateStream::Init(int windowBits) {
    m_state = std::make_unique<TZState>();
    if (inflateInit2(&m_state->z, windowBits) != Z_OK) throw EStreamError();
    m_state->open = true;
}

void TInflateStream::SetPosition(int64_t position) {
    if (position < m_produced) throw EStreamSeekError();
    std::vector<uint8_t> scratch(kSkipBufferSize);
    while (m_produced < position) {
        const size_t want =
            static_cast<size_t>(std::min<int64_t>(position - m_produced, kSkipBufferSize));
        if (Read(scratch.data(), want) == 0) throw EStreamSeekError();
    }
}

void TInflateStream::SetSize(int64_t) { throw EStreamError("Stream Cannot be resized"); }

size_t TInflateStream::Write(const void*, size_t) { throw EStreamWriteError(); }

size_t TInflateStream::Read(void* buffer, size_t count) {
    if (m_finished || count == 0) return 0;
    z_stream& z = m_state->z;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count && !m_finished) {
        if (z.avail_in == 0) {
            const size_t got = m_inner->Read(m_state->input.data(), m_state->input.size());
            if (got == 0) throw EStreamReadError(kInflateTruncatedText);
            z.next_in = m_state->input.data();
            z.avail_in = static_cast<uInt>(got);
        }
        const size_t piece = std::min<size_t>(count - done, kOutputBufferSize);
        z.next_out = out + done;
        z.avail_out = static_cast<uInt>(piece);
        const int rc = inflate(&z, Z_NO_FLUSH);
        const size_t produced = piece - z.avail_out;
        done += produced;
        m_produced += static_cast<int64_t>(produced);
        if (m_produced > m_limit) throw EStreamReadError(kInflateLimitText);
        if (rc == Z_STREAM_END) {
            m_finished = true;
        } else if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR) {
            throw EStreamReadError(kInflateDamagedText);
        } else if (rc == Z_BUF_ERROR && z.avail_in != 0 && produced == 0) {
            throw EStreamReadError(kInflateDamagedText);
        }
    }
    return done;
}

// ---- TInflator ----

int64_t TInflator::Inflate(TStream& source, TMemoryStream& dest, int64_t limit, int windowBits) {
    TInflateStream inflater(source, limit, windowBits);
    std::vector<uint8_t> buffer(kOutputBufferSize);
    int64_t total = 0;
    for (;;) {
        const size_t got = inflater.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        // The memory stream writes less instead of raising when it cannot grow.
        if (dest.Write(buffer.data(), got) != got) throw EStreamReadError(kInflateLimitText);
        total += static_cast<int64_t>(got);
    }
    return total;
}

// ---- TDeflator ----

int64_t TDeflator::Deflate(TStream& source, TStream& dest, int level, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw EStreamError();
    }
    struct End {
        z_stream* z;
        ~End() { deflateEnd(z); }
    } end{&z};
    std::vector<uint8_t> input(kInputBufferSize);
    std::vector<uint8_t> output(kOutputBufferSize);
    int64_t total = 0;
    int flush = Z_NO_FLUSH;
    do {
        const size_t got = source.Read(input.data(), input.size());
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(got);
        do {
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            deflate(&z, flush);
            const size_t produced = output.size() - z.avail_out;
            dest.WriteBuffer(output.data(), produced);
            total += static_cast<int64_t>(produced);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    return total;
}

}  // namespace ql
