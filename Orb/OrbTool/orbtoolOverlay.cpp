// orbtool overlay: build a show's overlay (logo and navigation panel) as the
// player does and steer it with a script on a virtual clock.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolDevice.h"
#include "Orb/OrbTool/orbtoolShowAt.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/NavPanel/qlNavDialogs.h"
#include "OrbLib2/NavPanel/qlOverlayScene.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kOverlayHelp[] =
    "usage: orbtool overlay SHOW [--size WxH] [--device soft|gl] [--duration MS] --script FILE\n"
    "       [-o DIR]\n"
    "Builds the show's overlay (logo, navigation panel and dialogs) as the player\n"
    "does and runs a script on a virtual clock. Each line first advances the\n"
    "overlay to MS:\n"
    "  MS move|press|release X Y   a mouse event (left button)\n"
    "  MS open NAME                open the show's dialog NAME (\"help\" or a custom one)\n"
    "  MS close                    close the top dialog\n"
    "  MS state                    print one JSON line: time, panel and clickable\n"
    "                              rectangles, panel opacity, hidden, the dialog stack,\n"
    "                              the last action, handled, the cursor state and\n"
    "                              how often a picture went to the device\n"
    "  MS frame NAME.png           draw the overlay (dialogs included) over a gray\n"
    "                              frame through the device's drawer into DIR\n"
    "Actions the engine carries out itself (4 help, 15 open, 16 close) are carried\n"
    "out. --duration replaces the show's length for the video-style bar.\n";

