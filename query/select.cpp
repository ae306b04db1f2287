// The selection engine: opening a selection (the generic part file read in
// large sequential reads and indexed once by the lookup's key), the query
// parts of an entry (cgqfill), and the answer for an entry and a size: the
// candidates under the query's key, each read once per key and tested with
// the part comparison and the size limits.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/fileio.h"
#include "generic/generic_parts.h"
#include "host/host_model.h"
#include "query/query_fill.h"
#include "query/selection.h"

namespace pcs::query {
namespace {

constexpr int kObjectName = 256;  // object names of the host model
// The whole file in host memory, read front to back in large blocks.
int read_image(const char *path, PcsSelection *s) {
  FILE *file = io::open(path, "rb");
  if (!file) return PCS_SEL_NO_FILE;
  const int rc = generic::read_image(file, &s->image, &s->image_size);
  io::close(file);
  if (rc == PCS_GEN_NO_MEMORY) return PCS_SEL_NO_MEMORY;
  return rc == 0 ? 0 : PCS_SEL_NO_FILE;
}

int read_code(int rc) {
  if (rc == PCS_GEN_NO_MEMORY) return PCS_SEL_NO_MEMORY;
  return rc == PCS_INPUT_ENDED ? PCS_SEL_DAMAGED : rc;
}

// The key index of the image: every live record's stored key (the key the
// query part lookup stores) with its position; replaced records are left
// out, as the lookup leaves them out.
int build_index(PcsSelection *s) {
  s->key_width = generic::key_length(generic::kLookupGroups, generic::kLookupAttributes,
                                   generic::kLookupPairs);
  if (s->key_width > 252) return PCS_SEL_NO_MEMORY;
  const ByteView image(s->image.get(), s->image_size);
  std::vector<unsigned char> key(static_cast<size_t>(s->key_width) + 1);
  for (int64_t position = 0; position < static_cast<int64_t>(s->image_size);) {
    CgPart part = nullptr;
    int32_t length = 0;
    int rc = generic::read_part(image, position, &length, &part);
    if (rc == 0)
      rc = generic::stored_key(generic::kLookupGroups, generic::kLookupAttributes, generic::kLookupPairs,
                             part, s->key_width, key.data());
    if (rc == 0)
      s->index.emplace_back(std::string(key.begin(), key.end() - 1), static_cast<int32_t>(position));
    cggfre(part);
    if (rc != 0 && rc != PCS_RECORD_DELETED) return read_code(rc);
    if (position > INT32_MAX - length) return PCS_SEL_DAMAGED;
    position += length;
  }
  std::sort(s->index.begin(), s->index.end());
  return 0;
}

// A host object of a type by its name; *handle 0 when there is none.
int find_object(int ws, const char *type, const std::string &name, int *handle) {
  if (name.size() > kObjectName) return PCS_SEL_BAD_ARGUMENT;
  const int length = static_cast<int>(name.size());
  int rc = 0;
  gtbsui(&ws, type, &length, name.c_str(), handle, &rc);
  return rc;
}

// The query parts of the entry (once per entry asked in a row).
int fill_entry(PcsSelection *s, const char *entry) {
  if (s->entry == entry && !s->queries.parts.empty()) return 0;
  s->entry.clear();
  s->queries.clear();
  s->answer.clear();
  s->query = nullptr;
  int handle = 0;
  if (int rc = find_object(s->ws, "SPCENTRY", s->spec + " " + entry, &handle)) return rc;
  if (handle == 0) return PCS_SEL_NO_ENTRY;
  Stack entries, parts;
  int rc = 0, pushed = 0;
  const int width = sizeof(int), none = 0;
  gusini(&width, entries.out(), &rc);
  if (rc == 0) guspus(entries.ptr(), &handle, &pushed, &rc);
  if (rc == 0) cgqfill(&s->owner, nullptr, &none, entries.ptr(), parts.out(), &rc);
  for (int k = 1, n = stack_count(parts.get()), spare = 0; k <= n; ++k) {
    CgPart part = nullptr;
    gusrea(parts.ptr(), &k, &part, &spare);
    if (part) s->queries.parts.push_back(part);
  }
  if (rc == 0) s->entry = entry;
  return rc;
}

// The query's key (query_key) from its ELCLASS/AELCLASS and
// SPCFUNC/QRYNUMBR values.
int lookup_key(CgPart query, std::string *key) {
  char element_class[PCS_NAME_LEN], number[256], text[256];
  std::memset(element_class, ' ', sizeof element_class);
  std::memset(number, ' ', sizeof number);
  const CgAttribute *a = find_attribute(query, "ELCLASS ", "AELCLASS");
  if (a && a->valueCount > 0)
    std::memcpy(element_class, a->values, static_cast<size_t>(std::min(a->valueLength, 8)));
  a = find_attribute(query, "SPCFUNC ", "QRYNUMBR");
  if (a && a->valueCount > 0)
    std::memcpy(number, a->values, static_cast<size_t>(std::min(a->valueLength, 248)));
  int length = 0;
  if (int rc = generic::query_key(element_class, number, text, &length)) return rc;
  key->assign(text, static_cast<size_t>(length));
  return 0;
}

// The parts stored under the key, decoded once per key asked in a row.
int key_parts(PcsSelection *s, const std::string &key) {
  if (s->cached_key == key && !s->cached_key.empty()) return 0;
  s->cached_key.clear();
  s->cached_parts.clear();
  s->cached_positions.clear();
  const size_t n = std::min(key.size(), static_cast<size_t>(s->key_width));
  auto it = std::lower_bound(s->index.begin(), s->index.end(),
                             std::pair<std::string, int32_t>(key.substr(0, n), INT32_MIN));
  const ByteView image(s->image.get(), s->image_size);
  for (; it != s->index.end() && it->first.compare(0, n, key, 0, n) == 0; ++it) {
    CgPart part = nullptr;
    int32_t length = 0;
    if (int rc = generic::read_part(image, it->second, &length, &part)) return read_code(rc);
    s->cached_parts.parts.push_back(part);
    s->cached_positions.push_back(it->second);
  }
  s->cached_key = key;
  return 0;
}

}  // namespace

void PartList::clear() {
  for (CgPart part : parts) cggfre(part);
  parts.clear();
}

int open_selection(int ws, const char *spec, const char *path, PcsSelection **out) {
  *out = nullptr;
  if (!spec || !path) return PCS_SEL_BAD_ARGUMENT;
  void *block = gicaloc(1, sizeof(PcsSelection));
  if (!block) return PCS_SEL_NO_MEMORY;
  PcsSelection *s = new (block) PcsSelection;
  s->ws = ws;
  s->spec = spec;
  int rc = find_object(ws, "PSPEC   ", s->spec, &s->owner);
  if (rc == 0 && s->owner == 0) rc = PCS_SEL_NO_SPEC;
  if (rc == 0) rc = read_image(path, s);
  if (rc == 0) rc = build_index(s);
  if (rc != 0) {
    pcs_sel_close(s);
    return rc;
  }
  *out = s;
  return 0;
}

std::string query_size(CgPart query) {
  return value_text(find_attribute(query, "PIPESIZE", "SIZE    "), 0, 'C');
}

int entry_sizes(PcsSelection *s, const char *entry, int *count) {
  *count = 0;
  if (!entry) return PCS_SEL_BAD_ARGUMENT;
  const int rc = fill_entry(s, entry);
  *count = static_cast<int>(s->queries.parts.size());
  return rc;
}

int find_parts(PcsSelection *s, const char *entry, const char *size, int *candidates,
               int *found) {
  *candidates = *found = 0;
  if (!entry || !size) return PCS_SEL_BAD_ARGUMENT;
  if (int rc = fill_entry(s, entry)) return rc;
  s->answer.clear();
  s->query = nullptr;
  for (CgPart query : s->queries.parts)
    if (!s->query && query_size(query) == size) s->query = query;
  if (!s->query) return PCS_SEL_NO_SIZE;
  std::string key;
  int rc = lookup_key(s->query, &key);
  if (rc == 0) rc = key_parts(s, key);
  for (size_t i = 0; rc == 0 && i < s->cached_parts.parts.size(); ++i) {
    CgPart part = s->cached_parts.parts[i];
    int outside = 0;
    bool selected = cgpreql(s->query, part, &rc) == 1;
    if (selected) rc = check_sizes(part, s->query, &outside, nullptr);
    selected = selected && outside == 0;
    s->answer.push_back({s->cached_positions[i], part, selected});
    *found += selected ? 1 : 0;
  }
  if (rc != 0) {
    s->answer.clear();
    *found = 0;
  }
  *candidates = static_cast<int>(s->answer.size());
  return rc;
}

}  // namespace pcs::query
