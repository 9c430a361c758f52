// Reads the first object block of an arbitrary document as an image and a text
// would: the border and animation keys, the picture geometry for a few picture
// sizes, the frame at a few times and the text's names. Whatever the block
// holds, the source rectangle stays inside the picture, the frame inside the
// sheet, and a picture name reads back to the lines it was made from.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"
#include "OrbLib2/OrbClasses/qlOrbTextNames.h"
#include "QlLib/qlIniStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::TIniFile document;
    ql::TMemoryStream stream;
    stream.Write(data, size);
    stream.SetPosition(0);
    try {
        document.LoadFromStream(stream);
    } catch (const std::exception&) {
        return 0;
    }
    const std::vector<std::u16string> sections = document.SectionNames();
    if (sections.empty()) return 0;
    const ql::TIniObject* block = document.FindSection(sections.front())->FirstObject();
    if (!block) return 0;

    const orb::TBorderParams border = orb::ReadBorderParams(*block);
    const orb::TImageAnimationParams anim = orb::ReadAnimationParams(*block);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{4000, 3000}, std::pair{65535, 7}}) {
        const orb::TImageGeometry g = orb::ComputeImageGeometry(w, h, border);
        const ql::TRect& s = g.Source;
        if (s.left < 0 || s.top < 0 || s.right > w || s.bottom > h || s.IsEmpty()) __builtin_trap();
        if (g.Width < s.Width() || g.Height < s.Height()) __builtin_trap();
        for (double t : {-5.0, 0.0, 123.0, 1e6, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
            const int32_t frame = orb::AnimationFrameAt(anim, t);
            if (frame < 0 || frame >= std::max(anim.FrameCount, 1)) __builtin_trap();
            const ql::TRect cell = orb::AnimationFrameRect(w, h, anim, frame);
            if (cell.left < 0 || cell.top < 0 || cell.right > w || cell.bottom > h) __builtin_trap();
        }
        if (orb::LevelOfDetail(w, h, 1, 1) > 31) __builtin_trap();
    }

    orb::TTextPictureRequest request;
    request.Lines = orb::SplitTextLines(block->ReadString(u"Text", u"")).Lines;
    request.Params.FontName = block->ReadString(u"FontName", u"");
    request.Params.Style = orb::ParseFontStyle(block->ReadString(u"FontStyle", u""));
    request.Params.Alignment = orb::ParseTextAlign(block->ReadString(u"TextAlign", u""));
    request.Params.LineSpacing = block->ReadInteger(u"LineSpacing", 0);
    if (auto colour = orb::ParseRgbColor(block->ReadString(u"TextColor", u"255,255,255"))) request.Params.Color = *colour;
    request.Scale = orb::RasterScale(block->ReadReal(u"ScaleX", 1), 480, 300, block->ReadReal(u"Height", 40));
    const std::u16string name = orb::TextPictureName(request);
    // Only the lines may hold colons: a font name with one does not read back.
    if (request.Params.FontName.find(u':') == std::u16string::npos) {
        auto parsed = orb::ParseTextPictureName(name);
        if (!parsed || parsed->Lines != request.Lines || parsed->Params.Style != request.Params.Style) __builtin_trap();
    }
    orb::ParseTextPictureName(block->ReadString(u"Text", u""));
    orb::VectorTextName(request.Params.FontName, request.Params.Style, request.Lines);
    return 0;
}
