#include "OrbLib2/3DBasics/qlGlDevice.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/qlLog.h"

namespace orb {

namespace {

constexpr int32_t kMaxOutputSide = 16384;

// Vertices go to GL as they are: x y z w, the colour as four bytes (B, G, R,
// A in memory), then both coordinate pairs.
constexpr char kVertexShader[] = R"(#version 330 core
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec4 aColour;
layout(location = 2) in vec2 aUv;
layout(location = 3) in vec2 aUv2;
uniform vec4 uTarget;  // 2 / width, 2 / height, nearest w
out vec4 vColour;
out vec2 vUv;
out vec2 vUv2;
void main() {
    float w = aPosition.w;
    // Pixel (x / w, y / w) with row 0 first in memory; z puts the near cut at
    // w = nearest w, where GL's own clipping removes what lies before it.
    gl_Position = vec4(aPosition.x * uTarget.x - w, aPosition.y * uTarget.y - w, w - 2.0 * uTarget.z, w);
    vColour = aColour.bgra;
    vUv = aUv;
    vUv2 = aUv2;
}
)";

// One source for every pipeline, picked by PIPELINE: 0 colour, 1 texture,
// 2 texture x mask, 3 YUV, 4 post effect. The output is premultiplied, as
// the targets are.
constexpr char kFragmentShader[] = R"(
in vec4 vColour;
in vec2 vUv;
in vec2 vUv2;
uniform sampler2D uTex0;
uniform sampler2D uTex1;
uniform sampler2D uTex2;
uniform vec4 uOpacity;
uniform vec4 uC0;
uniform vec4 uC1;
uniform vec4 uC2;
// Smooth sides: a x + b y + c (the distance in pixels, inside positive) and
// 1 when the side is on. Coverage is the exact area of the pixel inside
// each one, the same formula as TSmoothEdges::Coverage on the CPU.
uniform vec4 uEdge0;
uniform vec4 uEdge1;
uniform vec4 uEdge2;
uniform vec4 uEdge3;
out vec4 fragColour;
float EdgeCover(vec4 e) {
    if (e.w == 0.0) return 1.0;
    float hi = max(abs(e.x), abs(e.y)), lo = min(abs(e.x), abs(e.y));
    float u = clamp(dot(e.xy, gl_FragCoord.xy) + e.z + (hi + lo) * 0.5, 0.0, hi + lo);
    float inside;
    if (u < lo)
        inside = u * u / (2.0 * hi * lo);
    else if (u <= hi)
        inside = (u - lo * 0.5) / hi;
    else
        inside = 1.0 - (hi + lo - u) * (hi + lo - u) / (2.0 * hi * lo);
    return clamp(inside, 0.0, 1.0);
}
void main() {
    float cover = EdgeCover(uEdge0) * EdgeCover(uEdge1) * EdgeCover(uEdge2) * EdgeCover(uEdge3);
    if (cover <= 0.0) discard;
    float alpha = vColour.a * uOpacity.x * cover;
#if PIPELINE == 0
    fragColour = vec4(vColour.rgb * alpha, alpha);
#else
#if PIPELINE == 3
    // Video range by the BT.601 matrix, or BT.709 with uC0.x 1, in the 8.8
    // fixed point of the software converter, so that both devices give the
    // same bytes where a texel meets a pixel. Each chroma texel covers two by
    // two luma texels: it is the one under the luma texel, unfiltered.
    ivec2 lumaSize = textureSize(uTex0, 0);
    ivec2 chromaSize = textureSize(uTex1, 0);
    ivec2 texel = clamp(ivec2(floor(vUv * vec2(lumaSize))), ivec2(0), lumaSize - 1);
    ivec2 chroma = clamp(texel / 2, ivec2(0), chromaSize - 1);
    float y = floor(texture(uTex0, vUv).r * 255.0 + 0.5);
    float d = floor(texelFetch(uTex1, chroma, 0).r * 255.0 + 0.5) - 128.0;
    float e = floor(texelFetch(uTex2, chroma, 0).r * 255.0 + 0.5) - 128.0;
    vec4 k = uC0.x >= 0.5 ? vec4(459.0, -55.0, -136.0, 541.0) : vec4(409.0, -100.0, -208.0, 516.0);
    float luma = 298.0 * (y - 16.0) + 128.0;
    vec3 rgb = floor(vec3(luma + k.x * e, luma + k.y * d + k.z * e, luma + k.w * d) / 256.0);
    vec4 s = vec4(clamp(rgb, 0.0, 255.0) / 255.0, 1.0);
#else
    vec4 s = texture(uTex0, vUv);
#endif
#if PIPELINE == 4
    float k = clamp(uC1.x * uC2.x, 0.0, 1.0);
    vec4 sum = texture(uTex0, vUv + vec2(-uC0.x, 0.0)) + texture(uTex0, vUv + vec2(uC0.x, 0.0)) +
               texture(uTex0, vUv + vec2(0.0, -uC0.y)) + texture(uTex0, vUv + vec2(0.0, uC0.y));
    s += (sum * 0.25 - s) * k;
#endif
    float m = alpha;
#if PIPELINE == 2
    m *= texture(uTex1, vUv2).a;
#endif
    fragColour = vec4(s.rgb * vColour.rgb * m, s.a * m);
#endif
}
)";

