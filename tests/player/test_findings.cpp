// The findings file and the Findings dialog on the real program, headless:
// reading rules, saving, the interpretation counter, editing, the no-loss
// saves and bad files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "clips.h"
#include "comma_locale.h"
#include "findings_dialog.h"
#include "findings_file.h"
#include "main_window.h"
#include "map_state.h"
#include "messages.h"
#include "player_fixture.h"
#include "test_map_support.h"

namespace {

using ptest::Q;
using vireo::Finding;
using vireo::FindingsDialog;
using vireo::MainWindow;
using vireo::MessageRequest;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Types `text` into `widget` as key presses.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

// ---- the file, without the program ------------------------------------------

TEST(FindingsFile, LinesParseAsPercentIWithTabs) {
  auto f = vireo::ParseFindingLine("12\t3");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->frame, 12);
  EXPECT_EQ(f->minute, 3);
  EXPECT_EQ(f->text, "");
  EXPECT_EQ(vireo::EntryText(*f), "00000012 ");

  f = vireo::ParseFindingLine("010\t0x1f\t some text\r");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->frame, 8);
  EXPECT_EQ(f->minute, 31);
  EXPECT_EQ(f->text, "some text");  // whitespace before the text is skipped

  f = vireo::ParseFindingLine("137\t0\t Blood1 Ulcer2");
  ASSERT_TRUE(f);
  EXPECT_EQ(vireo::EntryText(*f), "00000137 Blood1 Ulcer2");

  f = vireo::ParseFindingLine("2000000\t5000\tbig");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->frame, 2000000);
  EXPECT_EQ(f->minute, 5000);
  EXPECT_EQ(vireo::EntryText(*f), "02000000 big");

  for (const char* bad :
       {"", "7", "x\t1", "-1\t0", "4\t-2", "99999999999999999999\t0", "3\t99999999999999999999", "\t\t", "12abc\t3"})
    EXPECT_FALSE(vireo::ParseFindingLine(bad)) << bad;
}

TEST(FindingsFile, HeaderMinutesAreTheLastNumber) {
  EXPECT_EQ(vireo::HeaderMinutes("Interpretation time [min]: 12"), 12);
  EXPECT_EQ(vireo::HeaderMinutes("Interpretation time [min]: 12 15"), 15);
  EXPECT_EQ(vireo::HeaderMinutes("Nospace12"), 0);
  EXPECT_EQ(vireo::HeaderMinutes("Time: -4"), 0);
  EXPECT_EQ(vireo::HeaderMinutes("Time: 99999999999999999999999"), 0);
  EXPECT_EQ(vireo::HeaderMinutes("Time: 3000"), 3000);
}

TEST(FindingsFile, SavesAndReadsBackWithCrLf) {
  const std::string path = ptest::ScratchDir() + "/roundtrip.txt";
  std::vector<Finding> list = {{5, 0, ""}, {2000000, 4096, "far away"}};
  ASSERT_FALSE(vireo::WriteFindingsFile(path, "Interpretation time [min]: 7", 4096, list));
  EXPECT_EQ(ReadAll(path), "Interpretation time [min]: 7 4096\r\n5\t0\r\n2000000\t4096\tfar away\r\n");
  auto file = vireo::ReadFindingsFile(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->header, "Interpretation time [min]: 7 4096");
  EXPECT_EQ(file->minutes, 4096);
  ASSERT_EQ(file->findings.size(), 2u);
  EXPECT_EQ(file->findings[1].frame, 2000000);
  EXPECT_EQ(file->findings[1].minute, 4096);
  EXPECT_EQ(file->findings[1].text, "far away");
}

