// The demo's navigation bars: a button bar (a dark rounded strip holding
// glass discs with white icons) and a media-player style bar, each a
// definition file and the pictures it names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb::demo {

// The strip's three cells side by side, each 16 x 48: the left cap, the
// middle that repeats and the right cap.
std::unique_ptr<ql::TBitmap> PaintNavStrip();
// A 40 x 40 disc per state side by side: normal, hover, pressed, disabled.
std::unique_ptr<ql::TBitmap> PaintNavDiscs();
// 24 x 24 white icons side by side: home, backward, forward, pause, play,
// help, exit. With play the pause cell shows "play" too: the pause button's
// look while the show is paused takes the same rectangle from that picture.
std::unique_ptr<ql::TBitmap> PaintNavIcons(bool play = false);
std::string NavBarDescription();

// The media-player bar: its 64 x 48 background, the 16 x 6 track line, the
// 12 x 16 knob, and a sheet per state of six 28 x 28 buttons (play, pause,
// sound, muted, backward, forward).
std::unique_ptr<ql::TBitmap> PaintVideoBack();
std::unique_ptr<ql::TBitmap> PaintVideoLine();
std::unique_ptr<ql::TBitmap> PaintVideoKnob();
std::unique_ptr<ql::TBitmap> PaintVideoSheet(int32_t state);
// The sheets of the three states, as the description names them.
inline const char* const kVideoSheets[3] = {"video-normal.png", "video-hover.png",
                                            "video-click.png"};
std::string VideoBarDescription();

}  // namespace orb::demo
