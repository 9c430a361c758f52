// The media-player style bar: play/pause, the extra buttons, a time track
// with its knob, the elapsed and total time in digits, a sound button and a
// volume track, laid out at any width and scale.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "OrbLib2/NavPanel/qlNavBar.h"

namespace orb {

class TVideoNavBar : public TCustomNavBar {
public:
    // Redraw requests.
    enum TRedraw : uint32_t {
        rdPlay = 1,
        rdExtra = 2,
        rdTime = 4,
        rdSound = 8,
        rdVolume = 16,
        rdAll = 31
    };
    // One hour: from here on the time text shows hours.
    static constexpr double kLongFormatMs = 3.6e6;
    // Halvings of the scale that fitting tries before it gives up.
    static constexpr int32_t kMaxHalvings = 16;

    bool VideoStyle() const override { return true; }
    void Load(const ql::TIniStorage& definition, const std::u16string& folder,
              TNavPictures& pictures) override;
    std::vector<std::u16string> KnownButtons() const override { return {u"backward", u"forward"}; }
    void SetChosenButtons(const std::vector<int32_t>& indices) override;
    void SetWidth(int32_t width) override;
    void SetScale(double scale) override;
    void FitToHeight(int32_t height) override;
    void Layout() override { Redraw(rdAll); }
    void Reset() override;
    void SetTime(double ms) override;
    void SetVolume(double volume) override;
    void Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) override;

    // The layout, in bar pixels.
    int32_t T0() const { return m_t0; }
    int32_t T1() const { return m_t1; }
    int32_t D1() const { return m_d1; }
    int32_t PlayX() const { return m_leftSpace; }
    std::vector<int32_t> ExtraX() const;
    int32_t SoundX() const { return m_soundX; }
    int32_t VolumeStart() const { return m_volStart; }
    int32_t VolumeEnd() const { return m_volEnd; }
    int32_t TimeKnobX() const;
    int32_t VolumeKnobX() const;
    bool LongFormat() const { return m_long; }
    bool Paused() const { return m_paused; }
    double Volume() const { return m_volume; }
    double Time() const { return m_time; }
    const std::vector<int32_t>& Extras() const { return m_extras; }
    uint8_t State(size_t control) const {
        return control < m_states.size() ? m_states[control] : 0;
    }
    // "mm:ss / mm:ss", or "hh:mm:ss / hh:mm:ss" in the long format.
    std::u16string TimeText() const;
    // The time brought into [0, duration); 0 when either is unusable.
    double WrappedTime() const;

private:
    void Fit();
    void Place();
    void Redraw(uint32_t parts);
    void DrawBackground();
    void DrawButton(int32_t cell, int32_t state, int32_t x);
    void DrawTrack(int32_t start, int32_t end, int32_t knobX);
    void DrawTimeText();
    void MakeTimePictures();
    int32_t ControlAt(int32_t x, int32_t y) const;  // -1 none; 0 play, 1 sound, 2 + k extra
    void SetHover(int32_t control);
    void DragTime(int32_t x);
    void DragVolume(int32_t x);
    int32_t DisplayedSecond() const;

    double m_baseScale = 1;  // as set or fitted; halvings start from it
    TNavPictures* m_pictures = nullptr;
    std::u16string m_folder;
    const ql::TBitmap *m_back = nullptr, *m_line = nullptr, *m_knob = nullptr;
    std::array<const ql::TBitmap*, 3> m_sheets = {nullptr, nullptr, nullptr};
    // The definition, unscaled.
    int32_t m_barW = 0, m_barH = 0, m_btnW = 0, m_btnH = 0, m_digitW = 0, m_digitH = 0;
    int32_t m_trackH = 0, m_volLen = 0;
    int32_t m_leftSpace = 0, m_buttonsTrack = 0, m_trackDigits = 0, m_digitsSound = 0,
            m_soundTrack = 0;
    int32_t m_rightSpace = 0, m_bgLeft = 0, m_bgRight = 0, m_lineLeft = 0, m_lineRight = 0;
    // Scaled.
    int32_t m_bw = 0, m_bh = 0, m_dw = 0, m_dh = 0, m_kw = 0, m_kh = 0, m_th = 0, m_v = 0;
    int32_t m_t0 = 0, m_t1 = 0, m_d1 = 0, m_soundX = 0, m_volStart = 0, m_volEnd = 0;

    std::vector<int32_t> m_extras;  // indices into KnownButtons
    std::vector<uint8_t> m_states = {0, 0};
    double m_time = -1, m_duration = -1;
    bool m_long = false, m_paused = false;
    double m_volume = -1, m_mutedVolume = 1;
    bool m_timeDrag = false, m_volumeDrag = false, m_savedPaused = false;
    int32_t m_dragOffset = 0;
    int32_t m_shownKnob = -1, m_shownSecond = -1;
    std::unique_ptr<ql::TBitmap> m_background;  // W x H, the parts redraw their piece from it
    std::array<std::unique_ptr<ql::TBitmap>, 12> m_timePictures;
    int32_t m_timePicturesHeight = -1;
};

}  // namespace orb
