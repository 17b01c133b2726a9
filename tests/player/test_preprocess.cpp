// Preprocessing runs on the real program headless: "&Preprocess video" with
// its dialogs answered by the test, the "Video Analysis" dialog, "Abort", and
// "Select video(s) to preprocess" over several clips.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "clips.h"
#include "main_window.h"
#include "messages.h"
#include "preprocess_dialog.h"
#include "player_fixture.h"

namespace {

using ptest::Q;
using vireo::MainWindow;
using vireo::MessageRequest;

const QString kPreview = QStringLiteral(
    "Preview video while being preprocessed?\r\nYes - slower and may stop when a screensaver turns on\r\nNo - "
    "faster, no preview");

// The header fields of a map file and its length.
struct MapHeader {
  std::uint32_t fileSize = 0, width = 0, height = 0, imageSize = 0;
  std::uintmax_t length = 0;
};

MapHeader ReadHeader(const std::string& path) {
  MapHeader h;
  std::ifstream in(path, std::ios::binary);
  char bytes[54] = {};
  in.read(bytes, sizeof bytes);
  auto u32 = [&](int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
  };
  h.fileSize = u32(2);
  h.width = u32(18);
  h.height = u32(22);
  h.imageSize = u32(34);
  h.length = std::filesystem::file_size(path);
  return h;
}

void ExpectComplete(const std::string& path) {
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  const MapHeader h = ReadHeader(path);
  EXPECT_EQ(h.fileSize, h.length) << path;
  EXPECT_GT(h.height, 0u) << path;
  EXPECT_EQ(h.imageSize, h.length - 54) << path;
  EXPECT_EQ(h.imageSize, h.height * ((3 * h.width + 3) / 4 * 4)) << path;
}

class PreprocessTest : public ptest::PlayerFixture {
 protected:
  void SetUp() override {
    recordMapQuestions = true;
    PlayerFixture::SetUp();
    // Watch for the modal dialog of a run: its title, its text, and "Abort" when asked.
    connect = std::make_unique<QTimer>();
    QObject::connect(connect.get(), &QTimer::timeout, [this] {
      auto* dialog = dynamic_cast<vireo::AnalysisDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      ++analysisSeen;
      dialog->Tick();
      progressTexts.push_back(dialog->Text());
      if (abortRun && window->Graph().CurrentFrame() > 20) dialog->AbortButton()->click();
      if (duringRun) duringRun(dialog);
    });
    connect->start(30);
  }

  void TearDown() override {
    connect.reset();
    PlayerFixture::TearDown();
  }

  QMessageBox::StandardButton Answer(const MessageRequest& r) override {
    if (r.caption == "Question") return preview;
    return PlayerFixture::Answer(r);
  }

  int Count(const QString& text) const {
    return static_cast<int>(
        std::count_if(messages.begin(), messages.end(), [&](const MessageRequest& r) { return r.text == text; }));
  }

