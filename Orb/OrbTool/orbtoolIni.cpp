// orbtool ini: looks into a settings document the way the player reads it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr const char* kIniUsage =
    "usage: orbtool ini FILE                 print every section name, one per line\n"
    "       orbtool ini FILE SECTION KEY     print the key's value (exit 1 when absent)\n"
    "       orbtool ini --save FILE          parse FILE and write it back to stdout\n"
    "                                        as the settings document saves it\n"
    "Names are UTF-8 and compared without regard to case. Exit codes: 0 done,\n"
    "1 section or key not found, 2 unreadable or mis-encoded file, or bad usage.\n";

// Errors of this command name it.
int Fail(const std::string& message) { return tool::Fail("orbtool ini: " + message); }

void PutLine(const std::u16string& text) {
    const std::string bytes = ql::ToUtf8(text) + '\n';
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kIniUsage, stdout);
        return 0;
    }
    const bool save = !args.empty() && args[0] == "--save";
    if (save ? args.size() != 2 : (args.size() != 1 && args.size() != 3))
        return Fail("bad usage (try orbtool ini --help)");

    ql::TIniFile document;
    document.LoadFromFile(ql::FromUtf8(save ? args[1] : args[0]));

    if (save) {
        ql::TMemoryStream out;
        if (!document.SaveToStream(out)) return Fail("the document cannot be written as UTF-8");
        std::fwrite(out.Memory(), 1, static_cast<size_t>(out.GetSize()), stdout);
        return 0;
    }
    if (args.size() == 1) {
        for (const auto& name : document.SectionNames()) PutLine(name);
        return 0;
    }
    const ql::TIniSection* section = document.FindSection(ql::FromUtf8(args[1]));
    const ql::TIniIdent* key = section ? section->FindIdent(ql::FromUtf8(args[2])) : nullptr;
    if (!key) return 1;
    PutLine(key->Value());
    return 0;
}

}  // namespace

int RunIni(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const ql::EAssertionFailed&) {
        // Its text already went to the debug output, which is standard error.
        return 2;
    } catch (const ql::EFileOpenError& e) {
        return Fail("cannot open " + e.Message());
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

}  // namespace orb
