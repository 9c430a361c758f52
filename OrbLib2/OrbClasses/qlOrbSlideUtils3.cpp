#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "OrbLib2/OrbClasses/OrbSlideEffect.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideBackground.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/Graphics/qlDrawThreads.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlOwnership.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Screens and frames beyond this are not real displays; the bound keeps the
// products below in the int32 range.
constexpr int32_t kMaxSide = 32768;
// Aspect ratios and scales outside these say nothing sensible about a screen.
constexpr double kMinAspect = 0.01, kMaxAspect = 100;
constexpr float kMinFrameScale = 1, kMaxFrameScale = 10000;

int32_t RoundToInt(double value) {
    if (!(value > -2147483647.0)) return value != value ? 0 : -2147483647;
    if (value > 2147483647.0) return 2147483647;
    return int32_t(std::lround(value));
}

int32_t ClampSide(int32_t side) {
    return std::clamp(side, 1, kMaxSide);
}

float CheckedScale(float percent) {
    if (!(percent > 0)) return 100;  // NaN and non-positive
    return std::clamp(percent, kMinFrameScale, kMaxFrameScale);
}

double CheckedAspect(double aspect) {
    if (!(aspect > 0)) return 4.0 / 3.0;
    return std::clamp(aspect, kMinAspect, kMaxAspect);
}

}  // namespace

TDesignOptions DesignOptionsOf(const TOrbShowOptions& options) {
    TDesignOptions design;
    design.MinorVersion = options.MinorVersion;
    design.Width = options.DesignWidth();
    design.Height = options.DesignHeight();
    design.FixedSize = options.FixedSize;
    design.Ratio = options.Ratio;
    return design;
}

TDesignOptions ReadDesignOptions(const ql::TIniSection& main) {
    return DesignOptionsOf(ReadShowOptions(main));
}

TFrameGeometry ComputeFrameGeometry(const TDesignOptions& design, int32_t sw, int32_t sh,
                                    int32_t mode, float px, float py) {
    sw = ClampSide(sw);
    sh = ClampSide(sh);
    px = CheckedScale(px);
    py = CheckedScale(py);
    TFrameGeometry g;
    g.ScreenWidth = sw;
    g.ScreenHeight = sh;

    if (design.MinorVersion > 12) {
        // A current project always states its design size; a zero one would
        // divide by zero everywhere below, so the show is refused here.
        if (design.Height <= 0 || design.Width <= 0) throw ESlideProducerError(kZeroSizeText);
        g.Aspect = double(design.Width) / double(design.Height);
    } else {
        g.Aspect = design.Ratio ? *design.Ratio : double(sw) / double(sh);
    }
    g.Aspect = CheckedAspect(g.Aspect);
    g.CenterX = float(sw) / 2;
    g.CenterY = float(sh) / 2;

    int32_t fw = 0, fh = 0;
    const bool fixed = design.FixedSize && design.Width > 0 && design.Height > 0;
    if (fixed) {
        const double w = std::min(design.Width, kMaxSide), h = std::min(design.Height, kMaxSide);
        if (double(sw) / double(sh) >= w / h) {
            fh = std::min(int32_t(h), sh);
            fw = RoundToInt(fh * w / h);
        } else {
            fw = std::min(int32_t(w), sw);
            fh = RoundToInt(fw * h / w);
        }
    } else {
        const int32_t vw = RoundToInt(double(sw) / px * 100),
                      vh = RoundToInt(double(sh) / py * 100);
        if (mode == ffStretch) {
            fw = vw;
            fh = vh;
        } else {
            // Any other mode number fits inside, the safe reading.
            fw = std::max(RoundToInt(vh * g.Aspect), 1);
            fh = vh;
            const double cx = double(vw) / fw, cy = double(vh) / fh;
            const double c = mode == ffCover ? std::max(cx, cy) : std::min(cx, cy);
            if (c != 1) {
                fw = RoundToInt(fw * c);
                fh = RoundToInt(fh * c);
            }
        }
        fw = RoundToInt(fw * double(px) / 100);
        fh = RoundToInt(fh * double(py) / 100);
        // Odd frame sizes put the slide half a pixel off the screen's pixels.
        if (fw % 2 != 0 && fw < sw) ++fw;
        if (fh % 2 != 0 && fh < sh) ++fh;
    }
    g.FrameWidth = std::clamp(fw, 1, kMaxSide * 100);
    g.FrameHeight = std::clamp(fh, 1, kMaxSide * 100);

    const int32_t left = RoundToInt(g.CenterX - g.FrameWidth / 2.0);
    const int32_t top = RoundToInt(g.CenterY - g.FrameHeight / 2.0);
    const ql::TRect frame{left, top, left + g.FrameWidth, top + g.FrameHeight};
    g.SlideRect = ql::IntersectRect(frame, ql::TRect{0, 0, sw, sh});
    if (g.SlideRect.IsEmpty()) g.SlideRect = {};
    g.Camera = {float(sw) / 2, float(sh) / 2, -float(sh)};
    return g;
}

