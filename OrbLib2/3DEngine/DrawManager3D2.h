// The device drawer over a render device: frames, pictures as tiled
// textures, boxes, borders, masked drawing, video surfaces, the show-wide
// post effect and slides rendered into textures for transitions. It owns
// the screen and re-creates its own device resources after a loss.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "OrbLib2/3DEngine/Dev3DApp2.h"
#include "OrbLib2/3DEngine/Dev3DExt2.h"
#include "OrbLib2/3DEngine/qlDrawFilter2.h"
#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/3DEngine/qlTriController.h"

namespace orb {

class T3DDrawer;

// The picture of a video object: three planes converted by the device, or
// one grey texture where the device cannot convert.
class T3DYUV {
public:
    T3DYUV(T3DScreen& screen, int32_t width, int32_t height, bool planes);
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    bool HasPlanes() const { return m_y != nullptr; }
    // The frame's planes: Y of the surface size, U and V of half of it
    // (halved toward zero), converted by the BT.709 matrix or else BT.601.
    void SetFrame(const uint8_t* y, int32_t yPitch, const uint8_t* u, int32_t uPitch,
                  const uint8_t* v, int32_t vPitch, bool bt709 = false);
    // The device lost the textures. The planes keep their bytes and go up
    // again when next drawn, so a still frame survives the loss.
    void TexturesLost();
    bool HasFrame() const { return m_hasFrame; }
    bool Bt709() const { return m_bt709; }
    TVideoTexture* Plane(int32_t index) const;
    TGrayScaleTexture* Gray() const { return m_gray.get(); }

private:
    int32_t m_width, m_height;
    bool m_hasFrame = false;
    bool m_bt709 = false;
    std::unique_ptr<TVideoTexture> m_y, m_u, m_v;
    std::unique_ptr<TGrayScaleTexture> m_gray;
};

// The render targets of transitions: two output-sized textures (the slides
// before and after) used in turn, and a 256 x 256 one for small pieces.
class TRenderTargetD3DEffecter {
public:
    explicit TRenderTargetD3DEffecter(T3DScreen& screen) : m_screen(screen) {}
    // Creates or re-sizes the targets for an output of this size.
    void Init(int32_t width, int32_t height);
    bool Inited() const { return m_targets[0] != nullptr; }
    TRenderTargetTexture* Current() const { return m_targets[m_current].get(); }
    void Swap() { m_current ^= 1; }
    TRenderTargetTexture* Mesh() const { return m_mesh.get(); }
    void SetClipRect(const ql::TRect& rect) { m_clip = rect; }

private:
    T3DScreen& m_screen;
    std::unique_ptr<TRenderTargetTexture> m_targets[2];
    std::unique_ptr<TRenderTargetTexture> m_mesh;
    int32_t m_current = 0;
    ql::TRect m_clip;
};

class T3DDrawer : public TDeviceDrawer {
public:
    // The device must outlive the drawer. Every picture must be released
    // (ReleaseImage) before the drawer goes.
    explicit T3DDrawer(TRenderDevice& device);
    ~T3DDrawer() override;

