// vireo-detect on synthetic clips: the marked AVI, the findings file, the
// markers in the exported frames, and clips that fail inside a batch.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gst_pipeline.h"
#include "ostrel/analysis/analiza_detektor.h"

using ostrel::CAnalizaDetektor;

namespace {

constexpr int kFrames = 200;
constexpr int kSize = 256;

struct Output {
  int status = -1;
  std::string text;  // stdout and stderr
};

Output Shell(const std::string& command) {
  vtest::CommandResult r = vtest::RunCommand(command + " 2>&1");
  return Output{r.status, std::move(r.output)};
}

std::vector<vtest::Frame> Decode(const std::string& avi) {
  auto r = vtest::RunPipeline("filesrc location=" + avi +
                              " ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! appsink name=out");
  EXPECT_EQ(r.error, "") << avi;
  return r.frames;
}

// The findings lines after the header: frame number and label text.
std::vector<std::pair<int, std::string>> Findings(const std::string& path) {
  const std::string text = vtest::ReadFile(path);
  std::vector<std::pair<int, std::string>> lines;
  const std::string header = "Interpretation auto ostrelection: 0\r\n";
  EXPECT_EQ(text.substr(0, header.size()), header);
  size_t at = header.size();
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    const size_t tab = line.find("\t0\t");
    EXPECT_NE(tab, std::string::npos) << line;
    lines.emplace_back(std::stoi(line.substr(0, tab)), line.substr(tab + 3));
    at = end + 2;
  }
  return lines;
}

class DetectCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vtest::InitGst();
    dir_ = vtest::TempPath("detect");
    std::filesystem::create_directories(dir_);
    clip_ = dir_ + "/Bleeding.Clip.avi";
    ASSERT_EQ(Shell(vtest::ProgramPath("vireo-synthclip") + " " + clip_ + " --frames " + std::to_string(kFrames) +
                    " --lesions bleeding --seed 12")
                  .status,
              0);
  }
  static inline std::string dir_, clip_;
};

}  // namespace

TEST_F(DetectCli, MarksTheClipAndWritesTheFindings) {
  const Output run = Shell(vtest::ProgramPath("vireo-detect") + " " + clip_);
  ASSERT_EQ(run.status, 0) << run.text;
  const std::string marked = dir_ + "/Bleeding.Clip_.avi", findings = dir_ + "/Bleeding.Clip_.txt";
  EXPECT_NE(run.text.find(std::to_string(kFrames) + " frames analysed"), std::string::npos) << run.text;

  const Output probe = Shell("gst-discoverer-1.0 " + marked);
  EXPECT_NE(probe.text.find("Audio Video Interleave"), std::string::npos) << probe.text;
  EXPECT_NE(probe.text.find("video #1: JPEG"), std::string::npos) << probe.text;
  EXPECT_NE(probe.text.find("Duration: 0:00:08.0"), std::string::npos) << probe.text;

  const auto lines = Findings(findings);
  ASSERT_FALSE(lines.empty()) << "no frame of the bleeding clip was flagged";
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1].first, lines[i].first);
  EXPECT_NE(run.text.find(std::to_string(lines.size()) + " with findings"), std::string::npos) << run.text;

  const auto original = Decode(clip_);
  const auto exported = Decode(marked);
  ASSERT_EQ(original.size(), static_cast<size_t>(kFrames));
  ASSERT_EQ(exported.size(), static_cast<size_t>(kFrames));

  // Analyse the frame named first as the detector saw it (bottom-up) and find
  // its Blood2 markers, yellow, in the exported picture.
  const auto [frame, labels] = lines.front();
  const vtest::Frame& in = original[static_cast<size_t>(frame)];
  std::vector<std::uint8_t> dib(in.data.size()), channel(kSize * kSize);
  for (int y = 0; y < kSize; ++y)
    std::copy_n(&in.data[static_cast<size_t>(y) * in.stride], in.stride,
                &dib[static_cast<size_t>(kSize - 1 - y) * in.stride]);
  CAnalizaDetektor engine(kSize, kSize);
  engine.AnalyzeFrame(in.stride, dib.data(), channel.data());
  std::string expected;
  for (int flag = 0; flag < CAnalizaDetektor::kFlagCount; ++flag)
    if (engine.FrameShows(static_cast<CAnalizaDetektor::Flag>(flag))) expected += CAnalizaDetektor::kFlagLabels[flag];
  EXPECT_EQ(labels, expected);
  ASSERT_TRUE(engine.FrameShows(CAnalizaDetektor::kBlood2)) << labels;
  const vtest::Frame& out = exported[static_cast<size_t>(frame)];
  int markers = 0;
  for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
    const CAnalizaDetektor::FlagRecord& flags = engine.Flags(block);
    if (!flags[CAnalizaDetektor::kBlood2] || flags[CAnalizaDetektor::kBlood1]) continue;
    const auto [x, y] = CAnalizaDetektor::BlockCentre(block);
    // Left arm of the plus at (x - 3, y - 1), clear of the other markers;
    // Motion JPEG keeps its colour roughly.
    const std::uint8_t* p = out.Pixel(x - 3, kSize - 1 - (y - 1));
    const std::uint8_t* q = in.Pixel(x - 3, kSize - 1 - (y - 1));
    EXPECT_LT(p[0], 110) << "block " << block;
    EXPECT_GT(p[1], 170) << "block " << block;
    EXPECT_GT(p[2], 170) << "block " << block;
    EXPECT_GT(p[1], q[1] + 60) << "block " << block;
    ++markers;
  }
  EXPECT_GT(markers, 0);
}

