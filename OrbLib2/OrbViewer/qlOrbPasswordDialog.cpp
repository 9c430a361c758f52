#include "OrbLib2/OrbViewer/qlOrbPasswordDialog.h"

#include "QlLib/qlIniStorage.h"

namespace orb {

TOrbPasswordDialog::TOrbPasswordDialog(const ql::TIniStorage& project) {
    Text = project.ReadString(u"main", u"opt_lng_password_caption", u"Password required");
    Width = 260;
    Height = 98;
    auto& label = Add<ql::TDialogStatic>(0xFFFF, project.ReadString(u"main", u"opt_lng_password_label", u"Enter password:"), 12, 12);
    label.Width = 244;
    label.Height = 16;
    m_edit = &Add<ql::TDialogEdit>(100, u"", 12, 32);
    m_edit->Width = 236;
    m_edit->Height = 21;
    m_edit->Password = true;
    auto& ok = Add<ql::TDialogButton>(ql::kIdOk, project.ReadString(u"main", u"opt_lng_button_ok", u"OK"), 52, 62);
    ok.Width = 75;
    ok.Height = 25;
    ok.Kind = 1;
    auto& cancel =
        Add<ql::TDialogButton>(ql::kIdCancel, project.ReadString(u"main", u"opt_lng_button_cancel", u"Cancel"), 133, 62);
    cancel.Width = 75;
    cancel.Height = 25;
    Focus(*m_edit);
}

bool CheckShowAccess(const ql::TIniStorage& project, const TDialogRunner& run) {
    if (!project.ReadBool(u"main", u"opt_usepass", false)) return true;
    TOrbPasswordDialog dialog(project);
    if (run) run(dialog);
    const std::u16string password = project.ReadString(u"main", u"opt_pass", kBuiltInPassword);
    return dialog.Result == ql::kIdOk && dialog.Edit().Text == password;
}

}  // namespace orb
