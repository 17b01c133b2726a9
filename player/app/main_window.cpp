#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>
#include <climits>

#include "controls_dialog.h"
#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "messages.h"
#include "plugin_pages.h"
#include "preprocess_file_dialog.h"
#include "video_widget.h"

namespace vireo {

namespace {

constexpr int kMinimumSide = 256;
const std::initializer_list<int> kSizeItems = {kCmdHalfSize, kCmdDoubleSize, kCmdNormalSize, kCmdThreeQuarterSize};
// Enabled with a clip open / only with a picture.
const std::initializer_list<int> kClipItems = {kCmdPausePlay, kCmdStop,       kCmdMute,       kCmdFaster, kCmdSlower,
                                               kCmdRateNormal, kCmdRateHalf, kCmdRateDouble, kCmdPreprocess};
const std::initializer_list<int> kPictureItems = {kCmdFrameStep,  kCmdHalfSize,         kCmdDoubleSize,
                                                  kCmdNormalSize, kCmdThreeQuarterSize, kCmdFullScreen};
const std::initializer_list<int> kRateItems = {kCmdRateOff,         kCmdRateVelocity,    kCmdRateDrift, kCmdRateRoll,
                                               kCmdRateDeformation, kCmdRateCombination, kCmdRateImage};

struct Layout {
  int id, cols, rows;
  const char* label;
};
constexpr Layout kLayouts[] = {{115, 1, 1, "1 x 1"}, {116, 2, 1, "2 x 1"}, {117, 3, 1, "3 x 1"}, {118, 2, 2, "2 x 2"},
                               {119, 3, 2, "3 x 2"}, {120, 3, 3, "3 x 3"}, {121, 4, 3, "4 x 3"}, {122, 5, 3, "5 x 3"},
                               {123, 5, 4, "5 x 4"}, {124, 6, 4, "6 x 4"}};

// Extensions whose clips have associated map and findings files.
bool AssociatedExtension(const QString& ext) {
  for (const char* known : {".avi", ".mov", ".m1v", ".mpg", ".mpeg"})
    if (ext.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) return true;
  return false;
}

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

MainWindow::MainWindow() {
  setWindowTitle(QStringLiteral("Vireo Video Player"));
  setWindowIcon(AppIcon());
  setAcceptDrops(true);
  setMinimumSize(kMinimumSide, kMinimumSide);
  video_ = new VideoWidget(this);
  video_->setMinimumSize(1, 1);
  setCentralWidget(video_);
  BuildMenu();

  graph_.SetFrameHandler([this](const VideoFrame& frame) { video_->Deliver(frame); });
  graph_.SetEventHandler([this](const GraphEvent& event) { QueueGraphEvent(event); });
  graph_.SetDiagnosticHandler([this](const Diagnostic& d) {
    if (d.kind == Diagnostic::Kind::kDiagnostic) {
      ShowDiagnostic(QString::fromStdString(d.text), QString::fromStdString(d.detail));
      return;
    }
    MessageRequest request;
    request.owner = this;
    request.caption = QStringLiteral("Failed");
    request.text = QString::fromStdString(d.text);
    request.detail = QString::fromStdString(d.detail);
    request.icon = QMessageBox::Critical;
    ShowMessage(request);
  });
  RegisterPluginPages();
  maps_ = std::make_unique<MapViewer>(*this);
}

MainWindow::~MainWindow() {
  // The graph's handlers refer to this window: stop the streaming first.
  graph_.Close();
}

// ---- menu -----------------------------------------------------------------

QAction* MainWindow::AddItem(QMenu* menu, const QString& label, int id, bool checkable) {
  QAction* action = menu ? menu->addAction(label) : new QAction(label, this);
  action->setData(id);
  action->setCheckable(checkable);
  connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
  actions_[id] = action;
  return action;
}

void MainWindow::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  AddItem(file, QStringLiteral("&Open clip..."), kCmdOpenClip);
  AddItem(file, QStringLiteral("Open map..."), kCmdOpenMap);
  AddItem(file, QStringLiteral("&Close clip"), kCmdCloseClip);
  file->addSeparator();
  AddItem(file, QStringLiteral("&Save frame..."), kCmdSaveFrame);
  file->addSeparator();
  AddItem(file, QStringLiteral("E&xit"), kCmdExit);

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  AddItem(view, QStringLiteral("&Controls..."), kCmdControls, true);
  AddItem(view, QStringLiteral("&Findings..."), kCmdFindings, true);
  QMenu* multi = view->addMenu(QStringLiteral("&Multiframe"));
  for (const Layout& layout : kLayouts) AddItem(multi, QString::fromLatin1(layout.label), layout.id, true);
  actions_[kLayouts[0].id]->setChecked(true);
  view->addSeparator();
  AddItem(view, QStringLiteral("Filter properties..."), kCmdFilterProperties);

