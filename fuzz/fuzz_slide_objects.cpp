// Loads an arbitrary document's first section as a slide's object tree, moves
// it through a few times, draws it on a small software screen and points the
// mouse at it: whatever the document holds, the tree stays within its bounds,
// placement and drawing stay free of crashes, the pictures its names ask for
// stay within a small memory budget, and every click ends in an action or none.
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
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace {

// Any "sized" block becomes a plain object with the size its keys give.
class TSizedObject : public orb::TOrbObject {
public:
    using TOrbObject::TOrbObject;
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override {
        SetSize(section.ReadInteger(u"Width", 0), section.ReadInteger(u"Height", 0));
        TOrbObject::LoadFromDocument(section, reload);
    }
};

// A package with nothing but the show's identity: pictures come from their
// generated names or are missing.
std::string EmptyPackage() {
    ql::TStringStream out;
    orb::TOrbPackWriter writer(out);
    writer.AddEntry(u"ExeGUID", "{fuzz-slide-objects}", 0);
    writer.Finish({});
    return out.DataString();
}

// A picture memory budget far below the fuzzer's own memory limit: whatever
// sizes the names ask for, what is made stays inside it.
constexpr int64_t kPictureBudget = int64_t(64) << 20;

int Depth(const orb::TOrbObject& object) {
    int deepest = 0;
    for (int i = 0; i < object.ChildCount(); ++i)
        deepest = std::max(deepest, Depth(object.Child(i)) + 1);
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        orb::RegisterObjectFactory(
            [](const std::u16string& type, orb::TOrbObject* parent,
               const std::u16string& guid) -> std::unique_ptr<orb::TOrbObject> {
                if (type != u"sized") return nullptr;
                return std::make_unique<TSizedObject>(parent, guid);
            });
        orb::RegisterImageObjects();
        ql::SetPictureMemoryBudget(kPictureBudget);
        return true;
    }();
    (void)registered;
    static const std::string package = EmptyPackage();

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
    callbacks.CameraPosition = [] { return orb::TCamera3D{320, 240, -480}; };
    callbacks.Progress = [](float) { return true; };
    callbacks.SlideChanged = [](orb::TOrbSlide&) {};
    callbacks.Drawing = [] {};
    orb::TOrbSlideHost host(accessor, callbacks);
    // The screen is a tenth of the slide: what is drawn is drawn small, and
    // pictures are made at the size the screen shows them.
    host.SetDisplayScale(0.1);
    orb::TSoftDevice device({64, 48});
    orb::T3DDrawer drawer(device);
    drawer.Init({64, 48, false});
    drawer.SetCaptureMode(true);

    // The device outlives the slide, whose objects hold its textures.
    orb::TOrbSlide slide(&host, 0);
    slide.SetSize(640, 480);
    slide.SetScreenCentre({320, 240});
    slide.SetOwnCamera({320, 240, -480});
    slide.SetTimes(0, 5000, 500, 500);
    slide.LoadChildren(*section);
    if (Depth(slide) > orb::kMaxObjectDepth) __builtin_trap();
    if (slide.CountTree() > orb::kMaxObjectsPerSlide + 1) __builtin_trap();
    orb::LoadObjectPictures(slide);
    slide.AttachDrawer(drawer);

    for (double t : {-1.0, 0.0, 250.0, 2500.0, 5400.0}) {
        slide.SetTime(true, t);
        drawer.DrawScene(slide);
        // Admission is judged on a level's size before it is made, in the format
        // asked for; a maker may deliver a wider one, so the bound is loose.
        if (ql::PictureMemoryHeld() > 2 * kPictureBudget) __builtin_trap();
        for (float x : {0.0f, 320.0f, 639.0f})
            for (float y : {0.0f, 240.0f, 479.0f}) {
                slide.MouseEvent(orb::smPress, orb::kMouseLeftButton, orb::kMouseLeftButton, x, y,
                                 true);
                const orb::TOrbActionInfo action = slide.MouseEvent(
                    orb::smRelease, orb::kMouseLeftButton, orb::kMouseNoButton, x, y, true);
                if (action.Code > orb::acGotoTime) __builtin_trap();
            }
    }
    return 0;
}
