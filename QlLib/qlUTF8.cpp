#include "QlLib/qlUTF8.h"

namespace ql {

namespace {

// Walks the sequences of the bytes and hands each decoded value to the sink.
// Every sequence is checked completely before its value is used.
template <class TSink>
void DecodeUtf8(std::string_view bytes, TSink&& sink) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = p[i];
        if (lead < 0x80) {
            sink(lead);
            ++i;
            continue;
        }
        size_t extra;
        uint32_t value;
        if (!Utf8Lead(lead, extra, value)) throw EInvalidChar(kInvalidUtf8CharMessage);
        if (size - i - 1 < extra) throw EInvalidChar(kInvalidUtf8CharMessage);
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t next = p[i + k];
            if ((next & 0xC0) != 0x80) throw EInvalidChar(kInvalidUtf8CharMessage);
            value = (value << 6) | (next & 0x3F);
        }
        if (value > 0x10FFFF) throw EInvalidChar(kIllegalSurrogateRangeMessage);
        sink(value);
        i += extra + 1;
    }
}

}  // namespace

std::string UnicodeToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (const char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

size_t Utf8UnitCount(std::string_view bytes) {
    size_t count = 0;
    // A 4-byte form of a value below 10000 hex is one unit, as the text reader
    // decodes it.
    DecodeUtf8(bytes, [&count](uint32_t value) { count += value >= 0x10000 ? 2 : 1; });
    return count;
}

std::u16string Utf8ToUnicode(std::string_view bytes) {
    std::u16string out;
    out.reserve(Utf8UnitCount(bytes));
    DecodeUtf8(bytes, [&out](uint32_t value) {
        if (value >= 0x10000) {
            out.push_back(HighSurrogateOf(value));
            out.push_back(LowSurrogateOf(value));
        } else {
            out.push_back(static_cast<char16_t>(value));
        }
    });
    return out;
}

std::u16string Utf8ToUnicode(const uint8_t* buffer, size_t start, size_t count) {
    if (count == 0) return {};
    return Utf8ToUnicode(
        std::string_view(reinterpret_cast<const char*>(buffer) + start, count));
}

}  // namespace ql
