#include "report.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <map>
#include <set>

#include "clock_text.h"
#include "detector_labels.h"
#include "filterhost/atomic_file.h"
#include "map_file.h"
#include "map_state.h"
#include "frame_grabber.h"
#include "timeline.h"

namespace vireo {

namespace {

constexpr QSize kTimelineSize(620, 150);
constexpr QSize kTimelineSizeWithoutCurve(620, 76);
constexpr int kPictureShownPixels = 96;
constexpr std::size_t kFramesListed = 12;  // per note, the rest counted
// Findings rows with pictures that fit an A4 page: below the facts and the
// timeline on the first, alone on the others.
constexpr std::size_t kRowsOnFirstPage = 4;
constexpr std::size_t kRowsPerPage = 8;

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())); }
QString Html(const std::string& bytes) { return Text(bytes).toHtmlEscaped(); }
std::string FileName(const std::string& path) { return QFileInfo(Text(path)).fileName().toStdString(); }

// "frames 12, 40 and 3 more".
std::string FrameList(const std::vector<std::int64_t>& frames) {
  std::string text;
  for (std::size_t i = 0; i < frames.size() && i < kFramesListed; ++i)
    text += (i ? ", " : "") + std::to_string(frames[i]);
  if (frames.size() > kFramesListed) text += " and " + std::to_string(frames.size() - kFramesListed) + " more";
  return text;
}

// The velocity of every map row, or nothing with a note saying why.
std::vector<VelocityPoint> MapVelocity(const std::string& path, std::int64_t frames, std::vector<std::string>* notes) {
  const std::string name = "The map \"" + FileName(path) + "\" ";
  const std::string without = "; the timeline has no velocity curve.";
  MapFile file = ReadMapFile(path);
  if (file.status == MapFile::Status::kCannotOpen) {
    notes->push_back(name + "could not be opened" + without);
    return {};
  }
  if (file.status != MapFile::Status::kOk || file.bitCount != 24 || file.rows == 0) {
    notes->push_back(name + "is not an MDR map with measures" + without);
    return {};
  }
  MapState map;
  map.Assign(std::move(file.header), std::move(file.pixels), file.width, file.rows, file.stride, file.bitCount, false);
  if (!map.FramesNeverDecrease()) {
    notes->push_back(name + "carries no valid measures (its frame numbers decrease)" + without);
    return {};
  }
  // The rows count the frames the tracking filter saw: never more than the clip has.
  const std::int32_t last = map.Record(map.Rows() - 1).frame;
  if (last > frames) {
    notes->push_back(name + "belongs to another clip: its rows reach frame " + std::to_string(last) +
                     ", the clip has " + std::to_string(frames) + " frames" + without);
    return {};
  }
  std::vector<VelocityPoint> points;
  points.reserve(map.Rows());
  for (int row = 0; row < map.Rows(); ++row) points.push_back({map.Record(row).frame, map.Record(row).velocity});
  return points;
}

std::optional<FindingsFile> ReadNoted(const std::string& path, const char* what, std::vector<std::string>* notes) {
  auto file = ReadFindingsFile(path);
  if (!file) notes->push_back(std::string(what) + " \"" + FileName(path) + "\" could not be read.");
  return file;
}

QByteArray Encoded(const QImage& image, const char* format, int quality) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return bytes;
}

