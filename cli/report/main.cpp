// vireo-report: writes the report of a reviewed clip (PDF or one HTML file)
// from the clip, its findings file, the pathology run's findings and its MDR
// map, without the player's window.
#include <QGuiApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "filterhost/atomic_file.h"
#include "player/graph.h"
#include "report.h"

using namespace vireo::cli;

namespace {

constexpr char kProgram[] = "vireo-report";

// `clip` with its extension replaced by `ending`, when that file exists.
std::string Beside(const std::string& clip, const char* ending) {
  std::filesystem::path path(clip);
  path.replace_extension();
  const std::string candidate = path.string() + ending;
  return fh::KindOfPath(candidate) == fh::PathKind::kRegular ? candidate : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine command(kProgram, "[-f FINDINGS.txt] [-d DETECTED.txt] [-m MAP.bmp] -o REPORT [--] CLIP",
                      "Writes the report of a reviewed clip: its length and frame rate, the\n"
                      "interpretation time, every finding with its time and a picture of its frame,\n"
                      "the pathology detector's summary per label and a timeline of the whole clip.\n"
                      "A report named .pdf is a PDF; one named .html is one web page with its\n"
                      "pictures inside.");
  command.Add({'o', "output", "REPORT", "the report to write (.pdf or .html)"});
  command.Add({'f', "findings", "FINDINGS.txt", "the reviewer's findings (default: CLIP with \".txt\", when present)"});
  command.Add({'d', "detected", "DETECTED.txt",
               "the pathology run's findings (default: CLIP without its extension + \"_.txt\", when present)"});
  command.Add(
      {'m', "map", "MAP.bmp", "MDR map whose velocity the timeline shows (default: CLIP with \".bmp\", when present)"});
  if (auto exit = command.Parse(argc, argv)) return *exit;
  if (command.Operands().size() != 1)
    return command.UsageError(command.Operands().empty() ? "no clip given" : "one clip at a time");
  const std::string clip = command.Operands().front();
  const std::string output = command.Value("o").value_or("");
  if (output.empty()) return command.UsageError("no report named (-o REPORT.pdf or -o REPORT.html)");
  if (vireo::ReportFormatOf(output) == vireo::ReportFormat::kUnknown)
    return command.UsageError("the report's name must end in .pdf or .html: " + output);

  vireo::ReportSources sources;
  sources.clipPath = clip;
  sources.findingsPath = command.Value("f").value_or(Beside(clip, ".txt"));
  sources.detectorPath = command.Value("d").value_or(Beside(clip, "_.txt"));
  sources.mapPath = command.Value("m").value_or(Beside(clip, ".bmp"));
  std::vector<BatchItem> batch{{clip, {{"report", output, 0}}, {}}};
  if (auto refused = vireo::RefusedClipMessage(clip)) batch[0].refused = *refused;
  CheckBatch(batch);
  for (const std::string* input : {&sources.findingsPath, &sources.detectorPath, &sources.mapPath})
    if (batch[0].refused.empty() && !input->empty() && fh::SameFile(*input, output))
      batch[0].refused = "the report " + output + " is the same file as the input " + *input;
  if (!batch[0].refused.empty()) {
    std::fputs((ErrorLine(kProgram, clip, batch[0].refused) + "\n").c_str(), stderr);
    return 1;
  }

  // Pictures and fonts without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  vireo::InitGraphLayer(argv[0]);
  QGuiApplication app(argc, argv);
  InstallStopSignals();
  ProgressDisplay display(stderr, ProgressDisplay::Terminal(), 1);
  Progress progress;
  display.Start(0, clip, &progress);
  vireo::Report report;
  std::string error;
  const bool built = vireo::BuildReport(sources, &report, &error, [&](int done, int total) {
    progress.total = total;
    progress.frames = done;
    display.Refresh();
    return !StopRequested();
  });
  if (StopRequested()) {
    display.Finish(0, stderr, ErrorLine(kProgram, clip, "stopped; no report written"));
    return StopExitStatus();
  }
  if (!built) {
    display.Finish(0, stderr, ErrorLine(kProgram, clip, "cannot open the clip: " + error));
    return 1;
  }
  for (const std::string& note : report.notes) display.Print(stderr, ErrorLine(kProgram, clip, "note: " + note));
  if (auto failure = vireo::WriteReport(output, report)) {
    display.Finish(0, stderr, ErrorLine(kProgram, output, *failure));
    return 1;
  }
  display.Finish(0, stdout,
                 output + ": " + std::to_string(report.rows.size()) + " findings, " +
                     std::to_string(report.labels.size()) + " labels flagged" +
                     (report.notes.empty() ? "" : " (some not shown: see the report)"));
  return 0;
}
