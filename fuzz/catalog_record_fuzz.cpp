// Arbitrary bytes as a catalog file: walk it record by record as the
// readers do, read every record, scan it with cspgkey, and check that
// nothing stays allocated.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  pcs::host::suppress_reports(true);
  const long blocks = pcs::host::memory().live_blocks;
  FILE *file = pcs::fuzz::load(data, size);
  for (long offset = 0; offset < static_cast<long>(size);) {
    int length = 0, rc = 0;
    PartRecord *part = cspgetrc(file, static_cast<int>(offset), &length, &rc);
    if ((part != nullptr) != (rc == 0)) std::abort();
    if (part) cspgfre(part);
    if (length <= 0) break;
    offset += length;
  }
  int stack = 0, rc = 0, value_size = 8;
  gusini(&value_size, &stack, &rc);
  FILE *stream = file;
  cspgkey(&stream, &value_size, "PART    ", "NAME    ", &stack, &rc);
  gusend(&stack, &rc);
  if (pcs::host::memory().live_blocks != blocks || pcs::host::live_stacks() != 0) std::abort();
  return 0;
}
