// The OpenGL 3.3 core render device: the same contract as the software
// device, drawn by the GPU. Every GL call goes through ql::TGlApi, since the
// platform room is the only place that speaks GL; this class holds the
// pipelines (as GLSL programs), the texture handles and the back buffer.
//
// The back buffer is a framebuffer object of the output size; Present shows
// it in the window (when there is one), so headless and windowed devices
// draw and read back the very same way.
//
// The context belongs to the thread that created the device: calls from any
// other thread answer InvalidCall. Loaders decode and stage pixels on their
// own threads and hand them to UploadLevel on the owner thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "OrbLib2/3DBasics/qlRenderDevice.h"

namespace ql {
class TGlApi;
class TGlContext;
}  // namespace ql

namespace orb {

class TGlDevice : public TRenderDevice {
public:
    // A device drawing through api with an output of this size; null with the
    // reason in error when a program does not build or the back buffer cannot
    // be made.
    static std::unique_ptr<TGlDevice> Create(std::unique_ptr<ql::TGlApi> api, int32_t width,
                                             int32_t height, std::string& error);
    // A device on a context of its own with no window (EGL surfaceless, or the
    // first EGL device): what headless renders and tests draw on; no display
    // is needed.
    static std::unique_ptr<TGlDevice> CreateHeadless(int32_t width, int32_t height,
                                                     std::string& error);
    ~TGlDevice() override;

    TDeviceCaps Caps() const override { return m_caps; }
    TDxResult LastResult() const override { return m_lastResult; }
    int32_t OutputWidth() const override { return m_width; }
    int32_t OutputHeight() const override { return m_height; }
    TDxResult ResizeOutput(int32_t width, int32_t height) override;
    // After a lost or reset context, makes a new one through the context
    // factory and builds the pipelines and the back buffer again; DeviceLost
    // while that fails (or without a factory).
    TDxResult Restore() override;

    TDxResult CreateTexture(const TTextureDesc& desc, TTextureHandle& handle) override;
    void ReleaseTexture(TTextureHandle handle) override;
    TDxResult UploadLevel(TTextureHandle handle, int32_t level, const ql::TBitmap& pixels) override;

    TDxResult BeginScene() override;
    TDxResult EndScene() override;
    TDxResult Present() override;
    TDxResult SetRenderTarget(TTextureHandle target) override;
    void SetScissor(const ql::TRect& rect) override;
    TDxResult Clear(uint32_t colour) override;
    TDxResult DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) override;
    TDxResult ReadPixels(const ql::TRect& rect, ql::TBitmap& dst) override;

    void AttachToThread() override;
    void DetachFromThread() override;
    bool ThreadBound() const override { return true; }
    void SetPresentSink(TPresentSink sink) override { m_presentSink = std::move(sink); }
    TDxResult ShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                         int32_t stride) override;

    // Makes the context again after a loss, on the drawing thread.
    using TContextFactory = std::function<std::unique_ptr<ql::TGlContext>(std::string& error)>;
    void SetContextFactory(TContextFactory factory) { m_contextFactory = std::move(factory); }
    // Loses the context now, as a driver reset would: every texture is gone
    // and the scene calls answer DeviceLost until Restore made a new one.
    void SimulateLoss() { m_lost = true; }
    bool Lost() const { return m_lost; }

    int32_t PresentCount() const { return m_presents; }
    int32_t TextureCount() const { return int32_t(m_textures.size()); }
    // The GL renderer's name, for logs and test messages.
    std::string Renderer() const;

private:
    struct TTexture {
        TTextureDesc desc;
        uint32_t texture = 0;
        uint32_t framebuffer = 0;  // render targets only
    };
    struct TProgram {
        uint32_t id = 0;
        int32_t target = -1, opacity = -1, constants[3] = {-1, -1, -1};
        int32_t edges[4] = {-1, -1, -1, -1};
    };

    TGlDevice(std::unique_ptr<ql::TGlApi> api);
    // The programs of every pipeline; false with the compiler's log in error.
    bool BuildPipelines(std::string& error);
    TDxResult Fail(TDxResult result);
    bool OnOwnerThread() const { return std::this_thread::get_id() == m_owner; }
    TTexture* Find(TTextureHandle handle);
    bool MakeBackBuffer(int32_t width, int32_t height);
    // Binds the current target and its scissor; false if the target is gone.
    bool BindTarget();
    void SetEdges(const TProgram& program, const TSmoothEdges& edges);
    // Moves the smooth sides of a quad (corners top-left, top-right,
    // bottom-right, bottom-left as in TDrawState) outwards by a pixel or so.
    static void Widen(TVertex (&corners)[4], uint8_t sides);

    std::unique_ptr<ql::TGlApi> m_api;
    std::thread::id m_owner;
    TDeviceCaps m_caps;
    int32_t m_width = 0;
    int32_t m_height = 0;
    uint32_t m_backTexture = 0;
    uint32_t m_backFramebuffer = 0;
    std::unordered_map<TTextureHandle, TTexture> m_textures;
    TTextureHandle m_nextHandle = 1;
    TTextureHandle m_target = 0;
    ql::TRect m_scissor;
    TProgram m_programs[5];
    int32_t m_presents = 0;
    TDxResult m_lastResult = TDxResult::Ok;
    bool m_lost = false;
    TContextFactory m_contextFactory;
    TPresentSink m_presentSink;
    // The picture ShowPixels shows, kept while its size stays.
    uint32_t m_showTexture = 0, m_showFramebuffer = 0;
    int32_t m_showWidth = 0, m_showHeight = 0;
    // Kept between calls: no allocation per frame once they have grown.
    std::vector<uint8_t> m_staging;
    std::vector<TVertex> m_vertices;
    std::vector<uint32_t> m_presentFrame;
};

}  // namespace orb
