#include "channels.h"

#include <array>
#include <cmath>

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

inline double Luma(int r, int g, int b) { return 299.0 * r + 587.0 * g + 114.0 * b + 1.0; }

template <typename PixelFn>
void Convert(const std::uint8_t* bgr, std::uint8_t* out, int count, PixelFn fn) {
  for (int i = 0; i < count; ++i, bgr += 3) out[i] = fn(bgr[2], bgr[1], bgr[0]);
}

std::uint8_t Hue(int r, int g, int b) {
  const int un = 886 * b - 587 * g - 299 * r;
  const int vn = 701 * r - 587 * g - 114 * b;
  if (un == 0 && vn == 0) return 0;
  double a = std::atan2(vn / 701.0, un / 886.0) - kPi;
  if (a < 0) a += kTwoPi;
  return Truncate(40.58451049 * a);
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
    case '*':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b) / 1000);
      });
      break;
    case 'Q':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return static_cast<std::uint8_t>((2115 * r + 5226 * (255 - g) + 3111 * b) / 10452);
      });
      break;
    case 'q':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return Truncate(70.457 * ((211.5 * r - 522.6 * g + 311.1 * b) / Luma(r, g, b) + 0.8903));
      });
      break;
    case 'u':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return Truncate(29.07 * ((886.0 * b - 587.0 * g - 299.0 * r) / Luma(r, g, b) + 1.0));
      });
      break;
    case 'v':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return Truncate(76.245 * ((701.0 * r - 587.0 * g - 114.0 * b) / Luma(r, g, b) + 1.0));
      });
      break;
    case 'i':
      Convert(bgr, out, count, [](int r, int g, int b) {
        return Truncate(53.006 * ((595.7 * r - 274.4 * g - 321.3 * b) / Luma(r, g, b) + 2.8185));
      });
      break;
    case 'S':
      Convert(bgr, out, count, [](int r, int g, int b) {
        const double uc = (886 * b - 587 * g - 299 * r) / 886.0;
        const double vc = (701 * r - 587 * g - 114 * b) / 701.0;
        return Truncate(0.937 * std::sqrt(uc * uc + vc * vc));
      });
      break;
    case 'h':
      Convert(bgr, out, count, Hue);
      break;
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
