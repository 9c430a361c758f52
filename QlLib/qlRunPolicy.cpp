#include "QlLib/qlRunPolicy.h"

#include <algorithm>
#include <array>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr size_t kMaxArguments = 256;
constexpr size_t kMaxCommands = 64;

bool IsBlankChar(char16_t c) { return c <= 32; }

// The verbs a command may not start with, as the player has always refused
// them (mostly the Windows command interpreter's own commands).
constexpr std::array<std::u16string_view, 37> kProhibitedVerbs = {
    u">",       u"at",     u"attrib",   u"call",   u"cmd",      u"command", u"copy",    u"del",
    u"deltree", u"erase",  u"for",      u"format", u"fdisk",    u"runonce", u"move",    u"net",
    u"runas",   u"net1",   u"ren",      u"rename", u"replace",  u"rmdir",   u"rd",      u"recover",
    u"regedit", u"rundll", u"qstart",   u"start",  u"sys",      u"type",    u"xcopy",   u"regsrv",
    u"regedt32", u"regsvr32", u"rcp",   u"ftp",    u"tftp"};

// Programs that run other programs or scripts given to them: handing a show
// one of these would hand it a shell.
constexpr std::u16string_view kInterpreters[] = {
    u"sh",      u"bash",    u"dash",     u"zsh",    u"fish",    u"csh",     u"tcsh",     u"ksh",
    u"mksh",    u"ash",     u"rc",       u"busybox", u"toybox", u"python",  u"pypy",     u"perl",
    u"ruby",    u"irb",     u"node",     u"nodejs", u"deno",    u"bun",     u"php",      u"lua",
    u"luajit",  u"tclsh",   u"wish",     u"expect", u"awk",     u"gawk",    u"mawk",     u"nawk",
    u"sed",     u"find",    u"env",      u"xargs",  u"sudo",    u"su",      u"doas",     u"pkexec",
    u"nohup",   u"setsid",  u"timeout",  u"nice",   u"ionice",  u"stdbuf",  u"chroot",   u"script",
    u"exec",    u"eval",    u"command",  u"builtin", u"osascript", u"pwsh", u"powershell", u"cmd",
    u"wine",    u"java",    u"jshell",   u"guile",  u"racket",  u"scheme",  u"gdb",      u"vim",
    u"vi",      u"emacs",   u"make",     u"flatpak", u"snap",   u"systemd-run", u"dbus-send", u"gio",
    u"xdg-open", u"kde-open", u"kde-open5", u"gnome-open", u"exo-open", u"mimeopen", u"run-parts", u"watch",
    u"strace",  u"ltrace",  u"valgrind", u"unshare", u"nsenter", u"capsh",  u"runuser",  u"sg",
    u"newgrp",  u"at",      u"batch",    u"crontab", u"ssh",    u"dosbox",  u"qemu",     u"r",
    u"rscript", u"julia",   u"ghci",     u"runghc", u"ocaml",   u"erl",     u"elixir",   u"iex",
    u"swift",   u"kotlin",  u"scala",    u"groovy", u"dotnet",  u"mono",    u"ld",       u"ld-linux",
};

// The last component of a path; "/" and "\" both separate.
std::u16string_view LastComponent(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::u16string> SplitRunCommands(std::u16string_view text) {
    std::vector<std::u16string> commands;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i <= text.size() && commands.size() < kMaxCommands; ++i) {
        if (i < text.size() && text[i] == u'"') quoted = !quoted;
        if (i == text.size() || (text[i] == u',' && !quoted)) {
            std::u16string command = TrimBlanks(text.substr(start, i - start));
            if (!command.empty()) commands.push_back(std::move(command));
            start = i + 1;
        }
    }
    return commands;
}

std::u16string CommandVerb(std::u16string_view command) {
    if (command.find(u'>') != std::u16string_view::npos) return u">";
    std::u16string cleaned;
    bool quoted = false;
    for (char16_t c : command) {
        if (c == u'"') {
            quoted = !quoted;
            continue;
        }
        if (c == u'@' || c == u'|') continue;
        cleaned += quoted && c == u' ' ? u'_' : c;
    }
    size_t b = 0;
    while (b < cleaned.size() && IsBlankChar(cleaned[b])) ++b;
    size_t e = b;
    while (e < cleaned.size() && !IsBlankChar(cleaned[e])) ++e;
    std::u16string verb = LowerCase(std::u16string_view(cleaned).substr(b, e - b));
    verb = std::u16string(LastComponent(verb));
    const size_t dot = verb.find(u'.');
    if (dot != std::u16string::npos) verb.resize(dot);
    return verb;
}

bool IsProhibitedCommand(std::u16string_view command) {
    const std::u16string verb = CommandVerb(command);
    return std::find(kProhibitedVerbs.begin(), kProhibitedVerbs.end(), verb) != kProhibitedVerbs.end();
}

bool IsRefusedInterpreter(std::u16string_view program) {
    std::u16string name = LowerCase(LastComponent(program));
    const size_t dot = name.find(u'.');
    if (dot != std::u16string::npos) name.resize(dot);
    // Versioned names ("python3", "lua5", "perl-5") count as the family.
    while (!name.empty() && ((name.back() >= u'0' && name.back() <= u'9') || name.back() == u'-' || name.back() == u'_'))
        name.pop_back();
    if (name.empty()) return false;
    for (std::u16string_view interpreter : kInterpreters)
        if (name == interpreter) return true;
    return false;
}

void SplitProgramAndParameters(std::u16string_view command, std::u16string& program, std::u16string& parameters) {
    std::u16string trimmed = TrimBlanks(command);
    std::u16string_view text = trimmed;
    program.clear();
    parameters.clear();
    size_t end;
    if (!text.empty() && text[0] == u'"') {
        const size_t close = text.find(u'"', 1);
        end = close == std::u16string_view::npos ? text.size() : close + 1;
    } else {
        end = 0;
        while (end < text.size() && !IsBlankChar(text[end])) ++end;
    }
    for (char16_t c : text.substr(0, end))
        if (c != u'"') program += c;
    parameters = TrimBlanks(text.substr(end));
}

std::vector<std::u16string> SplitArguments(std::u16string_view parameters) {
    std::vector<std::u16string> args;
    std::u16string current;
    bool inArgument = false;
    char16_t quote = 0;
    for (char16_t c : parameters) {
        if (quote) {
            if (c == quote) quote = 0;
            else current += c;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            quote = c;
            inArgument = true;
        } else if (IsBlankChar(c)) {
            if (inArgument) {
                if (args.size() == kMaxArguments) return args;
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument && args.size() < kMaxArguments) args.push_back(std::move(current));
    return args;
}

std::u16string DescribeArguments(const std::vector<std::u16string>& argv) {
    std::u16string text;
    for (const std::u16string& arg : argv) {
        if (!text.empty()) text += u' ';
        const bool needsQuotes =
            arg.empty() || std::any_of(arg.begin(), arg.end(), [](char16_t c) { return c <= 32 || c == u'"'; });
        if (!needsQuotes) {
            text += arg;
            continue;
        }
        text += u'"';
        for (char16_t c : arg) {
            if (c == u'"') text += u'\\';
            text += c < 32 ? u'?' : c;
        }
        text += u'"';
    }
    return text;
}

std::u16string SafeSaveFileName(std::u16string_view suggested, std::u16string_view fallback) {
    std::u16string name;
    for (char16_t c : LastComponent(suggested))
        if (c >= 32 && c != 0x7F) name += c;
    name = TrimBlanks(name);
    if (name.empty() || name == u"." || name == u"..") return std::u16string(fallback);
    return name;
}

}  // namespace ql
