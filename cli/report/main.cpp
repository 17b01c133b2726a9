// vireo-report: writes the report of a reviewed clip (PDF or one HTML file)
// from the clip, its findings file, the pathology run's findings and its MDR
// map, without the player's window.
#include <unistd.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "filterhost/atomic_file.h"
#include "player/graph.h"
#include "report.h"

namespace {

constexpr const char* kUsage =
    "usage: vireo-report CLIP [-f FINDINGS.txt] [-d DETECTED.txt] [-m MAP.bmp] -o REPORT.pdf|REPORT.html\n"
    "\n"
    "Writes the report of a reviewed clip: its length and frame rate, the\n"
    "interpretation time, every finding with its time and a picture of its frame,\n"
    "the pathology detector's summary per label and a timeline of the whole clip.\n"
    "A name ending in .html gives one HTML file with its pictures inside.\n"
    "\n"
    "  -f FINDINGS.txt  the reviewer's findings (default: CLIP with \".txt\", when present)\n"
    "  -d DETECTED.txt  the pathology run's findings (default: CLIP without its\n"
    "                   extension + \"_.txt\", when present)\n"
    "  -m MAP.bmp       MDR map whose velocity the timeline shows (default: CLIP\n"
    "                   with \".bmp\", when present)\n"
    "  -o REPORT        the report to write (.pdf or .html)\n"
    "  -h, --help       show this text\n";

struct Options {
  std::string clip, findings, detector, map, output;
};

int Fail(const std::string& text, int status = 1) {
  std::fprintf(stderr, "vireo-report: %s\n", text.c_str());
  return status;
}

// `clip` with its extension replaced by `ending`, when that file exists.
std::string Beside(const std::string& clip, const char* ending) {
  std::filesystem::path path(clip);
  path.replace_extension();
  const std::string candidate = path.string() + ending;
  return fh::KindOfPath(candidate) == fh::PathKind::kRegular ? candidate : std::string();
}

bool Parse(int argc, char** argv, Options* o, std::string* error) {
  bool named = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "-f" || arg == "-d" || arg == "-m" || arg == "-o") {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a file name";
        return false;
      }
      std::string* target = arg == "-f" ? &o->findings : arg == "-d" ? &o->detector : arg == "-m" ? &o->map : &o->output;
      *target = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + std::string(arg);
      return false;
    } else if (named) {
      *error = "one clip at a time";
      return false;
    } else {
      o->clip = arg;
      named = true;
    }
  }
  if (!named || o->output.empty()) {
    *error = !named ? "no clip given" : "no report named (-o REPORT.pdf or -o REPORT.html)";
    return false;
  }
  if (o->findings.empty()) o->findings = Beside(o->clip, ".txt");
  if (o->detector.empty()) o->detector = Beside(o->clip, "_.txt");
  if (o->map.empty()) o->map = Beside(o->clip, ".bmp");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!Parse(argc, argv, &options, &error)) return Fail(error + "\n" + kUsage, 2);
  if (vireo::ReportFormatOf(options.output) == vireo::ReportFormat::kUnknown)
    return Fail("the report's name must end in .pdf or .html: " + options.output, 2);
  for (const std::string* input : {&options.clip, &options.findings, &options.detector, &options.map})
    if (!input->empty() && fh::SameFile(*input, options.output))
      return Fail("the report " + options.output + " would overwrite its input " + *input);
  if (!fh::CheckOutputPath(options.output, &error)) return Fail("cannot write " + options.output + ": " + error);

  // Pictures and fonts without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  vireo::InitGraphLayer(argv[0]);
  QGuiApplication app(argc, argv);

  vireo::ReportSources sources;
  sources.clipPath = options.clip;
  sources.findingsPath = options.findings;
  sources.detectorPath = options.detector;
  sources.mapPath = options.map;
  const bool terminal = isatty(STDERR_FILENO);
  vireo::Report report;
  const bool built = vireo::BuildReport(sources, &report, &error, [terminal](int done, int total) {
    if (terminal || done == total || done % 50 == 0)
      std::fprintf(stderr, terminal ? "\rpictures %d/%d" : "pictures %d/%d\n", done, total);
    if (terminal && done == total) std::fputc('\n', stderr);
  });
  if (!built) return Fail("cannot open the clip " + options.clip + ": " + error);
  for (const std::string& note : report.notes) std::fprintf(stderr, "vireo-report: note: %s\n", note.c_str());
  if (auto failure = vireo::WriteReport(options.output, report)) return Fail("cannot write the report: " + *failure);
  std::printf("%s: %zu findings, %zu labels flagged%s\n", options.output.c_str(), report.rows.size(),
              report.labels.size(), report.notes.empty() ? "" : " (some not shown: see the report)");
  return 0;
}
