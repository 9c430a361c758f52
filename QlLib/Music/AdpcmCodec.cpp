#include "QlLib/Music/AdpcmCodec.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ql {

namespace {

constexpr std::array<std::array<int16_t, 2>, 7> kMsCoefs = {{
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};
constexpr int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                              768, 614, 512, 409, 307, 230, 230, 230};

constexpr int kImaIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kImaStep[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kMaxMsDelta = 1 << 21;

int16_t Clamp16(int value) {
    return int16_t(std::clamp(value, -32768, 32767));
}

int16_t ReadS16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] | (p[1] << 8)));
}

void WriteS16(std::vector<uint8_t>& out, int value) {
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t((value >> 8) & 0xFF));
}

struct TMsState {
    int Coef1 = 256, Coef2 = 0, Delta = 16, S1 = 0, S2 = 0;

    int16_t Step(int nibble) {
        const int predicted = (S1 * Coef1 + S2 * Coef2) >> 8;
        const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
        const int16_t sample = Clamp16(predicted + signedNibble * Delta);
        S2 = S1;
        S1 = sample;
        // A run of large nibbles would grow the step without end; past this it
        // only clips anyway.
        Delta = std::clamp((kMsAdapt[nibble] * Delta) >> 8, 16, kMaxMsDelta);
        return sample;
    }
};

struct TImaState {
    int Predicted = 0, Index = 0;

    int16_t Step(int nibble) {
        const int step = kImaStep[Index];
        int diff = step >> 3;
        if (nibble & 1) diff += step >> 2;
        if (nibble & 2) diff += step >> 1;
        if (nibble & 4) diff += step;
        Predicted = (nibble & 8) ? Predicted - diff : Predicted + diff;
        Predicted = Clamp16(Predicted);
        Index = std::clamp(Index + kImaIndex[nibble], 0, 88);
        return int16_t(Predicted);
    }
};

int MsFrames(int channels, size_t size) {
    const size_t header = size_t(7 * channels);
    if (size < header) return 0;
    return int((size - header) * 2 / size_t(channels)) + 2;
}

int ImaFrames(int channels, size_t size) {
    const size_t header = size_t(4 * channels);
    if (size < header) return 0;
    // Each channel's nibbles come in groups of four bytes (eight samples).
    return int((size - header) / size_t(4 * channels)) * 8 + 1;
}

}  // namespace

int TAdpcmLayout::FramesInBlock(size_t size) const {
    size = std::min(size, size_t(BlockAlign));
    return FormatTag == kWaveFormatImaAdpcm ? ImaFrames(Channels, size) : MsFrames(Channels, size);
}

bool MakeAdpcmLayout(const TWaveFormat& format, std::span<const uint8_t> extra, TAdpcmLayout& layout) {
    if (format.FormatTag != kWaveFormatMsAdpcm && format.FormatTag != kWaveFormatImaAdpcm) return false;
    if (format.Channels < 1 || format.Channels > 2) return false;
    if (format.SamplesPerSec < kMinSampleRate || format.SamplesPerSec > kMaxSampleRate) return false;
    if (format.BitsPerSample != 4) return false;
    layout = TAdpcmLayout{};
    layout.FormatTag = format.FormatTag;
    layout.Channels = format.Channels;
    layout.BlockAlign = format.BlockAlign;
    layout.Coefs = kMsCoefs;
    const int header = (format.FormatTag == kWaveFormatImaAdpcm ? 4 : 7) * format.Channels;
    // A block must hold its headers and at least one byte of nibbles per channel group.
    const int minimum = format.FormatTag == kWaveFormatImaAdpcm ? header + 4 * format.Channels : header + 1;
    if (format.BlockAlign < minimum || format.BlockAlign > kMaxBlockAlign) return false;
    layout.SamplesPerBlock = layout.FramesInBlock(format.BlockAlign);
    if (format.FormatTag == kWaveFormatMsAdpcm && extra.size() >= 4) {
        // The extension repeats what the block size implies and the standard
        // coefficients; other tables are not in use and would be a fuzzing surface.
        const int count = extra[2] | (extra[3] << 8);
        if (count != 7 || extra.size() < 4 + 7 * 4) return false;
        for (int i = 0; i < 7; ++i) {
            const int16_t c1 = ReadS16(&extra[4 + i * 4]);
            const int16_t c2 = ReadS16(&extra[6 + i * 4]);
            if (c1 != kMsCoefs[i][0] || c2 != kMsCoefs[i][1]) return false;
        }
    }
    return true;
}

