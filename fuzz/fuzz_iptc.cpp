// Reads the input as the Photoshop resources of an APP13 segment and as bare
// IIM datasets, and turns the values into text both ways.
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlImageMetadata.h"
#include "QlLib/qpStringUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const ql::TIptcText& text :
         {ql::ParsePhotoshopIptc(data, size), ql::ParseIimDatasets(data, size)}) {
        for (const auto& [dataset, value] : text.Values) {
            // A value is cut from the input: never longer than it.
            if (value.size() > size) __builtin_trap();
            (void)ql::FromUtf8(value);
            (void)ql::CodePageToWide(value, ql::AnsiCodePage());
        }
    }
    return 0;
}
