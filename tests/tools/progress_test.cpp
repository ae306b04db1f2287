// The progress bar: drawn only on a terminal, and the line it draws.
#include "tools/progress.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/support.h"

namespace {

using pcs::tools::ProgressBar;

// A pseudo-terminal: the bar's side and the side that reads what it drew.
struct Terminal {
  int reader = posix_openpt(O_RDWR | O_NOCTTY);
  int bar = -1;
  Terminal() {
    if (reader >= 0 && grantpt(reader) == 0 && unlockpt(reader) == 0)
      bar = open(ptsname(reader), O_RDWR | O_NOCTTY);
  }
  ~Terminal() {
    if (bar >= 0) close(bar);
    if (reader >= 0) close(reader);
  }
};

TEST(ProgressBar, DrawnOnlyOnATerminal) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const int null = open("/dev/null", O_WRONLY);
  EXPECT_FALSE(ProgressBar("x", 10, "B", pipe_ends[1]).on());
  EXPECT_FALSE(ProgressBar("x", 10, "B", null).on());
  close(null);
  close(pipe_ends[0]);
  close(pipe_ends[1]);

  Terminal terminal;
  if (terminal.bar < 0) GTEST_SKIP() << "no pseudo-terminal here";
  {
    ProgressBar bar("reading f", 100, "B", terminal.bar);
    EXPECT_TRUE(bar.on());
    bar.update(10);  // too soon after the start: nothing drawn yet
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bar.update(50);
  }
  // A terminal may hand over what was drawn in pieces: read until a second
  // passes without more.
  std::string drawn;
  char piece[256];
  pollfd ready{terminal.reader, POLLIN, 0};
  while (poll(&ready, 1, 1000) > 0) {
    const ssize_t got = read(terminal.reader, piece, sizeof piece);
    if (got <= 0) break;
    drawn.append(piece, static_cast<size_t>(got));
  }
  ASSERT_GE(drawn.size(), 30u);
  EXPECT_EQ(drawn.substr(0, 26), "\rpcs: reading f [#########");
  EXPECT_EQ(drawn.substr(drawn.size() - 4), "\r\033[K") << "the bar is cleared at the end";
}

TEST(ProgressBar, Line) {
  struct Case {
    int64_t done, total;
    double seconds;
    std::string expected;
  };
  const Case cases[] = {
      {50, 100, 1, "pcs: w [##########..........] 50% 50.0 B/s, 0:01 left"},
      {150, 100, 1, "pcs: w [####################] 100% 150.0 B/s"},
      {3000000, 0, 2, "pcs: w 3.0 MB 1.5 MB/s"},
      {1, 7201, 1, "pcs: w [....................] 0% 1.0 B/s, 2:00:00 left"},
      {-1, 100, 65, "pcs: w ... 1:05"},
      {0, 100, 0, "pcs: w [....................] 0% 0.0 B/s"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ProgressBar::line("w", c.done, c.total, "B", c.seconds), c.expected) << c.done;
}

}  // namespace
