#include "OrbLib2/OrbClasses/qlOrbTextNames.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr std::array<std::u16string_view, 4> kStyleNames{u"Bold", u"Italic", u"Underline", u"StrikeOut"};
constexpr std::u16string_view kLineBreak = u"^&";
constexpr std::u16string_view kQuotedBreak = u"\"^&\"";
// Fields of a "Text: " name between the font and the lines.
constexpr size_t kNumberFields = 10;

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<int32_t> ByteField(std::u16string_view text) {
    auto value = ql::TryStrToInt(text);
    if (!value || *value < 0 || *value > 255) return std::nullopt;
    return *value;
}

}  // namespace

TTextLines SplitTextLines(std::u16string_view value) {
    TTextLines result;
    if (value.size() > 1 && value.front() == u'"' && value.back() == u'"') {
        value = value.substr(1, value.size() - 2);
    }
    if (value.empty()) {
        result.WasEmpty = true;
        result.Lines.push_back(u" ");
        return result;
    }
    std::u16string line;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == u'^' && i + 1 < value.size()) {
            if (value[i + 1] == u'&') {
                result.Lines.push_back(std::move(line));
                line.clear();
            } else {
                line += value[i];
                line += value[i + 1];
            }
            ++i;
        } else {
            line += value[i];
        }
    }
    if (!line.empty() || result.Lines.empty()) result.Lines.push_back(std::move(line));
    return result;
}

uint8_t ParseFontStyle(std::u16string_view text) {
    uint8_t style = 0;
    size_t start = 0;
    for (int item = 0; item < 4 && start <= text.size(); ++item) {
        size_t comma = text.find(u',', start);
        std::u16string name = ql::TrimBlanks(
            text.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start));
        for (size_t bit = 0; bit < kStyleNames.size(); ++bit) {
            if (name == kStyleNames[bit]) style |= uint8_t(1u << bit);
        }
        if (comma == std::u16string_view::npos) break;
        start = comma + 1;
    }
    return style;
}

int32_t ParseTextAlign(std::u16string_view text) {
    const std::u16string trimmed = ql::TrimBlanks(text);
    if (ql::SameTextIgnoringCase(trimmed, u"Left")) return kAlignLeft;
    if (ql::SameTextIgnoringCase(trimmed, u"Right")) return kAlignRight;
    return kAlignCenter;
}

std::optional<uint32_t> ParseRgbColor(std::u16string_view text) {
    auto values = ParseNumberList(text, 3);
    if (!values) return std::nullopt;
    uint32_t r, g, b;
    if (values->size() == 1) {
        auto windows = ql::TryStrToInt(ql::TrimBlanks(text));
        if (!windows) return std::nullopt;
        const auto bits = uint32_t(*windows);
        r = bits & 0xFF;
        g = (bits >> 8) & 0xFF;
        b = (bits >> 16) & 0xFF;
    } else if (values->size() == 3) {
        auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 255.0))); };
        r = byte((*values)[0]);
        g = byte((*values)[1]);
        b = byte((*values)[2]);
    } else {
        return std::nullopt;
    }
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

std::u16string StyleNames(uint8_t style) {
    std::u16string names;
    for (size_t bit = 0; bit < kStyleNames.size(); ++bit) {
        if (!(style & (1u << bit))) continue;
        if (!names.empty()) names += u',';
        names += kStyleNames[bit];
    }
    return names;
}

std::u16string TrimmedFixed(double value, int decimals) {
    if (!std::isfinite(value)) return u"0";
    // Enough for the largest double in fixed notation.
    char buffer[400];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed,
                                      std::clamp(decimals, 0, 17));
    if (error != std::errc()) return u"0";
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return ql::Widen(text);
}

std::u16string QuotedLines(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += kLineBreak;
        text += u'"';
        text += lines[i];
        text += u'"';
    }
    return text;
}

std::u16string TextPictureName(const TTextPictureRequest& request) {
    const TTextParams& p = request.Params;
    std::u16string name = kTextPicturePrefix;
    name += p.FontName;
    for (const std::u16string& field :
         {TrimmedFixed(request.Scale, 6), TrimmedFixed(request.OffsetX, 6), TrimmedFixed(request.OffsetY, 6),
          StyleNames(p.Style), ql::IntToStr(p.Alignment), TrimmedFixed(p.LineSpacing, 2),
          // The colour's bytes as memory holds them: blue, green, red, alpha.
          ql::IntToStr(p.Color & 0xFF), ql::IntToStr((p.Color >> 8) & 0xFF), ql::IntToStr((p.Color >> 16) & 0xFF),
          ql::IntToStr(p.Color >> 24)}) {
        name += u':';
        name += field;
    }
    name += u':';
    name += QuotedLines(request.Lines);
    return name;
}

