// The screen (one renderer bound to one output, with the list of every device
// resource made on it) and the base of every texture.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "OrbLib2/3DBasics/qlRenderDevice.h"
#include "QlLib/SysObj.h"

namespace orb {

class TCustomTexture;

// What the screen draws on: the output's size and whether it is the whole
// display in exclusive mode.
struct TOutputDevice {
    int32_t width = 0;
    int32_t height = 0;
    bool fullScreen = false;
    bool operator==(const TOutputDevice&) const = default;
};

// Where 2D positions land: target pixel = position * scale + offset, then
// less the origin of the current render target.
struct TViewport {
    float offsetX = 0, offsetY = 0;
    float scaleX = 1, scaleY = 1;
};

// One entry of the render-target stack: a texture (nullptr = the back buffer)
// and the output position that its top-left pixel shows.
struct TRenderTargetWrapper {
    TCustomTexture* target = nullptr;
    ql::TPoint origin;
};

class T3DScreen : public ql::TObj {
public:
    // The device must outlive the screen.
    explicit T3DScreen(TRenderDevice& device);
    ~T3DScreen() override;

    // The output as the window now reports it; the next scene begin compares
    // it with the one it drew last.
    void SetOutput(const TOutputDevice& output) { m_wantedOutput = output; }
    const TOutputDevice& Output() const { return m_output; }
    // The output rectangle: (0, 0) to the device's output size.
    ql::TRect OutputRect() const { return {0, 0, m_device.OutputWidth(), m_device.OutputHeight()}; }
    // The adapter's largest texture.
    int32_t MaxTexWidth() const { return m_device.Caps().maxTexWidth; }
    int32_t MaxTexHeight() const { return m_device.Caps().maxTexHeight; }

    // The render-target stack; the back buffer is pushed at scene begin.
    // Push answers the device's result (a target that cannot be made now
    // is not pushed).
    TDxResult PushRenderTarget(TCustomTexture* target, ql::TPoint origin);
    void PopRenderTarget();
    size_t RenderTargetDepth() const { return m_targets.size(); }
    const TViewport& Viewport() const { return m_viewport; }
    void SetViewport(const TViewport& viewport) { m_viewport = viewport; }
    // While set, every draw blends this way whatever its state says (the
    // masks of a view port gather by their maximum).
    void SetBlendOverride(std::optional<TBlendMode> blend) { m_blendOverride = blend; }
    std::optional<TBlendMode> BlendOverride() const { return m_blendOverride; }
    // Clears the current target (the whole of it, or rect in output pixels).
    TDxResult Clear(uint32_t colour, const ql::TRect& rect = {});

    // nullptr while the device is lost.
    TRenderDevice* Renderer() { return m_lost ? nullptr : &m_device; }
    bool RendererReady() const { return !m_lost && m_device.LastResult() != TDxResult::NotReady; }
    // The last result of a device call, DeviceLost while lost.
    TDxResult LastResult() const { return m_lost ? TDxResult::DeviceLost : m_device.LastResult(); }

    // Passes a device result on; DeviceLost runs the lost sequence.
    TDxResult Check(TDxResult result);
    // Brings a lost device back (the ready hook runs) and begins the scene;
    // false when nothing can be drawn this frame.
    bool BeginScene();
    TDxResult EndScene();

    void SetLostHook(std::function<void()> hook) { m_lostHook = std::move(hook); }
    void SetReadyHook(std::function<void()> hook) { m_readyHook = std::move(hook); }

    // Textures register themselves while they live.
    void Register(TCustomTexture* texture);
    void Unregister(TCustomTexture* texture);
    const std::vector<TCustomTexture*>& Resources() const { return m_resources; }
    // Every resource drops its device texture; the objects keep their sources.
    void ReleaseResources();

    // Draws two triangles over corners given clockwise from the top-left,
    // through the viewport into the current target.
    TDxResult DrawQuad(const TDrawState& state, const TVertex (&corners)[4]);
    // Draws triangles (three vertices each) the same way; the vertices are
    // mapped in place.
    TDxResult DrawTriangles(const TDrawState& state, std::span<TVertex> vertices);

