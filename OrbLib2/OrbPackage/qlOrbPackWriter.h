// Writes show packages: the inverse of TOrbUnpack. The publishing tool and the
// tests build their packages with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace orb {

// One directory entry as it will be written. Tests may edit the records before
// Finish to produce damaged directories.
struct TPackRecord {
    std::u16string Name;
    int64_t Position = 0;  // absolute position in the output, as written
    int64_t Size = 0;      // stored bytes
    int32_t Method = 0;
    bool WritePosition = true;
    bool WriteSize = true;
};

struct TPackFinishOptions {
    bool OldTrailer = false;  // end with ".dne" instead of the 20-byte trailer
    std::u16string OrbVersion = u"1.0.0.0";
    // Replaces the strucpos text (the directory position by default); an empty
    // text leaves the key out.
    std::optional<std::string> StrucPos;
    // Appended to the directory document as it is (UTF-8, CRLF lines).
    std::string ExtraDirectoryText;
};

class TOrbPackWriter : public ql::TObj {
public:
    // Writes at the stream's current position; positions recorded are
    // positions of that stream.
    explicit TOrbPackWriter(ql::TStream& out);

    // The player program: must be the first thing added.
    void AddPlayer(const std::u16string& name, ql::TStream& program);
    // Stores content from its current position to its end. Method 0 stores,
    // 1 deflates (raw), 2 scrambles with the package key. Raises EStreamError
    // for a name the directory cannot carry, a repeated name or an unknown
    // method. With storeWhenNotSmaller, a deflated entry that comes out no
    // smaller than its content (pictures and sounds, compressed already) is
    // stored instead; the record then says method 0.
    void AddEntry(const std::u16string& name, ql::TStream& content, int32_t method,
                  bool storeWhenNotSmaller = false);
    void AddEntry(const std::u16string& name, std::string_view bytes, int32_t method,
                  bool storeWhenNotSmaller = false);

    std::vector<TPackRecord>& Records() { return m_records; }

    // Writes the compressed directory and the trailer. Returns the directory
    // position.
    int64_t Finish(const TPackFinishOptions& options = {});

    // The directory document for the records, uncompressed.
    std::string DirectoryText(int64_t directoryPosition, const TPackFinishOptions& options) const;

private:
    void CheckName(const std::u16string& name) const;
    void CheckRange(const TPackRecord& record) const;
    // Copies content from its position to its end, scrambled for method 2.
    void CopyContent(ql::TStream& content, int32_t method);

    ql::TStream& m_out;
    std::vector<TPackRecord> m_records;
    bool m_finished = false;
};

}  // namespace orb
