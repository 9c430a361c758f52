#include "OrbLib2/NavPanel/qlNavEngineOverlay.h"

namespace orb {

TNavEngineOverlay::TNavEngineOverlay(const TEngineOverlayContext& context, TDeviceDrawer& drawer,
                                     TNavOpenFile open)
    : m_builder(MakeBuilder(context)),
      m_overlay(*context.Project, context.Viewport, std::move(open), Hooks(context), context.Volume,
                context.DurationMs, context.NowMs),
      m_scene(drawer, m_overlay) {}

TNavEngineOverlay::~TNavEngineOverlay() = default;

bool TNavEngineOverlay::Empty() const {
    return !m_overlay.Panel() && !m_overlay.LogoItem().Picture && !m_builder;
}

TEngineOverlay::TMouseAnswer TNavEngineOverlay::Mouse(const TMouseData& mouse, int64_t nowMs) {
    const TThirdSlide::TMouseResult r = m_overlay.Mouse(mouse.X, mouse.Y, int32_t(mouse.Kind),
                                                        mouse.Button, mouse.Modifiers, nowMs);
    return {r.Action, r.Handled, r.HitName};
}

bool TNavEngineOverlay::Advance(int64_t nowMs, double showTimeMs) {
    m_overlay.Advance(nowMs, showTimeMs);
    return m_overlay.TakeChanged();
}

bool TNavEngineOverlay::OpenDialog(const std::u16string& name) {
    std::unique_ptr<TSlideDialog> dialog = m_builder ? m_builder->Build(name) : nullptr;
    if (!dialog) return false;
    m_overlay.OpenDialog(std::move(dialog));
    return true;
}

void TNavEngineOverlay::Resize(const ql::TRect& viewport) {
    if (viewport == m_overlay.Viewport()) return;
    m_overlay.Resize(viewport);
    if (!m_builder) return;
    m_builder->Setup(viewport.Width(), viewport.Height());
    // Open dialogs are built again for the new size, keeping their place on
    // the stack and their fade.
    for (int32_t k = int32_t(m_overlay.Dialogs().size()); k-- > 0;)
        m_overlay.ReplaceDialog(k, m_builder->Build(m_overlay.Dialogs()[size_t(k)]->Name()));
}

std::unique_ptr<TDialogBuilder> TNavEngineOverlay::MakeBuilder(
    const TEngineOverlayContext& context) {
    if (!context.Source || !context.Accessor || !HasDialogSections(*context.Project))
        return nullptr;
    auto builder =
        std::make_unique<TDialogBuilder>(*context.Source, *context.Accessor, context.FitMode);
    builder->Setup(context.Viewport.Width(), context.Viewport.Height());
    return builder;
}

TThirdSlide::THooks TNavEngineOverlay::Hooks(const TEngineOverlayContext& context) {
    TThirdSlide::THooks hooks;
    hooks.IsPlaying = context.IsPlaying;
    hooks.Seek = context.Seek;
    hooks.VolumeChanged = context.SetVolume;
    return hooks;
}

std::unique_ptr<TEngineOverlay> MakeNavOverlay(const TEngineOverlayContext& context,
                                               TDeviceDrawer& drawer) {
    if (!context.Project || !context.Accessor) return nullptr;
    TFileAccessor* accessor = context.Accessor;
    auto overlay = std::make_unique<TNavEngineOverlay>(
        context, drawer,
        [accessor](const std::u16string& name) { return accessor->OpenStream(name); });
    if (overlay->Empty()) return nullptr;
    return overlay;
}

}  // namespace orb
