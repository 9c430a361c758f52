// The navigation panel: reads the bar definition file, makes the bar of the
// style it asks for, places the bar's picture in the viewport and turns
// clicks on it into actions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/NavPanel/qlNavBar.h"
#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"

namespace orb {

// A click the panel took without a button under it: it must not reach the
// slides underneath.
constexpr uint8_t acNavConsumed = 20;

// The nine placement codes (0 "Left-Top" .. 7 "Left", 8 "Center"); anchors in
// percent from -100 (left or top) to +100 (right or bottom).
struct TNavAnchors {
    int32_t AreaX = 0, AreaY = 0, ObjectX = 0, ObjectY = 0;
};
TNavAnchors NavAnchors(int32_t code, int32_t inset);
// The code of a position name (any case); 8, the centre, for unknown names.
int32_t NavPlacementCode(std::u16string_view name);
// An object of w x h placed in area by the anchors.
ql::TRect NavPlace(const TNavAnchors& anchors, const ql::TRect& area, int32_t w, int32_t h);

// The screen height the bars' own pixel sizes are drawn for: a bar scales by
// the viewport height divided by this unless the show asks for a height.
constexpr int32_t kNavReferenceHeight = 768;

struct TNavPanelOptions {
    std::u16string DefinitionFile;  // the bar definition's name in the show
    bool ShowBackground = false;
    int32_t Hue = 0;
    double ViewScale = 10;  // panel height in percent of the viewport height
    bool UseVideoScale = false;
    int32_t Offset = 0;  // inset in percent
    std::u16string Position = u"Center";
    std::vector<std::u16string> Buttons;  // the show's choice, in order
};

class TNavPanel : public ql::TObj {
public:
    struct THooks {
        std::function<bool()> IsPlaying;
        std::function<void(double ms)> Seek;
        std::function<void(double volume)> VolumeChanged;
        std::function<void()> PictureChanged;
    };

    TNavPanel(TNavPanelOptions options, const ql::TRect& viewport, TNavOpenFile open,
              THooks hooks = {});

    // Opens and reads the definition file and lays the bar out. false (and
    // one log line with the reason) when there is no usable bar: the show then
    // runs without a panel.
    bool Load(double durationMs);
    const std::u16string& LoadError() const { return m_error; }

    bool HasBar() const { return m_bar && !m_bar->Disabled(); }
    TCustomNavBar* Bar() const { return m_bar.get(); }
    const TNavPanelOptions& Options() const { return m_options; }
    // Where the bar's picture stands, and the part of it that takes clicks.
    ql::TRect Rect() const { return m_rect; }
    ql::TRect Clickable() const { return m_clickable; }
    bool MouseOver() const { return m_over; }
    bool Pressed() const { return m_pressed; }
    const TOrbActionInfo& Action() const { return m_action; }

    // Places the picture again (after the bar changed size).
    void Place();
    void SetTime(double ms);
    void SetVolume(double volume);
    // Returns the action the event made: none, a button's action, or
    // acNavConsumed for a click on the panel's background.
    TOrbActionInfo Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left);
    // The action of a bar's button index (-1 the video bar's play/pause button).
    TOrbActionInfo ActionOfButton(int32_t index) const;
    bool Contains(int32_t x, int32_t y) const;

private:
    TNavPanelOptions m_options;
    ql::TRect m_viewport;
    TNavOpenFile m_open;
    THooks m_hooks;
    std::unique_ptr<TNavPictures> m_pictures;
    std::unique_ptr<TCustomNavBar> m_bar;
    TNavAnchors m_anchors;
    ql::TRect m_rect, m_clickable;
    bool m_over = false, m_pressed = false;
    TOrbActionInfo m_action;
    double m_duration = -1;
    std::u16string m_error;
};

}  // namespace orb