// The report as HTML; `source` names a picture for the reader at hand.
// `paged`: for paper, the findings table is split where pages end.
QString RenderHtml(const Report& report, const std::function<QString(const QString& key, const QImage&)>& source,
                   bool paged) {
  QString html;
  html += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">");
  html += QStringLiteral("<title>Capsule study report: %1</title>").arg(Html(report.clipName));
  if (!paged)
    html += QStringLiteral(
        "<style>body{font-family:sans-serif;margin:2em;max-width:60em}"
        "table{border-collapse:collapse}th,td{border:1px solid #999;padding:4px 8px;text-align:left;"
        "vertical-align:top}th{background:#eee}img.timeline{max-width:100%}</style>");
  html += QStringLiteral("</head><body>\n<h1>Capsule study report</h1>\n");
  html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">\n");
  auto fact = [&html](const QString& name, const QString& value) {
    html += QStringLiteral("<tr><th align=\"left\">%1</th><td>%2</td></tr>\n").arg(name, value);
  };
  fact(QStringLiteral("Clip"), Html(report.clipName));
  fact(QStringLiteral("Length"),
       QStringLiteral("%1 frames (%2)").arg(report.frames).arg(Text(ClockText(report.frames, report.frameRate))));
  fact(QStringLiteral("Frame rate"), QStringLiteral("%1 frames per second").arg(report.frameRate, 0, 'f', 2));
  fact(QStringLiteral("Interpretation time"),
       report.minutes ? QStringLiteral("%1 min (findings file %2)").arg(*report.minutes).arg(Html(report.findingsName))
                      : QStringLiteral("not recorded (no findings file)"));
  fact(QStringLiteral("Report made"), report.made.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
  html += QStringLiteral("</table>\n");

  html += QStringLiteral(
              "<h2>Timeline</h2>\n<p>Findings (orange), frames the detector flagged for blood (red) and "
              "ulcers (green)%1.</p>\n")
              .arg(report.velocity ? QStringLiteral(", and the capsule's velocity from the MDR map") : QString());
  html += QStringLiteral("<p><img class=\"timeline\" src=\"%1\" width=\"%2\" alt=\"Timeline\"></p>\n")
              .arg(source(QStringLiteral("timeline"), report.timeline))
              .arg(report.timeline.deviceIndependentSize().width());

  html += QStringLiteral("<h2>Findings (%1)</h2>\n").arg(report.rows.size());
  if (report.rows.empty()) {
    html += QStringLiteral("<p>No findings.</p>\n");
  } else {
    const QString head = QStringLiteral("<tr><th>Frame</th><th>Time</th><th>Note</th><th>Picture</th></tr>\n");
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">\n") + head;
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
      // On paper the table goes on on a new page before a row would be cut.
      if (paged && i >= kRowsOnFirstPage && (i - kRowsOnFirstPage) % kRowsPerPage == 0)
        html += QStringLiteral(
                    "</table>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" "
                    "style=\"page-break-before: always\">\n") +
                head;
      const ReportRow& row = report.rows[i];
      const QString picture = row.picture.isNull()
                                  ? QStringLiteral("<i>No picture: %1</i>").arg(Html(row.problem))
                                  : QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"Frame %4\">")
                                        .arg(source(QStringLiteral("frame%1").arg(row.finding.frame), row.picture))
                                        .arg(row.picture.width() * kPictureShownPixels / kReportPicturePixels)
                                        .arg(row.picture.height() * kPictureShownPixels / kReportPicturePixels)
                                        .arg(row.finding.frame);
      html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                  .arg(row.finding.frame)
                  .arg(Text(ClockText(row.finding.frame, report.frameRate)), Html(row.finding.text), picture);
    }
    html += QStringLiteral("</table>\n");
  }

  html += QStringLiteral("<h2>Pathology detector</h2>\n");
  if (!report.detectorRun) {
    html += QStringLiteral("<p>No pathology run.</p>\n");
  } else if (report.labels.empty()) {
    html += QStringLiteral("<p>The detector flagged no frame.</p>\n");
  } else {
    html += QStringLiteral(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">\n"
        "<tr><th>Label</th><th>Frames flagged</th><th>First</th><th>Last</th></tr>\n");
    for (const LabelSummary& label : report.labels)
      html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3 (%4)</td><td>%5 (%6)</td></tr>\n")
                  .arg(Html(label.label))
                  .arg(label.frames)
                  .arg(label.first)
                  .arg(Text(ClockText(label.first, report.frameRate)))
                  .arg(label.last)
                  .arg(Text(ClockText(label.last, report.frameRate)));
    html += QStringLiteral("</table>\n");
  }

  if (!report.notes.empty()) {
    html += QStringLiteral("<h2>Not shown</h2>\n<ul>\n");
    for (const std::string& note : report.notes) html += QStringLiteral("<li>%1</li>\n").arg(Html(note));
    html += QStringLiteral("</ul>\n");
  }
  html += QStringLiteral("</body></html>\n");
  return html;
}

}  // namespace

ReportFormat ReportFormatOf(const std::string& path) {
  const QString suffix = QFileInfo(Text(path)).suffix();
  if (suffix.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) return ReportFormat::kPdf;
  if (suffix.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0 ||
      suffix.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0)
    return ReportFormat::kHtml;
  return ReportFormat::kUnknown;
}

