// "&Save frame..." on the real program, headless: the proposed name, the
// bitmap against the decoded frame, cancelling, and captures that fail.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QApplication>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "clips.h"
#include "gst_pipeline.h"
#include "main_window.h"
#include "messages.h"
#include "player_fixture.h"

namespace {

using ptest::Q;
using vireo::MainWindow;
using vireo::MessageRequest;
using vireo::PlayState;

std::uint32_t Le32(const std::string& b, int at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

class SaveFrameTest : public ptest::PlayerFixture {
 protected:
  // The clip as "a.avi" in a folder of its own.
  std::string ClipA() {
    const std::string dir = ptest::ScratchDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    const std::string clip = dir + "/a.avi";
    std::filesystem::copy_file(ptest::Clip(".avi", 20, 96), clip, std::filesystem::copy_options::overwrite_existing);
    return clip;
  }
};

TEST_F(SaveFrameTest, WritesTheFrameAtThePositionAndPlaysOnThere) {
  const std::string clip = ClipA();
  window->Start(Q(clip));
  ASSERT_TRUE(window->Graph().HasGraph());
  window->Graph().SeekToFrame(7);
  const std::string out = ptest::ScratchDir() + "/frame7.bmp";
  chosen = {Q(out)};
  Trigger(vireo::kCmdSaveFrame);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Save frame as...");
  EXPECT_EQ(dialogs[0].initialPath, Q(clip.substr(0, clip.size() - 4) + "_000007.bmp"));
  EXPECT_EQ(dialogs[0].filter, "Windows bitmap (*.bmp)");
  EXPECT_TRUE(messages.empty());
  // Back to plain playback, paused at frame 7.
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
  EXPECT_EQ(window->Graph().State(), PlayState::kPaused);
  EXPECT_EQ(window->Graph().CurrentFrame(), 7);

  std::ifstream in(out, std::ios::binary);
  const std::string bmp((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GE(bmp.size(), 54u);
  ASSERT_EQ(bmp.substr(0, 2), "BM");
  const int width = static_cast<int>(Le32(bmp, 18)), height = static_cast<int>(Le32(bmp, 22));
  ASSERT_EQ(width, 96);
  ASSERT_EQ(height, 96);
  const int stride = (width * 3 + 3) & ~3;
  ASSERT_EQ(bmp.size(), 54u + static_cast<std::size_t>(stride) * height);

  // The same frame decoded on its own.
  vtest::InitGst();
  const auto decoded = vtest::RunPipeline("filesrc location=\"" + clip +
                                          "\" ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! "
                                          "appsink name=out sync=false");
  ASSERT_GE(decoded.frames.size(), 8u) << decoded.error;
  const vtest::Frame& frame = decoded.frames[7];
  int differing = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 3; ++x) {
      const int stored = static_cast<unsigned char>(bmp[54 + (height - 1 - y) * stride + x]);
      if (std::abs(stored - frame.data[y * frame.stride + x]) > 2) ++differing;
    }
  EXPECT_EQ(differing, 0);
  // A neighbouring frame differs, so the comparison tells frames apart.
  const vtest::Frame& other = decoded.frames[2];
  EXPECT_NE(std::memcmp(frame.data.data(), other.data.data(), frame.data.size()), 0);
}

TEST_F(SaveFrameTest, CancelLeavesTheClipStoppedAtTheStart) {
  window->Start(Q(ClipA()));
  window->Graph().SeekToFrame(5);
  Trigger(vireo::kCmdSaveFrame);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_TRUE(dialogs[0].initialPath.endsWith("a_000005.bmp"));
  EXPECT_EQ(window->Graph().State(), PlayState::kStopped);
  EXPECT_EQ(window->Graph().CurrentFrame(), 0);
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
}

// A capture the filter could not write whole is said once, with the system's
// reason: a missing folder, and a full disk (a file size limit smaller than
// the bitmap, SIGXFSZ ignored, so the write fails as on a full disk).
TEST_F(SaveFrameTest, FailedCaptureWritesNothingAndSaysWhyOnce) {
  struct Case {
    const char* name;
    std::string out;
    rlim_t sizeLimit;  // RLIM_INFINITY: none
    const char* reason;
  } cases[] = {
      {"missing folder", ptest::ScratchDir() + "/no-such-folder/f.bmp", RLIM_INFINITY, "No such file or directory"},
      {"full disk", ptest::ScratchDir() + "/full.bmp", 16384, "File too large"},
  };
  const std::string clip = ClipA();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    window->Start(Q(clip));
    window->Graph().SeekToFrame(4);
    chosen = {Q(c.out)};
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limited{c.sizeLimit, saved.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    Trigger(vireo::kCmdSaveFrame);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(std::filesystem::exists(c.out));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].text, "The frame was not saved to \"" + Q(c.out) + "\".");
    EXPECT_EQ(messages[0].detail, c.reason);
    ASSERT_TRUE(window->Graph().HasGraph());
    EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
    EXPECT_EQ(window->Graph().CurrentFrame(), 4);
  }
}

TEST_F(SaveFrameTest, NothingWithoutAClip) {
  window->Start({});
  Trigger(vireo::kCmdSaveFrame);
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(messages.empty());
}

}  // namespace
