// What the tools show while they work: a progress bar per running clip on a
// terminal, only the plain result and error lines otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <atomic>
#include <vector>

namespace vireo::cli {

// Live figures of a run, read by the display from another thread.
struct Progress {
  std::atomic<std::int64_t> frames{0};
  std::atomic<std::int64_t> total{0};  // 0 while unknown
};

// "[#####---------------]  25%  500/2000 frames  312 fps  0:04 left  clip.avi"
// (without a known total: frames and fps only).
std::string ProgressLine(const std::string& name, std::int64_t done, std::int64_t total, double seconds);
// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(double seconds);

class ProgressDisplay {
 public:
  // `bars`: draw live bars on `out` (a terminal); otherwise only the lines.
  ProgressDisplay(std::FILE* out, bool bars, int slots);

  void Start(int slot, const std::string& name, const Progress* progress);
  // Ends the slot's bar and prints `line` on `stream` above the bars.
  void Finish(int slot, std::FILE* stream, const std::string& line);
  // Prints `line` on `stream` above the bars.
  void Print(std::FILE* stream, const std::string& line);
  // Whether standard error is a terminal (bars are drawn there).
  static bool Terminal();
  // Redraws the bars.
  void Refresh();

 private:
  struct Slot {
    std::string name;
    const Progress* progress = nullptr;
    double startSeconds = 0;
  };
  void Erase();
  void Draw();
  double Now() const;

  std::mutex lock_;
  std::FILE* out_;
  bool bars_;
  std::vector<Slot> slots_;
  int drawn_ = 0;
};

}  // namespace vireo::cli
