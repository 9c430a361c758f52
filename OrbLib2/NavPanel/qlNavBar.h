// The navigation bars: the common base, the reader's helpers and the button
// bar (a grid of background textures with a row of buttons in one cell).
// A bar lays itself out in its own pixels, draws one 32-bit picture and turns
// mouse events in those pixels into button presses.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace orb {

// A malformed definition file; the message is the one the user sees in the log.
QL_COMMON_EXCEPTION(ENavBarError, ql::TCommonException);

// Opens a file of the show by name; nullptr when missing.
using TNavOpenFile = std::function<std::unique_ptr<ql::TStream>(const std::u16string& name)>;

// The bar pictures, loaded once per file name and kept as 32-bit bitmaps.
class TNavPictures {
public:
    explicit TNavPictures(TNavOpenFile open) : m_open(std::move(open)) {}
    // nullptr when the file is missing or unreadable (the bar then draws nothing there).
    const ql::TBitmap* Get(const std::u16string& name);

private:
    TNavOpenFile m_open;
    std::map<std::u16string, ql::TRef<ql::TBitmapStore>> m_stores;
    std::map<std::u16string, const ql::TBitmap*> m_bitmaps;
};

// The values of a list: separated by commas outside double quotes, trimmed,
// quotes removed.
std::vector<std::u16string> SplitNavValues(std::u16string_view text);
// The numbers of a list value; a value that is no number reads as 0. At most
// 16 values are read.
std::vector<int32_t> NavNumbers(std::u16string_view text);
// (left, top, width, height) as a rectangle; widths and heights below 0 give 0
// and every value is bounded so that the sums stay in range.
ql::TRect NavBoundsRect(const std::vector<int32_t>& v);

// Mouse events as the bars see them.
enum class TNavMouseKind : uint8_t { Move, Press, Release, DoubleClick };

class TCustomNavBar : public ql::TObj {
public:
    struct THooks {
        std::function<void(int32_t index)> ButtonPressed;  // -1 the video bar's play/pause button
        std::function<bool()> IsPlaying;
        std::function<double()> Duration;
        std::function<void(double ms)> Seek;
        std::function<void(double volume)> VolumeChanged;
        std::function<void()> PictureChanged;
    };

    ~TCustomNavBar() override = default;
    void SetHooks(THooks hooks) { m_hooks = std::move(hooks); }

    virtual bool VideoStyle() const = 0;
    // Reads the definition; raises ENavBarError with the user's message.
    virtual void Load(const ql::TIniStorage& definition, const std::u16string& folder,
                      TNavPictures& pictures) = 0;
    // The names of the buttons the bar can show, in the definition's order.
    virtual std::vector<std::u16string> KnownButtons() const = 0;
    // Indices into KnownButtons, in the show's order.
    virtual void SetChosenButtons(const std::vector<int32_t>& indices) = 0;
    virtual void SetWidth(int32_t width) = 0;
    virtual void SetScale(double scale) = 0;
    virtual void FitToHeight(int32_t height) = 0;
    virtual void Layout() = 0;
    // Reads the duration from the hook and redraws.
    virtual void Reset() = 0;
    virtual void SetTime(double ms) = 0;
    virtual void SetVolume(double volume) = 0;
    // x, y in bar pixels; left tells whether the left button is the one
    // pressed or released (for moves: held).
    virtual void Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) = 0;

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    double Scale() const { return m_scale; }
    bool Disabled() const { return m_disabled; }
    // The part of the bar that takes clicks, in bar pixels.
    virtual ql::TRect ActiveArea() const { return {0, 0, m_width, m_height}; }
    // nullptr until drawn or when disabled.
    const ql::TBitmap* Picture() const { return m_disabled ? nullptr : m_picture.get(); }
    // Counts redraws, so that a drawer uploads the picture only when it changed.
    uint64_t PictureVersion() const { return m_version; }

protected:
    void PictureDone() {
        ++m_version;
        if (m_hooks.PictureChanged) m_hooks.PictureChanged();
    }
    bool IsPlaying() const { return !m_hooks.IsPlaying || m_hooks.IsPlaying(); }

    THooks m_hooks;
    int32_t m_width = 0, m_height = 0;
    double m_scale = 1;
    bool m_disabled = false;
    std::unique_ptr<ql::TBitmap> m_picture;
    uint64_t m_version = 0;
};

