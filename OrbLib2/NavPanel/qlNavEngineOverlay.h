// The overlay as the engine holds it: the logo, the navigation panel and
// the dialogs of one opened show, with their pictures on the engine's drawer.
#pragma once

#include <memory>

#include "OrbLib2/OrbViewer/qlOrbEngineOverlay.h"

namespace orb {

// The factory the program gives the engine; nullptr when the show has
// neither a logo nor a panel.
std::unique_ptr<TEngineOverlay> MakeNavOverlay(const TEngineOverlayContext& context,
                                               TDeviceDrawer& drawer);

}  // namespace orb
