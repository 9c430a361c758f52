// Carrying out a show's request to run something (open a web page, write an
// e-mail, run a program): the text is checked and split by the run policy,
// the user confirms programs when the policy asks for it, and the host's
// launcher starts what was allowed. Nothing goes through a shell.
#pragma once

#include <string>
#include <vector>

#include "QlLib/qlRunPolicy.h"

namespace ql {
class THost;
}

namespace orb {

inline constexpr char16_t kRunConfirmCaption[] = u"Run Program";

struct TRunContext {
    std::u16string ShowFolder;  // where a program not found elsewhere is looked for
    ql::TRunPolicy Policy;
};

enum class TRunOutcome : uint8_t {
    Done,        // everything started
    Nothing,     // the text held no command
    Prohibited,  // a prohibited command, shell or interpreter: nothing run
    Declined,    // the user did not confirm: nothing run
    Failed,      // something could not be started (the user was told)
};

// One thing to start: an address or a document for the desktop's opener, or
// a program.
struct TRunItem {
    bool IsUrl = false;
    std::u16string Url;
    std::vector<std::u16string> Argv;  // Argv[0] is the resolved program file
    std::u16string Document;           // the resolved path of a document to open
    bool IsDocument() const { return !Document.empty(); }
};

// Turns a run text into what would be started. Prohibited (with nothing in
// items) when any command is prohibited or names a shell or interpreter;
// Failed with error set when a program cannot be found or a command is
// neither an address we open nor a program; else Done or Nothing. A name
// that is no program but a document ("brochure.pdf", beside the show or
// with its path, without parameters) is planned for the desktop's opener.
TRunOutcome PlanRunText(std::u16string_view text, const TRunContext& context,
                        std::vector<TRunItem>& items, std::u16string& error);

// Plans, asks for confirmation (one yes/no box with the exact commands) when
// the policy needs it and programs are among the items, starts them through
// host.Launcher() and tells the user about refusals and failures.
TRunOutcome RunShowText(ql::THost& host, std::u16string_view text, const TRunContext& context);

// The address of action 8: "http://" put in front unless the text begins
// with "http://" or "https://" (any case).
std::u16string WebAddress(std::u16string_view text);
// The address of action 9: "mailto:" put in front unless present (any case).
std::u16string MailAddress(std::u16string_view text);

}  // namespace orb