int DecodeAdpcmBlock(const TAdpcmLayout& layout, const uint8_t* block, size_t size, int16_t* out) {
    size = std::min(size, size_t(layout.BlockAlign));
    const int channels = layout.Channels;
    const int frames = layout.FramesInBlock(size);
    if (frames <= 0) return 0;
    if (layout.FormatTag == kWaveFormatImaAdpcm) {
        TImaState state[2];
        for (int c = 0; c < channels; ++c) {
            const uint8_t* h = block + 4 * c;
            state[c].Predicted = ReadS16(h);
            state[c].Index = std::min<int>(h[2], 88);
            out[c] = int16_t(state[c].Predicted);
        }
        const uint8_t* data = block + 4 * channels;
        const int groups = (frames - 1) / 8;
        for (int g = 0; g < groups; ++g) {
            for (int c = 0; c < channels; ++c) {
                const uint8_t* bytes = data + (g * channels + c) * 4;
                for (int i = 0; i < 8; ++i) {
                    const int nibble = (i & 1) ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
                    out[(1 + g * 8 + i) * channels + c] = state[c].Step(nibble);
                }
            }
        }
        return frames;
    }
    TMsState state[2];
    for (int c = 0; c < channels; ++c) {
        const int predictor = block[c];
        const auto& coef = kMsCoefs[predictor < 7 ? predictor : 0];
        state[c].Coef1 = coef[0];
        state[c].Coef2 = coef[1];
        state[c].Delta = ReadS16(block + channels + 2 * c);
        state[c].S1 = ReadS16(block + 3 * channels + 2 * c);
        state[c].S2 = ReadS16(block + 5 * channels + 2 * c);
        out[c] = int16_t(state[c].S2);
        out[channels + c] = int16_t(state[c].S1);
    }
    const uint8_t* data = block + 7 * channels;
    const int nibbles = (frames - 2) * channels;
    for (int i = 0; i < nibbles; ++i) {
        const uint8_t byte = data[i / 2];
        const int nibble = (i & 1) ? byte & 0x0F : byte >> 4;
        out[2 * channels + i] = state[i % channels].Step(nibble);
    }
    return frames;
}

TAdpcmLayout StandardAdpcmLayout(uint16_t formatTag, int channels, int blockAlign) {
    TAdpcmLayout layout;
    layout.FormatTag = formatTag;
    layout.Channels = channels;
    layout.BlockAlign = blockAlign;
    layout.Coefs = kMsCoefs;
    layout.SamplesPerBlock = layout.FramesInBlock(size_t(blockAlign));
    return layout;
}

TWaveFormat AdpcmWaveFormat(const TAdpcmLayout& layout, uint32_t rate, std::vector<uint8_t>& extra) {
    TWaveFormat format;
    format.FormatTag = layout.FormatTag;
    format.Channels = uint16_t(layout.Channels);
    format.SamplesPerSec = rate;
    format.BlockAlign = uint16_t(layout.BlockAlign);
    format.BitsPerSample = 4;
    format.AvgBytesPerSec = uint32_t(uint64_t(rate) * layout.BlockAlign / layout.SamplesPerBlock);
    extra.clear();
    WriteS16(extra, layout.SamplesPerBlock);
    if (layout.FormatTag == kWaveFormatMsAdpcm) {
        WriteS16(extra, 7);
        for (const auto& coef : kMsCoefs) {
            WriteS16(extra, coef[0]);
            WriteS16(extra, coef[1]);
        }
    }
    format.ExtraSize = uint16_t(extra.size());
    return format;
}

