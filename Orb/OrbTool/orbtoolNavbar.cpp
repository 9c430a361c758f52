// orbtool navbar: lay out and draw one navigation bar from its definition
// file alone, and print where everything went as JSON.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/NavPanel/qlNavBar.h"
#include "OrbLib2/NavPanel/qlNavPaint.h"
#include "OrbLib2/NavPanel/qlVideoNavBar.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kNavbarHelp[] =
    "usage: orbtool navbar BARFILE --width W [--height H] [--duration MS] [--time MS]\n"
    "       [--volume V] [--paused] [--buttons NAME,...] [--hue DEG] [--no-background] -o OUT.png\n"
    "Loads a navigation bar definition file (its pictures beside it), lays the bar\n"
    "out alone at width W (and height H), draws it into OUT.png and prints one JSON\n"
    "object: class, size, scale and disabled; for the button bar the column widths,\n"
    "row heights and button rectangles; for the video bar T0, T1, D1, the button x\n"
    "positions, the sound button x, the volume track, both knob centres, the time\n"
    "text and the long-format flag. --buttons picks the buttons (default: all).\n";

std::string Json(const std::u16string& text) {
    std::string out = "\"";
    for (char c : ql::ToUtf8(text)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

std::string Ints(const std::vector<int32_t>& v) {
    std::string out = "[";
    for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
    return out + "]";
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", std::isfinite(v) ? v : 0.0);
    return text;
}

std::string Rect(const ql::TRect& r) {
    return Ints({r.left, r.top, r.right, r.bottom});
}

bool ParseInt(const std::string& text, int32_t low, int32_t high, int32_t& out) {
    const auto v = ql::TryStrToInt(ql::FromUtf8(text));
    if (!v || *v < low || *v > high) return false;
    out = *v;
    return true;
}

int Navbar(const std::vector<std::string>& args) {
    std::string barFile, outName, buttons;
    int32_t width = 0, height = 0, hue = 0;
    double duration = -1, time = -1, volume = -1;
    bool paused = false, haveButtons = false, background = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::fputs(kNavbarHelp, stdout);
            return 0;
        } else if (a == "--width" && hasValue) {
            if (!ParseInt(args[++i], 1, nav::kMaxBarSide, width))
                return Fail("orbtool navbar: --width wants 1 to 8192");
        } else if (a == "--height" && hasValue) {
            if (!ParseInt(args[++i], 1, nav::kMaxBarSide, height))
                return Fail("orbtool navbar: --height wants 1 to 8192");
        } else if (a == "--hue" && hasValue) {
            if (!ParseInt(args[++i], -360, 360, hue))
                return Fail("orbtool navbar: --hue wants -360 to 360");
        } else if (a == "--duration" && hasValue) {
            if (!tool::ParseMs(args[++i], duration))
                return Fail("orbtool navbar: --duration wants milliseconds");
        } else if (a == "--time" && hasValue) {
            if (!tool::ParseMs(args[++i], time))
                return Fail("orbtool navbar: --time wants milliseconds");
        } else if (a == "--volume" && hasValue) {
            const auto v = ql::TryStrToFloat(ql::FromUtf8(args[++i]));
            if (!v || !(*v >= 0 && *v <= 1)) return Fail("orbtool navbar: --volume wants 0 to 1");
            volume = *v;
        } else if (a == "--paused") {
            paused = true;
        } else if (a == "--no-background") {
            background = false;
        } else if (a == "--buttons" && hasValue) {
            buttons = args[++i];
            haveButtons = true;
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else if (barFile.empty() && !a.empty() && a[0] != '-') {
            barFile = a;
        } else {
            return Fail("orbtool navbar: bad usage (try orbtool navbar --help)");
        }
    }
    if (barFile.empty() || width == 0 || outName.empty())
        return Fail("orbtool navbar: bad usage (try orbtool navbar --help)");
    const std::u16string path = ql::FromUtf8(barFile);
    if (!ql::TFileAPI::FileExists(path)) return Fail("orbtool navbar: no file " + barFile);
    const size_t slash = path.find_last_of(u'/');
    const std::u16string folder = slash == std::u16string::npos ? u"./" : path.substr(0, slash + 1);

    ql::TIniFile definition;
    definition.LoadFromFile(path);
    TNavPictures pictures([](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
        if (!ql::TFileAPI::FileExists(name)) return nullptr;
        return std::make_unique<ql::TFileStream>(name, ql::TFileAccess::Read, ql::kShareRead,
                                                 ql::TFileDisposition::OpenExisting);
    });
    std::unique_ptr<TCustomNavBar> bar;
    TNavBar* buttonBar = nullptr;
    TVideoNavBar* videoBar = nullptr;
    if (definition.ReadBool(u"Common", u"VideoStyle", false)) {
        bar = std::make_unique<TVideoNavBar>();
        videoBar = static_cast<TVideoNavBar*>(bar.get());
    } else {
        auto b = std::make_unique<TNavBar>();
        b->SetShowBackground(background);
        b->SetHue(hue);
        buttonBar = b.get();
        bar = std::move(b);
    }
    TCustomNavBar::THooks hooks;
    hooks.IsPlaying = [&] { return !paused; };
    hooks.Duration = [&] { return duration; };
    bar->SetHooks(hooks);
    try {
        bar->Load(definition, folder, pictures);
    } catch (const ENavBarError& e) {
        return Fail("orbtool navbar: " + e.Message());
    }
    const std::vector<std::u16string> known = bar->KnownButtons();
    std::vector<int32_t> chosen;
    if (!haveButtons) {
        for (size_t k = 0; k < known.size(); ++k) chosen.push_back(int32_t(k));
    } else {
        for (const std::u16string& want :
             std::vector<std::u16string>(SplitNavValues(ql::FromUtf8(buttons))))
            for (size_t k = 0; k < known.size(); ++k)
                if (ql::SameTextIgnoringCase(known[k], want)) chosen.push_back(int32_t(k));
    }
    bar->SetChosenButtons(chosen);
    bar->SetWidth(width);
    if (height > 0) bar->FitToHeight(height);
    bar->Layout();
    bar->Reset();
    if (volume >= 0) bar->SetVolume(volume);
    if (time >= 0) bar->SetTime(time);

    std::string json = std::string("{\"class\":\"") + (videoBar ? "TVideoNavBar" : "TNavBar") +
                       "\",\"size\":" + Ints({bar->Width(), bar->Height()}) +
                       ",\"scale\":" + Number(bar->Scale()) +
                       ",\"disabled\":" + (bar->Disabled() ? "true" : "false");
    if (buttonBar) {
        json += ",\"columns\":" + Ints(buttonBar->ColumnWidths()) +
                ",\"rows\":" + Ints(buttonBar->RowHeights()) + ",\"buttons\":[";
        const auto& slots = buttonBar->Slots();
        for (size_t k = 0; k < slots.size(); ++k)
            json += std::string(k ? "," : "") +
                    "{\"name\":" + Json(buttonBar->Buttons()[size_t(slots[k].Button)].Name) +
                    ",\"rect\":" + Rect(slots[k].Rect) + "}";
        json += "]";
    } else {
        std::vector<int32_t> xs = {videoBar->PlayX()};
        for (int32_t x : videoBar->ExtraX()) xs.push_back(x);
        json += ",\"T0\":" + std::to_string(videoBar->T0()) +
                ",\"T1\":" + std::to_string(videoBar->T1()) +
                ",\"D1\":" + std::to_string(videoBar->D1()) + ",\"buttons\":" + Ints(xs) +
                ",\"sound\":" + std::to_string(videoBar->SoundX()) +
                ",\"volumeTrack\":" + Ints({videoBar->VolumeStart(), videoBar->VolumeEnd()}) +
                ",\"timeKnob\":" + std::to_string(videoBar->TimeKnobX()) +
                ",\"volumeKnob\":" + std::to_string(videoBar->VolumeKnobX()) +
                ",\"timeText\":" + Json(videoBar->TimeText()) +
                ",\"long\":" + (videoBar->LongFormat() ? "true" : "false");
    }
    json += "}";
    std::printf("%s\n", json.c_str());
    if (const ql::TBitmap* picture = bar->Picture()) ql::SavePng(*picture, ql::FromUtf8(outName));
    return 0;
}

}  // namespace

int RunNavbar(const std::vector<std::string>& args) {
    return tool::Guarded(Navbar, args);
}

}  // namespace orb
