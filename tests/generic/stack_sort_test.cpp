// Stack sort and key comparison: cgcmpsrt's blank rule, cgsort against a
// plain model of its partition order and against std::sort, deep inputs,
// and failures of memory and of the stack service.
#include <algorithm>
#include <random>

#include "tests/generic/generic_fixture.h"

namespace pcs::test {
namespace {

using Elements = std::vector<std::string>;

Elements take(int stack) {
  Elements out = host::model::stack_entries(stack);
  int rc = 0;
  gusend(&stack, &rc);
  return out;
}

int compare(const std::string &a, const std::string &b) {
  const int n = static_cast<int>(a.size());
  return cgcmpsrt(a.data(), b.data(), &n);
}

// The sort as a plain recursion over vectors: pop everything into greater,
// equal and less by the element at position count / 2, then put back the
// sorted greater, the equal and the sorted less, each from its position 1.
void model_sort(Elements &stack) {
  if (stack.size() <= 1) return;
  const std::string pivot = stack[stack.size() / 2 - 1];
  Elements parts[3];
  while (!stack.empty()) {
    const int order = compare(stack.back(), pivot);
    parts[order > 0 ? 0 : order == 0 ? 1 : 2].push_back(stack.back());
    stack.pop_back();
  }
  model_sort(parts[0]);
  model_sort(parts[2]);
  for (Elements &part : parts) stack.insert(stack.end(), part.begin(), part.end());
}

// A caller's own comparison: the sort calls it instead of its inlined one.
int called_compare(const void *a, const void *b, const int *length) {
  return cgcmpsrt(a, b, length);
}

// With `fail_first`, the sort's first allocation (its work buffer) fails.
Elements sorted_by_cgsort(const Elements &elements, bool fail_first = false,
                          CgCompare compare = cgcmpsrt) {
  const int stack = make_stack(elements, static_cast<int>(elements[0].size()));
  if (fail_first) host::fail_allocation(1);
  int rc = -1;
  cgsort(&stack, compare, &rc);
  host::clear_allocation_failure();
  EXPECT_RC(0, rc);
  return take(stack);
}

Elements random_elements(std::mt19937 &random, size_t count, int size, const std::string &alphabet) {
  Elements out(count, std::string(static_cast<size_t>(size), ' '));
  for (std::string &e : out)
    for (char &c : e) c = alphabet[random() % alphabet.size()];
  return out;
}

class StackSort : public HostTest {};

TEST_F(StackSort, CompareWithBlanks) {
  struct Case {
    const char *a, *b;
    int n, expected;
  } cases[] = {{"ABC", "ABC", 3, 0}, {"ABC", "ABD", 3, -1}, {"ABD", "ABC", 3, 1},
               {"A C", "AZC", 3, 0}, {"AZC", "A C", 3, 0}, {"A C", "AZD", 3, -1},
               {"ABC", "ABD", 2, 0}, {"ABC", "XYZ", 0, 0}, {"ABC", "XYZ", -4, 0},
               {"\xe9", "z", 1, 1}};
  for (const Case &c : cases) EXPECT_EQ(cgcmpsrt(c.a, c.b, &c.n), c.expected) << c.a << " " << c.b;
  // Longer keys are compared eight bytes at a time: against the rule byte
  // by byte, with blanks, zeros and high bytes anywhere in a word.
  auto by_bytes = [](const std::string &a, const std::string &b) {
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != ' ' && b[i] != ' ' && a[i] != b[i])
        return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
    return 0;
  };
  std::mt19937 random(11);
  const std::string alphabet("AB \xe9\x00\x80\x7f", 7);
  for (int round = 0; round < 20000; ++round) {
    const int size = static_cast<int>(random() % 20);
    std::string a = random_elements(random, 1, size, alphabet)[0], b = a;
    for (int k = static_cast<int>(random() % 4); k > 0 && size > 0; --k)
      b[random() % static_cast<size_t>(size)] = alphabet[random() % alphabet.size()];
    ASSERT_EQ(compare(a, b), by_bytes(a, b)) << testing::PrintToString(a) << testing::PrintToString(b);
  }
}

TEST_F(StackSort, FollowsThePartitionOrderAndStdSort) {
  std::mt19937 random(7);
  for (size_t count : {1u, 2u, 3u, 10u, 57u, 400u, 150000u}) {
    // Blanks make elements equal to several others: the order among them
    // shows the partition order. The largest count is partitioned by moving
    // elements before its ranges fit the cache.
    Elements elements = random_elements(random, count, 6, "AB C");
    Elements expected = elements;
    model_sort(expected);
    EXPECT_EQ(sorted_by_cgsort(elements), expected) << count;
    EXPECT_EQ(sorted_by_cgsort(elements, false, called_compare), expected) << count;
    // Without its work buffer the sort partitions host stacks.
    EXPECT_EQ(sorted_by_cgsort(elements, true), expected) << count;
    // Without blanks the order is std::sort's, descending.
    elements = random_elements(random, count, 44, "ABCDEFGHIJ");
    expected = elements;
    std::sort(expected.begin(), expected.end(), std::greater<>());
    EXPECT_EQ(sorted_by_cgsort(elements), expected) << count;
  }
}

// The library's comparison sorts eight bytes of each element from the first
// position where the elements differ and compares the rest only on ties:
// leading bytes common to all, blanks and high bytes within those eight,
// elements shorter than eight bytes past them, and all equal elements.
TEST_F(StackSort, KeyedSortKeepsThePartitionOrder) {
  struct Case {
    size_t count;
    const char *common;  // leading bytes of every element
    int tail;            // random bytes after them
    std::string alphabet;
  } cases[] = {{5000, "", 20, "AB C"},          {5000, "PART-000", 12, "AB "},
               {3000, "XYZW", 8, "A B"},        {3000, "  Q", 3, "AB"},
               {200, "SAME", 12, "A"},          {2000, "", 9, std::string("A \xe9\x00", 4)},
               {60000, "K", 23, "AB C\xe9"}};
  std::mt19937 random(5);
  for (const Case &c : cases) {
    Elements elements = random_elements(random, c.count, c.tail, c.alphabet);
    for (std::string &e : elements) e.insert(0, c.common);
    Elements expected = elements;
    model_sort(expected);
    EXPECT_EQ(sorted_by_cgsort(elements), expected) << c.common << " " << c.tail;
  }
}

// Equal, ascending and descending runs of a million 8-byte elements: the
// sort's depth stays small and the result descends.
TEST_F(StackSort, DeepInputsSortWithoutCrash) {
  const int count = 1000000, size = 8;
  for (int kind = 0; kind < 3; ++kind) {
    int stack = 0, rc = 0, pushed = 0;
    gusini(&size, &stack, &rc);
    char text[16];
    for (int i = 0; i < count; ++i) {
      std::snprintf(text, sizeof text, "%08d", kind == 0 ? 7 : kind == 1 ? i : count - i);
      guspus(&stack, text, &pushed, &rc);
    }
    cgsort(&stack, cgcmpsrt, &rc);
    EXPECT_RC(0, rc) << kind;
    const Elements sorted = take(stack);
    ASSERT_EQ(sorted.size(), static_cast<size_t>(count));
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), std::greater<>())) << kind;
    EXPECT_EQ(sorted.front(), kind == 0 ? "00000007" : kind == 1 ? "00999999" : "01000000");
  }
}

