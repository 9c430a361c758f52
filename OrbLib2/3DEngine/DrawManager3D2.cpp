#include "OrbLib2/3DEngine/DrawManager3D2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "OrbLib2/3DEngine/Dev3DEffects2.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlScopeExit.h"
#include "QlLib/qpExceptions.h"

namespace orb {

namespace {

void Log(std::u16string_view line) {
    ql::GlobalLog().WriteLine(line);
}

// Puts the screen's viewport back as it was when the scope began.
class TViewportScope {
public:
    explicit TViewportScope(T3DScreen& screen) : m_screen(screen), m_saved(screen.Viewport()) {}
    // The same, with `viewport` in force meanwhile.
    TViewportScope(T3DScreen& screen, const TViewport& viewport) : TViewportScope(screen) {
        screen.SetViewport(viewport);
    }
    ~TViewportScope() { m_screen.SetViewport(m_saved); }
    TViewportScope(const TViewportScope&) = delete;
    TViewportScope& operator=(const TViewportScope&) = delete;

private:
    T3DScreen& m_screen;
    TViewport m_saved;
};

// Pops the render target that was pushed just before the scope began.
class TRenderTargetScope {
public:
    explicit TRenderTargetScope(T3DScreen& screen) : m_screen(screen) {}
    ~TRenderTargetScope() { m_screen.PopRenderTarget(); }
    TRenderTargetScope(const TRenderTargetScope&) = delete;
    TRenderTargetScope& operator=(const TRenderTargetScope&) = delete;

private:
    T3DScreen& m_screen;
};

TPointF Add(TPointF a, TPointF b) {
    return {a.x + b.x, a.y + b.y};
}
TPointF Scale(TPointF a, float s) {
    return {a.x * s, a.y * s};
}

}  // namespace

// ---- T3DYUV ----

T3DYUV::T3DYUV(T3DScreen& screen, int32_t width, int32_t height, bool planes)
    : m_width(width), m_height(height) {
    if (planes) {
        m_y = std::make_unique<TVideoTexture>(screen, width, height);
        m_u = std::make_unique<TVideoTexture>(screen, std::max(width / 2, 1),
                                              std::max(height / 2, 1));
        m_v = std::make_unique<TVideoTexture>(screen, std::max(width / 2, 1),
                                              std::max(height / 2, 1));
    } else {
        m_gray = std::make_unique<TGrayScaleTexture>(screen, width, height);
    }
}

TVideoTexture* T3DYUV::Plane(int32_t index) const {
    return index == 0 ? m_y.get() : index == 1 ? m_u.get() : index == 2 ? m_v.get() : nullptr;
}

void T3DYUV::TexturesLost() {
    for (TCustomTexture* texture :
         {static_cast<TCustomTexture*>(m_y.get()), static_cast<TCustomTexture*>(m_u.get()),
          static_cast<TCustomTexture*>(m_v.get()), static_cast<TCustomTexture*>(m_gray.get())})
        if (texture) texture->Invalidate();
}

void T3DYUV::SetFrame(const uint8_t* y, int32_t yPitch, const uint8_t* u, int32_t uPitch,
                      const uint8_t* v, int32_t vPitch, bool bt709) {
    if (!y) return;
    m_bt709 = bt709;
    if (m_gray) {
        m_gray->SetPlane(y, yPitch);
    } else {
        if (!u || !v) return;
        m_y->SetPlane(y, yPitch);
        m_u->SetPlane(u, uPitch);
        m_v->SetPlane(v, vPitch);
    }
    m_hasFrame = true;
}

// ---- TRenderTargetD3DEffecter ----

void TRenderTargetD3DEffecter::Init(int32_t width, int32_t height) {
    for (auto& target : m_targets) {
        if (!target)
            target = std::make_unique<TRenderTargetTexture>(m_screen, width, height);
        else if (target->Width() != width || target->Height() != height)
            target->SetSize(width, height);
    }
    if (!m_mesh) m_mesh = std::make_unique<TRenderTargetTexture>(m_screen, 256, 256);
}

// ---- T3DDrawer ----

T3DDrawer::T3DDrawer(TRenderDevice& device)
    : m_screen(device), m_device(device), m_effecter(m_screen) {
    m_screen.SetLostHook([this] { RendererLost(); });
    m_screen.SetReadyHook([this] { RendererReady(); });
}

T3DDrawer::~T3DDrawer() {
    m_screen.SetLostHook(nullptr);
    m_screen.SetReadyHook(nullptr);
}

TTextureManager6& T3DDrawer::TextureManager() {
    if (!m_textures) m_textures = std::make_unique<TTextureManager6>(m_screen);
    return *m_textures;
}

int32_t T3DDrawer::ShaderLevel() const {
    return orb::ShaderLevel(m_device.Caps());
}

void T3DDrawer::Init(const TOutputDevice& output) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Log(u"T3DDrawer.Init");
    m_initialised = true;
    m_screen.SetOutput(output);
    if (m_screen.RendererReady()) {
        RendererReady();
        m_screen.NoteReady();
    }
}

void T3DDrawer::SetOutputDevice(const TOutputDevice& output) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_screen.SetOutput(output);
}

void T3DDrawer::Close() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Log(u"T3DDrawer.Close");
    m_ready = false;
    m_initialised = false;
}

void T3DDrawer::RendererReady() {
    QL_ASSERT(m_screen.Renderer() != nullptr, "Renderer Ready is a Lie!");
    const int32_t w = std::max(m_device.OutputWidth(), 1), h = std::max(m_device.OutputHeight(), 1);
    m_deviceRect = {0, 0, w, h};
    m_effecter.Init(w, h);
    // The post effect needs its shader; a target that cannot be made now is
    // dropped, and the screen filter stays off until the next ready.
    m_postTarget.reset();
    if (ShaderLevel() >= 2) {
        m_postTarget = std::make_unique<TRenderTargetTexture>(m_screen, w, h);
        if (m_postTarget->GetTexture() == 0) m_postTarget.reset();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (auto& video : m_videos) video->TexturesLost();
    }
    SetOutputSize(m_outputSize.x, m_outputSize.y);
    Log(u"T3DDrawer.RendererReadyEvent");
    m_ready = m_initialised;
    if (m_readyNotify) m_readyNotify();
}

