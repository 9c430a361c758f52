#include "examples/demo/DemoMelody.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "QlLib/Music/SoundOutput.h"

namespace orb::demo {

namespace {

constexpr int32_t kRate = 44100;
constexpr double kBeatSeconds = 0.5;

struct TNote {
    double Beat;     // start, in beats
    double Length;   // in beats
    int32_t Midi;    // pitch
    float Volume;    // 0 .. 1
    float Pan;       // -1 left .. 1 right
    int32_t Timbre;  // 0 plucked, 1 soft bass
};

double Frequency(int32_t midi) {
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// C, A minor, F, G: one chord a bar, with a pentatonic tune over it.
std::vector<TNote> Score() {
    std::vector<TNote> notes;
    const int32_t roots[4] = {48, 45, 41, 43};
    const int32_t tune[32] = {72, 76, 79, 76, 74, 72, 74, 76,  //
                              69, 72, 76, 72, 74, 76, 79, 81,  //
                              77, 76, 72, 69, 72, 74, 72, 69,  //
                              67, 71, 74, 79, 77, 74, 71, 67};
    for (int32_t bar = 0; bar < 4; ++bar) {
        for (int32_t beat = 0; beat < 4; ++beat)
            notes.push_back(
                {bar * 4.0 + beat, 0.9, roots[bar] + (beat % 2 ? 7 : 0), 0.45f, 0.35f, 1});
        for (int32_t step = 0; step < 8; ++step)
            notes.push_back({bar * 4.0 + step * 0.5, 0.45, tune[bar * 8 + step],
                             step % 2 ? 0.28f : 0.36f, -0.3f, 0});
    }
    return notes;
}

std::vector<uint8_t> ToWav(const std::vector<float>& left, const std::vector<float>& right) {
    const uint32_t dataBytes = uint32_t(left.size()) * 4;
    std::vector<uint8_t> out = ql::WavHeader(dataBytes);
    out.reserve(out.size() + dataBytes);
    for (size_t i = 0; i < left.size(); ++i) {
        for (float v : {left[i], right[i]}) {
            const int32_t s = std::clamp(int32_t(std::lround(v * 32767.0f)), -32768, 32767);
            out.push_back(uint8_t(s & 0xFF));
            out.push_back(uint8_t((s >> 8) & 0xFF));
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> MakePadWav() {
    const int32_t frames = int32_t(int64_t(kPadMs) * kRate / 1000);
    const int32_t barFrames = int32_t(4 * kBeatSeconds * kRate);
    std::vector<float> left(size_t(frames), 0.0f), right(size_t(frames), 0.0f);
    // The chords of the melody's bars: C, A minor, F, G, in the middle octave.
    const int32_t chords[4][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}};
    for (int32_t bar = 0; bar * barFrames < frames; ++bar) {
        const int32_t start = bar * barFrames;
        for (int32_t voice = 0; voice < 3; ++voice) {
            const double f = Frequency(chords[bar % 4][voice]);
            // A slight detune between the two sides makes the pad wide.
            const double fl = f * 0.998, fr = f * 1.002;
            for (int32_t i = 0; i < barFrames && start + i < frames; ++i) {
                const double t = double(i) / kRate;
                // Swell in over 0.6 s, die away over 0.5 s, silent for the
                // last 20 ms of the bar: the loop and every chord join cleanly.
                const double release =
                    std::max(0.0, double(barFrames - i) - 0.02 * kRate) / (0.5 * kRate);
                const double envelope = std::min({1.0, t / 0.6, release}) * 0.09;
                const double pl = 2 * std::numbers::pi * fl * t, pr = 2 * std::numbers::pi * fr * t;
                left[size_t(start + i)] +=
                    float((std::sin(pl) + 0.3 * std::sin(2 * pl)) * envelope);
                right[size_t(start + i)] +=
                    float((std::sin(pr) + 0.3 * std::sin(2 * pr)) * envelope);
            }
        }
    }
    return ToWav(left, right);
}

std::vector<uint8_t> MakeMelodyWav() {
    const int32_t frames = int32_t(int64_t(kMelodyMs) * kRate / 1000);
    std::vector<float> left(size_t(frames), 0.0f), right(size_t(frames), 0.0f);
    for (const TNote& note : Score()) {
        const int32_t start = int32_t(note.Beat * kBeatSeconds * kRate);
        const int32_t length = int32_t(note.Length * kBeatSeconds * kRate);
        const double f = Frequency(note.Midi);
        const float gainL = note.Volume * (1 - note.Pan) * 0.5f,
                    gainR = note.Volume * (1 + note.Pan) * 0.5f;
        for (int32_t i = 0; i < length && start + i < frames; ++i) {
            const double t = double(i) / kRate;
            const double phase = 2 * std::numbers::pi * f * t;
            double wave, envelope;
            if (note.Timbre == 0) {
                wave = std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.15 * std::sin(3 * phase);
                envelope = std::exp(-t * 5.0);
            } else {
                wave = std::sin(phase) + 0.25 * std::sin(2 * phase);
                envelope = std::exp(-t * 2.0);
            }
            // 5 ms in, 20 ms out: every note is silent at both of its ends.
            envelope *= std::min({1.0, t / 0.005, double(length - i) / (0.02 * kRate)});
            const float sample = float(wave * envelope);
            left[size_t(start + i)] += sample * gainL;
            right[size_t(start + i)] += sample * gainR;
        }
    }
    return ToWav(left, right);
}

}  // namespace orb::demo
