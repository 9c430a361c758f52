// The device drawer: the one interface through which the show model and the
// playback engine draw, whatever renders below it. Also the small pieces the
// drawable objects share with it: scenes, pictures, drawing parameters and
// the global draw lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "OrbLib2/3DEngine/Dev3DExt2.h"
#include "OrbLib2/3DEngine/qlOrbEffectParams.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"

namespace orb {

class TDeviceDrawer;
class TDrawFilter;

// The small base of drawable list entries.
struct TDrawItem {
    bool visible = false;
    bool forcedVisible = false;
    bool IsVisible() const { return visible || forcedVisible; }
};

// Something that draws one frame of itself through a drawer: a slide with
// its object tree.
class TDrawScene {
public:
    virtual ~TDrawScene() = default;
    // Calls the drawer's primitive operations.
    virtual void Draw(TDeviceDrawer& drawer) = 0;
    virtual bool WantsPostEffect() const { return false; }
    // Drawing is over (also when it ended in an exception).
    virtual void DrawFinished() {}
};

// A picture as the drawer sees it: its bitmap store and the multi-textures
// built from it, one per display variant.
struct TDrawPicture {
    ql::TRef<ql::TBitmapStore> store;
    TTextureStore2 textures;
};

struct TImageDrawParams {
    int32_t level = 0;  // reduction level: positions and source shrink by 2^level
    int32_t columns = 1;
    int32_t rows = 1;
    ql::TRect source;  // in level-0 pixels; empty = the whole picture
    uint8_t opacity = 255;
    TFilter filter = TFilter::Bilinear;
    uint8_t edgeFlags = 0;  // TEdgeFlags: sides of the source drawn with smooth edges
};

// Fill types 0 to 3: diagonal gradients, colour 1 at the top-left corner for
// 0, each next type turning it on by one corner clockwise; 4 to 7: linear
// gradients, colour 1 along the left side for 4, the top for 5, the right for
// 6 and the bottom for 7; 8: solid.
// The fills of boxes and slide backgrounds.
inline constexpr int32_t kDiagonalFillTLBR = 0;        // colour 1 top-left, colour 2 bottom-right
inline constexpr int32_t kDiagonalFillTRBL = 1;        // colour 1 top-right, colour 2 bottom-left
inline constexpr int32_t kVerticalGradientFill = 5;    // colour 1 on top
inline constexpr int32_t kHorizontalGradientFill = 6;  // colour 1 on the right
inline constexpr int32_t kSolidFill = 8;

struct TBoxParams {
    int32_t fillType = 8;
    uint32_t colour1 = 0xFF000000u;  // 0xAARRGGBB
    uint32_t colour2 = 0xFF000000u;
    int32_t opacity = 100;  // percent
    uint8_t edgeFlags = 0;  // TEdgeFlags: sides drawn with smooth edges
};

// Corner colours top-left, top-right, bottom-right, bottom-left for a box;
// the opacity is clamped to 0..100 percent.
void BoxCornerColours(const TBoxParams& params, uint32_t (&corners)[4]);

// The rectangle grown by 2 dx + 1 and 2 dy + 1.
ql::TRect GrowRect(const ql::TRect& rect, int32_t dx, int32_t dy);

// A point of the 3D scene: x and y in screen pixels, z the depth away from
// the viewer; the picture plane is z = 0.
struct TPoint3F {
    float x = 0, y = 0, z = 0;
};

// The viewer, in front of the picture plane (z below 0). A point (x, y, z)
// is seen at (cx + cz (cx - x) / d, cy + (cy - y) cz / d) with d = z - cz,
// so points on the picture plane keep their screen position.
struct TCamera3D {
    float x = 0, y = 0, z = -1;
};

// A flat part of the scene: local point (u, v) lies at
// origin + u axisX + v axisY.
struct TScenePlane {
    TPoint3F origin, axisX, axisY;
    TPoint3F At(float u, float v) const {
        return {origin.x + u * axisX.x + v * axisY.x, origin.y + u * axisX.y + v * axisY.y,
                origin.z + u * axisX.z + v * axisY.z};
    }
    // All of the plane lies on the picture plane.
    bool IsFlat() const { return origin.z == 0 && axisX.z == 0 && axisY.z == 0; }
};

// The homogeneous form of the projection: the screen point is (x / w, y / w).
// w is 1 on the picture plane and 0 or less at and behind the viewer's depth,
// where a drawer must clip instead of dividing.
struct TProjected {
    float x = 0, y = 0, w = 1;
};
TProjected ProjectHomogeneous(const TCamera3D& camera, const TPoint3F& point);

// Progress of a running transition as the drawer needs it.
class TTransitionFilter {
public:
    TTransitionFilter();
    virtual ~TTransitionFilter();
    // A copy starts without an effect object: it makes its own on first use.
    TTransitionFilter(const TTransitionFilter&);
    TTransitionFilter& operator=(const TTransitionFilter&);
    // Milliseconds since the effect began.
    virtual double Time() const = 0;
    virtual double Duration() const = 0;
    // Which effect runs: class 0 or below is none (the drawer then leaves
    // the frame to DrawEffect below), and its parameters.
    virtual int32_t EffectClass() const { return kNoEffectClass; }
    virtual int32_t EffectType() const { return 0; }
    virtual const TEffectParams& Params() const;
    // The effect object, made by the drawer on first use and kept for the
    // length of the transition; nullptr before.
    TDrawFilter* EffectObject() const { return m_effectObject.get(); }
    void SetEffectObject(std::unique_ptr<TDrawFilter> effect);
    // Draws one frame while the effect runs (both slides); the effects
    // decide how. Without it the new slide is drawn.
    virtual bool DrawEffect(TDeviceDrawer& drawer, TDrawScene* oldSlide, TDrawScene* newSlide) {
        return false;
    }

private:
    std::unique_ptr<TDrawFilter> m_effectObject;
};

class TDeviceDrawer {
public:
    // Stage numbers given to the frame hook.
    enum TFrameStage : int32_t { fsBegin = 0, fsBeforeScene = 1, fsAfterScene = 2, fsEnd = 3 };
    using TFrameHook = std::function<void(int32_t stage)>;

