// TPcmResampler: brings any PCM source (8, 16, 24 or 32-bit integers, 32 or
// 64-bit floats, any rate, up to 32 channels) to a target rate, channel count
// (1 or 2) and size (8 or 16 bits).
//
// At the same rate the samples pass by quadratic interpolation at whole
// positions, that is unchanged and one frame late. Other rates go through
// libswresample with a long Kaiser-windowed sinc: the interpolation alone
// leaked images and aliases (a 48 kHz square wave came out rough, about 12 dB
// full-band SNR). libswresample rather than libsoxr because the FFmpeg
// libraries are linked already and a filter of 96 taps meets our figures
// (images and aliases below -60 dB, passband flat within 0.5 dB up to 0.9 of
// the lower Nyquist frequency) at a fraction of a percent of one core.
// The number of output frames stays that of the stepping below, block by
// block, so the clock's arithmetic (the output position of a source position)
// is unchanged; the filter adds a constant delay of half its length (about
// 1.2 ms from 48 or 96 kHz, 2.2 ms from 22050 Hz, 6 ms from 8000 Hz), which
// its end does not play. The sound's start, and every start after a seek,
// holds its first frame over that delay and fills the filter's history with
// it, instead of silence: a seek into a loud passage would otherwise dip to
// nothing for a few milliseconds and click.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "QlLib/Music/MusicTypes.h"

struct SwrContext;

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
    ~TPcmResampler();
    TPcmResampler(const TPcmResampler&) = delete;
    TPcmResampler& operator=(const TPcmResampler&) = delete;

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

    // Frames of delay that the band-limited path adds (0 at the same rate).
    size_t FilterDelay() const { return m_prime; }

private:
    void ReadFrames(const uint8_t* input, size_t frames);
    // Output frames that the stepping gives for this many source frames; moves
    // the phase on.
    size_t Step(size_t frames);
    // Starts the band-limited path afresh: its history empty, the queue
    // primed with the delay of its filter.
    void RestartFilter();

    TWaveFormat m_source;
    TWaveFormat m_target;
    double m_step;       // source frames per output frame
    double m_phase = 0;  // next output position minus the newest source frame
    int32_t m_history[2][2] = {{0, 0}, {0, 0}};  // [side][oldest, newer]
    std::vector<float> m_left, m_right;          // mix-down weights for > 2 channels
    std::vector<int32_t> m_frames;               // the block as left/right pairs
    // The band-limited path (rates differ): the library's state, its output
    // queued as stereo frames until the stepping asks for them, and the
    // silence the queue starts with so that it never runs dry.
    SwrContext* m_swr = nullptr;
    std::vector<int16_t> m_stereo;
    std::vector<int16_t> m_queue;
    size_t m_queueStart = 0;  // frames of m_queue already handed out
    size_t m_prime = 0;
    // Copies of the first frame fed ahead of it after a restart (a whole
    // number of output frames long; 0 where the rates allow none), the output
    // frames they give, and whether the next block is a restart's first.
    int m_leadFrames = 0;
    int64_t m_leadOutputs = 0;
    bool m_leadPending = false;
    int64_t m_discard = 0;  // library output frames still to drop for the lead
};

// Clamps a float sample (NaN counts as silence) and scales it to 16-bit range.
int32_t FloatSampleTo16(double value);

}  // namespace ql
