// A generic part record read at a position: the first two bytes give the
// position, the rest is the file. cggget must answer 0 with a part or one
// of its codes without one, never read outside the file or its buffer, and
// leave no memory behind once the part is released.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pcs::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  int position = (data[0] << 8 | data[1]) - 2;
  FILE *file = pcs::fuzz::load(data + 2, size - 2);
  CgGroup *part = nullptr;
  int length = 0, rc = -1;
  cggget(&file, &position, &length, &part, &rc);
  const bool known = rc == 0 || rc == PCS_INPUT_ENDED || rc == PCS_AT_END ||
                     rc == PCS_RECORD_DELETED || rc == PCS_GEN_NO_MEMORY;
  if (!known || (rc != 0 && part)) std::abort();
  for (CgGroup *g = part; g; g = g->next) {
    int count = 0;
    for (CgAttribute *a = g->attributes; a; a = a->next) ++count;
    if (count != g->attributeCount) std::abort();
  }
  cggfre(part);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
