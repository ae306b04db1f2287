// cspgtnky: the key that follows a given key in index order, for walking
// every key of an index.
#include <cstdio>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

bool all_blank(const char *key, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (key[i] != ' ') return false;
  return true;
}

// The message of a key that is not in the index. Everything buffered goes
// out first so that the message stands where it happened.
void assert_failed() {
  std::fflush(nullptr);
  std::fprintf(stderr, "\nAssert Failed: %s, line %u\n", "cspgtnky", 180u);
  std::fflush(stderr);
}

int next_key(CatalogHandle *catalog, const char *key, char *next) {
  IndexHeader header{};
  if (!catalog || !key || !read_index_header(catalog->IndexFile, &header)) return PCS_INDEX_NO_KEY;
  int64_t position = PCS_INDEX_HEADER;
  const bool from_start = all_blank(key, header.key_length);
  if (!from_start) {
    int32_t count = 0, first = 0;
    if (!index_lookup(catalog->IndexFile, header, key, &count, &first)) {
      assert_failed();
      return PCS_INDEX_NO_KEY;
    }
    position = int64_t{first} + int64_t{count} * header.record_length();
  }
  if (!header.is_record(position)) return PCS_INDEX_NO_KEY;
  char buffer[kIndexRecordMax];
  size_t k = static_cast<size_t>(header.key_length);
  if (io::read_direct(catalog->IndexFile, position + 28, buffer, k) != k) return PCS_INDEX_NO_KEY;
  // In an unsorted or damaged index the next key may not be greater: no
  // next key then, so a walk from key to key always ends.
  if (!from_start && std::memcmp(buffer, key, k) <= 0) return PCS_INDEX_NO_KEY;
  std::memcpy(next, buffer, k);
  return 0;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" PCS_API void cspgtnky(CatalogHandle **catalog, const char *key, char *next_key,
                                 int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] { *rc = pcs::catalog::next_key(catalog ? *catalog : nullptr, key, next_key); });
}
