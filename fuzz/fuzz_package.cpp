// Opens the input as a package and reads every entry it lists.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/qpExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    orb::TOrbUnpack unpack;
    // Inflated entries are bounded lower than in the player to keep runs fast.
    unpack.SetMaxInflatedEntry(int64_t(8) << 20);
    if (unpack.Open([bytes] { return std::make_unique<ql::TStringStream>(*bytes); }, u"fuzz") !=
        orb::TUnpackResult::Ok) {
        return 0;
    }
    char buffer[4096];
    for (const std::u16string& name : unpack.EntrySections()) {
        try {
            std::unique_ptr<ql::TStream> stream = unpack.OpenEntry(name);
            if (!stream) continue;
            while (stream->Read(buffer, sizeof buffer) != 0) {
            }
        } catch (const ql::Exception&) {
        }
    }
    return 0;
}
