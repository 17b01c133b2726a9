#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames.h"
#include "quorlin/model/emf.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

struct EmfRecord {
  std::uint32_t type;
  std::vector<std::uint8_t> body;  // after type and size
  std::int32_t Word(std::size_t i) const {
    return static_cast<std::int32_t>(body[4 * i] | body[4 * i + 1] << 8 | body[4 * i + 2] << 16 |
                                     static_cast<std::uint32_t>(body[4 * i + 3]) << 24);
  }
  std::int16_t Half(std::size_t i) const { return static_cast<std::int16_t>(body[2 * i] | body[2 * i + 1] << 8); }
};

// Walks the records by their sizes; fails the test on any broken framing.
std::vector<EmfRecord> Records(const std::vector<std::uint8_t>& bytes) {
  std::vector<EmfRecord> records;
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t type = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
    const std::uint32_t size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24;
    EXPECT_EQ(size % 4, 0u);
    EXPECT_GE(size, 8u);
    if (size < 8 || at + size > bytes.size()) {
      ADD_FAILURE() << "record overruns the file at " << at;
      break;
    }
    records.push_back({type, {bytes.begin() + at + 8, bytes.begin() + at + size}});
    at += size;
  }
  EXPECT_EQ(at, bytes.size());
  return records;
}

GRID_RINGS Model(const test::Frame& frame) {
  GRID_RINGS model;
  const GRID_GEOMETRY g = DefaultGeometry();
  const double centre[2] = {g.Xo, g.Yo};
  model.Create(centre, g.Rings, g.Perimeter, g.Rmin, g.Ratio);
  const auto phases = DefaultPhases();
  for (std::uint32_t i = 0; i < 4; ++i) model.SetPhase(i, phases[i]);
  model.CaptureTemplates(frame.View());
  model.Prepare();
  return model;
}

void ExpectHeader(const std::vector<std::uint8_t>& bytes, const std::vector<EmfRecord>& records, std::int32_t l,
                  std::int32_t t, std::int32_t r, std::int32_t b) {
  ASSERT_GE(records.size(), 2u);
  const EmfRecord& header = records.front();
  ASSERT_EQ(header.type, 1u);
  EXPECT_EQ(header.Word(0), l);
  EXPECT_EQ(header.Word(1), t);
  EXPECT_EQ(header.Word(2), r);
  EXPECT_EQ(header.Word(3), b);
  EXPECT_LT(header.Word(4), header.Word(6));  // frame in .01 mm
  EXPECT_EQ(static_cast<std::uint32_t>(header.Word(8)), 0x464D4520u);
  EXPECT_EQ(static_cast<std::uint32_t>(header.Word(10)), bytes.size());
  EXPECT_EQ(static_cast<std::size_t>(header.Word(11)), records.size());
  EXPECT_EQ(records.back().type, 14u);
}

TEST(Metafiles, LinesDrawEverySegmentOfTheGrid) {
  const test::Frame frame = test::Textured(256, 256);
  GRID_RINGS model = Model(frame);
  model.Fit(test::Textured(256, 256, 1, 2).View());
  const std::vector<std::uint8_t> bytes = GridLines(model).Finish();
  const auto records = Records(bytes);
  std::vector<std::int32_t> ends;
  model.Draw([&](int x1, int y1, int x2, int y2, int) { ends.insert(ends.end(), {x1, y1, x2, y2}); }, {});
  ASSERT_EQ(records.size(), 2 + ends.size() / 2);
  std::int32_t l = ends[0], t = ends[1], r = ends[0], b = ends[1];
  for (std::size_t i = 0; i < ends.size(); i += 2) {
    l = std::min(l, ends[i]);
    r = std::max(r, ends[i]);
    t = std::min(t, ends[i + 1]);
    b = std::max(b, ends[i + 1]);
    const EmfRecord& rec = records[1 + i / 2];
    EXPECT_EQ(rec.type, (i / 2) % 2 == 0 ? 27u : 54u);  // move, line
    EXPECT_EQ(rec.Word(0), ends[i]);
    EXPECT_EQ(rec.Word(1), ends[i + 1]);
  }
  ExpectHeader(bytes, records, l, t, r, b);
}

