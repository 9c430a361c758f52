// The transition filter of a slide: which effect runs into the slide, for
// how long, and how far it has got. The draw manager reads its progress; the
// effect object that draws it is made on first use by the renderer.
#pragma once

#include "OrbLib2/3DEngine/qlDrawFilter2.h"
#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/3DEngine/qlOrbEffectParams.h"

namespace orb {

class TOrbFilter : public TTransitionFilter {
public:
    TOrbFilter() = default;
    explicit TOrbFilter(const TSlideEffect& effect) : m_effect(effect) {}

    const TSlideEffect& Effect() const { return m_effect; }
    // A new effect drops the effect object made for the old one.
    void SetEffect(const TSlideEffect& effect) {
        m_effect = effect;
        SetEffectObject(nullptr);
    }
    int32_t EffectClass() const override { return m_effect.EffectClass; }
    int32_t EffectType() const override { return m_effect.EffectType; }
    const TEffectParams& Params() const override { return m_effect.Params; }

    // Milliseconds since the slide began; the effect runs while this lies in
    // [0, Duration()).
    void SetElapsed(double ms) { m_elapsed = ms; }
    double Time() const override { return m_elapsed; }
    double Duration() const override { return m_effect.EffectTime; }
    // A slide without an effect class, or with no time for it, cuts in.
    bool HasEffect() const {
        return m_effect.EffectClass > kNoEffectClass && m_effect.EffectTime > 0;
    }

private:
    TSlideEffect m_effect;
    double m_elapsed = 0;
};

}  // namespace orb
