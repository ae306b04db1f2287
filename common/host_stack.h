// The one owner of host stacks an operation makes before it hands them to
// its caller: they are ended on every path that does not hand them over.
#ifndef PCS_COMMON_HOST_STACK_H
#define PCS_COMMON_HOST_STACK_H

namespace pcs {

// Ends the stack in *slot (if any) and sets the slot to 0; with
// `holds_parts` the part records it holds are released first.
void end_stack(int *slot, bool holds_parts = false);

// One host stack that this object creates and ends: at the end of its scope,
// or at end(), unless handed over with release(). A stack that holds part
// record handles has its parts released first. A failure to end it is kept
// in *end_rc when one is given (and holds no earlier code).
class HostStack {
 public:
  enum class Holds { entries, parts };

  HostStack() = default;
  explicit HostStack(int *end_rc) : end_rc_(end_rc) {}
  explicit HostStack(Holds holds) : holds_parts_(holds == Holds::parts) {}
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
  bool holds_parts_ = false;
};

// Creates a stack of `entry_size`-byte entries in *slot: 0 or the stack
// service's code, with *slot 0 on failure.
int make_stack(int entry_size, int *slot);

// Pushes one entry; the stack service's code.
int push_entry(int stack, const void *entry);

}  // namespace pcs

#endif
