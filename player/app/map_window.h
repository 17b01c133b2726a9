// The "MDR Map" window: the map picture with stored row ScrollRow() at the
// top, the measures strip beside it, the frame marker on the left and a
// vertical scroll bar in units of 8 rows.
#pragma once

#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>
#include <QVector>

#include "window_layout.h"

class QLabel;
class QScrollBar;

namespace vireo {

class MapViewer;
class MapWindow;

// The map and strip painter; clicks pause and seek, a double click runs.
class MapControl : public QWidget {
 public:
  MapControl(MapViewer& viewer, MapWindow& window);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const QImage& MapRows(int first, int count);
  const QImage& StripRows(int first, int count);

  MapViewer& viewer_;
  MapWindow& window_;
  QVector<QRgb> mapColours_;
  QVector<QRgb> stripColours_;
  QImage expanded_;  // the visible map rows
  QImage strip_;     // the visible strip rows, reused between paints
};

class MapWindow : public QDialog {
  Q_OBJECT
 public:
  MapWindow(MapViewer& viewer, QWidget* owner);
  // The window's size before it exists, in the font of `widget`: its width is
  // the map's; a short screen may take fewer rows.
  static WindowSize StartSize(const QWidget* widget);

  int ScrollRow() const { return scrollRow_; }
  int ScrollMaximum() const;
  MapControl* Control() const { return control_; }
  QScrollBar* ScrollBar() const { return scrollBar_; }
  QLabel* Marker() const { return marker_; }
  bool RateTimerActive() const { return rateTimer_.isActive(); }

  void SetRateTimer(bool on);
  void Refresh();
  // Scrolling by the wheel: `delta` rows up (positive) or down.
  void Wheel(int delta);
  // Keeps the current frame's row in view and moves the marker to it.
  void FollowFrame();
  void ForwardKey(QKeyEvent* event);

 signals:
  // Keys go to the keyboard table of the main window, dropped files open there.
  void keyPressed(QKeyEvent* event);
  void fileDropped(const QString& path);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void UpdateScrollRange();
  void OnScrollAction(int action);

  MapViewer& viewer_;
  MapControl* control_;
  QLabel* marker_;
  QScrollBar* scrollBar_;
  QTimer followTimer_;
  QTimer rateTimer_;
  int scrollRow_ = 0;
  QSize initialSize_;
  QSize initialControl_;
};

}  // namespace vireo
