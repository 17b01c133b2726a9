// "&Preprocess video" and "Select video(s) to preprocess": runs of clips
// through the MDR tracking filter, which writes their maps.
#include <QFileInfo>
#include <climits>

#include "main_window.h"
#include "map_viewer.h"
#include "messages.h"
#include "preprocess_dialog.h"
#include "preprocess_file_dialog.h"

namespace vireo {

int MainWindow::AskPreviewMode() {
  const auto request =
      MessageRequest::Box(this, QMessageBox::Question, QStringLiteral("Question"),
                          QStringLiteral("Preview video while being preprocessed?\r\nYes - slower and may stop when "
                                         "a screensaver turns on\r\nNo - faster, no preview"))
          .WithButtons(QMessageBox::Yes | QMessageBox::No);
  return ShowMessage(request) == QMessageBox::Yes ? kModeMdrPreview : kModeMdr;
}

void MainWindow::RunAnalysisDialog() {
  graph_.SetRate(1.0);
  AnalysisDialog dialog(graph_, this);
  analysis_ = &dialog;
  dialog.exec();
}

void MainWindow::RunAnalysisPhase() {
  RunAnalysisDialog();
  graph_.StopAndRewind();
  CloseClip();
}

void MainWindow::PreprocessVideo() {
  if (!graph_.HasGraph() || state_.clipPath.isEmpty()) return;
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Save map as...");
  ask.initialPath = state_.mapPath;
  ask.filter = QStringLiteral("Windows bitmap (*.bmp)");
  ask.defaultSuffix = QStringLiteral("bmp");
  ask.save = true;
  const QString chosen = AskOne(ask);
  if (chosen.isEmpty() || chosen.size() >= PATH_MAX) return;
  state_.mapPath = chosen;

  CloseClipAndWindows(FindingsWindow::kClose);
  runOutputLost_ = false;
  OpenClip(AskPreviewMode());
  state_.viewMode = kModePlain;
  if (graph_.HasGraph()) {
    graph_.Run();
    RunAnalysisPhase();
    OpenClip(kModePlain);
    if (!runOutputLost_) LoadMap(state_.mapPath);
  }
  InitVideoWindow(1, 1);
}

void MainWindow::PreprocessBatch() {
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Open Video File(s)...");
  ask.initialPath = state_.lastOpenFolder;
  ask.filter = QStringLiteral("Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v);;All Files (*)");
  ask.multiple = true;
  const QStringList files = AskFiles(ask);
  state_.viewMode = kModePlain;
  if (files.isEmpty()) return;
  CloseClipAndWindows(FindingsWindow::kKeep);

  for (const QString& path : files) {
    if (path.size() >= PATH_MAX) continue;
    state_.clipPath = path;
    if (!HasClipExtension(path)) continue;
    state_.mapPath = path.left(path.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".bmp");
    OpenClip(AskPreviewMode());
    if (graph_.HasGraph()) {
      graph_.Run();
      RunAnalysisPhase();
    }
  }
  state_.clipPath.clear();
  // The last run's filter completes its map when it is released.
  graph_.ReleaseFilters();
  UpdateTitle();
}

}  // namespace vireo
