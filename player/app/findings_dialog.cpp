#include "findings_dialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "findings_thumbnails.h"
#include "main_window.h"
#include "map_state.h"
#include "messages.h"
#include "player/graph.h"
#include "player_state.h"
#include "preprocess_file_dialog.h"

namespace vireo {

namespace {

constexpr int kTickMs = 200;
constexpr int kTicksPerMinute = 60 * 1000 / kTickMs;

QString FromBytes(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())); }
std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool IsArrow(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

const QString kFilter = QStringLiteral("Findings file (*.txt)");

// "Cannot save the findings to ..." with the writer's reason.
QString SaveFailureText(const QString& path, const std::string& reason) {
  return QStringLiteral("Cannot save the findings to \"%1\": %2").arg(path, FromBytes(reason));
}

}  // namespace

void FindingsList::keyPressEvent(QKeyEvent* event) {
  QListWidget::keyPressEvent(event);
  event->accept();
}

void FindingEditor::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape: emit cancelled(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: emit committed(); break;
    default: QLineEdit::keyPressEvent(event);
  }
  event->accept();
}

std::string MapMeasuresText(const MapState& map, std::int64_t frame) {
  const int row = map.RowForFrame(frame);
  if (row < 0) return {};
  const MapRecord record = map.Record(row);
  double rollChange = record.roll - (row > 0 ? map.Record(row - 1).roll : 0.0f);
  if (rollChange > 180) rollChange -= 360;
  if (rollChange < -180) rollChange += 360;

  double sum[3] = {}, squares[3] = {};  // blue, green, red
  const std::uint8_t* pixel = map.Row(row);
  const int width = map.Width();
  for (int x = 0; x < width; ++x, pixel += 3)
    for (int c = 0; c < 3; ++c) {
      sum[c] += pixel[c];
      squares[c] += static_cast<double>(pixel[c]) * pixel[c];
    }
  double mean[3] = {}, deviation[3] = {};
  for (int c = 0; c < 3 && width > 0; ++c) {
    mean[c] = sum[c] / width;
    deviation[c] = std::sqrt(std::max(0.0, squares[c] / width - mean[c] * mean[c]));
  }
  // Qt formats with "." whatever the user's locale, so findings files read the
  // same on every desk.
  return QString::asprintf("%4.4f %4.4f %4.4f %4.4f %4.4f %4.4f %4.4f %4.4f %4.4f %4.4f %4.4f",
                           static_cast<double>(record.deformation), static_cast<double>(record.imageDifference),
                           static_cast<double>(record.drift), static_cast<double>(record.velocity), rollChange, mean[2],
                           deviation[2], mean[1], deviation[1], mean[0], deviation[0])
      .toStdString();
}

FindingsDialog::FindingsDialog(const PlaybackGraph& graph, const MapState& map, const PlayerState& player,
                               QWidget* owner)
    : QDialog(owner, Qt::Tool), graph_(graph), map_(map), player_(player) {
  setWindowTitle(QStringLiteral("Findings"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(kStartSize);
  setMinimumSize(kMinimumSize);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 2);
  layout->setSpacing(2);
  list_ = new FindingsList(this);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->installEventFilter(this);
  layout->addWidget(list_, 1);
  thumbnails_ = new FindingsThumbnails(list_, [this](int row) { return findings_[row].frame; });
  edit_ = new FindingEditor(list_->viewport());
  edit_->hide();

  auto* bottom = new QHBoxLayout;
  auto* labels = new QVBoxLayout;
  viewed_ = new QLabel(QStringLiteral("Viewed frame:"), this);
  labels->addWidget(viewed_);
  // The hint wraps rather than being cut off when the window is narrow.
  auto* hint = new QLabel(QStringLiteral("Double-click on the list to edit"), this);
  hint->setWordWrap(true);
  labels->addWidget(hint);
  bottom->addLayout(labels, 1);
  struct ButtonSpec {
    int id;
    const char* text;
  };
  for (const ButtonSpec& spec : {ButtonSpec{kLoad, "Load..."}, ButtonSpec{kSaveAs, "Save as..."},
                                 ButtonSpec{kAddNew, "Add New"}, ButtonSpec{kRemove, "Remove"}}) {
    auto* button = new QPushButton(QString::fromLatin1(spec.text), this);
    button->setDefault(spec.id == kAddNew);
    button->installEventFilter(this);
    bottom->addWidget(button);
    buttons_[spec.id] = button;
  }
  layout->addLayout(bottom);

  connect(Button(kAddNew), &QPushButton::clicked, this, &FindingsDialog::AddNew);
  connect(Button(kRemove), &QPushButton::clicked, this, &FindingsDialog::Remove);
  connect(Button(kLoad), &QPushButton::clicked, this, &FindingsDialog::LoadDialog);
  connect(Button(kSaveAs), &QPushButton::clicked, this, &FindingsDialog::SaveAsDialog);
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!selecting_) Jump(row);
  });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { StartEdit(list_->row(item)); });
  connect(edit_, &QLineEdit::textEdited, this, [this] { editChanged_ = true; });
  connect(edit_, &QLineEdit::editingFinished, this, &FindingsDialog::CommitEdit);
  // After Enter or Esc the list has the keys again.
  connect(edit_, &FindingEditor::committed, this, [this] {
    CommitEdit();
    list_->setFocus();
  });
  connect(edit_, &FindingEditor::cancelled, this, [this] {
    CancelEdit();
    list_->setFocus();
  });

  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &FindingsDialog::Tick);
  timer->start(kTickMs);
}

