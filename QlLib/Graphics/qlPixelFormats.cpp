#include "QlLib/Graphics/qlPixelFormats.h"

#include <array>
#include <cstring>
#include <mutex>

#include "QlLib/qlHashUtils.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

// Channel widths beyond 16 bits would need lookup tables of more than 64 K
// entries, and pixels wider than 32 bits do not fit the bit converter's word.
constexpr int32_t kMaxChannelBits = 16;
constexpr int32_t kMaxPixelBits = 32;

uint8_t CodeOfLetter(char c) {
    switch (c) {
        case 'A': case 'a': case 'Y': case 'y': return ccA;
        case 'B': case 'b': return ccB;
        case 'G': case 'g': return ccG;
        case 'R': case 'r': return ccR;
        case 'X': case 'x': return ccX;
        default: return 0xFF;
    }
}

}  // namespace

TCommonPixelFormat::TCommonPixelFormat(const std::string& name) {
    m_name = name;
    std::vector<TConvertEntry> work(name.size() + 1);
    size_t index = 0;
    for (size_t i = 0; i < name.size();) {
        const char c = name[i];
        if (c >= '0' && c <= '9') {
            int64_t width = 0;
            while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
                // Saturate so that a long run of digits cannot overflow; the
                // registry refuses such widths anyway.
                if (width < 1'000'000) width = width * 10 + (name[i] - '0');
                ++i;
            }
            if (index == work.size()) work.resize(work.size() * 2);
            work[index].width = static_cast<int32_t>(width);
            ++index;
            continue;
        }
        const uint8_t code = CodeOfLetter(c);
        if (code != 0xFF) {
            if (index == work.size()) work.resize(work.size() * 2);
            work[index].code = code;
        }
        ++i;
    }
    work.resize(index);
    m_channels.entries.assign(work.rbegin(), work.rend());

    bool hasColour = false;
    int64_t bits = 0;
    for (const TConvertEntry& e : m_channels.entries) {
        bits += e.width;
        if (e.width % 8 != 0) m_bitPacked = true;
        if (e.code == ccA) m_hasAlpha = true;
        if (e.code >= ccR && e.code <= ccB) hasColour = true;
    }
    m_bitsPerPixel = static_cast<int32_t>(bits > INT32_MAX ? INT32_MAX : bits);
    m_colourClass = !hasColour ? 2 : (m_hasAlpha ? 3 : 0);
    m_bytesPerPixel = m_bitsPerPixel > 0 ? (m_bitsPerPixel - 1) / 8 + 1 : 0;
}

// --- converter slots ------------------------------------------------------

void TPixelConverter::Convert8(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count) {
    Convert(line + x, src + srcOffset, count);
}
void TPixelConverter::Convert16(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count) {
    Convert(line + 2 * int64_t(x), src + srcOffset, count);
}
void TPixelConverter::Convert24(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count) {
    Convert(line + 3 * int64_t(x), src + srcOffset, count);
}
void TPixelConverter::Convert32(uint8_t* line, int32_t x, const uint8_t* src, int64_t srcOffset, int32_t count) {
    Convert(line + 4 * int64_t(x), src + srcOffset, count);
}

void TDirectConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    if (count > 0) std::memmove(dst, src, size_t(count) * size_t(m_src.BytesPerPixel()));
}

TByteConvertor::TByteConvertor(const TPixelFormat& dst, const TPixelFormat& src) : TConvertOperator(dst, src) {
    std::array<int32_t, 5> srcIndex;
    srcIndex.fill(-1);
    const auto& s = src.Channels().entries;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i].code != ccX) srcIndex[s[i].code] = static_cast<int32_t>(i);
    const auto& d = dst.Channels().entries;
    for (size_t i = 0; i < d.size(); ++i) {
        const uint8_t code = d[i].code;
        if (code != ccX && srcIndex[code] >= 0)
            m_copies.push_back({uint8_t(srcIndex[code]), uint8_t(i)});
        else
            m_constants.push_back({uint8_t(i), uint8_t(code == ccA ? 255 : 0)});
    }
    m_srcStep = src.Channels().Count();
    m_dstStep = dst.Channels().Count();
}

void TByteConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i) {
        for (const TCopy& c : m_copies) dst[c.dstIndex] = src[c.srcIndex];
        for (const TConst& c : m_constants) dst[c.dstIndex] = c.value;
        src += m_srcStep;
        dst += m_dstStep;
    }
}

