// MPEG audio (layers 1 to 3) through libmpg123 in feed mode: TMpg123, the
// shared decoder front, and TMpegConverter.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "QlLib/Music/WavConverters.h"

struct mpg123_handle_struct;

namespace ql {

// The library set-up shared by all MPEG converters; it lives while at least
// one converter uses it and its lock serialises their decoding.
class TMpg123 {
public:
    // Takes a user; false when the library cannot start.
    static bool Acquire();
    static void ReleaseUser();
    static std::mutex& Lock();
};

class TMpegConverter : public TWavConverter {
public:
    explicit TMpegConverter(TStream& stream);
    ~TMpegConverter() override;

    bool Open(const TMediaInfo& info) override;
    void Seek(double ms) override;

protected:
    bool Decode() override;

private:
    bool ResetDecoder();

    mpg123_handle_struct* m_handle = nullptr;
    bool m_user = false;
    std::vector<uint8_t> m_pcm;
    // Output bytes still to drop after a seek (the decoder's lead-in).
    size_t m_discard = 0;
};

}  // namespace ql
