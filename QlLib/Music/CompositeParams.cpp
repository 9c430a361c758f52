#include "QlLib/Music/CompositeParams.h"

#include <algorithm>
#include <cmath>

#include "QlLib/qlIni2Str.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

std::u16string Num(int64_t value) {
    return FromUtf8(std::to_string(value));
}

std::u16string PointSection(std::u16string_view owner, size_t envelope, size_t point) {
    return u"Vol_" + std::u16string(owner) + u"_" + Num(int64_t(envelope)) + u"_" +
           Num(int64_t(point));
}

void WriteEnvelopes(TIniStorage& document, std::u16string_view section, std::u16string_view owner,
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

void ReadEnvelopes(const TIniStorage& document, std::u16string_view section,
                   std::u16string_view owner, TVolumeParamsList& list) {
    const int32_t count =
        std::clamp(document.ReadInteger(section, u"FadeCount", 0), 0, kMaxEnvelopesPerItem);
    for (int32_t e = 0; e < count; ++e) {
        TVolumeParams& envelope = list.AddEnvelope();
        for (int32_t p = 0; p < kMaxEnvelopePoints; ++p) {
            const std::u16string name = PointSection(owner, size_t(e), size_t(p));
            TIniSection* point = document.FindSection(name);
            if (!point || !point->FindIdent(u"0")) break;
            envelope.AddPoint(ClampCompositeTime(point->ReadInteger(u"0", 0)),
                              ClampVolume(point->ReadInteger(u"1", 1000)));
        }
    }
}

}  // namespace

int32_t ClampCompositeTime(int64_t ms) {
    return int32_t(std::clamp<int64_t>(ms, 0, kMaxCompositeMs));
}

int32_t ClampVolume(int64_t perMille) {
    return int32_t(std::clamp<int64_t>(perMille, 0, kMaxVolume));
}

int64_t CompositeBytePos(double ms) {
    if (!(ms > 0)) return 0;
    return int64_t(std::floor(ms * 44.1)) * kOutputBytesPerFrame;
}

// ---- envelopes ----

void TVolumeParams::Prepare(int32_t lengthMs) {
    lengthMs = ClampCompositeTime(lengthMs);
    std::vector<TVolumeItem> points;
    points.reserve(Points.size() + 1);
    for (const TVolumeItem& point : Points)
        points.push_back({ClampCompositeTime(point.Time), ClampVolume(point.Volume)});
    points.push_back({lengthMs, Points.empty() ? 1000 : points.back().Volume});
    std::stable_sort(points.begin(), points.end(),
                     [](const TVolumeItem& a, const TVolumeItem& b) { return a.Time < b.Time; });
    m_segments.clear();
    m_segments.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        if (i + 1 < points.size() && points[i + 1].Time == points[i].Time) continue;
        TVolumeItem2 segment;
        segment.EndPos = CompositeBytePos(points[i].Time);
        segment.EndFactor = points[i].Volume / 1000.0;
        if (!m_segments.empty()) {
            const TVolumeItem2& previous = m_segments.back();
            const int64_t frames = (segment.EndPos - previous.EndPos) / kOutputBytesPerFrame;
            segment.Flat = segment.EndFactor == previous.EndFactor;
            if (frames > 0 && !segment.Flat)
                segment.Step = (segment.EndFactor - previous.EndFactor) / double(frames);
        }
        m_segments.push_back(segment);
    }
    m_segments.back().Last = true;
    Seek(0);
}

void TVolumeParams::SetFactor(double factor) {
    // Steps add up in floating point; a factor never leaves what the points allow.
    if (!(factor >= 0)) factor = 0;
    if (factor > kMaxVolume / 1000.0) factor = kMaxVolume / 1000.0;
    m_factor = factor;
    m_nearUnity = factor > 0.99 && factor < 1.01;
}

void TVolumeParams::Seek(int64_t bytePos) {
    m_pos = std::max<int64_t>(bytePos, 0);
    if (m_segments.empty()) {
        m_segment = 0;
        SetFactor(1.0);
        return;
    }
    // The segment holding a position is the first whose end lies beyond it.
    const auto it =
        std::upper_bound(m_segments.begin(), m_segments.end(), m_pos,
                         [](int64_t pos, const TVolumeItem2& s) { return pos < s.EndPos; });
    m_segment = size_t(it - m_segments.begin());
    if (it == m_segments.end()) {
        SetFactor(m_segments.back().EndFactor);
        return;
    }
    SetFactor(it->EndFactor - double((it->EndPos - m_pos) / kOutputBytesPerFrame) * it->Step);
}

bool TVolumeParams::Step() {
    m_pos += kOutputBytesPerFrame;
    if (m_segment >= m_segments.size()) return true;
    const TVolumeItem2& segment = m_segments[m_segment];
    if (m_pos < segment.EndPos) {
        SetFactor(m_factor + segment.Step);
        return false;
    }
    // Crossing a point: the factor starts again from the exact value.
    Seek(m_pos);
    return m_segment >= m_segments.size();
}

void TVolumeParams::Advance(int64_t frames) {
    m_pos += frames * kOutputBytesPerFrame;
    if (m_segment >= m_segments.size()) return;
    const TVolumeItem2& segment = m_segments[m_segment];
    if (m_pos < segment.EndPos)
        SetFactor(segment.EndFactor -
                  double((segment.EndPos - m_pos) / kOutputBytesPerFrame) * segment.Step);
    else
        Seek(m_pos);
}

