// The channel conversion built for AVX2: four pixels a vector, and the hue,
// saturation and integer quotients eight pixels a vector in single
// precision; the hue's and saturation's quick values decide the byte unless
// they lie near a whole number.
#include "channel_kernels.h"
#include "channels.h"

namespace ostrel {
namespace {

// atan on [0, 1] as t * P(t^2), a least-squares fit at Chebyshev points
// that is off by less than 6e-8 with these single-precision coefficients.
constexpr float kAtanPolynomial[] = {9.999992251e-01f, -3.332953751e-01f, 1.994308084e-01f, -1.389204115e-01f,
                                     9.601656348e-02f, -5.538169667e-02f, 2.150925435e-02f, -3.960257396e-03f};

inline __m256 AtanUnit(__m256 t) {
  const __m256 u = _mm256_mul_ps(t, t);
  __m256 p = _mm256_set1_ps(kAtanPolynomial[7]);
  for (int k = 6; k >= 0; --k) p = _mm256_add_ps(_mm256_mul_ps(p, u), _mm256_set1_ps(kAtanPolynomial[k]));
  return _mm256_mul_ps(t, p);
}

// The colour of eight pixels (blue, green, red) as floats.
struct Eight {
  __m256 r, g, b;
};

// One colour component of eight pixels: `low` holds bytes 0..15 of the
// pixels, `high` bytes 8..23, `c` is 0, 1 or 2.
inline __m256 Component(__m128i low, __m128i high, char c) {
  const __m128i first =
      _mm_shuffle_epi8(low, _mm_setr_epi8(c, -1, -1, -1, c + 3, -1, -1, -1, c + 6, -1, -1, -1, c + 9, -1, -1, -1));
  const __m128i second = _mm_shuffle_epi8(
      high, _mm_setr_epi8(c + 4, -1, -1, -1, c + 7, -1, -1, -1, c + 10, -1, -1, -1, c + 13, -1, -1, -1));
  return _mm256_cvtepi32_ps(_mm256_set_m128i(second, first));
}

inline Eight LoadEight(const std::uint8_t* bgr) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 8));
  return {Component(low, high, 2), Component(low, high, 1), Component(low, high, 0)};
}

inline __m256 Mul(float c, __m256 v) { return _mm256_mul_ps(_mm256_set1_ps(c), v); }

// The low bytes of the eight whole numbers.
inline void StoreLowBytes(__m256i whole, std::uint8_t* out) {
  const __m256i bytes =
      _mm256_shuffle_epi8(whole, _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                                  12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                   _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
}

// The values truncated to whole numbers, of which the low bytes are stored,
// except in the lanes of `zero`, which store 0. A value that lies within
// `margin` of a whole number, in a lane not in `zero`, takes the exact
// formula's byte instead.
template <typename Exact>
inline void SettleEight(__m256 quick, float margin, __m256 zero, const std::uint8_t* bgr, std::uint8_t* out,
                        Exact exact) {
  const __m256i whole = _mm256_cvttps_epi32(quick);
  const __m256 w = _mm256_cvtepi32_ps(whole);
  const __m256 m = _mm256_set1_ps(margin);
  const __m256 clear =
      _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(quick, w), m, _CMP_GT_OQ),
                    _mm256_cmp_ps(_mm256_sub_ps(_mm256_add_ps(w, _mm256_set1_ps(1.0f)), quick), m, _CMP_GT_OQ));
  StoreLowBytes(_mm256_andnot_si256(_mm256_castps_si256(zero), whole), out);
  const int settled = _mm256_movemask_ps(_mm256_or_ps(clear, zero));
  if (settled == 0xFF) return;
  for (int k = 0; k < 8; ++k)
    if (!(settled >> k & 1)) out[k] = exact(bgr[3 * k + 2], bgr[3 * k + 1], bgr[3 * k]);
}

// Runs `kernel` (24 bytes in, 8 out) over the row; the last few pixels go
// through it from a zero-padded copy.
template <typename Kernel>
void ForEachEight(const std::uint8_t* bgr, std::uint8_t* out, int count, Kernel kernel) {
  int i = 0;
  for (; i + 8 <= count; i += 8) kernel(bgr + 3 * i, out + i);
  if (i < count) {
    std::uint8_t pixels[24] = {}, values[8];
    std::memcpy(pixels, bgr + 3 * i, 3 * static_cast<std::size_t>(count - i));
    kernel(pixels, values);
    std::memcpy(out + i, values, static_cast<std::size_t>(count - i));
  }
}

// The opponent colour coordinates of the hue and saturation: whole numbers
// below 2^24, exact in single precision.
inline __m256 OpponentU(const Eight& c) {
  return _mm256_sub_ps(_mm256_sub_ps(Mul(886.0f, c.b), Mul(587.0f, c.g)), Mul(299.0f, c.r));
}
inline __m256 OpponentV(const Eight& c) {
  return _mm256_sub_ps(_mm256_sub_ps(Mul(701.0f, c.r), Mul(587.0f, c.g)), Mul(114.0f, c.b));
}

