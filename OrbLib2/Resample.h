// Resizing 8-bit bitmaps with a separable filter, the blur's workhorse: a
// picture shrunk through a smooth filter and enlarged again comes back soft.
#pragma once

#include <cstdint>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

enum class TResampleFilter { BSpline, Triangle, Mitchell, Sinc, Lanczos3 };

double FilterValue(TResampleFilter filter, double x);
// The distance beyond which the filter is 0.
double FilterSupport(TResampleFilter filter);

// Output tables map a weighted sum to a byte through 4096 steps over 0..255.
constexpr int32_t kResampleTableSize = 4096;
// The table entry for a sum; sums outside 0..255 take the end entries.
int32_t ResampleTableIndex(double sum);

// Resizes source into destination ("A8" both), horizontally then vertically.
// Destination pixel x takes the source around x / scale; below scale 1 the
// filter widens by 1 / scale. Source pixels beyond the edges are mirrored.
// Each output is the sum rounded and clamped to 0..255, or, with a table, the
// table entry for the sum. A source smaller than 2 x 2 leaves the destination
// as it is. Returns false when the progress handler (asked after every row)
// cancelled.
bool Resample(const ql::TBitmap& source, ql::TBitmap& destination, TResampleFilter filter,
              const uint8_t* table, const ql::TProgressHandler& progress, double scale, double support);

}  // namespace orb
