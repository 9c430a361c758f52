// Shadow pictures of show objects: the silhouette of the object's picture (or
// of a plain shape) on a canvas with room for the blur, halved until it is
// small enough, blurred and coloured by the shadow producer.
//
// TShadow keeps a finished shadow as a drawer picture and draws it under its
// object through the draw manager, flat or on the object's scene plane.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "QlLib/Graphics/qlAffineDraw.h"
#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

struct TShadowParams {
    std::u16string PictureKey = u"N\\A";  // "N\A": a shadow of a plain shape
    ql::TRect ObjectRect;                 // left and top must be 0
    int32_t MarginX = 0, MarginY = 0;     // room for the blur on each side
    uint8_t BackgroundAlpha = 0;
    float BlurSize = 0;
    uint32_t Colour = 0;  // 0xRRGGBB
    float Opacity = 100;  // percent
    int32_t SpreadIndex = -1;
    // Shape shadows: (255, 255, -) a plain rectangle; otherwise byte 0 is the
    // shape (1 ellipse, anything else a rounded rectangle), byte 1 the corner
    // size and byte 2 the softness, both in percent.
    uint8_t Shape[3] = {255, 255, 0};
    int32_t StoreLevel = 0;
    uint32_t Flags = 0;
};

// "Shadow: " and the parameters: the key under which equal shadows are shared.
std::u16string ShadowKey(const TShadowParams& params);

// Halvings of a working size until its area is at most 700 000 pixels and
// neither side exceeds 10 000.
int32_t ShadowHalvings(int64_t width, int64_t height);

// The halvings Generate applies for params (before any reduction).
int32_t ShadowHalvingsOf(const TShadowParams& params);

// Reduced-quality parameters: size and margins scaled to about 40 000 pixels
// in all, and the blur taken from the reduced size.
TShadowParams ReduceShadowParams(const TShadowParams& params);

// Each pixel the average of a 2 x 2 block; the result has half the size
// (rounded down, at least 1). "A8R8G8B8" or "A8".
std::unique_ptr<ql::TBitmap> HalveBitmap(const ql::TBitmap& source);

struct TShadowPicture {
    std::unique_ptr<ql::TBitmap> Bitmap;  // "A8R8G8B8"; nothing when cancelled
    int32_t Halvings = 0;                 // drawn enlarged by 2^Halvings
    TShadowParams Params;                 // as used (after reduction)
    std::u16string Key;
};

// The size of the bitmap Generate makes for params (not reduced).
ql::TPoint ShadowPictureSize(const TShadowParams& params);

// How many times the object's picture (pictureSize at its store level) is
// halved by its store for level `level` of a shadow, between level and the
// shadow's halvings plus level: a picture of up to four times the shadow's
// working area is halved by the generator as Generate halves it, a larger one
// is first taken from a coarser store level, never at its full size.
int32_t ShadowPictureLevel(const TShadowParams& params, ql::TPoint pictureSize, int32_t level);

class TShadowGenerator {
public:
    // picture: the object's picture at the store level (ignored for shape
    // shadows). Asserts when the object rectangle does not start at (0, 0).
    TShadowPicture Generate(const TShadowParams& params, const ql::TBitmap* picture,
                            bool reduced = false, const ql::TProgressHandler& progress = {}) const;

    // Level `level` of the shadow Generate makes (not reduced): its
    // MipLevelSize of ShadowPictureSize, made with `level` more halvings and
    // centred on the same object, so a shadow drawn small costs what it
    // shows. picture: the object's picture at store level StoreLevel +
    // pictureHalvings (at most ShadowHalvingsOf(params) + level; ignored for
    // shape shadows), halved here the rest of the way as Generate halves it.
    // Nothing when cancelled.
    std::unique_ptr<ql::TBitmap> GenerateLevel(const TShadowParams& params, int32_t level,
                                               const ql::TBitmap* picture,
                                               int32_t pictureHalvings = 0,
                                               const ql::TProgressHandler& progress = {}) const;
};

// Where the object of a shadow is drawn: the position DrawImage gets for it
// and its size in units of the drawing axes (0 x 0: the shadow's own object
// size). A shadow made at another store level or in reduced quality is
// stretched to this size.
struct TShadowPlacement {
    TPointF position;
    TPointF size;
};

// A generated shadow with what drawing it needs.
class TShadow : public ql::TObj {
public:
    // The picture's bitmap goes to the shadow's drawer picture.
    TShadow(TShadowPicture picture, bool reduced, float distanceScale, bool is3D);
    // A shadow picture made elsewhere (the "Shadow: " picture of the slide
    // host, shared by every object with the same parameters): its level 0 is
    // the generator's bitmap for params, which tell its halvings.
    TShadow(ql::TRef<ql::TBitmapStore> store, const TShadowParams& params, bool reduced,
            float distanceScale, bool is3D);

    // Parameters, halvings and key; the bitmap is in DrawPicture().
    const TShadowPicture& Picture() const { return m_picture; }
    bool Reduced() const { return m_reduced; }
    float DistanceScale() const { return m_distanceScale; }
    bool Is3D() const { return m_3D; }
    // The shadow bitmap's size; 0 x 0 without one.
    ql::TPoint BitmapSize() const { return m_size; }
    TDrawPicture& DrawPicture() { return m_draw; }

    // The shadow's offset from its object: length sqrt(|X| |Y|) * distance *
    // scale / 100 in the direction of angle (degrees); along the object's own
    // axes when 3D, else in screen x and y. X and Y are the object's sides
    // (the drawing axes times its width and height).
    ql::TPointF Offset(ql::TPointF axisX, ql::TPointF axisY, float distance, float angle) const;

    // Uploads the shadow's textures now, or gives them back; a shadow that
    // was drawn must be released before its drawer goes.
    void Prepare(TDeviceDrawer& drawer);
    void Release(TDeviceDrawer& drawer);
    // The level of the shadow picture that Prepare and Draw use (0 unless set).
    int32_t Level() const { return m_level; }
    void SetLevel(int32_t level) { m_level = std::clamp(level, 0, 30); }

    // Draws the shadow under an object drawn with DrawImage (position, axis
    // X, axis Y, origin): offset by distance and angle, its margins spread
    // equally around the object, at the object's opacity (0 draws nothing).
    void Draw(TDeviceDrawer& drawer, const TShadowPlacement& placement, uint8_t opacity,
              float angle, float distance, TPointF axisX, TPointF axisY, TPointF origin);
    // The same for an object on a scene plane, whose local (0, 0) to size
    // it covers. With the 3D flag the offset runs along the plane's axes;
    // without it the shadow moves by the screen offset at the object's middle.
    void Draw3D(TDeviceDrawer& drawer, TPointF size, uint8_t opacity, float angle, float distance,
                const TScenePlane& plane, const TCamera3D& camera);

private:
    // The shadow's top-left and per-pixel steps in the object's units along
    // its axes, less the offset; false when there is nothing to draw.
    bool Layout(TPointF size, TPointF& topLeft, TPointF& step) const;

    TShadowPicture m_picture;
    TDrawPicture m_draw;
    ql::TPoint m_size;
    bool m_reduced;
    int32_t m_level = 0;
    float m_distanceScale;
    bool m_3D;
};

}  // namespace orb
