// Opening a catalog: csgopen takes a catalog path and an index path (each a
// blank-ended field whose "$NAME" components are expanded from the
// environment by decdir) and opens both files into a new CatalogHandle.
#include <cstdlib>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

// Appends `n` bytes to the expanded path; false when it would not fit.
bool append(char *expanded, size_t *used, const char *text, size_t n) {
  if (n > PCS_PATH_MAX - *used) return false;
  std::memcpy(expanded + *used, text, n);
  *used += n;
  return true;
}

int open_catalog(const char *mode_field, const char *catalog_path, const char *index_path,
                 CatalogHandle **catalog) {
  *catalog = host_alloc<CatalogHandle>();
  CatalogHandle *handle = *catalog;
  if (!handle) return PCS_OPEN_NO_MEMORY;
  char mode[PCS_NAME_LEN + 1], path[PCS_CATALOG_PATH];
  field_text(mode_field, PCS_NAME_LEN, mode);
  // A rewrite that a crash interrupted is undone before anyone reads.
  if (field_text(catalog_path, PCS_PATH_MAX, path) && decdir(path, handle->CatalogPath) == 0 &&
      recover_catalog(handle->CatalogPath))
    handle->CatalogFile = io::open(handle->CatalogPath, mode);
  if (!handle->CatalogFile) {
    gifree(handle);
    *catalog = nullptr;
    return PCS_OPEN_NO_CATALOG;
  }
  if (field_text(index_path, PCS_PATH_MAX, path) && decdir(path, handle->IndexPath) == 0)
    handle->IndexFile = io::open(handle->IndexPath, mode);
  if (!handle->IndexFile) {
    io::close(handle->CatalogFile);
    gifree(handle);
    *catalog = nullptr;
    return PCS_OPEN_NO_INDEX;
  }
  return 0;
}

}  // namespace

int decdir(const char *path, char *expanded) {
  size_t used = 0;
  int rc = 0;
  for (const char *component = path;;) {
    const char *slash = std::strchr(component, '/');
    size_t n = slash ? static_cast<size_t>(slash - component) : std::strlen(component);
    if (n > 0 && component[0] == '$') {
      char name[PCS_CATALOG_PATH];
      size_t name_length = n - 1 < PCS_PATH_MAX ? n - 1 : PCS_PATH_MAX;
      std::memcpy(name, component + 1, name_length);
      name[name_length] = '\0';
      const char *value = std::getenv(name);
      if (!value) rc = kPathVariableUnset;
      else if (!append(expanded, &used, value, std::strlen(value))) rc = kPathTooLong;
    } else if (!append(expanded, &used, component, n)) {
      rc = kPathTooLong;
    }
    if (rc == 0 && slash && !append(expanded, &used, "/", 1)) rc = kPathTooLong;
    if (rc != 0 || !slash) break;
    component = slash + 1;
  }
  expanded[rc == 0 ? used : 0] = '\0';
  return rc;
}

}  // namespace pcs::catalog

extern "C" PCS_API void csgopen(const char *mode, const char *catalog_path, const char *index_path,
                                CatalogHandle **catalog, int *rc) {
  pcs::guarded(rc, PCS_OPEN_NO_MEMORY, [&] { *rc = pcs::catalog::open_catalog(mode, catalog_path, index_path, catalog); });
}