void T3DDrawer::RendererLost() {
    Log(u"T3DDrawer.RendererLostEvent");
    m_ready = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (auto& video : m_videos) video->TexturesLost();
    }
    if (m_lostNotify) m_lostNotify();
}

ql::TRect T3DDrawer::GetDeviceRect() const {
    return {0, 0, m_device.OutputWidth(), m_device.OutputHeight()};
}

void T3DDrawer::SetOutputSize(int32_t width, int32_t height) {
    m_outputSize = {std::max(width, 0), std::max(height, 0)};
    const ql::TRect device = m_deviceRect.IsEmpty() ? GetDeviceRect() : m_deviceRect;
    if (m_outputSize.x <= 0 || m_outputSize.y <= 0) {
        m_outputRect = device;
    } else {
        const int32_t left =
            device.left + int32_t(std::lround((device.Width() - m_outputSize.x) / 2.0));
        const int32_t top =
            device.top + int32_t(std::lround((device.Height() - m_outputSize.y) / 2.0));
        m_outputRect = {left, top, left + m_outputSize.x, top + m_outputSize.y};
    }
    UpdateScreenViewport();
}

void T3DDrawer::SetViewport(const ql::TRect& dest, ql::TPoint destSize) {
    if (dest.IsEmpty() || destSize.x <= 0 || destSize.y <= 0) {
        m_destRect.reset();
        m_destSize.reset();
    } else {
        m_destRect = dest;
        m_destSize = destSize;
    }
    UpdateScreenViewport();
}

void T3DDrawer::UpdateScreenViewport() {
    TViewport viewport;
    viewport.offsetX = float(m_outputRect.left);
    viewport.offsetY = float(m_outputRect.top);
    if (m_destRect && !m_deviceRect.IsEmpty()) {
        viewport.scaleX = float(m_destRect->Width()) / float(m_deviceRect.Width());
        viewport.scaleY = float(m_destRect->Height()) / float(m_deviceRect.Height());
        viewport.offsetX = float(m_destRect->left) + float(m_outputRect.left) * viewport.scaleX;
        viewport.offsetY = float(m_destRect->top) + float(m_outputRect.top) * viewport.scaleY;
    }
    m_screen.SetViewport(viewport);
}

bool T3DDrawer::BeginFrame() {
    ++m_frameNumber;
    m_effecter.SetClipRect(m_clipRect);
    m_inScene = m_initialised && m_screen.BeginScene();
    m_deviceRect = GetDeviceRect();
    SetOutputSize(m_outputSize.x, m_outputSize.y);
    CallFrameHook(fsBegin);
    return m_inScene;
}

void T3DDrawer::EndFrame() {
    CallFrameHook(fsEnd);
}

TDxResult T3DDrawer::Present() {
    if (!m_inScene)
        return m_screen.LastResult() == TDxResult::Ok ? TDxResult::NotReady : m_screen.LastResult();
    m_inScene = false;
    TDxResult result = m_screen.EndScene();
    if (result == TDxResult::Ok && !m_capture) result = m_screen.Check(m_device.Present());
    return LogDxResult(result);
}

void T3DDrawer::Clear(uint32_t colour, bool alsoDepth) {
    // The output where the viewport puts it (scaled output included).
    ClearRect(colour, {0, 0, m_outputRect.Width(), m_outputRect.Height()});
}

void T3DDrawer::ClearRect(uint32_t colour, const ql::TRect& rect) {
    if (!m_ready || rect.IsEmpty()) return;
    const TViewport& v = m_screen.Viewport();
    const ql::TRect mapped{int32_t(std::lround(rect.left * v.scaleX + v.offsetX)),
                           int32_t(std::lround(rect.top * v.scaleY + v.offsetY)),
                           int32_t(std::lround(rect.right * v.scaleX + v.offsetX)),
                           int32_t(std::lround(rect.bottom * v.scaleY + v.offsetY))};
    if (!mapped.IsEmpty()) m_screen.Clear(colour, mapped);
}

bool T3DDrawer::DrawSceneSteps(TDrawScene& scene) {
    if (m_sceneNesting > 0) {
        if (!m_ready) return false;
        ql::TScopedValue<int32_t> nesting(m_sceneNesting, m_sceneNesting + 1);
        // A scene inside a scene hands the viewport back as it found it,
        // even when it fails half-way and the outer scene goes on.
        TViewportScope viewport(m_screen);
        scene.Draw(*this);
        return true;
    }
    std::lock_guard<std::recursive_mutex> lock(m_drawLock);
    ql::TScopedValue<int32_t> nesting(m_sceneNesting, m_sceneNesting + 1);
    ql::TScopeExit closeScene([this] {
        // After a failure the device scene is closed and the viewport is the
        // drawer's own again, so that the next frame begins afresh. A frame
        // that ends normally has done both already.
        if (m_inScene) {
            m_inScene = false;
            m_screen.EndScene();
        }
        UpdateScreenViewport();
    });
    BeginFrame();
    if (m_ready) {
        CallFrameHook(fsBeforeScene);
        scene.Draw(*this);
        CallFrameHook(fsAfterScene);
    }
    EndFrame();
    return Present() == TDxResult::Ok;
}