TEST_F(StackSort, FailuresEndEveryStack) {
  std::mt19937 random(3);
  const Elements elements = random_elements(random, 60, 4, "ABCDEF");
  const int bytes = 4 * static_cast<int>(elements.size());
  sweep_allocations([&](long) {
    const int stack = make_stack(elements, 4);
    int rc = -1, size = 0, count = 0;
    gusinf(&stack, &size, &count, &rc);
    if (count * size != bytes) return take(stack), void();  // the stack itself failed

    cgsort(&stack, cgcmpsrt, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY) << rc;
    take(stack);
  });
  for (long nth = 1;; ++nth) {
    const int stack = make_stack(elements, 4);
    host::fail_stack_call(nth, PCS_GUS_BAD_INDEX);
    int rc = -1;
    cgsort(&stack, cgcmpsrt, &rc);
    host::fail_stack_call(0, 0);
    const bool failed = host::stack_calls_injected() > 0;
    EXPECT_RC(failed ? PCS_GUS_BAD_INDEX : 0, rc);
    if (!failed) EXPECT_EQ(take(stack), sorted_by_cgsort(elements));
    host::reset();  // ends the stack and any the failed call kept open
    if (!failed) break;
  }
  int rc = -1, bad = 12345;
  EXPECT_RC(PCS_GUS_BAD_HANDLE, (cgsort(&bad, cgcmpsrt, &rc), rc));
}

}  // namespace
}  // namespace pcs::test
