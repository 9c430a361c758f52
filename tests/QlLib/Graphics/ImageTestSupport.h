// Picture files built in the tests: BMPs and GIFs byte by byte, JPEGs through
// libjpeg, and bitmaps with known pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/qpFileStream.h"

namespace ql::test {

using TBytes = std::vector<uint8_t>;

inline void Put16(TBytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(TBytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

struct TBmpSpec {
    TBmpSpec(int32_t w, int32_t h, uint16_t b, uint32_t c = 0)
        : width(w), height(h), bits(b), compression(c) {}
    int32_t width = 0;
    int32_t height = 0;  // negative: top-down rows
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint16_t planes = 1;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<uint32_t> masks;    // after a 40-byte header, inside a longer one (R, G, B, A)
    TBytes pixels;                  // as stored, rows padded by the caller
    // 40, 108 (V4) or 124 (V5); 12 writes the OS/2 1.x header with 3-byte
    // palette entries.
    uint32_t headerSize = 40;
};

inline TBytes BmpBytes(const TBmpSpec& s) {
    const bool core = s.headerSize == 12;
    const bool masksInHeader = s.headerSize > 40;
    const uint32_t headerEnd = 14 + s.headerSize +
                               uint32_t(masksInHeader ? 0 : s.masks.size() * 4) +
                               uint32_t(s.palette.size() * (core ? 3 : 4));
    TBytes b{'B', 'M'};
    Put32(b, headerEnd + uint32_t(s.pixels.size()));
    Put32(b, 0);
    Put32(b, headerEnd);
    Put32(b, s.headerSize);
    if (core) {
        Put16(b, uint16_t(s.width));
        Put16(b, uint16_t(s.height));
        Put16(b, s.planes);
        Put16(b, s.bits);
        for (uint32_t c : s.palette) {
            Put16(b, uint16_t(c & 0xFFFF));
            b.push_back(uint8_t(c >> 16));
        }
        b.insert(b.end(), s.pixels.begin(), s.pixels.end());
        return b;
    }
    Put32(b, uint32_t(s.width));
    Put32(b, uint32_t(s.height));
    Put16(b, s.planes);
    Put16(b, s.bits);
    Put32(b, s.compression);
    Put32(b, uint32_t(s.pixels.size()));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, uint32_t(s.palette.size()));
    Put32(b, 0);
    for (uint32_t m : s.masks) Put32(b, m);
    if (masksInHeader)
        for (size_t i = 40 + s.masks.size() * 4; i < s.headerSize; ++i) b.push_back(0);
    for (uint32_t c : s.palette) Put32(b, c);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

// GIF frames are written as "uncompressed" LZW: every pixel a literal code,
// with a clear code often enough that the codes stay 9 bits wide.
struct TGifFrame {
    TGifFrame(int l, int t, int w, int h, std::vector<uint8_t> i, int delay = 0, int dispose = 0)
        : left(l),
          top(t),
          width(w),
          height(h),
          indices(std::move(i)),
          delayCs(delay),
          disposal(dispose) {}
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> indices;
    int delayCs = 0;
    int disposal = 0;
    int transparent = -1;
};

inline void PutLzwLiterals(TBytes& b, const std::vector<uint8_t>& indices) {
    std::vector<uint8_t> codes;
    uint32_t acc = 0;
    int bits = 0;
    auto code = [&](uint32_t c) {
        acc |= c << bits;
        bits += 9;
        while (bits >= 8) {
            codes.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    code(256);
    int sinceClear = 0;
    for (uint8_t i : indices) {
        if (sinceClear == 250) {
            code(256);
            sinceClear = 0;
        }
        code(i);
        ++sinceClear;
    }
    code(257);
    if (bits > 0) codes.push_back(uint8_t(acc));
    b.push_back(8);
    for (size_t pos = 0; pos < codes.size(); pos += 255) {
        const size_t n = std::min<size_t>(255, codes.size() - pos);
        b.push_back(uint8_t(n));
        b.insert(b.end(), codes.begin() + std::ptrdiff_t(pos),
                 codes.begin() + std::ptrdiff_t(pos + n));
    }
    b.push_back(0);
}

// A 256-entry global palette where entry i is (i, 255 - i, i / 2).
inline uint32_t GifColour(uint8_t i) {
    return 0xFF000000u | (uint32_t(i) << 16) | (uint32_t(255 - i) << 8) | (i / 2u);
}

inline TBytes GifBytes(int width, int height, const std::vector<TGifFrame>& frames,
                       int loopCount = -1) {
    TBytes b{'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, uint32_t(width));
    Put16(b, uint32_t(height));
    b.push_back(0xF7);  // global table of 256 entries
    b.push_back(0);
    b.push_back(0);
    for (int i = 0; i < 256; ++i) {
        b.push_back(uint8_t(i));
        b.push_back(uint8_t(255 - i));
        b.push_back(uint8_t(i / 2));
    }
    if (loopCount >= 0) {
        b.push_back(0x21);
        b.push_back(0xFF);
        b.push_back(11);
        for (char c : std::string("NETSCAPE2.0")) b.push_back(uint8_t(c));
        b.push_back(3);
        b.push_back(1);
        Put16(b, uint32_t(loopCount));
        b.push_back(0);
    }
    for (const TGifFrame& f : frames) {
        b.push_back(0x21);
        b.push_back(0xF9);
        b.push_back(4);
        b.push_back(uint8_t((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0)));
        Put16(b, uint32_t(f.delayCs));
        b.push_back(uint8_t(f.transparent >= 0 ? f.transparent : 0));
        b.push_back(0);
        b.push_back(0x2C);
        Put16(b, uint32_t(f.left));
        Put16(b, uint32_t(f.top));
        Put16(b, uint32_t(f.width));
        Put16(b, uint32_t(f.height));
        b.push_back(0);
        PutLzwLiterals(b, f.indices);
    }
    b.push_back(0x3B);
    return b;
}

// A JPEG of a smooth synthetic picture (or flat grey with components 1).
inline TBytes JpegBytes(int width, int height, int components = 3, int quality = 90,
                        bool progressive = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * size_t(components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            if (components == 1) {
                row[size_t(x)] = 128;
            } else if (components == 4) {  // Adobe's inverted inks: the left half full cyan
                row[size_t(x) * 4] = x < width / 2 ? 0 : 255;
                row[size_t(x) * 4 + 1] = row[size_t(x) * 4 + 2] = row[size_t(x) * 4 + 3] = 255;
            } else {
                row[size_t(x) * 3] = uint8_t(x * 255 / std::max(width - 1, 1));
                row[size_t(x) * 3 + 1] = uint8_t(y * 255 / std::max(height - 1, 1));
                row[size_t(x) * 3 + 2] = uint8_t(((x / 64) + (y / 64)) % 2 ? 200 : 40);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    TBytes bytes(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

inline std::unique_ptr<TMemoryStream> StreamOf(const TBytes& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(bytes.data(), bytes.size());
    stream->SetPosition(0);
    return stream;
}

// The 0xAARRGGBB of pixel (x, y) of a 24- or 32-bit bitmap (24 bits read as opaque).
inline uint32_t PixelAt(const TBitmap& bitmap, int32_t x, int32_t y) {
    const uint8_t* p = bitmap.Row(y) + size_t(x) * size_t(bitmap.BytesPerPixel());
    const uint32_t alpha = bitmap.BytesPerPixel() == 4 ? p[3] : 255u;
    return (alpha << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

}  // namespace ql::test
