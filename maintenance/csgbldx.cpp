// csgbldx: the host's entry to index a part catalog by (group, attribute)
// key fields; it builds the key description as a host array of 16-byte
// group + attribute entries and runs csbndx with csgrn and csgia.
#include <cstring>

#include "common/coding.h"
#include "common/report.h"
#include "host/host_services.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {

namespace {

int build_catalog_index(int field_count, const char *groups, const char *attributes,
                        const int *widths, const char *catalog_field, const char *index_field) {
  char catalog_path[PCS_CATALOG_PATH];
  char index_path[PCS_CATALOG_PATH];
  if (!field_text(catalog_field, PCS_PATH_MAX, catalog_path)) return PCS_BUILD_NO_SOURCE;
  if (!field_text(index_field, PCS_PATH_MAX, index_path)) return PCS_BUILD_NOT_CREATED;
  void *description = nullptr;
  if (field_count > 0) {
    if (!groups || !attributes) return PCS_BUILD_NO_KEY;
    description = key_description(field_count, groups, attributes);
    if (!description) return PCS_GEN_NO_MEMORY;
  }
  int rc = 0;
  csbndx(csgrn, csgia, &field_count, description, widths, catalog_path, index_path, &rc);
  free_key_description(description);
  return rc;
}

}  // namespace
}  // namespace pcs::maintenance

extern "C" {

PCS_API void csgbldx(const int *field_count, const char *groups, const char *attributes,
                     const int *widths, const char *catalog_path, const char *index_path,
                     int *rc) {
  if (!rc) return;
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::maintenance::build_catalog_index(field_count ? *field_count : 0, groups, attributes, widths,
                                   catalog_path, index_path);
  });
}

}  // extern "C"
