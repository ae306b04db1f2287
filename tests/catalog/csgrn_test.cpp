// Record counters and key readers over hand-built catalog and text files,
// damaged lengths included.
#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::catalog;
namespace {

using KeyReaders = MaintTest;

struct Keys {
  explicit Keys(int count, int key_length)
      : records(static_cast<size_t>(count)), buffers(static_cast<size_t>(count)) {
    for (int i = 0; i < count; ++i) {
      buffers[i].assign(static_cast<size_t>(key_length) + 1, '?');
      records[i] = KeyRecord{-1, buffers[i].data()};
    }
  }
  std::string key(int i, int key_length) const { return buffers[i].substr(0, key_length); }
  std::vector<KeyRecord> records;
  std::vector<std::string> buffers;
};

using Reader = int (*)(const char *, const int *, void *, const int *, int, int, KeyRecord *,
                       int *);

// Runs a reader over the file with one field of `width` bytes.
int read_keys(Reader reader, const std::string &path, const std::string &group,
              const std::string &attr, int width, Keys &keys, int count, int *filled,
              bool no_memory = false) {
  void *names = description({{group, attr}});
  int fields = 1;
  if (no_memory) host::fail_allocation(1, true);
  const int rc = reader(path.c_str(), &fields, names, &width, count, width, keys.records.data(),
                        filled);
  host::clear_allocation_failure();
  free_key_description(names);
  return rc;
}

TEST_F(KeyReaders, CsgrnWalksLengthsAndRefusesDamage) {
  TempDir dir;
  write_file(dir.path("empty"), "");
  EXPECT_EQ(csgrn(dir.path("empty").c_str()), 0);
  EXPECT_EQ(csgrn(dir.path("none").c_str()), -1);
  write_file(dir.path("cat"), part("A") + part("B", 1) + part("C"));
  EXPECT_EQ(csgrn(dir.path("cat").c_str()), 3);  // deleted ones count
  const std::string good = part("A");
  for (const std::string &tail : {be32(0) + be32(0) + std::string(12, 'x'),
                                  be32(-61) + be32(0) + std::string(60, 'x'), good.substr(0, 60),
                                  std::string("abc")}) {
    write_file(dir.path("bad"), good + tail);
    EXPECT_EQ(csgrn(dir.path("bad").c_str()), -1);
  }
  io::test_fail_read(1);
  EXPECT_EQ(csgrn(dir.path("cat").c_str()), -1);
  write_file(dir.path("a"), "one\n\nthree");  // csgrc: a last line without newline counts
  EXPECT_EQ(csgrc(dir.path("a").c_str()), 3);
  EXPECT_EQ(csgrc(dir.path("empty").c_str()), 0);
  EXPECT_EQ(csgrc(dir.path("none").c_str()), -1);
}

TEST_F(KeyReaders, CsgiaSkipsDeletedAndBlanksMissingFields) {
  TempDir dir;
  const std::string no_attr = catalog_record({{"PARTNUM", {{"OTHER", 1, 4, "XXXX"}}}});
  write_file(dir.path("cat"), part("A1") + part("B2", 1) + no_attr + part("C3"));
  Keys keys(4, 8);
  int filled = -1;
  host::clear_reports();
  EXPECT_EQ(read_keys(csgia, dir.path("cat"), "PARTNUM", "PARTNO", 8, keys, 4, &filled), 0);
  ASSERT_EQ(filled, 3);
  EXPECT_EQ(keys.records[0].RecordOffset, 0);
  EXPECT_EQ(keys.key(0, 8), "A1      ");
  EXPECT_EQ(keys.records[1].RecordOffset, 122);  // the deleted record's slot is reused
  EXPECT_EQ(keys.key(1, 8), "        ");
  EXPECT_EQ(keys.records[2].RecordOffset, 122 + static_cast<int>(no_attr.size()));
  EXPECT_EQ(keys.key(2, 8), "C3      ");
  EXPECT_EQ(keys.buffers[2][8], '\0');
  ASSERT_EQ(host::reports().size(), 1u);
  EXPECT_RC(PCS_NO_ATTR, host::reports()[0].code);
}

TEST_F(KeyReaders, CsgiaCodes) {
  TempDir dir;
  Keys keys(3, 8);
  int filled = -1;
  EXPECT_EQ(read_keys(csgia, dir.path("none"), "PARTNUM", "PARTNO", 8, keys, 1, &filled), 1);
  EXPECT_EQ(filled, 0);
  // A record length of 0 stops the reader instead of looping on it.
  write_file(dir.path("zero"), part("A") + be32(0) + be32(0) + std::string(20, 'z'));
  EXPECT_EQ(read_keys(csgia, dir.path("zero"), "PARTNUM", "PARTNO", 8, keys, 3, &filled), 2);
  EXPECT_EQ(filled, 1);
  // Fewer records than counted: the file ended early.
  write_file(dir.path("short"), part("A"));
  EXPECT_EQ(read_keys(csgia, dir.path("short"), "PARTNUM", "PARTNO", 8, keys, 2, &filled), 2);
  // A record whose inner offsets point outside it.
  std::string bad = part("A");
  bad.replace(16, 4, be32(5000));
  write_file(dir.path("bad"), bad);
  EXPECT_EQ(read_keys(csgia, dir.path("bad"), "PARTNUM", "PARTNO", 8, keys, 1, &filled), 2);
  write_file(dir.path("cat"), part("A"));
  EXPECT_EQ(read_keys(csgia, dir.path("cat"), "PARTNUM", "PARTNO", 8, keys, 1, &filled, true), 2);
}

// A SIZE attribute of two-byte values read into a field two values wide.
std::string collapsed(Reader reader, const std::string &values) {
  TempDir dir;
  write_file(
      dir.path("cat"),
      catalog_record({{"PIPESIZE", {{"SIZE", static_cast<int>(values.size()) / 2, 2, values}}}}));
  Keys keys(1, 4);
  int filled = 0;
  EXPECT_EQ(read_keys(reader, dir.path("cat"), "PIPESIZE", "SIZE", 4, keys, 1, &filled), 0);
  return keys.key(0, 4);
}

TEST_F(KeyReaders, Csgia2KeepsFirstAndFirstDifferentValue) {
  EXPECT_EQ(collapsed(csgia2, "4 4 2 "), "4 2 ");
  EXPECT_EQ(collapsed(csgia2, "4 2 4 "), "4 2 ");
  EXPECT_EQ(collapsed(csgia2, "6 "), "6   ");
  EXPECT_EQ(collapsed(csgia2, "4   2 "), "4 2 ");  // blank values are passed over
  EXPECT_EQ(collapsed(csgia2, "4 4 4 "), "4   ");
  EXPECT_EQ(collapsed(csgia, "4 4 2 "), "4 4 ");
  EXPECT_EQ(collapsed(csgia, "6 "), "6   ");
}

}  // namespace
}  // namespace pcs::test_maint
