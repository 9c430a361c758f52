#include "QlLib/Music/PcmResampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

#include "QlLib/qpExceptions.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace ql {

namespace {

// The band-limited filter: taps per phase at the lower rate, the Kaiser
// window's beta and the cutoff as a fraction of the lower Nyquist frequency.
// Measured on sine sweeps (PcmResampler tests): passband within 0.5 dB up to
// 0.9, images and aliases below -60 dB from 1.0 on.
constexpr int kFilterTaps = 96;
constexpr double kKaiserBeta = 8;
constexpr double kCutoff = 0.95;

// The default speakers of WAV files without a channel mask, by channel count.
constexpr uint32_t kDefaultMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

struct TWeight {
    float Left, Right;
};

// Where each speaker goes in a stereo fold-down (ITU-style: centre and
// surrounds at -3 dB, LFE left out).
TWeight SpeakerWeight(int speaker) {
    constexpr float h = 0.70710678f;
    switch (speaker) {
        case 0:
            return {1, 0};
        case 1:
            return {0, 1};
        case 2:
            return {h, h};
        case 3:
            return {0, 0};
        case 4:
            return {h, 0};
        case 5:
            return {0, h};
        case 6:
            return {0.9238795f, 0.3826834f};
        case 7:
            return {0.3826834f, 0.9238795f};
        case 8:
            return {0.5f, 0.5f};
        case 9:
            return {h, 0};
        case 10:
            return {0, h};
        case 12:
            return {h, 0};
        case 14:
            return {0, h};
        case 15:
            return {0.5f, 0};
        case 17:
            return {0, 0.5f};
        default:
            return {0.5f, 0.5f};
    }
}

inline int32_t Clip16(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, -32768, 32767));
}

}  // namespace

int32_t FloatSampleTo16(double value) {
    if (!(value == value)) return 0;  // NaN
    value = std::clamp(value, -1.0, 1.0);
    return int32_t(std::lround(value * 32767.0));
}

TChannelLayout LayoutFromMask(uint32_t mask, int channels) {
    if (mask == 0 && channels >= 0 && channels <= 8) mask = kDefaultMasks[channels];
    TChannelLayout layout;
    for (int bit = 0; bit < 32 && int(layout.size()) < channels; ++bit)
        if (mask & (1u << bit)) layout.push_back(int8_t(bit));
    while (int(layout.size()) < channels) layout.push_back(-1);
    return layout;
}

TPcmResampler::TPcmResampler(const TWaveFormat& source, const TWaveFormat& target,
                             TChannelLayout layout)
    : m_source(source), m_target(target) {
    QL_ASSERT(source.PlausiblePcm(), "Unsupported resampler source");
    QL_ASSERT((target.Channels == 1 || target.Channels == 2) &&
                  (target.BitsPerSample == 8 || target.BitsPerSample == 16) &&
                  target.SamplesPerSec > 0,
              "Unsupported resampler target");
    m_step = double(source.SamplesPerSec) / double(target.SamplesPerSec);
    if (source.Channels > 2) {
        if (int(layout.size()) != source.Channels) layout = LayoutFromMask(0, source.Channels);
        float sumLeft = 0, sumRight = 0;
        for (int8_t speaker : layout) {
            const TWeight weight = SpeakerWeight(speaker);
            m_left.push_back(weight.Left);
            m_right.push_back(weight.Right);
            sumLeft += weight.Left;
            sumRight += weight.Right;
        }
        // Scaled so that full-scale sound on every channel still fits.
        const float scale = std::max({sumLeft, sumRight, 1.0f});
        for (auto& w : m_left) w /= scale;
        for (auto& w : m_right) w /= scale;
    }
    if (source.SamplesPerSec == target.SamplesPerSec) return;

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&m_swr, &stereo, AV_SAMPLE_FMT_S16, int(target.SamplesPerSec), &stereo,
                            AV_SAMPLE_FMT_S16, int(source.SamplesPerSec), 0, nullptr) < 0 ||
        !m_swr)
        throw Exception("Resampler cannot start");
    av_opt_set_int(m_swr, "filter_size", kFilterTaps, 0);
    av_opt_set_int(m_swr, "filter_type", SWR_FILTER_TYPE_KAISER, 0);
    av_opt_set_double(m_swr, "kaiser_beta", kKaiserBeta, 0);
    av_opt_set_double(m_swr, "cutoff", kCutoff, 0);
    av_opt_set_int(m_swr, "exact_rational", 1, 0);
    if (swr_init(m_swr) < 0) {
        swr_free(&m_swr);
        throw Exception("Resampler cannot start");
    }
    // How far the library's output trails the stepping: measured once on
    // silence, plus two frames for the stepping's rounding, and primed into
    // the queue so that every block finds its frames there.
    constexpr int kProbe = 4096;
    std::vector<int16_t> in(size_t(kProbe) * 2, 0);
    std::vector<int16_t> out(size_t(swr_get_out_samples(m_swr, kProbe)) * 2 + 64);
    const uint8_t* inPlanes[1] = {reinterpret_cast<const uint8_t*>(in.data())};
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int produced = swr_convert(m_swr, outPlanes, int(out.size() / 2), inPlanes, kProbe);
    const size_t stepped = Step(size_t(kProbe));
    m_phase = 0;
    m_prime = stepped > size_t(std::max(produced, 0)) ? stepped - size_t(produced) + 2 : 2;
    // The lead covers the filter's reach into the past, rounded up to whole
    // periods of the rate ratio so that it gives a whole number of outputs.
    const int64_t inRate = source.SamplesPerSec, outRate = target.SamplesPerSec;
    const int64_t common = std::gcd(inRate, outRate), period = inRate / common;
    const int64_t reach =
        int64_t(kFilterTaps) * std::max<int64_t>(1, (inRate + outRate - 1) / outRate) + 8;
    const int64_t lead = (reach + period - 1) / period * period;
    if (lead <= 65536) {
        m_leadFrames = int(lead);
        m_leadOutputs = lead / period * (outRate / common);
    }
    RestartFilter();
}

