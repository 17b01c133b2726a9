// Disc histograms, co-occurrence matrices and their features on patterns
// whose results can be worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"

namespace {

using ostrel::CAnalizaDetektor;
using Haralick = CAnalizaDetektor::Haralick;
using Statistic = CAnalizaDetektor::Statistic;

// Columns covered by each of the 51 rows of the disc, row 25 through the centre.
constexpr int kFrom[51] = {-5,  -8,  -10, -11, -13, -14, -16, -17, -18, -19, -19, -20, -21, -22, -22, -23, -23,
                           -24, -24, -24, -25, -25, -25, -25, -25, -25, -25, -25, -25, -25, -25, -24, -24, -24,
                           -23, -23, -22, -21, -21, -20, -19, -19, -18, -17, -16, -14, -13, -11, -10, -8,  -5};
constexpr int kTo[51] = {5,  8,  10, 11, 13, 14, 16, 17, 18, 19, 19, 20, 21, 22, 22, 23, 23,
                         24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 25, 25, 24, 24, 24, 24,
                         23, 23, 22, 21, 21, 20, 19, 19, 18, 17, 16, 14, 13, 11, 10, 8,  5};

bool InDisc(int k, int i) { return i >= 0 && i <= 50 && k >= kFrom[i] && k <= kTo[i]; }

constexpr int kSize = 256;
constexpr int kX = 128, kY = 120;  // disc centre used by the pattern tests

struct Image {
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kSize * kSize, 0);
  std::uint8_t& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * kSize + x]; }
  // Paints every pixel from its offset (k, i) relative to the disc at (kX, kY).
  void Paint(const std::function<int(int k, int i)>& value) {
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) At(x, y) = static_cast<std::uint8_t>(value(x - kX, y - kY + 25));
  }
};

constexpr int kDisplacements[][2] = {{1, 0}, {3, 3}, {1, -1}, {0, -3}, {5, 0}, {0, -1}};

TEST(AnalysisFeatures, DiscHoldsExactly2009PixelsOfTheTable) {
  Image image;
  image.Paint([](int k, int i) { return InDisc(k, i) ? 7 : 200; });
  CAnalizaDetektor engine(kSize, kSize);
  engine.UseChannelImage(image.pixels.data());
  engine.BuildDiscHistogram(kX, kY);
  EXPECT_EQ(engine.HistogramPixelCount(), 2009);
  EXPECT_EQ(engine.Histogram()[7], 2009u);
  EXPECT_EQ(engine.Histogram()[200], 0u);
}

TEST(AnalysisFeatures, UniformDiscGivesTheTrivialValues) {
  CAnalizaDetektor engine(kSize, kSize);
  for (int v : {0, 7, 8, 100, 255}) {
    Image image;
    image.Paint([v](int k, int i) { return InDisc(k, i) ? v : 255 - v; });
    engine.UseChannelImage(image.pixels.data());
    engine.BuildDiscHistogram(kX, kY);
    EXPECT_DOUBLE_EQ(engine.HistogramStatistic(Statistic::kMean), v + 1);
    EXPECT_EQ(engine.HistogramStatistic(Statistic::kPercentile90), v + 1);
    EXPECT_EQ(engine.HistogramStatistic(Statistic::kPercentile99), v + 1);
    for (const auto& d : kDisplacements) {
      engine.BuildCooccurrence(d[0], d[1], kX, kY);
      EXPECT_EQ(engine.CooccurrenceFeature(Haralick::kDifferenceEntropy), 0.0) << v;
      EXPECT_DOUBLE_EQ(engine.CooccurrenceFeature(Haralick::kInverseDifferenceMoment), 1.0) << v;
      EXPECT_DOUBLE_EQ(engine.CooccurrenceFeature(Haralick::kSumAverage), 2.0 * (v / 8 + 1)) << v;
    }
  }
}

// Paints the first `count` disc pixels (in row order) with `high`, the rest with `low`.
Image FirstDiscPixels(int count, int high, int low) {
  Image image;
  int painted = 0;
  for (int i = 0; i <= 50; ++i)
    for (int k = kFrom[i]; k <= kTo[i]; ++k) image.At(kX + k, kY + i - 25) = painted++ < count ? high : low;
  return image;
}

