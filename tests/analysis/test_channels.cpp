// Channel conversions against the formulas, pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "channels.h"
#include "ostrel/analysis/analiza_detektor.h"

namespace {

using ostrel::CAnalizaDetektor;

constexpr char kCodes[] = {'G', '*', 'Q', 'q', 'u', 'v', 'i', 'S', 'h', 'x'};

double Linear(int byte) {
  static const std::vector<double> table = [] {
    std::vector<double> t(256);
    for (int v = 0; v < 256; ++v) {
      const double f = v / 255.0;
      t[v] = f <= 0.04045 ? f / 12.92 : std::pow((f + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table[byte];
}

// The formulas as written, one pixel at a time.
int Reference(char code, int r, int g, int b) {
  const double d = 299.0 * r + 587.0 * g + 114.0 * b + 1;
  const double uc = (886.0 * b - 587.0 * g - 299.0 * r) / 886;
  const double vc = (701.0 * r - 587.0 * g - 114.0 * b) / 701;
  double value = 0;
  switch (code) {
    case 'G': return g;
    case '*': return (299 * r + 587 * g + 114 * b) / 1000;
    case 'Q': return (2115 * r + 5226 * (255 - g) + 3111 * b) / 10452;
    case 'q': value = 70.457 * ((211.5 * r - 522.6 * g + 311.1 * b) / d + 0.8903); break;
    case 'u': value = 29.07 * ((886.0 * b - 587.0 * g - 299.0 * r) / d + 1); break;
    case 'v': value = 76.245 * ((701.0 * r - 587.0 * g - 114.0 * b) / d + 1); break;
    case 'i': value = 53.006 * ((595.7 * r - 274.4 * g - 321.3 * b) / d + 2.8185); break;
    case 'S': value = 0.937 * std::sqrt(uc * uc + vc * vc); break;
    case 'h': {
      if (uc == 0 && vc == 0) return 0;
      double a = std::atan2(vc, uc) - 3.141592653589793;
      if (a < 0) a += 6.283185307179586;
      value = 40.58451049 * a;
      break;
    }
    case 'x': value = 105.162 * Linear(r) + 91.188 * Linear(g) + 46.0275 * Linear(b); break;
  }
  return static_cast<int>(std::trunc(value));
}

struct Frame {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;
  Frame(int w, int h)
      : width(w), height(h), stride((3 * w + 3) & ~3), bytes(static_cast<std::size_t>(stride) * h, 0xEE) {}
  void Set(int x, int y, int r, int g, int b) {
    std::uint8_t* p = &bytes[static_cast<std::size_t>(y) * stride + 3 * x];
    p[0] = static_cast<std::uint8_t>(b);
    p[1] = static_cast<std::uint8_t>(g);
    p[2] = static_cast<std::uint8_t>(r);
  }
};

std::vector<std::uint8_t> Convert(char code, const Frame& frame) {
  CAnalizaDetektor engine(frame.width, frame.height);
  std::vector<std::uint8_t> channel(static_cast<std::size_t>(frame.width) * frame.height, 0x5A);
  EXPECT_TRUE(engine.ConvertChannel(code, frame.stride, frame.bytes.data(), channel.data()));
  return channel;
}

TEST(AnalysisChannels, BlackRedAndGreenPixels) {
  Frame frame(256, 256);
  frame.Set(0, 0, 0, 0, 0);
  frame.Set(1, 0, 255, 0, 0);
  frame.Set(2, 0, 0, 255, 0);
  struct Expect {
    char code;
    int black, red;
  };
  const Expect expected[] = {{'q', 62, 112}, {'u', 29, 0},  {'v', 76, 254}, {'i', 149, 255}, {'Q', 127, 179},
                             {'S', 0, 252},  {'h', 0, 204}, {'x', 0, 105},  {'*', 0, 76}};
  for (const Expect& e : expected) {
    const std::vector<std::uint8_t> channel = Convert(e.code, frame);
    EXPECT_EQ(channel[0], e.black) << e.code;
    EXPECT_EQ(channel[1], e.red) << e.code;
  }
  EXPECT_EQ(Convert('S', frame)[2], 255);
  EXPECT_EQ(Convert('G', frame)[2], 255);
}

TEST(AnalysisChannels, EveryChannelMatchesTheFormulasOverRandomColours) {
  // An odd width pads every row; greys and the corners of the colour cube come first.
  Frame frame(257, 256);
  std::mt19937 random(20090417);
  std::uniform_int_distribution<int> byte(0, 255);
  int pixel = 0;
  for (int r : {0, 255})
    for (int g : {0, 255})
      for (int b : {0, 255}) frame.Set(pixel++, 0, r, g, b);
  for (int v = 0; v < 256; ++v) frame.Set(v % 257, 1 + v / 257, v, v, v);
  for (int round = 0; round < 8; ++round) {
    for (int y = 2; y < frame.height; ++y)
      for (int x = 0; x < frame.width; ++x) frame.Set(x, y, byte(random), byte(random), byte(random));
    for (char code : kCodes) {
      const std::vector<std::uint8_t> channel = Convert(code, frame);
      int mismatches = 0;
      for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
          const std::uint8_t* p = &frame.bytes[static_cast<std::size_t>(y) * frame.stride + 3 * x];
          const int want = Reference(code, p[2], p[1], p[0]);
          ASSERT_GE(want, 0);
          ASSERT_LE(want, 255);
          if (channel[static_cast<std::size_t>(y) * frame.width + x] != want && ++mismatches <= 3)
            ADD_FAILURE() << "code " << code << " colour " << int(p[2]) << "," << int(p[1]) << "," << int(p[0])
                          << " gives " << int(channel[static_cast<std::size_t>(y) * frame.width + x]) << ", formula "
                          << want;
        }
      EXPECT_EQ(mismatches, 0) << code;
    }
  }
}

TEST(AnalysisChannels, EveryColourOfTheCubeMatchesTheFormulas) {
  // One 256 x 256 frame per red value: column = blue, row = green.
  Frame frame(256, 256);
  CAnalizaDetektor engine(256, 256);
  std::vector<std::uint8_t> channel(256 * 256);
  for (char code : kCodes) {
    int mismatches = 0;
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g)
        for (int b = 0; b < 256; ++b) frame.Set(b, g, r, g, b);
      ASSERT_TRUE(engine.ConvertChannel(code, frame.stride, frame.bytes.data(), channel.data()));
      for (int g = 0; g < 256; ++g)
        for (int b = 0; b < 256; ++b) {
          const int got = channel[g * 256 + b];
          const int want = Reference(code, r, g, b);
          if (got != want && ++mismatches <= 3)
            ADD_FAILURE() << "code " << code << " colour " << r << "," << g << "," << b << " gives " << got
                          << ", formula " << want;
        }
    }
    EXPECT_EQ(mismatches, 0) << code;
  }
}

TEST(AnalysisChannels, BaselineAndAvx2BuildsGiveTheSameBytesForEveryColour) {
  if (!ostrel::HasAvx2Conversion()) GTEST_SKIP() << "this processor has no AVX2";
  // Runs of 1 to 13 pixels, so that every build meets every kind of row end.
  std::vector<std::uint8_t> pixels(3 * 65536), baseline(65536), avx2(65536);
  for (char code : kCodes) {
    int mismatches = 0;
    for (int r = 0; r < 256; ++r) {
      for (int i = 0; i < 65536; ++i) {
        pixels[3 * i] = static_cast<std::uint8_t>(i);
        pixels[3 * i + 1] = static_cast<std::uint8_t>(i >> 8);
        pixels[3 * i + 2] = static_cast<std::uint8_t>(r);
      }
      for (int at = 0, run = 1; at < 65536; at += run, run = run % 13 + 1) {
        const int count = std::min(run, 65536 - at);
        ostrel::ConvertPixelsBaseline(code, &pixels[3 * at], &baseline[at], count);
        ostrel::ConvertPixelsAvx2(code, &pixels[3 * at], &avx2[at], count);
      }
      for (int i = 0; i < 65536; ++i)
        if (baseline[i] != avx2[i] && ++mismatches <= 3)
          ADD_FAILURE() << "code " << code << " colour " << r << "," << (i >> 8) << "," << (i & 255) << ": baseline "
                        << int(baseline[i]) << ", AVX2 " << int(avx2[i]);
    }
    EXPECT_EQ(mismatches, 0) << code;
  }
}

TEST(AnalysisChannels, RefusesUnknownCodesAndShortStrides) {
  Frame frame(256, 256);
  CAnalizaDetektor engine(256, 256);
  std::vector<std::uint8_t> channel(256 * 256, 0x5A);
  EXPECT_FALSE(engine.ConvertChannel('R', frame.stride, frame.bytes.data(), channel.data()));
  EXPECT_FALSE(engine.ConvertChannel('G', 3 * 256 - 1, frame.bytes.data(), channel.data()));
  EXPECT_FALSE(engine.ConvertChannel('G', frame.stride, nullptr, channel.data()));
  EXPECT_FALSE(engine.ConvertChannel('G', frame.stride, frame.bytes.data(), nullptr));
  for (std::uint8_t v : channel) ASSERT_EQ(v, 0x5A);
  for (char code : kCodes) EXPECT_TRUE(CAnalizaDetektor::IsChannelCode(code)) << code;
  EXPECT_FALSE(CAnalizaDetektor::IsChannelCode('g'));
}

}  // namespace
