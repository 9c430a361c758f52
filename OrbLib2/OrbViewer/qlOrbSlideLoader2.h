// The slide loader: the thread that keeps the slides around the show time
// built, one slide per 10 ms step, and hands the list of ready slides to the
// engine. It also fixes, from the show's window options, the slide frame size
// and the window mode the engine asks the viewer for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbViewer/qlOrbEngineSlide.h"
#include "QlLib/qlThreadEventList.h"

namespace orb {

class TOrbSource;

// A snapshot of the ready slides, in ascending slide order.
class TSlideData : public ql::TObj {
public:
    static constexpr size_t kMaxSlides = 3;
    // More than three slides is a broken contract (assertion).
    explicit TSlideData(TEngineSlideList slides);
    const TEngineSlideList& Slides() const { return m_slides; }
    int32_t Count() const { return int32_t(m_slides.size()); }

private:
    TEngineSlideList m_slides;
};

class TFileAccessor;

// Makes the loader's slide window for a show whose files open through the
// accessor (which outlives the window).
using TSlideWindowFactory = std::function<std::unique_ptr<TSlideWindow>(
    TOrbSource& source, TFileAccessor* accessor, TTiming& timing, int32_t depth)>;

enum class TDeliveryMode : uint8_t { Send, Post };

class TSlideShowParams : public ql::TOrbThread {
public:
    // screenWidth x screenHeight is the frame size until the engine gives the
    // device's. The loader takes the source over (a missing one is an
    // assertion)...
    TSlideShowParams(std::unique_ptr<TOrbSource> source, int32_t depth,
                     const TSlideWindowFactory& factory, TFileAccessor* accessor,
                     int32_t screenWidth, int32_t screenHeight);
    // ...or uses one that stays the caller's and outlives the loader.
    TSlideShowParams(TOrbSource& source, int32_t depth, const TSlideWindowFactory& factory,
                     TFileAccessor* accessor, int32_t screenWidth, int32_t screenHeight);
    ~TSlideShowParams() override;

    int32_t FrameWidth() const { return m_frameWidth; }
    int32_t FrameHeight() const { return m_frameHeight; }
    // Each side at least 10.
    void SetFrameSize(int32_t width, int32_t height);
    const std::u16string& ShowName() const { return m_showName; }
    const std::u16string& Caption() const { return m_caption; }
    bool Framed() const { return m_framed; }
    int32_t FullScreenOption() const { return m_fullScreen; }
    // 0 full screen, 1 a framed window, 2 a window without frame.
    int32_t WindowMode() const;
    // Passes the frame size and the fit mode (cover or fit) to the slides.
    void SetFitMode(bool cover);
    // The slide frame's place on the device.
    ql::TRect ViewportRect() const;

    TOrbSource& Source() const { return *m_source; }
    TTiming& Timing() const { return *m_timing; }
    TSlideWindow& Window() const { return *m_window; }
    // The engine moves the loader's time; the loader reads it each step.
    void SetCurrentTime(double t) { m_timing->SetShowTime(t); }
    double CurrentTime() const { return m_timing->ShowTime(); }

    // Where slide lists go: code 101 on the engine's list.
    void SetDelivery(ql::TThreadEventList* target, int32_t code, TDeliveryMode mode);

protected:
    // Called on the building thread when the window's contents change.
    void Deliver();

    // Declared before the window, which reads the source, so freed after it.
    std::unique_ptr<TOrbSource> m_ownedSource;
    TOrbSource* m_source;  // m_ownedSource or the caller's
    ql::TRef<TTiming> m_timing;
    std::unique_ptr<TSlideWindow> m_window;
    int32_t m_frameWidth = 0, m_frameHeight = 0;
    std::u16string m_showName = u"OrbShow";
    std::u16string m_caption;
    bool m_framed = false;
    int32_t m_fullScreen = 1;
    ql::TThreadEventList* m_target = nullptr;
    int32_t m_code = 101;
    TDeliveryMode m_mode = TDeliveryMode::Send;
};

class TOrbSlideLoader : public TSlideShowParams {
public:
    using TSlideShowParams::TSlideShowParams;
    ~TOrbSlideLoader() override;

    // One cache step for the current time: builds one slide, or the two of
    // a transition on screen when neither is there. The thread calls it
    // every 10 ms; deterministic drivers call it directly.
    bool CacheStep();

protected:
    void MainLoopStep() override;

private:
    bool m_failing = false;  // the last step threw
};

}  // namespace orb
