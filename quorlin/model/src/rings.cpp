#include "quorlin/model/rings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#define VIREO_AVX2_FORCES 1
#endif

#include "fixed_text.h"
#include "quorlin/model/map_writer.h"

// The vector kernels are also built for AVX2, chosen at load time: the same
// operations in three-operand form, without FMA, so the results are the same.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VIREO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VIREO_VECTOR_CLONES
#endif

namespace quorlin {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Frac(double v) { return v - std::trunc(v); }

struct Mat2 {
  double a11, a12, a21, a22;
  Mat2 operator*(const Mat2& o) const {
    return {a11 * o.a11 + a12 * o.a21, a11 * o.a12 + a12 * o.a22, a21 * o.a11 + a22 * o.a21, a21 * o.a12 + a22 * o.a22};
  }
  Mat2& operator+=(const Mat2& o) {
    a11 += o.a11;
    a12 += o.a12;
    a21 += o.a21;
    a22 += o.a22;
    return *this;
  }
};
constexpr Mat2 kIdentity{1, 0, 0, 1};

// Whether a phase with this neighbourhood fits each node locally; rings 0
// stands for an unknown grid, where any neighbourhood may be local.
bool IsLocal(std::int32_t neighborhood, std::uint32_t rings, std::uint32_t perimeter) {
  if (rings == 0) return true;
  const std::uint64_t reach = static_cast<std::uint64_t>(static_cast<std::uint32_t>(neighborhood)) + 1;
  return reach < perimeter || reach < rings;
}

const char* GeometryProblem(double xo, double yo, std::int64_t rings, std::int64_t perimeter, double rmin,
                            double ratio) {
  if (!std::isfinite(xo) || !std::isfinite(yo)) return "the centre Xo, Yo must be finite numbers";
  if (rings < kMinRings) return "Rings must be at least 2";
  if (perimeter < kMinPerimeter) return "Perimeter must be at least 4";
  if (static_cast<std::uint64_t>(rings) * static_cast<std::uint64_t>(perimeter) > kMaxNodes)
    return "Rings x Perimeter must not exceed 1000000 nodes";
  if (!(ratio > 0) || !std::isfinite(ratio)) return "Ratio must be a number greater than 0";
  if (!std::isfinite(rmin)) return "Rmin must be a finite number";
  return nullptr;
}

}  // namespace

const char* CheckGeometry(const GRID_GEOMETRY& g) {
  return GeometryProblem(g.Xo, g.Yo, g.Rings, g.Perimeter, g.Rmin, g.Ratio);
}

const char* CheckPhase(const GRID_PHASE& phase, std::uint32_t rings, std::uint32_t perimeter) {
  if (phase.MaxIterations < 0) return "MaxIterations must not be negative";
  if (phase.MaxIterations == 0) return nullptr;  // the phase never runs
  if (phase.Neighborhood < 0) return "Neighborhood must not be negative";
  // A positive Vicinity is truncated to the pixel step, which divides the force.
  if (phase.Vicinity > 0 && !(phase.Vicinity >= 1 && phase.Vicinity < kFarAway))
    return "Vicinity must be at least 1 and below 1073741824, or 0 to keep the previous step";
  const bool usesMomentum = phase.Momentum != 0 || IsLocal(phase.Neighborhood, rings, perimeter);
  if (usesMomentum && phase.Momentum + phase.Dumping == 0) return "Momentum + Dumping must not be 0";
  return nullptr;
}

const char* CheckPhases(std::span<const GRID_PHASE, 4> phases, std::uint32_t rings, std::uint32_t perimeter) {
  for (const GRID_PHASE& phase : phases)
    if (const char* problem = CheckPhase(phase, rings, perimeter)) return problem;
  for (const GRID_PHASE& phase : phases) {
    if (phase.MaxIterations == 0) continue;
    if (!(phase.Vicinity > 0)) return "the first phase that runs must set a Vicinity of at least 1";
    break;
  }
  return nullptr;
}

// ---- nodes ----

namespace {

// The weighted patch cost from the exact per-channel sums of byte differences.
double WeightedCost(const double w[3], int sum0, int sum1, int sum2) {
  return (w[0] * sum0 + w[1] * sum1 + w[2] * sum2) / 9.0;
}

// frac(v) given t = TruncToInt(v): v - t unless v was out of the int range
// (or not a number). The sign of a zero may differ from Frac's, which the
// force, subtracting the template's fraction first, never shows.
double FracOf(double v, std::int32_t t) { return t > -kFarAway && t < kFarAway ? v - t : Frac(v); }

// The force from the four costs of a node whose current position truncates to (xi, yi).
[[gnu::always_inline]] inline void SetForce(GRID_NODE& node, unsigned cur, std::int32_t xi, std::int32_t yi,
                                            double costPlusX, double costMinusX, double costPlusY, double costMinusY) {
  const std::int32_t v = node.vicinity;
  const double a = (2 * (FracOf(node.x[cur], xi) - node.fx0) - 1) / v;
  const double b = (2 * (FracOf(node.y[cur], yi) - node.fy0) - 1) / v;
  node.Fx = (1 - a) * costMinusX - (1 + a) * costPlusX;
  node.Fy = (1 - b) * costMinusY - (1 + b) * costPlusY;
}

// The 3x3 patch around (x, y) as three row copies, when it lies inside a
// 24-bit frame; false (nothing copied) otherwise.
bool CopyPatch(const PixelReadFn&, std::int32_t, std::int32_t, std::uint8_t*) { return false; }
bool CopyPatch(const FrameView& frame, std::int32_t x, std::int32_t y, std::uint8_t* patch) {
  if (frame.bytesPerPixel != 3 || !frame.Inside(x - 1, y - 1) || !frame.Inside(x + 1, y + 1)) return false;
  for (std::int32_t dy = -1; dy <= 1; ++dy, patch += 9) std::memcpy(patch, frame.At(x - 1, y + dy), 9);
  return true;
}

}  // namespace

template <class Read>
void GRID_NODE::CaptureTemplate(const Read& read, unsigned cur) {
  const std::int32_t xi = TruncToInt(x[cur]);
  const std::int32_t yi = TruncToInt(y[cur]);
  std::uint8_t* cell = templ;
  if (!CopyPatch(read, xi, yi, templ))
    for (std::int32_t dy = -1; dy <= 1; ++dy)
      for (std::int32_t dx = -1; dx <= 1; ++dx, cell += 3) {
        std::uint8_t triple[3] = {0, 0, 0};
        read(xi + dx, yi + dy, triple);
        std::memcpy(cell, triple, 3);
      }
  std::memset(rows, 0, sizeof rows);
  for (int row = 0; row < 3; ++row) std::memcpy(rows + 16 * row, templ + 9 * row, 9);
  fx0 = Frac(x[cur]) - 0.5;
  fy0 = Frac(y[cur]) - 0.5;
}

// The byte differences are summed per channel as exact integers and weighted
// once, which is the weighted sum over the patch up to rounding.
template <class Read>
double GRID_NODE::MatchCost(const Read& read, std::int32_t px, std::int32_t py, const double w[3]) const {
  int sum0 = 0, sum1 = 0, sum2 = 0;
  const std::uint8_t* cell = templ;
  if constexpr (std::is_same_v<Read, FrameView>) {
    if (read.Inside(px - 1, py - 1) && read.Inside(px + 1, py + 1)) {
#if defined(__SSE2__)
      // 24-bit rows: 16 bytes per patch row (9 used), as long as the last
      // load stays inside the frame buffer.
      const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(py + 1) * read.stride + 3 * (px - 1) + 16;
      if (read.bytesPerPixel == 3 && last <= static_cast<std::ptrdiff_t>(read.height) * read.stride) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i mask0 = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m128i mask1 = _mm_slli_si128(mask0, 1), mask2 = _mm_slli_si128(mask0, 2);
        __m128i s0 = zero, s1 = zero, s2 = zero;
        for (int row = 0; row < 3; ++row) {
          const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + 16 * row));
          const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(read.At(px - 1, py - 1 + row)));
          const __m128i d = _mm_or_si128(_mm_subs_epu8(t, f), _mm_subs_epu8(f, t));
          s0 = _mm_add_epi64(s0, _mm_sad_epu8(_mm_and_si128(d, mask0), zero));
          s1 = _mm_add_epi64(s1, _mm_sad_epu8(_mm_and_si128(d, mask1), zero));
          s2 = _mm_add_epi64(s2, _mm_sad_epu8(_mm_and_si128(d, mask2), zero));
        }
        auto total = [](__m128i v) { return _mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_srli_si128(v, 8)); };
        return WeightedCost(w, total(s0), total(s1), total(s2));
      }
