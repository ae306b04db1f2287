// A keyed record read at a position: the first two bytes give the position,
// the rest is the file. cspgtr must answer 0 with a list, or a code without
// one, and never read outside the file or its buffer.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return pcs::fuzz::read_at_position(data, size, [](FILE *file, int *position) {
    KeyedGroup *list = nullptr;
    int length = 0, rc = -1;
    cspgtr(&file, position, &length, &list, &rc);
    if (rc < 0 || rc > 7 || (rc != 0 && list)) std::abort();
    for (KeyedGroup *g = list; g; g = g->NextGroup) {
      int count = 0;
      for (KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr) ++count;
      if (count != g->AttrCount) std::abort();
    }
    cspfre(&list);
  });
}
