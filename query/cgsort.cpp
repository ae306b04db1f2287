// cgsort: the three-way quicksort of a host stack (greater, equal, less, so
// keys descend from entry 1) and cgcmpsrt, its comparison in which a blank
// matches any byte. Partitions wait in a work list instead of the machine
// stack, so no input can make the sort recurse deeply.
#include <vector>

#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs::query {
namespace {

// A stack still to be handled: sorted, or moved as it is, onto the result.
struct Pending {
  int stack;
  bool sort;
};

class StackSort {
 public:
  StackSort(int target, PcsStackCompare compare, int size, unsigned char *element,
            unsigned char *pivot)
      : target_(target), compare_(compare), size_(size), element_(element), pivot_(pivot) {}
  ~StackSort() {
    for (const Pending &p : work_) end(p.stack);
  }
  StackSort(const StackSort &) = delete;
  StackSort &operator=(const StackSort &) = delete;

  int run() {
    if (int rc = partition(target_, 0)) return rc;
    while (!work_.empty()) {
      const Pending next = work_.back();
      work_.pop_back();
      int rc = 0, count = 0;
      gusinf(&next.stack, &size_, &count, &rc);
      if (rc == 0) rc = next.sort && count > 1 ? partition(next.stack, count) : move(next.stack, count);
      end(next.stack);
      if (rc != 0) return rc;
    }
    return 0;
  }

 private:
  static void end(int stack) {
    int ignored = 0;
    gusend(&stack, &ignored);
  }

  // Pops every entry of `from` onto less, equal or greater by the pivot at
  // count / 2, and queues them so that greater comes out first.
  int partition(int from, int count) {
    int rc = 0, size = size_;
    if (count == 0) gusinf(&from, &size, &count, &rc);
    const int middle = count / 2;
    if (rc == 0) gusrea(&from, &middle, pivot_, &rc);
    int parts[3] = {0, 0, 0};  // less, equal, greater
    for (int &part : parts) {
      if (rc == 0) gusini(&size, &part, &rc);
      if (part != 0) work_.push_back({part, &part != &parts[1]});
    }
    for (int empty = 0, pushed = 0; rc == 0;) {
      guspop(&from, element_, &empty, &rc);
      if (rc != 0 || empty != 0) break;
      const int order = compare_(element_, pivot_, &size_);
      guspus(&parts[order < 0 ? 0 : order == 0 ? 1 : 2], element_, &pushed, &rc);
    }
    return rc;
  }

  int move(int from, int count) {
    int rc = 0, pushed = 0;
    for (int i = 1; i <= count && rc == 0; ++i) {
      gusrea(&from, &i, element_, &rc);
      if (rc == 0) guspus(&target_, element_, &pushed, &rc);
    }
    return rc;
  }

  int target_;
  PcsStackCompare compare_;
  int size_;
  unsigned char *element_, *pivot_;
  std::vector<Pending> work_;
};

int sort_stack(int stack, PcsStackCompare compare) {
  int size = 0, count = 0, rc = 0;
  gusinf(&stack, &size, &count, &rc);
  if (rc != 0 || count < 2) return rc;
  HostPtr<unsigned char> element = host_buffer(size_t(size)), pivot = host_buffer(size_t(size));
  if (!element || !pivot) return PCS_GEN_NO_MEMORY;
  StackSort sort(stack, compare, size, element.get(), pivot.get());
  return sort.run();
}

}  // namespace
}  // namespace pcs::query

extern "C" PCS_API int cgcmpsrt(const void *first, const void *second, const int *length) {
  const auto *a = static_cast<const unsigned char *>(first);
  const auto *b = static_cast<const unsigned char *>(second);
  for (int i = 0; i < *length; ++i)
    if (a[i] != ' ' && b[i] != ' ' && a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

extern "C" PCS_API void cgsort(int *stack, PcsStackCompare compare, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::query::sort_stack(*stack, compare); });
}
