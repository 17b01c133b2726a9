// The loaded MDR map with its "MDR Map" window, the measures strip and
// Automatic Rate Control. Owned by the main window; acts on the playback
// graph and tells its owner by signals what the title and the commands need.
#pragma once

#include <QKeyEvent>
#include <QObject>
#include <QPointer>
#include <QString>

#include "map_state.h"
#include "map_window.h"
#include "rate_table.h"

namespace vireo {

class PlaybackGraph;

class MapViewer : public QObject {
  Q_OBJECT
 public:
  // `owner`: the window that owns the map window and the message boxes.
  MapViewer(PlaybackGraph& graph, QWidget* owner);
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
  // After a command of Automatic Rate Control: the measure's menu id and
  // whether the control is on.
  void SetRateControl(int measure, bool on);

  // Called by the window.
  void Pause();
  void PauseAndSeekRow(int row);
  void Run();
  // The row of the current frame, or -1 (no measures, or no such row).
  int CurrentRow() const;
  bool Running() const;
  void RateTick();
  void WindowClosed();

 signals:
  // The play state or the rate changed; `appliedRate` is the rate Automatic
  // Rate Control set (0: the user's).
  void titleChanged(double appliedRate);
  // The user wants the clip preprocessed (no map could be opened).
  void preprocessRequested();
  // Keys and files the map window received.
  void keyPressed(QKeyEvent* event);
  void fileDropped(const QString& path);
  // The map window was made and is about to be shown.
  void windowOpened(QWidget* window);

 private:
  void Free();

  PlaybackGraph& graph_;
  QWidget* owner_;
  int rateMeasure_;
  bool rateControlOn_ = false;
  MapState map_;
  RateTables tables_;
  QPointer<MapWindow> window_;
  double lastAppliedRate_ = 0.0;
};

}  // namespace vireo
