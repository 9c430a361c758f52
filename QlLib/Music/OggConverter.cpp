#include "QlLib/Music/OggConverter.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "QlLib/qlLog.h"

namespace ql {

namespace {

size_t ReadCallback(void* buffer, size_t size, size_t count, void* source) {
    if (size == 0) return 0;
    auto* stream = static_cast<TStream*>(source);
    const size_t bytes = std::min(size * count, TStreamWrapperClass::kMaxRead);
    return stream->Read(buffer, bytes) / size;
}

int SeekCallback(void* source, ogg_int64_t offset, int whence) {
    auto* stream = static_cast<TStream*>(source);
    const int64_t size = stream->GetSize();
    int64_t target = offset;
    if (whence == SEEK_CUR) target += stream->GetPosition();
    else if (whence == SEEK_END) target += size;
    if (target < 0 || (size >= 0 && target > size)) return -1;
    stream->SetPosition(target);
    return 0;
}

long TellCallback(void* source) {
    return long(static_cast<TStream*>(source)->GetPosition());
}

const ov_callbacks kCallbacks = {ReadCallback, SeekCallback, nullptr, TellCallback};

bool Plausible(const vorbis_info* vi) {
    return vi && vi->channels >= 1 && vi->channels <= kMaxSourceChannels &&
           vi->rate >= long(kMinSampleRate) && vi->rate <= long(kMaxSampleRate);
}

}  // namespace

struct TOggConverter::TState {
    OggVorbis_File File{};
    bool IsOpen = false;
    int Section = 0;
};

TChannelLayout VorbisLayout(int channels) {
    switch (channels) {
        case 3: return {0, 2, 1};
        case 4: return {0, 1, 4, 5};
        case 5: return {0, 2, 1, 4, 5};
        case 6: return {0, 2, 1, 4, 5, 3};
        case 7: return {0, 2, 1, 9, 10, 8, 3};
        case 8: return {0, 2, 1, 9, 10, 4, 5, 3};
        default: return LayoutFromMask(0, channels);
    }
}

bool ReadOggMediaInfo(TStream& stream, TMediaInfo& info) {
    stream.SetPosition(0);
    OggVorbis_File file{};
    if (ov_open_callbacks(&stream, &file, nullptr, 0, kCallbacks) != 0) return false;
    const vorbis_info* vi = ov_info(&file, -1);
    bool ok = Plausible(vi);
    if (ok) {
        const double seconds = ov_time_total(&file, -1);
        TMediaInfo result;
        result.MediaType = TMediaType::Ogg;
        result.Format = TWaveFormat::Pcm(uint32_t(vi->rate), uint16_t(vi->channels), 16);
        result.DataStart = 0;
        result.DataSize = std::max<int64_t>(stream.GetSize(), 0);
        result.LengthMs = seconds > 0 ? std::llround(seconds * 1000.0) : 0;
        info = result;
    }
    ov_clear(&file);
    return ok;
}

TOggConverter::TOggConverter(TStream& stream) : TWavConverter(stream), m_state(std::make_unique<TState>()) {}

TOggConverter::~TOggConverter() {
    if (m_state->IsOpen) ov_clear(&m_state->File);
}

bool TOggConverter::Open(const TMediaInfo& info) {
    m_info = info;
    m_stream.SetPosition(0);
    if (ov_open_callbacks(&m_stream, &m_state->File, nullptr, 0, kCallbacks) != 0) return false;
    m_state->IsOpen = true;
    const vorbis_info* vi = ov_info(&m_state->File, -1);
    if (!Plausible(vi)) return false;
    m_pcm.resize(8192);
    SetPcmFormat(TWaveFormat::Pcm(uint32_t(vi->rate), uint16_t(vi->channels), 16), VorbisLayout(vi->channels));
    Seek(0);
    return true;
}

void TOggConverter::Seek(double ms) {
    ClearBuffers();
    ms = std::clamp(ms, 0.0, double(std::max<int64_t>(m_info.LengthMs, 0)));
    if (ov_pcm_seek(&m_state->File, ogg_int64_t(std::floor(ms / 1000.0 * m_pcmFormat.SamplesPerSec))) != 0)
        ov_raw_seek(&m_state->File, 0);
    m_position = ms;
}

bool TOggConverter::Decode() {
    const vorbis_info* current = ov_info(&m_state->File, -1);
    // A chained file may change its format between links.
    if (current && Plausible(current) &&
        (uint32_t(current->rate) != m_pcmFormat.SamplesPerSec || current->channels != m_pcmFormat.Channels))
        SetPcmFormat(TWaveFormat::Pcm(uint32_t(current->rate), uint16_t(current->channels), 16),
                     VorbisLayout(current->channels));
    for (int holes = 0; holes < 64; ++holes) {
        const size_t block = m_pcmFormat.BlockAlign;
        const int room = int(m_pcm.size() - m_pcm.size() % block);
        const long got = ov_read(&m_state->File, reinterpret_cast<char*>(m_pcm.data()), room, 0, 2, 1,
                                 &m_state->Section);
        if (got == OV_HOLE) continue;  // a gap in the data: go on with what follows
        if (got <= 0) {
            if (got < 0) GlobalLog().WriteLine("Ogg Vorbis decoding error " + std::to_string(got));
            return false;
        }
        EmitPcm(m_pcm.data(), size_t(got));
        return true;
    }
    return false;
}

}  // namespace ql
