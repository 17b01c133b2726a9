// vireo-preprocess end to end on synthetic clips, and its helpers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>
#include <map>

#include "gst_pipeline.h"
#include "preprocess.h"
#include "cli/progress.h"
#include "quorlin/model/params.h"

using namespace vireo::cli;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs a command line, capturing its output and error streams.
Outcome Shell(const std::string& command) {
  const std::string errFile = vtest::TempPath("stderr.txt");
  Outcome r;
  vtest::CommandResult c = vtest::RunCommand(command + " 2> " + errFile);
  r.out = std::move(c.output);
  r.status = c.status;
  std::ifstream e(errFile);
  std::stringstream s;
  s << e.rdbuf();
  r.err = s.str();
  return r;
}

std::vector<std::uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// A synthetic clip of `frames` frames with its truth, made once per name.
const std::string& Clip(const std::string& name, int frames) {
  static std::map<std::string, std::string> made;
  auto [it, fresh] = made.emplace(name, vtest::TempPath(name));
  if (fresh) {
    const Outcome r = Shell(vtest::ProgramPath("vireo-synthclip") + " " + it->second + " --frames " +
                            std::to_string(frames) + " --truth " + it->second + ".csv");
    if (r.status != 0) it->second.clear();
  }
  return it->second;
}

std::vector<double> TruthScaleChanges(const std::string& csv) {
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);  // header: frame,scale_change,...
  std::vector<double> changes;
  while (std::getline(in, line)) {
    const std::size_t comma = line.find(',');
    changes.push_back(std::strtod(line.c_str() + comma + 1, nullptr));
  }
  return changes;
}

}  // namespace

TEST(QuorlinPreprocess, MapOfASynthetic2000FrameClipAgreesWithTheTruth) {
  const std::string& clip = Clip("long.avi", 2000);
  ASSERT_FALSE(clip.empty());
  const std::string map = vtest::TempPath("long.bmp");
  std::filesystem::remove(map);
  const Outcome r = Shell(vtest::ProgramPath("vireo-preprocess") + " " + clip);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(clip + ": 2000 frames"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("map " + map), std::string::npos) << r.out;

  const std::vector<std::uint8_t> b = Bytes(map);
  ASSERT_GE(b.size(), 54u);
  const std::uint32_t width = Get32(b, 18), rows = Get32(b, 22);
  ASSERT_EQ(width, 264u);
  const std::size_t rowBytes = 792;
  EXPECT_EQ(Get32(b, 2), b.size());
  EXPECT_EQ(Get32(b, 34), rowBytes * rows);
  EXPECT_EQ(54 + rowBytes * rows, b.size());
  ASSERT_GT(rows, 200u);

  // Frame numbers never decrease; velocity is positive while the truth
  // advances (the wall's scale grows) and negative while it retreats.
  const std::vector<double> truth = TruthScaleChanges(clip + ".csv");
  ASSERT_EQ(truth.size(), 2000u);
  std::int32_t previous = 0;
  int agree = 0, compared = 0;
  for (std::uint32_t row = 0; row < rows; ++row) {
    const std::size_t at = 54 + row * rowBytes + 6 * 128;
    const auto frame = static_cast<std::int32_t>(Get32(b, at));
    float velocity;
    std::memcpy(&velocity, &b[at + 4], 4);
    ASSERT_GE(frame, previous) << "row " << row;
    ASSERT_LE(frame, 2000);
    if (frame == previous) continue;
    double advance = 0;  // log scale change since the previous row's frame
    for (std::int32_t f = previous; f < frame; ++f) advance += std::log(truth[f]);
    previous = frame;
    if (std::abs(advance) < 1e-3 || velocity == 0) continue;
    ++compared;
    agree += (advance > 0) == (velocity > 0);
  }
  ASSERT_GT(compared, 200);
  EXPECT_GE(agree, compared * 9 / 10) << agree << " of " << compared;

  // The element in a plain gst-launch pipeline writes the same map.
  const std::string launched = vtest::TempPath("long-launch.bmp");
  const Outcome g = Shell("gst-launch-1.0 -q filesrc location=" + clip +
                          " ! avidemux ! jpegdec ! videoconvert ! quorlin map-file=" + launched + " ! fakesink");
  ASSERT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(Bytes(launched), b);
}

TEST(QuorlinPreprocess, BadClipsFailByNameWhileTheOthersComplete) {
  const std::string& good = Clip("good.avi", 120);
  ASSERT_FALSE(good.empty());
  const std::vector<std::uint8_t> whole = Bytes(good);
  const std::string truncated = vtest::TempPath("truncated.avi"), text = vtest::TempPath("text.avi"),
                    missing = vtest::TempPath("missing.avi");
  std::ofstream(truncated, std::ios::binary)
      .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size() / 2));
  std::ofstream(text) << "not a video\n";
  std::filesystem::remove(missing);
  for (const char* jobs : {"1", "3"}) {
    std::filesystem::remove(vtest::TempPath("good.bmp"));
    const Outcome r = Shell(vtest::ProgramPath("vireo-preprocess") + " -j " + jobs + " " + truncated + " " + text +
                            " " + missing + " " + good);
    EXPECT_EQ(r.status, 1) << jobs;
    EXPECT_NE(r.err.find(truncated + ": failed: the stream ended after"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the map " + vtest::TempPath("truncated.bmp") + " holds the "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(text + ": failed: Cannot assemble the graph for MDR processing"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(missing + ": failed: no such file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 of 4 clips failed"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(good + ": 120 frames"), std::string::npos) << r.out;
    EXPECT_TRUE(InspectMap(vtest::TempPath("good.bmp")).complete);
  }

  const Outcome unwritable =
      Shell(vtest::ProgramPath("vireo-preprocess") + " " + good + " -o " + vtest::TempPath("nowhere/map.bmp"));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find(good + ": failed: cannot create the map " + vtest::TempPath("nowhere/map.bmp") +
                                ": No such file or directory"),
            std::string::npos)
      << unwritable.err;
}