uint32_t Premultiply(uint32_t c) {
    const uint32_t a = c >> 24;
    auto ch = [a](uint32_t v) { return (v * a + 127) / 255; };
    return (a << 24) | (ch((c >> 16) & 255) << 16) | (ch((c >> 8) & 255) << 8) | ch(c & 255);
}

int32_t TexturesNeeded(TPipeline pipeline) {
    switch (pipeline) {
        case TPipeline::Colour:
            return 0;
        case TPipeline::TextureMask:
            return 2;
        case TPipeline::Yuv:
            return 3;
        default:
            return 1;
    }
}

bool Finite(const TVertex& v) {
    for (float f : {v.x, v.y, v.z, v.w, v.u, v.v, v.u2, v.v2})
        if (!std::isfinite(f)) return false;
    return true;
}

}  // namespace

TGlDevice::TGlDevice(std::unique_ptr<ql::TGlApi> api)
    : m_api(std::move(api)), m_owner(std::this_thread::get_id()) {}

std::unique_ptr<TGlDevice> TGlDevice::CreateHeadless(int32_t width, int32_t height,
                                                     std::string& error) {
    auto context = ql::TGlContext::CreateHeadless(error);
    auto api = context ? ql::TGlApi::Create(std::move(context), error) : nullptr;
    return api ? Create(std::move(api), width, height, error) : nullptr;
}

std::unique_ptr<TGlDevice> TGlDevice::Create(std::unique_ptr<ql::TGlApi> api, int32_t width,
                                             int32_t height, std::string& error) {
    if (!api) {
        error = "no GL";
        return nullptr;
    }
    std::unique_ptr<TGlDevice> device(new TGlDevice(std::move(api)));
    if (!device->BuildPipelines(error)) return nullptr;
    ql::TGlApi& gl = *device->m_api;
    const int32_t maxSize = std::clamp(gl.MaxTextureSize(), 1, kMaxOutputSide);
    device->m_caps.maxTexWidth = maxSize;
    device->m_caps.maxTexHeight = maxSize;
    device->m_caps.maxAnisotropy = 1;
    device->m_caps.pixelShaderVersion = 0x0300;
    if (!device->MakeBackBuffer(std::clamp(width, 1, kMaxOutputSide),
                                std::clamp(height, 1, kMaxOutputSide))) {
        error = "the GL back buffer cannot be made";
        return nullptr;
    }
    device->BindTarget();
    return device;
}

bool TGlDevice::BuildPipelines(std::string& error) {
    ql::TGlApi& gl = *m_api;
    for (int32_t p = 0; p < 5; ++p) {
        const std::string fragment =
            "#version 330 core\n#define PIPELINE " + std::to_string(p) + "\n" + kFragmentShader;
        std::string log;
        TProgram& program = m_programs[p];
        program.id = gl.CreateProgram(kVertexShader, fragment.c_str(), log);
        if (!program.id) {
            error = "GL pipeline " + std::to_string(p) + " does not build: " + log;
            return false;
        }
        gl.UseProgram(program.id);
        gl.SetUniform(gl.UniformLocation(program.id, "uTex0"), 0);
        gl.SetUniform(gl.UniformLocation(program.id, "uTex1"), 1);
        gl.SetUniform(gl.UniformLocation(program.id, "uTex2"), 2);
        program.target = gl.UniformLocation(program.id, "uTarget");
        program.opacity = gl.UniformLocation(program.id, "uOpacity");
        program.constants[0] = gl.UniformLocation(program.id, "uC0");
        program.constants[1] = gl.UniformLocation(program.id, "uC1");
        program.constants[2] = gl.UniformLocation(program.id, "uC2");
        for (int32_t k = 0; k < 4; ++k)
            program.edges[k] =
                gl.UniformLocation(program.id, ("uEdge" + std::to_string(k)).c_str());
    }
    return true;
}

