// csgputip: writes the parts of a host stack back over the catalog records
// of a key, in place. Every part is checked against the record it replaces
// before the first byte is written, so a refused rewrite leaves all records
// of the key as they were.
#include <cstdio>

#include "catalog/catalog.h"
#include "common/report.h"

namespace pcs {
namespace {

void debug_failed(int code) {
  std::fflush(nullptr);
  std::fprintf(stderr, "\nDebug Failed: %s, line %u", "csgputip", 503u);
  std::fprintf(stderr, " return code =%d\n", code);
  std::fflush(stderr);
}

int rewrite_code(int rc) { return rc == 0 ? 0 : rc == 1 ? 1 : 3; }

// One pass over the key's records: with `write` false it only checks that
// every part is there and fits its record.
int put_run(CatalogHandle *catalog, const IndexHeader &header, int32_t count, int32_t first,
            int stack, bool write) {
  for (int32_t k = 1; k <= count; ++k) {
    int32_t data = 0;
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return 2;
    PartRecord *part = nullptr;
    int rc = 0, number = k;
    gusrea(&stack, &number, &part, &rc);
    if (rc != 0) {
      debug_failed(rc);
      return rc;
    }
    RecordHead head{};
    bool fits = read_record_head(catalog->CatalogFile, data, &head) &&
                catalog::record_size(part) <= head.length;
    if (write || !fits) {
      int offset = data;
      csgrewrt(&offset, &part, catalog->CatalogFile, &rc);
      if (rc != 0) return rewrite_code(rc);
    }
  }
  return 0;
}

int put_all(CatalogHandle *catalog, const char *key, int stack) {
  IndexHeader header{};
  int32_t count = 0, first = 0;
  if (!catalog || !key || !read_index_header(catalog->IndexFile, &header) ||
      !index_lookup(catalog->IndexFile, header, key, &count, &first))
    return 2;
  int size = 0, entries = 0, rc = 0;
  gusinf(&stack, &size, &entries, &rc);
  if (rc == 0 && size != PCS_HANDLE_SIZE) return 3;  // not a stack of part handles
  rc = put_run(catalog, header, count, first, stack, false);
  return rc != 0 ? rc : put_run(catalog, header, count, first, stack, true);
}

}  // namespace
}  // namespace pcs

extern "C" PCS_API void csgputip(CatalogHandle **catalog, const char *key, const int *stack,
                                 int *rc) {
  pcs::guarded(rc, 3, [&] { *rc = pcs::put_all(catalog ? *catalog : nullptr, key, *stack); });
}
