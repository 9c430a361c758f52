// The scene root that the engine hands to the drawer each frame: the slides
// on screen at the show time (one, or two with the transition between them),
// then the overlay, over the show's background colour.
#pragma once

#include <cstdint>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbViewer/qlOrbEngineSlide.h"

namespace orb {

class TRootItem : public TDrawScene {
public:
    // Arranges the loaded slides (oldest first) for show time t; true when
    // the picture changed since the last arrangement.
    bool Arrange(const TEngineSlideList& slides, double t, TDrawScene* overlay);

    void Draw(TDeviceDrawer& drawer) override;

    // The slides drawn (the overlay excluded), oldest first.
    const std::vector<TEngineSlide*>& Items() const { return m_items; }
    TTransitionFilter* Transition() const { return m_transition; }
    // The following slide's transition is only held at its start.
    bool TransitionPending() const { return m_pending; }
    bool Empty() const { return m_items.empty(); }

    uint32_t BackgroundColour = 0xFF000000u;  // 0xAARRGGBB
    // The screen outside the slide frame is painted in the hider colour
    // after the slides, before the overlay; an empty frame paints nothing.
    uint32_t HiderColour = 0xFF000000u;  // 0xAARRGGBB
    ql::TRect SlideFrame;
    float UnsharpAmount = 0;
    uint8_t UnsharpThreshold = 0;

private:
    std::vector<TEngineSlide*> m_items;
    TDrawScene* m_overlay = nullptr;
    TTransitionFilter* m_transition = nullptr;
    bool m_pending = false;
    bool m_transitionRan = false;
    double m_lastProgress = -1;
    // Keeps the slides of the arrangement alive until the next one.
    TEngineSlideList m_held;
};

}  // namespace orb
