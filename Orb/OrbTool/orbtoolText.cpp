// orbtool text and mask: render a text (and its shadow) or a preset mask with
// the player's own producers and write it as PNG.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/MaskGenerator.h"
#include "OrbLib2/ShadowGenerator2.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;
using tool::kExitError;

const char kTextHelp[] =
    "usage: orbtool text TEXT [--font NAME] [--size PX] [--bold] [--italic]\n"
    "                         [--color AARRGGBB] [--shadow BLUR,OFFSETX,OFFSETY,OPACITY] -o "
    "OUT.png\n"
    "Renders TEXT (lines split at \"\\n\") with the text producer from an installed\n"
    "font (DejaVu Sans when the font is missing), under it its soft shadow when\n"
    "asked, writes the picture as PNG and prints its size as WIDTHxHEIGHT.\n";

const char kMaskHelp[] =
    "usage: orbtool mask ellipse|roundrect --size WxH [--softness N] [--corner N] -o OUT.png\n"
    "Writes a preset mask (white = opaque) as PNG and prints its cache key.\n"
    "Softness and corner size are percent (defaults 20 and 20).\n";

void WritePng(const ql::TBitmap& bitmap, const std::string& name) {
    ql::SavePng(bitmap, ql::FromUtf8(name));
}

bool ParseFloat(const std::string& text, float& value) {
    const auto parsed = ql::TryStrToFloat(ql::FromUtf8(text));
    if (!parsed || !std::isfinite(*parsed)) return false;
    value = static_cast<float>(*parsed);
    return true;
}

std::vector<std::u16string> SplitLines(const std::string& text) {
    std::vector<std::u16string> lines(1);
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool escaped = text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n';
        if (text[i] == '\n' || escaped) {
            lines.back() = ql::FromUtf8(line);
            lines.emplace_back();
            line.clear();
            if (escaped) ++i;
        } else {
            line += text[i];
        }
    }
    lines.back() = ql::FromUtf8(line);
    return lines;
}

// The picture drawn over the shadow placed at (dx, dy) from it, on a canvas
// that holds both. The shadow comes back enlarged by its halvings.
std::unique_ptr<ql::TBitmap> WithShadow(const ql::TBitmap& picture, const TShadowPicture& shadow,
                                        int32_t dx, int32_t dy) {
    const ql::TBitmap& s = *shadow.Bitmap;
    const int32_t factor = 1 << shadow.Halvings;
    const int32_t sw = s.Width() * factor, sh = s.Height() * factor;
    const int32_t sx = dx - (sw - picture.Width()) / 2, sy = dy - (sh - picture.Height()) / 2;
    const int32_t left = std::min(0, sx), top = std::min(0, sy);
    const int32_t right = std::max(picture.Width(), sx + sw),
                  bottom = std::max(picture.Height(), sy + sh);
    auto canvas = std::make_unique<ql::TDirectBitmap>(right - left, bottom - top, ql::PfARGB32());
    canvas->FillRect(canvas->Bounds(), 0);
    auto put = [&](const ql::TBitmap& layer, int32_t ox, int32_t oy, int32_t scale) {
        for (int32_t y = 0; y < layer.Height() * scale; ++y) {
            const uint8_t* src = layer.Row(y / scale);
            uint8_t* dst = canvas->Row(y + oy - top);
            for (int32_t x = 0; x < layer.Width() * scale; ++x) {
                const uint8_t* p = src + size_t(x / scale) * 4;
                ql::BlendPixel(dst + size_t(x + ox - left) * 4,
                               uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                   uint32_t(p[3]) << 24);
            }
        }
    };
    put(s, sx, sy, factor);
    put(picture, 0, 0, 1);
    return canvas;
}

