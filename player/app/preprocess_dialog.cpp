#include "preprocess_dialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "messages.h"
#include "player/graph.h"

namespace vireo {

namespace {
QRect Units(const QWidget* widget, int x, int y, int w, int h) {
  const QFontMetrics metrics(widget->font());
  const int bx = metrics.averageCharWidth(), by = metrics.height();
  return {x * bx / 4, y * by / 8, w * bx / 4, h * by / 8};
}
}  // namespace

int AnalysisPercent(std::int64_t current, std::int64_t total) {
  return total > 5 ? static_cast<int>(current * 100 / total) : 0;
}

QString AnalysisProgressText(std::int64_t current, std::int64_t total, std::int64_t elapsed) {
  const int percent = AnalysisPercent(current, total);
  if (total < 6 || current < 3)
    return QString::asprintf("Done: %i%%   %i/%i", percent, static_cast<int>(current), static_cast<int>(total));
  const std::int64_t left = elapsed * (total - current) / current;
  return QString::asprintf("Done: %i%%   %i/%i, \r\nElapsed: %im %02is, \r\nLeft: %im %02is", percent,
                           static_cast<int>(current), static_cast<int>(total), static_cast<int>(elapsed / 60),
                           static_cast<int>(elapsed % 60), static_cast<int>(left / 60), static_cast<int>(left % 60));
}

AnalysisDialog::AnalysisDialog(PlaybackGraph& graph, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint), graph_(graph) {
  setWindowTitle(QStringLiteral("Video Analysis"));
  abort_ = new QPushButton(QStringLiteral("Abort"), this);
  abort_->setGeometry(Units(this, 129, 7, 50, 14));
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setGeometry(Units(this, 7, 38, 172, 9));
  text_ = new QLabel(QStringLiteral("Done: 0%"), this);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text_->setGeometry(Units(this, 7, 7, 119, 26));
  setFixedSize(Units(this, 0, 0, 186, 54).size());
  connect(abort_, &QPushButton::clicked, this, &AnalysisDialog::Finish);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start(1000);
  if (owner && (graph.Mode() == kModeMdr || graph.Mode() == kModePathology)) owner->showMinimized();
}

void AnalysisDialog::Tick() {
  ++elapsed_;
  const std::int64_t current = std::max<std::int64_t>(graph_.CurrentFrame(), 0);
  const std::int64_t total = graph_.TotalFrames();
  progress_->setValue(AnalysisPercent(current, total));
  text_->setText(AnalysisProgressText(current, total, elapsed_));
}

QString AnalysisDialog::Text() const { return text_->text(); }
int AnalysisDialog::Percent() const { return progress_->value(); }

void AnalysisDialog::Finish() {
  finishing_ = true;
  close();
}

void AnalysisDialog::closeEvent(QCloseEvent* event) {
  if (!finishing_) {
    const auto question = MessageRequest::Box(this, QMessageBox::Question, QStringLiteral("Video Analysis"),
                                              QStringLiteral("Abort the analysis run?"))
                              .WithButtons(QMessageBox::Yes | QMessageBox::No);
    if (ShowMessage(question) != QMessageBox::Yes) {
      event->ignore();
      return;
    }
  }
  timer_.stop();
  done(0);
  event->accept();
}

// A stray Esc leaves a long run going.
void AnalysisDialog::reject() {}

}  // namespace vireo
