// The channel conversion built for AVX2: four pixels a vector.
#include "channel_kernels.h"
#include "channels.h"

namespace ostrel {

void ConvertPixelsAvx2(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  ConvertPixelsWith<Doubles4>(code, bgr, out, count);
}

}  // namespace ostrel
