#include "QlLib/Graphics/qlBmpDecoder.h"

#include <array>
#include <cstring>
#include <vector>

#include "QlLib/Graphics/qlImageBytes.h"

namespace ql {

namespace {

constexpr const char* kBmpDamaged = "BMP data damaged";
constexpr uint16_t kBmpType = 19778;  // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3 };

struct TBmpHeader {
    uint32_t pixelOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0;
    int64_t height = 0;  // as stored: negative for top-down rows
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
};

using TPalette = std::array<uint8_t, 256 * 3>;  // B, G, R per entry

// The palette after the info header; entries past the colours-used count (or
// past 2^bits) stay black, so every index reads a colour.
TPalette ReadPalette(TByteCursor& in, const TBmpHeader& h) {
    TPalette palette{};
    const uint32_t full = 1u << h.bits;
    const uint32_t count = h.coloursUsed == 0 || h.coloursUsed > full ? full : h.coloursUsed;
    in.Seek(kFileHeaderSize + h.headerSize);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = in.Take(4);
        std::memcpy(&palette[i * 3], entry, 3);
    }
    return palette;
}

// Run-length data into one index byte per pixel, rows in stored order.
// Pixels the data never reaches stay index 0. Each step consumes at least two
// bytes and writes only inside the picture, so hostile runs and deltas can
// neither overrun nor spin.
std::vector<uint8_t> DecodeRle(TByteCursor& in, const TBmpHeader& h, int64_t rows) {
    const int64_t width = h.width;
    std::vector<uint8_t> indices(size_t(width * rows), 0);
    const bool four = h.bits == 4;
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t index) {
        if (x < width && y < rows) indices[size_t(y * width + x)] = index;
        ++x;
    };
    in.Seek(h.pixelOffset);
    while (y < rows && in.Left() >= 2) {
        const uint8_t count = in.U8();
        const uint8_t value = in.U8();
        if (count > 0) {
            const int64_t n = std::min<int64_t>(count, std::max<int64_t>(width - x, 0));
            for (int64_t i = 0; i < n; ++i) put(four ? uint8_t(i & 1 ? value & 15 : value >> 4) : value);
            x += count - n;
            continue;
        }
        switch (value) {
            case 0: x = 0; ++y; break;                // end of line
            case 1: return indices;                   // end of picture
            case 2: {                                 // move right and up
                if (in.Left() < 2) return indices;
                x += in.U8();
                y += in.U8();
                break;
            }
            default: {  // a literal run of `value` pixels, padded to a word
                const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
                if (in.Left() < bytes) return indices;
                const uint8_t* p = in.Take(bytes);
                for (int i = 0; i < value; ++i) {
                    if (x >= width) break;
                    put(four ? uint8_t(i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
                }
                if (bytes & 1) {
                    if (in.AtEnd()) return indices;
                    in.Skip(1);
                }
                break;
            }
        }
    }
    return indices;
}

// The stored row that becomes top-down row y.
int64_t StoredRow(const TBmpHeader& h, int64_t rows, int64_t y) { return h.height > 0 ? rows - 1 - y : y; }

}  // namespace

std::unique_ptr<TBitmap> ReadBmpBitmap(const uint8_t* data, size_t size) {
    if (size <= 13) return nullptr;
    TByteCursor in(data, size, kBmpDamaged);
    if (in.U16() != kBmpType) return nullptr;
    TBmpHeader h;
    in.Skip(4 + 2 + 2);  // file size and the reserved words say nothing we need
    h.pixelOffset = in.U32();
    if (in.Left() < kInfoHeaderSize) return nullptr;
    h.headerSize = in.U32();
    h.width = in.I32();
    h.height = in.I32();
    h.planes = in.U16();
    h.bits = in.U16();
    h.compression = in.U32();
    in.Skip(4 + 4 + 4);  // image size and resolutions
    h.coloursUsed = in.U32();

    if (h.planes != 1 || h.width <= 0 || h.height == 0 || h.compression >= 6) return nullptr;
    if (h.headerSize < kInfoHeaderSize || h.headerSize > size - kFileHeaderSize) return nullptr;
    if (h.pixelOffset >= size) return nullptr;
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    CheckImageSize(h.width, rows);

    const TPixelFormat* format = nullptr;
    const uint32_t c = h.compression;
    switch (h.bits) {
        case 1: case 4: case 8:
            if (c == kBiRgb || (c == kBiRle8 && h.bits == 8) || (c == kBiRle4 && h.bits == 4)) format = PfRGB24();
            break;
        case 16:
            if (c == kBiRgb) {
                format = FindPixelFormat("X1R5G5B5");
            } else if (c == kBiBitFields) {
                in.Seek(kFileHeaderSize + kInfoHeaderSize);
                in.Skip(4);
                const uint32_t green = in.U32();
                if (green == 0x03E0) format = FindPixelFormat("X1R5G5B5");
                if (green == 0x07E0) format = FindPixelFormat("R5G6B5");
            }
            break;
        case 24: if (c == kBiRgb) format = PfRGB24(); break;
        case 32: if (c == kBiRgb || c == kBiBitFields) format = PfARGB32(); break;
        default: break;
    }
    if (!format) return nullptr;

    const int64_t stride = (int64_t(h.bits) * h.width + 31) / 32 * 4;
    std::unique_ptr<TBitmap> bitmap;
    if (c == kBiRle8 || c == kBiRle4) {
        const TPalette palette = ReadPalette(in, h);
        const std::vector<uint8_t> indices = DecodeRle(in, h, rows);
        bitmap = CreateBitmap(h.width, int32_t(rows), format);
        for (int64_t y = 0; y < rows; ++y) {
            const uint8_t* src = &indices[size_t(StoredRow(h, rows, y) * h.width)];
            uint8_t* out = bitmap->Row(int32_t(y));
            for (int32_t x = 0; x < h.width; ++x) std::memcpy(out + x * 3, &palette[src[x] * 3u], 3);
        }
        return bitmap;
    }

    // Every row must be in the data before anything is allocated; the last row
    // may lack its padding.
    const int64_t lastRowBytes = (int64_t(h.bits) * h.width + 7) / 8;
    if ((rows - 1) * stride + lastRowBytes > int64_t(size) - int64_t(h.pixelOffset))
        throw EImageError(kBmpDamaged);
    TPalette palette{};
    if (h.bits <= 8) palette = ReadPalette(in, h);
    bitmap = CreateBitmap(h.width, int32_t(rows), format);
    bool anyAlpha = false;
    for (int64_t y = 0; y < rows; ++y) {
        const uint8_t* src = data + h.pixelOffset + StoredRow(h, rows, y) * stride;
        uint8_t* out = bitmap->Row(int32_t(y));
        switch (h.bits) {
            case 1:
                for (int32_t x = 0; x < h.width; ++x)
                    std::memcpy(out + x * 3, &palette[((src[x >> 3] >> (7 - (x & 7))) & 1) * 3u], 3);
                break;
            case 4:
                for (int32_t x = 0; x < h.width; ++x)
                    std::memcpy(out + x * 3, &palette[((x & 1 ? src[x >> 1] : src[x >> 1] >> 4) & 15) * 3u], 3);
                break;
            case 8:
                for (int32_t x = 0; x < h.width; ++x) std::memcpy(out + x * 3, &palette[src[x] * 3u], 3);
                break;
            case 32:
                for (int32_t x = 0; x < h.width && !anyAlpha; ++x) anyAlpha = src[x * 4 + 3] != 0;
                [[fallthrough]];
            default:
                std::memcpy(out, src, size_t(lastRowBytes));
                break;
        }
    }
    // Plain 32-bit files mostly leave the fourth byte 0; read as alpha they
    // would vanish, so a picture without any alpha is opaque.
    if (h.bits == 32 && !anyAlpha) {
        for (int64_t y = 0; y < rows; ++y) {
            uint8_t* out = bitmap->Row(int32_t(y));
            for (int32_t x = 0; x < h.width; ++x) out[x * 4 + 3] = 255;
        }
    }
    return bitmap;
}

std::unique_ptr<TBitmap> ReadBmpBitmap(TStream& stream) {
    const int64_t start = stream.GetPosition();
    uint8_t magic[2];
    if (PeekBytes(stream, magic, 2) != 2 || magic[0] != 'B' || magic[1] != 'M') return nullptr;
    try {
        const std::vector<uint8_t> data = ReadRemaining(stream, kMaxImageFileBytes);
        std::unique_ptr<TBitmap> bitmap = ReadBmpBitmap(data.data(), data.size());
        if (!bitmap) stream.SetPosition(start);
        return bitmap;
    } catch (const Exception&) {
        stream.SetPosition(start);
        return nullptr;
    }
}

TRef<TBitmapStore> DecodeBmp(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext) {
    std::unique_ptr<TBitmap> bitmap = ReadBmpBitmap(stream);
    if (!bitmap) return nullptr;
    return MakeRef<TWrapperBitmapStore>(std::move(bitmap), name, hook, hookContext);
}

}  // namespace ql
