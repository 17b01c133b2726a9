// "&Detect pathologies": the clip runs through the pathology detector into a
// Motion JPEG AVI with markers and a findings file, under the Video Analysis
// dialog; afterwards the marked or the original clip plays with the
// detector's findings.
#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "main_window.h"
#include "messages.h"
#include "preprocess_dialog.h"
#include "preprocess_file_dialog.h"

namespace vireo {

namespace {

// How long an aborted run may take to complete the AVI with what it has.
constexpr auto kFinishLimit = std::chrono::seconds(10);

// Sets `ended` when the end of the stream reaches the file writer, that is
// once the muxer has completed the AVI.
void WatchWriterEnd(GstElement* pipeline, std::atomic<bool>* ended) {
  GstIterator* sinks = gst_bin_iterate_sinks(GST_BIN(pipeline));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(sinks, &item) == GST_ITERATOR_OK) {
    auto* sink = GST_ELEMENT(g_value_get_object(&item));
    if (GstPad* pad = gst_element_get_static_pad(sink, "sink")) {
      gst_pad_add_probe(
          pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
          [](GstPad*, GstPadProbeInfo* info, gpointer flag) {
            if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
              static_cast<std::atomic<bool>*>(flag)->store(true);
            return GST_PAD_PROBE_OK;
          },
          ended, nullptr);
      gst_object_unref(pad);
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(sinks);
}

// An aborted run: the end of the stream enters at the detector, so the AVI
// keeps the frames done so far and stays playable.
void FinishAbortedRun(PlaybackGraph& graph, const std::atomic<bool>& ended) {
  const auto elements = graph.PluginElements();
  if (ended || elements.empty()) return;
  if (GstPad* pad = gst_element_get_static_pad(elements.front(), "sink")) {
    gst_pad_send_event(pad, gst_event_new_eos());
    gst_object_unref(pad);
  }
  const auto deadline = std::chrono::steady_clock::now() + kFinishLimit;
  while (!ended && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

void MainWindow::DetectPathologies() {
  if (!graph_.HasGraph()) return;

  FileDialogRequest video;
  video.owner = this;
  video.title = QStringLiteral("Save video as...");
  video.initialPath =
      state_.captureBase.size() >= PATH_MAX - 5 ? QStringLiteral(".avi") : state_.captureBase + QStringLiteral(".avi");
  video.filter = QStringLiteral("Video (*.avi)");
  video.defaultSuffix = QStringLiteral("avi");
  video.save = true;
  const QString exportPath = AskOne(video);
  if (exportPath.isEmpty()) return;
  state_.exportVideoPath = exportPath;

  FileDialogRequest findings;
  findings.owner = this;
  findings.title = QStringLiteral("Save Findings as...");
  findings.initialPath = state_.captureBase + QStringLiteral(".txt");
  findings.filter = QStringLiteral("Findings file (*.txt)");
  findings.defaultSuffix = QStringLiteral("txt");
  findings.save = true;
  const QString detectorFindings = AskOne(findings);
  if (detectorFindings.isEmpty()) return;

  // The clip's own findings are written before the detector's take their place.
  CloseClipAndWindows(FindingsWindow::kClose);
  state_.findingsPath = detectorFindings;

  runOutputLost_ = false;
  OpenClip(kModePathology);
  state_.viewMode = kModePlain;
  if (graph_.HasGraph()) {
    // Frames the detector does not analyse are not run at all: nothing
    // would be found in them, and no file is written.
    std::string nothingAnalysed = graph_.FramesTooSmall();
    if (nothingAnalysed.empty()) {
      std::atomic<bool> ended{false};
      WatchWriterEnd(graph_.Pipeline(), &ended);
      graph_.Run();
      UpdateTitle();
      RunAnalysisDialog();
      FinishAbortedRun(graph_, ended);
      if (graph_.FramesAnalysed() == 0) nothingAnalysed = kNothingDecoded;
    }
    CloseClip();
    // The detector completes its findings file when it is released.
    graph_.ReleaseFilters();
    if (!nothingAnalysed.empty()) {
      ShowMessage(MessageRequest::Box(this, QMessageBox::Warning, QStringLiteral("Video Analysis"),
                                      QString::fromStdString(nothingAnalysed)));
      OpenClip(kModePlain);
      InitVideoWindow(1, 1);
      return;
    }

    const auto question = MessageRequest::Box(nullptr, QMessageBox::Question, QStringLiteral("Question"),
                                              QStringLiteral("Load video with pathology markers?"))
                              .WithButtons(QMessageBox::Yes | QMessageBox::No);
    if (ShowMessage(question) == QMessageBox::Yes) state_.clipPath = state_.exportVideoPath;
    OpenClip(kModePlain);
    if (!runOutputLost_) {
      LoadFindings(state_.findingsPath);
      LoadDetectorFindings(state_.findingsPath);
    }
  }
  InitVideoWindow(1, 1);
}

}  // namespace vireo