  QMenu* control = menuBar()->addMenu(QStringLiteral("&Control"));
  AddItem(control, QStringLiteral("&Pause/Play\tP"), kCmdPausePlay);
  AddItem(control, QStringLiteral("&Stop\tS"), kCmdStop);
  AddItem(control, QStringLiteral("Single F&rame Step\t<Space>"), kCmdFrameStep);
  control->addSeparator();
  AddItem(control, QStringLiteral("&Half size (50%)\tH"), kCmdHalfSize, true);
  AddItem(control, QStringLiteral("&Normal size (100%)\tN"), kCmdNormalSize, true)->setChecked(true);
  AddItem(control, QStringLiteral("&Double size (200%)\tD"), kCmdDoubleSize, true);
  control->addSeparator();
  AddItem(control, QStringLiteral("&Full Screen\t<Enter> or F"), kCmdFullScreen);

  QMenu* rate = menuBar()->addMenu(QStringLiteral("&Rate"));
  AddItem(rate, QStringLiteral("&Increase Playback Rate\t<Right arrow>"), kCmdFaster);
  AddItem(rate, QStringLiteral("&Decrease Playback Rate\t<Left arrow>"), kCmdSlower);
  rate->addSeparator();
  QMenu* automatic = rate->addMenu(QStringLiteral("Automatic Rate Control"));
  AddItem(automatic, QStringLiteral("Combination"), kCmdRateCombination, true);
  AddItem(automatic, QStringLiteral("Deformation"), kCmdRateDeformation, true);
  AddItem(automatic, QStringLiteral("Image"), kCmdRateImage, true);
  AddItem(automatic, QStringLiteral("Velocity"), kCmdRateVelocity, true);
  AddItem(automatic, QStringLiteral("Drift"), kCmdRateDrift, true);
  AddItem(automatic, QStringLiteral("Roll"), kCmdRateRoll, true);
  automatic->addSeparator();
  AddItem(automatic, QStringLiteral("Off"), kCmdRateOff, true)->setChecked(true);

  QMenu* analysis = menuBar()->addMenu(QStringLiteral("&Analysis"));
  AddItem(analysis, QStringLiteral("&Preprocess video"), kCmdPreprocess);
  AddItem(analysis, QStringLiteral("Select video(s) to preprocess"), kCmdBatchPreprocess);
  analysis->addSeparator();
  AddItem(analysis, QStringLiteral("&Detect pathologies"), kCmdDetect);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddItem(help, QStringLiteral("Manual..."), kCmdManual);
  help->addSeparator();
  AddItem(help, QStringLiteral("&About..."), kCmdAbout);

