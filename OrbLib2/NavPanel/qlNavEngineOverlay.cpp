#include "OrbLib2/NavPanel/qlNavEngineOverlay.h"

#include "OrbLib2/NavPanel/qlOverlayScene.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"

namespace orb {

namespace {

class TNavEngineOverlay : public TEngineOverlay {
public:
    TNavEngineOverlay(const TEngineOverlayContext& context, TDeviceDrawer& drawer,
                      TNavOpenFile open)
        : m_overlay(*context.Project, context.Viewport, std::move(open), Hooks(context),
                    context.Volume, context.DurationMs, context.NowMs),
          m_scene(drawer, m_overlay) {}

    bool Empty() const { return !m_overlay.Panel() && !m_overlay.LogoItem().Picture; }

    TMouseAnswer Mouse(const TMouseData& mouse, int64_t nowMs) override {
        const TThirdSlide::TMouseResult r = m_overlay.Mouse(mouse.X, mouse.Y, int32_t(mouse.Kind),
                                                            mouse.Button, mouse.Modifiers, nowMs);
        return {r.Action, r.Handled, r.HitName};
    }
    bool Advance(int64_t nowMs, double showTimeMs) override {
        m_overlay.Advance(nowMs, showTimeMs);
        return m_overlay.TakeChanged();
    }
    TDrawScene& Scene() override { return m_scene; }
    bool HitTest(int32_t x, int32_t y, std::u16string* name) const override {
        return m_overlay.HitTest(x, y, name);
    }
    int32_t PanelState() const override { return m_overlay.PanelState(); }

private:
    static TThirdSlide::THooks Hooks(const TEngineOverlayContext& context) {
        TThirdSlide::THooks hooks;
        hooks.IsPlaying = context.IsPlaying;
        hooks.Seek = context.Seek;
        hooks.VolumeChanged = context.SetVolume;
        return hooks;
    }

    TThirdSlide m_overlay;
    TOverlayScene m_scene;
};

}  // namespace

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