TEST(AnalysisFeatures, PercentilesStepAtTheirThresholds) {
  // 2009 pixels: the 90th percentile needs 1808.1 of them, the 99th 1988.91.
  CAnalizaDetektor engine(kSize, kSize);
  struct Case {
    int highPixels;
    double p90, p99;
  };
  for (const Case& c : {Case{200, 21, 51}, Case{201, 51, 51}, Case{20, 21, 21}, Case{21, 21, 51}}) {
    const Image image = FirstDiscPixels(c.highPixels, 50, 20);
    engine.UseChannelImage(image.pixels.data());
    engine.BuildDiscHistogram(kX, kY);
    EXPECT_EQ(engine.HistogramStatistic(Statistic::kPercentile90), c.p90) << c.highPixels;
    EXPECT_EQ(engine.HistogramStatistic(Statistic::kPercentile99), c.p99) << c.highPixels;
  }
  const Image image = FirstDiscPixels(200, 50, 20);
  engine.UseChannelImage(image.pixels.data());
  engine.BuildDiscHistogram(kX, kY);
  EXPECT_DOUBLE_EQ(engine.HistogramStatistic(Statistic::kMean), (1809.0 * 21 + 200.0 * 51) / 2009);
}

TEST(AnalysisFeatures, HaralickFeaturesOfOneBrightCentrePixel) {
  // Displacement (1, 0): 2009 - 51 = 1958 pairs; two of them pair the bright
  // centre (level 31) with a dark neighbour (level 0).
  Image image;
  image.Paint([](int k, int i) { return k == 0 && i == 25 ? 255 : 0; });
  CAnalizaDetektor engine(kSize, kSize);
  engine.UseChannelImage(image.pixels.data());
  engine.BuildCooccurrence(1, 0, kX, kY);
  ASSERT_EQ(engine.PairCount(), 3916);
  EXPECT_EQ(engine.Cooccurrence(0, 31), 2u);
  EXPECT_EQ(engine.Cooccurrence(31, 0), 2u);
  EXPECT_EQ(engine.Cooccurrence(0, 0), 3912u);
  const double p0 = 3912.0 / 3916, p31 = 4.0 / 3916;
  EXPECT_NEAR(engine.CooccurrenceFeature(Haralick::kDifferenceEntropy), -(p0 * std::log10(p0) + p31 * std::log10(p31)),
              1e-12);
  EXPECT_NEAR(engine.CooccurrenceFeature(Haralick::kInverseDifferenceMoment), (3912 + 4.0 / 962) / 3916, 1e-12);
  EXPECT_NEAR(engine.CooccurrenceFeature(Haralick::kSumAverage), (2.0 * 3912 + 33.0 * 4) / 3916, 1e-12);
}

TEST(AnalysisFeatures, HaralickFeaturesOfColumnStripes) {
  // Levels 0 and 1 in alternate columns: every horizontal pair differs by one
  // level, every vertical pair by none.
  Image image;
  image.Paint([](int k, int) { return (k & 1) ? 8 : 0; });
  CAnalizaDetektor engine(kSize, kSize);
  engine.UseChannelImage(image.pixels.data());
  engine.BuildCooccurrence(1, 0, kX, kY);
  EXPECT_EQ(engine.CooccurrenceFeature(Haralick::kDifferenceEntropy), 0.0);
  EXPECT_DOUBLE_EQ(engine.CooccurrenceFeature(Haralick::kInverseDifferenceMoment), 0.5);
  EXPECT_DOUBLE_EQ(engine.CooccurrenceFeature(Haralick::kSumAverage), 3.0);
  engine.BuildCooccurrence(0, -3, kX, kY);
  EXPECT_EQ(engine.CooccurrenceFeature(Haralick::kDifferenceEntropy), 0.0);
  EXPECT_DOUBLE_EQ(engine.CooccurrenceFeature(Haralick::kInverseDifferenceMoment), 1.0);
}

// Outside the disc level 16, the three marked disc rows level 31, the rest 0.
Image MarkedRows(int firstMarkedRow) {
  Image image;
  image.Paint([firstMarkedRow](int k, int i) {
    if (!InDisc(k, i)) return 128;
    return i >= firstMarkedRow && i < firstMarkedRow + 3 ? 255 : 0;
  });
  return image;
}