void TGlDevice::AttachToThread() {
    if (m_api->Context().MakeCurrent())
        m_owner = std::this_thread::get_id();
    else
        ql::GlobalLog().WriteLine(u"TGlDevice: the context cannot be made current on this thread");
}

void TGlDevice::DetachFromThread() {
    if (!OnOwnerThread()) return;
    m_api->Context().ReleaseCurrent();
    m_owner = std::thread::id();
}

TDxResult TGlDevice::Restore() {
    if (!m_lost) return m_lastResult = TDxResult::Ok;
    if (!OnOwnerThread() || !m_contextFactory) return Fail(TDxResult::DeviceLost);
    std::string error;
    std::unique_ptr<ql::TGlApi> fresh = ql::TGlApi::Create(m_contextFactory(error), error);
    if (!fresh) {
        ql::GlobalLog().WriteLine("TGlDevice: no new context after a loss: " + error);
        m_api->Context().MakeCurrent();
        return Fail(TDxResult::DeviceLost);
    }
    // The old context goes with whatever was made on it; it is current
    // while it goes, so that its own names are the ones deleted.
    m_api->Context().MakeCurrent();
    m_api = std::move(fresh);
    m_api->Context().MakeCurrent();
    m_textures.clear();
    m_target = 0;
    m_backTexture = m_backFramebuffer = 0;
    m_showTexture = m_showFramebuffer = 0;
    m_showWidth = m_showHeight = 0;
    for (TProgram& program : m_programs) program = TProgram();
    if (!BuildPipelines(error) || !MakeBackBuffer(m_width, m_height)) {
        ql::GlobalLog().WriteLine("TGlDevice: the new context cannot draw: " + error);
        return Fail(TDxResult::DeviceLost);
    }
    m_lost = false;
    BindTarget();
    ql::GlobalLog().WriteLine(u"TGlDevice: a new context after a loss");
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::ShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                                int32_t stride) {
    if (!OnOwnerThread() || m_lost || !pixels || width <= 0 || height <= 0 ||
        width > kMaxOutputSide || height > kMaxOutputSide || stride < width * 4)
        return Fail(m_lost ? TDxResult::DeviceLost : TDxResult::InvalidCall);
    if (!m_api->Context().HasWindow()) {
        if (m_presentSink && stride == width * 4 &&
            reinterpret_cast<uintptr_t>(pixels) % alignof(uint32_t) == 0)
            m_presentSink(reinterpret_cast<const uint32_t*>(pixels), width, height);
        return m_lastResult = TDxResult::Ok;
    }
    if (m_showWidth != width || m_showHeight != height) {
        m_api->DeleteFramebuffer(m_showFramebuffer);
        m_api->DeleteTexture(m_showTexture);
        m_showTexture = m_api->CreateTexture(width, height, 1, false);
        m_showFramebuffer = m_showTexture ? m_api->CreateFramebuffer(m_showTexture) : 0;
        m_showWidth = m_showFramebuffer ? width : 0;
        m_showHeight = m_showFramebuffer ? height : 0;
        if (!m_showFramebuffer) return Fail(TDxResult::OutOfMemory);
    }
    m_api->UploadTexture(m_showTexture, 0, width, height, false, pixels, stride);
    m_api->BlitToWindow(m_showFramebuffer, width, height);
    m_api->Context().SwapBuffers();
    BindTarget();
    return m_lastResult = TDxResult::Ok;
}

TGlDevice::~TGlDevice() {
    m_api->DeleteFramebuffer(m_showFramebuffer);
    m_api->DeleteTexture(m_showTexture);
    for (auto& [handle, texture] : m_textures) {
        m_api->DeleteFramebuffer(texture.framebuffer);
        m_api->DeleteTexture(texture.texture);
    }
    m_api->DeleteFramebuffer(m_backFramebuffer);
    m_api->DeleteTexture(m_backTexture);
    for (const TProgram& program : m_programs) m_api->DeleteProgram(program.id);
}

