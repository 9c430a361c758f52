#include "QlLib/qlCpuFeatures.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

TEST(CpuFeatures, X86LevelsExistOnlyOnX86_64AndAvx2ImpliesSse2) {
#if defined(__x86_64__)
    EXPECT_TRUE(CpuHasSse2());
#else
    EXPECT_FALSE(CpuHasSse2());
    EXPECT_FALSE(CpuHasAvx2());
#endif
    if (CpuHasAvx2()) {
        EXPECT_TRUE(CpuHasSse2());
    }
}

}  // namespace
}  // namespace ql
