// A progress bar for long commands: "pcs: WHAT [#####.....] 45% 12.3 MB/s,
// 0:05 left" on standard error, refreshed at most four times a second, and
// nothing at all when standard error is not a terminal. ProgressBar is fed
// by a loop of the command; FollowedProgress follows a long library call
// from a second thread.
#ifndef PCS_TOOLS_PROGRESS_H
#define PCS_TOOLS_PROGRESS_H

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace pcs::tools {

class ProgressBar {
 public:
  // `total` units of `unit` ("B" for bytes, "records"); 0 when unknown.
  // Drawn on `fd` when it is a terminal.
  ProgressBar(std::string what, int64_t total, std::string unit = "B", int fd = STDERR_FILENO);
  ~ProgressBar();
  // `done` units so far (negative: not known yet); cheap enough to call for
  // every record.
  void update(int64_t done);
  // True when the bar is drawn: its file descriptor is a terminal.
  bool on() const { return on_; }
  void set_total(int64_t total) { total_ = total; }
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  // The line shown after `seconds` with `done` of `total` units; public
  // for tests.
  static std::string line(const std::string &what, int64_t done, int64_t total,
                          const std::string &unit, double seconds);

 private:
  std::string what_, unit_;
  int64_t total_;
  int fd_;
  bool on_ = false, shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// How far a followed call is: `done` of `total` units, done < 0 while not
// known, total 0 when unknown.
struct Amount {
  int64_t done = -1, total = 0;
};

// While alive, asks `state` four times a second how far the call is and
// shows it as a ProgressBar; no thread at all when the bar is off.
class FollowedProgress {
 public:
  FollowedProgress(std::string what, std::function<Amount()> state, std::string unit = "B");
  ~FollowedProgress();
  FollowedProgress(const FollowedProgress &) = delete;
  FollowedProgress &operator=(const FollowedProgress &) = delete;

 private:
  ProgressBar bar_;
  std::atomic<bool> done_{false};
  std::thread worker_;
};

}  // namespace pcs::tools

#endif
