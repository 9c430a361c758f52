// Slide timing helpers: the shared show time, the frame geometry of a
// screen, which slides are on screen at a time, dialog sections and the
// choice among a custom transition's entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {
class TDrawThreadPool;
class TIniStorage;
class TIniSection;
}  // namespace ql

namespace orb {

class TOrbSource;
struct TOrbShowOptions;
class TOrbSlide;
class TOrbDialog;
class TOrbSlideHost;
class TOrbFilter;
class TFileAccessor;

// A show that cannot be laid out on a screen; the message says why.
QL_COMMON_EXCEPTION(ESlideProducerError, ql::TCommonException);

inline constexpr char kZeroSizeText[] = "ZeroSize of Presentation!";
inline constexpr char kNoSlidesText[] = "No Slides in Presentation";
inline constexpr char kNoTimingText[] = "TSlideProducer.CurrentTiming not Assigned";

// Begin of the pre-show slide (-1) and of everything before it.
inline constexpr double kPreShowBegin = -1073741823;
inline constexpr double kBeforePreShowBegin = -2147483647;

// The displayed show time and the raw clock time (ms), written by the engine
// and read by the loader, the producer and every container.
class TTiming : public ql::TRefObj {
public:
    double ShowTime() const { return m_showTime.load(std::memory_order_relaxed); }
    double ClockTime() const { return m_clockTime.load(std::memory_order_relaxed); }
    void SetShowTime(double t) { m_showTime.store(t, std::memory_order_relaxed); }
    void SetClockTime(double t) { m_clockTime.store(t, std::memory_order_relaxed); }

private:
    std::atomic<double> m_showTime{0};
    std::atomic<double> m_clockTime{0};
};

// ---- frame geometry ----

enum TFrameFitMode : int32_t { ffFitInside = 0, ffCover = 1, ffStretch = 2 };

// What the show's [Main] says about its size on screen.
struct TDesignOptions {
    int32_t MinorVersion = 13;
    int32_t Width = 0;            // "opt_scr_width"
    int32_t Height = 0;           // "opt_scr_height"
    bool FixedSize = false;       // "opt_scr_fullfixedsize"
    std::optional<double> Ratio;  // "opt_scr_ratio", older projects only
};
TDesignOptions DesignOptionsOf(const TOrbShowOptions& options);
// The same for a [Main] section that no show source has read yet.
TDesignOptions ReadDesignOptions(const ql::TIniSection& main);

struct TFrameGeometry {
    int32_t ScreenWidth = 0, ScreenHeight = 0;
    float CenterX = 0, CenterY = 0;  // half the screen size
    double Aspect = 1;
    int32_t FrameWidth = 0, FrameHeight = 0;  // the slide's size on screen
    ql::TRect SlideRect;                      // the frame centred on the screen, clipped to it
    TCamera3D Camera;                         // centred, one screen height in front
};

// The slide frame on a screen of sw x sh for fit mode `mode` and scale
// percentages px, py. Screen sizes, scales and ratios from outside are
// bounded here. Raises ESlideProducerError "ZeroSize of Presentation!" when a
// current project has no design size.
TFrameGeometry ComputeFrameGeometry(const TDesignOptions& design, int32_t sw, int32_t sh,
                                    int32_t mode, float px = 100, float py = 100);

// ---- slides on screen ----

struct TVisibleSlides {
    int64_t First = -1;
    int64_t Last = -1;  // First + 1 while a transition runs, else First
};

// Finds the slides visible at a time from a cursor that stays where the last
// search ended, so a clock moving forward costs a step or two.
class TVisibleSlideCursor {
public:
    explicit TVisibleSlideCursor(const TOrbSource& source) : m_source(source) {}
    TVisibleSlides Find(double t);
    int64_t Cursor() const { return m_cursor; }
    void SetCursor(int64_t index) { m_cursor = index < -1 ? -1 : index; }

private:
    // NextEffectEnd of slide k, rounded to whole ms.
    double EndOf(int64_t k) const;
    // false when the walk ran out of steps.
    bool Walk(double t);