QPushButton* FindingsDialog::Button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QStringList FindingsDialog::Entries() const {
  QStringList entries;
  for (int i = 0; i < list_->count(); ++i) entries << list_->item(i)->text();
  return entries;
}

int FindingsDialog::Selected() const { return list_->currentRow(); }

void FindingsDialog::Select(int row) { list_->setCurrentRow(row); }

void FindingsDialog::SelectWithoutSeek(int row) {
  selecting_ = true;
  list_->setCurrentRow(row);
  selecting_ = false;
}

FindingsFile FindingsDialog::Contents() const { return {header_, ticks_ / kTicksPerMinute, findings_}; }

void FindingsDialog::ShowPicturesOf(const QString& clipPath) { thumbnails_->SetClip(clipPath); }

QString FindingsDialog::ViewedText() const { return viewed_->text(); }

int FindingsDialog::Insert(const Finding& finding, const QString& entry) {
  // Frame order, then text (the same as the list's text order for frames of
  // up to eight digits).
  int row = 0;
  while (row < list_->count() && (findings_[row].frame < finding.frame ||
                                  (findings_[row].frame == finding.frame && list_->item(row)->text() <= entry)))
    ++row;
  findings_.insert(findings_.begin() + row, finding);
  {
    const QSignalBlocker block(list_);
    list_->insertItem(row, entry);
  }
  emit listChanged();
  return row;
}

void FindingsDialog::Erase(int row) {
  findings_.erase(findings_.begin() + row);
  {
    const QSignalBlocker block(list_);
    delete list_->takeItem(row);
  }
  emit listChanged();
}

void FindingsDialog::Clear() {
  findings_.clear();
  {
    const QSignalBlocker block(list_);
    list_->clear();
  }
  emit listChanged();
}

bool FindingsDialog::LoadFile(const QString& path) {
  auto file = ReadFindingsFile(PathBytes(path));
  if (!file) return false;
  CommitEdit();
  Clear();
  header_ = file->header;
  ticks_ = file->minutes * kTicksPerMinute;
  for (const Finding& finding : file->findings) Insert(finding, FromBytes(EntryText(finding)));
  return true;
}

bool FindingsDialog::SaveFile(const QString& path) {
  const auto failure = WriteFindingsFile(PathBytes(path), header_, ticks_ / kTicksPerMinute, findings_);
  if (!failure) return true;
  ShowMessage(
      MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("Error"), SaveFailureText(path, *failure)));
  return false;
}

void FindingsDialog::Flush(const QString& firstPath) {
  if (!changed_) return;
  changed_ = false;
  QString path = firstPath;
  for (;;) {
    std::optional<std::string> failure;
    if (path.size() > 4) {
      failure = WriteFindingsFile(PathBytes(path), header_, ticks_ / kTicksPerMinute, findings_);
      if (!failure) return;
    }
    const QString text =
        failure ? SaveFailureText(path, *failure) : QStringLiteral("The findings of this clip have no findings file.");
    const auto request =
        MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("Error"), text)
            .WithDetail(QStringLiteral("Save them under another name? No discards the changed findings."))
            .WithButtons(QMessageBox::Yes | QMessageBox::No);
    if (ShowMessage(request) != QMessageBox::Yes) return;
    FileDialogRequest ask;
    ask.owner = this;
    ask.title = QStringLiteral("Save Findings File...");
    ask.save = true;
    ask.initialPath = path;
    ask.filter = kFilter;
    path = AskOne(ask);
    if (path.isEmpty()) return;
  }
}

void FindingsDialog::Reset() {
  CommitEdit();
  Clear();
  header_ = kNewFindingsHeader;
  ticks_ = 0;
  changed_ = false;
}

void FindingsDialog::AttachTo(const QString& path) {
  CommitEdit();
  if (path == listPath_ && changed_) return;
  Flush(listPath_);
  listPath_ = path;
  if (path.isEmpty() || !LoadFile(path)) Reset();
}

void FindingsDialog::Jump(int row) {
  if (row < 0 || row >= static_cast<int>(findings_.size()) || !graph_.HasGraph()) return;
  emit findingChosen(findings_[row].frame);
}

void FindingsDialog::StartEdit(int row) {
  if (row < 0 || row >= list_->count()) return;
  editIndex_ = row;
  editFinding_ = findings_[row];
  editChanged_ = false;
  const QRect rect = list_->visualItemRect(list_->item(row));
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  edit_->setGeometry(rect.left(), rect.top(), rect.width() + 2 * frame, rect.height() + 2 * frame);
  edit_->setText(FromBytes(editFinding_.text));
  edit_->show();
  edit_->setFocus();
  Jump(row);
}

