// orbtool audio: the music of a show alone, played by the music player on the
// offline output over a span of show time and written as 16-bit stereo
// 44100 Hz WAV. The same player drives the show's sound, so what is written
// is what the show plays.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbMusicPlayer2.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

const char kAudioHelp[] =
    "usage: orbtool audio SHOW [--from MS] [--to MS] -o OUT.wav\n"
    "  Plays the show's music alone through the music player, from --from\n"
    "  (default 0) to --to (default the end of the show) in show milliseconds,\n"
    "  and writes it as 16-bit stereo 44100 Hz WAV.\n";

int Fail(const std::string& message) {
    return tool::Fail("orbtool audio: " + message);
}

}  // namespace

int RunAudio(const std::vector<std::string>& args) {
    std::string file, out;
    double from = 0, to = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kAudioHelp, stdout);
            return 0;
        }
        const bool hasValue = i + 1 < args.size();
        if (arg == "--from" && hasValue) {
            if (!tool::ParseMs(args[++i], from)) return Fail("bad --from value");
        } else if (arg == "--to" && hasValue) {
            if (!tool::ParseMs(args[++i], to)) return Fail("bad --to value");
        } else if (arg == "-o" && hasValue) {
            out = args[++i];
        } else if (file.empty() && !arg.empty() && arg[0] != '-') {
            file = arg;
        } else {
            std::fputs(kAudioHelp, stderr);
            return tool::kExitError;
        }
    }
    if (file.empty() || out.empty()) {
        std::fputs(kAudioHelp, stderr);
        return tool::kExitError;
    }

    TShowOpenResult opened = OpenShow(ql::FromUtf8(file));
    if (!opened.Locator) return Fail(ql::ToUtf8(opened.Error));
    TOrbShowLocator& show = *opened.Locator;
    try {
        TOrbSource& source = ShowSource(show);
        if (to < 0) to = source.TotalTime();
        if (to < from) return Fail("--to lies before --from");
        // A WAV file counts its bytes in 32 bits.
        const int64_t frames = std::llround((to - from) * 44.1);
        if (frames > int64_t(UINT32_MAX / 4 - 64)) return Fail("span too long for a WAV file");

        TMusicPlayerOptions options;
        options.Deterministic = true;
        options.OpenEntry = [&show](const std::u16string& name) {
            return show.Accessor().OpenStream(name);
        };
        TOrbMusicPlayer player(source, std::move(options));

        ql::TFileStream wav(ql::FromUtf8(out), ql::TFileAccess::Write, ql::kShareNone,
                            ql::TFileDisposition::CreateAlways);
        std::vector<uint8_t> header = ql::WavHeader(0);
        wav.WriteBuffer(header.data(), header.size());

        player.Seek(from);
        player.Step();
        player.Run(true);
        // Steps of 5 ms: 220 and 221 frames in turn.
        std::vector<int16_t> block(2 * 221);
        int64_t written = 0;
        for (int64_t step = 0; written < frames; ++step) {
            player.Step();
            const size_t want = size_t(std::min<int64_t>(step % 2 ? 221 : 220, frames - written));
            const size_t got = player.Render(block.data(), want);
            if (got == 0) break;
            wav.WriteBuffer(block.data(), got * 4);
            written += int64_t(got);
        }
        player.Close();
        wav.SetPosition(0);
        header = ql::WavHeader(uint32_t(written * 4));
        wav.WriteBuffer(header.data(), header.size());
        if (written < frames)
            return Fail("the output stopped after " + std::to_string(written) + " frames");
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    }
    return 0;
}

}  // namespace orb
