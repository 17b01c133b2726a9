#include "channels.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <emmintrin.h>

namespace ostrel {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Linear sRGB component of every byte value.
const std::array<double, 256>& LinearTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int v = 0; v < 256; ++v) {
      const double f = v / 255.0;
      t[v] = f <= 0.04045 ? f / 12.92 : std::pow((f + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table;
}

inline std::uint8_t Truncate(double value) { return static_cast<std::uint8_t>(static_cast<int>(value)); }

template <typename PixelFn>
void Convert(const std::uint8_t* bgr, std::uint8_t* out, int count, PixelFn fn) {
  for (int i = 0; i < count; ++i, bgr += 3) out[i] = fn(bgr[2], bgr[1], bgr[0]);
}

using Doubles2 = double __attribute__((vector_size(16)));
using Ints2 = int __attribute__((vector_size(8)));

// Channels given by one real formula of (r, g, b), truncated. The formula is
// evaluated two pixels at a time on SSE2 vectors, which performs the very
// same double operations per pixel as the scalar form used for a last pixel.
template <typename Formula>
void ConvertByFormula(const std::uint8_t* bgr, std::uint8_t* out, int count, Formula formula) {
  int i = 0;
  for (; i + 2 <= count; i += 2, bgr += 6) {
    const Doubles2 b = {static_cast<double>(bgr[0]), static_cast<double>(bgr[3])};
    const Doubles2 g = {static_cast<double>(bgr[1]), static_cast<double>(bgr[4])};
    const Doubles2 r = {static_cast<double>(bgr[2]), static_cast<double>(bgr[5])};
    const Ints2 value = __builtin_convertvector(formula(r, g, b), Ints2);
    out[i] = static_cast<std::uint8_t>(value[0]);
    out[i + 1] = static_cast<std::uint8_t>(value[1]);
  }
  if (i < count)
    out[i] = Truncate(formula(static_cast<double>(bgr[2]), static_cast<double>(bgr[1]), static_cast<double>(bgr[0])));
}

template <typename T>
T Luma(T r, T g, T b) {
  return 299.0 * r + 587.0 * g + 114.0 * b + 1.0;
}

constexpr double kHueScale = 40.58451049;
constexpr double kOver886 = 1.0 / 886, kOver701 = 1.0 / 701;

inline double SquareRoot(double v) { return std::sqrt(v); }
inline Doubles2 SquareRoot(Doubles2 v) { return _mm_sqrt_pd(v); }

// Multiplying by the reciprocals moves the value by far less than 1e-9; only
// a value that close to a whole number needs the divisions of the formula.
constexpr double kSaturationMargin = 1e-9;
template <typename T>
T QuickSaturation(T r, T g, T b) {
  const T uq = (886.0 * b - 587.0 * g - 299.0 * r) * kOver886;
  const T vq = (701.0 * r - 587.0 * g - 114.0 * b) * kOver701;
  return 0.937 * SquareRoot(uq * uq + vq * vq);
}

std::uint8_t Saturation(int r, int g, int b) {
  const int un = 886 * b - 587 * g - 299 * r;
  const int vn = 701 * r - 587 * g - 114 * b;
  if (un == 0 && vn == 0) return 0;
  const double uc = un / 886.0, vc = vn / 701.0;
  return Truncate(0.937 * std::sqrt(uc * uc + vc * vc));
}

// The byte of a quick value that lies farther than `margin` from a whole
// number; the exact formula's byte otherwise.
template <typename Exact>
inline std::uint8_t Settle(double quick, double margin, const std::uint8_t* bgr, Exact exact) {
  const int whole = static_cast<int>(quick);
  if (quick - whole > margin && whole + 1 - quick > margin) return static_cast<std::uint8_t>(whole);
  return exact(bgr[2], bgr[1], bgr[0]);
}

template <typename Quick, typename Exact>
void ConvertNearlyExact(const std::uint8_t* bgr, std::uint8_t* out, int count, double margin, Quick quick,
                        Exact exact) {
  int i = 0;
  for (; i + 2 <= count; i += 2, bgr += 6) {
    const Doubles2 b = {static_cast<double>(bgr[0]), static_cast<double>(bgr[3])};
    const Doubles2 g = {static_cast<double>(bgr[1]), static_cast<double>(bgr[4])};
    const Doubles2 r = {static_cast<double>(bgr[2]), static_cast<double>(bgr[5])};
    const Doubles2 value = quick(r, g, b);
    out[i] = Settle(value[0], margin, bgr, exact);
    out[i + 1] = Settle(value[1], margin, bgr + 3, exact);
  }
  if (i < count)
    out[i] = Settle(quick(static_cast<double>(bgr[2]), static_cast<double>(bgr[1]), static_cast<double>(bgr[0])),
                    margin, bgr, exact);
}

double ExactHue(double uc, double vc) {
  double a = std::atan2(vc, uc) - kPi;
  if (a < 0) a += kTwoPi;
  return kHueScale * a;
}

// atan on [0, 1] at steps of 1/1024; linear interpolation between entries is
// off by at most step^2 / 8 * max|atan''| < 8e-8.
constexpr int kAtanSteps = 1024;
const std::array<double, kAtanSteps + 2>& AtanTable() {
  static const std::array<double, kAtanSteps + 2> table = [] {
    std::array<double, kAtanSteps + 2> t{};
    for (int i = 0; i <= kAtanSteps + 1; ++i) t[i] = std::atan(static_cast<double>(i) / kAtanSteps);
    return t;
  }();
  return table;
}

double QuickAtan2(const std::array<double, kAtanSteps + 2>& table, double y, double x) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  const double t = std::min(ax, ay) / std::max(ax, ay) * kAtanSteps;
  const int i = static_cast<int>(t);
  double r = table[i] + (t - i) * (table[i + 1] - table[i]);
  r = ay > ax ? kPi / 2 - r : r;
  r = x < 0 ? kPi - r : r;
  return std::copysign(r, y);
}

// The quick angle decides the byte unless the scaled value lies within 1e-5
// of a whole number (its error is below 4e-6), where the exact formula does.
std::uint8_t Hue(const std::array<double, kAtanSteps + 2>& table, int r, int g, int b) {
  const int un = 886 * b - 587 * g - 299 * r;
  const int vn = 701 * r - 587 * g - 114 * b;
  if (un == 0 && vn == 0) return 0;
  const double quick = kHueScale * (QuickAtan2(table, vn * kOver701, un * kOver886) + kPi);
  const int whole = static_cast<int>(quick);
  if (quick - whole > 1e-5 && whole + 1 - quick > 1e-5) return static_cast<std::uint8_t>(whole);
  return Truncate(ExactHue(un / 886.0, vn / 701.0));
}

}  // namespace

