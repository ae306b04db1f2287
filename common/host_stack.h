// The one owner of host stacks an operation makes before it hands them to
// its caller: they are ended on every path that does not keep them.
#ifndef PCS_COMMON_HOST_STACK_H
#define PCS_COMMON_HOST_STACK_H

#include <array>
#include <cstddef>
#include <initializer_list>

namespace pcs {

// Ends the stack in *slot (if any) and sets the slot to 0; with
// `holds_parts` the part records it holds are released first.
void end_stack(int *slot, bool holds_parts = false);

// Ends the stacks whose ids stand in the given slots (0 = none) when it goes
// out of scope, unless kept; each ended slot is set to 0. With
// `holds_parts`, the stacks hold part record handles, which are released
// first.
class StackGuard {
 public:
  static constexpr size_t kMaxSlots = 8;  // slots beyond these are not owned

  explicit StackGuard(std::initializer_list<int *> slots, bool holds_parts = false);
  ~StackGuard();
  StackGuard(const StackGuard &) = delete;
  StackGuard &operator=(const StackGuard &) = delete;

  // Hands the stacks over: nothing is ended.
  void keep() { count_ = 0; }
  // Ends one stack now (end_stack without parts).
  static void release(int *slot) { end_stack(slot); }

 private:
  std::array<int *, kMaxSlots> slots_{};
  size_t count_ = 0;
  bool holds_parts_;
};

// The name the maintenance code gave this owner before it moved here; kept
// for the branches written against it.
using Stacks = StackGuard;

// Creates a stack of `entry_size`-byte entries in *slot: 0 or the stack
// service's code, with *slot 0 on failure.
int make_stack(int entry_size, int *slot);

// Pushes one entry; the stack service's code.
int push_entry(int stack, const void *entry);

}  // namespace pcs

#endif