TBitConvertor::TBitConvertor(const TPixelFormat& dst, const TPixelFormat& src) : TConvertOperator(dst, src) {
    std::array<int32_t, 5> srcWidth{}, dstWidth{};
    for (const auto& e : src.Channels().entries) srcWidth[e.code] = e.width;
    for (const auto& e : dst.Channels().entries) dstWidth[e.code] = e.width;
    // A one-channel source (grey or mask) feeds the colour channels of an
    // opaque destination, so "Y8" becomes grey in a 16-bit picture, not black.
    std::array<uint8_t, 5> feed = {ccX, ccR, ccG, ccB, ccA};
    if (src.ColourClass() == 2 && srcWidth[ccA] > 0 && dstWidth[ccA] == 0)
        feed[ccR] = feed[ccG] = feed[ccB] = ccA;

    std::array<int32_t, 5> table;
    table.fill(-1);
    m_tables.reserve(256);
    for (uint8_t code = ccR; code <= ccA; ++code) {
        const int32_t s = srcWidth[feed[code]], d = dstWidth[code];
        if (s < 1 || d < 1) continue;
        for (uint8_t other = ccR; other < code; ++other)
            if (table[other] >= 0 && srcWidth[feed[other]] == s && dstWidth[other] == d) table[code] = table[other];
        if (table[code] >= 0) continue;
        table[code] = static_cast<int32_t>(m_tables.size());
        const uint32_t n = 1u << s;
        for (uint32_t v = 0; v < n; ++v) {
            uint32_t out;
            if (v == 0) out = 0;
            else if (d == s) out = v;
            else if (d < s) out = v >> (s - d);
            else out = (v << (d - s)) | ((1u << (d - s)) - 1);
            m_tables.push_back(out);
        }
    }
    for (const auto& e : dst.Channels().entries) {
        TDstField f{e.width, feed[e.code], e.code == ccX ? -1 : table[e.code], 0};
        if (e.code != ccX && f.table < 0 && e.code == ccA)
            f.constant = e.width >= 8 ? (e.width >= 32 ? 0xFFFFFFFFu : (1u << e.width) - 1) : (255u >> (8 - e.width));
        m_fields.push_back(f);
    }
    m_srcBytes = src.BytesPerPixel();
    m_dstBytes = dst.BytesPerPixel();
}

void TBitConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    const auto& srcEntries = m_src.Channels().entries;
    for (int32_t i = 0; i < count; ++i) {
        uint64_t bits = 0;
        for (int32_t b = 0; b < m_srcBytes; ++b) bits |= uint64_t(src[b]) << (8 * b);
        std::array<uint32_t, 5> value{};
        for (const auto& e : srcEntries) {
            const uint64_t mask = (uint64_t(1) << e.width) - 1;
            value[e.code] = static_cast<uint32_t>(bits & mask);
            bits >>= e.width;
        }
        uint64_t out = 0;
        int32_t shift = 0;
        for (const TDstField& f : m_fields) {
            uint64_t v = 0;
            if (f.table >= 0) v = m_tables[size_t(f.table) + value[f.code]];
            else v = f.constant;
            out |= v << shift;
            shift += f.width;
        }
        for (int32_t b = 0; b < m_dstBytes; ++b) dst[b] = uint8_t(out >> (8 * b));
        src += m_srcBytes;
        dst += m_dstBytes;
    }
}

void TAYtoRGBConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i, dst += 3) dst[0] = dst[1] = dst[2] = src[i];
}

void TRGBToRGBA::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i, dst += 4, src += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 0xFF;
    }
}

void TRGBAToRGB::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i, dst += 3, src += 4) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

void TR5G6B5ToBGR8::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i, dst += 3, src += 2) {
        const uint32_t v = src[0] | (uint32_t(src[1]) << 8);
        dst[0] = uint8_t((v & 0x1F) << 3);
        dst[1] = uint8_t(((v >> 5) & 0x3F) << 2);
        dst[2] = uint8_t((v >> 11) << 3);
    }
}

void TX1R5G5B5ToBGR8::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
    for (int32_t i = 0; i < count; ++i, dst += 3, src += 2) {
        const uint32_t v = src[0] | (uint32_t(src[1]) << 8);
        dst[0] = uint8_t((v & 0x1F) << 3);
        dst[1] = uint8_t(((v >> 5) & 0x1F) << 3);
        dst[2] = uint8_t(((v >> 10) & 0x1F) << 3);
    }
}

// --- registry -------------------------------------------------------------

namespace {

// Formats and converters share one table keyed by 16-bit names. Unlike the
// first design it carries a lock: loader threads may ask for a format or pair
// nobody asked for before, and an unguarded insert races with readers.
class TFormatRegistry {
public:
    static TFormatRegistry& Instance() {
        static TFormatRegistry registry;
        return registry;
    }

    const TPixelFormat* Format(const std::string& name) {
        std::lock_guard lock(m_lock);
        return FormatLocked(name);
    }

    TPixelConverter* Converter(const TPixelFormat& dst, const TPixelFormat& src) {
        std::lock_guard lock(m_lock);
        const std::u16string key = PairKey(dst, src);
        if (TObj* found = Lookup(key)) return static_cast<TPixelConverter*>(found);
        std::unique_ptr<TPixelConverter> c;
        const bool allBytes = [&] {
            for (const auto* f : {&dst, &src})
                for (const auto& e : f->Channels().entries)
                    if (e.width != 8) return false;
            return true;
        }();
        if (&dst == &src) c = std::make_unique<TDirectConvertor>(dst, src);
        else if (allBytes) c = std::make_unique<TByteConvertor>(dst, src);
        else c = std::make_unique<TBitConvertor>(dst, src);
        TPixelConverter* result = c.get();
        Store(key, std::move(c));
        return result;
    }

