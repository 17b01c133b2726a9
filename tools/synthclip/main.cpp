// vireo-synthclip: writes a synthetic capsule-endoscopy clip (and optionally
// the per-frame ground truth of its camera motion and lesions).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gst/gst.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/synthclip/avi_fourcc.h"
#include "tools/synthclip/clip_writer.h"
#include "tools/synthclip/mpeg_packs.h"
#include "tools/synthclip/qt_times.h"
#include "tools/synthclip/renderer.h"

namespace {

using vireo::synth::Container;

constexpr const char* kUsage =
    "usage: vireo-synthclip OUT [--frames N] [--size PIXELS] [--fps F] [--seed S]\n"
    "                       [--lesions bleeding,ulcer] [--fourcc MIL] [--truth TRUTH.csv]\n"
    "\n"
    "Writes a synthetic capsule-endoscopy clip. The container follows OUT's extension:\n"
    "  .avi  Motion JPEG in AVI\n"
    "  .mov  Motion JPEG in QuickTime\n"
    "  .mpg  MPEG-2 video in an MPEG program stream (even sizes; 23.976, 24, 25,\n"
    "        29.97, 30, 50 or 59.94 frames per second)\n"
    "\n"
    "  --frames N        number of frames (default 300)\n"
    "  --size PIXELS     frames are PIXELS x PIXELS, 16 to 4096 (default 256)\n"
    "  --fps F           frame rate (default 25)\n"
    "  --seed S          motion and texture seed, 0 to 4294967295 (default 1)\n"
    "  --lesions KINDS   lesions on the wall: bleeding, ulcer or both, comma separated\n"
    "  --fourcc MIL      label the AVI video \"MIL \" instead of \"MJPG\"\n"
    "  --truth FILE      write the per-frame truth as CSV\n"
    "  --help            show this text\n"
    "The same options and seed always give the same file.\n";

struct Options {
  std::string out, truth;
  std::int64_t frames = 300;
  vireo::synth::SynthOptions synth;
  bool fourccMil = false;
};

// Temporary files are removed on an interrupt; plain buffers so that the
// signal handler only calls unlink.
char g_tempClip[4096];
char g_tempTruth[4096];

void RemoveTemporaries(int signal) {
  if (g_tempClip[0]) unlink(g_tempClip);
  if (g_tempTruth[0]) unlink(g_tempTruth);
  _exit(128 + signal);
}

template <typename T>
bool ParseInteger(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool ParseLesions(std::string_view text, unsigned& kinds) {
  kinds = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    if (item == "bleeding")
      kinds |= vireo::synth::kBleeding;
    else if (item == "ulcer")
      kinds |= vireo::synth::kUlcer;
    else
      return false;
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "vireo-synthclip: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

// 0 when the options are sound, else the exit code after a message.
int ParseOptions(int argc, char** argv, Options& options, bool& help) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      help = true;
      return 0;
    }
    if (name.rfind("--", 0) != 0) {
      if (!options.out.empty()) return Usage("more than one output file given");
      options.out = name;
      continue;
    }
    std::string value;
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return Usage("option " + name + " needs a value");
    }
    const std::string bad = "invalid value for " + name + ": \"" + value + "\"";
    if (name == "--frames") {
      if (!ParseInteger(value, options.frames) || options.frames < 1 || options.frames > 100000000)
        return Usage(bad + " (a whole number of frames, at least 1)");
    } else if (name == "--size") {
      if (!ParseInteger(value, options.synth.size) || options.synth.size < 16 || options.synth.size > 4096)
        return Usage(bad + " (a whole number of pixels from 16 to 4096)");
    } else if (name == "--fps") {
      if (!ParseDouble(value, options.synth.fps) || options.synth.fps <= 0 || options.synth.fps > 1000)
        return Usage(bad + " (frames per second, above 0 and at most 1000)");
    } else if (name == "--seed") {
      if (!ParseInteger(value, options.synth.seed)) return Usage(bad + " (a whole number from 0 to 4294967295)");
    } else if (name == "--lesions") {
      if (!ParseLesions(value, options.synth.lesions)) return Usage(bad + " (bleeding, ulcer or bleeding,ulcer)");
    } else if (name == "--fourcc") {
      if (value != "MIL" && value != "MIL ") return Usage(bad + " (only MIL is known)");
      options.fourccMil = true;
    } else if (name == "--truth") {
      if (value.empty()) return Usage("--truth needs a file name");
      options.truth = value;
    } else {
      return Usage("unknown option " + name);
    }
  }
  if (options.out.empty()) return Usage("no output file given");
  return 0;
}

// A unique empty file beside `path`, to be renamed over it on success.
bool MakeTemporary(const std::string& path, char (&temp)[4096]) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string pattern = dir + "." + base + ".part-XXXXXX";
  if (pattern.size() >= sizeof temp) return false;
  char name[4096];
  std::memcpy(name, pattern.c_str(), pattern.size() + 1);
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  std::memcpy(temp, name, sizeof name);
  return true;
}

void AppendNumber(std::string& line, double value, int precision) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
  line.append(text, result.ptr);
}