bool T3DDrawer::DrawScene(TDrawScene& scene) {
    struct TFinished {
        TDrawScene& scene;
        ~TFinished() { scene.DrawFinished(); }
    } finished{scene};
    if (scene.WantsPostEffect() && !m_insideTextureRender && !m_postEffectActive && m_postTarget) {
        // The scene goes into the post-effect target first, then back to the
        // output as one quad.
        struct TPostScene : TDrawScene {
            T3DDrawer& drawer;
            TDrawScene& inner;
            TPostScene(T3DDrawer& d, TDrawScene& s) : drawer(d), inner(s) {}
            void Draw(TDeviceDrawer&) override {
                TRenderTargetTexture& target = *drawer.m_postTarget;
                if (drawer.m_screen.PushRenderTarget(&target, {0, 0}) != TDxResult::Ok) {
                    inner.Draw(drawer);
                    return;
                }
                {
                    TRenderTargetScope popTarget(drawer.m_screen);
                    ql::TScopedValue<bool> active(drawer.m_postEffectActive, true);
                    drawer.m_screen.Clear(0xFF000000u);
                    inner.Draw(drawer);
                }
                TDrawState state;
                state.pipeline = TPipeline::Texture;
                state.blend = TBlendMode::Replace;
                state.filter = TFilter::Point;
                state.textures[0] = target.GetTexture();
                if (state.textures[0] == 0) return;
                drawer.DrawTextureRect(state, drawer.m_deviceRect, drawer.m_deviceRect.Width(),
                                       drawer.m_deviceRect.Height(), target.TexWidth(),
                                       target.TexHeight());
            }
        } post(*this, scene);
        return DrawSceneSteps(post);
    }
    return DrawSceneSteps(scene);
}

void T3DDrawer::DrawTextureRect(const TDrawState& state, const ql::TRect& rect, int32_t width,
                                int32_t height, int32_t texWidth, int32_t texHeight) {
    TViewportScope viewport(m_screen, TViewport());
    const float u = float(width) / float(texWidth), v = float(height) / float(texHeight);
    auto corner = [](float x, float y, float tu, float tv) {
        TVertex vertex;
        vertex.x = x, vertex.y = y, vertex.u = tu, vertex.v = tv;
        return vertex;
    };
    const TVertex quad[4] = {corner(float(rect.left), float(rect.top), 0, 0),
                             corner(float(rect.right), float(rect.top), u, 0),
                             corner(float(rect.right), float(rect.bottom), u, v),
                             corner(float(rect.left), float(rect.bottom), 0, v)};
    m_screen.DrawQuad(state, quad);
}

TRenderTargetTexture* T3DDrawer::RenderSlideToTexture(TDrawScene& scene, bool edgeExtend) {
    QL_ASSERT(m_effecter.Inited(), "Effecter not Inited");
    TRenderTargetTexture* target = m_effecter.Current();
    if (!m_ready ||
        m_screen.PushRenderTarget(target, {m_outputRect.left, m_outputRect.top}) != TDxResult::Ok)
        return nullptr;
    // Grey with alpha 0: filtered samples at the slide's edge do not darken.
    m_screen.Clear(0x00808080u);
    bool drawn = false;
    {
        TRenderTargetScope popTarget(m_screen);
        ql::TScopedValue<bool> inside(m_insideTextureRender, true);
        drawn = DrawScene(scene);
    }
    if (!drawn) return nullptr;
    if (edgeExtend) ExtendEdges(*target, m_outputRect.Width(), m_outputRect.Height());
    return target;
}

void T3DDrawer::CopyTexels(TCustomTexture& source, const ql::TRect& from, TCustomTexture& target,
                           ql::TPoint to) {
    const TTextureHandle handle = source.GetTexture();
    if (handle == 0 || m_screen.PushRenderTarget(&target, {0, 0}) != TDxResult::Ok) return;
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.blend = TBlendMode::Replace;
    state.filter = TFilter::Point;
    state.textures[0] = handle;
    const TViewport saved = m_screen.Viewport();
    m_screen.SetViewport(TViewport());
    auto corner = [&](int32_t dx, int32_t dy) {
        TVertex v;
        v.x = float(to.x + dx), v.y = float(to.y + dy);
        v.u = float((from.left + dx) * source.InvWidth());
        v.v = float((from.top + dy) * source.InvHeight());
        return v;
    };
    const int32_t w = from.Width(), h = from.Height();
    const TVertex quad[4] = {corner(0, 0), corner(w, 0), corner(w, h), corner(0, h)};
    m_screen.DrawQuad(state, quad);
    m_screen.SetViewport(saved);
    m_screen.PopRenderTarget();
}

// Filtered sampling at the slide's border must not reach the clear colour:
// the last column is repeated to its right and the last row below it. A
// target cannot be read while drawn to, so the pieces (at most 256 long)
// go through the mesh target.
void T3DDrawer::ExtendEdges(TRenderTargetTexture& target, int32_t width, int32_t height) {
    TRenderTargetTexture* mesh = m_effecter.Mesh();
    if (!mesh || width < 1 || height < 1) return;
    if (width < target.TexWidth())
        for (int32_t y = 0; y < height; y += 256) {
            const int32_t n = std::min(256, height - y);
            CopyTexels(target, {width - 1, y, width, y + n}, *mesh, {0, 0});
            CopyTexels(*mesh, {0, 0, 1, n}, target, {width, y});
        }
    if (height < target.TexHeight()) {
        const int32_t right = std::min(width + 1, target.TexWidth());
        for (int32_t x = 0; x < right; x += 256) {
            const int32_t n = std::min(256, right - x);
            CopyTexels(target, {x, height - 1, x + n, height}, *mesh, {0, 0});
            CopyTexels(*mesh, {0, 0, n, 1}, target, {x, height});
        }
    }
}

void T3DDrawer::DrawOutputTexture(TCustomTexture& texture, uint8_t opacity) {
    const TTextureHandle handle = texture.GetTexture();
    if (handle == 0 || !m_ready) return;
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.filter = TFilter::Point;
    state.textures[0] = handle;
    state.opacity = opacity;
    DrawTextureRect(state, m_outputRect, m_outputRect.Width(), m_outputRect.Height(),
                    texture.TexWidth(), texture.TexHeight());
}

