#include "level_count_kernels.h"

namespace ostrel {
LevelCounter LevelCounterAvx512() { return LevelKernels<Bytes64>::Counter("AVX-512"); }
}  // namespace ostrel
