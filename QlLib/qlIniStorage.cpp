#include "QlLib/qlIniStorage.h"

#include "QlLib/qpStringUtils.h"

namespace ql {

bool TIniFile::LoadFromStream(TStream& stream) {
    m_sections.clear();
    m_index.clear();
    std::string bytes;
    char buffer[4096];
    while (size_t got = stream.Read(buffer, sizeof buffer)) bytes.append(buffer, got);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    const std::u16string text = FromUtf8(bytes);
    size_t start = 0;
    TSection* current = nullptr;
    while (start < text.size()) {
        size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string line = text.substr(start, end - start);
        start = end + (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n' ? 2 : 1);
        const std::u16string trimmed = TrimBlanks(line);
        if (!trimmed.empty() && trimmed[0] == u'[') {
            const size_t close = trimmed.find(u']');
            if (close != std::u16string::npos && close > 1) {
                m_sections.push_back({TrimBlanks(trimmed.substr(1, close - 1)), {}, {}});
                current = &m_sections.back();
                m_index[LowerCase(current->Name)] = m_sections.size() - 1;
                continue;
            }
        }
        if (!current) continue;
        current->Lines.push_back(line);
        if (trimmed.empty() || trimmed[0] == u';') continue;
        const size_t equals = trimmed.find(u'=');
        if (equals == std::u16string::npos || equals == 0) continue;
        current->Keys[LowerCase(TrimBlanks(trimmed.substr(0, equals)))] =
            TrimBlanks(trimmed.substr(equals + 1));
    }
    return true;
}

std::u16string TIniFile::ReadString(const std::u16string& section, const std::u16string& key,
                                    const std::u16string& defaultValue) {
    auto s = m_index.find(LowerCase(section));
    if (s == m_index.end()) return defaultValue;
    const auto& keys = m_sections[s->second].Keys;
    auto k = keys.find(LowerCase(key));
    return k == keys.end() ? defaultValue : k->second;
}

int32_t TIniFile::ReadInteger(const std::u16string& section, const std::u16string& key,
                              int32_t defaultValue) {
    return StrToIntDef(ReadString(section, key, u""), defaultValue);
}

std::vector<std::u16string> TIniFile::SectionNames() const {
    std::vector<std::u16string> names;
    for (const TSection& s : m_sections) names.push_back(s.Name);
    return names;
}

std::vector<std::u16string> TIniFile::SectionLines(const std::u16string& section) const {
    auto s = m_index.find(LowerCase(section));
    return s == m_index.end() ? std::vector<std::u16string>() : m_sections[s->second].Lines;
}

}  // namespace ql
