// vireo-detect: runs clips through the pathology detector without the player's
// window, writing for each a marked Motion JPEG AVI and a findings file.
#include <signal.h>
#include <unistd.h>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "player/graph.h"

namespace {

constexpr const char* kUsage =
    "usage: vireo-detect CLIP... [-o MARKED.avi | --findings-only] [-f FINDINGS.txt] [-j N]\n"
    "\n"
    "Runs each clip through the pathology detector as fast as it goes and writes\n"
    "the clip with markers drawn on it (Motion JPEG in AVI) and the findings file.\n"
    "\n"
    "  -o MARKED.avi    marked clip (one clip only; default: CLIP without its\n"
    "                   extension + \"_.avi\")\n"
    "  -f FINDINGS.txt  findings file (one clip only; default: CLIP without its\n"
    "                   extension + \"_.txt\")\n"
    "  --findings-only  write the findings file only, no marked clip (faster)\n"
    "  -j N             clips run at the same time (default 1)\n"
    "  -h, --help       show this text\n";

constexpr const char* kLabels[] = {"Blood1", "Ulcer1", "Ulcer2", "Ulcer3", "Patho1", "Blood2", "Blood3"};
constexpr int kLabelCount = 7;

std::atomic<bool> g_abort{false};
std::mutex g_outputLock;  // messages, summaries and the progress line

struct Job {
  std::string clip, marked, findings;
  // Progress for the terminal line, written by the job's worker.
  std::atomic<std::int64_t> done{0}, total{0};
  std::atomic<bool> running{false}, finished{false};
};

struct Options {
  std::vector<std::string> clips;
  std::string marked, findings;
  bool findingsOnly = false;
  int jobs = 1;
};

std::string WithoutExtension(const std::string& path) {
  const std::filesystem::path p(path);
  return p.has_extension() ? (p.parent_path() / p.stem()).string() : path;
}

std::optional<Options> ParseArguments(int argc, char** argv, std::string* error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--findings-only") {
      o.findingsOnly = true;
      continue;
    }
    if (arg == "-o" || arg == "-f" || arg == "-j") {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a value";
        return std::nullopt;
      }
      const std::string value = argv[++i];
      if (arg == "-o") o.marked = value;
      if (arg == "-f") o.findings = value;
      if (arg == "-j") {
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), o.jobs);
        if (ec != std::errc() || end != value.data() + value.size() || o.jobs < 1 || o.jobs > 64) {
          *error = "-j needs a number from 1 to 64, not \"" + value + "\"";
          return std::nullopt;
        }
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + std::string(arg);
      return std::nullopt;
    }
    o.clips.emplace_back(arg);
  }
  if (o.clips.empty()) {
    *error = "no clip given";
    return std::nullopt;
  }
  if (o.clips.size() > 1 && (!o.marked.empty() || !o.findings.empty())) {
    *error = "-o and -f name the files of a single clip";
    return std::nullopt;
  }
  if (o.findingsOnly && !o.marked.empty()) {
    *error = "--findings-only writes no marked clip: -o does not go with it";
    return std::nullopt;
  }
  return o;
}

void ClearProgressLine(bool terminal) {
  if (terminal) std::fputs("\r\033[K", stderr);
}

// One line for the whole batch: finished clips count whole, running ones by
// their frames.
void DrawProgress(const std::vector<std::unique_ptr<Job>>& jobs) {
  double sum = 0;
  int finished = 0;
  for (const auto& job : jobs) {
    if (job->finished) {
      sum += 1;
      ++finished;
    } else if (job->running && job->total > 0) {
      sum += std::min(1.0, static_cast<double>(job->done) / static_cast<double>(job->total));
    }
  }
  const double fraction = sum / static_cast<double>(jobs.size());
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r\033[K[%s] %3d%%  %d/%zu clips", bar.c_str(), static_cast<int>(fraction * 100), finished,
               jobs.size());
  std::fflush(stderr);
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
// what it has, then waits for the end (at most 10 s).
void Finish(vireo::PlaybackGraph& graph, GstElement* detector) {
  GstPad* pad = gst_element_get_static_pad(detector, "sink");
  gst_pad_send_event(pad, gst_event_new_eos());
  gst_object_unref(pad);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    auto event = graph.WaitEvent(200);
    if (event && event->kind != vireo::GraphEvent::Kind::kWarning) return;
  }
}

