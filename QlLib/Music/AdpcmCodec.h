// ADPCM in WAV files: Microsoft ADPCM (format tag 2) and IMA ADPCM (tag 0x11),
// decoded block by block; and the matching encoders, with which the tests and
// the benchmark write their fixtures.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "QlLib/Music/MusicTypes.h"

namespace ql {

struct TAdpcmLayout {
    uint16_t FormatTag = kWaveFormatMsAdpcm;
    int Channels = 1;
    int BlockAlign = 0;
    int SamplesPerBlock = 0;  // frames a whole block decodes to
    int CoefCount = 7;
    std::array<std::array<int16_t, 2>, 7> Coefs{};

    // Frames decoded from a block of size bytes (a short last block holds fewer).
    int FramesInBlock(size_t size) const;
};

// Checks an ADPCM format and derives its block layout; false for channel
// counts other than 1 and 2, blocks too small for their headers or above
// kMaxBlockAlign, rates outside the limits, or MS coefficient tables that are
// not the standard seven pairs.
bool MakeAdpcmLayout(const TWaveFormat& format, std::span<const uint8_t> extra, TAdpcmLayout& layout);

// Decodes one block (size ≤ BlockAlign; a short block decodes what it holds)
// into interleaved frames; returns the frames written to out, which must hold
// SamplesPerBlock × Channels values. 0 when the block is too short for its header.
int DecodeAdpcmBlock(const TAdpcmLayout& layout, const uint8_t* block, size_t size, int16_t* out);

// The standard layout for a tag, channel count and rate with blocks of blockAlign bytes.
TAdpcmLayout StandardAdpcmLayout(uint16_t formatTag, int channels, int blockAlign);
// The WAV format and extension bytes that describe layout at rate.
TWaveFormat AdpcmWaveFormat(const TAdpcmLayout& layout, uint32_t rate, std::vector<uint8_t>& extra);
// Encodes interleaved frames into whole blocks (the last one padded with silence).
std::vector<uint8_t> EncodeAdpcm(const TAdpcmLayout& layout, std::span<const int16_t> samples);

}  // namespace ql
