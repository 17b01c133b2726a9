// vireo-report end to end: the PDF's text (pdftotext) lists every finding
// with its frame and time and the detector's summary; the HTML file opens in
// a headless browser with every picture decoded; bad inputs still give a
// report that says what it could not show; a failed write leaves nothing
// under the report's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "clips.h"
#include "gst_pipeline.h"
#include "test_map_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 250;  // 10 s at 25 frames per second

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A copy of `clip` whose frame `frame` is no JPEG any more.
std::string WithBrokenFrame(const std::string& clip, int frame, const std::string& name) {
  std::string bytes = ReadAll(clip);
  // Video chunks are "00db" (uncompressed) or "00dc" (compressed).
  auto next = [&bytes](std::size_t from) {
    const std::size_t b = bytes.find("00db", from), c = bytes.find("00dc", from);
    return std::min(b, c);
  };
  std::size_t at = bytes.find("movi");
  for (int i = 0; i <= frame && at != std::string::npos; ++i) at = next(at + 4);
  if (at == std::string::npos) return {};
  const std::uint32_t size = static_cast<std::uint8_t>(bytes[at + 4]) | static_cast<std::uint8_t>(bytes[at + 5]) << 8 |
                             static_cast<std::uint8_t>(bytes[at + 6]) << 16;
  for (std::uint32_t i = 0; i < size; ++i) bytes[at + 8 + i] = '\x55';
  return ptest::WriteFile(name, bytes);
}

struct Inputs {
  std::string clip, findings, detector, map;
};

// The reviewer's list: frames, times and notes as the report must show them.
struct Row {
  int frame;
  const char* time;
  const char* note;
};
const Row kRows[] = {{0, "0:00:00", "entry"},
                     {30, "0:00:01", "polyp?"},
                     {125, "0:00:05", "Blood1 Ulcer2"},
                     {249, "0:00:09", "exit & <end>"}};

Inputs MakeInputs(const std::string& clip, const std::string& tag, std::vector<Row> extra, int mapFrames) {
  Inputs in;
  in.clip = clip;
  std::string findings = "Interpretation time [min]: 17\r\n";
  for (const Row& row : kRows) findings += std::to_string(row.frame) + "\t2\t" + row.note + "\r\n";
  for (const Row& row : extra) findings += std::to_string(row.frame) + "\t3\t" + row.note + "\r\n";
  in.findings = ptest::WriteFile(tag + ".txt", findings);
  in.detector = ptest::WriteFile(tag + "_.txt",
                                 "Interpretation auto ostrelection: 0\r\n10\t0\t Blood1\r\n"
                                 "20\t0\t Blood1 Blood2\r\n200\t0\t Ulcer1\r\n");
  in.map = ptest::WriteFile(tag + ".bmp", ptest::MapBytes(ptest::Rows(mapFrames / 2, 2, 2, {0, 1.5f})));
  return in;
}

vtest::CommandResult Report(const Inputs& in, const std::string& output, const std::string& prefix = "") {
  return vtest::RunCommand(prefix + Quote(vtest::ProgramPath("vireo-report")) + " " + Quote(in.clip) + " -f " +
                           Quote(in.findings) + " -d " + Quote(in.detector) + " -m " + Quote(in.map) + " -o " +
                           Quote(output) + " 2>&1");
}

std::string PdfText(const std::string& pdf) {
  return vtest::RunCommand("pdftotext -layout " + Quote(pdf) + " - 2>&1").output;
}

bool HasLine(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

std::string Escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.?*+^$()\[\]{}|\\])"), R"(\$&)");
}

struct ReportCase {
  const char* name;
  std::vector<Row> extra;  // further findings
  int mapFrames;           // the map's rows reach this frame
  int brokenFrame;         // -1: none
  std::vector<std::string> notes;
};

