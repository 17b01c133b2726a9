#include "main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <climits>

#include "controls_dialog.h"
#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "messages.h"
#include "plugin_pages.h"
#include "preprocess_dialog.h"
#include "preprocess_file_dialog.h"
#include "report_export.h"
#include "video_widget.h"

namespace vireo {

namespace {

constexpr int kMinimumSide = 256;
constexpr double kRateStep = 0.25;
constexpr int kSeparator = 0;

// The multi-image layouts of the "&Multiframe" items.
struct Layout {
  int id, cols, rows;
};
constexpr Layout kLayouts[] = {{115, 1, 1}, {116, 2, 1}, {117, 3, 1}, {118, 2, 2}, {119, 3, 2},
                               {120, 3, 3}, {121, 4, 3}, {122, 5, 3}, {123, 5, 4}, {124, 6, 4}};

QIcon AppIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(200, 60, 50));
  painter.setPen(QPen(QColor(90, 20, 20), 2));
  painter.drawRoundedRect(QRectF(3, 9, 26, 14), 7, 7);
  painter.setBrush(QColor(250, 240, 200));
  painter.drawEllipse(QPointF(22, 16), 4, 4);
  return QIcon(pixmap);
}

}  // namespace

// ---- the command table ------------------------------------------------------

// One row per command: its menu label, the slot its action triggers, when it
// is enabled, the exclusive group of checkable items it belongs to and the
// keys of the keyboard table that run it whatever the play state.
struct MainWindow::CommandSpec {
  enum class Needs { kNothing, kClip, kPicture };
  enum class Group { kNone, kSize, kLayout, kRateMeasure };
  int id;
  const char* label;
  void (MainWindow::*slot)();
  Needs needs = Needs::kNothing;
  bool checkable = false;
  Group group = Group::kNone;
  std::array<int, 3> keys{};
};