    void Register(const TPixelFormat& dst, const TPixelFormat& src, std::unique_ptr<TPixelConverter> c) {
        std::lock_guard lock(m_lock);
        Store(PairKey(dst, src), std::move(c));
    }

private:
    struct TEntry {
        std::u16string key;
        std::unique_ptr<TObj> object;
    };
    static constexpr uint32_t kBuckets = 251;

    TFormatRegistry() {
        for (const char* name : {"Y8", "A8", "R8G8B8", "A8R8G8B8", "B8G8R8", "A8B8G8R8", "B5G6R5", "B5G5R5X1",
                                 "X8B8G8R8"})
            FormatLocked(name);
        Add<TAYtoRGBConvertor>("A8", "B8G8R8");
        Add<TAYtoRGBConvertor>("A8", "R8G8B8");
        Add<TAYtoRGBConvertor>("Y8", "B8G8R8");
        Add<TAYtoRGBConvertor>("Y8", "R8G8B8");
        Add<TRGBToRGBA>("B8G8R8", "A8B8G8R8");
        Add<TRGBToRGBA>("R8G8B8", "A8R8G8B8");
        Add<TRGBAToRGB>("A8B8G8R8", "B8G8R8");
        Add<TRGBAToRGB>("A8R8G8B8", "R8G8B8");
        Add<TR5G6B5ToBGR8>("R5G6B5", "R8G8B8");
        Add<TX1R5G5B5ToBGR8>("X1R5G5B5", "R8G8B8");
    }

    template <class T>
    void Add(const char* src, const char* dst) {
        const TPixelFormat& s = *FormatLocked(src);
        const TPixelFormat& d = *FormatLocked(dst);
        Store(PairKey(d, s), std::make_unique<T>(d, s));
    }

    static std::u16string PairKey(const TPixelFormat& dst, const TPixelFormat& src) {
        return FromUtf8(src.Name() + "->" + dst.Name());
    }

    TObj* Lookup(const std::u16string& key) {
        for (TEntry& e : m_buckets[ElfHash(key) % kBuckets])
            if (e.key == key) return e.object.get();
        return nullptr;
    }

    void Store(const std::u16string& key, std::unique_ptr<TObj> object) {
        auto& bucket = m_buckets[ElfHash(key) % kBuckets];
        for (TEntry& e : bucket)
            if (e.key == key) {
                e.object = std::move(object);
                return;
            }
        bucket.push_back({key, std::move(object)});
    }

    const TPixelFormat* FormatLocked(const std::string& name) {
        const std::u16string key = FromUtf8(name);
        if (TObj* found = Lookup(key)) return static_cast<const TPixelFormat*>(found);
        auto format = std::make_unique<TCommonPixelFormat>(name);
        bool valid = format->BitsPerPixel() >= 1 && format->BitsPerPixel() <= kMaxPixelBits;
        for (const auto& e : format->Channels().entries) valid = valid && e.width <= kMaxChannelBits;
        if (!valid) return nullptr;
        const TPixelFormat* result = format.get();
        Store(key, std::move(format));
        return result;
    }

    std::mutex m_lock;  // guards m_buckets
    std::array<std::vector<TEntry>, kBuckets> m_buckets;
};

}  // namespace

const TPixelFormat* FindPixelFormat(const std::string& name) { return TFormatRegistry::Instance().Format(name); }

TPixelConverter* FindConvertor(const TPixelFormat& dst, const TPixelFormat& src) {
    return TFormatRegistry::Instance().Converter(dst, src);
}

void RegisterConvertor(const TPixelFormat& dst, const TPixelFormat& src, std::unique_ptr<TPixelConverter> converter) {
    TFormatRegistry::Instance().Register(dst, src, std::move(converter));
}

const TPixelFormat* PixelFormatOfDepth(int32_t bitsPerPixel) {
    // Device-independent bitmaps keep 16-bit pixels with red in the top bits,
    // which this naming calls "R5G6B5" and "X1R5G5B5"; naming them by their
    // reversed names would swap red and blue on every conversion.
    switch (bitsPerPixel) {
        case 8: return FindPixelFormat("Y8");
        case 15: return FindPixelFormat("X1R5G5B5");
        case 16: return FindPixelFormat("R5G6B5");
        case 24: return FindPixelFormat("R8G8B8");
        case 32: return FindPixelFormat("A8R8G8B8");
        default: QL_ASSERT(false, "Unsupported DIB depth"); return nullptr;
    }
}

const TPixelFormat* PfRGB24() {
    static const TPixelFormat* f = FindPixelFormat("R8G8B8");
    return f;
}
const TPixelFormat* PfARGB32() {
    static const TPixelFormat* f = FindPixelFormat("A8R8G8B8");
    return f;
}

}  // namespace ql
