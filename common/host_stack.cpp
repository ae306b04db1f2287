// Host stacks owned until handed over: StackGuard and its helpers.
#include "common/host_stack.h"

#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs {

StackGuard::StackGuard(std::initializer_list<int *> slots, bool holds_parts)
    : holds_parts_(holds_parts) {
  for (int *slot : slots)
    if (count_ < kMaxSlots) slots_[count_++] = slot;
}

StackGuard::~StackGuard() {
  for (size_t i = 0; i < count_; ++i) end_stack(slots_[i], holds_parts_);
}

void end_stack(int *slot, bool holds_parts) {
  if (!slot || *slot == 0) return;
  int size = 0, count = 0, rc = 0;
  if (holds_parts) gusinf(slot, &size, &count, &rc);
  for (int i = 1; holds_parts && rc == 0 && i <= count; ++i) {
    PartRecord *part = nullptr;
    gusrea(slot, &i, &part, &rc);
    if (rc == 0 && part) cspgfre(part);
  }
  gusend(slot, &rc);
  *slot = 0;
}

int HostStack::create(int entry_size) {
  end();
  return make_stack(entry_size, &handle);
}

int HostStack::end() {
  int rc = 0;
  if (handle != 0) gusend(&handle, &rc);
  handle = 0;
  if (rc != 0 && end_rc_ && *end_rc_ == 0) *end_rc_ = rc;
  return rc;
}

void HostStack::adopt(HostStack &other) {
  end();
  handle = other.handle;
  other.handle = 0;
}

int make_stack(int entry_size, int *slot) {
  int rc = 0;
  *slot = 0;
  gusini(&entry_size, slot, &rc);
  if (rc != 0) *slot = 0;
  return rc;
}

int push_entry(int stack, const void *entry) {
  int count = 0, rc = 0;
  guspus(&stack, entry, &count, &rc);
  return rc;
}

}  // namespace pcs
