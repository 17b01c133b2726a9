#include "map_viewer.h"

#include <algorithm>

#include "map_file.h"
#include "map_window.h"
#include "messages.h"
#include "player/graph.h"
#include "player_state.h"

namespace vireo {

MapViewer::MapViewer(PlaybackGraph& graph, QWidget* owner)
    : graph_(graph), owner_(owner), rateMeasure_(PlayerState{}.rateControl) {}

MapViewer::~MapViewer() {
  if (window_) delete window_.data();
}

void MapViewer::Free() {
  map_.Clear();
  tables_ = RateTables{};
}

void MapViewer::Load(const QString& path) {
  Close();
  MapFile file = ReadMapFile(path.toStdString());
  if (file.status == MapFile::Status::kCannotOpen) {
    // A run's own graph asks no question.
    if (graph_.HasGraph() && IsAnalysisMode(graph_.Mode())) return;
    const auto question =
        MessageRequest::Box(owner_, QMessageBox::Question, QStringLiteral("Map file"),
                            QStringLiteral("Cannot open the associated map file.\r\nPreprocess video now?"))
            .WithButtons(QMessageBox::Yes | QMessageBox::No);
    if (ShowMessage(question) == QMessageBox::Yes) emit preprocessRequested();
    return;
  }
  if (file.status != MapFile::Status::kOk) {
    ShowMessage(MessageRequest::Box(owner_, QMessageBox::Warning, QStringLiteral("Error!"),
                                    QStringLiteral("Failed to open bitmap header")));
    return;
  }
  if (file.unfinished)
    ShowMessage(MessageRequest::Box(
        owner_, QMessageBox::Warning, QStringLiteral("Warning"),
        QStringLiteral("The map file was not completed; showing the %1 rows it holds.").arg(file.rows)));

  map_.Assign(std::move(file.header), std::move(file.pixels), file.width, file.rows, file.stride, file.bitCount, false);
  if (file.bitCount == 24 && file.rows > 0) {
    std::int32_t previous = 0;
    int decreasing = 0;
    for (int row = 0; row < file.rows; ++row) {
      const std::int32_t frame = map_.Record(row).frame;
      if (frame < previous) ++decreasing;
      previous = frame;
    }
    if (decreasing == 0) {
      map_.SetEgomotion(true);
      tables_ = BuildRateTable(map_, rateMeasure_);
    } else {
      ShowMessage(MessageRequest::Box(owner_, QMessageBox::Warning, QStringLiteral("Warning"),
                                      QStringLiteral("Egomotion data not available!")));
    }
  }

  window_ = new MapWindow(*this, owner_);
  connect(window_, &MapWindow::keyPressed, this, &MapViewer::keyPressed);
  connect(window_, &MapWindow::fileDropped, this, &MapViewer::fileDropped);
  emit windowOpened(window_);
  window_->show();
  window_->SetRateTimer(rateControlOn_);
}

void MapViewer::Close() {
  if (window_) window_->close();
  // A window that was never shown gets no close event.
  if (window_) WindowClosed();
  Free();
}

void MapViewer::WindowClosed() {
  MapWindow* window = window_;
  window_ = nullptr;
  if (window) window->deleteLater();
  if (graph_.HasGraph()) {
    graph_.ApplyRate(graph_.Rate());
    emit titleChanged(0.0);
  }
  Free();
}

void MapViewer::SetRateControl(int measure, bool on) {
  rateMeasure_ = measure;
  rateControlOn_ = on;
  if (!on) {
    if (window_) window_->SetRateTimer(false);
    emit titleChanged(0.0);
    return;
  }
  if (window_ && !tables_.table.empty() && map_.Loaded() && map_.Egomotion()) {
    tables_ = BuildRateTable(map_, rateMeasure_);
    window_->SetRateTimer(true);
    window_->Refresh();
  }
}

bool MapViewer::Running() const { return graph_.State() == PlayState::kRunning; }

void MapViewer::Pause() {
  if (!graph_.HasGraph()) return;
  graph_.Pause();
  emit titleChanged(0.0);
}

void MapViewer::PauseAndSeekRow(int row) {
  Pause();
  if (!map_.Loaded() || !map_.Egomotion() || row < 0 || row >= map_.Rows() || !graph_.HasGraph()) return;
  std::int64_t frame = map_.Record(row).frame;
  // A map of another clip may name frames beyond this one's end.
  const std::int64_t total = graph_.TotalFrames();
  if (total > 0) frame = std::min(frame, total - 1);
  graph_.SeekToFrame(frame);
}

void MapViewer::Run() {
  if (!graph_.HasGraph()) return;
  graph_.Run();
  emit titleChanged(0.0);
}

int MapViewer::CurrentRow() const {
  if (!map_.Loaded() || !map_.Egomotion() || !graph_.HasGraph()) return -1;
  const std::int64_t frame = graph_.CurrentFrame();
  for (int row = 0; row < map_.Rows(); ++row)
    if (map_.Record(row).frame >= frame) return row;
  return -1;
}

void MapViewer::RateTick() {
  if (!Running() || tables_.table.empty()) return;
  const std::int64_t frame = graph_.CurrentFrame();
  if (frame < 0 || frame >= static_cast<std::int64_t>(tables_.table.size())) return;
  const double rate = tables_.table[static_cast<std::size_t>(frame)] * graph_.Rate();
  if (rate != lastAppliedRate_) {
    graph_.ApplyRate(rate);
    emit titleChanged(graph_.GraphRate());
  }
  lastAppliedRate_ = rate;
}

}  // namespace vireo
