// Helpers of the engine tests: generated shows of solid-coloured slides, an
// event recorder and a deterministic driver over the software device.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "WaitSupport.h"

namespace orb::test {

// A show whose files are all missing: slides of backgrounds only.
class TNoFiles : public TFileSource {
protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string&) override { return nullptr; }
};

inline std::unique_ptr<ql::TIniFile> DocumentOf(const std::string& text) {
    return ql::test::DocumentFromText(text);
}

// Slide k (0-based) is filled with kSlideColours[k] (Windows colour values:
// red in the low byte) and ends at (k + 1) x slideMs. `extra` is appended.
inline constexpr int32_t kSlideColours[] = {0x0000FF, 0x00FF00, 0xFF0000,
                                            0x00FFFF, 0xFF00FF, 0xFFFF00};

inline std::string SolidShow(int32_t slides, int32_t slideMs, const std::string& repeat,
                             const std::string& extra = {}) {
    std::string text =
        "[Main]\nopt_slidescount=" + std::to_string(slides) +
        "\nopt_scr_width=64\nopt_scr_height=48\nopt_fx_enable=0\nopt_repeat=" + repeat + "\n";
    for (int32_t k = 1; k <= slides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * slideMs) + "\n";
    for (int32_t k = 1; k <= slides; ++k)
        text += "[slide" + std::to_string(k) + "]\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=" +
                std::to_string(kSlideColours[(k - 1) % 6]) + "\n";
    return text + extra;
}

class TEventRecorder : public TEngineListener {
public:
    void EngineEvent(std::unique_ptr<TOrbEventData> event) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_events.push_back(std::move(event));
        }
        m_arrivals.Notify();
    }
    // Told of every event, for a test that waits on the engine's thread.
    ql::test::TSignal& Arrivals() { return m_arrivals; }
    // Copies of the events with this code: (values, text of a TStrValue).
    std::vector<std::vector<int64_t>> Values(int32_t code) const {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<std::vector<int64_t>> result;
        for (const auto& e : m_events)
            if (e->Code == code) result.push_back(e->Values);
        return result;
    }
    std::vector<std::u16string> Texts(int32_t code) const {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<std::u16string> result;
        for (const auto& e : m_events)
            if (e->Code == code) {
                auto* text = dynamic_cast<TStrValue*>(e->Object.get());
                result.push_back(text ? text->Value : u"");
            }
        return result;
    }
    size_t Count(int32_t code) const { return Values(code).size(); }

private:
    mutable std::mutex m_lock;  // guards m_events
    std::vector<std::unique_ptr<TOrbEventData>> m_events;
    ql::test::TSignal m_arrivals;
};

// One frame of a deterministic engine: the clock moves by stepMs, the music
// plays in step (MUSICFRAMES counts what it has played), slides are built and
// one pass runs.
inline void StepEngine(TOrbEngine& engine, TVirtualClock& clock, int64_t& musicFrames,
                       double stepMs) {
    clock.Advance(stepMs);
    const int64_t total = std::llround(clock.NowMs() * 44.1);
    engine.PlayMusicFrames(total - musicFrames);
    musicFrames = total;
    engine.FillSlides();
    engine.Step();
}

// The colour (0xRRGGBB) at the centre of the engine's last frame; -1
// without one.
inline int64_t CentreColourOf(TOrbEngine& engine) {
    auto frame = engine.Drawer() ? engine.Drawer()->CaptureToBitmap() : nullptr;
    if (!frame) return -1;
    const uint8_t* p = frame->Row(frame->Height() / 2) + 3 * (frame->Width() / 2);
    return int64_t(p[2]) << 16 | int64_t(p[1]) << 8 | p[0];
}

// Plays a show in deterministic mode on a 64 x 48 software device, or on
// `other` when given.
class TDriver {
public:
    explicit TDriver(const std::string& show, bool paused = false, int32_t width = 64,
                     int32_t height = 48, TSlideWindowFactory windows = {},
                     TRenderDevice* other = nullptr)
        : device(TSoftDeviceOptions{width, height}) {
        TEngineOptions options = CaptureEngineOptions(clock, width, height);
        options.SlideWindows = std::move(windows);
        engine = std::make_unique<TOrbEngine>(other ? *other : device, std::move(options), paused);
        engine->SetListener(&events);
        opened = engine->Open(std::make_unique<TFileAccessor>(ql::MakeRef<TNoFiles>()),
                              DocumentOf(show), 0);
    }

    // One frame: the clocks move by stepMs, slides are built, one pass runs.
    void Frame(double stepMs) { StepEngine(*engine, clock, m_musicFrames, stepMs); }
    // Passes without moving the clock until the show runs (the music player
    // takes a pass to seek); false when it does not start.
    bool Start() {
        for (int i = 0; i < 10 && !engine->Active(); ++i) Frame(0);
        return engine->Active();
    }
    // Frames until the clock has moved by ms.
    void Run(double ms, double stepMs = 10) {
        for (double done = 0; done < ms; done += stepMs) Frame(stepMs);
    }
    int64_t CentreColour() { return CentreColourOf(*engine); }

    TVirtualClock clock;
    TSoftDevice device;
    TEventRecorder events;
    std::unique_ptr<TOrbEngine> engine;
    bool opened = false;

private:
    int64_t m_musicFrames = 0;
};

// 0xRRGGBB of a Windows colour value.
inline int64_t Rgb(int32_t windowsColour) {
    return int64_t(windowsColour & 0xFF) << 16 | (windowsColour & 0xFF00) |
           (windowsColour >> 16 & 0xFF);
}

}  // namespace orb::test
