// Memory advice for large work blocks.
#include <sys/mman.h>

#include <cstdint>

#include "common/memory.h"

namespace pcs {

void ask_huge_pages(void *bytes, size_t size) {
  constexpr size_t kHugePage = size_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(bytes);
  const uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
  const uintptr_t end = (start + size) / kHugePage * kHugePage;
  if (end > first) madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace pcs