bool T3DDrawer::DrawTransition(TDrawScene* oldSlide, TDrawScene* newSlide, bool skipEffect,
                               TTransitionFilter* filter) {
    if (skipEffect || !filter) return oldSlide ? DrawScene(*oldSlide) : false;
    const double t = filter->Time(), d = filter->Duration();
    // The effect is made for the output it draws on; a new output size makes
    // it again (the mosaic's cells come out the same from the same seed).
    const ql::TRect output{
        0, 0, m_outputRect.IsEmpty() ? GetDeviceRect().Width() : m_outputRect.Width(),
        m_outputRect.IsEmpty() ? GetDeviceRect().Height() : m_outputRect.Height()};
    TDrawFilter* effect = filter->EffectObject();
    if (filter->EffectClass() > 0 && !output.IsEmpty() &&
        (!effect || !(effect->FilterRect() == output))) {
        filter->SetEffectObject(CreateEffect(output, filter->EffectClass(), filter->EffectType(),
                                             filter, filter->Params(), d));
        effect = filter->EffectObject();
    }
    if (effect) effect->SetTime(float(t));
    if (!(t >= 0) || !(t < d)) {
        // A custom effect may hold a whole small show: it goes when its
        // transition has run out (seeking back makes it again).
        if (auto* custom = dynamic_cast<TSlideEffFilter*>(effect); custom && t >= d) {
            custom->Finish();
            filter->SetEffectObject(nullptr);
        }
        return newSlide ? DrawScene(*newSlide) : false;
    }
    struct TEffectScene : TDrawScene {
        T3DDrawer& drawer;
        TTransitionFilter& filter;
        TDrawFilter* effect;
        TDrawScene* oldSlide;
        TDrawScene* newSlide;
        bool drew = false;
        TEffectScene(T3DDrawer& dr, TTransitionFilter& f, TDrawFilter* e, TDrawScene* o,
                     TDrawScene* n)
            : drawer(dr), filter(f), effect(e), oldSlide(o), newSlide(n) {}
        void Draw(TDeviceDrawer& d) override {
            if (effect) {
                drawer.DrawEffectFrame(*effect, oldSlide, newSlide);
                drew = true;
            } else {
                // No effect class: the filter may draw the frame its own way.
                drew = filter.DrawEffect(d, oldSlide, newSlide);
            }
        }
    } scene(*this, *filter, effect, oldSlide, newSlide);
    const bool drawn = DrawScene(scene);
    if (!scene.drew && newSlide && m_ready) return DrawScene(*newSlide);
    return drawn;
}

TRenderTargetTexture* T3DDrawer::RenderForEffect(TDrawScene* scene, bool edgeExtend) {
    if (!scene) return nullptr;
    TRenderTargetTexture* texture = RenderSlideToTexture(*scene, edgeExtend);
    m_effecter.Swap();
    return texture;
}

void T3DDrawer::DrawEffectFrame(TDrawFilter& effect, TDrawScene* oldSlide, TDrawScene* newSlide) {
    const ql::TRect filterRect = effect.FilterRect();
    // The clip rectangle (output pixels) is where the rendered slide goes.
    const ql::TRect targetRect = m_clipRect.IsEmpty() ? filterRect : m_clipRect;
    m_effectSink.SetMapping(filterRect, targetRect);
    m_effectSink.SetTexture(nullptr);
    const bool edge = effect.EdgeExtend();
    const bool reverse = effect.Reverse();
    if (auto* custom = dynamic_cast<TSlideEffFilter*>(&effect)) {
        TRenderTargetTexture* first = RenderForEffect(oldSlide, edge);
        TRenderTargetTexture* second = RenderForEffect(newSlide, edge);
        Clear(0xFF000000u, false);
        custom->SetCentreOffset({float(m_outputRect.left), float(m_outputRect.top)});
        custom->SetProgress(effect.Progress());
        custom->DrawTargets(*this, m_effectSink, first, second);
        custom->DrawOwnForeground(*this, m_effectSink);
        return;
    }
    if (dynamic_cast<TOverturnEffect*>(&effect)) {
        const bool oldPicture = (effect.Progress() < 0.5) != reverse;
        TRenderTargetTexture* texture = RenderForEffect(oldPicture ? oldSlide : newSlide, edge);
        Clear(0xFF000000u, false);
        if (!texture) return;
        m_effectSink.SetTexture(texture);
        effect.DrawEffect(m_effectSink);
        return;
    }
    if (auto* swap = dynamic_cast<TTwoSlidesEffect*>(&effect)) {
        Clear(0xFF000000u, false);
        // The one further back goes first: the new slide before the half-way point.
        const bool newFirst = effect.Progress() < 0.5;
        for (const bool isNew : {newFirst, !newFirst}) {
            TRenderTargetTexture* texture = RenderForEffect(isNew ? newSlide : oldSlide, edge);
            if (!texture) continue;
            m_effectSink.SetTexture(texture);
            swap->DrawSlide(m_effectSink, isNew);
        }
        return;
    }
    TDrawScene* under = reverse ? newSlide : oldSlide;
    TDrawScene* over = reverse ? oldSlide : newSlide;
    // The slide underneath draws its own background, as in a plain frame;
    // without one, black.
    if (!under) Clear(0xFF000000u, false);
    if (under) {
        const TPointF offset = [&]() -> TPointF {
            if (auto* push = dynamic_cast<TPushFilter*>(&effect))
                return push->PushOffset(filterRect);
            return {0, 0};
        }();
        SetOffset(offset.x, offset.y);
        ql::TScopeExit resetOffset([this] { SetOffset(0, 0); });
        DrawScene(*under);
    }
    TRenderTargetTexture* texture = RenderForEffect(over, edge);
    if (!texture) return;
    m_effectSink.SetTexture(texture);
    effect.DrawEffect(m_effectSink);
}

namespace {

// The level a picture's texture is cut from; PictureTexture and DecodeImage
// must agree on it.
int32_t TextureLevel(const TImageDrawParams& params) {
    return std::clamp(params.level, 0, 30);
}

}  // namespace

void T3DDrawer::DecodeImage(ql::TBitmapStore& store, const TImageDrawParams& params) {
    // No drawer lock: the store keeps its levels under its own.
    store.GetBitmap(TextureLevel(params), ql::PfARGB32());
}