TEST_F(DetectCli, FailingClipsOfABatchAreNamedAndTheOthersComplete) {
  const std::string garbage = dir_ + "/garbage.avi", truncated = dir_ + "/truncated.avi";
  std::ofstream(garbage) << "not a clip at all";
  const std::string whole = vtest::ReadFile(clip_);
  std::ofstream(truncated, std::ios::binary) << whole.substr(0, whole.size() / 2);
  const std::string copy = dir_ + "/second.avi";
  std::filesystem::copy_file(clip_, copy, std::filesystem::copy_options::overwrite_existing);

  const Output run = Shell(vtest::ProgramPath("vireo-detect") + " -j 2 " + garbage + " " + truncated + " " + copy +
                           " " + dir_ + "/missing.avi");
  EXPECT_EQ(run.status, 1) << run.text;
  EXPECT_NE(run.text.find("garbage.avi: Cannot assemble the graph for pathology detection"), std::string::npos)
      << run.text;
  EXPECT_NE(run.text.find("missing.avi: no such file"), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("truncated.avi: the clip ends after"), std::string::npos) << run.text;
  EXPECT_NE(run.text.find("second.avi: " + std::to_string(kFrames) + " frames analysed"), std::string::npos)
      << run.text;

  // The truncated clip's marked copy is a valid AVI of the frames it had.
  const auto partial = Decode(dir_ + "/truncated_.avi");
  EXPECT_GT(partial.size(), 10u);
  EXPECT_LT(partial.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(Decode(dir_ + "/second_.avi").size(), static_cast<size_t>(kFrames));
  EXPECT_FALSE(Findings(dir_ + "/second_.txt").empty());
}

TEST_F(DetectCli, UnwritableOutputsAndBadArguments) {
  Output run =
      Shell(vtest::ProgramPath("vireo-detect") + " " + clip_ + " -o /nonexistent-folder/x.avi -f " + dir_ + "/x.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.text.find("/nonexistent-folder/x.avi"), std::string::npos) << run.text;
  run = Shell(vtest::ProgramPath("vireo-detect") + " " + clip_ + " -f /nonexistent-folder/x.txt -o " + dir_ + "/x.avi");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.text.find("cannot create the findings file /nonexistent-folder/x.txt: No such file or directory"),
            std::string::npos)
      << run.text;
  run = Shell(vtest::ProgramPath("vireo-detect") + " " + clip_ + " -o " + clip_);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.text.find("would overwrite the clip"), std::string::npos) << run.text;
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-detect") + " a.avi b.avi -o x.avi").status, 2);
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-detect") + " a.avi -j 0").status, 2);
  EXPECT_EQ(Shell(vtest::ProgramPath("vireo-detect")).status, 2);
}

// A vendor clip ("MIL ") is analysed like any Motion JPEG clip: the marked copy
// plays at the clip's own frame rate, and its pictures are the clip's.
TEST_F(DetectCli, VendorClipGivesAMarkedClipAtItsOwnRate) {
  const std::string vendor = dir_ + "/vendor.avi", marked = dir_ + "/vendor_.avi";
  ASSERT_EQ(
      Shell(vtest::ProgramPath("vireo-synthclip") + " " + vendor + " --frames 30 --size 256 --fps 12.5 --fourcc MIL")
          .status,
      0);
  const Output run = Shell(vtest::ProgramPath("vireo-detect") + " " + vendor);
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_NE(run.text.find("30 frames analysed"), std::string::npos) << run.text;

  const Output probe = Shell("gst-discoverer-1.0 " + marked);
  EXPECT_NE(probe.text.find("video #1: JPEG"), std::string::npos) << probe.text;
  EXPECT_NE(probe.text.find("Frame rate: 25/2"), std::string::npos) << probe.text;
  EXPECT_NE(probe.text.find("Width: 256"), std::string::npos) << probe.text;
  EXPECT_NE(probe.text.find("Duration: 0:00:02.4"), std::string::npos) << probe.text;
  EXPECT_EQ(Decode(marked).size(), 30u);
}
