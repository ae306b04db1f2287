// A generic part record read at a position: the first two bytes give the
// position, the rest is the file. cggget must answer 0 with a part or one
// of its codes without one, never read outside the file or its buffer, and
// leave no memory behind once the part is released.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pcs::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return pcs::fuzz::read_at_position(data, size, [](FILE *file, int *position) {
    CgGroup *part = nullptr;
    int length = 0, rc = -1;
    cggget(&file, position, &length, &part, &rc);
    const bool known = rc == 0 || rc == PCS_INPUT_ENDED || rc == PCS_AT_END ||
                       rc == PCS_RECORD_DELETED || rc == PCS_GEN_NO_MEMORY;
    if (!known || (rc != 0 && part)) std::abort();
    for (CgGroup *g = part; g; g = g->next) {
      int count = 0;
      for (CgAttribute *a = g->attributes; a; a = a->next) ++count;
      if (count != g->attributeCount) std::abort();
    }
    cggfre(part);
  });
}
