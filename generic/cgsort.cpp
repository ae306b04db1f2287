// Sorting host stacks: the key comparison in which a blank matches any byte
// (cgcmpsrt) and the three-way quicksort that leaves the greatest element
// at position 1 (cgsort).
//
// Both forms of the sort recurse only into the smaller of the greater and
// less parts and loop on the larger one, so their depth stays below log2 of
// the count. The stack's elements are normally sorted in work buffers (the
// partition order is the same, without a host stack call per element and
// level): with the library's comparison, 16-byte keys (eight bytes of the
// element and its number) are partitioned and the elements are placed once
// at the end; with a caller's, the elements themselves. When the buffers
// cannot be obtained, the sort partitions host stacks. There, when the
// greater part is the larger, the sorted equal and less parts must follow
// it: they are kept, in reverse, in a suffix stack that is drained onto
// the output once the loop ends.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "common/host_stack.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

// High bit of each byte of `v` that is 0, exactly (no borrow between
// bytes).
inline uint64_t zero_bytes(uint64_t v) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((v & kLow7) + kLow7) | v | kLow7);
}

// The key comparison of cgcmpsrt: the first byte position where the bytes
// differ and neither is a blank decides. Eight bytes are looked at at once.
inline int blank_compare(const void *a, const void *b, int length) {
  const auto *x = static_cast<const unsigned char *>(a);
  const auto *y = static_cast<const unsigned char *>(b);
  constexpr uint64_t kBlanks = 0x2020202020202020ULL, kHigh = 0x8080808080808080ULL;
  int i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (uint64_t u, v; i + 8 <= length; i += 8) {
      std::memcpy(&u, x + i, 8);
      std::memcpy(&v, y + i, 8);
      if (u == v) continue;
      const uint64_t same = zero_bytes(u ^ v);
      const uint64_t blank = zero_bytes(u ^ kBlanks) | zero_bytes(v ^ kBlanks);
      const uint64_t deciding = ~(same | blank) & kHigh;
      if (deciding == 0) continue;
      const int at = i + std::countr_zero(deciding) / 8;
      return x[at] < y[at] ? -1 : 1;
    }
  }
  for (; i < length; ++i) {
    if (x[i] == ' ' || y[i] == ' ' || x[i] == y[i]) continue;
    return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

int count_of(const int *stack, int *count) {
  int size = 0, rc = 0;
  gusinf(stack, &size, count, &rc);
  return rc;
}

struct Sorter {
  CgCompare compare;
  int size;
  unsigned char *element;
  unsigned char *pivot;
  int end_rc = 0;

  // Pushes positions 1 .. n of `from` onto `to`, in order.
  int append(const int *from, const int *to) {
    int count = 0, rc = count_of(from, &count), pushed = 0;
    for (int i = 1; rc == 0 && i <= count; ++i) {
      gusrea(from, &i, element, &rc);
      if (rc == 0) guspus(to, element, &pushed, &rc);
    }
    return rc;
  }

  // Pops every element of `from` onto `to`: the last one goes first.
  int drain(const int *from, const int *to) {
    int empty = 0, rc = 0, pushed = 0;
    for (;;) {
      guspop(from, element, &empty, &rc);
      if (rc != 0 || empty) return rc;
      guspus(to, element, &pushed, &rc);
      if (rc != 0) return rc;
    }
  }

  // Pops `source` empty into greater, equal and less by comparison with the
  // element at position count / 2.
  int partition(const int *source, int count, HostStack parts[3]) {
    int rc = 0, middle = count / 2;
    gusrea(source, &middle, pivot, &rc);
    for (int i = 0; rc == 0 && i < 3; ++i) rc = parts[i].create(size);
    int empty = 0, pushed = 0;
    while (rc == 0) {
      guspop(source, element, &empty, &rc);
      if (rc != 0 || empty) break;
      const int order = compare(element, pivot, &size);
      guspus(parts[order > 0 ? 0 : order == 0 ? 1 : 2].get(), element, &pushed, &rc);
    }
    return rc;
  }

  // Appends the elements of `source` to `output` in descending order,
  // emptying `source`. `source` may be `output` itself when it holds more
  // than one element.
  int sort_into(const int *source, const int *output) {
    HostStack current(&end_rc), suffix(&end_rc);
    const int *from = source;
    int rc = 0;
    for (;;) {
      int count = 0;
      if ((rc = count_of(from, &count)) != 0) return rc;
      if (count <= 1) {
        if (from != output) rc = drain(from, output);
        break;
      }
      HostStack parts[3] = {HostStack(&end_rc), HostStack(&end_rc), HostStack(&end_rc)};
      int sizes[3] = {0, 0, 0};
      if ((rc = partition(from, count, parts)) != 0) return rc;
      for (int i = 0; i < 3; ++i)
        if ((rc = count_of(parts[i].get(), &sizes[i])) != 0) return rc;
      if (sizes[0] <= sizes[2]) {
        if (sizes[0] > 0 && (rc = sort_into(parts[0].get(), output)) != 0) return rc;
        if ((rc = append(parts[1].get(), output)) != 0) return rc;
        current.adopt(parts[2]);
      } else {
        HostStack sorted(&end_rc);
        if ((rc = sorted.create(size)) != 0) return rc;
        if (sizes[2] > 0 && (rc = sort_into(parts[2].get(), sorted.get())) != 0) return rc;
        if (*suffix.get() == 0 && (rc = suffix.create(size)) != 0) return rc;
        if ((rc = drain(sorted.get(), suffix.get())) != 0) return rc;
        if ((rc = drain(parts[1].get(), suffix.get())) != 0) return rc;
        current.adopt(parts[0]);
      }
      from = current.get();
    }
    if (rc == 0 && *suffix.get() != 0) rc = drain(suffix.get(), output);
    return rc;
  }
};

// The same partitions over `count` elements in memory, for a caller's
// comparison. A range larger than
// kNearBytes is partitioned by moving its elements: each pass reads them
// in order and writes three runs in order, where following numbers into a
// range that big would miss the cache at nearly every comparison. A range
// that fits is partitioned on its elements' numbers and its elements are
// put in place once. Either way each pass visits the elements from the
// last to the first, as popping does, and lays them out as greater, equal,
// less, so both give the order the host stack partitions give.
constexpr size_t kNearBytes = size_t{256} << 10;

struct MemorySorter {
  CgCompare compare;
  int size;
  unsigned char *data;
  unsigned char *moved;  // as many bytes as data
  unsigned char *pivot;  // one element
  uint32_t *numbers;
  uint32_t *work;
  signed char *order;

  unsigned char *at(unsigned char *base, size_t i) const {
    return base + i * static_cast<size_t>(size);
  }

  // Classifies `count` elements against the pivot; the part sizes.
  template <class Element>
  void classify(size_t count, const unsigned char *middle, Element element, size_t sizes[3]) {
    for (size_t i = 0; i < count; ++i) {
      const int c = compare(element(i), middle, &size);
      order[i] = static_cast<signed char>(c > 0 ? 0 : c == 0 ? 1 : 2);
      ++sizes[static_cast<int>(order[i])];
    }
  }

  // Sorts elements [first, first + count) of data, in place.
  void sort(size_t first, size_t count) {
    const size_t bytes = static_cast<size_t>(size);
    while (count > 1) {
      if (count * bytes <= kNearBytes) return sort_near(first, count);
      unsigned char *base = at(data, first);
      std::memcpy(pivot, at(base, count / 2 - 1), bytes);
      size_t sizes[3] = {0, 0, 0};
      classify(count, pivot, [&](size_t i) { return at(base, i); }, sizes);
      size_t next[3] = {0, sizes[0], sizes[0] + sizes[1]};
      for (size_t i = count; i-- > 0;)
        std::memcpy(at(moved, next[static_cast<int>(order[i])]++), at(base, i), bytes);
      std::memcpy(base, moved, count * bytes);
      if (sizes[0] <= sizes[2]) {
        sort(first, sizes[0]);
        first += sizes[0] + sizes[1];
        count = sizes[2];
      } else {
        sort(first + sizes[0] + sizes[1], sizes[2]);
        count = sizes[0];
      }
    }
  }

  // Sorts a range that fits the cache by its numbers, then places it.
  void sort_near(size_t first, size_t count) {
    unsigned char *base = at(data, first);
    for (size_t i = 0; i < count; ++i) numbers[i] = static_cast<uint32_t>(i);
    sort_numbers(base, 0, count);
    for (size_t i = 0; i < count; ++i)
      std::memcpy(at(moved, i), at(base, numbers[i]), static_cast<size_t>(size));
    std::memcpy(base, moved, count * static_cast<size_t>(size));
  }

  void sort_numbers(unsigned char *elements, size_t first, size_t count) {
    while (count > 1) {
      uint32_t *base = numbers + first;
      const unsigned char *middle = at(elements, base[count / 2 - 1]);
      size_t sizes[3] = {0, 0, 0};
      classify(count, middle, [&](size_t i) { return at(elements, base[i]); }, sizes);
      size_t next[3] = {0, sizes[0], sizes[0] + sizes[1]};
      for (size_t i = count; i-- > 0;) work[next[static_cast<int>(order[i])]++] = base[i];
      std::memcpy(base, work, count * sizeof *base);
      if (sizes[0] <= sizes[2]) {
        sort_numbers(elements, first, sizes[0]);
        first += sizes[0] + sizes[1];
        count = sizes[2];
      } else {
        sort_numbers(elements, first + sizes[0] + sizes[1], sizes[2]);
        count = sizes[0];
      }
    }
  }
};

// The library's comparison sorts 16-byte keys instead of elements: eight
// bytes of each element, from the first position where the elements are
// not all the same byte, and the element's number. Positions before that
// one never decide, so the eight bytes decide whenever one of them does,
// and only then is the rest of the two elements compared. The partitions
// are those of MemorySorter, on keys (each pass writes into the other of
// two key buffers); each equal part is final, and its numbers go to
// `placed`, by which the elements are pushed back once at the end.
struct Keyed {
  uint64_t prefix;  // byte k of the eight in bits 8k .. 8k + 7
  uint32_t number;
};

struct KeyedSorter {
  const unsigned char *data;
  size_t size;
  size_t from;  // the first position where the elements differ
  Keyed *keys[2];
  signed char *order;
  uint32_t *placed;

  // The first position where some element differs from the first.
  static size_t common_length(const unsigned char *data, size_t count, size_t size) {
    size_t common = size;
    for (size_t i = 1; i < count && common > 0; ++i) {
      const unsigned char *e = data + i * size;
      size_t k = 0;
      while (k < common && e[k] == data[k]) ++k;
      common = k;
    }
    return common;
  }

  // Fills keys[0] with the key of every element.
  void make_keys(size_t count) {
    from = common_length(data, count, size);
    const size_t take = std::min<size_t>(8, size - from);
    for (size_t i = 0; i < count; ++i) {
      const unsigned char *e = data + i * size + from;
      uint64_t prefix = 0;
      for (size_t k = 0; k < take; ++k) prefix |= static_cast<uint64_t>(e[k]) << (8 * k);
      keys[0][i] = Keyed{prefix, static_cast<uint32_t>(i)};
    }
  }

  int compare(const Keyed &a, const Keyed &b) const {
    constexpr uint64_t kBlanks = 0x2020202020202020ULL, kHigh = 0x8080808080808080ULL;
    const uint64_t u = a.prefix, v = b.prefix;
    if (u != v) {
      const uint64_t same = zero_bytes(u ^ v);
      const uint64_t blank = zero_bytes(u ^ kBlanks) | zero_bytes(v ^ kBlanks);
      const uint64_t deciding = ~(same | blank) & kHigh;
      if (deciding != 0) {
        const int shift = std::countr_zero(deciding) - 7;
        return ((u >> shift) & 0xFF) < ((v >> shift) & 0xFF) ? -1 : 1;
      }
    }
    if (from + 8 >= size || a.number == b.number) return 0;
    const size_t rest = from + 8;
    return blank_compare(data + a.number * size + rest, data + b.number * size + rest,
                         static_cast<int>(size - rest));
  }

  void place(const Keyed *part, size_t first, size_t count) {
    for (size_t i = 0; i < count; ++i) placed[first + i] = part[i].number;
  }

  // Sorts keys [first, first + count) of keys[side].
  void sort(int side, size_t first, size_t count) {
    while (count > 1) {
      const Keyed *source = keys[side] + first;
      Keyed *target = keys[side ^ 1] + first;
      const Keyed pivot = source[count / 2 - 1];
      size_t sizes[3] = {0, 0, 0};
      for (size_t i = 0; i < count; ++i) {
        const int c = compare(source[i], pivot);
        order[i] = static_cast<signed char>(c > 0 ? 0 : c == 0 ? 1 : 2);
        ++sizes[static_cast<int>(order[i])];
      }
      size_t next[3] = {0, sizes[0], sizes[0] + sizes[1]};
      for (size_t i = count; i-- > 0;) target[next[static_cast<int>(order[i])]++] = source[i];
      place(target + sizes[0], first + sizes[0], sizes[1]);
      side ^= 1;
      if (sizes[0] <= sizes[2]) {
        sort(side, first, sizes[0]);
        first += sizes[0] + sizes[1];
        count = sizes[2];
      } else {
        sort(side, first + sizes[0] + sizes[1], sizes[2]);
        count = sizes[0];
      }
    }
    if (count == 1) place(keys[side] + first, first, 1);
  }
};

// Reads the stack's `count` elements into `data`; the stack service's code.
int read_all(const int *stack, int count, int size, unsigned char *data) {
  int rc = 0;
  for (int i = 1; rc == 0 && i <= count; ++i)
    gusrea(stack, &i, data + static_cast<size_t>(i - 1) * static_cast<size_t>(size), &rc);
  return rc;
}

// Sorts by keys with the library's comparison; as sort_in_memory.
bool sort_by_keys(const int *stack, int size, int count, int *rc) {
  const auto n = static_cast<size_t>(count), bytes = static_cast<size_t>(size);
  HostPtr<unsigned char> data(static_cast<unsigned char *>(gimaloc(n * bytes)));
  HostPtr<Keyed> keys(static_cast<Keyed *>(gimaloc(n * sizeof(Keyed))));
  HostPtr<Keyed> moved(static_cast<Keyed *>(gimaloc(n * sizeof(Keyed))));
  HostPtr<unsigned char> order(static_cast<unsigned char *>(gimaloc(n)));
  HostPtr<uint32_t> placed(static_cast<uint32_t *>(gimaloc(n * sizeof(uint32_t))));
  if (!data || !keys || !moved || !order || !placed) return false;
  ask_huge_pages(data.get(), n * bytes);
  ask_huge_pages(keys.get(), n * sizeof(Keyed));
  ask_huge_pages(moved.get(), n * sizeof(Keyed));
  if ((*rc = read_all(stack, count, size, data.get())) != 0) return true;
  KeyedSorter sorter{data.get(), bytes, 0, {keys.get(), moved.get()},
                     reinterpret_cast<signed char *>(order.get()), placed.get()};
  sorter.make_keys(n);
  sorter.sort(0, 0, n);
  gusemp(stack, rc);
  int pushed = 0;
  for (size_t i = 0; *rc == 0 && i < n; ++i)
    guspus(stack, data.get() + placed.get()[i] * bytes, &pushed, rc);
  return true;
}

// Sorts in work buffers: false (nothing changed) when they cannot be
// obtained; otherwise *rc is the stack service's code.
bool sort_in_memory(const int *stack, CgCompare compare, int size, int count, int *rc) {
  if (compare == cgcmpsrt) return sort_by_keys(stack, size, count, rc);
  const auto n = static_cast<size_t>(count), bytes = n * static_cast<size_t>(size);
  // Ranges that fit the cache are sorted by numbers: they need no more.
  const size_t near = std::min(n, kNearBytes / static_cast<size_t>(size) + 1);
  HostPtr<unsigned char> data(static_cast<unsigned char *>(gimaloc(bytes)));
  HostPtr<unsigned char> moved(static_cast<unsigned char *>(gimaloc(bytes)));
  HostPtr<unsigned char> pivot(static_cast<unsigned char *>(gimaloc(static_cast<size_t>(size))));
  HostPtr<uint32_t> numbers(static_cast<uint32_t *>(gimaloc(near * sizeof(uint32_t))));
  HostPtr<uint32_t> work(static_cast<uint32_t *>(gimaloc(near * sizeof(uint32_t))));
  HostPtr<unsigned char> order(static_cast<unsigned char *>(gimaloc(n)));
  if (!data || !moved || !pivot || !numbers || !work || !order) return false;
  if ((*rc = read_all(stack, count, size, data.get())) != 0) return true;
  MemorySorter sorter{compare,     size,          data.get(), moved.get(),
                                 pivot.get(), numbers.get(), work.get(),
                                 reinterpret_cast<signed char *>(order.get())};
  sorter.sort(0, n);
  gusemp(stack, rc);
  int pushed = 0;
  for (size_t i = 0; *rc == 0 && i < n; ++i)
    guspus(stack, data.get() + i * static_cast<size_t>(size), &pushed, rc);
  return true;
}

int sort_stack(const int *stack, CgCompare compare) {
  int size = 0, count = 0, rc = 0;
  gusinf(stack, &size, &count, &rc);
  if (rc != 0 || count <= 1 || sort_in_memory(stack, compare, size, count, &rc)) return rc;
  HostPtr<unsigned char> element(static_cast<unsigned char *>(gimaloc(static_cast<size_t>(size))));
  HostPtr<unsigned char> pivot(static_cast<unsigned char *>(gimaloc(static_cast<size_t>(size))));
  if (!element || !pivot) return PCS_GEN_NO_MEMORY;
  Sorter sorter{compare, size, element.get(), pivot.get()};
  rc = sorter.sort_into(stack, stack);
  return rc != 0 ? rc : sorter.end_rc;
}

}  // namespace
}  // namespace pcs::generic

extern "C" {

int cgcmpsrt(const void *a, const void *b, const int *length) {
  return pcs::generic::blank_compare(a, b, *length);
}

void cgsort(const int *stack, CgCompare compare, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::generic::sort_stack(stack, compare); });
}

}  // extern "C"
