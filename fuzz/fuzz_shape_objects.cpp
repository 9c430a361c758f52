// Loads an arbitrary document's first section as a slide of a show whose
// package holds one small picture, and draws it at a few times on a small
// software screen: boxes, frames, view ports and masks with any sizes,
// colours, nesting and mask names draw or are skipped, never crash, hang or
// ask for pictures without bound.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpFileStream.h"

namespace {

// A package with "pic.png", a 16 x 16 picture in four colours.
std::string SmallPackage() {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(16, 16, ql::PfARGB32());
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            reinterpret_cast<uint32_t*>(bitmap->Row(y))[x] =
                0xFF000000u | (x < 8 ? 0xFF0000u : 0x00FF00u) | (y < 8 ? 0u : 0x0000FFu);
    const std::vector<uint8_t> png = ql::EncodePng(*bitmap);
    ql::TStringStream out;
    orb::TOrbPackWriter writer(out);
    writer.AddEntry(u"pic.png", std::string(png.begin(), png.end()), 0);
    writer.AddEntry(u"ExeGUID", "{fuzz-shape-objects}", 0);
    writer.Finish({});
    return out.DataString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string package = SmallPackage();
    orb::RegisterImageObjects();

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
    const ql::TIniSection* section = document.FindSection(sections.front());

    auto unpack = std::make_unique<orb::TOrbUnpack>();
    if (unpack->Open([] { return std::make_unique<ql::TStringStream>(package); }, u"show") !=
        orb::TUnpackResult::Ok)
        __builtin_trap();
    orb::TFileAccessor accessor(ql::MakeRef<orb::TPackedFileSource>(std::move(unpack)));
    orb::TSlideHostCallbacks callbacks;
    callbacks.CameraPosition = [] { return orb::TCamera3D{32, 24, -480}; };
    callbacks.Progress = [](float) { return true; };
    callbacks.SlideChanged = [](orb::TOrbSlide&) {};
    callbacks.Drawing = [] {};
    orb::TOrbSlideHost host(accessor, callbacks);

    // The device outlives the slide, whose objects hold its textures.
    orb::TSoftDevice device({64, 48});
    orb::T3DDrawer drawer(device);
    drawer.Init({64, 48, false});
    drawer.SetCaptureMode(true);
    {
        orb::TOrbSlide slide(&host, 0);
        slide.SetSize(64, 48);
        slide.SetScreenCentre({32, 24});
        slide.SetTimes(0, 5000, 500, 500);
        slide.LoadChildren(*section);
        orb::LoadObjectPictures(slide);
        slide.AttachDrawer(drawer);
        for (double t : {0.0, 2500.0, 5400.0}) {
            slide.SetTime(true, t);
            drawer.DrawScene(slide);
        }
    }
    return 0;
}
