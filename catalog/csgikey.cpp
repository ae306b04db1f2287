// Sort keys of catalog records for building an index: GetSortKey (the key of
// one part) and csgikey (the keys of the first records of a catalog file).
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

// Copies the values of one key field into `field` (width bytes, blank
// already). Values longer than the field are cut.
int fill_field(PartRecord *part, const char *name, int width, char *field) {
  int count = 0, length = 0, rc = 0;
  cspgretn(part, name, name + PCS_NAME_LEN, &count, &length, &rc);
  if (rc != 0) return 0;
  int64_t size = int64_t{count} * length;
  if (width >= size) {
    cspgretv(part, name, name + PCS_NAME_LEN, field, &rc);
    return 0;
  }
  auto values = host_buffer(static_cast<size_t>(size));
  if (!values) return kSortKeyNoMemory;
  cspgretv(part, name, name + PCS_NAME_LEN, values.get(), &rc);
  std::memcpy(field, values.get(), static_cast<size_t>(width));
  return 0;
}

int read_keys(const char *path, int field_count, char **names, const int *widths,
              int record_count, KeyRecord *keys) {
  FILE *catalog = io::open(path, "rb");
  if (!catalog) return PCS_IKEY_NO_FILE;
  int result = 0;
  int64_t offset = 0;
  for (int i = 0; i < record_count; ++i) {
    int length = 0, rc = 0;
    PartRecord *part = offset <= INT32_MAX ? cspgetrc(catalog, static_cast<int>(offset), &length, &rc)
                                           : nullptr;
    if (rc == kReadDeleted) {
      keys[i].RecordOffset = -1;  // a deleted record has no key
    } else if (!part) {
      result = PCS_IKEY_UNREADABLE;
      break;
    } else {
      int built = GetSortKey(part, field_count, names, widths, keys[i].Key);
      keys[i].RecordOffset = static_cast<int32_t>(offset);
      cspgfre(part);
      if (built != 0) {
        result = PCS_IKEY_UNREADABLE;
        break;
      }
    }
    offset += length;
  }
  io::close(catalog);
  return result;
}

}  // namespace

int GetSortKey(PartRecord *part, int field_count, char **names, const int *widths, char *key) {
  size_t at = 0;
  for (int i = 0; i < field_count; ++i) at += widths[i] > 0 ? static_cast<size_t>(widths[i]) : 0;
  std::memset(key, ' ', at);
  key[at] = '\0';
  at = 0;
  for (int i = 0; i < field_count; ++i) {
    if (widths[i] <= 0) continue;
    if (fill_field(part, names[i], widths[i], key + at) != 0) return kSortKeyNoMemory;
    at += static_cast<size_t>(widths[i]);
  }
  return 0;
}

}  // namespace pcs::catalog

extern "C" PCS_API int csgikey(const char *catalog_path, const int *field_count, char **names,
                               const int *widths, int record_count, void *ignored,
                               KeyRecord *keys) {
  (void)ignored;
  return pcs::guarded_value(static_cast<int>(PCS_IKEY_UNREADABLE), [&] {
    return pcs::catalog::read_keys(catalog_path, *field_count, names, widths, record_count, keys);
  });
}
