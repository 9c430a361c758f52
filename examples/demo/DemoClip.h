// The demo's video clip: a small H.264 and AAC clip painted and sounded here,
// so that the show plays a clip with sound that the project made itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orb::demo {

inline constexpr int32_t kClipWidth = 480;
inline constexpr int32_t kClipHeight = 270;
inline constexpr int32_t kClipFps = 25;
inline constexpr int32_t kClipFrames = 100;  // four seconds

// The clip's bytes, written through a scratch file in folder (removed after).
// Throws EStreamWriteError when the encoders refuse.
std::vector<uint8_t> MakeDemoClip(const std::u16string& folder);

}  // namespace orb::demo
