// The command-line tools and the plug-ins as a careless or unlucky user meets
// them: wrong paths, earlier results, colliding batches, full disks, special
// files, interruptions and clips that cannot be analysed. Each case runs real
// programs on real files and checks what they print, how they end, and what
// is on disk afterwards.
//
// A full disk is a file size limit (ulimit -f, SIGXFSZ ignored): writes past
// it fail with EFBIG, without root and on any file system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "gst_pipeline.h"

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* group;  // what the case protects
  const char* what;
  std::string command;  // run by /bin/sh in the case folder; placeholders below
  int status;           // exit status expected
  std::string says;     // text the output (stdout and stderr) must contain
  std::string check;    // a shell command that must succeed afterwards ("" for none)
};

// {pre}, {det}: the tools; {clip1022}, {clip2047}: copies of a.avi whose
// absolute paths have exactly that many characters; {cut}: a.avi cut inside
// its first frame. Every case starts in a fresh folder holding a.avi (30
// frames of 256 x 256), long.avi (1500 frames), small.avi (8 frames of
// 224 x 224) and still.avi (2 frames).
const Case kCases[] = {
    // Inputs
    {"inputs", "-o names the clip", "cp a.avi in.avi && {pre} in.avi -o in.avi", 1,
     "in.avi: failed: would overwrite the clip with in.avi", "cmp in.avi a.avi"},
    {"inputs", "-o names a link to the clip", "cp a.avi in.avi && ln -s in.avi link.bmp && {pre} in.avi -o link.bmp", 1,
     "would overwrite the clip with link.bmp", "cmp in.avi a.avi"},
    {"inputs", "a map name longer than the filter takes", "{pre} {clip1022} -o {clip1022}.bmp", 1,
     "the map name has 1026 characters, more than the 1022 its filter accepts", "cmp {clip1022} a.avi"},
    {"inputs", "a findings name longer than the filter takes", "{det} {clip2047} -o x_.avi -f {clip2047}.txt", 1,
     "the findings file name has 2051 characters, more than the 2047 its filter accepts",
     "cmp {clip2047} a.avi && ! test -e x_.avi"},
    {"inputs", "a folder given as a clip", "mkdir folder.avi && {pre} folder.avi", 1, "folder.avi: failed: is a folder",
     ""},
    {"inputs", "a clip whose name starts with -", "cp a.avi ./-x.avi && {pre} -o dash.bmp -- -x.avi", 0,
     "-x.avi: 30 frames", "test -s dash.bmp"},
    {"inputs", "a folder named like Windows Media",
     "mkdir e.wmv-converted && cp a.avi e.wmv-converted/c.asxb.avi && "
     "{pre} e.wmv-converted/c.asxb.avi",
     0, "c.asxb.avi: 30 frames", "test -s e.wmv-converted/c.asxb.bmp"},

    // Earlier outputs
    {"earlier outputs", "a detect run on a clip that became unreadable",
     "cp a.avi g.avi && {det} g.avi >/dev/null && cp g_.avi g_.avi.good && cp g_.txt g_.txt.good && "
     "echo garbage > g.avi && {det} g.avi",
     1, "Cannot assemble the graph for pathology detection", "cmp g_.avi g_.avi.good && cmp g_.txt g_.txt.good"},
    {"earlier outputs", "a run that fails before its first frame creates nothing",
     "echo garbage > h.avi && {det} h.avi", 1, "h.avi: Cannot assemble",
     "! test -e h_.avi && ! test -e h_.txt && test -z \"$(ls -A | grep part)\""},

    // Batches
    {"batches", "two clips with the same outputs", "cp a.avi a.mov && {det} -j 2 a.avi a.mov", 1,
     "a.mov: its marked clip a_.avi is also the marked clip of a.avi", "test -s a_.avi"},
    {"batches", "two spellings of one map", "cp a.avi a.mov && {pre} -j 2 a.avi ./a.mov", 1,
     "./a.mov: failed: its map ./a.bmp is also the map of a.avi", "test -s a.bmp"},
    {"batches", "one clip's output is another clip", "{det} a.avi >/dev/null && {det} -j 2 a.avi a_.avi", 1,
     "a.avi: its marked clip a_.avi is the clip a_.avi", ""},

    // Write errors
    {"write errors", "the map on a full disk",
     "echo earlier > w.bmp && (trap '' XFSZ; ulimit -f 1; {pre} long.avi -o w.bmp)", 1, "File too large",
     "grep -q earlier w.bmp"},
    {"write errors", "the marked clip on a full disk",
     "echo earlier > w_.avi && (trap '' XFSZ; ulimit -f 16; {det} a.avi -o w_.avi -f w_.txt)", 1, "File too large",
     "grep -q earlier w_.avi"},
    {"write errors", "a captured frame on a full disk",
     "(trap '' XFSZ; ulimit -f 100; gst-launch-1.0 videotestsrc num-buffers=1 ! "
     "video/x-raw,format=BGR,width=640,height=480 ! kelbit capture-file=frame.bmp ! fakesink)",
     0, "Frame not captured to \"frame.bmp\": File too large", "! test -e frame.bmp"},

    // Special files
    {"special files", "findings to /dev/full", "ulimit -v 2000000; timeout 20 {det} a.avi -o s_.avi -f /dev/full", 1,
     "the findings file /dev/full is not a regular file", "! test -e s_.avi"},
    {"special files", "findings to standard output",
     "(timeout 20 {det} a.avi -o s_.avi -f /dev/stdout; echo $? > st) | cat; exit $(cat st)", 1,
     "the findings file /dev/stdout is not a regular file", ""},
    {"special files", "a FIFO as the map", "mkfifo fifo.bmp && timeout 20 {pre} a.avi -o fifo.bmp", 1,
     "the map fifo.bmp is not a regular file", "test -p fifo.bmp"},

    // Signals
    {"signals", "SIGTERM ends a run with a complete partial output",
     "{det} long.avi -o t_.avi -f t_.txt & {started .t_.txt}; kill -TERM $!; wait $!", 143, "long.avi: interrupted",
     "gst-discoverer-1.0 t_.avi | grep -q 'video #1: JPEG' && head -c 36 t_.txt | grep -q Interpretation"},
    {"signals", "a second signal ends the process at once",
     "{pre} long.avi -o q.bmp & {started .q.bmp}; kill -INT $!; kill -INT $!; wait $!", 130, "", ""},

    // Honest totals
    {"honest totals", "frames smaller than the detector analyses", "{det} small.avi", 1,
     "frames of 224 x 224 are smaller than the 256 x 256 the detector analyses: nothing was analysed",
     "! test -e small_.avi && ! test -e small_.txt"},
    {"honest totals", "a clip cut inside its first frame", "{det} {cut}", 1, "nothing was analysed",
     "! test -e cut_.avi && ! test -e cut_.txt"},
    {"honest totals", "a map without rows", "{pre} still.avi", 1, "the map still.bmp has no rows", ""},
};

