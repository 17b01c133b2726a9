// vireo-detect: runs clips through the pathology detector without the player's
// window, writing for each a marked Motion JPEG AVI (unless --findings-only)
// and a findings file.
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "block_report.h"
#include "cli/batch.h"
#include "cli/clip_facts.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "player/graph.h"

using namespace vireo::cli;

namespace {

constexpr char kProgram[] = "vireo-detect";
// The longest findings file name the detector accepts.
constexpr std::size_t kFindingsPathMax = 2047;

constexpr const char* kLabels[] = {"Blood1", "Ulcer1", "Ulcer2", "Ulcer3", "Patho1", "Blood2", "Blood3"};
constexpr int kLabelCount = 7;

struct Job {
  BatchItem item;  // clip, then the marked clip (unless findings only) and the findings file
  Progress progress;
  const std::string& Clip() const { return item.clip; }
  bool WritesMarked() const { return item.outputs.size() > 1; }
  const std::string& Marked() const { return item.outputs.front().path; }
  const std::string& Findings() const { return item.outputs.back().path; }
  std::unique_ptr<vireo::detect::BlockRecorder> record;  // with --features or --truth
  bool succeeded = false;
};

std::string WithoutExtension(const std::string& path) {
  const std::filesystem::path p(path);
  return p.has_extension() ? (p.parent_path() / p.stem()).string() : path;
}

struct Tally {
  std::int64_t frames = 0;
  std::int64_t withLabel[kLabelCount] = {};
  std::int64_t flaggedFrames = 0;
};

// Counts the frames the findings file names, by label. False when the file
// is missing or not the detector's.
bool ReadFindings(const std::string& path, Tally* tally, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || line.rfind("Interpretation auto ostrelection:", 0) != 0) {
    *error = "the findings file " + path + " was not written";
    return false;
  }
  while (std::getline(in, line)) {
    ++tally->flaggedFrames;
    for (int label = 0; label < kLabelCount; ++label)
      if (line.find(std::string(" ") + kLabels[label]) != std::string::npos) ++tally->withLabel[label];
  }
  return true;
}

// Ends the stream at the detector so that the muxer completes the AVI with
// what it has, then waits for the end (at most a second).
void Finish(vireo::PlaybackGraph& graph, GstElement* detector) {
  GstPad* pad = gst_element_get_static_pad(detector, "sink");
  gst_pad_send_event(pad, gst_event_new_eos());
  gst_object_unref(pad);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    auto event = graph.WaitEvent(100);
    if (event && event->kind != vireo::GraphEvent::Kind::kWarning) return;
  }
}

