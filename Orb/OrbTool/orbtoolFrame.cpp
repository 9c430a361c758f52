// orbtool frame: renders a show at one show time through the drawer, with
// the transition of the moment, and writes the frame as PNG.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolDevice.h"
#include "Orb/OrbTool/orbtoolShowAt.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbRealSlideFilter.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kFrameHelp[] =
    "usage: orbtool frame SHOW --time T [--size WxH] [--device soft|gl] [--seed N]\n"
    "                     [--cover] [--mouse X,Y[,down]] -o OUT.png\n"
    "Renders the show at show time T (ms) on a WxH screen (default 1920x1080):\n"
    "the slides visible then, their pictures prepared first, the incoming one\n"
    "through its transition (custom transitions from the show's package). soft\n"
    "(the default) is the software device; gl is OpenGL 3.3 through EGL, needing\n"
    "no display. --seed fixes the random choices. --mouse moves the mouse to\n"
    "screen point X,Y (or presses the left button there, with \"down\") first,\n"
    "so buttons and texts show their hover or click look.\n";

}  // namespace

int RunFrame(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kFrameHelp, stdout);
        return 0;
    }
    // Frames written to files show every video at the exact frame of its position.
    SetVideoFramesExact(true);
    tool::TShowAtOptions options;
    const std::string error = tool::ParseShowAt(args, {"--device", "-o"}, options);
    if (!error.empty()) return Fail("orbtool frame: " + error);
    std::string deviceName = "soft", outName;
    for (size_t i = 0; i + 1 < options.Other.size(); i += 2) {
        if (options.Other[i] == "--device") deviceName = options.Other[i + 1];
        if (options.Other[i] == "-o") outName = options.Other[i + 1];
    }
    if (outName.empty()) return Fail("orbtool frame: needs -o OUT.png (try --help)");
    if (deviceName != "soft" && deviceName != "gl")
        return Fail("orbtool frame: unknown device '" + deviceName + "'");

    tool::TShowAt show;
    if (!show.Open(options, "orbtool frame")) return tool::kExitError;
    const int32_t width = options.Width, height = options.Height;
    try {
        std::string reason;
        std::unique_ptr<TRenderDevice> device =
            tool::MakeDevice(deviceName, width, height, 2, reason);
        if (!device) return Fail("orbtool frame: device not available: " + reason);
        std::unique_ptr<ql::TBitmap> frame;
        {
            T3DDrawer drawer(*device);
            // The slides give their textures back while the drawer is there,
            // also when drawing raises.
            struct TReleaseSlides {
                tool::TShowAt& show;
                ~TReleaseSlides() {
                    RemoveCustomTransitions();
                    show.ReleaseSlides();
                }
            } releaseSlides{show};
            InstallCustomTransitions(show.Accessor());
            drawer.Init({width, height, false});
            drawer.SetCaptureMode(true);
            drawer.TextureManager().SetUploadPause(std::chrono::milliseconds(0));
            const auto& containers = show.Containers();
            for (const auto& container : containers) {
                if (TOrbSlide* slide = container->Slide()) {
                    slide->AttachDrawer(drawer);
                    container->SetTime(options.Time);
                }
            }
            TDrawContainer* first = containers.empty() ? nullptr : containers.front().Get();
            TDrawContainer* second = containers.size() > 1 ? containers.back().Get() : nullptr;
            bool drawn = DrawSlides(drawer, first, second, show.Producer().SlideRect(),
                                    HiderColour(show.Producer().Source().HiderColor()));
            if (!drawn) {
                // Nothing to show (no slide could be built): a black frame.
                struct TBlack : TDrawScene {
                    void Draw(TDeviceDrawer& d) override { d.Clear(0xFF000000u, true); }
                } black;
                drawn = drawer.DrawScene(black);
            }
            if (drawn) frame = drawer.CaptureToBitmap();
        }
        if (!frame) return Fail("orbtool frame: the frame could not be drawn");
        ql::SavePng(*frame, ql::FromUtf8(outName));
    } catch (const ql::EAssertionFailed&) {
        return tool::kExitError;  // its text already went to standard error
    } catch (const std::exception& e) {
        return Fail(std::string("orbtool frame: ") + e.what());
    }
    std::printf("%dx%d\n", width, height);
    return 0;
}

}  // namespace orb