  // Commands without a menu item: key T (3/4 size), M (mute) and the fixed rates.
  AddItem(nullptr, QStringLiteral("3/4 size"), kCmdThreeQuarterSize, true);
  AddItem(nullptr, QStringLiteral("Mute"), kCmdMute);
  AddItem(nullptr, QStringLiteral("Rate 1.0"), kCmdRateNormal);
  AddItem(nullptr, QStringLiteral("Rate 2.0"), kCmdRateDouble);
  AddItem(nullptr, QStringLiteral("Rate 0.5"), kCmdRateHalf);
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::SetEnabled(std::initializer_list<int> ids, bool enabled) {
  for (int id : ids)
    if (QAction* a = Action(id)) a->setEnabled(enabled);
}

void MainWindow::CheckOnly(std::initializer_list<int> group, int id) {
  for (int item : group)
    if (QAction* a = Action(item)) a->setChecked(item == id);
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
    OpenClip();
    LoadAssociatedFiles();
  }
  Execute(kCmdRateCombination);
}

void MainWindow::Execute(int id) {
  if (id >= kCmdLayoutFirst && id <= kCmdLayoutLast) return SwitchLayout(id);
  if (id >= kCmdRateOff && id <= kCmdRateImage) return RateControl(id);
  switch (id) {
    case kCmdOpenClip:
      state_.graphMode = kModePlain;
      if (graph_.HasGraph()) {
        state_.clipPath.clear();
        CloseClip();
      }
      OpenClip();
      LoadAssociatedFiles();
      break;
    case kCmdExit: close(); break;
    case kCmdPausePlay:
      graph_.TogglePausePlay();
      UpdateTitle();
      break;
    case kCmdStop:
      graph_.StopAndRewind();
      UpdateTitle();
      break;
    case kCmdCloseClip:
      state_.clipPath.clear();
      CloseClip();
      break;
    case kCmdMute:
      graph_.ToggleMute();
      UpdateTitle();
      break;
    case kCmdFullScreen: ToggleFullScreen(); break;
    case kCmdNormalSize:
    case kCmdHalfSize:
    case kCmdDoubleSize:
    case kCmdThreeQuarterSize: SizeCommand(id); break;
    case kCmdAbout: ShowAbout(); break;
    case kCmdFaster:
    case kCmdSlower:
      if (fh::SUCCEEDED(graph_.ChangeRate(id == kCmdFaster ? 0.25 : -0.25))) UpdateTitle();
      break;
    case kCmdRateNormal:
    case kCmdRateDouble:
    case kCmdRateHalf:
      if (graph_.HasGraph() &&
          fh::SUCCEEDED(graph_.SetRate(id == kCmdRateNormal ? 1.0 : id == kCmdRateDouble ? 2.0 : 0.5)))
        UpdateTitle();
      break;
    case kCmdFrameStep: graph_.StepOneFrame(+1); break;
    case kCmdOpenMap: OpenMapDialog(); break;
    case kCmdPreprocess: PreprocessVideo(); break;
    case kCmdBatchPreprocess: PreprocessBatch(); break;
    case kCmdControls:
      if (controls_)
        DestroyControls();
      else
        ShowControls(false);
      break;
    case kCmdManual: OpenManual(); break;
    case kCmdFilterProperties: ShowFilterProperties(); break;
    case kCmdFindings: ToggleFindings(); break;
    case kCmdDetect: DetectPathologies(); break;
    case kCmdSaveFrame: SaveFrame(); break;
    default: break;  // the map, findings, preprocessing and detection commands come with their windows
  }
}

void MainWindow::keyPressEvent(QKeyEvent* event) { HandleKey(event); }

void MainWindow::HandleKey(QKeyEvent* event) {
  const bool running = graph_.State() == PlayState::kRunning;
  const int key = event->key();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F: ToggleFullScreen(); break;
    case Qt::Key_Escape:
      if (state_.fullScreen) {
        ToggleFullScreen();
      } else {
        state_.clipPath.clear();
        CloseClip();
      }
      break;
    case Qt::Key_Left:
      if (running)
        Execute(kCmdSlower);
      else
        graph_.StepOneFrame(-1);
      break;
    case Qt::Key_Right:
      if (running)
        Execute(kCmdFaster);
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
    case Qt::Key_Space:
    case Qt::Key_1: graph_.StepOneFrame(+1); break;
    case Qt::Key_D: Execute(kCmdDoubleSize); break;
    case Qt::Key_H: Execute(kCmdHalfSize); break;
    case Qt::Key_N: Execute(kCmdNormalSize); break;
    case Qt::Key_T: Execute(kCmdThreeQuarterSize); break;
    case Qt::Key_M: Execute(kCmdMute); break;
    case Qt::Key_P: Execute(kCmdPausePlay); break;
    case Qt::Key_S: Execute(kCmdStop); break;
    case Qt::Key_Q:
    case Qt::Key_X:
    case Qt::Key_F12: Execute(kCmdCloseClip); break;
    default:
      if (key >= Qt::Key_2 && key <= Qt::Key_9) {
        graph_.StepFrames(key - Qt::Key_0);
        UpdateTitle();
      } else {
        event->ignore();
        return;
      }
  }
  event->accept();
}

void MainWindow::UpdateTitle(double appliedRate) {
  if (!graph_.HasGraph() || state_.clipPath.isEmpty()) {
    setWindowTitle(QStringLiteral("Vireo Video Player"));
    return;
  }
  const QString name = QFileInfo(state_.clipPath).fileName();
  const QString rate = QString::asprintf("(Rate:%2.2f)", (appliedRate > 0.0 ? appliedRate : graph_.Rate()) * graph_.FrameRate());
  setWindowTitle(QStringLiteral("%1 %2%3%4")
                     .arg(name.isEmpty() ? state_.clipPath : name,
                          graph_.Volume() == -10000 ? QStringLiteral("(Muted)") : QString(),
                          graph_.State() == PlayState::kPaused ? QStringLiteral("(Paused)") : QString(), rate));
}

// ---- clips ----------------------------------------------------------------

