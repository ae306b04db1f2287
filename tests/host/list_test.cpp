// Ordered host lists and pointer arrays.
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

// Elements are 8-byte name fields compared as the library's comparators do.
int compare8(const void *first, const void *second) {
  return std::strncmp(static_cast<const char *>(first), static_cast<const char *>(second), 8);
}

std::vector<std::string> names_of(void *list) {
  std::vector<std::string> names;
  for (void *node = list; node; node = pplstnxt(node)) {
    names.emplace_back(static_cast<const char *>(pplstgtd(node)), 8);
  }
  return names;
}

class ListTest : public HostTest {
 protected:
  void TearDown() override {
    pplstfre(list_);
    HostTest::TearDown();
  }
  void insert(const std::string &name) {
    void *head = pplstins(list_, const_cast<char *>(name.data()), compare8);
    ASSERT_NE(head, nullptr);
    list_ = head;
  }
  void *list_ = nullptr;
};

// Equal elements go after the existing ones; without a comparator the
// element is appended. Finding calls the comparator with the element first;
// the traversal visitor may free the elements.
TEST_F(ListTest, OrderFindAndTraverse) {
  std::string first = "SAME    ", second = "SAME    ", low = "LOW     ", last = "A       ";
  for (std::string *name : {&first, &low, &second}) insert(*name);
  list_ = pplstins(list_, last.data(), nullptr);
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{low, first, second, last}));
  EXPECT_EQ(pplstgtd(pplstnxt(pplstnxt(list_))), second.data());
  EXPECT_EQ(pplstfnd(nullptr, "VALVE   ", compare8), nullptr);
  std::vector<const void *> seen;
  auto probe = +[](const void *element, const void *key) {
    static_cast<std::vector<const void *> *>(const_cast<void *>(key))->push_back(element);
    return 1;
  };
  EXPECT_EQ(pplstfnd(list_, &seen, probe), nullptr);
  EXPECT_EQ(seen, (std::vector<const void *>{low.data(), first.data(), second.data(), last.data()}));

  void *owned = nullptr;
  for (const char *name : {"C       ", "A       ", "B       "}) {
    char *element = static_cast<char *>(gimaloc(8));
    std::memcpy(element, name, 8);
    owned = pplstins(owned, element, compare8);
  }
  static std::string visited;
  pplsttrs(owned, +[](void *element) {
    visited.append(static_cast<char *>(element), 1);
    gifree(element);
  });
  pplstfre(owned);
  EXPECT_EQ(visited, "ABC");
  pplsttrs(nullptr, +[](void *) { ADD_FAILURE(); });
}

int compare_int(const void *first, const void *second) {
  int a = *static_cast<const int *>(first), b = *static_cast<const int *>(second);
  return (a > b) - (a < b);
}

std::vector<const void *> elements_of(void *list) {
  std::vector<const void *> elements;
  for (void *node = list; node; node = pplstnxt(node)) elements.push_back(pplstgtd(node));
  return elements;
}

TEST_F(ListTest, LongListAgreesWithMultimapThroughInsertsFindsAndDeletes) {
  std::vector<int> keys(4000);
  std::multimap<int, const void *> expected;
  auto expected_elements = [&] {
    std::vector<const void *> elements;
    for (auto &[key, element] : expected) elements.push_back(element);
    return elements;
  };
  std::mt19937 random(7);
  for (size_t i = 0; i < keys.size(); ++i) {
    int key = static_cast<int>(random() % 300), op = static_cast<int>(random() % 10);
    keys[i] = key;
    if (op < 6) {
      void *head = pplstins(list_, &keys[i], compare_int);
      ASSERT_NE(head, nullptr);
      list_ = head;
      expected.emplace(key, &keys[i]);
    }
    auto first = expected.lower_bound(key);
    bool present = first != expected.end() && first->first == key;
    void *node = pplstfnd(list_, &key, compare_int);
    ASSERT_EQ(node ? pplstgtd(node) : nullptr, present ? first->second : nullptr);
    if (op == 9 && present) {
      list_ = pplstdel(list_, node);
      expected.erase(first);
    } else if (op == 8 && list_) {
      list_ = pplstdel(list_, list_);
      expected.erase(expected.begin());
    }
    if (i % 250 == 0) { ASSERT_EQ(elements_of(list_), expected_elements()); }
  }
  ASSERT_EQ(elements_of(list_), expected_elements());
  EXPECT_EQ(pcs::host::memory().live_blocks, static_cast<long>(expected.size()) + 1);

  void *other = pplstins(nullptr, &keys[0], compare_int);
  EXPECT_EQ(pplstdel(list_, other), list_);
  EXPECT_EQ(pplstdel(other, list_), other);
  EXPECT_EQ(pplstdel(list_, nullptr), list_);
  pplstfre(other);
  while (list_) list_ = pplstdel(list_, list_);
  EXPECT_EQ(pcs::host::memory().live_blocks, 0);
  EXPECT_EQ(pplstdel(nullptr, nullptr), nullptr);
  EXPECT_EQ(pplstgtd(nullptr), nullptr);
  EXPECT_EQ(pplstnxt(nullptr), nullptr);
}

