// vireo-detect --features and --truth on a synthetic bleeding clip: the rows
// are the detector's own decisions, and the evaluation counts what the
// findings file says, whatever bad lines the labels hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gst_pipeline.h"
#include "ostrel/analysis/analiza_detektor.h"

using ostrel::CAnalizaDetektor;

namespace {

constexpr int kFrames = 40;
constexpr int kSize = 256;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
  return fields;
}

// Findings lines by frame: the label text after "N\t0\t".
std::map<int, std::string> Findings(const std::string& path) {
  std::map<int, std::string> out;
  for (std::string line : Lines(path)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find("\t0\t");
    if (tab != std::string::npos) out[std::stoi(line.substr(0, tab))] = line.substr(tab + 3);
  }
  return out;
}

class DetectBlocks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vtest::InitGst();
    dir_ = vtest::TempPath("detect-blocks");
    std::filesystem::create_directories(dir_);
    clip_ = dir_ + "/lesions.avi";
    ASSERT_EQ(vtest::RunCommand(vtest::ProgramPath("vireo-synthclip") + " " + clip_ + " --frames " +
                                std::to_string(kFrames) + " --lesions bleeding --seed 12")
                  .status,
              0);
  }
  static vtest::CommandResult Detect(const std::string& options) {
    return vtest::RunCommand(vtest::ProgramPath("vireo-detect") + " " + clip_ + " -o " + dir_ + "/marked.avi -f " +
                             dir_ + "/findings.txt " + options + " 2>&1");
  }
  static inline std::string dir_, clip_;
};

TEST_F(DetectBlocks, FeatureRowsAreWhatTheDetectorDecided) {
  const std::string table = dir_ + "/features.csv";
  const auto run = Detect("--features " + table);
  ASSERT_EQ(run.status, 0) << run.output;
  const auto rows = Lines(table);
  ASSERT_EQ(rows.size(), 1u + kFrames * CAnalizaDetektor::kBlocks);
  EXPECT_EQ(rows[0],
            "clip,frame,block,centre_x,centre_y,slot0,slot1,slot2,slot3,slot4,slot5,slot6,slot7,slot8,slot9,"
            "slot17,slot18,slot19,blood1,ulcer1,ulcer2,blood2");

  // The same frames decoded apart and analysed as the detector sees them
  // (bottom-up): every slot and flag of every block agrees.
  const auto decoded = vtest::RunPipeline("filesrc location=" + clip_ +
                                          " ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! "
                                          "appsink name=out");
  ASSERT_EQ(decoded.frames.size(), static_cast<size_t>(kFrames));
  const auto findings = Findings(dir_ + "/findings.txt");
  const int slots[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 18, 19};
  const CAnalizaDetektor::Flag flags[] = {CAnalizaDetektor::kBlood1, CAnalizaDetektor::kUlcer1,
                                          CAnalizaDetektor::kUlcer2, CAnalizaDetektor::kBlood2};
  CAnalizaDetektor engine(kSize, kSize);
  std::vector<std::uint8_t> channel(kSize * kSize);
  for (int frame = 0; frame < kFrames; ++frame) {
    const vtest::Frame& in = decoded.frames[static_cast<size_t>(frame)];
    std::vector<std::uint8_t> dib(in.data.size());
    for (int y = 0; y < kSize; ++y)
      std::copy_n(&in.data[static_cast<size_t>(y) * in.stride], in.stride,
                  &dib[static_cast<size_t>(kSize - 1 - y) * in.stride]);
    engine.AnalyzeFrame(in.stride, dib.data(), channel.data());
    std::string labels;
    for (int flag = 0; flag < CAnalizaDetektor::kFlagCount; ++flag)
      if (engine.FrameShows(static_cast<CAnalizaDetektor::Flag>(flag))) labels += CAnalizaDetektor::kFlagLabels[flag];
    EXPECT_EQ(findings.count(frame) ? findings.at(frame) : "", labels) << "frame " << frame;
    for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
      const auto f = Split(rows[1 + static_cast<size_t>(frame) * CAnalizaDetektor::kBlocks + block]);
      ASSERT_EQ(f.size(), 22u);
      EXPECT_EQ(f[0], "lesions.avi");
      EXPECT_EQ(std::stoi(f[1]), frame);
      EXPECT_EQ(std::stoi(f[2]), block);
      const auto centre = CAnalizaDetektor::BlockCentre(block);
      EXPECT_EQ(std::stoi(f[3]), centre.x);
      EXPECT_EQ(std::stoi(f[4]), kSize - 1 - centre.y);  // top-down, as labels' boxes
      for (int s = 0; s < 13; ++s)
        EXPECT_EQ(std::strtod(f[5 + s].c_str(), nullptr), engine.Features(block)[slots[s]])
            << "frame " << frame << " block " << block << " slot " << slots[s];
      for (int k = 0; k < 4; ++k) EXPECT_EQ(std::stoi(f[18 + k]), engine.Flags(block)[flags[k]]);
    }
  }
}

