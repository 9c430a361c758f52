// What the orbtool program tests share: running the tool, and small pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPngWriter.h"

namespace orb::test {

inline ql::test::TProgramRun Tool(const ql::test::TTestFolder& folder, const std::string& arguments) {
    return ql::test::RunProgram(folder, ORBTOOL_PATH, arguments);
}

// A PNG of one colour; solid pictures compress to almost nothing.
inline std::string SolidPng(int32_t width, int32_t height, uint32_t argb) {
    ql::TDirectBitmap bitmap(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bitmap.Row(y));
        for (int32_t x = 0; x < width; ++x) row[x] = argb;
    }
    const std::vector<uint8_t> png = ql::EncodePng(bitmap);
    return std::string(png.begin(), png.end());
}

}  // namespace orb::test
