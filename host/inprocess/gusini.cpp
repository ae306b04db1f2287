// Host stacks (gus*): entries of one size in contiguous host memory that
// doubles as it fills, named by 32-bit handles into a table of stacks.
//
// A handle is the table slot + 1 in its low 20 bits and the slot's
// generation above them, so the handle of a released stack stays invalid
// when its slot is reused. Handle 0 is never valid.
#include <climits>
#include <cstring>
#include <vector>

#include "host/inprocess/host_state.h"
#include "host/inprocess/testing.h"

namespace pcs::host {
namespace {

constexpr int kSlotBits = 20;
constexpr int kMaxSlots = (1 << kSlotBits) - 1;
constexpr unsigned kGenerations = 1u << (31 - kSlotBits);
constexpr size_t kFirstBytes = 256;

struct Stack {
  size_t entry_size;
  int count;
  int capacity;
  unsigned char *data;
};

struct Slot {
  Stack *stack = nullptr;
  unsigned generation = 0;
};

std::vector<Slot> slots;
std::vector<int> free_slots;
int open_stacks = 0;

struct StackInjector {
  long countdown = 0;
  int code = 0;
  long injected = 0;
};
StackInjector injector;

// True (and *rc set) when this stack call is failed on purpose.
bool inject(int *rc) {
  if (injector.countdown == 0 || --injector.countdown != 0) return false;
  ++injector.injected;
  if (rc) *rc = injector.code;
  return true;
}

int handle_of(int slot) {
  return static_cast<int>(slots[slot].generation << kSlotBits) | (slot + 1);
}

Stack *find(const int *handle) {
  if (!handle || *handle <= 0) return nullptr;
  int slot = (*handle & kMaxSlots) - 1;
  if (slot < 0 || slot >= static_cast<int>(slots.size())) return nullptr;
  if (handle_of(slot) != *handle) return nullptr;
  return slots[slot].stack;
}

// The stack a call names; null, with *rc set, when the call is failed on
// purpose or the handle names no open stack.
Stack *called_stack(const int *stack, int *rc) {
  if (inject(rc)) return nullptr;
  Stack *target = find(stack);
  if (!target) *rc = PCS_GUS_BAD_HANDLE;
  return target;
}

void release(int slot) {
  Stack *stack = slots[slot].stack;
  gifree(stack->data);
  gifree(stack);
  slots[slot].stack = nullptr;
  slots[slot].generation = (slots[slot].generation + 1) % kGenerations;
  free_slots.push_back(slot);
  --open_stacks;
}

// Finds a free table slot; -1 when the table is full or cannot grow.
int take_slot() {
  try {
    free_slots.reserve(slots.size() + 1);
    if (!free_slots.empty()) {
      int slot = free_slots.back();
      free_slots.pop_back();
      return slot;
    }
    if (static_cast<int>(slots.size()) >= kMaxSlots) return -1;
    slots.emplace_back();
    return static_cast<int>(slots.size()) - 1;
  } catch (...) {
    return -1;
  }
}

// Makes room for one more entry; false when memory fails.
bool grow(Stack *stack) {
  if (stack->count < stack->capacity) return true;
  size_t capacity = stack->capacity ? static_cast<size_t>(stack->capacity) * 2
                                    : (kFirstBytes + stack->entry_size - 1) / stack->entry_size;
  if (capacity > INT_MAX) capacity = INT_MAX;
  if (capacity <= static_cast<size_t>(stack->count)) return false;
  if (capacity > static_cast<size_t>(-1) / stack->entry_size) return false;
  void *data = girealoc(stack->data, capacity * stack->entry_size);
  if (!data) return false;
  stack->data = static_cast<unsigned char *>(data);
  stack->capacity = static_cast<int>(capacity);
  return true;
}

unsigned char *entry(Stack *stack, int number) {
  return stack->data + static_cast<size_t>(number - 1) * stack->entry_size;
}

}  // namespace

namespace state {
void reset_stacks() {
  for (int slot = 0; slot < static_cast<int>(slots.size()); ++slot) {
    if (slots[slot].stack) release(slot);
  }
  injector = StackInjector{};
}
}  // namespace state

int live_stacks() { return open_stacks; }

void fail_stack_call(long nth, int code) {
  injector.countdown = nth > 0 ? nth : 0;
  injector.code = code;
}

long stack_calls_injected() { return injector.injected; }

}  // namespace pcs::host

using namespace pcs::host;

extern "C" {

void gusini(const int *entry_size, int *stack, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (stack) *stack = 0;
  if (inject(rc)) return;
  if (!entry_size || !stack) {
    *rc = PCS_GUS_BAD_ARGUMENT;
    return;
  }
  if (*entry_size < 1) {
    *rc = PCS_GUS_BAD_SIZE;
    return;
  }
  Stack *created = static_cast<Stack *>(gimaloc(sizeof(Stack)));
  int slot = created ? take_slot() : -1;
  if (slot < 0) {
    gifree(created);
    *rc = PCS_GUS_NO_MEMORY;
    return;
  }
  *created = Stack{static_cast<size_t>(*entry_size), 0, 0, nullptr};
  slots[slot].stack = created;
  ++open_stacks;
  *stack = handle_of(slot);
  *rc = 0;
}

// On failure the stack and *count are unchanged.
void guspus(const int *stack, const void *item, int *count, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  Stack *target = called_stack(stack, rc);
  if (!target) return;
  if (!item) {
    *rc = PCS_GUS_BAD_ARGUMENT;
  } else if (!grow(target)) {
    *rc = PCS_GUS_NO_MEMORY;
  } else {
    std::memcpy(entry(target, ++target->count), item, target->entry_size);
    if (count) *count = target->count;
    *rc = 0;
  }
}

// *empty is set on every failure too, so a pop loop that forgets rc ends.
void guspop(const int *stack, void *buffer, int *empty, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (empty) *empty = 1;
  Stack *target = called_stack(stack, rc);
  if (!target) return;
  if (target->count > 0 && !buffer) {
    *rc = PCS_GUS_BAD_ARGUMENT;
  } else {
    if (target->count > 0) {
      std::memcpy(buffer, entry(target, target->count--), target->entry_size);
      if (empty) *empty = 0;
    }
    *rc = 0;
  }
}

void gusrea(const int *stack, const int *index, void *buffer, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  Stack *target = called_stack(stack, rc);
  if (!target) return;
  if (!index || *index < 1 || *index > target->count) {
    *rc = PCS_GUS_BAD_INDEX;
  } else if (!buffer) {
    *rc = PCS_GUS_BAD_ARGUMENT;
  } else {
    std::memcpy(buffer, entry(target, *index), target->entry_size);
    *rc = 0;
  }
}

// Both outputs are 0 on failure.
void gusinf(const int *stack, int *entry_size, int *count, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (entry_size) *entry_size = 0;
  if (count) *count = 0;
  Stack *target = called_stack(stack, rc);
  if (!target) return;
  if (entry_size) *entry_size = static_cast<int>(target->entry_size);
  if (count) *count = target->count;
  *rc = 0;
}

// Keeps the stack's storage for the entries pushed next.
void gusemp(const int *stack, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  Stack *target = called_stack(stack, rc);
  if (!target) return;
  target->count = 0;
  *rc = 0;
}

void gusend(const int *stack, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (!called_stack(stack, rc)) return;
  release((*stack & kMaxSlots) - 1);
  *rc = 0;
}

}  // extern "C"