bool IsKnownChannel(char code) {
  switch (code) {
    case 'G': case '*': case 'Q': case 'q': case 'u': case 'v': case 'i': case 'S': case 'h': case 'x':
      return true;
    default:
      return false;
  }
}

void ConvertPixels(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  switch (code) {
    case 'G':
      Convert(bgr, out, count, [](int, int g, int) { return static_cast<std::uint8_t>(g); });
      break;
    // Integer quotients: the sums are whole numbers held exactly, and a
    // correctly rounded quotient of them truncates to the integer quotient.
    case '*':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) { return (299.0 * r + 587.0 * g + 114.0 * b) / 1000.0; });
      break;
    case 'Q':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) {
        return (2115.0 * r + 5226.0 * (255.0 - g) + 3111.0 * b) / 10452.0;
      });
      break;
    case 'q':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) {
        return 70.457 * ((211.5 * r - 522.6 * g + 311.1 * b) / Luma(r, g, b) + 0.8903);
      });
      break;
    case 'u':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) {
        return 29.07 * ((886.0 * b - 587.0 * g - 299.0 * r) / Luma(r, g, b) + 1.0);
      });
      break;
    case 'v':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) {
        return 76.245 * ((701.0 * r - 587.0 * g - 114.0 * b) / Luma(r, g, b) + 1.0);
      });
      break;
    case 'i':
      ConvertByFormula(bgr, out, count, [](auto r, auto g, auto b) {
        return 53.006 * ((595.7 * r - 274.4 * g - 321.3 * b) / Luma(r, g, b) + 2.8185);
      });
      break;
    case 'S':
      ConvertNearlyExact(bgr, out, count, kSaturationMargin, [](auto r, auto g, auto b) { return QuickSaturation(r, g, b); },
                         Saturation);
      break;
    case 'h': {
      const std::array<double, kAtanSteps + 2>& table = AtanTable();
      Convert(bgr, out, count, [&table](int r, int g, int b) { return Hue(table, r, g, b); });
      break;
    }
    case 'x': {
      const std::array<double, 256>& lin = LinearTable();
      Convert(bgr, out, count, [&lin](int r, int g, int b) {
        return Truncate(105.162 * lin[r] + 91.188 * lin[g] + 46.0275 * lin[b]);
      });
      break;
    }
    default:
      break;
  }
}

}  // namespace ostrel
