#include "OrbLib2/3DBasics/qlSoftDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "OrbLib2/3DBasics/qlSoftSpans.h"
#include "QlLib/Graphics/qlYuvToRgb.h"
#include "QlLib/Graphics/qlYuvToRgbKernels.h"

namespace orb {

namespace {

// Rows per band: bands are fixed by the target, not by the thread count, so
// one thread and many draw the very same pixels.
constexpr int32_t kBandRows = 16;
// Draws touching fewer pixels than this are not split across threads.
constexpr int64_t kInlineDrawPixels = 128 * 128;
// Screen positions are cut to this many pixels around the origin before they
// become fixed point; edge products then stay far inside 64 bits.
constexpr double kGuard = double(1 << 19) * 256.0;
constexpr int32_t kMaxPolygon = 16;
constexpr int32_t kAttrs = 9;
constexpr int32_t kMaxOutputSide = 16384;
// Bytes of released textures' storage kept for textures of the same size
// made later: the tiles of one slide's pictures go as the next slide's are
// made, and reused memory spares the page faults and the kernel's zeroing of
// fresh memory, which cost more than the clearing itself.
constexpr int64_t kSpareBytes = int64_t(32) << 20;

uint32_t Premultiply(uint32_t c) {
    const uint32_t a = c >> 24;
    auto ch = [a](uint32_t v) { return (v * a + 127) / 255; };
    return (a << 24) | (ch((c >> 16) & 255) << 16) | (ch((c >> 8) & 255) << 8) | ch(c & 255);
}

// Clamps with NaN going to lo, so that no value reaches an integer conversion
// out of range.
float SafeClamp(float v, float lo, float hi) {
    return v > lo ? (v < hi ? v : hi) : lo;
}

int32_t ToByte(float v) {
    return int32_t(SafeClamp(v, 0.0f, 255.0f) + 0.5f);
}

// A premultiplied source (a, r, g, b bytes) blended onto a destination pixel.
inline uint32_t BlendBytes(const int32_t (&src)[4], uint32_t d, TBlendMode blend) {
    uint32_t result = 0;
    for (int32_t c = 0; c < 4; ++c) {
        const int32_t shift = 24 - 8 * c;
        const int32_t dc = int32_t((d >> shift) & 255);
        int32_t r = src[c];
        if (blend == TBlendMode::Over)
            r = std::min(255, src[c] + (dc * (255 - src[0]) + 127) / 255);
        else if (blend == TBlendMode::Add)
            r = std::min(255, src[c] + dc);
        else if (blend == TBlendMode::Max)
            r = std::max(src[c], dc);
        result |= uint32_t(r) << shift;
    }
    return result;
}

// Premultiplied texel of a clamped texture, channels 0..255 as a, r, g, b.
void Sample(const std::vector<uint32_t>& texels, int32_t w, int32_t h, float u, float v,
            TFilter filter, int32_t out[4]) {
    if (filter == TFilter::Point) {
        const int32_t x = std::min(int32_t(SafeClamp(u * float(w), 0.0f, float(w))), w - 1);
        const int32_t y = std::min(int32_t(SafeClamp(v * float(h), 0.0f, float(h))), h - 1);
        const uint32_t c = texels[size_t(y) * size_t(w) + size_t(x)];
        for (int32_t i = 0; i < 4; ++i) out[i] = int32_t((c >> (24 - 8 * i)) & 255);
        return;
    }
    const float fx = u * float(w) - 0.5f, fy = v * float(h) - 0.5f;
    // Clamp before converting: coordinates far outside would not fit an int.
    const float cx = SafeClamp(fx, -2.0f, float(w) + 1.0f),
                cy = SafeClamp(fy, -2.0f, float(h) + 1.0f);
    int32_t ix = int32_t(std::floor(cx)), iy = int32_t(std::floor(cy));
    int32_t wx = int32_t((cx - float(ix)) * 256.0f + 0.5f),
            wy = int32_t((cy - float(iy)) * 256.0f + 0.5f);
    if (wx == 256) {
        ++ix;
        wx = 0;
    }
    if (wy == 256) {
        ++iy;
        wy = 0;
    }
    const int32_t x0 = std::clamp(ix, 0, w - 1), x1 = std::clamp(ix + 1, 0, w - 1);
    const int32_t y0 = std::clamp(iy, 0, h - 1), y1 = std::clamp(iy + 1, 0, h - 1);
    const uint32_t c00 = texels[size_t(y0) * size_t(w) + size_t(x0)],
                   c10 = texels[size_t(y0) * size_t(w) + size_t(x1)];
    const uint32_t c01 = texels[size_t(y1) * size_t(w) + size_t(x0)],
                   c11 = texels[size_t(y1) * size_t(w) + size_t(x1)];
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t s = 24 - 8 * i;
        const int32_t top = int32_t((c00 >> s) & 255) * (256 - wx) + int32_t((c10 >> s) & 255) * wx;
        const int32_t bottom =
            int32_t((c01 >> s) & 255) * (256 - wx) + int32_t((c11 >> s) & 255) * wx;
        out[i] = (top * (256 - wy) + bottom * wy + 32768) >> 16;
    }
}

// Every byte of a premultiplied pixel times cover256 / 256, rounded.
uint32_t ScaledPixel(uint32_t pixel, int32_t cover256) {
    uint32_t out = 0;
    for (int32_t shift = 0; shift < 32; shift += 8)
        out |= (((pixel >> shift) & 255) * uint32_t(cover256) + 128) >> 8 << shift;
    return out;
}

// floor(a / b) for b > 0.
int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

TSpanBlend SpanBlend(TBlendMode mode) {
    return mode == TBlendMode::Replace ? TSpanBlend::Replace
           : mode == TBlendMode::Add   ? TSpanBlend::Add
           : mode == TBlendMode::Max   ? TSpanBlend::Max
                                       : TSpanBlend::Over;
}

// One corner before the division: x, y, w and the straight colour and
// coordinates, all linear in space.
struct TClipVertex {
    double v[11];  // x, y, w, r, g, b, a, u, v, u2, v2
};

}  // namespace

TSoftDevice::TSoftDevice(const TSoftDeviceOptions& options)
    : m_width(std::clamp(options.width, 1, kMaxOutputSide)),
      m_height(std::clamp(options.height, 1, kMaxOutputSide)),
      m_backBuffer(size_t(m_width) * size_t(m_height), 0),
      m_budget(options.memoryBudget),
      m_shadeRuns(options.shadeRuns),
      m_pool(std::make_unique<ql::TDrawThreadPool>(std::clamp(options.threads, 1, 64))) {}

TSoftDevice::~TSoftDevice() = default;

TDeviceCaps TSoftDevice::Caps() const {
    TDeviceCaps caps;
    caps.maxTexWidth = 4096;
    caps.maxTexHeight = 4096;
    caps.maxAnisotropy = 1;
    caps.pixelShaderVersion = 0x0300;
    return caps;
}

TDxResult TSoftDevice::Fail(TDxResult result) {
    m_lastResult = result;
    return LogDxResult(result);
}

TDxResult TSoftDevice::ResizeOutput(int32_t width, int32_t height) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    FlushDraws();
    if (width < 1 || height < 1 || width > kMaxOutputSide || height > kMaxOutputSide)
        return Fail(TDxResult::InvalidCall);
    m_width = width;
    m_height = height;
    m_backBuffer.assign(size_t(width) * size_t(height), 0u);
    m_backSurface = TSurface();
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::Restore() {
    if (!m_lost) return m_lastResult = TDxResult::Ok;
    if (m_failedRestores > 0) {
        --m_failedRestores;
        return Fail(TDxResult::DeviceLost);
    }
    m_lost = false;
    DropDraws();
    std::fill(m_backBuffer.begin(), m_backBuffer.end(), 0u);
    m_backSurface = TSurface();
    return m_lastResult = TDxResult::Ok;
}

void TSoftDevice::SimulateLoss(int32_t failedRestores) {
    m_lost = true;
    DropDraws();
    m_spare.clear();
    m_spareBytes = 0;
    m_failedRestores = std::max(failedRestores, 0);
    m_textures.clear();
    m_yuv.clear();
    m_used = 0;
    m_target = 0;
}

