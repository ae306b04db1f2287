// The 2-3 tree index against std::map, its invariants (also of trees built
// at once), its ordered search copy, edge cases and print format.
#include "keyed/tree.h"

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "common/memory.h"
#include "tests/support/support.h"

namespace pcs {
using namespace pcs::keyed;
namespace {

class TreeTest : public HostTest {
 protected:
  void TearDown() override {
    keyed::heap_release(heap_);
    HostTest::TearDown();
  }
  void make(int key_length, ElementCompare compare = comp_ind) {
    heap_ = crtheap_with(compare, fre_ind, pt_index, key_length);
  }

  keyed::IndexElement *element(const std::string &key, int position = 0) {
    auto *e = host_alloc<keyed::IndexElement>();
    e->key = static_cast<unsigned char *>(gimaloc(key.size()));
    std::memcpy(e->key, key.data(), key.size());
    e->position = position;
    return e;
  }
  // Inserts a new element; frees it when rejected. Returns the error flag.
  int insert(const std::string &key, int position = 0) {
    int error = -1;
    keyed::IndexElement *e = element(key, position);
    void *result = heap_->insert(heap_, e, &error);
    if (error == keyed::kTreeDuplicate) EXPECT_EQ(result, e);
    if (error != keyed::kTreeOk) fre_ind(e);
    return error;
  }
  keyed::IndexElement *call(keyed::TreeSearch op, const std::string &key) {
    keyed::IndexElement probe{reinterpret_cast<unsigned char *>(const_cast<char *>(key.data())), 0};
    int error = -1;
    auto *found = static_cast<keyed::IndexElement *>(op(heap_, &probe, &error));
    EXPECT_EQ(error, keyed::kTreeOk);
    return found;
  }
  std::string key_of(const void *e) {
    return std::string(reinterpret_cast<char *>(static_cast<const keyed::IndexElement *>(e)->key),
                       static_cast<size_t>(heap_->key_length));
  }

  // Checks a subtree: elements in order, one or two per node, children
  // matching the element count, leaves at one depth. Returns the number of
  // nodes (-1 on a broken invariant); appends the elements to `keys`.
  int check(const keyed::TreeNode *n, int depth, int *leaf_depth, std::vector<std::string> *keys) {
    int k = heap_->key_length;
    if (!n->leftElement || (n->rightElement && keyed::comp_ind(n->leftElement, n->rightElement, k) >= 0))
      return -1;
    if (!n->leftChild) {
      if (n->middleChild || n->rightChild) return -1;
      if (*leaf_depth < 0) *leaf_depth = depth;
      if (depth != *leaf_depth) return -1;
      keys->push_back(key_of(n->leftElement));
      if (n->rightElement) keys->push_back(key_of(n->rightElement));
      return 1;
    }
    if (!n->middleChild || (n->rightChild != nullptr) != (n->rightElement != nullptr)) return -1;
    int left = check(n->leftChild, depth + 1, leaf_depth, keys);
    keys->push_back(key_of(n->leftElement));
    int middle = check(n->middleChild, depth + 1, leaf_depth, keys);
    int right = 0;
    if (n->rightElement) {
      keys->push_back(key_of(n->rightElement));
      right = check(n->rightChild, depth + 1, leaf_depth, keys);
    }
    return left < 0 || middle < 0 || right < 0 ? -1 : 1 + left + middle + right;
  }
  void check_against(const std::map<std::string, int> &model) {
    std::vector<std::string> keys;
    int leaf_depth = -1;
    const keyed::TreeState *s = heap_->state;
    int nodes = s->root ? check(s->root, 1, &leaf_depth, &keys) : 0;
    ASSERT_NE(nodes, -1) << "a 2-3 tree invariant is broken";
    ASSERT_EQ(nodes, s->count);
    ASSERT_EQ(s->root ? leaf_depth : 0, s->height);
    ASSERT_EQ(keys.size(), model.size());
    auto it = model.begin();
    for (const std::string &k : keys)
      if (k != (it++)->first) FAIL() << "elements out of order at " << k;
  }

