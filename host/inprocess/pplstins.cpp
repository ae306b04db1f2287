// Ordered lists (pplst*): nodes from the host memory service, chained in
// order. A list handle is the address of its first node; null is the empty
// list. Each node also has a height; from kIndexFrom elements on, the list
// gets an index that links the nodes of each height: a skip list whose level
// 0 is the node chain, so insert, find and delete take about 2 log2 n steps
// instead of n. A shorter list is the chain alone and is searched whole.
// An indexed list that is searched more than it changes also keeps its
// elements in order in an array at the end of the index block, searched by
// halving (log2 n comparisons, close together in memory).
#include <cstdint>
#include <cstring>

#include "host/host_services.h"

namespace {

constexpr int kIndexFrom = 8;
constexpr int kMaxLevels = 24;    // one node in two climbs a level: ample for 2^24 nodes
constexpr int kChainLevels = 4;   // height limit of the nodes of a short list
// The ordered array is rebuilt (n steps) once a list unchanged since has
// been searched n / kFindsPerRebuild times.
constexpr int64_t kFindsPerRebuild = 8;

struct Node;

// The list's index, shared by all its nodes. `capacity` slots follow it:
// the elements in list order, then their nodes; they are current while
// `finds` is not negative.
struct Index {
  Node *first[kMaxLevels];  // first node on each level; first[0] is the head
  int levels;               // levels in use
  uint64_t inserts;         // numbers the inserted nodes to choose their heights
  int64_t count;            // nodes in the list
  int64_t capacity;         // slots of the ordered array
  int64_t finds;            // finds since the last change (-1: the array is current)
};

// `levels - 1` forward pointers for levels 1 and up follow the node.
struct Node {
  void *element;
  Node *next;
  Node *prev;    // makes delete possible without a comparator
  Index *index;  // null until the list is indexed; tells a foreign node apart
  int levels;
};

Node *node_of(void *handle) { return static_cast<Node *>(handle); }

Node *&link(Node *node, int level) {
  return level == 0 ? node->next : reinterpret_cast<Node **>(node + 1)[level - 1];
}

// The link that leads to the node after `pred` on a level (pred null: the
// start of that level).
Node *&link_after(Index *index, Node *pred, int level) {
  return pred ? link(pred, level) : index->first[level];
}

// The height of the n-th node of a list: one level, plus one for each
// trailing 1 bit of a hash of n, up to `limit`. Heights are random-like but
// the same from run to run.
int height(uint64_t n, int limit) {
  uint64_t x = (n + 1) * 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  x ^= x >> 31;
  int levels = 1;
  for (; levels < limit && (x & 1); x >>= 1) ++levels;
  return levels;
}

Node *new_node(void *element, int levels) {
  size_t size = sizeof(Node) + static_cast<size_t>(levels - 1) * sizeof(Node *);
  Node *node = static_cast<Node *>(gimaloc(size));
  if (!node) return nullptr;
  *node = Node{element, nullptr, nullptr, nullptr, levels};
  for (int level = 1; level < levels; ++level) link(node, level) = nullptr;
  return node;
}

// compare(element, key) for the nodes of a search; a null comparator puts
// every element before the key. A node met again on a lower level is not
// compared again.
struct Probe {
  PcsCompare compare;
  const void *key;
  bool equal_first;  // elements equal to the key go before it
  Node *stop = nullptr;
  int stop_order = 0;

