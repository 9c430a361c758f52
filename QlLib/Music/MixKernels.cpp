#include "QlLib/Music/MixKernels.h"

#include <cmath>

namespace ql {

int16_t FloatToPcm16(float value) {
    if (!(value == value)) return 0;
    if (value >= 32767.0f) return 32767;
    if (value <= -32768.0f) return -32768;
    return int16_t(std::lrintf(value));
}

void ConvertToPcm16(const float* mix, int16_t* out, size_t sampleCount) {
    for (size_t i = 0; i < sampleCount; ++i) out[i] = FloatToPcm16(mix[i]);
}

void MixAddConstant(float* mix, const int16_t* src, size_t frames, float gain) {
    const size_t samples = frames * 2;
    for (size_t i = 0; i < samples; ++i) mix[i] += float(src[i]) * gain;
}

double TGainRamp::GainAt(int64_t k) const {
    double g = From + double(First + k) * Step;
    if (g < 0) g = 0;
    if (g > 1) g = 1;
    return g;
}

void MixAddRamp(float* mix, const int16_t* src, size_t frames, const TGainRamp& ramp) {
    for (size_t k = 0; k < frames; ++k) {
        const float g = float(ramp.GainAt(int64_t(k))) * ramp.Scale;
        mix[2 * k] += float(src[2 * k]) * g;
        mix[2 * k + 1] += float(src[2 * k + 1]) * g;
    }
}

}  // namespace ql
