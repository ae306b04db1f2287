// The progress bars of long commands, and the switch that keeps the
// library's own diagnostic lines off the terminal unless --verbose.
#include "tools/progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "tools/command.h"

namespace pcs::tools {
namespace {

std::string amount(double value, const std::string &unit) {
  const char *prefix[] = {"", "k", "M", "G", "T"};
  int p = 0;
  while (value >= 1000 && p < 4) {
    value /= 1000;
    ++p;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s%s", value, prefix[p], unit.c_str());
  return text;
}

std::string clock_text(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string ProgressBar::line(const std::string &what, int64_t done, int64_t total,
                              const std::string &unit, double seconds) {
  std::string text = "pcs: " + what;
  if (done < 0) return text + " ... " + clock_text(seconds);
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  if (total > 0) {
    const int64_t shown = done > total ? total : done;
    const int filled = static_cast<int>(shown * 20 / total);
    text += " [" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(20 - filled), '.') + "] " +
            std::to_string(shown * 100 / total) + "%";
  } else {
    text += " " + amount(static_cast<double>(done), unit);
  }
  text += " " + amount(rate, unit) + "/s";
  if (total > 0 && rate > 0 && done < total)
    text += ", " + clock_text(static_cast<double>(total - done) / rate) + " left";
  return text;
}

ProgressBar::ProgressBar(std::string what, int64_t total, std::string unit, int fd)
    : what_(std::move(what)), unit_(std::move(unit)), total_(total), fd_(fd), on_(isatty(fd) != 0) {
  start_ = last_ = std::chrono::steady_clock::now();
}

ProgressBar::~ProgressBar() {
  if (shown_) dprintf(fd_, "\r\033[K");
}

void ProgressBar::update(int64_t done) {
  if (!on_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  dprintf(fd_, "\r%s\033[K", line(what_, done, total_, unit_, seconds).c_str());
  shown_ = true;
}

FollowedProgress::FollowedProgress(std::string what, std::function<Amount()> state, std::string unit)
    : bar_(std::move(what), 0, std::move(unit)) {
  if (!bar_.on()) return;
  worker_ = std::thread([this, state = std::move(state)] {
    while (!done_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      if (done_) break;
      const Amount now = state();
      bar_.set_total(now.total);
      bar_.update(now.done);
    }
  });
}

FollowedProgress::~FollowedProgress() {
  done_ = true;
  if (worker_.joinable()) worker_.join();
}

namespace {
bool verbose_on = false;
}  // namespace

void set_verbose(bool on) { verbose_on = on; }
bool verbose() { return verbose_on; }

QuietOutput::QuietOutput(int fd) : fd_(fd) {
  if (verbose_on) return;
  std::fflush(fd == 1 ? stdout : stderr);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  saved_ = null < 0 ? -1 : dup(fd);
  if (saved_ >= 0) dup2(null, fd);
  if (null >= 0) close(null);
}

QuietOutput::~QuietOutput() {
  if (saved_ < 0) return;
  std::fflush(fd_ == 1 ? stdout : stderr);
  dup2(saved_, fd_);
  close(saved_);
}

}  // namespace pcs::tools
