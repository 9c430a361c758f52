// The picture geometry of image objects: which part of the picture is shown
// (aspect re-framing, crop, border), which frame of a sprite sheet is shown at a
// time, and how many times the picture may be halved for the size it is shown
// at. Plain functions over plain records, so that the object classes, the slide
// producer and orbtool compute the same answers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {
class TIniIdentList;
}

namespace orb {

// Shows are untrusted: sprite sheets are bounded to this many frames, columns
// and rows, whatever the document or the picture's tag says.
inline constexpr int32_t kMaxAnimationFrames = 4096;
inline constexpr int32_t kMaxAnimationGrid = 4096;
// Frames whose durations cannot be read last this long.
inline constexpr int32_t kDefaultFrameDuration = 100;
// A border wider than this many pixels is cut to it, so that sizes stay in range.
inline constexpr int32_t kMaxBorderPixels = 65535;
// CropRect's last two values when the document does not give them.
inline constexpr float kUnsetCropValue = -1.0f;

struct TBorderParams {
    bool EnableBorder = false;
    bool EnableCrop = false;
    bool EnableAspect = false;
    float BorderWidth = 3.4f;         // percent of the picture height
    uint32_t BorderColor = 0xFFFFFFFF;  // 0xAARRGGBB
    // Margins in percent: [0] left (of the height), [1] top, [2] right (of the
    // height), [3] bottom, [4] left and [5] right (of the width) when both >= 0.
    std::array<float, 6> CropRect{0, 0, 0, 0, kUnsetCropValue, kUnsetCropValue};
    // Target aspect (w / h), zoom percent, horizontal and vertical offset percent.
    std::array<float, 4> AspectParams{0, 0, 0, 0};
    friend bool operator==(const TBorderParams&, const TBorderParams&) = default;
};

struct TImageAnimationParams {
    int32_t Columns = 1;
    int32_t Rows = 1;
    int32_t FrameCount = 1;
    std::vector<int32_t> FrameDurations;  // ms, one per frame
    int32_t RepeatCount = 0;              // plays; 0 repeats for ever
    double Offset = 0;                    // ms after the slide's begin
    friend bool operator==(const TImageAnimationParams&, const TImageAnimationParams&) = default;

    // More than one cell in the sheet.
    bool IsAnimated() const { return Columns > 1 || Rows > 1; }
};

// Comma-separated numbers (blanks and tabs around each skipped); nullopt when
// any item is not a number or the list holds more than maxCount items.
std::optional<std::vector<double>> ParseNumberList(std::u16string_view text, size_t maxCount);

// "r,g,b,a", each clamped to 0..255, as 0xAARRGGBB; nullopt for any other form.
std::optional<uint32_t> ParseRgbaColor(std::u16string_view text);

// Frame durations for frameCount frames: the numbers given (at most frameCount),
// the last one repeated for the remaining frames; every frame lasts 100 ms when
// the list cannot be read. Negative durations count as 0.
std::vector<int32_t> ParseFrameDurations(std::u16string_view text, int32_t frameCount);

// The border keys of an image block; missing or badly formed values keep the
// defaults.
TBorderParams ReadBorderParams(const ql::TIniIdentList& block);

// The animation keys of an image block, counts bounded. FrameCount 0 (the
// default) means that the animation is to come from the picture itself.
TImageAnimationParams ReadAnimationParams(const ql::TIniIdentList& block);

// Bounds counts that came from a document or a picture's tag: columns and rows
// at least 1 and at most kMaxAnimationGrid, frames 0 .. kMaxAnimationFrames, the
// durations list cut to the frame count, repeat count not below 0.
void BoundAnimationParams(TImageAnimationParams& params);

struct TImageGeometry {
    ql::TRect Source;       // picture pixels shown
    int32_t Width = 0;      // the object's size
    int32_t Height = 0;
    float InnerOffset = 0;  // border width: where the picture starts inside the object
    friend bool operator==(const TImageGeometry&, const TImageGeometry&) = default;
};

// The source rectangle and object size of a still picture. pixelAspect stretches
// the picture's width (1 for pictures; video passes its own; 0.001 or less
// counts as 1).
TImageGeometry ComputeImageGeometry(int32_t pictureWidth, int32_t pictureHeight,
                                    const TBorderParams& border, double pixelAspect = 1.0);

// The object size of a sprite sheet: one cell, rounded. Crop, aspect and border
// do not apply to sheets.
TImageGeometry ComputeSheetGeometry(int32_t pictureWidth, int32_t pictureHeight,
                                    const TImageAnimationParams& anim);

// The frame shown elapsed ms after the animation started (the slide's begin
// plus the offset; negative counts as 0). Frame 0 for one frame, no durations,
// durations that are all 0, or a time that is not a number.
int32_t AnimationFrameAt(const TImageAnimationParams& anim, double elapsed);

// The rectangle of frame index in the sheet.
ql::TRect AnimationFrameRect(int32_t pictureWidth, int32_t pictureHeight,
                             const TImageAnimationParams& anim, int32_t frame);

// How many times the picture is halved for drawing at a required display size
// (already scaled to the display and rounded, each at least 1): the halvings
// that keep it larger than required in both directions, less one; at least 0.
int32_t LevelOfDetail(int32_t pictureWidth, int32_t pictureHeight, int32_t requiredWidth,
                      int32_t requiredHeight);

// The required display size of the pre-scan times the display scale, rounded,
// at least 1 (non-finite sizes count as 1).
int32_t ScaledRequiredSide(double requiredSide, double displayScale);

}  // namespace orb
