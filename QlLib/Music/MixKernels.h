// The per-sample loops of the mixer: adding a voice into the accumulator with a
// fixed or ramped gain, and turning the accumulator into 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ql {

// A sample of the mix in 16-bit range: rounded to nearest, clamped to
// [-32768, 32767]; NaN gives 0 (a broken gain must not turn into a full-scale click).
int16_t FloatToPcm16(float value);
void ConvertToPcm16(const float* mix, int16_t* out, size_t sampleCount);

// mix[i] += src[i] × gain for frames stereo frames.
void MixAddConstant(float* mix, const int16_t* src, size_t frames, float gain);

// A linear gain ramp: frame k gets scale × clamp(from + (first + k) × step, 0, 1).
// Computing each frame's gain from its index (rather than stepping a running
// value) keeps a fade exact however the blocks are cut.
struct TGainRamp {
    double From = 0;
    double Step = 0;
    int64_t First = 0;
    float Scale = 1;

    double GainAt(int64_t k) const;
};
void MixAddRamp(float* mix, const int16_t* src, size_t frames, const TGainRamp& ramp);

}  // namespace ql
