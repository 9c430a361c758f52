#include "OrbLib2/OrbClasses/qlOrbSpeedProfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

double Clamp01(double value, double fallback) {
    if (!std::isfinite(value)) return fallback;
    return std::clamp(value, 0.0, 1.0);
}

// Reads the ";"-terminated fields of a profile text one by one.
class TFieldReader {
public:
    explicit TFieldReader(std::u16string_view text) : m_text(text) {}

    // Only blanks are left.
    bool AtEnd() const { return m_pos >= m_text.size() || ql::TrimBlanks(m_text.substr(m_pos)).empty(); }

    // The next field without its ";"; none when the ";" is missing.
    std::optional<std::u16string> Next() {
        if (m_pos > m_text.size()) return std::nullopt;
        const size_t end = m_text.find(u';', m_pos);
        if (end == std::u16string_view::npos) return std::nullopt;
        std::u16string field = ql::TrimBlanks(m_text.substr(m_pos, end - m_pos));
        m_pos = end + 1;
        return field;
    }

    // A count within 0 .. kMaxProfileCount, so that nothing is sized from a
    // hostile number.
    std::optional<int32_t> Count() {
        const auto field = Next();
        if (!field) return std::nullopt;
        const auto value = ql::TryStrToInt(*field);
        if (!value || *value < 0 || *value > kMaxProfileCount) return std::nullopt;
        return value;
    }

    std::optional<int64_t> Int64() {
        const auto field = Next();
        if (!field) return std::nullopt;
        return ql::TryStrToInt64(*field);
    }

    std::optional<int32_t> Int32() {
        const auto field = Next();
        if (!field) return std::nullopt;
        return ql::TryStrToInt(*field);
    }

    std::optional<double> Float() {
        const auto field = Next();
        if (!field) return std::nullopt;
        return ql::TryStrToFloat(*field);
    }

private:
    std::u16string_view m_text;
    size_t m_pos = 0;
};

}  // namespace

void ClampFractions(double& accel, double& decelStart) {
    accel = Clamp01(accel, 0);
    decelStart = std::max(accel, Clamp01(decelStart, 1));
}

bool TInterval::IsShaped() const {
    return std::nearbyint(Accel * 100) != 0 || std::nearbyint((1 - DecelStart) * 100) != 0;
}

void TSpeedStorage::SetDefaultFractions(double accel, double decelStart) {
    ClampFractions(accel, decelStart);
    m_defaultAccel = accel;
    m_defaultDecelStart = decelStart;
}

void TSpeedStorage::AddKey(int64_t time) {
    const auto at = std::upper_bound(m_keys.begin(), m_keys.end(), time);
    const auto index = static_cast<int32_t>(at - m_keys.begin());
    m_keys.insert(at, time);
    const auto count = static_cast<int32_t>(m_keys.size());
    if (count == 2) {
        // An interval over a single key means nothing; the pair gets one
        // interval with the default fractions.
        m_intervals.assign(1, TInterval{0, 1, m_defaultAccel, m_defaultDecelStart});
    } else if (count > 2) {
        if (index == 0) {
            // An interval that began at the old first key now begins at the new one.
            for (auto& interval : m_intervals) {
                if (interval.FirstKey > 0) ++interval.FirstKey;
                if (interval.LastKey > 0) ++interval.LastKey;
            }
        } else if (index == count - 1) {
            if (!m_intervals.empty()) m_intervals.back().LastKey = index;
        } else {
            for (auto& interval : m_intervals) {
                if (interval.FirstKey >= index) ++interval.FirstKey;
                if (interval.LastKey >= index) ++interval.LastKey;
            }
        }
    }
    if (OnChange) OnChange();
}

void TSpeedStorage::SetKeys(std::vector<int64_t> keys) {
    m_keys = std::move(keys);
    const auto count = static_cast<int32_t>(m_keys.size());
    std::erase_if(m_intervals, [count](const TInterval& interval) {
        return interval.FirstKey >= count || interval.LastKey >= count ||
               (interval.FirstKey == interval.LastKey && count > 1);
    });
}

bool TSpeedStorage::AddInterval(int32_t firstKey, int32_t lastKey, double accel, double decelStart) {
    const auto count = static_cast<int32_t>(m_keys.size());
    if (firstKey < 0 || lastKey < firstKey || lastKey >= count) return false;
    if (firstKey == lastKey && count > 1) return false;
    ClampFractions(accel, decelStart);
    m_intervals.push_back(TInterval{firstKey, lastKey, accel, decelStart});
    return true;
}

void TSpeedStorage::Clear() {
    m_keys.clear();
    m_intervals.clear();
    m_defaultAccel = 0;
    m_defaultDecelStart = 1;
}

void TSpeedStorage::Reset() {
    Clear();
    m_keys.push_back(0);
}

std::u16string TSpeedStorage::Serialize() const {
    std::u16string text;
    auto field = [&text](std::u16string value) {
        text += value;
        text += u';';
    };
    field(ql::IntToStr(static_cast<int64_t>(m_keys.size())));
    for (const int64_t key : m_keys) field(ql::IntToStr(key));
    field(ql::IntToStr(static_cast<int64_t>(m_intervals.size())));
    for (const auto& interval : m_intervals) {
        field(ql::IntToStr(interval.FirstKey));
        field(ql::IntToStr(interval.LastKey));
        field(FloatToText(interval.Accel));
        field(FloatToText(interval.DecelStart));
    }
    field(FloatToText(m_defaultAccel));
    field(FloatToText(m_defaultDecelStart));
    return text;
}

bool TSpeedStorage::Parse(std::u16string_view text) {
    struct TRaw {
        int32_t first, last;
        double accel, decelStart;
    };
    TFieldReader reader(text);
    std::vector<int64_t> keys;
    std::vector<TRaw> intervals;
    std::optional<double> defaultAccel, defaultDecelStart;
    bool valid = false;
    do {
        const auto keyCount = reader.Count();
        if (!keyCount) break;
        int32_t i = 0;
        for (; i < *keyCount; ++i) {
            const auto key = reader.Int64();
            if (!key) break;
            keys.push_back(*key);
        }
        if (i < *keyCount) break;
        const auto intervalCount = reader.Count();
        if (!intervalCount) break;
        for (i = 0; i < *intervalCount; ++i) {
            const auto first = reader.Int32();
            const auto last = first ? reader.Int32() : std::nullopt;
            const auto accel = last ? reader.Float() : std::nullopt;
            const auto decelStart = accel ? reader.Float() : std::nullopt;
            if (!decelStart) break;
            intervals.push_back(TRaw{*first, *last, *accel, *decelStart});
        }
        if (i < *intervalCount) break;
        // The defaults are optional, but when begun they must be complete.
        if (!reader.AtEnd()) {
            defaultAccel = reader.Float();
            defaultDecelStart = defaultAccel ? reader.Float() : std::nullopt;
            if (!defaultDecelStart) break;
        }
        valid = true;
    } while (false);

    Clear();
    if (!valid) {
        Reset();
        return false;
    }
    if (defaultDecelStart) SetDefaultFractions(*defaultAccel, *defaultDecelStart);
    // Keys name key points in time order; a text that lists them otherwise
    // still gives an ascending list.
    std::sort(keys.begin(), keys.end());
    m_keys = std::move(keys);
    for (const auto& raw : intervals) AddInterval(raw.first, raw.last, raw.accel, raw.decelStart);
    return true;
}

std::u16string FloatToText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ql::Widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

}  // namespace orb