void MainWindow::OpenClip() {
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
    const QStringList answer = AskFiles(ask);
    if (answer.isEmpty() || answer.front().isEmpty()) return;
    const QString& chosen = answer.front();
    state_.lastOpenFolder = QFileInfo(chosen).absolutePath();
    state_.clipPath = chosen.left(PATH_MAX - 1);
  }
  if (auto refused = RefusedClipMessage(state_.clipPath.toStdString())) {
    ShowDiagnostic(QString::fromStdString(*refused));
    state_.clipPath.clear();
    return;
  }

  GraphRequest request;
  request.clipPath = state_.clipPath.toStdString();
  request.mode = state_.graphMode;
  request.mapPath = state_.mapPath.toStdString();
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
  // Warnings of the assembled graph arrive like the events of its run.
  for (const GraphEvent& warning : graph_.TakePrerollWarnings()) QueueGraphEvent(warning);

  SetEnabled(kClipItems, true);
  if (graph_.HasVideo())
    InitVideoWindow(1, 1);
  else
    InitPlayerWindow();
  SetEnabled(kClipItems, true);
  CheckOnly(kSizeItems, kCmdNormalSize);
  state_.fullScreen = false;
  showNormal();
  raise();
  activateWindow();
  UpdateTitle();

  if (IsAnalysisMode(state_.graphMode))
    DestroyControls();
  else if (!controls_)
    ShowControls(true);
}

void MainWindow::CloseClip() {
  ++generation_;
  if (state_.fullScreen) ToggleFullScreen();
  graph_.Close();
  state_.fullScreen = false;
  video_->Clear();
  UpdateTitle();
  InitPlayerWindow();
}

void MainWindow::LoadAssociatedFiles() {
  const QString& clip = state_.clipPath;
  if (clip.size() > PATH_MAX - 2) return;
  const int dot = clip.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || !AssociatedExtension(clip.mid(dot))) return;
  const QString stem = clip.left(dot);
  state_.captureBase = stem + QLatin1Char('_');
  state_.mapPath = stem + QStringLiteral(".bmp");
  state_.findingsPath = stem + QStringLiteral(".txt");
  LoadMap(state_.mapPath);
  LoadFindings(state_.findingsPath);
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
  OpenClip();
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
  QMetaObject::invokeMethod(this, [this, event, generation] { OnGraphEvent(event, generation); },
                            Qt::QueuedConnection);
}

void MainWindow::OnGraphEvent(const GraphEvent& event, int generation) {
  if (generation != generation_ || !graph_.HasGraph()) return;
  if (event.kind == GraphEvent::Kind::kComplete) {
    if (!IsAnalysisMode(graph_.Mode())) {
      graph_.StopAndRewind();
      UpdateTitle();
    } else if (analysis_) {
      analysis_->close();
    }
  } else if (event.kind == GraphEvent::Kind::kError) {
    // A stream that breaks while playing (a truncated or damaged file) ends
    // the clip with GStreamer's explanation rather than a frozen picture.
    MessageRequest request;
    request.owner = this;
    request.caption = QStringLiteral("Error");
    request.text = QStringLiteral("Playback of the clip stopped.");
    request.detail = QString::fromStdString(event.text);
    request.icon = QMessageBox::Critical;
    state_.clipPath.clear();
    CloseClip();
    if (analysis_) analysis_->close();
    ShowMessage(request);
  } else {
    ShowPluginWarning(event.text);
  }
}

// A plug-in that cannot create or write its output file goes on without it
// and says so on the bus. The user is told, and an analysis run whose output
// is lost is not followed by loading that file.
void MainWindow::ShowPluginWarning(const std::string& text) {
  const QString warning = QString::fromStdString(text);
  const int mode = graph_.Mode();
  const QString output = mode == kModeMdr || mode == kModeMdrPreview ? state_.mapPath
                         : mode == kModePathology                   ? state_.findingsPath
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
  maps_->Close();
  CloseClip();
  if (findings_) findings_->close();  // writes a changed list
  state_.clipPath.clear();
  DestroyControls();
  event->accept();
}

// ---- Controls dialog --------------------------------------------------------

void MainWindow::ShowControls(bool placeBelow) {
  controls_ = new ControlsDialog(this);
  if (placeBelow) {
    controls_->adjustSize();
    const QSize size = controls_->size() + QSize(1, 1);
    controls_->move(frameGeometry().bottomLeft());
    controls_->resize(size);
  }
  controls_->show();
  Action(kCmdControls)->setChecked(true);
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
  if (!state_.fullScreen) resize(kMinimumSide, kMinimumSide);
  CheckOnly(kSizeItems, kCmdNormalSize);
  SetEnabled(kClipItems, graph_.HasGraph());
  SetEnabled(kPictureItems, false);
}

