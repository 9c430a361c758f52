#include "OrbLib2/NavPanel/qlNavBar.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/NavPanel/qlNavPaint.h"
#include "OrbLib2/qlHslShift.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// A key that is absent reads as this text, so that absent and empty differ.
constexpr char16_t kAbsent[] = u"\x01";

constexpr std::array<const char16_t*, 4> kStateNames = {u"Normal", u"Hover", u"Pressed",
                                                        u"Disabled"};

constexpr std::array<const char16_t*, 7> kKnownButtons = {
    u"backward", u"exit", u"forward", u"help", u"home", u"pause", u"print"};

// Any number a definition gives is brought into this range, so that sums of
// a few of them never overflow and never ask for more than a bar's side.
int32_t BoundValue(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, -nav::kMaxBarSide, nav::kMaxBarSide));
}

std::u16string Str(const ql::TIniStorage& d, std::u16string_view section, std::u16string_view key) {
    return d.ReadString(section, key, kAbsent);
}

}  // namespace

const ql::TBitmap* TNavPictures::Get(const std::u16string& name) {
    if (auto it = m_bitmaps.find(name); it != m_bitmaps.end()) return it->second;
    const ql::TBitmap* bitmap = nullptr;
    try {
        if (std::unique_ptr<ql::TStream> stream = m_open ? m_open(name) : nullptr) {
            ql::TLoadResult loaded = ql::LoadImageFromStream(std::move(stream), name);
            if (loaded.Image) {
                m_stores[name] = loaded.Image.Store();
                bitmap = loaded.Image.Store()->GetBitmap(0, ql::PfARGB32());
            }
        }
    } catch (const ql::Exception& e) {
        ql::GlobalLog().WriteLine("Navigation bar picture " + ql::ToUtf8(name) + ": " +
                                  e.Message());
        bitmap = nullptr;
    }
    if (!bitmap) ql::GlobalLog().WriteLine("Navigation bar picture missing: " + ql::ToUtf8(name));
    m_bitmaps[name] = bitmap;
    return bitmap;
}

