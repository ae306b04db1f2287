// Attribute groups: a named list of attributes in name order, its cursor,
// its serialized form and the group comparators.
#include <cstring>

#include "common/coding.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "records/records.h"

namespace pcs {

AttrGroup *csgrpnew(const char *name) {
  auto *group = host_alloc<AttrGroup>();
  if (group) std::strncpy(group->GroupName, name, PCS_NAME_LEN);
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

int csgrpwrt(AttrGroup *group, int offset, FILE *stream, int *rc) {
  codec::StreamSink out(stream);
  *rc = codec::put_catalog_group(group, offset, out) ? 0 : kGroupShortWrite;
  return static_cast<int>(out.written());
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
