// Ogg Vorbis through libvorbisfile, reading our stream through its callbacks.
// It stands in for the OGG decoder plug-in a show may carry.
#pragma once

#include <memory>
#include <vector>

#include "QlLib/Music/WavConverters.h"

namespace ql {

// Fills info (type Ogg) when the stream is an Ogg Vorbis file we can play.
bool ReadOggMediaInfo(TStream& stream, TMediaInfo& info);

// The speakers of Vorbis channels, which follow their own order.
TChannelLayout VorbisLayout(int channels);

class TOggConverter : public TWavConverter {
public:
    explicit TOggConverter(TStream& stream);
    ~TOggConverter() override;

    bool Open(const TMediaInfo& info) override;
    void Seek(double ms) override;

protected:
    bool Decode() override;
    bool ReadInput() override { return false; }

private:
    struct TState;
    std::unique_ptr<TState> m_state;
    std::vector<uint8_t> m_pcm;
};

}  // namespace ql
