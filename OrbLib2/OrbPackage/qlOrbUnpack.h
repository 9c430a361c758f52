// The package reader: finds the package appended to a player file, reads its
// directory and opens its entries as streams.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace ql {
class TIniFile;
}

namespace orb {

inline constexpr char16_t kFileNotFoundText[] = u"Slideshow File not Found";
inline constexpr char16_t kFileDamagedText[] = u"Slide-show File Damaged";

enum class TUnpackResult {
    Ok,
    FileNotFound,  // the player file cannot be opened
    NoPackage,     // no ".dne" marker at either place
    Damaged,       // a marker, but the trailer or directory does not hold
};

// A present entry: its range lies inside the file and its method is known.
struct TUnpackEntry {
    int64_t Position = 0;  // corrected: where the bytes are now
    int64_t Size = 0;
    int32_t Method = 0;
};

// The package directory as a settings document.
class TUnpackStruc : public ql::TRefObj {
public:
    // Parses the whole of the (inflated) document.
    explicit TUnpackStruc(ql::TStream& document);
    ~TUnpackStruc() override;

    ql::TIniFile& Document() { return *m_document; }

private:
    std::unique_ptr<ql::TIniFile> m_document;
};

// Gives a new stream over the package's bytes on every call, so that each open
// entry reads with its own position (its own file handle for files).
using TPackageOpener = std::function<std::unique_ptr<ql::TStream>()>;

class TOrbUnpack : public ql::TObj {
public:
    TOrbUnpack();
    ~TOrbUnpack() override;

    // Opens a player file and runs the trailer search.
    TUnpackResult Open(const std::u16string& fileName);
    // The same over any bytes: the opener's first stream is kept as the
    // reader's own; later ones serve the entries.
    TUnpackResult Open(TPackageOpener opener, const std::u16string& fileName);
    // Releases the directory and the file.
    void Close();
    bool IsOpen() const { return m_stream != nullptr; }

    // Nothing when the entry is absent: no section, _ps or _sz missing, a
    // range outside the file or an unknown method.
    std::optional<TUnpackEntry> FindEntry(const std::u16string& name);
    // Nothing when the entry is absent. Raises EStreamError when its content
    // is damaged or inflates past the entry limit.
    std::unique_ptr<ql::TStream> OpenEntry(const std::u16string& name);
    // Section names of the directory in document order, "$protection$" left
    // out. Brackets in names read as "<" and ">".
    std::vector<std::u16string> EntrySections();

    const std::u16string& FileName() const { return m_fileName; }
    const std::u16string& OrbVersion() const { return m_orbVersion; }
    // "Slideshow File not Found", "Slide-show File Damaged", or empty.
    const std::u16string& LastError() const { return m_lastError; }
    int64_t FileSize() const { return m_fileSize; }
    int64_t EndPosition() const { return m_endPosition; }
    int64_t Shift() const { return m_shift; }
    int64_t DirectoryPosition() const { return m_directoryPosition; }
    int64_t BaseOffset() const { return m_baseOffset; }

    // Inflated entries larger than this raise EStreamError (512 MB unless set).
    void SetMaxInflatedEntry(int64_t limit) { m_maxInflatedEntry = limit; }

private:
    TUnpackResult Fail(TUnpackResult result);
    TUnpackResult ReadTrailerAndDirectory();

    // Entries are looked up from several sources and threads; the document's
    // lookups are not safe to run side by side.
    std::mutex m_lookupLock;
    std::unique_ptr<ql::TStream> m_stream;
    TPackageOpener m_opener;
    int64_t m_fileSize = 0;
    int64_t m_endPosition = 0;
    int64_t m_shift = 0;
    int64_t m_directoryPosition = 0;
    int64_t m_baseOffset = 0;
    ql::TRef<TUnpackStruc> m_directory;
    std::u16string m_fileName;
    std::u16string m_orbVersion;
    std::u16string m_lastError;
    std::string m_key;
    int64_t m_maxInflatedEntry;
};

}  // namespace orb
