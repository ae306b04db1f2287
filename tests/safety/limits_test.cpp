// Paths at and one past each field's limit are taken whole or refused
// (never cut short, so no other file is touched), links planted at the
// paths the library creates are never followed, and hostile or unsorted
// indexes make the operations by key refuse instead of writing anywhere;
// appends past the offsets an index can hold are refused.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <filesystem>

#include "catalog/catalog.h"
#include "tests/catalog/catalog_files.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
namespace {

using test_catalog::Catalog;
using test_catalog::sample_part;
using test_catalog::Stream;

const std::string kA = catalog_record(sample_part("A", 1.5));
const std::string kB = catalog_record(sample_part("B", 2.5, 3));

// dir/aaa... of exactly `length` characters.
std::string path_of_length(const TempDir &dir, size_t length) {
  return dir.root() + "/" + std::string(length - dir.root().size() - 1, 'a');
}

int open_code(const std::string &catalog, const std::string &index) {
  return Catalog(catalog, index, "rb").rc;
}

int build_code(const std::string &catalog, const std::string &index) {
  int fields = 1, widths[] = {8}, rc = -1;
  csgbldx(&fields, field("PART").c_str(), field("NAME").c_str(), widths, (catalog + " ").c_str(),
          (index + " ").c_str(), &rc);
  return rc;
}

// A table dump: the header line and one line of table `name`.
std::string dump(const std::string &name) {
  std::string head(72, ' '), row(72, ' ');
  head.replace(12, 4, "HEAD");
  row.replace(9, name.size(), name);
  return head + "\n" + row + "\n";
}

int split_code(const std::string &input, const std::string &directory) {
  int rc = -1;
  capture_stdout([&] { cstabl((input + " ").c_str(), (directory + " ").c_str(), &rc); });
  return rc;
}

class Limits : public HostTest {
 protected:
  TempDir dir_;
};

TEST_F(Limits, CatalogPathsAtAndPastTheirLimit) {
  // The 255-character prefix of each too long path names a real file: a
  // cut path would open or overwrite it.
  const std::string at = path_of_length(dir_, 255), past = at + "b";
  write_file(at, kA + kB);
  const std::string index = dir_.path("idx");
  write_file(index, index_bytes(8, {{"A", 0}}));
  struct Case {
    std::string catalog, index;
    int open, build;
  };
  const Case cases[] = {{at, index, 0, 0}, {past, index, 2, 1}, {dir_.path("c"), past, 3, 5}};
  write_file(dir_.path("c"), kA);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.catalog.size());
    EXPECT_RC(c.open, open_code(c.catalog, c.index));
    EXPECT_RC(c.build, build_code(c.catalog, c.index));
    EXPECT_EQ(read_file(at), kA + kB);
  }
}

TEST_F(Limits, TableToolPathsAtAndPastTheirLimit) {
  const std::string tables = path_of_length(dir_, 40);
  ASSERT_EQ(mkdir(tables.c_str(), 0755), 0);
  const std::string input = dir_.root() + "/" + std::string(45 - dir_.root().size() - 1, 'i');
  struct Case {
    std::string input, directory, table;
    int rc;
  };
  const Case cases[] = {{input, tables, "T12", 0},          // table path of 44
                        {input, tables, "T123", 1},         // 45: never cut to T12
                        {input + "j", tables, "T12", 1},    // input of 46
                        {input, tables + "k", "T12", 1}};   // directory of 41
  write_file(input + "j", dump("T12"));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.table + " " + std::to_string(c.input.size()));
    write_file(input, dump(c.table));
    write_file(tables + "/T12", "old");
    EXPECT_RC(c.rc, split_code(c.input, c.directory));
    EXPECT_EQ(read_file(tables + "/T12") == "old", c.rc != 0);
  }
}