std::vector<std::u16string> SplitNavValues(std::u16string_view text) {
    std::vector<std::u16string> values;
    std::u16string current;
    bool quoted = false;
    for (char16_t c : text) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == u',' && !quoted) {
            values.push_back(ql::TrimBlanks(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!values.empty() || !ql::TrimBlanks(current).empty())
        values.push_back(ql::TrimBlanks(current));
    return values;
}

std::vector<int32_t> NavNumbers(std::u16string_view text) {
    std::vector<int32_t> numbers;
    for (const std::u16string& v : SplitNavValues(text)) {
        if (numbers.size() >= 16) break;
        const std::optional<double> f = ql::TryStrToFloat(v);
        numbers.push_back(
            f && std::isfinite(*f) ? BoundValue(std::llround(std::clamp(*f, -1e9, 1e9))) : 0);
    }
    return numbers;
}

ql::TRect NavBoundsRect(const std::vector<int32_t>& v) {
    if (v.size() < 4) return {};
    const int32_t w = std::max(v[2], 0), h = std::max(v[3], 0);
    return {v[0], v[1], v[0] + w, v[1] + h};
}

TNavButtonKind NavButtonKind(std::u16string_view text) {
    static constexpr std::array<const char16_t*, 7> names = {
        u"home", u"backward", u"forward", u"pause", u"print", u"help", u"exit"};
    for (size_t i = 0; i < names.size(); ++i)
        if (ql::SameTextIgnoringCase(text, names[i])) return TNavButtonKind(i + 1);
    return nbkOther;
}

bool IsKnownNavButton(std::u16string_view name) {
    for (const char16_t* known : kKnownButtons)
        if (ql::SameTextIgnoringCase(name, known)) return true;
    return false;
}

void TNavBar::Load(const ql::TIniStorage& d, const std::u16string& folder, TNavPictures& pictures) {
    m_pictures = &pictures;
    m_folder = folder;
    m_recommendedScale = d.ReadReal(u"Common", u"RecommendedScale", 8);
    if (!std::isfinite(m_recommendedScale) || m_recommendedScale <= 0) m_recommendedScale = 8;
    m_cols = std::clamp(d.ReadInteger(u"Common", u"ColsCount", 1), 1, kMaxGrid);
    m_rows = std::clamp(d.ReadInteger(u"Common", u"RowsCount", 1), 1, kMaxGrid);

    const std::vector<int32_t> cell = NavNumbers(d.ReadString(u"CellWithObjects", u"Cell", u""));
    if (cell.size() != 2) throw ENavBarError("Incorrect number of parameters in field \"Cell\"");
    m_objCol = std::clamp(cell[0], 1, m_cols) - 1;
    m_objRow = std::clamp(cell[1], 1, m_rows) - 1;
    auto offset = [&](const char16_t* key) {
        return std::clamp(d.ReadInteger(u"CellWithObjects", key, 0), 0, nav::kMaxBarSide);
    };
    m_offLeft = offset(u"LeftOffset");
    m_offTop = offset(u"TopOffset");
    m_offRight = offset(u"RightOffset");
    m_offBottom = offset(u"BottomOffset");

    m_cells.assign(size_t(m_cols) * size_t(m_rows), {});
    for (int32_t r = 0; r < m_rows; ++r)
        for (int32_t c = 0; c < m_cols; ++c) {
            const std::u16string section =
                u"Cell(" + ql::IntToStr(c + 1) + u":" + ql::IntToStr(r + 1) + u")";
            TCell& target = Cell(c, r);
            target.Repeat =
                ql::SameTextIgnoringCase(d.ReadString(section, u"TextureType", u""), u"repeat");
            const std::u16string bounds = Str(d, section, u"Bounds");
            if (bounds != kAbsent) {
                const std::vector<int32_t> v = NavNumbers(bounds);
                if (v.size() != 4)
                    throw ENavBarError("Incorrect number of parameters in field \"Bounds\" in [" +
                                       ql::ToUtf8(section) + "]");
                target.Texture.Bounds = NavBoundsRect(v);
            }
            target.Texture.File = d.ReadString(section, u"flnm_Texture", u"");
        }

    const int32_t count = std::clamp(d.ReadInteger(u"Objects", u"Count", 0), 0, kMaxButtons);
    m_objectDefs.assign(size_t(count), {});
    for (int32_t k = 0; k < count; ++k) {
        const std::u16string section = u"Object" + ql::IntToStr(k + 1);
        TSlot& o = m_objectDefs[size_t(k)];
        o.ShiftPressed = std::clamp(d.ReadInteger(section, u"ShiftPressed", 0), -64, 64);
        o.GrayNormal = d.ReadBool(section, u"GrayNormal", false);
        o.GrayDisabled = d.ReadBool(section, u"GrayDisabled", false);
        o.Left = BoundValue(d.ReadInteger(section, u"Left", 0));
        o.Top = BoundValue(d.ReadInteger(section, u"Top", 0));
        o.Space = BoundValue(d.ReadInteger(section, u"Space", 0));
    }

    m_buttons.clear();
    for (const std::u16string& section : d.SectionNames()) {
        if (section.size() < 7 ||
            !ql::SameTextIgnoringCase(std::u16string_view(section).substr(0, 7), u"ACTION-"))
            continue;
        const std::u16string name = section.substr(7);
        if (!IsKnownNavButton(name) || m_buttons.size() >= size_t(kMaxButtons)) continue;
        bool twice = false;
        for (const TButton& b : m_buttons) twice = twice || ql::SameTextIgnoringCase(b.Name, name);
        if (twice) continue;
        TButton b;
        b.Name = ql::LowerCase(name);
        b.Kind = NavButtonKind(d.ReadString(section, u"ActionType", u""));
        b.ActionText = d.ReadString(section, u"Action", u"");
        auto readBounds = [&](const std::u16string& key) -> std::optional<ql::TRect> {
            const std::u16string text = Str(d, section, key);
            if (text == kAbsent) return std::nullopt;
            const std::vector<int32_t> v = NavNumbers(text);
            if (v.size() < 4)
                throw ENavBarError(
                    "Bounds should contains 4 values. For example: "
                    "BtnTextureNormalBounds=0,0,20,20. "
                    "But ORB found only " +
                    std::to_string(v.size()) + " values.");
            return NavBoundsRect(v);
        };
        for (size_t s = 0; s < 4; ++s) {
            const std::u16string state = kStateNames[s];
            const std::optional<ql::TRect> icon = readBounds(u"BtnTexture" + state + u"Bounds");
            const std::optional<ql::TRect> back = readBounds(u"BgTexture" + state + u"Bounds");
            b.Icon[s].Bounds = icon ? *icon : b.Icon[0].Bounds;
            b.Back[s].Bounds = back ? *back : b.Back[0].Bounds;
            b.IconPlay[s].Bounds = b.Icon[s].Bounds;
            auto file = [&](const std::u16string& key, const std::u16string& fallback) {
                const std::u16string f = d.ReadString(section, key, u"");
                return f.empty() ? fallback : f;
            };
            b.Icon[s].File = file(u"flnm_BtnTexture" + state, b.Icon[0].File);
            b.Back[s].File = file(u"flnm_BgTexture" + state, b.Back[0].File);
            b.IconPlay[s].File = file(u"flnm_BtnTexture" + state + u"Play",
                                      s == 0 ? b.Icon[0].File : b.IconPlay[0].File);
        }
        m_buttons.push_back(std::move(b));
    }
    m_slots.clear();
}

std::vector<std::u16string> TNavBar::KnownButtons() const {
    std::vector<std::u16string> names;
    for (const TButton& b : m_buttons) names.push_back(b.Name);
    return names;
}

void TNavBar::SetChosenButtons(const std::vector<int32_t>& indices) {
    m_slots.clear();
    for (size_t k = 0; k < indices.size() && k < m_objectDefs.size(); ++k) {
        if (indices[k] < 0 || indices[k] >= int32_t(m_buttons.size())) continue;
        TSlot slot = m_objectDefs[m_slots.size()];
        slot.Button = indices[k];
        m_slots.push_back(slot);
    }
}

void TNavBar::SetScale(double scale) {
    m_scale = std::isfinite(scale) && scale > 0 ? std::clamp(scale, 1e-3, 1e3) : 1;
    m_fitHeight = 0;
}

void TNavBar::FitToHeight(int32_t height) {
    m_fitHeight = std::max(height, 0);
}

void TNavBar::SetButtonDisabled(int32_t slot, bool disabled) {
    if (slot < 0 || slot >= int32_t(m_slots.size())) return;
    m_slots[size_t(slot)].State = disabled ? nbsDisabled : nbsNormal;
    if (m_picture) Draw();
}

void TNavBar::Layout() {
    if (m_cells.empty()) {
        m_disabled = true;
        return;
    }
    for (TCell& c : m_cells) {
        c.Width = c.Texture.Bounds.Width();
        c.Height = c.Texture.Bounds.Height();
    }
    auto buttonSize = [&](const TSlot& s) {
        const TButton& b = m_buttons[size_t(s.Button)];
        const ql::TRect& r = b.Back[0].Bounds.IsEmpty() ? b.Icon[0].Bounds : b.Back[0].Bounds;
        return ql::TPoint{r.Width(), r.Height()};
    };
    int64_t objW = int64_t(m_offLeft) + m_offRight;
    for (const TSlot& s : m_slots) objW += buttonSize(s).x + s.Space;
    const int64_t objH =
        int64_t(m_offTop) + m_offBottom + (m_slots.empty() ? 0 : buttonSize(m_slots[0]).y);
    for (int32_t r = 0; r < m_rows; ++r)
        Cell(m_objCol, r).Width = BoundValue(std::max<int64_t>(objW, 0));
    for (int32_t c = 0; c < m_cols; ++c)
        Cell(c, m_objRow).Height = BoundValue(std::max<int64_t>(objH, 0));
    m_colWidths.assign(size_t(m_cols), 0);
    m_colStarts.assign(size_t(m_cols), 0);
    m_rowHeights.assign(size_t(m_rows), 0);
    m_rowStarts.assign(size_t(m_rows), 0);
    int64_t x = 0, y = 0;
    for (int32_t c = 0; c < m_cols; ++c) {
        m_colStarts[size_t(c)] = BoundValue(x);
        m_colWidths[size_t(c)] = Cell(c, 0).Width;
        x += Cell(c, 0).Width;
    }
    for (int32_t r = 0; r < m_rows; ++r) {
        m_rowStarts[size_t(r)] = BoundValue(y);
        m_rowHeights[size_t(r)] = Cell(0, r).Height;
        y += Cell(0, r).Height;
    }
    m_width = BoundValue(x);
    m_height = BoundValue(y);
    int64_t bx = int64_t(m_colStarts[size_t(m_objCol)]) + m_offLeft;
    const int64_t by = int64_t(m_rowStarts[size_t(m_objRow)]) + m_offTop;
    for (TSlot& s : m_slots) {
        const ql::TPoint size = buttonSize(s);
        // "Left" and "Top" nudge one button from where the row puts it,
        // without moving the buttons after it.
        const int32_t left = BoundValue(bx + s.Left), top = BoundValue(by + s.Top);
        s.Rect = {left, top, BoundValue(int64_t(left) + size.x), BoundValue(int64_t(top) + size.y)};
        bx += int64_t(size.x) + s.Space;
    }
    m_disabled =
        m_width <= 0 || m_height <= 0 || m_width > nav::kMaxBarSide || m_height > nav::kMaxBarSide;
    if (m_fitHeight > 0 && m_height > 0) m_scale = double(m_fitHeight) / m_height;
    m_playing = IsPlaying();
    if (!m_disabled) Draw();
}

void TNavBar::DrawTexture(const TTexture& t, const ql::TRect& rect, bool centred, bool gray) {
    if (t.File.empty() || !m_pictures) return;
    const ql::TBitmap* picture = m_pictures->Get(m_folder + t.File);
    if (!picture) return;
    const ql::TRect src = nav::ClipToPicture(t.Bounds, *picture);
    if (src.IsEmpty()) return;
    ql::TRect dst = rect;
    if (centred) {
        const int32_t l = rect.left + (rect.Width() - src.Width()) / 2;
        const int32_t tp = rect.top + (rect.Height() - src.Height()) / 2;
        dst = {l, tp, l + src.Width(), tp + src.Height()};
    }
    nav::DrawStretched(*m_picture, dst, *picture, src, gray);
}

void TNavBar::Draw() {
    if (m_disabled || m_width <= 0 || m_height <= 0) return;
    m_picture = nav::NewBarBitmap(m_width, m_height);
    if (m_showBackground)
        for (int32_t r = 0; r < m_rows; ++r)
            for (int32_t c = 0; c < m_cols; ++c) {
                const TCell& cell = Cell(c, r);
                const ql::TRect rect = {m_colStarts[size_t(c)], m_rowStarts[size_t(r)],
                                        m_colStarts[size_t(c)] + cell.Width,
                                        m_rowStarts[size_t(r)] + cell.Height};
                if (cell.Texture.File.empty()) continue;
                const ql::TBitmap* picture =
                    m_pictures ? m_pictures->Get(m_folder + cell.Texture.File) : nullptr;
                if (!picture) continue;
                if (cell.Repeat)
                    nav::DrawTiled(*m_picture, rect, *picture, cell.Texture.Bounds);
                else
                    nav::DrawStretched(*m_picture, rect, *picture, cell.Texture.Bounds);
            }
    if (LoadCallback) LoadCallback();
    for (const TSlot& s : m_slots) {
        const TButton& b = m_buttons[size_t(s.Button)];
        const size_t state = s.State;
        const int32_t shift = s.State == nbsPressed ? s.ShiftPressed : 0;
        const ql::TRect rect = {s.Rect.left + shift, s.Rect.top + shift, s.Rect.right + shift,
                                s.Rect.bottom + shift};
        const bool gray =
            (s.State == nbsNormal && s.GrayNormal) || (s.State == nbsDisabled && s.GrayDisabled);
        DrawTexture(b.Back[state], rect, false, gray);
        const bool play = b.Name == u"pause" && !m_playing;
        DrawTexture(play ? b.IconPlay[state] : b.Icon[state], rect, true, gray);
    }
    if (LoadCallback) LoadCallback();
    // The tint turns the hue like the button producer's colour shift.
    HslShiftBitmap(*m_picture, THslShift{m_hue % 360, 0, 0});
    PictureDone();
}

int32_t TNavBar::SlotAt(int32_t x, int32_t y) const {
    for (size_t i = 0; i < m_slots.size(); ++i) {
        const ql::TRect& r = m_slots[i].Rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return int32_t(i);
    }
    return -1;
}

void TNavBar::SetStates(int32_t hover, bool pressing) {
    bool changed = false;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        TSlot& s = m_slots[i];
        if (s.State == nbsDisabled) continue;
        TNavButtonState want = nbsNormal;
        if (int32_t(i) == hover) want = pressing && hover == m_pressedSlot ? nbsPressed : nbsHover;
        changed = changed || want != s.State;
        s.State = want;
    }
    if (changed) Draw();
}