  QMessageBox::StandardButton preview = QMessageBox::Yes;
  std::unique_ptr<QTimer> connect;
  int analysisSeen = 0;
  QStringList progressTexts;
  bool abortRun = false;
  std::function<void(vireo::AnalysisDialog*)> duringRun;  // called while a run shows its dialog
};

TEST_F(PreprocessTest, PreprocessVideoWritesTheMapOpensItAndRateControlActs) {
  const std::string clip = ptest::Clip(".avi", 150, 128);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  ASSERT_TRUE(window->Graph().HasGraph());
  const std::string map = ptest::ScratchDir() + "/preprocessed.bmp";
  chosen = {Q(map)};
  messages.clear();

  Trigger(vireo::kCmdPreprocess);

  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Save map as...");
  EXPECT_TRUE(dialogs[0].save);
  EXPECT_EQ(dialogs[0].filter, "Windows bitmap (*.bmp)");
  EXPECT_EQ(dialogs[0].initialPath, Q(clip).replace(".avi", ".bmp"));
  EXPECT_EQ(Count(kPreview), 1);
  EXPECT_GT(analysisSeen, 0);
  ASSERT_FALSE(progressTexts.isEmpty());
  EXPECT_TRUE(progressTexts.first().startsWith("Done: ")) << progressTexts.first().toStdString();
  ExpectComplete(map);

  // Reopened for plain playback with the new map.
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  EXPECT_EQ(window->State().mapPath, Q(map));
  ASSERT_NE(window->Maps().Window(), nullptr);
  EXPECT_TRUE(window->Map().Egomotion());
  EXPECT_GT(window->Map().Rows(), 0);
  EXPECT_EQ(window->Map().Width(), static_cast<int>(ReadHeader(map).width) - 8);

  // "Combination" is on from the start: playing changes the pipeline's rate.
  EXPECT_TRUE(window->State().rateControlOn);
  window->Graph().Run();
  EXPECT_TRUE(WaitFor([&] { return window->Graph().GraphRate() != 1.0; }));
  EXPECT_DOUBLE_EQ(window->Graph().Rate(), 1.0);
}

TEST_F(PreprocessTest, AbortStopsTheRunAndLeavesACompleteMapOfThePartDone) {
  const std::string clip = ptest::Clip(".avi", 2000, 128);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  const std::string map = ptest::ScratchDir() + "/aborted.bmp";
  chosen = {Q(map)};
  preview = QMessageBox::No;
  abortRun = true;
  Trigger(vireo::kCmdPreprocess);
  EXPECT_GT(analysisSeen, 0);
  ASSERT_TRUE(std::filesystem::exists(map));
  const MapHeader h = ReadHeader(map);
  EXPECT_EQ(h.fileSize, h.length);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  // Stopped well before the end of the clip.
  ASSERT_GT(window->Map().Rows(), 0);
  EXPECT_LT(window->Map().Record(window->Map().Rows() - 1).frame, 1500);
}

// A stray Esc, or the window's close button answered No, leaves the run
// going; the close button answered Yes ends it.
TEST_F(PreprocessTest, OnlyAbortOrAConfirmedCloseEndsARun) {
  const std::string clip = ptest::Clip(".avi", 2000, 128);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  const std::string map = ptest::ScratchDir() + "/closed.bmp";
  chosen = {Q(map)};
  preview = QMessageBox::No;
  messages.clear();
  std::int64_t triedAt = -1;
  duringRun = [&](vireo::AnalysisDialog* dialog) {
    const std::int64_t frame = window->Graph().CurrentFrame();
    if (triedAt < 0 && frame > 10) {
      triedAt = frame;
      QTest::keyClick(dialog, Qt::Key_Escape);
      answer = QMessageBox::No;
      dialog->close();
    } else if (triedAt >= 0 && frame > triedAt + 100) {
      answer = QMessageBox::Yes;
      dialog->close();
    }
  };
  Trigger(vireo::kCmdPreprocess);
  ASSERT_GT(triedAt, 0);
  const auto asked = std::count_if(messages.begin(), messages.end(),
                                   [](const MessageRequest& r) { return r.text == "Abort the analysis run?"; });
  EXPECT_EQ(asked, 2);
  ASSERT_TRUE(window->Graph().HasGraph());
  ASSERT_GT(window->Map().Rows(), 0);
  const std::int64_t last = window->Map().Record(window->Map().Rows() - 1).frame;
  EXPECT_GT(last, triedAt + 50);  // went on after Esc and the first close
  EXPECT_LT(last, 1500);          // ended by the confirmed close
}

// "MDR parameters..." edits the parameters of this session's next runs: a
// perimeter set on its page gives maps of that width, and the page shows it
// again when reopened.
TEST_F(PreprocessTest, MdrParametersPageSetsTheNextRunsModel) {
  const std::string clip = ptest::Clip(".avi", 60, 128);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  const auto page = [&]() -> QPlainTextEdit* {
    for (QDialog* sheet : window->findChildren<QDialog*>())
      if (sheet->isVisible() && sheet->windowTitle() == "MDR parameters")
        return sheet->findChild<QPlainTextEdit*>("109");  // the parameter text
    return nullptr;
  };
  Trigger(vireo::kCmdMdrParameters);
  QPlainTextEdit* text = page();
  ASSERT_NE(text, nullptr);
  const QRegularExpression perimeter("Perimeter\\t\\d+");
  ASSERT_TRUE(text->toPlainText().contains(perimeter));
  text->setPlainText(text->toPlainText().replace(perimeter, "Perimeter\t64"));
  text->window()->findChild<QPushButton*>("106")->click();  // "Initialize"
  text->window()->close();

  const std::string map = ptest::ScratchDir() + "/parameters.bmp";
  chosen = {Q(map)};
  Trigger(vireo::kCmdPreprocess);
  ExpectComplete(map);
  EXPECT_EQ(ReadHeader(map).width, 2u * 64 + 8);  // the map's width follows the perimeter
  Trigger(vireo::kCmdMdrParameters);
  ASSERT_NE(page(), nullptr);
  EXPECT_TRUE(page()->toPlainText().contains("Perimeter\t64"));
}

// A map the filter cannot create is reported with its name, and the run is
// not followed by opening (or offering to make) a map it never wrote.
TEST_F(PreprocessTest, AMapThatCannotBeCreatedIsReportedAndNotLoaded) {
  const std::string clip = ptest::Clip(".avi", 30, 128);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  const std::string target = ptest::ScratchDir() + "/no-such-folder/new.bmp";
  chosen = {Q(target)};
  messages.clear();
  mapQuestions = 0;
  Trigger(vireo::kCmdPreprocess);

  const auto created = std::find_if(messages.begin(), messages.end(),
                                    [](const MessageRequest& r) { return r.caption == "Error creating file"; });
  ASSERT_NE(created, messages.end());
  EXPECT_EQ(created->text, Q(target));
  EXPECT_EQ(created->icon, QMessageBox::Critical);
  EXPECT_EQ(mapQuestions, 0);  // no offer to preprocess a map that was never written
  EXPECT_FALSE(window->Map().Loaded());
  EXPECT_EQ(window->Maps().Window(), nullptr);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
}

TEST_F(PreprocessTest, CancelledSaveDialogChangesNothing) {
  window->Start(Q(ptest::Clip(".avi", 30)));
  messages.clear();
  Trigger(vireo::kCmdPreprocess);
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(Count(kPreview), 0);
  EXPECT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  // Without a clip the item is disabled, and the command (as the map's
  // "Preprocess video now?" runs it) does nothing at all.
  Trigger(vireo::kCmdCloseClip);
  EXPECT_FALSE(Enabled(vireo::kCmdPreprocess));
  window->RunCommand(vireo::kCmdPreprocess);
  EXPECT_EQ(dialogs.size(), 1u);
}

TEST_F(PreprocessTest, BatchWritesAMapBesideEveryClip) {
  const std::string a = ptest::Clip(".avi", 60, 128);
  const std::string b = ptest::Clip(".avi", 80, 128);
  const std::string c = ptest::Clip(".mov", 60, 128);
  ASSERT_FALSE(a.empty() || b.empty() || c.empty());
  // Extensions count in any case; other files are skipped.
  const std::string upper = ptest::ScratchDir() + "/UPPER.AVI";
  std::filesystem::copy_file(a, upper, std::filesystem::copy_options::overwrite_existing);
  const std::string text = ptest::WriteFile("notes.txt", "not a clip");
  auto mapOf = [](const std::string& clip) { return clip.substr(0, clip.rfind('.')) + ".bmp"; };
  for (const std::string& clip : {a, b, c, upper}) std::filesystem::remove(mapOf(clip));

  window->Start({});
  chosen = {Q(a), Q(upper), Q(text), Q(b), Q(c)};
  preview = QMessageBox::No;
  Trigger(vireo::kCmdBatchPreprocess);

  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Open Video File(s)...");
  EXPECT_TRUE(dialogs[0].multiple);
  EXPECT_EQ(Count(kPreview), 4);  // once per clip run
  EXPECT_EQ(analysisSeen > 0, true);
  for (const std::string& clip : {a, b, c, upper}) ExpectComplete(mapOf(clip));
  EXPECT_FALSE(std::filesystem::exists(mapOf(text)));
  EXPECT_FALSE(window->Graph().HasGraph());
  EXPECT_FALSE(window->Map().Loaded());
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
  EXPECT_TRUE(window->isMinimized());  // "No" minimised it for the runs
}

TEST(AnalysisProgressTest, ShortAndLongForms) {
  EXPECT_EQ(vireo::AnalysisProgressText(2, 100, 4), "Done: 2%   2/100");
  EXPECT_EQ(vireo::AnalysisProgressText(3, 5, 4), "Done: 0%   3/5");
  EXPECT_EQ(vireo::AnalysisProgressText(25, 100, 10), "Done: 25%   25/100, \r\nElapsed: 0m 10s, \r\nLeft: 0m 30s");
  EXPECT_EQ(vireo::AnalysisProgressText(50, 1000, 125), "Done: 5%   50/1000, \r\nElapsed: 2m 05s, \r\nLeft: 39m 35s");
}

}  // namespace