#endif
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        const std::uint8_t* pixel = read.At(px - 1, py + dy);
        for (int dx = 0; dx < 3; ++dx, cell += 3, pixel += read.bytesPerPixel) {
          sum0 += std::abs(cell[0] - pixel[0]);
          sum1 += std::abs(cell[1] - pixel[1]);
          sum2 += std::abs(cell[2] - pixel[2]);
        }
      }
      return WeightedCost(w, sum0, sum1, sum2);
    }
  }
  // Outside the frame the read writes nothing: the previous pixel repeats.
  std::uint8_t triple[3] = {0, 0, 0};
  for (std::int32_t dy = -1; dy <= 1; ++dy)
    for (std::int32_t dx = -1; dx <= 1; ++dx, cell += 3) {
      read(px + dx, py + dy, triple);
      sum0 += std::abs(cell[0] - triple[0]);
      sum1 += std::abs(cell[1] - triple[1]);
      sum2 += std::abs(cell[2] - triple[2]);
    }
  return WeightedCost(w, sum0, sum1, sum2);
}

template <class Read>
void GRID_NODE::ImageForce(const Read& read, unsigned cur, const double w[3]) {
  const std::int32_t xi = TruncToInt(x[cur]);
  const std::int32_t yi = TruncToInt(y[cur]);
  const std::int32_t v = vicinity;
  const double costPlusX = MatchCost(read, xi + v, yi, w);
  const double costMinusX = MatchCost(read, xi - v, yi, w);
  const double costPlusY = MatchCost(read, xi, yi + v, w);
  const double costMinusY = MatchCost(read, xi, yi - v, w);
  SetForce(*this, cur, xi, yi, costPlusX, costMinusX, costPlusY, costMinusY);
}

template void GRID_NODE::CaptureTemplate(const PixelReadFn&, unsigned);
template void GRID_NODE::CaptureTemplate(const FrameView&, unsigned);
template double GRID_NODE::MatchCost(const PixelReadFn&, std::int32_t, std::int32_t, const double[3]) const;
template double GRID_NODE::MatchCost(const FrameView&, std::int32_t, std::int32_t, const double[3]) const;
template void GRID_NODE::ImageForce(const PixelReadFn&, unsigned, const double[3]);
template void GRID_NODE::ImageForce(const FrameView&, unsigned, const double[3]);

namespace {

#if defined(__SSE2__)
// Absolute byte differences of one patch row against the frame at p.
[[gnu::always_inline]] inline __m128i RowDiff(__m128i t, const std::uint8_t* p) {
  const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_or_si128(_mm_subs_epu8(t, f), _mm_subs_epu8(f, t));
}

// Per-channel sums of the absolute differences of the template rows t
// against the patch whose top-left pixel is p, each as four 32-bit parts.
struct ChannelParts {
  __m128i c[3];
};
[[gnu::always_inline]] inline ChannelParts PatchParts(const __m128i t[3], const std::uint8_t* p,
                                                      std::ptrdiff_t stride) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i d0 = RowDiff(t[0], p), d1 = RowDiff(t[1], p + stride), d2 = RowDiff(t[2], p + 2 * stride);
  // Column sums of the three rows in 16 bits: bytes 0..7, and byte 8 first in `high`.
  const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(d0, zero), _mm_unpacklo_epi8(d1, zero)),
                                    _mm_unpacklo_epi8(d2, zero));
  const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(d0, zero), _mm_unpackhi_epi8(d1, zero)),
                                     _mm_unpackhi_epi8(d2, zero));
  // Byte i of a row belongs to channel i mod 3.
  const __m128i pick0 = _mm_setr_epi16(1, 0, 0, 1, 0, 0, 1, 0), pick1 = _mm_setr_epi16(0, 1, 0, 0, 1, 0, 0, 1);
  const __m128i pick2 = _mm_setr_epi16(0, 0, 1, 0, 0, 1, 0, 0), pick8 = _mm_setr_epi16(1, 0, 0, 0, 0, 0, 0, 0);
  return {{_mm_madd_epi16(low, pick0), _mm_madd_epi16(low, pick1),
           _mm_add_epi32(_mm_madd_epi16(low, pick2), _mm_madd_epi16(high, pick8))}};
}

// [sum of a, sum of b, sum of c, sum of d] over the four 32-bit lanes of each.
[[gnu::always_inline]] inline __m128i Totals(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
  const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
  return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

// WeightedCost of two patches at once, the same operations in each lane.
[[gnu::always_inline]] inline __m128d WeightedCosts(const double w[3], __m128i s0, __m128i s1, __m128i s2) {
  const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(w[0]), _mm_cvtepi32_pd(s0)),
                                            _mm_mul_pd(_mm_set1_pd(w[1]), _mm_cvtepi32_pd(s1))),
                                 _mm_mul_pd(_mm_set1_pd(w[2]), _mm_cvtepi32_pd(s2)));
  return _mm_div_pd(sum, _mm_set1_pd(9.0));
}

// ImageForce of a node on a 24-bit frame with the four patches matched in one
// go: the template rows are loaded once and the per-channel sums are the
// exact integers MatchCost sums, so the force is the same to the last bit.
// False (nothing done) when a patch or a 16-byte row load would leave the frame.
// Whether the four patches of a node whose position truncates to (x, y),
// and each 16-byte row load, lie inside a 24-bit frame.
[[gnu::always_inline]] inline bool FusedFits(const GRID_NODE& node, const FrameView& frame, unsigned cur,
                                             std::int32_t& x, std::int32_t& y) {
  const std::int32_t v = node.vicinity;
  if (frame.bytesPerPixel != 3 || v < 1) return false;
  const std::int64_t xi = TruncToInt(node.x[cur]), yi = TruncToInt(node.y[cur]);
  if (xi - v - 1 < 0 || xi + v + 1 >= frame.width || yi - v - 1 < 0 || yi + v + 1 >= frame.height) return false;
  const std::ptrdiff_t stride = frame.stride;
  const std::int64_t endPlusY = (yi + v + 1) * stride + 3 * (xi - 1) + 16;
  const std::int64_t endPlusX = (yi + 1) * stride + 3 * (xi + v - 1) + 16;
  if (std::max(endPlusY, endPlusX) > std::int64_t{frame.height} * stride) return false;
  x = static_cast<std::int32_t>(xi);
  y = static_cast<std::int32_t>(yi);
  return true;
}

[[gnu::always_inline]] inline bool FusedImageForce(GRID_NODE& node, const FrameView& frame, unsigned cur,
                                                   const double w[3]) {
  std::int32_t x, y;
  if (!FusedFits(node, frame, cur, x, y)) return false;
  const std::int32_t v = node.vicinity;
  const std::ptrdiff_t stride = frame.stride;
  const __m128i t[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows + 16)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows + 32))};
  const ChannelParts plusX = PatchParts(t, frame.At(x + v - 1, y - 1), stride);
  const ChannelParts minusX = PatchParts(t, frame.At(x - v - 1, y - 1), stride);
  const ChannelParts plusY = PatchParts(t, frame.At(x - 1, y + v - 1), stride);
  const ChannelParts minusY = PatchParts(t, frame.At(x - 1, y - v - 1), stride);
  __m128i sums[3];  // per channel: +x, -x, +y, -y
  for (int c = 0; c < 3; ++c) sums[c] = Totals(plusX.c[c], minusX.c[c], plusY.c[c], minusY.c[c]);
  auto upper = [](__m128i s) { return _mm_shuffle_epi32(s, _MM_SHUFFLE(3, 2, 3, 2)); };
  double cost[4];
  _mm_storeu_pd(cost, WeightedCosts(w, sums[0], sums[1], sums[2]));
  _mm_storeu_pd(cost + 2, WeightedCosts(w, upper(sums[0]), upper(sums[1]), upper(sums[2])));
  SetForce(node, cur, x, y, cost[0], cost[1], cost[2], cost[3]);
  return true;
}
#endif

#if defined(VIREO_AVX2_FORCES)
// The matching of FusedImageForce on AVX2: the patches at +x and -x share
// one register, those at +y and -y another, and the four costs are weighed
// in one; the integer sums are exact and each cost takes the same double
// operations.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i RowDiffs(__m256i t, const std::uint8_t* low,
                                                                    const std::uint8_t* high) {
  const __m256i f =
      _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
  return _mm256_or_si256(_mm256_subs_epu8(t, f), _mm256_subs_epu8(f, t));
}

// Per channel, four 32-bit parts of each of two patches (one per lane).
struct ChannelParts2 {
  __m256i c[3];
};
[[gnu::target("avx2"), gnu::always_inline]] inline ChannelParts2 PatchParts2(const __m256i t[3],
                                                                             const std::uint8_t* low,
                                                                             const std::uint8_t* high,
                                                                             std::ptrdiff_t stride) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i d0 = RowDiffs(t[0], low, high), d1 = RowDiffs(t[1], low + stride, high + stride),
                d2 = RowDiffs(t[2], low + 2 * stride, high + 2 * stride);
  const __m256i lo = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(d0, zero), _mm256_unpacklo_epi8(d1, zero)),
                                      _mm256_unpacklo_epi8(d2, zero));
  const __m256i hi = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(d0, zero), _mm256_unpackhi_epi8(d1, zero)),
                                      _mm256_unpackhi_epi8(d2, zero));
  const __m256i pick0 = _mm256_setr_epi16(1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1, 0);
  const __m256i pick1 = _mm256_setr_epi16(0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1);
  const __m256i pick2 = _mm256_setr_epi16(0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0);
  const __m256i pick8 = _mm256_setr_epi16(1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0);
  return {{_mm256_madd_epi16(lo, pick0), _mm256_madd_epi16(lo, pick1),
           _mm256_add_epi32(_mm256_madd_epi16(lo, pick2), _mm256_madd_epi16(hi, pick8))}};
}

