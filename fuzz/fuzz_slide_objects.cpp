// Loads an arbitrary document's first section as a slide's object tree, moves
// it through a few times and points the mouse at it: whatever the document
// holds, the tree stays within its bounds, placement stays free of crashes and
// every click ends in an action or none.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
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

int Depth(const orb::TOrbObject& object) {
    int deepest = 0;
    for (int i = 0; i < object.ChildCount(); ++i) deepest = std::max(deepest, Depth(object.Child(i)) + 1);
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        orb::RegisterObjectFactory([](const std::u16string& type, orb::TOrbObject* parent,
                                      const std::u16string& guid) -> std::unique_ptr<orb::TOrbObject> {
            if (type != u"sized") return nullptr;
            return std::make_unique<TSizedObject>(parent, guid);
        });
        return true;
    }();
    (void)registered;

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

    orb::TOrbSlide slide(nullptr, 0);
    slide.SetSize(640, 480);
    slide.SetScreenCentre({320, 240});
    slide.SetOwnCamera({320, 240, -480});
    slide.SetTimes(0, 5000, 500, 500);
    slide.LoadChildren(*section);
    if (Depth(slide) > orb::kMaxObjectDepth) __builtin_trap();
    if (slide.CountTree() > orb::kMaxObjectsPerSlide + 1) __builtin_trap();

    for (double t : {-1.0, 0.0, 250.0, 2500.0, 5400.0}) {
        slide.SetTime(true, t);
        for (float x : {0.0f, 320.0f, 639.0f})
            for (float y : {0.0f, 240.0f, 479.0f}) {
                slide.MouseEvent(orb::smPress, orb::kMouseLeftButton, orb::kMouseLeftButton, x, y, true);
                const orb::TOrbActionInfo action =
                    slide.MouseEvent(orb::smRelease, orb::kMouseLeftButton, orb::kMouseNoButton, x, y, true);
                if (action.Code > orb::acGotoTime) __builtin_trap();
            }
    }
    return 0;
}
