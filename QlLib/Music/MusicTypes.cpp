#include "QlLib/Music/MusicTypes.h"

#include <algorithm>
#include <cctype>

#include "QlLib/Music/Mp3ShiftStream.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

TWaveFormat TWaveFormat::Pcm(uint32_t rate, uint16_t channels, uint16_t bits, bool isFloat) {
    TWaveFormat format;
    format.FormatTag = isFloat ? kWaveFormatIeeeFloat : kWaveFormatPcm;
    format.Channels = channels;
    format.SamplesPerSec = rate;
    format.BitsPerSample = bits;
    format.BlockAlign = uint16_t(channels * ((bits + 7) / 8));
    format.AvgBytesPerSec = format.BlockAlign * rate;
    return format;
}

bool TWaveFormat::PlausiblePcm() const {
    if (SamplesPerSec < kMinSampleRate || SamplesPerSec > kMaxSampleRate) return false;
    if (Channels < 1 || Channels > kMaxSourceChannels) return false;
    switch (BitsPerSample) {
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        case 64:
            if (FormatTag != kWaveFormatIeeeFloat) return false;
            break;
        default:
            return false;
    }
    if (FormatTag == kWaveFormatIeeeFloat && BitsPerSample != 32 && BitsPerSample != 64)
        return false;
    // A padded block (24-bit samples in 32-bit slots) is not a format we know.
    return BlockAlign == Channels * (BitsPerSample / 8);
}

TWaveFormat OutputWaveFormat() {
    return TWaveFormat::Pcm(44100, 2, 16);
}

const char* MediaTypeName(TMediaType type) {
    switch (type) {
        case TMediaType::WavPcm:
            return "wav-pcm";
        case TMediaType::WavAdpcm:
            return "wav-adpcm";
        case TMediaType::WavFloat:
            return "wav-float";
        case TMediaType::Mpeg:
            return "mpeg";
        case TMediaType::Wma:
            return "wma";
        case TMediaType::Ogg:
            return "ogg";
        case TMediaType::Composite:
            return "composite";
        case TMediaType::FFmpeg:
            return "ffmpeg";
        case TMediaType::Unknown:
            break;
    }
    return "unknown";
}

TSourceName SplitSourceName(const std::u16string& name) {
    TSourceName result{name, 0};
    const size_t mark = name.rfind(u'?');
    if (mark == std::u16string::npos) return result;
    result.FileName = name.substr(0, mark);
    int64_t index = 0;
    const std::u16string digits = name.substr(mark + 1);
    bool ok = !digits.empty() && digits.size() <= 4;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9')
            ok = false;
        else
            index = index * 10 + (c - u'0');
    }
    result.StreamIndex = ok ? int32_t(index) : 0;
    return result;
}

bool NameHasExtension(const std::u16string& name, const char* suffix) {
    const std::string text = ToUtf8(name);
    const std::string want(suffix);
    if (text.size() < want.size()) return false;
    return std::equal(want.begin(), want.end(), text.end() - want.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

namespace {

// Every call of the decoders reaches the source under the broker's lock.
class TBrokeredStream : public TStream {
public:
    TBrokeredStream(std::mutex& lock, std::unique_ptr<TStream> inner)
        : m_lock(lock), m_inner(std::move(inner)) {}

    int64_t GetPosition() override {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_inner->GetPosition();
    }
    void SetPosition(int64_t position) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_inner->SetPosition(position);
    }
    int64_t GetSize() override {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_inner->GetSize();
    }
    void SetSize(int64_t) override { QL_ASSERT(false, "An audio source cannot change its size"); }
    size_t Read(void* buffer, size_t count) override {
        QL_ASSERT(count <= TStreamWrapperClass::kMaxRead, "Too many");
        std::lock_guard<std::mutex> guard(m_lock);
        return m_inner->Read(buffer, count);
    }
    size_t Write(const void*, size_t) override { return 0; }

    std::unique_ptr<TStream> TakeInner() { return std::move(m_inner); }

private:
    std::mutex& m_lock;
    std::unique_ptr<TStream> m_inner;
};

}  // namespace

TStreamWrapperClass& TStreamWrapperClass::Instance() {
    // Never freed: audio threads may still release streams while the process ends.
    static TStreamWrapperClass* broker = new TStreamWrapperClass;
    return *broker;
}

void TStreamWrapperClass::SetCallbacks(TSourceOpenCallback open, TSourceReleaseCallback release) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = std::move(open);
    m_release = std::move(release);
}

std::unique_ptr<TStream> TStreamWrapperClass::OpenRaw(const std::u16string& name) {
    try {
        if (m_open) return m_open(name);
        return std::make_unique<TFileStream>(name, TFileAccess::Read, kShareRead,
                                             TFileDisposition::OpenExisting);
    } catch (const Exception& e) {
        // A package cut short on disk throws from its entry's header: the
        // sound is missing, not the show.
        if (m_open)
            GlobalLog().WriteLine("Sound \"" + ToUtf8(name) +
                                  "\" cannot be opened: " + e.Message());
        return nullptr;
    }
}

std::unique_ptr<TStream> TStreamWrapperClass::Open(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::unique_ptr<TStream> raw = OpenRaw(name);
    if (!raw) return nullptr;
    return std::make_unique<TBrokeredStream>(m_lock, std::move(raw));
}

std::unique_ptr<TStream> TStreamWrapperClass::OpenAt(const std::u16string& name, int64_t offset) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::unique_ptr<TStream> raw = OpenRaw(name);
    if (!raw) return nullptr;
    auto shifted = std::make_unique<TMp3ShiftStream>(std::move(raw), offset);
    return std::make_unique<TBrokeredStream>(m_lock, std::move(shifted));
}

void TStreamWrapperClass::Release(std::unique_ptr<TStream> stream) {
    if (!stream) return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (auto* brokered = dynamic_cast<TBrokeredStream*>(stream.get()))
        stream = brokered->TakeInner();
    if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(stream.get())) stream = shifted->TakeInner();
    if (m_release && stream) m_release(std::move(stream));
}

int64_t TStreamWrapperClass::Position(TStream& stream) {
    return stream.GetPosition();
}

int64_t TStreamWrapperClass::Seek(TStream& stream, int64_t offset, int origin) {
    switch (origin) {
        case 0:
            stream.SetPosition(offset);
            break;
        case 1:
            stream.SetPosition(stream.GetPosition() + offset);
            break;
        case 2:
            stream.SetPosition(stream.GetSize() + offset);
            break;
        default:
            QL_ASSERT(false, "Unknown seek origin");
    }
    return stream.GetPosition();
}

size_t TStreamWrapperClass::Read(TStream& stream, void* buffer, size_t count) {
    QL_ASSERT(count <= kMaxRead, "Too many");
    return stream.Read(buffer, count);
}

int64_t TStreamWrapperClass::Size(TStream& stream) {
    return stream.GetSize();
}

void IgnoreDecoderLibrary(const std::string& what, const std::u16string& path) {
    GlobalLog().WriteLine(
        what + " \"" + ToUtf8(path) +
        "\" ignored: libraries carried by a show are never loaded, the built-in decoders play it");
}

}  // namespace ql