// [+x, -x, +y, -y] totals of one channel from the parts of (+x | -x) and (+y | -y).
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i Totals2(__m256i x, __m256i y) {
  const __m256i pairs = _mm256_hadd_epi32(x, y);         // x01 x23 y01 y23 | the same of the high lane
  const __m256i sums = _mm256_hadd_epi32(pairs, pairs);  // +x +y +x +y | -x -y -x -y
  return _mm_unpacklo_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
}

// The four costs of a node on AVX2 before their division by 9.
struct WeighPatches2 {
  [[gnu::target("avx2")]] __m256d operator()(const GRID_NODE& node, const FrameView& frame, std::int32_t x,
                                             std::int32_t y, const double w[3]) const {
    const std::int32_t v = node.vicinity;
    const std::ptrdiff_t stride = frame.stride;
    const __m256i t[3] = {
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows))),
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows + 16))),
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows + 32)))};
    const ChannelParts2 alongX = PatchParts2(t, frame.At(x + v - 1, y - 1), frame.At(x - v - 1, y - 1), stride);
    const ChannelParts2 alongY = PatchParts2(t, frame.At(x - 1, y + v - 1), frame.At(x - 1, y - v - 1), stride);
    const __m256d sum0 = _mm256_cvtepi32_pd(Totals2(alongX.c[0], alongY.c[0]));
    const __m256d sum1 = _mm256_cvtepi32_pd(Totals2(alongX.c[1], alongY.c[1]));
    const __m256d sum2 = _mm256_cvtepi32_pd(Totals2(alongX.c[2], alongY.c[2]));
    return _mm256_add_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(w[0]), sum0), _mm256_mul_pd(_mm256_set1_pd(w[1]), sum1)),
        _mm256_mul_pd(_mm256_set1_pd(w[2]), sum2));
  }
};

// The force from the weighed costs (+x, -x, +y, -y).
[[gnu::target("avx2"), gnu::always_inline]] inline void ForceFromWeighed(GRID_NODE& node, __m256d weighed, unsigned cur,
                                                                         std::int32_t x, std::int32_t y) {
  alignas(32) double cost[4];
  _mm256_store_pd(cost, _mm256_div_pd(weighed, _mm256_set1_pd(9.0)));
  SetForce(node, cur, x, y, cost[0], cost[1], cost[2], cost[3]);
}
struct SetForce2 {
  [[gnu::target("avx2")]] void operator()(GRID_NODE& node, __m256d weighed, unsigned cur, std::int32_t x,
                                          std::int32_t y, const double[3]) const {
    ForceFromWeighed(node, weighed, cur, x, y);
  }
};

// A node whose patches leave the frame, kept out of the flattened loops.
[[gnu::noinline]] void NodeByNodeForce(GRID_NODE& node, const FrameView& frame, unsigned cur, const double w[3]) {
  node.ImageForce(frame, cur, w);
}

// The image forces of all nodes, matched by `match(node, frame, x, y, w)`
// and finished by `force(node, matched, cur, x, y, w)` one matched node
// later, so that a node's matching overlaps the previous node's divisions;
// a node whose patches leave the frame goes the node-by-node way. Each
// instruction set's entry point flattens it, so that the whole loop is
// built for that set. (The matched values are vectors wider than the
// baseline's registers; everything is inlined into the entry points.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class Match, class Force>
void PipelinedForces(std::vector<GRID_NODE>& nodes, const FrameView& frame, unsigned cur, const double w[3],
                     Match match, Force force) {
  using Matched = decltype(match(nodes[0], frame, 0, 0, w));
  GRID_NODE* waiting = nullptr;
  Matched waitingMatch{};
  std::int32_t waitingX = 0, waitingY = 0;
  for (GRID_NODE& node : nodes) {
    std::int32_t x, y;
    if (!FusedFits(node, frame, cur, x, y)) {
      NodeByNodeForce(node, frame, cur, w);
      continue;
    }
    const Matched matched = match(node, frame, x, y, w);
    if (waiting) force(*waiting, waitingMatch, cur, waitingX, waitingY, w);
    waiting = &node;
    waitingMatch = matched;
    waitingX = x;
    waitingY = y;
  }
  if (waiting) force(*waiting, waitingMatch, cur, waitingX, waitingY, w);
}
#pragma GCC diagnostic pop

[[gnu::target("avx2"), gnu::flatten]] void ImageForcesAvx2(std::vector<GRID_NODE>& nodes, const FrameView& frame,
                                                           unsigned cur, const double w[3]) {
  PipelinedForces(nodes, frame, cur, w, WeighPatches2{}, SetForce2{});
}

// The matching on AVX-512 with the byte dot product: the patches at +x,
// -x, +y and -y side by side, one per 128-bit lane. Each row's byte
// differences are gathered by channel into the first three 32-bit parts of
// the lane and added up by one dot product with ones, so the sums are the
// exact integers; the four costs are then weighed as on AVX2.
#define VIREO_AVX512_TARGET gnu::target("avx512f,avx512bw,avx512vnni")
// GCC 12's AVX-512 headers start from undefined registers, which its
// uninitialised-value analysis reports falsely.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
[[VIREO_AVX512_TARGET, gnu::always_inline]] inline __m512i FourRows(const std::uint8_t* const rows[4],
                                                                    std::ptrdiff_t offset) {
  __m512i f = _mm512_zextsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + offset)));
  f = _mm512_inserti32x4(f, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + offset)), 1);
  f = _mm512_inserti32x4(f, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + offset)), 2);
  return _mm512_inserti32x4(f, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[3] + offset)), 3);
}

// The integer sums of the four patches of a node whose position truncates
// to (x, y): per patch (lane) blue, green, red, 0.
struct PatchParts4 {
  [[VIREO_AVX512_TARGET]] __m512i operator()(const GRID_NODE& node, const FrameView& frame, std::int32_t x,
                                             std::int32_t y, const double[3]) const {
    const std::int32_t v = node.vicinity;
    const std::ptrdiff_t stride = frame.stride;
    const std::uint8_t* const patches[4] = {frame.At(x + v - 1, y - 1), frame.At(x - v - 1, y - 1),
                                            frame.At(x - 1, y + v - 1), frame.At(x - 1, y - v - 1)};
    // b0 g0 r0 b1 g1 r1 b2 g2 r2 -> b0 b1 b2 0 g0 g1 g2 0 r0 r1 r2 0 0 0 0 0
    const __m512i byChannel =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 3, 6, -1, 1, 4, 7, -1, 2, 5, 8, -1, -1, -1, -1, -1));
    const __m512i ones = _mm512_set1_epi8(1);
    __m512i parts = _mm512_setzero_si512();
    for (int row = 0; row < 3; ++row) {
      const __m512i t = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(node.rows + 16 * row)));
      const __m512i f = FourRows(patches, row * stride);
      const __m512i d = _mm512_or_si512(_mm512_subs_epu8(t, f), _mm512_subs_epu8(f, t));
      parts = _mm512_dpbusd_epi32(parts, _mm512_shuffle_epi8(d, byChannel), ones);
    }
    return parts;
  }
};

// The four costs from the sums, weighed as on AVX2, and the force.
struct ForceFromParts {
  [[VIREO_AVX512_TARGET]] void operator()(GRID_NODE& node, __m512i parts, unsigned cur, std::int32_t x, std::int32_t y,
                                          const double w[3]) const {
    // Per channel, the four patches in the order +x, -x, +y, -y.
    const __m512i byPatch =
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), parts);
    const __m256d sum0 = _mm256_cvtepi32_pd(_mm512_castsi512_si128(byPatch));
    const __m256d sum1 = _mm256_cvtepi32_pd(_mm512_extracti32x4_epi32(byPatch, 1));
    const __m256d sum2 = _mm256_cvtepi32_pd(_mm512_extracti32x4_epi32(byPatch, 2));
    const __m256d weighed = _mm256_add_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(w[0]), sum0), _mm256_mul_pd(_mm256_set1_pd(w[1]), sum1)),
        _mm256_mul_pd(_mm256_set1_pd(w[2]), sum2));
    ForceFromWeighed(node, weighed, cur, x, y);
  }
};

[[VIREO_AVX512_TARGET, gnu::flatten]] void ImageForcesAvx512(std::vector<GRID_NODE>& nodes, const FrameView& frame,
                                                             unsigned cur, const double w[3]) {
  PipelinedForces(nodes, frame, cur, w, PatchParts4{}, ForceFromParts{});
}
#pragma GCC diagnostic pop
#undef VIREO_AVX512_TARGET
#endif

// Every node's image force for one iteration.
template <class Read>
void ImageForces(std::vector<GRID_NODE>& nodes, const Read& read, unsigned cur, const double w[3], ForceKernels) {
  for (GRID_NODE& node : nodes) node.ImageForce(read, cur, w);
}