TEST(QuorlinPreprocess, ParallelClipsGiveTheMapsOfSingleRuns) {
  const std::string& a = Clip("para-a.avi", 150);
  ASSERT_FALSE(a.empty());
  const std::string b = vtest::TempPath("para-b.avi");
  std::filesystem::copy_file(a, b, std::filesystem::copy_options::overwrite_existing);
  const std::string single = vtest::TempPath("single.bmp");
  ASSERT_EQ(Shell(vtest::ProgramPath("vireo-preprocess") + " " + a + " -o " + single).status, 0);
  ASSERT_EQ(Shell(vtest::ProgramPath("vireo-preprocess") + " -j 2 " + a + " " + b).status, 0);
  const auto expected = Bytes(single);
  ASSERT_GT(expected.size(), 54u);
  EXPECT_EQ(Bytes(vtest::TempPath("para-a.bmp")), expected);
  EXPECT_EQ(Bytes(vtest::TempPath("para-b.bmp")), expected);
}

TEST(QuorlinPreprocess, UsageErrors) {
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-preprocess")).status, 2);
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-preprocess") + " a.avi b.avi -o m.bmp").status, 2);
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-preprocess") + " a.avi -j 0").status, 2);
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-preprocess") + " a.avi --frobnicate").status, 2);
  std::ofstream(vtest::TempPath("x.avi")) << "x";
  std::ofstream(vtest::TempPath("x.mov")) << "x";
  const Outcome same =
      Shell(vtest::ProgramPath("vireo-preprocess") + " " + vtest::TempPath("x.avi") + " " + vtest::TempPath("x.mov"));
  EXPECT_NE(same.err.find("its map " + vtest::TempPath("x.bmp") + " is also the map of"), std::string::npos)
      << same.err;
}

TEST(QuorlinPreprocess, MapNamesProgressLinesAndMapStates) {
  EXPECT_EQ(DefaultMapPath("/a/b/clip.avi"), "/a/b/clip.bmp");
  EXPECT_EQ(DefaultMapPath("/a/b.d/CLIP.MPEG"), "/a/b.d/CLIP.bmp");
  EXPECT_EQ(DefaultMapPath("/a/b.d/clip"), "/a/b.d/clip.bmp");

  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(75.4), "1:15");
  EXPECT_EQ(FormatDuration(3725), "1:02:05");
  EXPECT_EQ(ProgressLine("c.avi", 500, 2000, 2.0),
            "[#####---------------]  25%  500/2000 frames  250 fps  0:06 left  c.avi");
  EXPECT_EQ(ProgressLine("c.avi", 30, 0, 1.0), "30 frames  30 fps  c.avi");

  const std::string path = vtest::TempPath("state.bmp");
  std::filesystem::remove(path);
  EXPECT_FALSE(InspectMap(path).exists);
  std::vector<std::uint8_t> header(54 + 2 * 792, 0);
  header[0] = 'B';
  header[1] = 'M';
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(18, 264);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(header.data()), 54 + 2 * 792);
  EXPECT_TRUE(InspectMap(path).exists);
  EXPECT_FALSE(InspectMap(path).complete);  // sizes still 0
  put(2, 54 + 2 * 792);
  put(22, 2);
  put(34, 2 * 792);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(header.data()), 54 + 2 * 792);
  EXPECT_TRUE(InspectMap(path).complete);
  EXPECT_EQ(InspectMap(path).rows, 2u);
}

// --params: the MDR page's text sets the model for every clip; a file that
// does not serve stops the tool, naming the file line, before any clip runs.
TEST(QuorlinPreprocess, ParametersFileSetsTheModelOrStopsBeforeAnyRun) {
  const std::string clip = Clip("params.avi", 60), map = vtest::TempPath("params.bmp");
  ASSERT_FALSE(clip.empty());
  GRID_GEOMETRY geometry = quorlin::DefaultGeometry();
  geometry.Perimeter = 64;
  const std::string text = quorlin::FormatParams(geometry, quorlin::DefaultPhases());
  auto run = [&](const std::string& name, const std::string& content) {
    const std::string file = vtest::TempPath(name);
    if (!content.empty()) std::ofstream(file, std::ios::binary) << content;
    std::filesystem::remove(map);
    return Shell(vtest::ProgramPath("vireo-preprocess") + " --params " + file + " -o " + map + " " + clip);
  };
  const Outcome good = run("good.params", text);
  ASSERT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(Get32(Bytes(map), 18), 2u * 64 + 8);  // the map's width follows the perimeter

  std::string wrongKey = text;
  const std::size_t phase1 = wrongKey.find("Momentum", wrongKey.find("Momentum") + 1);
  wrongKey.replace(phase1, 8, "Momentun");
  std::string rings = text;
  rings.replace(rings.find("Rings\t8"), 7, "Rings\t1");
  const struct {
    const char* name;
    std::string content;
    std::string message;
  } bad[] = {
      {"cut.params", text.substr(0, text.find("\r\n\r\n") + 2), "Syntax error, line 7"},
      {"key.params", wrongKey, "Syntax error, line 31"},  // entry 29, after two empty lines
      {"range.params", rings, "Parameter out of range: "},
      {"absent.params", "", "cannot read the parameters: No such file or directory"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    const Outcome r = run(c.name, c.content);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(vtest::TempPath(c.name) + ": " + c.message), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(map));
  }
}
