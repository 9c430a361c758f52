// String-level UTF-8 as text files use it. Encoding works unit by unit, so a
// surrogate pair becomes two three-byte sequences (the log file expects exactly
// that); decoding accepts sequences of 1 to 4 bytes and turns 4-byte ones into
// surrogate pairs. Malformed bytes raise EInvalidChar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "QlLib/qpExceptions.h"

namespace ql {

// Malformed UTF-8 in a text, or an unpaired high surrogate met while writing UTF-8.
QL_COMMON_EXCEPTION(EInvalidChar, TCommonException);

// Messages of EInvalidChar raised by the string-level conversions.
inline constexpr const char* kInvalidUtf8CharMessage = "Invalid UTF8 Char";
inline constexpr const char* kIllegalSurrogateRangeMessage = "Illegal char range for surrogates";

// Each 16-bit unit separately: below 80 hex one byte, below 800 hex two bytes,
// otherwise three bytes.
std::string UnicodeToUtf8(std::u16string_view text);

// The count of 16-bit units that the bytes decode to. Raises EInvalidChar for a
// bad lead or continuation byte, a sequence cut off by the end of the bytes, or a
// value above 10FFFF hex.
size_t Utf8UnitCount(std::string_view bytes);

// Decodes UTF-8 bytes; raises EInvalidChar as Utf8UnitCount does.
std::u16string Utf8ToUnicode(std::string_view bytes);

// Decodes the bytes [start, start + count) of a buffer.
std::u16string Utf8ToUnicode(const uint8_t* buffer, size_t start, size_t count);

// The two halves of a supplementary value (10000..10FFFF hex).
// The continuation-byte count and the value bits of a lead byte of one to four
// bytes; false for continuation bytes and the 5- and 6-byte leads (F8..FD),
// whose values lie beyond what 16-bit text can carry.
inline bool Utf8Lead(uint8_t lead, size_t& extra, uint32_t& bits) {
    if (lead >= 0xC0 && lead <= 0xDF) {
        extra = 1, bits = lead ^ 0xC0u;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, bits = lead ^ 0xE0u;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        extra = 3, bits = lead ^ 0xF0u;
    } else {
        return false;
    }
    return true;
}

inline char16_t HighSurrogateOf(uint32_t value) {
    return static_cast<char16_t>(0xD800 | ((((value >> 16) - 1) & 0x0F) << 6) |
                                 ((value >> 10) & 0x3F));
}
inline char16_t LowSurrogateOf(uint32_t value) {
    return static_cast<char16_t>(0xDC00 | (value & 0x3FF));
}

}  // namespace ql
