// The file layer on its own: injected failures of each call, short reads
// and writes, buffered write faults reported at the next flush, line and
// directory reads, whole-file replacement (commit and abandon) and closing
// in the background.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <set>
#include <thread>

#include "common/fileio.h"
#include "tests/support/support.h"

namespace pcs::test {
namespace {

class FileLayer : public HostTest {
 protected:
  void TearDown() override {
    io::test_reset();
    HostTest::TearDown();
  }
  TempDir dir_;
};

TEST_F(FileLayer, InjectedFailuresHitTheNthCall) {
  write_file(dir_.path("f"), "abc\ndef\n");
  struct Case {
    const char *what;
    io::Op op;
    int nth;
    bool (*call)(const std::string &path);
  } cases[] = {
      {"open", io::Op::open, 1,
       [](const std::string &p) {
         FILE *f = io::open(p.c_str(), "rb");
         return f && io::close(f) == 0;
       }},
      {"second read", io::Op::read, 2,
       [](const std::string &p) {
         FILE *f = io::open(p.c_str(), "rb");
         char a[2] = {}, b[2] = {};
         const bool ok = io::read(f, a, 2) == 2 && io::read(f, b, 2) == 2;
         io::close(f);
         return ok;
       }},
      {"line read", io::Op::read, 1,
       [](const std::string &p) {
         FILE *f = io::open(p.c_str(), "rb");
         char line[16];
         const bool ok = io::read_line(f, line, sizeof line) != nullptr;
         io::close(f);
         return ok;
       }},
      {"byte read", io::Op::read, 1,
       [](const std::string &p) {
         FILE *f = io::open(p.c_str(), "rb");
         const bool ok = io::get_char(f) == 'a';
         io::close(f);
         return ok;
       }},
      {"flush", io::Op::flush, 1,
       [](const std::string &p) {
         FILE *f = io::open(p.c_str(), "ab");
         const bool ok = io::write(f, "x", 1) == 1 && io::flush(f) == 0;
         io::close(f);
         return ok;
       }},
      {"directory open", io::Op::open, 1,
       [](const std::string &p) {
         io::DirectoryEntries d(p.substr(0, p.rfind('/')).c_str());
         return d.is_open();
       }},
      {"directory read", io::Op::read, 2,
       [](const std::string &p) {
         io::DirectoryEntries d(p.substr(0, p.rfind('/')).c_str());
         while (d.next()) {
         }
         return !d.failed();
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    io::test_reset();
    EXPECT_TRUE(c.call(dir_.path("f")));
    EXPECT_EQ(io::test_injected(), 0);
    io::test_fail(c.op, c.nth);
    EXPECT_FALSE(c.call(dir_.path("f")));
    EXPECT_EQ(io::test_injected(), 1);
  }
}

TEST_F(FileLayer, ShortWritesAndBufferedFaults) {
  FILE *f = io::open(dir_.path("w").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  io::test_fail_write(2, 3);
  EXPECT_EQ(io::write(f, "12345", 5), 5u);
  EXPECT_EQ(io::write(f, "67890", 5), 3u);  // the second write keeps 3 bytes
  EXPECT_EQ(io::write(f, "ab", 2), 2u);
  EXPECT_EQ(io::close(f), 0);
  EXPECT_EQ(read_file(dir_.path("w")), "12345678ab");

  f = io::open(dir_.path("w").c_str(), "wb");
  io::test_fail_write_at(4, io::Mode::buffered);
  EXPECT_EQ(io::write(f, "123456", 6), 6u);  // reported whole, lost past 4
  EXPECT_NE(io::flush(f), 0);                 // the loss shows at the flush
  EXPECT_EQ(io::flush(f), 0);                 // once
  io::close(f);
  EXPECT_EQ(read_file(dir_.path("w")), "1234");

  // A line and a byte put back come out again; the lines end at the file's
  // end.
  write_file(dir_.path("t"), "ab\n&c");
  f = io::open(dir_.path("t").c_str(), "rb");
  char line[8];
  ASSERT_NE(io::read_line(f, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "ab\n");
  const int c = io::get_char(f);
  EXPECT_EQ(c, '&');
  EXPECT_EQ(io::unget_char(c, f), '&');
  ASSERT_NE(io::read_line(f, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "&c");
  EXPECT_EQ(io::read_line(f, line, sizeof line), nullptr);
  io::close(f);

  std::set<std::string> names;
  io::DirectoryEntries d(dir_.root().c_str());
  while (const char *name = d.next()) names.insert(name);
  EXPECT_FALSE(d.failed());
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "t", "w"}));
  EXPECT_FALSE(io::DirectoryEntries(dir_.path("none").c_str()).is_open());
}

// A replacement puts the whole new file in place or leaves the old one.
TEST_F(FileLayer, ReplaceCommitsWholeOrLeavesTheOld) {
  struct Case {
    const char *what;
    io::Op op;  // the failing call; count: none
    bool commit;
    const char *after;
  } cases[] = {
      {"commit", io::Op::count, true, "new"},     {"abandon", io::Op::count, false, "old"},
      {"sync fails", io::Op::sync, true, "old"},  {"rename fails", io::Op::rename, true, "old"},
      {"flush fails", io::Op::flush, true, "old"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    io::test_reset();
    write_file(dir_.path("target"), "old");
    io::Replacement r;
    ASSERT_TRUE(io::begin_replace(&r, dir_.path("target").c_str()));
    EXPECT_EQ(io::write(r.stream, "new", 3), 3u);
    if (c.op != io::Op::count) io::test_fail(c.op, 1);
    if (c.commit)
      EXPECT_EQ(io::commit_replace(&r), std::strcmp(c.after, "new") == 0);
    else
      io::abandon_replace(&r);
    EXPECT_EQ(read_file(dir_.path("target")), c.after);
    EXPECT_EQ(list_dir(dir_).size(), 1u);  // no temporary file stays
  }
  io::test_reset();
  io::Replacement r;
  io::test_fail(io::Op::open, 1);
  EXPECT_FALSE(io::begin_replace(&r, dir_.path("target").c_str()));
  EXPECT_EQ(r.stream, nullptr);
}

// A stream handed over to close in the background is closed by the time
// the next one is handed over.
TEST_F(FileLayer, BackgroundCloseEndsBeforeTheNextBegins) {
  write_file(dir_.path("a"), "a");
  write_file(dir_.path("b"), "b");
  FILE *a = io::open(dir_.path("a").c_str(), "rb"), *b = io::open(dir_.path("b").c_str(), "rb");
  ASSERT_TRUE(a && b);
  const int descriptor = fileno(a);
  io::close_in_background(a);
  io::close_in_background(b);
  EXPECT_EQ(fcntl(descriptor, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

// A child forked while a close runs in the background, and while another
// thread waits to hand over the next stream, hands streams over without
// waiting for either: neither thread is in the child.
TEST_F(FileLayer, BackgroundCloseRunningAtAForkDoesNotHoldTheChild) {
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  // A stream whose close waits until a byte comes through the gate.
  cookie_io_functions_t waits_to_close{};
  waits_to_close.close = [](void *cookie) {
    char byte;
    return read(*static_cast<int *>(cookie), &byte, 1) == 1 ? 0 : -1;
  };
  FILE *slow = fopencookie(&gate[0], "r", waits_to_close);
  ASSERT_NE(slow, nullptr);
  io::close_in_background(slow);
  std::thread next([] { io::close_in_background(std::fopen("/dev/null", "r")); });
  usleep(50000);  // `next` now waits for the slow close
  const pid_t child = fork();
  if (child == 0) {
    io::close_in_background(std::fopen("/dev/null", "r"));
    _exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  pid_t ended = 0;
  for (int tries = 0; tries < 1000 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++tries)
    usleep(10000);
  if (ended == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  EXPECT_EQ(ended, child) << "the child waited for its parent's threads";
  ASSERT_EQ(write(gate[1], "x", 1), 1);
  next.join();
  io::close_in_background(std::fopen("/dev/null", "r"));  // waits for next's close
  close(gate[0]);
  close(gate[1]);
}

}  // namespace
}  // namespace pcs::test
