#include "Orb/OrbViewer/OrbRunCommand.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "QlLib/qlCommands.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr std::array<std::u16string_view, 38> kProhibitedVerbs = {
    u">",        u"at",      u"attrib",   u"call",  u"cmd",   u"command", u"copy",    u"del",
    u"deltree",  u"erase",   u"for",      u"format", u"fdisk", u"runonce", u"move",    u"net",
    u"runas",    u"net1",    u"ren",      u"rename", u"replace", u"rmdir",  u"rd",      u"recover",
    u"regedit",  u"rundll",  u"qstart",   u"start", u"sys",   u"type",    u"xcopy",   u"regsrv",
    u"regedt32", u"regsvr32", u"rcp",     u"ftp",   u"tftp",  u"rm"};

// Programs that run whatever text they are given.
constexpr std::array<std::u16string_view, 30> kInterpreters = {
    u"sh",     u"bash",  u"dash",   u"zsh",     u"ksh",    u"mksh",   u"csh",   u"tcsh",  u"fish",  u"ash",
    u"busybox", u"env",  u"sudo",   u"su",      u"doas",   u"pkexec", u"nohup", u"xargs", u"perl",  u"ruby",
    u"node",   u"nodejs", u"php",   u"lua",     u"tclsh",  u"wish",   u"awk",   u"gawk",  u"osascript",
    u"xdg-open"};

// Interpreters that carry a version in their name ("python3", "python3.11"
// is cut at the dot to "python3").
constexpr std::array<std::u16string_view, 4> kInterpreterPrefixes = {u"python", u"perl", u"ruby", u"lua"};

bool IsBlank(char16_t c) { return c <= 32; }

bool StartsWithNoCase(const std::u16string& text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && ql::LowerCase(text.substr(0, prefix.size())) == prefix;
}

}  // namespace

std::vector<std::u16string> SplitRunText(const std::u16string& text) {
    std::vector<std::u16string> commands;
    std::u16string current;
    bool quoted = false;
    auto flush = [&] {
        std::u16string trimmed = ql::TrimBlanks(current);
        if (!trimmed.empty()) commands.push_back(std::move(trimmed));
        current.clear();
    };
    for (char16_t c : text) {
        if (c == u'"') quoted = !quoted;
        if (c == u',' && !quoted) {
            flush();
            continue;
        }
        current.push_back(c);
    }
    flush();
    return commands;
}

std::u16string CommandVerb(const std::u16string& command) {
    if (command.find(u'>') != std::u16string::npos) return u">";
    std::u16string cleaned;
    bool quoted = false;
    for (char16_t c : command) {
        if (c == u'"') {
            quoted = !quoted;
            continue;
        }
        if (c == u'@' || c == u'|') continue;
        cleaned.push_back(quoted && IsBlank(c) ? u'_' : c);
    }
    size_t start = 0;
    while (start < cleaned.size() && IsBlank(cleaned[start])) ++start;
    size_t end = start;
    while (end < cleaned.size() && !IsBlank(cleaned[end])) ++end;
    std::u16string verb = ql::LowerCase(cleaned.substr(start, end - start));
    if (const auto slash = verb.find_last_of(u"\\/"); slash != std::u16string::npos) verb.erase(0, slash + 1);
    if (const auto dot = verb.find(u'.'); dot != std::u16string::npos) verb.erase(dot);
    return verb;
}

bool IsProhibitedVerb(const std::u16string& verb) {
    if (std::find(kProhibitedVerbs.begin(), kProhibitedVerbs.end(), verb) != kProhibitedVerbs.end()) return true;
    if (std::find(kInterpreters.begin(), kInterpreters.end(), verb) != kInterpreters.end()) return true;
    return std::any_of(kInterpreterPrefixes.begin(), kInterpreterPrefixes.end(),
                       [&](std::u16string_view prefix) { return verb.starts_with(prefix); });
}

bool RunTextIsProhibited(const std::u16string& text) {
    const auto commands = SplitRunText(text);
    return std::any_of(commands.begin(), commands.end(),
                       [](const std::u16string& command) { return IsProhibitedVerb(CommandVerb(command)); });
}

std::u16string WebAddress(const std::u16string& text) {
    if (StartsWithNoCase(text, u"http://") || StartsWithNoCase(text, u"https://")) return text;
    return u"http://" + text;
}

std::u16string MailAddress(const std::u16string& text) {
    if (StartsWithNoCase(text, u"mailto:")) return text;
    return u"mailto:" + text;
}

bool IsOpenableAddress(const std::u16string& text) {
    if (!StartsWithNoCase(text, u"http://") && !StartsWithNoCase(text, u"https://") &&
        !StartsWithNoCase(text, u"mailto:"))
        return false;
    return std::none_of(text.begin(), text.end(), IsBlank);
}

std::vector<TRunStep> PlanRun(const std::u16string& text) {
    std::vector<TRunStep> steps;
    for (const std::u16string& command : SplitRunText(text)) {
        TRunStep step;
        if (IsOpenableAddress(command)) {
            step.IsAddress = true;
            step.Arguments = {command};
        } else {
            step.Arguments = ql::SplitCommandLine(command);
            if (step.Arguments.empty()) continue;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::u16string DescribeStep(const TRunStep& step) {
    if (step.IsAddress) return step.Arguments.front();
    return ql::BuildCommandLine(step.Arguments);
}

}  // namespace orb
