// Builds a show source from an arbitrary document and asks it for slides at
// times taken from the input: every load ends in a source or a load error, and
// every question ends with an answer that covers the time it was asked about.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbKeyPoints.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace {

// The last 8 bytes of each 9-byte record after the separator are a time; the
// first byte picks how it is scaled.
double TimeFrom(const uint8_t* record, double total) {
    double raw;
    std::memcpy(&raw, record + 1, sizeof raw);
    switch (record[0] % 4) {
        case 0: return raw;  // any double at all, NaN and infinities included
        case 1: {
            int32_t whole;
            std::memcpy(&whole, record + 1, sizeof whole);
            return whole;
        }
        case 2: return total * double(record[1] % 8) + double(record[2]);  // near cycle boundaries
        default: return std::fmod(std::fabs(raw), total * 50);
    }
}

void Check(orb::TOrbSource& source, double time) {
    const orb::TSlideAtTime at = source.SlideAtTime(time);
    if (at.Index < -1) __builtin_trap();
    if (at.Index == -1) {
        if (time > 0) __builtin_trap();
        return;
    }
    // Within a thousand cycles the shifts are exact, so the slide must hold the time.
    if (time <= source.TotalTime() * 1000) {
        const orb::TSlideInfo info = source.SlideInfo(at.Index).Info;
        if (!(info.BeginTime <= time && time <= info.EndTime)) __builtin_trap();
        if (at.Index > 0 && source.SlideInfo(at.Index - 1).Info.EndTime >= time) __builtin_trap();
    }
    source.SlideEffect(at.Index);
    source.SlideEndAction(at.Index % source.SlideCount());
    source.SlideRunApp(at.Index % source.SlideCount());
    const orb::TStopPoint stop = source.NextStopPoint(time);
    if (stop.SlideIndex != orb::TStopPoint::kNoSlide && !(stop.Time >= 0)) __builtin_trap();
}

// Anchors of one slide, as a show object of that slide sees them.
class TSlideAnchors : public orb::TKeyPointOwner {
public:
    explicit TSlideAnchors(const orb::TSlideInfo& slide) : m_slide(slide) {}
    double AnchorTime(int anchor) const override { return orb::SlideAnchorTime(m_slide, anchor); }

private:
    orb::TSlideInfo m_slide;
};

bool Finite(const orb::TKeyValues& v) {
    for (float f : {v.Opacity, v.Angle, v.ScaleX, v.ScaleY, v.PosX, v.PosY, v.ZPos, v.CenterX,
                    v.CenterY, v.AngleX, v.AngleY, v.Blur})
        if (!std::isfinite(f)) return false;
    return true;
}

// Loads the key points and speed profiles of every object of a slide (nested
// objects too, to a bounded depth) and moves them through the given times:
// whatever the document holds, the values stay finite.
void CheckKeyPoints(const ql::TIniIdentList& block, const orb::TSlideInfo& slide,
                    const std::vector<double>& times, int depth) {
    if (depth > 4) return;
    for (ql::TIniObject* object = block.FirstObject(); object; object = ql::TIniIdentList::NextObject(*object)) {
        if (ql::LowerCase(object->ObjectClass()) == u"keypoint") continue;
        TSlideAnchors anchors(slide);
        orb::TKeyPoints points(&anchors);
        for (ql::TIniObject* child = object->FirstObject(); child; child = ql::TIniIdentList::NextObject(*child))
            if (ql::LowerCase(child->ObjectClass()) == u"keypoint") points.LoadKeyPoint(*child);
        points.LoadProfiles(*object);
        for (double t : times) {
            points.SetTime(t);
            if (!Finite(points.Current())) __builtin_trap();
        }
        CheckKeyPoints(*object, slide, times, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The document ends at the first NUL; what follows are the times to ask about.
    const uint8_t* separator = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = separator ? size_t(separator - data) : size;
    const bool screenSaver = textSize > 0 && data[0] == ';';
    orb::SetFixedRandomSeed(uint32_t(size));
    orb::ClearSlideRandomOrders();
    auto document = std::make_unique<ql::TIniFile>();
    try {
        ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), textSize));
        document->LoadFromStream(stream);
    } catch (const ql::Exception&) {
        return 0;
    }
    std::unique_ptr<orb::TOrbSource> source;
    try {
        source = std::make_unique<orb::TOrbSource>(ql::MakeRef<ql::TRefObj>(), std::move(document),
                                                   screenSaver ? u"show.scr" : u"show");
    } catch (const orb::EOrbSourceError&) {
        return 0;
    }
    if (source->SlideCount() < 1 || !(source->TotalTime() > 0)) __builtin_trap();
    const double total = source->TotalTime();
    for (double time : {0.0, 1.0, total, total + 0.5, total * 2, -1.0}) Check(*source, time);
    if (separator) {
        const uint8_t* record = separator + 1;
        for (int n = 0; n < 64 && record + 9 <= data + size; ++n, record += 9)
            Check(*source, TimeFrom(record, total));
    }
    for (int64_t i = -2; i < source->SlideCount() + 2 && i < 64; ++i) source->SlideInfo(i);

    std::vector<double> times;
    if (separator) {
        const uint8_t* record = separator + 1;
        for (int n = 0; n < 16 && record + 9 <= data + size; ++n, record += 9)
            times.push_back(TimeFrom(record, total));
    }
    for (int64_t i = 0; i < source->SlideCount() && i < 8; ++i) {
        const orb::TSlideInfo slide = source->SlideInfo(i).Info;
        std::vector<double> slideTimes = times;
        for (int anchor = 0; anchor < 4; ++anchor) slideTimes.push_back(orb::SlideAnchorTime(slide, anchor) + 1);
        if (const ql::TIniSection* section = orb::SlideSection(source->Document(), i))
            CheckKeyPoints(*section, slide, slideTimes, 0);
    }
    return 0;
}