TMultiTexture6* T3DDrawer::PictureTexture(TDrawPicture& picture, const TImageDrawParams& params) {
    if (!picture.store) return nullptr;
    const int32_t level = TextureLevel(params);
    const int32_t columns = std::clamp(params.columns, 1, 1024),
                  rows = std::clamp(params.rows, 1, 1024);
    const std::u16string key = MultiTextureKey(level, columns, rows);
    if (TMultiTexture6* found = picture.textures.Find(key)) return found;
    uint64_t refusals = ql::PictureBudgetRefusals();
    std::shared_ptr<ql::TBitmap> bitmap = picture.store->ShareBitmap(level, ql::PfARGB32());
    // Short of picture memory, the textures drawn least recently (made ready
    // ahead and never drawn, a slide gone by) let go of their bitmaps, which
    // the budget then releases, until this one fits; they are made again
    // when next drawn. What this frame drew stays.
    while (!bitmap && ql::PictureBudgetRefusals() != refusals &&
           m_textureRegistry.ClearOldest(m_frameNumber, &picture.textures) > 0) {
        refusals = ql::PictureBudgetRefusals();
        bitmap = picture.store->ShareBitmap(level, ql::PfARGB32());
    }
    if (!bitmap || bitmap->Width() < columns || bitmap->Height() < rows) return nullptr;
    auto texture = std::make_unique<TMultiTexture6>(TextureManager());
    texture->SetSource(bitmap.get(), nullptr, columns, rows, bitmap->Bounds());
    texture->BuildTiles();
    return &picture.textures.Add(key, std::move(texture), std::move(bitmap), &m_textureRegistry);
}

void T3DDrawer::PrepareImage(TDrawPicture& picture, const TImageDrawParams& params) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (TMultiTexture6* texture = PictureTexture(picture, params)) texture->LoadAll();
}

void T3DDrawer::ReleaseImage(TDrawPicture& picture) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    picture.textures.Clear();
}

ql::TRect T3DDrawer::ViewSource(const TMultiTexture6& texture, const TImageDrawParams& params) {
    const int32_t level = std::clamp(params.level, 0, 30);
    const ql::TRect whole{0, 0, texture.View()->Width(), texture.View()->Height()};
    const ql::TRect& source = params.source;
    return source.IsEmpty() ? whole
                            : ql::IntersectRect({source.left >> level, source.top >> level,
                                                 source.right >> level, source.bottom >> level},
                                                whole);
}

void T3DDrawer::DrawImage(TDrawPicture& picture, TPointF position, const TImageDrawParams& params,
                          TPointF axisX, TPointF axisY, TPointF origin) {
    if (!m_ready || params.opacity == 0) return;
    TMultiTexture6* texture = PictureTexture(picture, params);
    if (!texture || !texture->View()) return;
    picture.textures.MarkDrawn(m_frameNumber);
    const float factor = float(1 << std::clamp(params.level, 0, 30));
    const ql::TRect source = ViewSource(*texture, params);
    if (source.IsEmpty()) return;
    texture->SetOpacity(params.opacity);
    texture->SetFilter(params.filter);
    texture->SetEdgeFlags(params.edgeFlags);
    texture->Draw(Offset(Add(origin, position)), source, Scale(axisX, factor),
                  Scale(axisY, factor));
}

void T3DDrawer::PlaceProjected(const TCamera3D& camera, const TPoint3F& point,
                               TVertex& vertex) const {
    // The offset moves the seen picture, so it is added after the division:
    // in homogeneous form it scales with w.
    const TProjected p = ProjectHomogeneous(camera, point);
    vertex.x = p.x + m_offsetX * p.w;
    vertex.y = p.y + m_offsetY * p.w;
    vertex.w = p.w;
}

void T3DDrawer::DrawImage3D(TDrawPicture& picture, const TImageDrawParams& params,
                            const TScenePlane& plane, const TCamera3D& camera) {
    if (plane.IsFlat()) {
        // The projection leaves the picture plane as it is.
        DrawImage(picture, {plane.origin.x, plane.origin.y}, params, {plane.axisX.x, plane.axisX.y},
                  {plane.axisY.x, plane.axisY.y}, {0, 0});
        return;
    }
    if (!m_ready || params.opacity == 0) return;
    TMultiTexture6* texture = PictureTexture(picture, params);
    if (!texture || !texture->View()) return;
    picture.textures.MarkDrawn(m_frameNumber);
    const float factor = float(1 << std::clamp(params.level, 0, 30));
    const ql::TRect source = ViewSource(*texture, params);
    if (source.IsEmpty()) return;
    texture->SetOpacity(params.opacity);
    texture->SetFilter(params.filter);
    texture->SetEdgeFlags(params.edgeFlags);
    // Every tile is one planar quad: the device's perspective-correct
    // interpolation maps it exactly, and its near-plane cut keeps the part
    // in front of the viewer when a tile reaches behind.
    texture->DrawPlaced(source, [&](float dx, float dy, TVertex& v) {
        PlaceProjected(camera, plane.At(dx * factor, dy * factor), v);
    });
}