// ---- slides on screen ----

namespace {
// A walk longer than this re-seats the cursor by a search on the slide list;
// a second one that long stops where it is, so that no show data can keep
// the search going (a show whose cycles last next to nothing).
constexpr int32_t kMaxCursorSteps = 64;
}  // namespace

double TVisibleSlideCursor::EndOf(int64_t k) const {
    return std::round(m_source.SlideInfo(k).Info.NextEffectEnd);
}

bool TVisibleSlideCursor::Walk(double t) {
    const bool repeats = m_source.RepeatMode() == TRepeatMode::Repeat;
    const int64_t last = m_source.SlideCount() - 1;
    for (int32_t steps = 0; steps < kMaxCursorSteps; ++steps) {
        if (m_cursor > -1 && t < EndOf(m_cursor - 1)) {
            --m_cursor;
        } else if (EndOf(m_cursor) < t && (repeats || m_cursor < last)) {
            // A show that does not repeat keeps its last slide on screen.
            ++m_cursor;
        } else {
            return true;
        }
    }
    return false;
}

TVisibleSlides TVisibleSlideCursor::Find(double time) {
    const double t = std::round(time);
    if (!Walk(t)) {
        const TSlideAtTime at = m_source.SlideAtTime(t);
        m_cursor = std::max<int64_t>(at.Index, -1);
        Walk(t);
    }
    TVisibleSlides result{m_cursor, m_cursor};
    const TSlideInfo next = m_source.SlideInfo(m_cursor + 1).Info;
    if (t >= std::round(next.BeginTime) && !(t > std::round(next.NextEffectEnd)))
        result.Last = m_cursor + 1;
    return result;
}

// ---- dialogs ----

ql::TIniSection* DialogSection(const ql::TIniStorage& document, const std::u16string& name) {
    std::u16string suffix = name;
    if (const ql::TIniSection* main = document.FindSection(kMainSection)) {
        const int32_t count = ReadShowOptions(*main).CustomDialogCount;
        for (int32_t i = 1; i <= count; ++i) {
            if (main->ReadString(u"custom_dialog" + ql::IntToStr(i), u"") == name) {
                suffix = ql::IntToStr(i) + u"_";
                break;
            }
        }
    }
    return document.FindSection(u"dialog_" + suffix);
}

// ---- custom transitions ----

std::vector<std::u16string> CustomEffectNames(std::u16string_view text) {
    std::vector<std::u16string> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u',', start);
        if (end == std::u16string_view::npos) end = text.size();
        size_t first = start;
        while (first < end && (text[first] == u' ' || text[first] == u'\t')) ++first;
        if (first < end) names.emplace_back(text.substr(first, end - first));
        start = end + 1;
    }
    return names;
}

std::u16string ChooseCustomEffectEntry(std::u16string_view text) {
    std::vector<std::u16string> names = CustomEffectNames(text);
    if (names.empty()) return {};
    if (names.size() == 1) return names.front();
    ReseedRandomFromClock();
    const int32_t count = int32_t(std::min<size_t>(names.size(), 2147483647));
    return names[size_t(ShowRandom(count))];
}

// ---- production ----

namespace {

int32_t CycleNumber(int64_t cycle) {
    return int32_t(std::clamp<int64_t>(cycle, -1, 2147483647));
}

// Pictures are opened before the first placement, so that the pre-scan
// knows every object's size.
void LoadPictures(TOrbObject& object) {
    if (auto* image = dynamic_cast<TOrbImage*>(&object)) image->LoadPicture();
    for (int i = 0; i < object.ChildCount(); ++i) LoadPictures(object.Child(i));
}

}  // namespace

TSlideProducer::TSlideProducer(std::unique_ptr<TOrbSource> source, TFileAccessor& accessor,
                               TSlideProducerCallbacks callbacks)
    : TSlideProducer(ql::Required(source, "TSlideProducer: no source"), accessor,
                     std::move(callbacks)) {
    m_ownedSource = std::move(source);
}

