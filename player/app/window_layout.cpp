#include "window_layout.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace vireo {

namespace {

constexpr int kSettleTickMs = 50;
constexpr int kSettleTicks = 100;  // a window manager that decorates nothing in 5 s is not waited for

constexpr std::size_t Index(ReviewWindow which) { return static_cast<std::size_t>(which); }

// Takes up to `excess` off `length`, not below `minimum`; returns what is left.
int Shrink(int& length, int minimum, int excess) {
  const int by = std::clamp(excess, 0, std::max(0, length - minimum));
  length -= by;
  return excess - by;
}

// `frame` moved (and if need be cut) so that it lies inside `area`.
QRect Inside(QRect frame, const QRect& area) {
  frame.setSize(frame.size().boundedTo(area.size()));
  frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() + 1 - frame.width()));
  frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() + 1 - frame.height()));
  return frame;
}

}  // namespace

ReviewFrames LayOutReviewWindows(const QRect& area, const ReviewSizes& sizes) {
  const WindowSize& main = sizes[Index(ReviewWindow::kMain)];
  const WindowSize& controls = sizes[Index(ReviewWindow::kControls)];
  const WindowSize& map = sizes[Index(ReviewWindow::kMap)];
  const WindowSize& findings = sizes[Index(ReviewWindow::kFindings)];

  // Widths: three columns side by side.
  int findingsWidth = findings.preferred.width();
  int middleWidth = std::max(main.preferred.width(), controls.preferred.width());
  int mapWidth = map.preferred.width();
  int excess = findingsWidth + middleWidth + mapWidth - area.width();
  excess = Shrink(findingsWidth, findings.minimum.width(), excess);
  excess = Shrink(middleWidth, std::max(main.minimum.width(), controls.minimum.width()), excess);
  Shrink(mapWidth, map.minimum.width(), excess);

  // Heights: the map and the Findings each as tall as they want and the
  // screen allows; the Controls keep theirs and the main window gets the rest.
  const int height = area.height();
  const int controlsHeight = std::min(controls.preferred.height(), std::max(0, height - main.minimum.height()));
  const int mainHeight =
      std::max(std::min(main.preferred.height(), height - controlsHeight), std::min(main.minimum.height(), height));

  ReviewFrames frames;
  QRect& findingsFrame = frames[Index(ReviewWindow::kFindings)];
  QRect& mapFrame = frames[Index(ReviewWindow::kMap)];
  findingsFrame = Inside(QRect(area.left(), area.top(), findingsWidth, std::min(findings.preferred.height(), height)), area);
  mapFrame = Inside(
      QRect(area.right() + 1 - mapWidth, area.top(), mapWidth, std::min(map.preferred.height(), height)), area);
  // The main column in the middle of the room between them.
  const int room = mapFrame.left() - (findingsFrame.right() + 1);
  const QRect column = Inside(
      QRect(findingsFrame.right() + 1 + (room - middleWidth) / 2, area.top(), middleWidth, height), area);
  const QRect mainFrame =
      Inside(QRect(column.left(), area.top(), std::min(main.preferred.width(), column.width()), mainHeight), area);
  frames[Index(ReviewWindow::kMain)] = mainFrame;
  frames[Index(ReviewWindow::kControls)] = Inside(
      QRect(column.left(), mainFrame.bottom() + 1, std::min(controls.preferred.width(), column.width()), controlsHeight),
      area);
  return frames;
}

QMargins FrameMargins(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect inner = window->geometry();
  return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
          frame.bottom() - inner.bottom()};
}

WindowPlaces::WindowPlaces(QWidget* main, std::function<ReviewSizes()> contentSizes)
    : QObject(main), main_(main), contentSizes_(std::move(contentSizes)) {
  settleTimer_.setInterval(kSettleTickMs);
  connect(&settleTimer_, &QTimer::timeout, this, &WindowPlaces::SettleShown);
}

