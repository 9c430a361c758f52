#include "QlLib/qlCpuFeatures.h"

namespace ql {

#if defined(__x86_64__)

bool CpuHasSse2() {
    return true;
}

bool CpuHasAvx2() {
    // The first question may come from a static initialiser, before the
    // runtime filled in its processor model; the init makes that safe.
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

#else

bool CpuHasSse2() {
    return false;
}
bool CpuHasAvx2() {
    return false;
}

#endif

}  // namespace ql
