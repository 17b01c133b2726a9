// The player's main window: menu and commands, keys, title, dropped files,
// opening and closing clips through the playback graph, window sizes and
// full screen, and the tool windows (Controls, Findings, MDR Map).
#pragma once

#include <QKeyEvent>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <span>

#include "controls_dialog.h"
#include "findings_dialog.h"
#include "map_viewer.h"
#include "player/graph.h"
#include "player_state.h"
#include "window_layout.h"

class QAction;
class QActionGroup;
class QMenu;
class QTimer;

namespace vireo {

class AnalysisDialog;
class ReportExport;
class VideoWidget;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow();
  ~MainWindow() override;

  // Start-up with an optional clip from the command line.
  void Start(const QString& clipArgument);

  // Runs command `id` as its menu item does, also while the item is disabled
  // (keys and the map's "Preprocess video now?" reach commands this way).
  void RunCommand(int id);
  // Opens a dropped file: a ".bmp" as a map, anything else as a clip.
  void DropFile(const QString& path);

  PlaybackGraph& Graph() { return graph_; }
  const PlayerState& State() const { return state_; }
  QAction* Action(int id) const;
  ControlsDialog* Controls() const { return controls_; }
  VideoWidget* Video() const { return video_; }
  FindingsDialog* Findings() const { return findings_; }
  // The loaded MDR map (empty without one) and its window.
  const MapState& Map() const { return maps_->State(); }
  MapViewer& Maps() { return *maps_; }

 public slots:
  // The keyboard table; the tool windows pass their keys here too.
  void HandleKey(QKeyEvent* event);
  // The title with the user's rate, or with `appliedRate` when Automatic Rate
  // Control has set one.
  void UpdateTitle(double appliedRate = 0.0);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  // One slot per command of the command table.
  void OpenClipCommand();
  void Exit();
  void CloseClipCommand();
  void PausePlay();
  void Stop();
  void ToggleMute();
  void ToggleFullScreen();
  void ResizeVideo();  // the checked size item
  void Faster();
  void Slower();
  void RateNormal();
  void RateDouble();
  void RateHalf();
  void FrameStep();
  void SwitchLayout();       // the checked "&Multiframe" item
  void SelectRateControl();  // the checked "Automatic Rate Control" item
  void ToggleControls();
  void ToggleFindings();
  void OpenMapDialog();
  void SaveFrame();
  void ExportReport();
  void DetectPathologies();
  void PreprocessVideo();
  void PreprocessBatch();
  void ShowAbout();
  void OpenManual();
  void ShowFilterProperties();
  void ShowMdrParameters();

  // What the tool windows report.
  void ControlsClosed();
  void FindingsClosed();
  void PauseForReview();
  void SeekToFinding(qint64 frame);
  void ReportWritten(const QString& path, const QString& failure, const QStringList& notes);
  // Redraws the Controls timeline from the open findings list and the
  // detector's flags.
  void UpdateTimeline();

 private:
  struct CommandSpec;
  static std::span<const CommandSpec> Commands();
  void BuildActions();
  void BuildMenu();
  void AddItems(QMenu* menu, std::initializer_list<int> ids);

  // Clip life cycle.
  void OpenClip(int mode);
  void CloseClip();
  enum class FindingsWindow { kClose, kKeep };
  // Closes the map window, the Controls, the Findings (unless kept; it
  // writes a changed list) and the clip, before a run takes the clip over.
  void CloseClipAndWindows(FindingsWindow findings);
  // The map and findings files beside the clip; the Findings list follows
  // the clip even when it has none.
  void LoadAssociatedFiles();
  void LoadMap(const QString& path);
  void LoadFindings(const QString& path);
  // The Findings window's pictures come from the clip shown, if any.
  void ShowFindingPictures();
  // Reads the pathology run's findings of the clip (none when unreadable).
  void LoadDetectorFindings(const QString& path);
  void QueueGraphEvent(const GraphEvent& event);
  FindingsDialog* CreateFindings();
  void OnGraphEvent(const GraphEvent& event, int generation);
  void ShowPluginWarning(const std::string& text);
  void ShowControls();
  void DestroyControls();
  // The modal part of an analysis run: rate 1.0, the "Video Analysis"
  // dialog until the end of the stream or "Abort".
  void RunAnalysisDialog();
  void RunAnalysisPhase();
  int AskPreviewMode();
  // The parameters set on the "MDR parameters..." page; none (the filter's
  // defaults) when it was never opened.
  std::optional<MdrParameters> MdrSettings() const;
  bool ShowPropertySheet(GstElement* element, const QString& caption);

  // Windows and sizes.
  // What each review window wants and accepts, also before it exists.
  ReviewSizes WindowSizes() const;
  void InitPlayerWindow();
  void InitVideoWindow(int multiplier, int divider);
  void CheckSize(int id);
  void EnableWithClip(bool enabled);
  void EnableWithPicture(bool enabled);

  PlaybackGraph graph_;
  PlayerState state_;
  VideoWidget* video_;
  QPointer<ControlsDialog> controls_;
  QPointer<FindingsDialog> findings_;
  QPointer<AnalysisDialog> analysis_;  // the Video Analysis dialog while a run shows it
  std::map<int, QAction*> actions_;
  QActionGroup* sizes_;
  QActionGroup* layouts_;
  QActionGroup* rateMeasures_;
  std::unique_ptr<MapViewer> maps_;
  WindowPlaces* places_;
  std::vector<Finding> detectorFindings_;  // of state_.detectorFindingsPath
  QTimer* timelineUpdate_;
  ReportExport* reportExport_;      // one redraw per burst of list changes
  std::atomic<int> generation_{0};  // events of released graphs are ignored
  QString reviewedClip_;        // the clip last opened: its graphs are rebuilt from its path
  bool runOutputLost_ = false;  // the analysis run's plug-in lost its output file
  GstElement* mdrSettings_ = nullptr;  // the session's MDR parameters, once asked for
};

}  // namespace vireo
