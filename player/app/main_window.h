// The player's main window: menu and commands, keys, title, dropped files,
// opening and closing clips through the playback graph, window sizes and
// full screen, and the Controls dialog.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <atomic>
#include <map>
#include <memory>

#include "controls_dialog.h"
#include "findings_dialog.h"
#include "map_viewer.h"
#include "player/graph.h"

class QAction;
class QMenu;

namespace vireo {

class VideoWidget;

// Menu and command identifiers.
enum Command : int {
  kCmdOpenClip = 40001, kCmdExit = 40002, kCmdPausePlay = 40003, kCmdStop = 40004, kCmdCloseClip = 40005,
  kCmdMute = 40006, kCmdFullScreen = 40007, kCmdNormalSize = 40008, kCmdHalfSize = 40009,
  kCmdDoubleSize = 40010, kCmdThreeQuarterSize = 40012, kCmdSaveFrame = 40013, kCmdDetect = 40014,
  kCmdAbout = 40015, kCmdFaster = 40020, kCmdSlower = 40021, kCmdRateNormal = 40022, kCmdRateDouble = 40023,
  kCmdRateHalf = 40024, kCmdFrameStep = 40025, kCmdPreprocess = 40026, kCmdOpenMap = 40050,
  kCmdControls = 40052, kCmdBatchPreprocess = 110, kCmdFindings = 113, kCmdLayoutFirst = 115,
  kCmdLayoutLast = 124, kCmdManual = 126, kCmdRateOff = 133, kCmdRateVelocity = 134, kCmdRateDrift = 135,
  kCmdRateRoll = 136, kCmdRateDeformation = 137, kCmdRateCombination = 138, kCmdRateImage = 139,
  // Not a command of the original menu: the property pages of the graph's plug-ins.
  kCmdFilterProperties = 40060,
};

// Program-wide state of the player (the graph keeps play state, rates,
// volume and frame rate).
struct PlayerState {
  QString clipPath;
  QString mapPath;
  QString findingsPath;
  QString captureBase;
  QString exportVideoPath;
  int graphMode = kModePlain;
  int mosaicCols = 1;
  int mosaicRows = 1;
  int rateControl = kCmdRateCombination;
  bool rateControlOn = false;
  bool fullScreen = false;
  QString lastOpenFolder = QStringLiteral("/");
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow();
  ~MainWindow() override;

  // Start-up with an optional clip from the command line.
  void Start(const QString& clipArgument);

  void Execute(int id);
  void HandleKey(QKeyEvent* event);
  // Opens a dropped file: a ".bmp" as a map, anything else as a clip.
  void DropFile(const QString& path);

  PlaybackGraph& Graph() { return graph_; }
  const PlayerState& State() const { return state_; }
  QAction* Action(int id) const;
  ControlsDialog* Controls() const { return controls_; }
  VideoWidget* Video() const { return video_; }
  // The title with the user's rate, or with `appliedRate` when Automatic Rate
  // Control has set one.
  void UpdateTitle(double appliedRate = 0.0);
  void ControlsClosed();
  FindingsDialog* Findings() const { return findings_; }
  void FindingsClosed();
  // The loaded MDR map (empty without one) and its window.
  const MapState& Map() const { return maps_->State(); }
  MapViewer& Maps() { return *maps_; }
  // The modal part of an analysis run: rate 1.0, the "Video Analysis"
  // dialog until the end of the stream or "Abort", then stop and close.
  void RunAnalysisPhase();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenu();
  QAction* AddItem(QMenu* menu, const QString& label, int id, bool checkable = false);
  void SetEnabled(std::initializer_list<int> ids, bool enabled);
  void CheckOnly(std::initializer_list<int> group, int id);

  // Clip life cycle.
  void OpenClip();
  void CloseClip();
  void LoadAssociatedFiles();
  void LoadMap(const QString& path);
  void LoadFindings(const QString& path);
  void QueueGraphEvent(const GraphEvent& event);
  void OnGraphEvent(const GraphEvent& event, int generation);
  void ShowPluginWarning(const std::string& text);
  void ShowControls(bool placeBelow);
  void DestroyControls();

  // Windows and sizes.
  void InitPlayerWindow();
  void InitVideoWindow(int multiplier, int divider);
  void SizeCommand(int id);
  void ToggleFullScreen();
  void SwitchLayout(int id);

  void RateControl(int id);
  void ShowAbout();
  void OpenManual();
  void ShowFilterProperties();
  void OpenMapDialog();

  // Findings, pathology run and frame saving (in their own files).
  void ToggleFindings();
  void DetectPathologies();
  void SaveFrame();

  // Preprocessing runs (preprocess_commands.cpp).
  void PreprocessVideo();
  void PreprocessBatch();
  int AskPreviewMode();

  PlaybackGraph graph_;
  PlayerState state_;
  VideoWidget* video_;
  QPointer<ControlsDialog> controls_;
  QPointer<FindingsDialog> findings_;
  QPointer<QDialog> analysis_;  // the Video Analysis dialog while a run shows it
  std::map<int, QAction*> actions_;
  std::unique_ptr<MapViewer> maps_;
  std::atomic<int> generation_{0};  // events of released graphs are ignored
  bool runOutputLost_ = false;       // the analysis run's plug-in lost its output file
};

}  // namespace vireo