TSlideProducer::TSlideProducer(TOrbSource& source, TFileAccessor& accessor,
                               TSlideProducerCallbacks callbacks)
    : m_source(&source), m_accessor(accessor), m_callbacks(std::move(callbacks)), m_cursor(source) {
    RegisterImageObjects();
    const ql::TIniSection& main = m_source->MainSection();
    m_pathToButtons = main.ReadString(u"PathToButtons", u"");
    m_design = DesignOptionsOf(m_source->Options());

    TSlideHostCallbacks host;
    host.CameraPosition = [this] { return m_geometry.Camera; };
    host.Progress = [this](float fraction) {
        return !m_callbacks.Progress || m_callbacks.Progress(fraction);
    };
    host.SlideChanged = [this](TOrbSlide& slide) {
        if (m_callbacks.SlideChanged) m_callbacks.SlideChanged(slide);
    };
    host.Drawing = [this] {
        if (m_callbacks.Drawing) m_callbacks.Drawing();
    };
    m_host = std::make_unique<TOrbSlideHost>(accessor, std::move(host));
    m_host->SetPathToButtons(m_pathToButtons);
    m_host->VideoClips().Load(main);
    m_host->SetSlideCount(m_source->SlideCount());
}

TSlideProducer::~TSlideProducer() = default;

void TSlideProducer::Setup(int32_t screenWidth, int32_t screenHeight, int32_t mode, float scaleX,
                           float scaleY) {
    m_geometry = ComputeFrameGeometry(m_design, screenWidth, screenHeight, mode, scaleX, scaleY);
    // The same bounds as the geometry used.
    m_scaleX = CheckedScale(scaleX);
    m_scaleY = CheckedScale(scaleY);
    m_mode = mode;
    m_setUp = true;
}

ql::TPoint TSlideProducer::SlideSize() const {
    return {std::max(RoundToInt(m_geometry.FrameWidth / double(m_scaleX) * 100), 1),
            std::max(RoundToInt(m_geometry.FrameHeight / double(m_scaleY) * 100), 1)};
}

void TSlideProducer::ShapeSlide(TOrbSlide& slide) const {
    const ql::TPoint size = SlideSize();
    slide.SetSize(size.x, size.y);
    slide.KeyPoints().SetCurrentScale(float(m_geometry.FrameWidth * 100.0 / size.x),
                                      float(m_geometry.FrameHeight * 100.0 / size.y));
    slide.SetScreenCentre({m_geometry.CenterX, m_geometry.CenterY});
    slide.SetOwnCamera(m_geometry.Camera);
}

void TSlideProducer::SetBackground(TOrbSlide& slide, const ql::TIniSection* section) const {
    slide.Background() = ReadSlideBackground(m_source->MainSection(), section);
    TFileAccessor* accessor = &m_accessor;
    slide.SetBackgroundPainter(std::make_unique<TSlideBackgroundDrawer>(
        slide.Background(), [accessor](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
            auto image = accessor->OpenImage(name);
            return image ? image->BitmapStore() : nullptr;
        }));
}

std::unique_ptr<TOrbSlide> TSlideProducer::BuildSlide(int64_t index, int64_t cycle) {
    const int64_t count = m_source->SlideCount();
    QL_ASSERT(count > 0, kNoSlidesText);
    if (!m_setUp) {
        ql::GlobalLog().WriteLine(
            std::u16string_view(u"TSlideProducer: a slide was asked for before Setup"));
        return nullptr;
    }
    std::unique_ptr<TOrbSlide> slide;
    try {
        if (index < 0) {
            // The time before the show: the first slide's background, under
            // which the first transition runs.
            slide = std::make_unique<TOrbSlide>(m_host.get(), -1);
            ShapeSlide(*slide);
            slide->SetIndex(-1);
            slide->SetTimes(kPreShowBegin, 0, 0, m_source->Slides().front().EffectTime);
            SetBackground(*slide, SlideSection(m_source->Document(), 0));
            slide->SetTime(true, 0);
            return slide;
        }
        const int64_t k = index % count;
        ql::TIniSection* section = SlideSection(m_source->Document(), k);
        if (!section) return nullptr;
        slide = std::make_unique<TOrbSlide>(m_host.get(), CycleNumber(cycle));
        ShapeSlide(*slide);
        slide->SetIndex(int32_t(k));
        const TSlideInfo& info = m_source->Slides()[size_t(k)];
        slide->SetTimes(info.BeginTime, info.EndTime, info.EffectTime, info.NextEffectTime);
        SetBackground(*slide, section);
        slide->SetName(section->Name());
        slide->LoadChildren(*section);
        LoadPictures(*slide);
        slide->Filter().SetEffect(m_source->SlideEffect(index));
        slide->SetTime(true, info.BeginTime);
        return slide;
    } catch (const std::exception& e) {
        ql::GlobalLog().WriteLine(std::string_view(std::string("TSlideProducer: slide ") +
                                                   std::to_string(index) +
                                                   " not built: " + e.what()));
        return nullptr;
    }
}