void T3DDrawer::DrawBox3D(TPointF size, const TBoxParams& params, const TScenePlane& plane,
                          const TCamera3D& camera) {
    if (plane.IsFlat()) {
        DrawBox({plane.origin.x, plane.origin.y}, size, params, {plane.axisX.x, plane.axisX.y},
                {plane.axisY.x, plane.axisY.y});
        return;
    }
    if (!m_ready || params.opacity <= 0 || !(size.x > 0) || !(size.y > 0)) return;
    uint32_t corners[4];
    BoxCornerColours(params, corners);
    auto place = [&](float s, float t, TVertex& v) {
        PlaceProjected(camera, plane.At(s * size.x, t * size.y), v);
    };
    if (params.edgeFlags & (efLeft | efTop | efRight | efBottom)) {
        // The ring takes the sides' mean length on the screen: one pixel wide
        // on average, a little wider on the near side. A box reaching behind
        // the viewer has no screen length and gets no ring.
        TVertex p[4];
        place(0, 0, p[0]), place(1, 0, p[1]), place(1, 1, p[2]), place(0, 1, p[3]);
        float lengthX = 0, lengthY = 0;
        constexpr float kNear = 1.0f / 1024.0f;
        if (p[0].w > kNear && p[1].w > kNear && p[2].w > kNear && p[3].w > kNear) {
            auto distance = [](const TVertex& a, const TVertex& b) {
                return std::hypot(a.x / a.w - b.x / b.w, a.y / a.w - b.y / b.w);
            };
            lengthX = (distance(p[0], p[1]) + distance(p[3], p[2])) / 2;
            lengthY = (distance(p[0], p[3]) + distance(p[1], p[2])) / 2;
        }
        if (!m_antialiaser) m_antialiaser = std::make_unique<TBoxAntialiaser>(m_screen);
        m_antialiaser->DrawBoxPlaced(lengthX, lengthY, params.edgeFlags, corners, place);
        return;
    }
    TVertex quad[4];
    const float s[4] = {0, 1, 1, 0}, t[4] = {0, 0, 1, 1};
    for (int32_t i = 0; i < 4; ++i) {
        place(s[i], t[i], quad[i]);
        quad[i].colour = corners[i];
    }
    m_screen.DrawQuad(TDrawState(), quad);
}

void T3DDrawer::DrawBox(TPointF position, TPointF size, const TBoxParams& params, TPointF axisX,
                        TPointF axisY) {
    if (!m_ready || params.opacity <= 0 || !(size.x > 0) || !(size.y > 0)) return;
    uint32_t corners[4];
    BoxCornerColours(params, corners);
    const TPointF origin = Offset(position), ax = Scale(axisX, size.x), ay = Scale(axisY, size.y);
    if (params.edgeFlags & (efLeft | efTop | efRight | efBottom)) {
        if (!m_antialiaser) m_antialiaser = std::make_unique<TBoxAntialiaser>(m_screen);
        m_antialiaser->DrawBox(origin, ax, ay, params.edgeFlags, corners);
        return;
    }
    auto corner = [&](float s, float t, uint32_t colour) {
        TVertex v;
        v.x = origin.x + s * ax.x + t * ay.x;
        v.y = origin.y + s * ax.y + t * ay.y;
        v.colour = colour;
        return v;
    };
    const TVertex quad[4] = {corner(0, 0, corners[0]), corner(1, 0, corners[1]),
                             corner(1, 1, corners[2]), corner(0, 1, corners[3])};
    m_screen.DrawQuad(TDrawState(), quad);
}

void T3DDrawer::DrawFrameBorder(TPointF position, TPointF size, float thickness,
                                const TBoxParams& params, TPointF axisX, TPointF axisY,
                                bool antialias) {
    if (!(thickness > 0) || !(size.x > 0) || !(size.y > 0)) return;
    // A border thicker than half the frame would draw its strips twice over.
    const float t = std::min({thickness, size.x / 2, size.y / 2});
    auto strip = [&](float x, float y, float w, float h, uint8_t flags) {
        TBoxParams box = params;
        box.edgeFlags = antialias ? flags : 0;
        DrawBox(Add(position, Add(Scale(axisX, x), Scale(axisY, y))), {w, h}, box, axisX, axisY);
    };
    strip(0, 0, size.x, t, efLeft | efTop | efRight);
    strip(0, size.y - t, size.x, t, efLeft | efBottom | efRight);
    strip(0, t, t, size.y - 2 * t, efLeft);
    strip(size.x - t, t, t, size.y - 2 * t, efRight);
}

void T3DDrawer::DrawRect(TPointF corner1, TPointF corner2, uint32_t colour) {
    if (!m_ready) return;
    const TPointF a = Offset(corner1), b = Offset(corner2);
    auto corner = [&](float x, float y) {
        TVertex v;
        v.x = x, v.y = y, v.colour = colour;
        return v;
    };
    const TVertex quad[4] = {corner(a.x, a.y), corner(b.x, a.y), corner(b.x, b.y),
                             corner(a.x, b.y)};
    m_screen.DrawQuad(TDrawState(), quad);
}

void T3DDrawer::DrawMaskedImage(TDrawPicture& picture, TPointF position,
                                const TImageDrawParams& params, TPointF axisX, TPointF axisY,
                                TCustomTexture& mask) {
    if (!m_ready || params.opacity == 0) return;
    TMultiTexture6* texture = PictureTexture(picture, params);
    if (!texture || !texture->View()) return;
    picture.textures.MarkDrawn(m_frameNumber);
    const TTextureHandle maskHandle = mask.GetTexture();
    if (maskHandle == 0) return;
    if (texture->LoadAll() != TDxResult::Ok) return;
    const int32_t level = std::clamp(params.level, 0, 30);
    const float factor = float(1 << level);
    const ql::TRect source = ViewSource(*texture, params);
    if (source.IsEmpty()) return;
    const TPointF origin = Offset(position), ax = Scale(axisX, factor), ay = Scale(axisY, factor);
    // The mask's used part (its wanted size) spans the source rectangle.
    const float maskU = float(mask.Width()) * float(mask.InvWidth()) / float(source.Width());
    const float maskV = float(mask.Height()) * float(mask.InvHeight()) / float(source.Height());
    for (const auto& tile : texture->Tiles()) {
        if (tile->Handle() == 0) continue;
        const ql::TPoint o = tile->Origin();
        const ql::TRect part = ql::IntersectRect(
            {source.left - o.x, source.top - o.y, source.right - o.x, source.bottom - o.y},
            {1, 1, tile->UsedSize().x - 1, tile->UsedSize().y - 1});
        if (part.IsEmpty()) continue;
        auto corner = [&](int32_t tx, int32_t ty) {
            const float dx = float(tx + o.x - source.left), dy = float(ty + o.y - source.top);
            TVertex v;
            v.x = origin.x + dx * ax.x + dy * ay.x;
            v.y = origin.y + dx * ax.y + dy * ay.y;
            v.u = float(tx * tile->InvWidth());
            v.v = float(ty * tile->InvHeight());
            v.u2 = dx * maskU;
            v.v2 = dy * maskV;
            return v;
        };
        const TVertex quad[4] = {corner(part.left, part.top), corner(part.right, part.top),
                                 corner(part.right, part.bottom), corner(part.left, part.bottom)};
        TDrawState state;
        state.pipeline = TPipeline::TextureMask;
        state.filter = params.filter;
        state.textures[0] = tile->Handle();
        state.textures[1] = maskHandle;
        state.opacity = params.opacity;
        m_screen.DrawQuad(state, quad);
    }
}