    const TOrbSource& m_source;
    int64_t m_cursor = 0;
};

// ---- dialogs ----

// The section of the dialog named `name`: "dialog_" followed by i and "_"
// when "custom_dialog"+i names it, else by the name itself. nullptr when the
// document has no such section.
ql::TIniSection* DialogSection(const ql::TIniStorage& document, const std::u16string& name);

// ---- custom transitions ----

// The package entry names of a custom transition text: comma-separated,
// blanks and tabs before a name skipped, empty names dropped.
std::vector<std::u16string> CustomEffectNames(std::u16string_view text);
// The entry to play: the only name, or one drawn from the show's generator
// (re-seeded from the clock unless a fixed seed is set). Empty when the text
// names none.
std::u16string ChooseCustomEffectEntry(std::u16string_view text);

// ---- production ----

class TDrawContainer;

// What the producer passes on to its slide host; each may be left empty.
struct TSlideProducerCallbacks {
    ql::TProgressHandler Progress;  // false cancels
    std::function<void(TOrbSlide& slide)> SlideChanged;
    std::function<void()> Drawing;
};

// Builds the slides of a show on demand, laid out for one screen.
class TSlideProducer : public ql::TObj {
public:
    // The accessor opens the slides' pictures and must outlive the producer
    // and every slide it builds. The producer takes the source over (a
    // missing one is an assertion)...
    TSlideProducer(std::unique_ptr<TOrbSource> source, TFileAccessor& accessor,
                   TSlideProducerCallbacks callbacks = {});
    // ...or uses one that stays the caller's and outlives the producer.
    TSlideProducer(TOrbSource& source, TFileAccessor& accessor,
                   TSlideProducerCallbacks callbacks = {});
    ~TSlideProducer() override;
    TSlideProducer(const TSlideProducer&) = delete;
    TSlideProducer& operator=(const TSlideProducer&) = delete;

    // The slide loader passes mode 1 (cover) or 0 (fit) and 100 / 100. Raises
    // ESlideProducerError "ZeroSize of Presentation!" for a current project
    // without a design size.
    void Setup(int32_t screenWidth, int32_t screenHeight, int32_t mode, float scaleX = 100,
               float scaleY = 100);
    bool IsSetUp() const { return m_setUp; }
    const TFrameGeometry& Geometry() const { return m_geometry; }
    ql::TRect SlideRect() const { return m_geometry.SlideRect; }
    TCamera3D CameraPosition() const { return m_geometry.Camera; }
    // The size a built slide has in its own units.
    ql::TPoint SlideSize() const;
    const TDesignOptions& Design() const { return m_design; }
    const std::u16string& PathToButtons() const { return m_pathToButtons; }

    // Slide `index` of the show (past the count: reduced modulo it) in cycle
    // `cycle`; index -1 is the pre-show slide. nullptr when the slide has no
    // section or building it failed (logged).
    std::unique_ptr<TOrbSlide> BuildSlide(int64_t index, int64_t cycle);
    // The dialog `name` set to time 0; nullptr when the show has none.
    std::unique_ptr<TOrbDialog> Dialog(const std::u16string& name);
    // Slide `index` (cycles included) with its shifted times, built for its
    // cycle. Needs the current timing.
    ql::TRef<TDrawContainer> MakeContainer(int64_t index);
    TVisibleSlides VisibleSlides(double t) { return m_cursor.Find(t); }

    ql::TRef<TTiming> CurrentTiming() const { return m_timing; }
    void SetCurrentTiming(ql::TRef<TTiming> timing) { m_timing = std::move(timing); }

    TOrbSource& Source() const { return *m_source; }
    TOrbSlideHost& Host() const { return *m_host; }
    TFileAccessor& Accessor() const { return m_accessor; }

private:
    // Size, scale, centre and camera as for every slide.
    void ShapeSlide(TOrbSlide& slide) const;
    void SetBackground(TOrbSlide& slide, const ql::TIniSection* section) const;

    std::unique_ptr<TOrbSource> m_ownedSource;  // declared first: goes last
    TOrbSource* m_source;                       // m_ownedSource or the caller's
    TFileAccessor& m_accessor;
    TSlideProducerCallbacks m_callbacks;
    std::unique_ptr<TOrbSlideHost> m_host;
    std::u16string m_pathToButtons;
    TDesignOptions m_design;
    TFrameGeometry m_geometry;
    float m_scaleX = 100, m_scaleY = 100;
    int32_t m_mode = ffFitInside;
    bool m_setUp = false;
    TVisibleSlideCursor m_cursor;
    ql::TRef<TTiming> m_timing;
};

// One built slide instance on the show clock. Shared: the cache and the
// engine both hold it, and the slide goes with the last of them.
class TDrawContainer : public ql::TRefObj {
public:
    TDrawContainer(ql::TRef<TTiming> timing, int64_t index, const TSlideInfo& info,
                   double cycleOffset, std::unique_ptr<TOrbSlide> slide);
    ~TDrawContainer() override;

