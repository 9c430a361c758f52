#include "QlLib/Graphics/qlBmpDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "QlLib/Graphics/qlImageBytes.h"

namespace ql {

namespace {

constexpr const char* kBmpDamaged = "BMP data damaged";
constexpr uint16_t kBmpType = 19778;  // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sizes, 3-byte palette entries
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kV3HeaderSize = 56;  // the first header that holds an alpha mask

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiAlphaBitFields = 6 };

struct TBmpHeader {
    uint32_t pixelOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0;
    int64_t height = 0;  // as stored: negative for top-down rows
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    uint32_t paletteEntry = 4;  // bytes per palette entry
};

// One colour mask: where its bits are and how wide it is.
struct TMaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    // False for a mask whose bits are not one run inside the pixel.
    bool Set(uint32_t value, int bits) {
        mask = value;
        if (value == 0) return true;
        if (bits < 32 && (value >> bits) != 0) return false;
        shift = std::countr_zero(value);
        width = std::popcount(value);
        const uint64_t run = uint64_t(value >> shift) + 1;
        return (run & (run - 1)) == 0;
    }
    // Colours take the plain shift the pixel-format converters use for 5 and
    // 6 bits, so that any mask reads like the formats we know.
    uint8_t Colour(uint32_t pixel) const {
        if (width == 0) return 0;
        const uint32_t v = (pixel & mask) >> shift;
        return uint8_t(width >= 8 ? v >> (width - 8) : v << (8 - width));
    }
    // Alpha scales exactly: a full 1, 2 or 4-bit alpha must stay opaque.
    uint8_t Alpha(uint32_t pixel) const {
        if (width == 0) return 255;
        const uint32_t v = (pixel & mask) >> shift;
        return uint8_t(width >= 8 ? v >> (width - 8) : v * 255 / ((1u << width) - 1));
    }
};

struct TMasks {
    TMaskChannel red, green, blue, alpha;
    bool Is(uint32_t r, uint32_t g, uint32_t b, uint32_t a) const {
        return red.mask == r && green.mask == g && blue.mask == b && alpha.mask == a;
    }
};

using TPalette = std::array<uint8_t, 256 * 3>;  // B, G, R per entry

