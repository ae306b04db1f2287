// Building and releasing key descriptions (host arrays of group and
// attribute name pairs).
#include "common/key_description.h"

#include <algorithm>
#include <cstring>

#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs {

void *new_key_description(int count) { return pparynew(count); }

bool set_key_field(void *description, int i, const char *group, size_t group_length,
                   const char *attribute, size_t attribute_length) {
  auto *entry = static_cast<char *>(gimaloc(PCS_KEY_FIELD));
  if (!entry) return false;
  std::memset(entry, ' ', PCS_KEY_FIELD);
  std::memcpy(entry, group, std::min<size_t>(group_length, PCS_NAME_LEN));
  std::memcpy(entry + PCS_NAME_LEN, attribute, std::min<size_t>(attribute_length, PCS_NAME_LEN));
  gifree(pparyget(description, i));
  pparystr(description, i, entry);
  return true;
}

void *key_description(int count, const char *groups, const char *attributes) {
  void *description = new_key_description(count);
  for (int i = 0; description && i < count; ++i) {
    if (!set_key_field(description, i, groups + i * PCS_NAME_LEN, PCS_NAME_LEN,
                       attributes + i * PCS_NAME_LEN, PCS_NAME_LEN)) {
      free_key_description(description);
      return nullptr;
    }
  }
  return description;
}

void free_key_description(void *description) {
  if (!description) return;
  for (int i = 0, n = pparysiz(description); i < n; ++i) gifree(pparyget(description, i));
  pparyfre(description);
}

}  // namespace pcs
