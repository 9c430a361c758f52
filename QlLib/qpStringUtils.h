// String helpers: 16-bit text is std::u16string, 8-bit text std::string.
// Conversions to and from the operating system's UTF-8 happen only at its boundary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ql {

// Lenient conversions for the OS boundary: surrogate pairs combine, unpaired
// surrogates and malformed bytes become U+FFFD. (The strict per-unit UTF-8 codec
// of text files is qlUTF8.)
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Widens 8-bit text byte by byte (ASCII and Latin-1 literals).
std::u16string Widen(std::string_view latin1);

// Lower-cases for name comparison: codes below 128 through a fixed table, the
// rest through the platform's lower-casing.
char16_t LowerChar(char16_t c);
std::u16string LowerCase(std::u16string_view text);
bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b);

// Strips tabs and spaces (codes 9 and 32) at both ends or at the end only.
std::u16string TrimBlanks(std::u16string_view text);
std::u16string TrimTrailingBlanks(std::u16string_view text);

// Plain decimal integers only: an optional sign followed by digits and nothing
// else, within the type's range. Hexadecimal, blanks and empty text are refused.
std::optional<int32_t> TryStrToInt(std::u16string_view text);
std::optional<int64_t> TryStrToInt64(std::u16string_view text);
int32_t StrToIntDef(std::u16string_view text, int32_t defaultValue);
int64_t StrToInt64Def(std::u16string_view text, int64_t defaultValue);
// Raises EConvertError for text that is not a valid integer.
int32_t StrToInt(std::u16string_view text);

// Real numbers with a full stop as the decimal separator and an optional
// exponent. NaN, infinities and values that overflow a double are refused, since
// they would end up as show times.
std::optional<double> TryStrToFloat(std::u16string_view text);
double StrToFloatDef(std::u16string_view text, double defaultValue);

std::u16string IntToStr(int64_t value);

}  // namespace ql
