// A progress bar for long commands: "pcs: WHAT [#####.....] 45% 12.3 MB/s,
// 0:05 left" on standard error, refreshed at most four times a second, and
// nothing at all when standard error is not a terminal.
#ifndef PCS_TOOLS_PROGRESS_H
#define PCS_TOOLS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace pcs::tools {

class ProgressBar {
 public:
  // `total` units of `unit` ("B" for bytes, "records"); 0 when unknown.
  ProgressBar(std::string what, int64_t total, std::string unit = "B");
  ~ProgressBar();
  // `done` units so far; cheap enough to call for every record.
  void update(int64_t done);
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  // The line shown after `seconds` with `done` of `total` units; public
  // for tests.
  static std::string line(const std::string &what, int64_t done, int64_t total,
                          const std::string &unit, double seconds);

 private:
  std::string what_, unit_;
  int64_t total_;
  bool on_ = false, shown_ = false;
  uint32_t calls_ = 0;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace pcs::tools

#endif
