// The table text tool: dumps split into table files, line by line as laid
// out by hand, with its messages and codes.
#include <sys/stat.h>

#include "catalog/catalog.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::catalog;
namespace {

using TableTool = MaintTest;

// A dump line: column 1 marker, the name field at column 10, the slice at
// column 19, filled to 72 columns.
std::string line(const std::string &name, const std::string &slice, char marker = ' ') {
  std::string text(72, ' ');
  text[0] = marker;
  text.replace(9, name.size(), name);
  text.replace(18, slice.size(), slice);
  return text + "\n";
}

std::string header() { return line("   HEAD", ""); }

// Output line: 50 columns and a newline.
std::string out(const std::string &text) { return field(text, 50) + "\n"; }

struct Outcome {
  int rc;
  std::string printed;
};

Outcome split(const std::string &input, const std::string &directory) {
  Outcome run{-1, ""};
  const std::string in = field(input, 45), dir = field(directory, 40);
  run.printed = capture_stdout([&] { cstabl(in.data(), dir.data(), &run.rc); });
  return run;
}

TEST_F(TableTool, SplitsTablesIntoFiles) {
  TempDir dir;
  mkdir(dir.path("tables").c_str(), 0755);
  write_file(dir.path("dump"), "preamble\n" + header() + line("T1", "A 'ABC' B") +
                                   "short line\n" + line("T1", "second") +
                                   line("T22", std::string(60, 'x')) +
                                   line("CTFTBEN", "end") + line("T3", "never"));
  const Outcome run = split(dir.path("dump"), dir.path("tables"));
  EXPECT_RC(0, run.rc);
  EXPECT_EQ(read_file(dir.path("tables/T1")), out("A ABC B") + out("second"));
  EXPECT_EQ(read_file(dir.path("tables/T22")), out(std::string(50, 'x')));
  EXPECT_FALSE(file_exists(dir.path("tables/CTFTBEN")));
  EXPECT_FALSE(file_exists(dir.path("tables/T3")));
  EXPECT_EQ(run.printed, " open file " + dir.path("tables/T1") + "\n open file " +
                             dir.path("tables/T22") + "\n");
}

TEST_F(TableTool, DirectoryWithSlashAndShortLines) {
  TempDir dir;
  mkdir(dir.path("t").c_str(), 0755);
  // The last line ends before column 68, without a newline.
  const std::string last = std::string(9, ' ') + "T1" + std::string(7, ' ') + "AB'C";
  write_file(dir.path("dump"), header() + line("T1", "one") + last);
  EXPECT_RC(0, split(dir.path("dump"), dir.path("t/")).rc);
  EXPECT_EQ(read_file(dir.path("t/T1")), out("one") + out("ABC"));
  // A table whose lines are not consecutive keeps its last run only.
  write_file(dir.path("dump"), header() + line("T1", "a") + line("T2", "b") + line("T1", "c"));
  const Outcome run = split(dir.path("dump"), dir.path("t") + "   ");
  EXPECT_RC(0, run.rc);
  EXPECT_EQ(run.printed, " open file " + dir.path("t/T1") + "\n open file " +
                             dir.path("t/T2") + "\n open file " + dir.path("t/T1") + "\n");
  EXPECT_EQ(read_file(dir.path("t/T1")), out("c"));
  io::test_fail_write(1);
  EXPECT_RC(1, split(dir.path("dump"), dir.path("t")).rc);
}

// Inputs without a header line (2) and files that cannot be opened (1).
TEST_F(TableTool, HeaderRulesAndOpenFailures) {
  TempDir dir;
  const struct {
    std::string dump;  // "" for no input file
    std::string directory;
    int rc;
    std::string printed;
  } cases[] = {
      // A starred header does not count; nor does a line of 20 characters.
      {line("   HEAD", "", '*') + line("T1", "a"), "", 2, " file is empty \n"},
      {"            HEAD   \n" + line("T1", "a"), "", 2, " file is empty \n"},
      // A line longer than 99 characters is read in pieces, as fgets does.
      {std::string(99, 'x') + "   HEAD" + std::string(20, ' ') + "\n" + line("T1", "a"), "", 2,
       " file is empty \n"},
      {"", "", 1, " open input file failed \n"},
      {header() + line("T1", "a"), "missing", 1,
       " open file " + dir.path("missing/T1") + "\n open output file failed \n"},
  };
  for (const auto &c : cases) {
    std::remove(dir.path("dump").c_str());
    if (!c.dump.empty()) write_file(dir.path("dump"), c.dump);
    const Outcome run = split(dir.path("dump"), c.directory.empty() ? dir.root() : dir.path(c.directory));
    EXPECT_RC(c.rc, run.rc) << c.printed;
    EXPECT_EQ(run.printed, c.printed);
  }
}

TEST_F(TableTool, NamesThatWouldLeaveTheDirectoryAreRefused) {
  TempDir dir;
  mkdir(dir.path("out").c_str(), 0755);
  for (const char *name : {"../x", "..", "a/b"}) {
    write_file(dir.path("dump"), header() + line(name, "a"));
    EXPECT_RC(1, split(dir.path("dump"), dir.path("out")).rc) << name;
  }
  write_file(dir.path("dump"), header() + "short\n");
  EXPECT_RC(1, split(dir.path("dump"), dir.path("out")).rc);  // empty name
  EXPECT_FALSE(file_exists(dir.path("x")));
  EXPECT_FALSE(file_exists(dir.path("out/a")));
}

}  // namespace
}  // namespace pcs::test_maint
