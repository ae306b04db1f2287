// Replacing attribute values: one value by index (growing or creating the
// attribute as needed), or all values of an existing attribute.
#include <climits>
#include <cstdint>
#include <cstring>

#include "common/memory.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs::records {
namespace {

// Replaces or appends value number `index` (from 1).
int replace_value(PartRecord *record, const char *group, const char *name, int index,
                  int length, const void *value) {
  Lookup found;
  {
    QuietErrors quiet;
    found = record_find(record, group, name);
  }
  int count = 0;
  if (found.attribute) csatrgtn(found.attribute, &count, &length);
  if (index > count) count = index;
  int64_t size = length > 0 ? static_cast<int64_t>(count) * length : 0;
  if (size > INT_MAX) return PCS_NO_MEMORY;
  HostPtr<unsigned char> buffer = host_buffer(static_cast<size_t>(size));
  if (!buffer) return PCS_NO_MEMORY;
  std::memset(buffer.get(), 0, static_cast<size_t>(size));
  if (found.attribute) {
    csatrgtv(found.attribute, buffer.get());
    record_delete_attribute(record, group, name);
  }
  if (length > 0)
    std::memcpy(buffer.get() + static_cast<size_t>(index - 1) * length, value,
                static_cast<size_t>(length));
  return record_add(record, group, name, count, length, buffer.get());
}

// Replaces all values of an existing attribute, keeping its count and length.
int replace_all(PartRecord *record, const char *group, const char *name, const void *values,
                const char **missing) {
  Lookup found = record_find(record, group, name);
  *missing = found.missing;
  if (!found.attribute) return found.rc;
  int count = 0, length = 0;
  csatrgtn(found.attribute, &count, &length);
  record_delete_attribute(record, group, name);
  return record_add(record, group, name, count, length, values);
}

}  // namespace
}  // namespace pcs::records

extern "C" {

PCS_API void cspgrepl(PartRecord *record, const char *group, const char *attribute, int index,
                      int length, const void *value, int *rc) {
  *rc = PCS_BAD_VALUE_INDEX;
  if (index >= 1) {
    pcs::guarded(rc, PCS_NO_MEMORY, [&] {
      *rc = pcs::records::replace_value(record, group, attribute, index, length, value);
    });
  }
  pcs::report(*rc);
}

PCS_API void csgreplv(PartRecord **record, const char *group, const char *attribute,
                      const void *values, int *rc) {
  const char *missing = nullptr;
  *rc = 0;
  {
    pcs::QuietErrors quiet;
    pcs::guarded(rc, PCS_NO_MEMORY, [&] {
      *rc = pcs::records::replace_all(*record, group, attribute, values, &missing);
    });
  }
  pcs::report(*rc, missing);
}

}  // extern "C"