// On a frame buffer, the fused matching of the chosen instruction set
// wherever it applies.
void ImageForces(std::vector<GRID_NODE>& nodes, const FrameView& frame, unsigned cur, const double w[3],
                 ForceKernels kernels) {
  switch (kernels) {
#if defined(VIREO_AVX2_FORCES)
    case ForceKernels::kAvx512: ImageForcesAvx512(nodes, frame, cur, w); return;
    case ForceKernels::kAvx2: ImageForcesAvx2(nodes, frame, cur, w); return;
#endif
#if defined(__SSE2__)
    case ForceKernels::kSse2:
      for (GRID_NODE& node : nodes)
        if (!FusedImageForce(node, frame, cur, w)) node.ImageForce(frame, cur, w);
      return;
#endif
    default:
      for (GRID_NODE& node : nodes) node.ImageForce(frame, cur, w);
  }
}

}  // namespace

ForceKernels WidestForceKernels() {
#if defined(VIREO_AVX2_FORCES)
  static const ForceKernels widest = [] {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vnni"))
      return ForceKernels::kAvx512;
    return __builtin_cpu_supports("avx2") ? ForceKernels::kAvx2 : ForceKernels::kSse2;
  }();
  return widest;
#elif defined(__SSE2__)
  return ForceKernels::kSse2;
#else
  return ForceKernels::kNodeByNode;
#endif
}

// ---- the grid ----

void GRID_RINGS::UseForceKernels(ForceKernels kernels) { kernels_ = std::min(kernels, WidestForceKernels()); }

GRID_RINGS::GRID_RINGS() = default;

bool GRID_RINGS::Create(const double centre[2], std::uint32_t rings, std::uint32_t perimeter, double rmin,
                        double ratio) {
  nodes_.clear();
  nodes_.shrink_to_fit();
  hot_.clear();
  row_.clear();
  rings_ = perimeter_ = 0;
  vicinitySet_ = false;
  if (GeometryProblem(centre[0], centre[1], rings, perimeter, rmin, ratio)) return false;
  xo_ = centre[0];
  yo_ = centre[1];
  rmin_ = rmin;
  ratio_ = ratio;
  rings_ = rings;
  perimeter_ = perimeter;
  nodes_.assign(std::size_t{rings} * perimeter, GRID_NODE{});
  row_.assign(MapRowBytes(perimeter), 0);
  hot_.assign(nodes_.size(), Hot{});
  Layout();
  phase_ = phaseTime_ = 0;
  SyncBuffers();
  return true;
}

void GRID_RINGS::Layout() {
  for (std::uint32_t j = 0; j < perimeter_; ++j) {
    const double theta = 2 * kPi * j / perimeter_;
    const double sine = std::sin(theta), cosine = std::cos(theta);
    double factor = 1;
    for (std::uint32_t k = 0; k < rings_; ++k, factor *= ratio_) {
      const double r = rmin_ * factor;
      GRID_NODE& node = Node(j, k);
      node.x0 = xo_ + r * sine;
      node.y0 = yo_ + r * cosine;
      node.x[0] = node.x[1] = node.x0;
      node.y[0] = node.y[1] = node.y0;
    }
  }
}

void GRID_RINGS::SyncBuffers() {
  const unsigned cur = Cur(), next = cur ^ 1u;
  for (GRID_NODE& node : nodes_) {
    node.x[next] = node.x[cur];
    node.y[next] = node.y[cur];
  }
  time_ = 0;
}

bool GRID_RINGS::SetPhase(std::uint32_t index, GRID_PHASE phase) {
  if (index >= 4 || CheckPhase(phase, rings_, perimeter_)) return false;
  phases_[index] = phase;
  phase_ = phaseTime_ = 0;
  SyncBuffers();
  return true;
}

bool GRID_RINGS::Reset(const double centre[2], double rmin, double ratio) {
  if (GeometryProblem(centre[0], centre[1], kMinRings, kMinPerimeter, rmin, ratio)) return false;
  xo_ = centre[0];
  yo_ = centre[1];
  rmin_ = rmin;
  ratio_ = ratio;
  Layout();
  phase_ = phaseTime_ = 0;
  SyncBuffers();
  return true;
}

template <class Read>
void GRID_RINGS::CaptureAll(const Read& read) {
  const unsigned cur = Cur();
  for (GRID_NODE& node : nodes_) node.CaptureTemplate(read, cur);
}
template void GRID_RINGS::CaptureAll(const PixelReadFn&);
template void GRID_RINGS::CaptureAll(const FrameView&);

void GRID_RINGS::CaptureTemplates(PixelReadFn read) { CaptureAll(read); }
void GRID_RINGS::CaptureTemplates(const FrameView& frame) { CaptureAll(frame); }

bool GRID_RINGS::LocalPhase(const GRID_PHASE& phase) const { return IsLocal(phase.Neighborhood, rings_, perimeter_); }

// Visits the neighbourhood of node (j, k) for half-width n: angles j-n..j+n
// modulo Perimeter (an angle reached twice counts twice), rings clipped.
template <class Element, class Visit>
static void ForNeighbourhood(std::vector<Element>& nodes, std::uint32_t rings, std::uint32_t perimeter, std::uint32_t j,
                             std::uint32_t k, std::uint32_t n, Visit visit) {
  const std::int64_t first = (static_cast<std::int64_t>(j) - n) % perimeter;
  std::uint32_t jj = static_cast<std::uint32_t>(first < 0 ? first + perimeter : first);
  const std::uint32_t kLo = k > n ? k - n : 0;
  const std::uint32_t kHi = static_cast<std::uint32_t>(std::min<std::uint64_t>(rings - 1, std::uint64_t{k} + n));
  const std::uint64_t angles = 2 * std::uint64_t{n} + 1;
  for (std::uint64_t a = 0; a < angles; ++a) {
    Element* column = &nodes[std::size_t{jj} * rings];
    for (std::uint32_t kk = kLo; kk <= kHi; ++kk) visit(column[kk]);
    if (++jj == perimeter) jj = 0;
  }
}

void GRID_RINGS::PrepareStats(unsigned p, std::size_t index, std::uint32_t j, std::uint32_t k, bool whole) {
  double n = 0, sx0 = 0, sy0 = 0;
  auto forEach = [&](auto visit) {
    if (whole)
      for (GRID_NODE& q : nodes_) visit(q);
    else
      ForNeighbourhood(nodes_, rings_, perimeter_, j, k, static_cast<std::uint32_t>(phases_[p].Neighborhood), visit);
  };
  forEach([&](GRID_NODE& q) {
    n += 1;
    sx0 += q.x0;
    sy0 += q.y0;
  });
  const double m0x = sx0 / n, m0y = sy0 / n;
  double sdx0 = 0, sdy0 = 0, sxx0 = 0, syy0 = 0, sxy0 = 0;
  forEach([&](GRID_NODE& q) {
    const double dx0 = q.x0 - m0x, dy0 = q.y0 - m0y;
    sdx0 += dx0;
    sdy0 += dy0;
    sxx0 += dx0 * dx0;
    syy0 += dy0 * dy0;
    sxy0 += dx0 * dy0;
  });
  GRID_NODE& node = nodes_[index];
  node.n[p] = n;
  node.Sx0[p] = sx0;
  node.Sy0[p] = sy0;
  node.Sdx0[p] = sdx0;
  node.Sdy0[p] = sdy0;
  node.Sxx0[p] = sxx0;
  node.Syy0[p] = syy0;
  node.Sxy0[p] = sxy0;
  node.D0[p] = sxy0 * sxy0 - syy0 * sxx0;
}

void GRID_RINGS::Prepare() {
  for (unsigned p = 0; p < 4; ++p) {
    if (phases_[p].MaxIterations == 0 || nodes_.empty()) continue;
    if (!LocalPhase(phases_[p])) {
      PrepareStats(p, 0, 0, 0, true);
      for (GRID_NODE& node : nodes_) {
        const GRID_NODE& first = nodes_[0];
        node.n[p] = first.n[p];
        node.Sx0[p] = first.Sx0[p];
        node.Sy0[p] = first.Sy0[p];
        node.Sdx0[p] = first.Sdx0[p];
        node.Sdy0[p] = first.Sdy0[p];
        node.Sxx0[p] = first.Sxx0[p];
        node.Syy0[p] = first.Syy0[p];
        node.Sxy0[p] = first.Sxy0[p];
        node.D0[p] = first.D0[p];
      }
      continue;
    }
    for (std::uint32_t j = 0; j < perimeter_; ++j)
      for (std::uint32_t k = 0; k < rings_; ++k) PrepareStats(p, std::size_t{j} * rings_ + k, j, k, false);
  }
  j11_ = j22_ = 1;
  j12_ = j21_ = 0;
}

// ---- the fits ----

void GRID_RINGS::Gather(unsigned cur) {
  static_assert(sizeof(Hot) == 6 * sizeof(double), "the whole-grid sums read a node as six doubles");
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    const GRID_NODE& q = nodes_[i];
    hot_[i] = Hot{q.x0, q.y0, q.x[cur], q.y[cur], q.Fx, q.Fy};
  }
}

