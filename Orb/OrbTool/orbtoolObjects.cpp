// orbtool objects and hit: where the objects of a show lie on the screen at a
// show time, and which one a screen point falls on.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolShowAt.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/OrbViewPort.h"
#include "OrbLib2/OrbClasses/qlOrbBox.h"
#include "OrbLib2/OrbClasses/qlOrbButton.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kObjectsHelp[] =
    "usage: orbtool objects SHOW --time T [--size WxH] [--seed N] [--cover]\n"
    "                       [--mouse X,Y[,down]]\n"
    "Prints one JSON object per line for every object shown at show time T (ms)\n"
    "on a WxH screen (default 1920x1080), outgoing slide first, each slide's\n"
    "objects in drawing order:\n"
    "  \"slide\"    the slide index (cycles and the pre-show slide -1 included)\n"
    "  \"path\"     child indices from the slide root, e.g. \"0/2/1\"\n"
    "  \"kind\"     the block type (\"image\", \"mainimage\", \"text\", ...)\n"
    "  \"state\"    \"normal\", \"hover\" or \"click\"\n"
    "  \"opacity\"  0..100\n"
    "  \"corners\"  [[x,y] x4]: top-left, top-right, bottom-right, bottom-left of the\n"
    "             object's rectangle in screen pixels\n"
    "  \"source\"   [l,t,r,b] of the picture shown (the object's own rectangle for\n"
    "             objects without a picture)\n"
    "  \"frame\"    the animation frame; \"lod\" the level of detail\n"
    "  \"text\"     for texts and button captions: the lines after macro\n"
    "             replacement, joined by \\n\n"
    "  \"theme\", \"face\"  for buttons: the theme folder used (empty when none)\n"
    "             and the name of the face picture shown\n"
    "  \"style\", \"colours\"  for boxes and frames: the drawer's fill type and the\n"
    "             four corner colours as AARRGGBB, top-left first and clockwise,\n"
    "             before the opacity\n"
    "  \"draws\", \"masks\"  for view ports: whether it draws now and the effective\n"
    "             opacity of each of its masks in child order\n"
    "  \"maskopacity\"  for masks: the effective opacity (its view port's included)\n"
    "  \"position\", \"videoframe\", \"exact\", \"pixelaspect\", \"failure\"  for videos:\n"
    "             the position in the file (ms), the frame shown for it, whether it\n"
    "             is exactly the frame of the position, the pixel aspect and the\n"
    "             failure code (0 none, 1 not decodable, 2 no video stream)\n"
    "--seed fixes the random choices (transitions, slide order); --cover lays the\n"
    "slides out covering the screen instead of fitting inside it. --mouse moves\n"
    "the mouse to screen point X,Y (or presses the left button there, with\n"
    "\"down\") before the objects are printed, so hover and click looks show.\n";

const char kHitHelp[] =
    "usage: orbtool hit SHOW --time T --at X,Y [--size WxH] [--seed N] [--cover]\n"
    "Prints the path (as orbtool objects writes it) of the topmost object that a\n"
    "click at screen point X,Y falls on at show time T, and exits 0; prints\n"
    "nothing and exits 1 when there is none. Objects that let clicks through are\n"
    "skipped.\n";

// Up to three decimals, no trailing zeros.
std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    std::string text = buffer;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