TEST_F(Limits, KeyedNamesThatExpandPastTheField) {
  setenv("PCS_LIMIT_DIR", dir_.root().c_str(), 1);
  const std::string rest = "/" + std::string(53 - dir_.root().size() - 1, 'k');
  write_file(dir_.root() + rest, "");
  KeyDesc key{{"PIPE", "SIZE", 4}};
  for (const auto &[name, rc] : {std::pair{"$PCS_LIMIT_DIR" + rest, 0},
                                 std::pair{"$PCS_LIMIT_DIR" + rest + "x", 4}}) {
    KeyedFile *file = nullptr;
    EXPECT_RC(rc, open_keyed(name, key, &file)) << name;
    if (file) close_keyed(&file);
  }
  EXPECT_FALSE(file_exists(dir_.root() + rest + "x"));
  unsetenv("PCS_LIMIT_DIR");
}

TEST_F(Limits, PlantedLinksAreNeverFollowed) {
  const std::string victim = dir_.path("victim"), cat = dir_.path("cat");
  write_file(victim, "keep");
  write_file(cat, kA + kB);
  auto plant = [&](const std::string &at) {
    std::remove(at.c_str());
    ASSERT_EQ(symlink(victim.c_str(), at.c_str()), 0);
  };
  // An index or table file path that is a link: the link is replaced, not
  // written through.
  plant(dir_.path("idx"));
  EXPECT_RC(0, build_code(cat, dir_.path("idx")));
  write_file(dir_.path("dump"), dump("T1"));
  plant(dir_.path("T1"));
  EXPECT_RC(0, split_code(dir_.path("dump"), dir_.root()));
  EXPECT_FALSE(std::filesystem::is_symlink(dir_.path("T1")));
  // A keyed file created anew, a rollback journal.
  plant(dir_.path("new.kg"));
  KeyedFile *file = nullptr;
  EXPECT_RC(4, open_keyed(dir_.path("new.kg"), KeyDesc{{"PIPE", "SIZE", 4}}, &file, 0));
  plant(cat + "-journal");
  test_catalog::Stream s(cat, "r+b");
  PartRecord *part = test_catalog::make_part(sample_part("Z", 1.0));
  int rc = -1, at = 0;
  QuietErrors quiet;
  EXPECT_RC(PCS_SHORT_WRITE, (csgrewrt(&at, &part, s.f, &rc), rc));
  // A stream that cannot write is refused before any journal is made.
  std::remove((cat + "-journal").c_str());
  test_catalog::Stream r(cat, "rb");
  EXPECT_RC(PCS_SHORT_WRITE, (csgrewrt(&at, &part, r.f, &rc), rc));
  EXPECT_FALSE(file_exists(cat + "-journal"));
  cspgfre(part);
  EXPECT_EQ(read_file(cat), kA + kB);
  EXPECT_EQ(read_file(victim), "keep");
}

