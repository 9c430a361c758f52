// The player's own dialogs: a small item model (buttons, check boxes, edits,
// labels in dialog units) that the program lays out, steers with keys and the
// mouse, and paints itself with the text producer, so that every caption can
// come from the show's project document.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/SysObj.h"

namespace ql {

inline constexpr int32_t kIdOk = 1;
inline constexpr int32_t kIdCancel = 2;

// Dialog units of the dialog font (8 points): a quarter of the average
// character width across, an eighth of its height down.
inline constexpr int32_t kDialogBaseX = 6, kDialogBaseY = 13;
inline int32_t DialogUnitsToPixelsX(int32_t units) { return units * kDialogBaseX / 4; }
inline int32_t DialogUnitsToPixelsY(int32_t units) { return units * kDialogBaseY / 8; }

enum class TDialogKey { Enter, Escape, Tab, BackTab, Backspace, Space, Character };

class TCustomDialogItem : public TObj {
public:
    std::u16string Text;
    int32_t X = 0, Y = 0, Width = 0, Height = 0;  // dialog units
    // Fires on a left-button release inside the item after a press inside it.
    std::function<void()> OnClick;

    // The item's rectangle in pixels.
    TRect PixelRect() const;
    bool Contains(int32_t px, int32_t py) const;
};

class TDialogItem : public TCustomDialogItem {
public:
    uint16_t Id = 0;
    bool TabStop = true;
    virtual bool Focusable() const { return TabStop; }
};

class TDialogCustomButton : public TDialogItem {
public:
    int32_t Kind = 0;
};

class TDialogButton : public TDialogCustomButton {
public:
    TDialogButton() {
        Width = 50;
        Height = 14;
    }
    bool IsDefault() const { return Kind == 1; }
};

class TDialogCheckBox : public TDialogCustomButton {
public:
    TDialogCheckBox() {
        Width = 50;
        Height = 8;
    }
    bool Checked = false;
};

class TCustomDialogEdit : public TDialogItem {
public:
    TCustomDialogEdit() {
        Width = 50;
        Height = 12;
    }
    bool Password = false;
    bool ReadOnly = false;
    // Longest text the edit takes; typing beyond it is dropped.
    size_t MaxLength = 1024;
};

class TDialogEdit : public TCustomDialogEdit {};

class TDialogStatic : public TDialogItem {
public:
    TDialogStatic() {
        Width = 50;
        Height = 8;
        TabStop = false;
    }
};

enum class TDialogPlacement { CentredOnScreen = 0, CentredOnOwner = 1, Unchanged = 2 };

class TDialog : public TCustomDialogItem {
public:
    TDialog();
    ~TDialog() override;

    TDialogPlacement Placement = TDialogPlacement::CentredOnOwner;
    // 0 while the dialog runs; then the id of the control that ended it.
    int32_t Result = 0;

    template <class T>
    T& Add(uint16_t id, std::u16string text, int32_t x, int32_t y) {
        auto item = std::make_unique<T>();
        item->Id = id;
        item->Text = std::move(text);
        item->X = x;
        item->Y = y;
        T& added = *item;
        m_items.push_back(std::move(item));
        if (m_focus < 0 && added.Focusable()) m_focus = int32_t(m_items.size() - 1);
        return added;
    }
    const std::vector<std::unique_ptr<TDialogItem>>& Items() const { return m_items; }
    TDialogItem* Item(uint16_t id) const;
    TDialogItem* Focused() const { return m_focus < 0 ? nullptr : m_items[size_t(m_focus)].get(); }
    void Focus(const TDialogItem& item);

    bool Running() const { return Result == 0; }
    void Key(TDialogKey key, char16_t character = 0);
    // Mouse positions in pixels from the dialog's client corner.
    void MouseDown(int32_t x, int32_t y);
    void MouseUp(int32_t x, int32_t y);
    // A control that does not end the dialog handles its own clicks (the
    // print dialog's buttons).
    virtual bool EndsDialog(uint16_t id) const { return true; }

    // The dialog painted: face, caption bar, items. Texts need an installed
    // font; without one the items are painted without their texts.
    std::unique_ptr<TBitmap> Render() const;
    int32_t PixelWidth() const { return DialogUnitsToPixelsX(Width); }
    int32_t PixelHeight() const { return DialogUnitsToPixelsY(Height) + kCaptionHeight; }
    static constexpr int32_t kCaptionHeight = 22;

protected:
    void Press(TDialogItem& item);

private:
    std::vector<std::unique_ptr<TDialogItem>> m_items;
    int32_t m_focus = -1;
    TDialogItem* m_pressed = nullptr;
};

}  // namespace ql
