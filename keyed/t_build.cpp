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
  void *operator[](int i) const { return first ? first + size * static_cast<size_t>(i) : nullptr; }
  Elements from(int i) const { return Elements{first ? first + size * static_cast<size_t>(i) : nullptr, size}; }
};

// Builds a subtree of `height` levels over elements[0, n) from nodes taken
// at *next (or only counts them when nodes is null); returns its root.
TreeNode *build(Elements elements, int n, int height, TreeNode *nodes, int *next) {
  TreeNode *node = nodes ? &nodes[*next] : nullptr;
  ++*next;
  if (height == 1) {  // a leaf of one or two elements
    if (node) *node = TreeNode{elements[0], n > 1 ? elements[1] : nullptr, nullptr, nullptr, nullptr};
    return node;
  }
  // Two children when they can hold the rest, else three, of nearly equal size.
  const bool two = n - 1 <= 2 * most_elements(height - 1);
  const int children = two ? 2 : 3, rest = n - (children - 1);
  TreeNode *child[3] = {};
  void *separator[2] = {};
  for (int i = 0, at = 0; i < children; ++i) {
    const int size = rest / children + (i < rest % children ? 1 : 0);
    child[i] = build(elements.from(at), size, height - 1, nodes, next);
    at += size;
    if (i + 1 < children) separator[i] = elements[at++];
  }
  if (node) *node = TreeNode{separator[0], separator[1], child[0], child[1], child[2]};
  return node;
}

bool in_arena(const Heap *heap, const void *p) {
  const auto *byte = static_cast<const unsigned char *>(p);
  return heap->arena && byte >= heap->arena && byte < heap->arena + heap->arena_size;
}

}  // namespace

int t_bld_nodes(int n) {
  int count = 0;
  if (n > 0) build(Elements{nullptr, 0}, n, lowest_height(n), nullptr, &count);
  return count;
}

void t_build(Heap *heap, void *elements, size_t size, int n, TreeNode *nodes) {
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
