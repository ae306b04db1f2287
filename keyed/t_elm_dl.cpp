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
void combine(TreeState *state, TreeNode *parent, TreeNode *node, TreeNode *sibling) {
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
  gifree(node);
  --state->count;
}

// Repairs upwards from an empty node until no node is empty.
void repair(Heap *heap, TreeNode *node) {
  TreeState *state = heap->state;
  while (!node->leftElement && node != state->root) {
    TreeNode *parent = nullptr;
    t_hp_pop(heap, &parent);
    TreeNode *sibling = parent->middleChild == node ? parent->leftChild : parent->middleChild;
    if (sibling->rightElement) {
      rotate(parent, node, sibling);
      return;
    }
    combine(state, parent, node, sibling);
    node = parent;
  }
  if (!state->root->leftElement) {
    TreeNode *old = state->root;
    state->root = old->leftChild;
    gifree(old);
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

// The minimum is the left element of the leftmost leaf. A leaf of two
// elements just loses it; otherwise the path to the leaf is pushed without
// comparing keys, and the leaf is repaired as delete element does.
void *t_dl_min(Heap *heap, int *error) {
  *error = kTreeOk;
  TreeNode *first = heap->state->root;
  while (first && first->leftChild) first = first->leftChild;
  if (first && first->rightElement) {
    void *minimum = first->leftElement;
    first->leftElement = first->rightElement;
    first->rightElement = nullptr;
    return minimum;
  }
  heap->stack_top = -1;
  TreeNode *leaf = t_gt_min(heap, heap->state->root, true, error);
  if (!leaf) return nullptr;
  t_hp_pop(heap, &leaf);
  void *minimum = leaf->leftElement;
  leaf->leftElement = leaf->rightElement;
  leaf->rightElement = nullptr;
  repair(heap, leaf);
  return minimum;
}

void t_dl_all(Heap *heap, TreeNode *node) {
  if (!node) return;
  t_dl_all(heap, node->leftChild);
  t_dl_all(heap, node->middleChild);
  t_dl_all(heap, node->rightChild);
  if (node->leftElement) heap->free_element(node->leftElement);
  if (node->rightElement) heap->free_element(node->rightElement);
  gifree(node);
}

}  // namespace pcs::keyed