int Text(const std::vector<std::string>& args) {
    std::string text, font = "Arial", outName, shadowText;
    float size = 48;
    bool bold = false, italic = false, haveText = false;
    uint32_t colour = 0xFF000000;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::fputs(kTextHelp, stdout);
            return 0;
        } else if (a == "--font" && hasValue) {
            font = args[++i];
        } else if (a == "--size" && hasValue) {
            if (!ParseFloat(args[++i], size) || size <= 0 || size > 2000)
                return Fail("orbtool text: bad --size");
        } else if (a == "--bold") {
            bold = true;
        } else if (a == "--italic") {
            italic = true;
        } else if (a == "--color" && hasValue) {
            const std::string& value = args[++i];
            char* end = nullptr;
            const unsigned long parsed = std::strtoul(value.c_str(), &end, 16);
            if (value.size() != 8 || *end)
                return Fail("orbtool text: --color wants AARRGGBB in hex");
            colour = static_cast<uint32_t>(parsed);
        } else if (a == "--shadow" && hasValue) {
            shadowText = args[++i];
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else if (!haveText && (a.empty() || a[0] != '-')) {
            text = a;
            haveText = true;
        } else {
            return Fail("orbtool text: bad usage (try orbtool text --help)");
        }
    }
    if (!haveText || outName.empty())
        return Fail("orbtool text: bad usage (try orbtool text --help)");

    float shadow[4] = {0, 0, 0, 0};
    if (!shadowText.empty()) {
        size_t start = 0;
        for (int k = 0; k < 4; ++k) {
            const size_t comma = shadowText.find(',', start);
            if ((k < 3) == (comma == std::string::npos) ||
                !ParseFloat(shadowText.substr(start, comma == std::string::npos ? std::string::npos
                                                                                : comma - start),
                            shadow[k]))
                return Fail("orbtool text: --shadow wants BLUR,OFFSETX,OFFSETY,OPACITY");
            start = comma + 1;
        }
        if (shadow[0] < 0 || shadow[0] > 1000)
            return Fail("orbtool text: shadow blur out of range");
    }

    ql::TTextProducer producer;
    producer.SetText(std::make_unique<ql::TSimpleVectorText>(SplitLines(text), ql::FromUtf8(font),
                                                             size, bold, italic));
    std::unique_ptr<ql::TBitmap> picture =
        producer.Render(colour, colour & 0x00FFFFFF, {0, 0}, false, false, 1);
    if (!shadowText.empty()) {
        TShadowParams params;
        params.PictureKey = u"Text";
        params.ObjectRect = picture->Bounds();
        params.BlurSize = shadow[0];
        params.Opacity = shadow[3];
        params.Colour = 0;
        const TShadowPicture made = TShadowGenerator().Generate(params, picture.get());
        if (!made.Bitmap) return Fail("orbtool text: the shadow was not made");
        picture = WithShadow(*picture, made, int32_t(std::lround(shadow[1])),
                             int32_t(std::lround(shadow[2])));
    }
    WritePng(*picture, outName);
    std::printf("%dx%d\n", picture->Width(), picture->Height());
    return 0;
}

int Mask(const std::vector<std::string>& args) {
    TMaskParams params;
    params.Softness = 20;
    params.Corner = 20;
    std::string outName;
    bool haveKind = false, haveSize = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::fputs(kMaskHelp, stdout);
            return 0;
        } else if (a == "--size" && hasValue) {
            const std::string& value = args[++i];
            const size_t x = value.find('x');
            const auto w = ql::TryStrToInt(ql::FromUtf8(value.substr(0, x)));
            const auto h = x == std::string::npos
                               ? std::nullopt
                               : ql::TryStrToInt(ql::FromUtf8(value.substr(x + 1)));
            if (!w || !h || *w < 1 || *h < 1 || *w > 20000 || *h > 20000)
                return Fail("orbtool mask: --size wants WxH, each 1 to 20000");
            params.Width = *w;
            params.Height = *h;
            haveSize = true;
        } else if (a == "--softness" && hasValue) {
            if (!ParseFloat(args[++i], params.Softness))
                return Fail("orbtool mask: bad --softness");
        } else if (a == "--corner" && hasValue) {
            if (!ParseFloat(args[++i], params.Corner)) return Fail("orbtool mask: bad --corner");
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else if (!haveKind && (a == "ellipse" || a == "roundrect")) {
            params.Shape = a == "ellipse" ? msEllipse : msRoundedRect;
            haveKind = true;
        } else {
            return Fail("orbtool mask: bad usage (try orbtool mask --help)");
        }
    }
    if (!haveKind || !haveSize || outName.empty())
        return Fail("orbtool mask: bad usage (try orbtool mask --help)");
    std::unique_ptr<ql::TBitmap> mask = TMaskGenerator().Generate(params);
    if (!mask) return Fail("orbtool mask: the mask was not made");
    WritePng(*mask, outName);
    std::printf("%s\n", ql::ToUtf8(MaskParamsText(params)).c_str());
    return 0;
}

}  // namespace

int RunText(const std::vector<std::string>& args) {
    return tool::Guarded(Text, args);
}
int RunMask(const std::vector<std::string>& args) {
    return tool::Guarded(Mask, args);
}

}  // namespace orb