std::string Json(const std::u16string& text) {
    std::string out = "\"";
    for (char c : ql::ToUtf8(text)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

std::string Rect(const ql::TRect& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", std::isfinite(v) ? v : 0.0);
    return text;
}

int Overlay(const std::vector<std::string>& args) {
    std::string show, scriptName, outDir = ".", deviceName = "soft";
    int32_t width = 1280, height = 720;
    double duration = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::fputs(kOverlayHelp, stdout);
            return 0;
        } else if (a == "--size" && hasValue) {
            if (!tool::ParseSize(args[++i], width, height))
                return Fail("orbtool overlay: --size wants WxH");
        } else if (a == "--device" && hasValue) {
            deviceName = args[++i];
            if (deviceName != "soft" && deviceName != "gl")
                return Fail("orbtool overlay: --device wants soft or gl");
        } else if (a == "--duration" && hasValue) {
            if (!tool::ParseMs(args[++i], duration))
                return Fail("orbtool overlay: --duration wants milliseconds");
        } else if (a == "--script" && hasValue) {
            scriptName = args[++i];
        } else if (a == "-o" && hasValue) {
            outDir = args[++i];
        } else if (show.empty() && !a.empty() && a[0] != '-') {
            show = a;
        } else {
            return Fail("orbtool overlay: bad usage (try orbtool overlay --help)");
        }
    }
    if (show.empty() || scriptName.empty())
        return Fail("orbtool overlay: bad usage (try orbtool overlay --help)");
    std::ifstream scriptFile(scriptName);
    if (!scriptFile) return Fail("orbtool overlay: cannot read " + scriptName);
    TShowOpenResult opened = OpenShow(ql::FromUtf8(show));
    if (!opened.Locator) return Fail("orbtool overlay: " + show + ": " + ql::ToUtf8(opened.Error));
    TOrbShowLocator& locator = *opened.Locator;
    TNavOpenFile open = [&locator](const std::u16string& name) {
        return locator.Accessor().OpenStream(name);
    };
    const ql::TRect viewport = {0, 0, width, height};
    // The show's own length unless the command line gives one.
    if (duration < 0) {
        try {
            duration = ShowSource(locator).TotalTime();
        } catch (const ql::Exception&) {
            duration = -1;  // no slides to time: the video bar shows no length
        }
    }
    // The dialogs come from the show's slides, laid out as the player fits them.
    std::unique_ptr<TDialogBuilder> builder;
    try {
        builder = std::make_unique<TDialogBuilder>(ShowSource(locator), locator.Accessor(), 0);
        builder->Setup(width, height);
    } catch (const ql::Exception&) {
        builder.reset();  // no slides: no dialogs either
    }
    TThirdSlide overlay(locator.Project(), viewport, open, {}, 1, duration, 0);
    auto openDialog = [&](const std::u16string& name) {
        std::unique_ptr<TSlideDialog> dialog = builder ? builder->Build(name) : nullptr;
        if (!dialog) {
            std::fprintf(stderr, "orbtool overlay: the show has no dialog %s\n",
                         ql::ToUtf8(name).c_str());
            return;
        }
        overlay.OpenDialog(std::move(dialog));
    };

    std::string error;
    std::unique_ptr<TRenderDevice> device = tool::MakeDevice(deviceName, width, height, 1, error);
    if (!device) return Fail("orbtool overlay: device not available: " + error);
    T3DDrawer drawer(*device);
    drawer.Init({width, height, false});
    drawer.SetCaptureMode(true);
    drawer.TextureManager().SetUploadPause(std::chrono::milliseconds(0));
    // The dialogs' pictures go while the drawer is there, whichever way this ends.
    struct TDialogsGo {
        TThirdSlide& overlay;
        ~TDialogsGo() {
            while (!overlay.Dialogs().empty()) overlay.RemoveDialog(0);
        }
    } dialogsGo{overlay};
    TOverlayScene scene(drawer, overlay);
    scene.SetClearColour(0xFF404040);

    TThirdSlide::TMouseResult last;
    std::string line;
    int32_t lineNumber = 0;
    int64_t now = 0;
    while (std::getline(scriptFile, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        int64_t ms = 0;
        std::string command;
        if (!(words >> ms >> command) || ms < now || ms > int64_t(1e10))
            return Fail("orbtool overlay: line " + std::to_string(lineNumber) +
                        ": wants MS COMMAND, times in order");
        // The overlay advances in frame steps up to the line's time.
        while (now < ms) {
            now = std::min<int64_t>(now + 10, ms);
            overlay.Advance(now, double(now));
        }
        if (command == "move" || command == "press" || command == "release") {
            int32_t x = 0, y = 0;
            if (!(words >> x >> y))
                return Fail("orbtool overlay: line " + std::to_string(lineNumber) + ": wants X Y");
            const int32_t kind = command == "move" ? 0 : command == "press" ? 1 : 2;
            last = overlay.Mouse(x, y, kind, kind == 0 ? 0 : 1, 0, now);
            if (last.Action.Code == acHelp)
                openDialog(u"help");
            else if (last.Action.Code == acOpenDialog)
                openDialog(last.Action.Text);
            else if (last.Action.Code == acCloseDialog && !overlay.Dialogs().empty())
                overlay.CloseDialog(-1);
        } else if (command == "open") {
            std::string name;
            if (!(words >> name))
                return Fail("orbtool overlay: line " + std::to_string(lineNumber) + ": wants NAME");
            openDialog(ql::FromUtf8(name));
        } else if (command == "close") {
            overlay.CloseDialog(-1);
        } else if (command == "state") {
            std::string dialogs;
            for (const auto& d : overlay.Dialogs())
                dialogs += std::string(dialogs.empty() ? "" : ",") +
                           "{\"name\":" + Json(d->Name()) + ",\"opacity\":" + Number(d->Opacity()) +
                           "}";
            const TNavPanel* panel = overlay.Panel();
            std::printf(
                "{\"t\":%lld,\"panel\":%s,\"clickable\":%s,\"opacity\":%s,\"hidden\":%s,"
                "\"dialogs\":[%s],"
                "\"action\":{\"code\":%d,\"param\":%d,\"text\":%s},\"handled\":%s,\"cursor\":%d,"
                "\"uploads\":%lld}\n",
                static_cast<long long>(now), panel ? Rect(panel->Rect()).c_str() : "null",
                panel ? Rect(panel->Clickable()).c_str() : "null",
                Number(overlay.PanelOpacity()).c_str(), overlay.PanelHidden() ? "true" : "false",
                dialogs.c_str(), int(last.Action.Code), last.Action.Param,
                Json(last.Action.Text).c_str(), last.Handled ? "true" : "false",
                overlay.PanelState(), static_cast<long long>(scene.Uploads()));
        } else if (command == "frame") {
            std::string name;
            if (!(words >> name))
                return Fail("orbtool overlay: line " + std::to_string(lineNumber) + ": wants NAME");
            std::unique_ptr<ql::TBitmap> frame;
            if (drawer.DrawScene(scene)) frame = drawer.CaptureToBitmap();
            if (!frame) return Fail("orbtool overlay: the frame could not be drawn");
            ql::SavePng(*frame, ql::FromUtf8(outDir + "/" + name));
        } else {
            return Fail("orbtool overlay: line " + std::to_string(lineNumber) +
                        ": unknown command " + command);
        }
    }
    return 0;
}

}  // namespace

int RunOverlay(const std::vector<std::string>& args) {
    return tool::Guarded(Overlay, args);
}

}  // namespace orb
