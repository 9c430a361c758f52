#include "OrbLib2/NavPanel/qlVideoNavBar.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/NavPanel/qlNavPaint.h"
#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr int32_t kMaxSize = 4096;

int32_t Bounded(int32_t v) {
    return std::clamp(v, 0, kMaxSize);
}

int32_t Scaled(int32_t v, double s) {
    return int32_t(std::lround(std::clamp(v * s, 0.0, double(kMaxSize))));
}

// "w,h" as two sizes; missing values are 0.
ql::TPoint PairOf(const ql::TIniStorage& d, std::u16string_view section, std::u16string_view key) {
    const std::vector<int32_t> v = NavNumbers(d.ReadString(section, key, u""));
    return {Bounded(v.size() > 0 ? v[0] : 0), Bounded(v.size() > 1 ? v[1] : 0)};
}

}  // namespace

void TVideoNavBar::Load(const ql::TIniStorage& d, const std::u16string& folder,
                        TNavPictures& pictures) {
    if (folder.empty() || (folder.back() != u'\\' && folder.back() != u'/'))
        throw ENavBarError("Path delimiter nof found!");
    m_pictures = &pictures;
    m_folder = folder;
    const double scale = d.ReadReal(u"Common", u"DefaultScale", 10);
    (void)scale;  // the panel's own scale decides the height
    m_bgLeft = Bounded(d.ReadInteger(u"Common", u"BgLeft", 0));
    m_bgRight = Bounded(d.ReadInteger(u"Common", u"BgRight", 0));
    const std::u16string pp = u"Pixel positions";
    const ql::TPoint bar = PairOf(d, pp, u"BarSize"), btn = PairOf(d, pp, u"BtnSize"),
                     digit = PairOf(d, pp, u"DigitSize");
    m_barW = bar.x;
    m_barH = bar.y;
    m_btnW = btn.x;
    m_btnH = btn.y;
    m_digitW = digit.x;
    m_digitH = digit.y;
    m_trackH = Bounded(d.ReadInteger(pp, u"TrackHeight", 0));
    m_volLen = Bounded(d.ReadInteger(pp, u"VolumeControlLength", 0));
    m_leftSpace = Bounded(d.ReadInteger(pp, u"LeftSpace", 0));
    m_buttonsTrack = Bounded(d.ReadInteger(pp, u"ButtonsTrackSpace", 0));
    m_trackDigits = Bounded(d.ReadInteger(pp, u"TrackDigitsSpace", 0));
    m_digitsSound = Bounded(d.ReadInteger(pp, u"DigitsSoundBtnSpace", 0));
    m_soundTrack = Bounded(d.ReadInteger(pp, u"SoundBtnTrackSpace", 0));
    m_rightSpace = Bounded(d.ReadInteger(pp, u"RightSpace", 0));
    m_lineLeft = Bounded(d.ReadInteger(u"Trackbar", u"TrackLineLeft", 0));
    m_lineRight = Bounded(d.ReadInteger(u"Trackbar", u"TrackLineRight", 0));
    auto picture = [&](std::u16string_view section, std::u16string_view key) -> const ql::TBitmap* {
        const std::u16string name = d.ReadString(section, key, u"");
        return name.empty() ? nullptr : pictures.Get(folder + name);
    };
    m_back = picture(u"Common", u"flnm_back");
    m_line = picture(u"Trackbar", u"flnm_Line");
    m_knob = picture(u"Trackbar", u"flnm_Polzun");
    m_sheets = {picture(u"Buttons", u"flnm_Normal"), picture(u"Buttons", u"flnm_Hover"),
                picture(u"Buttons", u"flnm_Click")};
    if (!m_sheets[1]) m_sheets[1] = m_sheets[0];
    if (!m_sheets[2]) m_sheets[2] = m_sheets[1];
    m_width = m_barW;
    m_baseScale = 1;
    m_disabled = m_barH <= 0;
    if (!m_disabled) Fit();
}

void TVideoNavBar::SetChosenButtons(const std::vector<int32_t>& indices) {
    // Shown in the bar's order, each once, whatever order the show lists them in.
    m_extras.clear();
    for (int32_t k = 0; k < 2; ++k)
        if (std::find(indices.begin(), indices.end(), k) != indices.end()) m_extras.push_back(k);
    m_states.assign(2 + m_extras.size(), 0);
    if (m_barH > 0) Fit();
}