TSoftDevice::TTexture* TSoftDevice::Find(TTextureHandle handle) {
    auto it = m_textures.find(handle);
    return it == m_textures.end() ? nullptr : &it->second;
}

TDxResult TSoftDevice::CreateTexture(const TTextureDesc& desc, TTextureHandle& handle) {
    handle = 0;
    if (m_lost) return Fail(TDxResult::DeviceLost);
    const TDeviceCaps caps = Caps();
    auto pow2 = [](int32_t v) { return v > 0 && (v & (v - 1)) == 0; };
    if (!pow2(desc.width) || !pow2(desc.height) || desc.width > caps.maxTexWidth ||
        desc.height > caps.maxTexHeight || desc.mipLevels < 1 || desc.mipLevels > 16 ||
        (desc.format == TTexelFormat::L8 && (desc.usage == TTextureUsage::RenderTarget ||
                                             desc.usage == TTextureUsage::RenderTargetLockable)))
        return Fail(TDxResult::InvalidCall);
    const int64_t bytes = TextureBytes(desc);
    if (m_used + bytes > m_budget) return Fail(TDxResult::OutOfMemory);
    TTexture texture;
    texture.desc = desc;
    // The level sizes a texture of desc has.
    const auto matches = [&desc](const std::vector<std::vector<uint32_t>>& levels) {
        if (int32_t(levels.size()) != desc.mipLevels) return false;
        int32_t w = desc.width, h = desc.height;
        for (const std::vector<uint32_t>& level : levels) {
            if (level.size() != size_t(w) * size_t(h)) return false;
            w = std::max(w / 2, 1);
            h = std::max(h / 2, 1);
        }
        return true;
    };
    auto spare = std::find_if(m_spare.rbegin(), m_spare.rend(), matches);
    if (spare != m_spare.rend()) {
        texture.levels = std::move(*spare);
        m_spare.erase(std::next(spare).base());
        m_spareBytes -= SpareBytes(texture.levels);
        for (std::vector<uint32_t>& level : texture.levels)
            std::fill(level.begin(), level.end(), 0u);
    } else {
        int32_t w = desc.width, h = desc.height;
        for (int32_t level = 0; level < desc.mipLevels; ++level) {
            texture.levels.emplace_back(size_t(w) * size_t(h), 0u);
            w = std::max(w / 2, 1);
            h = std::max(h / 2, 1);
        }
    }
    m_used += bytes;
    handle = m_nextHandle++;
    m_textures.emplace(handle, std::move(texture));
    return m_lastResult = TDxResult::Ok;
}

void TSoftDevice::ReleaseTexture(TTextureHandle handle) {
    auto it = m_textures.find(handle);
    if (it == m_textures.end()) return;
    FlushDraws();
    m_used -= TextureBytes(it->second.desc);
    const int64_t storage = SpareBytes(it->second.levels);
    if (storage <= kSpareBytes) {
        m_spare.push_back(std::move(it->second.levels));
        m_spareBytes += storage;
        // The oldest go first.
        size_t drop = 0;
        while (m_spareBytes > kSpareBytes) m_spareBytes -= SpareBytes(m_spare[drop++]);
        m_spare.erase(m_spare.begin(), m_spare.begin() + ptrdiff_t(drop));
    }
    if (m_target == handle) m_target = 0;
    m_textures.erase(it);
    ReleaseYuvOf(handle);
}

TDxResult TSoftDevice::UploadLevel(TTextureHandle handle, int32_t level,
                                   const ql::TBitmap& pixels) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    TTexture* texture = Find(handle);
    if (!texture || level < 0 || level >= int32_t(texture->levels.size()))
        return Fail(TDxResult::InvalidCall);
    FlushDraws();
    const int32_t w = std::max(texture->desc.width >> level, 1),
                  h = std::max(texture->desc.height >> level, 1);
    const bool grey = texture->desc.format == TTexelFormat::L8;
    if (pixels.Width() != w || pixels.Height() != h ||
        (grey ? pixels.BytesPerPixel() != 1 : pixels.PixelFormat() != ql::PfARGB32()))
        return Fail(TDxResult::InvalidCall);
    if (level == 0) {
        ++texture->version;
        // The upload replaces every texel, a clear not yet written included.
        texture->surface.pending = false;
        texture->surface.dirty = {0, 0, w, h};
    }
    std::vector<uint32_t>& dst = texture->levels[size_t(level)];
    // Rows of opaque texels, which photographs are throughout, need no
    // premultiplying (alpha 255 leaves every channel as it is): they are
    // copied whole, and the opaque rectangle below need not look at them again.
    int32_t opaqueRows = 0;
    bool leadingOpaque = true;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = pixels.Row(y);
        uint32_t* out = dst.data() + size_t(y) * size_t(w);
        if (grey) {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t g = row[x];
                out[x] = 0xFF000000u | (g << 16) | (g << 8) | g;
            }
        } else {
            std::memcpy(out, row, size_t(w) * 4);
            uint32_t all = 0xFFFFFFFFu;
            for (int32_t x = 0; x < w; ++x) all &= out[x];
            if (all < 0xFF000000u)
                for (int32_t x = 0; x < w; ++x) out[x] = Premultiply(out[x]);
            else if (leadingOpaque)
                ++opaqueRows;
            leadingOpaque = leadingOpaque && all >= 0xFF000000u;
        }
    }
    if (grey) opaqueRows = h;
    // A render target's texels change by drawing, behind the upload's back.
    const bool target = texture->desc.usage == TTextureUsage::RenderTarget ||
                        texture->desc.usage == TTextureUsage::RenderTargetLockable;
    if (level == 0 && !target) {
        // The rectangle is as wide as the first row's opaque start and as
        // high as the rows that are opaque that far.
        auto opaqueRun = [&](int32_t y, int32_t limit) {
            const uint32_t* row = dst.data() + size_t(y) * size_t(w);
            int32_t x = 0;
            while (x < limit && row[x] >= 0xFF000000u) ++x;
            return x;
        };
        texture->opaqueW = opaqueRows > 0 ? w : opaqueRun(0, w);
        texture->opaqueH = std::min(opaqueRows, h);
        while (texture->opaqueW > 0 && texture->opaqueH < h &&
               opaqueRun(texture->opaqueH, texture->opaqueW) == texture->opaqueW)
            ++texture->opaqueH;
        if (texture->opaqueH == 0) texture->opaqueW = 0;
        texture->uniform =
            std::all_of(dst.begin(), dst.end(), [&](uint32_t c) { return c == dst.front(); });
        texture->uniformTexel = dst.empty() ? 0 : dst.front();
    }
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::BeginScene() {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::EndScene() {
    return BeginScene();
}

TDxResult TSoftDevice::Present() {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    ++m_presents;
    FlushDraws();
    if (m_presentSink) {
        const TTarget back{m_backBuffer.data(), m_width, m_height, &m_backSurface};
        FlushClear(back);
        m_presentSink(m_backBuffer.data(), m_width, m_height);
    }
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::ShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                                  int32_t stride) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    // The sink takes whole rows of 32-bit pixels.
    if (!pixels || width <= 0 || height <= 0 || stride != width * 4 ||
        reinterpret_cast<uintptr_t>(pixels) % alignof(uint32_t) != 0)
        return Fail(TDxResult::InvalidCall);
    if (m_presentSink) m_presentSink(reinterpret_cast<const uint32_t*>(pixels), width, height);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::SetRenderTarget(TTextureHandle target) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    FlushDraws();
    if (target != 0) {
        TTexture* texture = Find(target);
        if (!texture || (texture->desc.usage != TTextureUsage::RenderTarget &&
                         texture->desc.usage != TTextureUsage::RenderTargetLockable))
            return Fail(TDxResult::InvalidCall);
        texture->opaqueW = texture->opaqueH = 0;
        texture->uniform = false;
    }
    m_target = target;
    return m_lastResult = TDxResult::Ok;
}

bool TSoftDevice::Target(TTarget& target) {
    if (m_target == 0) {
        target = {m_backBuffer.data(), m_width, m_height, &m_backSurface};
        return true;
    }
    TTexture* texture = Find(m_target);
    if (!texture) return false;
    target = {texture->levels[0].data(), texture->desc.width, texture->desc.height,
              &texture->surface};
    return true;
}

