// vireo-preprocess CLIP... [-o MAP] [-j N]: writes the MDR map of each clip
// through the player's MDR graph, without a window.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "player/graph.h"
#include "preprocess.h"
#include "progress.h"

using namespace vireo::cli;

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "vireo-preprocess: %s\n", problem);
  std::fprintf(problem ? stderr : stdout,
               "usage: vireo-preprocess CLIP... [-o MAP] [-j N]\n"
               "Writes the MDR map of each clip (default: the clip's name with \".bmp\").\n"
               "  -o MAP   the map of the one clip given\n"
               "  -j N     clips processed at the same time, 1 to 64 (default 1)\n");
  return problem ? 2 : 0;
}

struct Job {
  std::string clip, map;
  std::string refused;  // why the clip is not run at all
};

std::string Describe(const Job& job, const ClipResult& r) {
  char figures[160];
  const double fps = r.seconds > 0 ? static_cast<double>(r.frames) / r.seconds : 0;
  std::snprintf(figures, sizeof figures, "%lld frames in %.1f s (%.0f fps)", static_cast<long long>(r.frames),
                r.seconds, fps);
  if (r.ok) return job.clip + ": " + figures + ", map " + job.map + " (" + std::to_string(r.map.rows) + " rows)";
  std::string line = "vireo-preprocess: " + job.clip + ": failed: " + r.error;
  if (r.map.exists && r.map.complete && r.frames > 0)
    line += "; the map " + job.map + " holds only the " + std::to_string(r.frames) + " frames processed";
  else if (r.map.exists && !r.map.complete && r.error.find("was not completed") == std::string::npos)
    line += "; the map " + job.map + " is unfinished";
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> clips;
  std::string output;
  int jobs = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") return Usage(nullptr);
    if (arg == "-o" || arg == "-j") {
      if (i + 1 >= argc) return Usage((arg + " needs a value").c_str());
      const std::string value = argv[++i];
      if (arg == "-o") {
        output = value;
        continue;
      }
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 1 || n > 64) return Usage("-j needs a number from 1 to 64");
      jobs = static_cast<int>(n);
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return Usage(("unknown option " + arg).c_str());
    clips.push_back(arg);
  }
  if (clips.empty()) return Usage("no clip given");
  if (!output.empty() && clips.size() > 1) return Usage("-o names the map of a single clip");

  std::vector<Job> work;
  std::map<std::string, std::string> mapOwners;
  for (const std::string& clip : clips) {
    Job job{clip, output.empty() ? DefaultMapPath(clip) : output, {}};
    auto [owner, fresh] = mapOwners.emplace(job.map, clip);
    if (!fresh) job.refused = "its map " + job.map + " is also the map of " + owner->second;
    work.push_back(std::move(job));
  }

  vireo::InitGraphLayer(argv[0]);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  const int workers = std::min<int>(jobs, static_cast<int>(work.size()));
  ProgressDisplay display(stderr, isatty(STDERR_FILENO) != 0, workers);
  std::atomic<std::size_t> next{0};
  std::atomic<int> failed{0}, running{workers};
  std::vector<std::thread> threads;
  for (int slot = 0; slot < workers; ++slot)
    threads.emplace_back([&, slot] {
      for (std::size_t i; (i = next++) < work.size();) {
        const Job& job = work[i];
        ClipResult result;
        if (!job.refused.empty()) {
          result.error = job.refused;
        } else if (g_stop) {
          result.error = "not started: interrupted";
        } else {
          Progress progress;
          display.Start(slot, job.clip, &progress);
          result = PreprocessClip(job.clip, job.map, progress, g_stop);
        }
        if (!result.ok) ++failed;
        display.Finish(slot, result.ok ? stdout : stderr, Describe(job, result));
      }
      --running;
    });
  while (running > 0) {
    display.Refresh();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  for (std::thread& t : threads) t.join();

  if (failed > 0) {
    std::fprintf(stderr, "vireo-preprocess: %d of %zu clips failed\n", failed.load(), work.size());
    return 1;
  }
  return 0;
}
