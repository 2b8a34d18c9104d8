#include "console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace reproject {

Console::Console(bool quiet) : Console(quiet, isatty(2) != 0) {}

Console::Console(bool quiet, bool terminal)
    : quiet_(quiet), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

void Console::EndProgressLine() {
  if (line_open_) std::fputc('\n', stderr);
  line_open_ = false;
}

void Console::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (quiet_) return;
  EndProgressLine();
  std::fprintf(stderr, "reproject: note: %s\n", text.c_str());
  std::fflush(stderr);
}

void Console::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  EndProgressLine();
  std::fprintf(stderr, "reproject: %s\n", text.c_str());
  std::fflush(stderr);
}

void Console::Progress(long done, long total, bool final) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (quiet_ || !terminal_ || (final && !line_open_ && done <= 1)) return;
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double fps = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  char eta[32] = "--:--";
  if (total > 0 && fps > 0.0) {
    const long left = static_cast<long>(static_cast<double>(std::max(0L, total - done)) / fps + 0.5);
    std::snprintf(eta, sizeof(eta), "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
  }
  char bar[31] = {0};
  const int filled = total > 0 ? static_cast<int>(30 * std::min(done, total) / total) : 0;
  for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
  if (total > 0)
    std::fprintf(stderr, "\r[%s] %ld/%ld frames  %.1f fps  %s left ", bar, done, total, fps, eta);
  else
    std::fprintf(stderr, "\r%ld frames  %.1f fps ", done, fps);
  line_open_ = true;
  if (final) EndProgressLine();
  std::fflush(stderr);
}

}  // namespace reproject