// The palette after the info header; entries past the colours-used count (or
// past 2^bits) stay black, so every index reads a colour.
TPalette ReadPalette(TByteCursor& in, const TBmpHeader& h) {
    TPalette palette{};
    const uint32_t full = 1u << h.bits;
    uint32_t count = h.coloursUsed == 0 || h.coloursUsed > full ? full : h.coloursUsed;
    // OS/2 headers carry no count; the pixels' offset bounds what is there.
    const size_t start = kFileHeaderSize + h.headerSize;
    if (h.pixelOffset > start)
        count = std::min<uint32_t>(count, uint32_t((h.pixelOffset - start) / h.paletteEntry));
    in.Seek(start);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = in.Take(h.paletteEntry);
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
            for (int64_t i = 0; i < n; ++i)
                put(four ? uint8_t(i & 1 ? value & 15 : value >> 4) : value);
            x += count - n;
            continue;
        }
        switch (value) {
            case 0:
                x = 0;
                ++y;
                break;  // end of line
            case 1:
                return indices;  // end of picture
            case 2: {            // move right and up
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
int64_t StoredRow(const TBmpHeader& h, int64_t rows, int64_t y) {
    return h.height > 0 ? rows - 1 - y : y;
}

}  // namespace

std::unique_ptr<TBitmap> ReadBmpBitmap(const uint8_t* data, size_t size) {
    if (size <= 13) return nullptr;
    TByteCursor in(data, size, kBmpDamaged);
    if (in.U16() != kBmpType) return nullptr;
    TBmpHeader h;
    in.Skip(4 + 2 + 2);  // file size and the reserved words say nothing we need
    h.pixelOffset = in.U32();
    if (in.Left() < kCoreHeaderSize) return nullptr;
    h.headerSize = in.U32();
    if (h.headerSize == kCoreHeaderSize) {
        h.width = in.U16();
        h.height = in.U16();  // always bottom-up
        h.planes = in.U16();
        h.bits = in.U16();
        h.paletteEntry = 3;
        if (h.bits > 8 && h.bits != 24) return nullptr;
    } else {
        if (in.Left() < kInfoHeaderSize - 4) return nullptr;
        h.width = in.I32();
        h.height = in.I32();
        h.planes = in.U16();
        h.bits = in.U16();
        h.compression = in.U32();
        in.Skip(4 + 4 + 4);  // image size and resolutions
        h.coloursUsed = in.U32();
        if (h.headerSize < kInfoHeaderSize) return nullptr;
    }

    if (h.planes != 1 || h.width <= 0 || h.height == 0 || h.compression > kBiAlphaBitFields)
        return nullptr;
    if (h.headerSize > size - kFileHeaderSize) return nullptr;
    if (h.pixelOffset >= size) return nullptr;
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    CheckImageSize(h.width, rows);

    // Bit fields: inside a header of 52 bytes or more (the alpha mask from 56),
    // else three masks (four with alpha bit fields) right after the header.
    const uint32_t c = h.compression;
    const bool bitFields = c == kBiBitFields || c == kBiAlphaBitFields;
    TMasks masks;
    bool alphaMaskKnown = false;
    if (bitFields && (h.bits == 16 || h.bits == 32)) {
        const bool inHeader = h.headerSize >= kInfoHeaderSize + 12;
        in.Seek(kFileHeaderSize + (inHeader ? kInfoHeaderSize : h.headerSize));
        const uint32_t red = in.U32(), green = in.U32(), blue = in.U32();
        uint32_t alpha = 0;
        alphaMaskKnown = (inHeader && h.headerSize >= kV3HeaderSize) || c == kBiAlphaBitFields;
        if (alphaMaskKnown) alpha = in.U32();
        if (!masks.red.Set(red, h.bits) || !masks.green.Set(green, h.bits) ||
            !masks.blue.Set(blue, h.bits) || !masks.alpha.Set(alpha, h.bits))
            return nullptr;
        if ((red & green) | (red & blue) | (green & blue) | ((red | green | blue) & alpha))
            return nullptr;
    }

    const TPixelFormat* format = nullptr;
    // Pixels that go through the masks one by one into "A8R8G8B8".
    bool generic = false;
    switch (h.bits) {
        case 1:
        case 4:
        case 8:
            if (c == kBiRgb || (c == kBiRle8 && h.bits == 8) || (c == kBiRle4 && h.bits == 4))
                format = PfRGB24();
            break;
        case 16:
            if (c == kBiRgb || (bitFields && masks.Is(0x7C00, 0x03E0, 0x001F, 0))) {
                format = FindPixelFormat("X1R5G5B5");
            } else if (bitFields && masks.Is(0xF800, 0x07E0, 0x001F, 0)) {
                format = FindPixelFormat("R5G6B5");
            } else if (bitFields) {
                format = PfARGB32();
                generic = true;
            }
            break;
        case 24:
            if (c == kBiRgb) format = PfRGB24();
            break;
        case 32:
            format = PfARGB32();
            // The usual masks (and no alpha mask at all) keep the stored bytes.
            generic =
                bitFields && !masks.Is(0xFF0000, 0xFF00, 0xFF, alphaMaskKnown ? 0xFF000000u : 0);
            if (!(c == kBiRgb || bitFields)) format = nullptr;
            break;
        default:
            break;
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
            for (int32_t x = 0; x < h.width; ++x)
                std::memcpy(out + x * 3, &palette[src[x] * 3u], 3);
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
        if (generic) {
            for (int32_t x = 0; x < h.width; ++x) {
                const uint8_t* p = src + x * (h.bits / 8);
                const uint32_t pixel =
                    h.bits == 16 ? uint32_t(p[0] | p[1] << 8)
                                 : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
                out[x * 4 + 0] = masks.blue.Colour(pixel);
                out[x * 4 + 1] = masks.green.Colour(pixel);
                out[x * 4 + 2] = masks.red.Colour(pixel);
                out[x * 4 + 3] = masks.alpha.Alpha(pixel);
                anyAlpha = anyAlpha || out[x * 4 + 3] != 0;
            }
            continue;
        }
        switch (h.bits) {
            case 1:
                for (int32_t x = 0; x < h.width; ++x)
                    std::memcpy(out + x * 3, &palette[((src[x >> 3] >> (7 - (x & 7))) & 1) * 3u],
                                3);
                break;
            case 4:
                for (int32_t x = 0; x < h.width; ++x)
                    std::memcpy(out + x * 3,
                                &palette[((x & 1 ? src[x >> 1] : src[x >> 1] >> 4) & 15) * 3u], 3);
                break;
            case 8:
                for (int32_t x = 0; x < h.width; ++x)
                    std::memcpy(out + x * 3, &palette[src[x] * 3u], 3);
                break;
            case 32:
                // An alpha mask of 0 in a header that has one says: no alpha.
                for (int32_t x = 0;
                     x < h.width && !anyAlpha && !(alphaMaskKnown && masks.alpha.mask == 0); ++x)
                    anyAlpha = src[x * 4 + 3] != 0;
                [[fallthrough]];
            default:
                std::memcpy(out, src, size_t(lastRowBytes));
                break;
        }
    }
    // Plain 32-bit files mostly leave the fourth byte 0; read as alpha they
    // would vanish, so a picture without any alpha is opaque.
    if (format == PfARGB32() && !anyAlpha) {
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