void FindingsDialog::CommitEdit() {
  if (editIndex_ < 0) return;
  const int row = editIndex_;
  editIndex_ = -1;  // hiding the editor loses its focus: commit once
  if (editChanged_) {
    changed_ = true;
    Finding finding = editFinding_;
    finding.text = edit_->text().toStdString();
    Erase(row);
    // The edited finding stays the selected one.
    const int edited = Insert(finding, FromBytes(EntryText(finding)));
    SelectWithoutSeek(edited);
  }
  editChanged_ = false;
  edit_->clear();
  edit_->hide();
}

void FindingsDialog::CancelEdit() {
  editChanged_ = false;
  CommitEdit();
}

void FindingsDialog::AddNew() {
  CommitEdit();
  if (!graph_.HasGraph()) return;
  emit pauseRequested();
  const std::int64_t frame = graph_.CurrentFrame();
  if (frame < 0) return;
  Finding finding;
  finding.frame = frame;
  finding.minute = ticks_ / kTicksPerMinute;
  if (map_.Loaded() && map_.Egomotion()) finding.text = MapMeasuresText(map_, frame);
  QString entry = QString::asprintf("%08lld", static_cast<long long>(frame));
  if (!finding.text.empty()) entry = FromBytes(EntryText(finding));
  const int row = Insert(finding, entry);
  SelectWithoutSeek(row);
  changed_ = true;
}

void FindingsDialog::Remove() {
  CommitEdit();
  const int row = list_->currentRow();
  if (row < 0) return;
  Erase(row);
  SelectWithoutSeek(row < list_->count() ? row : -1);
  changed_ = true;
}

void FindingsDialog::Tick() {
  ++ticks_;
  viewed_->setText(graph_.HasGraph() ? QStringLiteral("Viewed frame: %1").arg(graph_.CurrentFrame())
                                     : QStringLiteral("Viewed frame unknown"));
}

void FindingsDialog::LoadDialog() {
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Open Findings File...");
  ask.filter = kFilter;
  const QString path = AskOne(ask);
  if (!path.isEmpty()) LoadFile(path);
}

void FindingsDialog::SaveAsDialog() {
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Save Findings File...");
  ask.save = true;
  ask.filter = kFilter;
  const QString& clip = player_.clipPath;
  if (HasClipExtension(clip)) ask.initialPath = clip.left(clip.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".txt");
  const QString path = AskOne(ask);
  if (path.isEmpty()) return;
  CommitEdit();
  if (SaveFile(path)) changed_ = false;
}

bool FindingsDialog::eventFilter(QObject* watched, QEvent* event) {
  // Arrow keys on the list and the buttons drive playback, except while a
  // finding is being edited.
  if (event->type() == QEvent::KeyPress && editIndex_ < 0) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (IsArrow(key->key())) {
      emit keyPressed(key);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void FindingsDialog::keyPressEvent(QKeyEvent* event) { emit keyPressed(event); }

void FindingsDialog::closeEvent(QCloseEvent* event) {
  CommitEdit();
  Flush(listPath_);
  Clear();
  emit closed();
  event->accept();
}

// ---- the main window's side ---------------------------------------------------

FindingsDialog* MainWindow::CreateFindings() {
  findings_ = new FindingsDialog(graph_, maps_->State(), state_, this);
  connect(findings_, &FindingsDialog::findingChosen, this, &MainWindow::SeekToFinding);
  connect(findings_, &FindingsDialog::pauseRequested, this, &MainWindow::PauseForReview);
  connect(findings_, &FindingsDialog::listChanged, timelineUpdate_, qOverload<>(&QTimer::start));
  connect(findings_, &FindingsDialog::keyPressed, this, &MainWindow::HandleKey);
  connect(findings_, &FindingsDialog::closed, this, &MainWindow::FindingsClosed);
  ShowFindingPictures();
  places_->Place(findings_, ReviewWindow::kFindings);
  findings_->show();
  Action(kCmdFindings)->setChecked(true);
  return findings_;
}

void MainWindow::LoadFindings(const QString& path) {
  // An open list always follows the clip; the window opens by itself only
  // for a file that exists.
  if (!findings_ && !ReadFindingsFile(QFile::encodeName(path).toStdString())) return;
  if (!findings_) CreateFindings();
  findings_->AttachTo(path);
}

void MainWindow::ToggleFindings() {
  if (findings_) {
    findings_->close();
  } else {
    CreateFindings();
    findings_->AttachTo(state_.findingsPath);
  }
}

void MainWindow::FindingsClosed() {
  Action(kCmdFindings)->setChecked(false);
  findings_ = nullptr;
  timelineUpdate_->start();
}

void MainWindow::PauseForReview() {
  graph_.Pause();
  UpdateTitle();
}

void MainWindow::SeekToFinding(qint64 frame) {
  PauseForReview();
  graph_.SeekToFrame(frame);
}

}  // namespace vireo
