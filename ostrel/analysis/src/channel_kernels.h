// The channel formulas over runs of pixels, a vector of pixels at a time.
// Included by the baseline build of the conversion (two pixels a vector) and
// by its AVX2 build (four pixels). Every lane performs the double operations
// of the formula for its own pixel, in the formula's order, and no fused
// multiply-add is used, so both builds give the same bytes for every colour.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include <immintrin.h>

namespace ostrel {

constexpr int kAtanSteps = 1024;
using AtanTableType = std::array<double, kAtanSteps + 2>;
// atan on [0, 1] at steps of 1/1024, and the linear sRGB component of every
// byte value; made once, shared by both builds.
const AtanTableType& AtanTable();
const std::array<double, 256>& LinearTable();

namespace {  // each build keeps its own instances

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHueScale = 40.58451049;
constexpr double kOver886 = 1.0 / 886, kOver701 = 1.0 / 701;

using Doubles2 = double __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));

template <typename V>
constexpr int kLanes = sizeof(V) / sizeof(double);
// Per vector of doubles: its lanes truncated to integers, and its comparison masks.
template <typename V>
struct LaneTypes;
template <>
struct LaneTypes<Doubles2> {
  using Ints = std::int32_t __attribute__((vector_size(8)));
  using Mask = std::int64_t __attribute__((vector_size(16)));
};
template <>
struct LaneTypes<Doubles4> {
  using Ints = std::int32_t __attribute__((vector_size(16)));
  using Mask = std::int64_t __attribute__((vector_size(32)));
};
template <typename V>
using IntsOf = typename LaneTypes<V>::Ints;
template <typename V>
using MaskOf = typename LaneTypes<V>::Mask;

inline std::uint8_t Truncate(double value) { return static_cast<std::uint8_t>(static_cast<int>(value)); }

template <typename V>
struct Rgb {
  V r, g, b;
};

// The red, green and blue bytes of kLanes<V> pixels (blue, green, red).
template <typename V>
[[gnu::always_inline]] inline Rgb<V> LoadRgb(const std::uint8_t* bgr) {
#if defined(__AVX2__)
  if constexpr (kLanes<V> == 4) {
    // Twelve bytes straight into a register (no copy through memory).
    std::int32_t last;
    std::memcpy(&last, bgr + 8, 4);
    const __m128i bytes = _mm_insert_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bgr)), last, 2);
    auto lane = [bytes](char first) {
      const __m128i spread =
          _mm_setr_epi8(first, -1, -1, -1, first + 3, -1, -1, -1, first + 6, -1, -1, -1, first + 9, -1, -1, -1);
      return _mm256_cvtepi32_pd(_mm_shuffle_epi8(bytes, spread));
    };
    return {lane(2), lane(1), lane(0)};
  }
#endif
  Rgb<V> p;
  for (int k = 0; k < kLanes<V>; ++k) {
    p.b[k] = bgr[3 * k];
    p.g[k] = bgr[3 * k + 1];
    p.r[k] = bgr[3 * k + 2];
  }
  return p;
}

// Stores the truncated values as bytes (the low byte of each whole number).
template <typename V>
[[gnu::always_inline]] inline void StoreTruncated(IntsOf<V> whole, std::uint8_t* out) {
#if defined(__AVX2__)
  if constexpr (kLanes<V> == 4) {
    const __m128i low = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const std::int32_t bytes = _mm_cvtsi128_si32(_mm_shuffle_epi8(reinterpret_cast<__m128i>(whole), low));
    std::memcpy(out, &bytes, 4);
    return;
  }
#endif
  for (int k = 0; k < kLanes<V>; ++k) out[k] = static_cast<std::uint8_t>(whole[k]);
}

// Whether every lane of a comparison mask is set.
template <typename V>
[[gnu::always_inline]] inline bool AllSet(MaskOf<V> mask) {
#if defined(__AVX2__)
  if constexpr (kLanes<V> == 4) return _mm256_movemask_pd(reinterpret_cast<__m256d>(mask)) == 0xF;
#endif
  if constexpr (kLanes<V> == 2) return _mm_movemask_pd(reinterpret_cast<__m128d>(mask)) == 0x3;
  for (int k = 0; k < kLanes<V>; ++k)
    if (!mask[k]) return false;
  return true;
}

[[gnu::always_inline]] inline Doubles2 SquareRoot(Doubles2 v) { return _mm_sqrt_pd(v); }
#if defined(__AVX2__)
[[gnu::always_inline]] inline Doubles4 SquareRoot(Doubles4 v) { return _mm256_sqrt_pd(v); }
#endif

template <typename V>
[[gnu::always_inline]] inline V Select(MaskOf<V> mask, V yes, V no) {
  return mask ? yes : no;
}