namespace {

// The means and centred sums of one set of nodes.
struct SumValues {
  double n, m0x, m0y, mx, my, mfx, mfy;
  double X0x, X0y, Y0x, Y0y;
  double Sxx, Syy, Sxy, Sfxx, Sfxy, Sfyx, Sfyy;
};

// Four lanes of doubles. Every lane takes the IEEE operations of the scalar
// code in the same order; the AVX2 clone is built without fused
// multiply-add, so each lane equals the scalar result to the last bit.
using Lanes = double __attribute__((vector_size(32)));
using LaneIndex = std::int64_t __attribute__((vector_size(32)));
constexpr std::uint32_t kLanes = 4;
// Four doubles read in place from an array of doubles.
typedef double LanesInMemory __attribute__((vector_size(32), aligned(8), may_alias));
#define LoadLanes(p) Lanes(*reinterpret_cast<const LanesInMemory*>(p))

// The sums of the neighbourhoods of nodes (j + l, k), one per lane of V,
// each lane adding in the order of the scalar sums (angle outer, ring
// inner). columns holds `width` entries per ring; entry e holds, for the
// four angles (e - n + l) mod Perimeter, l = 0..3, the fields x0, y0, x, y,
// fx, fy (kQuadFields doubles, four of each field), so the neighbourhood of
// angle j is entries j .. j + 2n. load(q) reads the lanes of one field at
// q. stats[l] is node (j + l, k).
constexpr std::size_t kQuadFields = 6 * kLanes;
// The eight-lane loader returns a vector wider than the baseline's
// registers; everything here is inlined into one AVX-512 function, so the
// note on that calling convention does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class V, std::uint32_t kWidth, class Load>
[[gnu::always_inline]] inline void NeighbourhoodSums(const double* columns, std::size_t width, std::size_t rings,
                                                     std::uint32_t j, std::uint32_t k, std::uint32_t n,
                                                     const GRID_NODE* const stats[], unsigned p, SumValues out[],
                                                     Load load) {
  const std::uint32_t kLo = k > n ? k - n : 0;
  const auto kHi = static_cast<std::uint32_t>(std::min<std::uint64_t>(rings - 1, std::uint64_t{k} + n));
  const std::size_t ring = width * kQuadFields;
  const double* const from = columns + kLo * ring + j * kQuadFields;
  const double* const to = columns + kLo * ring + (j + 2 * std::size_t{n} + 1) * kQuadFields;
  const std::size_t rows = kHi - kLo + 1;
  // One field of the lanes' nodes.
  auto field = [&]<std::size_t... l>(const double(GRID_NODE::*member)[4], std::index_sequence<l...>, V& lanes) {
    lanes = V{(stats[l]->*member)[p]...};
  };
  constexpr auto each = std::make_index_sequence<kWidth>{};
  V count, m0x, m0y;
  field(&GRID_NODE::n, each, count);
  field(&GRID_NODE::Sx0, each, m0x);
  field(&GRID_NODE::Sy0, each, m0y);
  m0x /= count;
  m0y /= count;
  V sx = {}, sy = {}, sfx = {}, sfy = {};
  for (const double* column = from; column != to; column += kQuadFields)
    for (const double *q = column, *end = column + rows * ring; q != end; q += ring) {
      sx += load(q + 8);
      sy += load(q + 12);
      sfx += load(q + 16);
      sfy += load(q + 20);
    }
  const V mx = sx / count, my = sy / count, mfx = sfx / count, mfy = sfy / count;
  V x0x = {}, x0y = {}, y0x = {}, y0y = {}, sxx = {}, syy = {}, sxy = {};
  V sfxx = {}, sfxy = {}, sfyx = {}, sfyy = {};
  for (const double* column = from; column != to; column += kQuadFields)
    for (const double *q = column, *end = column + rows * ring; q != end; q += ring) {
      const V dx0 = load(q) - m0x, dy0 = load(q + 4) - m0y;
      const V dx = load(q + 8) - mx, dy = load(q + 12) - my;
      const V dfx = load(q + 16) - mfx, dfy = load(q + 20) - mfy;
      x0x += dx0 * dx;
      x0y += dx0 * dy;
      y0x += dy0 * dx;
      y0y += dy0 * dy;
      sxx += dx * dx;
      syy += dy * dy;
      sxy += dx * dy;
      sfxx += dfx * dx;
      sfxy += dfx * dy;
      sfyx += dfy * dx;
      sfyy += dfy * dy;
    }
  for (std::uint32_t l = 0; l < kWidth; ++l)
    out[l] = {count[l], m0x[l], m0y[l], mx[l],  my[l],  mfx[l],  mfy[l],  x0x[l],  x0y[l],
              y0x[l],   y0y[l], sxx[l], syy[l], sxy[l], sfxx[l], sfxy[l], sfyx[l], sfyy[l]};
}
#pragma GCC diagnostic pop

// Four angles j .. j + 3.
VIREO_VECTOR_CLONES void QuadSums(const double* columns, std::size_t width, std::size_t rings, std::uint32_t j,
                                  std::uint32_t k, std::uint32_t n, const GRID_NODE* const stats[kLanes], unsigned p,
                                  SumValues out[kLanes]) {
  // The lanes are read where they lie.
  struct {
    const LanesInMemory& operator()(const double* q) const { return *reinterpret_cast<const LanesInMemory*>(q); }
  } load;
  NeighbourhoodSums<Lanes, kLanes>(columns, width, rings, j, k, n, stats, p, out, load);
}

#if defined(VIREO_AVX2_FORCES)
// Eight angles j .. j + 7 on AVX-512: the lanes of entry e and of entry
// e + 4 side by side.
constexpr std::uint32_t kOctLanes = 8;
using OctLanes = double __attribute__((vector_size(64)));
struct LoadOctLanes {
  [[gnu::target("avx512f")]] OctLanes operator()(const double* q) const {
    return OctLanes(
        _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(q)), _mm256_loadu_pd(q + 4 * kQuadFields), 1));
  }
};
// (GCC 12's AVX-512 headers start from undefined registers, which its
// uninitialised-value analysis reports falsely.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
[[gnu::target("avx512f"), gnu::flatten]] void OctSums(const double* columns, std::size_t width, std::size_t rings,
                                                      std::uint32_t j, std::uint32_t k, std::uint32_t n,
                                                      const GRID_NODE* const stats[kOctLanes], unsigned p,
                                                      SumValues out[kOctLanes]) {
  NeighbourhoodSums<OctLanes, kOctLanes>(columns, width, rings, j, k, n, stats, p, out, LoadOctLanes{});
}
#pragma GCC diagnostic pop
#endif

// The sums of the whole grid, from `count` nodes of six doubles each (x0,
// y0, x, y, fx, fy) at `hot`, with the rest statistics of `stats`. The
// lanes hold different sums side by side, each added in node order with
// the scalar operations, so every sum equals the scalar one to the last bit.
VIREO_VECTOR_CLONES SumValues WholeSums(const double* hot, std::size_t count, const GRID_NODE& stats, unsigned p) {
  const double n = stats.n[p];
  const double m0x = stats.Sx0[p] / n, m0y = stats.Sy0[p] / n;
  const double* const end = hot + 6 * count;
  Lanes moving = {};  // x, y, fx, fy
  for (const double* q = hot; q != end; q += 6) moving += LoadLanes(q + 2);
  const Lanes means = moving / n;  // mx, my, mfx, mfy
  const Lanes restMeans = {m0x, m0y, means[0], means[1]};
  Lanes tension = {}, shape = {}, force = {};
  for (const double* q = hot; q != end; q += 6) {
    const Lanes a = LoadLanes(q) - restMeans;  // dx0, dy0, dx, dy
    const Lanes b = LoadLanes(q + 2) - means;  // dx, dy, dfx, dfy
    // X0x X0y Y0x Y0y; Sxx Syy Sxy Sfxx; Sfxy Sfyx Sfyy (and Sfyy again).
    tension += __builtin_shuffle(a, LaneIndex{0, 0, 1, 1}) * __builtin_shuffle(b, LaneIndex{0, 1, 0, 1});
    shape += __builtin_shuffle(b, LaneIndex{0, 1, 0, 2}) * __builtin_shuffle(b, LaneIndex{0, 1, 1, 0});
    force += __builtin_shuffle(b, LaneIndex{2, 3, 3, 3}) * __builtin_shuffle(b, LaneIndex{1, 0, 1, 1});
  }
  return {n,          m0x,        m0y,      means[0], means[1], means[2], means[3], tension[0], tension[1],
          tension[2], tension[3], shape[0], shape[1], shape[2], shape[3], force[0], force[1],   force[2]};
}
#undef LoadLanes