TPcmResampler::~TPcmResampler() {
    swr_free(&m_swr);
}

void TPcmResampler::RestartFilter() {
    if (!m_swr) return;
    swr_init(m_swr);  // a second init drops the history
    m_queue.assign(m_prime * 2, 0);
    m_queueStart = 0;
    m_leadPending = m_leadFrames > 0;
    m_discard = 0;
}

void TPcmResampler::Reset() {
    m_phase = 0;
    std::memset(m_history, 0, sizeof m_history);
    RestartFilter();
}

size_t TPcmResampler::Step(size_t frames) {
    size_t outputs = 0;
    for (size_t i = 0; i < frames; ++i) {
        m_phase -= 1;
        while (m_phase < 0) {
            ++outputs;
            m_phase += m_step;
        }
    }
    return outputs;
}

size_t TPcmResampler::OutputBytesFor(size_t inputBytes) const {
    const size_t frames = inputBytes / m_source.BlockAlign;
    double phase = m_phase;
    size_t outputs = 0;
    for (size_t i = 0; i < frames; ++i) {
        phase -= 1;
        while (phase < 0) {
            ++outputs;
            phase += m_step;
        }
    }
    return outputs * m_target.Channels * (m_target.BitsPerSample / 8);
}

void TPcmResampler::ReadFrames(const uint8_t* input, size_t frames) {
    m_frames.resize(frames * 2);
    int32_t* out = m_frames.data();
    const int channels = m_source.Channels;
    const int bytes = m_source.BitsPerSample / 8;
    const bool isFloat = m_source.FormatTag == kWaveFormatIeeeFloat;
    auto sample = [&](const uint8_t* p) -> int32_t {
        if (isFloat) {
            if (bytes == 4) {
                float value;
                std::memcpy(&value, p, 4);
                return FloatSampleTo16(value);
            }
            double value;
            std::memcpy(&value, p, 8);
            return FloatSampleTo16(value);
        }
        switch (bytes) {
            case 1:
                return (int32_t(p[0]) - 128) * 256;
            case 2:
                return int16_t(uint16_t(p[0] | p[1] << 8));
            case 3:
                return int16_t(uint16_t(p[1] | p[2] << 8));
            default:
                return int16_t(uint16_t(p[2] | p[3] << 8));
        }
    };
    if (!isFloat && bytes == 2 && channels <= 2) {
        // The common case without the per-sample switch.
        for (size_t i = 0; i < frames; ++i) {
            int16_t pair[2];
            std::memcpy(pair, input + i * size_t(2 * channels), size_t(2 * channels));
            out[2 * i] = pair[0];
            out[2 * i + 1] = channels == 2 ? pair[1] : pair[0];
        }
        return;
    }
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = input + i * m_source.BlockAlign;
        if (channels == 1) {
            out[2 * i] = out[2 * i + 1] = sample(frame);
        } else if (channels == 2) {
            out[2 * i] = sample(frame);
            out[2 * i + 1] = sample(frame + bytes);
        } else {
            float left = 0, right = 0;
            for (int c = 0; c < channels; ++c) {
                const float value = float(sample(frame + c * bytes));
                left += m_left[size_t(c)] * value;
                right += m_right[size_t(c)] * value;
            }
            out[2 * i] = Clip16(std::lround(left));
            out[2 * i + 1] = Clip16(std::lround(right));
        }
    }
}

