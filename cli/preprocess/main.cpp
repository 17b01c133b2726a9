// vireo-preprocess CLIP... [-o MAP] [-j N] [--params FILE]: writes the MDR map of each clip
// through the player's MDR graph, without a window.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "params_file.h"
#include "player/graph.h"
#include "preprocess.h"

using namespace vireo::cli;

namespace {

constexpr char kProgram[] = "vireo-preprocess";

std::string Describe(const BatchItem& job, const ClipResult& r) {
  const std::string& map = job.outputs.front().path;
  char figures[160];
  const double fps = r.seconds > 0 ? static_cast<double>(r.frames) / r.seconds : 0;
  std::snprintf(figures, sizeof figures, "%lld frames in %.1f s (%.0f fps)", static_cast<long long>(r.frames),
                r.seconds, fps);
  if (r.ok) return job.clip + ": " + figures + ", map " + map + " (" + std::to_string(r.map.rows) + " rows)";
  std::string line = ErrorLine(kProgram, job.clip, "failed: " + r.error);
  if (r.written && r.map.complete)
    line += "; the map " + map + " holds the " + std::to_string(r.map.rows) + " rows of the " +
            std::to_string(r.frames) + " frames processed";
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine command(kProgram, "[-o MAP] [-j N] [--params FILE] [--] CLIP...",
                      "Writes the MDR map of each clip (default: the clip's name with \".bmp\").");
  command.Add({'o', "output", "MAP", "the map of the one clip given"});
  command.Add({'j', "jobs", "N", "clips processed at the same time, 1 to 64 (default 1)"});
  command.Add({0, "params", "FILE", "MDR model parameters, in the text of the MDR page (default: built-in)"});
  if (auto exit = command.Parse(argc, argv)) return *exit;
  const std::vector<std::string>& clips = command.Operands();
  if (clips.empty()) return command.UsageError("no clip given");
  const std::string output = command.Value("o").value_or("");
  if (!output.empty() && clips.size() > 1) return command.UsageError("-o names the map of a single clip");
  int jobs = 1;
  if (auto value = command.Value("j")) {
    const auto n = ParseCount(*value, 1, 64);
    if (!n) return command.UsageError("-j needs a number from 1 to 64, not \"" + *value + "\"");
    jobs = *n;
  }

  std::optional<vireo::MdrParameters> parameters;
  if (auto file = command.Value("params")) {
    std::string error;
    parameters = ReadMdrParameters(*file, &error);
    if (!parameters) {
      std::fprintf(stderr, "%s\n", ErrorLine(kProgram, *file, error).c_str());
      return 2;
    }
  }

  std::vector<BatchItem> work;
  for (const std::string& clip : clips) {
    BatchItem job{clip, {{"map", output.empty() ? DefaultMapPath(clip) : output, kMapPathMax}}, {}};
    if (auto refused = vireo::RefusedClipMessage(clip)) job.refused = *refused;
    work.push_back(std::move(job));
  }
  CheckBatch(work);

  vireo::InitGraphLayer(argv[0]);
  ProgressDisplay display(stderr, ProgressDisplay::Terminal(), jobs);
  const int failed = RunBatch(work.size(), jobs, display, [&](std::size_t i, int slot) {
    const BatchItem& job = work[i];
    ClipResult result;
    result.error = job.refused;
    if (result.error.empty() && StopRequested()) result.error = "not started: interrupted";
    if (result.error.empty()) {
      Progress progress;
      display.Start(slot, job.clip, &progress);
      result = PreprocessClip(job.clip, job.outputs.front().path, progress, StopRequested(), parameters);
    }
    display.Finish(slot, result.ok ? stdout : stderr, Describe(job, result));
    return result.ok;
  });

  if (failed > 0)
    display.Print(stderr, ErrorLine(kProgram, {},
                                    std::to_string(failed) + " of " + std::to_string(work.size()) + " clips failed"));
  if (StopRequested()) return StopExitStatus();
  return failed > 0 ? 1 : 0;
}