// Index files hold catalog offsets as 32-bit numbers: an append whose
// record would not end inside that range is refused before anything is
// written (sparse catalogs stand in for 2 GiB ones).
TEST_F(Limits, AppendsPastTheIndexOffsetRangeAreRefused) {
  const std::string cat = dir_.path("cat");
  const auto length = static_cast<int64_t>(kA.size());
  struct Case {
    int64_t size;
    int rc;
  };
  for (Case c : {Case{int64_t{INT32_MAX} - length, 0}, Case{int64_t{INT32_MAX} - length + 1, PCS_SHORT_WRITE},
                 Case{int64_t{INT32_MAX} + 10, PCS_SHORT_WRITE}, Case{int64_t{1} << 33, PCS_SHORT_WRITE}}) {
    SCOPED_TRACE(c.size);
    write_file(cat, "");
    ASSERT_EQ(truncate(cat.c_str(), static_cast<off_t>(c.size)), 0);
    test_catalog::Stream s(cat, "r+b");
    PartRecord *part = test_catalog::make_part(sample_part("A", 1.5));
    int rc = -1;
    QuietErrors quiet;
    cspgwrt(part, s.f, &rc);
    cspgfre(part);
    EXPECT_RC(c.rc, rc);
    std::fflush(s.f);
    struct stat status {};
    ASSERT_EQ(stat(cat.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, c.size + (c.rc == 0 ? length : 0));
  }
  std::remove(cat.c_str());
}

TEST_F(Limits, HostileIndexesWriteNothing) {
  const std::string cat = dir_.path("cat"), idx = dir_.path("idx");
  const int b = static_cast<int>(kA.size());
  std::string flagged = kA + kB;
  flagged[b + 7] = 7;  // a flag word that is neither 0 nor 1
  struct Case {
    const char *what;
    std::string catalog;
    int offset, rc;
  };
  const Case cases[] = {{"inside a record", kA + kB, 5, 1},
                        {"at a value", kA + kB, b + 40, 1},
                        {"past the end", kA + kB, b + 4000, 1},
                        {"odd flag", flagged, b, 1},
                        {"another key's record", kA + kB, 0, 1},
                        {"a generic part record", kA + record_bytes(sample_part("B", 2.5)), b, 0},
                        {"a record", kA + kB, b, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write_file(cat, c.catalog);
    write_file(idx, index_bytes(8, {{"B", c.offset}}));
    Catalog h(cat, idx);
    int n = 1, rc = -1;
    EXPECT_RC(c.rc, (csgdnrc(&h.h, field("B").c_str(), &n, &rc), rc));
    EXPECT_RC(c.rc, (csgdelrc(&h.h, field("B").c_str(), &rc), rc));
    std::fflush(h.h->CatalogFile);
    std::string expected = c.catalog;
    if (c.rc == 0) expected[c.offset + 7] = 1;
    EXPECT_EQ(read_file(cat), expected);
  }
  // A key whose second record is stale marks neither; what cskeytgt says.
  write_file(cat, kA + kB);
  write_file(idx, index_bytes(8, {{"B", b}, {"B", 0}}));
  {
    Catalog h(cat, idx);
    int rc = -1;
    EXPECT_RC(1, (csgdelrc(&h.h, field("B").c_str(), &rc), rc));
    long long at = -1;
    EXPECT_NE(csdamage(&at), nullptr);
    EXPECT_EQ(at, 0);
  }
  EXPECT_EQ(read_file(cat), kA + kB);
  std::string deleted = kA + kB;
  deleted[b + 7] = 1;
  write_file(cat, deleted);
  const struct {
    long long offset;
    std::string key;
    int target;
  } targets[] = {{0, field("A"), PCS_KEY_TARGET_CARRIES},
                 {0, field("") + field("A"), PCS_KEY_TARGET_CARRIES},  // after a blank field
                 {0, field("AB"), PCS_KEY_TARGET_OTHER_KEY},
                 {0, field("B"), PCS_KEY_TARGET_OTHER_KEY},
                 {0, field(""), PCS_KEY_TARGET_CARRIES},  // blank: nothing to check
                 {b, field("A"), PCS_KEY_TARGET_DELETED},
                 {4, field("A"), PCS_KEY_TARGET_NOT_A_RECORD},
                 {-1, field("A"), PCS_KEY_TARGET_NOT_A_RECORD}};
  {
    Stream s(cat, "rb");
    for (const auto &t : targets)
      EXPECT_EQ(cskeytgt(s.f, t.offset, t.key.data(), static_cast<int>(t.key.size())), t.target)
          << t.offset << " '" << t.key << "'";
  }
  // An unsorted index: the walk from key to key ends.
  write_file(cat, kA + kB);
  write_file(idx, index_bytes(8, {{"A", 0}, {"C", 0}, {"B", b}}));
  Catalog h(cat, idx);
  std::string key = field(""), next(8, ' ');
  int steps = 0, rc = 0;
  const std::string printed = capture_stderr([&] {
    for (; steps < 10; ++steps) {
      cspgtnky(&h.h, key.c_str(), next.data(), &rc);
      if (rc != 0) break;
      key = next;
    }
  });
  EXPECT_EQ(steps, 2);  // A, C, then B is not greater
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace pcs::test
