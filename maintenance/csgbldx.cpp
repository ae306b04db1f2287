// csgbldx: the host's entry to index a part catalog by (group, attribute)
// key fields; it builds the key description as a host array of 16-byte
// group + attribute entries and runs csbndx with csgrn and csgia.
#include <cstring>

#include "common/report.h"
#include "host/host_services.h"
#include "maintenance/maintenance.h"

namespace pcs {

void free_key_description(void *description) {
  if (!description) return;
  for (int i = 0, n = pparysiz(description); i < n; ++i) gifree(pparyget(description, i));
  pparyfre(description);
}

namespace {

// Copies a path field up to its first blank (or 0); false when it holds
// more than 255 characters: a path is never cut short.
bool path_from_field(const char *field, char *path) {
  size_t n = 0;
  while (field && n <= PCS_PATH_MAX && field[n] != ' ' && field[n] != '\0') ++n;
  if (n > PCS_PATH_MAX) return false;
  if (n > 0) std::memcpy(path, field, n);
  path[n] = '\0';
  return true;
}

// A host array of field_count entries: group name then attribute name.
void *key_description(int field_count, const char *groups, const char *attributes) {
  void *description = pparynew(field_count);
  if (!description) return nullptr;
  for (int i = 0; i < field_count; ++i) {
    auto *entry = static_cast<char *>(gimaloc(PCS_KEY_FIELD));
    if (!entry) {
      free_key_description(description);
      return nullptr;
    }
    std::memcpy(entry, groups + i * PCS_NAME_LEN, PCS_NAME_LEN);
    std::memcpy(entry + PCS_NAME_LEN, attributes + i * PCS_NAME_LEN, PCS_NAME_LEN);
    pparystr(description, i, entry);
  }
  return description;
}

int build_catalog_index(int field_count, const char *groups, const char *attributes,
                        const int *widths, const char *catalog_field, const char *index_field) {
  char catalog_path[PCS_CATALOG_PATH];
  char index_path[PCS_CATALOG_PATH];
  if (!path_from_field(catalog_field, catalog_path)) return kIndexNoSource;
  if (!path_from_field(index_field, index_path)) return kIndexNotCreated;
  void *description = nullptr;
  if (field_count > 0) {
    if (!groups || !attributes) return kIndexNoKey;
    description = key_description(field_count, groups, attributes);
    if (!description) return PCS_GEN_NO_MEMORY;
  }
  int rc = 0;
  csbndx(csgrn, csgia, &field_count, description, widths, catalog_path, index_path, &rc);
  free_key_description(description);
  return rc;
}

}  // namespace
}  // namespace pcs

extern "C" {

PCS_API void csgbldx(const int *field_count, const char *groups, const char *attributes,
                     const int *widths, const char *catalog_path, const char *index_path,
                     int *rc) {
  if (!rc) return;
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::build_catalog_index(field_count ? *field_count : 0, groups, attributes, widths,
                                   catalog_path, index_path);
  });
}

}  // extern "C"
