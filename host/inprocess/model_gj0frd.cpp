// The project setup and its catalogs: the setup entry of the catalog
// directory (gj0frd), the current catalog (pladata) and a catalog's file
// names (pu3catn, pu3cnam).
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

constexpr size_t kDirectoryEntry = 80;
constexpr int kCatalogNames = 32;
constexpr int kDataKind = 2;
constexpr int kCurrentCatalog = 30;

const Catalog *catalog_of(const Model &m, const int *id) {
  if (!id) return nullptr;
  for (const Catalog &catalog : m.catalogs) {
    if (catalog.id == *id) return &catalog;
  }
  return nullptr;
}

bool catalog_keys(const char *k1, const char *k2, const char *k3, const char *k4) {
  return field(k1, kNameWidth) == "PRO     " && field(k2, kNameWidth) == "SETUP   " &&
         field(k3, kNameWidth) == "CATALOG " && field(k4, kNameWidth) == "        ";
}

// A relative catalog directory names a folder relative to the project
// database's own folder, so that a copied project uses its own catalogs.
std::string resolved_directory(const std::string &directory) {
  if (directory.empty() || directory[0] == '/' || directory[0] == '$') return directory;
  const std::filesystem::path base = std::filesystem::path(project_path()).parent_path();
  if (base.empty()) return directory;
  std::string resolved = (base / directory).lexically_normal().string();
  while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  return resolved;
}

void end_all(int *stacks[3]) {
  for (int k = 0; k < 3; ++k) {
    int ignored = 0;
    if (*stacks[k]) gusend(stacks[k], &ignored);
    *stacks[k] = 0;
  }
}

}  // namespace

extern "C" {

void gj0frd(const char *key1, const char *key2, const char *key3, const char *key4, int *stack1,
            int *stack2, int *stack3, int *rc) {
  Service call("gj0frd", rc);
  call.chars(key1).chars(key2).chars(key3).chars(key4);
  int *stacks[3] = {stack1, stack2, stack3};
  for (int *s : stacks) {
    if (s) *s = 0;
  }
  call.run([&] {
    if (!key1 || !key2 || !key3 || !key4 || !stack1 || !stack2 || !stack3) {
      return PCS_HOST_BAD_ARGUMENT;
    }
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const std::string directory = resolved_directory(m->setup.catalog_directory);
    if (!catalog_keys(key1, key2, key3, key4) || directory.empty()) return 0;
    std::vector<std::string> ids;
    for (const Catalog &catalog : m->catalogs) ids.push_back(int_entry(catalog.id));
    const int width = int(std::max(kDirectoryEntry, directory.size()));
    code = make_stack(width, {directory}, stack1);
    if (code == 0) code = make_stack(4, ids, stack2);
    if (code == 0) code = make_stack(4, {int_entry(m->setup.current_catalog)}, stack3);
    if (code != 0) end_all(stacks);
    return code;
  });
}

void pladata(const int *kind, const int *item, int *value, int *rc) {
  Service call("pladata", rc);
  call.number(kind).number(item);
  if (value) *value = 0;
  call.run([&] {
    if (!kind || !item || !value || *kind != kDataKind || *item != kCurrentCatalog) {
      return PCS_HOST_BAD_ARGUMENT;
    }
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    if (m->setup.current_catalog == 0) return PCS_HOST_NO_CATALOG;
    *value = m->setup.current_catalog;
    return 0;
  });
}

void pu3catn(const int *first, const int *id, char *names, int *count, int *rc) {
  Service call("pu3catn", rc);
  call.number(first).number(id);
  if (count) *count = 0;
  call.run([&] {
    if (!first || *first < 0 || !id || !names || !count) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const Catalog *catalog = catalog_of(*m, id);
    if (!catalog) return PCS_HOST_NO_CATALOG;
    int n = 0;
    for (size_t k = size_t(*first); k < catalog->names.size() && n < kCatalogNames; ++k, ++n) {
      std::memcpy(names + size_t(n) * kNameWidth, pad(catalog->names[k], kNameWidth).data(), kNameWidth);
    }
    *count = n;
    return 0;
  });
}

void pu3cnam(const int *id, char *name1, char *name2, char *name3, char *name4, char *name5,
             char *name6, char *name7, int *rc) {
  Service call("pu3cnam", rc);
  call.number(id);
  char *names[7] = {name1, name2, name3, name4, name5, name6, name7};
  call.run([&] {
    if (!id || std::count(std::begin(names), std::end(names), nullptr) > 0) {
      return PCS_HOST_BAD_ARGUMENT;
    }
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const Catalog *catalog = catalog_of(*m, id);
    if (!catalog) return PCS_HOST_NO_CATALOG;
    for (size_t k = 0; k < 7; ++k) {
      std::string name = pad(k < catalog->names.size() ? catalog->names[k] : "", kNameWidth);
      std::memcpy(names[k], name.data(), kNameWidth);
    }
    return 0;
  });
}

}  // extern "C"