  Heap *heap_ = nullptr;
};

// A caller's own comparison: the tree calls it instead of comparing keys.
int reversed_twice(const void *a, const void *b, int key_length) {
  return -comp_ind(b, a, key_length);
}

// Random inserts, rejected duplicates, finds, deletes and delete-minimum
// checked against std::map. Small key spaces churn a small tree checked
// after every step; a large one grows a big tree checked every 500 steps.
TEST_F(TreeTest, AgreesWithStdMap) {
  struct Run {
    unsigned seed;
    int keys, steps, every;
    ElementCompare compare;
  };
  for (Run run : {Run{1, 16, 40000, 1, comp_ind}, Run{2, 200, 40000, 1, comp_ind},
                  Run{3, 30000, 200000, 500, comp_ind}, Run{4, 200, 20000, 1, reversed_twice}}) {
    SCOPED_TRACE(run.seed);
    make(6, run.compare);
    std::mt19937 rng(run.seed);
    std::map<std::string, int> model;
    for (int step = 0; step < run.steps; ++step) {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%06u", static_cast<unsigned>(rng() % run.keys));
      std::string key(buffer, 6);
      unsigned op = rng() % 10;
      if (op < 5) {
        bool fresh = model.emplace(key, step).second;
        ASSERT_EQ(insert(key, step), fresh ? keyed::kTreeOk : kTreeDuplicate);
      } else if (op < 7) {
        IndexElement *found = call(heap_->search, key);
        ASSERT_EQ(found != nullptr, model.count(key) == 1);
        if (found) ASSERT_EQ(found->position, model[key]);
      } else if (op < 9) {
        void *gone = call(heap_->delete_element, key);
        ASSERT_EQ(gone != nullptr, model.erase(key) == 1);
        if (gone) fre_ind(gone);
      } else {
        int error = -1;
        void *gone = heap_->delete_minimum(heap_, &error);
        ASSERT_EQ(gone != nullptr, !model.empty());
        if (gone) {
          ASSERT_EQ(key_of(gone), model.begin()->first);
          model.erase(model.begin());
          fre_ind(gone);
        }
      }
      if (step % run.every == 0) ASSERT_NO_FATAL_FAILURE(check_against(model));
    }
    check_against(model);
    while (!model.empty()) {
      int error = -1;
      fre_ind(heap_->delete_minimum(heap_, &error));
      model.erase(model.begin());
    }
    EXPECT_EQ(heap_->state->count, 0);
    EXPECT_EQ(heap_->state->root, nullptr);
    heap_release(heap_);
    heap_ = nullptr;
  }
}

// Trees built at once from n sorted elements (elements and nodes in the
// heap's arena) keep every invariant at every size, and stay sound under the
// inserts and deletes that follow, arena and single blocks mixed; nothing
// leaks at the release.
TEST_F(TreeTest, BuiltAtOnce) {
  for (int n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 26, 27, 28, 80, 81, 500, 6560, 6561}) {
    SCOPED_TRACE(n);
    make(6);
    const auto count = static_cast<size_t>(n);
    heap_->arena_size = sizeof(IndexElement) * count + sizeof(TreeNode) * t_bld_nodes(n);
    heap_->arena = static_cast<unsigned char *>(gimaloc(heap_->arena_size + 1));
    heap_->arena_keys = static_cast<unsigned char *>(gimaloc(6 * count + 1));
    auto *elements = reinterpret_cast<IndexElement *>(heap_->arena);
    std::map<std::string, int> model;
    for (int i = 0; i < n; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%06d", 2 * i);
      elements[i] = IndexElement{heap_->arena_keys + 6 * i, i};
      std::memcpy(elements[i].key, key, 6);
      model[key] = i;
    }
    t_build(heap_, elements, sizeof(IndexElement), n, reinterpret_cast<TreeNode *>(elements + n));
    ASSERT_NO_FATAL_FAILURE(check_against(model));
    for (int i = 0; i < 64 + n / 8 + 2 * n; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%06d", i % (2 * n + 2));
      IndexElement *found = call(heap_->search, key);
      ASSERT_EQ(found ? found->position : -1, i % 2 == 0 && i / 2 % (n + 1) < n ? i % (2 * n + 2) / 2 : -1) << i;
    }
    EXPECT_EQ(heap_->search_copy != nullptr, n > 0);
    EXPECT_EQ(heap_->state->count, t_bld_nodes(n));
    int lowest = n > 0 ? 1 : 0;  // the lowest height that holds n elements: 3^h - 1 >= n
    for (int holds = 2; holds < n; holds = 3 * holds + 2) ++lowest;
    EXPECT_EQ(heap_->state->height, lowest);
    std::mt19937 rng(static_cast<unsigned>(n));
    for (int step = 0; step < 2 * n + 20; ++step) {
      char key[8];
      std::snprintf(key, sizeof key, "%06u", static_cast<unsigned>(rng() % (2 * count + 2)));
      int error = -1;
      void *gone = nullptr;
      if (rng() % 3 == 0) {
        ASSERT_EQ(insert(key, step), model.emplace(key, step).second ? kTreeOk : kTreeDuplicate);
      } else if (rng() % 2 == 0) {
        gone = call(heap_->delete_element, key);
        ASSERT_EQ(gone != nullptr, model.erase(key) == 1);
      } else if ((gone = heap_->delete_minimum(heap_, &error)) != nullptr) {
        model.erase(model.begin());
      }
      if (gone) release_element(heap_, gone);
      if (n < 100 || step % 500 == 0) ASSERT_NO_FATAL_FAILURE(check_against(model));
    }
    ASSERT_NO_FATAL_FAILURE(check_against(model));
    heap_release(heap_);
    heap_ = nullptr;
  }
}

// Searches answered from the ordered copy agree with std::map for keys of
// every kind: short ones (prefix past their end), long ones sharing most of
// their bytes, bytes 0x00 and 0xFF, keys sorting before and after every
// element or not starting with the shared bytes. Every change drops the copy,
// the searches that follow make it again; trees built at once get one too.
TEST_F(TreeTest, SearchCopyAgreesWithStdMap) {
  struct Run {
    int key_length;
    std::string alphabet;
    size_t shared;  // leading bytes fixed to 'S'
    int keys;
  };
  const std::string binary("\x00\x01\x7f\x80\xfe\xff", 6);
  for (const Run &run : {Run{1, binary, 0, 6}, Run{3, "ab", 0, 8}, Run{6, "0123456789", 1, 3000},
                         Run{40, binary, 30, 2000}, Run{12, binary + "AZ", 4, 5000},
                         // 8 bytes fit the prefix (0x00 bytes too); a 9th tells apart
                         // keys of one prefix.
                         Run{8, binary, 0, 3000}, Run{9, "ab", 0, 400}}) {
    SCOPED_TRACE(run.key_length);
    make(run.key_length);
    std::mt19937 rng(static_cast<unsigned>(run.key_length));
    auto random_key = [&] {
      std::string key(run.shared, 'S');
      while (key.size() < static_cast<size_t>(run.key_length)) key += run.alphabet[rng() % run.alphabet.size()];
      // One key in 16 leaves the shared bytes.
      if (run.shared > 0 && rng() % 16 == 0) key[rng() % run.shared] = static_cast<char>(rng() % 256);
      return key;
    };
    std::map<std::string, int> model;
    for (int i = 0; i < run.keys; ++i) {
      std::string key = random_key();
      ASSERT_EQ(insert(key, i), model.emplace(key, i).second ? kTreeOk : kTreeDuplicate);
    }
    for (int round = 0; round < 6; ++round) {
      for (int i = 0; i < 64 + heap_->state->count / 8 + 200; ++i) {
        const std::string key = i % 3 == 0 && !model.empty()
                                    ? std::next(model.begin(), rng() % model.size())->first
                                    : random_key();
        IndexElement *found = call(heap_->search, key);
        auto it = model.find(key);
        ASSERT_EQ(found != nullptr, it != model.end()) << i;
        if (found) ASSERT_EQ(found->position, it->second);
      }
      ASSERT_NE(heap_->search_copy, nullptr);
      const std::string key = random_key();
      if (round % 3 == 0) {
        ASSERT_EQ(insert(key, -round), model.emplace(key, -round).second ? kTreeOk : kTreeDuplicate);
      } else if (void *gone = call(heap_->delete_element, key)) {
        model.erase(key);
        fre_ind(gone);
      } else {
        int error = -1;
        fre_ind(heap_->delete_minimum(heap_, &error));
        model.erase(model.begin());
      }
      if (round % 3 != 1 || model.count(key) == 0) EXPECT_EQ(heap_->search_copy, nullptr);
    }
    heap_release(heap_);
    heap_ = nullptr;
  }
}

TEST_F(TreeTest, EdgeCases) {
  make(3);
  EXPECT_EQ(insert("abcX"), kTreeOk);
  EXPECT_EQ(insert("abcY"), kTreeDuplicate);  // equal over the key length
  EXPECT_EQ(heap_->state->count, 1);
  EXPECT_NE(call(heap_->search, "abcZ"), nullptr);
  EXPECT_EQ(comp_ind(call(heap_->search, "abc"), call(heap_->search, "abc"), 0), 0);
}

TEST_F(TreeTest, PrintFormat) {
  auto printed = [&] {
    testing::internal::CaptureStdout();
    heap_->print(heap_);
    return testing::internal::GetCapturedStdout();
  };
  make(1);
  EXPECT_EQ(printed(), "The heap is empty.\n");
  for (char c = '1'; c <= '7'; ++c) insert(std::string(1, c), c - '0');
  EXPECT_EQ(heap_->state->height, 3);
  EXPECT_EQ(heap_->state->count, 7);  // every node holds one element
  EXPECT_EQ(printed(),
            "      Left element = (1), 1\n   Left element = (2), 2\n      Left element = (3), 3\n"
            "Left element = (4), 4\n"
            "      Left element = (5), 5\n   Left element = (6), 6\n      Left element = (7), 7\n");
  heap_release(heap_);
  make(2);
  insert("ab", 1);
  insert("cd", 2);
  EXPECT_EQ(printed(), "Left element = (ab), 1\nRight element = (cd), 2\n");
  unsigned char key[] = {'x', 'y'};
  TableElement table{key, nullptr, 0};
  testing::internal::CaptureStdout();
  pt_str(&table, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(xy)");
}

}  // namespace
}  // namespace pcs
