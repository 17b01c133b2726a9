// The loaded MDR map with its "MDR Map" window, the measures strip and
// Automatic Rate Control. Owned by the main window.
#pragma once

#include <QPointer>
#include <QString>

#include "map_state.h"
#include "map_window.h"
#include "rate_table.h"

namespace vireo {

class MainWindow;

class MapViewer {
 public:
  explicit MapViewer(MainWindow& main);
  ~MapViewer();
  MapViewer(const MapViewer&) = delete;
  MapViewer& operator=(const MapViewer&) = delete;

  const MapState& State() const { return map_; }
  const RateTables& Tables() const { return tables_; }
  MapWindow* Window() const { return window_; }
  double LastAppliedRate() const { return lastAppliedRate_; }

  // Reads the map at `path` and opens its window (closes the previous one first).
  void Load(const QString& path);
  // Closes the window: the rate returns to the user's, the map is dropped.
  void Close();
  // After a command of Automatic Rate Control changed the main window's choice.
  void RateControlChanged();

  // Called by the window.
  void Pause();
  void PauseAndSeekRow(int row);
  void Run();
  // The row of the current frame, or -1 (no measures, or no such row).
  int CurrentRow() const;
  bool Running() const;
  void RateTick();
  void WindowClosed();

 private:
  void Free();

  MainWindow& main_;
  MapState map_;
  RateTables tables_;
  QPointer<MapWindow> window_;
  double lastAppliedRate_ = 0.0;
};

}  // namespace vireo