ql::TRect TSoftDevice::ClipRect(const TTarget& target) const {
    const ql::TRect bounds{0, 0, target.width, target.height};
    return m_scissor.IsEmpty() ? bounds : ql::IntersectRect(bounds, m_scissor);
}

namespace {

// The smallest rectangle holding both.
ql::TRect Bound(const ql::TRect& a, const ql::TRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

bool Contains(const ql::TRect& outer, const ql::TRect& inner) {
    return inner.IsEmpty() || (inner.left >= outer.left && inner.top >= outer.top &&
                               inner.right <= outer.right && inner.bottom <= outer.bottom);
}

void FillRows(uint32_t* pixels, int32_t width, const ql::TRect& rect, int32_t y0, int32_t y1,
              uint32_t pixel) {
    for (int32_t y = std::max(y0, rect.top); y < std::min(y1, rect.bottom); ++y)
        std::fill_n(pixels + size_t(y) * size_t(width) + size_t(rect.left), size_t(rect.Width()),
                    pixel);
}

}  // namespace

int64_t TSoftDevice::SpareBytes(const std::vector<std::vector<uint32_t>>& levels) {
    int64_t bytes = 0;
    for (const std::vector<uint32_t>& level : levels) bytes += int64_t(level.size()) * 4;
    return bytes;
}

void TSoftDevice::DropDraws() {
    m_queue.clear();
    m_queueWork = 0;
    m_setup.clear();
    m_smooth.clear();
}

void TSoftDevice::FlushClear(const TTarget& target) {
    TSurface& surface = *target.surface;
    if (!surface.pending) return;
    surface.pending = false;
    const ql::TRect rect = surface.pendingRect;
    const uint32_t pixel = surface.pendingColour;
    const int32_t bands = (rect.Height() + kBandRows - 1) / kBandRows;
    m_pool->Run(bands, [&](int32_t band) {
        const int32_t y0 = rect.top + band * kBandRows;
        FillRows(target.pixels, target.width, rect, y0, y0 + kBandRows, pixel);
    });
}

void TSoftDevice::FlushClear(TTexture& texture) {
    FlushClear(TTarget{texture.levels[0].data(), texture.desc.width, texture.desc.height,
                       &texture.surface});
}

TDxResult TSoftDevice::Clear(uint32_t colour) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    TTarget target;
    if (!Target(target)) return Fail(TDxResult::InvalidCall);
    FlushDraws();
    const ql::TRect clip = ClipRect(target);
    if (clip.IsEmpty()) return m_lastResult = TDxResult::Ok;
    const uint32_t pixel = Premultiply(colour);
    TSurface& surface = *target.surface;
    // Only pixels that may differ from the clear colour need writing.
    ql::TRect region;
    if (pixel == surface.background) {
        region = ql::IntersectRect(clip, surface.dirty);
        if (Contains(clip, surface.dirty)) surface.dirty = {};
    } else {
        region = clip;
        if (clip == ql::TRect{0, 0, target.width, target.height}) {
            surface.background = pixel;
            surface.dirty = {};
        } else {
            surface.dirty = Bound(surface.dirty, clip);
        }
    }
    // An earlier clear that this one covers need never be written; one
    // that covers this one in the same colour does all of it.
    if (surface.pending && surface.pendingColour == pixel && Contains(surface.pendingRect, region))
        return m_lastResult = TDxResult::Ok;
    if (surface.pending && !Contains(region, surface.pendingRect)) FlushClear(target);
    surface.pending = !region.IsEmpty();
    surface.pendingColour = pixel;
    surface.pendingRect = region;
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::ReadPixels(const ql::TRect& rect, ql::TBitmap& dst) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    TTarget target;
    if (!Target(target)) return Fail(TDxResult::InvalidCall);
    if (rect.IsEmpty() || rect.left < 0 || rect.top < 0 || rect.right > target.width ||
        rect.bottom > target.height || dst.PixelFormat() != ql::PfARGB32() ||
        dst.Width() < rect.Width() || dst.Height() < rect.Height())
        return Fail(TDxResult::InvalidCall);
    FlushDraws();
    FlushClear(target);
    for (int32_t y = 0; y < rect.Height(); ++y)
        std::memcpy(dst.Row(y),
                    target.pixels + size_t(rect.top + y) * size_t(target.width) + size_t(rect.left),
                    size_t(rect.Width()) * 4);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TSoftDevice::ReadPixelBands(const ql::TRect& rect, const TBandSink& sink) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    TTarget target;
    if (!Target(target)) return Fail(TDxResult::InvalidCall);
    if (rect.IsEmpty() || rect.left < 0 || rect.top < 0 || rect.right > target.width ||
        rect.bottom > target.height)
        return Fail(TDxResult::InvalidCall);
    // Only draws onto this target go with the reading; a clear that still
    // waits has none to go with (clearing draws what waited first).
    if (!m_queue.empty() && (m_queueTarget.pixels != target.pixels || target.surface->pending))
        FlushDraws();
    FlushClear(target);
    const TBandRead read{target, rect, &sink};
    FlushDraws(&read);
    return m_lastResult = TDxResult::Ok;
}

void TSoftDevice::SetupTriangle(const TDrawState& state, const TVertex* v) {
    TClipVertex in[kMaxPolygon], out[kMaxPolygon];
    for (int32_t i = 0; i < 3; ++i)
        for (float f : {v[i].x, v[i].y, v[i].w, v[i].u, v[i].v, v[i].u2, v[i].v2})
            if (!std::isfinite(f)) return;  // nothing sensible to draw
    for (int32_t i = 0; i < 3; ++i) {
        const uint32_t c = v[i].colour;
        in[i] = {{v[i].x, v[i].y, v[i].w, double((c >> 16) & 255), double((c >> 8) & 255),
                  double(c & 255), double(c >> 24), v[i].u, v[i].v, v[i].u2, v[i].v2}};
    }
    // Corners behind the camera (or too near it) are cut away at the near
    // plane; dividing by a tiny or negative w would throw them across the screen.
    const double nearW = std::max(double(state.nearW), 1e-6);
    int32_t n = 0;
    for (int32_t i = 0; i < 3; ++i) {
        const TClipVertex& a = in[i];
        const TClipVertex& b = in[(i + 1) % 3];
        const double da = a.v[2] - nearW, db = b.v[2] - nearW;
        if (da >= 0) out[n++] = a;
        if ((da >= 0) != (db >= 0)) {
            const double t = da / (da - db);
            TClipVertex& m = out[n++];
            for (int32_t k = 0; k < 11; ++k) m.v[k] = a.v[k] + (b.v[k] - a.v[k]) * t;
            m.v[2] = nearW;
        }
    }
    if (n < 3) return;
    TScreenVertex poly[kMaxPolygon];
    for (int32_t i = 0; i < n; ++i) {
        const double iw = 1.0 / out[i].v[2];
        poly[i].x = out[i].v[0] * iw * 256.0;
        poly[i].y = out[i].v[1] * iw * 256.0;
        poly[i].attr[0] = iw;
        for (int32_t k = 1; k < kAttrs; ++k) poly[i].attr[k] = out[i].v[k + 2] * iw;
    }
    EmitPolygon(poly, n);
}

