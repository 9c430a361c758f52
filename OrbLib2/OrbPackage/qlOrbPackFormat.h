// Fixed names and numbers of the show package, shared by its reader and writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orb {

// Method 2 XORs with these 32 characters, used as key bytes.
inline constexpr std::string_view kPackageKey = "5E3F0A7C19D24B8E96A1C3D5F7082B4E";
inline constexpr std::string_view kTrailerMarker = ".dne";

inline constexpr char16_t kProtectionSection[] = u"$protection$";
inline constexpr char16_t kStrucPosKey[] = u"strucpos";
inline constexpr char16_t kOrbVersionKey[] = u"orbversion";
inline constexpr char16_t kPositionKey[] = u"_ps";
inline constexpr char16_t kSizeKey[] = u"_sz";
inline constexpr char16_t kMethodKey[] = u"_pm";
inline constexpr char16_t kProjectEntry[] = u"Project.orb";

enum TPackMethod : int32_t {
    kMethodStored = 0,
    kMethodDeflate = 1,
    kMethodScrambled = 2,
};

// Limits on what a package may make us allocate. A show's largest files are
// video clips, which are stored, not inflated; 512 MB covers any inflated entry.
inline constexpr int64_t kMaxInflatedEntry = int64_t(512) * 1024 * 1024;
inline constexpr int64_t kMaxDirectorySize = int64_t(64) * 1024 * 1024;

// The settings syntax cannot carry brackets in a section name.
inline std::u16string EntrySectionName(std::u16string_view name) {
    std::u16string section(name);
    for (char16_t& c : section) {
        if (c == u'[') c = u'<';
        if (c == u']') c = u'>';
    }
    return section;
}

}  // namespace orb