    bool BeginFrame() override;
    void EndFrame() override;
    TDxResult Present() override;
    ql::TRect GetDeviceRect() const override;
    void Init(const TOutputDevice& output) override;
    void Close() override;
    void PrepareImage(TDrawPicture& picture, const TImageDrawParams& params) override;
    void DecodeImage(ql::TBitmapStore& store, const TImageDrawParams& params) override;
    void ReleaseImage(TDrawPicture& picture) override;
    void SetOutputSize(int32_t width, int32_t height) override;
    // The output the window now has (a resize): the next frame begins on it
    // after the device's lost-and-ready sequence.
    void SetOutputDevice(const TOutputDevice& output);
    void Clear(uint32_t colour, bool alsoDepth) override;
    void ClearRect(uint32_t colour, const ql::TRect& rect) override;
    bool DrawScene(TDrawScene& scene) override;
    bool DrawTransition(TDrawScene* oldSlide, TDrawScene* newSlide, bool skipEffect,
                        TTransitionFilter* filter) override;
    void DrawImage(TDrawPicture& picture, TPointF position, const TImageDrawParams& params,
                   TPointF axisX, TPointF axisY, TPointF origin) override;
    void DrawBox(TPointF position, TPointF size, const TBoxParams& params, TPointF axisX,
                 TPointF axisY) override;
    void DrawFrameBorder(TPointF position, TPointF size, float thickness, const TBoxParams& params,
                         TPointF axisX, TPointF axisY, bool antialias) override;
    void DrawRect(TPointF corner1, TPointF corner2, uint32_t colour) override;
    // True perspective: tile corners become homogeneous vertices and the
    // device interpolates texels perspective-correct and cuts away what lies
    // behind the viewer. Flat planes draw exactly as DrawImage and DrawBox.
    void DrawImage3D(TDrawPicture& picture, const TImageDrawParams& params,
                     const TScenePlane& plane, const TCamera3D& camera) override;
    void DrawBox3D(TPointF size, const TBoxParams& params, const TScenePlane& plane,
                   const TCamera3D& camera) override;
    bool BeginPostEffect() override;
    void EndPostEffect(uint8_t strength, int32_t percent) override;
    bool CaptureFrame(ql::TBitmap& bitmap) override;
    // The frame's rows as the device finishes them (see ReadPixelBands),
    // while capturing; false when there is no frame to read.
    bool CaptureBands(const TRenderDevice::TBandSink& sink);
    std::unique_ptr<ql::TBitmap> CaptureToBitmap() override;
    void SetViewport(const ql::TRect& dest, ql::TPoint destSize) override;

    // The picture where the mask's alpha is opaque, nothing where it is
    // transparent; the mask spans the whole drawn part.
    void DrawMaskedImage(TDrawPicture& picture, TPointF position, const TImageDrawParams& params,
                         TPointF axisX, TPointF axisY, TCustomTexture& mask);
    // Draws what draw draws through the mask texture, which spans the
    // output rectangle.
    void DrawMaskedScene(const std::function<void()>& draw, TCustomTexture& mask, uint8_t opacity);
    void DrawMaskedScene(const std::function<void()>& content,
                         const std::function<void()>& masks) override;
    // Masked scenes nest this deep (a view port inside a view port); deeper
    // ones draw nothing, so that a crafted show cannot ask for a target per
    // level without end.
    static constexpr int32_t kMaxMaskNesting = 4;

    // nullptr when the drawer cannot make one now.
    T3DYUV* CreateVideoSurface(int32_t width, int32_t height);
    void ReleaseVideoSurface(T3DYUV* surface);
    void DrawVideoSurface(T3DYUV& surface, TPointF position, TPointF axisX, TPointF axisY,
                          uint8_t opacity);
    // Frame pixel (x, y) lands on the plane at local (x, y), seen through the
    // camera, as DrawImage3D places a picture.
    void DrawVideoSurface3D(T3DYUV& surface, const TScenePlane& plane, const TCamera3D& camera,
                            uint8_t opacity);

    // Renders a slide into the effecter's current target (origin at the
    // output's top-left); the target, or nullptr when nothing could be drawn.
    TRenderTargetTexture* RenderSlideToTexture(TDrawScene& scene, bool edgeExtend = false);
    // Draws a texture's top-left part of the output size over the output.
    void DrawOutputTexture(TCustomTexture& texture, uint8_t opacity = 255);

