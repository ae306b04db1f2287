// A generic part file held in memory, walked record by record as the
// selection indexes it: read_part over the image must stay inside it,
// report a documented code, and leave nothing allocated once each part is
// released; a record it reads must carry a length that moves on.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "generic/generic_parts.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  // An image of exactly the input's bytes, so reading past it is caught.
  auto *image = static_cast<unsigned char *>(std::malloc(size + 1));
  if (size > 0) std::memcpy(image, data, size);
  const pcs::ByteView view(image, size);
  for (int64_t position = 0; position < static_cast<int64_t>(size);) {
    CgGroup *part = nullptr;
    int32_t length = 0;
    const int rc = pcs::generic::read_part(view, position, &length, &part);
    cggfre(part);
    if (rc != 0 && rc != PCS_RECORD_DELETED && rc != PCS_INPUT_ENDED && rc != PCS_GEN_NO_MEMORY)
      std::abort();
    if (rc == PCS_INPUT_ENDED || rc == PCS_GEN_NO_MEMORY) break;
    if (length <= 0) std::abort();
    position += length;
  }
  std::free(image);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
