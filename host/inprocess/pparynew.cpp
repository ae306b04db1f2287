// Pointer arrays (ppary*): a slot count followed by the slots, in one block
// of host memory. Slots start null.
#include <cstddef>

#include "host/host_services.h"

namespace {

struct alignas(void *) Array {
  int slots;
};

Array *array_of(void *handle) { return static_cast<Array *>(handle); }

void **slots_of(void *handle) { return reinterpret_cast<void **>(array_of(handle) + 1); }

bool in_range(void *array, int slot) {
  return array && slot >= 0 && slot < array_of(array)->slots;
}

}  // namespace

extern "C" {

// Null for a negative count or when memory fails.
void *pparynew(int slots) {
  if (slots < 0) return nullptr;
  size_t bytes = sizeof(Array) + static_cast<size_t>(slots) * sizeof(void *);
  Array *array = static_cast<Array *>(gicaloc(1, bytes));
  if (array) array->slots = slots;
  return array;
}

// A slot out of range is ignored.
void pparystr(void *array, int slot, void *pointer) {
  if (in_range(array, slot)) slots_of(array)[slot] = pointer;
}

// Null for a slot out of range.
void *pparyget(void *array, int slot) {
  return in_range(array, slot) ? slots_of(array)[slot] : nullptr;
}

int pparysiz(void *array) { return array ? array_of(array)->slots : 0; }

void pparyfre(void *array) { gifree(array); }

}  // extern "C"
