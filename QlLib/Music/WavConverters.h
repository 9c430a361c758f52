// The converters that turn a source into the player's output format (16-bit
// stereo PCM at 44100 Hz): TWavConverter (PCM and float WAV, and the base of the
// others), TAdpcmConverter, the converter factory, and TConverterSource, the
// channel's view of a converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Music/AdpcmCodec.h"
#include "QlLib/Music/LocalBuffer.h"
#include "QlLib/Music/MusicTypes.h"
#include "QlLib/Music/PcmResampler.h"
#include "QlLib/Music/PcmSource.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {

class TWavConverter : public TObj {
public:
    static constexpr size_t kInputChunk = 4096;
    static constexpr size_t kInputChunk24 = 12288;

    // The stream is borrowed; it must outlive the converter.
    explicit TWavConverter(TStream& stream);

    // Empties the buffers and moves to ms from the start of the audio.
    virtual void Seek(double ms);
    // False when the format cannot be converted.
    virtual bool Open(const TMediaInfo& info);
    // Fills the output to bytes; false when the source ended and the rest was
    // padded with silence.
    bool Fill(size_t bytes);
    // Fills the output towards bytes without padding; returns what it holds.
    size_t FillAvailable(size_t bytes);

    TLocalBuffer& Output() { return m_output; }
    const TMediaInfo& Info() const { return m_info; }
    // ms of the audio produced so far (what the output buffer's end stands for).
    double Position() const { return m_position; }
    bool Ended() const { return m_ended; }

protected:
    // Moves the buffered input into the output; false when nothing changed.
    virtual bool Decode();
    // Reads from the stream into the input's free room, never past the data's
    // end; true when bytes arrived.
    virtual bool ReadInput();

    // The format of the PCM that Decode hands to EmitPcm; a resampler comes in
    // when it differs from the output format.
    void SetPcmFormat(const TWaveFormat& format, TChannelLayout layout = {});
    // Converts whole frames of PCM into the output; returns the bytes taken.
    size_t EmitPcm(const uint8_t* data, size_t bytes);
    void ClearBuffers();

    TStream& m_stream;
    TMediaInfo m_info;
    TLocalBuffer m_input;
    TLocalBuffer m_output;
    size_t m_inputChunk = kInputChunk;
    int64_t m_readPosition = 0;  // bytes of audio data read so far
    double m_position = 0;
    bool m_ended = false;
    TWaveFormat m_pcmFormat;
    std::unique_ptr<TPcmResampler> m_resampler;
};

// MS and IMA ADPCM through our own block decoder.
class TAdpcmConverter : public TWavConverter {
public:
    static constexpr size_t kInputChunk = 2048;

    using TWavConverter::TWavConverter;
    bool Open(const TMediaInfo& info) override;

protected:
    bool Decode() override;
    bool ReadInput() override;

private:
    TAdpcmLayout m_layout;
    std::vector<int16_t> m_block;
};

// The converter for a media type; null for a type without one (composites are
// made by name elsewhere) or when the converter cannot open.
std::unique_ptr<TWavConverter> CreateConverter(TStream& stream, const TMediaInfo& info);

// The channel's input over a converter: always 16-bit stereo at 44100 Hz. A
// source that ends before its length (a truncated or corrupt file) plays
// silence for the rest of its length.
class TConverterSource : public TPcmSource {
public:
    TConverterSource(std::unique_ptr<TStream> stream, const TMediaInfo& info,
                     std::unique_ptr<TWavConverter> converter, std::u16string name);
    ~TConverterSource() override;

    TPcmFormat Format() const override { return {}; }
    double LengthMs() const override { return double(m_info.LengthMs); }
    bool Seek(double ms) override;
    size_t Read(int16_t* samples, size_t frameCount) override;

    const TMediaInfo& Info() const { return m_info; }

private:
    // A read that threw: the sound stays silent from here to its length.
    void Fail(const Exception& e);

    std::unique_ptr<TStream> m_stream;
    TMediaInfo m_info;
    std::unique_ptr<TWavConverter> m_converter;
    std::u16string m_name;
    int64_t m_frame = 0;        // output frames delivered since the start
    int64_t m_totalFrames = 0;  // the length in output frames
    bool m_reportedShort = false;
    bool m_failed = false;
};

// Opens a named source through the stream broker and makes its converter;
// null (with a log line) when it cannot be played.
std::unique_ptr<TConverterSource> OpenConverterSource(const std::u16string& name);
// The factory the music device opens its channels' sources with.
TPcmSourceFactory DecoderSourceFactory();

}  // namespace ql
