#include "OrbLib2/OrbViewer/qlOrbSlideWindow.h"

#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbButton.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbViewer/qlOrbEngineEvents.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"

namespace orb {

TTransitionFilter* TContainerSlide::Transition() {
    TOrbFilter* filter = m_container->Filter();
    return filter && filter->HasEffect() ? filter : nullptr;
}

void TContainerSlide::Decode(T3DDrawer& drawer) {
    if (TOrbSlide* slide = m_container->Slide()) slide->DecodePictures(drawer);
}

void TContainerSlide::Prepare(T3DDrawer& drawer) {
    if (TOrbSlide* slide = m_container->Slide()) {
        slide->AttachDrawer(drawer);
        m_attached = true;
    }
}

void TContainerSlide::Upload(T3DDrawer& drawer) {
    Prepare(drawer);
}

bool TContainerSlide::Changed() {
    TOrbSlide* slide = m_container->Slide();
    return slide && slide->IsChanged();
}

std::u16string HoverClassOf(const TOrbObject& object) {
    if (dynamic_cast<const TOrbButton*>(&object)) return u"TOrbButton";
    if (dynamic_cast<const TOrbText*>(&object)) return u"TOrbText";
    if (dynamic_cast<const TOrbImage*>(&object)) return u"TOrbImage";
    return u"TOrbObject";
}

namespace {

// The buttons held during the event, as the slide counts them: none, the
// left one, or another (any other combination).
int HeldButtons(uint32_t modifiers) {
    const uint32_t held = modifiers & (kMouseHeldLeft | kMouseHeldRight | kMouseHeldMiddle);
    if (held == 0) return kMouseNoButton;
    return held == kMouseHeldLeft ? kMouseLeftButton : kMouseOtherButtons;
}

}  // namespace

TOrbActionInfo TContainerSlide::MouseEvent(const TMouseData& mouse, bool actionsEnabled,
                                           std::u16string* hitClass) {
    TOrbSlide* slide = m_container->Slide();
    if (!slide) return {};
    const TSlideMouseEvent event =
        mouse.Kind == TMouseKind::Down || mouse.Kind == TMouseKind::DoubleClick ? smPress
        : mouse.Kind == TMouseKind::Up                                          ? smRelease
                                                                                : smMove;
    TOrbObject* found = nullptr;
    TOrbActionInfo action =
        slide->MouseEvent(event, mouse.Button, HeldButtons(mouse.Modifiers), float(mouse.X),
                          float(mouse.Y), actionsEnabled, &found);
    // Only objects that do something when clicked count as hovered.
    if (hitClass)
        *hitClass = found && actionsEnabled && !ParseAction(found->Action()).IsNone()
                        ? HoverClassOf(*found)
                        : u"";
    return action;
}

TCacheSlideWindow::TCacheSlideWindow(TOrbSource& source, TFileAccessor& accessor, TTiming& timing,
                                     int32_t depth) {
    auto producer = std::make_unique<TSlideProducer>(source, accessor);
    producer->SetCurrentTiming(ql::TRef<TTiming>(&timing));
    m_producer = producer.get();
    m_cache = std::make_unique<TSlideCache>(std::move(producer), depth);
    m_cache->SetOnContainerDecoding([this](const ql::TRef<TDrawContainer>& container) {
        TEngineSlideRef slide = SlideFor(container);
        if (ContainerDecoding) ContainerDecoding(*slide);
    });
    m_cache->SetOnContainerCreated([this](const ql::TRef<TDrawContainer>& container) {
        TEngineSlideRef slide = SlideFor(container);
        if (ContainerCreated) ContainerCreated(*slide);
    });
    m_cache->SetOnCacheChanged([this] {
        if (CacheChanged) CacheChanged();
    });
}

TCacheSlideWindow::~TCacheSlideWindow() {
    m_cache->SetOnContainerDecoding({});
    m_cache->SetOnContainerCreated({});
    m_cache->SetOnCacheChanged({});
}

bool TCacheSlideWindow::Step(double t) {
    if (!m_producer->IsSetUp()) return false;
    return m_cache->Step(t);
}

TEngineSlideRef TCacheSlideWindow::SlideFor(const ql::TRef<TDrawContainer>& container) const {
    std::lock_guard<std::mutex> lock(m_lock);
    TEngineSlideRef& slide = m_slides[container.Get()];
    if (!slide) slide = ql::MakeRef<TContainerSlide>(container);
    return slide;
}

TEngineSlideList TCacheSlideWindow::Slides() const {
    const std::vector<ql::TRef<TDrawContainer>> containers = m_cache->Containers();
    TEngineSlideList result;
    for (const auto& container : containers) result.push_back(SlideFor(container));
    // Containers that left the cache are forgotten; the engine may still hold them.
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_slides.begin(); it != m_slides.end();) {
        bool kept = false;
        for (const auto& container : containers) kept = kept || container.Get() == it->first;
        it = kept ? std::next(it) : m_slides.erase(it);
    }
    return result;
}

void TCacheSlideWindow::Clear() {
    m_cache->Clear();
    std::lock_guard<std::mutex> lock(m_lock);
    m_slides.clear();
}

void TCacheSlideWindow::Setup(int32_t width, int32_t height, int32_t fitMode) {
    try {
        m_producer->Setup(width, height, fitMode);
    } catch (const ql::TCommonException& e) {
        ql::GlobalLog().WriteLine("TCacheSlideWindow: " + e.Message());
    }
}

ql::TRect TCacheSlideWindow::SlideRect() const {
    return m_producer->SlideRect();
}

TSlideWindowFactory CacheSlideWindows() {
    return [](TOrbSource& source, TFileAccessor* accessor, TTiming& timing,
              int32_t depth) -> std::unique_ptr<TSlideWindow> {
        if (!accessor) return nullptr;
        return std::make_unique<TCacheSlideWindow>(source, *accessor, timing, depth);
    };
}

}  // namespace orb
