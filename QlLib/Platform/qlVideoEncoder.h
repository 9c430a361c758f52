// The MP4 writer: H.264 video and AAC audio through the system's FFmpeg
// libraries, muxed with the index at the front. Written for reproducible
// output: the same frames, samples and options give the same bytes (bit-exact
// encoder and muxer, a fixed encoder thread count, no dates or versions in the
// file). The file is written under a temporary name beside the target and
// renamed only by Finish, so a failed or abandoned write leaves no file of the
// target's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ql {

struct TVideoEncoderOptions {
    int32_t Width = 0;  // even, 16 to 8192
    int32_t Height = 0;
    int32_t Fps = 30;  // constant frame rate
    int32_t Crf = 20;  // H.264 constant rate factor, 0 to 51
    std::string Preset = "medium";
    bool Audio = true;           // a 44100 Hz stereo AAC stream
    int32_t AudioBitrate = 192;  // kbit/s
};

// Empty when the encoders exist and accept the options; otherwise one line
// saying what they refuse. Opens the encoders without writing anything, so a
// command can refuse its options before it does any work.
std::string CheckVideoEncoderOptions(const TVideoEncoderOptions& options);

// Frames are converted to 4:2:0 and tagged BT.709 from 720 lines up, BT.601
// below (limited range, as players expect of H.264).
class TVideoEncoder {
public:
    // Creates the temporary file beside fileName and writes the header;
    // throws EStreamWriteError (with the libraries' reason) when it cannot.
    TVideoEncoder(const std::string& fileName, const TVideoEncoderOptions& options);
    // Without a successful Finish, the temporary file is removed.
    ~TVideoEncoder();
    TVideoEncoder(const TVideoEncoder&) = delete;
    TVideoEncoder& operator=(const TVideoEncoder&) = delete;

    // One frame of Width x Height pixels of 4 bytes in memory order B, G, R, X
    // ("A8R8G8B8" words on a little-endian machine), row y at rows[y].
    void AddVideoFrame(const uint8_t* const* rows);
    // Interleaved 16-bit stereo samples at 44100 Hz; `frames` sample pairs.
    // Ignored without an audio stream.
    void AddAudio(const int16_t* samples, size_t frames);
    // Flushes the encoders, writes the index and renames the temporary file
    // to fileName. Throws EStreamWriteError on any failure, leaving no file.
    void Finish();

    const std::string& TemporaryName() const;
    int64_t VideoFrames() const;
    int64_t AudioFrames() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> m_impl;
};

}  // namespace ql