T3DDrawer::TMaskLayer* T3DDrawer::MaskLayer(int32_t depth) {
    if (depth < 0 || depth >= kMaxMaskNesting) return nullptr;
    // Reserved whole, so that a nested level never moves an outer one.
    m_maskLayers.reserve(kMaxMaskNesting);
    if (m_maskLayers.size() <= size_t(depth)) m_maskLayers.resize(size_t(depth) + 1);
    TMaskLayer& layer = m_maskLayers[size_t(depth)];
    const int32_t w = std::max(m_device.OutputWidth(), 1), h = std::max(m_device.OutputHeight(), 1);
    for (auto* target : {&layer.content, &layer.masks}) {
        if (!*target)
            *target = std::make_unique<TRenderTargetTexture>(m_screen, w, h);
        else if ((*target)->Width() != w || (*target)->Height() != h)
            (*target)->SetSize(w, h);
    }
    return &layer;
}

void T3DDrawer::DrawMaskedScene(const std::function<void()>& draw, TCustomTexture& mask,
                                uint8_t opacity) {
    if (!m_ready || opacity == 0) return;
    // First pass: the content alone into a target of the output's size;
    // second: that target through the mask onto the output. The targets are
    // the masked scenes' own: a slide drawn into a transition's target may
    // hold a view port.
    TMaskLayer* layer = MaskLayer(m_maskDepth);
    if (!layer) {
        Log(u"Masked scenes nested too deep are not drawn");
        return;
    }
    TRenderTargetTexture* target = layer->content.get();
    if (m_screen.PushRenderTarget(target, {m_outputRect.left, m_outputRect.top}) != TDxResult::Ok)
        return;
    {
        ql::TScopedValue<int32_t> depth(m_maskDepth, m_maskDepth + 1);
        TRenderTargetScope popTarget(m_screen);
        m_screen.Clear(0x00000000u);
        draw();
    }
    const TTextureHandle content = target->GetTexture(), maskHandle = mask.GetTexture();
    if (content == 0 || maskHandle == 0) return;
    TDrawState state;
    state.pipeline = TPipeline::TextureMask;
    state.filter = TFilter::Point;
    state.textures[0] = content;
    state.textures[1] = maskHandle;
    state.opacity = opacity;
    TViewportScope viewport(m_screen, TViewport());
    const ql::TRect& r = m_outputRect;
    const float u = float(r.Width()) / float(target->TexWidth()),
                v = float(r.Height()) / float(target->TexHeight());
    const float u2 = float(mask.Width()) / float(mask.TexWidth()),
                v2 = float(mask.Height()) / float(mask.TexHeight());
    auto corner = [&](float x, float y, float s, float t) {
        TVertex vertex;
        vertex.x = x, vertex.y = y;
        vertex.u = s * u, vertex.v = t * v, vertex.u2 = s * u2, vertex.v2 = t * v2;
        return vertex;
    };
    const TVertex quad[4] = {corner(float(r.left), float(r.top), 0, 0),
                             corner(float(r.right), float(r.top), 1, 0),
                             corner(float(r.right), float(r.bottom), 1, 1),
                             corner(float(r.left), float(r.bottom), 0, 1)};
    m_screen.DrawQuad(state, quad);
}

void T3DDrawer::DrawMaskedScene(const std::function<void()>& content,
                                const std::function<void()>& masks) {
    if (!m_ready) return;
    TMaskLayer* layer = MaskLayer(m_maskDepth);
    if (!layer) {
        Log(u"Masked scenes nested too deep are not drawn");
        return;
    }
    // The masks gather in their own target by their largest alpha; the
    // content then goes through that target.
    TRenderTargetTexture& gathered = *layer->masks;
    if (m_screen.PushRenderTarget(&gathered, {m_outputRect.left, m_outputRect.top}) !=
        TDxResult::Ok)
        return;
    {
        TRenderTargetScope popTarget(m_screen);
        const std::optional<TBlendMode> saved = m_screen.BlendOverride();
        ql::TScopeExit restore([&] { m_screen.SetBlendOverride(saved); });
        m_screen.Clear(0x00000000u);
        m_screen.SetBlendOverride(TBlendMode::Max);
        masks();
    }
    DrawMaskedScene(content, gathered, 255);
}

bool T3DDrawer::BeginPostEffect() {
    if (!m_ready || ShaderLevel() < 2 || !m_postTarget || m_postEffectActive) return false;
    if (m_screen.PushRenderTarget(m_postTarget.get(), {0, 0}) != TDxResult::Ok) return false;
    m_screen.Clear(0xFF000000u);
    m_postEffectActive = true;
    return true;
}

void T3DDrawer::EndPostEffect(uint8_t strength, int32_t percent) {
    if (!m_postEffectActive) return;
    m_postEffectActive = false;
    m_screen.PopRenderTarget();
    const TTextureHandle handle = m_postTarget ? m_postTarget->GetTexture() : 0;
    if (handle == 0) return;
    TDrawState state;
    state.pipeline = TPipeline::PostEffect;
    state.blend = TBlendMode::Replace;
    state.filter = TFilter::Point;
    state.textures[0] = handle;
    state.constants[0][0] = float(1.0 / m_postTarget->TexWidth());
    state.constants[0][1] = float(1.0 / m_postTarget->TexHeight());
    state.constants[1][0] = float(strength) / 256.0f;
    state.constants[2][0] = float(std::clamp(percent, 0, 100)) / 100.0f;
    DrawTextureRect(state, m_deviceRect, m_deviceRect.Width(), m_deviceRect.Height(),
                    m_postTarget->TexWidth(), m_postTarget->TexHeight());
}

