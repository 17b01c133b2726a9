// The map reader against hostile files and the strip and rate table of
// Automatic Rate Control.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "clips.h"
#include "map_file.h"
#include "test_map_support.h"
#include "rate_table.h"

namespace {

using ptest::MapRow;
using vireo::MapFile;

constexpr int kVelocity = 134, kRoll = 136, kCombination = 138;

vireo::MapState Load(const std::string& bytes, const std::string& name = "map.bmp") {
  MapFile file = vireo::ReadMapFile(ptest::WriteFile(name, bytes));
  EXPECT_EQ(file.status, MapFile::Status::kOk);
  vireo::MapState map;
  map.Assign(std::move(file.header), std::move(file.pixels), file.width, file.rows, file.stride, file.bitCount, true);
  return map;
}

std::vector<float> Table(const std::vector<MapRow>& rows, int control) {
  return vireo::BuildRateTable(Load(ptest::MapBytes(rows)), control).table;
}

// ---- reading ---------------------------------------------------------------

TEST(MapFileTest, ReadsACompletedMap) {
  const auto rows = ptest::Rows(5, 0, 2, {0, 0.5f, 1.5f, 10.0f, 3.0f, 0.25f});
  const vireo::MapState map = Load(ptest::MapBytes(rows, 16));
  EXPECT_TRUE(map.Loaded());
  EXPECT_EQ(map.Rows(), 5);
  EXPECT_EQ(map.Width(), 16);
  EXPECT_EQ(map.Stride(), 72);
  const vireo::MapRecord record = map.Record(3);
  EXPECT_EQ(record.frame, 6);
  EXPECT_FLOAT_EQ(record.velocity, 0.5f);
  EXPECT_FLOAT_EQ(record.drift, 1.5f);
  EXPECT_FLOAT_EQ(record.roll, 10.0f);
  EXPECT_FLOAT_EQ(record.imageDifference, 3.0f);
  EXPECT_FLOAT_EQ(record.deformation, 0.25f);
  EXPECT_EQ(map.Row(2)[0], 2);          // blue = row
  EXPECT_EQ(map.Row(2)[3 * 5 + 1], 5);  // green = x
  EXPECT_EQ(map.Row(5), nullptr);
}

TEST(MapFileTest, RowForFrameIsTheFirstRowAtOrAfterTheFrameElseTheLast) {
  const vireo::MapState map = Load(ptest::MapBytes({{0}, {3}, {3}, {7}}));
  EXPECT_EQ(map.RowForFrame(0), 0);
  EXPECT_EQ(map.RowForFrame(1), 1);
  EXPECT_EQ(map.RowForFrame(3), 1);
  EXPECT_EQ(map.RowForFrame(7), 3);
  EXPECT_EQ(map.RowForFrame(100), 3);
  vireo::MapState empty;
  EXPECT_EQ(empty.RowForFrame(0), -1);
}

TEST(MapFileTest, RefusesWhatIsNotAUsableBitmap) {
  const std::string good = ptest::MapBytes(ptest::Rows(4, 0, 1));
  auto status = [](const std::string& bytes) {
    return vireo::ReadMapFile(ptest::WriteFile("refused.bmp", bytes)).status;
  };
  auto patched = [&](std::size_t at, std::uint32_t value) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  EXPECT_EQ(vireo::ReadMapFile(ptest::ScratchDir() + "/missing.bmp").status, MapFile::Status::kCannotOpen);
  EXPECT_EQ(status(""), MapFile::Status::kBadHeader);
  EXPECT_EQ(status("This is a text file, not a map.\n"), MapFile::Status::kBadHeader);
  EXPECT_EQ(status(good.substr(0, 40)), MapFile::Status::kBadHeader);
  EXPECT_EQ(status(patched(10, 20)), MapFile::Status::kBadHeader);          // header block too small
  EXPECT_EQ(status(patched(10, 1u << 30)), MapFile::Status::kBadHeader);    // header beyond the file
  EXPECT_EQ(status(patched(14, 4000)), MapFile::Status::kBadHeader);        // info header beyond its block
  EXPECT_EQ(status(patched(18, 8)), MapFile::Status::kBadHeader);           // no room for the record
  EXPECT_EQ(status(patched(18, 0x7FFFFFFF)), MapFile::Status::kBadHeader);  // absurd width
  EXPECT_EQ(status(patched(22, 0xFFFFFFFF)), MapFile::Status::kBadHeader);  // negative height
  EXPECT_EQ(status(patched(22, 5)), MapFile::Status::kBadHeader);           // more rows than the image size
  EXPECT_EQ(status(patched(34, 1u << 31)), MapFile::Status::kBadHeader);    // image beyond the file
  EXPECT_EQ(status(patched(30, 1)), MapFile::Status::kBadHeader);           // compressed
  EXPECT_EQ(status(patched(28, 12)), MapFile::Status::kBadHeader);          // no such depth
  // Every truncation of a completed map is refused.
  for (std::size_t length = 0; length < good.size(); length += 7)
    EXPECT_EQ(status(good.substr(0, length)), MapFile::Status::kBadHeader) << length;
}

TEST(MapFileTest, FuzzedHeadersAreRefusedOrReadWithinTheFile) {
  const std::string good = ptest::MapBytes(ptest::Rows(6, 0, 1), 10);
  std::mt19937 random(7);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = good;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) bytes[random() % 54] = static_cast<char>(random());
    const MapFile file = vireo::ReadMapFile(ptest::WriteFile("fuzz.bmp", bytes));
    if (file.status != MapFile::Status::kOk) continue;
    ++accepted;
    ASSERT_GT(file.width, 0);
    ASSERT_GE(file.rows, 0);
    ASSERT_EQ(file.pixels.size(), static_cast<std::size_t>(file.rows) * file.stride);
    ASSERT_LE(file.header.size() + 14 + file.pixels.size(), bytes.size());
    ASSERT_GE(static_cast<std::int64_t>(file.stride) * 8, static_cast<std::int64_t>(file.width) * file.bitCount);
  }
  EXPECT_GT(accepted, 0);  // bytes that do not matter leave the map readable
}