    virtual ~TDeviceDrawer() = default;

    virtual bool BeginFrame() = 0;
    virtual void EndFrame() = 0;
    // The result of presenting the frame.
    virtual TDxResult Present() = 0;
    void SetClipRect(const ql::TRect& rect) { m_clipRect = rect; }
    virtual ql::TRect GetDeviceRect() const = 0;
    virtual void Init(const TOutputDevice& output) = 0;
    virtual void Close() = 0;
    virtual void PrepareImage(TDrawPicture& picture, const TImageDrawParams& params) = 0;
    // Decodes what PrepareImage will take from the store for these
    // parameters, touching neither the device nor the drawer's state, so it
    // may run on any thread and beside another picture's decoding. Raises the
    // store's EImageError.
    virtual void DecodeImage(ql::TBitmapStore& store, const TImageDrawParams& params) {}
    virtual void ReleaseImage(TDrawPicture& picture) = 0;
    virtual void SetOutputSize(int32_t width, int32_t height) = 0;
    virtual void Clear(uint32_t colour, bool alsoDepth) = 0;
    virtual void ClearRect(uint32_t colour, const ql::TRect& rect) = 0;
    void SetOffset(float x, float y) {
        m_offsetX = x;
        m_offsetY = y;
        m_offsetSet = x != 0 || y != 0;
    }
    // Whether a frame was drawn and presented.
    virtual bool DrawScene(TDrawScene& scene) = 0;
    virtual bool DrawTransition(TDrawScene* oldSlide, TDrawScene* newSlide, bool skipEffect,
                                TTransitionFilter* filter) = 0;
    // View pixel (x, y) of the picture's source lands at
    // origin + position + x * axisX + y * axisY.
    virtual void DrawImage(TDrawPicture& picture, TPointF position, const TImageDrawParams& params,
                           TPointF axisX, TPointF axisY, TPointF origin) = 0;
    // The box spans width * axisX and height * axisY from position.
    virtual void DrawBox(TPointF position, TPointF size, const TBoxParams& params, TPointF axisX,
                         TPointF axisY) = 0;
    virtual void DrawFrameBorder(TPointF position, TPointF size, float thickness,
                                 const TBoxParams& params, TPointF axisX, TPointF axisY,
                                 bool antialias) = 0;
    virtual void DrawRect(TPointF corner1, TPointF corner2, uint32_t colour) = 0;
    // Source pixel (x, y) of the picture (level-0 pixels from the source's
    // top-left) lands on the plane at local (x, y), seen through the camera.
    // The base class draws flat planes exactly and approximates tilted ones
    // by the parallelogram through three projected corners; drawers with
    // perspective texturing override it.
    virtual void DrawImage3D(TDrawPicture& picture, const TImageDrawParams& params,
                             const TScenePlane& plane, const TCamera3D& camera);
    // The box spans local (0, 0) to size on the plane.
    virtual void DrawBox3D(TPointF size, const TBoxParams& params, const TScenePlane& plane,
                           const TCamera3D& camera);
    // Draws what content draws seen through what masks draws, over what lies
    // beneath: at each pixel the content shows by the largest alpha any mask
    // drew there (the union of the masks). Masks are drawn with the usual
    // operations; their opacity scales their alpha. A drawer that cannot draw
    // masked content draws nothing.
    virtual void DrawMaskedScene(const std::function<void()>& content,
                                 const std::function<void()>& masks) {}
    virtual bool BeginPostEffect() = 0;
    virtual void EndPostEffect(uint8_t strength, int32_t percent) = 0;
    // Copies the back buffer into an "A8R8G8B8" or "R8G8B8" bitmap of the
    // device size; false outside capture mode or on failure.
    virtual bool CaptureFrame(ql::TBitmap& bitmap) = 0;
    // An "R8G8B8" bitmap of the device size, or nullptr.
    virtual std::unique_ptr<ql::TBitmap> CaptureToBitmap() = 0;
    // Scaled output: the device area maps to dest (of a destSize output).
    virtual void SetViewport(const ql::TRect& dest, ql::TPoint destSize) = 0;

    void SetFrameHook(TFrameHook hook) { m_frameHook = std::move(hook); }
    bool Ready() const { return m_ready; }

protected:
    void CallFrameHook(int32_t stage) {
        if (m_frameHook) m_frameHook(stage);
    }

    ql::TRect m_deviceRect;
    ql::TRect m_clipRect;  // empty = the whole device
    float m_offsetX = 0, m_offsetY = 0;
    bool m_offsetSet = false;
    std::optional<ql::TRect> m_destRect;
    std::optional<ql::TPoint> m_destSize;
    int32_t m_sceneNesting = 0;
    bool m_ready = false;
    TFrameHook m_frameHook;
};

}  // namespace orb