std::unique_ptr<TOrbDialog> TSlideProducer::Dialog(const std::u16string& name) {
    const ql::TIniSection* section = DialogSection(m_source->Document(), name);
    if (!section || !m_setUp) return nullptr;
    try {
        auto dialog = std::make_unique<TOrbDialog>(m_host.get(), 0);
        ShapeSlide(*dialog);
        dialog->SetIndex(-1);
        dialog->SetTimes(0, 0, 0, 0);
        dialog->SetDialogName(name);
        dialog->SetDialogPause(section->ReadBool(u"DialogPause", false));
        SetBackground(*dialog, section);
        dialog->SetName(section->Name());
        dialog->LoadChildren(*section);
        LoadPictures(*dialog);
        dialog->SetTime(true, 0);
        return dialog;
    } catch (const std::exception& e) {
        ql::GlobalLog().WriteLine(
            std::string_view(std::string("TSlideProducer: dialog not built: ") + e.what()));
        return nullptr;
    }
}

ql::TRef<TDrawContainer> TSlideProducer::MakeContainer(int64_t index) {
    QL_ASSERT(m_timing, kNoTimingText);
    const int64_t count = m_source->SlideCount();
    const TSlideAtIndex at = m_source->SlideInfo(index);
    const int64_t cycle = index >= count ? at.Cycle : 0;
    const double offset = index >= count ? double(cycle) * m_source->TotalTime() : 0;
    ql::GlobalLog().WriteInt(u"....................................... ", index);
    std::unique_ptr<TOrbSlide> slide = BuildSlide(index, index < 0 ? -1 : cycle);
    return ql::MakeRef<TDrawContainer>(m_timing, index, at.Info, offset, std::move(slide));
}

TDrawContainer::TDrawContainer(ql::TRef<TTiming> timing, int64_t index, const TSlideInfo& info,
                               double cycleOffset, std::unique_ptr<TOrbSlide> slide)
    : m_timing(std::move(timing)),
      m_index(index),
      m_info(info),
      m_cycleOffset(cycleOffset),
      m_slide(std::move(slide)) {}

TDrawContainer::~TDrawContainer() = default;

TOrbFilter* TDrawContainer::Filter() const {
    return m_slide ? &m_slide->Filter() : nullptr;
}

void TDrawContainer::SetTime(double t) {
    if (!m_slide) return;
    m_slide->SetTime(true, t - m_cycleOffset);
    m_slide->Filter().SetElapsed(t - m_info.BeginTime);
}

void TDrawContainer::Update() {
    if (m_timing) SetTime(m_timing->ShowTime());
}

TSlideCache::TSlideCache(std::unique_ptr<TSlideProducer> producer, int32_t depth)
    : TSlideCache(ql::Required(producer, "TSlideCache: no producer"), depth) {
    m_ownedProducer = std::move(producer);
}

TSlideCache::TSlideCache(TSlideProducer& producer, int32_t depth)
    : m_producer(&producer), m_depth(std::clamp(depth, 1, 3)) {}

TSlideCache::~TSlideCache() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_containers.clear();
}

