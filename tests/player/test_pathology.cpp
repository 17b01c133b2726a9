// "&Detect pathologies" on the real program, headless: the two save dialogs,
// the run under the Video Analysis dialog, the marked AVI and the detector's
// findings shown afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "clips.h"
#include "findings_dialog.h"
#include "main_window.h"
#include "messages.h"
#include "preprocess_dialog.h"
#include "player_fixture.h"

namespace {

using ptest::Q;
using vireo::MainWindow;
using vireo::MessageRequest;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A 256 x 256 clip of 24 real bleeding frames (the first of the labelled
// set, copied without re-encoding), made once: the detector is made to find
// real bleeding, not the synthetic clips' lesions.
std::string LesionClip() {
  static const std::string path = [] {
    const std::string p = ptest::ScratchDir() + "/lesions-source.avi";
    const char* data = std::getenv("VIREO_DATA_DIR");
    const std::string command =
        "gst-launch-1.0 -q filesrc location='" + std::string(data ? data : ".") +
        "/wcebleedgen/train-bleeding.avi' ! avidemux ! identity eos-after=25 ! jpegparse ! avimux ! "
        "filesink location='" +
        p + "' > /dev/null";
    return std::system(command.c_str()) == 0 ? p : std::string();
  }();
  return path;
}

class PathologyTest : public ptest::PlayerFixture {
 protected:
  void SetUp() override {
    answer = QMessageBox::Yes;
    PlayerFixture::SetUp();
    dir = ptest::ScratchDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    clip = dir + "/clip.avi";
    const std::string source = LesionClip();
    if (!source.empty()) std::filesystem::copy_file(source, clip, std::filesystem::copy_options::overwrite_existing);
  }

  std::string dir, clip;
};

TEST_F(PathologyTest, RunWritesMarkedVideoAndFindingsThenShowsThem) {
  ASSERT_FALSE(LesionClip().empty());
  window->Start(Q(clip));
  ASSERT_TRUE(window->Graph().HasGraph());
  // A finding of the clip's own list is written before the run.
  Trigger(vireo::kCmdFindings);
  window->Graph().SeekToFrame(2);
  window->Findings()->AddNew();

  const std::string video = dir + "/marked.avi", findings = dir + "/marked.txt";
  fileAnswers = {Q(video), Q(findings)};
  Trigger(vireo::kCmdDetect);

  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0].title, "Save video as...");
  EXPECT_EQ(dialogs[0].initialPath, Q(dir + "/clip_.avi"));
  EXPECT_EQ(dialogs[0].filter, "Video (*.avi)");
  EXPECT_EQ(dialogs[1].title, "Save Findings as...");
  EXPECT_EQ(dialogs[1].initialPath, Q(dir + "/clip_.txt"));
  EXPECT_EQ(dialogs[1].filter, "Findings file (*.txt)");
  EXPECT_EQ(Lines(dir + "/clip.txt"), (std::vector<std::string>{"Interpretation time [min]: 0\r", "2\t0\r"}));

  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Question");
  EXPECT_EQ(messages[0].owner, nullptr);
  EXPECT_EQ(messages[0].text, "Load video with pathology markers?");
  EXPECT_EQ(messages[0].buttons, QMessageBox::Yes | QMessageBox::No);

  // The marked video plays, whole.
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->State().clipPath, Q(video));
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  EXPECT_EQ(window->Graph().TotalFrames(), 24);

  // The detector's findings are shown.
  const auto lines = Lines(findings);
  ASSERT_GE(lines.size(), 2u) << "the lesion clip should give detections";
  EXPECT_EQ(lines[0], "Interpretation auto ostrelection: 0\r");
  ASSERT_NE(window->Findings(), nullptr);
  EXPECT_EQ(window->Findings()->Findings().size(), lines.size() - 1);
  for (const auto& f : window->Findings()->Findings()) {
    EXPECT_EQ(f.minute, 0);
    EXPECT_LT(f.frame, 24);
    EXPECT_FALSE(f.text.empty());
  }
  EXPECT_EQ(window->State().findingsPath, Q(findings));
}

