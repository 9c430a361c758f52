// Decodes the input as ADPCM blocks: the first six bytes choose the format tag,
// channels and block size, the rest is block data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "QlLib/Music/AdpcmCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    ql::TWaveFormat format;
    format.FormatTag = (data[0] & 1) ? ql::kWaveFormatImaAdpcm : ql::kWaveFormatMsAdpcm;
    format.Channels = uint16_t(data[1] % 4);
    format.BlockAlign = uint16_t(data[2] | data[3] << 8);
    format.SamplesPerSec = 8000u + 1000u * data[4];
    format.BitsPerSample = 4;
    ql::TAdpcmLayout layout;
    if (!ql::MakeAdpcmLayout(format, {}, layout)) return 0;
    std::vector<int16_t> out(size_t(layout.SamplesPerBlock) * size_t(layout.Channels));
    const uint8_t* blocks = data + 6;
    size_t left = size - 6;
    while (left > 0) {
        const size_t block = left < size_t(layout.BlockAlign) ? left : size_t(layout.BlockAlign);
        const int frames = ql::DecodeAdpcmBlock(layout, blocks, block, out.data());
        if (frames < 0 || frames > layout.SamplesPerBlock) __builtin_trap();
        blocks += block;
        left -= block;
    }
    return 0;
}