QRect WindowPlaces::Area() const {
  const QScreen* screen = main_->screen() ? main_->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

ReviewFrames WindowPlaces::Layout() const {
  ReviewSizes sizes = contentSizes_();
  for (std::size_t i = 0; i < kReviewWindows; ++i) {
    const QWidget* window = slots_[i].window;
    const QMargins seen = window && window->isVisible() ? FrameMargins(window) : QMargins();
    const QMargins margins = seen.isNull() ? decorations_ : seen;
    sizes[i].preferred = sizes[i].preferred.grownBy(margins);
    sizes[i].minimum = sizes[i].minimum.grownBy(margins);
  }
  return LayOutReviewWindows(Area(), sizes);
}

void WindowPlaces::Place(QWidget* window, ReviewWindow which) {
  Slot& slot = slots_[Index(which)];
  if (slot.window != window) {
    slot.window = window;
    window->installEventFilter(this);
  }
  if (slot.userLeft) {
    // Reopened: where the user left it, kept on the screen.
    const QRect frame = Inside(QRect(slot.userLeft->topLeft(), slot.userLeft->size().grownBy(decorations_)), Area());
    slot.frame = QRect();
    slot.settling = false;
    window->move(frame.topLeft());
    window->resize(slot.userLeft->size());
    return;
  }
  QRect frame = Layout()[Index(which)];
  const Slot& mainSlot = slots_[Index(ReviewWindow::kMain)];
  if (which == ReviewWindow::kControls && mainSlot.window &&
      main_->frameGeometry().topLeft() != mainSlot.frame.topLeft()) {
    // The user has moved the main window: the Controls go below it.
    frame.moveTopLeft(main_->frameGeometry().bottomLeft() + QPoint(0, 1));
    frame = Inside(frame, Area());
  }
  Apply(slot, frame);
  slot.settling = !window->isVisible() || FrameMargins(window).isNull();
  if (slot.settling && window->isVisible()) {
    settleTicks_ = 0;
    settleTimer_.start();
  }
}

void WindowPlaces::RefitMain() {
  Slot& slot = slots_[Index(ReviewWindow::kMain)];
  if (!slot.window || slot.settling || main_->frameGeometry().topLeft() == slot.frame.topLeft()) {
    Place(main_, ReviewWindow::kMain);
    return;
  }
  // Where the user put it, but no larger than the screen.
  const QMargins margins = FrameMargins(main_);
  const QRect frame = Inside(QRect(main_->frameGeometry().topLeft(), main_->size().grownBy(margins)), Area());
  main_->move(frame.topLeft());
  main_->resize(frame.size().shrunkBy(margins));
}

void WindowPlaces::Apply(Slot& slot, const QRect& frame) {
  QWidget* window = slot.window;
  const QMargins seen = window->isVisible() ? FrameMargins(window) : QMargins();
  slot.frame = frame;
  slot.margins = seen.isNull() ? decorations_ : seen;
  const QSize content = frame.size().shrunkBy(slot.margins).expandedTo(window->minimumSize());
  // A window that cannot be made as small as its slot still stays on the screen.
  window->move(Inside(QRect(frame.topLeft(), content.grownBy(slot.margins)), Area()).topLeft());
  window->resize(content);
}

void WindowPlaces::Settle(Slot& slot) {
  QWidget* window = slot.window;
  const QMargins seen = FrameMargins(window);
  if (seen.isNull() || window->isMaximized() || window->isFullScreen()) return;
  slot.settling = false;
  decorations_ = seen;
  if (seen != slot.margins || window->frameGeometry().topLeft() != slot.frame.topLeft()) Apply(slot, slot.frame);
}

void WindowPlaces::SettleShown() {
  bool waiting = false;
  for (Slot& slot : slots_) {
    if (!slot.settling || !slot.window || !slot.window->isVisible()) continue;
    Settle(slot);
    waiting = waiting || slot.settling;
  }
  if (!waiting || ++settleTicks_ >= kSettleTicks) settleTimer_.stop();
}

bool WindowPlaces::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::Hide && type != QEvent::Show) return false;
  for (Slot& slot : slots_) {
    QWidget* window = slot.window;
    if (window != watched) continue;
    if (type == QEvent::Hide) {
      if (window != main_) slot.userLeft = QRect(window->frameGeometry().topLeft(), window->size());
    } else if (slot.settling) {
      Settle(slot);
      if (slot.settling) {
        settleTicks_ = 0;
        settleTimer_.start();
      }
    }
  }
  return false;
}

}  // namespace vireo
