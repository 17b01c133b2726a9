#include "map_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <algorithm>
#include <cstring>

#include "map_viewer.h"

namespace vireo {

namespace {

constexpr int kMarkerSize = 16;
constexpr int kRateTickMs = 200;
constexpr int kControlLeft = 16;

QVector<QRgb> StripPalette(const QPalette& palette) {
  QVector<QRgb> colours(16);
  colours[0] = palette.color(QPalette::Button).rgb();
  for (int i = 1; i < 8; ++i) colours[i] = qRgb(i & 4 ? 255 : 0, i & 2 ? 255 : 0, i & 1 ? 255 : 0);
  for (int i = 8; i < 16; ++i) colours[i] = qRgb((i - 7) * 32 - 1, (i - 7) * 32 - 1, (i - 7) * 32 - 1);
  return colours;
}

// The colour table of a map of 8 bits or fewer (RGBQUAD entries after the info header).
QVector<QRgb> MapPalette(const MapState& map) {
  QVector<QRgb> colours;
  if (map.BitCount() > 8) return colours;
  const auto& header = map.Header();
  std::uint32_t biSize = 0, used = 0;
  std::memcpy(&biSize, header.data(), 4);
  std::memcpy(&used, header.data() + 32, 4);
  const int count = used ? static_cast<int>(used) : 1 << map.BitCount();
  colours.resize(1 << map.BitCount(), qRgb(0, 0, 0));
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* quad = header.data() + biSize + 4 * i;
    colours[i] = qRgb(quad[2], quad[1], quad[0]);
  }
  return colours;
}

// The marker icon: a small arrow pointing at the map.
QPixmap MarkerPixmap() {
  QPixmap pixmap(kMarkerSize, kMarkerSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(120, 0, 0), 1));
  painter.setBrush(QColor(230, 30, 30));
  const QPointF arrow[] = {{1, 3}, {9, 3}, {15, 8}, {9, 13}, {1, 13}};
  painter.drawPolygon(arrow, 5);
  return pixmap;
}

// Pixels of dialog units for the dialog font.
QSize DialogUnits(const QWidget* widget, int x, int y) {
  const QFontMetrics metrics(widget->font());
  return {x * metrics.averageCharWidth() / 4, y * metrics.height() / 8};
}

}  // namespace

// ---- the map control -------------------------------------------------------

MapControl::MapControl(MapViewer& viewer, MapWindow& window) : QWidget(&window), viewer_(viewer), window_(window) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  mapColours_ = MapPalette(viewer_.State());
  stripColours_ = StripPalette(palette());
}

const QImage& MapControl::MapRows(int first, int count) {
  const MapState& map = viewer_.State();
  const uchar* data = map.Row(first);
  switch (map.BitCount()) {
    case 24: expanded_ = QImage(data, map.Width(), count, map.Stride(), QImage::Format_BGR888); break;
    case 32: expanded_ = QImage(data, map.Width(), count, map.Stride(), QImage::Format_RGB32); break;
    case 16: expanded_ = QImage(data, map.Width(), count, map.Stride(), QImage::Format_RGB555); break;
    case 8:
      expanded_ = QImage(data, map.Width(), count, map.Stride(), QImage::Format_Indexed8);
      expanded_.setColorTable(mapColours_);
      break;
    case 1:
      expanded_ = QImage(data, map.Width(), count, map.Stride(), QImage::Format_Mono);
      expanded_.setColorTable(mapColours_);
      break;
    default: {  // 4 bits: widened into an 8-bit picture
      QImage wide(map.Width(), count, QImage::Format_Indexed8);
      for (int y = 0; y < count; ++y) {
        const uchar* in = map.Row(first + y);
        uchar* out = wide.scanLine(y);
        for (int x = 0; x < map.Width(); ++x) out[x] = x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 0x0F;
      }
      wide.setColorTable(mapColours_);
      expanded_ = std::move(wide);
    }
  }
  return expanded_;
}

const QImage& MapControl::StripRows(int first, int count) {
  const RateTables& tables = viewer_.Tables();
  if (strip_.height() < count) {
    strip_ = QImage(kStripWidth, std::max(count, height()), QImage::Format_Indexed8);
    strip_.setColorTable(stripColours_);
  }
  for (int y = 0; y < count; ++y) {
    uchar* out = strip_.scanLine(y);
    for (int p = 0; p < kStripWidth; ++p) out[p] = static_cast<uchar>(StripPixel(tables, first + y, p));
  }
  return strip_;
}

void MapControl::paintEvent(QPaintEvent*) {
  const MapState& map = viewer_.State();
  if (!map.Loaded()) return;
  QPainter painter(this);
  const int first = window_.ScrollRow();
  const int count = std::clamp(map.Rows() - first, 0, height());
  // Beside and below the rows the window's own background.
  painter.fillRect(rect(), palette().color(QPalette::Window));
  if (count > 0) painter.drawImage(0, 0, MapRows(first, count));
  if (viewer_.Tables().strip.empty()) return;
  const int x = map.Width();
  if (count > 0)
    painter.drawImage(QRect(x + 2, 0, kStripWidth, count), StripRows(first, count), QRect(0, 0, kStripWidth, count));
  painter.setPen(QPen(palette().color(QPalette::Dark), 0));
  painter.drawLine(x + 1, 0, x + 1, height());
  painter.drawLine(x + 131, 0, x + 131, height());
  painter.setPen(QPen(palette().color(QPalette::Light), 0));
  painter.drawLine(x + 130, 0, x + 130, height());
  painter.drawLine(x + 258, 0, x + 258, height());
}

void MapControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  viewer_.PauseAndSeekRow(static_cast<int>(event->position().y()) + window_.ScrollRow());
}

void MapControl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) viewer_.Run();
}

