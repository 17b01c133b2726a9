// The channel conversion built for AVX2: four pixels a vector, and the hue
// eight pixels a vector in single precision.
#include "channel_kernels.h"
#include "channels.h"

namespace ostrel {
namespace {

// atan at the steps of AtanTable and the rise to the next step, in single
// precision.
struct AtanSteps {
  float at[kAtanSteps + 1], rise[kAtanSteps + 1];
};

const AtanSteps& SingleAtanTable() {
  static const AtanSteps steps = [] {
    const AtanTableType& table = AtanTable();
    AtanSteps s{};
    for (int i = 0; i <= kAtanSteps; ++i) {
      s.at[i] = static_cast<float>(table[i]);
      s.rise[i] = static_cast<float>(table[i + 1] - table[i]);
    }
    return s;
  }();
  return steps;
}

// One colour component of eight pixels (blue, green, red) as floats: `low`
// holds bytes 0..15 of the pixels, `high` bytes 8..23, `c` is 0, 1 or 2.
inline __m256 Component(__m128i low, __m128i high, char c) {
  const __m128i first = _mm_shuffle_epi8(
      low, _mm_setr_epi8(c, -1, -1, -1, c + 3, -1, -1, -1, c + 6, -1, -1, -1, c + 9, -1, -1, -1));
  const __m128i second = _mm_shuffle_epi8(
      high, _mm_setr_epi8(c + 4, -1, -1, -1, c + 7, -1, -1, -1, c + 10, -1, -1, -1, c + 13, -1, -1, -1));
  return _mm256_cvtepi32_ps(_mm256_set_m128i(second, first));
}

// The hue of eight pixels from the single-precision table, off from the
// formula by less than 1e-4; a value within 3e-4 of a whole number takes the
// exact formula's byte instead.
void HueEight(const std::uint8_t* bgr, std::uint8_t* out, const AtanSteps& steps) {
  constexpr float kMargin = 3e-4f;
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 8));
  const __m256 b = Component(low, high, 0), g = Component(low, high, 1), r = Component(low, high, 2);
  // Whole numbers below 2^24, exact in single precision.
  const __m256 un = _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(886.0f), b),
                                                _mm256_mul_ps(_mm256_set1_ps(587.0f), g)),
                                  _mm256_mul_ps(_mm256_set1_ps(299.0f), r));
  const __m256 vn = _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(701.0f), r),
                                                _mm256_mul_ps(_mm256_set1_ps(587.0f), g)),
                                  _mm256_mul_ps(_mm256_set1_ps(114.0f), b));
  const __m256 y = _mm256_div_ps(vn, _mm256_set1_ps(701.0f)), x = _mm256_div_ps(un, _mm256_set1_ps(886.0f));
  const __m256 sign = _mm256_set1_ps(-0.0f);
  const __m256 ax = _mm256_andnot_ps(sign, x), ay = _mm256_andnot_ps(sign, y);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 grey = _mm256_and_ps(_mm256_cmp_ps(ax, zero, _CMP_EQ_OQ), _mm256_cmp_ps(ay, zero, _CMP_EQ_OQ));
  const __m256 ratio = _mm256_div_ps(_mm256_min_ps(ax, ay), _mm256_max_ps(ax, ay));
  const __m256 t = _mm256_andnot_ps(grey, _mm256_mul_ps(ratio, _mm256_set1_ps(static_cast<float>(kAtanSteps))));
  const __m256i step = _mm256_cvttps_epi32(t);
  const __m256 at = _mm256_i32gather_ps(steps.at, step, 4), rise = _mm256_i32gather_ps(steps.rise, step, 4);
  __m256 a = _mm256_add_ps(at, _mm256_mul_ps(_mm256_sub_ps(t, _mm256_cvtepi32_ps(step)), rise));
  a = _mm256_blendv_ps(a, _mm256_sub_ps(_mm256_set1_ps(static_cast<float>(kPi / 2)), a),
                       _mm256_cmp_ps(ay, ax, _CMP_GT_OQ));
  a = _mm256_blendv_ps(a, _mm256_sub_ps(_mm256_set1_ps(static_cast<float>(kPi)), a), _mm256_cmp_ps(x, zero, _CMP_LT_OQ));
  a = _mm256_or_ps(a, _mm256_and_ps(y, sign));
  const __m256 quick =
      _mm256_mul_ps(_mm256_set1_ps(static_cast<float>(kHueScale)), _mm256_add_ps(a, _mm256_set1_ps(static_cast<float>(kPi))));
  const __m256i whole = _mm256_cvttps_epi32(quick);
  const __m256 w = _mm256_cvtepi32_ps(whole);
  const __m256 margin = _mm256_set1_ps(kMargin);
  const __m256 clear = _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(quick, w), margin, _CMP_GT_OQ),
                                     _mm256_cmp_ps(_mm256_sub_ps(_mm256_add_ps(w, _mm256_set1_ps(1.0f)), quick), margin,
                                                   _CMP_GT_OQ));
  // The low byte of each whole number; grey pixels give 0.
  const __m256i bytes = _mm256_andnot_si256(_mm256_castps_si256(grey), whole);
  const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
  const int settled = _mm256_movemask_ps(_mm256_or_ps(clear, grey));
  if (settled == 0xFF) return;
  for (int k = 0; k < 8; ++k)
    if (!(settled >> k & 1)) out[k] = ExactHue(bgr[3 * k + 2], bgr[3 * k + 1], bgr[3 * k]);
}

void ConvertHueSingle(const std::uint8_t* bgr, std::uint8_t* out, int count) {
  const AtanSteps& steps = SingleAtanTable();
  int i = 0;
  for (; i + 8 <= count; i += 8) HueEight(bgr + 3 * i, out + i, steps);
  if (i < count) {
    std::uint8_t pixels[24] = {}, values[8];
    std::memcpy(pixels, bgr + 3 * i, 3 * static_cast<std::size_t>(count - i));
    HueEight(pixels, values, steps);
    std::memcpy(out + i, values, static_cast<std::size_t>(count - i));
  }
}

}  // namespace

void ConvertPixelsAvx2(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  if (code == 'h')
    ConvertHueSingle(bgr, out, count);
  else
    ConvertPixelsWith<Doubles4>(code, bgr, out, count);
}

}  // namespace ostrel