void TVideoNavBar::SetWidth(int32_t width) {
    m_width = std::clamp(width, 0, nav::kMaxBarSide);
    if (m_barH > 0) Fit();
}

void TVideoNavBar::SetScale(double scale) {
    m_baseScale = std::isfinite(scale) && scale > 0 ? std::clamp(scale, 1e-3, 64.0) : 1;
    if (m_barH > 0) Fit();
}

void TVideoNavBar::FitToHeight(int32_t height) {
    if (m_barH <= 0) return;
    SetScale(double(std::max(height, 1)) / m_barH);
}

void TVideoNavBar::Place() {
    const double s = m_scale;
    m_height = std::clamp(Scaled(m_barH, s), 1, nav::kMaxBarSide);
    m_th = Scaled(m_trackH, s);
    m_v = Scaled(m_volLen, s);
    m_bw = Scaled(m_btnW, s);
    m_bh = Scaled(m_btnH, s);
    m_dw = Scaled(m_digitW, s);
    m_dh = Scaled(m_digitH, s);
    m_kw = m_knob ? Scaled(m_knob->Width(), s) : 0;
    m_kh = m_knob ? Scaled(m_knob->Height(), s) : 0;
    m_t0 = m_bw * int32_t(m_extras.size() + 1) + m_leftSpace + m_buttonsTrack;
    m_volEnd = m_width - m_rightSpace;
    m_volStart = m_volEnd - m_v;
    m_soundX = m_volStart - m_soundTrack - m_bw;
    m_d1 = m_soundX - m_digitsSound;
    m_t1 = m_d1 - (m_long ? 18 : 12) * m_dw;
}

// Halves the scale until the track keeps 100 pixels beside its knob; the gaps
// do not shrink with it, so after a few halvings a bar that still does not fit
// never will, and is disabled.
void TVideoNavBar::Fit() {
    m_scale = m_baseScale;
    Place();
    m_disabled = m_t0 + m_kw >= m_t1;
    for (int32_t k = 0; !m_disabled && m_t0 + m_kw + 100 >= m_t1; ++k) {
        if (k == kMaxHalvings) {
            // Reported at the scale that was asked for.
            m_disabled = true;
            m_scale = m_baseScale;
            Place();
            break;
        }
        m_scale /= 2;
        Place();
    }
    m_background.reset();
    m_shownKnob = m_shownSecond = -1;
}

std::vector<int32_t> TVideoNavBar::ExtraX() const {
    std::vector<int32_t> xs;
    for (size_t k = 0; k < m_extras.size(); ++k) xs.push_back(m_leftSpace + int32_t(k + 1) * m_bw);
    return xs;
}

double TVideoNavBar::WrappedTime() const {
    if (!(m_duration > 0) || !std::isfinite(m_duration) || !(m_time >= 0) || !std::isfinite(m_time))
        return 0;
    const double t = std::fmod(m_time, m_duration);
    return t >= 0 && t < m_duration ? t : 0;
}

int32_t TVideoNavBar::TimeKnobX() const {
    const int32_t start = m_t0 + m_kw / 2;
    if (!(m_duration > 0) || !std::isfinite(m_duration) || !(m_time >= 0) || !std::isfinite(m_time))
        return start;
    return start + int32_t(std::lround(double(m_t1 - m_kw - m_t0) * WrappedTime() / m_duration));
}

int32_t TVideoNavBar::VolumeKnobX() const {
    const int32_t start = m_volStart + m_kw / 2;
    if (!(m_volume >= 0 && m_volume <= 1)) return start;
    return start + int32_t(std::lround(double(m_volEnd - m_kw - m_volStart) * m_volume));
}

namespace {

// Seconds as "hh:" (long format), "mm:ss"; negative, unknown and huge times are bounded.
std::u16string Clock(double seconds, bool hours) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
    // Past what two-digit fields hold the text stays at its largest value.
    const int64_t s = int64_t(std::min(seconds, hours ? 359999.0 : 5999.0));
    auto two = [](int64_t v) {
        v %= 100;
        return std::u16string{char16_t(u'0' + v / 10), char16_t(u'0' + v % 10)};
    };
    std::u16string text;
    if (hours) text = two(s / 3600) + u":";
    return text + two(hours ? s / 60 % 60 : s / 60) + u":" + two(s % 60);
}

}  // namespace

