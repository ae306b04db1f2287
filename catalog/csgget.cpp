// Getting parts by key: csgget (the one part of a key) and csggetm (all
// parts of a key, in index order, on a new host stack of part handles).
#include <cstdio>

#include "catalog/catalog.h"
#include "common/host_stack.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

int get_one(CatalogHandle *catalog, const char *key, PartRecord **part) {
  IndexHeader header{};
  int32_t count = 0, first = 0, data = 0;
  if (!catalog || !key || !read_index_header(catalog->IndexFile, &header) ||
      !index_lookup(catalog->IndexFile, header, key, &count, &first, &data))
    return PCS_GET_NOT_FOUND;
  if (count > 1) return PCS_GET_SEVERAL;
  if (data < 0) return PCS_GET_NOT_FOUND;
  int length = 0, rc = 0;
  *part = cspgetrc(catalog->CatalogFile, data, &length, &rc);
  if (rc == kReadFailed) return PCS_GET_UNREADABLE;
  if (rc == kReadDeleted) return PCS_GET_DELETED;
  return rc;
}

// Reads the parts of the key's run onto `stack`; the code of the first
// failure, after which *unpushed holds a part read but not pushed.
int read_run(CatalogHandle *catalog, const IndexHeader &header, int32_t count, int32_t first,
             int stack, PartRecord **unpushed) {
  for (int32_t k = 1; k <= count; ++k) {
    int32_t data = 0;
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return PCS_GETM_NOT_FOUND;
    int length = 0, rc = 0;
    PartRecord *part = cspgetrc(catalog->CatalogFile, data, &length, &rc);
    if (rc == kReadFailed) return PCS_GETM_UNREADABLE;
    if (rc == kReadDeleted) return PCS_GETM_NOT_FOUND;
    if (push_entry(stack, &part) != 0) {
      *unpushed = part;
      return PCS_GETM_UNREADABLE;
    }
  }
  return 0;
}

int get_all(CatalogHandle *catalog, const char *key, int *stack) {
  IndexHeader header{};
  int32_t count = 0, first = 0;
  *stack = 0;
  if (!catalog || !key || !read_index_header(catalog->IndexFile, &header) ||
      !index_lookup(catalog->IndexFile, header, key, &count, &first))
    return PCS_GETM_NOT_FOUND;
  HostStack made(HostStack::Holds::parts);
  int rc = made.create(PCS_HANDLE_SIZE);
  if (rc != 0) return rc;
  PartRecord *unpushed = nullptr;
  rc = read_run(catalog, header, count, first, made.handle, &unpushed);
  if (rc == 0) {
    *stack = made.release();
    return 0;
  }
  std::fputs(" \n", stderr);
  if (unpushed) cspgfre(unpushed);
  return rc;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_API void csgget(CatalogHandle **catalog, const char *key, PartRecord **part, int *rc) {
  *part = nullptr;
  pcs::guarded(rc, PCS_GET_UNREADABLE, [&] { *rc = pcs::catalog::get_one(catalog ? *catalog : nullptr, key, part); });
}

PCS_API void csggetm(CatalogHandle **catalog, const char *key, int *stack, int *rc) {
  pcs::guarded(rc, PCS_GETM_UNREADABLE, [&] { *rc = pcs::catalog::get_all(catalog ? *catalog : nullptr, key, stack); });
}

}  // extern "C"
