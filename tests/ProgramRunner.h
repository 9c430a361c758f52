// Runs one of the built programs with arguments and collects its exit code,
// standard output and standard error.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"

namespace ql::test {

struct TProgramRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// `arguments` is shell text; quote file names with ShellQuote. The captured
// output is staged in `scratchFolder`. A signal that ended the program reads
// as 128 + the signal.
inline TProgramRun RunProgram(const std::string& scratchFolder, const std::string& program,
                              const std::string& arguments) {
    const std::string out = scratchFolder + "/.run-stdout";
    const std::string err = scratchFolder + "/.run-stderr";
    const std::string command = ShellQuote(program) + " " + arguments + " </dev/null >" +
                                ShellQuote(out) + " 2>" + ShellQuote(err);
    const int status = std::system(command.c_str());
    TProgramRun run;
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = ReadTextFile(out);
    run.Err = ReadTextFile(err);
    return run;
}

inline TProgramRun RunProgram(const TTestFolder& folder, const std::string& program,
                              const std::string& arguments) {
    return RunProgram(folder.Path(), program, arguments);
}

// The same with each argument quoted.
inline TProgramRun RunProgram(const std::string& scratchFolder, const std::string& program,
                              const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += (text.empty() ? "" : " ") + ShellQuote(argument);
    return RunProgram(scratchFolder, program, text);
}

}  // namespace ql::test
