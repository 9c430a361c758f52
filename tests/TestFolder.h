// A fresh temporary folder per test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "QlLib/qpStringUtils.h"

namespace ql::test {

class TTestFolder {
public:
    TTestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbtest-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~TTestFolder() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::u16string WideFile(const std::string& name) const { return FromUtf8(File(name)); }

private:
    std::string m_path;
};

}  // namespace ql::test