// Sums::Move for the first count - count % 4 nodes of the grid, four nodes
// in the lanes, each lane with Move's operations in Move's order; motion
// and deformation are added in node order. Returns the nodes moved.
VIREO_VECTOR_CLONES std::size_t MoveInLanes(GRID_NODE* nodes, std::size_t count, const SumValues& s,
                                            const GRID_PHASE& phase, const Mat2& t, const Mat2& a, double mu,
                                            unsigned cur, double& motion, double& deformation) {
  const unsigned next = cur ^ 1u;
  const double tt = phase.TensionTranslation, it = phase.ImageTranslation;
  const double baseX = (1 - tt) * s.m0x + tt * s.mx, baseY = (1 - tt) * s.m0y + tt * s.my;
  const bool ownForce = phase.ImageMode == 0;
  std::size_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    GRID_NODE* const q = nodes + i;
    const Lanes fx = ownForce ? Lanes{q[0].Fx, q[1].Fx, q[2].Fx, q[3].Fx} : Lanes{} + s.mfx;
    const Lanes fy = ownForce ? Lanes{q[0].Fy, q[1].Fy, q[2].Fy, q[3].Fy} : Lanes{} + s.mfy;
    const Lanes tx = baseX + it * fx, ty = baseY + it * fy;
    const Lanes rx = Lanes{q[0].x0, q[1].x0, q[2].x0, q[3].x0} - s.m0x;
    const Lanes ry = Lanes{q[0].y0, q[1].y0, q[2].y0, q[3].y0} - s.m0y;
    const Lanes targetX = a.a11 * rx + a.a12 * ry + tx, targetY = a.a21 * rx + a.a22 * ry + ty;
    const Lanes px = {q[0].x[cur], q[1].x[cur], q[2].x[cur], q[3].x[cur]};
    const Lanes py = {q[0].y[cur], q[1].y[cur], q[2].y[cur], q[3].y[cur]};
    const Lanes nextX = targetX + mu * (px - Lanes{q[0].x[next], q[1].x[next], q[2].x[next], q[3].x[next]});
    const Lanes nextY = targetY + mu * (py - Lanes{q[0].y[next], q[1].y[next], q[2].y[next], q[3].y[next]});
    const Lanes moved = (targetX - px) * (targetX - px) + (targetY - py) * (targetY - py);
    const Lanes ex = t.a11 * rx + t.a12 * ry + s.mx - px, ey = t.a21 * rx + t.a22 * ry + s.my - py;
    const Lanes deformed = ex * ex + ey * ey;
    for (std::uint32_t l = 0; l < kLanes; ++l) {
      q[l].x[next] = nextX[l];
      q[l].y[next] = nextY[l];
      motion += moved[l];
      deformation += deformed[l];
    }
  }
  return i;
}

// What a local fit adds to its sums for one node: the squared motion, the
// squared deformation and the node's matrix A.
struct NodeUpdate {
  double moved, deformed, a11, a12, a21, a22;
};

// Sums::Tension, Sums::Image and Sums::Move for nodes[l] with the sums of
// its neighbourhood values[l], four nodes in the lanes. Every lane does the
// scalar operations in the scalar order; where the scalar code tests a
// divisor for zero, both results are computed and the lane picks its own.
// Only the first `lanes` nodes are moved.
VIREO_VECTOR_CLONES void UpdateInLanes(const SumValues values[kLanes], GRID_NODE* const nodes[kLanes],
                                       std::uint32_t lanes, unsigned p, const GRID_PHASE& phase, double mu,
                                       unsigned cur, NodeUpdate out[kLanes]) {
#define LANES_OF(field) \
  Lanes { values[0].field, values[1].field, values[2].field, values[3].field }
#define NODE_LANES(field) \
  Lanes { nodes[0]->field, nodes[1]->field, nodes[2]->field, nodes[3]->field }
  const Lanes one = Lanes{} + 1, zero = {};
  const Lanes X0x = LANES_OF(X0x), X0y = LANES_OF(X0y), Y0x = LANES_OF(Y0x), Y0y = LANES_OF(Y0y);
  Lanes t11 = one, t12 = zero, t21 = zero, t22 = one;
  if (phase.TensionMode != 1) {
    const Lanes sxx0 = NODE_LANES(Sxx0[p]), syy0 = NODE_LANES(Syy0[p]);
    const Lanes s0 = sxx0 + syy0;
    const Lanes a = (X0x + Y0y) / s0, b = (X0y - Y0x) / s0;
    const auto similar = s0 != 0;
    t11 = similar ? a : one;
    t12 = similar ? -b : zero;
    t21 = similar ? b : zero;
    t22 = similar ? a : one;
    if (phase.TensionMode == 3) {
      const Lanes d0 = NODE_LANES(D0[p]), sxy0 = NODE_LANES(Sxy0[p]);
      const auto affine = d0 != 0;
      t11 = affine ? (Y0x * sxy0 - X0x * syy0) / d0 : t11;
      t12 = affine ? (X0x * sxy0 - Y0x * sxx0) / d0 : t12;
      t21 = affine ? (Y0y * sxy0 - X0y * syy0) / d0 : t21;
      t22 = affine ? (X0y * sxy0 - Y0y * sxx0) / d0 : t22;
    }
  }
  Lanes i11 = one, i12 = zero, i21 = zero, i22 = one;
  if (phase.ImageMode != 0 && phase.ImageMode != 1) {
    const Lanes Sxx = LANES_OF(Sxx), Syy = LANES_OF(Syy), Sxy = LANES_OF(Sxy);
    const Lanes Sfxx = LANES_OF(Sfxx), Sfxy = LANES_OF(Sfxy), Sfyx = LANES_OF(Sfyx), Sfyy = LANES_OF(Sfyy);
    const Lanes s = Sxx + Syy;
    const Lanes alpha = (Sfxx + Sfyy) / s, beta = (Sfyx - Sfxy) / s;
    const auto similar = s != 0;
    i11 = similar ? 1 + alpha : one;
    i12 = similar ? -beta : zero;
    i21 = similar ? beta : zero;
    i22 = similar ? 1 + alpha : one;
    if (phase.ImageMode == 3) {
      const Lanes e = Sxy * Sxy - Syy * Sxx;
      const auto affine = e != 0;
      i11 = affine ? 1 + (Sfxy * Sxy - Sfxx * Syy) / e : i11;
      i12 = affine ? (Sfxx * Sxy - Sfxy * Sxx) / e : i12;
      i21 = affine ? (Sfyy * Sxy - Sfyx * Syy) / e : i21;
      i22 = affine ? 1 + (Sfyx * Sxy - Sfyy * Sxx) / e : i22;
    }
  }
  const Lanes a11 = i11 * t11 + i12 * t21, a12 = i11 * t12 + i12 * t22;
  const Lanes a21 = i21 * t11 + i22 * t21, a22 = i21 * t12 + i22 * t22;

  const unsigned next = cur ^ 1u;
  const double tt = phase.TensionTranslation, it = phase.ImageTranslation;
  const Lanes m0x = LANES_OF(m0x), m0y = LANES_OF(m0y), mx = LANES_OF(mx), my = LANES_OF(my);
  const bool ownForce = phase.ImageMode == 0;
  const Lanes fx = ownForce ? NODE_LANES(Fx) : LANES_OF(mfx);
  const Lanes fy = ownForce ? NODE_LANES(Fy) : LANES_OF(mfy);
  const Lanes tx = (1 - tt) * m0x + tt * mx + it * fx, ty = (1 - tt) * m0y + tt * my + it * fy;
  const Lanes rx = NODE_LANES(x0) - m0x, ry = NODE_LANES(y0) - m0y;
  const Lanes targetX = a11 * rx + a12 * ry + tx, targetY = a21 * rx + a22 * ry + ty;
  const Lanes px = NODE_LANES(x[cur]), py = NODE_LANES(y[cur]);
  const Lanes nextX = targetX + mu * (px - NODE_LANES(x[next]));
  const Lanes nextY = targetY + mu * (py - NODE_LANES(y[next]));
  const Lanes moved = (targetX - px) * (targetX - px) + (targetY - py) * (targetY - py);
  const Lanes ex = t11 * rx + t12 * ry + mx - px, ey = t21 * rx + t22 * ry + my - py;
  const Lanes deformed = ex * ex + ey * ey;
#undef NODE_LANES
#undef LANES_OF
  for (std::uint32_t l = 0; l < kLanes; ++l) {
    if (l < lanes) {
      nodes[l]->x[next] = nextX[l];
      nodes[l]->y[next] = nextY[l];
    }
    out[l] = {moved[l], deformed[l], a11[l], a12[l], a21[l], a22[l]};
  }
}

}  // namespace

// Sums of one set of nodes (the whole grid or a neighbourhood) for phase p.
struct GRID_RINGS::Sums : SumValues {
  explicit Sums(const SumValues& values) : SumValues(values) {}

  template <class ForEach>
  Sums(const GRID_NODE& stats, unsigned p, ForEach forEach) : SumValues{} {
    n = stats.n[p];
    m0x = stats.Sx0[p] / n;
    m0y = stats.Sy0[p] / n;
    double sx = 0, sy = 0, sfx = 0, sfy = 0;
    forEach([&](const Hot& q) {
      sx += q.x;
      sy += q.y;
      sfx += q.fx;
      sfy += q.fy;
    });
    mx = sx / n;
    my = sy / n;
    mfx = sfx / n;
    mfy = sfy / n;
    forEach([&](const Hot& q) {
      const double dx0 = q.x0 - m0x, dy0 = q.y0 - m0y;
      const double dx = q.x - mx, dy = q.y - my;
      const double dfx = q.fx - mfx, dfy = q.fy - mfy;
      X0x += dx0 * dx;
      X0y += dx0 * dy;
      Y0x += dy0 * dx;
      Y0y += dy0 * dy;
      Sxx += dx * dx;
      Syy += dy * dy;
      Sxy += dx * dy;
      Sfxx += dfx * dx;
      Sfxy += dfx * dy;
      Sfyx += dfy * dx;
      Sfyy += dfy * dy;
    });
  }

