// Damaged keyed files: truncation at every byte, hostile words at every
// offset, status words (every flipped bit, interrupted replacements),
// damaged lengths, a file of another kind and failing reads.
#include <algorithm>
#include <climits>

#include "common/fileio.h"
#include "common/second_half.h"
#include "keyed/keyed.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
using namespace pcs::keyed;
namespace {

const Group kA{"PIPE", {{"SIZE", 1, 4, "0100"}, {"SCH", 1, 3, "XXS"}}};
const Group kB{"PIPE", {{"SIZE", 1, 4, "0200"}}};
const Group kC{"PIPE", {{"SIZE", 1, 4, "0300"}}};

class KeyedDamageTest : public KeyedTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    r0_ = record_bytes({kA});
    r1_ = record_bytes({kB});
    r2_ = record_bytes({kC}, -1);
    r3_ = record_bytes({kB});
    r3_at_ = static_cast<int>((r0_ + r1_ + r2_).size());
    r1_.replace(4, 4, be32(r3_at_));
    good_ = r0_ + r1_ + r2_ + r3_;
  }
  // The elements of the open file's index.
  std::vector<const keyed::IndexElement *> elements() const {
    std::vector<const keyed::IndexElement *> elements;
    auto collect = [&](auto &self, const keyed::TreeNode *n) -> void {
      if (!n) return;
      for (const void *e : {n->leftElement, n->rightElement})
        if (e) elements.push_back(static_cast<const keyed::IndexElement *>(e));
      for (const keyed::TreeNode *c : {n->leftChild, n->middleChild, n->rightChild}) self(self, c);
    };
    collect(collect, file_->Index->state->root);
    return elements;
  }
  // Reads every indexed record back, and the record at every byte position
  // of the file (or at each of `starts`).
  void walk_all(const std::string &bytes, std::vector<int> starts = {}) {
    for (const keyed::IndexElement *e : elements()) {
      KeyedGroup *list = nullptr;
      int rc = -1;
      EXPECT_RC(0, (cspget(reinterpret_cast<const char *>(e->key), &file_, &list, &rc), rc));
      cspfre(&list);
    }
    if (starts.empty())
      for (int p = -1; p <= static_cast<int>(bytes.size()); ++p) starts.push_back(p);
    for (int p : starts) {
      KeyedGroup *list = nullptr;
      int rc = -1, length = 0;
      cspgtr(&file_->Stream, &p, &length, &list, &rc);
      EXPECT_TRUE(rc == 0 || rc >= 5) << rc;
      if (rc != 0) EXPECT_EQ(list, nullptr);
      cspfre(&list);
    }
  }

  std::string r0_, r1_, r2_, r3_, good_;
  int r3_at_ = 0;
};

// A cut anywhere but between records fails the open with 5 and leaves the
// file as it was; so does a cut that drops the record a replaced one points
// to. A cut between records opens with the records before it (a table,
// which does not follow replacements, at every record end).
TEST_F(KeyedDamageTest, TruncatedAtEveryByte) {
  const std::vector<size_t> ends{0, r0_.size(), good_.size()};
  const std::vector<size_t> table_ends{0, r0_.size(), (r0_ + r1_).size(), r3_at_ + 0u,
                                       good_.size()};
  for (size_t n = 0; n <= good_.size(); ++n) {
    SCOPED_TRACE(n);
    const std::string cut = good_.substr(0, n);
    write_file(path_, cut);
    const bool whole = std::find(ends.begin(), ends.end(), n) != ends.end();
    const bool table_whole = std::find(table_ends.begin(), table_ends.end(), n) != table_ends.end();
    ASSERT_RC(whole ? PCS_OK : PCS_KEYED_DAMAGED, open_keyed(path_, key_, &file_));
    KeyedFile *table = nullptr;
    EXPECT_RC(table_whole ? PCS_OK : PCS_KEYED_DAMAGED, open_table(path_, key_, &table));
    if (table) close_keyed(&table);
    if (!whole) {
      EXPECT_EQ(read_file(path_), cut);
      continue;
    }
    EXPECT_RC(n >= r0_.size() ? PCS_OK : PCS_KEYED_NOT_FOUND, test("0100"));
    EXPECT_RC(n == good_.size() ? PCS_OK : PCS_KEYED_NOT_FOUND, test("0200"));
    walk_all(cut);
    close_keyed(&file_);
  }
}