bool BuildReport(const ReportSources& sources, Report* report, std::string* error,
                 const std::function<bool(int, int)>& progress) {
  FrameGrabber grabber;
  if (!grabber.Open(sources.clipPath, error)) return false;
  *report = Report{};
  report->clipName = FileName(sources.clipPath);
  report->frames = grabber.Frames();
  report->frameRate = grabber.FrameRate();
  report->made = QDateTime::currentDateTime();

  std::optional<FindingsFile> findings = sources.findings;
  if (!findings && !sources.findingsPath.empty())
    findings = ReadNoted(sources.findingsPath, "The findings file", &report->notes);
  std::vector<Finding> list;
  if (findings) {
    list = findings->findings;
    report->minutes = findings->minutes;
    report->findingsName = FileName(sources.findingsPath);
  }
  std::stable_sort(list.begin(), list.end(), [](const Finding& a, const Finding& b) { return a.frame < b.frame; });
  std::vector<Finding> detector;
  if (!sources.detectorPath.empty())
    if (auto run = ReadNoted(sources.detectorPath, "The pathology run's findings file", &report->notes)) {
      detector = std::move(run->findings);
      report->detectorRun = true;
    }

  // One picture per frame, decoded in frame order.
  std::map<std::int64_t, std::pair<QImage, std::string>> pictures;
  for (const Finding& finding : list) pictures[finding.frame];
  int done = 0;
  for (auto& [frame, picture] : pictures) {
    picture.first = grabber.Grab(frame, QSize(kReportPicturePixels, kReportPicturePixels), &picture.second);
    if (progress && !progress(++done, static_cast<int>(pictures.size()))) {
      *error = "stopped";
      return false;
    }
  }
  std::vector<std::int64_t> pastEnd, undecoded;
  for (const auto& [frame, picture] : pictures)
    if (frame >= report->frames)
      pastEnd.push_back(frame);
    else if (picture.first.isNull())
      undecoded.push_back(frame);
  for (const Finding& finding : list) {
    const auto& picture = pictures[finding.frame];
    report->rows.push_back({finding, picture.first, picture.second});
  }
  if (!pastEnd.empty())
    report->notes.push_back("Findings past the end of the clip (" + std::to_string(report->frames) +
                            " frames) have no picture: " + FrameList(pastEnd) + ".");
  if (!undecoded.empty())
    report->notes.push_back("Frames that could not be decoded have no picture: " + FrameList(undecoded) + ".");

  // The detector's labels, from its run and from detector lines in the list.
  std::vector<std::set<std::int64_t>> flagged(DetectorLabelCount());
  auto count = [&](const std::vector<Finding>& findings) {
    for (const Finding& finding : findings)
      for (int label : DetectorLabels(finding.text)) {
        flagged[label].insert(finding.frame);
        report->detectorRun = true;
      }
  };
  count(list);
  count(detector);
  for (int label = 0; label < DetectorLabelCount(); ++label)
    if (!flagged[label].empty())
      report->labels.push_back({DetectorLabelName(label), static_cast<std::int64_t>(flagged[label].size()),
                                *flagged[label].begin(), *flagged[label].rbegin()});

  std::vector<VelocityPoint> velocity;
  if (!sources.mapPath.empty()) velocity = MapVelocity(sources.mapPath, report->frames, &report->notes);
  report->velocity = !velocity.empty();
  report->timeline = TimelinePicture(CollectMarks(report->frames, list, detector), report->frameRate, velocity,
                                     report->velocity ? kTimelineSize : kTimelineSizeWithoutCurve);
  return true;
}

QByteArray ReportHtml(const Report& report) {
  return RenderHtml(
             report,
             [](const QString& key, const QImage& image) {
               const bool photo = key != QLatin1String("timeline");
               const QByteArray bytes = Encoded(image, photo ? "JPEG" : "PNG", photo ? 85 : -1);
               return QStringLiteral("data:image/%1;base64,%2")
                   .arg(photo ? QStringLiteral("jpeg") : QStringLiteral("png"), QString::fromLatin1(bytes.toBase64()));
             },
             false)
      .toUtf8();
}

QByteArray ReportPdf(const Report& report) {
  QTextDocument document;
  const QString html = RenderHtml(
      report,
      [&document](const QString& key, const QImage& image) {
        const QString name = QStringLiteral("vireo:") + key;
        document.addResource(QTextDocument::ImageResource, QUrl(name), image);
        return name;
      },
      true);
  // Plain letters, so that searching the PDF for "findings" finds them (a
  // shaped "fi" ligature would not match).
  QFont font = document.defaultFont();
  font.setStyleStrategy(QFont::PreferNoShaping);
  document.setDefaultFont(font);
  document.setHtml(html);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    // The document keeps its own 2 cm margins on paper.
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("Capsule study report: %1").arg(Text(report.clipName)));
    writer.setCreator(QStringLiteral("Vireo"));
    document.print(&writer);
  }
  return bytes;
}

std::optional<std::string> WriteReport(const std::string& path, const Report& report) {
  const ReportFormat format = ReportFormatOf(path);
  if (format == ReportFormat::kUnknown) return "the report's name must end in .pdf or .html";
  const QByteArray bytes = format == ReportFormat::kPdf ? ReportPdf(report) : ReportHtml(report);
  std::string error;
  if (!fh::WriteFileAtomically(path, bytes.constData(), static_cast<std::size_t>(bytes.size()), &error)) return error;
  return std::nullopt;
}

}  // namespace vireo
