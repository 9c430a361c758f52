// orbtool: small developer commands over shows and their documents. Each
// subcommand lives in a file of its own; this table is all that main knows.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "QlLib/Graphics/qlGifDecoder.h"

namespace {

struct TSubcommand {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

const TSubcommand kSubcommands[] = {
    {"ini", "list sections, read a key or re-save a settings document", orb::RunIni},
    {"pack", "write a player file from a project and its files", orb::RunPack},
    {"ls", "list the entries of a show's package", orb::RunLs},
    {"cat", "write one entry of a show's package to standard output", orb::RunCat},
    {"timeline", "print a show's slides with their times and transitions", orb::RunTimeline},
    {"at", "print the slide that covers a show time", orb::RunAt},
    {"decode", "decode a picture with the player's decoders, optionally to PNG", orb::RunDecode},
    {"sound", "print a sound's media information, or decode it to WAV", orb::RunSound},
    {"audio", "render a show's music through the music player to WAV", orb::RunAudio},
    {"composite", "mix a composite music text to WAV, or print what a show's music compiles to",
     orb::RunComposite},
    {"video", "print a clip's stream information, or write one of its frames as PNG",
     orb::RunVideo},
    {"text", "render a text (and its shadow) with the text producer into a PNG", orb::RunText},
    {"mask", "write a preset soft-edged mask as PNG", orb::RunMask},
    {"button", "make one face of a button theme with the button producer and write it as PNG",
     orb::RunButton},
    {"navbar",
     "lay out and draw one navigation bar from its definition file, print its layout as JSON",
     orb::RunNavbar},
    {"overlay", "build a show's overlay and steer it with a script on a virtual clock",
     orb::RunOverlay},
    {"draw-test", "draw a fixed test scene through the drawer and write the frame as PNG",
     orb::RunDrawTest},
    {"render", "play a show on a virtual clock and write its frames and music", orb::RunRender},
    {"objects", "print where every shown object of a show lies at a show time, as JSON lines",
     orb::RunObjects},
    {"hit", "print the object that a screen point falls on at a show time", orb::RunHit},
    {"macros", "print a text with its macros replaced as a text on a slide shows it",
     orb::RunMacros},
    {"frame", "render a show at a show time and write the frame as PNG", orb::RunFrame},
    {"effect", "draw frames of a transition effect between two test slides as PNG", orb::RunEffect},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: orbtool COMMAND [ARGS...]\n"
                 "       orbtool COMMAND --help\n\ncommands:\n");
    for (const auto& command : kSubcommands)
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "orbtool: missing command (try orbtool --help)\n");
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    // Animated GIFs decode as animations, as the player shows them.
    ql::TGifAnimationScope gifAnimation(true);
    for (const auto& command : kSubcommands)
        if (name == command.name)
            return command.run(std::vector<std::string>(argv + 2, argv + argc));
    std::fprintf(stderr, "orbtool: unknown command '%s' (try orbtool --help)\n", name.c_str());
    return 2;
}
