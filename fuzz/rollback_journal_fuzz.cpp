// Arbitrary bytes as the rollback journal of a 256-byte catalog: applying
// it may only put bytes inside the catalog, never change its size, and must
// leave no journal behind.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalog/catalog.h"
#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  static const std::string catalog = pcs::fuzz::scratch("journal-catalog");
  static const std::string journal = catalog + "-journal";
  static const std::string bytes(256, 'c');
  pcs::fuzz::save(catalog, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  pcs::fuzz::save(journal, data, size);
  if (!pcs::recover_catalog(catalog.c_str())) std::abort();
  struct stat status {};
  if (stat(catalog.c_str(), &status) != 0 || status.st_size != 256) std::abort();
  if (stat(journal.c_str(), &status) == 0) std::abort();
  if (pcs::host::memory().live_blocks != 0) std::abort();
  return 0;
}
