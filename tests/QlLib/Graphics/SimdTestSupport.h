// The SIMD levels above the scalar loops that this processor runs: tests of
// the fast paths compare each of them with the scalar loops, and skip when
// there is none (off x86-64) rather than compare the scalar loops with
// themselves.
#pragma once

#include <vector>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace ql::test {

inline std::vector<TSimdLevel> FastSimdLevels() {
    std::vector<TSimdLevel> levels;
    for (TSimdLevel level : {TSimdLevel::SSE2, TSimdLevel::AVX2})
        if (SimdLevelSupported(level)) levels.push_back(level);
    return levels;
}

inline constexpr const char* kNoFastPath = "processor has no SIMD level above the scalar loops";

}  // namespace ql::test
