#include "controls_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "main_window.h"

namespace vireo {

ControlsDialog::ControlsDialog(MainWindow* main) : QDialog(main, Qt::Tool), main_(main) {
  setWindowTitle(QStringLiteral("Controls"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QString::number(kProgress));
  progress_->setRange(0, 256);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(14);
  progress_->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: rgb(0,0,255); }"));
  progress_->installEventFilter(this);
  layout->addWidget(progress_);

  auto* row = new QHBoxLayout;
  row->setSpacing(2);
  struct ButtonSpec {
    int id;
    QStyle::StandardPixmap icon;
    const char* text;
  };
  const ButtonSpec buttons[] = {
      {kRun, QStyle::SP_MediaPlay, nullptr},          {kStop, QStyle::SP_MediaStop, nullptr},
      {kPause, QStyle::SP_MediaPause, nullptr},       {kStepBack, QStyle::SP_MediaSkipBackward, nullptr},
      {kStepForward, QStyle::SP_MediaSkipForward, nullptr}, {kSlower, QStyle::SP_CustomBase, "<<"},
      {kFaster, QStyle::SP_CustomBase, ">>"},
  };
  for (const ButtonSpec& spec : buttons) {
    auto* button = new QPushButton(this);
    button->setObjectName(QString::number(spec.id));
    if (spec.text) {
      button->setText(QString::fromLatin1(spec.text));
      button->setFixedSize(28, 24);
    } else {
      button->setIcon(style()->standardIcon(spec.icon));
      button->setIconSize(QSize(16, 16));
      button->setFixedSize(34, 28);
    }
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [this, id = spec.id] { Clicked(id); });
    row->addWidget(button);
  }
  text_ = new QLabel(this);
  text_->setObjectName(QString::number(kText));
  text_->setMinimumWidth(120);
  row->addWidget(text_, 1);
  layout->addLayout(row);

  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &ControlsDialog::Tick);
  timer->start(200);
  Tick();
}

QPushButton* ControlsDialog::Button(int id) const { return findChild<QPushButton*>(QString::number(id)); }
QString ControlsDialog::Text() const { return text_->text(); }
int ControlsDialog::Progress() const { return progress_->value(); }

void ControlsDialog::Clicked(int id) {
  PlaybackGraph& graph = main_->Graph();
  switch (id) {
    case kRun: graph.Run(); break;
    case kPause: graph.Pause(); break;
    case kStop: graph.StopAndRewind(); break;
    case kStepBack: graph.StepOneFrame(-1); break;
    case kStepForward: graph.StepOneFrame(+1); break;
    case kSlower: graph.ChangeRate(-0.25); break;
    case kFaster: graph.ChangeRate(+0.25); break;
    default: break;
  }
  main_->UpdateTitle();
  Tick();
}

void ControlsDialog::Tick() {
  if (clickLock_ > 0) --clickLock_;
  PlaybackGraph& graph = main_->Graph();
  if (!graph.HasGraph()) {
    text_->clear();
    progress_->setValue(0);
    return;
  }
  const std::int64_t duration = graph.TotalFrames(true);
  const std::int64_t position = graph.CurrentFrame(true);
  if (duration > 0) progress_->setValue(static_cast<int>(std::clamp<std::int64_t>(position * 256 / duration, 0, 256)));
  QString text = QString::asprintf("Frame: %i/%i", static_cast<int>(position), static_cast<int>(duration));
  if (graph.State() == PlayState::kRunning) {
    const double fps = graph.FrameRate();
    if (main_->State().rateControlOn)
      text += QString::asprintf("\nRate:%2.2f (%2.2f)", fps * graph.Rate(), fps * graph.GraphRate());
    else
      text += QString::asprintf("\nRate:%2.2f", fps * graph.Rate());
  }
  text_->setText(text);
}

void ControlsDialog::SeekTo(int x) {
  PlaybackGraph& graph = main_->Graph();
  const int width = progress_->width();
  if (clickLock_ > 0 || !graph.HasGraph() || x <= 0 || x >= width - 1) return;
  // One click per two timer ticks.
  clickLock_ = 2;
  const std::int64_t duration = graph.Duration();
  if (duration <= 0 || width <= 2) return;
  graph.SetPosition(duration * (x - 1) / (width - 2));
  Tick();
}

bool ControlsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == progress_ && event->type() == QEvent::MouseButtonPress) {
    SeekTo(static_cast<QMouseEvent*>(event)->position().toPoint().x());
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// Keys go to the main window (arrows act on playback even when a button has
// the focus).
void ControlsDialog::keyPressEvent(QKeyEvent* event) { main_->HandleKey(event); }

void ControlsDialog::closeEvent(QCloseEvent* event) {
  main_->ControlsClosed();
  event->accept();
}

}  // namespace vireo
