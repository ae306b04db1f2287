// csgputip: writes the parts of a host stack back over the catalog records
// of a key, in place. Every part is checked against the record it replaces
// before the first byte is written, and all are written under one rollback
// journal, so a refused or interrupted rewrite leaves all records of the
// key as they were.
#include <cstdio>

#include "catalog/catalog.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

void debug_failed(int code) {
  std::fflush(nullptr);
  std::fprintf(stderr, "\nDebug Failed: %s, line %u", "csgputip", 503u);
  std::fprintf(stderr, " return code =%d\n", code);
  std::fflush(stderr);
}

// Collects the catalog offsets of the key's records and the parts of the
// stack that replace them, in index order.
int collect(CatalogHandle *catalog, const IndexHeader &header, int32_t count, int32_t first,
            int stack, int64_t *offsets, PartRecord **parts) {
  for (int32_t k = 1; k <= count; ++k) {
    int32_t data = 0;
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return PCS_PUT_NOT_FOUND;
    int rc = 0, number = k;
    gusrea(&stack, &number, &parts[k - 1], &rc);
    if (rc != 0) {
      debug_failed(rc);
      return rc;
    }
    offsets[k - 1] = data;
  }
  return 0;
}

// Every record of the key is rewritten under one journal, so that a crash
// leaves all of them old or all new.
int put_run(CatalogHandle *catalog, const IndexHeader &header, int32_t count, int32_t first,
            int stack) {
  auto offsets = host_buffer(sizeof(int64_t) * static_cast<size_t>(count));
  auto parts = host_buffer(sizeof(PartRecord *) * static_cast<size_t>(count));
  if (!offsets || !parts) return PCS_PUT_REFUSED;
  auto *at = reinterpret_cast<int64_t *>(offsets.get());
  auto *records = reinterpret_cast<PartRecord **>(parts.get());
  int rc = collect(catalog, header, count, first, stack, at, records);
  if (rc != 0) return rc;
  rewrite_records(catalog->CatalogFile, count, at, records, &rc);
  report(rc);
  return rc != 0 ? PCS_PUT_REFUSED : 0;
}

int put_all(CatalogHandle *catalog, const char *key, int stack) {
  IndexHeader header{};
  int32_t count = 0, first = 0;
  if (!catalog || !key || !read_index_header(catalog->IndexFile, &header) ||
      !index_lookup(catalog->IndexFile, header, key, &count, &first))
    return PCS_PUT_NOT_FOUND;
  int size = 0, entries = 0, rc = 0;
  gusinf(&stack, &size, &entries, &rc);
  if (rc == 0 && size != PCS_HANDLE_SIZE) return PCS_PUT_REFUSED;  // not a stack of part handles
  return count < 1 ? PCS_PUT_NOT_FOUND : put_run(catalog, header, count, first, stack);
}

}  // namespace
}  // namespace pcs::catalog

extern "C" PCS_API void csgputip(CatalogHandle **catalog, const char *key, const int *stack,
                                 int *rc) {
  pcs::guarded(rc, PCS_PUT_REFUSED, [&] { *rc = pcs::catalog::put_all(catalog ? *catalog : nullptr, key, *stack); });
}
