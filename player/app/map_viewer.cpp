#include "map_viewer.h"

#include <algorithm>

#include "main_window.h"
#include "map_file.h"
#include "map_window.h"
#include "messages.h"

namespace vireo {

MapViewer::MapViewer(MainWindow& main) : main_(main) {}

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
  MessageRequest request;
  request.owner = &main_;
  if (file.status == MapFile::Status::kCannotOpen) {
    if (IsAnalysisMode(main_.State().graphMode)) return;
    request.caption = QStringLiteral("Map file");
    request.text = QStringLiteral("Cannot open the associated map file.\r\nPreprocess video now?");
    request.icon = QMessageBox::Question;
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    if (ShowMessage(request) == QMessageBox::Yes) main_.Execute(kCmdPreprocess);
    return;
  }
  if (file.status != MapFile::Status::kOk) {
    request.caption = QStringLiteral("Error!");
    request.text = QStringLiteral("Failed to open bitmap header");
    request.icon = QMessageBox::Warning;
    ShowMessage(request);
    return;
  }
  if (file.unfinished) {
    request.caption = QStringLiteral("Warning");
    request.text = QStringLiteral("The map file was not completed; showing the %1 rows it holds.").arg(file.rows);
    request.icon = QMessageBox::Warning;
    ShowMessage(request);
  }

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
      tables_ = BuildRateTable(map_, main_.State().rateControl);
    } else {
      request.caption = QStringLiteral("Warning");
      request.text = QStringLiteral("Egomotion data not available!");
      request.icon = QMessageBox::Warning;
      ShowMessage(request);
    }
  }

  window_ = new MapWindow(*this, &main_);
  window_->show();
  window_->SetRateTimer(main_.State().rateControlOn);
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
  PlaybackGraph& graph = main_.Graph();
  if (graph.HasGraph()) {
    graph.ApplyRate(graph.Rate());
    main_.UpdateTitle();
  }
  Free();
}

void MapViewer::RateControlChanged() {
  if (!main_.State().rateControlOn) {
    if (window_) window_->SetRateTimer(false);
    main_.UpdateTitle();
    return;
  }
  if (window_ && !tables_.table.empty() && map_.Loaded() && map_.Egomotion()) {
    tables_ = BuildRateTable(map_, main_.State().rateControl);
    window_->SetRateTimer(true);
    window_->Refresh();
  }
}

bool MapViewer::Running() const { return main_.Graph().State() == PlayState::kRunning; }

void MapViewer::Pause() {
  if (!main_.Graph().HasGraph()) return;
  main_.Graph().Pause();
  main_.UpdateTitle();
}

void MapViewer::PauseAndSeekRow(int row) {
  Pause();
  PlaybackGraph& graph = main_.Graph();
  if (!map_.Loaded() || !map_.Egomotion() || row < 0 || row >= map_.Rows() || !graph.HasGraph()) return;
  std::int64_t frame = map_.Record(row).frame;
  // A map of another clip may name frames beyond this one's end.
  const std::int64_t total = graph.TotalFrames();
  if (total > 0) frame = std::min(frame, total - 1);
  graph.SeekToFrame(frame);
}

void MapViewer::Run() {
  if (!main_.Graph().HasGraph()) return;
  main_.Graph().Run();
  main_.UpdateTitle();
}

int MapViewer::CurrentRow() const {
  if (!map_.Loaded() || !map_.Egomotion() || !main_.Graph().HasGraph()) return -1;
  const std::int64_t frame = main_.Graph().CurrentFrame();
  for (int row = 0; row < map_.Rows(); ++row)
    if (map_.Record(row).frame >= frame) return row;
  return -1;
}

void MapViewer::RateTick() {
  PlaybackGraph& graph = main_.Graph();
  if (!Running() || tables_.table.empty()) return;
  const std::int64_t frame = graph.CurrentFrame();
  if (frame < 0 || frame >= static_cast<std::int64_t>(tables_.table.size())) return;
  const double rate = tables_.table[static_cast<std::size_t>(frame)] * graph.Rate();
  if (rate != lastAppliedRate_) {
    graph.ApplyRate(rate);
    main_.UpdateTitle(graph.GraphRate());
  }
  lastAppliedRate_ = rate;
}

}  // namespace vireo
