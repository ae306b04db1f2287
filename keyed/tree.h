// The 2-3 tree index ("heap") of keyed group files and tables: the heap
// object with its operation table and path stack, the tree nodes, the two
// element kinds and the tree operations.
#ifndef PCS_KEYED_TREE_H
#define PCS_KEYED_TREE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "include/pcs.h"

namespace pcs::keyed {

struct TreeNode {
  void *leftElement;   // never null in a settled tree
  void *rightElement;  // null when the node holds one element
  TreeNode *leftChild;
  TreeNode *middleChild;
  TreeNode *rightChild;
};

struct TreeState {
  int count;       // nodes in the tree
  TreeNode *root;  // null when empty
  int height;      // levels below and including the root; 0 when empty
};

// Element of a keyed group file index: a key and the position of the live
// record that has it.
struct IndexElement {
  unsigned char *key;
  int32_t position;
};

// Element of a table index: a key and the positions of every live record
// with that key, in file order.
struct TableElement {
  unsigned char *key;
  int32_t *positions;
  int32_t count;
};

using TreeCreate = TreeState *(*)();
using TreeDeleteAll = void (*)(Heap *heap, TreeNode *node);
using TreeInsert = void *(*)(Heap *heap, void *element, int *error);
using TreeDelete = void *(*)(Heap *heap, void *key, int *error);
using TreeSearch = void *(*)(Heap *heap, void *key, int *error);
using TreeDeleteMin = void *(*)(Heap *heap, int *error);
using TreeMinimum = void *(*)(Heap *heap, int *error);
using TreePrint = void (*)(Heap *heap);
using ElementCompare = int (*)(const void *a, const void *b, int key_length);
using ElementFree = void (*)(void *element);
using ElementPrint = void (*)(const void *element, int key_length);

struct SearchCopy;

}  // namespace pcs::keyed

// The heap object. Users call every tree operation through its slots.
struct Heap {
  pcs::keyed::TreeState *state;
  pcs::keyed::TreeCreate create;
  pcs::keyed::TreeDeleteAll delete_all;
  pcs::keyed::TreeInsert insert;
  pcs::keyed::TreeDelete delete_element;
  pcs::keyed::TreeSearch search;
  pcs::keyed::TreeDeleteMin delete_minimum;
  pcs::keyed::TreeMinimum minimum;
  pcs::keyed::TreePrint print;
  pcs::keyed::ElementCompare compare;
  pcs::keyed::ElementFree free_element;
  pcs::keyed::ElementPrint print_element;
  int stack_capacity;
  pcs::keyed::TreeNode **stack;
  int stack_top;
  int key_length;
  // Nodes and elements built at once (t_build) live in this one host block,
  // their keys in arena_keys; both are released with the heap.
  unsigned char *arena;
  size_t arena_size;
  unsigned char *arena_keys;
  // Set by the first insert: until then every element and node of a tree
  // built at once lies in the arena, and the release need not visit them.
  bool inserted;
  // The elements in order with their key prefixes, for searches of a tree
  // that is searched far more often than it changes (t_elm_se); null until
  // made and after every change.
  pcs::keyed::SearchCopy *search_copy;
  int64_t searches;  // searches since the last change
};

namespace pcs::keyed {

// Error flag values of the tree operations.
inline constexpr int kTreeOk = 0;
inline constexpr int kTreeNoMemory = 1;
inline constexpr int kTreeDuplicate = 2;

Heap *crtheap(TreeCreate create, TreeDeleteAll delete_all, TreeInsert insert,
              TreeDelete delete_element, TreeSearch search, TreeDeleteMin delete_minimum,
              TreeMinimum minimum, TreePrint print, ElementCompare compare,
              ElementFree free_element, ElementPrint print_element, int key_length);
// A heap with the nine tree functions and the given element callbacks.
Heap *crtheap_with(ElementCompare compare, ElementFree free_element, ElementPrint print_element,
                   int key_length);
// Deletes every element, then releases the path stack, the tree state and
// the heap object. A null heap is accepted.
void heap_release(Heap *heap);

TreeState *t_cr_sta();
void t_dl_all(Heap *heap, TreeNode *node);
void *t_insert(Heap *heap, void *element, int *error);
void *t_elm_dl(Heap *heap, void *key, int *error);
void *t_elm_se(Heap *heap, void *key, int *error);
void *t_dl_min(Heap *heap, int *error);
void *t_h_min(Heap *heap, int *error);
void t_heap_p(Heap *heap);

void t_search_release(Heap *heap);
// Drops the heap's search copy: called by every operation that changes the
// tree, before it changes.
inline void t_search_drop(Heap *heap) {
  if (heap->search_copy) t_search_release(heap);
  heap->searches = 0;
}

// Nodes t_build takes for n elements.
int t_bld_nodes(int n);
// Makes the heap's (empty) tree of the n elements of `size` bytes side by
// side at `elements`, ascending and distinct, with its nodes from `nodes`
// (t_bld_nodes(n) of them).
void t_build(Heap *heap, void *elements, size_t size, int n, TreeNode *nodes);
// Release a single element or node unless it lies in the heap's arena.
void release_element(Heap *heap, void *element);
void release_node(Heap *heap, TreeNode *node);

int comp_ind(const void *a, const void *b, int key_length);
int comp_str(const void *a, const void *b, int key_length);
void fre_ind(void *element);
void fre_str(void *element);
void pt_index(const void *element, int key_length);
void pt_str(const void *element, int key_length);

// Compares two elements as heap->compare does, by sign. The library's own
// element kinds, which both hold their key first, are compared here
// without the call through the heap.
inline int tree_compare(const Heap *heap, const void *a, const void *b) {
  if (heap->compare != comp_ind && heap->compare != comp_str)
    return heap->compare(a, b, heap->key_length);
  if (heap->key_length < 1) return 0;
  return std::memcmp(*static_cast<unsigned char *const *>(a),
                     *static_cast<unsigned char *const *>(b),
                     static_cast<size_t>(heap->key_length));
}

// Internal operations.
int t_cm_elm(Heap *heap, const void *key, const TreeNode *node);
TreeNode *t_f_node(Heap *heap, const void *key, bool *found, int *error);
TreeNode *t_gt_min(Heap *heap, TreeNode *node, bool push, int *error);
int t_h_push(Heap *heap, TreeNode *node);
int t_hp_pop(Heap *heap, TreeNode **node);
TreeNode *t_node_c(void *element);
void tree_pt(Heap *heap, const TreeNode *node, int depth);

}  // namespace pcs::keyed

#endif
