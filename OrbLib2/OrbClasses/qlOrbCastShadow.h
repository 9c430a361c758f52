// The soft shadow an object casts: made from the object's picture or box
// through the slide host's "Shadow: " pictures (shared by every object
// casting an equal shadow), kept while its parameters stay, and drawn under
// the object.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/ShadowGenerator2.h"

namespace orb {

class TOrbSlideHost;

// What a shadow is cast from: its parameters (a picture's name and pixel
// size, or a plain rectangle), where the shadow's object rectangle starts on
// the object's plane and how many of the object's units one of its pixels
// spans.
struct TCastShadowSource {
    TShadowParams Params;
    ql::TPointF Origin{0, 0};
    ql::TPointF UnitsPerPixel{1, 1};
};

// A box's shadow: a plain rectangle of the box's size.
TCastShadowSource BoxShadowSource(int32_t width, int32_t height);

// How an object's shadow is seen: screen pixels per unit of the object at
// the required display size of the last pre-scan (0 x 0 before any), and the
// slide's size in screen pixels (0 x 0 when unknown).
struct TShadowView {
    ql::TPointF ShownScale{0, 0};
    ql::TPoint Screen{0, 0};
};
TShadowView ShadowViewOf(const TOrbObject& object);

// The level a shadow of source is made and drawn at. Shadows are blurred: one
// of at most eight screens' worth of pixels is drawn from its full size, as it
// always was; a larger one is made at the level its object shows it (the
// halvings that keep its object rectangle larger than shown, less one, as
// pictures take), and never larger than eight screens' worth. 0 when the view
// is unknown.
int32_t CastShadowLevel(const TCastShadowSource& source, const TShadowView& view);

class TCastShadow {
public:
    TCastShadow() = default;
    // Release must have run (the drawer that holds the textures may be gone).
    ~TCastShadow() = default;
    TCastShadow(const TCastShadow&) = delete;
    TCastShadow& operator=(const TCastShadow&) = delete;

    // Makes the shadow that keys cast from source, or keeps the one made
    // before when its name and kind are the same; drops it when source is
    // nullptr, the keys turn it off or the picture cannot be made. The blur
    // grows with the square root of the object rectangle's area. The shadow
    // is made and drawn at the level its view asks for (CastShadowLevel),
    // made before the drawer's lock is taken.
    void Prepare(TOrbSlideHost* host, TDeviceDrawer& drawer, const TObjectShadow& keys,
                 const TCastShadowSource* source, const TShadowView& view = {});
    // Draws it under an object of objectSize (own units) on plane, at
    // opacity percent (the object's) times the keys' shadow opacity.
    void Draw(TDeviceDrawer& drawer, const TObjectShadow& keys, float opacity,
              ql::TPointF objectSize, const TScenePlane& plane, const TCamera3D& camera);
    // Gives the textures back to drawer (nullptr: the shadow was never prepared).
    void Release(TDeviceDrawer* drawer);

    // The picture's name; empty when none is cast.
    std::u16string Name() const;
    ql::TRef<ql::TBitmapStore> Store() const;

private:
    struct TSlot {
        std::unique_ptr<access::TOrbImage> Image;  // keeps the cache entry alive
        std::unique_ptr<TShadow> Shadow;
        TCastShadowSource Source;
        std::u16string Name;
        bool Is3D = false;
    };
    // Under m_lock.
    void Drop(TDeviceDrawer* drawer);

    mutable std::mutex m_lock;
    std::unique_ptr<TSlot> m_slot;  // under m_lock
    TDeviceDrawer* m_drawer = nullptr;
};

}  // namespace orb
