// A built slide as the engine sees it: its times on the show clock, its scene
// and incoming transition, its device resources and the mouse on it. The
// slide cache's containers stand behind it; tests put simple scenes there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "QlLib/SysObj.h"

namespace orb {

class T3DDrawer;
class TMouseData;

class TEngineSlide : public ql::TRefObj {
public:
    // The slide's times shifted to its cycle.
    virtual const TSlideInfo& Info() const = 0;
    // The slide index as asked for, cycles included.
    virtual int64_t Index() const = 0;
    // Brings the slide and its transition to show time t.
    virtual void SetTime(double t) = 0;
    // nullptr when the slide could not be built: drawing skips it.
    virtual TDrawScene* Scene() = 0;
    // The transition into this slide, or nullptr.
    virtual TTransitionFilter* Transition() = 0;
    // Decodes the pictures that Prepare will upload, without the device: it
    // may run on another thread than Prepare, beside another slide's Decode.
    virtual void Decode(T3DDrawer& drawer) {}
    // Lets the slide prepare itself on the drawer (after it was built).
    virtual void Prepare(T3DDrawer& drawer) {}
    // Uploads the slide's textures now, so that drawing does not stall.
    virtual void Upload(T3DDrawer& drawer) {}
    // Lets go of the device resources (the device was lost or rebuilt).
    virtual void ReleaseDevice() {}
    // Whether the slide changed its picture since the last call.
    virtual bool Changed() { return false; }
    // The action of a mouse event at (x, y) on the slide, and the class name
    // of the object hit (empty for none).
    virtual TOrbActionInfo MouseEvent(const TMouseData& mouse, bool actionsEnabled, std::u16string* hitClass) {
        return {};
    }
};

using TEngineSlideRef = ql::TRef<TEngineSlide>;
using TEngineSlideList = std::vector<TEngineSlideRef>;

// The window of built slides that the loader keeps around the show time.
class TSlideWindow {
public:
    virtual ~TSlideWindow() = default;
    // Builds a missing slide for time t (both slides of a transition on
    // screen when neither is there); true when one was built.
    virtual bool Step(double t) = 0;
    // The built slides in ascending index order (at most three).
    virtual TEngineSlideList Slides() const = 0;
    // How many slides the window keeps.
    virtual int32_t Depth() const = 0;
    // Drops every slide (the show is reopened).
    virtual void Clear() = 0;
    // The device size and the fit mode (1 cover, 0 fit) of the slide frame.
    virtual void Setup(int32_t width, int32_t height, int32_t fitMode) {}
    // Where the slide frame lies on the device.
    virtual ql::TRect SlideRect() const { return {}; }

    // Raised before ContainerCreated for work that needs no device (decoding
    // pictures), perhaps on a helper thread and for two slides at once.
    std::function<void(TEngineSlide&)> ContainerDecoding;
    // Raised on the building thread.
    std::function<void(TEngineSlide&)> ContainerCreated;
    std::function<void()> CacheChanged;
};

}  // namespace orb
