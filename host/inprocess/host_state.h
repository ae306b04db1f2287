// State shared between the in-process host's service families: each family
// keeps its own state in its source file and offers a reset to host::reset.
#ifndef PCS_HOST_STATE_H
#define PCS_HOST_STATE_H

namespace pcs::host::state {

void reset_memory();
void reset_stacks();
void reset_errors();

}  // namespace pcs::host::state

#endif
