// Interim settings document: only what the package layer reads. The full
// settings document replaces this file.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TIniFile : public TObj {
public:
    bool LoadFromStream(TStream& stream);
    std::u16string ReadString(const std::u16string& section, const std::u16string& key,
                              const std::u16string& defaultValue);
    int32_t ReadInteger(const std::u16string& section, const std::u16string& key,
                        int32_t defaultValue);
    std::vector<std::u16string> SectionNames() const;
    std::vector<std::u16string> SectionLines(const std::u16string& section) const;

private:
    struct TSection {
        std::u16string Name;
        std::vector<std::u16string> Lines;
        std::unordered_map<std::u16string, std::u16string> Keys;
    };
    std::vector<TSection> m_sections;
    std::unordered_map<std::u16string, size_t> m_index;
};

}  // namespace ql