TEST(MapFileTest, UnfinishedMapGivesTheWholeRowsPresent) {
  const auto rows = ptest::Rows(7, 1, 1, {0, 0.1f});
  const MapFile file = vireo::ReadMapFile(ptest::WriteFile("unfinished.bmp", ptest::UnfinishedMapBytes(rows, 12, 30)));
  ASSERT_EQ(file.status, MapFile::Status::kOk);
  EXPECT_TRUE(file.unfinished);
  EXPECT_EQ(file.rows, 7);
  EXPECT_EQ(file.width, 20);
  // Header only: an unfinished map without rows.
  const MapFile empty = vireo::ReadMapFile(ptest::WriteFile("unfinished0.bmp", ptest::UnfinishedMapBytes({}, 12, 5)));
  ASSERT_EQ(empty.status, MapFile::Status::kOk);
  EXPECT_EQ(empty.rows, 0);
  // A completed map is not taken for an unfinished one.
  EXPECT_FALSE(vireo::ReadMapFile(ptest::WriteFile("done.bmp", ptest::MapBytes(rows, 12))).unfinished);
}

TEST(MapFileTest, OtherDepthsAreReadAsPictures) {
  // 8 bits: 4 x 2 pixels with a 256-entry palette; the image size left 0.
  std::string bytes(54 + 1024 + 8, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  bytes[10] = static_cast<char>((54 + 1024) & 0xFF);
  bytes[11] = static_cast<char>((54 + 1024) >> 8);
  bytes[14] = 40;
  bytes[18] = 4;
  bytes[22] = 2;
  bytes[26] = 1;
  bytes[28] = 8;
  const MapFile file = vireo::ReadMapFile(ptest::WriteFile("eight.bmp", bytes));
  ASSERT_EQ(file.status, MapFile::Status::kOk);
  EXPECT_EQ(file.bitCount, 8);
  EXPECT_EQ(file.rows, 2);
  EXPECT_EQ(file.stride, 4);
  // The same with a palette that does not fit its block.
  std::string tooMany = bytes;
  tooMany[10] = 60;
  tooMany[11] = 0;
  EXPECT_EQ(vireo::ReadMapFile(ptest::WriteFile("eight-bad.bmp", tooMany)).status, MapFile::Status::kBadHeader);
}

// ---- strip --------------------------------------------------------------------

TEST(RateTableTest, RollJumpAcrossTheWrapDrawsAShortBarAndSaturatesRoll) {
  std::vector<MapRow> rows;
  for (int i = 0; i < 12; ++i) rows.push_back({i, 0, 0, i % 2 == 0 ? 179.0f : -179.0f, 0, 0});
  const vireo::RateTables tables = vireo::BuildRateTable(Load(ptest::MapBytes(rows)), kRoll);
  auto red = [&](int row, int p) { return (vireo::StripPixel(tables, row, p) & 4) != 0; };
  // Row 1: 179 -> -179 is +2 degrees: 11 red pixels right of the middle.
  for (int p = 128; p < 256; ++p) EXPECT_EQ(red(1, p), p >= 192 && p < 203) << p;
  // Row 2: -179 -> 179 is -2 degrees: the bar grows left from the middle.
  for (int p = 128; p < 256; ++p) EXPECT_EQ(red(2, p), p >= 182 && p < 192) << p;
  // Row 0: 179 from 0 fills the whole right quarter.
  EXPECT_TRUE(red(0, 255));
  // "Roll" takes the unwrapped change of 358 degrees: the clamp gives 1 / 5.
  for (int k = 0; k < 11; ++k) EXPECT_FLOAT_EQ(tables.table[k], 0.2f) << k;
  EXPECT_FLOAT_EQ(tables.table[11], 1.0f);
}

TEST(RateTableTest, StripBarsOfTheLeftHalf) {
  // deformation 0.01 -> D = 5; image difference 20 -> I = 10; drift 3.
  const vireo::RateTables tables =
      vireo::BuildRateTable(Load(ptest::MapBytes({{0, 0, 3.0f, 0, 20.0f, 0.01f}})), kCombination);
  for (int p = 0; p < 128; ++p) {
    const int index = vireo::StripPixel(tables, 0, p);
    EXPECT_EQ((index & 4) != 0, p < 5) << p;
    EXPECT_EQ((index & 2) != 0, p > 117) << p;
    EXPECT_EQ((index & 1) != 0, p > 124) << p;
  }
}

// ---- rate table ------------------------------------------------------------------

TEST(RateTableTest, FramesWithoutRowsTakeTheNextRowsValue) {
  // Even frames only, against every frame with the odd ones copied from the next even one.
  std::vector<MapRow> even, every;
  for (int k = 0; k <= 20; ++k) {
    const MapRow row{k, 0.05f + 0.03f * static_cast<float>(k % 5), 0, 0, 0, 0};
    if (k % 2 == 0) even.push_back(row);
  }
  for (int k = 0; k <= 20; ++k) {
    MapRow row = even[static_cast<std::size_t>((k + 1) / 2)];
    row.frame = k;
    // The last frame's value is 1.0 before filling: velocity 0.2 x 5.
    if (k == 19) row.velocity = 0.2f;
    every.push_back(row);
  }
  const std::vector<float> a = Table(even, kVelocity);
  const std::vector<float> b = Table(every, kVelocity);
  ASSERT_EQ(a.size(), 21u);
  EXPECT_EQ(a, b);
  // And the values themselves are not all alike.
  EXPECT_NE(a[3], a[5]);
}

TEST(RateTableTest, ConstantMeasureGivesItsInverse) {
  // velocity 0.1 x 5 = 0.5 everywhere: smoothing keeps 0.5, the factor is 2.
  const std::vector<float> table = Table(ptest::Rows(30, 0, 1, {0, 0.1f}), kVelocity);
  ASSERT_EQ(table.size(), 30u);
  for (int k = 0; k < 26; ++k) EXPECT_FLOAT_EQ(table[k], 2.0f) << k;
  // Frame 27 is smoothed with the 1.0 of the last frame: 1 / 0.5625; frame 26
  // may not play faster than frame 27.
  EXPECT_FLOAT_EQ(table[26], 1.0f / 0.5625f);
  EXPECT_FLOAT_EQ(table[27], 1.0f / 0.5625f);
  EXPECT_FLOAT_EQ(table[28], 1.0f);  // never faster than the last frame allows
  EXPECT_FLOAT_EQ(table[29], 1.0f);
}

TEST(RateTableTest, ZeroMeasuresCountAsMissingTinyOnesSaturate) {
  for (int control : {134, 135, 136, 137, 138, 139}) {
    const std::vector<float> zero = Table(ptest::Rows(25, 0, 1), control);
    for (float v : zero) EXPECT_FLOAT_EQ(v, 1.0f) << control;
    const std::vector<float> tiny = Table(ptest::Rows(25, 0, 1, {0, 1e-6f, 1e-6f, 0, 1e-6f, 1e-6f}), control);
    ASSERT_EQ(tiny.size(), 25u);
    EXPECT_FLOAT_EQ(tiny[24], 1.0f) << control;
    EXPECT_LE(tiny[23], 1.0f) << control;
    if (control == kRoll) continue;  // no roll change at all: missing everywhere
    for (int k = 0; k < 21; ++k) EXPECT_FLOAT_EQ(tiny[k], 20.0f) << control << " " << k;
  }
}

TEST(RateTableTest, OffGivesOneEverywhereAndTheTableStopsAtTheLimit) {
  for (float v : Table(ptest::Rows(10, 0, 3, {0, 4.0f}), 133)) EXPECT_FLOAT_EQ(v, 1.0f);
  const std::vector<float> table = Table({{0, 0.2f}, {50, 0.2f}, {200000, 0.2f}}, kVelocity);
  EXPECT_EQ(table.size(), 100001u);
  EXPECT_FLOAT_EQ(table.back(), 1.0f);
}

TEST(RateTableTest, NonNumbersInTheRecordsDoNotReachTheRate) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> table = Table({{0, nan, inf, nan, inf, nan}, {5, 0.1f}, {9, inf}}, kCombination);
  for (float v : table) {
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 0.2f);
    EXPECT_LE(v, 20.0f);
  }
}

}  // namespace
