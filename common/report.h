// Reporting a result code through the host error reporter with the
// library's message set, and the guard every entry point runs inside.
#ifndef PCS_COMMON_REPORT_H
#define PCS_COMMON_REPORT_H

#include <new>

#include "include/pcs.h"

namespace pcs {

// Reports a non-zero code with message set "TW3CXERR": saves the host's
// error context, selects the set, reports (with `name`, 8 bytes, as the one
// text parameter when given) unless the host says not to, and restores the
// saved set. A zero code reports nothing.
void report(int rc, const char *name = nullptr);

// Switches the host's error action to 0 for the lifetime of the object and
// restores the previous action afterwards.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors &) = delete;
  QuietErrors &operator=(const QuietErrors &) = delete;

 private:
  int saved_ = 0;
};

// Runs `body` so that no exception leaves an entry point: an exhausted
// allocation inside the C++ runtime becomes `no_memory` (the family's
// no-memory code) in *rc, anything else PCS_INTERNAL_ERROR.
template <class Body>
void guarded(int *rc, int no_memory, Body &&body) noexcept {
  try {
    body();
  } catch (const std::bad_alloc &) {
    if (rc) *rc = no_memory;
  } catch (...) {
    if (rc) *rc = PCS_INTERNAL_ERROR;
  }
}

// The same for entry points that return a value: `failed` on an exception.
template <class T, class Body>
T guarded_value(T failed, Body &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return failed;
  }
}

}  // namespace pcs

#endif