  // Maps rest offsets to current offsets.
  Mat2 Tension(const GRID_NODE& stats, unsigned p, std::int32_t mode) const {
    const double d0 = stats.D0[p];
    if (mode == 3 && d0 != 0) {
      const double sxx0 = stats.Sxx0[p], syy0 = stats.Syy0[p], sxy0 = stats.Sxy0[p];
      return {(Y0x * sxy0 - X0x * syy0) / d0, (X0x * sxy0 - Y0x * sxx0) / d0, (Y0y * sxy0 - X0y * syy0) / d0,
              (X0y * sxy0 - Y0y * sxx0) / d0};
    }
    if (mode == 1) return kIdentity;
    const double s0 = stats.Sxx0[p] + stats.Syy0[p];
    if (s0 == 0) return kIdentity;
    const double a = (X0x + Y0y) / s0, b = (X0y - Y0x) / s0;
    return {a, -b, b, a};
  }

  // identity + G, G mapping position offsets to force offsets.
  Mat2 Image(std::int32_t mode) const {
    if (mode == 0 || mode == 1) return kIdentity;
    const double e = Sxy * Sxy - Syy * Sxx;
    if (mode == 3 && e != 0)
      return {1 + (Sfxy * Sxy - Sfxx * Syy) / e, (Sfxx * Sxy - Sfxy * Sxx) / e, (Sfyy * Sxy - Sfyx * Syy) / e,
              1 + (Sfyx * Sxy - Sfyy * Sxx) / e};
    const double s = Sxx + Syy;
    if (s == 0) return kIdentity;
    const double alpha = (Sfxx + Sfyy) / s, beta = (Sfyx - Sfxy) / s;
    return {1 + alpha, -beta, beta, 1 + alpha};
  }

  // Translation for a node whose own force is (fx, fy).
  void Translation(const GRID_PHASE& phase, double fx, double fy, double& tx, double& ty) const {
    const double tt = phase.TensionTranslation, it = phase.ImageTranslation;
    if (phase.ImageMode != 0) {
      fx = mfx;
      fy = mfy;
    }
    tx = (1 - tt) * m0x + tt * mx + it * fx;
    ty = (1 - tt) * m0y + tt * my + it * fy;
  }

  // Moves `node` toward its target A(p0 - m0) + t with momentum `mu` (the
  // next buffer still holds the previous position); adds its squared motion
  // and its squared distance from the tension fit T(p0 - m0) + m.
  void Move(GRID_NODE& node, const GRID_PHASE& phase, const Mat2& t, const Mat2& a, double mu, unsigned cur,
            double& motion, double& deformation) const {
    const unsigned next = cur ^ 1u;
    double tx, ty;
    Translation(phase, node.Fx, node.Fy, tx, ty);
    const double rx = node.x0 - m0x, ry = node.y0 - m0y;
    const double targetX = a.a11 * rx + a.a12 * ry + tx, targetY = a.a21 * rx + a.a22 * ry + ty;
    const double px = node.x[cur], py = node.y[cur];
    node.x[next] = targetX + mu * (px - node.x[next]);
    node.y[next] = targetY + mu * (py - node.y[next]);
    motion += (targetX - px) * (targetX - px) + (targetY - py) * (targetY - py);
    const double ex = t.a11 * rx + t.a12 * ry + mx - px, ey = t.a21 * rx + t.a22 * ry + my - py;
    deformation += ex * ex + ey * ey;
  }
};

namespace {
// Mo / (Mo + D); the phase checks refuse Mo + D = 0 where it is used.
double Velocity(const GRID_PHASE& phase) {
  const double sum = phase.Momentum + phase.Dumping;
  return sum != 0 ? phase.Momentum / sum : 0;
}
}  // namespace

void GRID_RINGS::FitWholeAffine(const GRID_PHASE& phase) {
  const unsigned cur = Cur(), next = cur ^ 1u;
  Gather(cur);
  const Sums sums(WholeSums(&hot_[0].x0, hot_.size(), nodes_[0], phase_));
  const Mat2 j = sums.Image(phase.ImageMode) * Mat2{j11_, j12_, j21_, j22_};
  for (GRID_NODE& node : nodes_) {
    double tx, ty;
    sums.Translation(phase, node.Fx, node.Fy, tx, ty);
    const double rx = node.x0 - sums.m0x, ry = node.y0 - sums.m0y;
    node.x[next] = j.a11 * rx + j.a12 * ry + tx;
    node.y[next] = j.a21 * rx + j.a22 * ry + ty;
  }
  j11_ = j.a11;
  j12_ = j.a12;
  j21_ = j.a21;
  j22_ = j.a22;
  motion_ = 1;
  deformation_ = 0;
}

void GRID_RINGS::FitWholeMomentum(const GRID_PHASE& phase) {
  const unsigned cur = Cur();
  Gather(cur);
  const Sums sums(WholeSums(&hot_[0].x0, hot_.size(), nodes_[0], phase_));
  const Mat2 t = sums.Tension(nodes_[0], phase_, phase.TensionMode);
  const Mat2 a = sums.Image(phase.ImageMode) * t;
  const double mu = Velocity(phase);
  double motion = 0, deformation = 0;
  const std::size_t moved = MoveInLanes(nodes_.data(), nodes_.size(), sums, phase, t, a, mu, cur, motion, deformation);
  for (std::size_t i = moved; i < nodes_.size(); ++i) sums.Move(nodes_[i], phase, t, a, mu, cur, motion, deformation);
  const double count = static_cast<double>(rings_) * perimeter_;
  motion_ = motion / count;
  deformation_ = deformation / count;
  j11_ = a.a11;
  j12_ = a.a12;
  j21_ = a.a21;
  j22_ = a.a22;
}

void GRID_RINGS::FitLocal(const GRID_PHASE& phase) {
  const unsigned cur = Cur();
  const double mu = Velocity(phase);
  const auto n = static_cast<std::uint32_t>(phase.Neighborhood);
  double motion = 0, deformation = 0;
  Mat2 jSum{0, 0, 0, 0};
  // Node (j, k) moves toward its target from the sums of its neighbourhood.
  auto update = [&](std::uint32_t j, std::uint32_t k, const Sums& sums) {
    GRID_NODE& node = Node(j, k);
    const Mat2 t = sums.Tension(node, phase_, phase.TensionMode);
    const Mat2 a = sums.Image(phase.ImageMode) * t;
    sums.Move(node, phase, t, a, mu, cur, motion, deformation);
    jSum += a;
  };
  if (n <= perimeter_) {
    // Four angles at a time (eight with AVX-512); the results of the other
    // angles wait until the first angle's rings are added, so the sums over
    // the nodes are taken in the usual order. The columns reach four
    // entries further for the second four of eight angles.
#if defined(VIREO_AVX2_FORCES)
    const std::uint32_t group = kernels_ == ForceKernels::kAvx512 ? kOctLanes : kLanes;
#else
    const std::uint32_t group = kLanes;
#endif
    const std::size_t width = std::size_t{perimeter_} + 2 * n + (group - kLanes);
    const double* const columns = FillColumns(cur, n, width);
    pending_.resize(std::size_t{rings_} * (group - 1));
    static_assert(sizeof(NodeUpdate) == sizeof(PendingUpdate));
    auto add = [&](const NodeUpdate& u) {
      motion += u.moved;
      deformation += u.deformed;
      jSum += Mat2{u.a11, u.a12, u.a21, u.a22};
    };
    constexpr std::uint32_t kMostLanes = 8;
    for (std::uint32_t j = 0; j < perimeter_; j += group) {
      const std::uint32_t lanes = std::min(group, perimeter_ - j);
      for (std::uint32_t k = 0; k < rings_; ++k) {
        GRID_NODE* nodes[kMostLanes];
        // Lanes past the last angle compute a neighbourhood nobody uses.
        for (std::uint32_t l = 0; l < group; ++l) nodes[l] = &Node((j + l) % perimeter_, k);
        SumValues values[kMostLanes];
        NodeUpdate updates[kMostLanes];
#if defined(VIREO_AVX2_FORCES)
        if (group == kOctLanes) {
          OctSums(columns, width, rings_, j, k, n, nodes, phase_, values);
          UpdateInLanes(values + kLanes, nodes + kLanes, lanes > kLanes ? lanes - kLanes : 0, phase_, phase, mu, cur,
                        updates + kLanes);
        } else
#endif
          QuadSums(columns, width, rings_, j, k, n, nodes, phase_, values);
        UpdateInLanes(values, nodes, std::min(lanes, kLanes), phase_, phase, mu, cur, updates);
        add(updates[0]);
        for (std::uint32_t l = 1; l < lanes; ++l)
          std::memcpy(&pending_[(l - 1) * std::size_t{rings_} + k], &updates[l], sizeof updates[l]);
      }
      for (std::uint32_t l = 1; l < lanes; ++l)
        for (std::uint32_t k = 0; k < rings_; ++k) {
          NodeUpdate u;
          std::memcpy(&u, &pending_[(l - 1) * std::size_t{rings_} + k], sizeof u);
          add(u);
        }
    }
  } else {
    Gather(cur);
    for (std::uint32_t j = 0; j < perimeter_; ++j)
      for (std::uint32_t k = 0; k < rings_; ++k)
        // Neighbours are read from the current buffer only.
        update(j, k, Sums(Node(j, k), phase_, [&](auto visit) {
                 ForNeighbourhood(hot_, rings_, perimeter_, j, k, n, visit);
               }));
  }
  const double count = static_cast<double>(rings_) * perimeter_;
  motion_ = motion / count;
  deformation_ = deformation / count;
  j11_ = jSum.a11 / count;
  j12_ = jSum.a12 / count;
  j21_ = jSum.a21 / count;
  j22_ = jSum.a22 / count;
}

