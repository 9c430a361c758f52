// The loader's slide window over the show model: the slide producer and
// cache build the containers, and each container is shown to the engine as
// one TEngineSlide for as long as it lives.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbViewer/qlOrbSlideLoader2.h"

namespace orb {

// The class name the cursor logic looks at, for an object under the pointer.
std::u16string HoverClassOf(const TOrbObject& object);

class TContainerSlide : public TEngineSlide {
public:
    explicit TContainerSlide(ql::TRef<TDrawContainer> container)
        : m_container(std::move(container)) {}

    const TSlideInfo& Info() const override { return m_container->Info(); }
    int64_t Index() const override { return m_container->Index(); }
    void SetTime(double t) override { m_container->SetTime(t); }
    TDrawScene* Scene() override { return m_container->Slide(); }
    TTransitionFilter* Transition() override;
    void Decode(T3DDrawer& drawer) override;
    void Prepare(T3DDrawer& drawer) override;
    void Upload(T3DDrawer& drawer) override;
    bool Changed() override;
    TOrbActionInfo MouseEvent(const TMouseData& mouse, bool actionsEnabled,
                              std::u16string* hitClass) override;
    const ql::TRef<TDrawContainer>& Container() const { return m_container; }

private:
    ql::TRef<TDrawContainer> m_container;
    bool m_attached = false;
};

class TCacheSlideWindow : public TSlideWindow {
public:
    // The accessor must outlive the window.
    TCacheSlideWindow(TOrbSource& source, TFileAccessor& accessor, TTiming& timing, int32_t depth);
    ~TCacheSlideWindow() override;

    bool Step(double t) override;
    TEngineSlideList Slides() const override;
    int32_t Depth() const override { return m_cache->Depth(); }
    void Clear() override;
    void Setup(int32_t width, int32_t height, int32_t fitMode) override;
    ql::TRect SlideRect() const override;

    TSlideProducer& Producer() const { return *m_producer; }

private:
    TEngineSlideRef SlideFor(const ql::TRef<TDrawContainer>& container) const;

    TSlideProducer* m_producer;  // owned by the cache
    std::unique_ptr<TSlideCache> m_cache;
    mutable std::mutex m_lock;  // guards m_slides: the loader adds, the engine's delivery reads
    mutable std::map<const TDrawContainer*, TEngineSlideRef> m_slides;
};

// The window factory the player uses.
TSlideWindowFactory CacheSlideWindows();

}  // namespace orb
