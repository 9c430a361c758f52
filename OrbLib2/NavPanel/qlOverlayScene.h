// The overlay on the drawing device: the logo and the panel as textured
// pictures, drawn after the slides, and the dialogs between them. A picture goes to the device
// again only when its pixels changed, so a frame in which nothing moved costs two draws.
#pragma once

#include <array>
#include <cstdint>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"

namespace orb {

class TOverlayScene : public TDrawScene {
public:
    // The drawer and the overlay must outlive the scene; Release before the drawer goes.
    TOverlayScene(TDeviceDrawer& drawer, const TThirdSlide& overlay)
        : m_drawer(drawer), m_overlay(overlay) {}
    ~TOverlayScene() override { Release(); }

    // A colour to clear to first (0xAARRGGBB), for drawing the overlay alone.
    void SetClearColour(uint32_t colour) {
        m_clear = true;
        m_clearColour = colour;
    }
    // Draws the items over whatever the frame holds.
    void Draw(TDeviceDrawer& drawer) override;
    // Gives the device's textures back.
    void Release();
    // How often a picture went to the device (for the tests and the benchmark).
    int64_t Uploads() const { return m_uploads; }

private:
    struct TSlot {
        TDrawPicture Picture;
        const ql::TBitmap* Source = nullptr;
        uint64_t Version = 0;
        bool Present = false;
    };
    void Sync(TSlot& slot, const TOverlayItem& item);

    TDeviceDrawer& m_drawer;
    const TThirdSlide& m_overlay;
    std::array<TSlot, 2> m_slots;  // logo, panel
    bool m_clear = false;
    uint32_t m_clearColour = 0;
    int64_t m_uploads = 0;
};

}  // namespace orb
