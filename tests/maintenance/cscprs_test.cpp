// Catalog compression: live records copied byte for byte, the original kept
// intact on every failure; csai2a.
#include <sys/stat.h>

#include <algorithm>

#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;
namespace {

using Compression = MaintTest;

struct Outcome {
  int rc;
  std::string printed;
};

Outcome compress(const std::string &path) {
  Outcome run{-1, ""};
  run.printed = capture_stdout([&] { cscprs(path.c_str(), &run.rc); });
  return run;
}

// The first message names the copy "<path>.bak-XXXXXX"; its name is given
// back ("" when the line is not that).
std::string copy_named(const std::string &printed, const std::string &path) {
  const std::string head = std::to_string(path.size()) + "  " + path + "  " + path + ".bak-";
  const size_t end = printed.find('\n');
  if (printed.compare(0, head.size(), head) != 0 || end != head.size() + 6) return "";
  const std::string tag = printed.substr(head.size(), 6);
  if (tag.find_first_not_of("0123456789abcdef") != std::string::npos) return "";
  return printed.substr(head.size() - path.size() - 5, path.size() + 11);
}

// Files of the directory other than those named.
std::vector<std::string> others(const TempDir &dir, const std::vector<std::string> &known) {
  std::vector<std::string> found;
  for (const std::string &name : list_dir(dir))
    if (std::find(known.begin(), known.end(), name) == known.end()) found.push_back(name);
  return found;
}

TEST_F(Compression, KeepsLiveRecordsInOrder) {
  TempDir dir;
  const std::string cat = dir.path("cat");
  const std::string a = part("A"), c = part("C"), e = part("E", 0, 200);
  // Any flag other than 0 drops a record (keyed files: -1 deleted, a
  // position for a replaced record).
  write_file(cat, a + part("B", 1) + c + part("D", -1) + e + part("F", 61));
  chmod(cat.c_str(), 0640);
  const Outcome run = compress(cat);
  EXPECT_RC(0, run.rc);
  const std::string copy = copy_named(run.printed, cat);
  EXPECT_EQ(copy.substr(0, cat.size() + 5), cat + ".bak-") << run.printed;
  EXPECT_EQ(run.printed, std::to_string(cat.size()) + "  " + cat + "  " + copy + "\n");
  EXPECT_EQ(read_file(cat), a + c + e);
  EXPECT_EQ(others(dir, {"cat"}), std::vector<std::string>{});
  struct stat status {};
  stat(cat.c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  write_file(cat, part("A", 1) + part("B", 1));  // all deleted: an empty catalog
  EXPECT_RC(0, compress(cat).rc);
  EXPECT_TRUE(file_exists(cat));
  EXPECT_EQ(read_file(cat), "");
}

TEST_F(Compression, FailuresLeaveTheCatalogIntact) {
  TempDir dir;
  const std::string cat = dir.path("cat");
  const std::string whole = part("A") + part("B", 1) + part("C");
  auto check = [&](int expected, const char *what) {
    write_file(cat, whole);
    EXPECT_RC(expected, compress(cat).rc) << what;
    io::test_reset();
    EXPECT_EQ(read_file(cat), whole) << what;
    EXPECT_EQ(others(dir, {"cat", "victim", "cat.bak"}), std::vector<std::string>{}) << what;
  };
  io::test_fail_write(1);  // failures at every byte: tests/safety
  check(2, "failed write");
  io::test_fail_read(1);
  check(2, "failed read");
  io::test_fail_rename(1);
  check(2, "failed rename");
  io::test_fail(io::Op::sync, 1);
  check(2, "failed sync");

  // Files at the old fixed name, a user's "cat.bak" or a link, are left
  // alone; copies that interrupted runs left are removed and named.
  write_file(cat, whole);
  write_file(dir.path("victim"), "keep");
  ASSERT_EQ(symlink(dir.path("victim").c_str(), (cat + ".bak").c_str()), 0);
  write_file(cat + ".bak-00c0de", "a copy a crash left");
  write_file(cat + ".bak-notmine", "not a copy of ours");
  std::string message;
  message = capture_stderr([&] { EXPECT_RC(0, compress(cat).rc); });
  EXPECT_EQ(message, "pcs: removed " + cat + ".bak-00c0de, left behind by an interrupted "
                     "rewrite of " + cat + "\n");
  EXPECT_EQ(read_file(cat), part("A") + part("C"));
  EXPECT_EQ(read_file(dir.path("victim")), "keep");
  EXPECT_EQ(others(dir, {"cat", "victim", "cat.bak", "cat.bak-notmine"}),
            std::vector<std::string>{});
}

// A copy that a running compression holds (locked) is never removed.
TEST_F(Compression, LeftoversOfLiveRunsStay) {
  TempDir dir;
  const std::string cat = dir.path("cat");
  write_file(cat, part("A") + part("B", 1));
  io::Replacement running;
  ASSERT_TRUE(io::begin_replace(&running, cat.c_str(), (cat + ".bak-123abc").c_str()));
  EXPECT_RC(0, compress(cat).rc);
  EXPECT_TRUE(file_exists(cat + ".bak-123abc"));
  io::abandon_replace(&running);
  EXPECT_EQ(others(dir, {"cat"}), std::vector<std::string>{});
}

TEST_F(Compression, DamagedLengthsStopTheCopy) {
  TempDir dir;
  const std::string good = part("A");
  for (const std::string &tail : {be32(0) + be32(0) + std::string(20, 'x'),
                                  be32(-5) + be32(0) + std::string(20, 'x'),
                                  be32(500) + be32(0) + std::string(20, 'x'),
                                  std::string("abc")}) {
    write_file(dir.path("cat"), good + tail);
    EXPECT_RC(2, compress(dir.path("cat")).rc);
    EXPECT_EQ(read_file(dir.path("cat")), good + tail);
    EXPECT_EQ(others(dir, {"cat"}), std::vector<std::string>{});
  }
}

TEST_F(Compression, OpenFailures) {
  TempDir dir;
  Outcome run = compress(dir.path("none"));
  EXPECT_RC(2, run.rc);
  const std::string none_copy = copy_named(run.printed, dir.path("none"));
  EXPECT_EQ(run.printed, std::to_string(dir.path("none").size()) + "  " + dir.path("none") +
                             "  " + none_copy + "\nopen catlog file error\n");
  write_file(dir.path("cat"), part("A"));
  io::test_fail(io::Op::open, 2, EACCES);  // the catalog opens, the copy cannot be made
  std::string message = capture_stderr([&] { run = compress(dir.path("cat")); });
  EXPECT_RC(2, run.rc);
  const std::string copy = copy_named(run.printed, dir.path("cat"));
  EXPECT_NE(copy, "");
  EXPECT_EQ(run.printed.substr(run.printed.find('\n') + 1), "create temp catlog file error\n");
  EXPECT_EQ(message, "pcs: cannot create " + copy + ": Permission denied\n");
  EXPECT_EQ(read_file(dir.path("cat")), part("A"));
}

std::string ai2a(int value, int width, int *rc) {
  std::string text(static_cast<size_t>(width > 0 ? width : 1), '#');
  csai2a(&value, &width, text.data(), rc);
  return text;
}

TEST_F(Compression, IntegerToText) {
  struct Case {
    int value, width;
    const char *text;
    int rc;
  };
  for (const Case &c : {Case{42, 5, "   42", 0}, Case{-42, 4, " -42", 0}, Case{-42, 3, "-42", 0},
                        Case{-42, 2, "42", 1}, Case{12345, 3, "345", 1}, Case{0, 3, "  0", 0},
                        Case{-2147483647 - 1, 11, "-2147483648", 0}, Case{7, 0, "#", 1}}) {
    int rc = -1;
    EXPECT_EQ(ai2a(c.value, c.width, &rc), c.text) << c.value << " in " << c.width;
    EXPECT_RC(c.rc, rc);
  }
}

}  // namespace
}  // namespace pcs::test_maint