std::optional<TTextPictureRequest> ParseTextPictureName(std::u16string_view name) {
    if (!StartsWith(name, kTextPicturePrefix)) return std::nullopt;
    name.remove_prefix(std::u16string_view(kTextPicturePrefix).size());
    // The font comes first and the lines last; only the lines may hold colons.
    std::vector<std::u16string_view> fields;
    for (size_t i = 0; i <= kNumberFields; ++i) {
        size_t colon = name.find(u':');
        if (colon == std::u16string_view::npos) return std::nullopt;
        fields.push_back(name.substr(0, colon));
        name.remove_prefix(colon + 1);
    }
    if (name.size() < 2 || name.front() != u'"' || name.back() != u'"') return std::nullopt;

    TTextPictureRequest request;
    TTextParams& p = request.Params;
    p.FontName = std::u16string(fields[0]);
    auto scale = ql::TryStrToFloat(fields[1]);
    auto offsetX = ql::TryStrToFloat(fields[2]);
    auto offsetY = ql::TryStrToFloat(fields[3]);
    auto alignment = ql::TryStrToInt(fields[5]);
    auto spacing = ql::TryStrToFloat(fields[6]);
    auto blue = ByteField(fields[7]);
    auto green = ByteField(fields[8]);
    auto red = ByteField(fields[9]);
    auto alpha = ByteField(fields[10]);
    if (!scale || !offsetX || !offsetY || !alignment || !spacing || !blue || !green || !red || !alpha) {
        return std::nullopt;
    }
    request.Scale = *scale;
    request.OffsetX = *offsetX;
    request.OffsetY = *offsetY;
    p.Style = ParseFontStyle(fields[4]);
    if (StyleNames(p.Style) != fields[4]) return std::nullopt;
    p.Alignment = std::clamp(*alignment, kAlignLeft, kAlignRight);
    p.LineSpacing = int32_t(std::clamp(std::round(*spacing), -1e6, 1e6));
    p.Color = uint32_t(*alpha) << 24 | uint32_t(*red) << 16 | uint32_t(*green) << 8 | uint32_t(*blue);

    // A line cannot hold the quoted break: "^&" always ends a line.
    std::u16string_view inner = name.substr(1, name.size() - 2);
    while (true) {
        size_t pos = inner.find(kQuotedBreak);
        request.Lines.emplace_back(inner.substr(0, pos));
        if (pos == std::u16string_view::npos) break;
        inner.remove_prefix(pos + kQuotedBreak.size());
    }
    return request;
}

std::u16string MarkLetterCase(std::u16string_view line) {
    std::u16string marked;
    marked.reserve(line.size() + 8);
    bool inRun = false;
    for (char16_t c : line) {
        if (ql::LowerChar(c) != c) {
            if (!inRun) marked += u'<';
            inRun = true;
            marked += c;
            continue;
        }
        if (inRun) marked += u'>';
        inRun = false;
        if (c == u'<' || c == u'>') marked += c;
        marked += c;
    }
    if (inRun) marked += u'>';
    return marked;
}

std::u16string VectorTextName(const std::u16string& fontName, uint8_t style,
                              const std::vector<std::u16string>& lines) {
    std::vector<std::u16string> marked;
    marked.reserve(lines.size());
    for (const auto& line : lines) marked.push_back(MarkLetterCase(line));
    return std::u16string(kVectorTextPrefix) + fontName + u':' + StyleNames(style) + u':' + QuotedLines(marked);
}

std::u16string VectorTextCacheName(const std::u16string& fontName) {
    return std::u16string(kVectorTextCachePrefix) + fontName;
}

double LimitRasterScale(double scale, double laidOutWidth, double laidOutHeight) {
    if (!std::isfinite(scale) || scale <= 0 || !std::isfinite(laidOutWidth) || !std::isfinite(laidOutHeight)) {
        return scale;
    }
    const double w = std::abs(laidOutWidth), h = std::abs(laidOutHeight);
    // Each halving shrinks the products, so this ends; the bound is a guard.
    for (int i = 0; i < 2100; ++i) {
        if (w * scale <= kMaxRasterSide && h * scale <= kMaxRasterSide &&
            w * h * scale * scale <= kMaxRasterPixels) {
            break;
        }
        scale /= 2;
    }
    return scale;
}

double RasterScale(double largestScale, double parentRequiredHeight, double laidOutWidth,
                   double laidOutHeight) {
    if (!(laidOutHeight > 0) || !std::isfinite(laidOutHeight) || !std::isfinite(laidOutWidth)) return 1;
    double scale = largestScale * parentRequiredHeight / laidOutHeight;
    if (!std::isfinite(scale) || scale <= 0) return 1;
    return LimitRasterScale(scale, laidOutWidth, laidOutHeight);
}

}  // namespace orb
