// Releasing query parts: groups from the last to the first, and in each
// group its attributes from the last to the first with their values and
// generic flags.
#include "common/memory.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

// Reverses a chain in place; returns its new head (the old last member).
template <class T>
T *reverse_chain(T *first) {
  T *reversed = nullptr;
  while (first) {
    T *next = first->next;
    first->next = reversed;
    reversed = first;
    first = next;
  }
  return reversed;
}

}  // namespace

void free_attributes(CgAttribute *first) {
  for (CgAttribute *a = reverse_chain(first); a;) {
    CgAttribute *next = a->next;
    gifree(a->values);
    gifree(a->genericFlags);
    gifree(a);
    a = next;
  }
}

}  // namespace pcs::generic

extern "C" void cggfre(CgGroup *part) {
  for (CgGroup *g = pcs::generic::reverse_chain(part); g;) {
    CgGroup *next = g->next;
    pcs::generic::free_attributes(g->attributes);
    gifree(g);
    g = next;
  }
}
