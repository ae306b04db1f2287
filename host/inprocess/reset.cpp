// Resetting the in-process host between tests.
#include "host/inprocess/host_state.h"
#include "host/inprocess/testing.h"

namespace pcs::host {

void reset() {
  state::reset_stacks();
  state::reset_memory();
  state::reset_errors();
}

}  // namespace pcs::host
