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

namespace {

// Clips a batch takes, by the text after the last dot in any case (the
// path itself keeps its case).
bool PreprocessExtension(const QString& ext) {
  for (const char* known : {".avi", ".mov", ".m1v", ".mpg", ".mpeg"})
    if (ext.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) return true;
  return false;
}

}  // namespace

int MainWindow::AskPreviewMode() {
  MessageRequest request;
  request.owner = this;
  request.caption = QStringLiteral("Question");
  request.text = QStringLiteral(
      "Preview video while being preprocessed?\r\nYes - slower and may stop when a screensaver turns on\r\nNo - "
      "faster, no preview");
  request.icon = QMessageBox::Question;
  request.buttons = QMessageBox::Yes | QMessageBox::No;
  return ShowMessage(request) == QMessageBox::Yes ? kModeMdrPreview : kModeMdr;
}

void MainWindow::RunAnalysisPhase() {
  graph_.SetRate(1.0);
  {
    AnalysisDialog dialog(graph_, this);
    analysis_ = &dialog;
    dialog.exec();
  }
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
  const QStringList chosen = AskFiles(ask);
  if (chosen.isEmpty() || chosen.first().isEmpty() || chosen.first().size() >= PATH_MAX) return;
  state_.mapPath = chosen.first();

  maps_->Close();
  DestroyControls();
  if (findings_) findings_->close();  // writes a changed list
  CloseClip();
  state_.graphMode = AskPreviewMode();
  runOutputLost_ = false;
  OpenClip();
  if (graph_.HasGraph()) {
    graph_.Run();
    RunAnalysisPhase();
    state_.graphMode = kModePlain;
    OpenClip();
    if (!runOutputLost_) LoadMap(state_.mapPath);
  }
  state_.graphMode = kModePlain;
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
  if (files.isEmpty()) {
    state_.graphMode = kModePlain;
    return;
  }
  maps_->Close();
  DestroyControls();
  CloseClip();

  for (const QString& path : files) {
    if (path.size() >= PATH_MAX) continue;
    state_.clipPath = path;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || !PreprocessExtension(path.mid(dot))) continue;
    state_.mapPath = path.left(dot) + QStringLiteral(".bmp");
    state_.graphMode = AskPreviewMode();
    OpenClip();
    if (graph_.HasGraph()) {
      graph_.Run();
      RunAnalysisPhase();
    }
    state_.graphMode = kModePlain;
  }
  state_.graphMode = kModePlain;
  state_.clipPath.clear();
  // The last run's filter completes its map when it is released.
  graph_.ReleaseFilters();
  UpdateTitle();
}

}  // namespace vireo
