// Ordered lists (pplst*): singly linked nodes from the host memory service.
// A list handle is the address of its first node; null is the empty list.
#include "host/host_services.h"

namespace {

struct Node {
  void *element;
  Node *next;
};

Node *node_of(void *handle) { return static_cast<Node *>(handle); }

}  // namespace

extern "C" {

// The new element goes after every element that does not compare greater,
// so equal elements keep their insertion order. Without a comparator it is
// appended. On failure the list is unchanged and null is returned.
void *pplstins(void *list, void *element, PcsCompare compare) {
  Node *node = static_cast<Node *>(gimaloc(sizeof(Node)));
  if (!node) return nullptr;
  node->element = element;
  Node *head = node_of(list);
  Node **link = &head;
  while (*link && (!compare || compare((*link)->element, element) <= 0)) link = &(*link)->next;
  node->next = *link;
  *link = node;
  return head;
}

// The comparator is called as compare(element, key). The whole list is
// searched: the key comparator need not follow the list's order.
void *pplstfnd(void *list, const void *key, PcsCompare compare) {
  for (Node *node = node_of(list); node; node = node->next) {
    if (compare(node->element, key) == 0) return node;
  }
  return nullptr;
}

void *pplstgtd(void *node) { return node ? node_of(node)->element : nullptr; }

void *pplstnxt(void *node) { return node ? node_of(node)->next : nullptr; }

// A node that is not in the list leaves it unchanged.
void *pplstdel(void *list, void *node) {
  Node *head = node_of(list);
  for (Node **link = &head; *link; link = &(*link)->next) {
    if (*link == node) {
      *link = node_of(node)->next;
      gifree(node);
      break;
    }
  }
  return head;
}

void pplstfre(void *list) {
  for (Node *node = node_of(list); node;) {
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
