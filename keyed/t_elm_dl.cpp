// The 2-3 tree: delete an element (with borrowing from and merging with
// siblings), delete the minimum, and delete a whole subtree.
#include "common/memory.h"
#include "keyed/tree.h"

namespace pcs::keyed {
namespace {

// The empty node `node` borrows through its parent from the sibling
// `sibling`, which holds two elements.
void rotate(TreeNode *parent, TreeNode *node, TreeNode *sibling) {
  if (parent->leftChild == node) {
    node->leftElement = parent->leftElement;
    node->middleChild = sibling->leftChild;
    parent->leftElement = sibling->leftElement;
    sibling->leftElement = sibling->rightElement;
    sibling->leftChild = sibling->middleChild;
    sibling->middleChild = sibling->rightChild;
  } else {
    void **separator = parent->middleChild == node ? &parent->leftElement : &parent->rightElement;
    node->leftElement = *separator;
    node->middleChild = node->leftChild;
    node->leftChild = sibling->rightChild;
    *separator = sibling->rightElement;
  }
  sibling->rightElement = nullptr;
  sibling->rightChild = nullptr;
}

// The empty node `node` and its one-element sibling become one node with the
// separating element of the parent; `node` is freed and the parent loses
// that element and child.
void combine(Heap *heap, TreeNode *parent, TreeNode *node, TreeNode *sibling) {
  if (parent->leftChild == node) {
    sibling->rightElement = sibling->leftElement;
    sibling->leftElement = parent->leftElement;
    sibling->rightChild = sibling->middleChild;
    sibling->middleChild = sibling->leftChild;
    sibling->leftChild = node->leftChild;
    parent->leftChild = sibling;
    parent->leftElement = parent->rightElement;
    parent->middleChild = parent->rightChild;
  } else if (parent->middleChild == node) {
    sibling->rightElement = parent->leftElement;
    sibling->rightChild = node->leftChild;
    parent->leftElement = parent->rightElement;
    parent->middleChild = parent->rightChild;
  } else {
    sibling->rightElement = parent->rightElement;
    sibling->rightChild = node->leftChild;
  }
  parent->rightElement = nullptr;
  parent->rightChild = nullptr;
  release_node(heap, node);
  --heap->state->count;
}

// Repairs upwards from an empty node until no node is empty.
void repair(Heap *heap, TreeNode *node) {
  TreeState *state = heap->state;
  while (!node->leftElement && node != state->root) {
    TreeNode *parent = heap->stack[heap->stack_top--];
    TreeNode *sibling = parent->middleChild == node ? parent->leftChild : parent->middleChild;
    if (sibling->rightElement) {
      rotate(parent, node, sibling);
      return;
    }
    combine(heap, parent, node, sibling);
    node = parent;
  }
  if (!state->root->leftElement) {
    TreeNode *old = state->root;
    state->root = old->leftChild;
    release_node(heap, old);
    --state->count;
    --state->height;
  }
}

}  // namespace

void *t_elm_dl(Heap *heap, void *key, int *error) {
  *error = kTreeOk;
  bool found = false;
  t_f_node(heap, key, &found, error);
  if (!found) return nullptr;
  t_search_drop(heap);
  TreeNode *node = nullptr;
  t_hp_pop(heap, &node);
  bool left = heap->compare(key, node->leftElement, heap->key_length) == 0;
  void *result = left ? node->leftElement : node->rightElement;
  if (node->leftChild) {
    // Internal node: the successor moves up from the leftmost leaf of the
    // subtree right of the element. The stack already has room for the path.
    t_h_push(heap, node);
    TreeNode *leaf = t_gt_min(heap, left ? node->middleChild : node->rightChild, true, error);
    (left ? node->leftElement : node->rightElement) = leaf->leftElement;
    t_hp_pop(heap, &leaf);
    leaf->leftElement = leaf->rightElement;
    node = leaf;
  } else if (left) {
    node->leftElement = node->rightElement;
  }
  node->rightElement = nullptr;
  repair(heap, node);
  return result;
}

// The minimum is the left element of the leftmost leaf. When the path
// stack has room for the tree's height, the one descent to the leaf stacks
// the path; otherwise a leaf of two elements just loses it, and the path
// of a leaf that needs repair is stacked by a second descent, growing the
// stack. The leaf is repaired as delete element does.
void *t_dl_min(Heap *heap, int *error) {
  *error = kTreeOk;
  TreeState *state = heap->state;
  TreeNode *leaf = state->root;
  if (!leaf) return nullptr;
  t_search_drop(heap);
  const bool room = heap->stack && heap->stack_capacity >= state->height;
  int top = -1;
  if (room) {
    for (TreeNode **stack = heap->stack; leaf->leftChild; leaf = leaf->leftChild) stack[++top] = leaf;
  } else {
    while (leaf->leftChild) leaf = leaf->leftChild;
  }
  heap->stack_top = top;
  void *minimum = leaf->leftElement;
  if (!leaf->rightElement && !room) {
    leaf = t_gt_min(heap, state->root, true, error);
    if (!leaf) return nullptr;
    t_hp_pop(heap, &leaf);
  }
  leaf->leftElement = leaf->rightElement;
  leaf->rightElement = nullptr;
  if (!leaf->leftElement) {
    repair(heap, leaf);
  } else if (heap->stack_top >= 0) {
    // The next call empties this leaf and repairs it from its sibling:
    // fetch the sibling meanwhile, and the sibling of the lowest node on
    // the path that a merge below would empty (it holds one element).
    __builtin_prefetch(heap->stack[heap->stack_top]->middleChild);
    for (int j = heap->stack_top; j > 0; --j)
      if (!heap->stack[j]->rightElement) {
        __builtin_prefetch(heap->stack[j - 1]->middleChild);
        break;
      }
  }
  return minimum;
}

void t_dl_all(Heap *heap, TreeNode *node) {
  if (!node) return;
  t_dl_all(heap, node->leftChild);
  t_dl_all(heap, node->middleChild);
  t_dl_all(heap, node->rightChild);
  if (node->leftElement) release_element(heap, node->leftElement);
  if (node->rightElement) release_element(heap, node->rightElement);
  release_node(heap, node);
}

}  // namespace pcs::keyed