TEST_F(PathologyTest, AnsweringNoReopensTheOriginalClipWithTheFindings) {
  ASSERT_FALSE(LesionClip().empty());
  window->Start(Q(clip));
  fileAnswers = {Q(dir + "/out.avi"), Q(dir + "/out.txt")};
  answer = QMessageBox::No;
  Trigger(vireo::kCmdDetect);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->State().clipPath, Q(clip));
  ASSERT_NE(window->Findings(), nullptr);
  EXPECT_FALSE(window->Findings()->Findings().empty());
  EXPECT_TRUE(std::filesystem::file_size(dir + "/out.avi") > 0);
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
}

// A findings file the detector cannot create is reported; the marked video
// still opens, without a findings list the run did not write.
TEST_F(PathologyTest, FindingsFileThatCannotBeCreatedIsReportedAndNotLoaded) {
  ASSERT_FALSE(LesionClip().empty());
  window->Start(Q(clip));
  const std::string findings = dir + "/no-such-folder/out.txt";
  fileAnswers = {Q(dir + "/out.avi"), Q(findings)};
  Trigger(vireo::kCmdDetect);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0].caption, "Error creating file");
  EXPECT_EQ(messages[0].text, Q(findings));
  EXPECT_TRUE(messages[0].detail.contains("No such file or directory")) << messages[0].detail.toStdString();
  EXPECT_EQ(messages.back().text, "Load video with pathology markers?");
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->State().clipPath, Q(dir + "/out.avi"));
  EXPECT_TRUE(window->Findings() == nullptr || window->Findings()->Findings().empty());
}

// Frames smaller than the detector analyses: the user is told so in the
// words of vireo-detect, nothing is written and the clip plays again.
TEST_F(PathologyTest, FramesTooSmallToAnalyseAreReportedAndNothingIsWritten) {
  const std::string small = ptest::Clip(".avi", 10, 224);
  ASSERT_FALSE(small.empty());
  window->Start(Q(small));
  const std::string video = dir + "/small_.avi", findings = dir + "/small_.txt";
  fileAnswers = {Q(video), Q(findings)};
  Trigger(vireo::kCmdDetect);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Video Analysis");
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  EXPECT_EQ(messages[0].text,
            "frames of 224 x 224 are smaller than the 256 x 256 the detector analyses: nothing was analysed");
  EXPECT_FALSE(std::filesystem::exists(video));
  EXPECT_FALSE(std::filesystem::exists(findings));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1)
      << "only the clip copied in by the fixture";
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->State().clipPath, Q(small));
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
}

TEST_F(PathologyTest, CancellingEitherDialogChangesNothing) {
  ASSERT_FALSE(LesionClip().empty());
  window->Start(Q(clip));
  Trigger(vireo::kCmdDetect);         // first dialog cancelled
  fileAnswers = {Q(dir + "/x.avi")};  // second cancelled
  dialogs.clear();
  Trigger(vireo::kCmdDetect);
  EXPECT_EQ(dialogs.size(), 2u);
  EXPECT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  EXPECT_FALSE(std::filesystem::exists(dir + "/x.avi"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(PathologyTest, AbortKeepsAPlayableVideoOfTheFramesDone) {
  const std::string source = dir + "/long.avi";
  const char* bin = std::getenv("VIREO_BIN_DIR");
  const std::string command = std::string(bin ? bin : ".") + "/vireo-synthclip '" + source +
                              "' --frames 1500 --size 256 --lesions bleeding > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  window->Start(Q(source));
  ASSERT_TRUE(window->Graph().HasGraph());
  const std::string video = dir + "/aborted.avi";
  fileAnswers = {Q(video), Q(dir + "/aborted.txt")};
  // "Abort" once some frames are done.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = dynamic_cast<vireo::AnalysisDialog*>(QApplication::activeModalWidget());
    if (dialog && window->Graph().CurrentFrame() > 20) {
      poll.stop();
      dialog->AbortButton()->click();
    }
  });
  poll.start(20);
  answer = QMessageBox::Yes;
  Trigger(vireo::kCmdDetect);
  ASSERT_TRUE(window->Graph().HasGraph()) << "the aborted video opens";
  EXPECT_EQ(window->State().clipPath, Q(video));
  const std::int64_t frames = window->Graph().TotalFrames();
  EXPECT_GT(frames, 20);
  EXPECT_LT(frames, 1500);
  EXPECT_EQ(Lines(dir + "/aborted.txt").at(0), "Interpretation auto ostrelection: 0\r");
}

}  // namespace