std::span<const MainWindow::CommandSpec> MainWindow::Commands() {
  using N = CommandSpec::Needs;
  using G = CommandSpec::Group;
  static const CommandSpec table[] = {
      {kCmdOpenClip, "&Open clip...", &MainWindow::OpenClipCommand},
      {kCmdOpenMap, "Open map...", &MainWindow::OpenMapDialog},
      {kCmdCloseClip,
       "&Close clip",
       &MainWindow::CloseClipCommand,
       N::kNothing,
       false,
       G::kNone,
       {Qt::Key_Q, Qt::Key_X, Qt::Key_F12}},
      {kCmdSaveFrame, "&Save frame...", &MainWindow::SaveFrame},
      {kCmdExportReport, "Export report...", &MainWindow::ExportReport, N::kClip},
      {kCmdExit, "E&xit", &MainWindow::Exit},
      {kCmdControls, "&Controls...", &MainWindow::ToggleControls, N::kNothing, true},
      {kCmdFindings, "&Findings...", &MainWindow::ToggleFindings, N::kNothing, true},
      {115, "1 x 1", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {116, "2 x 1", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {117, "3 x 1", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {118, "2 x 2", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {119, "3 x 2", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {120, "3 x 3", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {121, "4 x 3", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {122, "5 x 3", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {123, "5 x 4", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {124, "6 x 4", &MainWindow::SwitchLayout, N::kNothing, true, G::kLayout},
      {kCmdFilterProperties, "Filter properties...", &MainWindow::ShowFilterProperties},
      {kCmdPausePlay, "&Pause/Play\tP", &MainWindow::PausePlay, N::kClip, false, G::kNone, {Qt::Key_P}},
      {kCmdStop, "&Stop\tS", &MainWindow::Stop, N::kClip, false, G::kNone, {Qt::Key_S}},
      {kCmdFrameStep,
       "Single F&rame Step\t<Space>",
       &MainWindow::FrameStep,
       N::kPicture,
       false,
       G::kNone,
       {Qt::Key_Space, Qt::Key_1}},
      {kCmdHalfSize, "&Half size (50%)\tH", &MainWindow::ResizeVideo, N::kPicture, true, G::kSize, {Qt::Key_H}},
      {kCmdNormalSize, "&Normal size (100%)\tN", &MainWindow::ResizeVideo, N::kPicture, true, G::kSize, {Qt::Key_N}},
      {kCmdDoubleSize, "&Double size (200%)\tD", &MainWindow::ResizeVideo, N::kPicture, true, G::kSize, {Qt::Key_D}},
      {kCmdFullScreen,
       "&Full Screen\t<Enter> or F",
       &MainWindow::ToggleFullScreen,
       N::kPicture,
       false,
       G::kNone,
       {Qt::Key_Return, Qt::Key_Enter, Qt::Key_F}},
      {kCmdFaster, "&Increase Playback Rate\t<Right arrow>", &MainWindow::Faster, N::kClip},
      {kCmdSlower, "&Decrease Playback Rate\t<Left arrow>", &MainWindow::Slower, N::kClip},
      {kCmdRateCombination, "Combination", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateDeformation, "Deformation", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateImage, "Image", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateVelocity, "Velocity", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateDrift, "Drift", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateRoll, "Roll", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdRateOff, "Off", &MainWindow::SelectRateControl, N::kNothing, true, G::kRateMeasure},
      {kCmdPreprocess, "&Preprocess video", &MainWindow::PreprocessVideo, N::kClip},
      {kCmdBatchPreprocess, "Select video(s) to preprocess", &MainWindow::PreprocessBatch},
      {kCmdMdrParameters, "MDR parameters...", &MainWindow::ShowMdrParameters},
      {kCmdDetect, "&Detect pathologies", &MainWindow::DetectPathologies},
      {kCmdManual, "Manual...", &MainWindow::OpenManual},
      {kCmdAbout, "&About...", &MainWindow::ShowAbout},
      // Commands without a menu item.
      {kCmdThreeQuarterSize, "3/4 size", &MainWindow::ResizeVideo, N::kPicture, true, G::kSize, {Qt::Key_T}},
      {kCmdMute, "Mute", &MainWindow::ToggleMute, N::kClip, false, G::kNone, {Qt::Key_M}},
      {kCmdRateNormal, "Rate 1.0", &MainWindow::RateNormal, N::kClip},
      {kCmdRateDouble, "Rate 2.0", &MainWindow::RateDouble, N::kClip},
      {kCmdRateHalf, "Rate 0.5", &MainWindow::RateHalf, N::kClip},
  };
  return table;
}

MainWindow::MainWindow() {
  setWindowTitle(QStringLiteral("Vireo Video Player"));
  setWindowIcon(AppIcon());
  setAcceptDrops(true);
  setMinimumSize(kMinimumSide, kMinimumSide);
  video_ = new VideoWidget(this);
  video_->setMinimumSize(1, 1);
  setCentralWidget(video_);
  BuildActions();
  BuildMenu();
  timelineUpdate_ = new QTimer(this);
  timelineUpdate_->setSingleShot(true);
  timelineUpdate_->setInterval(0);
  connect(timelineUpdate_, &QTimer::timeout, this, &MainWindow::UpdateTimeline);

  graph_.SetFrameHandler([this](const VideoFrame& frame) { video_->Deliver(frame); });
  graph_.SetEventHandler([this](const GraphEvent& event) { QueueGraphEvent(event); });
  graph_.SetDiagnosticHandler([this](const Diagnostic& d) {
    if (d.kind == Diagnostic::Kind::kDiagnostic) {
      ShowDiagnostic(QString::fromStdString(d.text), QString::fromStdString(d.detail));
      return;
    }
    ShowMessage(
        MessageRequest::Box(this, QMessageBox::Critical, QStringLiteral("Failed"), QString::fromStdString(d.text))
            .WithDetail(QString::fromStdString(d.detail)));
  });
  RegisterPluginPages();
  reportExport_ = new ReportExport(this);
  connect(reportExport_, &ReportExport::finished, this, &MainWindow::ReportWritten);
  places_ = new WindowPlaces(this, [this] { return WindowSizes(); });
  maps_ = std::make_unique<MapViewer>(graph_, this);
  connect(maps_.get(), &MapViewer::windowOpened, this,
          [this](QWidget* window) { places_->Place(window, ReviewWindow::kMap); });
  connect(maps_.get(), &MapViewer::titleChanged, this, &MainWindow::UpdateTitle);
  connect(maps_.get(), &MapViewer::preprocessRequested, this, [this] { RunCommand(kCmdPreprocess); });
  connect(maps_.get(), &MapViewer::keyPressed, this, &MainWindow::HandleKey);
  connect(maps_.get(), &MapViewer::fileDropped, this, &MainWindow::DropFile);
}

MainWindow::~MainWindow() {
  // The graph's handlers refer to this window: stop the streaming first.
  graph_.Close();
  if (mdrSettings_) gst_object_unref(mdrSettings_);
}

// ---- actions and menu -------------------------------------------------------

void MainWindow::BuildActions() {
  sizes_ = new QActionGroup(this);
  layouts_ = new QActionGroup(this);
  rateMeasures_ = new QActionGroup(this);
  for (const CommandSpec& command : Commands()) {
    auto* action = new QAction(QString::fromUtf8(command.label), this);
    action->setData(command.id);
    action->setCheckable(command.checkable);
    switch (command.group) {
      case CommandSpec::Group::kSize: sizes_->addAction(action); break;
      case CommandSpec::Group::kLayout: layouts_->addAction(action); break;
      case CommandSpec::Group::kRateMeasure: rateMeasures_->addAction(action); break;
      case CommandSpec::Group::kNone: break;
    }
    connect(action, &QAction::triggered, this, command.slot);
    actions_[command.id] = action;
  }
  Action(kLayouts[0].id)->setChecked(true);
  Action(kCmdNormalSize)->setChecked(true);
  Action(kCmdRateOff)->setChecked(true);
}

void MainWindow::AddItems(QMenu* menu, std::initializer_list<int> ids) {
  for (int id : ids) {
    if (id == kSeparator)
      menu->addSeparator();
    else
      menu->addAction(Action(id));
  }
}

void MainWindow::BuildMenu() {
  AddItems(menuBar()->addMenu(QStringLiteral("&File")), {kCmdOpenClip, kCmdOpenMap, kCmdCloseClip, kSeparator,
                                                         kCmdSaveFrame, kCmdExportReport, kSeparator, kCmdExit});
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  AddItems(view, {kCmdControls, kCmdFindings});
  QMenu* multi = view->addMenu(QStringLiteral("&Multiframe"));
  for (const Layout& layout : kLayouts) AddItems(multi, {layout.id});
  AddItems(view, {kSeparator, kCmdFilterProperties});
  AddItems(menuBar()->addMenu(QStringLiteral("&Control")),
           {kCmdPausePlay, kCmdStop, kCmdFrameStep, kSeparator, kCmdHalfSize, kCmdNormalSize, kCmdDoubleSize,
            kSeparator, kCmdFullScreen});
  QMenu* rate = menuBar()->addMenu(QStringLiteral("&Rate"));
  AddItems(rate, {kCmdFaster, kCmdSlower, kSeparator});
  AddItems(rate->addMenu(QStringLiteral("Automatic Rate Control")),
           {kCmdRateCombination, kCmdRateDeformation, kCmdRateImage, kCmdRateVelocity, kCmdRateDrift, kCmdRateRoll,
            kSeparator, kCmdRateOff});
  AddItems(menuBar()->addMenu(QStringLiteral("&Analysis")),
           {kCmdPreprocess, kCmdBatchPreprocess, kCmdMdrParameters, kSeparator, kCmdDetect});
  AddItems(menuBar()->addMenu(QStringLiteral("&Help")), {kCmdManual, kSeparator, kCmdAbout});
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::EnableWithClip(bool enabled) {
  for (const CommandSpec& command : Commands())
    if (command.needs == CommandSpec::Needs::kClip) Action(command.id)->setEnabled(enabled);
}

void MainWindow::EnableWithPicture(bool enabled) {
  for (const CommandSpec& command : Commands())
    if (command.needs == CommandSpec::Needs::kPicture) Action(command.id)->setEnabled(enabled);
}

void MainWindow::RunCommand(int id) {
  for (const CommandSpec& command : Commands()) {
    if (command.id != id) continue;
    // The slot of a group reads the checked item, as after a click.
    if (command.group != CommandSpec::Group::kNone) Action(id)->setChecked(true);
    (this->*command.slot)();
    return;
  }
}

// ---- start, commands, keys ------------------------------------------------

void MainWindow::Start(const QString& clipArgument) {
  QString clip = clipArgument;
  if (clip.size() >= 2 && clip.startsWith(QLatin1Char('"')) && clip.endsWith(QLatin1Char('"')))
    clip = clip.mid(1, clip.size() - 2);
  state_.clipPath = clip.left(PATH_MAX - 1);
  UpdateTitle();
  InitPlayerWindow();
  showNormal();
  raise();
  activateWindow();
  if (state_.clipPath.size() > 4) {
    OpenClip(state_.viewMode);
    LoadAssociatedFiles();
  }
  RunCommand(kCmdRateCombination);
}

void MainWindow::OpenClipCommand() {
  state_.viewMode = kModePlain;
  if (graph_.HasGraph()) {
    state_.clipPath.clear();
    CloseClip();
  }
  OpenClip(kModePlain);
  LoadAssociatedFiles();
}

void MainWindow::Exit() { close(); }

void MainWindow::CloseClipCommand() {
  state_.clipPath.clear();
  CloseClip();
}

void MainWindow::PausePlay() {
  graph_.TogglePausePlay();
  UpdateTitle();
}

void MainWindow::Stop() {
  graph_.StopAndRewind();
  UpdateTitle();
}

void MainWindow::ToggleMute() {
  graph_.ToggleMute();
  UpdateTitle();
}

void MainWindow::Faster() {
  if (fh::SUCCEEDED(graph_.ChangeRate(+kRateStep))) UpdateTitle();
}

void MainWindow::Slower() {
  if (fh::SUCCEEDED(graph_.ChangeRate(-kRateStep))) UpdateTitle();
}

void MainWindow::RateNormal() {
  if (graph_.HasGraph() && fh::SUCCEEDED(graph_.SetRate(1.0))) UpdateTitle();
}

void MainWindow::RateDouble() {
  if (graph_.HasGraph() && fh::SUCCEEDED(graph_.SetRate(2.0))) UpdateTitle();
}

void MainWindow::RateHalf() {
  if (graph_.HasGraph() && fh::SUCCEEDED(graph_.SetRate(0.5))) UpdateTitle();
}

void MainWindow::FrameStep() { graph_.StepOneFrame(+1); }

void MainWindow::keyPressEvent(QKeyEvent* event) { HandleKey(event); }

void MainWindow::HandleKey(QKeyEvent* event) {
  const bool running = graph_.State() == PlayState::kRunning;
  const int key = event->key();
  switch (key) {
    case Qt::Key_Escape:
      if (state_.fullScreen)
        ToggleFullScreen();
      else
        CloseClipCommand();
      break;
    case Qt::Key_Left:
      if (running)
        Slower();
      else
        graph_.StepOneFrame(-1);
      break;
    case Qt::Key_Right:
      if (running)
        Faster();
      else
        graph_.StepOneFrame(+1);
      break;
    case Qt::Key_Up:
      graph_.Run();
      if (graph_.HasGraph()) graph_.SetRate(1.0);
      UpdateTitle();
      break;
    case Qt::Key_Down:
      graph_.Pause();
      if (graph_.HasGraph()) graph_.SetRate(1.0);
      UpdateTitle();
      break;
    default:
      if (key >= Qt::Key_2 && key <= Qt::Key_9) {
        graph_.StepFrames(key - Qt::Key_0);
        UpdateTitle();
        break;
      }
      const auto commands = Commands();
      const auto command = std::find_if(commands.begin(), commands.end(), [key](const CommandSpec& c) {
        return std::find(c.keys.begin(), c.keys.end(), key) != c.keys.end();
      });
      if (command == commands.end()) {
        event->ignore();
        return;
      }
      RunCommand(command->id);
  }
  event->accept();
}

void MainWindow::UpdateTitle(double appliedRate) {
  if (!graph_.HasGraph() || state_.clipPath.isEmpty()) {
    setWindowTitle(QStringLiteral("Vireo Video Player"));
    return;
  }
  const QString name = QFileInfo(state_.clipPath).fileName();
  const QString rate =
      QString::asprintf("(Rate:%2.2f)", (appliedRate > 0.0 ? appliedRate : graph_.Rate()) * graph_.FrameRate());
  setWindowTitle(QStringLiteral("%1 %2%3%4")
                     .arg(name.isEmpty() ? state_.clipPath : name,
                          graph_.Volume() == kVolumeMuted ? QStringLiteral("(Muted)") : QString(),
                          graph_.State() == PlayState::kPaused ? QStringLiteral("(Paused)") : QString(), rate));
}

// ---- clips ----------------------------------------------------------------

void MainWindow::OpenClip(int mode) {
  if (state_.clipPath.isEmpty()) {
    UpdateTitle();
    InitPlayerWindow();
    showNormal();
    raise();
    FileDialogRequest ask;
    ask.owner = this;
    ask.title = QStringLiteral("Open Video File...");
    ask.initialPath = state_.lastOpenFolder;
    ask.filter = QStringLiteral("Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v);;All Files (*)");
    const QString chosen = AskOne(ask);
    if (chosen.isEmpty()) return;
    state_.lastOpenFolder = QFileInfo(chosen).absolutePath();
    state_.clipPath = chosen.left(PATH_MAX - 1);
  }
  if (auto refused = RefusedClipMessage(state_.clipPath.toStdString())) {
    ShowDiagnostic(QString::fromStdString(*refused));
    state_.clipPath.clear();
    return;
  }
  if (state_.clipPath == reviewedClip_ && !QFileInfo::exists(state_.clipPath)) {
    // The clip went away under the review; its findings list stays open,
    // attached to its own file.
    ShowMessage(MessageRequest::Box(
        this, QMessageBox::Critical, QStringLiteral("Error"),
        QStringLiteral("The clip %1 is no longer there: it was deleted or renamed while open.").arg(state_.clipPath)));
    state_.clipPath.clear();
    CloseClip();
    return;
  }

  GraphRequest request;
  request.clipPath = state_.clipPath.toStdString();
  request.mode = mode;
  request.mapPath = state_.mapPath.toStdString();
  if (mode == kModeMdr || mode == kModeMdrPreview) request.mdrParameters = MdrSettings();
  request.findingsPath = state_.findingsPath.toStdString();
  request.exportPath = state_.exportVideoPath.toStdString();
  request.mosaicCols = state_.mosaicCols;
  request.mosaicRows = state_.mosaicRows;
  ++generation_;
  if (fh::FAILED(graph_.Assemble(request))) {
    state_.clipPath.clear();
    CloseClip();
    return;
  }
  ++generation_;
  reviewedClip_ = state_.clipPath;
  // Warnings of the assembled graph arrive like the events of its run.
  for (const GraphEvent& warning : graph_.TakePrerollWarnings()) QueueGraphEvent(warning);

  EnableWithClip(true);
  if (graph_.HasVideo())
    InitVideoWindow(1, 1);
  else
    InitPlayerWindow();
  EnableWithClip(true);
  CheckSize(kCmdNormalSize);
  state_.fullScreen = false;
  showNormal();
  raise();
  activateWindow();
  UpdateTitle();

  if (IsAnalysisMode(mode))
    DestroyControls();
  else if (!controls_)
    ShowControls();
  UpdateTimeline();
  ShowFindingPictures();
}

void MainWindow::CloseClip() {
  ++generation_;
  if (state_.fullScreen) ToggleFullScreen();
  graph_.Close();
  state_.fullScreen = false;
  video_->Clear();
  UpdateTitle();
  InitPlayerWindow();
  ShowFindingPictures();
  UpdateTimeline();
}

void MainWindow::CloseClipAndWindows(FindingsWindow findings) {
  maps_->Close();
  DestroyControls();
  if (findings == FindingsWindow::kClose && findings_) findings_->close();  // writes a changed list
  CloseClip();
}

void MainWindow::LoadAssociatedFiles() {
  const QString& clip = state_.clipPath;
  if (clip.isEmpty()) return;
  state_.detectorFindingsPath.clear();
  detectorFindings_.clear();
  if (clip.size() > PATH_MAX - 2 || !HasClipExtension(clip)) {
    // Neither the earlier clip's files nor its map belong to this clip:
    // findings, maps and frames made now are saved only where the user says.
    state_.findingsPath.clear();
    state_.mapPath.clear();
    state_.captureBase.clear();
    maps_->Close();
    if (findings_) findings_->AttachTo(QString());
    return;
  }
  const QString stem = clip.left(clip.lastIndexOf(QLatin1Char('.')));
  state_.captureBase = stem + QLatin1Char('_');
  state_.mapPath = stem + QStringLiteral(".bmp");
  state_.findingsPath = stem + QStringLiteral(".txt");
  LoadMap(state_.mapPath);
  LoadFindings(state_.findingsPath);
  // Where "Detect pathologies" offers to put the detector's findings.
  LoadDetectorFindings(state_.captureBase + QStringLiteral(".txt"));
}

void MainWindow::LoadDetectorFindings(const QString& path) {
  state_.detectorFindingsPath = path;
  const auto file = ReadFindingsFile(QFile::encodeName(path).toStdString());
  detectorFindings_ = file ? file->findings : std::vector<Finding>{};
  UpdateTimeline();
}

void MainWindow::ShowFindingPictures() {
  // An analysis run has the clip to itself.
  const bool shown = graph_.HasGraph() && !IsAnalysisMode(graph_.Mode());
  if (findings_) findings_->ShowPicturesOf(shown ? state_.clipPath : QString());
}

void MainWindow::UpdateTimeline() {
  if (!controls_) return;
  const std::int64_t frames = graph_.HasGraph() ? graph_.TotalFrames(true) : 0;
  controls_->SetMarks(
      CollectMarks(frames, findings_ ? findings_->Findings() : std::vector<Finding>{}, detectorFindings_));
}

void MainWindow::LoadMap(const QString& path) {
  state_.mapPath = path;
  maps_->Load(path);
}

void MainWindow::DropFile(const QString& path) {
  if (path.isEmpty() || path.size() >= PATH_MAX) return;
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0 && path.mid(dot).compare(QLatin1String(".bmp"), Qt::CaseInsensitive) == 0) {
    LoadMap(path);
    return;
  }
  if (graph_.HasGraph()) CloseClip();
  state_.clipPath = path;
  OpenClip(state_.viewMode);
  LoadAssociatedFiles();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  DropFile(urls.first().toLocalFile());
}

// Called on streaming threads too: the event reaches OnGraphEvent on the
// window's thread, tagged with the graph it belongs to.
void MainWindow::QueueGraphEvent(const GraphEvent& event) {
  const int generation = generation_;
  QMetaObject::invokeMethod(
      this, [this, event, generation] { OnGraphEvent(event, generation); }, Qt::QueuedConnection);
}

void MainWindow::OnGraphEvent(const GraphEvent& event, int generation) {
  if (generation != generation_ || !graph_.HasGraph()) return;
  if (event.kind == GraphEvent::Kind::kComplete) {
    if (!IsAnalysisMode(graph_.Mode())) {
      graph_.StopAndRewind();
      UpdateTitle();
    } else if (analysis_) {
      analysis_->Finish();
    }
  } else if (event.kind == GraphEvent::Kind::kError) {
    // A stream that breaks while playing (a truncated or damaged file) ends
    // the clip with GStreamer's explanation rather than a frozen picture.
    CloseClipCommand();
    if (analysis_) analysis_->Finish();
    ShowMessage(MessageRequest::Box(this, QMessageBox::Critical, QStringLiteral("Error"),
                                    QStringLiteral("Playback of the clip stopped."))
                    .WithDetail(QString::fromStdString(event.text)));
  } else {
    ShowPluginWarning(event.text);
  }
}

// A plug-in that cannot create or write its output file goes on without it
// and says so on the bus. The user is told, and an analysis run whose output
// is lost is not followed by loading that file.
void MainWindow::ShowPluginWarning(const std::string& text) {
  const int mode = graph_.Mode();
  // "Save frame" reports the outcome of its capture itself, once.
  if (mode == kModeCapture) return;
  const QString warning = QString::fromStdString(text);
  const QString output = mode == kModeMdr || mode == kModeMdrPreview ? state_.mapPath
                         : mode == kModePathology                    ? state_.findingsPath
                                                                     : QString();
  const bool aboutOutput = !output.isEmpty() && warning.contains(QLatin1Char('"') + output + QLatin1Char('"'));
  if (aboutOutput) runOutputLost_ = true;
  MessageRequest request;
  request.owner = this;
  if (aboutOutput && (warning.startsWith(QLatin1String("Error creating file")) ||
                      warning.startsWith(QLatin1String("Cannot create")))) {
    request.caption = QStringLiteral("Error creating file");
    request.text = output;
    request.detail = warning;
    request.icon = QMessageBox::Critical;
  } else {
    request.caption = QStringLiteral("Warning");
    request.text = warning;
    request.icon = QMessageBox::Warning;
  }
  ShowMessage(request);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  CloseClipAndWindows(FindingsWindow::kClose);
  state_.clipPath.clear();
  event->accept();
}

// ---- Controls dialog --------------------------------------------------------

void MainWindow::ShowControls() {
  controls_ = new ControlsDialog(graph_, this);
  controls_->SetRateControlOn(state_.rateControlOn);
  connect(controls_, &ControlsDialog::runRequested, this, [this] { graph_.Run(); });
  connect(controls_, &ControlsDialog::pauseRequested, this, [this] { graph_.Pause(); });
  connect(controls_, &ControlsDialog::stopRequested, this, [this] { graph_.StopAndRewind(); });
  connect(controls_, &ControlsDialog::stepRequested, this, [this](int direction) { graph_.StepOneFrame(direction); });
  connect(controls_, &ControlsDialog::rateChangeRequested, this, [this](double delta) { graph_.ChangeRate(delta); });
  connect(controls_, &ControlsDialog::seekRequested, this, [this](qint64 position) { graph_.SetPosition(position); });
  connect(controls_, &ControlsDialog::playbackChanged, this, [this] { UpdateTitle(); });
  connect(controls_, &ControlsDialog::keyPressed, this, &MainWindow::HandleKey);
  connect(controls_, &ControlsDialog::closed, this, &MainWindow::ControlsClosed);
  UpdateTimeline();
  controls_->adjustSize();
  places_->Place(controls_, ReviewWindow::kControls);
  controls_->show();
  Action(kCmdControls)->setChecked(true);
}

void MainWindow::ToggleControls() {
  if (controls_)
    DestroyControls();
  else
    ShowControls();
}

void MainWindow::DestroyControls() {
  if (controls_) controls_->close();
  ControlsClosed();
}

void MainWindow::ControlsClosed() {
  controls_ = nullptr;
  Action(kCmdControls)->setChecked(false);
}

// ---- window sizes -----------------------------------------------------------

void MainWindow::InitPlayerWindow() {
  if (!state_.fullScreen) {
    resize(kMinimumSide, kMinimumSide);
    places_->RefitMain();
  }
  CheckSize(kCmdNormalSize);
  EnableWithClip(graph_.HasGraph());
  EnableWithPicture(false);
}

void MainWindow::InitVideoWindow(int multiplier, int divider) {
  int width = 0, height = 0;
  if (!graph_.HasGraph() || !graph_.VideoSize(&width, &height)) return;
  EnableWithPicture(true);
  width = width * multiplier / divider;
  height = height * multiplier / divider;
  if (!state_.fullScreen) {
    resize(width, height + menuBar()->sizeHint().height());
    places_->RefitMain();
  }
}

ReviewSizes MainWindow::WindowSizes() const {
  ReviewSizes sizes;
  auto entry = [&sizes](ReviewWindow which) -> WindowSize& { return sizes[static_cast<std::size_t>(which)]; };
  entry(ReviewWindow::kMain) = {size(), minimumSize()};
  const QSize controls = controls_ ? controls_->size() : ControlsDialog::StartSize();
  entry(ReviewWindow::kControls) = {controls, controls};
  const MapWindow* map = maps_->Window();
  entry(ReviewWindow::kMap) = map ? WindowSize{map->size(), map->minimumSize()} : MapWindow::StartSize(this);
  entry(ReviewWindow::kFindings) = {findings_ ? findings_->size() : FindingsDialog::kStartSize,
                                    FindingsDialog::kMinimumSize};
  return sizes;
}

void MainWindow::CheckSize(int id) { Action(id)->setChecked(true); }

void MainWindow::ResizeVideo() {
  switch (sizes_->checkedAction()->data().toInt()) {
    case kCmdHalfSize: InitVideoWindow(1, 2); break;
    case kCmdDoubleSize: InitVideoWindow(2, 1); break;
    case kCmdThreeQuarterSize: InitVideoWindow(3, 4); break;
    default: InitVideoWindow(1, 1); break;
  }
}

void MainWindow::ToggleFullScreen() {
  if (state_.fullScreen) {
    menuBar()->show();
    showNormal();
    raise();
    activateWindow();
    state_.fullScreen = false;
  } else if (graph_.HasGraph() && graph_.HasVideo()) {
    menuBar()->hide();
    showFullScreen();
    state_.fullScreen = true;
  }
}

void MainWindow::SwitchLayout() {
  const int id = layouts_->checkedAction()->data().toInt();
  const std::int64_t position = graph_.HasGraph() ? graph_.CurrentPosition() : -1;
  graph_.StopAndRewind();
  CloseClip();
  const Layout& layout = kLayouts[id - kCmdLayoutFirst];
  state_.mosaicCols = layout.cols;
  state_.mosaicRows = layout.rows;
  state_.viewMode = layout.cols == 1 && layout.rows == 1 ? kModePlain : kModeMultiImage;
  // Without a clip there is nothing to show again (no file dialog here).
  if (state_.clipPath.isEmpty()) return;
  OpenClip(state_.viewMode);
  if (!graph_.HasGraph()) return;
  if (position > 0) graph_.SetPosition(position);
  graph_.Run();
  graph_.SetRate(1.0);
  UpdateTitle();
}

// ---- automatic rate control (its map window comes with the map) -------------

void MainWindow::SelectRateControl() {
  const int id = rateMeasures_->checkedAction()->data().toInt();
  state_.rateControl = id;
  state_.rateControlOn = id != kCmdRateOff;
  if (id == kCmdRateOff && graph_.HasGraph()) graph_.SetRate(graph_.Rate());
  if (controls_) controls_->SetRateControlOn(state_.rateControlOn);
  maps_->SetRateControl(state_.rateControl, state_.rateControlOn);
}

// ---- help and dialogs ---------------------------------------------------------

void MainWindow::ShowAbout() {
  QDialog box(this);
  box.setWindowTitle(QStringLiteral("About PlayVireo"));
  auto* layout = new QHBoxLayout(&box);
  auto* icon = new QLabel(&box);
  icon->setPixmap(windowIcon().pixmap(32, 32));
  layout->addWidget(icon, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  column->addWidget(new QLabel(QStringLiteral("PlayVireo - version 1.2 "), &box));
  column->addWidget(new QLabel(QStringLiteral("Video player for wireless capsule endoscopy"), &box));
  column->addWidget(new QLabel(QStringLiteral("with the Model of Deformable Rings preprocessing"), &box));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  column->addWidget(buttons);
  layout->addLayout(column);
  box.exec();
}

void MainWindow::OpenManual() {
  const QDir dir(QCoreApplication::applicationDirPath());
  for (const QString& candidate :
       {dir.filePath(QStringLiteral("Manual.pdf")), dir.filePath(QStringLiteral("../share/doc/vireo/Manual.pdf"))}) {
    if (QFileInfo::exists(candidate) && QDesktopServices::openUrl(QUrl::fromLocalFile(candidate))) return;
  }
  ShowMessage(MessageRequest::Box(
      this, QMessageBox::Critical, QStringLiteral("Error"),
      QStringLiteral("Cannot open the Manual file! \r\nMake sure the Acrobat Reader is installed on your computer "
                     "\r\nand the Manual.pdf exists in the folder of the PlayVireo program.")));
}

void MainWindow::OpenMapDialog() {
  state_.mapPath.clear();
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Open Map File...");
  ask.filter = QStringLiteral("Map file (*.bmp)");
  const QString chosen = AskOne(ask);
  if (chosen.isEmpty()) return;
  LoadMap(chosen.left(PATH_MAX - 1));
}

bool MainWindow::ShowPropertySheet(GstElement* element, const QString& caption) {
  void* object = nullptr;
  if (fh::FAILED(fh::QueryElementInterface(element, fh::IID_IUnknown, &object)) || !object) return false;
  auto* unknown = static_cast<fh::IUnknown*>(object);
  QDialog* sheet = fh::CreatePropertySheet(this, unknown, caption);
  unknown->Release();
  if (sheet) sheet->show();
  return sheet != nullptr;
}

void MainWindow::ShowFilterProperties() {
  int shown = 0;
  for (GstElement* element : graph_.PluginElements())
    if (ShowPropertySheet(element, QString::fromUtf8(GST_ELEMENT_NAME(element)) + QStringLiteral(" Properties")))
      ++shown;
  if (shown == 0)
    ShowMessage(MessageRequest::Box(this, QMessageBox::Information, QStringLiteral("Filter properties"),
                                    QStringLiteral("No filter of the current graph has property pages.")));
}

// A quorlin filter outside any graph keeps the session's MDR parameters: its
// page edits them, and every preprocessing run starts from them.
void MainWindow::ShowMdrParameters() {
  if (!mdrSettings_) {
    mdrSettings_ = gst_element_factory_make("quorlin", "mdr-parameters");
    if (mdrSettings_) gst_object_ref_sink(mdrSettings_);
  }
  if (!mdrSettings_ || !ShowPropertySheet(mdrSettings_, QStringLiteral("MDR parameters")))
    ShowMessage(MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("MDR parameters"),
                                    QStringLiteral("The MDR tracking filter or its page is not installed.")));
}

std::optional<MdrParameters> MainWindow::MdrSettings() const {
  if (!mdrSettings_) return std::nullopt;
  void* control = nullptr;
  if (fh::FAILED(fh::QueryElementInterface(mdrSettings_, fh::IID_IQuorlinInterface, &control)) || !control)
    return std::nullopt;
  auto* quorlin = static_cast<fh::IQuorlinInterface*>(control);
  MdrParameters parameters;
  const HRESULT read = quorlin->GetParams(parameters.phases, &parameters.geometry);
  quorlin->Release();
  if (fh::FAILED(read)) return std::nullopt;
  return parameters;
}

}  // namespace vireo
