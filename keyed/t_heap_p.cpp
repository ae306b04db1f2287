// The 2-3 tree: printing, and the element callbacks of the two element
// kinds (compare, free, print).
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "keyed/tree.h"

namespace pcs::keyed {
namespace {

int compare_keys(const unsigned char *a, const unsigned char *b, int key_length) {
  if (key_length < 1) return 0;
  int c = std::memcmp(a, b, static_cast<size_t>(key_length));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void print_key(const unsigned char *key, int key_length) {
  std::fputs("(", stdout);
  for (int i = 0; i < key_length; ++i) std::printf("%.1s", reinterpret_cast<const char *>(key + i));
}

void indent(int depth) {
  for (int i = 1; i < depth; ++i) std::fputs("   ", stdout);
}

}  // namespace

int comp_ind(const void *a, const void *b, int key_length) {
  return compare_keys(static_cast<const IndexElement *>(a)->key,
                      static_cast<const IndexElement *>(b)->key, key_length);
}

int comp_str(const void *a, const void *b, int key_length) {
  return compare_keys(static_cast<const TableElement *>(a)->key,
                      static_cast<const TableElement *>(b)->key, key_length);
}

void fre_ind(void *element) {
  auto *e = static_cast<IndexElement *>(element);
  gifree(e->key);
  gifree(e);
}

void fre_str(void *element) {
  auto *e = static_cast<TableElement *>(element);
  gifree(e->key);
  gifree(e->positions);
  gifree(e);
}

void pt_index(const void *element, int key_length) {
  auto *e = static_cast<const IndexElement *>(element);
  print_key(e->key, key_length);
  std::printf("), %d\n", static_cast<int>(e->position));
}

void pt_str(const void *element, int key_length) {
  print_key(static_cast<const TableElement *>(element)->key, key_length);
  std::fputs(")", stdout);
}

void tree_pt(Heap *heap, const TreeNode *node, int depth) {
  if (!node) return;
  tree_pt(heap, node->leftChild, depth + 1);
  indent(depth);
  std::fputs("Left element = ", stdout);
  heap->print_element(node->leftElement, heap->key_length);
  if (node->rightElement) {
    indent(depth);
    std::fputs("Right element = ", stdout);
    heap->print_element(node->rightElement, heap->key_length);
  }
  tree_pt(heap, node->middleChild, depth + 1);
  tree_pt(heap, node->rightChild, depth + 1);
}

void t_heap_p(Heap *heap) {
  if (!heap->state->root) {
    std::fputs("The heap is empty.\n", stdout);
    return;
  }
  tree_pt(heap, heap->state->root, 1);
}

}  // namespace pcs::keyed
