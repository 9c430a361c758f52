// Drawing a bitmap into another through an affine transform, with nearest or
// bilinear sampling, a global opacity and the source's per-pixel alpha.
// Destinations are "R8G8B8"; sources "R8G8B8" or "A8R8G8B8".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "QlLib/Graphics/FastDIB.h"
#include "QlLib/Graphics/qlAffineKernels.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlDrawThreads.h"

namespace ql {

struct TPointF {
    float x = 0, y = 0;
};

// A source point (u, v) lands on O + u X + v Y.
struct TAffineFrame {
    float ox = 0, oy = 0, xx = 1, xy = 0, yx = 0, yy = 1;
    double invDet = 1;

    // False (frame unusable) when the axes are parallel or nearly so.
    bool Build(TPointF origin, TPointF axisX, TPointF axisY);
    void Inverse(double px, double py, double& u, double& v) const;
};

// A float as 16.16 fixed point: round(f * 65536 - 0.5), wrapped to 32 bits.
uint32_t ToFixed(double f);

struct TAffineEdge {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // (x0, y0) is the end with the smaller y
};

struct TAffineCoverage {
    int32_t width = 0, height = 0;  // source size
    TAffineFrame frame;
    TPointF corners[4];  // images of (0,0), (W,0), (W,H), (0,H)
    TAffineEdge edges[4];
    TRect bounds;  // destination pixels the transformed source may touch
};

// False when the frame is singular (nothing can be drawn).
bool BuildCoverage(TAffineCoverage& coverage, int32_t width, int32_t height, TPointF origin, TPointF axisX,
                   TPointF axisY);

// The first and last destination column the transformed source touches in
// the row band [y, y + 1), clipped to clip; false when there is none.
bool RowSpan(const TAffineCoverage& coverage, int32_t y, const TRect& clip, int32_t& first, int32_t& last);

void DrawAffineNearest(const TAffineCoverage& coverage, TBitmap& dst, const TBitmap& src, int32_t opacity,
                       const TRect& clip);
void DrawAffineBilinear(const TAffineCoverage& coverage, TBitmap& dst, const TBitmap& src, int32_t opacity,
                        const TRect& clip, TSimdLevel simd = BestSimdLevel());

// The largest size with the source's aspect ratio that fits the box.
TPoint FitSize(int32_t srcWidth, int32_t srcHeight, int32_t boxWidth, int32_t boxHeight);

// Draws a prepared transform tile by tile: tiles wholly inside the source's
// interior skip all bounds tests. Bands of tiles may run across a pool.
class TAffineDrawer : public TObj {
public:
    TAffineDrawer(int32_t tileWidth, int32_t tileHeight);

    int32_t Opacity() const { return m_opacity; }
    void SetOpacity(int32_t opacity) { m_opacity = opacity; }
    // The pool draws the bands; it must outlive the drawer. nullptr draws on
    // the calling thread.
    void SetThreadPool(TDrawThreadPool* pool) { m_pool = pool; }
    void SetSimdLevel(TSimdLevel level) { m_simd = level; }

    // Computes the frame and the tiles for the destination rectangle.
    void Prepare(const TRect& dstRect, TPointF origin, TPointF axisX, TPointF axisY);
    // Draws the prepared tiles into dst, which must cover the prepared rectangle.
    void Draw(TBitmap& dst);

    struct TTile {
        int32_t left, right;
        uint32_t u, v;  // 16.16 source point of the top-left pixel centre, moved back half a pixel
        uint8_t kind;   // 0 skip, 1 bounds-tested, 2 and 3 interior
    };
    struct TBand {
        int32_t top, bottom;
        size_t first, count;  // range in the tile list
    };
    const std::vector<TBand>& Bands() const { return m_bands; }
    const std::vector<TTile>& Tiles() const { return m_tiles; }

protected:
    // The source size, the three source rectangles and whatever the tile
    // routines need; false when there is nothing to draw.
    virtual bool SetupKinds(TRect& full, TRect& fast, TRect& third) = 0;
    virtual void DrawTile(uint8_t kind, const TTile& tile, const TBand& band, TBitmap& dst) = 0;

    int32_t m_tileWidth, m_tileHeight;
    int32_t m_opacity = 255;
    TSimdLevel m_simd = BestSimdLevel();
    uint32_t m_dudx = 0, m_dvdx = 0, m_dudy = 0, m_dvdy = 0;

private:
    TDrawThreadPool* m_pool = nullptr;
    TRect m_prepared;
    TAffineFrame m_frame;
    bool m_valid = false;
    bool m_haveFrame = false;
    TPointF m_origin, m_axisX, m_axisY;
    std::vector<TBand> m_bands;
    std::vector<TTile> m_tiles;
};

class TImageDrawer : public TAffineDrawer {
public:
    using TAffineDrawer::TAffineDrawer;
    // Accepts "R8G8B8" and "A8R8G8B8" only ("Unsupported PixelFormat").
    void SetImage(const TBitmap* image);  // the image must outlive its use
    void SetImage(std::unique_ptr<TBitmap> image);
    const TBitmap* Image() const { return m_image; }

protected:
    const TBitmap* m_image = nullptr;

private:
    std::unique_ptr<TBitmap> m_owned;
};

class TBilinearDrawer : public TImageDrawer {
public:
    using TImageDrawer::TImageDrawer;

protected:
    bool SetupKinds(TRect& full, TRect& fast, TRect& third) override;
    void DrawTile(uint8_t kind, const TTile& tile, const TBand& band, TBitmap& dst) override;

private:
    TBlendTable m_blend{};
    std::vector<const uint8_t*> m_rows;
};

// How a picture is put into a dialog box.
struct TDialogImageRequest {
    int32_t boxWidth = 0, boxHeight = 0;
    bool enlarge = true;           // false: a smaller picture keeps its own size
    bool plainBackground = false;  // true: pictures with alpha are flattened too
    uint32_t background = 0;       // "A8R8G8B8"
};

// Supplies the picture at a mip level (level 0 is full size, each level the
// one above halved, rounding up), as the image store does.
using TMipLevelSource = std::function<const TBitmap*(int32_t level)>;

// The picture scaled into a new DIB of the fitted size: 24-bit, or 32-bit for
// pictures with alpha and no plain background. nullptr for an empty box.
std::unique_ptr<TDibBitmap> ScaleDialogImage(int32_t width, int32_t height, bool hasAlpha,
                                             const TMipLevelSource& levels, const TDialogImageRequest& request);

}  // namespace ql