void TSoftDevice::EmitPolygon(const TScreenVertex* input, int32_t count) {
    // Cut to the guard band while still in floating point: a position far
    // off the screen must not overflow the integer conversion.
    TScreenVertex bufA[kMaxPolygon], bufB[kMaxPolygon];
    std::copy(input, input + count, bufA);
    TScreenVertex* src = bufA;
    TScreenVertex* dst = bufB;
    for (int32_t plane = 0; plane < 4 && count >= 3; ++plane) {
        auto dist = [plane](const TScreenVertex& p) {
            switch (plane) {
                case 0:
                    return p.x + kGuard;
                case 1:
                    return kGuard - p.x;
                case 2:
                    return p.y + kGuard;
                default:
                    return kGuard - p.y;
            }
        };
        int32_t n = 0;
        for (int32_t i = 0; i < count && n < kMaxPolygon - 1; ++i) {
            const TScreenVertex& a = src[i];
            const TScreenVertex& b = src[(i + 1) % count];
            const double da = dist(a), db = dist(b);
            if (da >= 0) dst[n++] = a;
            if ((da >= 0) != (db >= 0)) {
                const double t = da / (da - db);
                TScreenVertex& m = dst[n++];
                m.x = a.x + (b.x - a.x) * t;
                m.y = a.y + (b.y - a.y) * t;
                for (int32_t k = 0; k < kAttrs; ++k)
                    m.attr[k] = a.attr[k] + (b.attr[k] - a.attr[k]) * t;
            }
        }
        count = n;
        std::swap(src, dst);
    }
    for (int32_t i = 1; i + 1 < count; ++i) {
        TSetupTriangle tri;
        const TScreenVertex* corners[3] = {&src[0], &src[i], &src[i + 1]};
        for (int32_t k = 0; k < 3; ++k) {
            tri.x[k] = std::llround(std::clamp(corners[k]->x, -kGuard, kGuard));
            tri.y[k] = std::llround(std::clamp(corners[k]->y, -kGuard, kGuard));
            std::copy(corners[k]->attr, corners[k]->attr + kAttrs, tri.attr[k]);
        }
        const int64_t area = (tri.x[1] - tri.x[0]) * (tri.y[2] - tri.y[0]) -
                             (tri.y[1] - tri.y[0]) * (tri.x[2] - tri.x[0]);
        if (area == 0) continue;
        if (area < 0) {
            std::swap(tri.x[1], tri.x[2]);
            std::swap(tri.y[1], tri.y[2]);
            std::swap(tri.attr[1], tri.attr[2]);
        }
        tri.flatColour = false;
        tri.fast = TSetupTriangle::TFast::None;
        tri.smooth = -1;
        m_setup.push_back(tri);
    }
}

TDxResult TSoftDevice::DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    if (state.pipeline == TPipeline::Yuv) {
        if (const TTextureHandle rgb = ConvertedYuv(state, vertices)) {
            TDrawState picture = state;
            picture.pipeline = TPipeline::Texture;
            picture.textures[0] = rgb;
            picture.textures[1] = picture.textures[2] = 0;
            return DrawTriangles(picture, vertices);
        }
    }
    TTarget target;
    if (!Target(target)) return Fail(TDxResult::InvalidCall);
    const int32_t needed = state.pipeline == TPipeline::Colour        ? 0
                           : state.pipeline == TPipeline::TextureMask ? 2
                           : state.pipeline == TPipeline::Yuv         ? 3
                                                                      : 1;
    TTexture* sources[3] = {nullptr, nullptr, nullptr};
    for (int32_t i = 0; i < needed; ++i) {
        sources[i] = Find(state.textures[i]);
        if (!sources[i] || state.textures[i] == m_target) return Fail(TDxResult::InvalidCall);
    }
    const TTexture* const textures[3] = {sources[0], sources[1], sources[2]};
    // Draws wait until something needs their pixels, and then go together:
    // only draws onto one target wait at a time.
    if (!m_queue.empty() && m_queueTarget.pixels != target.pixels) FlushDraws();
    const size_t setupBegin = m_setup.size(), smoothBegin = m_smooth.size();
    // This draw's triangles and quads are let go when it draws nothing.
    const auto drop = [&] {
        m_setup.resize(setupBegin);
        m_smooth.resize(smoothBegin);
        return m_lastResult = TDxResult::Ok;
    };
    for (size_t i = 0; i + 3 <= vertices.size(); i += 3) {
        const size_t first = m_setup.size();
        SetupTriangle(state, &vertices[i]);
        const bool flat = vertices[i].colour == vertices[i + 1].colour &&
                          vertices[i].colour == vertices[i + 2].colour;
        // Smooth sides come with quads of two triangles: the second one's
        // last corner is the quad's fourth.
        int32_t smooth = -1;
        const size_t quad = i - i % 6;
        if ((state.smoothSides & 15) && quad + 6 <= vertices.size()) {
            if (i == quad) {
                const TVertex corners[4] = {vertices[quad], vertices[quad + 1], vertices[quad + 2],
                                            vertices[quad + 5]};
                m_smooth.push_back(SmoothQuad(corners, state));
            }
            if (m_smooth.size() > smoothBegin && m_smooth.back().edges.count > 0)
                smooth = int32_t(m_smooth.size()) - 1;
        }
        for (size_t k = first; k < m_setup.size(); ++k) {
            m_setup[k].flatColour = flat;
            PrepareFast(state, textures[0], textures[1], m_setup[k]);
            m_setup[k].smooth = smooth;
            // The masked copy knows no coverage; the per-pixel path does.
            if (smooth >= 0 && m_setup[k].fast == TSetupTriangle::TFast::Masked)
                m_setup[k].fast = TSetupTriangle::TFast::None;
        }
    }
    if (m_setup.size() == setupBegin) return drop();
    const ql::TRect clip = ClipRect(target);
    if (clip.IsEmpty()) return drop();
    for (int32_t i = 0; i < needed; ++i) FlushClear(*sources[i]);
    TSurface& surface = *target.surface;
    ql::TRect drawn;
    for (size_t k = setupBegin; k < m_setup.size(); ++k) {
        TSetupTriangle& t = m_setup[k];
        // Smooth sides reach a pixel beyond the corners.
        const int64_t reach = t.smooth >= 0 ? 2 : 0;
        const int64_t minX = (std::min({t.x[0], t.x[1], t.x[2]}) >> 8) - reach,
                      maxX = (std::max({t.x[0], t.x[1], t.x[2]}) >> 8) + reach;
        const int64_t minY = (std::min({t.y[0], t.y[1], t.y[2]}) >> 8) - reach,
                      maxY = (std::max({t.y[0], t.y[1], t.y[2]}) >> 8) + reach;
        t.left = int32_t(minX);
        t.top = int32_t(minY);
        t.right = int32_t(maxX);
        t.bottom = int32_t(maxY);
        drawn = Bound(drawn, ql::IntersectRect(
                                 {int32_t(std::clamp<int64_t>(minX, clip.left, clip.right)),
                                  int32_t(std::clamp<int64_t>(minY, clip.top, clip.bottom)),
                                  int32_t(std::clamp<int64_t>(maxX + 1, clip.left, clip.right)),
                                  int32_t(std::clamp<int64_t>(maxY + 1, clip.top, clip.bottom))},
                                 clip));
    }
    // Triangles wholly outside the clip draw nothing, and a pending clear
    // waits for a draw that does.
    if (drawn.IsEmpty()) return drop();
    surface.dirty = Bound(surface.dirty, drawn);
    // A pending clear goes band by band with the drawing where the bands
    // reach all of its rows.
    if (surface.pending &&
        (surface.pendingRect.top < clip.top || surface.pendingRect.bottom > clip.bottom)) {
        FlushDraws();
        FlushClear(target);
    }
    TQueuedDraw draw;
    draw.state = state;
    std::copy(textures, textures + 3, draw.textures);
    draw.setupBegin = setupBegin;
    draw.setupEnd = m_setup.size();
    draw.clip = clip;
    draw.fuse = surface.pending;
    draw.fuseColour = surface.pendingColour;
    draw.fuseRect = surface.pendingRect;
    surface.pending = false;
    // Only the rows drawn or cleared on are worked through.
    draw.top = drawn.top;
    draw.bottom = drawn.bottom;
    m_queueWork += int64_t(drawn.Width()) * drawn.Height();
    if (draw.fuse) {
        draw.top = std::min(draw.top, draw.fuseRect.top);
        draw.bottom = std::max(draw.bottom, draw.fuseRect.bottom);
        m_queueWork += int64_t(draw.fuseRect.Width()) * draw.fuseRect.Height();
    }
    m_queueTarget = target;
    m_queue.push_back(draw);
    return m_lastResult = TDxResult::Ok;
}