void TNavBar::Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) {
    if (m_disabled) return;
    const bool inside = x >= 0 && y >= 0 && x < m_width && y < m_height;
    switch (kind) {
        case TNavMouseKind::Move:
            if (left && !m_pressing) break;  // a drag that began elsewhere
            if (m_pressing || inside)
                SetStates(SlotAt(x, y), m_pressing);
            else if (m_over)
                SetStates(-1, false);
            break;
        case TNavMouseKind::Press:
            if (!left || !inside) break;
            m_pressing = true;
            m_pressedSlot = SlotAt(x, y);
            SetStates(m_pressedSlot, true);
            break;
        case TNavMouseKind::Release: {
            if (!left) break;
            const int32_t slot = m_pressedSlot;
            const bool report = m_pressing && slot >= 0 &&
                                m_slots[size_t(slot)].State != nbsDisabled && SlotAt(x, y) == slot;
            m_pressing = false;
            m_pressedSlot = -1;
            SetStates(inside ? SlotAt(x, y) : -1, false);
            if (report && m_hooks.ButtonPressed)
                m_hooks.ButtonPressed(m_slots[size_t(slot)].Button);
            break;
        }
        case TNavMouseKind::DoubleClick:
            break;
    }
    m_over = inside;
}

void TNavBar::SetTime(double) {
    const bool playing = IsPlaying();
    if (playing == m_playing) return;
    m_playing = playing;
    for (const TSlot& s : m_slots)
        if (m_buttons[size_t(s.Button)].Name == u"pause") {
            Draw();
            break;
        }
}

}  // namespace orb
