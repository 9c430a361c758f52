#include "QlLib/Graphics/qlGifWriter.h"

#include <algorithm>
#include <memory>

#include "QlLib/Graphics/qlBitmapStore.h"

namespace ql {

namespace {

constexpr int32_t kCubeSteps = 6;
constexpr int32_t kCubeColours = kCubeSteps * kCubeSteps * kCubeSteps;  // 216
constexpr uint8_t kTransparentIndex = kCubeColours;
constexpr int kMinCodeSize = 8;
constexpr int kMaxCodes = 4096;

// Thresholds of the 4 x 4 Bayer pattern, centred on 0, in cube steps / 16.
constexpr int32_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

uint8_t CubeLevel(int32_t value, int32_t threshold) {
    // value 0..255 over 5 steps of 51; the pattern decides where a value
    // between two steps goes.
    const int32_t scaled = value * (kCubeSteps - 1) * 16 / 255 + threshold - 8;
    return uint8_t(std::clamp((scaled + 8) / 16, 0, kCubeSteps - 1));
}

// LZW codes packed from the least significant bit, in sub-blocks of at most
// 255 bytes.
class TCodeWriter {
public:
    explicit TCodeWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(int32_t code, int32_t bits) {
        m_buffer |= uint32_t(code) << m_bits;
        m_bits += bits;
        while (m_bits >= 8) {
            PutByte(uint8_t(m_buffer & 0xFF));
            m_buffer >>= 8;
            m_bits -= 8;
        }
    }
    void Finish() {
        if (m_bits > 0) PutByte(uint8_t(m_buffer & 0xFF));
        FlushBlock();
        m_out.push_back(0);  // block terminator
    }

private:
    void PutByte(uint8_t b) {
        m_block[m_blockSize++] = b;
        if (m_blockSize == 255) FlushBlock();
    }
    void FlushBlock() {
        if (m_blockSize == 0) return;
        m_out.push_back(uint8_t(m_blockSize));
        m_out.insert(m_out.end(), m_block, m_block + m_blockSize);
        m_blockSize = 0;
    }
    std::vector<uint8_t>& m_out;
    uint32_t m_buffer = 0;
    int32_t m_bits = 0;
    uint8_t m_block[255];
    int32_t m_blockSize = 0;
};

void WriteLzw(const std::vector<uint8_t>& indices, std::vector<uint8_t>& out) {
    out.push_back(kMinCodeSize);
    TCodeWriter writer(out);
    const int32_t clear = 1 << kMinCodeSize, end = clear + 1;
    // The code of (prefix code, next byte), 0 when the pair is not known yet;
    // no pair can map to code 0, which is a literal.
    std::vector<uint16_t> table(size_t(kMaxCodes) * 256, 0);
    int32_t codeSize = kMinCodeSize + 1;
    int32_t next = end + 1;
    writer.Put(clear, codeSize);
    int32_t prefix = indices.empty() ? -1 : indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint8_t c = indices[i];
        const size_t key = size_t(prefix) * 256 + c;
        if (table[key] != 0) {
            prefix = table[key];
            continue;
        }
        writer.Put(prefix, codeSize);
        if (next < kMaxCodes) {
            table[key] = uint16_t(next);
            // The reader adds its entries one code later, so it widens its
            // codes exactly when this entry's number needs the next width.
            if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
            ++next;
        } else {
            writer.Put(clear, codeSize);
            std::fill(table.begin(), table.end(), uint16_t(0));
            codeSize = kMinCodeSize + 1;
            next = end + 1;
        }
        prefix = c;
    }
    if (prefix >= 0) writer.Put(prefix, codeSize);
    writer.Put(end, codeSize);
    writer.Finish();
}

void PutU16(std::vector<uint8_t>& out, int32_t value) {
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t((value >> 8) & 0xFF));
}

std::vector<uint8_t> Quantise(const TBitmap& source) {
    std::unique_ptr<TBitmap> converted;
    const TBitmap* bitmap = &source;
    if (source.PixelFormat() != PfARGB32()) {
        converted = CreateBitmap(source.Width(), source.Height(), PfARGB32(), {}, &source);
        bitmap = converted.get();
    }
    std::vector<uint8_t> indices(size_t(bitmap->Width()) * size_t(bitmap->Height()));
    size_t k = 0;
    for (int32_t y = 0; y < bitmap->Height(); ++y) {
        const uint8_t* p = bitmap->Row(y);  // B, G, R, A
        for (int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
            if (p[3] < 128) {
                indices[k++] = kTransparentIndex;
                continue;
            }
            const int32_t t = kBayer[y & 3][x & 3];
            indices[k++] = uint8_t((CubeLevel(p[2], t) * kCubeSteps + CubeLevel(p[1], t)) * kCubeSteps +
                                   CubeLevel(p[0], t));
        }
    }
    return indices;
}

}  // namespace

std::vector<uint8_t> EncodeGif(const std::vector<TGifWriteFrame>& frames, int32_t loopCount) {
    if (frames.empty() || !frames[0].Bitmap) throw EImageError("GIF encoding without frames");
    const int32_t width = frames[0].Bitmap->Width(), height = frames[0].Bitmap->Height();
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        throw EImageError("GIF encoding of a bad frame size");
    for (const TGifWriteFrame& frame : frames) {
        if (!frame.Bitmap || frame.Bitmap->Width() != width || frame.Bitmap->Height() != height)
            throw EImageError("GIF frames differ in size");
    }
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    PutU16(out, width);
    PutU16(out, height);
    out.push_back(0xF7);  // global table of 256 entries, 8 bits of colour resolution
    out.push_back(kTransparentIndex);  // background
    out.push_back(0);                  // no pixel aspect
    for (int32_t i = 0; i < 256; ++i) {
        if (i < kCubeColours) {
            out.push_back(uint8_t(i / (kCubeSteps * kCubeSteps) * 51));
            out.push_back(uint8_t(i / kCubeSteps % kCubeSteps * 51));
            out.push_back(uint8_t(i % kCubeSteps * 51));
        } else {
            out.insert(out.end(), {0, 0, 0});
        }
    }
    // The loop block browsers and players look for.
    out.insert(out.end(), {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1});
    PutU16(out, std::clamp(loopCount, 0, 65535));
    out.push_back(0);
    for (const TGifWriteFrame& frame : frames) {
        // Graphic control: disposal 2 (clear to the background), transparency on.
        out.insert(out.end(), {0x21, 0xF9, 4, (2 << 2) | 1});
        PutU16(out, std::clamp((frame.DelayMs + 5) / 10, 1, 65535));
        out.push_back(kTransparentIndex);
        out.push_back(0);
        out.push_back(0x2C);
        PutU16(out, 0);
        PutU16(out, 0);
        PutU16(out, width);
        PutU16(out, height);
        out.push_back(0);  // no local table, not interlaced
        WriteLzw(Quantise(*frame.Bitmap), out);
    }
    out.push_back(0x3B);
    return out;
}

}  // namespace ql