TEST_F(DetectBlocks, TruthTableCountsTheFindingsAndNamesEveryBadLine) {
  // Frames 0-19 labelled bleeding (boxes over the whole picture for 0-9),
  // 20-39 normal; then one line per kind of problem.
  std::ofstream labels(dir_ + "/labels.csv");
  labels << "clip,frame,class,source,x0,y0,x1,y1\n";
  for (int frame = 0; frame < kFrames; ++frame)
    labels << "lesions.avi," << frame << (frame < 20 ? ",bleeding," : ",normal,") << "src"
           << (frame < 10 ? ",0,0,256,256" : ",,,,") << "\n";
  const std::vector<std::string> bad = {
      "other.avi,3,bleeding,,,,,",           // unknown clip
      "lesions.avi,40,normal,,,,,",          // past the end
      "lesions.avi,x,normal,,,,,",           // not a frame number
      "lesions.avi,5,tumour,,,,,",           // unknown class
      "lesions.avi,6,bleeding,,0,0,300,20",  // box outside the frame
      "lesions.avi,7,bleeding,,10,10,5,20",  // empty box
      "lesions.avi,8,bleeding,,1,2,3",       // box incomplete
      "lesions.avi,25,normal,,0,0,10,10",    // box on a frame without finding
      "lesions.avi,21,normal,,,,,",          // labelled twice
      "\"lesions.avi,1,normal",              // quote not closed
  };
  for (const std::string& line : bad) labels << line << "\n";
  labels.close();

  const auto run = Detect("--truth " + dir_ + "/labels.csv");
  EXPECT_EQ(run.status, 1) << run.output;
  const std::string expected[] = {
      ":42: clip \"other.avi\" is not one of the clips run",
      ":43: frame 40 is past the end of " + clip_ + " (40 frames)",
      ":44: frame \"x\" is not a frame number",
      ":45: unknown class \"tumour\"",
      ":46: the box lies outside the 256 x 256 frame",
      ":47: the box is empty",
      ":48: a box needs all of x0, y0, x1, y1",
      ":49: a frame without finding has a box",
      ":50: frame 21 of " + clip_ + " is labelled twice",
      ":51: a quote is not closed",
  };
  for (const std::string& e : expected) EXPECT_NE(run.output.find(e), std::string::npos) << e << "\n" << run.output;
  EXPECT_NE(run.output.find("10 label lines left out of the evaluation"), std::string::npos) << run.output;

  // The table from the findings file: frames 0-19 positive, 20-39 negative.
  const auto findings = Findings(dir_ + "/findings.txt");
  auto count = [&](int from, int to, const std::vector<std::string>& names) {
    int n = 0;
    for (int f = from; f < to; ++f)
      for (const std::string& name : names)
        if (findings.count(f) && findings.at(f).find(name) != std::string::npos) {
          ++n;
          break;
        }
    return n;
  };
  EXPECT_NE(run.output.find("40 labelled frames (20 bleeding, 0 ulcer, 20 without finding)"), std::string::npos)
      << run.output;
  auto share = [](int part, int whole) {
    char text[64];
    std::snprintf(text, sizeof text, "%d of %d (%.1f %%)", part, whole, 100.0 * part / whole);
    return std::string(text);
  };
  for (const auto& [row, names] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"Blood1 ", {" Blood1"}}, {"Blood2 ", {" Blood2"}}, {"Blood1|Blood2 ", {" Blood1", " Blood2"}}}) {
    const size_t at = run.output.find("\n" + row);
    ASSERT_NE(at, std::string::npos) << row << run.output;
    const std::string line = run.output.substr(at + 1, run.output.find('\n', at + 1) - at - 1);
    EXPECT_NE(line.find(share(count(0, 20, names), 20)), std::string::npos) << line;
    EXPECT_NE(line.find(share(count(20, 40, names), 20)), std::string::npos) << line;
    // Boxes cover whole pictures: every flagged boxed frame has its block inside.
    const int boxed = count(0, 10, names);
    if (boxed > 0) {
      EXPECT_NE(line.find(share(boxed, boxed)), std::string::npos) << line;
    }
  }
}

TEST_F(DetectBlocks, UnreadableLabelsStopTheRunBeforeItStarts) {
  const auto run = Detect("--truth " + dir_ + "/no-such-labels.csv");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("cannot read the labels " + dir_ + "/no-such-labels.csv"), std::string::npos) << run.output;
}

}  // namespace
