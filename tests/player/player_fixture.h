// The player program headless, shared by the program suites: one
// QApplication, a fresh main window per test, message boxes and file dialogs
// recorded and answered by the test instead of a user.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "main_window.h"
#include "messages.h"
#include "preprocess_file_dialog.h"

namespace ptest {

QString Q(const std::string& s);

class PlayerFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // The answer to a message box. By default the question whether to
  // preprocess a clip without a map ("Map file") gets `mapAnswer`, every
  // other box `answer`.
  virtual QMessageBox::StandardButton Answer(const vireo::MessageRequest& request);

  // Lets queued events (frames, graph events, timers) arrive until `done`.
  static bool WaitFor(const std::function<bool()>& done, int ms = 10000);

  void Key(int key);
  // Triggers the command's menu action, as a click on the item does.
  void Trigger(int id);
  QString Title() const;
  bool Enabled(int id) const;
  bool Checked(int id) const;

  std::unique_ptr<vireo::MainWindow> window;

  // Message boxes: every one is recorded in `messages`, except "Map file"
  // questions unless `recordMapQuestions`; those are counted in `mapQuestions`.
  std::vector<vireo::MessageRequest> messages;
  int mapQuestions = 0;
  bool recordMapQuestions = false;
  QMessageBox::StandardButton mapAnswer = QMessageBox::No;
  QMessageBox::StandardButton answer = QMessageBox::Ok;

  // File dialogs: every request is recorded in `dialogs`; the n-th is
  // answered with `fileAnswers[n]` when there is one (empty: cancelled), any
  // other with `chosen` (empty: cancelled).
  std::vector<vireo::FileDialogRequest> dialogs;
  std::vector<QString> fileAnswers;
  QStringList chosen;
};

}  // namespace ptest
