// The "Controls" tool window: progress bar (click to seek), run, stop, pause,
// step back and forward, rate down and up, and the frame and rate text.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vireo {

class MainWindow;

class ControlsDialog : public QDialog {
  Q_OBJECT
 public:
  // Control identifiers of the dialog's template.
  enum : int {
    kProgress = 1009, kRun = 1008, kStop = 1020, kPause = 1012, kStepBack = 1010,
    kStepForward = 1011, kSlower = 1013, kFaster = 1014, kText = 1029,
  };

  explicit ControlsDialog(MainWindow* main);

  // Refreshes the progress and the text (the 200 ms timer).
  void Tick();
  QString Text() const;
  int Progress() const;
  QProgressBar* ProgressBar() const { return progress_; }
  QPushButton* Button(int id) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Clicked(int id);
  // Seeks to the place of a click on the progress bar.
  void SeekTo(int x);

  MainWindow* main_;
  QProgressBar* progress_;
  QLabel* text_;
  int clickLock_ = 0;
};

}  // namespace vireo