constexpr std::int64_t kSignBit = std::numeric_limits<std::int64_t>::min();

// std::fabs and std::copysign of every lane, by the sign bit.
template <typename V>
[[gnu::always_inline]] inline V Abs(V v) {
  return reinterpret_cast<V>(reinterpret_cast<MaskOf<V>>(v) & ~kSignBit);
}
template <typename V>
[[gnu::always_inline]] inline V CopySign(V magnitude, V sign) {
  return reinterpret_cast<V>(reinterpret_cast<MaskOf<V>>(Abs(magnitude)) |
                             (reinterpret_cast<MaskOf<V>>(sign) & kSignBit));
}

// table[index + offset] of every lane.
template <typename V>
[[gnu::always_inline]] inline V Gather(const double* table, IntsOf<V> index, int offset) {
#if defined(__AVX2__)
  if constexpr (kLanes<V> == 4)
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table + offset, reinterpret_cast<__m128i>(index),
                                    _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
#endif
  V v;
  for (int k = 0; k < kLanes<V>; ++k) v[k] = table[index[k] + offset];
  return v;
}

// Runs `kernel` (pixels in, bytes out) over the row; the last few pixels go
// through it from a zero-padded copy.
template <typename V, typename Kernel>
[[gnu::always_inline]] inline void ForEachVector(const std::uint8_t* bgr, std::uint8_t* out, int count, Kernel kernel) {
  constexpr int n = kLanes<V>;
  int i = 0;
  for (; i + n <= count; i += n) kernel(bgr + 3 * i, out + i);
  if (i < count) {
    std::uint8_t pixels[3 * n] = {}, values[n];
    std::memcpy(pixels, bgr + 3 * i, 3 * static_cast<std::size_t>(count - i));
    kernel(pixels, values);
    std::memcpy(out + i, values, static_cast<std::size_t>(count - i));
  }
}

// Channels given by one real formula of (r, g, b), truncated.
template <typename V, typename Formula>
void ConvertByFormula(const std::uint8_t* bgr, std::uint8_t* out, int count, Formula formula) {
  ForEachVector<V>(bgr, out, count, [formula](const std::uint8_t* p, std::uint8_t* o) {
    const Rgb<V> c = LoadRgb<V>(p);
    StoreTruncated<V>(__builtin_convertvector(formula(c.r, c.g, c.b), IntsOf<V>), o);
  });
}

// The bytes of quick values that lie farther than `margin` from a whole
// number; the exact formula's byte for the others.
template <typename V, typename Exact>
[[gnu::always_inline]] inline void Settle(V quick, double margin, const std::uint8_t* bgr, std::uint8_t* out,
                                          Exact exact) {
  const IntsOf<V> whole = __builtin_convertvector(quick, IntsOf<V>);
  const V w = __builtin_convertvector(whole, V);
  const MaskOf<V> clear = (quick - w > margin) & (w + 1.0 - quick > margin);
  StoreTruncated<V>(whole, out);
  if (AllSet<V>(clear)) return;
  for (int k = 0; k < kLanes<V>; ++k)
    if (!clear[k]) out[k] = exact(bgr[3 * k + 2], bgr[3 * k + 1], bgr[3 * k]);
}

template <typename T>
T Luma(T r, T g, T b) {
  return 299.0 * r + 587.0 * g + 114.0 * b + 1.0;
}

// Multiplying by the reciprocals moves the value by far less than 1e-9; only
// a value that close to a whole number needs the divisions of the formula.
constexpr double kSaturationMargin = 1e-9;

std::uint8_t Saturation(int r, int g, int b) {
  const int un = 886 * b - 587 * g - 299 * r;
  const int vn = 701 * r - 587 * g - 114 * b;
  if (un == 0 && vn == 0) return 0;
  const double uc = un / 886.0, vc = vn / 701.0;
  return Truncate(0.937 * std::sqrt(uc * uc + vc * vc));
}

template <typename V>
void ConvertSaturation(const std::uint8_t* bgr, std::uint8_t* out, int count) {
  ForEachVector<V>(bgr, out, count, [](const std::uint8_t* p, std::uint8_t* o) {
    const Rgb<V> c = LoadRgb<V>(p);
    const V uq = (886.0 * c.b - 587.0 * c.g - 299.0 * c.r) * kOver886;
    const V vq = (701.0 * c.r - 587.0 * c.g - 114.0 * c.b) * kOver701;
    Settle(0.937 * SquareRoot(uq * uq + vq * vq), kSaturationMargin, p, o, Saturation);
  });
}

