// What the processor offers the hand-vectorised loops. Every dispatcher asks
// here, so that one unit knows how to ask and what other processors have:
// the SSE2 and AVX2 builds exist only on x86-64, everywhere else the plain
// scalar loops run.
#pragma once

namespace ql {

// true on every x86-64 processor (SSE2 is part of the architecture); false
// elsewhere.
bool CpuHasSse2();
// true when the processor has AVX2 and the system saves its registers;
// false off x86-64.
bool CpuHasAvx2();

}  // namespace ql
