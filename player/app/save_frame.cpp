// "&Save frame...": the frame at the current position is written to a bitmap
// by the frame-capture plug-in in a capture graph; the player then plays on
// from the same position.
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "preprocess_file_dialog.h"
#include "main_window.h"
#include "messages.h"

namespace vireo {

namespace {

// How long the player waits for the capture filter to write the frame.
constexpr auto kCaptureWaitLimit = std::chrono::milliseconds(4096);

// The wait for the capture callback. The callback comes on a streaming
// thread and carries no context, so it finds the waiting object through one
// pointer, held under a lock while the object lives; the signal it emits is
// queued to the GUI thread, which keeps painting meanwhile.
class CaptureWait : public QObject {
  Q_OBJECT
 public:
  enum class Outcome { kWaiting, kWritten, kFailed };

  CaptureWait() {
    std::lock_guard lock(mutex_);
    current_ = this;
  }
  ~CaptureWait() override {
    std::lock_guard lock(mutex_);
    current_ = nullptr;
  }

  // The capture callback: the file was written whole, or not at all.
  static void Done(fh::HRESULT result, const char* reason) {
    std::lock_guard lock(mutex_);
    if (!current_) return;
    if (reason) current_->reason_ = QString::fromLocal8Bit(reason);
    current_->outcome_ = fh::SUCCEEDED(result) ? Outcome::kWritten : Outcome::kFailed;
    emit current_->done();
  }

  // The outcome once the callback came; kWaiting when the limit passed
  // first. User input waits meanwhile, so no command runs in the middle of
  // the capture.
  Outcome Wait() {
    if (outcome_ != Outcome::kWaiting) return outcome_;
    QEventLoop loop;
    connect(this, &CaptureWait::done, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(kCaptureWaitLimit, &loop, &QEventLoop::quit);
    if (outcome_ == Outcome::kWaiting) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome_;
  }

  // The capture filter's reason for a failure.
  QString Reason() const {
    std::lock_guard lock(mutex_);
    return reason_;
  }

 signals:
  void done();

 private:
  static inline std::mutex mutex_;
  static inline CaptureWait* current_ = nullptr;
  std::atomic<Outcome> outcome_{Outcome::kWaiting};
  QString reason_;
};

// "%s%6.6i.bmp" of the capture base and the position's low 32 bits.
QString ProposedFrameName(const QString& captureBase, std::int64_t position) {
  return captureBase + QString::asprintf("%6.6i.bmp", static_cast<std::int32_t>(position));
}

}  // namespace

void MainWindow::SaveFrame() {
  if (!graph_.HasGraph()) return;
  const std::int64_t position = graph_.CurrentPosition();
  graph_.StopAndRewind();
  UpdateTitle();

  FileDialogRequest ask;
  ask.owner = this;
  ask.title = QStringLiteral("Save frame as...");
  ask.initialPath = ProposedFrameName(state_.captureBase, position);
  ask.filter = QStringLiteral("Windows bitmap (*.bmp)");
  ask.defaultSuffix = QStringLiteral("bmp");
  ask.save = true;
  const QString path = AskOne(ask);
  if (path.isEmpty()) return;

  CloseClip();
  OpenClip(kModeCapture);
  auto outcome = CaptureWait::Outcome::kWritten;
  QString reason;
  if (graph_.HasGraph()) {
    graph_.SetPosition(position);
    graph_.Pause();
    graph_.SetRate(1.0);
    void* control = nullptr;
    if (GstElement* capture = graph_.CaptureElement();
        capture && fh::SUCCEEDED(fh::QueryElementInterface(capture, fh::IID_IKelbitFiltInterface, &control)) &&
        control) {
      CaptureWait wait;
      auto* kelbit = static_cast<fh::IKelbitFiltInterface*>(control);
      kelbit->SetCaptureFile(QFile::encodeName(path).constData());
      kelbit->SetCaptureCallback(&CaptureWait::Done);
      kelbit->Release();
      // Repositioning makes the frame at `position` pass the capture filter.
      graph_.SetPosition(position);
      outcome = wait.Wait();
      reason = wait.Reason();
    }
    graph_.StopAndRewind();
  }

  CloseClip();
  state_.viewMode = kModePlain;
  // A capture graph that could not be built has closed the clip: no file
  // dialog comes up in its place.
  if (!state_.clipPath.isEmpty()) OpenClip(kModePlain);
  if (graph_.HasGraph()) {
    graph_.SetPosition(position);
    graph_.Pause();
    graph_.SetRate(1.0);
    UpdateTitle();
  }

  // A capture graph that could not be built has been reported already; the
  // capture filter's own warning is not shown, so a failure is said once.
  if (outcome != CaptureWait::Outcome::kWritten) {
    if (reason.isEmpty()) reason = QStringLiteral("The capture filter did not write the frame.");
    ShowMessage(MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("Error"),
                                    QStringLiteral("The frame was not saved to \"%1\".").arg(path))
                    .WithDetail(reason));
  }
}

}  // namespace vireo

#include "save_frame.moc"