std::uint8_t ExactHue(int r, int g, int b) {
  const int un = 886 * b - 587 * g - 299 * r;
  const int vn = 701 * r - 587 * g - 114 * b;
  if (un == 0 && vn == 0) return 0;
  double a = std::atan2(vn / 701.0, un / 886.0) - kPi;
  if (a < 0) a += kTwoPi;
  return Truncate(kHueScale * a);
}

// The hue from atan2 by the table, linearly interpolated (off by less than
// 8e-8); it decides the byte unless the scaled value lies within 1e-5 of a
// whole number (its error is below 4e-6), where the exact formula does.
template <typename V>
void ConvertHue(const std::uint8_t* bgr, std::uint8_t* out, int count) {
  const AtanTableType& table = AtanTable();
  ForEachVector<V>(bgr, out, count, [&table](const std::uint8_t* p, std::uint8_t* o) {
    const Rgb<V> c = LoadRgb<V>(p);
    // Whole numbers, exactly as their integer forms.
    const V un = 886.0 * c.b - 587.0 * c.g - 299.0 * c.r;
    const V vn = 701.0 * c.r - 587.0 * c.g - 114.0 * c.b;
    const V y = vn * kOver701, x = un * kOver886;
    const V ax = Abs(x), ay = Abs(y);
    const MaskOf<V> grey = (ax == 0) & (ay == 0);
    const V lower = Select<V>(ay < ax, ay, ax), upper = Select<V>(ax < ay, ay, ax);
    const V t = Select<V>(grey, V{}, lower / upper * static_cast<double>(kAtanSteps));
    const IntsOf<V> i = __builtin_convertvector(t, IntsOf<V>);
    const V at = Gather<V>(table.data(), i, 0), next = Gather<V>(table.data(), i, 1);
    V r = at + (t - __builtin_convertvector(i, V)) * (next - at);
    r = Select<V>(ay > ax, kPi / 2 - r, r);
    r = Select<V>(x < 0, kPi - r, r);
    Settle(kHueScale * (CopySign(r, y) + kPi), 1e-5, p, o, ExactHue);
    if (!AllSet<V>(~grey))
      for (int k = 0; k < kLanes<V>; ++k)
        if (grey[k]) o[k] = 0;
  });
}

template <typename PixelFn>
void Convert(const std::uint8_t* bgr, std::uint8_t* out, int count, PixelFn fn) {
  for (int i = 0; i < count; ++i, bgr += 3) out[i] = fn(bgr[2], bgr[1], bgr[0]);
}

// Converts `count` pixels to channel `code` with vectors of type V.
template <typename V>
void ConvertPixelsWith(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  switch (code) {
    case 'G': Convert(bgr, out, count, [](int, int g, int) { return static_cast<std::uint8_t>(g); }); break;
    // Integer quotients: the sums are whole numbers held exactly, and a
    // correctly rounded quotient of them truncates to the integer quotient.
    case '*':
      ConvertByFormula<V>(bgr, out, count, [](V r, V g, V b) { return (299.0 * r + 587.0 * g + 114.0 * b) / 1000.0; });
      break;
    case 'Q':
      ConvertByFormula<V>(bgr, out, count,
                          [](V r, V g, V b) { return (2115.0 * r + 5226.0 * (255.0 - g) + 3111.0 * b) / 10452.0; });
      break;
    case 'q':
      ConvertByFormula<V>(bgr, out, count, [](V r, V g, V b) {
        return 70.457 * ((211.5 * r - 522.6 * g + 311.1 * b) / Luma(r, g, b) + 0.8903);
      });
      break;
    case 'u':
      ConvertByFormula<V>(bgr, out, count, [](V r, V g, V b) {
        return 29.07 * ((886.0 * b - 587.0 * g - 299.0 * r) / Luma(r, g, b) + 1.0);
      });
      break;
    case 'v':
      ConvertByFormula<V>(bgr, out, count, [](V r, V g, V b) {
        return 76.245 * ((701.0 * r - 587.0 * g - 114.0 * b) / Luma(r, g, b) + 1.0);
      });
      break;
    case 'i':
      ConvertByFormula<V>(bgr, out, count, [](V r, V g, V b) {
        return 53.006 * ((595.7 * r - 274.4 * g - 321.3 * b) / Luma(r, g, b) + 2.8185);
      });
      break;
    case 'S': ConvertSaturation<V>(bgr, out, count); break;
    case 'h': ConvertHue<V>(bgr, out, count); break;
    case 'x': {
      const std::array<double, 256>& lin = LinearTable();
      Convert(bgr, out, count,
              [&lin](int r, int g, int b) { return Truncate(105.162 * lin[r] + 91.188 * lin[g] + 46.0275 * lin[b]); });
      break;
    }
    default: break;
  }
}

}  // namespace
}  // namespace ostrel
