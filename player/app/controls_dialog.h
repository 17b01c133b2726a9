// The "Controls" tool window: progress bar (click to seek) with the clip's
// timeline of findings and detector flags behind the position, run, stop,
// pause, step back and forward, rate down and up, and the frame and rate
// text. It reads the graph and asks its owner, by signals, to act on it.
#pragma once

#include <QDialog>
#include <QKeyEvent>
#include <map>

#include "timeline_bar.h"

class QLabel;
class QPushButton;

namespace vireo {

class PlaybackGraph;

class ControlsDialog : public QDialog {
  Q_OBJECT
 public:
  // Control identifiers of the dialog's template.
  enum : int {
    kProgress = 1009,
    kRun = 1008,
    kStop = 1020,
    kPause = 1012,
    kStepBack = 1010,
    kStepForward = 1011,
    kSlower = 1013,
    kFaster = 1014,
    kText = 1029,
  };

  ControlsDialog(const PlaybackGraph& graph, QWidget* owner);
  // The dialog's size before it exists, to plan the other windows around it.
  static QSize StartSize();

  // Whether the rate text shows the rate Automatic Rate Control applies too.
  void SetRateControlOn(bool on) { rateControlOn_ = on; }
  // Refreshes the progress and the text (the 200 ms timer).
  void Tick();
  QString Text() const;
  int Progress() const;
  TimelineBar* ProgressBar() const { return progress_; }
  // The findings and detector flags drawn behind the position.
  void SetMarks(TimelineMarks marks);
  QPushButton* Button(int id) const;

 signals:
  void runRequested();
  void pauseRequested();
  void stopRequested();
  void stepRequested(int direction);
  void rateChangeRequested(double delta);
  void seekRequested(qint64 position);
  // After a button's request: the play state or rate may have changed.
  void playbackChanged();
  void keyPressed(QKeyEvent* event);
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Clicked(int id);
  // Seeks to the place of a click on the progress bar.
  void SeekTo(int x);

  const PlaybackGraph& graph_;
  TimelineBar* progress_;
  std::map<int, QPushButton*> buttons_;
  QLabel* text_;
  bool rateControlOn_ = false;
  int clickLock_ = 0;
};

}  // namespace vireo
