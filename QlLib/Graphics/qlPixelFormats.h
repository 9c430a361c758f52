// Pixel formats named by their channels and the converters between them.
//
// A name lists channels from the most significant bits down: "A8R8G8B8" is a
// little-endian 32-bit 0xAARRGGBB, stored as the bytes B, G, R, A.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql {

// Channel codes; alpha and luminance share code 4.
enum : uint8_t { ccX = 0, ccR = 1, ccG = 2, ccB = 3, ccA = 4 };

struct TConvertEntry {
    uint8_t code = ccX;
    int32_t width = 0;
};

// Entry 0 is the last channel of the name and occupies the lowest bits.
struct TConvertFormat {
    std::vector<TConvertEntry> entries;
    int32_t Count() const { return static_cast<int32_t>(entries.size()); }
};

class TPixelFormat : public TObj {
public:
    const std::string& Name() const { return m_name; }
    // 0 = colour without alpha, 3 = colour and alpha, 2 = no colour channel.
    uint8_t ColourClass() const { return m_colourClass; }
    bool BitPacked() const { return m_bitPacked; }
    bool HasAlpha() const { return m_hasAlpha; }
    int32_t BytesPerPixel() const { return m_bytesPerPixel; }
    int32_t BitsPerPixel() const { return m_bitsPerPixel; }
    const TConvertFormat& Channels() const { return m_channels; }

protected:
    std::string m_name;
    uint8_t m_colourClass = 0;
    bool m_bitPacked = false;
    bool m_hasAlpha = false;
    int32_t m_bytesPerPixel = 0;
    int32_t m_bitsPerPixel = 0;
    TConvertFormat m_channels;
};

// A format parsed from its name ("X1R5G5B5": letters with decimal widths).
class TCommonPixelFormat : public TPixelFormat {
public:
    explicit TCommonPixelFormat(const std::string& name);
};

// Turns count pixels of one format into another. Converters are shared
// through the registry and never freed by their users.
class TPixelConverter : public TObj {
public:
    // Destination address = line + x * (1, 2, 3 or 4); source address = src + srcOffset bytes.
    virtual void Convert8(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count);
    virtual void Convert16(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count);
    virtual void Convert24(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count);
    virtual void Convert32(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count);
    virtual void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const = 0;
};

class TConvertOperator : public TPixelConverter {
public:
    TConvertOperator(const TPixelFormat& dst, const TPixelFormat& src) : m_dst(dst), m_src(src) {}
    const TPixelFormat& DstFormat() const { return m_dst; }
    const TPixelFormat& SrcFormat() const { return m_src; }

protected:
    const TPixelFormat& m_dst;
    const TPixelFormat& m_src;
};

class TDirectConvertor : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// Moves whole channel bytes; for formats whose channels are all byte sized.
class TByteConvertor : public TConvertOperator {
public:
    TByteConvertor(const TPixelFormat& dst, const TPixelFormat& src);
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

private:
    struct TCopy {
        uint8_t srcIndex, dstIndex;
    };
    struct TConst {
        uint8_t dstIndex, value;
    };
    std::vector<TCopy> m_copies;
    std::vector<TConst> m_constants;
    int32_t m_srcStep = 0;
    int32_t m_dstStep = 0;
};

// Unpacks bit fields, rescales each channel through a table, repacks.
class TBitConvertor : public TConvertOperator {
public:
    TBitConvertor(const TPixelFormat& dst, const TPixelFormat& src);
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

private:
    // Per destination entry: table offset (-1 = constant), the constant, and
    // which source code feeds it.
    struct TDstField {
        int32_t width;
        uint8_t code;
        int32_t table;
        uint32_t constant;
    };
    std::vector<TDstField> m_fields;
    std::vector<uint32_t> m_tables;
    int32_t m_srcBytes = 0;
    int32_t m_dstBytes = 0;
};

class TAYtoRGBConvertor : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

class TRGBToRGBA : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

class TRGBAToRGB : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

class TR5G6B5ToBGR8 : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

class TX1R5G5B5ToBGR8 : public TConvertOperator {
public:
    using TConvertOperator::TConvertOperator;
    void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// The shared format for a name, created and registered on first request.
// Names that parse to no bits are refused (nullptr).
const TPixelFormat* FindPixelFormat(const std::string& name);

// The shared converter for the pair, created and registered when absent.
TPixelConverter* FindConvertor(const TPixelFormat& dst, const TPixelFormat& src);

// Files a converter under "src->dst", freeing any converter it replaces.
void RegisterConvertor(const TPixelFormat& dst, const TPixelFormat& src,
                       std::unique_ptr<TPixelConverter> converter);

// Format of a device-independent bitmap depth (8, 15, 16, 24, 32); any other
// depth is an assertion failure.
const TPixelFormat* PixelFormatOfDepth(int32_t bitsPerPixel);

// Frequently used formats.
const TPixelFormat* PfRGB24();   // "R8G8B8"
const TPixelFormat* PfARGB32();  // "A8R8G8B8"

}  // namespace ql
