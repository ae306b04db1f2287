// The index builder: index files compared with files laid out by hand,
// looked up through csalku/csaget, fixed-column text sources, every code.
#include <sys/stat.h>

#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
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

TEST_F(IndexBuilder, CatalogIndexMatchesHandBuiltFileAndLooksUp) {
  TempDir dir;
  write_file(dir.path("cat"), sample_catalog());
  ASSERT_RC(0, build(dir.path("cat"), dir.path("idx"), {"PARTNUM"}, {"PARTNO"}, {8}));
  const std::string expected = index_header(3, 8) + index_record(1, 61, 17, "P100    ") +
                               index_record(2, 0, 54, "P200    ") +
                               index_record(2, 122, 54, "P200    ");
  EXPECT_EQ(read_file(dir.path("idx")), expected);
  struct stat status {};
  ASSERT_EQ(stat(dir.path("idx").c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0644u & ~mask);

  FILE *index = std::fopen(dir.path("idx").c_str(), "rb");
  int count = 0, first = 0, rc = -1, data = -1;
  csalku(&index, "P200    ", &count, &first, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(first, 54);
  int second = first + 37;
  csaget(&index, &second, &data, &rc);
  EXPECT_EQ(data, 122);
  csalku(&index, "P100    ", &count, &first, &rc);
  EXPECT_EQ(count, 1);
  csaget(&index, &first, &data, &rc);
  EXPECT_EQ(data, 61);
  csalku(&index, "P050    ", &count, &first, &rc);
  EXPECT_RC(1, rc);  // deleted records get no key
  std::fclose(index);
}

TEST_F(IndexBuilder, SeveralFieldsMissingAttributesAndLongValues) {
  TempDir dir;
  // CATEGORY cut to 4; SIZE two values of 2 bytes into a field of 3; the
  // second part has no PIPESIZE group and keeps a blank field.
  const std::string a = record({{"PARTDEF", {{"CATEGORY", 8, "ELBOW90 "}}},
                                {"PIPESIZE", {{"SIZE", 2, "4 6 "}}}});
  const std::string b = record({{"PARTDEF", {{"CATEGORY", 3, "TEE"}}}});
  write_file(dir.path("cat"), a + b);
  host::clear_reports();
  ASSERT_RC(0, build(dir.path("cat"), dir.path("idx"), {"PARTDEF", "PIPESIZE"},
                     {"CATEGORY", "SIZE"}, {4, 3}));
  const int b_at = static_cast<int>(a.size());
  EXPECT_EQ(read_file(dir.path("idx")),
            index_header(2, 7) + index_record(1, 0, 17, "ELBO4 6") +
                index_record(1, b_at, 53, "TEE    "));
  ASSERT_EQ(host::reports().size(), 1u);  // the missing group, reported by the lookup
  EXPECT_RC(PCS_NO_GROUP, host::reports()[0].code);
}

TEST_F(IndexBuilder, EmptyAndBlankKeys) {
  TempDir dir;
  write_file(dir.path("cat"), part("A", 1) + part("", 0));
  ASSERT_RC(0, build(dir.path("cat"), dir.path("idx"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(dir.path("idx")), index_header(1, 8) + index_record(1, 61, 17, "        "));
  write_file(dir.path("dead"), part("A", 1));
  ASSERT_RC(0, build(dir.path("dead"), dir.path("idx2"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(dir.path("idx2")), "           0   8\n");
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
}

TEST_F(IndexBuilder, FixedColumnReaderCopiesAsStrncpy) {
  TempDir dir;
  write_file(dir.path("src"), std::string("12\0" "45\n", 6) + "\n" + std::string(1200, 'x') + "Q\n");
  KeyRecord records[3];
  char keys[3][8];
  for (int i = 0; i < 3; ++i) records[i] = KeyRecord{-1, keys[i]};
  int fields = 2, columns[] = {1, 0}, widths[] = {4, 3}, filled = 0;
  ASSERT_EQ(csrikr(dir.path("src").c_str(), &fields, columns, widths, 3, 7, records, &filled), 0);
  EXPECT_EQ(filled, 3);
  EXPECT_EQ(std::string(keys[0], 8), std::string("12\0\0\0\0\0\0", 8));
  EXPECT_EQ(records[1].RecordOffset, 6);
  EXPECT_EQ(std::string(keys[1], 8), std::string(8, '\0'));
  EXPECT_EQ(records[2].RecordOffset, 7);
  EXPECT_EQ(std::string(keys[2], 8), std::string("xxxx\0\0\0\0", 8));
  EXPECT_EQ(csrikr(dir.path("none").c_str(), &fields, columns, widths, 3, 7, records, &filled), 1);
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
  reader_offsets = {1, 2, 3, 4, 5};
  int wide[] = {12};
  csbndx(count_of_reader, fixed_reader, &fields, nullptr, wide, "src", dir.path("idx").c_str(),
         &rc);
  EXPECT_EQ(read_file(dir.path("idx")).substr(0, 17), "           5  12\n");
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
  EXPECT_RC(2, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {10000}));
  EXPECT_RC(5, build(dir.path("cat"), dir.path("no/idx"), {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_RC(6, build(dir.path("cat"), "/dev/full", {"PARTNUM"}, {"PARTNO"}, {8}));
  io::test_fail_write(2, 5);
  EXPECT_RC(6, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  EXPECT_EQ(read_file(idx), index_header(3, 8) + index_record(1, 61, 17, "P100 ").substr(0, 5));

  int fields = 1, widths[] = {8}, rc = -1;
  reader_offsets = {1};
  csbndx(count_of_reader, failing_reader, &fields, nullptr, widths, "src", idx.c_str(), &rc);
  EXPECT_RC(4, rc);
  write_file(dir.path("cat2"), "damaged");
  EXPECT_RC(1, build(dir.path("cat2"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));

  host::fail_allocation(1);
  csbndx(csgrc, csrikr, &fields, widths, widths, dir.path("cat").c_str(), idx.c_str(), &rc);
  EXPECT_RC(3, rc);
  host::fail_allocation(1);
  EXPECT_RC(PCS_GEN_NO_MEMORY, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));
  host::fail_allocation(2);
  EXPECT_RC(PCS_GEN_NO_MEMORY, build(dir.path("cat"), idx, {"PARTNUM"}, {"PARTNO"}, {8}));

  // A run of equal keys longer than the count field holds.
  reader_offsets.assign(10000, 0);
  std::remove(idx.c_str());
  csbndx(count_of_reader, fixed_reader, &fields, nullptr, widths, "src", idx.c_str(), &rc);
  EXPECT_RC(5, rc);
  EXPECT_FALSE(file_exists(idx));
}

TEST_F(IndexBuilder, HelpersOfTheRecordSpace) {
  const int widths[] = {3, 4, 5};
  EXPECT_EQ(GetKeyLength(3, widths), 12);
  EXPECT_EQ(GetKeyLength(0, widths), 0);
  EXPECT_EQ(GetKeyLength(-1, nullptr), 0);
  KeyRecord *space = GetRecordSpace(3, 5);
  ASSERT_NE(space, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(space[i].Key, 6), std::string(6, '\0'));
  EXPECT_EQ(compare(&space[0], &space[0]), 0);
  std::memcpy(space[1].Key, "\xE0", 1);
  std::memcpy(space[2].Key, "a", 1);
  EXPECT_GT(compare(&space[1], &space[2]), 0);  // unsigned bytes
  FreeRecordSpace(space, 3);
  EXPECT_EQ(GetRecordSpace(0, 5), nullptr);
  host::fail_allocation(1);
  EXPECT_EQ(GetRecordSpace(4, 5), nullptr);
}

}  // namespace
}  // namespace pcs::test_maint