void TVolumeParamsList::Prepare(int32_t lengthMs) {
    std::erase_if(Envelopes, [](const TVolumeParams& envelope) { return envelope.Automatic; });
    if (EdgeFades) {
        TVolumeParams& edges = Envelopes.emplace_back();
        edges.Automatic = true;
        edges.AddPoint(0, 0);
        edges.AddPoint(10, 1000);
        edges.AddPoint(lengthMs - 10, 1000);
        edges.AddPoint(lengthMs, 0);
    }
    for (TVolumeParams& envelope : Envelopes) envelope.Prepare(lengthMs);
    m_rampFactor.resize(Envelopes.size());
    m_rampStep.resize(Envelopes.size());
}

void TVolumeParamsList::Seek(int64_t bytePos) {
    for (TVolumeParams& envelope : Envelopes) envelope.Seek(bytePos);
}

bool TVolumeParamsList::Step() {
    bool all = true;
    for (TVolumeParams& envelope : Envelopes) all = envelope.Step() && all;
    return all;
}

bool TVolumeParamsList::Factor(double& factor) const {
    factor = 1.0;
    bool near = true;
    for (const TVolumeParams& envelope : Envelopes) {
        if (envelope.NearUnity()) continue;
        near = false;
        factor *= envelope.Factor();
    }
    return near;
}

size_t TVolumeParamsList::Fill(size_t frames, double* factors, bool& ended) {
    constexpr double kMaxFactor = kMaxVolume / 1000.0;
    ended = false;
    size_t done = 0;
    // The envelopes that move during a run: their factor and step.
    if (m_rampFactor.size() < Envelopes.size()) {
        m_rampFactor.resize(Envelopes.size());
        m_rampStep.resize(Envelopes.size());
    }
    double* rampFactor = m_rampFactor.data();
    double* rampStep = m_rampStep.data();
    while (done < frames) {
        size_t run = frames - done;
        double constant = 1.0;
        size_t ramps = 0;
        bool allFinished = true;
        for (const TVolumeParams& envelope : Envelopes) {
            if (envelope.Finished()) {
                if (!envelope.NearUnity()) constant *= envelope.Factor();
                continue;
            }
            allFinished = false;
            const TVolumeItem2& segment = envelope.m_segments[envelope.m_segment];
            run = std::min<size_t>(
                run, size_t((segment.EndPos - envelope.m_pos) / kOutputBytesPerFrame));
            if (segment.Step == 0) {
                if (!envelope.NearUnity()) constant *= envelope.Factor();
            } else {
                rampFactor[ramps] = envelope.Factor();
                rampStep[ramps] = segment.Step;
                ++ramps;
            }
        }
        if (allFinished) {
            ended = true;
            break;
        }
        double* out = factors + done;
        if (ramps == 0) {
            std::fill(out, out + run, std::clamp(constant, 0.0, kMaxFactor));
        } else {
            for (size_t j = 0; j < run; ++j) {
                double factor = constant;
                for (size_t r = 0; r < ramps; ++r) {
                    const double x = rampFactor[r] + double(j) * rampStep[r];
                    if (!(x > 0.99 && x < 1.01)) factor *= x;
                }
                out[j] = factor > 0 ? std::min(factor, kMaxFactor) : 0.0;
            }
        }
        bool nowFinished = true;
        for (TVolumeParams& envelope : Envelopes) {
            envelope.Advance(int64_t(run));
            nowFinished = nowFinished && envelope.Finished();
        }
        done += run;
        if (nowFinished) {
            ended = true;
            break;
        }
    }
    return done;
}

// ---- descriptions ----

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
    TIniStorage document;
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
    if (text.size() > kMaxCompositeTextLength) return false;
    const std::u16string_view marker(kCompositeMarker);
    size_t start = text.find(marker);
    if (start != 0) return false;
    int64_t shift = 0;
    for (int32_t part = 0; start != std::u16string_view::npos && part < kMaxConcatenatedComposites;
         ++part) {
        const size_t bodyStart = start + kCompositeMarkerLength;
        const size_t next = text.find(marker, bodyStart);
        const std::u16string_view body =
            text.substr(bodyStart, next == std::u16string_view::npos ? std::u16string_view::npos
                                                                     : next - bodyStart);
        start = next;

        TIniFile document;
        if (!LineToDocument(body, document)) continue;
        const int32_t duration = ClampCompositeTime(document.ReadInteger(u"Main", u"Duration", 0));
        for (int32_t i = 0; int32_t(Items.size()) < kMaxCompositeItems; ++i) {
            const std::u16string section = Num(i);
            const std::u16string fileName = document.ReadString(section, u"FileName", u"");
            if (fileName.empty()) break;
            TCompositeItem& item = AddItem(
                fileName, ClampCompositeTime(int64_t(ClampCompositeTime(
                                                 document.ReadInteger(section, u"TimeLine", 0))) +
                                             shift));
            item.BeginTime = ClampCompositeTime(document.ReadInteger(section, u"BeginTime", 0));
            item.Duration = ClampCompositeTime(document.ReadInteger(section, u"Duration", 0));
            ReadEnvelopes(document, section, section, item.Volumes);
        }
        if (document.SectionExists(u"MainVolume") && part == 0)
            ReadEnvelopes(document, u"MainVolume", u"MainVolume", MainVolume());
        shift += duration;
    }
    Duration = ClampCompositeTime(shift);
    return Duration > 0 && !Items.empty();
}

bool TCompositeParams2::ReadWorking(std::u16string_view text) {
    WorkItems.clear();
    const bool ok = ReadText(text);
    WorkItems.reserve(Items.size());
    for (const TCompositeItem& item : Items) WorkItems.emplace_back(item);
    std::stable_sort(
        WorkItems.begin(), WorkItems.end(),
        [](const TCompositeItem2& a, const TCompositeItem2& b) { return a.TimeLine < b.TimeLine; });
    return ok;
}

}  // namespace ql
