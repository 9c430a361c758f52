#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"

#include <limits>
#include <vector>

#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "QlLib/qlPartialStream.h"
#include "QlLib/qlZStreams.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

using ql::EStreamError;

namespace {
constexpr size_t kCopyChunk = 32768;

void WriteText(ql::TStream& out, const std::string& text) {
    out.WriteBuffer(text.data(), text.size());
}
}  // namespace

TOrbPackWriter::TOrbPackWriter(ql::TStream& out) : m_out(out) {}

void TOrbPackWriter::CheckName(const std::u16string& name) const {
    const std::string shown = ql::ToUtf8(name);
    if (name.empty() || name.find_first_of(u"\r\n") != std::u16string::npos ||
        name.front() == u' ' || name.front() == u'\t' || name.back() == u' ' ||
        name.back() == u'\t' || ql::SameTextIgnoringCase(name, kProtectionSection)) {
        throw EStreamError("Entry name cannot be stored: " + shown);
    }
    const std::u16string section = EntrySectionName(name);
    for (const TPackRecord& record : m_records) {
        if (ql::SameTextIgnoringCase(EntrySectionName(record.Name), section)) {
            throw EStreamError("Entry name repeated: " + shown);
        }
    }
}

// The directory keeps 32-bit values: packages end at 2 GB.
void TOrbPackWriter::CheckRange(const TPackRecord& record) const {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (record.Position > kMax || record.Size > kMax) {
        throw EStreamError("Package larger than 2 GB at entry " + ql::ToUtf8(record.Name));
    }
}

void TOrbPackWriter::AddPlayer(const std::u16string& name, ql::TStream& program) {
    if (!m_records.empty()) throw EStreamError("The player program must be the first entry");
    AddEntry(name, program, kMethodStored);
}

void TOrbPackWriter::AddEntry(const std::u16string& name, std::string_view bytes, int32_t method,
                              bool storeWhenNotSmaller) {
    ql::TStringStream content{std::string(bytes)};
    AddEntry(name, content, method, storeWhenNotSmaller);
}

void TOrbPackWriter::CopyContent(ql::TStream& content, int32_t method) {
    std::vector<uint8_t> buffer(kCopyChunk);
    const std::string key(kPackageKey);
    int64_t written = 0;
    for (;;) {
        const size_t got = content.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        // The key index counts from the entry's first byte.
        if (method == kMethodScrambled) {
            ql::TCryptStream::Apply(key, written, buffer.data(), got);
        }
        m_out.WriteBuffer(buffer.data(), got);
        written += static_cast<int64_t>(got);
    }
}

void TOrbPackWriter::AddEntry(const std::u16string& name, ql::TStream& content, int32_t method,
                              bool storeWhenNotSmaller) {
    if (m_finished) throw EStreamError("Package already finished");
    CheckName(name);
    if (method < kMethodStored || method > kMethodScrambled) {
        throw EStreamError("Unknown storage method " + std::to_string(method));
    }
    TPackRecord record;
    record.Name = name;
    record.Method = method;
    record.Position = m_out.GetPosition();
    if (method == kMethodDeflate) {
        const int64_t start = content.GetPosition();
        const int64_t length = content.GetSize() - start;
        ql::TDeflator::Deflate(content, m_out);
        if (storeWhenNotSmaller && length >= 0 && m_out.GetPosition() - record.Position >= length) {
            // Deflating only added its own framing: the plain bytes take its place.
            m_out.SetPosition(record.Position);
            content.SetPosition(start);
            record.Method = kMethodStored;
            CopyContent(content, kMethodStored);
            // What the deflated form wrote beyond must not stay behind the
            // package's trailer.
            if (m_out.GetSize() > m_out.GetPosition()) m_out.SetSize(m_out.GetPosition());
        }
    } else {
        CopyContent(content, method);
    }
    record.Size = m_out.GetPosition() - record.Position;
    CheckRange(record);
    m_records.push_back(std::move(record));
}

std::string TOrbPackWriter::DirectoryText(int64_t directoryPosition,
                                          const TPackFinishOptions& options) const {
    std::string text = "\xEF\xBB\xBF";
    auto line = [&text](std::string_view key, const std::string& value) {
        text.append(key).append(value).append("\r\n");
    };
    for (const TPackRecord& record : m_records) {
        line("[", ql::ToUtf8(EntrySectionName(record.Name)).append("]"));
        if (record.WritePosition) line("_ps=", std::to_string(record.Position));
        if (record.WriteSize) line("_sz=", std::to_string(record.Size));
        line("_pm=", std::to_string(record.Method));
        text.append("\r\n");
    }
    text.append("[$protection$]\r\n");
    const std::string strucPos = options.StrucPos.value_or(std::to_string(directoryPosition));
    if (!strucPos.empty()) line("strucpos=", strucPos);
    line("orbversion=", ql::ToUtf8(options.OrbVersion));
    text.append(options.ExtraDirectoryText);
    return text;
}

int64_t TOrbPackWriter::Finish(const TPackFinishOptions& options) {
    if (m_finished) throw EStreamError("Package already finished");
    m_finished = true;
    const int64_t directoryPosition = m_out.GetPosition();
    ql::TStringStream directory{DirectoryText(directoryPosition, options)};
    ql::TDeflator::Deflate(directory, m_out);
    m_out.WriteInt64(directoryPosition);
    WriteText(m_out, std::string(kTrailerMarker));
    // The last eight bytes tell where they were written, so a package copied
    // behind another program still opens.
    if (!options.OldTrailer) m_out.WriteInt64(m_out.GetPosition());
    return directoryPosition;
}

}  // namespace orb
