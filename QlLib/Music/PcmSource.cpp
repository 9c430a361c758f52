#include "QlLib/Music/PcmSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ql {

bool TPcmFormat::Valid() const {
    return (Channels == 1 || Channels == 2) && SampleRate >= 1000 && SampleRate <= 384000;
}

TMemoryPcmSource::TMemoryPcmSource(TPcmFormat format, std::vector<int16_t> samples)
    : m_format(format), m_samples(std::move(samples)) {
    const size_t channels = m_format.Valid() ? size_t(m_format.Channels) : 1;
    m_frames = m_samples.size() / channels;
}

double TMemoryPcmSource::LengthMs() const {
    if (!m_format.Valid()) return -1;
    return double(m_frames) * 1000.0 / m_format.SampleRate;
}

bool TMemoryPcmSource::Seek(double ms) {
    if (!m_format.Valid() || !(ms >= 0)) return false;
    const double frame = std::floor(ms * m_format.SampleRate / 1000.0 + 1e-9);
    m_position = frame >= double(m_frames) ? m_frames : size_t(frame);
    return true;
}

size_t TMemoryPcmSource::Read(int16_t* samples, size_t frameCount) {
    if (!m_format.Valid()) return 0;
    const size_t count = std::min(frameCount, m_frames - m_position);
    // An empty source has no sample storage at all: nothing to copy from.
    if (count == 0) return 0;
    const size_t channels = size_t(m_format.Channels);
    std::memcpy(samples, m_samples.data() + m_position * channels,
                count * channels * sizeof(int16_t));
    m_position += count;
    return count;
}

std::unique_ptr<TMemoryPcmSource> TMemoryPcmSource::Constant(int16_t value, size_t frameCount,
                                                             TPcmFormat format) {
    std::vector<int16_t> samples(frameCount * size_t(std::max(format.Channels, 1)), value);
    return std::make_unique<TMemoryPcmSource>(format, std::move(samples));
}

std::unique_ptr<TMemoryPcmSource> TMemoryPcmSource::Counter(size_t frameCount, TPcmFormat format) {
    const size_t channels = size_t(std::max(format.Channels, 1));
    std::vector<int16_t> samples(frameCount * channels);
    for (size_t i = 0; i < frameCount; ++i)
        for (size_t c = 0; c < channels; ++c) samples[i * channels + c] = int16_t(i % 32768);
    return std::make_unique<TMemoryPcmSource>(format, std::move(samples));
}

}  // namespace ql
