// Building query parts: new groups and attributes appended at the end of
// their chains, lookups by name, values and generic flags appended to an
// attribute, adding a value by names (cgpradd) and the part key (cgkeycre).
#include <cstring>

#include "common/memory.h"
#include "common/report.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

bool same_name(const char *a, const char *b) { return std::strncmp(a, b, PCS_NAME_LEN) == 0; }

template <class T>
T *last_of(T *head) {
  while (head->next) head = head->next;
  return head;
}

CgGroup *new_group(const char *name, int *rc) {
  auto *group = host_alloc<CgGroup>();
  if (!group) {
    *rc = PCS_GEN_NO_MEMORY;
    return nullptr;
  }
  std::memcpy(group->name, name, PCS_NAME_LEN);
  group->matchFlag = 1;
  return group;
}

CgAttribute *new_attribute(const char *name, const char *type, int length, int *rc) {
  auto *attribute = host_alloc<CgAttribute>();
  if (!attribute) {
    *rc = PCS_GEN_NO_MEMORY;
    return nullptr;
  }
  std::memcpy(attribute->name, name, PCS_NAME_LEN);
  std::memcpy(attribute->type, type, PCS_NAME_LEN);
  attribute->valueLength = length;
  return attribute;
}

void append_value(const void *value, CgAttribute *attribute, int *rc) {
  const int64_t length = attribute->valueLength > 0 ? attribute->valueLength : 0;
  const int64_t bytes = int64_t{attribute->valueCount} * length;
  auto *grown = static_cast<unsigned char *>(gimaloc(static_cast<size_t>(bytes + length + 1)));
  if (!grown) {
    *rc = PCS_GEN_NO_MEMORY;
    return;
  }
  if (bytes > 0) std::memcpy(grown, attribute->values, static_cast<size_t>(bytes));
  if (length > 0) std::memcpy(grown + bytes, value, static_cast<size_t>(length));
  gifree(attribute->values);
  attribute->values = grown;
  ++attribute->valueCount;
}

// The attribute of `group` named `name`, created (first or last of the
// chain) when absent.
CgAttribute *attribute_of(CgGroup *group, const char *name, const char *type, int length,
                          int *rc) {
  CgAttribute *found = group->attributes ? cgafnd(name, group->attributes) : nullptr;
  if (found) return found;
  CgAttribute *made = group->attributes ? cgaadd(name, type, &length, group->attributes, rc)
                                        : new_attribute(name, type, length, rc);
  if (!made) return nullptr;
  if (!group->attributes) group->attributes = made;
  ++group->attributeCount;
  return made;
}

CgGroup *add_by_names(const void *value, const char *type, int length, const char *attribute,
                      const char *group, CgGroup *part, int *rc) {
  if (*rc != 0) return part;
  if (!part) {
    CgGroup *made = new_group(group, rc);
    if (!made) return nullptr;
    made->attributes = new_attribute(attribute, type, length, rc);
    if (!made->attributes) return made;
    made->attributeCount = 1;
    append_value(value, made->attributes, rc);
    return made;
  }
  CgGroup *target = cgagfnd(group, part);
  if (!target && !(target = cgagadd(group, part, rc))) return part;
  CgAttribute *found = attribute_of(target, attribute, type, length, rc);
  if (found) append_value(value, found, rc);
  return part;
}

const CgAttribute *key_attribute(const char *group, const char *attribute, const CgGroup *part) {
  const CgGroup *g = cgagfnd(group, const_cast<CgGroup *>(part));
  const CgAttribute *a = g ? cgafnd(attribute, g->attributes) : nullptr;
  return a && a->valueCount > 0 && a->values ? a : nullptr;
}

int64_t attribute_bytes(const CgAttribute *a) {
  return a ? int64_t{a->valueCount} * (a->valueLength > 0 ? a->valueLength : 0) : PCS_NAME_LEN;
}

}  // namespace

int64_t key_size(const char *const *groups, const char *const *attributes, int count,
                 const CgGroup *part) {
  int64_t bytes = 0;
  for (int i = 0; i < count; ++i)
    bytes += attribute_bytes(key_attribute(groups[i], attributes[i], part));
  return bytes;
}

}  // namespace pcs::generic

using namespace pcs::generic;

extern "C" {

CgGroup *cgagcre(const char *name, int *rc) { return new_group(name, rc); }

CgAttribute *cgacre(const char *name, const char *type, const int *length, int *rc) {
  return new_attribute(name, type, *length, rc);
}

CgGroup *cgagadd(const char *name, CgGroup *head, int *rc) {
  CgGroup *made = new_group(name, rc);
  if (made) last_of(head)->next = made;
  return made;
}

CgAttribute *cgaadd(const char *name, const char *type, const int *length, CgAttribute *head,
                    int *rc) {
  CgAttribute *made = new_attribute(name, type, *length, rc);
  if (made) last_of(head)->next = made;
  return made;
}

CgGroup *cgagfnd(const char *name, CgGroup *head) {
  for (CgGroup *g = head; g; g = g->next)
    if (same_name(g->name, name)) return g;
  return nullptr;
}

CgAttribute *cgafnd(const char *name, CgAttribute *head) {
  for (CgAttribute *a = head; a; a = a->next)
    if (same_name(a->name, name)) return a;
  return nullptr;
}

void cgvadd(const void *value, CgAttribute *attribute, int *rc) {
  append_value(value, attribute, rc);
}

void *cgaradd(void *old, const int *count, const void *element, const int *size) {
  if (*count < 1 || *size < 0) return nullptr;
  const size_t kept = static_cast<size_t>(*count - 1) * static_cast<size_t>(*size);
  auto *grown = static_cast<unsigned char *>(gimaloc(kept + static_cast<size_t>(*size) + 1));
  if (!grown) return nullptr;
  if (kept > 0 && old) std::memcpy(grown, old, kept);
  std::memcpy(grown + kept, element, static_cast<size_t>(*size));
  gifree(old);
  return grown;
}

CgGroup *cgpradd(const void *value, const char *type, const int *length, const char *attribute,
                 const char *group, CgGroup *part, int *rc) {
  return add_by_names(value, type, *length, attribute, group, part, rc);
}

int cgkeycre(const char *const *groups, const char *const *attributes, const int *count,
             const CgGroup *part, char *key, int *) {
  char *at = key;
  for (int i = 0; i < *count; ++i) {
    const CgAttribute *a = key_attribute(groups[i], attributes[i], part);
    const auto bytes = static_cast<size_t>(attribute_bytes(a));
    if (a)
      std::memcpy(at, a->values, bytes);
    else
      std::memset(at, ' ', bytes);
    at += bytes;
  }
  *at = '\0';
  return 0;
}

}  // extern "C"
