// Findings lines and markers from the flags of an analysed frame.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"
#include "ostrel/detections.h"

namespace {

using ostrel::CAnalizaDetektor;

constexpr int kSize = 256;
constexpr int kStride = 3 * kSize;

// Feature points inside each region (all other slots 0, which is outside every
// region).
void Give(CAnalizaDetektor& engine, int block, CAnalizaDetektor::Flag flag) {
  auto& f = engine.Features(block);
  switch (flag) {
    case CAnalizaDetektor::kBlood1: f[0] = 0.147, f[1] = 40.4, f[2] = 4.26; break;
    case CAnalizaDetektor::kUlcer1: f[3] = 0.373, f[4] = 195, f[5] = 190; break;
    case CAnalizaDetektor::kUlcer2: f[6] = 0.95, f[7] = 0.111, f[8] = 0.0845, f[9] = 0.494; break;
    case CAnalizaDetektor::kBlood2: f[17] = 207, f[18] = 0.124, f[19] = 153; break;
    default: FAIL() << "no region for flag " << flag;
  }
}

struct Colour {
  std::uint8_t b, g, r;
  bool operator==(const Colour&) const = default;
};
constexpr Colour kGrey{90, 100, 110}, kYellow{0, 255, 255}, kWhite{255, 255, 255}, kBlue{255, 0, 0}, kBlack{0, 0, 0};

struct Image {
  std::vector<std::uint8_t> data = std::vector<std::uint8_t>(static_cast<size_t>(kStride) * kSize);
  Image() {
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) Set(x, y, kGrey);
  }
  Colour At(int x, int y) const {
    const std::uint8_t* p = &data[static_cast<size_t>(y) * kStride + 3 * x];
    return {p[0], p[1], p[2]};
  }
  void Set(int x, int y, Colour c) {
    std::uint8_t* p = &data[static_cast<size_t>(y) * kStride + 3 * x];
    p[0] = c.b, p[1] = c.g, p[2] = c.r;
  }
  int Changed() const {
    int n = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) n += !(At(x, y) == kGrey);
    return n;
  }
};

std::string Line(const CAnalizaDetektor& engine, int frame) {
  char line[ostrel::kFindingsLineSize];
  const int n = ostrel::FormatFindingsLine(engine, frame, line);
  return std::string(line, static_cast<size_t>(n));
}

void ExpectPlus(const Image& image, int x, int y, Colour c) {
  for (auto [px, py] : {std::pair{x, y}, {x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}})
    EXPECT_EQ(image.At(px, py), c) << "pixel " << px << "," << py;
}

}  // namespace

TEST(OstrelDetections, Ulcer2InBlocks3And40) {
  CAnalizaDetektor engine(kSize, kSize);
  Give(engine, 3, CAnalizaDetektor::kUlcer2);
  Give(engine, 40, CAnalizaDetektor::kUlcer2);
  engine.ClassifyBlocks();
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b)
    for (int flag = 0; flag < CAnalizaDetektor::kFlagCount; ++flag)
      ASSERT_EQ(engine.Flags(b)[flag], (b == 3 || b == 40) && flag == CAnalizaDetektor::kUlcer2) << b << " " << flag;

  EXPECT_EQ(Line(engine, 137), "137\t0\t Ulcer2\r\n");
  Image image;
  ostrel::DrawMarkers(engine, image.data.data(), kStride);
  ExpectPlus(image, 167, 45, kBlue);
  ExpectPlus(image, 141, 183, kBlue);
  EXPECT_EQ(image.Changed(), 10);
}

TEST(OstrelDetections, LaterMarkersCoverEarlierOnes) {
  CAnalizaDetektor engine(kSize, kSize);
  Give(engine, 10, CAnalizaDetektor::kBlood1);
  Give(engine, 10, CAnalizaDetektor::kUlcer1);
  Give(engine, 30, CAnalizaDetektor::kBlood2);
  Give(engine, 30, CAnalizaDetektor::kBlood1);
  engine.ClassifyBlocks();
  Image image;
  ostrel::DrawMarkers(engine, image.data.data(), kStride);

  // Block 10 (88, 90): the black plus at the centre covers the white one.
  const auto [x, y] = CAnalizaDetektor::BlockCentre(10);
  ASSERT_EQ(x, 88);
  ASSERT_EQ(y, 90);
  ExpectPlus(image, x, y, kBlack);
  EXPECT_EQ(image.At(x - 1, y - 1), kWhite);
  EXPECT_EQ(image.At(x - 2, y - 1), kWhite);
  EXPECT_EQ(image.At(x - 1, y - 2), kWhite);

  // Block 30 (49, 159): white over yellow.
  const auto [u, v] = CAnalizaDetektor::BlockCentre(30);
  ExpectPlus(image, u - 1, v - 1, kWhite);
  EXPECT_EQ(image.At(u - 3, v - 1), kYellow);
  EXPECT_EQ(image.At(u - 2, v - 2), kYellow);
  EXPECT_EQ(image.At(u - 2, v), kYellow);
  EXPECT_EQ(image.Changed(), 8 + 8);
}

TEST(OstrelDetections, LabelsInFixedOrderAndNothingForACleanFrame) {
  CAnalizaDetektor engine(kSize, kSize);
  engine.ClassifyBlocks();
  char line[ostrel::kFindingsLineSize] = "untouched";
  EXPECT_EQ(ostrel::FormatFindingsLine(engine, 0, line), 0);
  EXPECT_STREQ(line, "untouched");
  Image image;
  ostrel::DrawMarkers(engine, image.data.data(), kStride);
  EXPECT_EQ(image.Changed(), 0);

  Give(engine, 47, CAnalizaDetektor::kBlood2);
  Give(engine, 0, CAnalizaDetektor::kUlcer2);
  Give(engine, 20, CAnalizaDetektor::kUlcer1);
  Give(engine, 5, CAnalizaDetektor::kBlood1);
  engine.ClassifyBlocks();
  EXPECT_EQ(Line(engine, 0), "0\t0\t Blood1 Ulcer1 Ulcer2 Blood2\r\n");
  EXPECT_EQ(Line(engine, -2147483647 - 1), "-2147483648\t0\t Blood1 Ulcer1 Ulcer2 Blood2\r\n");
}
