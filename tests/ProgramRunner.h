// Runs one of the built programs with arguments and collects its exit code,
// standard output and standard error.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

// `arguments` is shell text; quote file names with ShellQuote.
inline TProgramRun RunProgram(const TTestFolder& folder, const std::string& program,
                              const std::string& arguments) {
    const std::string out = folder.File(".run-stdout");
    const std::string err = folder.File(".run-stderr");
    const std::string command = ShellQuote(program) + " " + arguments + " </dev/null >" +
                                ShellQuote(out) + " 2>" + ShellQuote(err);
    const int status = std::system(command.c_str());
    TProgramRun run;
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = ReadTextFile(out);
    run.Err = ReadTextFile(err);
    return run;
}

}  // namespace ql::test