T3DYUV* T3DDrawer::CreateVideoSurface(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > 8192 || height > 8192) return nullptr;
    // Videos come and go with their slides, which other threads build and free.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_videos.push_back(std::make_unique<T3DYUV>(m_screen, width, height, ShaderLevel() >= 1));
    return m_videos.back().get();
}

void T3DDrawer::ReleaseVideoSurface(T3DYUV* surface) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::erase_if(m_videos, [surface](const std::unique_ptr<T3DYUV>& video) {
        return video.get() == surface;
    });
}

void T3DDrawer::DrawVideoSurface(T3DYUV& surface, TPointF position, TPointF axisX, TPointF axisY,
                                 uint8_t opacity) {
    const TPointF origin = Offset(position);
    const TPointF ax = Scale(axisX, float(surface.Width())),
                  ay = Scale(axisY, float(surface.Height()));
    DrawVideoPlaced(surface, opacity, [&](float s, float t, TVertex& vertex) {
        vertex.x = origin.x + s * ax.x + t * ay.x;
        vertex.y = origin.y + s * ax.y + t * ay.y;
    });
}

void T3DDrawer::DrawVideoSurface3D(T3DYUV& surface, const TScenePlane& plane,
                                   const TCamera3D& camera, uint8_t opacity) {
    if (plane.IsFlat()) {
        // The projection leaves the picture plane as it is.
        DrawVideoSurface(surface, {plane.origin.x, plane.origin.y}, {plane.axisX.x, plane.axisX.y},
                         {plane.axisY.x, plane.axisY.y}, opacity);
        return;
    }
    // One planar quad: the device's perspective-correct interpolation maps
    // it exactly, and its near-plane cut keeps the part in front.
    const float w = float(surface.Width()), h = float(surface.Height());
    DrawVideoPlaced(surface, opacity, [&](float s, float t, TVertex& vertex) {
        PlaceProjected(camera, plane.At(s * w, t * h), vertex);
    });
}

void T3DDrawer::DrawVideoPlaced(T3DYUV& surface, uint8_t opacity,
                                const std::function<void(float, float, TVertex&)>& place) {
    if (!m_ready || !surface.HasFrame() || opacity == 0) return;
    TDrawState state;
    state.opacity = opacity;
    float u = 1, v = 1, u2 = 1, v2 = 1;
    if (surface.HasPlanes()) {
        state.pipeline = TPipeline::Yuv;
        state.constants[0][0] = surface.Bt709() ? 1.0f : 0.0f;
        for (int32_t i = 0; i < 3; ++i) {
            TVideoTexture* plane = surface.Plane(i);
            if (plane->Load() != TDxResult::Ok) return;
            state.textures[i] = plane->Handle();
        }
        u = float(surface.Plane(0)->Width() * surface.Plane(0)->InvWidth());
        v = float(surface.Plane(0)->Height() * surface.Plane(0)->InvHeight());
        u2 = float(surface.Plane(1)->Width() * surface.Plane(1)->InvWidth());
        v2 = float(surface.Plane(1)->Height() * surface.Plane(1)->InvHeight());
    } else {
        state.pipeline = TPipeline::Texture;
        if (surface.Gray()->Load() != TDxResult::Ok) return;
        state.textures[0] = surface.Gray()->Handle();
        u = float(surface.Width() * surface.Gray()->InvWidth());
        v = float(surface.Height() * surface.Gray()->InvHeight());
    }
    auto corner = [&](float s, float t) {
        TVertex vertex;
        place(s, t, vertex);
        vertex.u = s * u, vertex.v = t * v, vertex.u2 = s * u2, vertex.v2 = t * v2;
        return vertex;
    };
    const TVertex quad[4] = {corner(0, 0), corner(1, 0), corner(1, 1), corner(0, 1)};
    m_screen.DrawQuad(state, quad);
}

bool T3DDrawer::CaptureFrame(ql::TBitmap& bitmap) {
    const ql::TRect rect = GetDeviceRect();
    if (bitmap.Width() != rect.Width() || bitmap.Height() != rect.Height()) return false;
    const bool rgb = bitmap.PixelFormat() == ql::PfRGB24();
    if (!rgb && bitmap.PixelFormat() != ql::PfARGB32()) return false;
    // Each band goes into the caller's bitmap as it is finished, on the
    // thread that drew it, without a copy of the frame in between.
    return CaptureBands([&](int32_t first, int32_t end, const uint32_t* rows, size_t stride) {
        for (int32_t y = first; y < end; ++y) {
            const uint32_t* in = rows + size_t(y - first) * stride;
            uint8_t* out = bitmap.Row(y);
            if (!rgb) {
                std::memcpy(out, in, size_t(rect.Width()) * 4);
                continue;
            }
            for (int32_t x = 0; x < rect.Width(); ++x) std::memcpy(out + 3 * x, in + x, 3);
        }
    });
}

bool T3DDrawer::CaptureBands(const TRenderDevice::TBandSink& sink) {
    if (!m_capture || m_screen.Renderer() == nullptr) return false;
    const ql::TRect rect = GetDeviceRect();
    if (rect.IsEmpty()) return false;
    // The back buffer is read whatever target drawing left selected.
    if (m_screen.Check(m_device.SetRenderTarget(0)) != TDxResult::Ok) return false;
    return m_screen.Check(m_device.ReadPixelBands(rect, sink)) == TDxResult::Ok;
}

std::unique_ptr<ql::TBitmap> T3DDrawer::CaptureToBitmap() {
    const ql::TRect rect = GetDeviceRect();
    if (rect.IsEmpty()) return nullptr;
    auto bitmap = std::make_unique<ql::TDirectBitmap>(rect.Width(), rect.Height(), ql::PfRGB24());
    if (!CaptureFrame(*bitmap)) return nullptr;
    return bitmap;
}

}  // namespace orb
