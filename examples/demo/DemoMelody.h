// Short generated music for the demo: a melody, and a soft pad that the
// show's second track lays under it.
#pragma once

#include <cstdint>
#include <vector>

namespace orb::demo {

// The length of the melody: four bars of four beats at 120 beats a minute.
inline constexpr int32_t kMelodyMs = 8000;

// The melody as a complete WAV file: 16-bit stereo at 44100 Hz, exactly
// kMelodyMs long. Every note dies away before the end, so the track loops
// without a click.
std::vector<uint8_t> MakeMelodyWav();

// The pad: the melody's chords held a bar each, twice over.
inline constexpr int32_t kPadMs = 16000;

// The pad as a complete WAV file like the melody's, exactly kPadMs long,
// swelling in and dying away inside every chord.
std::vector<uint8_t> MakePadWav();

}  // namespace orb::demo
