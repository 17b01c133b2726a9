#include "report_export.h"

#include <QFile>
#include <QProgressDialog>

namespace vireo {

ReportExport::ReportExport(QWidget* owner) : QObject(owner), owner_(owner) {}

ReportExport::~ReportExport() {
  if (worker_.joinable()) worker_.join();
}

bool ReportExport::Start(ReportSources sources, const QString& path) {
  if (Running()) return false;
  stop_ = false;
  progress_ = new QProgressDialog(QStringLiteral("Writing the report..."), QStringLiteral("Cancel"), 0, 0, owner_);
  progress_->setWindowTitle(QStringLiteral("Export report"));
  progress_->setAttribute(Qt::WA_DeleteOnClose);
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(300);
  connect(progress_, &QProgressDialog::canceled, this, [this] { stop_ = true; });
  worker_ = std::thread([this, sources = std::move(sources), path] {
    auto progress = [this](int done, int total) {
      QMetaObject::invokeMethod(this, [this, done, total] {
        if (!progress_) return;
        progress_->setMaximum(total);
        progress_->setValue(done);
      });
      return !stop_;
    };
    Report report;
    std::string error;
    QString failure;
    if (!BuildReport(sources, &report, &error, progress))
      failure = QStringLiteral("cannot open the clip: %1").arg(QString::fromStdString(error));
    else if (auto written = WriteReport(QFile::encodeName(path).toStdString(), report))
      failure = QString::fromStdString(*written);
    QStringList notes;
    for (const std::string& note : report.notes) notes << QString::fromStdString(note);
    QMetaObject::invokeMethod(this, [this, path, failure, notes] { Done(path, failure, notes); });
  });
  return true;
}

void ReportExport::Done(const QString& path, const QString& failure, const QStringList& notes) {
  worker_.join();
  if (progress_) progress_->close();
  if (!stop_) emit finished(path, failure, notes);
}

}  // namespace vireo
