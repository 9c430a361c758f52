#include "OrbLib2/OrbPackage/qlOrbUnpack.h"

#include <cstring>

#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"
#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlPartialStream.h"
#include "QlLib/qlZStreams.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

using ql::TStream;

namespace {
// Reads four bytes at `position` and compares them with the marker.
bool MarkerAt(TStream& stream, int64_t position) {
    char bytes[4];
    stream.SetPosition(position);
    return stream.Read(bytes, 4) == 4 && std::memcmp(bytes, kTrailerMarker.data(), 4) == 0;
}

int64_t Int64At(TStream& stream, int64_t position) {
    stream.SetPosition(position);
    return stream.ReadInt64();
}
}  // namespace

// ---- TUnpackStruc ----

TUnpackStruc::TUnpackStruc(TStream& document) : m_document(std::make_unique<ql::TIniFile>()) {
    m_document->LoadFromStream(document);
}

TUnpackStruc::~TUnpackStruc() = default;

// ---- TOrbUnpack ----

TOrbUnpack::TOrbUnpack() : m_key(kPackageKey), m_maxInflatedEntry(kMaxInflatedEntry) {}

TOrbUnpack::~TOrbUnpack() {
    Close();
}

void TOrbUnpack::Close() {
    m_directory.Reset();
    m_stream.reset();
    m_opener = nullptr;
}

TUnpackResult TOrbUnpack::Fail(TUnpackResult result) {
    Close();
    m_lastError = result == TUnpackResult::FileNotFound ? kFileNotFoundText : kFileDamagedText;
    return result;
}

TUnpackResult TOrbUnpack::Open(const std::u16string& fileName) {
    return Open(
        [fileName] {
            return std::make_unique<ql::TFileStream>(fileName, ql::TFileAccess::Read,
                                                     ql::kShareRead,
                                                     ql::TFileDisposition::OpenExisting);
        },
        fileName);
}

TUnpackResult TOrbUnpack::Open(TPackageOpener opener, const std::u16string& fileName) {
    Close();
    m_fileName = fileName;
    m_orbVersion.clear();
    m_lastError.clear();
    try {
        m_stream = opener();
    } catch (const ql::Exception&) {
        m_stream.reset();
    }
    if (!m_stream) return Fail(TUnpackResult::FileNotFound);
    m_opener = std::move(opener);
    TUnpackResult result;
    try {
        result = ReadTrailerAndDirectory();
    } catch (const ql::Exception&) {
        result = TUnpackResult::Damaged;
    }
    return result == TUnpackResult::Ok ? result : Fail(result);
}

// The trailer names where the directory was written; in the current form its
// last eight bytes also tell where they themselves were written, so that a
// package copied behind a program of another size still opens.
TUnpackResult TOrbUnpack::ReadTrailerAndDirectory() {
    TStream& file = *m_stream;
    const int64_t size = file.GetSize();
    m_fileSize = size;
    if (size < 4) return TUnpackResult::NoPackage;
    int64_t end = 0;
    int64_t shift = 0;
    if (MarkerAt(file, size - 4)) {
        end = size;
    } else if (size >= 12 && MarkerAt(file, size - 12)) {
        if (size < 20) return TUnpackResult::Damaged;
        end = size - 8;
        if (__builtin_sub_overflow(end, Int64At(file, end), &shift)) {
            return TUnpackResult::Damaged;
        }
    } else {
        return TUnpackResult::NoPackage;
    }
    if (end < 12) return TUnpackResult::Damaged;
    int64_t directory = 0;
    if (__builtin_add_overflow(Int64At(file, end - 12), shift, &directory)) {
        return TUnpackResult::Damaged;
    }
    if (directory < 0 || directory > end - 12) return TUnpackResult::Damaged;
    m_endPosition = end;
    m_shift = shift;
    m_directoryPosition = directory;

    ql::TMemoryStream document;
    {
        ql::TPartialStream window(file, directory, end - 12 - directory);
        ql::TInflator::Inflate(window, document, kMaxDirectorySize);
    }
    document.SetPosition(0);
    m_directory = ql::MakeRef<TUnpackStruc>(document);
    ql::TIniFile& ini = m_directory->Document();

    m_baseOffset = 0;
    const std::u16string strucPos = ini.ReadString(kProtectionSection, kStrucPosKey, u"");
    if (!strucPos.empty() && strucPos != ql::IntToStr(directory)) {
        const auto written = ql::TryStrToInt64(strucPos);
        if (!written || *written > directory) return TUnpackResult::Damaged;
        if (__builtin_sub_overflow(directory, *written, &m_baseOffset)) {
            return TUnpackResult::Damaged;
        }
    }
    m_orbVersion = ini.ReadString(kProtectionSection, kOrbVersionKey, u"");
    return TUnpackResult::Ok;
}

