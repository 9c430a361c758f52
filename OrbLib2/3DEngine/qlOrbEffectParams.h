// The transition chosen for a slide, as the show model fills it and the
// transition effects of the renderer read it. Plain data only, so that the
// renderer can use it without linking the show model.
#pragma once

#include <cstdint>
#include <string>

namespace orb {

inline constexpr int32_t kEffectGroupCount = 19;
inline constexpr int32_t kNoEffectClass = 0;
inline constexpr int32_t kRandomEffectClass = -1;
inline constexpr int32_t kCustomEffectClass = 18;

// A colour as the renderer's rows store it.
struct TBgrColor {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    friend bool operator==(const TBgrColor&, const TBgrColor&) = default;
};
// The parameters of one transition, shared with the transition effects.
struct TEffectParams {
    float Smoothline = 0;  // fraction of the output width
    float BroomOffset = 0;
    float RollDiameter = 0;
    bool RollVariants = false;
    bool RollUseBackColor = false;
    TBgrColor RollBackColor;
    bool Roll3D = false;
    float RollCurving = 0;
    bool FlipCenter = false;
    float FlipCurving = 0;
    bool FlipSmooth = false;
    float SwapDepth = 0;
    float SwapWidth = 0;
    float SwapMaxAngle = 0;  // degrees
    int32_t CenterX = 0;     // percent
    int32_t CenterY = 0;     // percent
    int32_t MosaicDX = 0;
    int32_t MosaicDY = 0;
    int32_t MosaicSC = 0;
    int32_t Seed = 0;  // random number for this transition
    std::u16string CustomText;
};

// The transition into one slide.
struct TSlideEffect {
    int32_t EffectClass = kNoEffectClass;  // 0: none, 18: custom
    int32_t EffectType = 0;
    double EffectTime = 0;  // ms
    TEffectParams Params;
};

}  // namespace orb
