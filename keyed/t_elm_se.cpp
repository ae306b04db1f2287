// The 2-3 tree search, and the ordered copy that answers it for a tree
// searched far more often than it changes. Each level of the tree costs a
// node, an element and its key, three loads from far apart; the copy keeps
// the elements in order beside 8-byte big-endian prefixes of their keys
// (taken after the bytes every key shares) and samples of those, so a
// search narrows to one step of prefixes through the samples, which stay
// in the processor's cache, and reads a key only for the answer (none when
// no key runs past its prefix) and where prefixes tie. A copy is made for
// the library's own element kinds (keys compared as bytes), once a tree
// unchanged since has been searched as often as it has nodes over
// kSearchesPerCopy, and dropped by every change. Without memory for it the
// tree is searched.
#include <algorithm>
#include <cstring>
#include <new>

#include "common/coding.h"
#include "common/prefix_samples.h"
#include "keyed/tree.h"

namespace pcs::keyed {

struct SearchCopy {
  void **elements = nullptr;
  uint64_t *prefixes = nullptr;
  size_t count = 0;
  size_t shared = 0;  // leading key bytes every element has alike
  bool whole = false;  // the prefixes hold the keys' every byte after those
  PrefixSamples samples;
  ~SearchCopy() {
    delete[] elements;
    delete[] prefixes;
  }
};

namespace {

constexpr int64_t kSearchesPerCopy = 8;
constexpr int64_t kFewestSearches = 64;

const unsigned char *key_of(const void *element) {
  return *static_cast<const unsigned char *const *>(element);
}

// The 8-byte prefix of a k-byte key after its first `from` bytes.
uint64_t prefix_of(const unsigned char *key, size_t from, size_t k) {
  return byte_prefix(key + from, k - from);
}

// Elements of the subtree in order, from *n on.
void collect(const TreeNode *node, void **elements, size_t *n) {
  if (!node) return;
  collect(node->leftChild, elements, n);
  elements[(*n)++] = node->leftElement;
  collect(node->middleChild, elements, n);
  if (!node->rightElement) return;
  elements[(*n)++] = node->rightElement;
  collect(node->rightChild, elements, n);
}

SearchCopy *make_copy(const Heap *heap) {
  auto *copy = new (std::nothrow) SearchCopy;
  // A tree of c nodes holds at most 2c elements.
  const size_t most = 2 * static_cast<size_t>(heap->state->count);
  if (copy) copy->elements = new (std::nothrow) void *[most];
  if (copy && copy->elements) copy->prefixes = new (std::nothrow) uint64_t[most];
  if (!copy || !copy->prefixes) {
    delete copy;
    return nullptr;
  }
  collect(heap->state->root, copy->elements, &copy->count);
  const size_t k = static_cast<size_t>(heap->key_length);
  // The elements are in order: what the first and the last share, all do.
  const size_t ends[2] = {0, copy->count - 1};
  copy->shared = shared_beginning(2, k, [copy, &ends](size_t i) {
    return reinterpret_cast<const char *>(key_of(copy->elements[ends[i]]));
  });
  copy->whole = k - copy->shared <= sizeof(uint64_t);
  for (size_t i = 0; i < copy->count; ++i)
    copy->prefixes[i] = prefix_of(key_of(copy->elements[i]), copy->shared, k);
  copy->samples.take(copy->prefixes, copy->count);
  return copy;
}

// The copy to search, made when the tree has been searched enough.
const SearchCopy *search_copy(Heap *heap) {
  if (heap->search_copy) return heap->search_copy;
  if ((heap->compare != comp_ind && heap->compare != comp_str) || heap->key_length < 1 ||
      !heap->state->root)
    return nullptr;
  const int64_t wanted = std::max(kFewestSearches, int64_t{heap->state->count} / kSearchesPerCopy);
  if (++heap->searches < wanted) return nullptr;
  heap->searches = 0;
  heap->search_copy = make_copy(heap);
  return heap->search_copy;
}

// The first element from `from` on whose key is not below the key: a
// binary search over the prefixes that compares keys where the prefixes
// are equal.
size_t lower_bound(const SearchCopy &copy, size_t from, const unsigned char *key, uint64_t wanted,
                   size_t k) {
  size_t lo = from, n = copy.count - from;
  while (n > 0) {
    const size_t half = n / 2, mid = lo + half;
    const uint64_t p = copy.prefixes[mid];
    const bool before = p != wanted ? p < wanted : std::memcmp(key_of(copy.elements[mid]), key, k) < 0;
    if (before) {
      lo = mid + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  return lo;
}

// Through the samples, the first prefix not below the key's; a prefix that
// one element alone has is that element's key or no key, and one that
// several share is left to the binary search, from the first of them.
void *search_in(const SearchCopy &copy, const void *probe, size_t k) {
  const unsigned char *key = key_of(probe);
  // Every element starts with the shared bytes: a key that does not is absent.
  if (std::memcmp(key, key_of(copy.elements[0]), copy.shared) != 0) return nullptr;
  const uint64_t wanted = prefix_of(key, copy.shared, k);
  size_t lo = 0;
  if (copy.samples) {
    const PrefixSamples::Step step = copy.samples.step_of(wanted);
    __builtin_prefetch(copy.elements + step.begin);
    __builtin_prefetch(copy.elements + step.begin + PrefixSamples::kStep / 2);
    lo = PrefixSamples::first_not_below(copy.prefixes, step, wanted);
  }
  if (!copy.samples || (lo + 1 < copy.count && copy.prefixes[lo + 1] == wanted))
    lo = lower_bound(copy, lo, key, wanted, k);
  if (lo == copy.count || copy.prefixes[lo] != wanted) return nullptr;
  // Keys no longer than their prefix are equal where their prefixes are.
  if (copy.whole) return copy.elements[lo];
  return std::memcmp(key_of(copy.elements[lo]), key, k) == 0 ? copy.elements[lo] : nullptr;
}

void *search_tree(Heap *heap, void *key) {
  for (TreeNode *node = heap->state->root; node;) {
    switch (t_cm_elm(heap, key, node)) {
      case 1:
        node = node->leftChild;
        break;
      case 2:
        node = node->middleChild;
        break;
      case 3:
        node = node->rightChild;
        break;
      default:
        return tree_compare(heap, key, node->leftElement) == 0 ? node->leftElement
                                                                : node->rightElement;
    }
  }
  return nullptr;
}

}  // namespace

// A search keeps no path and never fails: without memory for the copy it
// walks the tree.
void *t_elm_se(Heap *heap, void *key, int *error) {
  *error = kTreeOk;
  if (const SearchCopy *copy = search_copy(heap))
    return search_in(*copy, key, static_cast<size_t>(heap->key_length));
  return search_tree(heap, key);
}

void t_search_release(Heap *heap) {
  delete heap->search_copy;
  heap->search_copy = nullptr;
}

}  // namespace pcs::keyed