// Runs one clip; prints its summary or the reason it failed.
bool RunJob(Job& job, bool terminal) {
  std::string failure;
  auto say = [&](const std::string& text) {
    std::lock_guard lock(g_outputLock);
    ClearProgressLine(terminal);
    std::fprintf(stderr, "vireo-detect: %s: %s\n", job.clip.c_str(), text.c_str());
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(job.clip, ec)) {
    say("no such file");
    return false;
  }
  for (const std::string& out : {job.marked, job.findings})
    if (!out.empty() && std::filesystem::equivalent(job.clip, out, ec)) {
      say("would overwrite the clip with " + out);
      return false;
    }
  if (auto refused = vireo::RefusedClipMessage(job.clip)) {
    say(*refused);
    return false;
  }
  // The detector only warns when it cannot create its file, and the run would
  // be wasted: find out first.
  if (std::FILE* probe = std::fopen(job.findings.c_str(), "ab")) {
    std::fclose(probe);
  } else {
    say("cannot create the findings file " + job.findings + ": " + std::strerror(errno));
    return false;
  }

  vireo::PlaybackGraph graph;
  graph.SetDiagnosticHandler([&](const vireo::Diagnostic& d) {
    failure = d.text + (d.detail.empty() ? "" : ": " + d.detail);
  });
  vireo::GraphRequest request;
  request.clipPath = job.clip;
  request.mode = vireo::kModePathology;
  request.findingsPath = job.findings;
  request.exportPath = job.marked;
  request.markedVideo = !job.marked.empty();
  if (fh::FAILED(graph.Assemble(request))) {
    say(failure);
    return false;
  }
  const std::vector<GstElement*> plugins = graph.PluginElements();
  if (plugins.empty()) {
    say("the graph has no detector");
    return false;
  }
  GstElement* detector = plugins.front();

  job.total = std::max<std::int64_t>(graph.TotalFrames(true), 1);
  const bool framesCounted = graph.Splitter() == vireo::SplitterKind::kAvi;
  job.running = true;
  bool complete = false;
  const std::string kept = job.marked.empty() ? "the findings file" : "the marked clip";
  if (fh::SUCCEEDED(graph.Run())) {
    for (;;) {
      if (g_abort) {
        failure = "aborted; " + kept + " holds the frames done so far";
        Finish(graph, detector);
        break;
      }
      auto event = graph.WaitEvent(200);
      job.done = graph.FramesAnalysed();
      if (!event) continue;
      if (event->kind == vireo::GraphEvent::Kind::kWarning) {
        say("warning: " + event->text);
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
  job.running = false;

  Tally tally;
  tally.frames = graph.FramesAnalysed();
  // AVI headers count the frames: a clip that ends early is cut short.
  const std::int64_t declared = job.total;
  if (complete && framesCounted && tally.frames < declared)
    failure = "the clip ends after " + std::to_string(tally.frames) + " of its " + std::to_string(declared) +
              " frames (truncated?); " + kept + " holds those frames";
  std::string findingsError;
  const bool findingsRead = ReadFindings(job.findings, &tally, &findingsError);
  if (complete && !findingsRead) failure = findingsError;
  if (!failure.empty()) {
    say(failure);
    return false;
  }
  std::lock_guard lock(g_outputLock);
  ClearProgressLine(terminal);
  std::printf("%s: %lld frames analysed, %lld with findings", job.clip.c_str(), static_cast<long long>(tally.frames),
              static_cast<long long>(tally.flaggedFrames));
  for (int label = 0; label < kLabelCount; ++label)
    std::printf(", %s %lld", kLabels[label], static_cast<long long>(tally.withLabel[label]));
  std::printf("\n");
  if (!job.marked.empty()) std::printf("  marked clip %s\n", job.marked.c_str());
  std::printf("  findings %s\n", job.findings.c_str());
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = ParseArguments(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "vireo-detect: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  vireo::InitGraphLayer(argv[0]);
  struct sigaction action{};
  action.sa_handler = [](int) { g_abort = true; };
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::vector<std::unique_ptr<Job>> jobs;
  for (const std::string& clip : options->clips) {
    auto job = std::make_unique<Job>();
    job->clip = clip;
    if (!options->findingsOnly)
      job->marked = options->marked.empty() ? WithoutExtension(clip) + "_.avi" : options->marked;
    job->findings = options->findings.empty() ? WithoutExtension(clip) + "_.txt" : options->findings;
    jobs.push_back(std::move(job));
  }

  const bool terminal = isatty(STDERR_FILENO) != 0;
  std::atomic<size_t> next{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> workers;
  const int count = std::min<int>(options->jobs, static_cast<int>(jobs.size()));
  for (int w = 0; w < count; ++w)
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < jobs.size();) {
        if (g_abort) break;
        if (!RunJob(*jobs[i], terminal)) ++failed;
        jobs[i]->finished = true;
      }
    });
  std::atomic<bool> allDone{false};
  std::thread progress;
  if (terminal)
    progress = std::thread([&] {
      while (!allDone) {
        {
          std::lock_guard lock(g_outputLock);
          DrawProgress(jobs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
      }
    });
  for (std::thread& t : workers) t.join();
  allDone = true;
  if (progress.joinable()) progress.join();
  ClearProgressLine(terminal);
  if (g_abort) return 130;
  return failed > 0 ? 1 : 0;
}
