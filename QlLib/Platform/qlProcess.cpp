#include "QlLib/Platform/qlProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "QlLib/qpStringUtils.h"

extern char** environ;

namespace ql {

namespace {

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() &&
           SameTextIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool IsRunnableFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Argument vector for posix_spawn: the strings live in storage.
std::vector<char*> ArgvPointers(std::vector<std::string>& storage) {
    std::vector<char*> pointers;
    pointers.reserve(storage.size() + 1);
    for (std::string& arg : storage) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the program with the arguments; the child's standard input reads
// from /dev/null so that it cannot steal the player's terminal input.
TLaunchResult SpawnProgram(const std::string& file, std::vector<std::string> args, pid_t& pid) {
    for (const std::string& arg : args)
        if (arg.find('\0') != std::string::npos) return TLaunchResult::Refused;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return TLaunchResult::Failed;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv = ArgvPointers(args);
    const int rc = ::posix_spawn(&pid, file.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) return TLaunchResult::Started;
    return rc == ENOENT || rc == EACCES || rc == ENOEXEC ? TLaunchResult::NotFound
                                                         : TLaunchResult::Failed;
}

TLaunchResult SpawnArgv(const std::vector<std::u16string>& argv, pid_t& pid) {
    if (argv.empty() || argv[0].empty()) return TLaunchResult::Refused;
    const std::u16string file = FindExecutable(argv[0]);
    if (file.empty()) return TLaunchResult::NotFound;
    std::vector<std::string> args;
    args.reserve(argv.size());
    for (const std::u16string& arg : argv) args.push_back(ToUtf8(arg));
    return SpawnProgram(ToUtf8(file), std::move(args), pid);
}

void SleepMs(int32_t ms) {
    struct timespec delay = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool IsOpenableUrl(std::u16string_view url) {
    std::u16string_view rest;
    if (StartsWithIgnoringCase(url, u"http://"))
        rest = url.substr(7);
    else if (StartsWithIgnoringCase(url, u"https://"))
        rest = url.substr(8);
    else if (StartsWithIgnoringCase(url, u"mailto:"))
        rest = url.substr(7);
    else
        return false;
    if (rest.empty() || url.size() > 8192) return false;
    for (char16_t c : url)
        if (c <= 0x20 || c == 0x7F) return false;
    return true;
}

bool IsOpenableDocument(std::u16string_view path) {
    // Kinds a viewer shows; anything else may be something the opener runs.
    static constexpr std::u16string_view kDocumentTypes[] = {
        u"pdf",  u"txt", u"rtf",  u"htm",  u"html", u"doc",  u"docx", u"xls",  u"xlsx", u"ppt",
        u"pptx", u"odt", u"ods",  u"odp",  u"csv",  u"epub", u"jpg",  u"jpeg", u"png",  u"gif",
        u"bmp",  u"tif", u"tiff", u"webp", u"mp3",  u"wav",  u"ogg",  u"flac", u"m4a",  u"mp4",
        u"m4v",  u"avi", u"mkv",  u"mov",  u"wmv",  u"mpg",  u"mpeg", u"webm"};
    if (path.size() < 2 || path.size() > 4096 || path[0] != u'/') return false;
    for (char16_t c : path)
        if (c < 0x20 || c == 0x7F) return false;
    const size_t slash = path.rfind(u'/');
    const size_t dot = path.rfind(u'.');
    if (dot == std::u16string_view::npos || dot < slash) return false;
    std::u16string extension(path.substr(dot + 1));
    for (char16_t& c : extension)
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    bool known = false;
    for (std::u16string_view type : kDocumentTypes) known = known || extension == type;
    if (!known) return false;
    struct stat info {};
    return ::stat(ToUtf8(std::u16string(path)).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

TLaunchResult TPosixLauncher::OpenDocument(const std::u16string& path) {
    if (!IsOpenableDocument(path)) return TLaunchResult::Refused;
    ReapFinished();
    const std::u16string opener = FindExecutable(u"xdg-open");
    if (opener.empty()) return TLaunchResult::NotFound;
    // An absolute path starts with "/": the opener cannot take it for an option.
    pid_t pid = 0;
    return SpawnProgram(ToUtf8(opener), {"xdg-open", ToUtf8(path)}, pid);
}

TLaunchResult TPosixLauncher::OpenUrl(const std::u16string& url) {
    if (!IsOpenableUrl(url)) return TLaunchResult::Refused;
    ReapFinished();
    const std::u16string opener = FindExecutable(u"xdg-open");
    if (opener.empty()) return TLaunchResult::NotFound;
    // The opener sees exactly one argument, an address; it cannot be taken
    // for an option because it starts with its scheme.
    pid_t pid = 0;
    return SpawnProgram(ToUtf8(opener), {"xdg-open", ToUtf8(url)}, pid);
}

TLaunchResult TPosixLauncher::Spawn(const std::vector<std::u16string>& argv) {
    ReapFinished();
    pid_t pid = 0;
    return SpawnArgv(argv, pid);
}

int32_t TPosixLauncher::SpawnAndWait(const std::vector<std::u16string>& argv,
                                     const std::function<bool()>& keepWaiting) {
    pid_t pid = 0;
    if (SpawnArgv(argv, pid) != TLaunchResult::Started) return -1;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (keepWaiting && !keepWaiting()) return -1;
        SleepMs(10);
    }
}

void TPosixLauncher::ReapFinished() {
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
}

std::u16string FindExecutable(const std::u16string& name) {
    if (name.empty()) return {};
    const std::string utf8 = ToUtf8(name);
    if (utf8.find('/') != std::string::npos) return IsRunnableFile(utf8) ? name : std::u16string();
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        // An empty entry means the working folder; a show must not be able to
        // run a file it dropped there by a bare name, so it is skipped.
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && folder[0] == '/') {
            const std::string candidate = folder + "/" + utf8;
            if (IsRunnableFile(candidate)) return FromUtf8(candidate);
        }
        start = end + 1;
    }
    return {};
}

std::u16string ResolvedPath(const std::u16string& path) {
    char buffer[PATH_MAX];
    if (::realpath(ToUtf8(path).c_str(), buffer)) return FromUtf8(buffer);
    return path;
}

std::u16string ScriptInterpreter(const std::u16string& file) {
    const int fd = ::open(ToUtf8(file).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 3 || buffer[0] != '#' || buffer[1] != '!') return {};
    std::string line(buffer + 2, static_cast<size_t>(got) - 2);
    line = line.substr(0, line.find('\n'));
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        size_t e = i;
        while (e < line.size() && line[e] != ' ' && line[e] != '\t' && line[e] != '\r') ++e;
        if (e > i) words.push_back(line.substr(i, e - i));
        i = e;
    }
    if (words.empty()) return u"#!";
    // "#!/usr/bin/env -S python3" and the like: the interpreter is the first
    // word after env that is no option.
    const std::string& first = words[0];
    const bool viaEnv = first.size() >= 3 && first.compare(first.size() - 3, 3, "env") == 0 &&
                        (first.size() == 3 || first[first.size() - 4] == '/');
    if (viaEnv)
        for (size_t k = 1; k < words.size(); ++k)
            if (words[k][0] != '-' && words[k].find('=') == std::string::npos)
                return FromUtf8(words[k]);
    return FromUtf8(first);
}

}  // namespace ql