TEST(Metafiles, CellsAreBlueOutlinedQuadsInTheTemplateColour) {
  const test::Frame frame(256, 256, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(x);
    p[1] = static_cast<std::uint8_t>(y);
    p[2] = 200;
  });
  const GRID_RINGS model = Model(frame);
  const std::vector<std::uint8_t> bytes = GridCells(model).Finish();
  const auto records = Records(bytes);
  const std::size_t cells = 127 * 7;
  ASSERT_EQ(records.size(), 2 + 2 + 5 * cells + 2);
  EXPECT_EQ(records[1].type, 38u);  // pen: solid, 3 wide, pure blue
  EXPECT_EQ(records[1].Word(1), 0);
  EXPECT_EQ(records[1].Word(2), 3);
  EXPECT_EQ(records[1].Word(4), 0x00FF0000);
  EXPECT_EQ(records[2].type, 37u);
  // Cell (j = 1, k = 2) is the 1 * 7 + 2 = 9th.
  const std::size_t first = 3 + 5 * 9;
  const EmfRecord& brush = records[first];
  ASSERT_EQ(brush.type, 39u);
  const std::uint8_t* centre = model.Node(1, 2).templ + 12;
  EXPECT_EQ(brush.Word(2), centre[2] | centre[1] << 8 | centre[0] << 16);
  const EmfRecord& quad = records[first + 2];
  ASSERT_EQ(quad.type, 86u);
  EXPECT_EQ(quad.Word(4), 4);
  const std::pair<std::uint32_t, std::uint32_t> corners[4] = {{1, 2}, {2, 2}, {2, 3}, {1, 3}};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(quad.Half(10 + 2 * c), static_cast<int>(model.Node(corners[c].first, corners[c].second).x0));
    EXPECT_EQ(quad.Half(11 + 2 * c), static_cast<int>(model.Node(corners[c].first, corners[c].second).y0));
  }
  EXPECT_EQ(records[first + 4].type, 40u);
  EXPECT_EQ(records[first + 4].Word(0), brush.Word(0));
  // Bounds widened by half the pen around the drawn cells.
  std::int32_t l = 1 << 30, t = 1 << 30, r = -l, b = -t;
  for (std::uint32_t j = 0; j < 128; ++j)
    for (std::uint32_t k = 0; k < 8; ++k) {
      l = std::min(l, static_cast<std::int32_t>(model.Node(j, k).x0));
      r = std::max(r, static_cast<std::int32_t>(model.Node(j, k).x0));
      t = std::min(t, static_cast<std::int32_t>(model.Node(j, k).y0));
      b = std::max(b, static_cast<std::int32_t>(model.Node(j, k).y0));
    }
  ExpectHeader(bytes, records, l - 1, t - 1, r + 1, b + 1);
  EXPECT_EQ(bytes[56] | bytes[57] << 8, 3);  // handle table: reserved, pen, brush
}

std::string FindLibreOffice() {
  for (const char* name : {"libreoffice", "soffice"}) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return name;
  }
  return {};
}

TEST(Metafiles, WrittenIntoTheCurrentFolderAndReadableByLibreOffice) {
  const fs::path dir = fs::temp_directory_path() / ("vireo_emf_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  const GRID_RINGS model = Model(test::Textured(256, 256));
  const bool written = WriteGridMetafiles(model, 0xABC123);
  fs::current_path(before);
  EXPECT_TRUE(written);
  EXPECT_TRUE(fs::exists(dir / "metaA_abc123.emf"));
  ASSERT_TRUE(fs::exists(dir / "metaB_abc123.emf"));

  const std::string office = FindLibreOffice();
  if (office.empty()) {
    fs::remove_all(dir);
    GTEST_SKIP() << "LibreOffice is not installed: the metafiles were not converted to PNG";
  }
  for (const char* name : {"metaA_abc123", "metaB_abc123"}) {
    const std::string command = office + " --headless --convert-to png --outdir " + dir.string() + " " +
                                (dir / (std::string(name) + ".emf")).string() + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const fs::path png = dir / (std::string(name) + ".png");
    ASSERT_TRUE(fs::exists(png)) << name;
    EXPECT_GT(fs::file_size(png), 100u);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorlin
