#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Crop and aspect values beyond this are nonsense from a broken document; they
// are cut here so that float conversions and products stay finite.
constexpr double kMaxPercentValue = 1e6;
// Pixel coordinates stay far inside 32 bits whatever the margins say.
constexpr double kMaxCoordinate = 1e9;

float BoundedPercent(double value) {
    return float(std::clamp(value, -kMaxPercentValue, kMaxPercentValue));
}

int32_t ClampToInt32(double value) {
    if (!std::isfinite(value)) return 0;
    return int32_t(std::clamp(value, double(std::numeric_limits<int32_t>::min()),
                              double(std::numeric_limits<int32_t>::max())));
}

// Reads a key as a list of exactly one of the allowed counts.
std::optional<std::vector<double>> ReadList(const ql::TIniIdentList& block, std::u16string_view key,
                                            std::initializer_list<size_t> counts) {
    const ql::TIniIdent* ident = block.FindIdent(key);
    if (!ident) return std::nullopt;
    size_t most = *std::max_element(counts.begin(), counts.end());
    auto values = ParseNumberList(ident->Value(), most);
    if (!values) return std::nullopt;
    if (std::find(counts.begin(), counts.end(), values->size()) == counts.end()) return std::nullopt;
    return values;
}

}  // namespace

std::optional<std::vector<double>> ParseNumberList(std::u16string_view text, size_t maxCount) {
    std::vector<double> values;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(u',', start);
        std::u16string_view item =
            text.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start);
        if (values.size() >= maxCount) return std::nullopt;
        auto value = ql::TryStrToFloat(ql::TrimBlanks(item));
        if (!value) return std::nullopt;
        values.push_back(*value);
        if (comma == std::u16string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

std::optional<uint32_t> ParseRgbaColor(std::u16string_view text) {
    auto values = ParseNumberList(text, 4);
    if (!values || values->size() != 4) return std::nullopt;
    uint32_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = uint32_t(std::lround(std::clamp((*values)[i], 0.0, 255.0)));
    return (bytes[3] << 24) | (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
}

std::vector<int32_t> ParseFrameDurations(std::u16string_view text, int32_t frameCount) {
    frameCount = std::clamp(frameCount, 0, kMaxAnimationFrames);
    std::vector<int32_t> durations;
    if (frameCount == 0) return durations;
    // Items beyond the frame count are not looked at, so a long list costs nothing.
    size_t start = 0;
    bool readable = true;
    while (int32_t(durations.size()) < frameCount) {
        size_t comma = text.find(u',', start);
        std::u16string_view item =
            text.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start);
        auto value = ql::TryStrToFloat(ql::TrimBlanks(item));
        if (!value) {
            readable = false;
            break;
        }
        durations.push_back(ClampToInt32(std::max(0.0, std::round(*value))));
        if (comma == std::u16string_view::npos) break;
        start = comma + 1;
    }
    if (!readable || durations.empty()) return std::vector<int32_t>(size_t(frameCount), kDefaultFrameDuration);
    durations.resize(size_t(frameCount), durations.back());
    return durations;
}

TBorderParams ReadBorderParams(const ql::TIniIdentList& block) {
    TBorderParams params;
    params.EnableBorder = block.ReadBool(u"EnableBorder", false);
    params.EnableCrop = block.ReadBool(u"EnableCrop", false);
    params.EnableAspect = block.ReadBool(u"EnableAspect", false);
    params.BorderWidth = BoundedPercent(block.ReadReal(u"BorderWidth", params.BorderWidth));
    if (const ql::TIniIdent* ident = block.FindIdent(u"BorderColor")) {
        if (auto color = ParseRgbaColor(ident->Value())) params.BorderColor = *color;
    }
    // Older documents write only the four margins; the width-relative pair is then unset.
    if (auto crop = ReadList(block, u"CropRect", {4, 6})) {
        for (size_t i = 0; i < crop->size(); ++i) params.CropRect[i] = BoundedPercent((*crop)[i]);
    }
    if (auto aspect = ReadList(block, u"AspectParams", {4})) {
        for (size_t i = 0; i < 4; ++i) params.AspectParams[i] = BoundedPercent((*aspect)[i]);
    }
    return params;
}

void BoundAnimationParams(TImageAnimationParams& params) {
    params.Columns = std::clamp(params.Columns, 1, kMaxAnimationGrid);
    params.Rows = std::clamp(params.Rows, 1, kMaxAnimationGrid);
    params.FrameCount = std::clamp(params.FrameCount, 0, kMaxAnimationFrames);
    params.RepeatCount = std::max(params.RepeatCount, 0);
    if (params.FrameDurations.size() > size_t(kMaxAnimationFrames)) {
        params.FrameDurations.resize(size_t(kMaxAnimationFrames));
    }
    for (int32_t& duration : params.FrameDurations) duration = std::max(duration, 0);
    if (!std::isfinite(params.Offset)) params.Offset = 0;
}

TImageAnimationParams ReadAnimationParams(const ql::TIniIdentList& block) {
    TImageAnimationParams params;
    params.Columns = block.ReadInteger(u"AnimColumns", 1);
    params.Rows = block.ReadInteger(u"AnimRows", 1);
    params.FrameCount = block.ReadInteger(u"AnimCount", 0);
    params.RepeatCount = block.ReadInteger(u"AnimRepCount", 0);
    params.Offset = block.ReadReal(u"AnimOffset", 0);
    BoundAnimationParams(params);
    params.FrameDurations = ParseFrameDurations(block.ReadString(u"AnimInterval", u""), params.FrameCount);
    return params;
}

TImageGeometry ComputeImageGeometry(int32_t pictureWidth, int32_t pictureHeight,
                                    const TBorderParams& border, double pixelAspect) {
    TImageGeometry geometry;
    if (pictureWidth <= 0 || pictureHeight <= 0) return geometry;
    const ql::TRect whole{0, 0, pictureWidth, pictureHeight};
    if (!(pixelAspect > 0.001) || !std::isfinite(pixelAspect)) pixelAspect = 1;

    const double fullW = pictureWidth * pixelAspect;
    const double fullH = pictureHeight;
    double x0 = 0, y0 = 0, x1 = fullW, y1 = fullH;

    if (border.EnableAspect) {
        const double own = fullW / fullH;
        double target = border.AspectParams[0];
        if (target <= 0.001) target = own;
        double w = fullW, h = fullH;
        if (target > own) {
            h = fullW / target;
        } else {
            w = target * fullH;
        }
        double zoom = border.AspectParams[1];
        if (zoom < 0.001 || zoom > 100) zoom = 100;
        w *= zoom / 100;
        h *= zoom / 100;
        double offsetX = border.AspectParams[2];
        double offsetY = border.AspectParams[3];
        if (offsetX < -100 || offsetX > 100) offsetX = 0;
        if (offsetY < -100 || offsetY > 100) offsetY = 0;
        const double marginX = (fullW - w) / 2;
        const double marginY = (fullH - h) / 2;
        x0 = marginX + marginX * offsetX / 100;
        y0 = marginY + marginY * offsetY / 100;
        x1 = x0 + w;
        y1 = y0 + h;
    }

    if (border.EnableCrop) {
        const double w = x1 - x0;
        const double h = y1 - y0;
        const auto& crop = border.CropRect;
        double left, right;
        if (crop[4] >= 0 && crop[5] >= 0) {
            left = crop[4] * w / 100;
            right = crop[5] * w / 100;
        } else {
            // The older form gives the side margins in percent of the height.
            left = crop[0] * h / 100;
            right = crop[2] * h / 100;
        }
        x0 += left;
        x1 -= right;
        y0 += crop[1] * h / 100;
        y1 -= crop[3] * h / 100;
    }

    // Products of fractions land a hair above whole pixels; that must not
    // widen the rectangle by one.
    constexpr double kSlack = 1e-6;
    auto roundNear = [](double v) { return std::floor(std::clamp(v, -kMaxCoordinate, kMaxCoordinate) + 0.5); };
    auto roundUp = [](double v) { return std::ceil(std::clamp(v, -kMaxCoordinate, kMaxCoordinate) - kSlack); };
    ql::TRect rect{int32_t(roundNear(x0 / pixelAspect)), int32_t(roundNear(y0)),
                   int32_t(roundUp(x1 / pixelAspect)), int32_t(roundUp(y1))};
    if (rect.IsEmpty()) {
        rect = whole;
    } else {
        rect = ql::IntersectRect(rect, whole);
        if (rect.IsEmpty()) rect = whole;
    }
    geometry.Source = rect;
    geometry.Width = rect.Width();
    geometry.Height = rect.Height();
    if (border.EnableBorder) {
        const double b = std::round(double(pictureHeight) * border.BorderWidth / 100);
        const int32_t pixels = int32_t(std::clamp(b, 0.0, double(kMaxBorderPixels)));
        geometry.Width += 2 * pixels;
        geometry.Height += 2 * pixels;
        geometry.InnerOffset = float(pixels);
    }
    return geometry;
}

TImageGeometry ComputeSheetGeometry(int32_t pictureWidth, int32_t pictureHeight,
                                    const TImageAnimationParams& anim) {
    TImageGeometry geometry;
    if (pictureWidth <= 0 || pictureHeight <= 0) return geometry;
    const int32_t columns = std::clamp(anim.Columns, 1, kMaxAnimationGrid);
    const int32_t rows = std::clamp(anim.Rows, 1, kMaxAnimationGrid);
    geometry.Width = int32_t(std::lround(double(pictureWidth) / columns));
    geometry.Height = int32_t(std::lround(double(pictureHeight) / rows));
    geometry.Source = AnimationFrameRect(pictureWidth, pictureHeight, anim, 0);
    return geometry;
}

int32_t AnimationFrameAt(const TImageAnimationParams& anim, double elapsed) {
    const int64_t cells = int64_t(std::clamp(anim.Columns, 1, kMaxAnimationGrid)) *
                          std::clamp(anim.Rows, 1, kMaxAnimationGrid);
    const int32_t count =
        int32_t(std::min<int64_t>(std::clamp(anim.FrameCount, 0, kMaxAnimationFrames), cells));
    if (count <= 1 || anim.FrameDurations.empty() || !std::isfinite(elapsed)) return 0;
    elapsed = std::max(elapsed, 0.0);

    // A list shorter than the frames (a picture's tag) repeats its last value.
    auto duration = [&](int32_t k) {
        size_t i = std::min(size_t(k), anim.FrameDurations.size() - 1);
        return double(std::max(anim.FrameDurations[i], 0));
    };
    double total = 0;
    for (int32_t k = 0; k < count; ++k) total += duration(k);
    // Durations that are all 0 would make the walk spin for ever.
    if (total <= 0) return 0;

    if (elapsed > total) {
        // Plays complete before the one under way; the walk wraps after each.
        const double complete = std::ceil(elapsed / total) - 1;
        if (anim.RepeatCount > 0 && complete >= anim.RepeatCount) return count - 1;
        elapsed -= complete * total;
    }
    double sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        sum += duration(k);
        if (elapsed <= sum) return k;
    }
    return count - 1;
}