// A list searched far more often than it changes is searched through an
// ordered copy of its elements: the answers stay those of the multimap
// before and after every change, also when the copy cannot be made, and the
// copy lives in the index block (no block of its own).
TEST_F(ListTest, RepeatedFindsAgreeWithMultimapAcrossChanges) {
  struct Phase {
    int inserts, deletes;
    bool fail_copy;
  };
  const Phase phases[] = {{8, 0, false}, {200, 3, true}, {1, 0, false}, {0, 50, false},
                          {600, 0, true}, {0, 745, false}, {30, 0, false}};
  std::vector<int> keys(900);
  std::multimap<int, const void *> expected;
  size_t used = 0;
  std::mt19937 random(11);
  for (const Phase &phase : phases) {
    for (int i = 0; i < phase.inserts; ++i, ++used) {
      keys[used] = static_cast<int>(random() % 400);
      list_ = pplstins(list_, &keys[used], compare_int);
      expected.emplace(keys[used], &keys[used]);
    }
    for (int i = 0; i < phase.deletes; ++i) {
      list_ = pplstdel(list_, list_);
      expected.erase(expected.begin());
    }
    if (phase.fail_copy) pcs::host::fail_allocation(1);
    for (int round = 0; round < 3; ++round)
      for (int key = -1; key <= 400; ++key) {
        auto first = expected.lower_bound(key);
        const void *want = first != expected.end() && first->first == key ? first->second : nullptr;
        void *node = pplstfnd(list_, &key, compare_int);
        ASSERT_EQ(node ? pplstgtd(node) : nullptr, want) << key;
      }
    pcs::host::clear_allocation_failure();
    std::vector<const void *> in_order;
    for (auto &[key, element] : expected) in_order.push_back(element);
    ASSERT_EQ(elements_of(list_), in_order);
    EXPECT_EQ(pcs::host::memory().live_blocks, static_cast<long>(expected.size()) + 1);
    // Halving: at most log2 n + 1 comparisons a find.
    static int calls;
    calls = 0;
    const int key = 7;
    pplstfnd(list_, &key, +[](const void *a, const void *b) {
      ++calls;
      return compare_int(a, b);
    });
    EXPECT_LE(calls, static_cast<int>(std::log2(expected.size())) + 2);
  }
}

TEST_F(ListTest, FailedInsertAtAnyLengthChangesNothing) {
  std::vector<int> keys(41);
  int second_failed = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    keys[i] = static_cast<int>(i * 7 % 40);  // 40 distinct keys, then 0 again
    std::vector<const void *> before = elements_of(list_);
    long blocks = pcs::host::memory().live_blocks;
    for (long nth : {1, 2}) {
      pcs::host::fail_allocation(nth);
      void *head = pplstins(list_, &keys[i], compare_int);
      pcs::host::clear_allocation_failure();
      if (head) {
        list_ = head;
        break;
      }
      second_failed += nth == 2;  // the insert that also allocates the index
      EXPECT_EQ(elements_of(list_), before);
      EXPECT_EQ(pcs::host::memory().live_blocks, blocks);
    }
    if (elements_of(list_).size() == i) list_ = pplstins(list_, &keys[i], compare_int);
    ASSERT_EQ(elements_of(list_).size(), i + 1);
  }
  EXPECT_EQ(second_failed, 1);
  EXPECT_EQ(pplstgtd(pplstnxt(pplstfnd(list_, &keys[40], compare_int))), &keys[40]);
}

using ArrayTest = HostTest;

TEST_F(ArrayTest, StoresAndReadsSlotsFromZero) {
  void *array = pparynew(3);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(pparysiz(array), 3);
  int values[3] = {};
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(pparyget(array, slot), nullptr);
  for (int slot = 0; slot < 3; ++slot) pparystr(array, slot, &values[slot]);
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(pparyget(array, slot), &values[slot]);
  pparystr(array, 3, &values[0]);
  pparystr(array, -1, &values[0]);
  EXPECT_EQ(pparyget(array, 3), nullptr);
  EXPECT_EQ(pparyget(array, -1), nullptr);
  EXPECT_EQ(pcs::host::memory().live_blocks, 1);
  pparyfre(array);

  void *empty = pparynew(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(pparysiz(empty), 0);
  EXPECT_EQ(pparyget(empty, 0), nullptr);
  pparyfre(empty);
  EXPECT_EQ(pparynew(-1), nullptr);
  EXPECT_EQ(pparysiz(nullptr), 0);
  EXPECT_EQ(pparyget(nullptr, 0), nullptr);
  pparyfre(nullptr);
  pcs::host::fail_allocation(1);
  EXPECT_EQ(pparynew(4), nullptr);
}

}  // namespace