void TSoftDevice::FlushDraws(const TBandRead* read) {
    if (m_queue.empty() && !read) return;
    // The waiting draws go band by band, each band through all of them in
    // their order, so that a band's rows stay in the cache from the first
    // draw to the last (and to whoever reads them) and the threads are
    // woken once for all. Every pixel sees the same operations in the same
    // order as draw by draw.
    int32_t top = read ? read->rect.top : m_queue.front().top;
    int32_t bottom = read ? read->rect.bottom : m_queue.front().bottom;
    for (const TQueuedDraw& draw : m_queue) {
        top = std::min(top, draw.top);
        bottom = std::max(bottom, draw.bottom);
    }
    // Read bands start an even number of rows below the rect's top, so
    // that no row pair is split between two of them (a band may start
    // above row 0: drawing and reading both clamp to their own rows).
    if (read) top -= (read->rect.top - top) & 1;
    const TTarget& target = read ? read->target : m_queueTarget;
    const int32_t bands = (bottom - top + kBandRows - 1) / kBandRows;
    const auto band = [&](int32_t index) {
        const int32_t y0 = top + index * kBandRows, y1 = std::min(y0 + kBandRows, bottom);
        for (const TQueuedDraw& draw : m_queue) {
            const int32_t from = std::max(y0, draw.top), to = std::min(y1, draw.bottom);
            if (from >= to) continue;
            if (draw.fuse)
                FillRows(target.pixels, target.width, draw.fuseRect, from, to, draw.fuseColour);
            RasterBand(draw, target, from, to);
        }
        if (!read) return;
        const int32_t from = std::max(y0, read->rect.top), to = std::min(y1, read->rect.bottom);
        if (from < to)
            (*read->sink)(
                from - read->rect.top, to - read->rect.top,
                target.pixels + size_t(from) * size_t(target.width) + size_t(read->rect.left),
                size_t(target.width));
    };
    // A little work (a tile, a line of text) runs on the calling thread:
    // waking a worker and waiting for it costs more than the few thousand
    // pixels it would take.
    const int64_t work =
        m_queueWork + (read ? int64_t(read->rect.Width()) * read->rect.Height() : 0);
    if (work < kInlineDrawPixels) {
        for (int32_t index = 0; index < bands; ++index) band(index);
    } else {
        m_pool->Run(bands, band);
    }
    m_queue.clear();
    m_queueWork = 0;
    m_setup.clear();
    m_smooth.clear();
}

void TSoftDevice::PrepareMasked(const TDrawState& state, const TTexture* texture,
                                const TTexture* mask, TSetupTriangle& t) {
    const double iw = t.attr[0][0];
    if (!texture || !mask || state.filter != TFilter::Point || t.attr[1][0] != iw ||
        t.attr[2][0] != iw)
        return;
    const TTexture* both[2] = {texture, mask};
    for (int32_t k = 0; k < 2; ++k) {
        const double w = both[k]->desc.width, h = both[k]->desc.height;
        // Where each corner's texel coordinates lie against its position: the
        // same offset at every corner is a copy of texels onto pixels.
        double offset[2][3];
        for (int32_t c = 0; c < 3; ++c) {
            offset[0][c] = t.attr[c][5 + 2 * k] / iw * w - double(t.x[c]) / 256.0;
            offset[1][c] = t.attr[c][6 + 2 * k] / iw * h - double(t.y[c]) / 256.0;
        }
        for (int32_t axis = 0; axis < 2; ++axis) {
            const double o = offset[axis][0];
            if (!(std::fabs(offset[axis][1] - o) < 1.0 / 1024) ||
                !(std::fabs(offset[axis][2] - o) < 1.0 / 1024) || !(std::fabs(o) < double(1 << 24)))
                return;
            // A pixel centre must fall well inside its texel, so that no
            // rounding of the per-pixel path could pick the neighbour.
            const double whole = std::floor(o + 0.5);
            if (!(std::fabs(o - whole) < 0.25)) return;
            t.texelOffset[2 * k + axis] = int32_t(whole);
        }
    }
    for (int32_t c = 0; c < 4; ++c) t.maskedColour[c] = float(std::round(t.attr[0][1 + c] / iw));
    t.fast = TSetupTriangle::TFast::Masked;
}

void TSoftDevice::PrepareFast(const TDrawState& state, const TTexture* texture,
                              const TTexture* mask, TSetupTriangle& t) {
    t.fast = TSetupTriangle::TFast::None;
    t.blend = SpanBlend(state.blend);
    if (!t.flatColour) return;
    const double iw = t.attr[0][0];
    int32_t col[4];  // r, g, b, a straight, as the per-pixel path rounds them
    for (int32_t c = 0; c < 4; ++c) col[c] = int32_t(std::round(t.attr[0][1 + c] / iw));
    if (state.pipeline == TPipeline::Colour) {
        // The very arithmetic of the per-pixel path, done once.
        const float alpha = float(col[3]) * (float(state.opacity) / 255.0f);
        uint32_t pixel = uint32_t(ToByte(alpha)) << 24;
        for (int32_t c = 0; c < 3; ++c)
            pixel |= uint32_t(ToByte(float(col[c]) * alpha / 255.0f)) << (16 - 8 * c);
        t.colour = pixel;
        t.blend =
            pixel >= 0xFF000000u && t.blend == TSpanBlend::Over ? TSpanBlend::Replace : t.blend;
        t.fast = TSetupTriangle::TFast::Colour;
        return;
    }
    if (state.pipeline == TPipeline::TextureMask) {
        PrepareMasked(state, texture, mask, t);
        return;
    }
    if (state.pipeline != TPipeline::Texture || !texture || t.attr[1][0] != iw ||
        t.attr[2][0] != iw)
        return;
    const double w = texture->desc.width, h = texture->desc.height;
    const double shift = state.filter == TFilter::Bilinear ? 0.5 : 0.0;
    double tu[3], tv[3];
    for (int32_t k = 0; k < 3; ++k) {
        tu[k] = t.attr[k][5] / iw * w - shift;
        tv[k] = t.attr[k][6] / iw * h - shift;
    }
    const double x1 = double(t.x[1] - t.x[0]), y1 = double(t.y[1] - t.y[0]);
    const double x2 = double(t.x[2] - t.x[0]), y2 = double(t.y[2] - t.y[0]);
    const double scale = 256.0 / (x1 * y2 - x2 * y1);
    double dudx = ((tu[1] - tu[0]) * y2 - (tu[2] - tu[0]) * y1) * scale;
    double dudy = ((tu[2] - tu[0]) * x1 - (tu[1] - tu[0]) * x2) * scale;
    double dvdx = ((tv[1] - tv[0]) * y2 - (tv[2] - tv[0]) * y1) * scale;
    double dvdy = ((tv[2] - tv[0]) * x1 - (tv[1] - tv[0]) * x2) * scale;
    double ox = (128.0 - double(t.x[0])) / 256.0, oy = (128.0 - double(t.y[0])) / 256.0;
    double u0 = tu[0] + dudx * ox + dudy * oy, v0 = tv[0] + dvdx * ox + dvdy * oy;
    // A picture drawn where it lies comes from float corners, and a thin
    // triangle turns their rounding into steps a hair off one texel per
    // pixel, which miss the row loops. Where exact steps move no pixel's
    // texel by more than kSnap anywhere in the triangle, they are used.
    constexpr double kSnap = 1.0 / 16;
    const double ex =
        double(std::max({t.x[0], t.x[1], t.x[2]}) - std::min({t.x[0], t.x[1], t.x[2]})) / 256.0;
    const double ey =
        double(std::max({t.y[0], t.y[1], t.y[2]}) - std::min({t.y[0], t.y[1], t.y[2]})) / 256.0;
    if (std::fabs(dudx - 1) * ex + std::fabs(dudy) * ey < kSnap &&
        std::fabs(dvdx) * ex + std::fabs(dvdy - 1) * ey < kSnap) {
        // Kept at the centroid, which lies in the triangle's box.
        const double cx = double(t.x[0] + t.x[1] + t.x[2]) / 768.0 - 0.5,
                     cy = double(t.y[0] + t.y[1] + t.y[2]) / 768.0 - 0.5;
        const double uc = u0 + dudx * cx + dudy * cy, vc = v0 + dvdx * cx + dvdy * cy;
        u0 = uc - cx;
        v0 = vc - cy;
        dudx = dvdy = 1;
        dudy = dvdx = 0;
    }
    // Steeper or farther than this, the fixed point could overflow on the
    // target; such triangles take the per-pixel path.
    constexpr double kMaxStep = 4096.0, kMaxCoord = double(1 << 24);
    for (double step : {dudx, dudy, dvdx, dvdy})
        if (!(std::fabs(step) <= kMaxStep)) return;
    if (!(std::fabs(u0) <= kMaxCoord && std::fabs(v0) <= kMaxCoord)) return;
    constexpr double kOne = 4294967296.0;
    t.u0 = std::llround(u0 * kOne);
    t.v0 = std::llround(v0 * kOne);
    t.dudx = std::llround(dudx * kOne);
    t.dudy = std::llround(dudy * kOne);
    t.dvdx = std::llround(dvdx * kOne);
    t.dvdy = std::llround(dvdy * kOne);
    const uint64_t a = uint64_t(col[3]) * state.opacity;
    t.factor[3] = uint16_t((a * 256 + 32512) / 65025);
    for (int32_t c = 0; c < 3; ++c)
        t.factor[2 - c] = uint16_t((uint64_t(col[c]) * a * 256 + 8290687) / 16581375);
    t.opaqueOver = t.factor[3] == 256 && t.blend == TSpanBlend::Over && texture->opaqueW > 0;
    t.fast = TSetupTriangle::TFast::Texture;
}

