// Record counters and key readers over hand-built catalog and text files,
// damaged lengths included.
#include "common/second_half.h"
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

// What a key read gave: code, keys with their offsets, reports.
struct KeyRead {
  int rc = -1;
  std::vector<std::pair<int, std::string>> keys;
  std::vector<std::string> reports;
  bool operator==(const KeyRead &) const = default;
};

// A key read, with the second half of the file read on a second thread or
// not; *taken: the records the first thread took from the second.
KeyRead read_all(Reader reader, const std::string &path, const char *attr, int count, bool split,
                 int *taken) {
  SecondHalf::test_set_split_bytes(split ? 0 : INT64_MAX);
  const int before = SecondHalf::test_split_records();
  Keys keys(count, 8);
  int filled = 0;
  host::clear_reports();
  KeyRead read;
  read.rc = read_keys(reader, path, "PARTNUM", attr, 8, keys, count, &filled);
  for (int i = 0; i < filled; ++i)
    read.keys.emplace_back(keys.records[i].RecordOffset, keys.buffers[i]);
  for (const auto &report : host::reports())
    read.reports.push_back(std::to_string(report.code) + " " +
                           (report.parameters.empty() ? "" : report.parameters[0]));
  SecondHalf::test_set_split_bytes(4 << 20);
  *taken = SecondHalf::test_split_records() - before;
  return read;
}

// The second half of a catalog read on a second thread gives what one
// thread gives, whatever lies past the middle: deleted records, records of
// another shape, missing fields, damage, a count short of the records, and
// a copy of a record inside a value that the second thread may take for a
// record start.
TEST_F(KeyReaders, CsgiaSecondThreadGivesWhatOneThreadGives) {
  const std::string no_attr = catalog_record({{"PARTNUM", {{"OTHER", 1, 4, "XXXX"}}}});
  const std::string wider = catalog_record(
      {{"PARTNUM", {{"PARTNO", 1, 8, "WIDE0001"}}}, {"EXTRA", {{"NOTE", 1, 4, "note"}}}});
  std::string text = std::string(3000, 'x') + part("Z9");
  text.resize(3100, 'y');
  const std::string inside =
      catalog_record({{"PARTNUM", {{"PARTNO", 1, 8, "BIG00001"}}}, {"NOTES", {{"TEXT", 1, 3100, text}}}});
  struct Case {
    const char *name;
    int at;  // where `odd` goes among 400 parts (-1: nowhere)
    std::string odd;
    int deleted_every;  // 0: none deleted
    int count;          // records counted (0: all)
    bool taken;         // the first thread takes the second's run
    const char *attr = "PARTNO";
  } cases[] = {
      {"uniform", -1, "", 0, 0, true},
      {"deleted", -1, "", 7, 0, true},
      {"another shape", 300, wider, 0, 0, true},
      {"missing field", 250, no_attr, 5, 0, true},
      {"damaged", 300, be32(0) + be32(0) + std::string(20, 'z'), 0, 0, true},
      {"count short of the run", -1, "", 0, 350, false},
      {"count short of the middle", -1, "", 0, 150, false},
      {"record copy in a value", 200, inside, 0, 0, false},
      {"every record missing the field", -1, "", 0, 0, false, "NOPE"},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes;
    int records = 0;
    for (int i = 0; i < 400; ++i, ++records) {
      if (i == c.at) {
        bytes += c.odd;
        ++records;
      }
      const int flag = c.deleted_every && i % c.deleted_every == 3 ? 1 : 0;
      bytes += part("P" + std::to_string(i), flag);
    }
    write_file(dir.path("cat"), bytes);
    const int count = c.count ? c.count : records;
    for (Reader reader : {csgia, csgia2}) {
      int taken = -1;
      const KeyRead alone = read_all(reader, dir.path("cat"), c.attr, count, false, &taken);
      EXPECT_EQ(taken, 0);
      EXPECT_EQ(read_all(reader, dir.path("cat"), c.attr, count, true, &taken), alone);
      EXPECT_EQ(taken > 0, c.taken);
    }
  }
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
