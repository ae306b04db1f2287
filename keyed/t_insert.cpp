// The 2-3 tree: heap creation, the path stack, find, minimum and insert
// with node splitting.
#include <cstring>

#include "common/memory.h"
#include "keyed/tree.h"

namespace pcs::keyed {

Heap *crtheap(TreeCreate create, TreeDeleteAll delete_all, TreeInsert insert,
              TreeDelete delete_element, TreeSearch search, TreeDeleteMin delete_minimum,
              TreeMinimum minimum, TreePrint print, ElementCompare compare,
              ElementFree free_element, ElementPrint print_element, int key_length) {
  auto *heap = static_cast<Heap *>(gicaloc(1, sizeof(Heap)));
  if (!heap) return nullptr;
  *heap = Heap{.state = nullptr,
               .create = create,
               .delete_all = delete_all,
               .insert = insert,
               .delete_element = delete_element,
               .search = search,
               .delete_minimum = delete_minimum,
               .minimum = minimum,
               .print = print,
               .compare = compare,
               .free_element = free_element,
               .print_element = print_element,
               .stack_capacity = 10,
               .stack = nullptr,
               .stack_top = -1,
               .key_length = key_length,
               .arena = nullptr,
               .arena_size = 0,
               .arena_keys = nullptr,
               .inserted = false,
               .search_copy = nullptr,
               .searches = 0};
  heap->state = create();
  if (!heap->state) {
    gifree(heap);
    return nullptr;
  }
  return heap;
}

Heap *crtheap_with(ElementCompare compare, ElementFree free_element, ElementPrint print_element,
                   int key_length) {
  return crtheap(t_cr_sta, t_dl_all, t_insert, t_elm_dl, t_elm_se, t_dl_min, t_h_min, t_heap_p,
                 compare, free_element, print_element, key_length);
}

void heap_release(Heap *heap) {
  if (!heap) return;
  t_search_drop(heap);
  if (heap->state) {
    if (heap->state->root && (!heap->arena || heap->inserted))
      heap->delete_all(heap, heap->state->root);
    heap->state->root = nullptr;
    gifree(heap->state);
  }
  gifree(heap->stack);
  gifree(heap->arena);
  gifree(heap->arena_keys);
  gifree(heap);
}

TreeState *t_cr_sta() { return host_alloc<TreeState>(); }

TreeNode *t_node_c(void *element) {
  auto *node = host_alloc<TreeNode>();
  if (node) node->leftElement = element;
  return node;
}

namespace {

// Grows the path stack in steps of 10 until it holds `need` entries.
bool reserve(Heap *heap, int need) {
  if (heap->stack && heap->stack_capacity >= need) return true;
  int capacity = heap->stack ? heap->stack_capacity : 10;
  while (capacity < need) capacity += 10;
  void *grown = girealoc(heap->stack, sizeof(TreeNode *) * static_cast<size_t>(capacity));
  if (!grown) return false;
  heap->stack = static_cast<TreeNode **>(grown);
  heap->stack_capacity = capacity;
  return true;
}

}  // namespace

int t_h_push(Heap *heap, TreeNode *node) {
  if (!reserve(heap, heap->stack_top + 2)) return 0;
  heap->stack[++heap->stack_top] = node;
  return 1;
}

int t_hp_pop(Heap *heap, TreeNode **node) {
  if (heap->stack_top < 0) return 0;
  *node = heap->stack[heap->stack_top--];
  return 1;
}

int t_cm_elm(Heap *heap, const void *key, const TreeNode *node) {
  int c0 = tree_compare(heap, key, node->leftElement);
  if (c0 < 0) return 1;
  if (c0 == 0) return 4;
  if (!node->rightElement) return 2;
  int c1 = tree_compare(heap, key, node->rightElement);
  if (c1 < 0) return 2;
  return c1 > 0 ? 3 : 4;
}

// Descends from the root pushing every node visited. Found: *found is set,
// the holding node is the top of the stack and the result is null. Not
// found: the leaf where the key belongs (also on the stack). The stack is
// sized for the whole height first, so later pushes and pops of the same
// operation cannot fail.
TreeNode *t_f_node(Heap *heap, const void *key, bool *found, int *error) {
  *found = false;
  heap->stack_top = -1;
  TreeNode *node = heap->state->root;
  if (!node) return nullptr;
  if (!reserve(heap, heap->state->height + 1)) {
    *error = kTreeNoMemory;
    return nullptr;
  }
  for (;;) {
    heap->stack[++heap->stack_top] = node;
    int where = t_cm_elm(heap, key, node);
    if (where == 4) {
      *found = true;
      return nullptr;
    }
    TreeNode *child = where == 1   ? node->leftChild
                      : where == 2 ? node->middleChild
                                   : node->rightChild;
    if (!child) return node;
    node = child;
  }
}

TreeNode *t_gt_min(Heap *heap, TreeNode *node, bool push, int *error) {
  while (node) {
    if (push && !t_h_push(heap, node)) {
      *error = kTreeNoMemory;
      return nullptr;
    }
    if (!node->leftChild) return node;
    node = node->leftChild;
  }
  return nullptr;
}

void *t_h_min(Heap *heap, int *error) {
  *error = kTreeOk;
  TreeNode *leaf = t_gt_min(heap, heap->state->root, false, error);
  return leaf ? leaf->leftElement : nullptr;
}

namespace {

int compare_elements(Heap *heap, const void *a, const void *b) {
  return tree_compare(heap, a, b);
}

// Splits the full node `node` around the carried element and child. The node
// keeps the lowest element, `fresh` takes the highest; the middle one and
// `fresh` become the new carried element and child.
void split(Heap *heap, TreeNode *node, void **carried, TreeNode **carried_child, TreeNode *fresh) {
  TreeNode *c1 = node->middleChild, *c2 = node->rightChild;
  TreeNode *r = *carried_child;
  if (r) {
    if (compare_elements(heap, r->leftElement, c1->leftElement) < 0) {
      node->middleChild = r;
      fresh->leftChild = c1;
      fresh->middleChild = c2;
    } else if (compare_elements(heap, r->leftElement, c2->leftElement) < 0) {
      fresh->leftChild = r;
      fresh->middleChild = c2;
    } else {
      fresh->leftChild = c2;
      fresh->middleChild = r;
    }
  } else {
    fresh->leftChild = c2;
  }
  node->rightChild = nullptr;

  void *x = *carried, *e0 = node->leftElement, *e1 = node->rightElement;
  if (compare_elements(heap, x, e0) < 0) {
    node->leftElement = x;
    *carried = e0;
    fresh->leftElement = e1;
  } else if (compare_elements(heap, x, e1) < 0) {
    *carried = x;
    fresh->leftElement = e1;
  } else {
    *carried = e1;
    fresh->leftElement = x;
  }
  node->rightElement = nullptr;
  *carried_child = fresh;
}

// Puts the carried element and child into a node that holds one element.
void put_in(Heap *heap, TreeNode *node, void *carried, TreeNode *carried_child) {
  if (compare_elements(heap, carried, node->leftElement) < 0) {
    node->rightElement = node->leftElement;
    node->leftElement = carried;
    node->rightChild = node->middleChild;
    node->middleChild = carried_child;
  } else {
    node->rightElement = carried;
    node->rightChild = carried_child;
  }
}

// Nodes needed by an insert below the stacked path: one per full node from
// the leaf upwards, and one more for a new root when the whole path is full.
int nodes_needed(const Heap *heap) {
  int i = heap->stack_top;
  while (i >= 0 && heap->stack[i]->rightElement) --i;
  return heap->stack_top - i + (i < 0 ? 1 : 0);
}

}  // namespace

// Every node the insert needs is obtained before the tree changes, so a
// failed insert leaves the tree as it was.
void *t_insert(Heap *heap, void *element, int *error) {
  *error = kTreeOk;
  t_search_drop(heap);
  heap->inserted = true;
  TreeState *state = heap->state;
  if (!state->root) {
    TreeNode *root = t_node_c(element);
    if (!root) {
      *error = kTreeNoMemory;
      return nullptr;
    }
    state->root = root;
    state->count = 1;
    state->height = 1;
    return element;
  }
  bool found = false;
  t_f_node(heap, element, &found, error);
  if (*error) return nullptr;
  if (found) {
    *error = kTreeDuplicate;
    return element;
  }
  constexpr int kMaxNodes = 64;
  TreeNode *spare[kMaxNodes];
  int needed = nodes_needed(heap);
  if (needed > kMaxNodes) needed = kMaxNodes;
  for (int i = 0; i < needed; ++i) {
    spare[i] = t_node_c(nullptr);
    if (!spare[i]) {
      while (i > 0) gifree(spare[--i]);
      *error = kTreeNoMemory;
      return nullptr;
    }
  }
  int used = 0;
  TreeNode *node = nullptr;
  t_hp_pop(heap, &node);
  void *carried = element;
  TreeNode *carried_child = nullptr;
  while (node->rightElement) {
    split(heap, node, &carried, &carried_child, spare[used++]);
    ++state->count;
    if (node == state->root) {
      TreeNode *root = spare[used++];
      root->leftElement = carried;
      root->leftChild = node;
      root->middleChild = carried_child;
      state->root = root;
      ++state->count;
      ++state->height;
      return element;
    }
    t_hp_pop(heap, &node);
  }
  put_in(heap, node, carried, carried_child);
  return element;
}

}  // namespace pcs::keyed
