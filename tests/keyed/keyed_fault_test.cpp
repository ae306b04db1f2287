// Allocation failures injected one by one into every keyed operation: each
// run gives the normal result or code 1, leaks nothing, and leaves the file
// and the index consistent.
#include <set>

#include "common/memory.h"
#include "keyed/keyed.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
using namespace pcs::keyed;
namespace {

const Group kA{"PIPE", {{"SIZE", 1, 4, "0100"}, {"SCH", 2, 2, "40XS"}}};
const Group kB{"PIPE", {{"SIZE", 1, 4, "0200"}}};
const Group kEnd{"END", {{"TYPE", 1, 2, "BW"}}};

class KeyedFaultTest : public KeyedTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string r0 = record_bytes({kA, kEnd}), r1 = record_bytes({kB});
    r1.replace(4, 4, be32(static_cast<int>((r0 + r1).size())));
    bytes_ = r0 + r1 + record_bytes({kB}) + record_bytes({kEnd}) + record_bytes({kA}, -1);
  }

  std::string bytes_;
};

TEST_F(KeyedFaultTest, OpenAndTableOpen) {
  write_file(path_, bytes_);
  sweep_allocations([&](long) {
    int rc = open_keyed(path_, key_, &file_);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    EXPECT_EQ(file_ != nullptr, rc == 0);
    if (file_) close_keyed(&file_);
    rc = open_table(path_, KeyDesc{{"END", "TYPE", 2}}, &file_);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    if (file_) close_keyed(&file_);
  });
}

// Puts of a new key, a replacement, reads, a delete: a failed operation
// leaves the index and the file as a reopen sees them in agreement.
TEST_F(KeyedFaultTest, PutGetDelete) {
  sweep_allocations([&](long) {
    write_file(path_, bytes_);
    if (open_keyed(path_, key_, &file_) != 0) return;
    std::set<std::string> keys{"0100", "0200", "    "};
    for (const auto &groups :
         {std::vector<Group>{{"PIPE", {{"SIZE", 1, 4, "0300"}}}}, std::vector<Group>{kB, kEnd}}) {
      KeyedGroup *list = nullptr;
      int rc = -1;
      for (const Group &g : groups)
        for (const Attr &a : g.attrs)
          cspadd(field(g.name).c_str(), field(a.name).c_str(), &a.count, &a.length, a.values.data(),
                 &list, &rc);
      if (rc == 0) cspput(&file_, &list, &rc);
      ASSERT_TRUE(rc == 0 || rc == 1) << rc;
      if (rc == 0) keys.insert(groups[0].attrs[0].values);
      cspfre(&list);
    }
    KeyedGroup *list = nullptr;
    int rc = -1;
    cspget("0100", &file_, &list, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    EXPECT_EQ(list != nullptr, rc == 0);
    cspfre(&list);
    int position = 0, length = 0;
    cspgtr(&file_->Stream, &position, &length, &list, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    cspfre(&list);
    cspdel("0100", &file_, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    if (rc == 0) keys.erase("0100");
    ASSERT_RC(0, close_keyed(&file_));
    pcs::host::clear_allocation_failure();
    ASSERT_RC(0, open_keyed(path_, key_, &file_));
    for (const char *k : {"0100", "0200", "0300", "    "})
      EXPECT_RC(keys.count(k) ? 0 : 4, test(k)) << k;
    close_keyed(&file_);
  });
}

// A plain append writes the whole record or nothing.
TEST_F(KeyedFaultTest, PlainAppend) {
  write_file(path_, bytes_);
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  KeyedGroup *list = make_list({kA, kEnd});
  const std::string record = record_bytes({kA, kEnd});
  std::string expected = bytes_;
  sweep_allocations([&](long) {
    int rc = -1;
    cspputs(&file_, &list, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1) << rc;
    if (rc == 0) expected += record;
    std::fflush(file_->Stream);
    EXPECT_EQ(read_file(path_), expected);
  });
  cspfre(&list);
}

TEST_F(KeyedFaultTest, GroupListEdits) {
  sweep_allocations([&](long) {
    KeyedGroup *list = make_list({kA}, false);
    if (!list) return;
    int rc = -1, two = 2, one = 1;
    std::string before = list_text(list);
    cspadv(field("PIPE").c_str(), field("SCH").c_str(), &one, &two, "80", &list, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1);
    if (rc == 1) EXPECT_EQ(list_text(list), before);
    cspadd(field("NEW").c_str(), field("X").c_str(), &one, &one, "x", &list, &rc);
    ASSERT_TRUE(rc == 0 || rc == 1);
    cspfre(&list);
  });
}

void keep_element(void *) {}

// A failed insert leaves the tree as it was, also in the middle of splits.
TEST_F(KeyedFaultTest, TreeInsert) {
  sweep_allocations([&](long) {
    Heap *heap = crtheap_with(comp_ind, fre_ind, pt_index, 4);
    if (!heap) return;
    std::vector<std::string> stored;
    for (int i = 0; i < 40; ++i) {
      auto *e = host_alloc<keyed::IndexElement>();
      if (e) e->key = static_cast<unsigned char *>(gimaloc(4));
      if (!e || !e->key) {
        gifree(e);
        continue;
      }
      std::string key = std::to_string(1000 + i);
      std::memcpy(e->key, key.data(), 4);
      int error = -1;
      heap->insert(heap, e, &error);
      if (error == keyed::kTreeOk)
        stored.push_back(key);
      else
        fre_ind(e);
    }
    for (const std::string &key : stored) {
      int error = -1;
      auto *e = static_cast<keyed::IndexElement *>(heap->delete_minimum(heap, &error));
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(std::string(reinterpret_cast<char *>(e->key), 4), key);
      fre_ind(e);
    }
    EXPECT_EQ(heap->state->count, 0);
    keyed::heap_release(heap);
  });
}

// Delete-minimum from a one-element tree, whose path stack does not exist
// yet: a failure to make it leaves the element in the tree.
TEST_F(KeyedFaultTest, TreeDeleteMinimumWithoutStack) {
  sweep_allocations([&](long) {
    Heap *heap = crtheap_with(comp_ind, keep_element, pt_index, 4);
    if (!heap) return;
    unsigned char key[] = {'k', 'e', 'y', '1'};
    IndexElement only{key, 7};
    int error = -1;
    heap->insert(heap, &only, &error);
    if (error == kTreeOk) {
      void *gone = heap->delete_minimum(heap, &error);
      EXPECT_EQ(gone, error == kTreeOk ? &only : nullptr);
      EXPECT_EQ(heap->state->count, error == kTreeOk ? 0 : 1);
      if (error != kTreeOk) EXPECT_EQ(error, kTreeNoMemory);
    }
    heap_release(heap);
  });
}

}  // namespace
}  // namespace pcs::test
