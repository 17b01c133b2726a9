// A 2,000-frame clip with lesions through both headless runs: the map keeps
// the digest it has had since the runs were spread over several threads, and
// the detector's findings and marked clip are the same bytes whatever the
// number of threads, and whether the marked clip is written or not.
#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gst_pipeline.h"

namespace {

constexpr int kFrames = 2000;

std::string Sha256(const std::string& bytes) {
  gchar* text =
      g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string digest = text;
  g_free(text);
  return digest;
}

class LongLesionClip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = vtest::TempPath("long-runs");
    std::filesystem::create_directories(dir_);
    clip_ = dir_ + "/lesions.avi";
    const vtest::CommandResult made =
        vtest::RunCommand(vtest::ProgramPath("vireo-synthclip") + " " + clip_ + " --frames " + std::to_string(kFrames) +
                          " --lesions bleeding,ulcer --seed 7 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
  }
  static inline std::string dir_, clip_;
};

TEST_F(LongLesionClip, MapKeepsItsDigest) {
  const std::string map = dir_ + "/map.bmp";
  const vtest::CommandResult run =
      vtest::RunCommand(vtest::ProgramPath("vireo-preprocess") + " " + clip_ + " -o " + map + " 2>&1");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Sha256(vtest::ReadFile(map)), "c37c1be3a323c4d12c108eec6d7cbf9bacdfc5f8e10cdd73958b47002eabce98");
}

TEST_F(LongLesionClip, DetectorResultsDoNotDependOnThreadsOrTheMarkedClip) {
  struct Run {
    const char* threads;
    bool marked;
  };
  std::string firstFindings, firstMarked;
  for (const Run& r : {Run{"1", true}, Run{"3", true}, Run{"2", false}}) {
    const std::string name = dir_ + "/t" + r.threads + (r.marked ? "-marked" : "-findings");
    const std::string outputs = r.marked ? " -o " + name + ".avi" : " --findings-only";
    const vtest::CommandResult run =
        vtest::RunCommand(std::string("VIREO_THREADS=") + r.threads + " " + vtest::ProgramPath("vireo-detect") + " " +
                          clip_ + outputs + " -f " + name + ".txt 2>&1");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(std::to_string(kFrames) + " frames analysed"), std::string::npos) << run.output;
    const std::string findings = vtest::ReadFile(name + ".txt");
    if (firstFindings.empty()) {
      firstFindings = findings;
      firstMarked = vtest::ReadFile(name + ".avi");
      EXPECT_NE(findings.find(" Blood"), std::string::npos) << "no bleeding found in the lesion clip";
      EXPECT_GT(firstMarked.size(), 1000000u);
      continue;
    }
    EXPECT_TRUE(findings == firstFindings) << r.threads << " threads: the findings differ";
    if (r.marked)
      EXPECT_TRUE(vtest::ReadFile(name + ".avi") == firstMarked) << r.threads << " threads: the marked clip differs";
    else
      EXPECT_FALSE(std::filesystem::exists(dir_ + "/lesions_.avi")) << "--findings-only wrote a marked clip";
  }
}

}  // namespace