std::u16string TVideoNavBar::TimeText() const {
    const double total =
        m_duration > 0 && std::isfinite(m_duration) ? std::round(m_duration / 1000) : 0;
    return Clock(std::floor(WrappedTime() / 1000), m_long) + u" / " + Clock(total, m_long);
}

int32_t TVideoNavBar::DisplayedSecond() const {
    return int32_t(std::min(WrappedTime() / 1000, 2e9));
}

void TVideoNavBar::Reset() {
    if (m_disabled) return;
    m_duration = m_hooks.Duration ? m_hooks.Duration() : -1;
    if (!std::isfinite(m_duration)) m_duration = -1;
    m_long = m_duration >= kLongFormatMs;
    Place();
    m_shownKnob = m_shownSecond = -1;
    m_paused = !IsPlaying();
    Redraw(rdAll);
}

void TVideoNavBar::SetTime(double ms) {
    if (m_disabled || m_timeDrag) return;
    const bool paused = !IsPlaying();
    m_time = std::isfinite(ms) ? ms : -1;
    uint32_t parts = 0;
    if (TimeKnobX() != m_shownKnob || DisplayedSecond() != m_shownSecond) parts |= rdTime;
    if (paused != m_paused) parts |= rdPlay;
    m_paused = paused;
    if (parts) Redraw(parts);
}

void TVideoNavBar::SetVolume(double volume) {
    if (m_disabled || m_volumeDrag) return;
    if (!std::isfinite(volume)) return;
    volume = std::clamp(volume, 0.0, 1.0);
    uint32_t parts = 0;
    if ((volume == 0) != (m_volume == 0)) parts |= rdSound;
    const int32_t before = VolumeKnobX();
    m_volume = volume;
    if (VolumeKnobX() != before) parts |= rdVolume;
    if (parts) Redraw(parts);
}

void TVideoNavBar::MakeTimePictures() {
    if (m_timePicturesHeight == m_dh) return;
    m_timePicturesHeight = m_dh;
    static const char16_t* const kChars[12] = {u"0", u"1", u"2", u"3", u"4", u"5",
                                               u"6", u"7", u"8", u"9", u":", u" / "};
    for (int32_t k = 0; k < 12; ++k) {
        m_timePictures[size_t(k)].reset();
        if (m_dh <= 0) continue;
        try {
            ql::TTextProducer producer;
            producer.SetText(std::make_unique<ql::TSimpleVectorText>(
                std::vector<std::u16string>{kChars[k]}, kPlaceholderFont, float(m_dh)));
            std::unique_ptr<ql::TBitmap> glyph =
                producer.Render(0xFFFFFFFF, 0x00FFFFFF, {0, 0}, false, false, 1);
            if (!glyph || glyph->Height() <= 0) continue;
            // Brought to the digit height; the width follows.
            const int32_t w =
                std::max(1, int32_t(std::lround(double(glyph->Width()) * m_dh / glyph->Height())));
            auto picture = nav::NewBarBitmap(w, m_dh);
            nav::DrawStretched(*picture, picture->Bounds(), *glyph, glyph->Bounds());
            m_timePictures[size_t(k)] = std::move(picture);
        } catch (const ql::Exception& e) {
            ql::GlobalLog().WriteLine("Video bar time pictures: " + e.Message());
        }
    }
}

void TVideoNavBar::DrawBackground() {
    m_background = nav::NewBarBitmap(std::max(m_width, 1), m_height);
    if (m_back)
        nav::DrawThreeSlice(*m_background, m_background->Bounds(), *m_back, m_back->Bounds(),
                            m_bgLeft, m_bgRight);
}

void TVideoNavBar::DrawButton(int32_t cell, int32_t state, int32_t x) {
    const ql::TBitmap* sheet = m_sheets[size_t(std::clamp(state, 0, 2))];
    if (!sheet || m_bw <= 0 || m_bh <= 0) return;
    // Six cells side by side, each a sixth of the sheet.
    const int32_t cw = sheet->Width() / 6;
    const ql::TRect src = {cw * cell, 0, cw * (cell + 1), sheet->Height()};
    const int32_t top = (m_height - m_bh) / 2;
    nav::DrawStretched(*m_picture, {x, top, x + m_bw, top + m_bh}, *sheet, src);
}

