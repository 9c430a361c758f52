// Shadow pictures of show objects: the silhouette of the object's picture (or
// of a plain shape) on a canvas with room for the blur, halved until it is
// small enough, blurred and coloured by the shadow producer.
//
// Drawing the finished shadow under its object belongs to the draw manager;
// TShadow keeps what that drawing needs and works out the offset and placement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Graphics/qlAffineDraw.h"
#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

struct TShadowParams {
    std::u16string PictureKey = u"N\\A";  // "N\A": a shadow of a plain shape
    ql::TRect ObjectRect;                  // left and top must be 0
    int32_t MarginX = 0, MarginY = 0;      // room for the blur on each side
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

class TShadowGenerator {
public:
    // picture: the object's picture at the store level (ignored for shape
    // shadows). Asserts when the object rectangle does not start at (0, 0).
    TShadowPicture Generate(const TShadowParams& params, const ql::TBitmap* picture, bool reduced = false,
                            const ql::TProgressHandler& progress = {}) const;
};

// A generated shadow with what drawing it needs.
class TShadow : public ql::TObj {
public:
    TShadow(TShadowPicture picture, bool reduced, float distanceScale, bool is3D)
        : m_picture(std::move(picture)), m_reduced(reduced), m_distanceScale(distanceScale), m_3D(is3D) {}

    const TShadowPicture& Picture() const { return m_picture; }
    bool Reduced() const { return m_reduced; }
    float DistanceScale() const { return m_distanceScale; }
    bool Is3D() const { return m_3D; }

    // The shadow's offset from its object: length sqrt(|X| |Y|) * distance *
    // scale / 100 in the direction of angle (degrees); along the object's own
    // axes when 3D, else in screen x and y.
    ql::TPointF Offset(ql::TPointF axisX, ql::TPointF axisY, float distance, float angle) const;

private:
    TShadowPicture m_picture;
    bool m_reduced;
    float m_distanceScale;
    bool m_3D;
};

}  // namespace orb
