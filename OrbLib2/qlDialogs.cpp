#include "OrbLib2/qlDialogs.h"

#include <algorithm>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qpExceptions.h"

namespace ql {

namespace {

constexpr uint32_t kFace = 0xFFF0F0F0, kCaptionBar = 0xFF2B5797, kCaptionText = 0xFFFFFFFF;
constexpr uint32_t kText = 0xFF000000, kEditFace = 0xFFFFFFFF, kBorder = 0xFF7A7A7A, kFocus = 0xFF0078D7;
constexpr char16_t kDialogFont[] = u"DejaVu Sans";
constexpr float kDialogFontPixels = 12;

void Frame(TBitmap& bitmap, const TRect& r, uint32_t colour) {
    bitmap.FillRect({r.left, r.top, r.right, r.top + 1}, colour);
    bitmap.FillRect({r.left, r.bottom - 1, r.right, r.bottom}, colour);
    bitmap.FillRect({r.left, r.top, r.left + 1, r.bottom}, colour);
    bitmap.FillRect({r.right - 1, r.top, r.right, r.bottom}, colour);
}

// Paints one line of text at (x, y) clipped to `clip`; false without a font.
bool PaintText(TBitmap& bitmap, const std::u16string& text, int32_t x, int32_t y, const TRect& clip,
               uint32_t colour, uint32_t background) {
    if (text.empty()) return true;
    try {
        TTextProducer producer;
        producer.SetText(std::make_unique<TSimpleVectorText>(std::vector<std::u16string>{text}, kDialogFont,
                                                             kDialogFontPixels));
        const auto picture = producer.Render(colour, background, {0, 0}, false, false, 1.0f);
        const int32_t width = std::min(picture->Width(), clip.right - x);
        const int32_t height = std::min(picture->Height(), clip.bottom - y);
        if (width > 0 && height > 0) bitmap.CopyRect({0, 0, width, height}, *picture, {x, y});
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace

TRect TCustomDialogItem::PixelRect() const {
    const int32_t left = DialogUnitsToPixelsX(X), top = DialogUnitsToPixelsY(Y) + TDialog::kCaptionHeight;
    return {left, top, left + DialogUnitsToPixelsX(Width), top + DialogUnitsToPixelsY(Height)};
}

bool TCustomDialogItem::Contains(int32_t px, int32_t py) const {
    const TRect r = PixelRect();
    return px >= r.left && px < r.right && py >= r.top && py < r.bottom;
}

TDialog::TDialog() = default;
TDialog::~TDialog() = default;

TDialogItem* TDialog::Item(uint16_t id) const {
    for (const auto& item : m_items)
        if (item->Id == id) return item.get();
    return nullptr;
}

void TDialog::Focus(const TDialogItem& item) {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == &item && item.Focusable()) m_focus = int32_t(i);
}

void TDialog::Press(TDialogItem& item) {
    if (auto* check = dynamic_cast<TDialogCheckBox*>(&item)) check->Checked = !check->Checked;
    if (item.OnClick) item.OnClick();
    if (dynamic_cast<TDialogButton*>(&item) && EndsDialog(item.Id) && Running()) Result = item.Id;
}

void TDialog::Key(TDialogKey key, char16_t character) {
    if (!Running()) return;
    TDialogItem* focused = Focused();
    switch (key) {
        case TDialogKey::Enter: {
            // A focused button is pressed; elsewhere the default button.
            if (focused && dynamic_cast<TDialogButton*>(focused)) {
                Press(*focused);
                return;
            }
            for (const auto& item : m_items) {
                auto* button = dynamic_cast<TDialogButton*>(item.get());
                if (button && button->IsDefault()) {
                    Press(*button);
                    return;
                }
            }
            return;
        }
        case TDialogKey::Escape:
            Result = kIdCancel;
            return;
        case TDialogKey::Tab:
        case TDialogKey::BackTab: {
            if (m_items.empty()) return;
            const int32_t count = int32_t(m_items.size()), step = key == TDialogKey::Tab ? 1 : count - 1;
            int32_t index = m_focus < 0 ? 0 : m_focus;
            for (int32_t i = 0; i < count; ++i) {
                index = (index + step) % count;
                if (m_items[size_t(index)]->Focusable()) {
                    m_focus = index;
                    return;
                }
            }
            return;
        }
        case TDialogKey::Space:
            if (focused && dynamic_cast<TDialogCustomButton*>(focused)) {
                Press(*focused);
                return;
            }
            character = u' ';
            [[fallthrough]];
        case TDialogKey::Character:
            if (auto* edit = dynamic_cast<TCustomDialogEdit*>(focused);
                edit && !edit->ReadOnly && character >= 32 && edit->Text.size() < edit->MaxLength)
                edit->Text.push_back(character);
            return;
        case TDialogKey::Backspace:
            if (auto* edit = dynamic_cast<TCustomDialogEdit*>(focused); edit && !edit->ReadOnly && !edit->Text.empty())
                edit->Text.pop_back();
            return;
    }
}

void TDialog::MouseDown(int32_t x, int32_t y) {
    m_pressed = nullptr;
    for (const auto& item : m_items) {
        if (item->Contains(x, y)) {
            m_pressed = item.get();
            Focus(*item);
            return;
        }
    }
}

void TDialog::MouseUp(int32_t x, int32_t y) {
    TDialogItem* pressed = m_pressed;
    m_pressed = nullptr;
    if (pressed && pressed->Contains(x, y) && Running()) {
        if (dynamic_cast<TDialogCustomButton*>(pressed))
            Press(*pressed);
        else if (pressed->OnClick)
            pressed->OnClick();
    }
}

std::unique_ptr<TBitmap> TDialog::Render() const {
    auto bitmap = CreateBitmap(std::max(PixelWidth(), 1), std::max(PixelHeight(), 1), PfARGB32());
    const TRect all = bitmap->Bounds();
    bitmap->FillRect(all, kFace);
    bitmap->FillRect({0, 0, all.right, kCaptionHeight}, kCaptionBar);
    PaintText(*bitmap, Text, 8, 4, {0, 0, all.right, kCaptionHeight}, kCaptionText, kCaptionBar);
    Frame(*bitmap, all, kBorder);
    for (const auto& item : m_items) {
        const TRect r = item->PixelRect();
        const bool focused = item.get() == Focused();
        if (auto* edit = dynamic_cast<const TCustomDialogEdit*>(item.get())) {
            bitmap->FillRect(r, kEditFace);
            Frame(*bitmap, r, focused ? kFocus : kBorder);
            const std::u16string shown = edit->Password ? std::u16string(edit->Text.size(), u'\x2022') : edit->Text;
            PaintText(*bitmap, shown, r.left + 4, r.top + 3, r, kText, kEditFace);
        } else if (auto* check = dynamic_cast<const TDialogCheckBox*>(item.get())) {
            const int32_t box = std::min<int32_t>(r.Height(), 13);
            const TRect square{r.left, r.top, r.left + box, r.top + box};
            bitmap->FillRect(square, kEditFace);
            Frame(*bitmap, square, focused ? kFocus : kBorder);
            if (check->Checked) bitmap->FillRect({square.left + 3, square.top + 3, square.right - 3, square.bottom - 3}, kText);
            PaintText(*bitmap, item->Text, r.left + box + 4, r.top - 1, r, kText, kFace);
        } else if (dynamic_cast<const TDialogButton*>(item.get())) {
            bitmap->FillRect(r, 0xFFE1E1E1);
            Frame(*bitmap, r, focused ? kFocus : kBorder);
            PaintText(*bitmap, item->Text, r.left + 6, r.top + std::max(0, (r.Height() - 16) / 2), r, kText, 0xFFE1E1E1);
        } else {
            PaintText(*bitmap, item->Text, r.left, r.top, r, kText, kFace);
        }
    }
    return bitmap;
}

}  // namespace ql
