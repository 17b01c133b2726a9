#include "level_count_kernels.h"

namespace ostrel {
LevelCounter LevelCounterAvx2() { return LevelKernels<Bytes32>::Counter("AVX2"); }
}  // namespace ostrel
