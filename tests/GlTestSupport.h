// Comparing frames across devices: the headless GL device and the peak
// signal-to-noise ratio by which its frames are held against the reference.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "QlLib/Platform/qlGlApi.h"

namespace ql::test {

// The PSNR of b against a in dB over their bytes; 99 when they are equal, 0
// when their sizes differ.
inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace ql::test

namespace orb::test {

// A GL device on a headless context, or nullptr with the reason in error
// (a machine without GL).
inline std::unique_ptr<TGlDevice> HeadlessGlDevice(int32_t width, int32_t height,
                                                   std::string& error) {
    return TGlDevice::CreateHeadless(width, height, error);
}

}  // namespace orb::test
