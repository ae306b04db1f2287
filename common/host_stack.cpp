// Host stacks owned until handed over: HostStack and its helpers.
#include "common/host_stack.h"

#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs {

namespace {

// Releases the part records a stack of part record handles holds.
void release_parts(int stack) {
  if (stack == 0) return;
  int size = 0, count = 0, rc = 0;
  gusinf(&stack, &size, &count, &rc);
  for (int i = 1; rc == 0 && i <= count; ++i) {
    PartRecord *part = nullptr;
    gusrea(&stack, &i, &part, &rc);
    if (rc == 0 && part) cspgfre(part);
  }
}

}  // namespace

void end_stack(int *slot, bool holds_parts) {
  if (!slot || *slot == 0) return;
  if (holds_parts) release_parts(*slot);
  int rc = 0;
  gusend(slot, &rc);
  *slot = 0;
}

int HostStack::create(int entry_size) {
  end();
  return make_stack(entry_size, &handle);
}

int HostStack::end() {
  int rc = 0;
  if (holds_parts_) release_parts(handle);
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