    // While capturing, frames are not presented and CaptureFrame works.
    void SetCaptureMode(bool capture) { m_capture = capture; }
    void SetReadyNotification(std::function<void()> notify) { m_readyNotify = std::move(notify); }
    void SetLostNotification(std::function<void()> notify) { m_lostNotify = std::move(notify); }
    // The output rectangle inside the device rectangle.
    ql::TRect OutputRect() const { return m_outputRect; }
    T3DScreen& Screen() { return m_screen; }
    TTextureManager6& TextureManager();
    int32_t ShaderLevel() const;
    bool HasPostEffectTarget() const { return m_postTarget != nullptr; }
    TRenderTargetD3DEffecter& Effecter() { return m_effecter; }
    TEffController& EffectSink() { return m_effectSink; }
    // The drawer's mutex: loading threads hold it while they upload pictures.
    std::recursive_mutex& Mutex() { return m_mutex; }
    // Serialises whole frames: the outermost DrawScene holds it, so a frame
    // drawn from another thread (a snapshot) waits for the one in progress.
    std::recursive_mutex& DrawLock() { return m_drawLock; }

private:
    void RendererReady();
    void RendererLost();
    void UpdateScreenViewport();
    TPointF Offset(TPointF p) const { return {p.x + m_offsetX, p.y + m_offsetY}; }
    bool DrawSceneSteps(TDrawScene& scene);
    // One frame of a running effect, inside the scene (both slides may be nullptr).
    void DrawEffectFrame(TDrawFilter& effect, TDrawScene* oldSlide, TDrawScene* newSlide);
    // Renders a slide into the effecter's current target and moves the
    // effecter on to the other one; nullptr when nothing was drawn.
    TRenderTargetTexture* RenderForEffect(TDrawScene* scene, bool edgeExtend);
    // Copies texels with no filtering or blending.
    void CopyTexels(TCustomTexture& source, const ql::TRect& from, TCustomTexture& target,
                    ql::TPoint to);
    void ExtendEdges(TRenderTargetTexture& target, int32_t width, int32_t height);
    TMultiTexture6* PictureTexture(TDrawPicture& picture, const TImageDrawParams& params);
    // The targets of a masked scene at this nesting depth, of the device's
    // size; nullptr beyond kMaxMaskNesting.
    struct TMaskLayer {
        std::unique_ptr<TRenderTargetTexture> content, masks;
    };
    TMaskLayer* MaskLayer(int32_t depth);
    // The part of the texture's view that params asks for (empty: nothing to draw).
    static ql::TRect ViewSource(const TMultiTexture6& texture, const TImageDrawParams& params);
    // The vertex position of a scene point, the drawing offset included.
    void PlaceProjected(const TCamera3D& camera, const TPoint3F& point, TVertex& vertex) const;
    // Draws the surface's frame as one quad whose corner (s, t) of the unit
    // square place positions.
    void DrawVideoPlaced(T3DYUV& surface, uint8_t opacity,
                         const std::function<void(float, float, TVertex&)>& place);
    // Draws a texture's [0, width) x [0, height) texels at target rect with the viewport off.
    void DrawTextureRect(const TDrawState& state, const ql::TRect& rect, int32_t width,
                         int32_t height, int32_t texWidth, int32_t texHeight);

    std::recursive_mutex m_mutex;
    std::recursive_mutex m_drawLock;
    // The pictures' texture stores that hold textures; declared before the
    // texture manager, so that it outlives every texture. Under m_mutex.
    TTextureRegistry m_textureRegistry;
    uint64_t m_frameNumber = 1;  // under m_mutex: counts BeginFrame
    T3DScreen m_screen;
    TRenderDevice& m_device;
    std::unique_ptr<TTextureManager6> m_textures;
    std::unique_ptr<TBoxAntialiaser> m_antialiaser;
    std::vector<std::unique_ptr<T3DYUV>> m_videos;
    TRenderTargetD3DEffecter m_effecter;
    TEffController m_effectSink{m_screen};  // the effecter's one-cell sink
    std::unique_ptr<TRenderTargetTexture> m_postTarget;
    std::vector<TMaskLayer> m_maskLayers;
    int32_t m_maskDepth = 0;  // masked scenes being drawn now
    bool m_initialised = false;
    bool m_inScene = false;
    bool m_insideTextureRender = false;
    bool m_postEffectActive = false;
    bool m_capture = false;
    ql::TPoint m_outputSize;  // 0 x 0: the whole device
    ql::TRect m_outputRect;
    std::function<void()> m_readyNotify;
    std::function<void()> m_lostNotify;
};

}  // namespace orb
