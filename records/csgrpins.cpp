// Attribute groups: a named list of attributes in name order, its cursor,
// its serialized form and the group comparators.
#include <cstring>

#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "records/records.h"

namespace pcs {

AttrGroup *csgrpnew(const char *name) {
  auto *group = host_alloc<AttrGroup>();
  if (!group) return group;
  // The name up to its first 0 byte, at most 8 bytes, 0-filled after.
  const size_t n = strnlen(name, PCS_NAME_LEN);
  std::memcpy(group->GroupName, name, n);
  std::memset(group->GroupName + n, 0, PCS_NAME_LEN - n);
  return group;
}

void csgrpins(AttrGroup *group, Attribute *attribute, int *rc, PcsCompare compare) {
  if (!group) {
    *rc = kNoContainer;
    return;
  }
  if (group->AttrList && pplstfnd(group->AttrList, attribute, compare)) {
    *rc = kAttrDuplicate;
    return;
  }
  void *list = pplstins(group->AttrList, attribute, compare);
  if (!list) {
    *rc = kRecNoMemory;
    return;
  }
  group->AttrList = list;
  ++group->AttrCount;
  *rc = 0;
}

Attribute *csgrpfnd(const AttrGroup *group, const char *name, PcsCompare compare) {
  if (!group || !group->AttrList) return nullptr;
  void *node = pplstfnd(group->AttrList, name, compare);
  return node ? static_cast<Attribute *>(pplstgtd(node)) : nullptr;
}

void csgrpdel(AttrGroup *group, const char *name, PcsCompare compare) {
  if (!group || !group->AttrList) return;
  void *node = pplstfnd(group->AttrList, name, compare);
  if (!node) return;
  auto *attribute = static_cast<Attribute *>(pplstgtd(node));
  // A cursor on the removed node would dangle; traversal starts over instead.
  if (group->AttrCursor == node) group->AttrCursor = nullptr;
  group->AttrList = pplstdel(group->AttrList, node);
  --group->AttrCount;
  csatrfre(attribute);
}

void csgrpfre(AttrGroup *group) {
  if (!group) return;
  if (group->AttrList) pplstfre(group->AttrList);
  gifree(group);
}

void csgrptrs(AttrGroup *group, PcsVisit visit) {
  if (!group || !group->AttrList) return;
  pplsttrs(group->AttrList, visit);
}

void csgrpset(AttrGroup *group) { group->AttrCursor = nullptr; }

Attribute *csgrpnxt(AttrGroup *group) {
  group->AttrCursor = group->AttrCursor ? pplstnxt(group->AttrCursor) : group->AttrList;
  return group->AttrCursor ? static_cast<Attribute *>(pplstgtd(group->AttrCursor)) : nullptr;
}

char *csgrpgtn(AttrGroup *group, int *length) {
  *length = PCS_NAME_LEN;
  return group->GroupName;
}

int csgrpcnt(const AttrGroup *group) { return group->AttrCount; }

namespace {

// Writes one piece; false when it fell short. `written` grows by what was
// actually written.
bool put(FILE *stream, const void *data, size_t size, int *written) {
  size_t n = io::write(stream, data, size);
  *written += static_cast<int>(n);
  return n == size;
}

bool put_word(FILE *stream, int32_t value, int *written) {
  unsigned char word[4];
  put_be32(word, value);
  return put(stream, word, 4, written);
}

// Walks the group's attributes in list order without touching its cursor.
template <class Visit>
bool each_attribute(const AttrGroup *group, Visit &&visit) {
  for (void *node = group->AttrList; node; node = pplstnxt(node)) {
    if (!visit(static_cast<Attribute *>(pplstgtd(node)))) return false;
  }
  return true;
}

}  // namespace

int csgrpwrt(AttrGroup *group, int offset, FILE *stream, int *rc) {
  *rc = kGroupShortWrite;
  int written = 0;
  if (!put(stream, group->GroupName, PCS_NAME_LEN, &written) ||
      !put_word(stream, group->AttrCount, &written))
    return written;
  if (group->AttrCount == 0) {
    *rc = 0;
    return written;
  }
  int next = offset + 12 + 4 * group->AttrCount;
  bool ok = each_attribute(group, [&](Attribute *attribute) {
    if (!put_word(stream, next, &written)) return false;
    next += csatrsiz(attribute);
    return true;
  });
  if (!ok) return written;
  ok = each_attribute(group, [&](Attribute *attribute) {
    int attr_rc = 0;
    written += csatrwrt(stream, attribute, &attr_rc);
    return attr_rc == 0;
  });
  if (ok) *rc = 0;
  return written;
}

}  // namespace pcs

extern "C" {

PCS_API int csgrpcmp(const void *first, const void *second) {
  return pcs::compare_field(first, second, PCS_NAME_LEN);
}

PCS_API int csgrpcnm(const void *first, const void *second) {
  return pcs::compare_field(first, second, PCS_NAME_LEN);
}

}  // extern "C"
