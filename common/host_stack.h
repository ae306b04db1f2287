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

// One host stack that this object creates and ends: at the end of its scope,
// or at end(). A failure to end it is kept in *end_rc when one is given (and
// holds no earlier code).
class HostStack {
 public:
  HostStack() = default;
  explicit HostStack(int *end_rc) : end_rc_(end_rc) {}
  ~HostStack() { end(); }
  HostStack(const HostStack &) = delete;
  HostStack &operator=(const HostStack &) = delete;

  // Ends the stack held, then creates one of `entry_size`-byte entries: 0 or
  // the stack service's code.
  int create(int entry_size);
  // 0 or the stack service's code.
  int end();
  // Takes over other's stack (ending the one held).
  void adopt(HostStack &other);
  const int *get() const { return &handle; }
  // For services that create a stack: ends the one held, gives the slot.
  int *out() {
    end();
    return &handle;
  }
  int *ptr() { return &handle; }
  const int *ptr() const { return &handle; }
  explicit operator bool() const { return handle != 0; }
  // Hands the stack over: it is no longer ended here.
  int release() {
    const int held = handle;
    handle = 0;
    return held;
  }

  int handle = 0;

 private:
  int *end_rc_ = nullptr;
};

// Creates a stack of `entry_size`-byte entries in *slot: 0 or the stack
// service's code, with *slot 0 on failure.
int make_stack(int entry_size, int *slot);

// Pushes one entry; the stack service's code.
int push_entry(int stack, const void *entry);

}  // namespace pcs

#endif
