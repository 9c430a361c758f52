// Soft drop shadows: the blurred alpha of a picture (shrunk and enlarged again
// through the B-spline), reshaped by an optional tone curve and coloured.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/qpFileStream.h"

namespace orb {

struct TCurvePoint {
    int32_t x = 0, y = 0;
};

// A tone curve through control points (each 0..255), as a 256-entry table.
class TCurvesData {
public:
    std::vector<TCurvePoint> Points;
    std::array<uint8_t, 256> Table{};

    // Fills Table from Points: Catmull-Rom segments walked in 1000 steps.
    // Points outside 0..255 are pulled in first. Needs at least 2 points.
    void BuildTable();

    // Point count (2..255) then x and y per point, all 16-bit big-endian.
    // Raises EStreamReadError on a short stream or a bad count.
    void LoadFromStream(ql::TStream& stream);
    void SaveToStream(ql::TStream& stream) const;

    // The built-in spread curves 0..9; nothing for any other index.
    static std::optional<TCurvesData> Builtin(int32_t index);
    static const char* BuiltinName(int32_t index);  // nullptr outside 0..9
};

// The 4096-entry output table of a curve: entry i is the curve at
// i * 255 / 4095, interpolated between neighbouring entries and rounded.
std::vector<uint8_t> CurveOutputTable(const TCurvesData& curve);

class TDropShadow {
public:
    // The blur factor becomes softness + 1 (1 when that is not positive).
    void SetBlur(float softness);
    float BlurFactor() const { return m_factor; }
    // Extra pixels on every side of the result: ceil(factor * 2.5).
    int32_t Margin() const;
    // The curve stays the caller's; nullptr for none.
    void SetCurve(const TCurvesData* curve) { m_curve = curve; }

    // The blurred alpha ("A8") of an "A8" or "A8R8G8B8" source, larger than it
    // by the margin on every side. Nothing when cancelled.
    std::unique_ptr<ql::TBitmap> Make(const ql::TBitmap& source, const ql::TProgressHandler& progress = {}) const;

private:
    float m_factor = 3;
    const TCurvesData* m_curve = nullptr;
};

class TShadowProducer {
public:
    // The shadow of the picture's alpha: blurred with factor blur + 1, in the
    // colour (0xAARRGGBB; its alpha the shadow's full opacity). "A8R8G8B8";
    // nothing when cancelled.
    std::unique_ptr<ql::TBitmap> Produce(const ql::TBitmap& picture, uint32_t colour, float blur,
                                         const TCurvesData* curve = nullptr,
                                         const ql::TProgressHandler& progress = {}) const;
};

}  // namespace orb
