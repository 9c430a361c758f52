// Running what a show names: web pages, e-mail, programs. A show is
// untrusted, so addresses go to the desktop's opener only as one http, https
// or mailto argument, and programs start from an argument vector we split
// ourselves, never through a shell.
#pragma once

#include <string>
#include <vector>

namespace orb {

inline constexpr char16_t kProhibitedCommandText[] =
    u"Command line contains prohibited command and will not be performed.";

// The commands of a run text: split at commas outside double quotes, trimmed,
// empty ones dropped.
std::vector<std::u16string> SplitRunText(const std::u16string& text);

// The verb of one command: ">" when the command redirects; else its first
// word without quotes, "@" and "|", lower-cased, without folders and cut at
// its first ".".
std::u16string CommandVerb(const std::u16string& command);

// Whether the verb is on the list of commands a show may not run; shells and
// script interpreters are refused too, since they would run any text.
bool IsProhibitedVerb(const std::u16string& verb);
// Whether any command of the run text is prohibited (then nothing is run).
bool RunTextIsProhibited(const std::u16string& text);

// Action 8: "http://" in front unless the text has http:// or https://.
std::u16string WebAddress(const std::u16string& text);
// Action 9: "mailto:" in front unless present.
std::u16string MailAddress(const std::u16string& text);
// Whether the text is one http, https or mailto address with no blanks or
// control characters: the only thing the desktop opener is given.
bool IsOpenableAddress(const std::u16string& text);

struct TRunStep {
    bool IsAddress = false;
    // An address: one element. A program: the file, then its arguments.
    std::vector<std::u16string> Arguments;
};

// The steps of a run text that is not prohibited. A command that is an
// address opens it; any other runs its first word (a leading quoted part is
// the file) with the rest split into arguments like a command line.
std::vector<TRunStep> PlanRun(const std::u16string& text);

// The exact command shown to the user before a show's program runs.
std::u16string DescribeStep(const TRunStep& step);

}  // namespace orb