TEST(FindingsFile, FailedSaveLeavesThePreviousFileAndSaysWhy) {
  const std::string path = ptest::ScratchDir() + "/kept.txt";
  ASSERT_FALSE(vireo::WriteFindingsFile(path, "H", 1, {{1, 1, "one"}}));
  const std::string before = ReadAll(path);
  const auto failure = vireo::WriteFindingsFile(ptest::ScratchDir() + "/no/such/folder/x.txt", "H", 1, {});
  ASSERT_TRUE(failure);
  EXPECT_FALSE(failure->empty());
  // A target that is a folder cannot be replaced; nothing else is touched.
  std::filesystem::create_directories(ptest::ScratchDir() + "/adir.txt");
  EXPECT_TRUE(vireo::WriteFindingsFile(ptest::ScratchDir() + "/adir.txt", "H", 1, {}));
  EXPECT_EQ(ReadAll(path), before);
  // No temporary file is left beside the target.
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ptest::ScratchDir()))
    if (entry.path().filename().string().find("adir.txt") != std::string::npos) ++leftovers;
  EXPECT_EQ(leftovers, 1);
}

TEST(FindingsFile, BadFilesKeepOnlyTheLinesThatParse) {
  std::string junk = "Header \x01\x02 9\r\n";
  junk += std::string("\x00\xff\xfe\x80\t\t\x7f", 7) + "\r\n";  // binary junk
  junk += "5\t1\tgood\r\n";
  junk += "6\t2\t" + std::string(5000, 'a') + "\r\n";  // overlong text stays whole
  junk += std::string(3000, '7') + "\t1\r\n";          // overlong number
  junk += "-3\t0\tnegative\r\n99999999999999999999999\t0\thuge\r\n";
  junk += std::string("8\t0\tcut\0tail\r\n", 14);  // ends at the NUL
  junk += std::string(4000, ' ') + "12\t3\r\n";    // long whitespace, then numbers
  junk += "9\t1\tno line end";
  const std::string path = ptest::WriteFile("junk.txt", junk);
  auto file = vireo::ReadFindingsFile(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->minutes, 9);
  ASSERT_EQ(file->findings.size(), 5u);
  EXPECT_EQ(file->findings[0].text, "good");
  EXPECT_EQ(file->findings[1].text, std::string(5000, 'a'));
  EXPECT_EQ(file->findings[2].frame, 8);
  EXPECT_EQ(file->findings[2].text, "cut");
  EXPECT_EQ(file->findings[3].frame, 12);
  EXPECT_EQ(file->findings[4].text, "no line end");
  EXPECT_FALSE(vireo::ReadFindingsFile(ptest::ScratchDir() + "/absent.txt"));
}

// ---- the dialog in the program -------------------------------------------------

class FindingsTest : public ptest::PlayerFixture {
 protected:
  // A copy of a clip under `name` in its own folder, with `findings` (when
  // given) beside it as its findings file.
  std::string ClipNamed(const std::string& name, int frames, const std::string* findings = nullptr, int size = 64) {
    const std::string dir = ptest::ScratchDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    const std::string clip = dir + "/" + name + ".avi";
    std::filesystem::copy_file(ptest::Clip(".avi", frames, size), clip,
                               std::filesystem::copy_options::overwrite_existing);
    if (findings) std::ofstream(dir + "/" + name + ".txt", std::ios::binary) << *findings;
    return clip;
  }

  static std::string Stem(const std::string& clip) { return clip.substr(0, clip.size() - 4); }
  FindingsDialog* Dialog() { return window->Findings(); }
};

TEST_F(FindingsTest, NewFindingWithoutMapIsTheFrameAndSavesTwoNumbers) {
  const std::string clip = ClipNamed("long", 1300);
  window->Start(Q(clip));
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(Dialog(), nullptr);  // no findings file yet
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_TRUE(Checked(vireo::kCmdFindings));
  Dialog()->Tick();
  EXPECT_EQ(Dialog()->ViewedText(), "Viewed frame: 0");
  window->Graph().SeekToFrame(1234);
  Dialog()->AddNew();
  EXPECT_EQ(Dialog()->Entries(), QStringList{"00001234"});
  EXPECT_EQ(Dialog()->Selected(), 0);
  EXPECT_TRUE(Dialog()->Changed());
  EXPECT_EQ(window->Graph().State(), vireo::PlayState::kPaused);
  Trigger(vireo::kCmdFindings);  // closes and saves
  EXPECT_EQ(Dialog(), nullptr);
  EXPECT_FALSE(Checked(vireo::kCmdFindings));
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"), "Interpretation time [min]: 0\r\n1234\t0\r\n");
  EXPECT_TRUE(messages.empty());
}