const double* GRID_RINGS::FillColumns(unsigned cur, std::uint32_t n, std::size_t width) {
  Gather(cur);
  columns_.resize(rings_ * width * kQuadFields + kLanes - 1);
  // Lanes aligned to their size for the vector loads.
  double* const start =
      columns_.data() + (-(reinterpret_cast<std::uintptr_t>(columns_.data()) / sizeof(double)) % kLanes);
  double* out = start;
  const std::uint32_t shift = (perimeter_ - n % perimeter_) % perimeter_;
  for (std::uint32_t k = 0; k < rings_; ++k) {
    std::uint32_t first = shift;
    for (std::size_t e = 0; e < width; ++e, out += kQuadFields) {
      std::uint32_t angle = first;
      for (std::size_t lane = 0; lane < kLanes; ++lane) {
        const Hot& q = hot_[std::size_t{angle} * rings_ + k];
        out[lane] = q.x0;
        out[kLanes + lane] = q.y0;
        out[2 * kLanes + lane] = q.x;
        out[3 * kLanes + lane] = q.y;
        out[4 * kLanes + lane] = q.fx;
        out[5 * kLanes + lane] = q.fy;
        if (++angle == perimeter_) angle = 0;
      }
      if (++first == perimeter_) first = 0;
    }
  }
  return start;
}

template <class Read>
std::uint32_t GRID_RINGS::IterateWith(const Read& read) {
  if (nodes_.empty()) return 0;
  const GRID_PHASE& phase = phases_[phase_];
  // A phase that would run before any pixel step was set is skipped like an
  // empty one (the phase checks refuse such parameters where they enter).
  if (phase.MaxIterations == 0 || (!vicinitySet_ && !(phase.Vicinity > 0))) {
    phaseTime_ = 0;
    if (++phase_ < 4) return 1;
    phase_ = 0;
    SyncBuffers();
    return 0;
  }
  const unsigned cur = Cur();
  if (phaseTime_ == 0 && phase.Vicinity > 0) {
    const auto step = static_cast<std::int32_t>(phase.Vicinity);
    for (GRID_NODE& node : nodes_) node.SetVicinity(step);
    vicinitySet_ = true;
  }
  const double weights[3] = {phase.InfluenceR, phase.InfluenceG, phase.InfluenceB};
  ImageForces(nodes_, read, cur, weights, kernels_);

  if (LocalPhase(phase))
    FitLocal(phase);
  else if (phase.Momentum == 0)
    FitWholeAffine(phase);
  else
    FitWholeMomentum(phase);

  ++time_;
  ++phaseTime_;
  if (motion_ < phase.MinMotion) {
    phaseTime_ = 0;
    ++phase_;
  }
  if (phase_ < 4 && phaseTime_ >= static_cast<unsigned>(phases_[phase_].MaxIterations)) {
    phaseTime_ = 0;
    ++phase_;
  }
  if (phase_ >= 4) {
    phaseTime_ = 0;
    phase_ = 0;
    SyncBuffers();
    return 0;
  }
  return time_;
}

std::uint32_t GRID_RINGS::Iterate(PixelReadFn read) { return IterateWith(read); }
std::uint32_t GRID_RINGS::Iterate(const FrameView& frame) { return IterateWith(frame); }

void GRID_RINGS::Fit(PixelReadFn read) {
  phase_ = phaseTime_ = 0;
  SyncBuffers();
  while (IterateWith(read) != 0) {
  }
  ++framesFitted_;
  ++framesSinceMap_;
}

void GRID_RINGS::Fit(const FrameView& frame) {
  phase_ = phaseTime_ = 0;
  SyncBuffers();
  while (IterateWith(frame) != 0) {
  }
  ++framesFitted_;
  ++framesSinceMap_;
}

// ---- measures, drawing, report ----

double GRID_RINGS::GetX() const {
  if (nodes_.empty()) return 0;
  const unsigned cur = Cur();
  double sum = 0;
  for (const GRID_NODE& node : nodes_) sum += node.x[cur];
  return sum / static_cast<double>(nodes_.size());
}

double GRID_RINGS::GetY() const {
  if (nodes_.empty()) return 0;
  const unsigned cur = Cur();
  double sum = 0;
  for (const GRID_NODE& node : nodes_) sum += node.y[cur];
  return sum / static_cast<double>(nodes_.size());
}

double GRID_RINGS::GetAngle() const { return std::atan2(j21_ - j12_, j11_ + j22_); }

double GRID_RINGS::GetDilation() const { return j11_ * j22_ - j12_ * j21_; }

std::int32_t GRID_RINGS::ColourOf(std::uint32_t j, std::uint32_t k) const {
  return static_cast<std::int32_t>(((((ringOffset_ + k) % rings_) / (rings_ / 2)) ^ (j / (perimeter_ / 4))) & 1u);
}

void GRID_RINGS::Draw(DrawLineFn line, DrawPointFn point) const {
  if (rings_ == 0 || perimeter_ == 0) return;
  const unsigned cur = Cur();
  auto x = [&](std::uint32_t j, std::uint32_t k) { return TruncToInt(Node(j, k).x[cur]); };
  auto y = [&](std::uint32_t j, std::uint32_t k) { return TruncToInt(Node(j, k).y[cur]); };
  if (line) {
    auto segment = [&](std::uint32_t j1, std::uint32_t k1, std::uint32_t j2, std::uint32_t k2) {
      line(x(j1, k1), y(j1, k1), x(j2, k2), y(j2, k2), ColourOf(j1, k1));
    };
    for (std::uint32_t k = rings_ - 1; k >= 1; --k) segment(0, k, 0, k - 1);
    for (std::uint32_t k = 0; k < rings_; ++k) segment(0, k, perimeter_ - 1, k);
    for (std::uint32_t j = 1; j < perimeter_; ++j)
      for (std::uint32_t k = 1; k < rings_; ++k) {
        segment(j, k, j, k - 1);
        segment(j, k, j - 1, k);
      }
    for (std::uint32_t j = 1; j < perimeter_; ++j) segment(j, 0, j - 1, 0);
    return;
  }
  if (point)
    for (std::uint32_t j = 0; j < perimeter_; ++j)
      for (std::uint32_t k = 0; k < rings_; ++k) point(x(j, k), y(j, k), ColourOf(j, k));
}

void GRID_RINGS::FormatReport(char* text, std::size_t size) const {
  if (size == 0) return;
  const auto f = [](double v) { return FixedText(v, 6); };
  const std::string report = "MODEL OF DEFORMABLE RINGS:\r\nDeformation = " + f(deformation_) +
                             "\r\nMotion = " + f(motion_) + "\r\nX = " + f(GetX()) + " Y = " + f(GetY()) +
                             "\r\nDilation = " + f(GetDilation()) + "\r\nAngle = " + f(GetAngle() * 180 / kPi) +
                             "\xB0\r\nJ11 = " + f(j11_) + " J12 = " + f(j12_) + "\r\nJ21 = " + f(j21_) +
                             " J22 = " + f(j22_) + "\r\nTime = " + std::to_string(static_cast<int>(time_)) +
                             "\r\nPhase = " + std::to_string(static_cast<int>(phase_)) +
                             "\r\nPhaseTime = " + std::to_string(static_cast<int>(phaseTime_));
  // Cut to the buffer as snprintf would.
  const std::size_t n = std::min(report.size(), size - 1);
  std::memcpy(text, report.data(), n);
  text[n] = '\0';
}

int GRID_RINGS::Shake() {
  // A per-model generator of 15-bit numbers, so that no other code's use
  // of a shared generator changes the result.
  auto next = [this] {
    shakeSeed_ = shakeSeed_ * 214013u + 2531011u;
    return static_cast<int>((shakeSeed_ >> 16) & 0x7FFF);
  };
  for (GRID_NODE& node : nodes_) {
    const double dx = next() / 32767.0 * 10 - 5;
    const double dy = next() / 32767.0 * 10 - 5;
    node.x[0] = node.x[1] = node.x0 + dx;
    node.y[0] = node.y[1] = node.y0 + dy;
  }
  return 0;
}

}  // namespace quorlin