// Every byte position overwritten with each hostile word: opens or reports,
// and whatever opens reads back.
TEST_F(KeyedDamageTest, HostileWordsAtEveryOffset) {
  int size = static_cast<int>(good_.size());
  for (int value : {0, -1, -2, 1, 11, 12, 16, 17, 0x10000, INT_MAX, INT_MIN, size - 1, size}) {
    for (int at = 0; at + 4 <= size; ++at) {
      SCOPED_TRACE(std::to_string(value) + " at " + std::to_string(at));
      std::string bytes = good_;
      bytes.replace(static_cast<size_t>(at), 4, be32(value));
      write_file(path_, bytes);
      int rc = open_keyed(path_, key_, &file_);
      ASSERT_TRUE(rc == 0 || rc == 2 || rc == 3 || rc == 5) << rc;
      KeyedFile *table = nullptr;
      rc = open_table(path_, key_, &table);
      ASSERT_TRUE(rc == 0 || rc == 3 || rc == 5) << rc;
      if (table) close_keyed(&table);
      if (!file_) {
        ASSERT_EQ(read_file(path_), bytes);
        continue;
      }
      walk_all(bytes,
               {0, static_cast<int>(r0_.size()), r3_at_ - static_cast<int>(r2_.size()), r3_at_});
      close_keyed(&file_);
    }
  }
}

// A status word is 0 (live), -1 (deleted) or the offset of a later record
// with the same key (replaced): any other fails the open, as do a length
// outside the file or a record not ending in a newline; nothing is written.
TEST_F(KeyedDamageTest, StatusWordsAndLengths) {
  const int r1_at = static_cast<int>(r0_.size());
  const int r2_at = r3_at_ - static_cast<int>(r2_.size());
  const int r2_end = r3_at_ - 1;
  struct Case {
    int at, value, rc;
  };
  constexpr int kDamaged = PCS_KEYED_DAMAGED;
  for (Case c : {Case{r1_at + 4, -1, PCS_OK}, Case{r1_at + 4, 1, kDamaged},
                 Case{r1_at + 4, -2, kDamaged}, Case{r1_at + 4, 999999, kDamaged},
                 Case{r1_at + 4, INT_MIN, kDamaged}, Case{r1_at + 4, r2_at, kDamaged},
                 Case{r1_at + 4, r3_at_ + 1, kDamaged},
                 Case{r3_at_ + 4, r1_at, kDamaged}, Case{r1_at, 0, kDamaged},
                 Case{r1_at, -5, kDamaged}, Case{r1_at, 100000, kDamaged},
                 Case{r1_at, INT_MAX, kDamaged}, Case{r2_end - 3, 0x41414141, kDamaged},
                 Case{r3_at_, static_cast<int>(r3_.size()) + 1, kDamaged}}) {
    SCOPED_TRACE(std::to_string(c.at) + " " + std::to_string(c.value));
    std::string bytes = good_;
    bytes.replace(static_cast<size_t>(c.at), 4, be32(c.value));
    write_file(path_, bytes);
    EXPECT_RC(c.rc, open_keyed(path_, key_, &file_));
    EXPECT_EQ(read_file(path_), bytes);
    if (!file_) continue;
    EXPECT_RC(0, test("0100"));
    EXPECT_RC(0, test("0200"));
    int length = 0, rc = -1;
    KeyedGroup *list = nullptr;
    EXPECT_RC(PCS_KEYED_DEAD, (cspgtr(&file_->Stream, &r1_at, &length, &list, &rc), rc));
    close_keyed(&file_);
  }
  write_file(path_, good_);
  io::test_fail_read(2);
  EXPECT_RC(PCS_KEYED_DAMAGED, open_keyed(path_, key_, &file_));
}

// One flipped bit in any status word is found by the open: a live record
// never vanishes silently, a replaced one never points elsewhere.
TEST_F(KeyedDamageTest, EveryFlippedStatusBitIsFound) {
  const size_t starts[] = {0, r0_.size(), r0_.size() + r1_.size(), static_cast<size_t>(r3_at_)};
  for (size_t start : starts) {
    for (int bit = 0; bit < 32; ++bit) {
      SCOPED_TRACE(std::to_string(start) + " bit " + std::to_string(bit));
      std::string bytes = good_;
      bytes[start + 4 + static_cast<size_t>(3 - bit / 8)] ^= static_cast<char>(1 << (bit % 8));
      write_file(path_, bytes);
      EXPECT_RC(PCS_KEYED_DAMAGED, open_keyed(path_, key_, &file_));
      EXPECT_EQ(read_file(path_), bytes);
    }
  }
}