size_t TPcmResampler::Process(const uint8_t* input, size_t inputBytes, uint8_t* out) {
    const size_t frames = inputBytes / m_source.BlockAlign;
    ReadFrames(input, frames);
    const bool stereo = m_target.Channels == 2;
    const bool eightBit = m_target.BitsPerSample == 8;
    uint8_t* write = out;
    auto put = [&](int32_t value) {
        if (eightBit) {
            *write++ = uint8_t(value / 256 + 128);
        } else {
            const int16_t v = int16_t(value);
            std::memcpy(write, &v, 2);
            write += 2;
        }
    };
    if (m_swr) {
        if (frames == 0) return 0;
        m_stereo.resize(frames * 2);
        for (size_t i = 0; i < frames * 2; ++i) m_stereo[i] = int16_t(m_frames[i]);
        if (m_leadPending) {
            m_leadPending = false;
            // The first frame, held: over the queue's delay and as the
            // filter's history. What the lead itself gives is dropped.
            for (size_t i = m_queueStart; i < m_prime; ++i) {
                m_queue[i * 2] = m_stereo[0];
                m_queue[i * 2 + 1] = m_stereo[1];
            }
            std::vector<int16_t> lead(size_t(m_leadFrames) * 2);
            for (size_t i = 0; i < lead.size(); i += 2)
                lead[i] = m_stereo[0], lead[i + 1] = m_stereo[1];
            std::vector<int16_t> dropped(
                size_t(std::max(swr_get_out_samples(m_swr, m_leadFrames), 0)) * 2 + 2);
            const uint8_t* leadPlanes[1] = {reinterpret_cast<const uint8_t*>(lead.data())};
            uint8_t* dropPlanes[1] = {reinterpret_cast<uint8_t*>(dropped.data())};
            const int gave =
                swr_convert(m_swr, dropPlanes, int(dropped.size() / 2), leadPlanes, m_leadFrames);
            m_discard = m_leadOutputs - std::max(gave, 0);
        }
        // Whatever the library gives joins the queue ...
        const int room = swr_get_out_samples(m_swr, int(frames));
        const size_t before = m_queue.size();
        m_queue.resize(before + size_t(std::max(room, 0)) * 2);
        const uint8_t* inPlanes[1] = {reinterpret_cast<const uint8_t*>(m_stereo.data())};
        uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(m_queue.data() + before)};
        const int got = swr_convert(m_swr, outPlanes, std::max(room, 0), inPlanes, int(frames));
        m_queue.resize(before + size_t(std::max(got, 0)) * 2);
        if (m_discard > 0) {
            // The lead's own outputs, which the library hands out late.
            const size_t drop = size_t(std::min<int64_t>(m_discard, std::max(got, 0)));
            m_queue.erase(m_queue.begin() + std::ptrdiff_t(before),
                          m_queue.begin() + std::ptrdiff_t(before + drop * 2));
            m_discard -= int64_t(drop);
        }
        // ... and the stepping takes its count from the queue's front.
        const size_t count = Step(frames);
        for (size_t i = 0; i < count; ++i) {
            int32_t left = 0, right = 0;
            if ((m_queueStart + 1) * 2 <= m_queue.size()) {
                left = m_queue[m_queueStart * 2];
                right = m_queue[m_queueStart * 2 + 1];
                ++m_queueStart;
            }
            if (stereo) {
                put(left);
                put(right);
            } else {
                put((left + right) / 2);
            }
        }
        if (m_queueStart >= 4096) {
            m_queue.erase(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(m_queueStart * 2));
            m_queueStart = 0;
        }
        return size_t(write - out);
    }
    for (size_t i = 0; i < frames; ++i) {
        const int32_t newest[2] = {m_frames[2 * i], m_frames[2 * i + 1]};
        m_phase -= 1;
        while (m_phase < 0) {
            const double t = m_phase + 2;  // in [1, 2): between the older and the newest frame
            const double c0 = (t - 1) * (t - 2);
            const double c1 = -2 * t * (t - 2);
            const double c2 = t * (t - 1);
            int32_t value[2];
            for (int side = 0; side < 2; ++side) {
                const double sum =
                    m_history[side][0] * c0 + m_history[side][1] * c1 + newest[side] * c2;
                value[side] = Clip16(std::llround(sum) / 2);
            }
            if (stereo) {
                put(value[0]);
                put(value[1]);
            } else {
                put((value[0] + value[1]) / 2);
            }
            m_phase += m_step;
        }
        for (int side = 0; side < 2; ++side) {
            m_history[side][0] = m_history[side][1];
            m_history[side][1] = newest[side];
        }
    }
    return size_t(write - out);
}

}  // namespace ql
