// The screen (one renderer bound to one output, with the list of every device
// resource made on it) and the base of every texture.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "OrbLib2/3DBasics/qlRenderDevice.h"
#include "QlLib/SysObj.h"

namespace orb {

class TCustomTexture;

class T3DScreen : public ql::TObj {
public:
    // The device must outlive the screen.
    explicit T3DScreen(TRenderDevice& device);
    ~T3DScreen() override;

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

    // Draws two triangles over corners given clockwise from the top-left.
    TDxResult DrawQuad(const TDrawState& state, const TVertex (&corners)[4]);

private:
    void OnLost();

    TRenderDevice& m_device;
    bool m_lost = false;
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
    // Fills every mip level and hands it to the device.
    virtual TDxResult Upload();
    virtual void Release();
    // Creates the texture when needed and uploads what is pending.
    virtual TDxResult Load();

    T3DScreen& Screen() const { return m_screen; }
    TTextureHandle Handle() const { return m_handle; }
    TTextureUsage Usage() const { return m_usage; }
    bool IsRenderTarget() const {
        return m_usage == TTextureUsage::RenderTarget || m_usage == TTextureUsage::RenderTargetLockable;
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