  bool before(Node *node) {
    if (node == stop) return false;
    int order = compare ? compare(node->element, key) : -1;
    if (order < 0 || (order == 0 && equal_first)) return true;
    stop = node;
    stop_order = order;
    return false;
  }
};

// Fills pred[level] with the last node before the key on each level (null:
// none) and returns the first node on level 0 that is not before it.
Node *search(Index *index, Probe &probe, Node **pred) {
  Node *at = nullptr;
  for (int level = index->levels - 1; level >= 0; --level) {
    for (Node *next = link_after(index, at, level); next && probe.before(next);
         next = link(next, level))
      at = next;
    if (pred) pred[level] = at;
  }
  return link_after(index, at, 0);
}

void *insert_indexed(Node *head, void *element, PcsCompare compare) {
  Index *index = head->index;
  Probe probe{compare, element, true};
  Node *pred[kMaxLevels];
  search(index, probe, pred);
  int limit = index->levels < kMaxLevels ? index->levels + 1 : kMaxLevels;
  Node *node = new_node(element, height(index->inserts, limit));
  if (!node) return nullptr;
  ++index->inserts;
  ++index->count;
  index->finds = 0;
  node->index = index;
  for (; index->levels < node->levels; ++index->levels) pred[index->levels] = nullptr;
  for (int level = 0; level < node->levels; ++level) {
    Node *&from = link_after(index, pred[level], level);
    link(node, level) = from;
    from = node;
  }
  node->prev = pred[0];
  if (node->next) node->next->prev = node;
  return index->first[0];
}

// Gives a chain that is reaching kIndexFrom nodes its index: links the
// nodes of each height in chain order.
bool add_index(Node *head) {
  Index *index = static_cast<Index *>(gimaloc(sizeof(Index)));
  if (!index) return false;
  *index = Index{{}, 1, kIndexFrom, 0, 0, 0};
  Node *last[kMaxLevels] = {};
  for (Node *node = head; node; node = node->next) {
    ++index->count;
    node->index = index;
    if (node->levels > index->levels) index->levels = node->levels;
    for (int level = 0; level < node->levels; ++level) {
      link_after(index, last[level], level) = node;
      last[level] = node;
    }
  }
  return true;
}

void *insert_chained(Node *head, void *element, PcsCompare compare) {
  int count = 0;
  for (Node *node = head; node; node = node->next) ++count;
  Node *node = new_node(element, height(static_cast<uint64_t>(count), kChainLevels));
  if (!node) return nullptr;
  Node *prev = nullptr;
  for (Node *at = head; at && (!compare || compare(at->element, element) <= 0); at = at->next)
    prev = at;
  node->prev = prev;
  node->next = prev ? prev->next : head;
  if (node->next) node->next->prev = node;
  (prev ? prev->next : head) = node;
  if (count + 1 >= kIndexFrom && !add_index(head)) {
    (prev ? prev->next : head) = node->next;
    if (node->next) node->next->prev = prev;
    gifree(node);
    return nullptr;
  }
  return head;
}

// Unlinks an indexed node on every level. Its predecessor on a level is the
// nearest node before it that reaches that level.
void unlink_indexed(Index *index, Node *node) {
  Node *pred = node->prev;
  for (int level = 0; level < node->levels; ++level) {
    while (pred && pred->levels <= level) pred = pred->prev;
    link_after(index, pred, level) = link(node, level);
  }
  if (node->next) node->next->prev = node->prev;
  --index->count;
  index->finds = 0;
  while (index->levels > 1 && !index->first[index->levels - 1]) --index->levels;
}

bool in_chain(Node *head, Node *node) {
  for (Node *at = head; at; at = at->next)
    if (at == node) return true;
  return false;
}

void **ordered_elements(Index *index) { return reinterpret_cast<void **>(index + 1); }
Node **ordered_nodes(Index *index) {
  return reinterpret_cast<Node **>(ordered_elements(index) + index->capacity);
}

// Makes the ordered array current, first moving the index to a block with
// room for every node when it has too few slots. The index in use, or null
// (nothing changed) when memory fails.
Index *make_ordered(Index *index) {
  if (index->capacity < index->count) {
    const int64_t capacity = index->count + index->count / 2;
    auto *grown = static_cast<Index *>(
        gimaloc(sizeof(Index) + 2 * static_cast<size_t>(capacity) * sizeof(void *)));
    if (!grown) return nullptr;
    *grown = *index;
    grown->capacity = capacity;
    for (Node *node = index->first[0]; node; node = node->next) node->index = grown;
    gifree(index);
    index = grown;
  }
  void **elements = ordered_elements(index);
  Node **nodes = ordered_nodes(index);
  int64_t k = 0;
  for (Node *node = index->first[0]; node; node = node->next, ++k) {
    elements[k] = node->element;
    nodes[k] = node;
  }
  index->finds = -1;
  return index;
}

// The first element not before the key, by halving the ordered array; its
// node when it compares equal.
Node *find_ordered(Index *index, const void *key, PcsCompare compare) {
  void **elements = ordered_elements(index);
  int64_t low = 0, high = index->count;
  int high_order = 1;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    const int order = compare(elements[middle], key);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
      high_order = order;
    }
  }
  return high < index->count && high_order == 0 ? ordered_nodes(index)[high] : nullptr;
}

// The ordered array is made current once the list has been searched often
// enough since it last changed; without memory for it the skip list serves.
Node *find_indexed(Index *index, const void *key, PcsCompare compare) {
  if (compare && index->finds >= 0 && ++index->finds * kFindsPerRebuild >= index->count) {
    Index *current = make_ordered(index);
    if (current) index = current;
    else index->finds = 0;
  }
  if (compare && index->finds < 0) return find_ordered(index, key, compare);
  Probe probe{compare, key, false};
  Node *found = search(index, probe, nullptr);
  return found && found == probe.stop && probe.stop_order == 0 ? found : nullptr;
}

}  // namespace

extern "C" {

// On failure the list is unchanged and null is returned.
void *pplstins(void *list, void *element, PcsCompare compare) {
  Node *head = node_of(list);
  return head && head->index ? insert_indexed(head, element, compare)
                             : insert_chained(head, element, compare);
}

// A short list is searched whole; an indexed one only up to the first
// element that compares greater than the key.
void *pplstfnd(void *list, const void *key, PcsCompare compare) {
  Node *head = node_of(list);
  if (head && head->index) return find_indexed(head->index, key, compare);
  for (Node *node = head; node; node = node->next) {
    if (compare(node->element, key) == 0) return node;
  }
  return nullptr;
}

void *pplstgtd(void *node) { return node ? node_of(node)->element : nullptr; }

void *pplstnxt(void *node) { return node ? node_of(node)->next : nullptr; }

// A node that is not in the list leaves it unchanged.
void *pplstdel(void *list, void *node) {
  Node *head = node_of(list), *gone = node_of(node);
  if (!head || !gone) return head;
  Index *index = head->index;
  if (index ? gone->index != index : !in_chain(head, gone)) return head;
  if (index) {
    unlink_indexed(index, gone);
    head = index->first[0];
    if (!head) gifree(index);
  } else {
    (gone->prev ? gone->prev->next : head) = gone->next;
    if (gone->next) gone->next->prev = gone->prev;
  }
  gifree(gone);
  return head;
}

void pplstfre(void *list) {
  Node *head = node_of(list);
  if (head) gifree(head->index);
  for (Node *node = head; node;) {
    Node *next = node->next;
    gifree(node);
    node = next;
  }
}

// The next node is taken before the visit, so the visitor may release the
// element (not the node).
void pplsttrs(void *list, PcsVisit visit) {
  for (Node *node = node_of(list); node;) {
    Node *next = node->next;
    visit(node->element);
    node = next;
  }
}

}  // extern "C"