// Button kinds by "ActionType".
enum TNavButtonKind : int32_t {
    nbkOther,
    nbkHome,
    nbkBackward,
    nbkForward,
    nbkPause,
    nbkPrint,
    nbkHelp,
    nbkExit
};
TNavButtonKind NavButtonKind(std::u16string_view text);

// The buttons the panel knows by name.
bool IsKnownNavButton(std::u16string_view name);

// Button states; a disabled button keeps its state.
enum TNavButtonState : uint8_t { nbsNormal, nbsHover, nbsPressed, nbsDisabled };

class TNavBar : public TCustomNavBar {
public:
    static constexpr int32_t kMaxGrid = 32;     // columns and rows
    static constexpr int32_t kMaxButtons = 32;  // "Count"

    struct TTexture {
        std::u16string File;
        ql::TRect Bounds;  // in the picture
    };
    struct TButton {
        std::u16string Name;
        TNavButtonKind Kind = nbkOther;
        std::u16string ActionText;
        std::array<TTexture, 4> Icon, IconPlay, Back;  // by state
    };
    struct TSlot {
        int32_t Button = -1;  // index into Buttons()
        int32_t ShiftPressed = 0, Left = 0, Top = 0, Space = 0;
        bool GrayNormal = false, GrayDisabled = false;
        ql::TRect Rect;  // laid out
        TNavButtonState State = nbsNormal;
    };

    bool VideoStyle() const override { return false; }
    void Load(const ql::TIniStorage& definition, const std::u16string& folder,
              TNavPictures& pictures) override;
    std::vector<std::u16string> KnownButtons() const override;
    void SetChosenButtons(const std::vector<int32_t>& indices) override;
    void SetWidth(int32_t width) override { m_requestedWidth = width; }
    void SetScale(double scale) override;
    void FitToHeight(int32_t height) override;
    void Layout() override;
    void Reset() override { Draw(); }
    void SetTime(double) override;
    void SetVolume(double) override {}
    void Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) override;

    void SetShowBackground(bool on) { m_showBackground = on; }
    void SetHue(int32_t degrees) { m_hue = degrees; }
    // A disabled button never changes state.
    void SetButtonDisabled(int32_t slot, bool disabled);

    double RecommendedScale() const { return m_recommendedScale; }
    const std::vector<TButton>& Buttons() const { return m_buttons; }
    const std::vector<TSlot>& Slots() const { return m_slots; }
    const std::vector<int32_t>& ColumnWidths() const { return m_colWidths; }
    const std::vector<int32_t>& RowHeights() const { return m_rowHeights; }
    // Called between the drawing phases.
    std::function<void()> LoadCallback;

private:
    int32_t m_fitHeight = 0;
    struct TCell {
        bool Repeat = false;
        TTexture Texture;
        int32_t Width = 0, Height = 0;
    };
    TCell& Cell(int32_t c, int32_t r) { return m_cells[size_t(r) * size_t(m_cols) + size_t(c)]; }
    int32_t SlotAt(int32_t x, int32_t y) const;
    void SetStates(int32_t hover, bool pressing);
    void Draw();
    void DrawTexture(const TTexture& t, const ql::TRect& rect, bool centred, bool gray);

    TNavPictures* m_pictures = nullptr;
    std::u16string m_folder;
    double m_recommendedScale = 8;
    int32_t m_cols = 0, m_rows = 0, m_objCol = 0, m_objRow = 0;
    int32_t m_offLeft = 0, m_offTop = 0, m_offRight = 0, m_offBottom = 0;
    int32_t m_objectCount = 0;
    std::vector<TCell> m_cells;
    std::vector<int32_t> m_colWidths, m_rowHeights, m_colStarts, m_rowStarts;
    std::vector<TButton> m_buttons;
    std::vector<TSlot> m_objectDefs;  // per "Object" k
    std::vector<TSlot> m_slots;
    int32_t m_requestedWidth = 0;
    bool m_showBackground = true;
    int32_t m_hue = 0;
    bool m_pressing = false, m_over = false;
    int32_t m_pressedSlot = -1;
    bool m_playing = true;
};

}  // namespace orb
