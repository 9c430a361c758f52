#include "OrbLib2/NavPanel/qlOverlayScene.h"

#include <algorithm>
#include <cmath>

namespace orb {

void TOverlayScene::Sync(TSlot& slot, const TOverlayItem& item) {
    if (slot.Present && slot.Source == item.Picture && slot.Version == item.Version) return;
    // Releasing the image lets its textures go; the store follows.
    if (slot.Present) m_drawer.ReleaseImage(slot.Picture);
    slot.Picture.store = nullptr;
    slot.Present = false;
    slot.Source = item.Picture;
    slot.Version = item.Version;
    if (!item.Picture) return;
    // The device keeps its own copy: the bar redraws into its picture later.
    slot.Picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(item.Picture->Clone());
    slot.Present = true;
    ++m_uploads;
}

void TOverlayScene::Draw(TDeviceDrawer& drawer) {
    if (m_clear) drawer.Clear(m_clearColour, true);
    const TOverlayItem items[2] = {m_overlay.LogoItem(), m_overlay.PanelItem()};
    for (size_t k = 0; k < 2; ++k) {
        // The dialogs lie between the logo and the panel, which stays in reach.
        if (k == 1)
            for (const auto& dialog : m_overlay.Dialogs()) dialog->Draw(drawer);
        TSlot& slot = m_slots[k];
        const TOverlayItem& item = items[k];
        Sync(slot, item);
        if (!slot.Present || item.Opacity <= 0 || item.Rect.IsEmpty()) continue;
        const int32_t w = item.Picture->Width(), h = item.Picture->Height();
        TImageDrawParams params;
        params.opacity = uint8_t(std::lround(std::clamp(item.Opacity, 0.0f, 100.0f) * 2.55f));
        const float sx = float(item.Rect.Width()) / float(w),
                    sy = float(item.Rect.Height()) / float(h);
        drawer.DrawImage(slot.Picture, {float(item.Rect.left), float(item.Rect.top)}, params,
                         {sx, 0}, {0, sy}, {0, 0});
    }
}

void TOverlayScene::Release() {
    for (TSlot& slot : m_slots) {
        if (slot.Present) m_drawer.ReleaseImage(slot.Picture);
        slot.Picture.store = nullptr;
        slot.Source = nullptr;
        slot.Version = 0;
        slot.Present = false;
    }
}

}  // namespace orb
