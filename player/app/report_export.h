// "Export report...": the report is gathered and written on a thread of its
// own while a progress dialog shows how many pictures are done, so playback
// and the windows go on meanwhile.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <thread>

#include "report.h"

class QProgressDialog;
class QWidget;

namespace vireo {

class ReportExport : public QObject {
  Q_OBJECT
 public:
  explicit ReportExport(QWidget* owner);
  ~ReportExport() override;  // waits for a report being written

  bool Running() const { return worker_.joinable(); }
  // Starts writing the report of `sources` to `path`; false while another
  // is being written. Cancel in the progress dialog ends it without a report
  // and without `finished`.
  bool Start(ReportSources sources, const QString& path);

 signals:
  // `failure` is empty when the report was written; `notes` say what it
  // could not show.
  void finished(const QString& path, const QString& failure, const QStringList& notes);

 private:
  void Done(const QString& path, const QString& failure, const QStringList& notes);

  QWidget* owner_;
  QPointer<QProgressDialog> progress_;
  std::atomic<bool> stop_{false};  // Cancel: no report is written
  std::thread worker_;
};

}  // namespace vireo