std::string TGlDevice::Renderer() const {
    return m_api->Renderer();
}

TDxResult TGlDevice::Fail(TDxResult result) {
    m_lastResult = result;
    return LogDxResult(result);
}

TGlDevice::TTexture* TGlDevice::Find(TTextureHandle handle) {
    auto it = m_textures.find(handle);
    return it == m_textures.end() ? nullptr : &it->second;
}

bool TGlDevice::MakeBackBuffer(int32_t width, int32_t height) {
    const uint32_t texture = m_api->CreateTexture(width, height, 1, false);
    const uint32_t framebuffer = texture ? m_api->CreateFramebuffer(texture) : 0;
    if (!framebuffer) {
        m_api->DeleteTexture(texture);
        return false;
    }
    m_api->DeleteFramebuffer(m_backFramebuffer);
    m_api->DeleteTexture(m_backTexture);
    m_backTexture = texture;
    m_backFramebuffer = framebuffer;
    m_width = width;
    m_height = height;
    // The new back buffer starts cleared.
    m_api->BindFramebuffer(framebuffer, width, height);
    m_api->SetScissor(0, 0, 0, 0);
    m_api->Clear(0, 0, 0, 0);
    return true;
}

bool TGlDevice::BindTarget() {
    if (m_target == 0) {
        m_api->BindFramebuffer(m_backFramebuffer, m_width, m_height);
    } else {
        const TTexture* texture = Find(m_target);
        if (!texture) return false;
        m_api->BindFramebuffer(texture->framebuffer, texture->desc.width, texture->desc.height);
    }
    m_api->SetScissor(m_scissor.left, m_scissor.top, m_scissor.Width(), m_scissor.Height());
    return true;
}

