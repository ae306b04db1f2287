// Building and editing keyed group lists: new groups and attributes,
// appending values, deleting attributes and groups, creating and releasing
// a list.
#include <algorithm>
#include <cstring>

#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

bool same_name(const char *a, const char *b) { return std::memcmp(a, b, PCS_NAME_LEN) == 0; }

KeyedAttribute *make_attribute(const char *name, int count, int length, const void *values) {
  int64_t bytes = keyed::value_bytes(count, length);
  if (bytes < 0) return nullptr;
  return host_attribute<KeyedAttribute>(name, count, length, values, static_cast<size_t>(bytes));
}

KeyedAttribute *find_attribute(KeyedGroup *group, const char *name) {
  for (KeyedAttribute *a = group->FirstAttr; a; a = a->NextAttr)
    if (same_name(a->AttrName, name)) return a;
  return nullptr;
}

KeyedGroup *find_group(KeyedGroup *list, const char *name) {
  for (KeyedGroup *g = list; g; g = g->NextGroup)
    if (same_name(g->GroupName, name)) return g;
  return nullptr;
}

using Adder = int (*)(KeyedGroup *, const char *, int, int, const void *);

int add(Adder adder, const char *group, const char *attribute, int count, int length,
        const void *values, KeyedGroup **list) {
  if (KeyedGroup *g = find_group(*list, group)) return adder(g, attribute, count, length, values);
  KeyedGroup *made = nullptr;
  int rc = cspngp(group, attribute, count, length, values, &made);
  if (rc != keyed::kOk) return rc;
  made->NextGroup = *list;
  *list = made;
  return keyed::kOk;
}

// Unlinks the first group of this name that holds the attribute and frees
// the attribute; a group left empty goes too.
int delete_attribute(const char *group, const char *attribute, KeyedGroup **list) {
  for (KeyedGroup **g = list; *g; g = &(*g)->NextGroup) {
    if (!same_name((*g)->GroupName, group)) continue;
    for (KeyedAttribute **a = &(*g)->FirstAttr; *a; a = &(*a)->NextAttr) {
      if (!same_name((*a)->AttrName, attribute)) continue;
      KeyedAttribute *gone = *a;
      *a = gone->NextAttr;
      free_attribute(gone);
      --(*g)->AttrCount;
      if (!(*g)->FirstAttr) {
        KeyedGroup *empty = *g;
        *g = empty->NextGroup;
        free_group(empty);
      }
      return keyed::kOk;
    }
  }
  return PCS_GROUP_NOT_FOUND;
}

int delete_group(const char *group, KeyedGroup **list) {
  for (KeyedGroup **g = list; *g; g = &(*g)->NextGroup) {
    if (!same_name((*g)->GroupName, group)) continue;
    KeyedGroup *gone = *g;
    *g = gone->NextGroup;
    free_group(gone);
    return keyed::kOk;
  }
  return PCS_GROUP_NOT_FOUND;
}

}  // namespace

int cspngp(const char *group, const char *attribute, int count, int length, const void *values,
           KeyedGroup **made) {
  auto *g = host_alloc<KeyedGroup>();
  KeyedAttribute *a = g ? make_attribute(attribute, count, length, values) : nullptr;
  if (!a) {
    gifree(g);
    return keyed::kNoMemory;
  }
  std::memcpy(g->GroupName, group, PCS_NAME_LEN);
  g->AttrCount = 1;
  g->FirstAttr = a;
  *made = g;
  return keyed::kOk;
}

int atradd(KeyedGroup *group, const char *attribute, int count, int length, const void *values) {
  if (find_attribute(group, attribute)) return keyed::kDuplicate;
  KeyedAttribute *a = make_attribute(attribute, count, length, values);
  if (!a) return keyed::kNoMemory;
  a->NextAttr = group->FirstAttr;
  group->FirstAttr = a;
  ++group->AttrCount;
  return keyed::kOk;
}

int atvadd(KeyedGroup *group, const char *attribute, int count, int length, const void *values) {
  KeyedAttribute *a = find_attribute(group, attribute);
  if (!a) return atradd(group, attribute, count, length, values);
  if (a->nAttrLength != length) return keyed::kDuplicate;
  int64_t old_bytes = keyed::value_bytes(a->nAttrs, length);
  int64_t add_bytes = keyed::value_bytes(count, length);
  int64_t bytes = keyed::value_bytes(int64_t{a->nAttrs} + count, length);
  if (old_bytes < 0 || add_bytes < 0 || bytes < 0 || int64_t{a->nAttrs} + count > INT32_MAX)
    return keyed::kNoMemory;
  auto *grown =
      static_cast<unsigned char *>(gimaloc(static_cast<size_t>(std::max<int64_t>(bytes, 1))));
  if (!grown) return keyed::kNoMemory;
  if (old_bytes > 0) std::memcpy(grown, a->AttrValue, static_cast<size_t>(old_bytes));
  if (add_bytes > 0) std::memcpy(grown + old_bytes, values, static_cast<size_t>(add_bytes));
  gifree(a->AttrValue);
  a->AttrValue = grown;
  a->nAttrs += count;
  return keyed::kOk;
}

void free_attribute(KeyedAttribute *attribute) {
  gifree(attribute->AttrValue);
  gifree(attribute);
}

void free_group(KeyedGroup *group) {
  for (KeyedAttribute *a = group->FirstAttr; a;) {
    KeyedAttribute *next = a->NextAttr;
    free_attribute(a);
    a = next;
  }
  gifree(group);
}

void free_groups(KeyedGroup *list) {
  while (list) {
    KeyedGroup *next = list->NextGroup;
    free_group(list);
    list = next;
  }
}

}  // namespace pcs::keyed

namespace keyed = pcs::keyed;

extern "C" void cspadd(const char *group, const char *attribute, const int *count,
                       const int *length, const void *values, KeyedGroup **list, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory, [&] {
    *rc = pcs::keyed::add(pcs::keyed::atradd, group, attribute, *count, *length, values, list);
  });
}

extern "C" void cspadv(const char *group, const char *attribute, const int *count,
                       const int *length, const void *values, KeyedGroup **list, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory, [&] {
    *rc = pcs::keyed::add(pcs::keyed::atvadd, group, attribute, *count, *length, values, list);
  });
}

extern "C" void cspdla(const char *group, const char *attribute, KeyedGroup **list, int *rc) {
  *rc = list ? pcs::keyed::delete_attribute(group, attribute, list) : 1;
}

extern "C" void cspdlg(const char *group, KeyedGroup **list, int *rc) {
  *rc = list ? pcs::keyed::delete_group(group, list) : 1;
}

extern "C" void cspfre(KeyedGroup **list) {
  if (!list) return;
  pcs::keyed::free_groups(*list);
  *list = nullptr;
}

extern "C" void cspcre(KeyedGroup **list, int *rc) {
  *list = nullptr;
  *rc = 0;
}