TEST(Report, PdfListsEveryFindingTheSummaryAndWhatItCouldNotShow) {
  const std::string clip = ptest::Clip(".avi", kFrames, 64);
  ASSERT_FALSE(clip.empty());
  const std::vector<ReportCase> cases = {
      {"complete", {}, kFrames, -1, {}},
      {"bad inputs",
       {{60, "0:00:02", "broken frame"}, {400, "0:00:16", "late"}},
       4000,
       60,
       {"past the end of the clip \\(250 frames\\) have no picture: 400\\.", "belongs to another clip",
        "could not be decoded have no picture: 60\\."}},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tag = std::string("pdf-") + (c.brokenFrame < 0 ? "good" : "bad");
    const std::string source = c.brokenFrame < 0 ? clip : WithBrokenFrame(clip, c.brokenFrame, tag + ".avi");
    ASSERT_FALSE(source.empty());
    const Inputs in = MakeInputs(source, tag, c.extra, c.mapFrames);
    const std::string pdf = ptest::ScratchDir() + "/" + tag + ".pdf";
    const auto run = Report(in, pdf);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string text = PdfText(pdf);
    SCOPED_TRACE(text);
    EXPECT_TRUE(HasLine(text, "Clip +" + Escaped(fs::path(source).filename().string())));
    EXPECT_TRUE(HasLine(text, "Length +250 frames \\(0:00:10\\)"));
    EXPECT_TRUE(HasLine(text, "Frame rate +25\\.00 frames per second"));
    EXPECT_TRUE(HasLine(text, "Interpretation time +17 min"));
    EXPECT_TRUE(HasLine(text, "Report made +20[0-9][0-9]-[01][0-9]-[0-3][0-9]"));
    std::vector<Row> rows(std::begin(kRows), std::end(kRows));
    rows.insert(rows.end(), c.extra.begin(), c.extra.end());
    for (const Row& row : rows)
      EXPECT_TRUE(HasLine(text, "\\n *" + std::to_string(row.frame) + " +" + row.time + " +" + Escaped(row.note)))
          << "finding at frame " << row.frame;
    // Blood1 from the run (10, 20) and from the list (125); the others as flagged.
    EXPECT_TRUE(HasLine(text, "Blood1 +3 +10 \\(0:00:00\\) +125 \\(0:00:05\\)"));
    EXPECT_TRUE(HasLine(text, "Blood2 +1 +20 \\(0:00:00\\) +20 \\(0:00:00\\)"));
    EXPECT_TRUE(HasLine(text, "Ulcer1 +1 +200 \\(0:00:08\\) +200 \\(0:00:08\\)"));
    EXPECT_TRUE(HasLine(text, "Ulcer2 +1 +125 \\(0:00:05\\) +125 \\(0:00:05\\)"));
    EXPECT_EQ(HasLine(text, "velocity from the MDR map"), c.notes.empty());
    EXPECT_EQ(HasLine(text, "Not shown"), !c.notes.empty());
    // pdftotext may break a long note across lines.
    const std::string flat = std::regex_replace(text, std::regex("\\s+"), " ");
    for (const std::string& note : c.notes) {
      EXPECT_TRUE(HasLine(flat, note)) << note;
      EXPECT_TRUE(HasLine(run.output, note)) << "also said on the terminal: " << note;
    }
    EXPECT_LT(fs::file_size(pdf), 3u << 20);
  }
}

TEST(Report, HtmlOpensInAHeadlessBrowserWithEveryPicture) {
  const std::string clip = ptest::Clip(".avi", kFrames, 64);
  const Inputs in = MakeInputs(clip, "html", {{400, "0:00:16", "late"}}, kFrames);
  const std::string html = ptest::ScratchDir() + "/report.html";
  const auto run = Report(in, html);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string page = ReadAll(html);
  EXPECT_EQ(page.find("src=\"http"), std::string::npos) << "pictures are inside the file";
  EXPECT_NE(page.find("exit &amp; &lt;end&gt;"), std::string::npos) << "notes are escaped";

  // The browser reports, once the page has loaded, how many pictures it
  // decoded and how many resources failed.
  const std::string probe = ptest::WriteFile(
      "probe.html", page +
                        "<script>let failed=0;addEventListener('error',()=>++failed,true);"
                        "addEventListener('load',()=>{const all=[...document.images];"
                        "document.body.dataset.check=all.filter(i=>i.complete&&i.naturalWidth>0).length+'/'"
                        "+all.length+' failed '+failed;});</script>");
  const std::string profile = ptest::ScratchDir() + "/chromium-profile";
  const auto browser = vtest::RunCommand(
      "chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update "
      "--disable-sync --no-first-run --user-data-dir=" +
      Quote(profile) + " --virtual-time-budget=5000 --dump-dom " + Quote("file://" + probe) + " 2>/dev/null");
  ASSERT_EQ(browser.status, 0);
  // Four findings with pictures, the one past the end without, and the timeline.
  EXPECT_NE(browser.output.find("data-check=\"5/5 failed 0\""), std::string::npos) << browser.output.substr(0, 400);
}

TEST(Report, AFailedWriteLeavesNothingUnderTheReportsName) {
  const std::string clip = ptest::Clip(".avi", kFrames, 64);
  const Inputs in = MakeInputs(clip, "write", {}, kFrames);
  const std::string folder = ptest::ScratchDir() + "/out";
  fs::create_directories(folder);
  const std::string earlier = folder + "/earlier.pdf";
  std::ofstream(earlier) << "earlier report";
  fs::create_directories(folder + "/folder.pdf");
  struct WriteCase {
    const char* name;
    std::string output, prefix, said;
  };
  const std::vector<WriteCase> cases = {
      {"missing folder", folder + "/missing/report.pdf", "", "No such file or directory"},
      {"a folder as the report", folder + "/folder.pdf", "", "folder"},
      {"disk full while writing over an earlier report", earlier, "ulimit -f 8; trap '' XFSZ; ", "File too large"},
      {"unknown format", folder + "/report.docx", "", "must end in .pdf or .html"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = Report(in, c.output, c.prefix);
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
  }
  EXPECT_EQ(ReadAll(earlier), "earlier report");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"earlier.pdf", "folder.pdf"})) << "no temporary file stays behind";
}

}  // namespace
