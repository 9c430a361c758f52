// orbtool: inspects and builds show files from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "Orb/OrbTool/orbtoolCommands.h"

namespace {
void Usage(std::FILE* out) {
    std::fputs(
        "usage: orbtool COMMAND [ARGS]\n"
        "commands:\n"
        "  pack   write a player file from a project and its files\n"
        "  ls     list the entries of a show's package\n"
        "  cat    write one entry of a show's package to standard output\n"
        "Run 'orbtool COMMAND --help' for the arguments of a command.\n",
        out);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    const orb::tool::TArgs args(argv + 2, argv + argc);
    if (command == "pack") return orb::tool::RunPack(args);
    if (command == "ls") return orb::tool::RunLs(args);
    if (command == "cat") return orb::tool::RunCat(args);
    if (command == "--help" || command == "-h") {
        Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "orbtool: unknown command '%s'\n", command.c_str());
    Usage(stderr);
    return 2;
}
