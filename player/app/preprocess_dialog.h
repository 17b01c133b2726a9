// The modal "Video Analysis" dialog of a preprocessing or pathology run:
// progress text and bar once a second, "Abort". The main window finishes it
// at the end of the stream. Only "Abort", or the window's close button after
// the user confirms, ends a run early; Esc does not.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vireo {

class PlaybackGraph;

class AnalysisDialog : public QDialog {
 public:
  AnalysisDialog(PlaybackGraph& graph, QWidget* owner);

  // Ends the dialog without asking: the end of the stream or "Abort".
  void Finish();
  // One second has passed: elapsed time, progress text and bar.
  void Tick();
  QString Text() const;
  int Percent() const;
  QPushButton* AbortButton() const { return abort_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  PlaybackGraph& graph_;
  QLabel* text_;
  QProgressBar* progress_;
  QPushButton* abort_;
  QTimer timer_;
  std::int64_t elapsed_ = 0;
  bool finishing_ = false;
};

// The progress text for `current` of `total` frames after `elapsed` seconds.
QString AnalysisProgressText(std::int64_t current, std::int64_t total, std::int64_t elapsed);
int AnalysisPercent(std::int64_t current, std::int64_t total);

}  // namespace vireo
