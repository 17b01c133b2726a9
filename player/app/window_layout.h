// Where the windows of a review session appear: the main window with the
// Controls below it, the Findings on one side and the MDR Map on the other,
// none covering another and all inside the screen's available area.
#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

class QWidget;

namespace vireo {

enum class ReviewWindow { kMain, kControls, kMap, kFindings };
inline constexpr std::size_t kReviewWindows = 4;

// The size a window wants and the smallest it accepts.
struct WindowSize {
  QSize preferred;
  QSize minimum;
};
using ReviewSizes = std::array<WindowSize, kReviewWindows>;  // indexed by ReviewWindow
using ReviewFrames = std::array<QRect, kReviewWindows>;

// Frame rectangles (decorations included) for windows of frame sizes `sizes`
// in `area`: Findings at the left edge, the map at the right edge, the main
// window with the Controls below it between them. A screen too small for the
// preferred sizes shrinks the Findings, then the main column, then the map,
// each down to its minimum; only a screen too small for the minimum sizes
// makes windows overlap, and then they still lie inside `area`.
ReviewFrames LayOutReviewWindows(const QRect& area, const ReviewSizes& sizes);

// Places the review windows as they open: a window's slot of the layout the
// first time in a session, where the user left it when it is opened again.
// A window placed by the program is fitted again once the window manager has
// decorated it (the window system tells no event for that, so it is looked
// for a few times after the window is shown), so that its frame, not only its
// contents, fills the slot.
class WindowPlaces : public QObject {
 public:
  // `contentSizes` gives each window's wanted and minimum sizes without
  // decorations, also of windows that are not open; `main` is the main window.
  WindowPlaces(QWidget* main, std::function<ReviewSizes()> contentSizes);

  // Before `window` is shown.
  void Place(QWidget* window, ReviewWindow which);
  // After the program resized the main window: back into its slot unless the
  // user has moved it, and inside the screen in any case.
  void RefitMain();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Slot {
    QPointer<QWidget> window;
    QRect frame;                    // where the program put the frame
    QMargins margins;               // the decorations it assumed
    std::optional<QRect> userLeft;  // frame position and content size at the last close
    bool settling = false;          // placed, not yet seen decorated
  };
  ReviewFrames Layout() const;
  QRect Area() const;
  void Apply(Slot& slot, const QRect& frame);
  // Fits a settling window again once its decorations are known.
  void Settle(Slot& slot);
  void SettleShown();

  QWidget* main_;
  std::function<ReviewSizes()> contentSizes_;
  std::array<Slot, kReviewWindows> slots_;
  QMargins decorations_;  // the window manager's, once seen on a window
  QTimer settleTimer_;
  int settleTicks_ = 0;
};

// The decorations around `window` as the window system reports them.
QMargins FrameMargins(const QWidget* window);

}  // namespace vireo
