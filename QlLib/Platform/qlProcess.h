// Starting other programs and opening addresses. A show is untrusted, so
// nothing here goes through a shell: programs get an argument vector that the
// caller split, and the desktop's opener (xdg-open) only ever sees one http,
// https or mailto address as its single argument.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ql {

enum class TLaunchResult : uint8_t {
    Started,
    Refused,   // not an address we open, or an empty argument vector
    NotFound,  // the program file does not exist or may not be run
    Failed,    // the system could not start it
};

// True for an address with the scheme http://, https:// or mailto: (any case)
// and nothing in it that could be read as an option or a second argument
// (no leading "-", no control characters, no blanks).
bool IsOpenableUrl(std::u16string_view url);
// True for a document the desktop's opener may open: an absolute path to an
// existing regular file whose name ends in a document, picture, sound or
// video extension. Programs, scripts and launchers (".desktop", ".sh",
// ".exe"...) are never documents: the opener might run them.
bool IsOpenableDocument(std::u16string_view path);

class TProcessLauncher {
public:
    virtual ~TProcessLauncher() = default;

    // Opens the address with the desktop's opener; Refused unless
    // IsOpenableUrl(url).
    virtual TLaunchResult OpenUrl(const std::u16string& url) = 0;
    // Opens the document with the desktop's opener; Refused unless
    // IsOpenableDocument(path).
    virtual TLaunchResult OpenDocument(const std::u16string& path) = 0;
    // Starts argv[0] (a path, or a bare name looked up in PATH) with argv as
    // its arguments and does not wait for it.
    virtual TLaunchResult Spawn(const std::vector<std::u16string>& argv) = 0;
    // Starts argv like Spawn and waits until it ends, calling keepWaiting
    // about every 10 ms (false stops waiting; the child goes on by itself).
    // The child's exit code; -1 when it did not start, was killed by a
    // signal, or the wait was abandoned.
    virtual int32_t SpawnAndWait(const std::vector<std::u16string>& argv,
                                 const std::function<bool()>& keepWaiting) = 0;
};

// The real launcher: posix_spawn for programs, xdg-open for addresses.
// Children do not inherit the player's standard input.
class TPosixLauncher : public TProcessLauncher {
public:
    TLaunchResult OpenUrl(const std::u16string& url) override;
    TLaunchResult OpenDocument(const std::u16string& path) override;
    TLaunchResult Spawn(const std::vector<std::u16string>& argv) override;
    int32_t SpawnAndWait(const std::vector<std::u16string>& argv,
                         const std::function<bool()>& keepWaiting) override;

    // Reaps children that ended, so that programs started with Spawn do not
    // linger as zombies; called by Spawn itself.
    static void ReapFinished();
};

// The executable file a program name stands for: a name with a "/" is taken
// as a path (relative names against the working folder); a bare name is
// looked up in the folders of PATH. Empty when there is no runnable regular
// file.
std::u16string FindExecutable(const std::u16string& name);

// The final target of a path after following every link; the path itself
// when it cannot be resolved.
std::u16string ResolvedPath(const std::u16string& path);

// The interpreter a script file names on its "#!" line (the program after
// "env" when the line goes through env); empty when the file is no script or
// cannot be read.
std::u16string ScriptInterpreter(const std::u16string& file);

}  // namespace ql