TSoftDevice::TSmoothQuad TSoftDevice::SmoothQuad(const TVertex (&corners)[4],
                                                 const TDrawState& state) {
    TSmoothQuad quad;
    quad.edges = TSmoothEdges::FromQuad(corners, state.smoothSides, state.nearW);
    if (quad.edges.count == 0) return quad;
    // The corners rounded as SetupTriangle rounds them, so that a seam here
    // is the very edge the neighbour's triangles have.
    int64_t x[4], y[4];
    for (int32_t i = 0; i < 4; ++i) {
        const double iw = 1.0 / double(corners[i].w);
        x[i] = std::llround(std::clamp(double(corners[i].x) * iw * 256.0, -kGuard, kGuard));
        y[i] = std::llround(std::clamp(double(corners[i].y) * iw * 256.0, -kGuard, kGuard));
    }
    // Twice the signed area: the seams are turned so that inside is positive.
    int64_t area = 0;
    for (int32_t i = 0; i < 4; ++i) area += x[i] * y[(i + 1) % 4] - x[(i + 1) % 4] * y[i];
    for (int32_t k = 0; k < 4; ++k) {
        if (state.smoothSides & (1 << k)) continue;
        int32_t p = (k + 3) % 4, q = k;
        if (area < 0) std::swap(p, q);
        const int32_t n = quad.seams++;
        quad.x[n] = x[p];
        quad.y[n] = y[p];
        quad.dx[n] = x[q] - x[p];
        quad.dy[n] = y[q] - y[p];
        const bool topLeft = (quad.dy[n] == 0 && quad.dx[n] > 0) || quad.dy[n] < 0;
        quad.bias[n] = topLeft ? 0 : -1;
    }
    return quad;
}

bool TSoftDevice::OnSmoothSide(const TSmoothEdges& edges, const TSetupTriangle& tri, int32_t a,
                               int32_t b) {
    // Corners are rounded to 1/256 pixel; a side's own corners lie far
    // nearer its line than this, any other edge's far off it.
    constexpr double kNear = 1.0 / 64;
    for (int32_t k = 0; k < edges.count; ++k) {
        auto distance = [&](int32_t c) {
            return edges.a[k] * double(tri.x[c]) / 256.0 + edges.b[k] * double(tri.y[c]) / 256.0 +
                   edges.c[k];
        };
        if (std::fabs(distance(a)) < kNear && std::fabs(distance(b)) < kNear) return true;
    }
    return false;
}

