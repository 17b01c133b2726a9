#include "controls_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "player/graph.h"

namespace vireo {

namespace {

constexpr int kProgressSteps = 256;
constexpr int kTickMs = 200;
constexpr double kRateStep = 0.25;
// The layout's fixed parts: margins and spacing, the progress bar's height,
// the icon and text buttons, the minimum width of the frame and rate text.
constexpr int kSpacing = 2;
constexpr int kProgressHeight = 14;
constexpr QSize kIconButton(34, 28);
constexpr QSize kTextButton(28, 24);
constexpr int kTextWidth = 120;
constexpr int kIconButtons = 5;
constexpr int kTextButtons = 2;

}  // namespace

ControlsDialog::ControlsDialog(const PlaybackGraph& graph, QWidget* owner) : QDialog(owner, Qt::Tool), graph_(graph) {
  setWindowTitle(QStringLiteral("Controls"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
  layout->setSpacing(kSpacing);
  progress_ = new TimelineBar(this);
  progress_->setRange(0, kProgressSteps);
  progress_->setFixedHeight(kProgressHeight);
  progress_->installEventFilter(this);
  layout->addWidget(progress_);

  auto* row = new QHBoxLayout;
  row->setSpacing(kSpacing);
  struct ButtonSpec {
    int id;
    QStyle::StandardPixmap icon;
    const char* text;
  };
  const ButtonSpec buttons[] = {
      {kRun, QStyle::SP_MediaPlay, nullptr},
      {kStop, QStyle::SP_MediaStop, nullptr},
      {kPause, QStyle::SP_MediaPause, nullptr},
      {kStepBack, QStyle::SP_MediaSkipBackward, nullptr},
      {kStepForward, QStyle::SP_MediaSkipForward, nullptr},
      {kSlower, QStyle::SP_CustomBase, "<<"},
      {kFaster, QStyle::SP_CustomBase, ">>"},
  };
  for (const ButtonSpec& spec : buttons) {
    auto* button = new QPushButton(this);
    if (spec.text) {
      button->setText(QString::fromLatin1(spec.text));
      button->setFixedSize(kTextButton);
    } else {
      button->setIcon(style()->standardIcon(spec.icon));
      button->setIconSize(QSize(16, 16));
      button->setFixedSize(kIconButton);
    }
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [this, id = spec.id] { Clicked(id); });
    row->addWidget(button);
    buttons_[spec.id] = button;
  }
  text_ = new QLabel(this);
  text_->setMinimumWidth(kTextWidth);
  row->addWidget(text_, 1);
  layout->addLayout(row);

  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &ControlsDialog::Tick);
  timer->start(kTickMs);
  Tick();
}

QSize ControlsDialog::StartSize() {
  const int items = kIconButtons + kTextButtons + 1;
  return {2 * kSpacing + kIconButtons * kIconButton.width() + kTextButtons * kTextButton.width() +
              (items - 1) * kSpacing + kTextWidth,
          3 * kSpacing + kProgressHeight + kIconButton.height()};
}

QPushButton* ControlsDialog::Button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}
QString ControlsDialog::Text() const { return text_->text(); }
int ControlsDialog::Progress() const { return progress_->value(); }
void ControlsDialog::SetMarks(TimelineMarks marks) { progress_->SetMarks(std::move(marks)); }

void ControlsDialog::Clicked(int id) {
  switch (id) {
    case kRun: emit runRequested(); break;
    case kPause: emit pauseRequested(); break;
    case kStop: emit stopRequested(); break;
    case kStepBack: emit stepRequested(-1); break;
    case kStepForward: emit stepRequested(+1); break;
    case kSlower: emit rateChangeRequested(-kRateStep); break;
    case kFaster: emit rateChangeRequested(+kRateStep); break;
    default: break;
  }
  emit playbackChanged();
  Tick();
}

void ControlsDialog::Tick() {
  if (clickLock_ > 0) --clickLock_;
  if (!graph_.HasGraph()) {
    text_->clear();
    progress_->setValue(0);
    return;
  }
  const std::int64_t duration = graph_.TotalFrames(true);
  const std::int64_t position = graph_.CurrentFrame(true);
  if (duration > 0)
    progress_->setValue(
        static_cast<int>(std::clamp<std::int64_t>(position * kProgressSteps / duration, 0, kProgressSteps)));
  QString text = QString::asprintf("Frame: %i/%i", static_cast<int>(position), static_cast<int>(duration));
  if (graph_.State() == PlayState::kRunning) {
    const double fps = graph_.FrameRate();
    if (rateControlOn_)
      text += QString::asprintf("\nRate:%2.2f (%2.2f)", fps * graph_.Rate(), fps * graph_.GraphRate());
    else
      text += QString::asprintf("\nRate:%2.2f", fps * graph_.Rate());
  }
  text_->setText(text);
}

void ControlsDialog::SeekTo(int x) {
  const int width = progress_->width();
  if (clickLock_ > 0 || !graph_.HasGraph() || x <= 0 || x >= width - 1) return;
  // One click per two timer ticks.
  clickLock_ = 2;
  const std::int64_t duration = graph_.Duration();
  if (duration <= 0 || width <= 2) return;
  emit seekRequested(duration * (x - 1) / (width - 2));
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
void ControlsDialog::keyPressEvent(QKeyEvent* event) { emit keyPressed(event); }

void ControlsDialog::closeEvent(QCloseEvent* event) {
  emit closed();
  event->accept();
}

}  // namespace vireo
