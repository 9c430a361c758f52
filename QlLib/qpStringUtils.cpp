#include "QlLib/qpStringUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cwctype>
#include <limits>

#include "QlLib/qpExceptions.h"

namespace ql {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        int extra = 0;
        uint32_t c = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= text.size() || (static_cast<uint8_t>(text[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<uint8_t>(text[j]) & 0x3F);
        }
        if (!ok || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            // A broken sequence ends before the byte that broke it, which is
            // scanned again as a lead byte.
            i = j;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i = j;
    }
    return out;
}

std::u16string Widen(std::string_view latin1) {
    std::u16string out;
    out.reserve(latin1.size());
    for (char ch : latin1) out += static_cast<char16_t>(static_cast<uint8_t>(ch));
    return out;
}

char16_t LowerChar(char16_t c) {
    if (c < 128) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const wint_t lowered = std::towlower(static_cast<wint_t>(c));
    return lowered <= 0xFFFF ? static_cast<char16_t>(lowered) : c;
}

std::u16string LowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = LowerChar(c);
    return out;
}

bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

namespace {
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

template <class T>
std::optional<T> ParseDecimal(std::u16string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size()) return std::nullopt;
    // Accumulate as a negative number so that the minimum value fits.
    T value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < u'0' || c > u'9') return std::nullopt;
        const T digit = static_cast<T>(c - u'0');
        if (value < (std::numeric_limits<T>::min() + digit) / 10) return std::nullopt;
        value = static_cast<T>(value * 10 - digit);
    }
    if (!negative) {
        if (value == std::numeric_limits<T>::min()) return std::nullopt;
        value = static_cast<T>(-value);
    }
    return value;
}
}  // namespace

std::u16string TrimBlanks(std::u16string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return std::u16string(text.substr(b, e - b));
}

std::u16string TrimTrailingBlanks(std::u16string_view text) {
    size_t e = text.size();
    while (e > 0 && IsBlank(text[e - 1])) --e;
    return std::u16string(text.substr(0, e));
}

std::optional<int32_t> TryStrToInt(std::u16string_view text) {
    return ParseDecimal<int32_t>(text);
}
std::optional<int64_t> TryStrToInt64(std::u16string_view text) {
    return ParseDecimal<int64_t>(text);
}
int32_t StrToIntDef(std::u16string_view text, int32_t defaultValue) {
    return TryStrToInt(text).value_or(defaultValue);
}
int64_t StrToInt64Def(std::u16string_view text, int64_t defaultValue) {
    return TryStrToInt64(text).value_or(defaultValue);
}
int32_t StrToInt(std::u16string_view text) {
    if (auto value = TryStrToInt(text)) return *value;
    throw EConvertError(ToUtf8(text));
}

std::optional<double> TryStrToFloat(std::u16string_view text) {
    // Accept [sign] digits [. digits] [e [sign] digits] with at least one digit in
    // the mantissa; strtod alone would also take "nan", "inf" and hex floats.
    std::string ascii;
    size_t i = 0;
    auto take = [&](auto pred) {
        size_t start = i;
        while (i < text.size() && pred(text[i])) ascii += static_cast<char>(text[i++]);
        return i - start;
    };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) ascii += static_cast<char>(text[i++]);
    size_t digits = take(isDigit);
    if (i < text.size() && text[i] == u'.') {
        ascii += '.';
        ++i;
        digits += take(isDigit);
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) ascii += static_cast<char>(text[i++]);
        if (take(isDigit) == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    // from_chars ignores the locale and refuses a leading plus.
    const char* first = ascii.c_str();
    if (*first == '+') ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, ascii.c_str() + ascii.size(), value);
    if (error != std::errc() || end != ascii.c_str() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double StrToFloatDef(std::u16string_view text, double defaultValue) {
    return TryStrToFloat(text).value_or(defaultValue);
}

std::u16string IntToStr(int64_t value) { return Widen(std::to_string(value)); }

}  // namespace ql