TEST_F(FindingsTest, AssociatedFileLoadsWithItsHeaderAndOrder) {
  const std::string text =
      "Interpretation time [min]: 12\r\n30\t1\tlater\r\n12\t3\r\n010\t0\toctal\r\n0x10\t2\thex\r\nnonsense\r\n";
  const std::string clip = ClipNamed("review", 40, &text);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_TRUE(Dialog()->isVisible());
  EXPECT_EQ(Dialog()->Entries(), (QStringList{"00000008 octal", "00000012 ", "00000016 hex", "00000030 later"}));
  EXPECT_EQ(Dialog()->Findings()[1].minute, 3);
  EXPECT_EQ(Dialog()->Ticks(), 12 * 300);
  EXPECT_FALSE(Dialog()->Changed());

  // Selecting a finding pauses and seeks to its frame.
  Trigger(vireo::kCmdPausePlay);
  Dialog()->Select(3);
  EXPECT_EQ(window->Graph().State(), vireo::PlayState::kPaused);
  EXPECT_EQ(window->Graph().CurrentFrame(), 30);

  window->Graph().SeekToFrame(20);
  Dialog()->AddNew();
  EXPECT_EQ(Dialog()->Entries()[3], "00000020");
  EXPECT_EQ(Dialog()->Findings()[3].minute, 12);
  window->close();  // the main window's close saves the changed list
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"),
            "Interpretation time [min]: 12 12\r\n8\t0\toctal\r\n12\t3\r\n16\t2\thex\r\n20\t12\r\n30\t1\tlater\r\n");
}

TEST_F(FindingsTest, DetectorFileShowsLabelsAndMinuteZero) {
  const std::string text = "Interpretation auto ostrelection: 0\r\n137\t0\t Blood1 Ulcer2\r\n3\t0\t Ulcer1\r\n";
  window->Start(Q(ClipNamed("detected", 40, &text)));
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_EQ(Dialog()->Entries(), (QStringList{"00000003 Ulcer1", "00000137 Blood1 Ulcer2"}));
  for (const Finding& f : Dialog()->Findings()) EXPECT_EQ(f.minute, 0);
  EXPECT_EQ(Dialog()->Ticks(), 0);
}

TEST_F(FindingsTest, RemovingTheLastEntryWritesOnlyTheHeader) {
  const std::string text = "Interpretation time [min]: 2\n5\t1\tonly\n";
  const std::string clip = ClipNamed("single", 40, &text);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  Dialog()->Remove();  // nothing selected: nothing happens
  EXPECT_FALSE(Dialog()->Changed());
  Dialog()->Select(0);
  Dialog()->Remove();
  EXPECT_TRUE(Dialog()->Entries().isEmpty());
  EXPECT_EQ(Dialog()->Selected(), -1);
  Trigger(vireo::kCmdFindings);
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"), "Interpretation time [min]: 2 2\r\n");
}

TEST_F(FindingsTest, EditingReplacesTheTextAndKeepsFrameAndMinute) {
  const std::string text = "Interpretation time [min]: 0\n4\t7\told words\n9\t1\n";
  const std::string clip = ClipNamed("edited", 40, &text);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  Dialog()->StartEdit(1);
  EXPECT_TRUE(Dialog()->Editor()->isVisible());
  EXPECT_EQ(Dialog()->Editor()->text(), "");
  EXPECT_EQ(window->Graph().CurrentFrame(), 9);
  Dialog()->CommitEdit();  // unchanged: nothing happens
  EXPECT_FALSE(Dialog()->Changed());
  Dialog()->StartEdit(0);
  EXPECT_EQ(Dialog()->Editor()->text(), "old words");
  Dialog()->Editor()->selectAll();
  Type(Dialog()->Editor(), "new words");
  Dialog()->AddNew();  // commits first; the clip is at frame 4 now
  EXPECT_FALSE(Dialog()->Editor()->isVisible());
  EXPECT_EQ(Dialog()->Entries(), (QStringList{"00000004", "00000004 new words", "00000009 "}));
  Trigger(vireo::kCmdFindings);
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"), "Interpretation time [min]: 0 0\r\n4\t0\r\n4\t7\tnew words\r\n9\t1\r\n");
}

