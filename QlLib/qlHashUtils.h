// Hash of 16-bit names, shared by the hash lists and the settings document.
#pragma once

#include <cstdint>
#include <string_view>

namespace ql {

// ELF hash over the low byte of each 16-bit unit.
inline uint32_t ElfHash(std::u16string_view key) {
    uint32_t h = 0;
    for (char16_t unit : key) {
        h = (h << 4) + (unit & 0xFFu);
        if (h >= 0x10000000u) h = (h ^ ((h >> 28) << 4)) & 0x0FFFFFFFu;
    }
    return h;
}

}  // namespace ql