void TSoftDevice::RasterBand(const TQueuedDraw& draw, const TTarget& target, int32_t y0,
                             int32_t y1) {
    const TDrawState& state = draw.state;
    const ql::TRect& clip = draw.clip;
    const TTexture* const* textures = draw.textures;
    static const TTexSpanProc texSpan = TexSpanFor(ql::BestSimdLevel());
    static const TColourSpanProc colourSpan = ColourSpanFor(ql::BestSimdLevel());
    static const TShadeSpanProc shadeSpan = ShadeSpanFor(ql::BestSimdLevel());
    const float opacity = float(state.opacity) / 255.0f;
    const bool shade =
        m_shadeRuns && state.pipeline == TPipeline::Texture && state.blend != TBlendMode::Max;
    for (size_t k = draw.setupBegin; k < draw.setupEnd; ++k) {
        const TSetupTriangle& t = m_setup[k];
        if (t.top >= y1 || t.bottom < y0) continue;
        // A masked copy's factors, worked out once by the per-pixel path's
        // very operations: the mask's (alpha / 255 x mask / 255) and each
        // colour channel's (value x colour / 255), which a pixel multiplies.
        struct {
            float mask[256];
            float channel[3][256];
        } masked;
        if (t.fast == TSetupTriangle::TFast::Masked) {
            const float* col = t.maskedColour;
            const float alpha = col[3] * opacity;
            for (int32_t i = 0; i < 256; ++i) {
                float m = alpha / 255.0f;
                m *= float(i) / 255.0f;
                masked.mask[i] = m;
                for (int32_t k = 0; k < 3; ++k) masked.channel[k][i] = float(i) * col[k] / 255.0f;
            }
        }
        const int32_t px0 = std::max(clip.left, t.left), px1 = std::min(clip.right, t.right + 1);
        const int32_t py0 = std::max(y0, t.top), py1 = std::min(y1, t.bottom + 1);
        if (px0 >= px1 || py0 >= py1) continue;
        // Edge k is opposite corner k. Pixels exactly on an edge belong to
        // the triangle only on its top or left edges, so two triangles sharing
        // an edge never both draw (and blend) the same pixel.
        const TSmoothQuad* quad = t.smooth >= 0 ? &m_smooth[size_t(t.smooth)] : nullptr;
        const TSmoothEdges* smooth = quad ? &quad->edges : nullptr;
        int64_t ax[3], ay[3], bias[3];
        for (int32_t k = 0; k < 3; ++k) {
            const int32_t a = (k + 1) % 3, b = (k + 2) % 3;
            ax[k] = t.x[b] - t.x[a];
            ay[k] = t.y[b] - t.y[a];
            const bool topLeft = (ay[k] == 0 && ax[k] > 0) || ay[k] < 0;
            bias[k] = topLeft ? 0 : -1;
            // An edge along a smooth side takes in the pixels a pixel beyond
            // it: those the side cuts though their centres lie outside.
            if (smooth && OnSmoothSide(*smooth, t, a, b))
                bias[k] += int64_t(std::ceil(256.0 * std::hypot(double(ax[k]), double(ay[k]))));
        }
        const double area = double(ax[2] * (t.y[2] - t.y[0]) - ay[2] * (t.x[2] - t.x[0]));
        const double invArea = 1.0 / area;
        float flat[4] = {0, 0, 0, 0};
        if (t.flatColour) {
            const double iw = t.attr[0][0];
            for (int32_t c = 0; c < 4; ++c) flat[c] = float(std::round(t.attr[0][1 + c] / iw));
        }
        for (int32_t py = py0; py < py1; ++py) {
            const int64_t cy = int64_t(py) * 256 + 128;
            // The run of pixel centres inside all three edges, found by
            // dividing instead of testing every pixel: the same pixels.
            int64_t from = px0, to = px1;
            for (int32_t k = 0; k < 3; ++k) {
                const int32_t a = (k + 1) % 3;
                const int64_t e0 = ax[k] * (cy - t.y[a]) - ay[k] * (128 - t.x[a]) + bias[k];
                if (ay[k] == 0) {
                    if (e0 < 0) to = from;
                } else if (ay[k] > 0) {
                    to = std::min(to, FloorDiv(e0, ay[k] * 256) + 1);
                } else {
                    from = std::max(from, -FloorDiv(e0, -ay[k] * 256));
                }
            }
            if (from >= to) continue;
            uint32_t* row = target.pixels + size_t(py) * size_t(target.width);
            // Draws pixels [xs, xe) of the row, their alpha scaled by cover
            // (1 leaves every path exactly as without smooth sides).
            const auto run = [&](int64_t xs, int64_t xe, double cover) {
                const int32_t cover256 = cover >= 1 ? 256 : int32_t(cover * 256 + 0.5);
                const float runOpacity = cover >= 1 ? opacity : float(double(opacity) * cover);
                if (t.fast == TSetupTriangle::TFast::Colour) {
                    if (cover256 < 256)
                        colourSpan(row + xs, int32_t(xe - xs), ScaledPixel(t.colour, cover256),
                                   SpanBlend(state.blend));
                    else
                        colourSpan(row + xs, int32_t(xe - xs), t.colour, t.blend);
                    return;
                }
                if (t.fast == TSetupTriangle::TFast::Texture) {
                    const TTexture& t0 = *textures[0];
                    TTexSpan span;
                    span.texels = t0.levels[0].data();
                    span.width = t0.desc.width;
                    span.height = t0.desc.height;
                    span.dst = row + xs;
                    span.count = int32_t(xe - xs);
                    span.u = t.u0 + t.dudx * xs + t.dudy * py;
                    span.v = t.v0 + t.dvdx * xs + t.dvdy * py;
                    span.du = t.dudx;
                    span.dv = t.dvdx;
                    for (int32_t c = 0; c < 4; ++c)
                        span.factor[c] = uint16_t((uint32_t(t.factor[c]) * cover256 + 128) >> 8);
                    span.bilinear = state.filter == TFilter::Bilinear;
                    span.blend = t.blend;
                    if (t.opaqueOver && cover256 == 256) {
                        // Opaque texels come out opaque from either filter; the
                        // run's ends bound the texels it reads, clamped ones too.
                        const int64_t half = span.bilinear ? int64_t(1) << 23 : 0,
                                      reach = span.bilinear ? 1 : 0;
                        const int64_t uEnd = span.u + span.du * (span.count - 1),
                                      vEnd = span.v + span.dv * (span.count - 1);
                        if (((std::max(span.u, uEnd) + half) >> 32) + reach < t0.opaqueW &&
                            ((std::max(span.v, vEnd) + half) >> 32) + reach < t0.opaqueH)
                            span.blend = TSpanBlend::Replace;
                    }
                    texSpan(span);
                    return;
                }
                if (t.fast == TSetupTriangle::TFast::Masked) {
                    // The per-pixel path's arithmetic, its texels found by offset.
                    const TTexture& t0 = *textures[0];
                    const TTexture& t1 = *textures[1];
                    const int32_t w0 = t0.desc.width, h0 = t0.desc.height, w1 = t1.desc.width,
                                  h1 = t1.desc.height;
                    const uint32_t* texRow =
                        t0.levels[0].data() +
                        size_t(std::clamp(py + t.texelOffset[1], 0, h0 - 1)) * size_t(w0);
                    const uint32_t* maskRow =
                        t1.levels[0].data() +
                        size_t(std::clamp(py + t.texelOffset[3], 0, h1 - 1)) * size_t(w1);
                    const int64_t first0 = xs + t.texelOffset[0], first1 = xs + t.texelOffset[2];
                    const int64_t count = xe - xs;
                    if (first0 >= 0 && first0 + count <= w0 && first1 >= 0 &&
                        first1 + count <= w1) {
                        TMaskedSpan span;
                        span.texels = texRow + first0;
                        span.mask = maskRow + first1;
                        span.dst = row + xs;
                        span.count = int32_t(count);
                        span.maskFactor = masked.mask;
                        for (int32_t k = 0; k < 3; ++k) span.channel[k] = masked.channel[k];
                        span.blend = SpanBlend(state.blend);
                        MaskedSpanFor(ql::BestSimdLevel(), span.blend)(span);
                        return;
                    }
                    // A run reaching past a texture's edge repeats its edge texels.
                    for (int32_t px = int32_t(xs); px < int32_t(xe); ++px) {
                        const uint32_t c = texRow[std::clamp(px + t.texelOffset[0], 0, w0 - 1)];
                        const uint32_t mk =
                            maskRow[std::clamp(px + t.texelOffset[2], 0, w1 - 1)] >> 24;
                        // Nothing of the source: blending leaves the pixel as it is.
                        if (mk == 0 && state.blend != TBlendMode::Replace) continue;
                        const float m = masked.mask[mk];
                        int32_t src[4];
                        src[0] = ToByte(float(c >> 24) * m);
                        for (int32_t k = 0; k < 3; ++k)
                            src[1 + k] = ToByte(masked.channel[k][(c >> (16 - 8 * k)) & 255] * m);
                        row[px] = BlendBytes(src, row[px], state.blend);
                    }
                    return;
                }
                const int64_t cx = xs * 256 + 128;
                int64_t e[3];
                for (int32_t k = 0; k < 3; ++k) {
                    const int32_t a = (k + 1) % 3;
                    e[k] = ax[k] * (cy - t.y[a]) - ay[k] * (cx - t.x[a]);
                }
                if (shade) {
                    const TTexture& t0 = *textures[0];
                    TShadeSpan span;
                    span.texels = t0.levels[0].data();
                    span.uniform = t0.uniform;
                    span.uniformTexel = t0.uniformTexel;
                    span.width = t0.desc.width;
                    span.height = t0.desc.height;
                    span.dst = row + xs;
                    span.count = int32_t(xe - xs);
                    for (int32_t k = 0; k < 3; ++k) {
                        span.e[k] = e[k];
                        span.step[k] = -ay[k] * 256;
                        std::copy(t.attr[k], t.attr[k] + 7, span.attr[k]);
                    }
                    span.invArea = invArea;
                    span.flat = t.flatColour;
                    std::copy(flat, flat + 4, span.flatColour);
                    span.opacity = runOpacity;
                    span.bilinear = state.filter == TFilter::Bilinear;
                    span.blend = SpanBlend(state.blend);
                    shadeSpan(span);
                    return;
                }
                for (int32_t px = int32_t(xs); px < int32_t(xe);
                     ++px, e[0] -= ay[0] * 256, e[1] -= ay[1] * 256, e[2] -= ay[2] * 256) {
                    if (e[0] + bias[0] < 0 || e[1] + bias[1] < 0 || e[2] + bias[2] < 0) continue;
                    const double l0 = double(e[0]) * invArea, l1 = double(e[1]) * invArea,
                                 l2 = double(e[2]) * invArea;
                    auto interp = [&](int32_t k) {
                        return l0 * t.attr[0][k] + l1 * t.attr[1][k] + l2 * t.attr[2][k];
                    };
                    const double w = 1.0 / interp(0);
                    float col[4];  // r, g, b, a straight
                    if (t.flatColour)
                        std::copy(flat, flat + 4, col);
                    else
                        for (int32_t c = 0; c < 4; ++c) col[c] = float(interp(1 + c) * w);
                    const float alpha = col[3] * runOpacity;
                    float out[4];  // premultiplied a, r, g, b
                    if (state.pipeline == TPipeline::Colour) {
                        out[0] = alpha;
                        for (int32_t c = 0; c < 3; ++c) out[1 + c] = col[c] * alpha / 255.0f;
                    } else {
                        const float u = float(interp(5) * w), v = float(interp(6) * w);
                        int32_t s[4];
                        const TTexture& t0 = *textures[0];
                        if (state.pipeline == TPipeline::Yuv) {
                            int32_t yy[4], uu[4], vv[4];
                            Sample(t0.levels[0], t0.desc.width, t0.desc.height, u, v, state.filter,
                                   yy);
                            const float u2 = float(interp(7) * w), v2 = float(interp(8) * w);
                            Sample(textures[1]->levels[0], textures[1]->desc.width,
                                   textures[1]->desc.height, u2, v2, state.filter, uu);
                            Sample(textures[2]->levels[0], textures[2]->desc.width,
                                   textures[2]->desc.height, u2, v2, state.filter, vv);
                            uint8_t bgra[4];
                            ql::YuvPixel(yy[3], uu[3], vv[3],
                                         state.constants[0][0] >= 0.5f ? ql::kBt709 : ql::kBt601,
                                         bgra);
                            s[0] = 255;
                            s[1] = bgra[2];
                            s[2] = bgra[1];
                            s[3] = bgra[0];
                        } else {
                            Sample(t0.levels[0], t0.desc.width, t0.desc.height, u, v, state.filter,
                                   s);
                        }
                        float sf[4] = {float(s[0]), float(s[1]), float(s[2]), float(s[3])};
                        if (state.pipeline == TPipeline::PostEffect) {
                            // Softens towards the average of the four neighbours by c1 x c2.
                            const float dx = state.constants[0][0], dy = state.constants[0][1];
                            const float k = std::clamp(
                                state.constants[1][0] * state.constants[2][0], 0.0f, 1.0f);
                            const float offs[4][2] = {{-dx, 0}, {dx, 0}, {0, -dy}, {0, dy}};
                            float sum[4] = {0, 0, 0, 0};
                            for (const auto& o : offs) {
                                int32_t n[4];
                                Sample(t0.levels[0], t0.desc.width, t0.desc.height, u + o[0],
                                       v + o[1], state.filter, n);
                                for (int32_t c = 0; c < 4; ++c) sum[c] += float(n[c]);
                            }
                            for (int32_t c = 0; c < 4; ++c) sf[c] += (sum[c] / 4.0f - sf[c]) * k;
                        }
                        float m = alpha / 255.0f;
                        if (state.pipeline == TPipeline::TextureMask) {
                            int32_t mk[4];
                            const TTexture& t1 = *textures[1];
                            Sample(t1.levels[0], t1.desc.width, t1.desc.height,
                                   float(interp(7) * w), float(interp(8) * w), state.filter, mk);
                            m *= float(mk[0]) / 255.0f;
                        }
                        out[0] = sf[0] * m;
                        for (int32_t c = 0; c < 3; ++c)
                            out[1 + c] = sf[1 + c] * col[c] / 255.0f * m;
                    }
                    int32_t src[4];
                    for (int32_t c = 0; c < 4; ++c) src[c] = ToByte(out[c]);
                    row[px] = BlendBytes(src, row[px], state.blend);
                }
            };
            if (!smooth) {
                run(from, to, 1);
                continue;
            }
            // Pixels cut by a smooth side one by one with their coverage,
            // the whole ones between them as one run.
            int64_t wholeFirst, wholeLast;
            smooth->WholeRun(py, wholeFirst, wholeLast);
            wholeFirst = std::clamp(wholeFirst, from, to);
            wholeLast = std::clamp(wholeLast, wholeFirst, to);
            const auto cut = [&](int64_t x0, int64_t x1) {
                for (int64_t x = x0; x < x1; ++x) {
                    const double cover = smooth->Coverage(double(x) + 0.5, double(py) + 0.5);
                    if (cover * 256 >= 0.5 && quad->Inside(x * 256 + 128, cy)) run(x, x + 1, cover);
                }
            };
            cut(from, wholeFirst);
            if (wholeFirst < wholeLast) run(wholeFirst, wholeLast, 1);
            cut(wholeLast, to);
        }
    }
}

