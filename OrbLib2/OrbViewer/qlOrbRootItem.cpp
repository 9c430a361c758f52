#include "OrbLib2/OrbViewer/qlOrbRootItem.h"

#include <algorithm>

#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"

namespace orb {

bool TRootItem::Arrange(const TEngineSlideList& slides, double t, TDrawScene* overlay) {
    const std::vector<TEngineSlide*> previous = std::move(m_items);
    const bool ranBefore = m_transitionRan;
    m_items.clear();
    m_transition = nullptr;
    m_pending = false;
    m_transitionRan = false;
    m_overlay = overlay;
    m_held = slides;

    // The newest slide whose clock has reached its begin.
    int64_t i = int64_t(slides.size()) - 1;
    while (i >= 0 && !(slides[size_t(i)] && slides[size_t(i)]->Info().BeginTime <= t)) --i;
    bool changed = false;
    if (i >= 0) {
        TEngineSlide& current = *slides[size_t(i)];
        int64_t b = i;
        if (i > 0 && current.Transition() && slides[size_t(i - 1)] &&
            t < slides[size_t(i - 1)]->Info().NextEffectEnd)
            b = i - 1;
        for (int64_t k = b; k <= i; ++k) {
            TEngineSlide& slide = *slides[size_t(k)];
            slide.SetTime(k == i ? std::min(t, slide.Info().NextEffectEnd) : t);
        }
        if (b < i) {
            m_transitionRan = true;
            if (current.Transition()->Duration() > 0) {
                m_items = {slides[size_t(b)].Get(), &current};
                m_transition = current.Transition();
            } else {
                m_items = {slides[size_t(b)].Get()};
            }
        } else {
            TEngineSlide* following =
                size_t(i + 1) < slides.size() ? slides[size_t(i + 1)].Get() : nullptr;
            if (following && !ranBefore && following->Transition() &&
                following->Transition()->Duration() > 0) {
                // Held at its start, so the transition's resources are ready
                // when the following slide begins.
                following->SetTime(following->Info().BeginTime);
                m_items = {&current, following};
                m_transition = following->Transition();
                m_pending = true;
            } else {
                m_items = {&current};
            }
        }
        for (TEngineSlide* item : m_items)
            if (item->Changed()) changed = true;
    }
    if (m_items != previous) changed = true;
    const double progress = m_transition && !m_pending ? m_transition->Time() : -1;
    if (progress != m_lastProgress && !m_pending) changed = true;
    m_lastProgress = progress;
    return changed;
}

void TRootItem::Draw(TDeviceDrawer& drawer) {
    drawer.Clear(BackgroundColour, true);
    if (m_items.empty()) return;
    const bool post = UnsharpAmount > 0 && drawer.BeginPostEffect();
    size_t next = 0;
    if (m_transition && !m_pending && m_items.size() >= 2) {
        drawer.DrawTransition(m_items[0]->Scene(), m_items[1]->Scene(), false, m_transition);
        next = 2;
    } else if (m_pending) {
        // Until the following slide begins only the current one shows.
        if (TDrawScene* scene = m_items[0]->Scene()) scene->Draw(drawer);
        next = m_items.size();
    }
    for (; next < m_items.size(); ++next)
        if (TDrawScene* scene = m_items[next]->Scene()) scene->Draw(drawer);
    if (post) drawer.EndPostEffect(UnsharpThreshold, int32_t(UnsharpAmount));
    DrawHider(drawer, SlideFrame, HiderColour);
    if (m_overlay) m_overlay->Draw(drawer);
}

}  // namespace orb
