#include "OrbLib2/qlDialogs.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.Width = 200;
        dialog.Height = 80;
        edit = &dialog.Add<TDialogEdit>(100, u"", 10, 10);
        check = &dialog.Add<TDialogCheckBox>(101, u"Check", 10, 30);
        auto& ok = dialog.Add<TDialogButton>(kIdOk, u"OK", 10, 50);
        ok.Kind = 1;
        dialog.Add<TDialogButton>(kIdCancel, u"Cancel", 70, 50);
    }
    // The centre of an item in pixels.
    TPoint Centre(const TDialogItem& item) const {
        const TRect r = item.PixelRect();
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    TDialog dialog;
    TDialogEdit* edit = nullptr;
    TDialogCheckBox* check = nullptr;
};

TEST_F(Dialogs, Keys_TypeIntoTheEditAndEnterPressesTheDefault) {
    EXPECT_EQ(dialog.Focused(), edit);
    for (char16_t c : std::u16string(u"ab c")) dialog.Key(c == u' ' ? TDialogKey::Space : TDialogKey::Character, c);
    dialog.Key(TDialogKey::Backspace);
    EXPECT_EQ(edit->Text, u"ab ");
    dialog.Key(TDialogKey::Tab);
    dialog.Key(TDialogKey::Space);  // toggles the focused check box
    EXPECT_TRUE(check->Checked);
    EXPECT_TRUE(dialog.Running());
    dialog.Key(TDialogKey::Enter);
    EXPECT_EQ(dialog.Result, kIdOk);
}

TEST_F(Dialogs, Escape_Cancels) {
    dialog.Key(TDialogKey::Escape);
    EXPECT_EQ(dialog.Result, kIdCancel);
}

TEST_F(Dialogs, Click_OnlyWhenPressAndReleaseAreInside) {
    const TPoint cancel = Centre(*dialog.Item(kIdCancel));
    const TPoint ok = Centre(*dialog.Item(kIdOk));
    dialog.MouseDown(cancel.x, cancel.y);
    dialog.MouseUp(ok.x, ok.y);  // released elsewhere: nothing
    EXPECT_TRUE(dialog.Running());
    dialog.MouseDown(cancel.x, cancel.y);
    dialog.MouseUp(cancel.x, cancel.y);
    EXPECT_EQ(dialog.Result, kIdCancel);
}

TEST_F(Dialogs, Edit_BoundedLength) {
    edit->MaxLength = 3;
    for (int i = 0; i < 10; ++i) dialog.Key(TDialogKey::Character, u'x');
    EXPECT_EQ(edit->Text, u"xxx");
}

TEST_F(Dialogs, Render_PaintsTheDialogAtItsPixelSize) {
    const auto bitmap = dialog.Render();
    EXPECT_EQ(bitmap->Width(), DialogUnitsToPixelsX(200));
    EXPECT_EQ(bitmap->Height(), DialogUnitsToPixelsY(80) + TDialog::kCaptionHeight);
    uint32_t face = 0, bar = 0;
    bitmap->GetPixels32(bitmap->Width() / 2, bitmap->Height() - 3, 1, &face, 1, 0);
    bitmap->GetPixels32(bitmap->Width() - 3, 3, 1, &bar, 1, 0);
    EXPECT_NE(face, bar);  // the caption bar stands out from the face
}

}  // namespace
}  // namespace ql
