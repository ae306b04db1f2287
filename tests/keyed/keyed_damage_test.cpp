// Damaged keyed files: truncation at every byte, hostile words at every
// offset, interrupted writes, dead records without a newline, replacement
// links that point backwards or outside, and failing reads.
#include <climits>

#include "common/fileio.h"
#include "keyed/keyed.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
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
  // Reads every indexed record back, and the record at every byte position
  // of the file (or at each of `starts`).
  void walk_all(const std::string &bytes, std::vector<int> starts = {}) {
    std::vector<const IndexElement *> elements;
    auto collect = [&](auto &self, const TreeNode *n) -> void {
      if (!n) return;
      for (const void *e : {n->leftElement, n->rightElement})
        if (e) elements.push_back(static_cast<const IndexElement *>(e));
      for (const TreeNode *c : {n->leftChild, n->middleChild, n->rightChild}) self(self, c);
    };
    collect(collect, file_->Index->state->root);
    for (const IndexElement *e : elements) {
      KeyedGroup *list = nullptr;
      int rc = -1;
      cspget(reinterpret_cast<const char *>(e->key), &file_, &list, &rc);
      EXPECT_RC(0, rc);
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

// A cut inside a record costs that record; the next write goes after it and
// both survive a reopen. A cut that leaves r1's replacement outside the file
// is damage.
TEST_F(KeyedDamageTest, TruncatedAtEveryByte) {
  int r1_end = static_cast<int>((r0_ + r1_).size());
  for (int n = 0; n <= static_cast<int>(good_.size()); ++n) {
    SCOPED_TRACE(n);
    write_file(path_, good_.substr(0, n));
    int rc = open_keyed(path_, key_, &file_);
    ASSERT_RC(n >= r1_end && n <= r3_at_ ? 5 : 0, rc);
    KeyedFile *table = nullptr;
    EXPECT_RC(rc, open_table(path_, key_, &table));
    if (table) close_keyed(&table);
    if (rc != 0) continue;
    bool has_a = n >= static_cast<int>(r0_.size());
    bool has_b = n == static_cast<int>(good_.size());
    EXPECT_RC(has_a ? 0 : 4, test("0100"));
    EXPECT_RC(has_b ? 0 : 4, test("0200"));
    ASSERT_RC(0, put({kC}));
    ASSERT_RC(0, close_keyed(&file_));
    ASSERT_RC(0, open_keyed(path_, key_, &file_));
    EXPECT_RC(has_a ? 0 : 4, test("0100"));
    EXPECT_RC(has_b ? 0 : 4, test("0200"));
    EXPECT_RC(0, test("0300"));
    walk_all(read_file(path_));
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
      if (!file_) continue;
      walk_all(bytes,
               {0, static_cast<int>(r0_.size()), r3_at_ - static_cast<int>(r2_.size()), r3_at_});
      close_keyed(&file_);
    }
  }
}

TEST_F(KeyedDamageTest, LinksLengthsAndDeadRecords) {
  int r1_at = static_cast<int>(r0_.size());
  struct Case {
    int at, value, rc;
  };
  for (Case c :
       {Case{r1_at, 0, 5}, Case{r1_at, -5, 5}, Case{r1_at + 4, r1_at, 5}, Case{r1_at + 4, 1, 5},
        Case{r1_at + 4, 100000, 5}, Case{r1_at + 4, 0, 2}, Case{8, 4, 5}, Case{r1_at + 4, -1, 0}}) {
    std::string bytes = good_;
    bytes.replace(static_cast<size_t>(c.at), 4, be32(c.value));
    write_file(path_, bytes);
    EXPECT_RC(c.rc, open_keyed(path_, key_, &file_)) << c.at << " " << c.value;
    if (file_) close_keyed(&file_);
  }
  // A dead record whose write stopped before the newline is stepped over.
  std::string partial = be32(40) + be32(-1) + std::string(20, 'x');
  write_file(path_, r0_ + partial + std::string(40 - partial.size(), '\0') + record_bytes({kB}));
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  EXPECT_RC(0, test("0200"));
  close_keyed(&file_);
  write_file(path_, good_);
  io::test_fail_read(2);
  EXPECT_RC(5, open_keyed(path_, key_, &file_));
}

// A write that falls short after `keep` bytes costs that record only.
TEST_F(KeyedDamageTest, InterruptedWrites) {
  int length = static_cast<int>(record_bytes({kB}).size());
  for (int keep : {0, 1, 3, 4, 7, 8, 12, 20, length - 1}) {
    SCOPED_TRACE(keep);
    ASSERT_RC(0, open_keyed(path_, key_, &file_, 0));
    ASSERT_RC(0, put({kA}));
    io::test_fail_write(1, static_cast<size_t>(keep));
    EXPECT_RC(4, put({kB}));
    io::test_reset();
    EXPECT_RC(4, test("0200"));
    ASSERT_RC(0, close_keyed(&file_));
    ASSERT_RC(0, open_keyed(path_, key_, &file_));
    EXPECT_RC(0, test("0100"));
    EXPECT_RC(4, test("0200"));
    ASSERT_RC(0, put({kB}));
    ASSERT_RC(0, close_keyed(&file_));
    ASSERT_RC(0, open_keyed(path_, key_, &file_));
    EXPECT_RC(0, test("0100"));
    EXPECT_RC(0, test("0200"));
    close_keyed(&file_);
  }
}

}  // namespace
}  // namespace pcs::test
