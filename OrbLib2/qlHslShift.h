// The colour shift of button faces: every pixel goes to hue, saturation and
// lightness on a 0..255 scale, is moved there and comes back to RGB. Alpha is
// left alone.
//
// The arithmetic is exact: every step is a ratio of small integers, and each
// value the face keeps (H, S and L after the conversion, and each channel on
// the way back) is rounded half up. So the plain loop and the fast one agree
// bit for bit, on every processor, whatever the compiler does with floats.
#pragma once

#include <cstdint>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

// The shift as a button stores it: hue in degrees, saturation and lightness
// in percent; 0, 0, 0 changes nothing.
struct THslShift {
    int32_t Hue = 0, Saturation = 0, Lightness = 0;
    bool IsIdentity() const { return Hue == 0 && Saturation == 0 && Lightness == 0; }
};

// The shift in the 0..255 units the pixels are moved by.
struct THslSteps {
    int32_t Hue = 0;         // hue x 256 / 360 (truncated), brought into -255..255
    int32_t Saturation = 0;  // saturation x 256 / 100 (truncated), at most +-1024
    int32_t Lightness = 0;   // lightness x 256 / 100 (truncated), at most +-1024
};
THslSteps HslSteps(const THslShift& shift);

// One colour: 0x00RRGGBB in and out (the top byte is ignored and comes back 0).
uint32_t HslShiftColour(uint32_t rgb, const THslSteps& steps);

// A row of "A8R8G8B8" pixels (bytes B, G, R, A), shifted in place. The plain
// loop shifts every pixel; the fast one remembers the colours it has shifted
// (faces repeat one column across their width, so a row holds few colours).
void HslShiftRowScalar(uint8_t* row, int32_t count, const THslSteps& steps);
void HslShiftRowFast(uint8_t* row, int32_t count, const THslSteps& steps);

// Shifts a whole "A8R8G8B8" bitmap, asking the progress handler before each
// row; false when it said stop (the rows before stay shifted) or when the
// bitmap is not 32-bit. An identity shift returns true at once.
bool HslShiftBitmap(ql::TBitmap& bitmap, const THslShift& shift,
                    const ql::TProgressHandler& progress = {}, bool fast = true);

}  // namespace orb
