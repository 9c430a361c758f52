// The root of a slide's object tree: its place on the show clock, its
// background, its transition filter and the mouse on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/OrbSlideEffect.h"
#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"

namespace orb {

class TOrbSlide;

// Draws a slide's background; the slide calls it first in Draw.
class TSlideBackgroundPainter {
public:
    virtual ~TSlideBackgroundPainter() = default;
    // Uploads what Draw needs, ahead of drawing (the slide's Prepare).
    virtual void Prepare(TDeviceDrawer& drawer, const TOrbSlide& slide) {}
    virtual void Draw(TDeviceDrawer& drawer, const TOrbSlide& slide) = 0;
};

enum TBackgroundKind : uint8_t {
    bkSolid = 0,
    bkHorizontalGradient = 1,
    bkVerticalGradient = 2,
    bkPicture = 3,
};

struct TSlideBackground {
    uint8_t Kind = bkSolid;
    uint8_t Colour1[3] = {0, 0, 0};  // red, green, blue
    uint8_t Colour2[3] = {0, 0, 0};
    float SizePercent = 100;
    std::u16string PictureName;
};

// Mouse events as the engine hands them to a slide.
enum TSlideMouseEvent : uint8_t { smMove = 0, smPress = 1, smRelease = 2 };
// Buttons and held-button states: 0 none, 1 left.
constexpr int kMouseNoButton = 0;
constexpr int kMouseLeftButton = 1;
// Any held buttons but the left one alone (a right-button drag).
constexpr int kMouseOtherButtons = 2;

class TOrbSlide : public TOrbObject, public TDrawScene {
public:
    // The host is shared by the show's slides and must outlive the slide; it
    // may be nullptr (tests, tools), then the slide's own camera is used.
    TOrbSlide(TOrbSlideHost* host, int32_t cycle);
    ~TOrbSlide() override;

    // --- timing (set by the producer)
    int32_t Index() const { return m_index; }
    void SetIndex(int32_t index) { m_index = index; }
    int32_t Cycle() const { return m_cycle; }
    double BeginTime() const { return m_beginTime; }
    double EndTime() const { return m_endTime; }
    double EffectTime() const { return m_effectTime; }
    double NextEffectTime() const { return m_nextEffectTime; }
    // Bad numbers (NaN, infinities, negative durations) are replaced by 0 or
    // the begin time.
    void SetTimes(double beginTime, double endTime, double effectTime, double nextEffectTime);
    // The time since BeginTime as of the last SetTime.
    double LocalTime() const { return m_localTime; }
    double AnchorTime(int anchor) const override;
    // Percent; 100 for a slide.
    virtual float SlideOpacity() const { return 100; }

    // --- placement
    TPointF ScreenCentre() const { return m_screenCentre; }
    void SetScreenCentre(TPointF centre) { m_screenCentre = centre; }
    // Used without a host.
    void SetOwnCamera(const TCamera3D& camera) { m_ownCamera = camera; }
    TCamera3D CameraPosition() const;
    // -cz x 0.5 / slide height for a camera in front of the slide, else 0.5.
    float SlideDepthFactor() const { return m_depthFactor; }
    // Runs the pre-scan first when something was loaded or a key point moved.
    bool UpdatePlacement(bool recursive) override;
    // A view port of the slide draws masked content as of the last
    // placement: set by the view ports while the slide is placed.
    bool MaskedContent() const { return m_maskedContent; }
    void NoteMaskedContent() { m_maskedContent = true; }
    TPointF ParentSize() const override;
    const TObjectFrame* ParentFrame() const override { return nullptr; }
    float EffectiveOpacity() const override;
    TOrbSlideHost* Host() const override { return m_host; }
    TOrbSlide* Slide() const override { return const_cast<TOrbSlide*>(this); }
    // The slide's blocks: objects and slide-level key points.
    void LoadChildren(const ql::TIniIdentList& section) override;
    // A slide section: its name and its blocks; the keys common to objects
    // are not a slide's.
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    void SetTime(bool recursive, double t) override;

    // The required display sizes of every object: sets the slide to each key
    // point's time and takes the largest projected sizes. Runs on its own at
    // the start of UpdatePlacement when needed; false when cancelled.
    bool PreScan();
    bool PreScanPending() const { return m_scanPending; }
    void RequestPreScan() { m_scanPending = true; }

    // --- mouse
    // The action that the event gives, and the object found (or nullptr).
    TOrbActionInfo MouseEvent(TSlideMouseEvent event, int button, int heldButtons, float x, float y,
                              bool actionsEnabled, TOrbObject** found = nullptr);

    // --- transition and background
    TOrbFilter& Filter() { return m_filter; }
    const TOrbFilter& Filter() const { return m_filter; }
    TSlideBackground& Background() { return m_background; }
    const TSlideBackground& Background() const { return m_background; }
    void SetBackgroundPainter(std::unique_ptr<TSlideBackgroundPainter> painter) {
        m_painter = std::move(painter);
    }
    TSlideBackgroundPainter* BackgroundPainter() const { return m_painter.get(); }

    // --- drawing: the background, then the objects in order.
    void Prepare(TDeviceDrawer& drawer) override;
    void Draw(TDeviceDrawer& drawer) override;

    // Objects loaded into the slide since its last LoadChildren; false (and a
    // log line) once the limit is reached.
    bool CountObject();

protected:
    TPointF RootOrigin() const override { return m_screenCentre; }

private:
    int32_t m_objectCount = 0;
    bool m_maskedContent = false;
    bool m_countLogged = false;

    TOrbSlideHost* m_host;
    int32_t m_index = 0;
    int32_t m_cycle = 0;
    double m_beginTime = 0;
    double m_endTime = 0;
    double m_effectTime = 0;
    double m_nextEffectTime = 0;
    double m_localTime = 0;
    double m_lastTime = 0;
    TPointF m_screenCentre{0, 0};
    TCamera3D m_ownCamera;
    float m_depthFactor = 0.5f;
    bool m_scanning = false;
    bool m_scanPending = true;
    TOrbFilter m_filter;
    TSlideBackground m_background;
    std::unique_ptr<TSlideBackgroundPainter> m_painter;
};

// A slide shown as a dialog over the show.
class TOrbDialog : public TOrbSlide {
public:
    using TOrbSlide::TOrbSlide;

    const std::u16string& DialogName() const { return m_dialogName; }
    void SetDialogName(std::u16string name) { m_dialogName = std::move(name); }
    // Percent, 0 .. 100; the overlay fades it in and out.
    float Opacity() const { return m_opacity; }
    void SetOpacity(float percent);
    float SlideOpacity() const override { return m_opacity; }
    bool DialogPause() const { return m_dialogPause; }
    void SetDialogPause(bool on) { m_dialogPause = on; }

private:
    std::u16string m_dialogName;
    float m_opacity = 0;
    bool m_dialogPause = false;
};

}  // namespace orb