TEST_F(FindingsTest, FailedSaveAsKeepsTheListAndSaysWhy) {
  const std::string text = "Interpretation time [min]: 0\n1\t0\tone\n";
  window->Start(Q(ClipNamed("unwritable", 40, &text)));
  ASSERT_NE(Dialog(), nullptr);
  Dialog()->Select(0);
  Dialog()->Remove();
  const QString target = Q(ptest::ScratchDir() + "/missing-folder/out.txt");
  chosen = {target};
  Dialog()->Button(FindingsDialog::kSaveAs)->click();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Save Findings File...");
  EXPECT_TRUE(dialogs[0].initialPath.endsWith("unwritable.txt"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_TRUE(messages[0].text.contains(target)) << messages[0].text.toStdString();
  EXPECT_TRUE(Dialog()->Changed());
  EXPECT_FALSE(std::filesystem::exists(target.toStdString()));

  // A good name clears the changed flag.
  const std::string savedAs = ptest::ScratchDir() + "/saved-as.txt";
  chosen = {Q(savedAs)};
  Dialog()->Button(FindingsDialog::kSaveAs)->click();
  EXPECT_FALSE(Dialog()->Changed());
  EXPECT_EQ(ReadAll(savedAs), "Interpretation time [min]: 0 0\r\n");
}

TEST_F(FindingsTest, ClosingSaveThatFailsOffersAnotherName) {
  const std::string clip = ClipNamed("blocked", 40);
  window->Start(Q(clip));
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(Dialog(), nullptr);
  window->Graph().SeekToFrame(3);
  Dialog()->AddNew();
  // The clip's findings file cannot be written: a folder stands in its place.
  std::filesystem::create_directories(Stem(clip) + ".txt");
  answer = QMessageBox::Yes;
  const std::string rescued = ptest::ScratchDir() + "/rescued.txt";
  chosen = {Q(rescued)};
  Trigger(vireo::kCmdFindings);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.contains(Q(Stem(clip) + ".txt")));
  EXPECT_EQ(messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(ReadAll(rescued), "Interpretation time [min]: 0\r\n3\t0\r\n");
  EXPECT_EQ(Dialog(), nullptr);
}

// Findings belong to the clip they were made on, whichever way the next clip
// arrives and whether or not it has a findings file of its own.
TEST_F(FindingsTest, ChangingTheClipKeepsEachClipsFindingsInItsOwnFile) {
  const std::string textA = "Interpretation time [min]: 4\r\n7\t1\tfrom A\r\n";
  const std::string clipA = ClipNamed("A", 40, &textA);
  const std::string clipB = ClipNamed("B", 40);
  const std::string clipC = ClipNamed("C", 40);
  std::filesystem::rename(clipC, Stem(clipC) + ".qt");  // a clip without associated files
  window->Start(Q(clipA));
  ASSERT_NE(Dialog(), nullptr);
  window->Graph().SeekToFrame(3);
  Dialog()->AddNew();

  // "&Open clip..." on B: A's changed list goes to A.txt, B's list is empty.
  chosen = {Q(clipB)};
  Trigger(vireo::kCmdOpenClip);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(ReadAll(Stem(clipA) + ".txt"), "Interpretation time [min]: 4 4\r\n3\t4\r\n7\t1\tfrom A\r\n");
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_TRUE(Dialog()->Entries().isEmpty());
  EXPECT_EQ(Dialog()->Ticks(), 0);
  window->Graph().SeekToFrame(9);
  Dialog()->AddNew();

  // Closed and reopened, the window shows B's list, unsaved work included.
  Trigger(vireo::kCmdFindings);
  EXPECT_EQ(ReadAll(Stem(clipB) + ".txt"), "Interpretation time [min]: 0\r\n9\t0\r\n");
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_EQ(Dialog()->Entries(), QStringList{"00000009 "});
  window->Graph().SeekToFrame(11);
  Dialog()->AddNew();

  // A clip dropped that has no findings file of its own: B's list goes to
  // B.txt and the new list is saved only where the user says.
  const std::string mapB = Stem(clipB) + "-map.bmp";
  std::ofstream(mapB, std::ios::binary) << ptest::MapBytes(ptest::Rows(20, 1, 1));
  window->DropFile(Q(mapB));
  ASSERT_NE(window->Maps().Window(), nullptr);
  window->DropFile(Q(Stem(clipC) + ".qt"));
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(ReadAll(Stem(clipB) + ".txt"), "Interpretation time [min]: 0 0\r\n9\t0\r\n11\t0\r\n");
  EXPECT_TRUE(Dialog()->Entries().isEmpty());
  // Nor does B's map: a run now would not write over it.
  EXPECT_EQ(window->Maps().Window(), nullptr);
  EXPECT_TRUE(window->State().mapPath.isEmpty());
  EXPECT_TRUE(window->State().captureBase.isEmpty());
  window->Graph().SeekToFrame(2);
  Dialog()->AddNew();
  const std::string savedC = Stem(clipC) + "-findings.txt";
  answer = QMessageBox::Yes;
  chosen = {Q(savedC)};
  window->DropFile(Q(clipA));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "The findings of this clip have no findings file.");
  EXPECT_EQ(ReadAll(savedC), "Interpretation time [min]: 0\r\n2\t0\r\n");
  EXPECT_EQ(Dialog()->Entries(), (QStringList{"00000003 ", "00000007 from A"}));
  EXPECT_EQ(ReadAll(Stem(clipB) + ".txt"), "Interpretation time [min]: 0 0\r\n9\t0\r\n11\t0\r\n");
  EXPECT_FALSE(std::filesystem::exists(Stem(clipC) + ".txt"));
}

// A clip renamed on disk during the review: the next graph it needs (here to
// save a frame) says so, and the findings list still reaches its own file.
TEST_F(FindingsTest, AClipThatDisappearsWhileOpenIsNamedAndItsFindingsAreKept) {
  const std::string clip = ClipNamed("gone", 40);
  window->Start(Q(clip));
  Trigger(vireo::kCmdFindings);
  window->Graph().SeekToFrame(6);
  Dialog()->AddNew();
  std::filesystem::rename(clip, Stem(clip) + "-renamed.avi");
  chosen = {Q(Stem(clip) + "_frame.bmp")};
  Trigger(vireo::kCmdSaveFrame);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
  EXPECT_EQ(messages[0].text, "The clip " + Q(clip) + " is no longer there: it was deleted or renamed while open.");
  EXPECT_FALSE(window->Graph().HasGraph());
  EXPECT_EQ(dialogs.size(), 1u);  // the frame's name only
  ASSERT_NE(Dialog(), nullptr);
  window->close();
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"), "Interpretation time [min]: 0\r\n6\t0\r\n");
}

// A findings file that cannot be written when the clip changes: the user
// is told and may save the list elsewhere before it is replaced.
TEST_F(FindingsTest, UnwritableFindingsAtClipChangeAreOfferedAnotherName) {
  const std::string clipA = ClipNamed("A", 40);
  const std::string clipB = ClipNamed("B", 40);
  window->Start(Q(clipA));
  Trigger(vireo::kCmdFindings);
  window->Graph().SeekToFrame(5);
  Dialog()->AddNew();
  std::filesystem::create_directories(Stem(clipA) + ".txt");
  answer = QMessageBox::Yes;
  const std::string rescued = ptest::ScratchDir() + "/rescued-at-change.txt";
  chosen = {Q(rescued)};
  window->DropFile(Q(clipB));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.contains(Q(Stem(clipA) + ".txt")));
  EXPECT_EQ(ReadAll(rescued), "Interpretation time [min]: 0\r\n5\t0\r\n");
  EXPECT_FALSE(std::filesystem::exists(Stem(clipB) + ".txt"));
  Trigger(vireo::kCmdFindings);
  EXPECT_FALSE(std::filesystem::exists(Stem(clipB) + ".txt"));  // nothing changed on B
}

