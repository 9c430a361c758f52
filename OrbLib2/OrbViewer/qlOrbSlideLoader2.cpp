#include "OrbLib2/OrbViewer/qlOrbSlideLoader2.h"

#include <algorithm>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlOwnership.h"
#include "QlLib/qpExceptions.h"

namespace orb {

TSlideData::TSlideData(TEngineSlideList slides) : m_slides(std::move(slides)) {
    QL_ASSERT(m_slides.size() <= kMaxSlides, "TSlideData: more than three slides");
}

TSlideShowParams::TSlideShowParams(std::unique_ptr<TOrbSource> source, int32_t depth,
                                   const TSlideWindowFactory& factory, TFileAccessor* accessor,
                                   int32_t screenWidth, int32_t screenHeight)
    : TSlideShowParams(ql::Required(source, "TSlideShowParams: no source"), depth, factory,
                       accessor, screenWidth, screenHeight) {
    m_ownedSource = std::move(source);
}

TSlideShowParams::TSlideShowParams(TOrbSource& source, int32_t depth,
                                   const TSlideWindowFactory& factory, TFileAccessor* accessor,
                                   int32_t screenWidth, int32_t screenHeight)
    : m_source(&source) {
    m_frameWidth = std::max(screenWidth, kMinWindowSide);
    m_frameHeight = std::max(screenHeight, kMinWindowSide);
    m_timing = ql::MakeRef<TTiming>();
    if (factory) m_window = factory(*m_source, accessor, *m_timing, std::clamp(depth, 1, 3));
    QL_ASSERT(m_window != nullptr, "TSlideShowParams: no slide window");
    m_window->CacheChanged = [this] { Deliver(); };

    const ql::TIniSection& main = m_source->MainSection();
    const TOrbShowOptions& options = m_source->Options();
    m_showName = main.ReadString(u"projectname", m_showName);
    m_fullScreen = options.ScreenMode;
    m_caption = m_showName;
    if (m_fullScreen != kFullScreenMode) {
        m_framed = !options.WithoutBorder;
        if (m_framed) m_caption = options.Caption.value_or(m_showName);
    }
    if (options.SizedByDesign()) {
        m_frameWidth = options.WindowWidth();
        m_frameHeight = options.WindowHeight();
    }
}

TSlideShowParams::~TSlideShowParams() {
    Stop();
    if (m_window) m_window->CacheChanged = nullptr;
}

void TSlideShowParams::SetFrameSize(int32_t width, int32_t height) {
    m_frameWidth = std::clamp(width, kMinWindowSide, kMaxWindowSide);
    m_frameHeight = std::clamp(height, kMinWindowSide, kMaxWindowSide);
}

int32_t TSlideShowParams::WindowMode() const {
    if (m_fullScreen == 1) return 0;
    return m_framed ? 1 : 2;
}

void TSlideShowParams::SetFitMode(bool cover) {
    m_window->Setup(m_frameWidth, m_frameHeight, cover ? 1 : 0);
}

ql::TRect TSlideShowParams::ViewportRect() const {
    return m_window->SlideRect();
}

void TSlideShowParams::SetDelivery(ql::TThreadEventList* target, int32_t code, TDeliveryMode mode) {
    m_target = target;
    m_code = code;
    m_mode = mode;
}

void TSlideShowParams::Deliver() {
    if (!m_target) return;
    auto data = std::make_unique<TSlideData>(m_window->Slides());
    if (m_mode == TDeliveryMode::Post)
        m_target->Post(m_code, std::move(data));
    else
        m_target->Send(m_code, std::move(data));
}

TOrbSlideLoader::~TOrbSlideLoader() {
    Stop();
}

bool TOrbSlideLoader::CacheStep() {
    try {
        const bool built = m_window->Step(m_timing->ShowTime());
        m_failing = false;
        return built;
    } catch (const std::exception& e) {
        // A step that throws (the show file cut or replaced on disk) loses
        // that slide, not the loader: the next steps go on, and a run of
        // failures is logged once.
        if (!m_failing)
            ql::GlobalLog().WriteLine(std::string("TOrbSlideLoader: step failed: ") + e.what());
        m_failing = true;
        return false;
    }
}

void TOrbSlideLoader::MainLoopStep() {
    Events().Process();
    CacheStep();
    WaitForTerminate(10);
}

}  // namespace orb