bool TSlideCache::Step(double t) {
    const TVisibleSlides visible = m_producer->VisibleSlides(t);
    const int64_t first = visible.First;
    const int64_t last = first + m_depth - 1;
    m_lowestAsked = first;
    // Drops outside the window; the last container stays until a new one
    // is there, so that something is always ready to draw.
    for (size_t i = 0;;) {
        ql::TRef<TDrawContainer> dropped;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_containers.size() < 2 || i >= m_containers.size()) break;
            const int64_t k = m_containers[i]->Index();
            if (k >= first && k <= last) {
                ++i;
                continue;
            }
            dropped = m_containers[i];
            m_containers.erase(m_containers.begin() + std::ptrdiff_t(i));
        }
        if (m_onChanged) m_onChanged();
        // The engine may still hold the container; the slide goes with the
        // last holder, here or there.
        dropped = nullptr;
    }
    auto held = [this](int64_t index) {
        return std::any_of(m_containers.begin(), m_containers.end(),
                           [index](const auto& c) { return c->Index() == index; });
    };
    int64_t wanted = first;
    bool both = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        while (wanted <= last && held(wanted)) ++wanted;
        if (wanted > last) return false;
        // A time inside a transition shows two slides and its first frame
        // waits for both: when neither is there, both are built in this
        // step, so that their pictures decode side by side.
        both = m_onDecoding && wanted == first && visible.Last == first + 1 && first + 1 <= last &&
               !held(first + 1);
    }
    ql::TRef<TDrawContainer> made[2];
    made[0] = m_producer->MakeContainer(wanted);
    if (both) made[1] = m_producer->MakeContainer(wanted + 1);
    if (m_onDecoding) {
        auto decode = [this, &made](int32_t i) {
            try {
                m_onDecoding(made[i]);
            } catch (const std::exception& e) {
                ql::GlobalLog().WriteLine(
                    std::string_view(std::string("TSlideCache: decoding failed: ") + e.what()));
            }
        };
        if (both) {
            if (!m_decoders) m_decoders = std::make_unique<ql::TDrawThreadPool>(2);
            m_decoders->Run(2, decode);
        } else {
            decode(0);
        }
    }
    for (const ql::TRef<TDrawContainer>& container : made) {
        if (!container) continue;
        if (m_onCreated) m_onCreated(container);
        const int64_t index = container->Index();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto at = std::find_if(m_containers.begin(), m_containers.end(),
                                   [index](const auto& c) { return c->Index() > index; });
            m_containers.insert(at, container);
            // Never more than three: the one farthest from the window goes.
            while (m_containers.size() > 3) {
                const bool dropFront = m_containers.front()->Index() < first;
                m_containers.erase(dropFront ? m_containers.begin() : m_containers.end() - 1);
            }
        }
        if (m_onChanged) m_onChanged();
    }
    return true;
}

void TSlideCache::Clear() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_containers.empty()) return;
        m_containers.clear();
    }
    if (m_onChanged) m_onChanged();
}

std::vector<ql::TRef<TDrawContainer>> TSlideCache::Containers() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_containers;
}

ql::TRef<TDrawContainer> TSlideCache::Find(int64_t index) const {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto& c : m_containers)
        if (c->Index() == index) return c;
    return nullptr;
}

bool DrawSlides(TDeviceDrawer& drawer, TDrawContainer* first, TDrawContainer* second,
                const ql::TRect& slideRect, uint32_t hiderColour) {
    struct TSlidesScene : TDrawScene {
        TOrbSlide* outgoing = nullptr;
        TOrbSlide* incoming = nullptr;
        ql::TRect frame;
        uint32_t hider = 0;
        void Draw(TDeviceDrawer& d) override {
            if (incoming)
                d.DrawTransition(outgoing, incoming, false, &incoming->Filter());
            else
                outgoing->Draw(d);
            DrawHider(d, frame, hider);
        }
    } scene;
    scene.outgoing = first ? first->Slide() : nullptr;
    scene.incoming = second && second != first ? second->Slide() : nullptr;
    scene.frame = slideRect;
    scene.hider = hiderColour;
    if (!scene.incoming && !scene.outgoing) return false;
    return drawer.DrawScene(scene);
}

void DrawHider(TDeviceDrawer& drawer, const ql::TRect& slideRect, uint32_t colour) {
    if (slideRect.IsEmpty()) return;
    const ql::TRect screen = drawer.GetDeviceRect();
    const int32_t top = std::clamp(slideRect.top, screen.top, screen.bottom);
    const int32_t bottom = std::clamp(slideRect.bottom, top, screen.bottom);
    const int32_t left = std::clamp(slideRect.left, screen.left, screen.right);
    const int32_t right = std::clamp(slideRect.right, left, screen.right);
    // Bands above and below the frame span the screen; those beside it only
    // the frame's height, so that no pixel is painted twice.
    const ql::TRect bands[4] = {{screen.left, screen.top, screen.right, top},
                                {screen.left, bottom, screen.right, screen.bottom},
                                {screen.left, top, left, bottom},
                                {right, top, screen.right, bottom}};
    for (const ql::TRect& band : bands)
        if (!band.IsEmpty()) drawer.ClearRect(colour, band);
}

uint32_t HiderColour(const TBgrColor& colour) {
    return 0xFF000000u | uint32_t(colour.Red) << 16 | uint32_t(colour.Green) << 8 | colour.Blue;
}

}  // namespace orb
