// A 2,000-frame clip with lesions through both headless runs: the map, the
// findings and the marked clip keep the digests they had before the runs were
// spread over several threads and vectorised, and the detector's findings and
// marked clip are the same bytes whatever the number of threads, and whether
// the marked clip is written or not. The findings and marked-clip digests
// follow the classifier tables: regenerating the tables changes them.
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
      EXPECT_EQ(Sha256(findings), "1279f25c74b74ff5d22774d8c9418cb67b466501d95cb66ade5450c22964b2a3");
      EXPECT_EQ(Sha256(firstMarked), "06af9f608b9684fda558cab33efbd14e16523b4d00c98eec0f14dc86906a149e");
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