    // The slide goes to t less the cycle offset; its transition has run for
    // t less the container's begin time.
    void SetTime(double t);
    // SetTime at the shared timing's show time.
    void Update();

    int64_t Index() const { return m_index; }
    // The slide's times shifted to its cycle.
    const TSlideInfo& Info() const { return m_info; }
    double CycleOffset() const { return m_cycleOffset; }
    // nullptr when the slide could not be built; drawing skips it then.
    TOrbSlide* Slide() const { return m_slide.get(); }
    TOrbFilter* Filter() const;
    const ql::TRef<TTiming>& Timing() const { return m_timing; }

private:
    ql::TRef<TTiming> m_timing;
    int64_t m_index;
    TSlideInfo m_info;
    double m_cycleOffset;
    std::unique_ptr<TOrbSlide> m_slide;
};

// Keeps built slides for the window from the first visible slide on, one
// build per step, at most three.
class TSlideCache : public ql::TObj {
public:
    using TContainerCreated = std::function<void(const ql::TRef<TDrawContainer>& container)>;
    using TCacheChanged = std::function<void()>;

    // The depth is kept within 1 .. 3. The cache takes the producer over (a
    // missing one is an assertion)...
    TSlideCache(std::unique_ptr<TSlideProducer> producer, int32_t depth);
    // ...or uses one that stays the caller's and outlives the cache.
    TSlideCache(TSlideProducer& producer, int32_t depth);
    ~TSlideCache() override;

    // Drops containers outside the window and builds the lowest missing one,
    // or, with a decoding handler, both slides on screen at t when a
    // transition shows two and neither is built (after a seek): their
    // decoding then runs side by side. Whether a slide was built.
    bool Step(double t);
    void Clear();
    // The containers in ascending index order (a copy: the loader's thread
    // changes the list).
    std::vector<ql::TRef<TDrawContainer>> Containers() const;
    ql::TRef<TDrawContainer> Find(int64_t index) const;
    int32_t Depth() const { return m_depth; }
    TSlideProducer& Producer() const { return *m_producer; }

    // Called for each new container before the created handler, for work
    // without the device; for two containers at once on two threads when a
    // step builds two.
    void SetOnContainerDecoding(TContainerCreated handler) { m_onDecoding = std::move(handler); }
    void SetOnContainerCreated(TContainerCreated handler) { m_onCreated = std::move(handler); }
    void SetOnCacheChanged(TCacheChanged handler) { m_onChanged = std::move(handler); }

private:
    std::unique_ptr<TSlideProducer> m_ownedProducer;  // declared first: goes last
    TSlideProducer* m_producer;                       // m_ownedProducer or the caller's
    int32_t m_depth;
    int64_t m_lowestAsked = 0;
    mutable std::mutex m_lock;  // guards m_containers
    std::vector<ql::TRef<TDrawContainer>> m_containers;
    // Runs the second decoding of a step that builds two; made on first use.
    std::unique_ptr<ql::TDrawThreadPool> m_decoders;
    TContainerCreated m_onDecoding;
    TContainerCreated m_onCreated;
    TCacheChanged m_onChanged;
};

// Draws the slides visible at the containers' time: the incoming one through
// its transition over the outgoing one, or the one alone, then the hider
// outside the slide frame. `second` may be nullptr. Whether a frame was drawn.
bool DrawSlides(TDeviceDrawer& drawer, TDrawContainer* first, TDrawContainer* second,
                const ql::TRect& slideRect, uint32_t hiderColour);

// Paints the screen outside the slide frame in the hider colour (0xAARRGGBB)
// over whatever zoomed or slid out of the frame. Nothing when the frame
// fills the screen or is empty.
void DrawHider(TDeviceDrawer& drawer, const ql::TRect& slideRect, uint32_t colour);
// The hider colour of a show as the drawer takes it: opaque 0xAARRGGBB.
uint32_t HiderColour(const TBgrColor& colour);

}  // namespace orb