std::optional<TUnpackEntry> TOrbUnpack::FindEntry(const std::u16string& name) {
    if (!m_directory) return std::nullopt;
    const std::u16string section = EntrySectionName(name);
    int32_t position, size, method;
    {
        std::lock_guard<std::mutex> guard(m_lookupLock);
        ql::TIniFile& ini = m_directory->Document();
        position = ini.ReadInteger(section, kPositionKey, -1);
        size = ini.ReadInteger(section, kSizeKey, -1);
        method = ini.ReadInteger(section, kMethodKey, 0);
    }
    // Values come from the file: an entry is present only when its whole
    // range lies inside the file and its method is one we know.
    if (position == -1 || size == -1) return std::nullopt;
    TUnpackEntry entry;
    if (__builtin_add_overflow(int64_t(position), m_baseOffset, &entry.Position)) {
        return std::nullopt;
    }
    entry.Size = size;
    entry.Method = method;
    if (entry.Position < 0 || entry.Size < 0 || entry.Position > m_fileSize - entry.Size) {
        return std::nullopt;
    }
    if (method < kMethodStored || method > kMethodScrambled) return std::nullopt;
    return entry;
}

std::unique_ptr<TStream> TOrbUnpack::OpenEntry(const std::u16string& name) {
    const std::optional<TUnpackEntry> entry = FindEntry(name);
    if (!entry || !m_opener) return nullptr;
    std::unique_ptr<TStream> file;
    try {
        file = m_opener();
    } catch (const ql::Exception&) {
        return nullptr;
    }
    if (!file) return nullptr;
    auto window =
        std::make_unique<ql::TPartialStream>(std::move(file), entry->Position, entry->Size);
    switch (entry->Method) {
        case kMethodDeflate: {
            window->SetPosition(0);
            auto content = std::make_unique<ql::TMemoryStream>();
            ql::TInflator::Inflate(*window, *content, m_maxInflatedEntry);
            window.reset();
            const int64_t inflated = content->GetSize();
            auto whole = std::make_unique<ql::TPartialStream>(std::move(content), 0, inflated);
            whole->SetCallback(&LoadCallback, nullptr, kLoadCallbackChunk);
            return whole;
        }
        case kMethodScrambled: {
            window->SetCallback(&LoadCallback, nullptr, kLoadCallbackChunk);
            return std::make_unique<ql::TCryptStream>(std::move(window), m_key);
        }
        default:
            window->SetCallback(&LoadCallback, nullptr, kLoadCallbackChunk);
            return window;
    }
}

std::vector<std::u16string> TOrbUnpack::EntrySections() {
    std::vector<std::u16string> names;
    if (!m_directory) return names;
    std::lock_guard<std::mutex> guard(m_lookupLock);
    for (std::u16string& section : m_directory->Document().SectionNames()) {
        if (!ql::SameTextIgnoringCase(section, kProtectionSection))
            names.push_back(std::move(section));
    }
    return names;
}

}  // namespace orb
