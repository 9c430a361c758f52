#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(LoadCallback, ModesAnswerAndStop) {
    for (int32_t mode : {kLoadRun, kLoadYield, kLoadSleep}) {
        SetLoadCallbackMode(mode);
        EXPECT_EQ(LoadCallbackMode(), mode);
        EXPECT_TRUE(LoadCallback());
        EXPECT_TRUE(LoadCallback());
    }
    SetLoadCallbackMode(kLoadStop);
    EXPECT_FALSE(LoadCallback());
    SetLoadCallbackMode(9);  // ignored
    EXPECT_EQ(LoadCallbackMode(), kLoadStop);
    SetLoadCallbackMode(kLoadRun);
    EXPECT_TRUE(LoadCallback());
}

}  // namespace
}  // namespace orb
