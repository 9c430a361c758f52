// TPcmResampler: brings any PCM source (8, 16, 24 or 32-bit integers, 32 or
// 64-bit floats, any rate, up to 32 channels) to a target rate, channel count
// (1 or 2) and size (8 or 16 bits) by quadratic interpolation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "QlLib/Music/MusicTypes.h"

namespace ql {

// Speakers as WAV channel-mask bit numbers (0 front left, 1 front right,
// 2 centre, 3 LFE, 4 back left, 5 back right, ... 10 side right); -1 unknown.
using TChannelLayout = std::vector<int8_t>;

// The speakers of channels in the order of a channel mask; a mask of 0 takes
// the default order for the channel count.
TChannelLayout LayoutFromMask(uint32_t mask, int channels);

class TPcmResampler {
public:
    // source must be PlausiblePcm; target 1 or 2 channels of 8 or 16 bits.
    // layout: the speaker of each source channel (empty: LayoutFromMask(0, ...)).
    TPcmResampler(const TWaveFormat& source, const TWaveFormat& target, TChannelLayout layout = {});

    const TWaveFormat& Source() const { return m_source; }
    const TWaveFormat& Target() const { return m_target; }

    // Output bytes that Process will write for inputBytes (whole source frames),
    // computed by the same stepping, so the output can be grown first.
    size_t OutputBytesFor(size_t inputBytes) const;
    // Converts the whole frames of input into out (room: OutputBytesFor);
    // returns the bytes written. A trailing part frame is ignored.
    size_t Process(const uint8_t* input, size_t inputBytes, uint8_t* out);
    // Forgets the kept samples and the fractional position (after a seek).
    void Reset();

    // The left and right weight of each source channel; exposed for the tests.
    const std::vector<float>& LeftWeights() const { return m_left; }
    const std::vector<float>& RightWeights() const { return m_right; }

private:
    void ReadFrames(const uint8_t* input, size_t frames);

    TWaveFormat m_source;
    TWaveFormat m_target;
    double m_step;            // source frames per output frame
    double m_phase = 0;       // next output position minus the newest source frame
    int32_t m_history[2][2] = {{0, 0}, {0, 0}};  // [side][oldest, newer]
    std::vector<float> m_left, m_right;          // mix-down weights for > 2 channels
    std::vector<int32_t> m_frames;               // the block as left/right pairs
};

// Clamps a float sample (NaN counts as silence) and scales it to 16-bit range.
int32_t FloatSampleTo16(double value);

}  // namespace ql