// A replacing put cut short after its append (the old record still live,
// the new, different one complete at the end) is finished by the next open,
// which says so; the same key twice anywhere else, or two equal records
// (plain appends), is a duplicate.
TEST_F(KeyedDamageTest, InterruptedReplacementIsFinishedByTheOpen) {
  const std::string old_b = record_bytes({kB});
  const std::string new_b = record_bytes({{"PIPE", {{"SIZE", 1, 4, "0200"}, {"SCH", 1, 3, "STD"}}}});
  const int old_at = static_cast<int>(r0_.size()), new_at = old_at + static_cast<int>(old_b.size());
  write_file(path_, r0_ + old_b + new_b);
  int rc = -1;
  const std::string message = capture_stderr([&] { rc = open_keyed(path_, key_, &file_); });
  EXPECT_RC(0, rc);
  EXPECT_EQ(message, "pcs: " + path_ + ": the records at offsets " + std::to_string(old_at) +
                         " and " + std::to_string(new_at) +
                         " carry one key: a replacement was interrupted; the later, complete "
                         "record is now the live one\n");
  EXPECT_EQ(read_file(path_), r0_ + record_bytes({kB}, new_at) + new_b);
  KeyedGroup *list = nullptr;
  cspget("0200", &file_, &list, &rc);
  EXPECT_RC(0, rc);
  EXPECT_NE(list_text(list).find("STD"), std::string::npos) << list_text(list);
  cspfre(&list);
  close_keyed(&file_);
  for (const std::string &bytes : {r0_ + old_b + new_b + record_bytes({kC}), r0_ + old_b + old_b}) {
    write_file(path_, bytes);
    EXPECT_RC(PCS_KEYED_DUPLICATE, open_keyed(path_, key_, &file_));
    EXPECT_EQ(read_file(path_), bytes);
  }
}

// An open that reads the second half of the file on a second thread gives
// what one thread gives, whatever lies past the middle: deleted records,
// another shape, a repeated key, an interrupted replacement at the end,
// damage, and a record copy inside a value that the second thread may take
// for a record start.
TEST_F(KeyedDamageTest, SecondThreadGivesWhatOneThreadGives) {
  const auto part = [](int i, int status = 0, const char *schedule = "STD") {
    return record_bytes({{"PIPE", {{"SIZE", 1, 4, num(i, 4)}, {"SCH", 1, 3, schedule}}}}, status);
  };
  std::string text = std::string(3000, 'x') + part(9999);
  text.resize(3100, 'y');
  struct Case {
    const char *name;
    int at;           // where `odd` goes among 200 parts (-1: at the end)
    std::string odd;  // nothing: no odd record
    int deleted_every;
    bool taken;
  } cases[] = {
      {"uniform", 0, "", 0, true},
      {"deleted", 0, "", 7, true},
      {"another shape", 150, record_bytes({kB}), 0, true},
      {"repeated key", 150, part(10), 0, true},
      {"replacement at the end", -1, part(190, 0, "XXS"), 0, true},
      {"damaged", 150, be32(9) + be32(0) + "damaged", 0, true},
      {"record copy in a value", 100,
       record_bytes({{"PIPE", {{"SIZE", 1, 4, "BIG0"}}}, {"NOTES", {{"TEXT", 1, 3100, text}}}}), 0,
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
      if (i == c.at) bytes += c.odd;
      bytes += part(i, c.deleted_every && i % c.deleted_every == 3 ? -1 : 0);
    }
    if (c.at < 0) bytes += c.odd;
    std::string seen[2];
    int taken = 0;
    for (bool split : {false, true}) {
      write_file(path_, bytes);
      SecondHalf::test_set_split_bytes(split ? 0 : INT64_MAX);
      const int before = SecondHalf::test_split_records();
      int rc = -1;
      std::string said = capture_stderr([&] { rc = open_keyed(path_, key_, &file_); });
      SecondHalf::test_set_split_bytes(4 << 20);
      taken = SecondHalf::test_split_records() - before;
      std::string &out = seen[split];
      out = std::to_string(rc) + " " + said + read_file(path_);
      if (rc != 0) continue;
      std::vector<std::pair<std::string, int32_t>> keys;
      for (const keyed::IndexElement *e : elements())
        keys.emplace_back(std::string(reinterpret_cast<const char *>(e->key), 4), e->position);
      std::sort(keys.begin(), keys.end());
      for (const auto &[key, position] : keys) out += " " + key + "@" + std::to_string(position);
      close_keyed(&file_);
    }
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(taken > 0, c.taken);
  }
}

// A file that is not a keyed file (here JSON) is refused and left alone,
// so a put has no handle to write through.
TEST_F(KeyedDamageTest, ForeignFileIsNotTouched) {
  const std::string json = "{\n  \"name\": \"pipes\",\n  \"size\": 4\n}\n";
  write_file(path_, json);
  EXPECT_RC(PCS_KEYED_DAMAGED, open_keyed(path_, key_, &file_));
  EXPECT_RC(PCS_KEYED_DAMAGED, put({kA}));
  EXPECT_EQ(read_file(path_), json);
}

}  // namespace
}  // namespace pcs::test
