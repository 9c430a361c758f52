// The password prompt that guards a show before it opens.
#pragma once

#include <functional>

#include "OrbLib2/qlDialogs.h"

namespace ql {
class TIniStorage;
}

namespace orb {

// Stands for "opt_pass" when a show asks for a password but names none.
inline constexpr char16_t kBuiltInPassword[] = u"kq7Lm2Rt9Xw4Bz8Nc5Vh3Jp";

class TOrbPasswordDialog : public ql::TDialog {
public:
    // Texts from the project's main section, with their defaults.
    explicit TOrbPasswordDialog(const ql::TIniStorage& project);
    ql::TDialogEdit& Edit() const { return *m_edit; }

private:
    ql::TDialogEdit* m_edit;
};

// Drives a dialog until it ends (the host's modal loop; a script in tests).
using TDialogRunner = std::function<void(ql::TDialog& dialog)>;

// Whether the show may open: always without "opt_usepass"; else only when
// OK ends the password dialog with the exact password.
bool CheckShowAccess(const ql::TIniStorage& project, const TDialogRunner& run);

}  // namespace orb
