// Sorting host stacks: the key comparison in which a blank matches any byte
// (cgcmpsrt) and the three-way quicksort that leaves the greatest element
// at position 1 (cgsort).
//
// Both forms of the sort recurse only into the smaller of the greater and
// less parts and loop on the larger one, so their depth stays below log2 of
// the count. The stack's elements are normally sorted in one work buffer
// (the partition order is the same, without a host stack call per element
// and level); when that buffer cannot be obtained, the sort partitions host
// stacks. There, when the greater part is the larger, the sorted equal and
// less parts must follow it: they are kept, in reverse, in a suffix stack
// that is drained onto the output once the loop ends.
#include <cstdint>
#include <cstring>

#include "common/host_stack.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

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

// The same partitions over `count` elements in memory, done on their
// numbers: each pass visits the elements from the last to the first, as
// popping does, and lays their numbers out as greater, equal, less. The
// elements themselves never move; they go back to the stack once, in the
// final order.
struct MemorySorter {
  CgCompare compare;
  int size;
  const unsigned char *data;
  uint32_t *numbers;
  uint32_t *work;
  signed char *order;

  const unsigned char *element(uint32_t number) const { return data + size_t{number} * size; }

  void sort(size_t first, size_t count) {
    while (count > 1) {
      uint32_t *base = numbers + first;
      const unsigned char *pivot = element(base[count / 2 - 1]);
      size_t sizes[3] = {0, 0, 0};
      for (size_t i = 0; i < count; ++i) {
        const int c = compare(element(base[i]), pivot, &size);
        order[i] = static_cast<signed char>(c > 0 ? 0 : c == 0 ? 1 : 2);
        ++sizes[static_cast<int>(order[i])];
      }
      size_t next[3] = {0, sizes[0], sizes[0] + sizes[1]};
      for (size_t i = count; i-- > 0;) work[next[static_cast<int>(order[i])]++] = base[i];
      std::memcpy(base, work, count * sizeof *base);
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
};

// Sorts in one work buffer: false (nothing changed) when it cannot be
// obtained; otherwise *rc is the stack service's code.
bool sort_in_memory(const int *stack, CgCompare compare, int size, int count, int *rc) {
  const auto n = static_cast<size_t>(count), bytes = n * static_cast<size_t>(size);
  HostPtr<unsigned char> data(static_cast<unsigned char *>(gimaloc(bytes)));
  HostPtr<uint32_t> numbers(static_cast<uint32_t *>(gimaloc(n * sizeof(uint32_t))));
  HostPtr<uint32_t> work(static_cast<uint32_t *>(gimaloc(n * sizeof(uint32_t))));
  HostPtr<unsigned char> order(static_cast<unsigned char *>(gimaloc(n)));
  if (!data || !numbers || !work || !order) return false;
  for (int i = 1; *rc == 0 && i <= count; ++i)
    gusrea(stack, &i, data.get() + static_cast<size_t>(i - 1) * size, rc);
  if (*rc != 0) return true;
  for (size_t i = 0; i < n; ++i) numbers.get()[i] = static_cast<uint32_t>(i);
  MemorySorter sorter{compare, size, data.get(), numbers.get(), work.get(),
                      reinterpret_cast<signed char *>(order.get())};
  sorter.sort(0, n);
  gusemp(stack, rc);
  int pushed = 0;
  for (size_t i = 0; *rc == 0 && i < n; ++i)
    guspus(stack, data.get() + size_t{numbers.get()[i]} * size, &pushed, rc);
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
  const auto *x = static_cast<const unsigned char *>(a);
  const auto *y = static_cast<const unsigned char *>(b);
  int i = 0;
  // Equal words decide nothing, whatever blanks they hold: skip them.
  for (uint64_t u, v; i + 8 <= *length; i += 8) {
    std::memcpy(&u, x + i, 8);
    std::memcpy(&v, y + i, 8);
    if (u != v) break;
  }
  for (; i < *length; ++i) {
    if (x[i] == ' ' || y[i] == ' ' || x[i] == y[i]) continue;
    return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

void cgsort(const int *stack, CgCompare compare, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::generic::sort_stack(stack, compare); });
}

}  // extern "C"
