#include "report_export.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>

#include "main_window.h"
#include "map_state.h"
#include "messages.h"
#include "preprocess_file_dialog.h"

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
  // Closing the progress dialog signals Cancel: not once the work is done.
  if (progress_) {
    progress_->disconnect(this);
    progress_->close();
  }
  if (!stop_) emit finished(path, failure, notes);
}

// ---- the main window's side ---------------------------------------------------

void MainWindow::ExportReport() {
  if (!graph_.HasGraph() || state_.clipPath.isEmpty() || reportExport_->Running()) return;
  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Export report");
  ask.save = true;
  ask.filter = QStringLiteral("PDF report (*.pdf);;Web page report (*.html)");
  ask.defaultSuffix = QStringLiteral("pdf");
  const QString& clip = state_.clipPath;
  if (HasClipExtension(clip)) ask.initialPath = clip.left(clip.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".pdf");
  const QString path = AskOne(ask);
  if (path.isEmpty()) return;
  if (ReportFormatOf(QFile::encodeName(path).toStdString()) == ReportFormat::kUnknown) {
    ShowMessage(
        MessageRequest::Box(this, QMessageBox::Critical, QStringLiteral("Error"),
                            QStringLiteral("A report is written as a .pdf or an .html file: \"%1\"").arg(path)));
    return;
  }

  // The list as it stands in the Findings window, saved or not.
  ReportSources sources;
  sources.clipPath = QFile::encodeName(clip).toStdString();
  if (findings_) {
    sources.findings = findings_->Contents();
    sources.findingsPath = QFile::encodeName(findings_->ListPath()).toStdString();
  } else if (QFileInfo::exists(state_.findingsPath)) {
    sources.findingsPath = QFile::encodeName(state_.findingsPath).toStdString();
  }
  if (QFileInfo::exists(state_.detectorFindingsPath))
    sources.detectorPath = QFile::encodeName(state_.detectorFindingsPath).toStdString();
  if (Map().Loaded()) sources.mapPath = QFile::encodeName(state_.mapPath).toStdString();
  reportExport_->Start(std::move(sources), path);
}

void MainWindow::ReportWritten(const QString& path, const QString& failure, const QStringList& notes) {
  if (!failure.isEmpty()) {
    ShowMessage(MessageRequest::Box(this, QMessageBox::Critical, QStringLiteral("Error"),
                                    QStringLiteral("Cannot write the report \"%1\": %2").arg(path, failure)));
  } else if (!notes.isEmpty()) {
    ShowMessage(
        MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("Export report"),
                            QStringLiteral("The report \"%1\" was written; it says what it could not show.").arg(path))
            .WithDetail(notes.join(QLatin1Char('\n'))));
  }
}

}  // namespace vireo