class Progress {
 public:
  explicit Progress(std::int64_t total) : total_(total), terminal_(isatty(STDERR_FILENO) != 0) {}
  // Terminals get one line updated in place; logs get a line per tenth, and
  // only for long runs.
  void Update(std::int64_t done) {
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == shown_ || percent == 0) return;
    shown_ = percent;
    if (terminal_) {
      std::fprintf(stderr, "\rframe %lld of %lld (%d%%)", static_cast<long long>(done), static_cast<long long>(total_),
                   percent);
      if (done == total_) std::fputc('\n', stderr);
    } else if (total_ >= 1000 && percent % 10 == 0) {
      std::fprintf(stderr, "frame %lld of %lld (%d%%)\n", static_cast<long long>(done), static_cast<long long>(total_),
                   percent);
    }
  }

 private:
  std::int64_t total_;
  bool terminal_;
  int shown_ = -1;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "vireo-synthclip: %s\n", message.c_str());
  if (g_tempClip[0]) unlink(g_tempClip);
  if (g_tempTruth[0]) unlink(g_tempTruth);
  return 1;
}

std::string LesionNames(unsigned kinds) {
  std::string names;
  if (kinds & vireo::synth::kBleeding) names = "bleeding";
  if (kinds & vireo::synth::kUlcer) names += names.empty() ? "ulcer" : ";ulcer";
  return names;
}

int Run(const Options& options) {
  Container container{};
  if (!vireo::synth::ContainerForPath(options.out, container))
    return Usage("unknown extension of \"" + options.out + "\" (use .avi, .mov or .mpg)");
  if (options.fourccMil && container != Container::kAvi) return Usage("--fourcc applies to .avi files only");
  const std::string limits = vireo::synth::ContainerLimits(container, options.synth.size, options.synth.fps);
  if (!limits.empty()) return Usage(limits);

  struct sigaction action {};
  action.sa_handler = RemoveTemporaries;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  if (!MakeTemporary(options.out, g_tempClip))
    return Fail("cannot write \"" + options.out + "\": " + std::strerror(errno));
  FILE* truth = nullptr;
  if (!options.truth.empty()) {
    if (!MakeTemporary(options.truth, g_tempTruth) || !(truth = std::fopen(g_tempTruth, "w")))
      return Fail("cannot write \"" + options.truth + "\": " + std::strerror(errno));
    std::fputs("frame,scale_change,roll_deg,drift_x,drift_y,lesions\n", truth);
  }

  const vireo::synth::TunnelRenderer renderer(options.synth);
  vireo::synth::ClipWriter writer;
  if (!writer.Open(g_tempClip, container, renderer.Size(), options.synth.fps)) {
    if (truth) std::fclose(truth);
    return Fail(writer.Error());
  }
  Progress progress(options.frames);
  std::string line;
  for (std::int64_t frame = 0; frame < options.frames; ++frame) {
    std::uint8_t* pixels = writer.NextFrame();
    if (!pixels) break;
    renderer.RenderFrame(frame, pixels, writer.Stride());
    if (!writer.Push()) break;
    if (truth) {
      const vireo::synth::FrameTruth t = renderer.TruthAt(frame);
      line = std::to_string(frame) + ',';
      AppendNumber(line, t.scaleChange, 6);
      line += ',';
      AppendNumber(line, t.rollDeg, 4);
      line += ',';
      AppendNumber(line, t.driftX, 3);
      line += ',';
      AppendNumber(line, t.driftY, 3);
      line += ',' + LesionNames(t.lesions) + '\n';
      std::fputs(line.c_str(), truth);
    }
    progress.Update(frame + 1);
  }
  const bool encoded = writer.Finish();
  const bool truthWritten = !truth || (std::fflush(truth) == 0 && !std::ferror(truth) && std::fclose(truth) == 0);
  if (!encoded) return Fail("encoding failed: " + writer.Error());
  if (!truthWritten) return Fail("cannot write \"" + options.truth + "\"");
  if (container == Container::kMov) {
    std::string error;
    if (vireo::synth::ClearQuickTimeTimes(g_tempClip, error) < 1)
      return Fail(error.empty() ? "no QuickTime movie header written" : error);
  }
  if (container == Container::kMpeg) {
    std::string error;
    if (vireo::synth::PackEveryPicture(g_tempClip, writer.Length(), error) < 0) return Fail(error);
  }
  if (options.fourccMil) {
    std::string error;
    if (vireo::synth::PatchAviVideoFourcc(g_tempClip, vireo::synth::MakeFourcc('M', 'I', 'L', ' '), error) < 1)
      return Fail(error.empty() ? "no video stream to relabel" : error);
  }
  if (std::rename(g_tempClip, options.out.c_str()) != 0)
    return Fail("cannot write \"" + options.out + "\": " + std::strerror(errno));
  g_tempClip[0] = '\0';
  if (truth && std::rename(g_tempTruth, options.truth.c_str()) != 0)
    return Fail("cannot write \"" + options.truth + "\": " + std::strerror(errno));
  g_tempTruth[0] = '\0';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (const int code = ParseOptions(argc, argv, options, help); code != 0) return code;
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  gst_init(nullptr, nullptr);
  return Run(options);
}
