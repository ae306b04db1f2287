// One group rebuilt from a caller's buffer: the first four bytes give the
// group header offset (any value), the rest is the buffer. cggtagrp must
// stay inside the buffer and leave a group whose chain it can release.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "generic/generic_parts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  int offset = 0;
  std::memcpy(&offset, data, 4);
  // A buffer of exactly the remaining bytes, so reading past it is caught.
  const int length = static_cast<int>(size - 4);
  auto *buffer = static_cast<uint8_t *>(std::malloc(size - 4 + 1));
  std::memcpy(buffer, data + 4, size - 4);
  CgGroup group{};
  int rc = 0;
  cggtagrp(buffer, &length, &offset, &group, &rc);
  std::free(buffer);
  if (rc != 0 && rc != PCS_INPUT_ENDED && rc != PCS_GEN_NO_MEMORY) std::abort();
  pcs::generic::free_attributes(group.attributes);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
