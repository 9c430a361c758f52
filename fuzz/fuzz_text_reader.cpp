// Runs the line parser over arbitrary bytes: every encoding the marks select,
// bookmarks back to the start, and the UTF-8 writer over what was read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/qlTextReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ql;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        TTextParser parser;
        parser.AttachStream(std::make_unique<TStringStream>(bytes));
        size_t total = 0;
        for (bool ok = parser.Start(); ok; ok = parser.NextLine()) {
            total += parser.Line().size();
            if (parser.LineEndKind() < kLineEndLF || parser.LineEndKind() > kLineEndNone)
                __builtin_trap();
        }
        // A second pass from the start bookmark must see the same text.
        size_t again = 0;
        for (bool ok = parser.Start(); ok; ok = parser.NextLine()) again += parser.Line().size();
        if (again != total) __builtin_trap();
    } catch (const Exception&) {
    }
    try {
        TStringStream stream(bytes);
        auto reader = OpenTextReader(stream);
        char16_t one[1];
        std::u16string text;
        // One character at a time exercises the split surrogate state.
        for (int i = 0; i < 64 && reader->Read(one, 1) == 1; ++i) text.push_back(one[0]);
        auto mark = reader->GetPosition();
        char16_t rest[64];
        const size_t n = reader->Read(rest, 64);
        reader->SetPosition(*mark);
        char16_t rest2[64];
        if (reader->Read(rest2, 64) != n) __builtin_trap();
        for (size_t i = 0; i < n; ++i)
            if (rest[i] != rest2[i]) __builtin_trap();
        TStringStream out;
        TUTF8Writer writer(out);
        writer.WriteText(text);
        writer.Detach();
    } catch (const Exception&) {
    }
    try {
        (void)Utf8ToUnicode(bytes);
    } catch (const Exception&) {
    }
    return 0;
}
