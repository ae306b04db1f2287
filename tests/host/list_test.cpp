// Ordered host lists and pointer arrays.
#include <cstring>
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

TEST_F(ListTest, KeepsEightByteOrderBlankBeforeDigitAndHighBytesLast) {
  const std::string a = "PIPE1   ", b = "PIPE    ", c = "ELBOW   ", d = "PIPE\xe9   ", e = "PIPE0   ";
  for (const std::string *name : {&a, &b, &c, &d, &e}) insert(*name);
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{c, b, e, a, d}));
  EXPECT_EQ(pcs::host::memory().live_blocks, 5);
}

TEST_F(ListTest, EqualElementsGoAfterExistingOnes) {
  std::string first = "SAME    ", second = "SAME    ", third = "SAME    ", low = "LOW     ";
  insert(first);
  insert(low);
  insert(second);
  insert(third);
  std::vector<const void *> order;
  for (void *node = list_; node; node = pplstnxt(node)) order.push_back(pplstgtd(node));
  EXPECT_EQ(order, (std::vector<const void *>{low.data(), first.data(), second.data(),
                                              third.data()}));
}

TEST_F(ListTest, NullComparatorAppends) {
  std::string z = "Z       ", a = "A       ";
  list_ = pplstins(list_, z.data(), nullptr);
  list_ = pplstins(list_, a.data(), nullptr);
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{z, a}));
}

TEST_F(ListTest, FindsByKeyWithElementFirst) {
  std::string x = "GASKET  ", y = "FLANGE  ";
  insert(x);
  insert(y);
  void *node = pplstfnd(list_, "GASKET  ", compare8);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(pplstgtd(node), x.data());
  EXPECT_EQ(pplstfnd(list_, "VALVE   ", compare8), nullptr);
  EXPECT_EQ(pplstfnd(nullptr, "VALVE   ", compare8), nullptr);

  std::vector<const void *> seen;
  auto probe = +[](const void *element, const void *key) {
    static_cast<std::vector<const void *> *>(const_cast<void *>(key))->push_back(element);
    return 1;
  };
  EXPECT_EQ(pplstfnd(list_, &seen, probe), nullptr);
  EXPECT_EQ(seen, (std::vector<const void *>{y.data(), x.data()}));
}

TEST_F(ListTest, DeletesHeadMiddleAndTail) {
  std::vector<std::string> names = {"A       ", "B       ", "C       ", "D       ", "E       "};
  for (auto &name : names) insert(name);
  list_ = pplstdel(list_, pplstfnd(list_, "C       ", compare8));
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{names[0], names[1], names[3], names[4]}));
  list_ = pplstdel(list_, list_);
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{names[1], names[3], names[4]}));
  list_ = pplstdel(list_, pplstfnd(list_, "E       ", compare8));
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{names[1], names[3]}));
  EXPECT_EQ(pcs::host::memory().live_blocks, 2);

  void *other = pplstins(nullptr, names[0].data(), compare8);
  EXPECT_EQ(pplstdel(list_, other), list_);
  EXPECT_EQ(pplstdel(list_, nullptr), list_);
  pplstfre(other);

  list_ = pplstdel(list_, list_);
  list_ = pplstdel(list_, list_);
  EXPECT_EQ(list_, nullptr);
  EXPECT_EQ(pplstdel(nullptr, nullptr), nullptr);
  EXPECT_EQ(pplstgtd(nullptr), nullptr);
  EXPECT_EQ(pplstnxt(nullptr), nullptr);
}

TEST_F(ListTest, TraversesInOrderAndTheVisitorMayFreeElements) {
  for (const char *name : {"C       ", "A       ", "B       "}) {
    char *element = static_cast<char *>(gimaloc(8));
    std::memcpy(element, name, 8);
    list_ = pplstins(list_, element, compare8);
  }
  static std::string visited;
  visited.clear();
  pplsttrs(list_, +[](void *element) {
    visited.append(static_cast<char *>(element), 1);
    gifree(element);
  });
  EXPECT_EQ(visited, "ABC");
  pplsttrs(nullptr, +[](void *) { ADD_FAILURE(); });
}

TEST_F(ListTest, FailedInsertLeavesTheListUnchanged) {
  std::string a = "A       ", b = "B       ";
  insert(a);
  pcs::host::fail_allocation(1);
  EXPECT_EQ(pplstins(list_, b.data(), compare8), nullptr);
  EXPECT_EQ(names_of(list_), (std::vector<std::string>{a}));
  EXPECT_EQ(pcs::host::memory().live_blocks, 1);
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
}

TEST_F(ArrayTest, EmptyNegativeNullAndFailure) {
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
