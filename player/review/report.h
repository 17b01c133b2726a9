// The report of a reviewed clip for the patient's record: the clip, the
// interpretation time, the findings with a picture each, the detector's
// summary per label and a timeline of the whole clip. Rendered into memory as
// a PDF (Qt's own writer) or as one HTML file with its pictures inside, and
// written through the one file writer. What cannot be shown is said in the
// report, never silently left out.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "findings_file.h"

namespace vireo {

struct ReportSources {
  std::string clipPath;
  // The reviewer's findings: `findings` as the player holds them, or else
  // the file `findingsPath` (none when both are empty).
  std::optional<FindingsFile> findings;
  std::string findingsPath;
  std::string detectorPath;  // the pathology run's findings, or empty
  std::string mapPath;       // the MDR map, or empty
};

struct ReportRow {
  Finding finding;
  QImage picture;       // null when it cannot be shown
  std::string problem;  // why there is no picture
};

struct LabelSummary {
  std::string label;
  std::int64_t frames = 0;  // frames flagged
  std::int64_t first = -1, last = -1;
};

struct Report {
  std::string clipName;
  std::int64_t frames = 0;
  double frameRate = 0;
  std::string findingsName;             // the findings file's name, empty without one
  std::optional<std::int64_t> minutes;  // its interpretation time
  std::vector<ReportRow> rows;
  bool detectorRun = false;  // detector lines were found or a run's file given
  std::vector<LabelSummary> labels;
  QImage timeline;
  bool velocity = false;           // the timeline carries the map's velocity
  std::vector<std::string> notes;  // what could not be shown, and why
  QDateTime made;
};

// Pictures bound of the findings table.
inline constexpr int kReportPicturePixels = 128;

enum class ReportFormat { kPdf, kHtml, kUnknown };
ReportFormat ReportFormatOf(const std::string& path);

// Gathers the report; progress(done, total) follows the pictures and may
// answer false to stop. False with the reason when the clip itself cannot be
// opened or the work was stopped.
bool BuildReport(const ReportSources& sources, Report* report, std::string* error,
                 const std::function<bool(int, int)>& progress = {});

QByteArray ReportHtml(const Report& report);
QByteArray ReportPdf(const Report& report);

// Renders in the format the path's extension names and writes it; the
// reason on failure (the target is then left as it was).
std::optional<std::string> WriteReport(const std::string& path, const Report& report);

}  // namespace vireo
