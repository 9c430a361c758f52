#include "OrbLib2/OrbViewer/qlOrbCompositeParams.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/OrbViewer/qlOrbIni2Str.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

std::u16string Num(int64_t value) { return ql::FromUtf8(std::to_string(value)); }

std::u16string PointSection(std::u16string_view owner, size_t envelope, size_t point) {
    return u"Vol_" + std::u16string(owner) + u"_" + Num(int64_t(envelope)) + u"_" + Num(int64_t(point));
}

void WriteEnvelopes(ql::TIniStorage& document, std::u16string_view section, std::u16string_view owner,
                    const TVolumeParamsList& list) {
    int32_t count = 0;
    for (const TVolumeParams& envelope : list.Envelopes) {
        if (envelope.Automatic) continue;
        for (size_t p = 0; p < envelope.Points.size(); ++p) {
            const std::u16string name = PointSection(owner, size_t(count), p);
            document.WriteInteger(name, u"0", envelope.Points[p].Time);
            document.WriteInteger(name, u"1", envelope.Points[p].Volume);
        }
        ++count;
    }
    document.WriteInteger(section, u"FadeCount", count);
}

void ReadEnvelopes(const ql::TIniStorage& document, std::u16string_view section, std::u16string_view owner,
                   TVolumeParamsList& list) {
    const int32_t count = std::clamp(document.ReadInteger(section, u"FadeCount", 0), 0, kMaxEnvelopesPerItem);
    for (int32_t e = 0; e < count; ++e) {
        TVolumeParams& envelope = list.AddEnvelope();
        for (int32_t p = 0; p < kMaxEnvelopePoints; ++p) {
            const std::u16string name = PointSection(owner, size_t(e), size_t(p));
            ql::TIniSection* point = document.FindSection(name);
            if (!point || !point->FindIdent(u"0")) break;
            envelope.AddPoint(point->ReadInteger(u"0", 0), point->ReadInteger(u"1", 1000));
        }
    }
}

// Adds without overflowing the 32-bit times of a description.
int32_t AddTimes(int64_t a, int64_t b) { return int32_t(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX)); }

}  // namespace

bool IsCompositeName(std::u16string_view name) {
    return name.size() >= kCompositeMarkerLength &&
           name.substr(0, kCompositeMarkerLength) == std::u16string_view(kCompositeMarker);
}

void TCompositeParams::Clear() {
    Duration = 0;
    Items.clear();
    m_mainVolume.reset();
}

TCompositeItem& TCompositeParams::AddItem(const std::u16string& fileName, int32_t timeLine) {
    TCompositeItem& item = Items.emplace_back();
    item.FileName = fileName;
    item.TimeLine = timeLine;
    return item;
}

void TCompositeParams::RemoveItem(size_t index) {
    if (index < Items.size()) Items.erase(Items.begin() + std::ptrdiff_t(index));
}

TVolumeParamsList& TCompositeParams::MainVolume() {
    if (!m_mainVolume) m_mainVolume = std::make_unique<TVolumeParamsList>();
    return *m_mainVolume;
}

std::u16string TCompositeParams::WriteText() const {
    ql::TIniStorage document;
    document.WriteInteger(u"Main", u"Duration", Duration);
    for (size_t i = 0; i < Items.size(); ++i) {
        const TCompositeItem& item = Items[i];
        const std::u16string section = Num(int64_t(i));
        document.WriteString(section, u"FileName", item.FileName);
        document.WriteInteger(section, u"TimeLine", item.TimeLine);
        document.WriteInteger(section, u"BeginTime", item.BeginTime);
        document.WriteInteger(section, u"Duration", item.Duration);
        WriteEnvelopes(document, section, section, item.Volumes);
    }
    if (m_mainVolume) WriteEnvelopes(document, u"MainVolume", u"MainVolume", *m_mainVolume);
    return std::u16string(kCompositeMarker) + DocumentToLine(document);
}

bool TCompositeParams::ReadText(std::u16string_view text) {
    Clear();
    const std::u16string_view marker(kCompositeMarker);
    size_t start = text.find(marker);
    if (start != 0) return false;
    int64_t shift = 0;
    for (int32_t part = 0; start != std::u16string_view::npos && part < kMaxConcatenatedComposites; ++part) {
        const size_t bodyStart = start + kCompositeMarkerLength;
        const size_t next = text.find(marker, bodyStart);
        const std::u16string_view body =
            text.substr(bodyStart, next == std::u16string_view::npos ? std::u16string_view::npos : next - bodyStart);
        start = next;

        ql::TIniFile document;
        if (!LineToDocument(body, document)) continue;
        const int32_t duration = std::max(0, document.ReadInteger(u"Main", u"Duration", 0));
        for (int32_t i = 0; int32_t(Items.size()) < kMaxCompositeItems; ++i) {
            const std::u16string section = Num(i);
            const std::u16string fileName = document.ReadString(section, u"FileName", u"");
            if (fileName.empty()) break;
            TCompositeItem& item = AddItem(fileName, AddTimes(document.ReadInteger(section, u"TimeLine", 0), shift));
            item.BeginTime = document.ReadInteger(section, u"BeginTime", 0);
            item.Duration = document.ReadInteger(section, u"Duration", 0);
            ReadEnvelopes(document, section, section, item.Volumes);
        }
        if (document.SectionExists(u"MainVolume") && part == 0)
            ReadEnvelopes(document, u"MainVolume", u"MainVolume", MainVolume());
        shift += duration;
    }
    Duration = AddTimes(shift, 0);
    return Duration > 0 && !Items.empty();
}

