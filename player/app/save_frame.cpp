// "&Save frame...": the frame at the current position is written to a bitmap
// by the frame-capture plug-in in a capture graph; the player then plays on
// from the same position.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <thread>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "preprocess_file_dialog.h"
#include "main_window.h"
#include "messages.h"

namespace vireo {

namespace {

// The graph mode as the capture callback sees it: the callback, on a
// streaming thread, sets it back to plain playback once the file is written.
std::atomic<int> g_captureMode{kModePlain};

void CaptureWritten() { g_captureMode = kModePlain; }

constexpr int kCaptureWaits = 64;
constexpr auto kCaptureWait = std::chrono::milliseconds(64);

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
  state_.graphMode = kModeCapture;
  g_captureMode = kModeCapture;
  OpenClip();
  bool written = false;
  bool armed = false;
  if (graph_.HasGraph()) {
    graph_.SetPosition(position);
    graph_.Pause();
    graph_.SetRate(1.0);
    void* control = nullptr;
    if (GstElement* capture = graph_.CaptureElement();
        capture && fh::SUCCEEDED(fh::QueryElementInterface(capture, fh::IID_IKelbitFiltInterface, &control)) &&
        control) {
      auto* kelbit = static_cast<fh::IKelbitFiltInterface*>(control);
      kelbit->SetCaptureFile(QFile::encodeName(path).constData());
      kelbit->SetCaptureCallback(&CaptureWritten);
      kelbit->Release();
      armed = true;
      // Repositioning makes the frame at `position` pass the capture filter.
      graph_.SetPosition(position);
      for (int i = 0; i < kCaptureWaits && g_captureMode == kModeCapture; ++i)
        std::this_thread::sleep_for(kCaptureWait);
      written = g_captureMode != kModeCapture;
    }
    graph_.StopAndRewind();
  }

  CloseClip();
  state_.graphMode = kModePlain;
  g_captureMode = kModePlain;
  OpenClip();
  if (graph_.HasGraph()) {
    graph_.SetPosition(position);
    graph_.Pause();
    graph_.SetRate(1.0);
    UpdateTitle();
  }

  // A capture graph that could not be built has been reported already.
  if (armed && !written) {
    const QFileInfo folder(QFileInfo(path).absolutePath());
    MessageRequest request;
    request.owner = this;
    request.caption = QStringLiteral("Error");
    request.icon = QMessageBox::Warning;
    request.text = QStringLiteral("The frame was not saved to \"%1\".").arg(path);
    request.detail = !folder.isDir()        ? QStringLiteral("The folder does not exist.")
                     : !folder.isWritable() ? QStringLiteral("The folder is not writable.")
                                            : QStringLiteral("The capture filter did not write the frame.");
    ShowMessage(request);
  }
}

}  // namespace vireo