std::string JsonString(const std::u16string& text) {
    std::string out = "\"";
    for (unsigned char c : ql::ToUtf8(text)) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

std::string PathOf(const TOrbObject& object) {
    std::string path;
    for (const TOrbObject* o = &object; o->Parent(); o = o->Parent())
        path = std::to_string(o->IndexInParent()) + (path.empty() ? "" : "/" + path);
    return path;
}

std::string KindOf(const TOrbObject& object) {
    if (const auto* image = dynamic_cast<const TOrbImage*>(&object))
        return ql::ToUtf8(image->BlockType());
    if (const auto* box = dynamic_cast<const TOrbBox*>(&object))
        return ql::ToUtf8(box->BlockType());
    if (const auto* video = dynamic_cast<const TOrbVideo*>(&object))
        return ql::ToUtf8(video->BlockType());
    std::string name = object.ClassName();
    if (name.rfind("TOrb", 0) == 0) name = name.substr(4);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

const char* LookName(TMouseLook look) {
    switch (look) {
        case TMouseLook::Hover:
            return "hover";
        case TMouseLook::Click:
            return "click";
        default:
            return "normal";
    }
}

const char* StateOf(const TOrbObject& object) {
    if (const auto* text = dynamic_cast<const TOrbText*>(&object))
        return LookName(text->MouseLook());
    if (const auto* button = dynamic_cast<const TOrbButton*>(&object))
        return LookName(button->MouseLook());
    return "normal";
}

std::string JoinedLines(const TOrbText& text) {
    std::u16string joined;
    for (const std::u16string& l : text.ReplacedLines())
        joined += (joined.empty() ? u"" : u"\n") + l;
    return JsonString(joined);
}

std::string ObjectLine(int64_t slideIndex, const TOrbObject& object) {
    std::string line =
        "{\"slide\":" + std::to_string(slideIndex) + ",\"path\":\"" + PathOf(object) + "\"";
    line += ",\"kind\":\"" + KindOf(object) + "\",\"state\":\"" + StateOf(object) + "\"";
    line += ",\"opacity\":" + Number(std::round(object.EffectiveOpacity() * 100) / 100);
    line += ",\"corners\":[";
    const auto corners = object.ScreenCorners();
    for (size_t i = 0; i < corners.size(); ++i)
        line += (i ? ",[" : "[") + Number(corners[i].x) + "," + Number(corners[i].y) + "]";
    line += "]";
    ql::TRect source{0, 0, object.Width(), object.Height()};
    int32_t frame = 0, lod = 0;
    const auto* image = dynamic_cast<const TOrbImage*>(&object);
    if (image) {
        source = image->SourceRect();
        frame = image->CurrentFrame();
        lod = image->LevelOfDetail();
    }
    line += ",\"source\":[" + std::to_string(source.left) + "," + std::to_string(source.top) + "," +
            std::to_string(source.right) + "," + std::to_string(source.bottom) + "]";
    line += ",\"frame\":" + std::to_string(frame) + ",\"lod\":" + std::to_string(lod);
    if (const auto* text = dynamic_cast<const TOrbText*>(&object))
        line += ",\"text\":" + JoinedLines(*text);
    if (const auto* button = dynamic_cast<const TOrbButton*>(&object)) {
        line += ",\"text\":" + JoinedLines(button->Caption());
        line += ",\"theme\":" + JsonString(button->ThemeFolder());
        line += ",\"face\":" + JsonString(button->FacePictureName(button->MouseLook()));
    }
    if (const auto* box = dynamic_cast<const TOrbBox*>(&object)) {
        TBoxParams params = box->FillParams();
        params.opacity = 100;
        uint32_t corners[4];
        BoxCornerColours(params, corners);
        line += ",\"style\":" + std::to_string(params.fillType) + ",\"colours\":[";
        for (int i = 0; i < 4; ++i) {
            char colour[16];
            std::snprintf(colour, sizeof colour, "\"%08X\"", corners[i]);
            line += (i ? "," : "") + std::string(colour);
        }
        line += "]";
    }
    if (const auto* viewPort = dynamic_cast<const TOrbViewPort*>(&object)) {
        line +=
            std::string(",\"draws\":") + (viewPort->DrawsNow() ? "true" : "false") + ",\"masks\":[";
        for (size_t i = 0; i < viewPort->Masks().size(); ++i)
            line += (i ? "," : "") +
                    Number(std::round(viewPort->Masks()[i]->MaskOpacity() * 100) / 100);
        line += "]";
    }
    if (const auto* mask = dynamic_cast<const TOrbMask*>(&object))
        line += ",\"maskopacity\":" + Number(std::round(mask->MaskOpacity() * 100) / 100);
    if (const auto* video = dynamic_cast<const TOrbVideo*>(&object)) {
        line += ",\"position\":" + Number(std::round(video->Position() * 1000) / 1000);
        line += ",\"videoframe\":" + std::to_string(video->HeldFrame());
        line += std::string(",\"exact\":") + (video->HeldExact() ? "true" : "false");
        line += ",\"pixelaspect\":" + Number(std::round(video->PixelAspect() * 1e6) / 1e6);
        line += ",\"failure\":" + std::to_string(video->FailureCode());
    }
    return line + "}";
}

void PrintObjects(int64_t slideIndex, TOrbObject& parent) {
    for (int i = 0; i < parent.ChildCount(); ++i) {
        TOrbObject& child = parent.Child(i);
        // A video shows the exact frame of its position, as rendering does.
        if (auto* video = dynamic_cast<TOrbVideo*>(&child); video && child.IsShown())
            video->SyncFrame(true);
        if (child.IsShown()) std::printf("%s\n", ObjectLine(slideIndex, child).c_str());
        PrintObjects(slideIndex, child);
    }
}

}  // namespace

int RunObjects(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kObjectsHelp, stdout);
        return 0;
    }
    tool::TShowAtOptions options;
    const std::string error = tool::ParseShowAt(args, {}, options);
    if (!error.empty()) return Fail("orbtool objects: " + error);
    tool::TShowAt show;
    if (!show.Open(options, "orbtool objects")) return tool::kExitError;
    for (const auto& container : show.Containers())
        if (TOrbSlide* slide = container->Slide()) PrintObjects(container->Index(), *slide);
    return 0;
}

int RunHit(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kHitHelp, stdout);
        return 0;
    }
    tool::TShowAtOptions options;
    const std::string error = tool::ParseShowAt(args, {"--at"}, options);
    if (!error.empty()) return Fail("orbtool hit: " + error);
    if (options.Other.size() != 2) return Fail("orbtool hit: needs --at X,Y (try --help)");
    const std::string& at = options.Other[1];
    const size_t comma = at.find(',');
    const auto x =
        comma == std::string::npos ? std::nullopt : tool::ParseNumber(at.substr(0, comma));
    const auto y =
        comma == std::string::npos ? std::nullopt : tool::ParseNumber(at.substr(comma + 1));
    if (!x || !y) return Fail("orbtool hit: --at wants X,Y in screen pixels");
    tool::TShowAt show;
    if (!show.Open(options, "orbtool hit")) return tool::kExitError;
    // The incoming slide lies over the outgoing one.
    const auto& containers = show.Containers();
    for (auto it = containers.rbegin(); it != containers.rend(); ++it) {
        TOrbSlide* slide = (*it)->Slide();
        if (!slide) continue;
        if (TOrbObject* found = slide->FindAtSimple(float(*x), float(*y), true, nullptr)) {
            if (found == slide) continue;
            std::printf("%s\n", PathOf(*found).c_str());
            return 0;
        }
    }
    return 1;
}

}  // namespace orb
