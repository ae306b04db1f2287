// The rollback journal: journals built by hand in the test are applied only
// when whole, checksummed, written for this very catalog (device, inode,
// size) and pointing at record starts of the saved length that hold, byte
// by byte, the old or the new record; every other one is set aside under a
// new name and never applied. A journal whose writer
// still runs (another process holding its lock) is never applied.
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "tests/catalog/catalog_files.h"

namespace pcs::test {
using namespace pcs::catalog;
namespace {

using test_catalog::CatalogTest;
using test_catalog::sample_part;

// CRC-32 of the zlib polynomial, bit by bit.
uint32_t crc32(const std::string &bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

std::string be64(uint64_t value) {
  return be32(static_cast<int>(value >> 32)) + be32(static_cast<int>(value & 0xFFFFFFFFu));
}

// A saved record: its offset, old bytes and the bytes the rewrite puts
// there (by default what the catalog holds there now).
struct Saved {
  uint64_t offset;
  std::string bytes, replacement = {};
};

// A journal for the file at `path` as it is now; `body` may change the
// bytes before the checksum is added.
std::string journal_for(const std::string &path, const std::vector<Saved> &records,
                        const std::function<void(std::string &)> &body = {}) {
  struct stat status {};
  stat(path.c_str(), &status);
  std::string j = std::string("PCSJRN3\n") + be64(status.st_dev) + be64(status.st_ino) +
                  be64(static_cast<uint64_t>(status.st_size)) +
                  be32(static_cast<int>(records.size()));
  const std::string now = read_file(path);
  for (const Saved &r : records) {
    std::string replacement = r.replacement;
    if (replacement.empty())
      replacement = r.offset <= now.size() && r.bytes.size() <= now.size() - r.offset
                        ? now.substr(r.offset, r.bytes.size())
                        : r.bytes;
    j += be64(r.offset) + be32(static_cast<int>(r.bytes.size())) + r.bytes + replacement;
  }
  if (body) body(j);
  return j + be32(static_cast<int>(crc32(j)));
}

const std::string kA = catalog_record(sample_part("A", 1.5));
const std::string kB = catalog_record(sample_part("B", 2.5, 3));
const std::string kQ = catalog_record(sample_part("Q", 7.5, 3));  // kB's length

class Journal : public CatalogTest {
 protected:
  std::string cat() const { return dir_.path("c.cat"); }
  std::string journal() const { return cat() + "-journal"; }
  // Files beside the catalog whose names start with `prefix`.
  int count_files(const std::string &prefix) const {
    int n = 0;
    for (const std::string &name : list_dir(dir_)) n += name.rfind(prefix, 0) == 0;
    return n;
  }
};

TEST_F(Journal, OnlyAJournalOfThisCatalogIsAppliedAndOthersAreSetAside) {
  const auto at_b = static_cast<uint64_t>(kA.size());
  struct Case {
    const char *name;
    std::function<std::string(const std::string &)> make;  // from the catalog's path
    bool applied;
    const char *why;
    std::string held = kB;  // what the catalog holds at at_b
  };
  const Case cases[] = {
      {"whole", [&](const std::string &p) { return journal_for(p, {{at_b, kQ}}); }, true, ""},
      {"two records", [&](const std::string &p) { return journal_for(p, {{0, kA}, {at_b, kQ}}); },
       true, ""},
      {"offset inside a record",
       [&](const std::string &p) { return journal_for(p, {{1, kQ, kQ}}); }, false, "record start"},
      {"offset 2^63-1",
       [&](const std::string &p) { return journal_for(p, {{INT64_MAX, kQ}}); }, false,
       "outside the catalog"},
      {"offset past 2^63",
       [&](const std::string &p) { return journal_for(p, {{~uint64_t{0} - 3, kQ}}); }, false,
       "runs past"},
      {"flipped body byte",
       [&](const std::string &p) {
         std::string j = journal_for(p, {{at_b, kQ}});
         j[60] ^= 0x10;
         return j;
       },
       false, "checksum"},
      {"torn", [&](const std::string &p) { return journal_for(p, {{at_b, kQ}}).substr(0, 70); },
       false, "checksum"},
      {"another inode",
       [&](const std::string &p) {
         return journal_for(p, {{at_b, kQ}}, [](std::string &j) { j[23] ^= 1; });
       },
       false, "another file"},
      {"other size",
       [&](const std::string &p) {
         return journal_for(p, {{at_b, kQ}}, [](std::string &j) { j[31] ^= 1; });
       },
       false, "size changed"},
      {"shorter saved record",
       [&](const std::string &p) {
         const std::string shorter = catalog_record(sample_part("Q", 7.5));
         return journal_for(p, {{at_b, shorter, shorter}});
       },
       false, "length differs"},
      {"overlapping records",
       [&](const std::string &p) { return journal_for(p, {{at_b, kQ}, {at_b, kQ}}); }, false,
       "overlaps"},
      {"no records", [&](const std::string &p) { return journal_for(p, {}); }, false, "no record"},
      {"torn rewrite: new bytes, then old", [&](const std::string &p) { return journal_for(p, {{at_b, kQ, kB}}); },
       true, "", kB.substr(0, kB.size() / 2) + kQ.substr(kB.size() / 2)},
      {"another record where the saved one stood",
       [&](const std::string &p) { return journal_for(p, {{at_b, kQ, kQ}}); }, false,
       "neither its old nor its new bytes"},
      {"previous format", [&](const std::string &p) {
         std::string j = journal_for(p, {{at_b, kQ}});
         j[6] = '2';
         return j;
       }, false, "not a journal"},
      {"old format, offset 2^63-1",
       [&](const std::string &) {
         return std::string("PCSJRNL\n") + be64(INT64_MAX) + be32(1) + "x";
       },
       false, "not a journal"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.path("c.cat");
    write_file(path, kA + c.held);
    write_file(path + "-journal", c.make(path));
    std::string message;
    bool recovered = false;
    message = capture_stderr([&] { recovered = catalog::recover_catalog(path.c_str()); });
    EXPECT_TRUE(recovered);
    EXPECT_EQ(read_file(path), c.applied ? kA + kQ : kA + c.held);
    EXPECT_FALSE(file_exists(path + "-journal"));
    const std::vector<std::string> names = list_dir(dir);
    EXPECT_EQ(names.size(), c.applied ? 1u : 2u);
    if (c.applied) {
      EXPECT_EQ(message, "");
      continue;
    }
    EXPECT_NE(message.find("the rollback journal " + path + "-journal was not applied"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(c.why), std::string::npos) << message;
    for (const std::string &name : names)
      if (name != "c.cat") {
        EXPECT_NE(message.find("kept as " + dir.path(name)), std::string::npos);
      }
  }
}

// A journal whose writer still holds it is another process's rewrite in
// progress: openers wait, then answer busy; once the writer is gone the
// journal is applied.
TEST_F(Journal, ALiveJournalOfAnotherProcessIsNeverApplied) {
  write_file(cat(), kA + kB);
  write_file(dir_.path("i.idx"), index_bytes(8, {{"A", 0}, {"B", static_cast<int>(kA.size())}}));
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    write_file(journal(), journal_for(cat(), {{kA.size(), kQ}}));
    const int fd = open(journal().c_str(), O_RDONLY);
    char byte = 0;
    if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "r", 1) != 1 ||
        read(release[0], &byte, 1) != 1)
      _exit(1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  std::string message = capture_stderr([&] { EXPECT_EQ(catalog::recover_journal(cat().c_str()), catalog::Recovery::busy); });
  EXPECT_NE(message.find("is busy: another process is rewriting it"), std::string::npos) << message;
  message = capture_stderr([&] {
    test_catalog::Catalog c(cat(), dir_.path("i.idx"), "rb");
    EXPECT_RC(PCS_OPEN_NO_CATALOG, c.rc);
  });
  EXPECT_NE(message.find("is busy"), std::string::npos) << message;
  EXPECT_EQ(read_file(cat()), kA + kB);
  EXPECT_TRUE(file_exists(journal()));
  ASSERT_EQ(write(release[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  test_catalog::Catalog c(cat(), dir_.path("i.idx"), "rb");
  EXPECT_RC(0, c.rc);
  EXPECT_EQ(read_file(cat()), kA + kQ);
  EXPECT_FALSE(file_exists(journal()));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// Compression, appends and index builds settle a pending journal first, so
// that it is never applied to records that moved.
TEST_F(Journal, RewritesSettleAPendingJournalFirst) {
  const std::string deleted = catalog_record(sample_part("D", 4.5), 1);
  write_file(cat(), deleted + kA + kB);
  write_file(journal(), journal_for(cat(), {{deleted.size() + kA.size(), kQ}}));
  int rc = -1;
  capture_stdout([&] { cscprs(cat().c_str(), &rc); });
  EXPECT_RC(0, rc);
  EXPECT_EQ(read_file(cat()), kA + kQ);
  EXPECT_EQ(count_files("c.cat"), 1);
  // The next open finds nothing to apply, and leaves the moved records.
  write_file(dir_.path("i.idx"), index_bytes(8, {{"A", 0}}));
  test_catalog::Catalog c(cat(), dir_.path("i.idx"), "rb");
  EXPECT_RC(0, c.rc);
  EXPECT_EQ(read_file(cat()), kA + kQ);

  // An append first applies the journal left for the catalog as it is.
  write_file(cat(), kA + kB);
  write_file(journal(), journal_for(cat(), {{kA.size(), kQ}}));
  test_catalog::Stream s(cat(), "r+b");
  PartRecord *part = test_catalog::make_part(sample_part("E", 5.5));
  cspgwrt(part, s.f, &rc);
  cspgfre(part);
  EXPECT_RC(0, rc);
  std::fflush(s.f);
  EXPECT_EQ(read_file(cat()), kA + kQ + catalog_record(sample_part("E", 5.5)));
  EXPECT_FALSE(file_exists(journal()));
}

}  // namespace
}  // namespace pcs::test
