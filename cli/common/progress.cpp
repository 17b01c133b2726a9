#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vireo::cli {

std::string FormatDuration(double seconds) {
  const long s = seconds > 0 ? std::lround(seconds) : 0;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

std::string ProgressLine(const std::string& name, std::int64_t done, std::int64_t total, double seconds) {
  const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char text[256];
  if (total <= 0) {
    std::snprintf(text, sizeof text, "%lld frames  %.0f fps  %s", static_cast<long long>(done), fps, name.c_str());
    return text;
  }
  constexpr int kWidth = 20;
  const double fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  const int filled = static_cast<int>(fraction * kWidth);
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '-');
  const std::string left =
      fps > 0 ? FormatDuration(static_cast<double>(std::max<std::int64_t>(0, total - done)) / fps) : std::string("?");
  std::snprintf(text, sizeof text, "[%s] %3d%%  %lld/%lld frames  %.0f fps  %s left  %s", bar.c_str(),
                static_cast<int>(fraction * 100), static_cast<long long>(done), static_cast<long long>(total), fps,
                left.c_str(), name.c_str());
  return text;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, bool bars, int slots) : out_(out), bars_(bars), slots_(slots) {}

double ProgressDisplay::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressDisplay::Start(int slot, const std::string& name, const Progress* progress) {
  std::lock_guard<std::mutex> guard(lock_);
  slots_[slot] = {name, progress, Now()};
}

bool ProgressDisplay::Terminal() { return isatty(STDERR_FILENO) != 0; }

void ProgressDisplay::Finish(int slot, std::FILE* stream, const std::string& line) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    slots_[slot] = {};
  }
  Print(stream, line);
}

void ProgressDisplay::Print(std::FILE* stream, const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  Erase();
  std::fflush(out_);
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
  Draw();
}

void ProgressDisplay::Refresh() {
  std::lock_guard<std::mutex> guard(lock_);
  Erase();
  Draw();
}

// Moves back over the bars drawn last and clears them.
void ProgressDisplay::Erase() {
  if (!bars_) return;
  for (; drawn_ > 0; --drawn_) std::fputs("\x1b[1A\r\x1b[K", out_);
}

void ProgressDisplay::Draw() {
  if (!bars_) return;
  for (const Slot& s : slots_) {
    if (!s.progress) continue;
    std::fprintf(
        out_, "%s\x1b[K\n",
        ProgressLine(s.name, s.progress->frames.load(), s.progress->total.load(), Now() - s.startSeconds).c_str());
    ++drawn_;
  }
  std::fflush(out_);
}

}  // namespace vireo::cli
