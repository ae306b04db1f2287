// The in-process host's own C++ interface for tests and tools: reset it,
// read its counters, inject failures and read back every reported error.
#ifndef PCS_HOST_INPROCESS_TESTING_H
#define PCS_HOST_INPROCESS_TESTING_H

#include <cstddef>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace pcs::host {

// Clears failure injection, the recorded reports and the error context;
// releases every stack still open. Memory counters start from zero again
// only when no block is live.
PCS_HOST_API void reset();

struct MemoryStats {
  long live_blocks = 0;   // blocks obtained and not yet released
  long live_bytes = 0;
  long peak_bytes = 0;    // the most bytes live at once since reset
  long allocations = 0;   // successful allocations since reset
  long injected = 0;      // allocations failed on purpose since reset
};
PCS_HOST_API MemoryStats memory();
// Released small blocks the calling thread keeps for reuse; -1 in builds
// that keep none (AddressSanitizer).
PCS_HOST_API long cached_blocks();

// Makes the nth allocation from now fail (1 = the next one). With
// `from_then_on`, every later allocation fails too, until cleared.
PCS_HOST_API void fail_allocation(long nth, bool from_then_on = false);
PCS_HOST_API void clear_allocation_failure();

// One call of gueror, with the message set selected and the parameters given
// (guepar) since the previous report.
struct Report {
  std::string message_set;
  int code = 0;
  std::vector<std::string> parameters;
};
PCS_HOST_API const std::vector<Report> &reports();
PCS_HOST_API void clear_reports();
// Echo every report to standard error as "<set> <code>: <text> [params]".
PCS_HOST_API void echo_reports(bool on);
// When set, gueuse answers "do not report" for the given message set.
PCS_HOST_API void suppress_reports(bool on);
// The current error action (gueact) and message set (gueuse).
PCS_HOST_API int error_action();
PCS_HOST_API std::string message_set();
// Number of calls of guerjo since reset.
PCS_HOST_API long rejected_lookups();

// Stacks still open (created and not ended).
PCS_HOST_API int live_stacks();
// Makes the nth stack operation (gusini/guspus/gusrea/...) from now fail with
// `code` (1 = the next one).
PCS_HOST_API void fail_stack_call(long nth, int code);
// Stack calls failed on purpose since reset.
PCS_HOST_API long stack_calls_injected();

// Text of a result code from the library's code table ("" when unknown).
PCS_HOST_API const char *code_text(int code);
// Name of a result code's constant ("PCS_NO_GROUP"), or the number.
PCS_HOST_API std::string code_name(int code);

}  // namespace pcs::host

#endif