void MainWindow::InitVideoWindow(int multiplier, int divider) {
  int width = 0, height = 0;
  if (!graph_.HasGraph() || !graph_.VideoSize(&width, &height)) return;
  SetEnabled(kPictureItems, true);
  width = width * multiplier / divider;
  height = height * multiplier / divider;
  if (!state_.fullScreen) resize(width, height + menuBar()->sizeHint().height());
}

void MainWindow::SizeCommand(int id) {
  switch (id) {
    case kCmdHalfSize: InitVideoWindow(1, 2); break;
    case kCmdDoubleSize: InitVideoWindow(2, 1); break;
    case kCmdThreeQuarterSize: InitVideoWindow(3, 4); break;
    default: InitVideoWindow(1, 1); break;
  }
  CheckOnly(kSizeItems, id);
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

void MainWindow::SwitchLayout(int id) {
  const std::int64_t position = graph_.HasGraph() ? graph_.CurrentPosition() : -1;
  graph_.StopAndRewind();
  CloseClip();
  std::initializer_list<int> items = {115, 116, 117, 118, 119, 120, 121, 122, 123, 124};
  CheckOnly(items, id);
  const Layout& layout = kLayouts[id - kCmdLayoutFirst];
  state_.mosaicCols = layout.cols;
  state_.mosaicRows = layout.rows;
  state_.graphMode = layout.cols == 1 && layout.rows == 1 ? kModePlain : kModeMultiImage;
  // Without a clip there is nothing to show again (no file dialog here).
  if (state_.clipPath.isEmpty()) return;
  OpenClip();
  if (!graph_.HasGraph()) return;
  if (position > 0) graph_.SetPosition(position);
  graph_.Run();
  graph_.SetRate(1.0);
  UpdateTitle();
}

// ---- automatic rate control (its map window comes with the map) -------------

void MainWindow::RateControl(int id) {
  CheckOnly(kRateItems, id);
  state_.rateControl = id;
  state_.rateControlOn = id != kCmdRateOff;
  if (id == kCmdRateOff && graph_.HasGraph()) graph_.SetRate(graph_.Rate());
  maps_->RateControlChanged();
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
  for (const QString& candidate : {dir.filePath(QStringLiteral("Manual.pdf")),
                                   dir.filePath(QStringLiteral("../share/doc/vireo/Manual.pdf"))}) {
    if (QFileInfo::exists(candidate) && QDesktopServices::openUrl(QUrl::fromLocalFile(candidate))) return;
  }
  MessageRequest request;
  request.owner = this;
  request.caption = QStringLiteral("Error");
  request.icon = QMessageBox::Critical;
  request.text = QStringLiteral(
      "Cannot open the Manual file! \r\nMake sure the Acrobat Reader is installed on your computer \r\nand the "
      "Manual.pdf exists in the folder of the PlayVireo program.");
  ShowMessage(request);
}

void MainWindow::OpenMapDialog() {
  state_.mapPath.clear();
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Open Map File...");
  ask.filter = QStringLiteral("Map file (*.bmp)");
  const QStringList chosen = AskFiles(ask);
  if (chosen.isEmpty() || chosen.front().isEmpty()) return;
  state_.mapPath = chosen.front().left(PATH_MAX - 1);
  LoadMap(state_.mapPath);
}

void MainWindow::ShowFilterProperties() {
  int shown = 0;
  for (GstElement* element : graph_.PluginElements()) {
    void* object = nullptr;
    if (fh::FAILED(fh::QueryElementInterface(element, fh::IID_IUnknown, &object)) || !object) continue;
    auto* unknown = static_cast<fh::IUnknown*>(object);
    const QString caption = QString::fromUtf8(GST_ELEMENT_NAME(element)) + QStringLiteral(" Properties");
    if (QDialog* sheet = fh::CreatePropertySheet(this, unknown, caption)) {
      sheet->show();
      ++shown;
    }
    unknown->Release();
  }
  if (shown == 0) {
    MessageRequest request;
    request.owner = this;
    request.caption = QStringLiteral("Filter properties");
    request.text = QStringLiteral("No filter of the current graph has property pages.");
    request.icon = QMessageBox::Information;
    ShowMessage(request);
  }
}

}  // namespace vireo