void MapControl::wheelEvent(QWheelEvent* event) {
  window_.Wheel(event->angleDelta().y());
  event->accept();
}

void MapControl::keyPressEvent(QKeyEvent* event) { window_.ForwardKey(event); }

// ---- the window -------------------------------------------------------------

MapWindow::MapWindow(MapViewer& viewer, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      viewer_(viewer) {
  setWindowTitle(QStringLiteral("MDR Map"));
  setAcceptDrops(true);
  setSizeGripEnabled(false);
  control_ = new MapControl(viewer, *this);
  marker_ = new QLabel(this);
  marker_->setPixmap(MarkerPixmap());
  scrollBar_ = new QScrollBar(Qt::Vertical, this);
  scrollBar_->setSingleStep(1);

  const WindowSize start = StartSize(this);
  const QSize size = start.preferred;
  const QSize controlSize = DialogUnits(this, 269, 468);
  resize(size);
  initialSize_ = size;
  marker_->setGeometry(0, -6, 15, 15);
  initialControl_ = QSize(controlSize.width() - kControlLeft, controlSize.height());
  control_->setGeometry(kControlLeft, 0, initialControl_.width(), initialControl_.height());
  scrollBar_->setGeometry(size.width() - scrollBar_->sizeHint().width(), 0, scrollBar_->sizeHint().width(),
                          size.height());
  setMinimumSize(start.minimum);
  connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int action) { OnScrollAction(action); });
  connect(&followTimer_, &QTimer::timeout, this, [this] { FollowFrame(); });
  connect(&rateTimer_, &QTimer::timeout, this, [this] { viewer_.RateTick(); });
  followTimer_.start(200);
  UpdateScrollRange();
}

WindowSize MapWindow::StartSize(const QWidget* widget) {
  const QSize size = DialogUnits(widget, 282, 469);
  return {size, QSize(size.width(), size.height() / 4)};
}

int MapWindow::ScrollMaximum() const {
  const int rows = viewer_.State().Rows();
  const int h = control_->height();
  return rows > h ? rows - h : 0;
}

void MapWindow::UpdateScrollRange() {
  const int maximum = ScrollMaximum();
  scrollBar_->setRange(0, maximum / 8);
  scrollBar_->setPageStep(std::max(1, control_->height() / 8));
  scrollRow_ = std::min(scrollRow_, maximum);
  scrollBar_->setValue(scrollRow_ / 8);
  control_->update();
}

void MapWindow::SetRateTimer(bool on) {
  // Each change of rate is a flushing seek: five a second follow the table
  // closely without stalling the picture.
  if (on && viewer_.State().Egomotion())
    rateTimer_.start(kRateTickMs);
  else
    rateTimer_.stop();
}

void MapWindow::Refresh() { control_->update(); }

void MapWindow::OnScrollAction(int action) {
  viewer_.Pause();
  const int maximum = ScrollMaximum();
  const int h = control_->height();
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: scrollRow_ = std::clamp(scrollRow_ - 8, 0, maximum); break;
    case QAbstractSlider::SliderSingleStepAdd: scrollRow_ = std::clamp(scrollRow_ + 8, 0, maximum); break;
    case QAbstractSlider::SliderPageStepSub: scrollRow_ = std::clamp(scrollRow_ - h, 0, maximum); break;
    case QAbstractSlider::SliderPageStepAdd: scrollRow_ = std::clamp(scrollRow_ + h, 0, maximum); break;
    case QAbstractSlider::SliderMove: scrollRow_ = std::clamp(scrollBar_->sliderPosition() * 8, 0, maximum); break;
    case QAbstractSlider::SliderToMinimum: scrollRow_ = 0; break;
    case QAbstractSlider::SliderToMaximum: scrollRow_ = maximum; break;
    default: return;
  }
  scrollBar_->setSliderPosition(scrollRow_ / 8);
  control_->update();
}

void MapWindow::Wheel(int delta) {
  scrollRow_ = std::clamp(scrollRow_ - delta, 0, ScrollMaximum());
  scrollBar_->setValue(scrollRow_ / 8);
  control_->update();
}

void MapWindow::FollowFrame() {
  const int row = viewer_.CurrentRow();
  if (row < 0) return;
  const int h = control_->height();
  const int rows = viewer_.State().Rows();
  int d = row - scrollRow_;
  if (viewer_.Running()) {
    int scroll = scrollRow_;
    if (d < h / 8 && scrollRow_ > 0)
      scroll = std::max(0, row - 7 * h / 8);
    else if (d > 7 * h / 8 && scrollRow_ < rows - h - 1)
      scroll = std::min(row - h / 8, rows - h - 1);
    if (scroll != scrollRow_) {
      scrollRow_ = scroll;
      scrollBar_->setValue(scrollRow_ / 8);
      control_->update();
      d = row - scrollRow_;
    }
  }
  d = std::clamp(d, 0, h);
  marker_->setGeometry(0, d - 6, kMarkerSize, kMarkerSize);
}

void MapWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const QSize change = size() - initialSize_;
  control_->resize(initialControl_ + change);
  const int barWidth = scrollBar_->sizeHint().width();
  scrollBar_->setGeometry(width() - barWidth, 0, barWidth, height());
  UpdateScrollRange();
  FollowFrame();
}

void MapWindow::closeEvent(QCloseEvent* event) {
  followTimer_.stop();
  rateTimer_.stop();
  QDialog::closeEvent(event);
  viewer_.WindowClosed();
}

void MapWindow::ForwardKey(QKeyEvent* event) { emit keyPressed(event); }

void MapWindow::keyPressEvent(QKeyEvent* event) { ForwardKey(event); }

void MapWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MapWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  emit fileDropped(urls.first().toLocalFile());
}

}  // namespace vireo
