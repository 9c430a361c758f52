// orbtool sound: the media information the player computes for a sound, and
// with -o the decoded range as 16-bit stereo 44100 Hz WAV, made by the same
// converters the player uses.
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/Music/WavConverters.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

const char kSoundHelp[] =
    "usage: orbtool sound FILE [--from MS] [--to MS] [-o OUT.wav]\n"
    "  Prints format, rate, channels, data size and length in ms, tab-separated.\n"
    "  FILE may be SHOW:NAME for an entry of a show's package.\n"
    "  -o writes the range as 16-bit stereo 44100 Hz WAV.\n";

// Errors of this command name it.
int Fail(const std::string& message) {
    return tool::Fail("orbtool sound: " + message);
}

bool ParseMs(const std::string& text, double& ms) {
    const std::optional<double> value = ql::TryStrToFloat(ql::FromUtf8(text));
    if (!value || !(*value >= 0)) return false;
    ms = *value;
    return true;
}

}  // namespace

int RunSound(const std::vector<std::string>& args) {
    std::string file, out;
    double from = 0, to = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kSoundHelp, stdout);
            return 0;
        }
        const bool hasValue = i + 1 < args.size();
        if (arg == "--from" && hasValue) {
            if (!ParseMs(args[++i], from)) return Fail("bad --from value");
        } else if (arg == "--to" && hasValue) {
            if (!ParseMs(args[++i], to)) return Fail("bad --to value");
        } else if (arg == "-o" && hasValue) {
            out = args[++i];
        } else if (file.empty() && !arg.empty() && arg[0] != '-') {
            file = arg;
        } else {
            std::fputs(kSoundHelp, stderr);
            return tool::kExitError;
        }
    }
    if (file.empty()) {
        std::fputs(kSoundHelp, stderr);
        return tool::kExitError;
    }

    // SHOW:NAME opens a package entry through the show's file accessor.
    std::unique_ptr<TOrbShowLocator> show;
    std::u16string name = ql::FromUtf8(file);
    const size_t colon = file.find(':');
    if (!ql::TFileAPI::FileExists(name) && colon != std::string::npos && colon > 0) {
        TShowOpenResult opened = OpenShow(ql::FromUtf8(file.substr(0, colon)));
        if (!opened.Locator) return Fail(ql::ToUtf8(opened.Error));
        show = std::move(opened.Locator);
        name = ql::FromUtf8(file.substr(colon + 1));
        TOrbShowLocator* locator = show.get();
        ql::TStreamWrapperClass::Instance().SetCallbacks(
            [locator](const std::u16string& entry) {
                return locator->Accessor().OpenStream(entry);
            },
            nullptr);
    }

    std::unique_ptr<ql::TConverterSource> source;
    try {
        source = ql::OpenConverterSource(name);
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    }
    if (!source) {
        ql::TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr);
        return Fail("cannot play " + file);
    }
    const ql::TMediaInfo& info = source->Info();
    std::printf("%s\t%u\t%u\t%lld\t%lld\n", ql::MediaTypeName(info.MediaType),
                info.Format.SamplesPerSec, unsigned(info.Format.Channels),
                static_cast<long long>(info.DataSize), static_cast<long long>(info.LengthMs));
    int rc = 0;
    if (!out.empty()) {
        if (to < 0) to = double(info.LengthMs);
        const int64_t frames = std::max<int64_t>(0, std::llround((to - from) * 44.1));
        try {
            ql::TFileStream wav(ql::FromUtf8(out), ql::TFileAccess::Write, ql::kShareNone,
                                ql::TFileDisposition::CreateAlways);
            const std::vector<uint8_t> header = ql::WavHeader(0);
            wav.WriteBuffer(header.data(), header.size());
            source->Seek(from);
            std::vector<int16_t> block(2 * 4410);
            int64_t written = 0;
            while (written < frames) {
                const size_t want = size_t(std::min<int64_t>(4410, frames - written));
                const size_t got = source->Read(block.data(), want);
                if (got == 0) break;
                wav.WriteBuffer(block.data(), got * 4);
                written += int64_t(got);
            }
            wav.SetPosition(0);
            const std::vector<uint8_t> final = ql::WavHeader(uint32_t(written * 4));
            wav.WriteBuffer(final.data(), final.size());
        } catch (const ql::Exception& e) {
            rc = Fail(e.Message());
        }
    }
    source.reset();
    ql::TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr);
    return rc;
}

}  // namespace orb
