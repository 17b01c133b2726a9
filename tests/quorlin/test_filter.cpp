// The filter object outside any graph: accepted types, initialisation and
// the map file, the control interface and the drawing of a resting grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "harness.h"
#include "quorlin/model/params.h"

using namespace fh;
using qtest::DirectFilter;

namespace {

constexpr int kSize = 256;

const std::vector<std::vector<std::uint8_t>>& Capsule24() {
  static const auto frames = qtest::CapsuleFrames(160, kSize, 24);
  return frames;
}

void PushAll(DirectFilter& f, std::size_t from, std::size_t to) {
  for (std::size_t n = from; n < to; ++n) {
    auto frame = Capsule24()[n];
    ASSERT_EQ(f.Push(frame), S_OK) << n;
  }
}

// The header describes exactly the rows the file holds.
void ExpectComplete(const qtest::MapFile& m, std::uint32_t perimeter = 128) {
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.width, 2 * perimeter + 8);
  EXPECT_EQ(m.rowBytes * m.height, m.sizeImage);
  EXPECT_EQ(m.bfSize, m.bytes.size());
  EXPECT_EQ(54 + m.sizeImage, m.bytes.size());
}

}  // namespace

TEST(QuorlinFilter, AcceptsOnly24And32BitRgbVideo) {
  DirectFilter f(16, 16, 24);
  auto check = [&](const CMediaType& mt) { return f->CheckInputType(&mt); };
  EXPECT_EQ(check(qtest::VideoType(16, 16, MEDIASUBTYPE_RGB24, 24)), S_OK);
  EXPECT_EQ(check(qtest::VideoType(16, -16, MEDIASUBTYPE_RGB24, 24)), S_OK);
  EXPECT_EQ(check(qtest::VideoType(17, 5, MEDIASUBTYPE_RGB32, 32)), S_OK);
  EXPECT_EQ(check(qtest::VideoType(16, 16, MEDIASUBTYPE_RGB24, 32)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(qtest::VideoType(16, 16, MEDIASUBTYPE_RGB32, 24)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(qtest::VideoType(16, 16, MEDIASUBTYPE_RGB565, 16)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(qtest::VideoType(16, 16, MEDIASUBTYPE_MJPG, 24)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(qtest::VideoType(0, 16, MEDIASUBTYPE_RGB24, 24)), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType info2 = qtest::VideoType(16, 16, MEDIASUBTYPE_RGB24, 24);
  info2.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(check(info2), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType audio = qtest::VideoType(16, 16, MEDIASUBTYPE_RGB24, 24);
  const GUID audioType = FourCCSubtype(MakeFourCC('a', 'u', 'd', 's'));
  audio.SetType(&audioType);
  EXPECT_EQ(check(audio), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f->CheckInputType(nullptr), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(QuorlinFilter, RefusedTypeOrShortSampleFailsTheSample) {
  qtest::ScopedTempDir dir("refused");
  DirectFilter f(kSize, kSize, 24);
  ASSERT_EQ(f->SetFileName("map.bmp"), S_OK);
  auto frame = Capsule24()[0];
  ASSERT_EQ(f.Push(frame), S_OK);
  std::vector<std::uint8_t> shortFrame(frame.begin(), frame.end() - 1);
  EXPECT_EQ(f.Push(shortFrame), E_FAIL);
  EXPECT_EQ(f.Reconnect(qtest::VideoType(kSize, kSize, MEDIASUBTYPE_RGB565, 16)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f.Push(frame), E_FAIL);
}

TEST(QuorlinFilter, GetDataReportsAndWritesMetafilesOnlyOnceAModelExists) {
  qtest::ScopedTempDir dir("getdata");
  DirectFilter f(kSize, kSize, 24);
  ASSERT_EQ(f->SetFileName("map.bmp"), S_OK);
  char buffer[2048];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(f->GetData(buffer), S_OK);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(dir.Files().empty());

  PushAll(f, 0, 3);
  ASSERT_EQ(f->GetData(buffer), S_OK);
  EXPECT_EQ(std::string(buffer).rfind("MODEL OF DEFORMABLE RINGS:\r\nDeformation = ", 0), 0u) << buffer;
  EXPECT_NE(std::string(buffer).find("\r\nTime = 0\r\nPhase = 0\r\nPhaseTime = 0"), std::string::npos) << buffer;
  std::set<std::string> kinds;
  for (const std::string& name : dir.Files())
    if (name.rfind("meta", 0) == 0) kinds.insert(name.substr(0, 6) + name.substr(name.size() - 4));
  EXPECT_EQ(kinds, (std::set<std::string>{"metaA_.emf", "metaB_.emf"}));
}

TEST(QuorlinFilter, FileNameSetWhileStreamingIsUsedAtTheNextInitialisation) {
  qtest::ScopedTempDir dir("filename");
  DirectFilter f(kSize, kSize, 24);
  ASSERT_EQ(f->SetFileName("a.bmp"), S_OK);
  PushAll(f, 0, 60);
  ASSERT_EQ(f->SetFileName("b.bmp"), S_OK);
  PushAll(f, 60, 120);
  // Neither map is in place while a's is being written.
  EXPECT_FALSE(std::filesystem::exists("b.bmp"));
  EXPECT_FALSE(std::filesystem::exists("a.bmp"));

  GRID_PHASE phases[4];
  GRID_GEOMETRY geometry;
  ASSERT_EQ(f->GetParams(phases, &geometry), S_OK);
  ASSERT_EQ(f->SetParams(phases, &geometry, "same"), S_OK);
  PushAll(f, 120, 121);
  const qtest::MapFile a = qtest::ReadMap("a.bmp");
  ExpectComplete(a);
  EXPECT_GT(a.height, 0u);
  EXPECT_FALSE(std::filesystem::exists("b.bmp"));
}

TEST(QuorlinFilter, MapIsCompletedAtEndOfStreamAndStopAndKeepsGrowingAfterwards) {
  qtest::ScopedTempDir dir("complete");
  std::uint32_t previousRows = 0;
  std::vector<std::uint8_t> previousRowBytes;
  {
    DirectFilter f(kSize, kSize, 24);
    ASSERT_EQ(f->SetFileName("map.bmp"), S_OK);
    const std::size_t steps[] = {50, 100, 130, 160};
    std::size_t from = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      PushAll(f, from, steps[i]);
      from = steps[i];
      if (i == 3) break;  // the last part is completed by destruction
      ASSERT_EQ(i == 1 ? f->StopStreaming() : f->EndOfStream(), S_OK);
      const qtest::MapFile m = qtest::ReadMap("map.bmp");
      ExpectComplete(m);
      EXPECT_GT(m.height, previousRows) << "rows after part " << i;
      // Earlier rows are kept as they were.
      ASSERT_GE(m.bytes.size(), previousRowBytes.size() + 54);
      EXPECT_TRUE(std::equal(previousRowBytes.begin(), previousRowBytes.end(), m.bytes.begin() + 54));
      previousRows = m.height;
      previousRowBytes.assign(m.bytes.begin() + 54, m.bytes.end());
    }
  }
  const qtest::MapFile m = qtest::ReadMap("map.bmp");
  ExpectComplete(m);
  EXPECT_GT(m.height, previousRows);
  for (std::uint32_t r = 1; r < m.height; ++r) EXPECT_LE(m.FrameNumber(r - 1, 128), m.FrameNumber(r, 128));
  EXPECT_LE(m.FrameNumber(m.height - 1, 128), 160);
}

TEST(QuorlinFilter, TwoInstancesWriteIndependentIdenticalMaps) {
  qtest::ScopedTempDir dir("two");
  {
    DirectFilter one(kSize, kSize, 24), two(kSize, kSize, 24);
    ASSERT_EQ(one->SetFileName("one.bmp"), S_OK);
    ASSERT_EQ(two->SetFileName("two.bmp"), S_OK);
    // Interleaved, and the second starts later: shared state would show.
    for (std::size_t n = 0; n < 120; ++n) {
      auto a = Capsule24()[n];
      ASSERT_EQ(one.Push(a), S_OK);
      if (n >= 10) {
        auto b = Capsule24()[n - 10];
        ASSERT_EQ(two.Push(b), S_OK);
      }
    }
    for (std::size_t n = 110; n < 120; ++n) {
      auto b = Capsule24()[n];
      ASSERT_EQ(two.Push(b), S_OK);
    }
  }
  const qtest::MapFile one = qtest::ReadMap("one.bmp"), two = qtest::ReadMap("two.bmp");
  ExpectComplete(one);
  EXPECT_GT(one.height, 0u);
  EXPECT_EQ(one.bytes, two.bytes);
}

TEST(QuorlinFilter, ParametersOutOfRangeAreRefusedAndNothingChanges) {
  DirectFilter f(16, 16, 24);
  GRID_PHASE phases[4];
  GRID_GEOMETRY geometry;
  ASSERT_EQ(f->GetParams(phases, &geometry), S_OK);
  const GRID_GEOMETRY defaults = quorlin::DefaultGeometry();
  EXPECT_EQ(std::memcmp(&geometry, &defaults, sizeof geometry), 0);
  const auto defaultPhases = quorlin::DefaultPhases();
  EXPECT_EQ(std::memcmp(phases, defaultPhases.data(), sizeof phases), 0);

  auto badGeometry = [&](auto change) {
    GRID_GEOMETRY g = defaults;
    change(g);
    return f->SetParams(phases, &g, "text");
  };
  EXPECT_EQ(badGeometry([](GRID_GEOMETRY& g) { g.Rings = 1; }), E_INVALIDARG);
  EXPECT_EQ(badGeometry([](GRID_GEOMETRY& g) { g.Perimeter = 3; }), E_INVALIDARG);
  EXPECT_EQ(badGeometry([](GRID_GEOMETRY& g) { g.Ratio = 0; }), E_INVALIDARG);
  EXPECT_EQ(badGeometry([](GRID_GEOMETRY& g) { g.Xo = std::nan(""); }), E_INVALIDARG);
  EXPECT_EQ(badGeometry([](GRID_GEOMETRY& g) { g.Rings = g.Perimeter = 100000; }), E_INVALIDARG);
  GRID_PHASE bad[4];
  std::copy(phases, phases + 4, bad);
  bad[2].MaxIterations = -1;
  EXPECT_EQ(f->SetParams(bad, &geometry, "text"), E_INVALIDARG);
  EXPECT_EQ(f->SetPhaseParams(bad), E_INVALIDARG);
  std::copy(phases, phases + 4, bad);
  bad[0].Vicinity = 0.5;
  EXPECT_EQ(f->SetPhaseParams(bad), E_INVALIDARG);
  EXPECT_EQ(f->SetParams(nullptr, &geometry, "text"), E_POINTER);
  EXPECT_EQ(f->SetFileName(nullptr), E_POINTER);
  EXPECT_EQ(f->GetData(nullptr), E_POINTER);

  GRID_PHASE after[4];
  GRID_GEOMETRY afterGeometry;
  ASSERT_EQ(f->GetParams(after, &afterGeometry), S_OK);
  EXPECT_EQ(std::memcmp(&afterGeometry, &defaults, sizeof geometry), 0);
  EXPECT_EQ(std::memcmp(after, defaultPhases.data(), sizeof after), 0);

  // In range: stored as given; SetPhaseParams leaves the geometry alone.
  bad[0].Vicinity = 3;
  ASSERT_EQ(f->SetPhaseParams(bad), S_OK);
  ASSERT_EQ(f->GetParams(after, &afterGeometry), S_OK);
  EXPECT_EQ(after[0].Vicinity, 3);
  EXPECT_EQ(std::memcmp(&afterGeometry, &defaults, sizeof geometry), 0);
}

TEST(QuorlinFilter, LookAndPagesThroughTheInterfaces) {
  DirectFilter f(16, 16, 24);
  ComPtr<IQuorlinInterface> control;
  ASSERT_EQ(f->NonDelegatingQueryInterface(IID_IQuorlinInterface, control.put_void()), S_OK);
  GRID_LOOK look{};
  ASSERT_EQ(control->GetLook(&look), S_OK);
  EXPECT_EQ(look.Mode, 3);
  EXPECT_EQ(look.Color1, 0x00FF0000u);  // pure blue
  EXPECT_EQ(look.Color2, 0x007F0000u);  // dark blue
  const GRID_LOOK set{1, 0x123456, 0x654321};
  ASSERT_EQ(control->SetLook(&set), S_OK);
  ASSERT_EQ(control->GetLook(&look), S_OK);
  EXPECT_EQ(std::memcmp(&look, &set, sizeof look), 0);
  EXPECT_EQ(control->Reserved(), S_OK);

  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(f->NonDelegatingQueryInterface(IID_ISpecifyPropertyPages, pages.put_void()), S_OK);
  CAUUID ids;
  ASSERT_EQ(pages->GetPages(&ids), S_OK);
  ASSERT_EQ(ids.cElems, 1u);
  EXPECT_EQ(ids.pElems[0], CLSID_QuorlinProperties);
  CoTaskMemFree(ids.pElems);
}

namespace {

// Pixels of a 24-bit frame that differ from the uniform grey it started as.
std::set<std::pair<int, int>> Drawn(const std::vector<std::uint8_t>& frame, int w, int h) {
  const int stride = DibStride(w, 24);
  std::set<std::pair<int, int>> p;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (frame[y * stride + 3 * x] != 90) p.insert({x, y});
  return p;
}

}  // namespace

// The same model fitted beside the filter tells where the nodes are; a
// frame narrower than the grid cuts the outer rings.
TEST(QuorlinFilter, LookModesClipPointsAndCrossesAndDropLinesLeavingTheFrame) {
  qtest::ScopedTempDir dir("looks");
  constexpr int kW = 200, kH = 190;
  const std::vector<std::uint8_t> grey(static_cast<std::size_t>(DibStride(kW, 24)) * kH, 90);
  const quorlin::FrameView view{grey.data(), kW, kH, DibStride(kW, 24), 3};
  quorlin::GRID_RINGS model;
  const GRID_GEOMETRY g = quorlin::DefaultGeometry();
  const double centre[2] = {g.Xo, g.Yo};
  ASSERT_TRUE(model.Create(centre, g.Rings, g.Perimeter, g.Rmin, g.Ratio));
  const auto phases = quorlin::DefaultPhases();
  for (std::uint32_t i = 0; i < 4; ++i) model.SetPhase(i, phases[i]);
  model.CaptureTemplates(view);
  model.Prepare();
  model.Fit(view);
  quorlin::MapWriter noFile;
  model.UpdateMap(noFile, view);

  std::set<std::pair<int, int>> points, crosses;
  int outside = 0;
  for (std::uint32_t j = 0; j < model.Perimeter(); ++j)
    for (std::uint32_t k = 0; k < model.Rings(); ++k) {
      const int x = static_cast<int>(model.Node(j, k).x[model.Cur()]);
      const int y = static_cast<int>(model.Node(j, k).y[model.Cur()]);
      const bool in = x >= 0 && x < kW && y >= 0 && y < kH;
      outside += !in;
      if (in) {
        points.insert({x, y});
      }
      for (auto [cx, cy] : {std::pair{x, y}, {x - 1, y}, {x, y - 1}, {x + 1, y}, {x, y + 1}})
        if (cx >= 0 && cx < kW && cy >= 0 && cy < kH) crosses.insert({cx, cy});
    }
  ASSERT_GT(outside, 0);
  // Lines: the model's segments through the painter (its rules are tested
  // above), so segments with an end outside leave no pixel.
  std::vector<std::uint8_t> expectedLines = grey;
  quorlin::FramePainter painter(expectedLines.data(), {kW, kH, DibStride(kW, 24), 24},
                                GRID_LOOK{3, 0xFF0000, 0x7F0000});
  int segmentsLeaving = 0;
  model.Draw(
      [&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t c) {
        segmentsLeaving += painter.Inside(x1, y1) != painter.Inside(x2, y2);
        painter.Line(x1, y1, x2, y2, c);
      },
      quorlin::DrawPointFn{});
  ASSERT_GT(segmentsLeaving, 0);
  const auto lines = Drawn(expectedLines, kW, kH);

  for (int mode : {1, 2, 3}) {
    DirectFilter f(kW, kH, 24);
    ASSERT_EQ(f->SetFileName("map.bmp"), S_OK);
    GRID_LOOK look{};
    f->GetLook(&look);
    look.Mode = mode;
    ASSERT_EQ(f->SetLook(&look), S_OK);
    std::vector<std::uint8_t> frame = grey;
    ASSERT_EQ(f.Push(frame), S_OK);
    const auto drawn = Drawn(frame, kW, kH);
    const auto& expected = mode == 1 ? points : mode == 2 ? crosses : lines;
    EXPECT_EQ(drawn, expected) << "look " << mode;
  }
}