// The hue in single precision, off from the formula by far less than its
// margin (every colour is checked by the tests).
void ConvertHueSingle(const std::uint8_t* bgr, std::uint8_t* out, int count) {
  ForEachEight(bgr, out, count, [](const std::uint8_t* p, std::uint8_t* o) {
    const Eight c = LoadEight(p);
    const __m256 y = Mul(1.0f / 701, OpponentV(c));
    const __m256 x = Mul(1.0f / 886, OpponentU(c));
    const __m256 sign = _mm256_set1_ps(-0.0f), zero = _mm256_setzero_ps();
    const __m256 ax = _mm256_andnot_ps(sign, x), ay = _mm256_andnot_ps(sign, y);
    const __m256 grey = _mm256_and_ps(_mm256_cmp_ps(ax, zero, _CMP_EQ_OQ), _mm256_cmp_ps(ay, zero, _CMP_EQ_OQ));
    const __m256 ratio = _mm256_div_ps(_mm256_min_ps(ax, ay), _mm256_max_ps(ax, ay));
    __m256 a = AtanUnit(_mm256_andnot_ps(grey, ratio));
    a = _mm256_blendv_ps(a, _mm256_sub_ps(_mm256_set1_ps(static_cast<float>(kPi / 2)), a),
                         _mm256_cmp_ps(ay, ax, _CMP_GT_OQ));
    a = _mm256_blendv_ps(a, _mm256_sub_ps(_mm256_set1_ps(static_cast<float>(kPi)), a),
                         _mm256_cmp_ps(x, zero, _CMP_LT_OQ));
    a = _mm256_or_ps(a, _mm256_and_ps(y, sign));
    const __m256 quick = Mul(static_cast<float>(kHueScale), _mm256_add_ps(a, _mm256_set1_ps(static_cast<float>(kPi))));
    SettleEight(quick, 3e-4f, grey, p, o, ExactHue);
  });
}

// The saturation in single precision, settled the same way.
void ConvertSaturationSingle(const std::uint8_t* bgr, std::uint8_t* out, int count) {
  ForEachEight(bgr, out, count, [](const std::uint8_t* p, std::uint8_t* o) {
    const Eight c = LoadEight(p);
    const __m256 un = OpponentU(c), vn = OpponentV(c), zero = _mm256_setzero_ps();
    const __m256 grey = _mm256_and_ps(_mm256_cmp_ps(un, zero, _CMP_EQ_OQ), _mm256_cmp_ps(vn, zero, _CMP_EQ_OQ));
    const __m256 u = _mm256_div_ps(un, _mm256_set1_ps(886.0f)), v = _mm256_div_ps(vn, _mm256_set1_ps(701.0f));
    const __m256 quick = Mul(0.937f, _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(u, u), _mm256_mul_ps(v, v))));
    SettleEight(quick, 1e-3f, grey, p, o, Saturation);
  });
}

// A channel that is the integer quotient of a weighted sum of the bytes: the
// sum is a whole number below 2^24, held exactly, and the correctly rounded
// quotient lies closer to it than to the next whole number, so truncating
// gives the integer quotient.
template <typename Sum>
void ConvertQuotientSingle(const std::uint8_t* bgr, std::uint8_t* out, int count, float divisor, Sum sum) {
  ForEachEight(bgr, out, count, [divisor, sum](const std::uint8_t* p, std::uint8_t* o) {
    StoreLowBytes(_mm256_cvttps_epi32(_mm256_div_ps(sum(LoadEight(p)), _mm256_set1_ps(divisor))), o);
  });
}

}  // namespace

void ConvertPixelsAvx2(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  switch (code) {
    case 'h': ConvertHueSingle(bgr, out, count); break;
    case 'S': ConvertSaturationSingle(bgr, out, count); break;
    case '*':
      ConvertQuotientSingle(bgr, out, count, 1000.0f, [](const Eight& c) {
        return _mm256_add_ps(_mm256_add_ps(Mul(299.0f, c.r), Mul(587.0f, c.g)), Mul(114.0f, c.b));
      });
      break;
    case 'Q':
      ConvertQuotientSingle(bgr, out, count, 10452.0f, [](const Eight& c) {
        return _mm256_add_ps(_mm256_add_ps(Mul(2115.0f, c.r), Mul(5226.0f, _mm256_sub_ps(_mm256_set1_ps(255.0f), c.g))),
                             Mul(3111.0f, c.b));
      });
      break;
    default: ConvertPixelsWith<Doubles4>(code, bgr, out, count); break;
  }
}

}  // namespace ostrel
