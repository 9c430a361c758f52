// Custom transitions: a transition that is itself a small show in a package
// entry. Its first slide is played across the transition's time; image
// objects marked "ReplaceWithEffectBuffer" 1 or 2 show the outgoing or the
// incoming slide.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/3DEngine/Dev3DEffects2.h"
#include "OrbLib2/3DEngine/qlDrawFilter2.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"

namespace orb {

class TOrbSlide;
class TOrbImage;
class TFileAccessor;

// Custom transitions inside a custom transition's show are made at most this
// many levels deep; deeper ones play as cross-fades.
inline constexpr int32_t kMaxCustomTransitionNesting = 2;

class TRealSlideFilter : public TSlideEffFilter {
public:
    // Reads the entry as a project document and sets its show up for a
    // slide of `output`'s size. Raises when the entry is missing, does not
    // parse or describes no show (the factory then gives nothing). With a
    // drawer the slide's pictures are prepared when it is built; otherwise
    // the first drawing prepares them.
    TRealSlideFilter(TFileAccessor& accessor, const std::u16string& entry, const ql::TRect& output,
                     TDeviceDrawer* drawer = nullptr);
    ~TRealSlideFilter() override;

    bool CoverMode() const { return m_coverMode; }
    TSlideProducer& Producer() const { return *m_producer; }
    // The show's first slide; built on first use (nullptr when it cannot be).
    TOrbSlide* Slide();
    // Sets the slide to BeginTime + (EndTime - BeginTime) x progress.
    void SetProgress(double progress) override;
    double SlideTime() const { return m_slideTime; }

    // The slide's background, the outgoing (first) and incoming (second)
    // slide on the buffer images, then the slide's objects.
    void DrawTargets(TDeviceDrawer& drawer, TEffectTarget& target, TCustomTexture* first,
                     TCustomTexture* second) override;

private:
    void DrawBuffer(TEffectTarget& target, const TOrbImage& image, TCustomTexture* texture);

    TFileAccessor& m_accessor;
    TDeviceDrawer* m_drawer;
    ql::TRect m_output;
    bool m_coverMode = false;
    std::unique_ptr<TSlideProducer> m_producer;
    std::unique_ptr<TOrbSlide> m_slide;
    bool m_slideTried = false;
    double m_slideTime = 0;
};

// The custom effect for a transition text (TEffectParams CustomText): the
// chosen entry's show, or nothing (a missing entry, an empty text, a show that
// cannot be played, or too deep a nesting) so that a cross-fade plays.
std::unique_ptr<TSlideEffFilter> MakeCustomTransition(TFileAccessor& accessor, const std::u16string& customText,
                                                      const ql::TRect& output, TDeviceDrawer* drawer = nullptr);

// Custom transitions of the renderer are made from the show behind `accessor`
// from now on; it must stay until RemoveCustomTransitions.
void InstallCustomTransitions(TFileAccessor& accessor);
void RemoveCustomTransitions();

}  // namespace orb