ql::TRect AnimationFrameRect(int32_t pictureWidth, int32_t pictureHeight,
                             const TImageAnimationParams& anim, int32_t frame) {
    const int32_t columns = std::clamp(anim.Columns, 1, kMaxAnimationGrid);
    const int32_t rows = std::clamp(anim.Rows, 1, kMaxAnimationGrid);
    frame = std::clamp(frame, 0, kMaxAnimationFrames - 1);
    const int32_t cellW = std::max(pictureWidth, 0) / columns;
    const int32_t cellH = std::max(pictureHeight, 0) / rows;
    const int32_t column = frame % columns;
    const int32_t row = std::min(frame / columns, rows - 1);
    return ql::TRect{column * cellW, row * cellH, (column + 1) * cellW, (row + 1) * cellH};
}

int32_t LevelOfDetail(int32_t pictureWidth, int32_t pictureHeight, int32_t requiredWidth,
                      int32_t requiredHeight) {
    requiredWidth = std::max(requiredWidth, 1);
    requiredHeight = std::max(requiredHeight, 1);
    int64_t w = pictureWidth, h = pictureHeight;
    int32_t halvings = 0;
    // A side of 1 never exceeds a required side of at least 1, so this ends
    // within 32 steps.
    while (w > requiredWidth && h > requiredHeight) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
        ++halvings;
    }
    return std::max(halvings - 1, 0);
}

int32_t ScaledRequiredSide(double requiredSide, double displayScale) {
    const double side = std::round(requiredSide * displayScale);
    if (!std::isfinite(side) || side < 1) return 1;
    return int32_t(std::min(side, double(std::numeric_limits<int32_t>::max())));
}

}  // namespace orb