TTextureHandle TSoftDevice::ConvertedYuv(const TDrawState& state,
                                         std::span<const TVertex> vertices) {
    const TTexture* planes[3];
    for (int32_t i = 0; i < 3; ++i) {
        planes[i] = Find(state.textures[i]);
        if (!planes[i] || planes[i]->desc.format != TTexelFormat::L8 ||
            state.textures[i] == m_target)
            return 0;
    }
    const int32_t w = planes[0]->desc.width, h = planes[0]->desc.height;
    const int32_t cw = planes[1]->desc.width, ch = planes[1]->desc.height;
    if (planes[2]->desc.width != cw || planes[2]->desc.height != ch) return 0;
    // Only the part of the texture the draw reaches is converted (a 1080p
    // frame fills little more than half of its 2048 x 2048 planes); one
    // texel more each way for the filter.
    float uMax = 0, vMax = 0;
    for (const TVertex& vertex : vertices) {
        uMax = std::max(uMax, SafeClamp(vertex.u, 0.0f, 1.0f));
        vMax = std::max(vMax, SafeClamp(vertex.v, 0.0f, 1.0f));
    }
    const int32_t needW = std::min(w, int32_t(std::ceil(uMax * float(w))) + 1);
    const int32_t needH = std::min(h, int32_t(std::ceil(vMax * float(h))) + 1);
    const bool bt709 = state.constants[0][0] >= 0.5f;
    auto entry = std::find_if(m_yuv.begin(), m_yuv.end(), [&](const TYuvConversion& c) {
        return c.planes[0] == state.textures[0] && c.planes[1] == state.textures[1] &&
               c.planes[2] == state.textures[2];
    });
    if (entry == m_yuv.end()) {
        TTextureDesc desc;
        desc.width = w;
        desc.height = h;
        // Without room the per-pixel path draws the frame, each time, and
        // says nothing: running short is not a failure of the draw.
        if (m_used + TextureBytes(desc) > m_budget) return 0;
        TTextureHandle rgb = 0;
        const TDxResult result = m_lastResult;
        if (CreateTexture(desc, rgb) != TDxResult::Ok) {
            m_lastResult = result;
            return 0;
        }
        TYuvConversion conversion;
        std::copy(state.textures, state.textures + 3, conversion.planes);
        conversion.rgb = rgb;
        m_yuv.push_back(conversion);
        entry = m_yuv.end() - 1;
    } else if (entry->bt709 == bt709 && entry->versions[0] == planes[0]->version &&
               entry->versions[1] == planes[1]->version &&
               entry->versions[2] == planes[2]->version && entry->width >= needW &&
               entry->height >= needH) {
        return entry->rgb;
    }
    TTexture* rgb = Find(entry->rgb);
    if (!rgb) return 0;
    // Draws still waiting may sample the frame this conversion replaces.
    FlushDraws();
    // Bands of rows across the drawing threads, each with its own converter
    // and rows. Each chroma texel covers two by two luma texels, as in the
    // frame the planes came from; the row loop spreads a chroma row over two
    // pixels.
    const int32_t bands = m_pool->Threads();
    if (int32_t(m_yuvBands.size()) != bands || m_yuvBands.front().width != needW) {
        m_yuvBands.clear();
        for (int32_t i = 0; i < bands; ++i) {
            TYuvBand band;
            band.width = needW;
            band.converter = std::make_unique<ql::TYuvToRgbConverter>(needW);
            band.rows.resize(size_t(needW) + 2 * size_t(cw));
            m_yuvBands.push_back(std::move(band));
        }
    }
    for (TYuvBand& band : m_yuvBands) band.rows.resize(size_t(needW) + 2 * size_t(cw));
    const ql::TYuvMatrix matrix = bt709 ? ql::TYuvMatrix::Bt709 : ql::TYuvMatrix::Bt601;
    auto bytes = [](const uint32_t* texels, int32_t n, uint8_t* out) {
        // An L8 texel is stored as an opaque grey.
        for (int32_t x = 0; x < n; ++x) out[x] = uint8_t(texels[x] & 0xFF);
    };
    // The chroma a row of needW pixels reaches.
    const int32_t chromaW = std::min(cw, needW / 2 + 1);
    std::vector<uint32_t>& out = rgb->levels[0];
    m_pool->Run(bands, [&](int32_t index) {
        TYuvBand& band = m_yuvBands[size_t(index)];
        uint8_t* yRow = band.rows.data();
        uint8_t* uRow = yRow + needW;
        uint8_t* vRow = uRow + cw;
        for (int32_t y = needH * index / bands; y < needH * (index + 1) / bands; ++y) {
            const int32_t c = std::min(y / 2, ch - 1);
            bytes(planes[0]->levels[0].data() + size_t(y) * size_t(w), needW, yRow);
            bytes(planes[1]->levels[0].data() + size_t(c) * size_t(cw), chromaW, uRow);
            bytes(planes[2]->levels[0].data() + size_t(c) * size_t(cw), chromaW, vRow);
            band.converter->ConvertRow(
                yRow, uRow, vRow, chromaW, matrix,
                reinterpret_cast<uint8_t*>(out.data() + size_t(y) * size_t(w)));
        }
    });
    ++rgb->version;
    rgb->surface.pending = false;
    rgb->surface.dirty = {0, 0, w, h};
    rgb->opaqueW = needW;
    rgb->opaqueH = needH;
    rgb->uniform = false;
    entry->bt709 = bt709;
    entry->width = needW;
    entry->height = needH;
    for (int32_t i = 0; i < 3; ++i) entry->versions[i] = planes[i]->version;
    return entry->rgb;
}

void TSoftDevice::ReleaseYuvOf(TTextureHandle plane) {
    for (size_t i = 0; i < m_yuv.size();) {
        const TYuvConversion& c = m_yuv[i];
        if (c.planes[0] != plane && c.planes[1] != plane && c.planes[2] != plane) {
            ++i;
            continue;
        }
        const TTextureHandle rgb = c.rgb;
        m_yuv.erase(m_yuv.begin() + ptrdiff_t(i));
        ReleaseTexture(rgb);
    }
}

}  // namespace orb
