// The tools' command line and the checks a batch passes before it starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/batch.h"
#include "cli/options.h"

namespace fs = std::filesystem;
using namespace vireo::cli;

namespace {

// Parses `args` with the options of vireo-detect; answers the exit status
// (-1 to run), the operands joined by "|", -o's value and what was printed.
struct Parsed {
  int exit = -1;
  std::string operands, output, printed;
};

Parsed Parse(std::vector<const char*> args) {
  CommandLine command("tool", "[-o OUT] [-j N] [--] CLIP...", "Does things.");
  command.Add({'o', "output", "OUT", "the output"});
  command.Add({'j', "jobs", "N", "jobs"});
  command.Add({'q', "quiet", "", "say less"});
  args.insert(args.begin(), "tool");
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* sink = open_memstream(&text, &size);
  Parsed p;
  if (auto exit = command.Parse(static_cast<int>(args.size()), args.data(), sink, sink)) p.exit = *exit;
  std::fclose(sink);
  p.printed.assign(text, size);
  std::free(text);
  for (const std::string& o : command.Operands()) p.operands += (p.operands.empty() ? "" : "|") + o;
  p.output = command.Value("output").value_or("<none>");
  return p;
}

TEST(CommandLine, OptionsOperandsAndTheirErrors) {
  struct Case {
    std::vector<const char*> args;
    int exit;
    std::string operands, output, printedStart;
  } cases[] = {
      {{"a.avi", "-o", "x.avi"}, -1, "a.avi", "x.avi", ""},
      {{"-ox.avi", "a.avi"}, -1, "a.avi", "x.avi", ""},
      {{"--output=x.avi", "a.avi"}, -1, "a.avi", "x.avi", ""},
      {{"--output", "-x.avi", "a.avi"}, -1, "a.avi", "-x.avi", ""},  // a value may start with "-"
      {{"--", "-a.avi", "--help"}, -1, "-a.avi|--help", "<none>", ""},
      {{"-", "-q"}, -1, "-", "<none>", ""},
      {{"a.avi", "--help"}, 0, "", "<none>", "usage: tool [-o OUT] [-j N] [--] CLIP..."},
      {{"--version"}, 0, "", "<none>", "tool (Vireo) "},
      {{"a.avi", "-z"}, 2, "a.avi", "<none>", "tool: unknown option -z\nusage: tool"},
      {{"a.avi", "--frobnicate"}, 2, "a.avi", "<none>", "tool: unknown option --frobnicate\n"},
      {{"a.avi", "-o"}, 2, "a.avi", "<none>", "tool: -o needs a value (OUT)\n"},
      {{"--quiet=yes"}, 2, "", "<none>", "tool: --quiet takes no value\n"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    const std::string where = c.args.empty() ? "" : c.args[0];
    EXPECT_EQ(p.exit, c.exit) << where << "\n" << p.printed;
    if (c.exit == -1) {
      EXPECT_EQ(p.operands, c.operands) << where;
      EXPECT_EQ(p.output, c.output) << where;
    }
    EXPECT_EQ(p.printed.substr(0, c.printedStart.size()), c.printedStart) << where;
  }
  EXPECT_EQ(ParseCount("8", 1, 64), 8);
  for (const char* bad : {"0", "65", "", "4x", " 4", "-1"}) EXPECT_FALSE(ParseCount(bad, 1, 64)) << bad;
}

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vireo-batch-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
    for (const char* clip : {"a.avi", "a.mov", "b.avi"}) std::ofstream(clip) << "clip";
    fs::create_symlink("a.avi", "link.avi");
    fs::create_hard_link("b.avi", "hard.avi");
    fs::create_directory("folder.avi");
    std::ofstream("old.bmp") << "earlier map";
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }
  static BatchItem Map(const std::string& clip, const std::string& map) { return {clip, {{"map", map, 40}}, {}}; }
  fs::path dir_, previous_;
};

TEST_F(Batch, RefusalsNameTheFileAndBothClips) {
  struct Case {
    std::vector<BatchItem> items;
    std::vector<std::string> refused;
  } cases[] = {
      {{Map("a.avi", "a.bmp"), Map("b.avi", "b.bmp")}, {"", ""}},
      {{Map("a.avi", "old.bmp")}, {""}},
      {{Map("a.avi", "a.avi")}, {"would overwrite the clip with a.avi"}},
      {{Map("a.avi", "link.avi")}, {"would overwrite the clip with link.avi"}},
      {{Map("./a.avi", dir_.string() + "/a.avi")}, {"would overwrite the clip with " + dir_.string() + "/a.avi"}},
      {{Map("a.avi", "x.bmp"), Map("b.avi", "hard.avi")}, {"", "would overwrite the clip with hard.avi"}},
      {{Map("a.avi", "b.avi"), Map("b.avi", "b.bmp")}, {"its map b.avi is the clip b.avi", ""}},
      {{Map("a.avi", "a.bmp"), Map("./a.mov", "./a.bmp")}, {"", "its map ./a.bmp is also the map of a.avi"}},
      {{{"a.avi", {{"marked clip", "o.avi", 0}, {"findings file", "./o.avi", 0}}, {}}},
       {"its findings file ./o.avi is also its marked clip"}},
      {{Map("missing.avi", "m.bmp")}, {"no such file"}},
      {{Map("folder.avi", "f.bmp")}, {"is a folder"}},
      {{Map("a.avi", "folder.avi")}, {"the map folder.avi is a folder"}},
      {{Map("a.avi", "/dev/full")}, {"the map /dev/full is not a regular file"}},
      {{Map("a.avi", "nowhere/a.bmp")}, {"cannot create the map nowhere/a.bmp: No such file or directory"}},
      {{Map("a.avi", std::string(41, 'm'))}, {"the map name has 41 characters, more than the 40 its filter accepts"}},
  };
  for (Case& c : cases) {
    CheckBatch(c.items);
    for (std::size_t i = 0; i < c.items.size(); ++i)
      EXPECT_EQ(c.items[i].refused, c.refused[i]) << c.items[i].clip << " -> " << c.items[i].outputs[0].path;
  }
  EXPECT_EQ(std::ifstream("old.bmp").rdbuf()->sgetc(), 'e');  // nothing opened for writing
  EXPECT_FALSE(fs::exists("a.bmp"));
}

}  // namespace