TDxResult TGlDevice::ResizeOutput(int32_t width, int32_t height) {
    if (!OnOwnerThread() || width < 1 || height < 1 || width > kMaxOutputSide ||
        height > kMaxOutputSide)
        return Fail(TDxResult::InvalidCall);
    if (!MakeBackBuffer(width, height)) return Fail(TDxResult::OutOfMemory);
    BindTarget();
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::CreateTexture(const TTextureDesc& desc, TTextureHandle& handle) {
    handle = 0;
    if (m_lost) return Fail(TDxResult::DeviceLost);
    auto pow2 = [](int32_t v) { return v > 0 && (v & (v - 1)) == 0; };
    const bool target = desc.usage == TTextureUsage::RenderTarget ||
                        desc.usage == TTextureUsage::RenderTargetLockable;
    if (!OnOwnerThread() || !pow2(desc.width) || !pow2(desc.height) ||
        desc.width > m_caps.maxTexWidth || desc.height > m_caps.maxTexHeight ||
        desc.mipLevels < 1 || desc.mipLevels > 16 || (desc.format == TTexelFormat::L8 && target))
        return Fail(TDxResult::InvalidCall);
    TTexture texture;
    texture.desc = desc;
    texture.texture = m_api->CreateTexture(desc.width, desc.height, desc.mipLevels,
                                           desc.format == TTexelFormat::L8);
    if (!texture.texture) return Fail(TDxResult::OutOfMemory);
    if (target) {
        texture.framebuffer = m_api->CreateFramebuffer(texture.texture);
        if (!texture.framebuffer) {
            m_api->DeleteTexture(texture.texture);
            BindTarget();
            return Fail(TDxResult::OutOfMemory);
        }
        // A new target starts transparent, as the reference device's does.
        m_api->BindFramebuffer(texture.framebuffer, desc.width, desc.height);
        m_api->SetScissor(0, 0, 0, 0);
        m_api->Clear(0, 0, 0, 0);
        BindTarget();
    }
    handle = m_nextHandle++;
    m_textures.emplace(handle, texture);
    return m_lastResult = TDxResult::Ok;
}

void TGlDevice::ReleaseTexture(TTextureHandle handle) {
    auto it = m_textures.find(handle);
    if (it == m_textures.end() || !OnOwnerThread()) return;
    m_api->DeleteFramebuffer(it->second.framebuffer);
    m_api->DeleteTexture(it->second.texture);
    m_textures.erase(it);
    if (m_target == handle) {
        m_target = 0;
        BindTarget();
    }
}

TDxResult TGlDevice::UploadLevel(TTextureHandle handle, int32_t level, const ql::TBitmap& pixels) {
    TTexture* texture = Find(handle);
    if (!OnOwnerThread() || !texture || level < 0 || level >= texture->desc.mipLevels)
        return Fail(TDxResult::InvalidCall);
    const int32_t w = std::max(texture->desc.width >> level, 1),
                  h = std::max(texture->desc.height >> level, 1);
    const bool grey = texture->desc.format == TTexelFormat::L8;
    if (pixels.Width() != w || pixels.Height() != h ||
        (grey ? pixels.BytesPerPixel() != 1 : pixels.PixelFormat() != ql::PfARGB32()))
        return Fail(TDxResult::InvalidCall);
    // Bitmap rows need not be contiguous, and GL takes premultiplied texels:
    // both are settled in one staging copy.
    const size_t rowBytes = size_t(w) * (grey ? 1 : 4);
    m_staging.resize(rowBytes * size_t(h));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = pixels.Row(y);
        uint8_t* out = m_staging.data() + rowBytes * size_t(y);
        if (grey) {
            std::memcpy(out, row, rowBytes);
            continue;
        }
        for (int32_t x = 0; x < w; ++x) {
            uint32_t c;
            std::memcpy(&c, row + size_t(x) * 4, 4);
            c = Premultiply(c);
            std::memcpy(out + size_t(x) * 4, &c, 4);
        }
    }
    m_api->UploadTexture(texture->texture, level, w, h, grey, m_staging.data(), int32_t(rowBytes));
    if (m_api->TakeOutOfMemory()) return Fail(TDxResult::OutOfMemory);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::BeginScene() {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    // A driver reset is looked for once a frame, before anything is drawn
    // into a context that may be gone (frames taken as captures are never
    // presented, so Present alone would not notice).
    if (m_api->TakeContextLost()) {
        m_lost = true;
        return Fail(TDxResult::DeviceLost);
    }
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::EndScene() {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::Present() {
    if (m_lost) return Fail(TDxResult::DeviceLost);
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    if (m_api->Context().HasWindow()) {
        m_api->BlitToWindow(m_backFramebuffer, m_width, m_height);
        m_api->Context().SwapBuffers();
        BindTarget();
    } else if (m_presentSink) {
        // Headless output has nothing to show: whoever wants the frames gets
        // them read back, as the software device hands its back buffer over.
        const size_t rowBytes = size_t(m_width) * 4;
        m_presentFrame.resize(size_t(m_width) * size_t(m_height));
        m_api->BindFramebuffer(m_backFramebuffer, m_width, m_height);
        m_api->ReadPixels(0, 0, m_width, m_height,
                          reinterpret_cast<uint8_t*>(m_presentFrame.data()), int32_t(rowBytes));
        BindTarget();
        m_presentSink(m_presentFrame.data(), m_width, m_height);
    }
    if (m_api->TakeContextLost()) {
        m_lost = true;
        return Fail(TDxResult::DeviceLost);
    }
    ++m_presents;
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::SetRenderTarget(TTextureHandle target) {
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    if (target != 0) {
        const TTexture* texture = Find(target);
        if (!texture || !texture->framebuffer) return Fail(TDxResult::InvalidCall);
    }
    m_target = target;
    BindTarget();
    return m_lastResult = TDxResult::Ok;
}

void TGlDevice::SetScissor(const ql::TRect& rect) {
    m_scissor = rect;
    if (OnOwnerThread()) m_api->SetScissor(rect.left, rect.top, rect.Width(), rect.Height());
}

TDxResult TGlDevice::Clear(uint32_t colour) {
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    // Bytes premultiplied as the reference device does, so both clear alike.
    const uint32_t p = Premultiply(colour);
    m_api->Clear(float((p >> 16) & 255) / 255.0f, float((p >> 8) & 255) / 255.0f,
                 float(p & 255) / 255.0f, float(p >> 24) / 255.0f);
    return m_lastResult = TDxResult::Ok;
}

TDxResult TGlDevice::DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) {
    if (!OnOwnerThread() || size_t(state.pipeline) >= std::size(m_programs))
        return Fail(TDxResult::InvalidCall);
    const int32_t needed = TexturesNeeded(state.pipeline);
    const TTexture* textures[3] = {nullptr, nullptr, nullptr};
    for (int32_t i = 0; i < needed; ++i) {
        textures[i] = Find(state.textures[i]);
        // GL leaves sampling the texture being drawn into undefined.
        if (!textures[i] || (m_target != 0 && state.textures[i] == m_target))
            return Fail(TDxResult::InvalidCall);
    }
    // Triangles with a non-finite corner draw nothing, as on the reference
    // device; GL would draw them in its own undefined way.
    m_vertices.clear();
    for (size_t i = 0; i + 3 <= vertices.size(); i += 3)
        if (Finite(vertices[i]) && Finite(vertices[i + 1]) && Finite(vertices[i + 2]))
            m_vertices.insert(m_vertices.end(), vertices.begin() + ptrdiff_t(i),
                              vertices.begin() + ptrdiff_t(i + 3));
    if (m_vertices.empty()) return m_lastResult = TDxResult::Ok;

    const TProgram& program = m_programs[size_t(state.pipeline)];
    int32_t targetWidth = m_width, targetHeight = m_height;
    if (m_target != 0) {
        const TTexture* target = Find(m_target);
        if (!target) return Fail(TDxResult::InvalidCall);
        targetWidth = target->desc.width;
        targetHeight = target->desc.height;
    }
    m_api->UseProgram(program.id);
    m_api->SetUniform(program.target, 2.0f / float(targetWidth), 2.0f / float(targetHeight),
                      std::max(state.nearW, 1e-6f), 0.0f);
    m_api->SetUniform(program.opacity, float(state.opacity) / 255.0f, 0, 0, 0);
    for (int32_t c = 0; c < 3; ++c)
        m_api->SetUniform(program.constants[c], state.constants[c][0], state.constants[c][1],
                          state.constants[c][2], state.constants[c][3]);
    for (int32_t i = 0; i < needed; ++i)
        m_api->BindTexture(i, textures[i]->texture, state.filter == TFilter::Bilinear);
    m_api->SetBlend(state.blend == TBlendMode::Replace ? ql::TGlBlend::None
                    : state.blend == TBlendMode::Add   ? ql::TGlBlend::Add
                    : state.blend == TBlendMode::Max   ? ql::TGlBlend::Max
                                                       : ql::TGlBlend::PremultipliedOver);
    static constexpr ql::TGlAttribute kAttributes[] = {
        {0, 4, false, offsetof(TVertex, x)},
        {1, 4, true, offsetof(TVertex, colour)},
        {2, 2, false, offsetof(TVertex, u)},
        {3, 2, false, offsetof(TVertex, u2)},
    };
    if (!(state.smoothSides & 15)) {
        SetEdges(program, TSmoothEdges());
        m_api->DrawTriangles(m_vertices.data(), sizeof(TVertex), int32_t(m_vertices.size()),
                             kAttributes);
    } else {
        // Quad by quad: each has its own sides, and reaches out a little past
        // its smooth ones to take in the pixels they cut.
        for (size_t q = 0; q + 6 <= m_vertices.size(); q += 6) {
            TVertex corners[4] = {m_vertices[q], m_vertices[q + 1], m_vertices[q + 2],
                                  m_vertices[q + 5]};
            const TSmoothEdges edges =
                TSmoothEdges::FromQuad(corners, state.smoothSides, state.nearW);
            if (edges.count > 0) Widen(corners, state.smoothSides);
            const TVertex quad[6] = {corners[0], corners[1], corners[2],
                                     corners[0], corners[2], corners[3]};
            SetEdges(program, edges);
            m_api->DrawTriangles(quad, sizeof(TVertex), 6, kAttributes);
        }
    }
    if (m_api->TakeOutOfMemory()) return Fail(TDxResult::OutOfMemory);
    return m_lastResult = TDxResult::Ok;
}

void TGlDevice::SetEdges(const TProgram& program, const TSmoothEdges& edges) {
    for (int32_t k = 0; k < 4; ++k) {
        const bool on = k < edges.count;
        m_api->SetUniform(program.edges[k], on ? float(edges.a[k]) : 0.0f,
                          on ? float(edges.b[k]) : 0.0f, on ? float(edges.c[k]) : 0.0f,
                          on ? 1.0f : 0.0f);
    }
}

void TGlDevice::Widen(TVertex (&corners)[4], uint8_t sides) {
    // Every value of the quad is bilinear in (s, t) over its corners (exact
    // for the parallelograms pictures are drawn as, positions homogeneous),
    // so moving a side out by a parameter step keeps texture and colour
    // where they belong. The step is kReach pixels along the shorter of the
    // two sides it runs along: a pixel or more everywhere.
    constexpr float kReach = 1.5f, kMostStep = 4.0f;
    auto at = [&](int32_t i) {
        return std::pair<float, float>(corners[i].x / corners[i].w, corners[i].y / corners[i].w);
    };
    auto length = [&](int32_t i, int32_t j) {
        const auto [x0, y0] = at(i);
        const auto [x1, y1] = at(j);
        return std::hypot(x1 - x0, y1 - y0);
    };
    auto step = [&](float a, float b) {
        return std::min(kReach / std::max(std::min(a, b), 1e-3f), kMostStep);
    };
    const float across = step(length(0, 1), length(3, 2)), down = step(length(0, 3), length(1, 2));
    const float s0 = sides & 1 ? -across : 0.0f, s1 = sides & 4 ? 1.0f + across : 1.0f;
    const float t0 = sides & 2 ? -down : 0.0f, t1 = sides & 8 ? 1.0f + down : 1.0f;
    const TVertex c[4] = {corners[0], corners[1], corners[2], corners[3]};
    auto blend = [&](float s, float t) {
        const float w[4] = {(1 - s) * (1 - t), s * (1 - t), s * t, (1 - s) * t};
        TVertex v;
        v.x = v.y = v.z = v.w = v.u = v.v = v.u2 = v.v2 = 0;
        float colour[4] = {0, 0, 0, 0};
        for (int32_t i = 0; i < 4; ++i) {
            v.x += w[i] * c[i].x, v.y += w[i] * c[i].y, v.z += w[i] * c[i].z, v.w += w[i] * c[i].w;
            v.u += w[i] * c[i].u, v.v += w[i] * c[i].v, v.u2 += w[i] * c[i].u2,
                v.v2 += w[i] * c[i].v2;
            for (int32_t b = 0; b < 4; ++b)
                colour[b] += w[i] * float((c[i].colour >> (8 * b)) & 255);
        }
        v.colour = 0;
        for (int32_t b = 0; b < 4; ++b)
            v.colour |= uint32_t(std::clamp(std::lround(colour[b]), 0L, 255L)) << (8 * b);
        return v;
    };
    corners[0] = blend(s0, t0);
    corners[1] = blend(s1, t0);
    corners[2] = blend(s1, t1);
    corners[3] = blend(s0, t1);
}

TDxResult TGlDevice::ReadPixels(const ql::TRect& rect, ql::TBitmap& dst) {
    if (!OnOwnerThread()) return Fail(TDxResult::InvalidCall);
    int32_t width = m_width, height = m_height;
    if (m_target != 0) {
        const TTexture* target = Find(m_target);
        if (!target) return Fail(TDxResult::InvalidCall);
        width = target->desc.width;
        height = target->desc.height;
    }
    if (rect.IsEmpty() || rect.left < 0 || rect.top < 0 || rect.right > width ||
        rect.bottom > height || dst.PixelFormat() != ql::PfARGB32() || dst.Width() < rect.Width() ||
        dst.Height() < rect.Height())
        return Fail(TDxResult::InvalidCall);
    // Framebuffer rows are kept row 0 first (see qlGlApi.h), so the rows come
    // back in bitmap order; the staging copy only joins non-contiguous rows.
    const size_t rowBytes = size_t(rect.Width()) * 4;
    m_staging.resize(rowBytes * size_t(rect.Height()));
    m_api->ReadPixels(rect.left, rect.top, rect.Width(), rect.Height(), m_staging.data(),
                      int32_t(rowBytes));
    for (int32_t y = 0; y < rect.Height(); ++y)
        std::memcpy(dst.Row(y), m_staging.data() + rowBytes * size_t(y), rowBytes);
    return m_lastResult = TDxResult::Ok;
}

}  // namespace orb
