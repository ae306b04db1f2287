// The 2-3 tree built at once from sorted elements: its nodes come from the
// heap's arena, one host block released with the heap, and the release of
// single elements and nodes that leaves arena memory alone.
#include <cstring>

#include "common/memory.h"
#include "keyed/tree.h"

namespace pcs::keyed {
namespace {

// Most elements a tree of `height` levels holds: 3^height - 1.
int64_t most_elements(int height) {
  int64_t most = 1;
  for (int i = 0; i < height; ++i) most *= 3;
  return most - 1;
}

// Levels of the lowest tree that holds n elements (n >= 1); such a tree can
// hold as few as 2^height - 1, never more than n.
int lowest_height(int n) {
  int height = 1;
  while (most_elements(height) < n) ++height;
  return height;
}

// Elements of `size` bytes each, side by side.
struct Elements {
  unsigned char *first;
  size_t size;
  void *operator[](int i) const { return first + size * static_cast<size_t>(i); }
  Elements from(int i) const { return Elements{first + size * static_cast<size_t>(i), size}; }
};

// How a node of `height` levels over n elements divides them: two children
// when they can hold the rest, else three, of nearly equal size, the larger
// first. Returns the number of children; sizes[i] is each one's elements.
int split(int n, int height, int sizes[3]) {
  const bool two = n - 1 <= 2 * most_elements(height - 1);
  const int children = two ? 2 : 3, rest = n - (children - 1);
  for (int i = 0; i < children; ++i) sizes[i] = rest / children + (i < rest % children ? 1 : 0);
  return children;
}

// Builds a subtree of `height` levels over elements[0, n) from nodes taken
// at *next; returns its root.
TreeNode *build(Elements elements, int n, int height, TreeNode *nodes, int *next) {
  TreeNode *node = &nodes[(*next)++];
  if (height == 1) {  // a leaf of one or two elements
    *node = TreeNode{elements[0], n > 1 ? elements[1] : nullptr, nullptr, nullptr, nullptr};
    return node;
  }
  int sizes[3] = {};
  const int children = split(n, height, sizes);
  TreeNode *child[3] = {};
  void *separator[2] = {};
  for (int i = 0, at = 0; i < children; ++i) {
    child[i] = build(elements.from(at), sizes[i], height - 1, nodes, next);
    at += sizes[i];
    if (i + 1 < children) separator[i] = elements[at++];
  }
  *node = TreeNode{separator[0], separator[1], child[0], child[1], child[2]};
  return node;
}

// The nodes build() takes. Siblings differ by at most one element, so a
// level holds subtrees of a few sizes only: each size is counted once per
// level and remembered.
class NodeCount {
 public:
  int64_t of(int n, int height) {
    if (height == 1) return 1;
    Level &level = levels_[height];
    for (int i = 0; i < level.used; ++i)
      if (level.seen[i].n == n) return level.seen[i].nodes;
    int sizes[3] = {};
    const int children = split(n, height, sizes);
    int64_t nodes = 1;
    for (int i = 0; i < children; ++i) nodes += of(sizes[i], height - 1);
    if (level.used < kSizes) level.seen[level.used++] = {n, nodes};
    return nodes;
  }

 private:
  static constexpr int kSizes = 8;
  struct Level {
    struct {
      int n;
      int64_t nodes;
    } seen[kSizes];
    int used = 0;
  };
  Level levels_[40];  // a tree of n < 2^31 elements has at most 31 levels
};

bool in_arena(const Heap *heap, const void *p) {
  const auto *byte = static_cast<const unsigned char *>(p);
  return heap->arena && byte >= heap->arena && byte < heap->arena + heap->arena_size;
}

}  // namespace

int t_bld_nodes(int n) {
  if (n < 1) return 0;
  NodeCount count;
  return static_cast<int>(count.of(n, lowest_height(n)));
}

void t_build(Heap *heap, void *elements, size_t size, int n, TreeNode *nodes) {
  t_search_drop(heap);
  TreeState *state = heap->state;
  state->root = nullptr;
  state->count = 0;
  state->height = 0;
  if (n < 1) return;
  state->height = lowest_height(n);
  state->root = build(Elements{static_cast<unsigned char *>(elements), size}, n, state->height,
                      nodes, &state->count);
}

void release_element(Heap *heap, void *element) {
  if (!in_arena(heap, element)) heap->free_element(element);
}

void release_node(Heap *heap, TreeNode *node) {
  if (!in_arena(heap, node)) gifree(node);
}

}  // namespace pcs::keyed
