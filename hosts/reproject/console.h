// What the program says on stderr: notes, a progress line on a terminal, and
// the one line of a failure. Safe to call from several threads.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace reproject {

class Console {
 public:
  // `quiet`: nothing but failures. The progress line is drawn only on a
  // terminal (`terminal`: whether stderr is one; by default it is asked).
  explicit Console(bool quiet);
  Console(bool quiet, bool terminal);

  void Note(const std::string& text);   // "reproject: note: TEXT"
  void Error(const std::string& text);  // "reproject: TEXT", always shown
  // Frames done of `total` (0: unknown), at most five times a second unless
  // `final`.
  void Progress(long done, long total, bool final = false);

 private:
  void EndProgressLine();  // callers hold the lock
  std::mutex mutex_;
  bool quiet_;
  bool terminal_;
  bool line_open_ = false;  // a progress line without its newline is on screen
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace reproject
