// The index builder: index files compared with files laid out by hand,
// the mode of a replaced index and leftover temporaries, fixed-column text
// sources, every code.
#include <sys/stat.h>

#include <algorithm>

#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;
namespace {

using IndexBuilder = MaintTest;

// Three live parts and a deleted one: P200 at 0, P100 at 61, P200 at 122,
// P050 (deleted) at 183.
std::string sample_catalog() {
  return part("P200") + part("P100") + part("P200") + part("P050", 1);
}

int build(const std::string &catalog, const std::string &index,
          std::vector<std::string> groups, std::vector<std::string> attrs,
          std::vector<int> widths) {
  std::string g, a;
  for (auto &name : groups) g += field(name);
  for (auto &name : attrs) a += field(name);
  int n = static_cast<int>(widths.size()), rc = -1;
  csgbldx(&n, g.data(), a.data(), widths.data(), (catalog + " ").c_str(), (index + " ").c_str(),
          &rc);
  return rc;
}

TEST_F(IndexBuilder, CatalogIndexMatchesHandBuiltFile) {
  TempDir dir;
  write_file(dir.path("cat"), sample_catalog());
  ASSERT_RC(0, build(dir.path("cat"), dir.path("idx"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(dir.path("idx")),  // the deleted P050 gets no key
            index_header(3, 8) + index_record(1, 61, 17, "P100    ") +
                index_record(2, 0, 54, "P200    ") + index_record(2, 122, 54, "P200    "));
  struct stat status {};
  ASSERT_EQ(stat(dir.path("idx").c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0644u & ~mask);
}

// A rebuilt index keeps the permission bits of the file it replaces, and
// temporary files that interrupted builds left are removed (only those no
// process holds) and named.
TEST_F(IndexBuilder, ReplacesKeepModeAndLeftoversGo) {
  TempDir dir;
  write_file(dir.path("cat"), sample_catalog());
  const std::string idx = dir.path("idx");
  for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0444}}) {
    SCOPED_TRACE(mode);
    write_file(idx, "old index");
    chmod(idx.c_str(), mode);
    ASSERT_RC(0, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
    struct stat status {};
    ASSERT_EQ(stat(idx.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
  }
  write_file(idx + ".a1b2c3", "left by a crash");
  write_file(idx + ".keep", "not ours");
  io::Replacement live;
  ASSERT_TRUE(io::begin_replace(&live, idx.c_str()));
  const std::string message = capture_stderr(
      [&] { ASSERT_RC(0, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8})); });
  EXPECT_EQ(message, "pcs: removed " + idx + ".a1b2c3, left behind by an interrupted rewrite of " +
                         idx + "\n");
  EXPECT_FALSE(file_exists(idx + ".a1b2c3"));
  EXPECT_TRUE(file_exists(idx + ".keep"));
  EXPECT_TRUE(file_exists(live.temporary));
  io::abandon_replace(&live);
}

TEST_F(IndexBuilder, FixedColumnTextSource) {
  TempDir dir;
  // The last line has no newline; the second field lies past every line's end.
  write_file(dir.path("src"), "aaBBBcc\naaAAAcc\naaBBB");
  EXPECT_EQ(csgrc(dir.path("src").c_str()), 3);
  int fields = 2, columns[] = {3, 10}, widths[] = {3, 2}, rc = -1;
  csbndx(csgrc, csrikr, &fields, columns, widths, dir.path("src").c_str(),
         dir.path("idx").c_str(), &rc);
  ASSERT_RC(0, rc);
  const std::string z(2, '\0');
  EXPECT_EQ(read_file(dir.path("idx")),
            index_header(3, 5) + index_record(1, 8, 17, "AAA" + z) +
                index_record(2, 0, 51, "BBB" + z) + index_record(2, 16, 51, "BBB" + z));
  // A 0 byte ends a field's copy; columns past 1000 characters read as 0.
  write_file(dir.path("src"), std::string("12\0" "45\n", 6) + std::string(1200, 'x') + "Q\n");
  KeyRecord records[2];
  char keys[2][5];
  for (int i = 0; i < 2; ++i) records[i] = KeyRecord{-1, keys[i]};
  int one = 1, column[] = {1}, width[] = {4}, filled = 0;
  ASSERT_EQ(csrikr(dir.path("src").c_str(), &one, column, width, 2, 4, records, &filled), 0);
  EXPECT_EQ(std::string(keys[0], 5), std::string("12\0\0\0", 5));
  EXPECT_EQ(records[1].RecordOffset, 6);
  column[0] = 1001;
  ASSERT_EQ(csrikr(dir.path("src").c_str(), &one, column, width, 2, 4, records, &filled), 0);
  EXPECT_EQ(std::string(keys[1], 4), std::string(4, '\0'));
  EXPECT_EQ(csrikr(dir.path("none").c_str(), &one, column, width, 2, 4, records, &filled), 1);
}

// A key reader that gives one key at chosen offsets.
std::vector<int> reader_offsets;
int fixed_reader(const char *, const int *, void *, const int *, int, int key_length,
                 KeyRecord *records, int *filled) {
  for (size_t i = 0; i < reader_offsets.size(); ++i) {
    std::memset(records[i].Key, 'K', static_cast<size_t>(key_length));
    records[i].RecordOffset = reader_offsets[i];
  }
  *filled = static_cast<int>(reader_offsets.size());
  return 0;
}
int count_of_reader(const char *) { return static_cast<int>(reader_offsets.size()); }
int failing_reader(const char *, const int *, void *, const int *, int, int, KeyRecord *,
                   int *) {
  return 7;
}

TEST_F(IndexBuilder, EqualKeysShareCountAndFirstRecord) {
  TempDir dir;
  reader_offsets = {100, 0, 50};
  int fields = 1, widths[] = {8}, rc = -1;
  csbndx(count_of_reader, fixed_reader, &fields, nullptr, widths, "src", dir.path("idx").c_str(),
         &rc);
  ASSERT_RC(0, rc);
  const std::string key(8, 'K');
  EXPECT_EQ(read_file(dir.path("idx")), index_header(3, 8) + index_record(3, 0, 17, key) +
                                            index_record(3, 50, 17, key) +
                                            index_record(3, 100, 17, key));
}

// An index of several write pieces (its lines are written on a second
// thread while the next piece fills): the file laid out by hand, and a write
// that fails in any piece, at once or at the next sync, leaves the old index.
TEST_F(IndexBuilder, LargeIndexWrittenInPiecesAndFailuresInAnyPiece) {
  TempDir dir;
  const int n = 40000;  // 37-byte lines: 1.4 MiB
  std::string catalog;
  std::vector<std::pair<std::string, int>> entries;
  for (int i = 0; i < n; ++i) {
    const std::string key = "K" + num((i * 7919) % n, 7).substr(2);  // each key once, shuffled
    entries.emplace_back(field(key, 8), static_cast<int>(catalog.size()));
    catalog += part(key);
  }
  std::sort(entries.begin(), entries.end());
  write_file(dir.path("cat"), catalog);
  const std::string idx = dir.path("idx");
  ASSERT_RC(0, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  const std::string whole = read_file(idx);
  EXPECT_EQ(whole, index_bytes(8, entries));
  for (io::Mode mode : {io::Mode::immediate, io::Mode::buffered})
    for (int64_t budget : {int64_t{17}, int64_t{1} << 20, int64_t{(1 << 20) + 5000},
                           static_cast<int64_t>(whole.size()) - 1}) {
      SCOPED_TRACE(budget);
      write_file(idx, "old");
      io::test_fail_write_at(budget, mode);
      EXPECT_RC(6, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
      io::test_reset();
      EXPECT_EQ(read_file(idx), "old");
      EXPECT_EQ(pcs::test::list_dir(dir), (std::vector<std::string>{"cat", "idx"}));
    }
}

TEST_F(IndexBuilder, ResultCodes) {
  TempDir dir;
  write_file(dir.path("cat"), sample_catalog());
  write_file(dir.path("empty"), "");
  const std::string idx = dir.path("idx");
  EXPECT_RC(1, build(dir.path("none"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_RC(1, build(dir.path("empty"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_FALSE(file_exists(idx));
  EXPECT_RC(2, build(dir.path("cat"), idx, {}, {}, {}));
  EXPECT_RC(2, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {0}));
  EXPECT_RC(2, build(dir.path("cat"), idx, {"PARTNUM", "A"}, {"PARTNO", "B"}, {8, -1}));
  EXPECT_RC(8, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {10000}));
  EXPECT_RC(7, build(dir.path("cat"), idx, {"PARTNUM", "A"}, {"PARTNO", "B"}, {499, 1}));
  EXPECT_RC(5, build(dir.path("cat"), dir.path("no/idx"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_RC(5, build(dir.path("cat"), dir.path("./cat"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(dir.path("cat")), sample_catalog());
  // Failures leave the old index and no temporary file.
  write_file(idx, "old");
  io::test_fail_write(2, 5);
  EXPECT_RC(6, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  io::test_fail(io::Op::rename, 1);
  EXPECT_RC(5, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(idx), "old");
  EXPECT_EQ(pcs::test::list_dir(dir), (std::vector<std::string>{"cat", "empty", "idx"}));

  int fields = 1, widths[] = {8}, rc = -1;
  reader_offsets = {1};
  csbndx(count_of_reader, failing_reader, &fields, nullptr, widths, "src", idx.c_str(), &rc);
  EXPECT_RC(4, rc);
  write_file(dir.path("cat2"), "damaged");
  EXPECT_RC(1, build(dir.path("cat2"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  write_file(dir.path("dead"), part("A", 1));  // no live record: the header alone
  EXPECT_RC(0, build(dir.path("dead"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(idx), "           0   8\n");

  host::fail_allocation(1);
  csbndx(csgrc, csrikr, &fields, widths, widths, dir.path("cat").c_str(), idx.c_str(), &rc);
  EXPECT_RC(3, rc);
  host::fail_allocation(1);
  EXPECT_RC(PCS_GEN_NO_MEMORY, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));

  // A run of equal keys longer than the count field holds.
  reader_offsets.assign(10000, 0);
  std::remove(idx.c_str());
  csbndx(count_of_reader, fixed_reader, &fields, nullptr, widths, "src", idx.c_str(), &rc);
  EXPECT_RC(9, rc);
  EXPECT_FALSE(file_exists(idx));
}

}  // namespace
}  // namespace pcs::test_maint
