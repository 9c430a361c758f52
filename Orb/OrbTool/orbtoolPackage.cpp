// orbtool pack, ls and cat: build a player file and look inside one.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {
using tool::Fail;
using tool::kExitError;

std::unique_ptr<ql::TFileStream> OpenRead(const std::u16string& name) {
    return std::make_unique<ql::TFileStream>(name, ql::TFileAccess::Read, ql::kShareRead,
                                             ql::TFileDisposition::OpenExisting);
}

// Opens the package of SHOW or reports why not.
int OpenPackage(const std::string& show, TOrbUnpack& unpack) {
    const TUnpackResult result = unpack.Open(ResolvePackageFile(ql::FromUtf8(show)));
    return result == TUnpackResult::Ok ? 0 : Fail(unpack.LastError());
}

const char kPackHelp[] =
    "usage: orbtool pack -o OUT [--player FILE] [--method 0|1|2] [--old-trailer]\n"
    "                    [--orbversion TEXT] PROJECT [NAME=PATH | PATH]...\n"
    "Writes a player file: the player program (default: orbviewer next to orbtool;\n"
    "--player /dev/null for a bare package), PROJECT stored as \"Project.orb\", then\n"
    "each file under NAME (or under its own path), the directory and the trailer.\n"
    "--method sets the storage of the files: 0 stored, 1 deflated (a file that\n"
    "would not shrink is stored), 2 scrambled.\n";

const char kLsHelp[] =
    "usage: orbtool ls SHOW\n"
    "Lists the package's entries in directory order: name, method, position and\n"
    "stored size, tab-separated; then the package version.\n";

const char kCatHelp[] =
    "usage: orbtool cat SHOW NAME\n"
    "Writes the content of entry NAME to standard output.\n";
}  // namespace

int RunPack(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kPackHelp, stdout);
        return 0;
    }
    std::string out, player, orbVersion = "1.0.0.0";
    int32_t method = kMethodDeflate;
    bool oldTrailer = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            return i + 1 < args.size() ? &args[++i] : nullptr;
        };
        if (arg == "-o" || arg == "--player" || arg == "--method" || arg == "--orbversion") {
            const std::string* v = value();
            if (!v) return Fail("orbtool pack: " + arg + " needs a value");
            if (arg == "-o") out = *v;
            if (arg == "--player") player = *v;
            if (arg == "--orbversion") orbVersion = *v;
            if (arg == "--method") {
                if (*v != "0" && *v != "1" && *v != "2")
                    return Fail("orbtool pack: bad method " + *v);
                method = std::stoi(*v);
            }
        } else if (arg == "--old-trailer") {
            oldTrailer = true;
        } else if (arg.size() > 1 && arg[0] == '-' && positional.empty()) {
            return Fail("orbtool pack: unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (out.empty() || positional.empty()) {
        std::fputs(kPackHelp, stderr);
        return kExitError;
    }
    std::u16string playerName =
        player.empty() ? ql::platform::FolderOf(ql::TFileAPI::ProgramFileName()) + u"/orbviewer"
                       : ql::FromUtf8(player);
    if (!ql::TFileAPI::FileExists(playerName) && playerName != u"/dev/null") {
        return Fail("player not found: " + ql::ToUtf8(playerName));
    }
    const std::u16string outName = ql::FromUtf8(out);
    try {
        ql::TFileStream output(outName, ql::TFileAccess::Write, 0,
                               ql::TFileDisposition::CreateAlways);
        TOrbPackWriter writer(output);
        {
            auto program = OpenRead(playerName);
            if (program->GetSize() > 0) {
                const size_t slash = playerName.find_last_of(u'/');
                writer.AddPlayer(
                    slash == std::u16string::npos ? playerName : playerName.substr(slash + 1),
                    *program);
            }
        }
        writer.AddEntry(kProjectEntry, *OpenRead(ql::FromUtf8(positional[0])), kMethodDeflate);
        for (size_t i = 1; i < positional.size(); ++i) {
            // NAME=PATH when the text after the last "=" is a file; else a bare PATH.
            std::u16string name = ql::FromUtf8(positional[i]);
            std::u16string path = name;
            const size_t equals = name.find_last_of(u'=');
            if (equals != std::u16string::npos &&
                ql::TFileAPI::FileExists(name.substr(equals + 1)) &&
                !ql::TFileAPI::FileExists(name)) {
                path = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
            if (!ql::TFileAPI::FileExists(path)) return Fail("file not found: " + ql::ToUtf8(path));
            // JPEGs, PNGs and sounds do not shrink: they are stored rather than
            // made larger.
            writer.AddEntry(name, *OpenRead(path), method, true);
        }
        TPackFinishOptions options;
        options.OldTrailer = oldTrailer;
        options.OrbVersion = ql::FromUtf8(orbVersion);
        writer.Finish(options);
    } catch (const ql::Exception& e) {
        ql::TFileAPI::DeleteFile(outName);
        return Fail("orbtool pack: " + e.Message());
    }
    if (ql::platform::IsExecutableFile(playerName)) ql::platform::MakeExecutable(outName);
    return 0;
}

int RunLs(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kLsHelp, stdout);
        return 0;
    }
    if (args.size() != 1) {
        std::fputs(kLsHelp, stderr);
        return kExitError;
    }
    TOrbUnpack unpack;
    if (int rc = OpenPackage(args[0], unpack)) return rc;
    for (const std::u16string& section : unpack.EntrySections()) {
        const std::optional<TUnpackEntry> entry = unpack.FindEntry(section);
        if (!entry) continue;
        std::printf("%s\t%d\t%lld\t%lld\n", ql::ToUtf8(section).c_str(), entry->Method,
                    static_cast<long long>(entry->Position), static_cast<long long>(entry->Size));
    }
    std::printf("orbversion\t%s\n", ql::ToUtf8(unpack.OrbVersion()).c_str());
    return 0;
}

int RunCat(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kCatHelp, stdout);
        return 0;
    }
    if (args.size() != 2) {
        std::fputs(kCatHelp, stderr);
        return kExitError;
    }
    TOrbUnpack unpack;
    if (int rc = OpenPackage(args[0], unpack)) return rc;
    try {
        std::unique_ptr<ql::TStream> stream = unpack.OpenEntry(ql::FromUtf8(args[1]));
        if (!stream) return Fail("entry not found: " + args[1]);
        char buffer[32768];
        while (size_t got = stream->Read(buffer, sizeof buffer)) {
            if (std::fwrite(buffer, 1, got, stdout) != got) return Fail("orbtool cat: write error");
        }
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    }
    return std::fflush(stdout) == 0 ? 0 : Fail("orbtool cat: write error");
}

}  // namespace orb