void TVideoNavBar::DrawTrack(int32_t start, int32_t end, int32_t knobX) {
    const int32_t top = (m_height - m_th) / 2;
    if (m_line && end > start)
        nav::DrawThreeSlice(*m_picture, {start, top, end, top + m_th}, *m_line, m_line->Bounds(),
                            m_lineLeft, m_lineRight);
    if (m_knob && m_kw > 0 && m_kh > 0) {
        const int32_t kt = (m_height - m_kh) / 2, kl = knobX - m_kw / 2;
        nav::DrawStretched(*m_picture, {kl, kt, kl + m_kw, kt + m_kh}, *m_knob, m_knob->Bounds());
    }
}

void TVideoNavBar::DrawTimeText() {
    MakeTimePictures();
    const std::u16string text = TimeText();
    std::vector<const ql::TBitmap*> pictures;
    int32_t width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        int32_t k = -1;
        if (text[i] >= u'0' && text[i] <= u'9') {
            k = text[i] - u'0';
        } else if (text[i] == u':') {
            k = 10;
        } else if (text.compare(i, 3, u" / ") == 0) {
            k = 11;
            i += 2;
        }
        const ql::TBitmap* p = k >= 0 ? m_timePictures[size_t(k)].get() : nullptr;
        if (!p) continue;
        pictures.push_back(p);
        width += p->Width();
    }
    const int32_t left = m_t1 + m_trackDigits, right = m_d1;
    int32_t x = left + (right - left - width) / 2;
    const int32_t top = (m_height - m_dh) / 2;
    for (const ql::TBitmap* p : pictures) {
        nav::DrawStretched(*m_picture, {x, top, x + p->Width(), top + p->Height()}, *p,
                           p->Bounds());
        x += p->Width();
    }
}

void TVideoNavBar::Redraw(uint32_t parts) {
    if (m_disabled || m_width <= 0) return;
    if (!m_background || !m_picture || m_picture->Width() != m_width ||
        m_picture->Height() != m_height) {
        DrawBackground();
        m_picture = nav::NewBarBitmap(m_width, m_height);
        m_picture->CopyRect(m_background->Bounds(), *m_background, {0, 0});
        parts = rdAll;
    }
    auto restore = [&](int32_t left, int32_t right) {
        const ql::TRect r = ql::IntersectRect({left, 0, right, m_height}, m_picture->Bounds());
        if (r.IsEmpty()) return;
        m_picture->CopyRect(r, *m_background, {r.left, r.top});
    };
    const bool playing = m_timeDrag ? !m_savedPaused : !m_paused;
    if (parts & rdPlay) {
        restore(m_leftSpace, m_leftSpace + m_bw);
        DrawButton(playing ? 1 : 0, m_states[0], m_leftSpace);
    }
    if (parts & rdExtra) {
        const std::vector<int32_t> xs = ExtraX();
        restore(m_leftSpace + m_bw, m_leftSpace + m_bw * int32_t(m_extras.size() + 1));
        for (size_t k = 0; k < m_extras.size(); ++k)
            DrawButton(4 + m_extras[k], m_states[2 + k], xs[k]);
    }
    if (parts & rdTime) {
        // The knob may stand half out of the track.
        restore(m_t0 - m_kw, m_d1);
        m_shownKnob = TimeKnobX();
        m_shownSecond = DisplayedSecond();
        DrawTrack(m_t0, m_t1, m_shownKnob);
        DrawTimeText();
    }
    if (parts & rdSound) {
        restore(m_soundX, m_soundX + m_bw);
        DrawButton(m_volume == 0 ? 3 : 2, m_states[1], m_soundX);
    }
    if (parts & rdVolume) {
        restore(m_volStart - m_kw / 2, m_volEnd + m_kw / 2 + 1);
        DrawTrack(m_volStart, m_volEnd, VolumeKnobX());
    }
    PictureDone();
}

int32_t TVideoNavBar::ControlAt(int32_t x, int32_t y) const {
    const int32_t top = (m_height - m_bh) / 2;
    if (y < top || y >= top + m_bh) return -1;
    auto in = [&](int32_t left) { return x >= left && x < left + m_bw; };
    if (in(m_leftSpace)) return 0;
    if (in(m_soundX)) return 1;
    const std::vector<int32_t> xs = ExtraX();
    for (size_t k = 0; k < xs.size(); ++k)
        if (in(xs[k])) return int32_t(2 + k);
    return -1;
}

void TVideoNavBar::SetHover(int32_t control) {
    uint32_t parts = 0;
    for (size_t i = 0; i < m_states.size(); ++i) {
        const uint8_t want = int32_t(i) == control ? 1 : 0;
        if (m_states[i] == want) continue;
        m_states[i] = want;
        parts |= i == 0 ? rdPlay : i == 1 ? rdSound : rdExtra;
    }
    if (parts) Redraw(parts);
}

