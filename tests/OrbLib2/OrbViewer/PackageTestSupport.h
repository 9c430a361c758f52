// Helpers of the package tests: a per-test folder and packages built with the
// package writer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb::test {

// A fresh folder, removed with everything in it at the end of the test.
class TTestFolder {
public:
    TTestFolder() {
        int error = 0;
        m_path = ql::platform::CreateUniqueFolder(ql::platform::TempBaseFolder(), &error);
    }
    ~TTestFolder() { ql::TFileAPI::RemoveTree(m_path); }
    const std::u16string& Path() const { return m_path; }
    std::u16string File(const std::string& name) const {
        return m_path + u"/" + ql::FromUtf8(name);
    }

private:
    std::u16string m_path;
};

inline void WriteBytes(const std::u16string& fileName, const std::string& bytes) {
    ql::TFileStream f(fileName, ql::TFileAccess::Write, 0, ql::TFileDisposition::CreateAlways);
    f.WriteBuffer(bytes.data(), bytes.size());
}

inline std::string ReadBytes(const std::u16string& fileName) {
    ql::TFileStream f(fileName, ql::TFileAccess::Read, ql::kShareRead,
                      ql::TFileDisposition::OpenExisting);
    std::string bytes(static_cast<size_t>(f.GetSize()), '\0');
    f.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

inline std::string ReadAll(ql::TStream& stream) {
    std::string result;
    char buffer[4096];
    while (size_t got = stream.Read(buffer, sizeof buffer)) result.append(buffer, got);
    return result;
}

// Deterministic, poorly compressible bytes.
inline std::string Noise(size_t n, uint32_t seed = 1) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}

struct TTestEntry {
    std::u16string Name;
    std::string Data;
    int32_t Method = 0;
};

// Builds a package in memory: optional player bytes, the entries, then the
// directory and trailer. `edit` may change the records before the directory
// is written.
inline std::string BuildPackage(const std::string& player, const std::vector<TTestEntry>& entries,
                                const TPackFinishOptions& options = {},
                                const std::function<void(std::vector<TPackRecord>&)>& edit = {}) {
    ql::TStringStream out;
    TOrbPackWriter writer(out);
    if (!player.empty()) {
        ql::TStringStream program(player);
        writer.AddPlayer(u"orbviewer", program);
    }
    for (const TTestEntry& entry : entries) writer.AddEntry(entry.Name, entry.Data, entry.Method);
    if (edit) edit(writer.Records());
    writer.Finish(options);
    return out.DataString();
}

}  // namespace orb::test
