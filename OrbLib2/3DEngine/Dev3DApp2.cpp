#include "OrbLib2/3DEngine/Dev3DApp2.h"

#include <algorithm>
#include <string>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/qlLog.h"

namespace orb {

T3DScreen::T3DScreen(TRenderDevice& device) : m_device(device) {}

T3DScreen::~T3DScreen() {
    // Textures may outlive the screen only as objects without device textures.
    for (TCustomTexture* texture : std::vector<TCustomTexture*>(m_resources)) texture->Release();
}

TDxResult T3DScreen::Check(TDxResult result) {
    if (result == TDxResult::DeviceLost && !m_lost) OnLost();
    return result;
}

void T3DScreen::OnLost() {
    ql::GlobalLog().WriteLine(std::u16string_view(u"T3DRenderer9: DEVICE LOST!"));
    m_lost = true;
    // Handles made before the loss are stale: drop them without a device call.
    ReleaseResources();
    DropRenderer();
}

void T3DScreen::DropRenderer() {
    m_lost = true;
    m_readyReported = false;
    m_targets.clear();
    if (m_lostHook) m_lostHook();
}

bool T3DScreen::BeginScene() {
    if (!m_outputKnown) {
        m_outputKnown = true;
        if (m_wantedOutput.width <= 0 || m_wantedOutput.height <= 0)
            m_wantedOutput = {m_device.OutputWidth(), m_device.OutputHeight(),
                              m_wantedOutput.fullScreen};
        m_output = m_wantedOutput;
        if (m_output.width != m_device.OutputWidth() || m_output.height != m_device.OutputHeight())
            Check(m_device.ResizeOutput(m_output.width, m_output.height));
    } else if (!(m_wantedOutput == m_output) && m_wantedOutput.width > 0 &&
               m_wantedOutput.height > 0) {
        ql::GlobalLog().WriteLine("T3DScreen.BeginScene, R= (0, 0, " +
                                  std::to_string(m_wantedOutput.width) + ", " +
                                  std::to_string(m_wantedOutput.height) + ")");
        // Between windowed and exclusive output nothing made on the old
        // device may stay; the objects keep their sources and come back.
        if (m_wantedOutput.fullScreen != m_output.fullScreen && !m_lost) ReleaseResources();
        m_output = m_wantedOutput;
        if (!m_lost) DropRenderer();
        if (m_output.width != m_device.OutputWidth() || m_output.height != m_device.OutputHeight())
            if (m_device.Restore() == TDxResult::Ok)
                m_device.ResizeOutput(m_output.width, m_output.height);
    }
    if (m_lost) {
        ql::GlobalLog().WriteLine(std::u16string_view(u"T3DScreen.BeginScene, Renderer=nil"));
        if (m_device.Restore() != TDxResult::Ok) return false;
        m_lost = false;
    }
    if (Check(m_device.BeginScene()) != TDxResult::Ok) return false;
    if (!m_readyReported) {
        m_readyReported = true;
        if (m_readyHook) m_readyHook();
        if (m_lost) return false;
    }
    if (m_targets.empty()) {
        m_targets.push_back({nullptr, {0, 0}});
        m_viewport = TViewport();
    }
    return SelectTarget(m_targets.back()) == TDxResult::Ok;
}

TDxResult T3DScreen::SelectTarget(const TRenderTargetWrapper& entry) {
    if (m_lost) return TDxResult::DeviceLost;
    TTextureHandle handle = 0;
    if (entry.target) {
        handle = entry.target->GetTexture();
        if (handle == 0)
            return LastResult() == TDxResult::Ok ? TDxResult::OutOfMemory : LastResult();
    }
    m_device.SetScissor({});
    return Check(m_device.SetRenderTarget(handle));
}

TDxResult T3DScreen::PushRenderTarget(TCustomTexture* target, ql::TPoint origin) {
    if (m_lost) return TDxResult::DeviceLost;
    const TRenderTargetWrapper entry{target, origin};
    const TDxResult result = SelectTarget(entry);
    if (result != TDxResult::Ok) {
        if (!m_targets.empty() && !m_lost) SelectTarget(m_targets.back());
        return result;
    }
    m_targets.push_back(entry);
    return TDxResult::Ok;
}

void T3DScreen::PopRenderTarget() {
    if (m_targets.empty()) return;
    m_targets.pop_back();
    if (!m_targets.empty()) SelectTarget(m_targets.back());
}

TDxResult T3DScreen::Clear(uint32_t colour, const ql::TRect& rect) {
    if (m_lost) return TDxResult::DeviceLost;
    if (!rect.IsEmpty()) {
        const ql::TPoint o = m_targets.empty() ? ql::TPoint{0, 0} : m_targets.back().origin;
        const ql::TRect local{rect.left - o.x, rect.top - o.y, rect.right - o.x, rect.bottom - o.y};
        // An empty scissor would mean the whole target: a rectangle outside
        // it clears nothing.
        if (local.right <= 0 || local.bottom <= 0 || local.left >= 1 << 20 || local.top >= 1 << 20)
            return TDxResult::Ok;
        m_device.SetScissor(
            {std::max(local.left, 0), std::max(local.top, 0), local.right, local.bottom});
    }
    const TDxResult result = Check(m_device.Clear(colour));
    if (!m_lost) m_device.SetScissor({});
    return result;
}

TDxResult T3DScreen::EndScene() {
    if (m_lost) return TDxResult::DeviceLost;
    return Check(m_device.EndScene());
}

void T3DScreen::Register(TCustomTexture* texture) {
    m_resources.push_back(texture);
}

void T3DScreen::Unregister(TCustomTexture* texture) {
    auto it = std::find(m_resources.begin(), m_resources.end(), texture);
    if (it != m_resources.end()) m_resources.erase(it);
}

void T3DScreen::ReleaseResources() {
    for (TCustomTexture* texture : m_resources) texture->Release();
}

TDxResult T3DScreen::DrawQuad(const TDrawState& state, const TVertex (&c)[4]) {
    if (m_lost) return TDxResult::DeviceLost;
    const ql::TPoint o = m_targets.empty() ? ql::TPoint{0, 0} : m_targets.back().origin;
    TVertex p[4] = {c[0], c[1], c[2], c[3]};
    for (TVertex& v : p) {
        // Homogeneous positions keep their w: the offset scales with it.
        v.x = v.x * m_viewport.scaleX + (m_viewport.offsetX - float(o.x)) * v.w;
        v.y = v.y * m_viewport.scaleY + (m_viewport.offsetY - float(o.y)) * v.w;
    }
    const TVertex triangles[6] = {p[0], p[1], p[2], p[0], p[2], p[3]};
    if (m_blendOverride) {
        TDrawState overridden = state;
        overridden.blend = *m_blendOverride;
        return Check(m_device.DrawTriangles(overridden, triangles));
    }
    return Check(m_device.DrawTriangles(state, triangles));
}

TDxResult T3DScreen::DrawTriangles(const TDrawState& state, std::span<TVertex> vertices) {
    if (m_lost) return TDxResult::DeviceLost;
    if (vertices.size() < 3) return TDxResult::Ok;
    const ql::TPoint o = m_targets.empty() ? ql::TPoint{0, 0} : m_targets.back().origin;
    for (TVertex& v : vertices) {
        v.x = v.x * m_viewport.scaleX + (m_viewport.offsetX - float(o.x)) * v.w;
        v.y = v.y * m_viewport.scaleY + (m_viewport.offsetY - float(o.y)) * v.w;
    }
    if (m_blendOverride) {
        TDrawState overridden = state;
        overridden.blend = *m_blendOverride;
        return Check(m_device.DrawTriangles(overridden, vertices));
    }
    return Check(m_device.DrawTriangles(state, vertices));
}

int32_t TextureSide(int32_t wanted) {
    int32_t side = 32;
    while (side < wanted && side < (1 << 30)) side *= 2;
    return side;
}

TCustomTexture::TCustomTexture(T3DScreen& screen, TTextureUsage usage, int32_t mipLevels,
                               TTexelFormat format)
    : m_screen(screen),
      m_usage(usage),
      m_format(format),
      m_mipLevels(std::clamp(mipLevels, 1, 16)) {
    m_screen.Register(this);
}

TCustomTexture::~TCustomTexture() {
    Release();
    m_screen.Unregister(this);
}

void TCustomTexture::SetSize(int32_t width, int32_t height) {
    Release();
    m_width = std::max(width, 1);
    m_height = std::max(height, 1);
    m_texWidth = TextureSide(m_width);
    m_texHeight = TextureSide(m_height);
    m_invWidth = 1.0 / m_texWidth;
    m_invHeight = 1.0 / m_texHeight;
}

void TCustomTexture::Release() {
    if (m_handle != 0) {
        if (TRenderDevice* device = m_screen.Renderer()) device->ReleaseTexture(m_handle);
        m_handle = 0;
    }
    m_needsUpload = true;
}

TDxResult TCustomTexture::TryCreate() {
    TRenderDevice* device = m_screen.Renderer();
    if (!device) return m_createResult = TDxResult::DeviceLost;
    const TTextureDesc desc{m_texWidth, m_texHeight, m_mipLevels, m_format, m_usage};
    return m_createResult = m_screen.Check(device->CreateTexture(desc, m_handle));
}

TTextureHandle TCustomTexture::GetTexture() {
    if (m_handle != 0) return m_handle;
    if (!m_screen.RendererReady()) return 0;
    TDxResult result = TryCreate();
    if (IsRenderTarget()) {
        ql::GlobalLog().WriteBool(u"Rt Create First Attempt Ok= ", result == TDxResult::Ok);
        if (result == TDxResult::OutOfMemory) {
            // Video memory is full: give back ever larger parts of the picture
            // textures (they come back from their sources when next drawn),
            // the upper half first, until the target fits.
            std::vector<TCustomTexture*> managed;
            for (TCustomTexture* texture : m_screen.Resources())
                if (!texture->IsRenderTarget()) managed.push_back(texture);
            const size_t count = managed.size();
            for (int32_t k = 1;
                 k < 63 && (size_t(1) << (k - 1)) < count && result == TDxResult::OutOfMemory;
                 ++k) {
                const size_t from = (count >> (k - 1)) - 1, to = count >> k;
                for (size_t i = from + 1; i-- > to;) managed[i]->Release();
                result = TryCreate();
                ql::GlobalLog().WriteLine(
                    "Released Managed Texs from " + std::to_string(from) + " to " +
                    std::to_string(to) + "; Rt Create " + std::to_string(k) +
                    "nd Attempt Ok= " + (result == TDxResult::Ok ? "True" : "False"));
            }
        }
    }
    if (result != TDxResult::Ok) return 0;
    m_needsUpload = true;
    if (!IsRenderTarget() && Upload() != TDxResult::Ok) return m_handle;
    return m_handle;
}

TDxResult TCustomTexture::Upload() {
    TRenderDevice* device = m_screen.Renderer();
    if (!device) return TDxResult::DeviceLost;
    if (m_handle == 0) return TDxResult::InvalidCall;
    const ql::TPixelFormat* format =
        m_format == TTexelFormat::L8 ? ql::FindPixelFormat("Y8") : ql::PfARGB32();
    int32_t w = m_texWidth, h = m_texHeight;
    for (int32_t level = 0; level < m_mipLevels; ++level) {
        TDxResult result;
        if (std::unique_ptr<ql::TBitmap> direct = DirectLevel(level, w, h)) {
            result = m_screen.Check(device->UploadLevel(m_handle, level, *direct));
        } else {
            ql::TDirectBitmap surface(w, h, format);
            if (!FillTexture(level, surface)) return TDxResult::Other;
            result = m_screen.Check(device->UploadLevel(m_handle, level, surface));
        }
        if (result != TDxResult::Ok) return result;
        w = std::max(w / 2, 1);
        h = std::max(h / 2, 1);
    }
    m_needsUpload = false;
    return TDxResult::Ok;
}

TDxResult TCustomTexture::Load() {
    if (GetTexture() == 0) return m_screen.RendererReady() ? m_createResult : TDxResult::NotReady;
    return m_needsUpload && !IsRenderTarget() ? Upload() : TDxResult::Ok;
}

TRenderTargetTexture::TRenderTargetTexture(T3DScreen& screen, int32_t width, int32_t height,
                                           bool lockable)
    : TCustomTexture(screen,
                     lockable ? TTextureUsage::RenderTargetLockable : TTextureUsage::RenderTarget) {
    SetSize(width, height);
}

}  // namespace orb