void TVideoNavBar::DragTime(int32_t x) {
    if (std::abs(m_dragOffset) <= m_kw / 2) x -= m_dragOffset;
    x = std::clamp(x, m_t0 + m_kw / 2, std::max(m_t0 + m_kw / 2, m_t1 - m_kw / 2));
    const int32_t span = m_t1 - m_t0 - m_kw;
    const double duration = m_duration > 0 ? m_duration : 0;
    const double t = span > 0 ? duration * double(x - m_t0 - m_kw / 2) / span : 0;
    m_time = t;
    if (m_hooks.Seek) m_hooks.Seek(t);
    Redraw(rdTime);
}

void TVideoNavBar::DragVolume(int32_t x) {
    if (std::abs(m_dragOffset) <= m_kw / 2) x -= m_dragOffset;
    x = std::clamp(x, m_volStart + m_kw / 2, std::max(m_volStart + m_kw / 2, m_volEnd - m_kw / 2));
    const int32_t span = m_volEnd - m_volStart - m_kw;
    const double v = span > 0 ? std::clamp(double(x - m_volStart - m_kw / 2) / span, 0.0, 1.0) : 0;
    const bool crossed = (v == 0) != (m_volume == 0);
    m_volume = v;
    if (m_hooks.VolumeChanged) m_hooks.VolumeChanged(v);
    Redraw(rdVolume | (crossed ? uint32_t(rdSound) : 0u));
}

void TVideoNavBar::Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) {
    if (m_disabled || (!left && kind != TNavMouseKind::Move)) return;
    // The track takes presses over its knob too, which is usually taller.
    const int32_t band = std::max(m_th, m_kh), bandTop = (m_height - band) / 2;
    const bool inTrackBand = y >= bandTop && y < bandTop + band;
    switch (kind) {
        case TNavMouseKind::Press: {
            if (inTrackBand && x >= m_t0 && x < m_t1) {
                m_timeDrag = true;
                m_dragOffset = x - TimeKnobX();
                m_savedPaused = m_paused;
                m_paused = true;
                if (!m_savedPaused && m_hooks.ButtonPressed) m_hooks.ButtonPressed(-1);
                return;
            }
            if (inTrackBand && x >= m_volStart && x < m_volEnd) {
                m_volumeDrag = true;
                m_dragOffset = x - VolumeKnobX();
                return;
            }
            const int32_t control = ControlAt(x, y);
            if (control < 0) return;
            m_states[size_t(control)] = 2;
            if (control == 0) {
                m_paused = !m_paused;
                Redraw(rdPlay);
                if (m_hooks.ButtonPressed) m_hooks.ButtonPressed(-1);
            } else if (control == 1) {
                if (m_volume != 0) {
                    m_mutedVolume = m_volume > 0 ? m_volume : 1;
                    m_volume = 0;
                } else {
                    m_volume = m_mutedVolume;
                }
                Redraw(rdSound | rdVolume);
                if (m_hooks.VolumeChanged) m_hooks.VolumeChanged(m_volume);
            } else {
                Redraw(rdExtra);
                if (m_hooks.ButtonPressed) m_hooks.ButtonPressed(m_extras[size_t(control - 2)]);
            }
            return;
        }
        case TNavMouseKind::Move:
            if (std::find(m_states.begin(), m_states.end(), 2) != m_states.end()) return;
            if (m_timeDrag)
                DragTime(x);
            else if (m_volumeDrag)
                DragVolume(x);
            else
                SetHover(ControlAt(x, y));
            return;
        case TNavMouseKind::Release: {
            if (m_timeDrag) {
                DragTime(x);
                m_timeDrag = false;
                m_paused = m_savedPaused;
                if (!m_savedPaused && m_hooks.ButtonPressed) m_hooks.ButtonPressed(-1);
                Redraw(rdPlay);
            } else if (m_volumeDrag) {
                DragVolume(x);
                m_volumeDrag = false;
            }
            for (uint8_t& s : m_states) s = s == 2 ? 0 : s;
            SetHover(ControlAt(x, y));
            Redraw(rdAll & ~rdTime);
            return;
        }
        case TNavMouseKind::DoubleClick:
            return;
    }
}

}  // namespace orb
