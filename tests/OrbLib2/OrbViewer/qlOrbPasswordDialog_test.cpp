#include "OrbLib2/OrbViewer/qlOrbPasswordDialog.h"

#include <gtest/gtest.h>

#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

std::unique_ptr<ql::TIniFile> Project(const std::vector<std::u16string>& lines) {
    auto document = std::make_unique<ql::TIniFile>();
    document->LoadFromLines(lines);
    return document;
}

// Types the text, then ends the dialog with the key.
TDialogRunner Typing(const std::u16string& text, ql::TDialogKey end) {
    return [text, end](ql::TDialog& dialog) {
        for (char16_t c : text) dialog.Key(ql::TDialogKey::Character, c);
        dialog.Key(end);
    };
}

TEST(OrbPasswordDialog, Access_AcceptedOnlyWithTheExactPasswordAndOk) {
    const auto project = Project({u"[Main]", u"opt_usepass=1", u"opt_pass=Secret"});
    EXPECT_TRUE(CheckShowAccess(*project, Typing(u"Secret", ql::TDialogKey::Enter)));
    EXPECT_FALSE(CheckShowAccess(*project, Typing(u"secret", ql::TDialogKey::Enter)));  // case counts
    EXPECT_FALSE(CheckShowAccess(*project, Typing(u"Secret", ql::TDialogKey::Escape)));
    // Cancel clicked after the right password.
    EXPECT_FALSE(CheckShowAccess(*project, [](ql::TDialog& dialog) {
        for (char16_t c : std::u16string(u"Secret")) dialog.Key(ql::TDialogKey::Character, c);
        const ql::TRect r = dialog.Item(ql::kIdCancel)->PixelRect();
        dialog.MouseDown(r.left + 2, r.top + 2);
        dialog.MouseUp(r.left + 2, r.top + 2);
    }));
}

TEST(OrbPasswordDialog, Access_WithoutPasswordOptionOpensAndMissingPasswordIsBuiltIn) {
    EXPECT_TRUE(CheckShowAccess(*Project({u"[Main]", u"opt_pass=x"}), nullptr));
    const auto project = Project({u"[Main]", u"opt_usepass=1"});
    EXPECT_FALSE(CheckShowAccess(*project, Typing(u"", ql::TDialogKey::Enter)));
    EXPECT_TRUE(CheckShowAccess(*project, Typing(kBuiltInPassword, ql::TDialogKey::Enter)));
}

TEST(OrbPasswordDialog, Texts_FromTheProjectWithDefaults) {
    TOrbPasswordDialog plain(*Project({u"[Main]"}));
    EXPECT_EQ(plain.Text, u"Password required");
    EXPECT_EQ(plain.Item(ql::kIdOk)->Text, u"OK");
    EXPECT_EQ(plain.Item(ql::kIdCancel)->Text, u"Cancel");
    EXPECT_EQ(plain.Width, 260);
    EXPECT_TRUE(plain.Edit().Password);
    TOrbPasswordDialog named(*Project({u"[Main]", u"opt_lng_password_caption=Kennwort", u"opt_lng_button_cancel=Abbrechen"}));
    EXPECT_EQ(named.Text, u"Kennwort");
    EXPECT_EQ(named.Item(ql::kIdCancel)->Text, u"Abbrechen");
}

}  // namespace
}  // namespace orb