// Keys typed into the list or the editor are theirs: only the arrows on the
// list, while nothing is being edited, reach playback.
TEST_F(FindingsTest, KeysInTheListAndEditorStayThere) {
  const std::string text = "Interpretation time [min]: 0\n4\t0\tfirst\n9\t0\tsecond\n";
  const std::string clip = ClipNamed("keys", 40, &text);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  struct Case {
    const char* name;
    bool editing;
    Qt::Key key;
    QStringList entries;  // after the key
    bool editorShown;
    std::int64_t frame;
  };
  const QStringList original{"00000004 first", "00000009 second"};
  const Case cases[] = {
      {"Esc on the list", false, Qt::Key_Escape, original, false, 4},
      {"Enter on the list", false, Qt::Key_Return, original, false, 4},
      {"letter on the list", false, Qt::Key_Q, original, false, 4},
      {"Right on the list steps", false, Qt::Key_Right, original, false, 5},
      {"Esc in the editor cancels", true, Qt::Key_Escape, original, false, 4},
      {"Up in the editor", true, Qt::Key_Up, original, true, 4},
      {"Down in the editor", true, Qt::Key_Down, original, true, 4},
      {"Enter in the editor commits", true, Qt::Key_Return, {"00000004 firstx", "00000009 second"}, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dialog()->Select(0);
    QWidget* target = Dialog()->List();
    if (c.editing) {
      Dialog()->StartEdit(0);
      Dialog()->Editor()->end(false);
      QTest::keyClick(Dialog()->Editor(), Qt::Key_X);
      target = Dialog()->Editor();
    }
    QTest::keyClick(target, c.key);
    EXPECT_TRUE(window->Graph().HasGraph());
    EXPECT_FALSE(window->State().fullScreen);
    EXPECT_EQ(Dialog()->Editor()->isVisible(), c.editorShown);
    EXPECT_EQ(window->Graph().CurrentFrame(), c.frame);
    if (c.editorShown) QTest::keyClick(Dialog()->Editor(), Qt::Key_Escape);
    EXPECT_EQ(Dialog()->Entries(), c.entries);
    EXPECT_EQ(Dialog()->Selected(), 0);
  }
  EXPECT_TRUE(Dialog()->Changed());
}

TEST_F(FindingsTest, HugeFramesAndMinutesSurviveSaveAndLoad) {
  const std::string text = "Interpretation time [min]: 3000\n2000000\t2500\tfar\n";
  const std::string clip = ClipNamed("huge", 40, &text);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_EQ(Dialog()->Entries(), QStringList{"02000000 far"});
  window->Graph().SeekToFrame(2);
  Dialog()->AddNew();
  EXPECT_EQ(Dialog()->Findings()[0].minute, 3000);
  Trigger(vireo::kCmdFindings);
  EXPECT_EQ(ReadAll(Stem(clip) + ".txt"), "Interpretation time [min]: 3000 3000\r\n2\t3000\r\n2000000\t2500\tfar\r\n");
  // "Load..." reads it into an open dialog.
  Trigger(vireo::kCmdFindings);
  chosen = {Q(Stem(clip) + ".txt")};
  Dialog()->Button(FindingsDialog::kLoad)->click();
  EXPECT_EQ(Dialog()->Entries(), (QStringList{"00000002 ", "02000000 far"}));
  EXPECT_EQ(Dialog()->Findings()[1].frame, 2000000);
  EXPECT_EQ(Dialog()->Ticks(), 3000 * 300);
}

TEST_F(FindingsTest, BadFindingsFilesOpenWithoutHarm) {
  std::string junk = std::string("\x89PNG\r\n\x1a\n\x00\x00", 10);
  for (int i = 0; i < 2000; ++i) junk += static_cast<char>((i * 37) & 0xff);
  junk += "\n42\t1\tafter the junk\n" + std::string(100000, 'x') + "\n-5\t1\n";
  const std::string clip = ClipNamed("junk", 40, &junk);
  window->Start(Q(clip));
  ASSERT_NE(Dialog(), nullptr);
  ASSERT_FALSE(Dialog()->Entries().isEmpty());
  EXPECT_TRUE(Dialog()->Entries().contains("00000042 after the junk"));
  for (const Finding& f : Dialog()->Findings()) EXPECT_GE(f.frame, 0);
  EXPECT_TRUE(window->Graph().HasGraph());
}

TEST_F(FindingsTest, AddNewWithoutClipDoesNothing) {
  window->Start({});
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(Dialog(), nullptr);
  Dialog()->Tick();
  EXPECT_EQ(Dialog()->ViewedText(), "Viewed frame unknown");
  Dialog()->AddNew();
  EXPECT_TRUE(Dialog()->Entries().isEmpty());
  EXPECT_FALSE(Dialog()->Changed());
}

// The measures are written with "." also under a locale with decimal commas.
TEST_F(FindingsTest, AddNewWithAMapRecordsTheMeasuresOfTheFramesRow) {
  vtest::CommaLocale comma;
  ASSERT_TRUE(comma.Active());
  const std::string clip = ClipNamed("mapped", 60, nullptr, 128);
  const char* bin = std::getenv("VIREO_BIN_DIR");
  const std::string command = std::string(bin ? bin : ".") + "/vireo-preprocess '" + clip + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  window->Start(Q(clip));
  const vireo::MapState& map = window->Map();
  ASSERT_TRUE(map.Loaded());
  ASSERT_TRUE(map.Egomotion());
  ASSERT_GT(map.Rows(), 2);
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(Dialog(), nullptr);

  // A frame between two rows' frames takes the later row; one past the last
  // row's frame takes the last row.
  const int middle = map.Rows() / 2;
  const std::int64_t before = map.Record(middle - 1).frame, at = map.Record(middle).frame;
  ASSERT_LT(before, at);
  for (const auto& [frame, row] :
       {std::pair<std::int64_t, int>{before + 1, middle}, std::pair<std::int64_t, int>{at, middle}}) {
    SCOPED_TRACE(frame);
    window->Graph().SeekToFrame(frame);
    Dialog()->AddNew();
    const int selected = Dialog()->Selected();
    ASSERT_GE(selected, 0);
    const QStringList fields = Dialog()->Entries()[selected].split(' ');
    ASSERT_EQ(fields.size(), 12);
    EXPECT_EQ(fields[0], QString::asprintf("%08lld", static_cast<long long>(frame)));
    for (const QString& field : fields.mid(1)) EXPECT_TRUE(field.contains(QRegularExpression("^-?\\d+\\.\\d{4}$")));
    const vireo::MapRecord record = map.Record(row);
    EXPECT_EQ(fields[1], QString::asprintf("%4.4f", record.deformation));
    EXPECT_EQ(fields[2], QString::asprintf("%4.4f", record.imageDifference));
    EXPECT_EQ(fields[3], QString::asprintf("%4.4f", record.drift));
    EXPECT_EQ(fields[4], QString::asprintf("%4.4f", record.velocity));
    EXPECT_LE(std::abs(fields[5].toDouble()), 180.0);
    // Mean red of the row's picture pixels, counted here from the bytes.
    double red = 0;
    for (int x = 0; x < map.Width(); ++x) red += map.Row(row)[3 * x + 2];
    EXPECT_EQ(fields[6], QString::asprintf("%4.4f", red / map.Width()));
    for (int c : {7, 9, 11}) EXPECT_GE(fields[c].toDouble(), 0.0);
  }
}

}  // namespace