TEST(AnalysisFeatures, PairsStayInsideTheDiscAtItsEdges) {
  CAnalizaDetektor engine(kSize, kSize);
  // (0, -3): rows 0..2 give no first pixels; rows 3..5 pair with them 11 + 17 + 21 times.
  Image top = MarkedRows(0);
  engine.UseChannelImage(top.pixels.data());
  engine.BuildCooccurrence(0, -3, kX, kY);
  EXPECT_EQ(engine.Cooccurrence(0, 31), 49u);
  EXPECT_EQ(engine.Cooccurrence(31, 31), 0u);
  // (3, 3): rows 48..50 give no first pixels; rows 45..47 reach them 21 + 17 + 11 times.
  Image bottom = MarkedRows(48);
  engine.UseChannelImage(bottom.pixels.data());
  engine.BuildCooccurrence(3, 3, kX, kY);
  EXPECT_EQ(engine.Cooccurrence(0, 31), 49u);
  EXPECT_EQ(engine.Cooccurrence(31, 31), 0u);
  for (Image* image : {&top, &bottom})
    for (const auto& d : kDisplacements) {
      engine.UseChannelImage(image->pixels.data());
      engine.BuildCooccurrence(d[0], d[1], kX, kY);
      for (int a = 0; a < 32; ++a) ASSERT_EQ(engine.Cooccurrence(16, a), 0u) << d[0] << "," << d[1];
    }
}

TEST(AnalysisFeatures, MatrixEqualsAllPixelPairsInsideTheDisc) {
  Image image;
  std::mt19937 random(7);
  for (std::uint8_t& p : image.pixels) p = static_cast<std::uint8_t>(random());
  CAnalizaDetektor engine(kSize, kSize);
  engine.UseChannelImage(image.pixels.data());
  const int displacements[][2] = {{1, 0}, {3, 3}, {1, -1}, {0, -3}, {5, 0}, {0, -1}, {-2, 4}, {0, 0}};
  for (const auto& d : displacements) {
    for (const auto& c : {std::pair{kX, kY}, std::pair{36, 136}, std::pair{218, 136}, std::pair{166, 44}}) {
      std::uint32_t want[32][32] = {};
      int pairs = 0;
      for (int i = 0; i <= 50; ++i)
        for (int k = -25; k <= 25; ++k)
          if (InDisc(k, i) && InDisc(k + d[0], i + d[1])) {
            const int a = image.At(c.first + k, c.second + i - 25) >> 3;
            const int b = image.At(c.first + k + d[0], c.second + i + d[1] - 25) >> 3;
            ++want[a][b];
            ++want[b][a];
            ++pairs;
          }
      engine.BuildCooccurrence(d[0], d[1], c.first, c.second);
      ASSERT_EQ(engine.PairCount(), 2 * pairs);
      for (int a = 0; a < 32; ++a)
        for (int b = 0; b < 32; ++b) ASSERT_EQ(engine.Cooccurrence(a, b), want[a][b]) << a << "," << b;
    }
  }
}

TEST(AnalysisFeatures, DiscsReachingOutOfTheImageCountNothing) {
  Image image;
  CAnalizaDetektor engine(kSize, kSize);
  engine.UseChannelImage(image.pixels.data());
  for (const auto& c :
       {std::pair{24, 100}, std::pair{100, 24}, std::pair{231, 100}, std::pair{100, 231}, std::pair{-1000, 5}}) {
    engine.BuildDiscHistogram(c.first, c.second);
    EXPECT_EQ(engine.HistogramPixelCount(), 0);
    EXPECT_TRUE(std::isnan(engine.HistogramStatistic(Statistic::kMean)));
    engine.BuildCooccurrence(1, 0, c.first, c.second);
    EXPECT_EQ(engine.PairCount(), 0);
    EXPECT_TRUE(std::isnan(engine.CooccurrenceFeature(Haralick::kDifferenceEntropy)));
  }
  engine.BuildDiscHistogram(25, 25);
  EXPECT_EQ(engine.HistogramPixelCount(), 2009);
  engine.BuildCooccurrence(60, 0, kX, kY);  // no pair fits in the disc
  EXPECT_EQ(engine.PairCount(), 0);
  EXPECT_TRUE(std::isnan(engine.CooccurrenceFeature(Haralick::kSumAverage)));
}

}  // namespace