namespace {

void EncodeImaBlock(const TAdpcmLayout& layout, const int16_t* frames, int count, TImaState* state,
                    std::vector<uint8_t>& out) {
    const int channels = layout.Channels;
    const auto sample = [&](int frame, int c) -> int {
        return frame < count ? frames[frame * channels + c] : 0;
    };
    for (int c = 0; c < channels; ++c) {
        state[c].Predicted = sample(0, c);
        WriteS16(out, state[c].Predicted);
        out.push_back(uint8_t(state[c].Index));
        out.push_back(0);
    }
    const int groups = (layout.SamplesPerBlock - 1) / 8;
    for (int g = 0; g < groups; ++g) {
        for (int c = 0; c < channels; ++c) {
            uint8_t bytes[4] = {};
            for (int i = 0; i < 8; ++i) {
                const int step = kImaStep[state[c].Index];
                int diff = sample(1 + g * 8 + i, c) - state[c].Predicted;
                int nibble = 0;
                if (diff < 0) {
                    nibble = 8;
                    diff = -diff;
                }
                if (diff >= step) { nibble |= 4; diff -= step; }
                if (diff >= step >> 1) { nibble |= 2; diff -= step >> 1; }
                if (diff >= step >> 2) nibble |= 1;
                state[c].Step(nibble);
                bytes[i / 2] |= uint8_t((i & 1) ? nibble << 4 : nibble);
            }
            out.insert(out.end(), bytes, bytes + 4);
        }
    }
}

// One channel's MS nibbles with a given predictor; returns the squared error.
int64_t TryMsChannel(const int16_t* frames, int count, int channels, int c, int predictor,
                     int samplesPerBlock, std::vector<uint8_t>* nibbles, int* firstDelta) {
    const auto sample = [&](int frame) -> int {
        return frame < count ? frames[frame * channels + c] : 0;
    };
    TMsState state;
    state.Coef1 = kMsCoefs[predictor][0];
    state.Coef2 = kMsCoefs[predictor][1];
    state.S2 = sample(0);
    state.S1 = sample(1);
    state.Delta = std::max(16, std::abs(sample(2) - sample(1)) / 4);
    if (firstDelta) *firstDelta = state.Delta;
    int64_t error = 0;
    for (int i = 2; i < samplesPerBlock; ++i) {
        const int predicted = (state.S1 * state.Coef1 + state.S2 * state.Coef2) >> 8;
        const int wanted = sample(i);
        int value = (wanted - predicted) * 2 / state.Delta;
        value = (value + (value > 0 ? 1 : 0)) / 2;
        value = std::clamp(value, -8, 7);
        const int16_t got = state.Step(value & 0x0F);
        error += int64_t(got - wanted) * (got - wanted);
        if (nibbles) nibbles->push_back(uint8_t(value & 0x0F));
    }
    return error;
}

void EncodeMsBlock(const TAdpcmLayout& layout, const int16_t* frames, int count,
                   std::vector<uint8_t>& out) {
    const int channels = layout.Channels;
    int predictors[2] = {0, 0};
    int deltas[2] = {16, 16};
    std::vector<uint8_t> nibbles[2];
    for (int c = 0; c < channels; ++c) {
        int64_t best = std::numeric_limits<int64_t>::max();
        for (int p = 0; p < 7; ++p) {
            const int64_t error =
                TryMsChannel(frames, count, channels, c, p, layout.SamplesPerBlock, nullptr, nullptr);
            if (error < best) {
                best = error;
                predictors[c] = p;
            }
        }
        TryMsChannel(frames, count, channels, c, predictors[c], layout.SamplesPerBlock, &nibbles[c],
                     &deltas[c]);
    }
    const auto sample = [&](int frame, int c) -> int {
        return frame < count ? frames[frame * channels + c] : 0;
    };
    for (int c = 0; c < channels; ++c) out.push_back(uint8_t(predictors[c]));
    for (int c = 0; c < channels; ++c) WriteS16(out, deltas[c]);
    for (int c = 0; c < channels; ++c) WriteS16(out, sample(1, c));
    for (int c = 0; c < channels; ++c) WriteS16(out, sample(0, c));
    const size_t total = nibbles[0].size() * size_t(channels);
    for (size_t i = 0; i < total; i += 2) {
        const uint8_t high = nibbles[i % channels][i / channels];
        const uint8_t low = i + 1 < total ? nibbles[(i + 1) % channels][(i + 1) / channels] : 0;
        out.push_back(uint8_t(high << 4 | low));
    }
}

}  // namespace

std::vector<uint8_t> EncodeAdpcm(const TAdpcmLayout& layout, std::span<const int16_t> samples) {
    std::vector<uint8_t> out;
    const int channels = layout.Channels;
    const size_t frames = samples.size() / size_t(channels);
    TImaState ima[2];
    for (size_t start = 0; start < frames; start += size_t(layout.SamplesPerBlock)) {
        const int count = int(std::min(frames - start, size_t(layout.SamplesPerBlock)));
        const int16_t* block = samples.data() + start * size_t(channels);
        const size_t before = out.size();
        if (layout.FormatTag == kWaveFormatImaAdpcm) EncodeImaBlock(layout, block, count, ima, out);
        else EncodeMsBlock(layout, block, count, out);
        out.resize(before + size_t(layout.BlockAlign), 0);
    }
    return out;
}

}  // namespace ql
