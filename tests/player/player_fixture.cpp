#include "player_fixture.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <cstdlib>

#include "clips.h"

namespace ptest {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void PlayerFixture::SetUpTestSuite() {
  static int argc = 1;
  static char name[] = "test_player";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) {
    // Offscreen, the screen is a file's: 1280 x 1024, as on a reviewing desk.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string(platform) == "offscreen") {
      const std::string config = WriteFile(
          "screen.json", R"({"screens":[{"name":"S","x":0,"y":0,"width":1280,"height":1024,"logicalDpi":96}]})");
      setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    }
    vireo::InitGraphLayer(nullptr);
    new QApplication(argc, argv);
  }
}

void PlayerFixture::SetUp() {
  vireo::SetMessageHook([this](const vireo::MessageRequest& r) {
    const bool mapQuestion = r.caption == "Map file";
    if (mapQuestion) ++mapQuestions;
    if (!mapQuestion || recordMapQuestions) messages.push_back(r);
    return Answer(r);
  });
  vireo::SetFileDialogHook([this](const vireo::FileDialogRequest& r) {
    dialogs.push_back(r);
    const std::size_t n = dialogs.size() - 1;
    if (n < fileAnswers.size()) return fileAnswers[n].isEmpty() ? QStringList() : QStringList{fileAnswers[n]};
    return chosen;
  });
  window = std::make_unique<vireo::MainWindow>();
}

void PlayerFixture::TearDown() {
  window.reset();
  vireo::SetMessageHook({});
  vireo::SetFileDialogHook({});
}

QMessageBox::StandardButton PlayerFixture::Answer(const vireo::MessageRequest& request) {
  return request.caption == "Map file" ? mapAnswer : answer;
}

bool PlayerFixture::WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void PlayerFixture::Key(int key) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
  window->HandleKey(&event);
}

void PlayerFixture::Trigger(int id) {
  QAction* action = window->Action(id);
  ASSERT_NE(action, nullptr) << id;
  action->trigger();
}

QString PlayerFixture::Title() const { return window->windowTitle(); }
bool PlayerFixture::Enabled(int id) const { return window->Action(id)->isEnabled(); }
bool PlayerFixture::Checked(int id) const { return window->Action(id)->isChecked(); }

}  // namespace ptest