    // The ready hook ran for the current renderer (the drawer's Init runs
    // its ready sequence itself).
    void NoteReady() { m_readyReported = true; }

private:
    void OnLost();
    // Drops a working renderer (the output changed): the lost sequence runs
    // and the next scene begin brings it back.
    void DropRenderer();
    TDxResult SelectTarget(const TRenderTargetWrapper& entry);

    TRenderDevice& m_device;
    bool m_lost = false;
    bool m_readyReported = false;
    bool m_outputKnown = false;
    TOutputDevice m_output;
    TOutputDevice m_wantedOutput;
    std::vector<TRenderTargetWrapper> m_targets;
    TViewport m_viewport;
    std::optional<TBlendMode> m_blendOverride;
    std::vector<TCustomTexture*> m_resources;
    std::function<void()> m_lostHook;
    std::function<void()> m_readyHook;
};

// Texture size per axis: the next power of two not below wanted, at least 32.
int32_t TextureSide(int32_t wanted);

class TCustomTexture : public ql::TObj {
public:
    TCustomTexture(T3DScreen& screen, TTextureUsage usage, int32_t mipLevels = 1,
                   TTexelFormat format = TTexelFormat::A8R8G8B8);
    ~TCustomTexture() override;
    TCustomTexture(const TCustomTexture&) = delete;
    TCustomTexture& operator=(const TCustomTexture&) = delete;

    // The device texture, created (and filled) when missing; 0 when it
    // cannot be created now (no ready renderer, out of memory, ...).
    virtual TTextureHandle GetTexture();
    // A new size drops the device texture.
    virtual void SetSize(int32_t width, int32_t height);
    // Fills one mip level's surface; false stops the upload (cancelled).
    virtual bool FillTexture(int32_t level, ql::TBitmap& surface) { return true; }
    // The level's texels (width x height, in the texture's format) where
    // they already lie in memory, handed to the device as they are instead
    // of being copied into a surface first; nullptr to fill a surface.
    virtual std::unique_ptr<ql::TBitmap> DirectLevel(int32_t level, int32_t width, int32_t height) {
        return nullptr;
    }
    // Fills every mip level and hands it to the device.
    virtual TDxResult Upload();
    virtual void Release();
    // Creates the texture when needed and uploads what is pending.
    virtual TDxResult Load();

    T3DScreen& Screen() const { return m_screen; }
    TTextureHandle Handle() const { return m_handle; }
    TTextureUsage Usage() const { return m_usage; }
    bool IsRenderTarget() const {
        return m_usage == TTextureUsage::RenderTarget ||
               m_usage == TTextureUsage::RenderTargetLockable;
    }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t TexWidth() const { return m_texWidth; }
    int32_t TexHeight() const { return m_texHeight; }
    double InvWidth() const { return m_invWidth; }
    double InvHeight() const { return m_invHeight; }
    int32_t MipLevels() const { return m_mipLevels; }
    uint8_t Opacity() const { return m_opacity; }
    void SetOpacity(uint8_t opacity) { m_opacity = opacity; }
    bool NeedsUpload() const { return m_needsUpload; }
    // The content changed: the next Load uploads again.
    void Invalidate() { m_needsUpload = true; }
    // The last result of this texture's creation.
    TDxResult CreateResult() const { return m_createResult; }

    // Makes the device texture without filling it; the creation result.
    TDxResult TryCreate();

private:
    T3DScreen& m_screen;
    TTextureHandle m_handle = 0;
    TTextureUsage m_usage;
    TTexelFormat m_format;
    int32_t m_mipLevels;
    int32_t m_width = 0, m_height = 0;
    int32_t m_texWidth = 32, m_texHeight = 32;
    double m_invWidth = 1.0 / 32, m_invHeight = 1.0 / 32;
    uint8_t m_opacity = 255;
    bool m_needsUpload = true;
    TDxResult m_createResult = TDxResult::Ok;
};

class TRenderTargetTexture : public TCustomTexture {
public:
    TRenderTargetTexture(T3DScreen& screen, int32_t width, int32_t height, bool lockable = false);
};

}  // namespace orb
