// A slide's background: the keys that describe it (the slide's own or the
// show's), where the tiles of a background picture go, and the painter that
// draws it first, under the slide's objects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/3DEngine/qlOrbEffectParams.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"

namespace ql {
class TIniSection;
}

namespace orb {

// A colour value of the project document: a Windows colour value (red in the
// low byte) or "r,g,b". `fallback` when it is neither.
TBgrColor ParseDocumentColor(std::u16string_view text, TBgrColor fallback = {});

// The slide's own keys when its "UsePersonal" and "Pers_Fon" are both "1",
// otherwise the show's "opt_" keys of [Main]. `slide` may be nullptr.
TSlideBackground ReadSlideBackground(const ql::TIniSection& main, const ql::TIniSection* slide);

// Picture sizes in percent are kept within these: a smaller one would cover
// the slide with a flood of tiles.
inline constexpr float kMinBackgroundSize = 1;
inline constexpr float kMaxBackgroundSize = 10000;
// The most tiles along one side of a slide.
inline constexpr int32_t kMaxBackgroundTilesPerSide = 32;

// One tile: where it lies on the slide (slide units) and which pixels of the
// picture (level-0, integer) fill it.
struct TBackgroundTile {
    float X = 0, Y = 0, Width = 0, Height = 0;
    ql::TRect Source;
};

struct TBackgroundTiling {
    float TileWidth = 0, TileHeight = 0;  // one whole tile, slide units
    std::vector<TBackgroundTile> Tiles;   // clipped to the slide
};

// Tiles of a pw x ph picture across a w x h slide, centred: at size 100 one
// tile covers the slide (its width is the slide's when the slide is wider
// than the picture's aspect, else its height). Edge tiles are cut to the
// slide; their source is rounded outward and squeezed into the cut part.
TBackgroundTiling TileBackground(float w, float h, int32_t pw, int32_t ph, float sizePercent);

// How often a picture is halved for tiles of tw x th screen pixels: while it
// is at least twice the tile size in both directions.
int32_t BackgroundHalvings(int32_t pw, int32_t ph, float tw, float th);

// Opens a background picture by name; nullptr when there is none.
using TBackgroundPictureOpener =
    std::function<ql::TRef<ql::TBitmapStore>(const std::u16string& name)>;

// Draws one slide's background through a drawer and keeps its picture.
class TBackgroundPainter {
public:
    TBackgroundPainter(TSlideBackground background, TBackgroundPictureOpener opener);
    ~TBackgroundPainter();
    TBackgroundPainter(const TBackgroundPainter&) = delete;
    TBackgroundPainter& operator=(const TBackgroundPainter&) = delete;

    const TSlideBackground& Background() const { return m_background; }
    // The picture's pixel size; 0 x 0 before Prepare or without a picture.
    ql::TPoint PictureSize() const;
    int32_t Level() const { return m_level; }

    // Opens the picture on first use and uploads it at the level that tiles of
    // a w x h (slide units) slide shown at `scale` screen pixels per unit
    // need. A new level is decoded only when the tile size changes it.
    void Prepare(TDeviceDrawer& drawer, float w, float h, float scale);
    // The background across local (0, 0) .. (w, h) of the slide's plane.
    void Draw(TDeviceDrawer& drawer, const TScenePlane& plane, float w, float h,
              const TCamera3D& camera, uint8_t opacity = 255);
    // Gives the drawer's textures back; the picture stays for the next Prepare.
    void Release(TDeviceDrawer& drawer);
    // The drawer is going: textures of the picture are its business now.
    void Forget() {
        m_drawer = nullptr;
        m_level = -1;
    }

private:
    TSlideBackground m_background;
    TBackgroundPictureOpener m_opener;
    bool m_opened = false;
    TDrawPicture m_picture;
    int32_t m_level = -1;               // -1: nothing uploaded
    TDeviceDrawer* m_drawer = nullptr;  // the drawer holding textures of the picture
};

}  // namespace orb

namespace orb {

// The painter a slide owns: draws the slide's background across the slide's
// own plane, so that slide-level motion moves the background with it.
class TSlideBackgroundDrawer : public TSlideBackgroundPainter {
public:
    TSlideBackgroundDrawer(const TSlideBackground& background, TBackgroundPictureOpener opener)
        : m_painter(background, std::move(opener)) {}
    void Prepare(TDeviceDrawer& drawer, const TOrbSlide& slide) override;
    void Draw(TDeviceDrawer& drawer, const TOrbSlide& slide) override;
    TBackgroundPainter& Painter() { return m_painter; }

private:
    TBackgroundPainter m_painter;
};

}  // namespace orb
