// Queries on keyed group lists: group and attribute names, counts, lengths,
// values (all, or the n-th non-blank one), blanking a value, and the byte
// comparison cspcms.
#include <algorithm>
#include <cstring>

#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

bool same_name(const char *a, const char *b) { return std::memcmp(a, b, PCS_NAME_LEN) == 0; }

bool blank(const void *bytes, int64_t n) {
  auto *p = static_cast<const unsigned char *>(bytes);
  return std::all_of(p, p + n, [](unsigned char c) { return c == ' '; });
}

// A group name of 8 blanks selects every group.
bool selected(const KeyedGroup *g, const char *group) {
  return same_name(g->GroupName, group) || blank(group, PCS_NAME_LEN);
}

int64_t bytes_of(const KeyedAttribute *a) {
  return std::max<int64_t>(keyed::value_bytes(a->nAttrs, a->nAttrLength), 0);
}

// Calls visit(attribute) for each attribute of the selected groups whose
// name matches, in list order, until visit returns true. True when it did.
template <class Visit>
bool each_match(KeyedGroup *list, const char *group, const char *attribute, Visit visit) {
  for (KeyedGroup *g = list; g; g = g->NextGroup) {
    if (!selected(g, group)) continue;
    for (KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr)
      if (same_name(a->AttrName, attribute) && visit(a)) return true;
  }
  return false;
}

KeyedAttribute *first_match(KeyedGroup *list, const char *group, const char *attribute) {
  KeyedAttribute *found = nullptr;
  each_match(list, group, attribute, [&](KeyedAttribute *a) { return (found = a) != nullptr; });
  return found;
}

// Value n of an attribute, counting only values that are not all blanks.
const unsigned char *nth_value(const KeyedAttribute *a, int n) {
  if (a->nAttrLength < 0) return nullptr;
  int seen = 0;
  for (int i = 0; i < a->nAttrs; ++i) {
    const unsigned char *value = a->AttrValue + int64_t{i} * a->nAttrLength;
    if (!blank(value, a->nAttrLength)) ++seen;
    if (seen == n) return value;
  }
  return nullptr;
}

}  // namespace
}  // namespace pcs::keyed

using pcs::keyed::first_match;

extern "C" void cspgta(const char *group, KeyedGroup **list, int *count, char *names, int *rc) {
  for (KeyedGroup *g = *list; g; g = g->NextGroup) {
    if (!pcs::keyed::same_name(g->GroupName, group)) continue;
    int n = 0;
    for (KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr, ++n)
      std::memcpy(names + PCS_NAME_LEN * n, a->AttrName, PCS_NAME_LEN);
    *count = n;
    *rc = 0;
    return;
  }
}

extern "C" void cspgtg(KeyedGroup **list, int *count, char *names, int *rc) {
  *count = 0;
  if (!*list) *rc = PCS_GROUP_NOT_FOUND;
  for (KeyedGroup *g = *list; g; g = g->NextGroup, ++*count)
    std::memcpy(names + PCS_NAME_LEN * *count, g->GroupName, PCS_NAME_LEN);
}

extern "C" void cspgtgn(KeyedGroup **list, int *count, int *rc) {
  *count = 0;
  if (!*list) *rc = PCS_GROUP_NOT_FOUND;
  for (KeyedGroup *g = *list; g; g = g->NextGroup) ++*count;
}

extern "C" void cspgtv(const char *group, const char *attribute, KeyedGroup **list, void *values,
                       int *rc) {
  KeyedAttribute *a = first_match(*list, group, attribute);
  if (a && pcs::keyed::bytes_of(a) > 0) std::memcpy(values, a->AttrValue, pcs::keyed::bytes_of(a));
  *rc = a ? PCS_OK : PCS_GROUP_NOT_FOUND;
}

extern "C" void cspgtvn(const char *group, const char *attribute, KeyedGroup **list, const int *n,
                        void *value, int *rc) {
  bool found = pcs::keyed::each_match(*list, group, attribute, [&](KeyedAttribute *a) {
    const unsigned char *v = pcs::keyed::nth_value(a, *n);
    if (v && a->nAttrLength > 0) std::memcpy(value, v, static_cast<size_t>(a->nAttrLength));
    return v != nullptr;
  });
  *rc = found ? PCS_OK : PCS_GROUP_NOT_FOUND;
}

extern "C" void cspgtn(const char *group, const char *attribute, KeyedGroup **list, int *count,
                       int *rc) {
  *count = 0;
  bool matched = false;
  if (!pcs::keyed::blank(attribute, PCS_NAME_LEN)) {
    KeyedAttribute *a = first_match(*list, group, attribute);
    if (a) *count = a->nAttrs;
    matched = a != nullptr;
  } else {
    for (KeyedGroup *g = *list; g; g = g->NextGroup) {
      if (!pcs::keyed::selected(g, group)) continue;
      for (KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr) {
        *count += a->nAttrs;
        matched = true;
      }
    }
  }
  *rc = matched ? PCS_OK : PCS_GROUP_NOT_FOUND;
}

extern "C" void cspgtl(const char *group, const char *attribute, KeyedGroup **list, int *length,
                       int *rc) {
  KeyedAttribute *a = first_match(*list, group, attribute);
  if (a) *length = static_cast<int>(pcs::keyed::bytes_of(a));
  *rc = a ? PCS_OK : PCS_GROUP_NOT_FOUND;
}

extern "C" void cspsvdl(const char *group, const char *attribute, KeyedGroup **list,
                        const int *ignored, const void *value, int *rc) {
  (void)ignored;
  *rc = PCS_GROUP_NOT_FOUND;
  KeyedAttribute *a = first_match(*list, group, attribute);
  if (!a || a->nAttrLength < 0) return;
  for (int i = 0; i < a->nAttrs; ++i) {
    unsigned char *v = a->AttrValue + int64_t{i} * a->nAttrLength;
    if (std::memcmp(v, value, static_cast<size_t>(a->nAttrLength)) == 0) {
      std::memset(v, ' ', static_cast<size_t>(a->nAttrLength));
      *rc = 0;
      return;
    }
  }
}

extern "C" int cspcms(const void *first, const void *second, int count) {
  auto *a = static_cast<const unsigned char *>(first);
  auto *b = static_cast<const unsigned char *>(second);
  for (int i = 0; i < count; ++i)
    if (a[i] != b[i]) return b[i] - a[i];
  return 0;
}
