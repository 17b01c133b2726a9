// The one writer and the path checks, on real files in a private folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "filterhost/atomic_file.h"

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vireo-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Names in the folder, so a left-over temporary shows.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

TEST_F(AtomicFileTest, TargetChangesOnlyOnCommitAndNothingIsLeftBehind) {
  const std::string target = Path("map.bmp");
  Put(target, "earlier result");
  {
    fh::AtomicFile file(target);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write(std::string(200000, 'x')));  // beyond the buffer
    ASSERT_TRUE(file.Flush());
    EXPECT_EQ(Get(target), "earlier result");
    EXPECT_EQ(fs::path(file.TempPath()).parent_path(), fs::path(dir_));
  }  // destroyed without Commit
  EXPECT_EQ(Get(target), "earlier result");
  EXPECT_EQ(Entries(), std::vector<std::string>{"map.bmp"});

  fh::AtomicFile file(target);
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("HEAD....body", 12));
  ASSERT_TRUE(file.WriteAt(4, "1234", 4));
  EXPECT_FALSE(file.WriteAt(10, "xyz", 3)) << "a header may not run past the content";
  EXPECT_FALSE(file.Commit()) << "a writer that failed once never commits";
  EXPECT_EQ(Get(target), "earlier result");

  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("HEAD....body", 12));
  ASSERT_TRUE(file.WriteAt(4, "1234", 4));
  ASSERT_TRUE(file.Commit()) << file.Error();
  EXPECT_EQ(Get(target), "HEAD1234body");
  EXPECT_EQ(Entries(), std::vector<std::string>{"map.bmp"});
}

TEST_F(AtomicFileTest, WritingThroughALinkReplacesTheFileItNames) {
  Put(Path("real.txt"), "old");
  fs::create_symlink("real.txt", Path("link.txt"));
  std::string error;
  ASSERT_TRUE(fh::WriteFileAtomically(Path("link.txt"), "new", 3, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
  EXPECT_EQ(Get(Path("real.txt")), "new");
}

// A full disk, without root: the child process may not grow a file beyond
// 4 KB, so the kernel answers EFBIG; the earlier target must survive and the
// reason must be the system's.
TEST_F(AtomicFileTest, AWriteErrorKeepsTheTargetAndNamesTheReason) {
  const std::string target = Path("findings.txt");
  Put(target, "good findings");
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    fh::AtomicFile file(target);
    bool ok = file.Open();
    for (int i = 0; ok && i < 100; ++i) ok = file.Write(std::string(1000, 'y'));
    ok = ok && file.Commit();
    const std::string report = (ok ? "ok" : "failed ") + file.Error();
    (void)!::write(pipefd[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipefd[1]);
  char text[512] = {};
  (void)!::read(pipefd[0], text, sizeof text - 1);
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(std::string(text), "failed File too large");
  EXPECT_EQ(Get(target), "good findings");
  EXPECT_EQ(Entries(), std::vector<std::string>{"findings.txt"});
}

TEST_F(AtomicFileTest, SameFileComparesFilesNotSpellings) {
  Put(Path("a.avi"), "clip");
  Put(Path("b.avi"), "other");
  fs::create_symlink(Path("a.avi"), Path("link.avi"));
  fs::create_hard_link(Path("a.avi"), Path("hard.avi"));
  fs::create_directory(Path("sub"));
  fs::create_directory_symlink(dir_, Path("sub/up"));
  const std::string cwd = fs::current_path();
  fs::current_path(dir_);
  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {"a.avi", "./a.avi", true},          {"a.avi", Path("a.avi"), true},
      {"a.avi", "link.avi", true},         {"a.avi", "hard.avi", true},
      {"a.avi", "sub/../a.avi", true},     {"new.bmp", "./new.bmp", true},  // neither exists yet
      {"new.bmp", "sub/up/new.bmp", true}, {"a.avi", "b.avi", false},
      {"new.bmp", "new2.bmp", false},      {"new.bmp", "a.avi", false},
      {"missing/x", "missing/x", false},  // nothing to compare
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fh::SameFile(c.a, c.b), c.same) << c.a << " vs " << c.b;
  }
  fs::current_path(cwd);
}

TEST_F(AtomicFileTest, OutputsMustBeRegularFilesOrNew) {
  Put(Path("old.txt"), "x");
  fs::create_directory(Path("folder"));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    bool ok;
    std::string reason;
  } cases[] = {
      {Path("old.txt"), true, ""},
      {Path("new.txt"), true, ""},
      {Path("folder"), false, "is a folder"},
      {Path("fifo"), false, "is not a regular file"},
      {"/dev/full", false, "is not a regular file"},
      {"/dev/stdout", false, "is not a regular file"},
      {Path("nowhere/new.txt"), false, "No such file or directory"},
      {Path("old.txt/new.txt"), false, "Not a directory"},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_EQ(fh::CheckOutputPath(c.path, &reason), c.ok) << c.path;
    EXPECT_EQ(reason, c.reason) << c.path;
    fh::AtomicFile file(c.path);
    EXPECT_EQ(file.Open(), c.ok) << c.path << ": " << file.Error();
  }
  EXPECT_TRUE(fs::is_fifo(Path("fifo")));
}

TEST(CopyPathToBuffer, APathThatDoesNotFitIsRefusedNotCut) {
  char buffer[8] = "keep";
  EXPECT_FALSE(fh::CopyPathToBuffer("12345678", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "keep");
  EXPECT_TRUE(fh::CopyPathToBuffer("1234567", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "1234567");
}

}  // namespace
