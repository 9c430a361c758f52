// What a show may run. Shows are untrusted: the texts of their run actions
// are split here into addresses to open and argument vectors to start,
// checked against the prohibited commands, shells and script interpreters,
// and never handed to a shell.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ql {

inline constexpr char16_t kProhibitedCommandText[] =
    u"Command line contains prohibited command and will not be performed.";

// The commands of a run text: separated by commas outside double quotes,
// each trimmed; empty ones are dropped.
std::vector<std::u16string> SplitRunCommands(std::u16string_view text);

// The verb of a command, as the prohibited-command check sees it: ">" when the
// command holds one anywhere; otherwise the first word (blanks inside double
// quotes do not end it; "@", double quotes and "|" are dropped), lower-cased,
// without folders ("\" or "/") and cut at its first ".".
std::u16string CommandVerb(std::u16string_view command);
// Whether the command's verb is one of the prohibited commands.
bool IsProhibitedCommand(std::u16string_view command);
// Whether a program name (or path; only the last component counts, an
// extension is ignored) names a shell, a script interpreter or a launcher of
// other programs: sh, bash, python3.11, env, xargs...
bool IsRefusedInterpreter(std::u16string_view program);

// Splits a command into the program and its parameters: a leading
// double-quoted part is the program, else it ends at the first blank. The
// program comes back without quotes, the parameters trimmed.
void SplitProgramAndParameters(std::u16string_view command, std::u16string& program, std::u16string& parameters);

// Splits parameters into arguments at blanks outside quotes. Double or single
// quotes group (and are dropped); text next to a quoted part joins it; a pair
// of quotes alone gives an empty argument. Backslashes are plain characters
// (show texts carry Windows paths). At most 256 arguments; the rest is
// dropped.
std::vector<std::u16string> SplitArguments(std::u16string_view parameters);

// The command as a user should read it in a confirmation: each argument
// quoted with double quotes when it is empty or holds blanks or quotes.
std::u16string DescribeArguments(const std::vector<std::u16string>& argv);

// A file name a show suggests for saving, reduced to its last component
// ("/" and "\" both separate); fallback when nothing usable is left ("",
// ".", ".." or only separators). Control characters are dropped.
std::u16string SafeSaveFileName(std::u16string_view suggested, std::u16string_view fallback);

// Whether starting programs needs the user's confirmation: a show opened
// from a file other than the running program may only run them after the
// user agrees to the exact command, unless "-allowrun" was given; a
// self-contained show (its package is in the running program) runs them as
// published. Opening web and mail addresses needs no confirmation.
struct TRunPolicy {
    bool SelfContained = false;
    bool AllowRunSwitch = false;
    bool NeedsConfirmation() const { return !SelfContained && !AllowRunSwitch; }
};

}  // namespace ql