void Replace(std::string& text, const std::string& key, const std::string& value) {
  for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
}

// A copy of `source` at a path of exactly `length` characters below `root`.
std::string CopyAtLength(const std::string& source, const std::string& root, std::size_t length) {
  std::string dir = root;
  while (dir.size() + 1 + 200 + 1 + 20 < length) dir += "/" + std::string(200, 'd');
  fs::create_directories(dir);
  const std::string path = dir + "/" + std::string(length - dir.size() - 1 - 4, 'c') + ".avi";
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

class Hostile : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    clips_ = vtest::TempPath("hostile-clips");
    fs::create_directories(clips_);
    const std::map<std::string, std::string> make = {{"a.avi", "--frames 30"},
                                                     {"long.avi", "--frames 1500"},
                                                     {"small.avi", "--frames 8 --size 224"},
                                                     {"still.avi", "--frames 2"}};
    for (const auto& [name, options] : make)
      ASSERT_EQ(
          vtest::RunCommand(vtest::ProgramPath("vireo-synthclip") + " " + clips_ + "/" + name + " " + options).status,
          0);
    // Cut 200 bytes into the first frame.
    std::ifstream in(clips_ + "/a.avi", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::size_t frame = bytes.find("movi");
    ASSERT_NE(frame, std::string::npos);
    std::ofstream(clips_ + "/cut.avi", std::ios::binary) << bytes.substr(0, frame + 12 + 200);
  }

  static inline std::string clips_;
};

TEST_P(Hostile, Case) {
  const Case& c = GetParam();
  static int number = 0;
  const std::string dir = vtest::TempPath("hostile-" + std::to_string(++number));
  fs::create_directories(dir);
  for (const char* name : {"a.avi", "long.avi", "small.avi", "still.avi", "cut.avi"})
    fs::copy_file(clips_ + "/" + name, dir + "/" + name, fs::copy_options::overwrite_existing);
  std::string command = c.command, check = c.check;
  for (std::string* text : {&command, &check}) {
    Replace(*text, "{pre}", vtest::ProgramPath("vireo-preprocess"));
    Replace(*text, "{det}", vtest::ProgramPath("vireo-detect"));
    if (text->find("{clip1022}") != std::string::npos)
      Replace(*text, "{clip1022}", CopyAtLength(dir + "/a.avi", dir + "/l", 1022));
    if (text->find("{clip2047}") != std::string::npos)
      Replace(*text, "{clip2047}", CopyAtLength(dir + "/a.avi", dir + "/m", 2047));
    Replace(*text, "{cut}", "cut.avi");
    // Signals go to a run that is under way: once its output's temporary file exists (at most 10 s).
    for (std::size_t at; (at = text->find("{started ")) != std::string::npos;) {
      const std::size_t end = text->find('}', at);
      const std::string temp = text->substr(at + 9, end - at - 9);
      text->replace(at, end - at + 1,
                    "for i in $(seq 500); do ls " + temp + ".*.part >/dev/null 2>&1 && break; sleep 0.02; done");
    }
  }
  const vtest::CommandResult run = vtest::RunCommand("cd " + dir + " && { " + command + " ; } 2>&1");
  EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.output;
  EXPECT_NE(run.output.find(c.says), std::string::npos) << c.what << "\n" << run.output;
  if (!check.empty()) {
    EXPECT_EQ(vtest::RunCommand("cd " + dir + " && { " + check + " ; } 2>&1").status, 0) << c.what << ": " << check;
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = std::string(info.param.group) + "_" + info.param.what;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Tools, Hostile, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