// ---- a composite played as its first item ----

namespace {

class TFirstItemSource : public ql::TPcmSource {
public:
    TFirstItemSource(std::unique_ptr<ql::TPcmSource> item, const TCompositeItem& params, int32_t duration)
        : m_item(std::move(item)), m_channels(m_item->Format().Channels), m_beginMs(params.BeginTime),
          m_timeLineMs(params.TimeLine) {
        m_totalFrames = FramesOf(duration);
        m_itemStart = std::clamp<int64_t>(FramesOf(params.TimeLine), 0, m_totalFrames);
        double itemMs = params.Duration;
        if (params.Duration <= 0) itemMs = std::max(0.0, m_item->LengthMs() - params.BeginTime);
        m_itemEnd = std::clamp<int64_t>(m_itemStart + FramesOf(itemMs), m_itemStart, m_totalFrames);
        m_item->Seek(m_beginMs);
    }

    ql::TPcmFormat Format() const override { return {}; }
    double LengthMs() const override { return double(m_totalFrames) / 44.1; }

    bool Seek(double ms) override {
        if (!(ms >= 0)) ms = 0;
        m_position = std::min(FramesOf(ms), m_totalFrames);
        const double inside = m_position > m_itemStart ? ms - m_timeLineMs : 0;
        return m_item->Seek(m_beginMs + std::max(0.0, inside));
    }

    size_t Read(int16_t* samples, size_t frameCount) override {
        size_t done = 0;
        while (done < frameCount && m_position < m_totalFrames) {
            int16_t* out = samples + 2 * done;
            const size_t want = frameCount - done;
            if (m_position < m_itemStart || m_position >= m_itemEnd || m_itemEnded) {
                const int64_t limit = m_position < m_itemStart ? m_itemStart : m_totalFrames;
                const size_t n = size_t(std::min<int64_t>(int64_t(want), limit - m_position));
                std::fill(out, out + 2 * n, int16_t(0));
                done += n;
                m_position += int64_t(n);
                continue;
            }
            const size_t n = size_t(std::min<int64_t>(int64_t(want), m_itemEnd - m_position));
            size_t got;
            if (m_channels == 2) {
                got = m_item->Read(out, n);
            } else {
                m_mono.resize(n);
                got = m_item->Read(m_mono.data(), n);
                for (size_t f = 0; f < got; ++f) out[2 * f] = out[2 * f + 1] = m_mono[f];
            }
            if (got < n) m_itemEnded = true;
            done += got;
            m_position += int64_t(got);
        }
        return done;
    }

private:
    static int64_t FramesOf(double ms) { return ms > 0 ? int64_t(std::floor(ms * 44.1)) : 0; }

    std::unique_ptr<ql::TPcmSource> m_item;
    int32_t m_channels;
    double m_beginMs;
    double m_timeLineMs;
    int64_t m_totalFrames = 0;
    int64_t m_itemStart = 0;
    int64_t m_itemEnd = 0;
    int64_t m_position = 0;
    bool m_itemEnded = false;
    std::vector<int16_t> m_mono;
};

}  // namespace

std::unique_ptr<ql::TPcmSource> OpenCompositeFirstItem(std::u16string_view text,
                                                       const ql::TPcmSourceFactory& openItem) {
    TCompositeParams params;
    if (!params.ReadText(text) || !openItem) return nullptr;
    // The items are placed in time-line order; the one that sounds first plays.
    const auto first = std::min_element(params.Items.begin(), params.Items.end(),
                                        [](const TCompositeItem& a, const TCompositeItem& b) {
                                            return a.TimeLine < b.TimeLine;
                                        });
    ql::GlobalLog().WriteLine("Composite of " + std::to_string(params.Items.size()) +
                              " items plays its first item only: " + ql::ToUtf8(first->FileName));
    std::unique_ptr<ql::TPcmSource> item = openItem(first->FileName);
    if (!item) return nullptr;
    const ql::TPcmFormat format = item->Format();
    if (format.SampleRate != ql::kOutputRate || (format.Channels != 1 && format.Channels != 2)) return nullptr;
    return std::make_unique<TFirstItemSource>(std::move(item), *first, params.Duration);
}

}  // namespace orb
