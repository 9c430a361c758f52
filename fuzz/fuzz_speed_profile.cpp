// Reads a random speed-profile text into each of the three profiles of a
// key-point list with random key points, then moves the list to random show
// times: every current value must stay finite and the profile text must read
// back to itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbKeyPoints.h"
#include "QlLib/qpStringUtils.h"

namespace {

class TFuzzSlide : public orb::TKeyPointOwner {
public:
    double AnchorTime(int anchor) const override { return orb::SlideAnchorTime(Info, anchor); }
    orb::TSlideInfo Info;
};

bool AllFinite(const orb::TKeyValues& v) {
    for (float x : {v.Opacity, v.Angle, v.ScaleX, v.ScaleY, v.PosX, v.PosY, v.ZPos, v.CenterX, v.CenterY,
                    v.AngleX, v.AngleY, v.Blur})
        if (!std::isfinite(x)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orb;
    FuzzedDataProvider input(data, size);
    TFuzzSlide slide;
    slide.Info.BeginTime = input.ConsumeFloatingPoint<double>();
    slide.Info.EndTime = input.ConsumeFloatingPoint<double>();
    slide.Info.EffectTime = input.ConsumeFloatingPoint<double>();
    slide.Info.NextEffectTime = input.ConsumeFloatingPoint<double>();
    TKeyPoints list(&slide);
    list.SetPerspectiveCorrection(input.ConsumeBool());

    const int points = input.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < points; ++i) {
        TKeyValues values;
        values.ScaleX = input.ConsumeFloatingPoint<float>();
        values.ScaleY = input.ConsumeFloatingPoint<float>();
        values.PosX = input.ConsumeFloatingPoint<float>();
        values.ZPos = input.ConsumeFloatingPoint<float>();
        values.Angle = input.ConsumeFloatingPoint<float>();
        values.Opacity = input.ConsumeFloatingPoint<float>();
        const int anchor = input.ConsumeIntegralInRange(-1, 4);
        // Mostly plausible times, sometimes anything at all.
        const double time = input.ConsumeBool() ? input.ConsumeIntegralInRange(-10000, 10000)
                                                : input.ConsumeFloatingPoint<double>();
        list.AddKeyPoint(anchor, time, values);
    }

    const std::string bytes = input.ConsumeRandomLengthString(4096);
    const std::u16string text = ql::FromUtf8(bytes);
    const TProfileKind kinds[] = {kPanProfile, kZoomProfile, kRotateProfile};
    for (TProfileKind kind : kinds) {
        list.LoadProfile(kind, text);
        // Whatever was read writes out as a text that reads back the same.
        TSpeedStorage copy;
        if (!copy.Parse(list.Profile(kind).Serialize())) __builtin_trap();
        if (copy.Serialize() != list.Profile(kind).Serialize()) __builtin_trap();
    }
    if (list.Count() > 0 && input.ConsumeBool()) list.KeyPoint(0).SetTime(input.ConsumeFloatingPoint<double>());

    for (int i = 0; i < 64 && input.remaining_bytes() > 0; ++i) {
        const double t = input.ConsumeBool() ? input.ConsumeIntegralInRange(-20000, 20000)
                                             : input.ConsumeFloatingPoint<double>();
        list.SetTime(t);
        if (!AllFinite(list.Current())) __builtin_trap();
        if (!std::isfinite(list.CurrentTime())) __builtin_trap();
    }
    // Sweep the key points' own span too, where the shaped motion runs.
    for (int i = 0; i < list.Count(); ++i) {
        const double t = list.KeyPoint(i).AbsoluteTime();
        for (double dt : {-0.5, 0.0, 0.5, 37.0}) {
            list.SetTime(t + dt);
            if (!AllFinite(list.Current())) __builtin_trap();
        }
    }
    return 0;
}