// Runs one clip; prints its summary or the reason it failed.
bool RunJob(Job& job, int slot, ProgressDisplay& display) {
  const std::string& clip = job.Clip();
  auto fail = [&](const std::string& text) {
    display.Finish(slot, stderr, ErrorLine(kProgram, clip, text));
    return false;
  };
  if (!job.item.refused.empty()) return fail(job.item.refused);
  if (StopRequested()) return fail("not started: interrupted");

  std::string failure;
  vireo::PlaybackGraph graph;
  graph.SetDiagnosticHandler(
      [&](const vireo::Diagnostic& d) { failure = d.text + (d.detail.empty() ? "" : ": " + d.detail); });
  vireo::GraphRequest request;
  request.clipPath = clip;
  request.mode = vireo::kModePathology;
  request.findingsPath = job.Findings();
  request.markedVideo = job.WritesMarked();
  if (request.markedVideo) request.exportPath = job.Marked();
  if (job.record) request.onPlugin = [&job](GstElement* detector) { job.record->Attach(detector); };
  if (fh::FAILED(graph.Assemble(request))) return fail(failure);
  const std::vector<GstElement*> plugins = graph.PluginElements();
  if (plugins.empty()) return fail("the graph has no detector");
  GstElement* detector = plugins.front();
  if (const std::string tooSmall = graph.FramesTooSmall(); !tooSmall.empty()) {
    graph.Close();
    return fail(tooSmall);
  }

  const std::int64_t announced = AviAnnouncedFrames(clip);
  job.progress.total = announced > 0 ? announced : std::max<std::int64_t>(graph.TotalFrames(true), 0);
  display.Start(slot, clip, &job.progress);
  bool complete = false;
  const std::string kept = job.WritesMarked() ? "the marked clip" : "the findings file";
  if (fh::SUCCEEDED(graph.Run())) {
    for (;;) {
      if (StopRequested()) {
        failure = "interrupted; " + kept + " holds the frames done so far";
        Finish(graph, detector);
        break;
      }
      auto event = graph.WaitEvent(200);
      job.progress.frames = graph.FramesAnalysed();
      if (!event) continue;
      if (event->kind == vireo::GraphEvent::Kind::kWarning) {
        display.Print(stderr, ErrorLine(kProgram, clip, "warning: " + event->text));
        continue;
      }
      if (event->kind == vireo::GraphEvent::Kind::kComplete) {
        complete = true;
      } else {
        failure = event->text + "; " + kept + " holds the frames done so far";
        Finish(graph, detector);
      }
      break;
    }
  } else if (failure.empty()) {
    failure = "the graph does not run";
  }
  graph.Close();
  graph.ReleaseFilters();

  Tally tally;
  tally.frames = job.progress.frames = graph.FramesAnalysed();
  if (tally.frames == 0) return fail(vireo::kNothingDecoded);
  // AVI headers count the frames: a clip that ends early is cut short.
  if (complete && announced > 0 && tally.frames < announced)
    failure = "the clip ends after " + std::to_string(tally.frames) + " of the " + std::to_string(announced) +
              " frames its header announces (truncated?); " + kept + " holds those frames";
  std::string findingsError;
  const bool findingsRead = ReadFindings(job.Findings(), &tally, &findingsError);
  if (complete && !findingsRead) failure = findingsError;
  if (!failure.empty()) return fail(failure);

  std::string summary = clip + ": " + std::to_string(tally.frames) + " frames analysed, " +
                        std::to_string(tally.flaggedFrames) + " with findings";
  for (int label = 0; label < kLabelCount; ++label)
    summary += ", " + std::string(kLabels[label]) + " " + std::to_string(tally.withLabel[label]);
  if (job.WritesMarked()) summary += "\n  marked clip " + job.Marked();
  summary += "\n  findings " + job.Findings();
  display.Finish(slot, stdout, summary);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine command(kProgram, "[-o MARKED.avi | --findings-only] [-f FINDINGS.txt] [-j N] [--] CLIP...",
                      "Runs each clip through the pathology detector as fast as it goes and writes\n"
                      "the clip with markers drawn on it (Motion JPEG in AVI) and the findings file.");
  command.Add(
      {'o', "output", "MARKED.avi", "marked clip (one clip only; default: CLIP without its extension + \"_.avi\")"});
  command.Add({0, "findings-only", "", "write the findings file only, no marked clip (faster)"});
  command.Add({'f', "findings", "FINDINGS.txt",
               "findings file (one clip only; default: CLIP without its extension + \"_.txt\")"});
  command.Add({'j', "jobs", "N", "clips run at the same time, 1 to 64 (default 1)"});
  command.Add({0, "features", "FEATURES.csv",
               "per frame and block of every clip: the feature slots the classifiers read, the block's centre and "
               "its flags"});
  command.Add({0, "truth", "LABELS.csv",
               "measures the detector against labelled frames (columns clip, frame, class [, x0, y0, x1, y1]) and "
               "prints the table"});
  if (auto exit = command.Parse(argc, argv)) return *exit;
  const std::vector<std::string>& clips = command.Operands();
  if (clips.empty()) return command.UsageError("no clip given");
  const std::string marked = command.Value("o").value_or(""), findings = command.Value("f").value_or("");
  if (clips.size() > 1 && (!marked.empty() || !findings.empty()))
    return command.UsageError("-o and -f name the files of a single clip");
  const bool findingsOnly = command.Given("findings-only");
  if (findingsOnly && !marked.empty()) return command.UsageError("--findings-only writes no marked clip: drop -o");
  int jobs = 1;
  if (auto value = command.Value("j")) {
    const auto n = ParseCount(*value, 1, 64);
    if (!n) return command.UsageError("-j needs a number from 1 to 64, not \"" + *value + "\"");
    jobs = *n;
  }

  std::vector<std::unique_ptr<Job>> work;
  std::vector<BatchItem> items;
  for (const std::string& clip : clips) {
    BatchItem item{
        clip,
        {{"marked clip", marked.empty() ? WithoutExtension(clip) + "_.avi" : marked, 0},
         {"findings file", findings.empty() ? WithoutExtension(clip) + "_.txt" : findings, kFindingsPathMax}},
        {}};
    if (findingsOnly) item.outputs.erase(item.outputs.begin());
    if (auto refused = vireo::RefusedClipMessage(clip)) item.refused = *refused;
    items.push_back(std::move(item));
  }
  CheckBatch(items);
  for (BatchItem& item : items) {
    work.push_back(std::make_unique<Job>());
    work.back()->item = std::move(item);
  }

  vireo::detect::BlockReport blocks;
  std::string error;
  if (!blocks.Prepare(command.Value("features").value_or(""), command.Value("truth").value_or(""), clips, &error)) {
    std::fprintf(stderr, "%s\n", ErrorLine(kProgram, "", error).c_str());
    return 2;
  }
  for (auto& job : work) job->record = blocks.RecorderFor(job->Clip());

  vireo::InitGraphLayer(argv[0]);
  ProgressDisplay display(stderr, ProgressDisplay::Terminal(), jobs);
  const int failed = RunBatch(work.size(), jobs, display, [&](std::size_t i, int slot) {
    return work[i]->succeeded = RunJob(*work[i], slot, display);
  });
  if (StopRequested()) return StopExitStatus();
  if (blocks.Wanted()) {
    std::vector<vireo::detect::RecordedClip> recorded;
    for (const auto& job : work) recorded.push_back({job->Clip(), job->succeeded ? job->record.get() : nullptr});
    if (!blocks.Finish(recorded, &error)) {
      std::fprintf(stderr, "%s\n", ErrorLine(kProgram, "", error).c_str());
      return 1;
    }
  }
  return failed > 0 ? 1 : 0;
}
