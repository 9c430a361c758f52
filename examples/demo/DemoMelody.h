// A short generated melody for the demo's music.
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

}  // namespace orb::demo
