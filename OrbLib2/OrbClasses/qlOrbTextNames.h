// The texts of text objects as names: splitting the "Text" value into lines,
// the "Text: " name under which the rendered picture is stored (equal texts
// share one picture, and the picture maker reads the parameters back from the
// name), the "VectTxt2: " name of a text's stored outlines in the package, and
// the scale at which a text is rasterized.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

inline constexpr char16_t kTextPicturePrefix[] = u"Text: ";
inline constexpr char16_t kVectorTextPrefix[] = u"VectTxt2: ";
inline constexpr char16_t kVectorTextCachePrefix[] = u"VectTextCache: ";

// Style bits of "FontStyle".
enum : uint8_t {
    kFontBold = 1,
    kFontItalic = 2,
    kFontUnderline = 4,
    kFontStrikeOut = 8,
};

inline constexpr int32_t kAlignLeft = 0;
inline constexpr int32_t kAlignCenter = 1;
inline constexpr int32_t kAlignRight = 2;

// Rasterized text pictures are kept below these sides and this pixel count:
// the scale is halved until the text fits.
inline constexpr double kMaxRasterSide = 30000;
inline constexpr double kMaxRasterPixels = 10000000;

struct TTextParams {
    std::u16string FontName;
    uint8_t Style = 0;
    int32_t Alignment = kAlignCenter;
    int32_t LineSpacing = 0;         // percent of the line height
    uint32_t Color = 0xFFFFFFFF;     // 0xAARRGGBB, alpha 255
    friend bool operator==(const TTextParams&, const TTextParams&) = default;
};

struct TTextLines {
    std::vector<std::u16string> Lines;
    bool WasEmpty = false;  // the value was empty and became one blank
};

// Splits a "Text" value: surrounding double quotes removed (values longer than
// one character that start and end with one), "^&" ends a line, any other "^"
// stays with the character after it; an empty value becomes " ". Text after the
// last "^&" makes a line only when it is not empty.
TTextLines SplitTextLines(std::u16string_view value);

// "Bold", "Italic", "Underline", "StrikeOut" in exact case, comma-separated; at
// most four items are looked at, unknown ones are ignored.
uint8_t ParseFontStyle(std::u16string_view text);
// "Left", "Center", "Right" in any case; anything else is centred.
int32_t ParseTextAlign(std::u16string_view text);
// "r,g,b" (each clamped to 0..255) or one decimal Windows colour value (red in
// the low byte), as an opaque 0xAARRGGBB; nullopt for any other form.
std::optional<uint32_t> ParseRgbColor(std::u16string_view text);

// The set style names in the order Bold, Italic, Underline, StrikeOut, joined by ",".
std::u16string StyleNames(uint8_t style);
// Fixed notation with the given decimals, then trailing zeros and a trailing "."
// removed: 2.000000 is "2", 0.250000 is "0.25". Minus zero and values that are
// not numbers are "0", so that equal texts get equal names.
std::u16string TrimmedFixed(double value, int decimals);
// Each line in double quotes, joined by "^&".
std::u16string QuotedLines(const std::vector<std::u16string>& lines);

// What a "Text: " name asks for.
struct TTextPictureRequest {
    TTextParams Params;
    double Scale = 1;
    double OffsetX = 0, OffsetY = 0;  // sub-pixel position, 0 to 1
    std::vector<std::u16string> Lines;
};

std::u16string TextPictureName(const TTextPictureRequest& request);
// nullopt when the name is not one that TextPictureName makes.
std::optional<TTextPictureRequest> ParseTextPictureName(std::u16string_view name);

// Marks letter case for a lookup that ignores it: runs of characters that
// change under lower-casing are enclosed in "<" ">", literal "<" and ">" are
// doubled.
std::u16string MarkLetterCase(std::u16string_view line);
// "VectTxt2: " font ":" styles ":" the case-marked quoted lines.
std::u16string VectorTextName(const std::u16string& fontName, uint8_t style,
                              const std::vector<std::u16string>& lines);
// The package entry of a font's stored glyphs.
std::u16string VectorTextCacheName(const std::u16string& fontName);

// The raster scale of a text: the largest key-point scale (as a factor) times
// the required display height of the parent, divided by the laid-out height,
// then halved until the picture fits the limits above. 1 when the laid-out
// size is not a positive finite size.
double RasterScale(double largestScale, double parentRequiredHeight, double laidOutWidth,
                   double laidOutHeight);
// Halves scale until width and height times it stay within the limits.
double LimitRasterScale(double scale, double laidOutWidth, double laidOutHeight);

}  // namespace orb
